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
#include <memory>
#include <string_view>
#include <vector>

#include "fml32_internal.h"

// The few functions every call runs through are inlined into each API
// function even where the compiler would rather not: a call of a few
// nanoseconds cannot afford another call inside, nor the spills around it.
#define TX_FML32_HOT [[gnu::always_inline]] inline

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
inline std::uint64_t Load64(const unsigned char* at) noexcept {
  std::uint64_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
inline void Store64(unsigned char* at, std::uint64_t value) noexcept { std::memcpy(at, &value, sizeof value); }
// Two 32-bit fields that lie side by side, as one 64-bit word.
inline std::uint64_t Pair(std::uint32_t low, std::uint32_t high) noexcept {
  return std::uint64_t{high} << 32 | low;
}

// Copies a value of `n` bytes. Most values are numbers and short texts;
// up to 16 bytes they are moved as a few words (both reads before the
// writes, so the ranges may overlap) instead of through a library call.
inline void CopyBytes(void* to, const void* from, std::size_t n) noexcept {
  auto* out = static_cast<unsigned char*>(to);
  const auto* in = static_cast<const unsigned char*>(from);
  if (n >= 8) {
    if (n > 16) {
      std::memmove(out, in, n);
      return;
    }
    const std::uint64_t head = Load64(in);
    const std::uint64_t tail = Load64(in + n - 8);
    Store64(out, head);
    Store64(out + n - 8, tail);
  } else if (n >= 4) {
    const std::uint32_t head = Load32(in);
    const std::uint32_t tail = Load32(in + n - 4);
    Store32(out, head);
    Store32(out + n - 4, tail);
  } else if (n != 0) {
    const unsigned char first = in[0];
    const unsigned char middle = in[n / 2];
    const unsigned char last = in[n - 1];
    out[0] = first;
    out[n / 2] = middle;
    out[n - 1] = last;
  }
}

// A value of 1 to 8 bytes as the zero-padded word it is stored as.
inline std::uint64_t PaddedWord(const void* from, std::size_t n) noexcept {
  std::uint64_t word = 0;
  switch (n) {
    case 1: std::memcpy(&word, from, 1); break;
    case 2: std::memcpy(&word, from, 2); break;
    case 3: std::memcpy(&word, from, 3); break;
    case 4: std::memcpy(&word, from, 4); break;
    case 5: std::memcpy(&word, from, 5); break;
    case 6: std::memcpy(&word, from, 6); break;
    case 7: std::memcpy(&word, from, 7); break;
    default: std::memcpy(&word, from, 8); break;
  }
  return word;
}

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
struct StampRange {
  std::uint64_t next = 0;
  std::uint64_t limit = 0;
};
inline constinit thread_local StampRange stamps;
void TakeStampRange() noexcept;
}  // namespace Detail

// A fresh stamp, unique in the process.
inline std::uint64_t NewStamp() noexcept {
  Detail::StampRange& range = Detail::stamps;
  if (range.next == range.limit) Detail::TakeStampRange();
  return range.next++;
}

// --- Records -------------------------------------------------------------------

// A live record at `at` (below `end`) is well formed for the type of its
// id. An embedded buffer is checked here by its header only; its records
// are checked by the walk that meets it.
//
// The value half of that check, for a record whose id is known to be
// storable (at < end, end - at >= kRecordHeaderSize).
inline bool IsWellFormedValue(const unsigned char* base, std::uint32_t at, std::uint32_t end, int type) noexcept {
  const std::uint32_t length = Load32(base + at + 4);
  if (RecordSpan(length) > end - at) return false;
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
inline bool IsWellFormedRecord(const unsigned char* base, std::uint32_t at, std::uint32_t end) noexcept {
  const FLDID32 id = Load32(base + at);
  return NumberOf(id) != 0 && IsStorableType(TypeOf(id)) && IsWellFormedValue(base, at, end, TypeOf(id));
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
  TX_FML32_HOT void PushBack(std::uint32_t offset) noexcept {  // after Reserve
    if (counts_.empty()) {
      offsets_.push_back(offset);  // capacity reserved: never throws
      direct_ = ++size_;
      return;
    }
    PushBackSlotted(offset);
  }
  // PushBack when there is room for it without Reserve; false otherwise,
  // the list unchanged.
  TX_FML32_HOT bool TryPushBack(std::uint32_t offset) noexcept {
    if (counts_.empty()) {
      if (offsets_.size() == offsets_.capacity()) return false;
      offsets_.push_back(offset);  // never allocates
      direct_ = ++size_;
      return true;
    }
    if (counts_.back() == kSlot) return false;
    PushBackSlotted(offset);
    return true;
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
  FieldMap() = default;
  FieldMap(const FieldMap&) = delete;  // holds addresses of its fields_
  FieldMap& operator=(const FieldMap&) = delete;

  TX_FML32_HOT Field* Find(FLDID32 id) noexcept {
    // Each slot holds the id beside the field's address, so a probe reads
    // one slot and only a hit touches the field itself. No field has id 0
    // (BADFLDID), which marks a free slot.
    for (std::size_t slot = Hash(id); ; slot = (slot + 1) & mask_) {
      const Slot& entry = table_[slot];
      if (entry.id == BADFLDID) return nullptr;
      if (entry.id == id) return entry.field;
    }
  }
  // As Find, for walks in id order: they stay on one field for all its
  // occurrences, so the field of the last step is tried first.
  TX_FML32_HOT const Field* FindWalked(FLDID32 id) noexcept {
    if (walked_ != nullptr && walked_->id == id) return walked_;
    return walked_ = Find(id);
  }
  // The field of `id`, added when new; may throw std::bad_alloc. The
  // reference holds until the next Insert.
  Field& Insert(FLDID32 id);
  // The first field with occurrences and an id above `id`, or null; the
  // walk goes on there.
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
  struct Slot {
    FLDID32 id;
    std::uint32_t position;  // in fields_
    Field* field;            // &fields_[position], renewed when fields_ moves
  };
  // An empty map probes this one free slot.
  static constexpr Slot kNoSlots[1] = {{BADFLDID, 0, nullptr}};

  std::size_t Hash(FLDID32 id) const noexcept {
    return std::uint64_t{static_cast<std::uint32_t>(id * 2654435761U)} >> shift_;
  }
  void Rehash(std::size_t tableSize);
  void RenewAddresses() noexcept;
  void SortOrder() noexcept;
  const Field* FirstWithOccurrences(std::size_t rank) const noexcept;

  std::vector<Field> fields_;
  std::vector<Slot> slots_;         // open addressing, a power of two in size
  const Slot* table_ = kNoSlots;    // slots_.data(), or kNoSlots while empty
  std::size_t mask_ = 0;            // table size - 1
  unsigned shift_ = 32;             // 32 - log2(table size)
  std::vector<std::uint32_t> order_;  // field positions by id
  bool sorted_ = true;
  const Field* walked_ = nullptr;  // where the last walk step went
};

// Where the occurrences of every field of one block are.
struct BlockIndex {
  const unsigned char* address = nullptr;
  BlockHeader header{};  // the header as this index last saw it
  FieldMap fields;

  std::size_t ApproximateBytes() const noexcept { return sizeof(BlockIndex) + fields.ApproximateBytes(); }
};

namespace Detail {
// The two indexes the calling thread used last, as the first two entries
// of its cache (null when it has fewer): opening one of those blocks again
// costs a comparison of its header, also when a program moves values from
// one buffer to another. The cache owns the indexes and keeps this in step
// with its entries, whose storage `entries` points at.
struct RecentIndexes {
  BlockIndex* first = nullptr;
  BlockIndex* second = nullptr;
  std::unique_ptr<BlockIndex>* entries = nullptr;
};
inline constinit thread_local RecentIndexes recent;
}  // namespace Detail

// One block opened for the duration of one API call.
class Block {
 public:
  // Validates `fbfr` (from the cache when its header still matches the
  // index, otherwise by a full walk that rebuilds the index). On failure
  // returns false with Ferror32 set to FNOTFLD or FALIGNERR.
  TX_FML32_HOT bool Open(FBFR32* fbfr) noexcept {
    Detail::RecentIndexes& recent = Detail::recent;
    auto* base = reinterpret_cast<unsigned char*>(fbfr);
    // A cached address is non-null and aligned; the header compared whole
    // covers magic, sizes and stamp.
    BlockIndex* index = recent.first;
    if (index != nullptr && index->address == base) {
      if (std::memcmp(&index->header, base, sizeof(BlockHeader)) == 0) {
        base_ = base;
        index_ = index;
        return true;
      }
    } else if (index = recent.second; index != nullptr && index->address == base &&
                                      std::memcmp(&index->header, base, sizeof(BlockHeader)) == 0) {
      // Now the most recent one, in the cache's order too: a call that
      // holds this block while it opens another relies on it staying.
      recent.entries[0].swap(recent.entries[1]);
      recent.second = recent.first;
      recent.first = index;
      base_ = base;
      index_ = index;
      return true;
    }
    // The slow path hands back the index rather than storing it here, so
    // that the block's address does not escape and its members can stay
    // in registers.
    index_ = OpenSlowly(fbfr);
    if (index_ == nullptr) return false;
    base_ = base;
    return true;
  }

  unsigned char* Base() const noexcept { return base_; }
  BlockHeader& Header() const noexcept { return *reinterpret_cast<BlockHeader*>(base_); }

  // Occurrences of `id` (0 when absent).
  TX_FML32_HOT FLDOCC32 Occurrences(FLDID32 id) const noexcept {
    const Field* field = index_->fields.Find(id);
    return field == nullptr ? 0 : static_cast<FLDOCC32>(field->occurrences.Size());
  }
  // Offset of the record of occurrence `oc` of `id`, or 0 when absent or
  // when the record there is not what the index expects (the block was
  // overwritten behind the engine's back); then MissingError() is FNOTFLD.
  TX_FML32_HOT std::uint32_t Find(FLDID32 id, FLDOCC32 oc) const noexcept {
    return FindIn(index_->fields.Find(id), id, oc);
  }
  // As Find, given the field of `id` (null when it has none).
  TX_FML32_HOT std::uint32_t FindIn(const Field* field, FLDID32 id, FLDOCC32 oc) const noexcept {
    // A negative oc becomes a huge position and fails the same test.
    const auto position = static_cast<std::size_t>(oc);
    if (field == nullptr || position >= field->occurrences.Size()) return 0;
    const std::uint32_t record = field->occurrences.At(position);
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
  TX_FML32_HOT bool Append(FLDID32 id, const void* value, std::uint32_t length) noexcept {
    // The common case inline: a field already present, room at the end,
    // a value from outside the block.
    const BlockHeader& header = Header();
    const std::uint32_t end = header.end;
    const std::uint64_t span = RecordSpan(length);
    Field* field = index_->fields.Find(id);
    const auto* bytes = static_cast<const unsigned char*>(value);
    // The offset goes into the list first: nothing after it can fail.
    if (field == nullptr || header.size - end < span || TypeOf(id) == FLD_FML32 ||
        (bytes >= base_ && bytes < base_ + header.size) || !field->occurrences.TryPushBack(end)) {
      // Through a copy, so that this block's address does not escape and
      // its members stay in registers on the way above.
      return Block(*this).AppendWithDefaults(id, 0, value, length);
    }
    unsigned char* record = base_ + end;
    Store64(record, Pair(id, length));
    if (length > 8) {
      Store64(record + span - 8, 0);  // the padding of the last word
      CopyBytes(record + kRecordHeaderSize, value, length);
    } else if (length != 0) {  // an empty value has no word, and may come without bytes
      Store64(record + kRecordHeaderSize, PaddedWord(value, length));
    }
    Publish(end + static_cast<std::uint32_t>(span), header.holeBytes, header.count + 1);
    return true;
  }
  // Appends `defaults` default values of id's type, then `value`; all or
  // nothing (FNOSPACE).
  bool AppendWithDefaults(FLDID32 id, std::uint64_t defaults, const void* value, std::uint32_t length) noexcept;
  // Replaces the value of occurrence `oc` of `field`, found by FindIn at
  // `record`.
  bool Replace(Field& field, FLDOCC32 oc, std::uint32_t record, const void* value, std::uint32_t length) noexcept;
  // Sets occurrence `oc` as Fchg32 does: -1 appends, an existing occurrence
  // is replaced, one beyond the last is preceded by default values.
  // FEINVAL for oc < -1; FNOSPACE leaves the block unchanged.
  bool Change(FLDID32 id, FLDOCC32 oc, const void* value, std::uint32_t length) noexcept;
  // Removes occurrence `oc`, later ones moving down; FNOTPRES when absent.
  bool Delete(FLDID32 id, FLDOCC32 oc) noexcept;
  // Removes all occurrences of a field; FNOTPRES when it has none.
  bool RemoveAll(FLDID32 id) noexcept;

  // The occurrence after (id, oc) in field-id order; false at the end.
  TX_FML32_HOT bool Next(FLDID32& id, FLDOCC32& oc) const noexcept {
    const Field* field = index_->fields.FindWalked(id);
    if (field != nullptr) {
      const std::size_t following = oc < 0 ? 0 : static_cast<std::size_t>(oc) + 1;
      if (following < field->occurrences.Size()) {
        oc = static_cast<FLDOCC32>(following);
        return true;
      }
    }
    return NextField(field, id, oc);
  }

  // Moves all live records together; the index follows.
  void Compact() noexcept;

 private:
  // The index of `fbfr`, rebuilt when stale; null with Ferror32 set.
  static BlockIndex* OpenSlowly(FBFR32* fbfr) noexcept;
  // Next() past the last occurrence of `field` (null when `id` has none).
  bool NextField(const Field* field, FLDID32& id, FLDOCC32& oc) const noexcept;
  bool MakeRoom(std::uint64_t bytes) noexcept;  // free tail >= bytes, compacting if needed
  void WriteRecord(std::uint32_t at, FLDID32 id, const void* value, std::uint32_t length) noexcept;
  void WriteHole(std::uint32_t at, std::uint64_t span) noexcept;
  void RemoveRecordAt(std::uint32_t record) noexcept;  // turns a record into a hole or trims `end`
  // New stamp, index follows, after the caller changed the header.
  // Field by field: a wide load right after the caller's narrow stores
  // would stall on store forwarding; the empty asm statements keep the
  // compiler from merging the loads.
  void Touch() noexcept {
    const BlockHeader& header = Header();
    const std::uint32_t end = header.end;
    asm volatile("" ::: "memory");
    const std::uint32_t holeBytes = header.holeBytes;
    asm volatile("" ::: "memory");
    Publish(end, holeBytes, header.count);
  }
  // Writes the header's changing words, with a new stamp, into the block
  // and the index. Whole 8-byte words, since the next Open compares the two
  // copies a word at a time and a word load that meets narrower stores
  // still on their way to memory waits for them. Magic and size never
  // change under an open block; reserved is zero in every block opened.
  TX_FML32_HOT void Publish(std::uint32_t end, std::uint32_t holeBytes, std::uint32_t count) noexcept {
    static_assert(offsetof(BlockHeader, end) == 8 && offsetof(BlockHeader, holeBytes) == 12 &&
                  offsetof(BlockHeader, stamp) == 16 && offsetof(BlockHeader, count) == 24 &&
                  offsetof(BlockHeader, reserved) == 28);
    const std::uint64_t extent = Pair(end, holeBytes);
    const std::uint64_t stamp = NewStamp();
    const std::uint64_t counts = Pair(count, 0);
    auto* seen = reinterpret_cast<unsigned char*>(&index_->header);
    Store64(base_ + 8, extent);
    Store64(base_ + 16, stamp);
    Store64(base_ + 24, counts);
    Store64(seen + 8, extent);
    Store64(seen + 16, stamp);
    Store64(seen + 24, counts);
  }

  // `id` is one the index holds, so a storable one. The header is one the
  // index accepted or this engine wrote: `end` is aligned and at least
  // kEmptyBlockSize, and an aligned record below it has a whole header.
  TX_FML32_HOT bool IsSound(std::uint32_t record, FLDID32 id) const noexcept {
    const std::uint32_t end = Header().end;
    return record - kEmptyBlockSize < end - kEmptyBlockSize && record % kBlockAlignment == 0 &&
           Load32(base_ + record) == id && IsWellFormedValue(base_, record, end, TypeOf(id));
  }
  // Makes the next Open rebuild and recheck.
  void Distrust() const noexcept {
    damaged_ = true;
    index_->header.stamp = ~Header().stamp;
  }

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
