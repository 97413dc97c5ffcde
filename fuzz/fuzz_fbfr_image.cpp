// Arbitrary bytes as the image of an FML32 buffer: copied into an aligned
// block of exactly their size, checked with Fielded32, and when accepted
// walked, read with every read function and changed a little.
#include <fml32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/tuxedo/builtin/fml32_internal.h"

namespace {

FILE* Sink() {
  static FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

void Require(bool condition) {
  if (!condition) std::abort();
}

void ReadEverything(FBFR32* fbfr) {
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  std::vector<char> value(1 << 16);
  FLDLEN32 len = static_cast<FLDLEN32>(value.size());
  long walked = 0;
  while (Fnext32(fbfr, &id, &oc, value.data(), &len) == 1) {
    ++walked;
    FLDLEN32 found = 0;
    const char* at = Ffind32(fbfr, id, oc, &found);
    Require(at != nullptr && found == len && std::memcmp(at, value.data(), len) == 0);
    Require(Flen32(fbfr, id, oc) == static_cast<long>(len));
    Require(Fpres32(fbfr, id, oc) == 1);
    FLDOCC32 last = -1;
    Require(Ffindlast32(fbfr, id, &last, nullptr) != nullptr && last == Foccur32(fbfr, id) - 1);
    const int type = Fldtype32(id);
    if (type == FLD_STRING || type == FLD_CHAR) Require(std::strlen(Fvals32(fbfr, id, oc)) < len + 1);
    if (type == FLD_SHORT || type == FLD_LONG) Fvall32(fbfr, id, oc);
    if (type <= FLD_CARRAY) {
      FLDLEN32 room = static_cast<FLDLEN32>(value.size());
      CFget32(fbfr, id, oc, value.data(), &room, FLD_STRING);
      CFfind32(fbfr, id, oc, nullptr, FLD_DOUBLE);
    }
    len = static_cast<FLDLEN32>(value.size());
  }
  Require(walked == Fnum32(fbfr));
  Require(Ffprint32(fbfr, Sink()) == 1);
  Require(Fused32(fbfr) + Funused32(fbfr) == Fsizeof32(fbfr));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint64_t> words(size / 8 + 1);
  std::memcpy(words.data(), data, size);
  auto* fbfr = reinterpret_cast<FBFR32*>(words.data());
  Tx::Fml32Builtin::NoteBlockCapacity(fbfr, size);
  if (size >= Tx::Fml32Builtin::kEmptyBlockSize && Fielded32(fbfr) == 1) {
    ReadEverything(fbfr);
    // A few changes; each either works or fails cleanly, and the block stays valid.
    const FLDID32 text = Fmkfldid32(FLD_STRING, 101);
    const FLDID32 number = Fmkfldid32(FLD_LONG, 102);
    long value = 42;
    Fadd32(fbfr, text, const_cast<char*>("added"), 0);
    Fchg32(fbfr, number, 2, reinterpret_cast<char*>(&value), 0);
    FLDID32 first = FIRSTFLDID;
    FLDOCC32 oc = 0;
    if (Fnext32(fbfr, &first, &oc, nullptr, nullptr) == 1) {
      if (Fldtype32(first) == FLD_STRING) Fchg32(fbfr, first, 0, const_cast<char*>("a longer value than before"), 0);
      Fdel32(fbfr, first, 0);
    }
    Fdelall32(fbfr, number);
    Require(Fielded32(fbfr) == 1);
    ReadEverything(fbfr);
    std::vector<std::uint64_t> copy(words.size());
    auto* target = reinterpret_cast<FBFR32*>(copy.data());
    Tx::Fml32Builtin::NoteBlockCapacity(target, size);
    if (Finit32(target, static_cast<FLDLEN32>(size)) == 1) {
      Require(Fcpy32(target, fbfr) == 1);
      Require(Fnum32(target) == Fnum32(fbfr));
    }
    Tx::Fml32Builtin::ForgetBlock(target);
  }
  Tx::Fml32Builtin::ForgetBlock(fbfr);
  return 0;
}
