#include "platform/framework/HostPath.h"

#include <cctype>
#include <cstdlib>

namespace Tx {
namespace {

bool StartsWithDrive(const std::string& path) {
  return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}

}  // namespace

AnsiString DriveRootDirectory() {
  const char* configured = std::getenv("TXLIB_DRIVE_ROOT");
  if (configured == nullptr || *configured == '\0') configured = std::getenv("TMPDIR");
  std::string dir = (configured != nullptr && *configured != '\0') ? configured : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return AnsiString(dir);
}

AnsiString HostPath(const AnsiString& windowsPath) {
  std::string path = windowsPath.str();
  if (StartsWithDrive(path)) {
    const std::string root = DriveRootDirectory().str();
    path = (root == "/" ? std::string() : root) + "/" + path.substr(3);
  }
  for (char& c : path)
    if (c == '\\') c = '/';
  return AnsiString(std::move(path));
}

}  // namespace Tx
