// Fextread32 over arbitrary text, then a full Fnext32 walk and Fprint32 of
// whatever was read. A small field table gives the text names to use.
#include <fml32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr const char* kTable =
    "*base 100\n"
    "NAME 1 string\nCOUNT 2 short\nAMOUNT 3 long\nKIND 4 char\n"
    "RATE 5 float\nPRICE 6 double\nBYTES 7 carray\nLOCAL 8 mbstring\n"
    "INNER 9 fml32\nADDRESS 10 ptr\n";

FILE* Sink() {
  static FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char path[] = "/tmp/fuzz_fextread_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  const std::string table = kTable;
  if (write(fd, table.data(), table.size()) != static_cast<ssize_t>(table.size())) std::abort();
  close(fd);
  setenv("FLDTBLDIR32", "/tmp", 1);
  setenv("FIELDTBLS32", path + 5, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> text(data, data + size);
  FILE* in = size == 0 ? std::fopen("/dev/null", "r") : fmemopen(text.data(), text.size(), "r");
  if (in == nullptr) return 0;
  FBFR32* fbfr = Falloc32(64, 4096);
  // Several buffers may follow one another in the stream.
  for (int buffer = 0; buffer < 4 && !std::feof(in); ++buffer) {
    const long before = Fused32(fbfr);
    if (Fextread32(fbfr, in) == -1 && Fused32(fbfr) != before) std::abort();  // failures change nothing
    FLDID32 id = FIRSTFLDID;
    FLDOCC32 oc = 0;
    alignas(8) char value[8192];  // embedded buffers are copied out as buffers
    FLDLEN32 len = sizeof value;
    while (Fnext32(fbfr, &id, &oc, value, &len) == 1) {
      if (Flen32(fbfr, id, oc) != static_cast<long>(len)) std::abort();
      len = sizeof value;
    }
    if (Ffprint32(fbfr, Sink()) != 1) std::abort();
  }
  std::fclose(in);
  Ffree32(fbfr);
  return 0;
}
