// Whole-buffer operations: concatenation, joins, update, projections,
// deleting lists of fields, comparison and checksum. Each builds its result
// in a scratch buffer and copies it over the destination only when it fits,
// so a failure leaves the destination as it was; the cost is one pass over
// each buffer plus one copy.
#include <fml32.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fml32_scratch.h"

using namespace Tx::Fml32Builtin;

namespace Tx::Fml32Builtin {

namespace {
constexpr long kMinimumScratch = 256;
}

ScratchBuffer::ScratchBuffer(long bytes) noexcept {
  const long wanted = std::max(bytes, kMinimumScratch);
  fbfr_.reset(Falloc32(1, static_cast<FLDLEN32>(std::min<long>(wanted, 0x7FFFFFF0L))));
}

bool ScratchBuffer::Grow(long atLeast) noexcept {
  const long size = Fsizeof32(fbfr_.get());
  const long wanted = std::max(size * 2, size + atLeast + kMinimumScratch);
  if (wanted > 0x7FFFFFF0L) {
    Ferror32 = FNOSPACE;
    return false;
  }
  FBFR32* grown = Frealloc32(fbfr_.get(), 1, static_cast<FLDLEN32>(wanted));
  if (grown == nullptr) return false;
  fbfr_.release();
  fbfr_.reset(grown);
  return true;
}

bool ScratchBuffer::Add(FLDID32 id, const char* value, FLDLEN32 len) noexcept {
  for (;;) {
    if (Fadd32(fbfr_.get(), id, const_cast<char*>(value), len) == 1) return true;
    if (Ferror32 != FNOSPACE) return false;
    if (!Grow(static_cast<long>(len) + 64)) return false;
  }
}

bool ScratchBuffer::CopyFrom(FBFR32* from, FLDID32 id, FLDOCC32 oc) noexcept {
  FLDLEN32 len = 0;
  const char* value = Ffind32(from, id, oc, &len);
  return value != nullptr && Add(id, value, len);
}

bool ScratchBuffer::Assign(FBFR32* from) noexcept {
  const long used = Fused32(from);
  if (used < 0) return false;
  if (Fsizeof32(fbfr_.get()) < used && !Grow(used)) return false;
  return Fcpy32(fbfr_.get(), from) == 1;
}

}  // namespace Tx::Fml32Builtin

namespace {

// The identifiers of a BADFLDID-terminated list, sorted in place as the
// list functions document.
struct FieldList {
  FLDID32* first;
  FLDID32* last;
  bool Contains(FLDID32 id) const { return std::binary_search(first, last, id); }
};
FieldList SortList(FLDID32* fieldid) {
  FLDID32* end = fieldid;
  while (*end != BADFLDID) ++end;
  std::sort(fieldid, end);
  return {fieldid, end};
}

// The result of keeping the occurrences of src for which keep(id) holds.
bool Filtered(FBFR32* src, ScratchBuffer& out, const FieldList& list, bool keepListed) {
  return ForEachOccurrence(src, [&](FLDID32 id, FLDOCC32 oc) {
    return list.Contains(id) != keepListed || out.CopyFrom(src, id, oc);
  });
}

// Copies of dest where (id, oc) is matched by src: src's value when
// present, else dest's own (keepUnmatched) or nothing.
bool Joined(FBFR32* dest, FBFR32* src, ScratchBuffer& out, bool keepUnmatched) {
  return ForEachOccurrence(dest, [&](FLDID32 id, FLDOCC32 oc) {
    if (Fpres32(src, id, oc) == 1) return out.CopyFrom(src, id, oc);
    return !keepUnmatched || out.CopyFrom(dest, id, oc);
  });
}

template <typename T>
int Order(const T& a, const T& b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}
template <typename T>
int OrderAs(const char* a, const char* b) {
  T x;
  T y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return Order(x, y);
}

int OrderBytes(const char* a, FLDLEN32 alen, const char* b, FLDLEN32 blen) {
  const int byBytes = std::memcmp(a, b, std::min(alen, blen));
  if (byBytes != 0) return byBytes < 0 ? -1 : 1;
  return Order(alen, blen);
}

}  // namespace

int Tx::Fml32Builtin::CompareFieldValues(FLDID32 id, const char* a, FLDLEN32 alen, const char* b,
                                         FLDLEN32 blen) noexcept {
  switch (Fldtype32(id)) {
    case FLD_SHORT: return OrderAs<short>(a, b);
    case FLD_LONG: return OrderAs<long>(a, b);
    case FLD_CHAR: return OrderAs<unsigned char>(a, b);
    case FLD_FLOAT: return OrderAs<float>(a, b);
    case FLD_DOUBLE: return OrderAs<double>(a, b);
    case FLD_STRING: {
      const int byText = std::strcmp(a, b);
      return byText < 0 ? -1 : (byText > 0 ? 1 : 0);
    }
    case FLD_PTR: return OrderAs<std::uintptr_t>(a, b);
    case FLD_FML32:
      return Fcmp32(reinterpret_cast<FBFR32*>(const_cast<char*>(a)),
                    reinterpret_cast<FBFR32*>(const_cast<char*>(b)));
    default: return OrderBytes(a, alen, b, blen);
  }
}

namespace {

// FNV-1a, 32 bits.
struct Checksum {
  std::uint32_t hash = 2166136261U;
  void Add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619U;
  }
  void Add32(std::uint32_t value) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                    static_cast<unsigned char>(value >> 16),
                                    static_cast<unsigned char>(value >> 24)};
    Add(bytes, sizeof bytes);
  }
};

}  // namespace

extern "C" {

int Fconcat32(FBFR32* dest, FBFR32* src) {
  if (!IsBuffer(dest) || !IsBuffer(src)) return -1;
  ScratchBuffer out(Fused32(dest) + Fused32(src));
  if (!out.Valid() || !out.Assign(dest)) return -1;
  const bool built = ForEachOccurrence(src, [&](FLDID32 id, FLDOCC32 oc) { return out.CopyFrom(src, id, oc); });
  return built && out.StoreInto(dest) ? 1 : -1;
}

int Fjoin32(FBFR32* dest, FBFR32* src) {
  if (!IsBuffer(dest) || !IsBuffer(src)) return -1;
  ScratchBuffer out(Fused32(dest) + Fused32(src));
  if (!out.Valid() || !Joined(dest, src, out, false)) return -1;
  return out.StoreInto(dest) ? 1 : -1;
}

int Fojoin32(FBFR32* dest, FBFR32* src) {
  if (!IsBuffer(dest) || !IsBuffer(src)) return -1;
  ScratchBuffer out(Fused32(dest) + Fused32(src));
  if (!out.Valid() || !Joined(dest, src, out, true)) return -1;
  return out.StoreInto(dest) ? 1 : -1;
}

int Fupdate32(FBFR32* dest, FBFR32* src) {
  if (!IsBuffer(dest) || !IsBuffer(src)) return -1;
  ScratchBuffer out(Fused32(dest) + Fused32(src));
  if (!out.Valid() || !Joined(dest, src, out, true)) return -1;
  // Occurrences of src beyond dest's come after dest's of the same field.
  const bool added = ForEachOccurrence(src, [&](FLDID32 id, FLDOCC32 oc) {
    return Fpres32(dest, id, oc) == 1 || out.CopyFrom(src, id, oc);
  });
  return added && out.StoreInto(dest) ? 1 : -1;
}

int Fproj32(FBFR32* fbfr, FLDID32* fieldid) {
  if (!IsBuffer(fbfr)) return -1;
  if (fieldid == nullptr) {
    Ferror32 = FEINVAL;
    return -1;
  }
  ScratchBuffer out(Fused32(fbfr));
  if (!out.Valid() || !Filtered(fbfr, out, SortList(fieldid), true)) return -1;
  return out.StoreInto(fbfr) ? 1 : -1;
}

int Fprojcpy32(FBFR32* dest, FBFR32* src, FLDID32* fieldid) {
  if (!IsBuffer(dest) || !IsBuffer(src)) return -1;
  if (fieldid == nullptr) {
    Ferror32 = FEINVAL;
    return -1;
  }
  ScratchBuffer out(Fused32(src));
  if (!out.Valid() || !Filtered(src, out, SortList(fieldid), true)) return -1;
  return out.StoreInto(dest) ? 1 : -1;
}

int Fdelete32(FBFR32* fbfr, FLDID32* fieldid) {
  if (!IsBuffer(fbfr)) return -1;
  if (fieldid == nullptr) {
    Ferror32 = FEINVAL;
    return -1;
  }
  const FieldList list = SortList(fieldid);
  if (std::any_of(list.first, list.last, [](FLDID32 id) { return Fldno32(id) == 0; })) {
    Ferror32 = FBADFLD;
    return -1;
  }
  ScratchBuffer out(Fused32(fbfr));
  if (!out.Valid() || !Filtered(fbfr, out, list, false)) return -1;
  return out.StoreInto(fbfr) ? 1 : -1;
}

int Fcmp32(FBFR32* fbfr1, FBFR32* fbfr2) {
  if (!IsBuffer(fbfr1) || !IsBuffer(fbfr2)) return -2;
  FLDID32 id1 = FIRSTFLDID;
  FLDID32 id2 = FIRSTFLDID;
  FLDOCC32 oc1 = 0;
  FLDOCC32 oc2 = 0;
  for (;;) {
    const int step1 = Fnext32(fbfr1, &id1, &oc1, nullptr, nullptr);
    const int step2 = Fnext32(fbfr2, &id2, &oc2, nullptr, nullptr);
    if (step1 < 0 || step2 < 0) return -2;
    if (step1 == 0 || step2 == 0) return Order(step1, step2);
    if (id1 != id2) return id1 < id2 ? -1 : 1;
    FLDLEN32 len1 = 0;
    FLDLEN32 len2 = 0;
    const char* value1 = Ffind32(fbfr1, id1, oc1, &len1);
    const char* value2 = Ffind32(fbfr2, id2, oc2, &len2);
    if (value1 == nullptr || value2 == nullptr) return -2;
    const int order = CompareFieldValues(id1, value1, len1, value2, len2);
    if (order != 0) return order;
  }
}

long Fchksum32(FBFR32* fbfr) {
  if (!IsBuffer(fbfr)) return -1;
  Checksum sum;
  const bool walked = ForEachOccurrence(fbfr, [&](FLDID32 id, FLDOCC32 oc) {
    FLDLEN32 len = 0;
    const char* value = Ffind32(fbfr, id, oc, &len);
    if (value == nullptr) return false;
    sum.Add32(id);
    const int type = Fldtype32(id);
    if (type == FLD_PTR) {
      // The address means nothing to a receiver; the field's name does.
      const int saved = Ferror32;
      const char* name = Fname32(id);
      Ferror32 = saved;
      if (name != nullptr) sum.Add(name, std::strlen(name));
    } else if (type == FLD_FML32) {
      const long nested = Fchksum32(reinterpret_cast<FBFR32*>(const_cast<char*>(value)));
      if (nested < 0) return false;
      sum.Add32(static_cast<std::uint32_t>(nested));
    } else {
      sum.Add32(len);
      sum.Add(value, len);
    }
    return true;
  });
  return walked ? static_cast<long>(sum.hash & 0x7FFFFFFFU) : -1;
}

}  // extern "C"
