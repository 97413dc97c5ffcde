// Reading and writing whole files, for the header generators (mkfldhdr32,
// viewc32). Header-only: each tool is a single program.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace TxTools {

// What stops a generator: printed as "<tool>: <message>".
struct Failure {
  std::string message;
};

// The whole file as bytes; false when it cannot be opened or read.
inline bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  text = content.str();
  return !file.bad();
}

// Writes through a temporary file and a rename, so that a build never sees
// half a file. Throws Failure.
inline void WriteWhole(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      throw Failure{"cannot write " + path};
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    std::remove(temporary.c_str());
    throw Failure{"cannot write " + path + ": " + why};
  }
}

}  // namespace TxTools
