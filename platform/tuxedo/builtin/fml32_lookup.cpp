// Searching for values, the string and allocating forms of the value
// functions, and type conversion of loose values. All of them are thin
// layers over the value functions of fml32_api.cpp and the conversions of
// CFchg32, so they agree with those by construction.
#include <fml32.h>
#include <regex.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fml32_pattern.h"
#include "fml32_scratch.h"

using namespace Tx::Fml32Builtin;

namespace {

bool IsOpaqueType(int type) { return type == FLD_PTR || type == FLD_FML32 || type == FLD_VIEW32; }

// A compiled expression that must match a whole string value.
class WholeMatch {
 public:
  explicit WholeMatch(const char* pattern) : compiled_(CompileWholeMatch(pattern, regex_)) {}
  ~WholeMatch() {
    if (compiled_) regfree(&regex_);
  }
  WholeMatch(const WholeMatch&) = delete;
  WholeMatch& operator=(const WholeMatch&) = delete;

  bool Compiled() const { return compiled_; }
  bool Matches(const char* text) const { return regexec(&regex_, text, 0, nullptr, 0) == 0; }

 private:
  regex_t regex_{};
  bool compiled_;
};

// The occurrence of fieldid whose value satisfies `matches`, or -1 with
// FNOTPRES (or the error of the walk).
template <typename Matches>
FLDOCC32 FirstMatching(FBFR32* fbfr, FLDID32 fieldid, Matches&& matches) {
  const FLDOCC32 count = Foccur32(fbfr, fieldid);
  if (count < 0) return -1;
  for (FLDOCC32 oc = 0; oc < count; ++oc) {
    FLDLEN32 len = 0;
    const char* stored = Ffind32(fbfr, fieldid, oc, &len);
    if (stored == nullptr) return -1;
    if (matches(stored, len)) return oc;
  }
  Ferror32 = FNOTPRES;
  return -1;
}

// Memory from malloc holding `len` bytes of `value` and `extra` more;
// *extralen (when given) receives the size allocated.
char* AllocatedCopy(const char* value, FLDLEN32 len, FLDLEN32* extralen) {
  const std::size_t size = static_cast<std::size_t>(len) + (extralen != nullptr ? *extralen : 0);
  char* copy = static_cast<char*>(std::malloc(std::max<std::size_t>(size, 1)));
  if (copy == nullptr) {
    Ferror32 = FMALLOC;
    return nullptr;
  }
  std::memcpy(copy, value, len);
  if (extralen != nullptr) *extralen = static_cast<FLDLEN32>(size);
  return copy;
}

// Bytes a converted value may need beyond its source: the text of a double
// written as "%f" (up to 309 digits and the decimals).
constexpr FLDLEN32 kConversionSlack = 512;

}  // namespace

extern "C" {

FLDOCC32 Ffindocc32(FBFR32* fbfr, FLDID32 fieldid, char* value, FLDLEN32 len) {
  if (!IsBuffer(fbfr)) return -1;
  if (value == nullptr) {
    Ferror32 = FEINVAL;
    return -1;
  }
  if (Fldtype32(fieldid) == FLD_STRING && len != 0) {
    const WholeMatch pattern(value);
    if (!pattern.Compiled()) {
      Ferror32 = FSYNTAX;
      return -1;
    }
    return FirstMatching(fbfr, fieldid, [&](const char* stored, FLDLEN32) { return pattern.Matches(stored); });
  }
  return FirstMatching(fbfr, fieldid, [&](const char* stored, FLDLEN32 storedLen) {
    return CompareFieldValues(fieldid, stored, storedLen, value, len) == 0;
  });
}

FLDOCC32 CFfindocc32(FBFR32* fbfr, FLDID32 fieldid, char* value, FLDLEN32 len, int type) {
  if (!IsBuffer(fbfr)) return -1;
  const int fieldType = Fldtype32(fieldid);
  if (IsOpaqueType(fieldType) || IsOpaqueType(type)) {
    Ferror32 = FEBADOP;
    return -1;
  }
  FLDLEN32 convertedLen = 0;
  char* converted = Ftypcvt32(&convertedLen, fieldType, value, type, len);
  if (converted == nullptr) return -1;
  // A converted text is a value, not an expression.
  return Ffindocc32(fbfr, fieldid, converted, fieldType == FLD_STRING ? 0 : convertedLen);
}

int Fgetlast32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32* oc, char* loc, FLDLEN32* maxlen) {
  FLDOCC32 last = 0;
  if (Ffindlast32(fbfr, fieldid, &last, nullptr) == nullptr) return -1;
  if (Fget32(fbfr, fieldid, last, loc, maxlen) != 1) return -1;
  if (oc != nullptr) *oc = last;
  return 1;
}

char* Fgetalloc32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, FLDLEN32* extralen) {
  FLDLEN32 len = 0;
  if (Ffind32(fbfr, fieldid, oc, &len) == nullptr) return nullptr;
  const std::size_t size = static_cast<std::size_t>(len) + (extralen != nullptr ? *extralen : 0);
  char* copy = static_cast<char*>(std::malloc(std::max<std::size_t>(size, 1)));
  if (copy == nullptr) {
    Ferror32 = FMALLOC;
    return nullptr;
  }
  // Fget32 makes the copy, so every type is copied the way it documents.
  FLDLEN32 room = static_cast<FLDLEN32>(size);
  if (Fget32(fbfr, fieldid, oc, copy, &room) != 1) {
    std::free(copy);
    return nullptr;
  }
  if (extralen != nullptr) *extralen = static_cast<FLDLEN32>(size);
  return copy;
}

char* CFgetalloc32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, int type, FLDLEN32* extralen) {
  FLDLEN32 len = 0;
  const char* converted = CFfind32(fbfr, fieldid, oc, &len, type);
  return converted != nullptr ? AllocatedCopy(converted, len, extralen) : nullptr;
}

int Fadds32(FBFR32* fbfr, FLDID32 fieldid, char* value) { return CFadd32(fbfr, fieldid, value, 0, FLD_STRING); }

int Fchgs32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, char* value) {
  return CFchg32(fbfr, fieldid, oc, value, 0, FLD_STRING);
}

int Fgets32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, char* buf) {
  return CFget32(fbfr, fieldid, oc, buf, nullptr, FLD_STRING);
}

char* Ffinds32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc) { return CFfind32(fbfr, fieldid, oc, nullptr, FLD_STRING); }

char* Fgetsa32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, FLDLEN32* extra) {
  return CFgetalloc32(fbfr, fieldid, oc, FLD_STRING, extra);
}

char* Ftypcvt32(FLDLEN32* tolen, int totype, char* fromval, int fromtype, FLDLEN32 fromlen) {
  if (tolen == nullptr || fromval == nullptr) {
    Ferror32 = FEINVAL;
    return nullptr;
  }
  if (IsOpaqueType(totype) || IsOpaqueType(fromtype)) {
    Ferror32 = FEBADOP;
    return nullptr;
  }
  const FLDID32 field = Fmkfldid32(totype, 1);
  if (field == BADFLDID) return nullptr;
  // The conversion is CFchg32's, made in a per-thread buffer that holds the
  // result until the thread's next call.
  thread_local ScratchPtr holder;
  const std::size_t sourceLen = fromtype == FLD_STRING ? std::strlen(fromval) + 1 : fromlen;
  const long needed = Fneeded32(1, static_cast<FLDLEN32>(std::min<std::size_t>(sourceLen, 0x7FFF0000U)) +
                                       kConversionSlack);
  if (needed < 0) return nullptr;
  if (!holder || Fsizeof32(holder.get()) < needed) {
    FBFR32* fresh = Falloc32(1, static_cast<FLDLEN32>(needed));
    if (fresh == nullptr) return nullptr;
    holder.reset(fresh);
  }
  if (Finit32(holder.get(), static_cast<FLDLEN32>(Fsizeof32(holder.get()))) != 1) return nullptr;
  if (CFchg32(holder.get(), field, 0, fromval, fromlen, fromtype) != 1) return nullptr;
  return Ffind32(holder.get(), field, 0, tolen);
}

int Fappend32(FBFR32* fbfr, FLDID32 fieldid, char* value, FLDLEN32 len) {
  // Buffers here are always indexed, so appending needs no special mode.
  return Fadd32(fbfr, fieldid, value, len);
}

void F_error32(char* msg) {
  const char* text = Fstrerror32(Ferror32);
  if (text == nullptr) text = "";
  if (msg != nullptr && *msg != '\0') {
    std::fprintf(stderr, "%s: %s\n", msg, text);
  } else {
    std::fprintf(stderr, "%s\n", text);
  }
}

// --- Indexes ----------------------------------------------------------------
// The engine indexes every buffer outside its block, always; these keep the
// documented results for programs that manage indexes by hand.

int Findex32(FBFR32* fbfr, FLDOCC32 /*intvl*/) { return IsBuffer(fbfr) ? 1 : -1; }

FLDOCC32 Funindex32(FBFR32* fbfr) { return IsBuffer(fbfr) ? 0 : -1; }

int Frstrindex32(FBFR32* fbfr, FLDOCC32 numidx) {
  if (!IsBuffer(fbfr)) return -1;
  if (numidx < 0) {
    Ferror32 = FEINVAL;
    return -1;
  }
  return 1;
}

long Fidxused32(FBFR32* fbfr) { return IsBuffer(fbfr) ? 0 : -1; }

}  // extern "C"
