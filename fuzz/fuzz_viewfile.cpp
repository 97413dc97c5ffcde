// View description files from arbitrary text: the parser's layout must
// hold every member inside the structure, aligned and apart, and the view
// functions must cope with whatever view the text describes.
#include <fml32.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tuxedo/builtin/fml32_viewfile.h"

namespace {

using Tx::Fml32Builtin::ViewDescription;
using Tx::Fml32Builtin::ViewMember;

// Field names the fuzzer may hit: F_<type letter><n>.
constexpr const char* kTable =
    "F_S 1 short\nF_L 2 long\nF_C 3 char\nF_F 4 float\nF_D 5 double\nF_T 6 string\nF_A 7 carray\n"
    "F_M 8 mbstring\nF_P 9 ptr\nF_B 10 fml32\n";

std::string Directory() {
  static const std::string dir = [] {
    const std::string path = "/tmp/fuzz_viewfile_" + std::to_string(::getpid());
    mkdir(path.c_str(), 0700);
    std::FILE* table = std::fopen((path + "/fld.tbl").c_str(), "w");
    if (table == nullptr) std::abort();
    std::fputs(kTable, table);
    std::fclose(table);
    setenv("FLDTBLDIR32", path.c_str(), 1);
    setenv("FIELDTBLS32", "fld.tbl", 1);
    setenv("VIEWDIR32", path.c_str(), 1);
    setenv("VIEWFILES32", "fuzz.v", 1);
    std::atexit([] {
      const std::string dir = "/tmp/fuzz_viewfile_" + std::to_string(::getpid());
      std::remove((dir + "/fld.tbl").c_str());
      std::remove((dir + "/fuzz.v").c_str());
      rmdir(dir.c_str());
    });
    return path;
  }();
  return dir;
}

void CheckLayout(const ViewDescription& view) {
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  for (const ViewMember& member : view.members) {
    const std::size_t count = static_cast<std::size_t>(member.count);
    if (member.size == 0 || member.offset + member.size * count > view.size) std::abort();
    if (member.null.size() > member.size) std::abort();
    spans.emplace_back(member.offset, member.size * count);
    if (member.countMember) spans.emplace_back(member.countOffset, sizeof(short));
    if (member.lengthMember) spans.emplace_back(member.lengthOffset, sizeof(unsigned short) * count);
  }
  for (std::size_t i = 0; i < spans.size(); ++i) {
    for (std::size_t j = i + 1; j < spans.size(); ++j) {
      const bool apart = spans[i].first + spans[i].second <= spans[j].first ||
                         spans[j].first + spans[j].second <= spans[i].first;
      if (!apart) std::abort();
    }
  }
  if (view.size % view.alignment != 0) std::abort();
}

// Runs the view functions on each view through the engine's own file reading.
void Exercise(std::string_view text, const std::vector<ViewDescription>& views) {
  const std::string path = Directory() + "/fuzz.v";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  Fvrefresh32();
  FBFR32* fbfr = Falloc32(64, 4096);
  for (const ViewDescription& view : views) {
    if (view.size > (1U << 20)) continue;
    char* name = const_cast<char*>(view.name.c_str());
    if (Fvneeded32(name) != static_cast<long>(view.size)) std::abort();
    std::vector<char> structure(view.size + 1, '\x5A');
    if (Fvsinit32(structure.data(), name) != 1) std::abort();
    for (const ViewMember& member : view.members) {
      if (Fvnull32(structure.data(), const_cast<char*>(member.cname.c_str()), 0, name) != (member.hasNull ? 1 : 0)) {
        std::abort();
      }
    }
    structure[0] ^= 1;
    Fvstof32(fbfr, structure.data(), FCONCAT, name);
    Fvftos32(fbfr, structure.data(), name);
    if (structure[view.size] != '\x5A') std::abort();  // nothing written past the structure
  }
  Ffree32(fbfr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Directory();
  const Tx::Fml32Builtin::FieldLookup lookup = [](const std::string& name, FLDID32& id) {
    id = Fldid32(const_cast<char*>(name.c_str()));
    return id != BADFLDID;
  };
  std::vector<ViewDescription> views;
  Tx::Fml32Builtin::ViewFileProblem problem;
  if (!Tx::Fml32Builtin::ParseViewFile(text, lookup, views, problem)) {
    if (problem.message.empty() || problem.line < 1 || !views.empty()) std::abort();
    return 0;
  }
  for (const ViewDescription& view : views) CheckLayout(view);
  Exercise(text, views);
  return 0;
}
