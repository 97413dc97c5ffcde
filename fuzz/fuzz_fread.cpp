// Fread32 over arbitrary bytes. A failed read must leave the target as it
// was; a buffer read must write out and read back equal, and survive the
// whole-buffer operations against a fixed buffer.
#include <fml32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

FBFR32* Fixed() {
  static FBFR32* fixed = [] {
    FBFR32* fbfr = Falloc32(8, 200);
    long number = 7;
    Fadd32(fbfr, Fmkfldid32(FLD_LONG, 101), reinterpret_cast<char*>(&number), 0);
    Fadd32(fbfr, Fmkfldid32(FLD_STRING, 102), const_cast<char*>("fixed"), 0);
    return fbfr;
  }();
  return fixed;
}

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<char> bytes(data, data + size);
  FILE* in = size == 0 ? std::fopen("/dev/null", "r") : fmemopen(bytes.data(), bytes.size(), "r");
  if (in == nullptr) return 0;
  FBFR32* target = Falloc32(64, 8192);
  Fadd32(target, Fmkfldid32(FLD_STRING, 103), const_cast<char*>("before"), 0);
  const long before = Fchksum32(target);
  if (Fread32(target, in) == -1) {
    Check(Fchksum32(target) == before && Fnum32(target) == 1);
  } else {
    FILE* out = std::tmpfile();
    Check(Fwrite32(target, out) == 1);
    std::rewind(out);
    FBFR32* again = Falloc32(64, 8192);
    Check(Fread32(again, out) == 1);
    Check(Fcmp32(target, again) == 0 && Fchksum32(target) == Fchksum32(again));
    std::fclose(out);
    Ffree32(again);
    // Whole-buffer operations on what was read.
    Check(Fcmp32(target, Fixed()) != -2);
    const FLDOCC32 count = Fnum32(target);
    if (Fupdate32(target, Fixed()) == 1) Check(Fnum32(target) >= count);
    FLDID32 keep[] = {Fmkfldid32(FLD_STRING, 102), Fmkfldid32(FLD_LONG, 101), BADFLDID};
    Check(Fproj32(target, keep) == 1);
  }
  std::fclose(in);
  Ffree32(target);
  return 0;
}
