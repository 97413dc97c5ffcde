// Records from a mainframe are outside input: any bytes must come into the
// structure without a crash or be refused with FEINVAL (floating values
// beyond float or double), and what came in must go out again. Only the
// integers and the carray must come back as the same bytes: hexadecimal
// floating point has several forms of one value and texts lose their
// trailing blanks.
#include <fml32.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kView =
    "VIEW rec\n"
    "float  f    - 2 -   - -\n"
    "double d    - 1 -   - -\n"
    "long   l    - 1 -   - -\n"
    "short  s    - 2 C   - -\n"
    "int    i    - 1 -   - -\n"
    "char   c    - 1 -   - -\n"
    "carray raw  - 1 L   3 -\n"
    "string name - 2 -   6 -\n"
    "END\n";
constexpr std::size_t kRecordLength = 8 + 8 + 4 + 4 + 4 + 1 + 3 + 12;
constexpr std::size_t kIntegersAt = 16;  // l, s and i
constexpr std::size_t kIntegersLength = 12;
constexpr std::size_t kCarrayAt = 29;

std::string UseView() {
  const std::string dir = "/tmp/fuzz_target_record_" + std::to_string(::getpid());
  mkdir(dir.c_str(), 0700);
  std::FILE* file = std::fopen((dir + "/rec.v").c_str(), "w");
  if (file == nullptr) std::abort();
  std::fputs(kView, file);
  std::fclose(file);
  setenv("VIEWDIR32", dir.c_str(), 1);
  setenv("VIEWFILES32", "rec.v", 1);
  std::atexit([] {
    const std::string path = "/tmp/fuzz_target_record_" + std::to_string(::getpid());
    std::remove((path + "/rec.v").c_str());
    rmdir(path.c_str());
  });
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string dir = UseView();
  char view[] = "rec";
  const long needed = Fvneeded32(view);
  if (needed <= 0) std::abort();
  std::vector<char> record(kRecordLength, 0);
  std::memcpy(record.data(), data, size < kRecordLength ? size : kRecordLength);
  std::vector<char> cstruct(static_cast<std::size_t>(needed), 0);
  if (Fvttos32(cstruct.data(), record.data(), view) != static_cast<int>(kRecordLength)) {
    if (Ferror32 != FEINVAL) std::abort();
    return 0;
  }
  std::vector<char> again(kRecordLength, 0);
  const int written = Fvstot32(cstruct.data(), again.data(), static_cast<long>(again.size()), view);
  if (written != static_cast<int>(kRecordLength)) std::abort();
  if (std::memcmp(record.data() + kIntegersAt, again.data() + kIntegersAt, kIntegersLength) != 0)
    std::abort();
  if (std::memcmp(record.data() + kCarrayAt, again.data() + kCarrayAt, 3) != 0) std::abort();
  return 0;
}
