// Scratch buffers for the FML32 functions that build a whole result before
// they touch the caller's buffer (the joins, projections, Fread32, the
// exports). Built only on the public calls, so they carry every field type
// the engine stores. Builtin-only.
#pragma once

#include <fml32.h>

#include <memory>

namespace Tx::Fml32Builtin {

struct FreeScratch {
  void operator()(FBFR32* fbfr) const noexcept { Ffree32(fbfr); }
};
using ScratchPtr = std::unique_ptr<FBFR32, FreeScratch>;

// A buffer from Falloc32 that grows as values are added.
class ScratchBuffer {
 public:
  // An empty buffer with room for about `bytes` bytes of values; check
  // Valid() (false with FMALLOC or FEINVAL).
  explicit ScratchBuffer(long bytes) noexcept;

  bool Valid() const noexcept { return fbfr_ != nullptr; }
  FBFR32* Get() const noexcept { return fbfr_.get(); }

  // Fadd32, enlarging the buffer when it is full. False with Ferror32 set.
  bool Add(FLDID32 id, const char* value, FLDLEN32 len) noexcept;
  // Adds occurrence oc of id in `from` (which may be any buffer).
  bool CopyFrom(FBFR32* from, FLDID32 id, FLDOCC32 oc) noexcept;
  // Makes the contents a copy of `from`'s.
  bool Assign(FBFR32* from) noexcept;
  // Replaces the contents of `dest` by this buffer's: Fcpy32, so FNOSPACE
  // leaves dest unchanged.
  bool StoreInto(FBFR32* dest) const noexcept { return Fcpy32(dest, fbfr_.get()) == 1; }

 private:
  bool Grow(long atLeast) noexcept;
  ScratchPtr fbfr_;
};

// Orders two values of the field `id` (-1, 0, 1) as Fcmp32 does: numbers by
// value, strings as strcmp, carrays byte-wise then by length, ptr by
// address, fml32 buffers by Fcmp32 (-2 with Ferror32 set when that fails).
int CompareFieldValues(FLDID32 id, const char* a, FLDLEN32 alen, const char* b, FLDLEN32 blen) noexcept;

// Fsizeof32 as a check that fbfr is a buffer (Ferror32 set when not).
inline bool IsBuffer(FBFR32* fbfr) noexcept { return Fsizeof32(fbfr) >= 0; }

// Calls visit(id, oc) for every occurrence in Fnext32 order; stops at the
// first false. Returns false when the walk failed (Ferror32 set) or a visit
// returned false.
template <typename Visit>
bool ForEachOccurrence(FBFR32* fbfr, Visit&& visit) {
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  for (;;) {
    const int step = Fnext32(fbfr, &id, &oc, nullptr, nullptr);
    if (step == 0) return true;
    if (step < 0 || !visit(id, oc)) return false;
  }
}

}  // namespace Tx::Fml32Builtin
