// Arbitrary bytes as the image of an FML32 buffer: copied into an aligned
// block of exactly their size, checked with Fielded32, and when accepted
// walked, read with every read function (embedded buffers too, a few
// levels down), printed and read back, and changed a little, also by
// embedding the buffer in itself.
#include <fml32.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

constexpr int kNestedLevelsRead = 4;

bool HasPointers(FBFR32* fbfr) {
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  while (Fnext32(fbfr, &id, &oc, nullptr, nullptr) == 1) {
    if (Fldtype32(id) == FLD_PTR) return true;
    if (Fldtype32(id) == FLD_FML32 && HasPointers(reinterpret_cast<FBFR32*>(Ffind32(fbfr, id, oc, nullptr)))) {
      return true;
    }
  }
  return false;
}

std::string Printed(FBFR32* fbfr) {
  char* text = nullptr;
  std::size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  Require(out != nullptr && Ffprint32(fbfr, out) == 1);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

// The text of a buffer reads back into an equal buffer (pointers are not
// read back, so buffers holding some are left out).
void PrintAndReadBack(FBFR32* fbfr) {
  if (HasPointers(fbfr)) return;
  const std::string text = Printed(fbfr);
  std::vector<std::uint64_t> words(static_cast<std::size_t>(Fsizeof32(fbfr)) / 8 + 1);
  auto* copy = reinterpret_cast<FBFR32*>(words.data());
  Require(Finit32(copy, static_cast<FLDLEN32>(Fsizeof32(fbfr))) == 1);
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  Require(in != nullptr && Fextread32(copy, in) == 1);
  std::fclose(in);
  Require(Printed(copy) == text);
  Tx::Fml32Builtin::ForgetBlock(copy);
}

void ReadEverything(FBFR32* fbfr, int level = 0) {
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  // Aligned: embedded buffers are copied out as buffers. One per level,
  // kept from run to run.
  static std::vector<std::uint64_t> values[kNestedLevelsRead + 1];
  std::vector<std::uint64_t>& value = values[level];
  value.resize(1 << 13);
  FLDLEN32 len = static_cast<FLDLEN32>(value.size() * sizeof(std::uint64_t));
  long walked = 0;
  while (Fnext32(fbfr, &id, &oc, reinterpret_cast<char*>(value.data()), &len) == 1) {
    ++walked;
    FLDLEN32 found = 0;
    const char* at = Ffind32(fbfr, id, oc, &found);
    const int type = Fldtype32(id);
    // An embedded buffer is copied out as a buffer of the room's size.
    const std::size_t header = type == FLD_FML32 ? Tx::Fml32Builtin::kEmptyBlockSize : 0;
    Require(at != nullptr && found == len &&
            std::memcmp(at + header, reinterpret_cast<char*>(value.data()) + header, len - header) == 0);
    if (type == FLD_FML32) {
      auto* inner = reinterpret_cast<FBFR32*>(const_cast<char*>(at));
      auto* copied = reinterpret_cast<FBFR32*>(value.data());
      Require(Fielded32(inner) == 1 && Fnum32(copied) == Fnum32(inner));
      Require(Fsizeof32(copied) == static_cast<long>(value.size() * sizeof(std::uint64_t)));
      Tx::Fml32Builtin::ForgetBlock(copied);
      if (level < kNestedLevelsRead) ReadEverything(inner, level + 1);
      Tx::Fml32Builtin::ForgetBlock(inner);
    }
    Require(Flen32(fbfr, id, oc) == static_cast<long>(len));
    Require(Fpres32(fbfr, id, oc) == 1);
    FLDOCC32 last = -1;
    Require(Ffindlast32(fbfr, id, &last, nullptr) != nullptr && last == Foccur32(fbfr, id) - 1);
    if (type == FLD_STRING || type == FLD_CHAR) Require(std::strlen(Fvals32(fbfr, id, oc)) < len + 1);
    if (type == FLD_SHORT || type == FLD_LONG) Fvall32(fbfr, id, oc);
    if (type <= FLD_CARRAY) {
      FLDLEN32 room = static_cast<FLDLEN32>(value.size() * sizeof(std::uint64_t));
      CFget32(fbfr, id, oc, reinterpret_cast<char*>(value.data()), &room, FLD_STRING);
      CFfind32(fbfr, id, oc, nullptr, FLD_DOUBLE);
    }
    len = static_cast<FLDLEN32>(value.size() * sizeof(std::uint64_t));
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
    PrintAndReadBack(fbfr);
    // The buffer embedded in itself: either it fits or nothing changes.
    const FLDID32 nested = Fmkfldid32(FLD_FML32, 103);
    const long before = Fused32(fbfr);
    if (Fadd32(fbfr, nested, reinterpret_cast<char*>(fbfr), 0) == 1) {
      FBFR32* inner = reinterpret_cast<FBFR32*>(Ffind32(fbfr, nested, Foccur32(fbfr, nested) - 1, nullptr));
      Require(inner != nullptr && Fused32(inner) == before);
      Tx::Fml32Builtin::ForgetBlock(inner);
    } else {
      Require(Fused32(fbfr) == before);
    }
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
