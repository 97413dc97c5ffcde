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
// index is valid exactly when address and stamp (plus size and end) match.
#pragma once

#include <fml32.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
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

// Types a buffer of this engine can hold: the seven basic ones and mbstring
// (kept as bytes, like carray).
bool IsStorableType(int type) noexcept;
// Stored length of the fixed-size types, or 0 for string, carray, mbstring.
std::uint32_t FixedLength(int type) noexcept;
inline bool IsByteArrayType(int type) noexcept { return type == FLD_CARRAY || type == FLD_MBSTRING; }

// The type code whose Ftype32 name is `name`, or kNoType.
int TypeFromName(std::string_view name) noexcept;

// FBADFLD for field number 0, FTYPERR for a type this engine cannot store.
// Returns true when `id` may be used to address values.
bool CheckFieldId(FLDID32 id) noexcept;

// --- Index -------------------------------------------------------------------

// Where the occurrences of every field of one block are, fields sorted by id.
struct BlockIndex {
  const unsigned char* address = nullptr;
  std::uint64_t stamp = 0;
  std::uint32_t size = 0;
  std::uint32_t end = 0;
  std::map<FLDID32, std::vector<std::uint32_t>> fields;  // record offsets per occurrence
  std::size_t occurrences = 0;
  std::uint64_t lastUse = 0;

  std::size_t ApproximateBytes() const noexcept;
};

// One block opened for the duration of one API call.
class Block {
 public:
  // Validates `fbfr` (from the cache when its stamp still matches, otherwise
  // by a full walk that rebuilds the index). On failure returns false with
  // Ferror32 set to FNOTFLD or FALIGNERR.
  bool Open(FBFR32* fbfr) noexcept;

  unsigned char* Base() const noexcept { return base_; }
  BlockHeader& Header() const noexcept { return *reinterpret_cast<BlockHeader*>(base_); }
  const BlockIndex& Index() const noexcept { return *index_; }

  // Occurrences of `id` (0 when absent).
  FLDOCC32 Occurrences(FLDID32 id) const noexcept;
  // Offset of the record of occurrence `oc` of `id`, or 0 when absent or
  // when the record there is not what the index expects (the block was
  // overwritten behind the engine's back); then MissingError() is FNOTFLD.
  std::uint32_t Find(FLDID32 id, FLDOCC32 oc) const noexcept;
  // Sets Ferror32 after Find returned 0: FNOTPRES, or FNOTFLD.
  void SetMissingError() const noexcept;
  bool Damaged() const noexcept { return damaged_; }
  unsigned char* ValueAt(std::uint32_t record) const noexcept { return base_ + record + kRecordHeaderSize; }
  std::uint32_t LengthAt(std::uint32_t record) const noexcept { return Load32(base_ + record + 4); }

  std::uint32_t UsedBytes() const noexcept;  // header plus live records
  std::uint32_t UnusedBytes() const noexcept { return Header().size - UsedBytes(); }

  // Appends an occurrence after the last one of `id`. FNOSPACE leaves the
  // block unchanged.
  bool Append(FLDID32 id, const void* value, std::uint32_t length) noexcept;
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
  bool MakeRoom(std::uint64_t bytes) noexcept;  // free tail >= bytes, compacting if needed
  void WriteRecord(std::uint32_t at, FLDID32 id, const void* value, std::uint32_t length) noexcept;
  void WriteHole(std::uint32_t at, std::uint64_t span) noexcept;
  void RemoveRecordAt(std::uint32_t record) noexcept;  // turns a record into a hole or trims `end`
  void Touch() noexcept;                                // new stamp, index follows

  bool IsSound(std::uint32_t record, FLDID32 id) const noexcept;
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

// Writes an empty block of `size` bytes at `memory` and gives it a fresh
// index in the calling thread's cache.
void InitBlock(unsigned char* memory, std::uint32_t size) noexcept;

// Copies the live records of `source` into the valid block at `target` (of
// `targetSize` bytes, at least source.UsedBytes()), compacted, wiping what
// the target held beyond them.
void CopyCompacted(const Block& source, unsigned char* target, std::uint32_t targetSize) noexcept;

// A fresh stamp, unique in the process.
std::uint64_t NewStamp() noexcept;

// Registered capacity of the memory at `block`, or 0 when not registered.
std::size_t RegisteredCapacity(const void* block) noexcept;
// Drops the calling thread's cached index of `block`.
void DropCachedIndex(const void* block) noexcept;

}  // namespace Tx::Fml32Builtin
