// The block layout of an FML32 buffer and the per-thread index over it.
// Builtin-only: used by the fml32*.cpp files of this folder.
//
// Layout (all integers native-endian, the block 8-byte aligned):
//
//   offset 0   BlockHeader (32 bytes): magic, size, end, holeBytes, stamp,
//              count, reserved
//   offset 32  records up to `end`, each:
//                uint32 field id (0 marks a hole: space of a deleted value)
//                uint32 value length in bytes
//                value, zero-padded to a multiple of 8
//
// Records of one field lie in occurrence order; records of different fields
// interleave freely. Appends go to `end`; deleted records become holes that
// count as unused space and are squeezed out when room is needed. `stamp`
// changes with every modification and is unique in the process, so a cached
// index is valid exactly when address and header match the snapshot taken
// when the index was last brought up to date.
//
// Embedded buffers: the value of an fml32 field is itself a complete block,
// compacted and full (size == end == the value's length), so a pointer to
// the value is a read-only buffer of its own; a ptr field holds a pointer
// value (8 bytes), never what it points to.
#pragma once

#include <fml32.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "fml32_internal.h"

namespace Tx::Fml32Builtin {

inline constexpr std::uint32_t kMagic = 0x3233464DU;  // "MF32" read little-endian
inline constexpr std::uint32_t kRecordHeaderSize = 8;
inline constexpr int kNoType = -1;

struct BlockHeader {
  std::uint32_t magic;
  std::uint32_t size;       // bytes of the whole block
  std::uint32_t end;        // offset just past the last record
  std::uint32_t holeBytes;  // bytes of holes (headers included) below `end`
  std::uint64_t stamp;      // changes with every modification
  std::uint32_t count;      // live records (occurrences)
  std::uint32_t reserved;   // zero
};
static_assert(sizeof(BlockHeader) == kEmptyBlockSize);

inline void SetError(int error) noexcept { Ferror32 = error; }

inline std::uint64_t PaddedLength(std::uint64_t length) noexcept { return (length + 7) & ~std::uint64_t{7}; }
inline std::uint64_t RecordSpan(std::uint64_t length) noexcept { return kRecordHeaderSize + PaddedLength(length); }

inline std::uint32_t Load32(const unsigned char* at) noexcept {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
inline void Store32(unsigned char* at, std::uint32_t value) noexcept { std::memcpy(at, &value, sizeof value); }

// --- Field identifiers and types -------------------------------------------

inline int TypeOf(FLDID32 id) noexcept { return static_cast<int>(id >> 25); }
inline FLDID32 NumberOf(FLDID32 id) noexcept { return id & FMAXNUM32; }

// Types a buffer of this engine can hold: the seven basic ones, mbstring
// (kept as bytes, like carray), ptr and embedded fml32 buffers.
inline bool IsStorableType(int type) noexcept {
  return (type >= FLD_SHORT && type <= FLD_CARRAY) || type == FLD_MBSTRING || type == FLD_PTR ||
         type == FLD_FML32;
}
// Stored length of the fixed-size types, or 0 for string, carray, mbstring
// and fml32.
inline std::uint32_t FixedLength(int type) noexcept {
  switch (type) {
    case FLD_SHORT: return sizeof(short);
    case FLD_LONG: return sizeof(long);
    case FLD_CHAR: return sizeof(char);
    case FLD_FLOAT: return sizeof(float);
    case FLD_DOUBLE: return sizeof(double);
    case FLD_PTR: return sizeof(char*);
    default: return 0;
  }
}
inline bool IsByteArrayType(int type) noexcept { return type == FLD_CARRAY || type == FLD_MBSTRING; }
// Length of the value that fills gaps (Fchg32 beyond the last occurrence).
std::uint32_t DefaultLength(int type) noexcept;

// The type code whose Ftype32 name is `name`, or kNoType.
int TypeFromName(std::string_view name) noexcept;

// FBADFLD for field number 0, FTYPERR for a type this engine cannot store.
// Returns true when `id` may be used to address values.
inline bool CheckFieldId(FLDID32 id) noexcept {
  if (NumberOf(id) == 0) {
    SetError(FBADFLD);
    return false;
  }
  if (!IsStorableType(TypeOf(id))) {
    SetError(FTYPERR);
    return false;
  }
  return true;
}

namespace Detail {
// Each thread takes stamps from a range of its own, so a modification costs
// no atomic operation; ranges never overlap, so stamps stay unique.
inline constinit thread_local std::uint64_t nextStamp = 0;
inline constinit thread_local std::uint64_t stampLimit = 0;
void TakeStampRange() noexcept;
}  // namespace Detail

// A fresh stamp, unique in the process.
inline std::uint64_t NewStamp() noexcept {
  if (Detail::nextStamp == Detail::stampLimit) Detail::TakeStampRange();
  return Detail::nextStamp++;
}

// --- Records -------------------------------------------------------------------

// A live record at `at` (below `end`) is well formed for the type of its
// id. An embedded buffer is checked here by its header only; its records
// are checked by the walk that meets it.
inline bool IsWellFormedRecord(const unsigned char* base, std::uint32_t at, std::uint32_t end) noexcept {
  const FLDID32 id = Load32(base + at);
  const std::uint32_t length = Load32(base + at + 4);
  const int type = TypeOf(id);
  if (NumberOf(id) == 0 || !IsStorableType(type) || RecordSpan(length) > end - at) return false;
  const std::uint32_t fixed = FixedLength(type);
  if (fixed != 0) return length == fixed;
  const unsigned char* value = base + at + kRecordHeaderSize;
  switch (type) {
    case FLD_STRING: return length != 0 && value[length - 1] == '\0';
    case FLD_FML32: return length >= kEmptyBlockSize && length % kBlockAlignment == 0 &&
                           Load32(value) == kMagic && Load32(value + 4) == length;
    default: return true;
  }
}

// --- Index -------------------------------------------------------------------

// Record offsets of one field in occurrence order.
//
// Appends and reads are those of a plain vector. Deleting in the middle of
// a long list would shift everything behind it, so a long list that loses
// an occurrence other than its last is cut into slots of kSlot entries,
// each slot filled from its start, with a Fenwick tree over the slot
// counts: a delete then moves at most one slot and finds its slot in
// O(log n). Occurrences before the first slot that is not full are still
// read directly. Once half of the slot space is unused the list is packed
// again, so the repacking costs O(1) per delete on average.
class OccurrenceList {
 public:
  static constexpr std::size_t kSlot = 128;

  std::size_t Size() const noexcept { return size_; }
  bool Empty() const noexcept { return size_ == 0; }
  std::uint32_t At(std::size_t oc) const noexcept {
    return oc < direct_ ? offsets_[oc] : offsets_[SlottedPosition(oc)];
  }
  void Set(std::size_t oc, std::uint32_t offset) noexcept {
    offsets_[oc < direct_ ? oc : SlottedPosition(oc)] = offset;
  }
  std::uint32_t Back() const noexcept { return At(size_ - 1); }

  // Makes room for `more` appends (may throw std::bad_alloc); the appends
  // after it cannot fail.
  void Reserve(std::size_t more);
  void PushBack(std::uint32_t offset) noexcept {  // after Reserve
    if (counts_.empty()) {
      offsets_.push_back(offset);  // capacity reserved: never throws
      direct_ = ++size_;
      return;
    }
    PushBackSlotted(offset);
  }
  // True when one PushBack needs no Reserve.
  bool HasRoomForOne() const noexcept {
    return counts_.empty() ? offsets_.size() < offsets_.capacity() : counts_.back() < kSlot;
  }
  // Makes the memory ready for a fast Erase (may throw std::bad_alloc);
  // Erase works without it, more slowly.
  void PrepareErase();
  void Erase(std::size_t oc) noexcept;
  // Empties the list, keeping its memory (appends up to the old size then
  // never allocate).
  void Clear() noexcept;
  std::size_t CapacityBytes() const noexcept;

  template <typename F>
  void ForEach(F&& visit) {
    if (counts_.empty()) {
      for (std::size_t i = 0; i < size_; ++i) visit(offsets_[i]);
      return;
    }
    for (std::size_t slot = 0; slot < counts_.size(); ++slot) {
      for (std::uint32_t i = 0; i < counts_[slot]; ++i) visit(offsets_[slot * kSlot + i]);
    }
  }

 private:
  std::size_t SlottedPosition(std::size_t oc) const noexcept;
  void PushBackSlotted(std::uint32_t offset) noexcept;
  bool CanCut() const noexcept;  // PrepareErase made room for the slots
  void CutIntoSlots() noexcept;
  void Pack() noexcept;
  void AddToTree(std::size_t slot, std::int64_t delta) noexcept;
  void AppendSlotToTree(std::uint32_t count) noexcept;

  std::vector<std::uint32_t> offsets_;  // flat, or kSlot entries per slot
  std::vector<std::uint32_t> counts_;   // entries per slot; empty while flat
  std::vector<std::uint32_t> tree_;     // Fenwick tree over counts_
  std::size_t size_ = 0;
  std::size_t direct_ = 0;  // leading occurrences stored at their own position
};

struct Field {
  FLDID32 id = BADFLDID;
  std::uint32_t rank = 0;  // position in id order, while the order is known
  OccurrenceList occurrences;
};

// The fields of one block: found by id through a hash table, walked in id
// order. A field that loses its last occurrence keeps its entry (empty).
class FieldMap {
 public:
  Field* Find(FLDID32 id) noexcept {
    if (last_ < fields_.size() && fields_[last_].id == id) return &fields_[last_];
    if (table_.empty()) return nullptr;
    const std::size_t mask = table_.size() - 1;
    for (std::size_t slot = Hash(id); ; slot = (slot + 1) & mask) {
      const std::uint32_t entry = table_[slot];
      if (entry == 0) return nullptr;
      if (fields_[entry - 1].id == id) {
        last_ = entry - 1;
        return &fields_[entry - 1];
      }
    }
  }
  // The field of `id`, added when new; may throw std::bad_alloc. The
  // reference holds until the next Insert.
  Field& Insert(FLDID32 id);
  // The first field with occurrences and an id above `id`, or null.
  const Field* NextAfter(FLDID32 id) noexcept;
  const Field* NextAfter(const Field& field) noexcept;
  void Clear() noexcept;  // every field left without occurrences
  void Reset() noexcept;  // no fields at all; the memory stays for reuse

  template <typename F>
  void ForEach(F&& visit) {
    for (Field& field : fields_) visit(field);
  }
  std::size_t ApproximateBytes() const noexcept;

 private:
  std::size_t Hash(FLDID32 id) const noexcept { return (id * 2654435761U) >> shift_; }
  void Rehash(std::size_t tableSize);
  void SortOrder() noexcept;
  const Field* FirstWithOccurrences(std::size_t rank) const noexcept;

  std::vector<Field> fields_;
  std::vector<std::uint32_t> table_;  // open addressing: field position + 1, 0 free
  unsigned shift_ = 32;
  std::vector<std::uint32_t> order_;  // field positions by id
  bool sorted_ = true;
  std::size_t last_ = 0;  // the field found last: runs of one field skip the hash
};

// Where the occurrences of every field of one block are.
struct BlockIndex {
  const unsigned char* address = nullptr;
  BlockHeader header{};  // the header as this index last saw it
  FieldMap fields;

  std::size_t ApproximateBytes() const noexcept { return sizeof(BlockIndex) + fields.ApproximateBytes(); }
};

namespace Detail {
// The index the calling thread used last (null when none): opening the
// same block again costs one comparison of its header. The thread's cache
// owns the index and clears this pointer when it lets the index go.
inline constinit thread_local BlockIndex* lastIndex = nullptr;
}  // namespace Detail

// One block opened for the duration of one API call.
class Block {
 public:
  // Validates `fbfr` (from the cache when its header still matches the
  // index, otherwise by a full walk that rebuilds the index). On failure
  // returns false with Ferror32 set to FNOTFLD or FALIGNERR.
  bool Open(FBFR32* fbfr) noexcept {
    BlockIndex* last = Detail::lastIndex;
    auto* base = reinterpret_cast<unsigned char*>(fbfr);
    // A cached address is non-null and aligned; the header compared whole
    // covers magic, sizes and stamp.
    if (last != nullptr && last->address == base && std::memcmp(&last->header, base, sizeof(BlockHeader)) == 0) {
      base_ = base;
      index_ = last;
      return true;
    }
    return OpenSlowly(fbfr);
  }

  unsigned char* Base() const noexcept { return base_; }
  BlockHeader& Header() const noexcept { return *reinterpret_cast<BlockHeader*>(base_); }

  // Occurrences of `id` (0 when absent).
  FLDOCC32 Occurrences(FLDID32 id) const noexcept {
    const Field* field = index_->fields.Find(id);
    return field == nullptr ? 0 : static_cast<FLDOCC32>(field->occurrences.Size());
  }
  // Offset of the record of occurrence `oc` of `id`, or 0 when absent or
  // when the record there is not what the index expects (the block was
  // overwritten behind the engine's back); then MissingError() is FNOTFLD.
  std::uint32_t Find(FLDID32 id, FLDOCC32 oc) const noexcept {
    const Field* field = index_->fields.Find(id);
    if (field == nullptr || oc < 0 || static_cast<std::size_t>(oc) >= field->occurrences.Size()) return 0;
    const std::uint32_t record = field->occurrences.At(static_cast<std::size_t>(oc));
    // The header matched, yet the bytes may have been replaced by an edited
    // image of this very state; a record that does not fit is not used.
    if (!IsSound(record, id)) {
      Distrust();
      return 0;
    }
    return record;
  }
  // Sets Ferror32 after Find returned 0: FNOTPRES, or FNOTFLD.
  void SetMissingError() const noexcept { SetError(damaged_ ? FNOTFLD : FNOTPRES); }
  bool Damaged() const noexcept { return damaged_; }
  unsigned char* ValueAt(std::uint32_t record) const noexcept { return base_ + record + kRecordHeaderSize; }
  std::uint32_t LengthAt(std::uint32_t record) const noexcept { return Load32(base_ + record + 4); }

  std::uint32_t UsedBytes() const noexcept { return Header().end - Header().holeBytes; }
  std::uint32_t UnusedBytes() const noexcept { return Header().size - UsedBytes(); }

  // Appends an occurrence after the last one of `id`. FNOSPACE leaves the
  // block unchanged.
  bool Append(FLDID32 id, const void* value, std::uint32_t length) noexcept {
    // The common case inline: a field already present, room at the end,
    // a value from outside the block.
    BlockHeader& header = Header();
    const std::uint64_t span = RecordSpan(length);
    Field* field = index_->fields.Find(id);
    const auto* bytes = static_cast<const unsigned char*>(value);
    if (field == nullptr || header.size - header.end < span || !field->occurrences.HasRoomForOne() ||
        TypeOf(id) == FLD_FML32 || (bytes >= base_ && bytes < base_ + header.size)) {
      return AppendWithDefaults(id, 0, value, length);
    }
    unsigned char* record = base_ + header.end;
    std::memset(record + span - 8, 0, 8);  // the padding of the last word
    Store32(record, id);
    Store32(record + 4, length);
    std::memcpy(record + kRecordHeaderSize, value, length);
    field->occurrences.PushBack(header.end);
    header.end += static_cast<std::uint32_t>(span);
    ++header.count;
    Touch();
    return true;
  }
  // Appends `defaults` default values of id's type, then `value`; all or
  // nothing (FNOSPACE).
  bool AppendWithDefaults(FLDID32 id, std::uint64_t defaults, const void* value, std::uint32_t length) noexcept;
  // Replaces the value of an existing occurrence.
  bool Replace(FLDID32 id, FLDOCC32 oc, const void* value, std::uint32_t length) noexcept;
  // Sets occurrence `oc` as Fchg32 does: -1 appends, an existing occurrence
  // is replaced, one beyond the last is preceded by default values.
  // FEINVAL for oc < -1; FNOSPACE leaves the block unchanged.
  bool Change(FLDID32 id, FLDOCC32 oc, const void* value, std::uint32_t length) noexcept;
  // Removes occurrence `oc`, later ones moving down; FNOTPRES when absent.
  bool Delete(FLDID32 id, FLDOCC32 oc) noexcept;
  // Removes one occurrence (later ones move down) or all of a field.
  void Remove(FLDID32 id, FLDOCC32 oc) noexcept;
  bool RemoveAll(FLDID32 id) noexcept;

  // The occurrence after (id, oc) in field-id order; false at the end.
  bool Next(FLDID32& id, FLDOCC32& oc) const noexcept;

  // Moves all live records together; the index follows.
  void Compact() noexcept;

 private:
  bool OpenSlowly(FBFR32* fbfr) noexcept;
  bool MakeRoom(std::uint64_t bytes) noexcept;  // free tail >= bytes, compacting if needed
  void WriteRecord(std::uint32_t at, FLDID32 id, const void* value, std::uint32_t length) noexcept;
  void WriteHole(std::uint32_t at, std::uint64_t span) noexcept;
  void RemoveRecordAt(std::uint32_t record) noexcept;  // turns a record into a hole or trims `end`
  // New stamp, index follows. Field by field: a wide copy right after the
  // narrow stores of the caller would stall on store forwarding, a cost
  // every write would pay; the empty asm statements keep the compiler from
  // merging the loads.
  void Touch() noexcept {
    BlockHeader& header = Header();
    BlockHeader& seen = index_->header;
    const std::uint64_t stamp = NewStamp();
    header.stamp = stamp;
    seen.stamp = stamp;
    seen.size = header.size;
    asm volatile("" ::: "memory");
    seen.end = header.end;
    asm volatile("" ::: "memory");
    seen.holeBytes = header.holeBytes;
    seen.count = header.count;
  }

  bool IsSound(std::uint32_t record, FLDID32 id) const noexcept {
    const std::uint32_t end = Header().end;
    return record >= kEmptyBlockSize && record % kBlockAlignment == 0 && record < end &&
           end - record >= kRecordHeaderSize && Load32(base_ + record) == id &&
           IsWellFormedRecord(base_, record, end);
  }
  void Distrust() const noexcept;  // makes the next Open rebuild and recheck

  unsigned char* base_ = nullptr;
  BlockIndex* index_ = nullptr;
  mutable bool damaged_ = false;
};

// Checks the header of `fbfr` only (magic, alignment, sizes, registered
// capacity); used for blocks that are about to be overwritten whole.
bool CheckHeaderOnly(FBFR32* fbfr) noexcept;

// True when p is non-null and aligned as a block must be; otherwise sets
// Ferror32 to nullError for a null pointer or FALIGNERR for a misaligned one.
bool CheckBlockAddress(const void* p, int nullError = FNOTFLD) noexcept;

// Writes an empty block of `size` bytes at `memory` and drops any index the
// calling thread cached for that address.
void InitBlock(unsigned char* memory, std::uint32_t size) noexcept;

// Copies the live records of `source` into the valid block at `target` (of
// `targetSize` bytes, at least source.UsedBytes()), compacted, wiping what
// the target held beyond them.
void CopyCompacted(const Block& source, unsigned char* target, std::uint32_t targetSize) noexcept;

// The live records of the block image at `image`, the value of an fml32
// field (`length` bytes), in Fnext32 order: by field id, the occurrences of
// one field in order. Checks the image's own records, not those of the
// buffers embedded in it (each is checked when it is read in turn). False
// when the image is damaged.
bool EmbeddedRecords(const unsigned char* image, std::uint32_t length, std::vector<std::uint32_t>& records);

// Seals the block image at `image` (`length` bytes, compacted) as the value
// of an fml32 field: full to its end, with a fresh stamp.
void SealEmbedded(unsigned char* image, std::uint32_t length) noexcept;

// Registered capacity of the memory at `block`, or 0 when not registered.
std::size_t RegisteredCapacity(const void* block) noexcept;
// Makes the calling thread's cached index of `block` stale (rebuilt on the
// next use); ForgetBlock drops it.
void DropCachedIndex(const void* block) noexcept;

}  // namespace Tx::Fml32Builtin
