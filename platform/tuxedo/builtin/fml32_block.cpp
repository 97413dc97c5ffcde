// Block validation, the per-thread index cache and the record-level
// operations every FML32 function is built from.
#include "fml32_block.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <unordered_map>

namespace Tx::Fml32Builtin {
namespace {

// The cache keeps the indexes of the blocks a thread used last. Its size is
// bounded by entry count and by an estimate of their memory; the two most
// recently used entries are never evicted (a call may hold two blocks).
constexpr std::size_t kMaxCachedBlocks = 16;
constexpr std::size_t kMaxCachedBytes = std::size_t{64} << 20;
constexpr std::size_t kPinnedEntries = 2;

struct IndexCache {
  std::vector<std::unique_ptr<BlockIndex>> entries;  // most recently used first
};

IndexCache& ThreadCache() {
  thread_local IndexCache cache;
  return cache;
}

// Capacities registered by the allocators of blocks (Falloc32, tpalloc).
struct CapacityRegistry {
  std::mutex mutex;
  std::unordered_map<const void*, std::size_t> capacities;
};

CapacityRegistry& Registry() {
  // Never destroyed: blocks may be forgotten from static destructors.
  static CapacityRegistry* registry = new CapacityRegistry;
  return *registry;
}

std::uint64_t InitialStamp() noexcept {
  std::uint64_t seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  try {
    std::random_device device;
    seed ^= (static_cast<std::uint64_t>(device()) << 32) ^ device();
  } catch (...) {
    // No entropy source: the clock alone still separates processes well enough.
  }
  return seed;
}

std::atomic<std::uint64_t>& StampCounter() {
  static std::atomic<std::uint64_t> counter{InitialStamp()};
  return counter;
}

bool HeaderLooksSane(const unsigned char* base, const BlockHeader& header) noexcept {
  if (header.size < kEmptyBlockSize || header.end < kEmptyBlockSize || header.end > header.size ||
      header.end % kBlockAlignment != 0 || header.holeBytes > header.end - kEmptyBlockSize ||
      header.reserved != 0) {
    return false;
  }
  const std::size_t capacity = RegisteredCapacity(base);
  return capacity == 0 || header.size <= capacity;
}

bool Matches(const BlockIndex& index, const unsigned char* base, const BlockHeader& header) noexcept {
  return index.address == base && index.stamp == header.stamp && index.size == header.size &&
         index.end == header.end && index.occurrences == header.count;
}

BlockIndex* FindCached(const unsigned char* base, const BlockHeader& header) noexcept {
  auto& entries = ThreadCache().entries;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i]->address != base) continue;
    if (!Matches(*entries[i], base, header)) {
      entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(i));
      return nullptr;
    }
    if (i != 0) {
      std::rotate(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(i),
                  entries.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
    return entries.front().get();
  }
  return nullptr;
}

BlockIndex* Remember(std::unique_ptr<BlockIndex> index) {
  auto& entries = ThreadCache().entries;
  entries.insert(entries.begin(), std::move(index));
  std::size_t total = 0;
  for (const auto& entry : entries) total += entry->ApproximateBytes();
  while (entries.size() > kPinnedEntries && (entries.size() > kMaxCachedBlocks || total > kMaxCachedBytes)) {
    total -= entries.back()->ApproximateBytes();
    entries.pop_back();
  }
  return entries.front().get();
}

// A small direct-mapped memo of field id -> offsets vector, so that walking
// a block with a few interleaved fields does not search the map per record.
class SlotMemo {
 public:
  explicit SlotMemo(std::map<FLDID32, std::vector<std::uint32_t>>& fields) : fields_(fields) {}
  std::vector<std::uint32_t>& operator[](FLDID32 id) {
    Entry& entry = entries_[(id ^ (id >> 7)) % kEntries];
    if (entry.offsets == nullptr || entry.id != id) {
      entry.id = id;
      entry.offsets = &fields_[id];
    }
    return *entry.offsets;
  }

 private:
  static constexpr std::size_t kEntries = 64;
  struct Entry {
    FLDID32 id = 0;
    std::vector<std::uint32_t>* offsets = nullptr;
  };
  std::map<FLDID32, std::vector<std::uint32_t>>& fields_;
  Entry entries_[kEntries];
};

// A live record at `at` (below `end`) is well formed for the type of its id.
bool IsWellFormedRecord(const unsigned char* base, std::uint32_t at, std::uint32_t end) noexcept {
  const FLDID32 id = Load32(base + at);
  const std::uint32_t length = Load32(base + at + 4);
  const int type = TypeOf(id);
  if (NumberOf(id) == 0 || !IsStorableType(type) || RecordSpan(length) > end - at) return false;
  const std::uint32_t fixed = FixedLength(type);
  if (fixed != 0 && length != fixed) return false;
  return type != FLD_STRING || (length != 0 && base[at + kRecordHeaderSize + length - 1] == '\0');
}

// Walks every record, checking that it lies inside the block and is well
// formed for its type, and fills `index`. False for any inconsistency.
bool BuildIndex(const unsigned char* base, const BlockHeader& header, BlockIndex& index) {
  index.address = base;
  index.stamp = header.stamp;
  index.size = header.size;
  index.end = header.end;
  SlotMemo slots(index.fields);
  std::uint64_t holes = 0;
  std::size_t live = 0;
  std::uint32_t at = kEmptyBlockSize;
  while (at < header.end) {
    if (header.end - at < kRecordHeaderSize) return false;
    const FLDID32 id = Load32(base + at);
    const std::uint32_t length = Load32(base + at + 4);
    const std::uint64_t span = RecordSpan(length);
    if (span > header.end - at) return false;
    if (id == BADFLDID) {
      holes += span;
    } else {
      if (!IsWellFormedRecord(base, at, header.end)) return false;
      slots[id].push_back(at);
      ++live;
    }
    at += static_cast<std::uint32_t>(span);
  }
  if (holes != header.holeBytes || live != header.count) return false;
  index.occurrences = live;
  return true;
}

}  // namespace

// --- Types ----------------------------------------------------------------

bool IsStorableType(int type) noexcept {
  return (type >= FLD_SHORT && type <= FLD_CARRAY) || type == FLD_MBSTRING;
}

std::uint32_t FixedLength(int type) noexcept {
  switch (type) {
    case FLD_SHORT: return sizeof(short);
    case FLD_LONG: return sizeof(long);
    case FLD_CHAR: return sizeof(char);
    case FLD_FLOAT: return sizeof(float);
    case FLD_DOUBLE: return sizeof(double);
    default: return 0;
  }
}

bool CheckFieldId(FLDID32 id) noexcept {
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

// --- Stamps, capacities, cache --------------------------------------------

std::uint64_t NewStamp() noexcept { return StampCounter().fetch_add(1, std::memory_order_relaxed); }

std::size_t RegisteredCapacity(const void* block) noexcept {
  CapacityRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  const auto found = registry.capacities.find(block);
  return found == registry.capacities.end() ? 0 : found->second;
}

void NoteBlockCapacity(const void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return;
  CapacityRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  try {
    registry.capacities[block] = bytes;
  } catch (...) {
    // Out of memory: the block simply goes unchecked.
  }
}

void DropCachedIndex(const void* block) noexcept {
  auto& entries = ThreadCache().entries;
  std::erase_if(entries, [block](const std::unique_ptr<BlockIndex>& entry) { return entry->address == block; });
}

void ForgetBlock(const void* block) noexcept {
  if (block == nullptr) return;
  DropCachedIndex(block);
  CapacityRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.capacities.erase(block);
}

std::size_t BlockIndex::ApproximateBytes() const noexcept {
  std::size_t bytes = sizeof(BlockIndex);
  for (const auto& field : fields) bytes += 64 + field.second.capacity() * sizeof(std::uint32_t);
  return bytes;
}

// --- Opening --------------------------------------------------------------

bool CheckBlockAddress(const void* p, int nullError) noexcept {
  if (p == nullptr) {
    SetError(nullError);
    return false;
  }
  if (reinterpret_cast<std::uintptr_t>(p) % kBlockAlignment != 0) {
    SetError(FALIGNERR);
    return false;
  }
  return true;
}

bool CheckHeaderOnly(FBFR32* fbfr) noexcept {
  if (!CheckBlockAddress(fbfr)) return false;
  const auto* base = reinterpret_cast<const unsigned char*>(fbfr);
  const auto& header = *reinterpret_cast<const BlockHeader*>(base);
  if (header.magic != kMagic || !HeaderLooksSane(base, header)) {
    SetError(FNOTFLD);
    return false;
  }
  return true;
}

bool Block::Open(FBFR32* fbfr) noexcept {
  if (!CheckBlockAddress(fbfr)) return false;
  auto* base = reinterpret_cast<unsigned char*>(fbfr);
  const auto& header = *reinterpret_cast<const BlockHeader*>(base);
  if (header.magic != kMagic) {
    SetError(FNOTFLD);
    return false;
  }
  if (BlockIndex* cached = FindCached(base, header)) {
    base_ = base;
    index_ = cached;
    return true;
  }
  if (!HeaderLooksSane(base, header)) {
    SetError(FNOTFLD);
    return false;
  }
  try {
    auto index = std::make_unique<BlockIndex>();
    if (!BuildIndex(base, header, *index)) {
      SetError(FNOTFLD);
      return false;
    }
    index_ = Remember(std::move(index));
  } catch (const std::bad_alloc&) {
    SetError(FMALLOC);
    return false;
  }
  base_ = base;
  return true;
}

// --- Reading --------------------------------------------------------------

FLDOCC32 Block::Occurrences(FLDID32 id) const noexcept {
  const auto found = index_->fields.find(id);
  return found == index_->fields.end() ? 0 : static_cast<FLDOCC32>(found->second.size());
}

bool Block::IsSound(std::uint32_t record, FLDID32 id) const noexcept {
  const std::uint32_t end = Header().end;
  return record >= kEmptyBlockSize && record % kBlockAlignment == 0 && record < end &&
         end - record >= kRecordHeaderSize && Load32(base_ + record) == id &&
         IsWellFormedRecord(base_, record, end);
}

void Block::Distrust() const noexcept {
  damaged_ = true;
  index_->stamp = ~Header().stamp;
}

std::uint32_t Block::Find(FLDID32 id, FLDOCC32 oc) const noexcept {
  const auto found = index_->fields.find(id);
  if (found == index_->fields.end() || oc < 0 || static_cast<std::size_t>(oc) >= found->second.size()) return 0;
  const std::uint32_t record = found->second[static_cast<std::size_t>(oc)];
  // The stamp matched, yet the bytes may have been replaced by an edited
  // image of this very state; a record that does not fit is not used.
  if (!IsSound(record, id)) {
    Distrust();
    return 0;
  }
  return record;
}

void Block::SetMissingError() const noexcept { SetError(damaged_ ? FNOTFLD : FNOTPRES); }

std::uint32_t Block::UsedBytes() const noexcept { return Header().end - Header().holeBytes; }

bool Block::Next(FLDID32& id, FLDOCC32& oc) const noexcept {
  const auto& fields = index_->fields;
  auto field = fields.find(id);
  if (field != fields.end()) {
    const std::size_t next = oc < 0 ? 0 : static_cast<std::size_t>(oc) + 1;
    if (next < field->second.size()) {
      oc = static_cast<FLDOCC32>(next);
      return true;
    }
    ++field;
  } else {
    field = fields.upper_bound(id);
  }
  if (field == fields.end()) return false;
  id = field->first;
  oc = 0;
  return true;
}

// --- Writing --------------------------------------------------------------

void Block::Touch() noexcept {
  BlockHeader& header = Header();
  header.stamp = NewStamp();
  index_->stamp = header.stamp;
  index_->size = header.size;
  index_->end = header.end;
  index_->occurrences = header.count;
}

void Block::WriteRecord(std::uint32_t at, FLDID32 id, const void* value, std::uint32_t length) noexcept {
  unsigned char* record = base_ + at;
  Store32(record, id);
  Store32(record + 4, length);
  if (length != 0) {
    if (value != nullptr) {
      std::memmove(record + kRecordHeaderSize, value, length);
    } else {
      std::memset(record + kRecordHeaderSize, 0, length);
    }
  }
  const std::uint64_t padding = PaddedLength(length) - length;
  std::memset(record + kRecordHeaderSize + length, 0, static_cast<std::size_t>(padding));
}

void Block::WriteHole(std::uint32_t at, std::uint64_t span) noexcept {
  // Deleted values are wiped: raw images of the block get stored and sent.
  std::memset(base_ + at, 0, static_cast<std::size_t>(span));
  Store32(base_ + at + 4, static_cast<std::uint32_t>(span - kRecordHeaderSize));
}

void Block::RemoveRecordAt(std::uint32_t record) noexcept {
  BlockHeader& header = Header();
  const std::uint64_t span = RecordSpan(LengthAt(record));
  if (record + span == header.end) {
    std::memset(base_ + record, 0, static_cast<std::size_t>(span));
    header.end = record;
  } else {
    WriteHole(record, span);
    header.holeBytes += static_cast<std::uint32_t>(span);
  }
}

void Block::Compact() noexcept {
  BlockHeader& header = Header();
  std::uint32_t read = kEmptyBlockSize;
  std::uint32_t write = kEmptyBlockSize;
  while (read < header.end && header.end - read >= kRecordHeaderSize) {
    const std::uint64_t span = RecordSpan(LengthAt(read));
    if (span > header.end - read) break;
    if (Load32(base_ + read) != BADFLDID) {
      if (write != read) std::memmove(base_ + write, base_ + read, static_cast<std::size_t>(span));
      write += static_cast<std::uint32_t>(span);
    }
    read += static_cast<std::uint32_t>(span);
  }
  std::memset(base_ + write, 0, header.end - write);
  header.end = write;
  header.holeBytes = 0;
  // Physical order within a field is occurrence order, so refilling the
  // vectors in one walk restores them; their capacity suffices, nothing
  // allocates.
  for (auto& field : index_->fields) field.second.clear();
  for (std::uint32_t at = kEmptyBlockSize; at < write;) {
    const auto found = index_->fields.find(Load32(base_ + at));
    if (found != index_->fields.end() && found->second.size() < found->second.capacity()) {
      found->second.push_back(at);
    }
    at += static_cast<std::uint32_t>(RecordSpan(LengthAt(at)));
  }
  Touch();
}

bool Block::MakeRoom(std::uint64_t bytes) noexcept {
  const BlockHeader& header = Header();
  const std::uint64_t tail = header.size - header.end;
  if (tail >= bytes) return true;
  if (tail + header.holeBytes >= bytes) {
    Compact();
    return true;
  }
  SetError(FNOSPACE);
  return false;
}

namespace {

// A value that lies inside the block itself would move under compaction;
// such values are copied out first.
class StableValue {
 public:
  StableValue(const unsigned char* base, std::uint32_t size, const void* value, std::uint32_t length) {
    const auto* bytes = static_cast<const unsigned char*>(value);
    if (bytes != nullptr && length != 0 && std::less_equal<>()(base, bytes) && std::less<>()(bytes, base + size)) {
      copy_.assign(bytes, bytes + length);
      value_ = copy_.data();
    } else {
      value_ = value;
    }
  }
  const void* Get() const noexcept { return value_; }

 private:
  std::vector<unsigned char> copy_;
  const void* value_;
};

}  // namespace

bool Block::Append(FLDID32 id, const void* value, std::uint32_t length) noexcept {
  return AppendWithDefaults(id, 0, value, length);
}

bool Block::AppendWithDefaults(FLDID32 id, std::uint64_t defaults, const void* value,
                               std::uint32_t length) noexcept {
  const int type = TypeOf(id);
  const std::uint32_t defaultLength = type == FLD_STRING ? 1 : FixedLength(type);
  const std::uint64_t total = defaults * RecordSpan(defaultLength) + RecordSpan(length);
  if (defaults > Header().size || total > Header().size) {
    SetError(FNOSPACE);
    return false;
  }
  try {
    const StableValue stable(base_, Header().size, value, length);
    if (!MakeRoom(total)) return false;
    std::vector<std::uint32_t>& offsets = index_->fields[id];
    const std::size_t needed = offsets.size() + static_cast<std::size_t>(defaults) + 1;
    if (offsets.capacity() < needed) offsets.reserve(std::max(needed, 2 * offsets.capacity()));
    BlockHeader& header = Header();
    for (std::uint64_t i = 0; i <= defaults; ++i) {
      const bool last = i == defaults;
      const std::uint32_t valueLength = last ? length : defaultLength;
      WriteRecord(header.end, id, last ? stable.Get() : nullptr, valueLength);
      offsets.push_back(header.end);
      header.end += static_cast<std::uint32_t>(RecordSpan(valueLength));
      ++header.count;
    }
    Touch();
    return true;
  } catch (const std::bad_alloc&) {
    // The block is untouched (or only compacted); the index may not be.
    DropCachedIndex(base_);
    SetError(FMALLOC);
    return false;
  }
}

bool Block::Replace(FLDID32 id, FLDOCC32 oc, const void* value, std::uint32_t length) noexcept {
  std::vector<std::uint32_t>& offsets = index_->fields.find(id)->second;
  const auto slot = static_cast<std::size_t>(oc);
  BlockHeader& header = Header();
  std::uint32_t record = offsets[slot];
  const std::uint64_t oldSpan = RecordSpan(LengthAt(record));
  const std::uint64_t newSpan = RecordSpan(length);

  if (newSpan <= oldSpan) {
    WriteRecord(record, id, value, length);
    if (newSpan < oldSpan) {
      if (record + oldSpan == header.end) {
        std::memset(base_ + record + newSpan, 0, static_cast<std::size_t>(oldSpan - newSpan));
        header.end = record + static_cast<std::uint32_t>(newSpan);
      } else {
        WriteHole(record + static_cast<std::uint32_t>(newSpan), oldSpan - newSpan);
        header.holeBytes += static_cast<std::uint32_t>(oldSpan - newSpan);
      }
    }
    Touch();
    return true;
  }

  const std::uint64_t growth = newSpan - oldSpan;
  if (growth > std::uint64_t{header.size} - header.end + header.holeBytes) {
    SetError(FNOSPACE);
    return false;
  }
  try {
    const StableValue stable(base_, header.size, value, length);
    value = stable.Get();

    // The last record of the block grows in place.
    if (record + oldSpan != header.end) {
      // A hole right behind the record may take the growth.
      const std::uint32_t next = record + static_cast<std::uint32_t>(oldSpan);
      if (Load32(base_ + next) == BADFLDID) {
        const std::uint64_t holeSpan = RecordSpan(LengthAt(next));
        if (holeSpan <= header.end - next && oldSpan + holeSpan >= newSpan) {
          const std::uint64_t rest = oldSpan + holeSpan - newSpan;
          WriteRecord(record, id, value, length);
          if (rest != 0) WriteHole(record + static_cast<std::uint32_t>(newSpan), rest);
          header.holeBytes -= static_cast<std::uint32_t>(holeSpan - rest);
          Touch();
          return true;
        }
      }
      // The last occurrence of its field may move to the end of the block.
      if (slot + 1 == offsets.size() && header.size - header.end >= newSpan) {
        const std::uint32_t at = header.end;
        WriteRecord(at, id, value, length);
        header.end += static_cast<std::uint32_t>(newSpan);
        WriteHole(record, oldSpan);
        header.holeBytes += static_cast<std::uint32_t>(oldSpan);
        offsets[slot] = at;
        Touch();
        return true;
      }
    }
    if (std::uint64_t{header.size} - header.end < growth) {
      Compact();
      record = offsets[slot];
    }
    if (record + oldSpan != header.end) {
      // Move everything behind the record up; every later offset follows.
      const std::uint32_t from = record + static_cast<std::uint32_t>(oldSpan);
      std::memmove(base_ + from + growth, base_ + from, header.end - from);
      for (auto& field : index_->fields) {
        for (std::uint32_t& at : field.second) {
          if (at > record) at += static_cast<std::uint32_t>(growth);
        }
      }
    }
    header.end += static_cast<std::uint32_t>(growth);
    WriteRecord(record, id, value, length);
    Touch();
    return true;
  } catch (const std::bad_alloc&) {
    SetError(FMALLOC);
    return false;
  }
}

bool Block::Change(FLDID32 id, FLDOCC32 oc, const void* value, std::uint32_t length) noexcept {
  if (oc < -1) {
    SetError(FEINVAL);
    return false;
  }
  const FLDOCC32 count = Occurrences(id);
  if (oc == -1 || oc == count) return Append(id, value, length);
  if (oc < count) {
    if (Find(id, oc) == 0) {
      SetMissingError();
      return false;
    }
    return Replace(id, oc, value, length);
  }
  return AppendWithDefaults(id, static_cast<std::uint64_t>(oc - count), value, length);
}

bool Block::Delete(FLDID32 id, FLDOCC32 oc) noexcept {
  if (Find(id, oc) == 0) {
    SetMissingError();
    return false;
  }
  Remove(id, oc);
  return true;
}

void Block::Remove(FLDID32 id, FLDOCC32 oc) noexcept {
  const auto field = index_->fields.find(id);
  std::vector<std::uint32_t>& offsets = field->second;
  RemoveRecordAt(offsets[static_cast<std::size_t>(oc)]);
  offsets.erase(offsets.begin() + oc);
  if (offsets.empty()) index_->fields.erase(field);
  BlockHeader& header = Header();
  --header.count;
  if (header.count == 0) {
    header.end = kEmptyBlockSize;
    header.holeBytes = 0;
  }
  Touch();
}

bool Block::RemoveAll(FLDID32 id) noexcept {
  const auto field = index_->fields.find(id);
  if (field == index_->fields.end()) {
    SetError(FNOTPRES);
    return false;
  }
  const std::vector<std::uint32_t>& offsets = field->second;
  for (const std::uint32_t at : offsets) {
    if (!IsSound(at, id)) {
      Distrust();
      SetMissingError();
      return false;
    }
  }
  BlockHeader& header = Header();
  for (auto at = offsets.rbegin(); at != offsets.rend(); ++at) RemoveRecordAt(*at);
  header.count -= static_cast<std::uint32_t>(offsets.size());
  index_->fields.erase(field);
  if (header.count == 0) {
    header.end = kEmptyBlockSize;
    header.holeBytes = 0;
  }
  Touch();
  return true;
}

// --- Whole blocks -----------------------------------------------------------

void InitBlock(unsigned char* memory, std::uint32_t size) noexcept {
  DropCachedIndex(memory);
  BlockHeader header{};
  header.magic = kMagic;
  header.size = size;
  header.end = kEmptyBlockSize;
  header.stamp = NewStamp();
  std::memcpy(memory, &header, sizeof header);
}

void CopyCompacted(const Block& source, unsigned char* target, std::uint32_t targetSize) noexcept {
  DropCachedIndex(target);
  const std::uint32_t oldEnd = reinterpret_cast<const BlockHeader*>(target)->end;
  const BlockHeader& from = source.Header();
  std::uint32_t write = kEmptyBlockSize;
  if (from.holeBytes == 0) {
    std::memmove(target + write, source.Base() + kEmptyBlockSize, from.end - kEmptyBlockSize);
    write = from.end;
  } else {
    for (std::uint32_t at = kEmptyBlockSize; at < from.end;) {
      const std::uint32_t span = static_cast<std::uint32_t>(RecordSpan(source.LengthAt(at)));
      if (Load32(source.Base() + at) != BADFLDID) {
        std::memmove(target + write, source.Base() + at, span);
        write += span;
      }
      at += span;
    }
  }
  if (oldEnd > write && oldEnd <= targetSize) std::memset(target + write, 0, oldEnd - write);  // no stale values
  BlockHeader header{};
  header.magic = kMagic;
  header.size = targetSize;
  header.end = write;
  header.count = from.count;
  header.stamp = NewStamp();
  std::memcpy(target, &header, sizeof header);
}

}  // namespace Tx::Fml32Builtin
