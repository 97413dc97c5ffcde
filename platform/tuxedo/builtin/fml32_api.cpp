// Buffers and values: the FML32 functions that allocate, size, copy and
// walk buffers and add, change, read and delete field occurrences.
#include <fml32.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "fml32_block.h"
#include "fml32_convert.h"
#include "fml32_internal.h"

using namespace Tx::Fml32Builtin;

namespace {

constexpr std::uint64_t kMaxBlockSize = std::numeric_limits<FLDLEN32>::max() & ~std::uint64_t{7};

// Per field: 8 bytes of record header, up to 7 of padding, and one more
// for the terminating zero a caller may have left out of a string's length.
constexpr std::uint64_t kBytesPerField = 16;

// The bytes a caller's value of `id`'s type is stored as. An embedded
// buffer (the value is an FBFR32*) is stored compacted: straight from the
// caller's block when it has no holes, otherwise from a compacted copy.
class CallerValue {
 public:
  // False with Ferror32 set: FNOSPACE for a value no buffer can hold,
  // FNOTFLD / FALIGNERR for an embedded buffer that is not one, FMALLOC.
  bool Prepare(FLDID32 id, const char* value, FLDLEN32 len) noexcept {
    if (TypeOf(id) == FLD_FML32) return PrepareEmbedded(reinterpret_cast<FBFR32*>(const_cast<char*>(value)));
    const int type = TypeOf(id);
    const std::uint32_t fixed = FixedLength(type);
    if (fixed != 0) {
      bytes_ = value;
      length_ = fixed;
      return true;
    }
    const std::size_t bytes = UserValueLength(type, value, len);
    if (bytes > kMaxBlockSize) {
      SetError(FNOSPACE);
      return false;
    }
    bytes_ = value;
    length_ = static_cast<std::uint32_t>(bytes);
    return true;
  }
  const void* Bytes() const noexcept { return bytes_; }
  std::uint32_t Length() const noexcept { return length_; }

 private:
  bool PrepareEmbedded(FBFR32* embedded) noexcept {
    Block inner;
    if (!inner.Open(embedded)) return false;
    length_ = inner.UsedBytes();
    if (inner.Header().holeBytes == 0) {
      bytes_ = inner.Base();
      return true;
    }
    compacted_.reset(new (std::nothrow) std::uint64_t[length_ / 8]());
    if (compacted_ == nullptr) {
      SetError(FMALLOC);
      return false;
    }
    CopyCompacted(inner, reinterpret_cast<unsigned char*>(compacted_.get()), length_);
    DropCachedIndex(compacted_.get());
    bytes_ = compacted_.get();
    return true;
  }

  const void* bytes_ = nullptr;
  std::uint32_t length_ = 0;
  std::unique_ptr<std::uint64_t[]> compacted_;
};

// Makes the copy of an embedded buffer at `out` a buffer of its own, of
// `room` bytes (at least its length). Returns 1, or -1 with FNOTFLD when
// the copied image is damaged.
int AdoptEmbeddedCopy(char* out, std::uint32_t room) noexcept {
  auto* header = reinterpret_cast<BlockHeader*>(out);
  DropCachedIndex(out);
  header->size = room;
  header->stamp = NewStamp();
  Block copy;
  return copy.Open(reinterpret_cast<FBFR32*>(out)) ? 1 : -1;
}

// Opens the block and checks the field id, the common start of the value
// functions.
inline bool OpenForField(Block& block, FBFR32* fbfr, FLDID32 fieldid) noexcept {
  return block.Open(fbfr) && CheckFieldId(fieldid);
}

// Fadd32 and Fchg32 of the types whose values need preparing, kept out of
// the functions themselves, which then stay small for numbers. The block
// comes by value so that the callers' copy need not live in memory.
[[gnu::noinline]] int AddPrepared(Block block, FLDID32 id, const char* value, FLDLEN32 len) noexcept {
  CallerValue stored;
  if (!stored.Prepare(id, value, len)) return -1;
  return block.Append(id, stored.Bytes(), stored.Length()) ? 1 : -1;
}
[[gnu::noinline]] int ChangePrepared(Block block, FLDID32 id, FLDOCC32 oc, const char* value, FLDLEN32 len) noexcept {
  CallerValue stored;
  if (!stored.Prepare(id, value, len)) return -1;
  return block.Change(id, oc, stored.Bytes(), stored.Length()) ? 1 : -1;
}

char* EmptyText() noexcept {
  thread_local char empty[1] = {'\0'};
  empty[0] = '\0';
  return empty;
}

// An embedded buffer is copied out as a buffer: aligned, and as large as
// the room offered. Returns 1, or -1 with Ferror32 set.
int CopyEmbedded(char* out, const unsigned char* value, std::uint32_t length, std::uint32_t room) noexcept {
  if (!CheckBlockAddress(out, FEINVAL)) return -1;
  std::memcpy(out, value, length);
  return AdoptEmbeddedCopy(out, room);
}

// Copies the value of (id, oc) into out, when given, after checking that it
// fits the *room bytes offered, when given; *room then receives its length.
// Returns 1, or -1 with Ferror32 set (FNOTPRES, FNOSPACE).
TX_FML32_HOT int CopyOccurrence(Block& block, FLDID32 id, FLDOCC32 oc, char* out, FLDLEN32* room) noexcept {
  const std::uint32_t record = block.Find(id, oc);
  if (record == 0) {
    block.SetMissingError();
    return -1;
  }
  const std::uint32_t length = block.LengthAt(record);
  if (out != nullptr) {
    if (room != nullptr && *room < length) {
      SetError(FNOSPACE);
      return -1;
    }
    if (TypeOf(id) != FLD_FML32) {
      CopyBytes(out, block.ValueAt(record), length);
    } else if (CopyEmbedded(out, block.ValueAt(record), length, room != nullptr ? *room : length) == -1) {
      return -1;
    }
  }
  if (room != nullptr) *room = length;
  return 1;
}

}  // namespace

extern "C" {

// --- Buffers ----------------------------------------------------------------

long Fneeded32(FLDOCC32 F, FLDLEN32 V) {
  if (F < 0) {
    SetError(FEINVAL);
    return -1;
  }
  const std::uint64_t needed = kEmptyBlockSize + static_cast<std::uint64_t>(F) * kBytesPerField + V;
  if (needed > kMaxBlockSize) {
    SetError(FEINVAL);
    return -1;
  }
  return static_cast<long>(needed);
}

int Finit32(FBFR32* fbfr, FLDLEN32 buflen) {
  if (!CheckBlockAddress(fbfr)) return -1;
  if (buflen < kEmptyBlockSize) {
    SetError(FNOSPACE);
    return -1;
  }
  const std::size_t capacity = RegisteredCapacity(fbfr);
  if (capacity != 0 && buflen > capacity) {
    SetError(FEINVAL);
    return -1;
  }
  InitBlock(reinterpret_cast<unsigned char*>(fbfr), buflen);
  return 1;
}

FBFR32* Falloc32(FLDOCC32 F, FLDLEN32 V) {
  if (V == 0) return SetError(FEINVAL), nullptr;
  const long size = Fneeded32(F, V);
  if (size < 0) return nullptr;
  void* memory = std::malloc(static_cast<std::size_t>(size));
  if (memory == nullptr) {
    SetError(FMALLOC);
    return nullptr;
  }
  InitBlock(static_cast<unsigned char*>(memory), static_cast<std::uint32_t>(size));
  NoteBlockCapacity(memory, static_cast<std::size_t>(size));
  return static_cast<FBFR32*>(memory);
}

int Ffree32(FBFR32* fbfr) {
  if (!CheckHeaderOnly(fbfr)) return -1;
  ForgetBlock(fbfr);
  std::free(fbfr);
  return 1;
}

FBFR32* Frealloc32(FBFR32* fbfr, FLDOCC32 F, FLDLEN32 V) {
  Block block;
  if (!block.Open(fbfr)) return nullptr;
  if (V == 0) return SetError(FEINVAL), nullptr;
  const long size = Fneeded32(F, V);
  if (size < 0) return nullptr;
  const auto newSize = static_cast<std::uint32_t>(size);
  if (newSize < block.UsedBytes()) {
    SetError(FMALLOC);
    return nullptr;
  }
  if (newSize < block.Header().end) block.Compact();
  const std::size_t oldCapacity = RegisteredCapacity(fbfr);
  ForgetBlock(fbfr);
  void* memory = std::realloc(fbfr, newSize);
  if (memory == nullptr) {
    if (oldCapacity != 0) NoteBlockCapacity(fbfr, oldCapacity);
    SetError(FMALLOC);
    return nullptr;
  }
  NoteBlockCapacity(memory, newSize);
  auto& header = *static_cast<BlockHeader*>(memory);
  header.size = newSize;
  header.stamp = NewStamp();
  return static_cast<FBFR32*>(memory);
}

int Fielded32(FBFR32* fbfr) {
  // A yes/no question: the answer is not an error.
  const int saved = Ferror32;
  Block block;
  const bool fielded = block.Open(fbfr);
  Ferror32 = saved;
  return fielded ? 1 : 0;
}

long Fsizeof32(FBFR32* fbfr) {
  Block block;
  return block.Open(fbfr) ? static_cast<long>(block.Header().size) : -1;
}

long Fused32(FBFR32* fbfr) {
  Block block;
  return block.Open(fbfr) ? static_cast<long>(block.UsedBytes()) : -1;
}

long Funused32(FBFR32* fbfr) {
  Block block;
  return block.Open(fbfr) ? static_cast<long>(block.UnusedBytes()) : -1;
}

FLDOCC32 Fnum32(FBFR32* fbfr) {
  Block block;
  return block.Open(fbfr) ? static_cast<FLDOCC32>(block.Header().count) : -1;
}

int Fcpy32(FBFR32* dest, FBFR32* src) {
  Block source;
  if (!source.Open(src) || !CheckHeaderOnly(dest)) return -1;
  if (dest == src) return 1;
  const std::uint32_t destSize = reinterpret_cast<const BlockHeader*>(dest)->size;
  if (destSize < source.UsedBytes()) {
    SetError(FNOSPACE);
    return -1;
  }
  CopyCompacted(source, reinterpret_cast<unsigned char*>(dest), destSize);
  return 1;
}

int Fmove32(char* dest, FBFR32* src) {
  Block source;
  if (!source.Open(src)) return -1;
  if (!CheckBlockAddress(dest, FEINVAL)) return -1;
  const std::uint32_t size = source.Header().size;
  const std::size_t capacity = RegisteredCapacity(dest);
  if (capacity != 0 && capacity < size) {
    SetError(FNOSPACE);
    return -1;
  }
  if (dest == reinterpret_cast<char*>(src)) return 1;
  DropCachedIndex(dest);
  std::memmove(dest, src, size);
  reinterpret_cast<BlockHeader*>(dest)->stamp = NewStamp();
  return 1;
}

// --- Values -----------------------------------------------------------------

int Fadd32(FBFR32* fbfr, FLDID32 fieldid, char* value, FLDLEN32 len) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return -1;
  if (value == nullptr) {
    SetError(FEINVAL);
    return -1;
  }
  // Numbers need no preparing: their length is their type's.
  if (const std::uint32_t fixed = FixedLength(TypeOf(fieldid)); fixed != 0) {
    return block.Append(fieldid, value, fixed) ? 1 : -1;
  }
  return AddPrepared(block, fieldid, value, len);
}

int Fchg32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, char* value, FLDLEN32 len) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return -1;
  if (value == nullptr) return block.Delete(fieldid, oc) ? 1 : -1;
  if (const std::uint32_t fixed = FixedLength(TypeOf(fieldid)); fixed != 0) {
    return block.Change(fieldid, oc, value, fixed) ? 1 : -1;
  }
  return ChangePrepared(block, fieldid, oc, value, len);
}

int Fget32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, char* loc, FLDLEN32* maxlen) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return -1;
  return CopyOccurrence(block, fieldid, oc, loc, maxlen);
}

char* Ffind32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, FLDLEN32* len) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return nullptr;
  const std::uint32_t record = block.Find(fieldid, oc);
  if (record == 0) {
    block.SetMissingError();
    return nullptr;
  }
  if (len != nullptr) *len = block.LengthAt(record);
  return reinterpret_cast<char*>(block.ValueAt(record));
}

char* Ffindlast32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32* oc, FLDLEN32* len) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return nullptr;
  const FLDOCC32 last = block.Occurrences(fieldid) - 1;
  const std::uint32_t record = block.Find(fieldid, last);
  if (record == 0) {
    block.SetMissingError();
    return nullptr;
  }
  if (oc != nullptr) *oc = last;
  if (len != nullptr) *len = block.LengthAt(record);
  return reinterpret_cast<char*>(block.ValueAt(record));
}

long Flen32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return -1;
  const std::uint32_t record = block.Find(fieldid, oc);
  if (record == 0) {
    block.SetMissingError();
    return -1;
  }
  return static_cast<long>(block.LengthAt(record));
}

FLDOCC32 Foccur32(FBFR32* fbfr, FLDID32 fieldid) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return -1;
  return block.Occurrences(fieldid);
}

int Fpres32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return 0;
  if (block.Find(fieldid, oc) != 0) return 1;
  if (block.Damaged()) block.SetMissingError();
  return 0;
}

long Fvall32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return 0;
  const int type = TypeOf(fieldid);
  if (type != FLD_SHORT && type != FLD_LONG) {
    SetError(FTYPERR);
    return 0;
  }
  const std::uint32_t record = block.Find(fieldid, oc);
  if (record == 0) {
    if (block.Damaged()) block.SetMissingError();
    return 0;
  }
  if (type == FLD_SHORT) {
    short value;
    std::memcpy(&value, block.ValueAt(record), sizeof value);
    return value;
  }
  long value;
  std::memcpy(&value, block.ValueAt(record), sizeof value);
  return value;
}

char* Fvals32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc) {
  // A char field's value is given as a one-character text, kept here until
  // the thread's next call.
  thread_local char character[2];
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return EmptyText();
  const int type = TypeOf(fieldid);
  if (type != FLD_STRING && type != FLD_CHAR) {
    SetError(FTYPERR);
    return EmptyText();
  }
  const std::uint32_t record = block.Find(fieldid, oc);
  if (record == 0) {
    if (block.Damaged()) block.SetMissingError();
    return EmptyText();
  }
  if (type == FLD_STRING) return reinterpret_cast<char*>(block.ValueAt(record));
  character[0] = static_cast<char>(*block.ValueAt(record));
  character[1] = '\0';
  return character;
}

int Fnext32(FBFR32* fbfr, FLDID32* fieldid, FLDOCC32* oc, char* value, FLDLEN32* len) {
  Block block;
  if (!block.Open(fbfr)) return -1;
  if (fieldid == nullptr || oc == nullptr) {
    SetError(FEINVAL);
    return -1;
  }
  FLDID32 nextId = *fieldid;
  FLDOCC32 nextOc = *oc;
  if (!block.Next(nextId, nextOc)) return 0;
  if (value != nullptr && CopyOccurrence(block, nextId, nextOc, value, len) == -1) return -1;
  *fieldid = nextId;
  *oc = nextOc;
  return 1;
}

int Fdel32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return -1;
  return block.Delete(fieldid, oc) ? 1 : -1;
}

int Fdelall32(FBFR32* fbfr, FLDID32 fieldid) {
  Block block;
  if (!OpenForField(block, fbfr, fieldid)) return -1;
  return block.RemoveAll(fieldid) ? 1 : -1;
}

}  // extern "C"

// --- Builtin-only hooks for the ATMI -----------------------------------------

namespace Tx::Fml32Builtin {

long CompactForResize(FBFR32* fbfr) noexcept {
  Block block;
  if (!block.Open(fbfr)) return -1;
  if (block.Header().holeBytes != 0) block.Compact();
  return static_cast<long>(block.UsedBytes());
}

int AdoptResizedBlock(FBFR32* fbfr, FLDLEN32 newSize) noexcept {
  // The header's size is the old one here, so only the rest is checked.
  if (!CheckBlockAddress(fbfr)) return -1;
  auto& header = *reinterpret_cast<BlockHeader*>(fbfr);
  if (header.magic != kMagic || header.end < kEmptyBlockSize || header.end > header.size ||
      header.end % kBlockAlignment != 0) {
    SetError(FNOTFLD);
    return -1;
  }
  if (newSize < header.end) {
    SetError(FNOSPACE);
    return -1;
  }
  DropCachedIndex(fbfr);
  NoteBlockCapacity(fbfr, newSize);
  header.size = newSize;
  header.stamp = NewStamp();
  return 0;
}

}  // namespace Tx::Fml32Builtin
