// Block validation, the per-thread index cache and the record-level
// operations every FML32 function is built from.
#include "fml32_block.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <unordered_map>

namespace Tx::Fml32Builtin {

// --- Occurrence lists ---------------------------------------------------------

void OccurrenceList::Reserve(std::size_t more) {
  if (counts_.empty()) {
    if (offsets_.capacity() - size_ < more) offsets_.reserve(std::max(size_ + more, 2 * offsets_.capacity()));
    return;
  }
  // Appends fill the last slot, then whole new slots.
  const std::size_t lastFree = kSlot - counts_.back();
  if (more <= lastFree) return;
  const std::size_t newSlots = (more - lastFree + kSlot - 1) / kSlot;
  const std::size_t slots = counts_.size() + newSlots;
  if (offsets_.capacity() < slots * kSlot) offsets_.reserve(std::max(slots * kSlot, 2 * offsets_.capacity()));
  if (counts_.capacity() < slots) counts_.reserve(std::max(slots, 2 * counts_.capacity()));
  if (tree_.capacity() < slots) tree_.reserve(std::max(slots, 2 * tree_.capacity()));
}

void OccurrenceList::PushBackSlotted(std::uint32_t offset) noexcept {
  if (counts_.back() == kSlot) {
    offsets_.resize(offsets_.size() + kSlot);
    counts_.push_back(0);
    AppendSlotToTree(0);
  }
  const std::size_t slot = counts_.size() - 1;
  offsets_[slot * kSlot + counts_[slot]] = offset;
  ++counts_[slot];
  AddToTree(slot, 1);
  ++size_;
}

void OccurrenceList::Erase(std::size_t oc) noexcept {
  if (oc + 1 == size_ && counts_.empty()) {
    offsets_.pop_back();
    direct_ = --size_;
    return;
  }
  if (counts_.empty()) {
    if (size_ <= 2 * kSlot || !CanCut()) {
      // Short lists shift; the cost is bounded like a slot's. (A long list
      // shifts too when memory for its slots ran out.)
      offsets_.erase(offsets_.begin() + static_cast<std::ptrdiff_t>(oc));
      direct_ = --size_;
      return;
    }
    CutIntoSlots();
  }
  const std::size_t position = oc < direct_ ? oc : SlottedPosition(oc);
  const std::size_t slot = position / kSlot;
  std::uint32_t* first = offsets_.data() + slot * kSlot;
  const std::size_t inSlot = position - slot * kSlot;
  std::memmove(first + inSlot, first + inSlot + 1, (counts_[slot] - inSlot - 1) * sizeof(std::uint32_t));
  --counts_[slot];
  AddToTree(slot, -1);
  --size_;
  direct_ = std::min(direct_, slot * kSlot);
  if (2 * size_ < offsets_.size()) Pack();
}

void OccurrenceList::Clear() noexcept {
  offsets_.clear();
  counts_.clear();
  tree_.clear();
  size_ = 0;
  direct_ = 0;
}

std::size_t OccurrenceList::CapacityBytes() const noexcept {
  return (offsets_.capacity() + counts_.capacity() + tree_.capacity()) * sizeof(std::uint32_t);
}

std::size_t OccurrenceList::SlottedPosition(std::size_t oc) const noexcept {
  // Descends the Fenwick tree to the slot holding the oc-th entry.
  std::size_t slot = 0;
  std::size_t rest = oc;
  for (std::size_t step = std::bit_floor(tree_.size()); step != 0; step >>= 1) {
    const std::size_t next = slot + step;
    if (next <= tree_.size() && tree_[next - 1] <= rest) {
      slot = next;
      rest -= tree_[next - 1];
    }
  }
  return slot * kSlot + rest;
}

void OccurrenceList::PrepareErase() {
  if (!counts_.empty() || size_ <= 2 * kSlot) return;
  const std::size_t slots = (size_ + kSlot - 1) / kSlot;
  offsets_.reserve(slots * kSlot);
  counts_.reserve(slots);
  tree_.reserve(slots);
}

bool OccurrenceList::CanCut() const noexcept {
  const std::size_t slots = (size_ + kSlot - 1) / kSlot;
  return offsets_.capacity() >= slots * kSlot && counts_.capacity() >= slots && tree_.capacity() >= slots;
}

void OccurrenceList::CutIntoSlots() noexcept {
  const std::size_t slots = (size_ + kSlot - 1) / kSlot;
  offsets_.resize(slots * kSlot);
  counts_.assign(slots, static_cast<std::uint32_t>(kSlot));
  counts_.back() = static_cast<std::uint32_t>(size_ - (slots - 1) * kSlot);
  tree_.assign(slots, 0);
  for (std::size_t i = 0; i < slots; ++i) {
    tree_[i] += counts_[i];
    const std::size_t parent = (i + 1) + ((i + 1) & (~(i + 1) + 1));
    if (parent <= slots) tree_[parent - 1] += tree_[i];
  }
  direct_ = size_;
}

void OccurrenceList::Pack() noexcept {
  std::size_t write = 0;
  for (std::size_t slot = 0; slot < counts_.size(); ++slot) {
    const std::uint32_t* from = offsets_.data() + slot * kSlot;
    if (write != slot * kSlot) std::memmove(offsets_.data() + write, from, counts_[slot] * sizeof(std::uint32_t));
    write += counts_[slot];
  }
  offsets_.resize(write);
  counts_.clear();
  tree_.clear();
  direct_ = size_ = write;
}

void OccurrenceList::AddToTree(std::size_t slot, std::int64_t delta) noexcept {
  for (std::size_t i = slot + 1; i <= tree_.size(); i += i & (~i + 1)) {
    tree_[i - 1] = static_cast<std::uint32_t>(static_cast<std::int64_t>(tree_[i - 1]) + delta);
  }
}

void OccurrenceList::AppendSlotToTree(std::uint32_t count) noexcept {
  // Node i covers the slots (i - lowbit(i), i]: its own count plus the
  // nodes of the sub-ranges below it.
  const std::size_t i = tree_.size() + 1;
  std::uint32_t sum = count;
  const std::size_t low = i & (~i + 1);
  for (std::size_t j = i - 1; j > i - low; j -= j & (~j + 1)) sum += tree_[j - 1];
  tree_.push_back(sum);
}

// --- Field maps ---------------------------------------------------------------

Field& FieldMap::Insert(FLDID32 id) {
  if (Field* found = Find(id)) return *found;
  if (2 * (fields_.size() + 1) > slots_.size()) Rehash(std::max<std::size_t>(16, 2 * slots_.size()));
  order_.reserve(fields_.size() + 1);
  const Field* before = fields_.data();
  fields_.emplace_back();
  if (fields_.data() != before) RenewAddresses();
  Field& field = fields_.back();
  field.id = id;
  const std::size_t position = fields_.size() - 1;
  std::size_t slot = Hash(id);
  while (slots_[slot].id != BADFLDID) slot = (slot + 1) & mask_;
  slots_[slot] = Slot{id, static_cast<std::uint32_t>(position), &field};
  if (sorted_ && (order_.empty() || fields_[order_.back()].id < id)) {
    field.rank = static_cast<std::uint32_t>(order_.size());
  } else {
    sorted_ = false;
  }
  order_.push_back(static_cast<std::uint32_t>(position));
  return field;
}

void FieldMap::Rehash(std::size_t tableSize) {
  std::vector<Slot> slots(tableSize, Slot{BADFLDID, 0, nullptr});
  slots_.swap(slots);
  table_ = slots_.data();
  mask_ = tableSize - 1;
  shift_ = 32 - static_cast<unsigned>(std::countr_zero(tableSize));
  for (std::size_t position = 0; position < fields_.size(); ++position) {
    const FLDID32 id = fields_[position].id;
    std::size_t slot = Hash(id);
    while (slots_[slot].id != BADFLDID) slot = (slot + 1) & mask_;
    slots_[slot] = Slot{id, static_cast<std::uint32_t>(position), &fields_[position]};
  }
}

void FieldMap::RenewAddresses() noexcept {
  for (Slot& slot : slots_) {
    if (slot.id != BADFLDID) slot.field = &fields_[slot.position];
  }
  walked_ = nullptr;
}

void FieldMap::SortOrder() noexcept {
  std::sort(order_.begin(), order_.end(),
            [this](std::uint32_t a, std::uint32_t b) { return fields_[a].id < fields_[b].id; });
  for (std::size_t rank = 0; rank < order_.size(); ++rank) fields_[order_[rank]].rank = static_cast<std::uint32_t>(rank);
  sorted_ = true;
}

const Field* FieldMap::FirstWithOccurrences(std::size_t rank) const noexcept {
  for (; rank < order_.size(); ++rank) {
    const Field& field = fields_[order_[rank]];
    if (!field.occurrences.Empty()) return &field;
  }
  return nullptr;
}

const Field* FieldMap::NextAfter(const Field& field) noexcept {
  if (!sorted_) SortOrder();
  return walked_ = FirstWithOccurrences(field.rank + std::size_t{1});
}

const Field* FieldMap::NextAfter(FLDID32 id) noexcept {
  if (!sorted_) SortOrder();
  const auto rank = std::upper_bound(order_.begin(), order_.end(), id,
                                     [this](FLDID32 value, std::uint32_t position) { return value < fields_[position].id; });
  return walked_ = FirstWithOccurrences(static_cast<std::size_t>(rank - order_.begin()));
}

void FieldMap::Reset() noexcept {
  fields_.clear();
  std::fill(slots_.begin(), slots_.end(), Slot{BADFLDID, 0, nullptr});
  order_.clear();
  sorted_ = true;
  walked_ = nullptr;
}

void FieldMap::Clear() noexcept {
  for (Field& field : fields_) field.occurrences.Clear();
}

std::size_t FieldMap::ApproximateBytes() const noexcept {
  std::size_t bytes = slots_.capacity() * sizeof(Slot) + order_.capacity() * sizeof(std::uint32_t) +
                      fields_.capacity() * sizeof(Field);
  for (const Field& field : fields_) bytes += field.occurrences.CapacityBytes();
  return bytes;
}

namespace {

// The cache keeps the indexes of the blocks a thread used last. Its size is
// bounded by entry count and by an estimate of their memory; the two most
// recently used entries are never evicted (a call may hold two blocks).
constexpr std::size_t kMaxCachedBlocks = 16;
constexpr std::size_t kMaxCachedBytes = std::size_t{64} << 20;
constexpr std::size_t kPinnedEntries = 2;

struct IndexCache {
  std::vector<std::unique_ptr<BlockIndex>> entries;  // most recently used first
  IndexCache() = default;
  IndexCache(const IndexCache&) = delete;
  IndexCache& operator=(const IndexCache&) = delete;
  ~IndexCache() { Detail::recent = {}; }
  void SyncFront() noexcept {
    Detail::recent.first = entries.empty() ? nullptr : entries[0].get();
    Detail::recent.second = entries.size() < 2 ? nullptr : entries[1].get();
    Detail::recent.entries = entries.data();
  }
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

constexpr std::uint64_t kStampRange = std::uint64_t{1} << 16;

bool HeaderFieldsSane(const BlockHeader& header) noexcept {
  return header.size >= kEmptyBlockSize && header.end >= kEmptyBlockSize && header.end <= header.size &&
         header.end % kBlockAlignment == 0 && header.holeBytes <= header.end - kEmptyBlockSize &&
         header.reserved == 0;
}

bool HeaderLooksSane(const unsigned char* base, const BlockHeader& header) noexcept {
  if (!HeaderFieldsSane(header)) return false;
  const std::size_t capacity = RegisteredCapacity(base);
  return capacity == 0 || header.size <= capacity;
}

BlockHeader LoadHeader(const unsigned char* at) noexcept {
  BlockHeader header;
  std::memcpy(&header, at, sizeof header);
  return header;
}

// The cached index of the block at `base`, moved to the front. `current`
// tells whether it still describes the block; a stale one is rebuilt in
// place, keeping its memory. Null when the block has none.
BlockIndex* FindCached(const unsigned char* base, const BlockHeader& header, bool& current) noexcept {
  IndexCache& cache = ThreadCache();
  auto& entries = cache.entries;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i]->address != base) continue;
    current = std::memcmp(&entries[i]->header, &header, sizeof header) == 0;
    if (i != 0) {
      std::rotate(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(i),
                  entries.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    }
    cache.SyncFront();
    return entries.front().get();
  }
  return nullptr;
}

void EraseCached(const void* block) noexcept {
  IndexCache& cache = ThreadCache();
  std::erase_if(cache.entries, [block](const std::unique_ptr<BlockIndex>& entry) { return entry->address == block; });
  cache.SyncFront();
}

BlockIndex* Remember(std::unique_ptr<BlockIndex> index) {
  IndexCache& cache = ThreadCache();
  auto& entries = cache.entries;
  entries.insert(entries.begin(), std::move(index));
  std::size_t total = 0;
  for (const auto& entry : entries) total += entry->ApproximateBytes();
  while (entries.size() > kPinnedEntries && (entries.size() > kMaxCachedBlocks || total > kMaxCachedBytes)) {
    total -= entries.back()->ApproximateBytes();
    entries.pop_back();
  }
  cache.SyncFront();
  return entries.front().get();
}

// Walks the records of the block image at `base` (header already checked
// for sanity), checking that each lies inside it and is well formed, and
// that the header's counts agree. Calls visit(id, offset) per live record
// and queues the offsets of embedded buffers (relative to `top`).
template <typename Visit>
bool WalkImage(const unsigned char* top, const unsigned char* base, const BlockHeader& header,
               std::vector<std::uint32_t>& embedded, Visit&& visit) {
  std::uint64_t holes = 0;
  std::size_t live = 0;
  std::uint32_t at = kEmptyBlockSize;
  while (at < header.end) {
    if (header.end - at < kRecordHeaderSize) return false;
    const FLDID32 id = Load32(base + at);
    const std::uint64_t span = RecordSpan(Load32(base + at + 4));
    if (span > header.end - at) return false;
    if (id == BADFLDID) {
      holes += span;
    } else {
      if (!IsWellFormedRecord(base, at, header.end)) return false;
      if (TypeOf(id) == FLD_FML32) {
        embedded.push_back(static_cast<std::uint32_t>(base - top) + at + kRecordHeaderSize);
      }
      visit(id, at);
      ++live;
    }
    at += static_cast<std::uint32_t>(span);
  }
  return holes == header.holeBytes && live == header.count;
}

// Checks every embedded buffer queued in `embedded`, and theirs in turn,
// without recursion: a crafted image may nest very deep.
bool CheckEmbedded(const unsigned char* top, std::vector<std::uint32_t>& embedded) {
  while (!embedded.empty()) {
    const unsigned char* base = top + embedded.back();
    embedded.pop_back();
    const BlockHeader header = LoadHeader(base);
    if (!HeaderFieldsSane(header)) return false;
    if (!WalkImage(top, base, header, embedded, [](FLDID32, std::uint32_t) {})) return false;
  }
  return true;
}

// Fills `index` from a full walk of the block; false for any inconsistency.
bool BuildIndex(const unsigned char* base, const BlockHeader& header, BlockIndex& index) {
  index.address = base;
  index.header = header;
  std::vector<std::uint32_t> embedded;
  FieldMap& fields = index.fields;
  const bool walked = WalkImage(base, base, header, embedded, [&fields](FLDID32 id, std::uint32_t at) {
    OccurrenceList& occurrences = fields.Insert(id).occurrences;
    occurrences.Reserve(1);
    occurrences.PushBack(at);
  });
  return walked && CheckEmbedded(base, embedded);
}

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

// --- Types ----------------------------------------------------------------

std::uint32_t DefaultLength(int type) noexcept {
  switch (type) {
    case FLD_STRING: return 1;
    case FLD_FML32: return kEmptyBlockSize;
    default: return FixedLength(type);
  }
}

// --- Stamps, capacities, cache --------------------------------------------

void Detail::TakeStampRange() noexcept {
  stamps.next = StampCounter().fetch_add(kStampRange, std::memory_order_relaxed);
  stamps.limit = stamps.next + kStampRange;
}

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
  // The entry stays, marked stale: a block rewritten at the same address
  // (Fcpy32, Finit32) gets its index rebuilt in the same memory.
  for (const auto& entry : ThreadCache().entries) {
    if (entry->address == block) entry->header.magic = 0;
  }
}

void ForgetBlock(const void* block) noexcept {
  if (block == nullptr) return;
  EraseCached(block);
  CapacityRegistry& registry = Registry();
  std::lock_guard lock(registry.mutex);
  registry.capacities.erase(block);
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
  const BlockHeader header = LoadHeader(base);
  if (header.magic != kMagic || !HeaderLooksSane(base, header)) {
    SetError(FNOTFLD);
    return false;
  }
  return true;
}

BlockIndex* Block::OpenSlowly(FBFR32* fbfr) noexcept {
  if (!CheckBlockAddress(fbfr)) return nullptr;
  auto* base = reinterpret_cast<unsigned char*>(fbfr);
  const BlockHeader header = LoadHeader(base);
  if (header.magic != kMagic) {
    SetError(FNOTFLD);
    return nullptr;
  }
  bool current = false;
  BlockIndex* cached = FindCached(base, header, current);
  if (cached != nullptr && current) return cached;
  if (!HeaderLooksSane(base, header)) {
    SetError(FNOTFLD);
    return nullptr;
  }
  try {
    if (cached != nullptr) {
      cached->fields.Reset();
      if (!BuildIndex(base, header, *cached)) {
        EraseCached(base);
        SetError(FNOTFLD);
        return nullptr;
      }
      return cached;
    }
    auto index = std::make_unique<BlockIndex>();
    if (!BuildIndex(base, header, *index)) {
      SetError(FNOTFLD);
      return nullptr;
    }
    return Remember(std::move(index));
  } catch (const std::bad_alloc&) {
    EraseCached(base);
    SetError(FMALLOC);
    return nullptr;
  }
}

// --- Reading --------------------------------------------------------------

bool Block::NextField(const Field* field, FLDID32& id, FLDOCC32& oc) const noexcept {
  FieldMap& fields = index_->fields;
  const Field* next = field != nullptr ? fields.NextAfter(*field) : fields.NextAfter(id);
  if (next == nullptr) return false;
  id = next->id;
  oc = 0;
  return true;
}

// --- Writing --------------------------------------------------------------

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
  if (TypeOf(id) == FLD_FML32) {
    // The default of an embedded buffer is an empty one.
    if (value == nullptr) {
      BlockHeader empty{};
      empty.magic = kMagic;
      empty.end = kEmptyBlockSize;
      std::memcpy(record + kRecordHeaderSize, &empty, sizeof empty);
    }
    SealEmbedded(record + kRecordHeaderSize, length);
  }
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
  // lists in one walk restores them; their memory suffices, nothing
  // allocates.
  FieldMap& fields = index_->fields;
  fields.Clear();
  for (std::uint32_t at = kEmptyBlockSize; at < write;) {
    if (Field* field = fields.Find(Load32(base_ + at))) field->occurrences.PushBack(at);
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

bool Block::AppendWithDefaults(FLDID32 id, std::uint64_t defaults, const void* value,
                               std::uint32_t length) noexcept {
  const std::uint32_t defaultLength = DefaultLength(TypeOf(id));
  const std::uint64_t total = defaults * RecordSpan(defaultLength) + RecordSpan(length);
  if (defaults > Header().size || total > std::uint64_t{Header().size} - UsedBytes()) {
    SetError(FNOSPACE);
    return false;
  }
  try {
    const StableValue stable(base_, Header().size, value, length);
    // Memory first: once the block changes, nothing may fail.
    OccurrenceList& occurrences = index_->fields.Insert(id).occurrences;
    occurrences.Reserve(static_cast<std::size_t>(defaults) + 1);
    if (!MakeRoom(total)) return false;
    BlockHeader& header = Header();
    for (std::uint64_t i = 0; i <= defaults; ++i) {
      const bool last = i == defaults;
      const std::uint32_t valueLength = last ? length : defaultLength;
      WriteRecord(header.end, id, last ? stable.Get() : nullptr, valueLength);
      occurrences.PushBack(header.end);
      header.end += static_cast<std::uint32_t>(RecordSpan(valueLength));
      ++header.count;
    }
    Touch();
    return true;
  } catch (const std::bad_alloc&) {
    SetError(FMALLOC);
    return false;
  }
}

bool Block::Replace(Field& changed, FLDOCC32 oc, std::uint32_t record, const void* value,
                    std::uint32_t length) noexcept {
  const FLDID32 id = changed.id;
  OccurrenceList& occurrences = changed.occurrences;
  const auto slot = static_cast<std::size_t>(oc);
  BlockHeader& header = Header();
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
      if (slot + 1 == occurrences.Size() && header.size - header.end >= newSpan) {
        const std::uint32_t at = header.end;
        WriteRecord(at, id, value, length);
        header.end += static_cast<std::uint32_t>(newSpan);
        WriteHole(record, oldSpan);
        header.holeBytes += static_cast<std::uint32_t>(oldSpan);
        occurrences.Set(slot, at);
        Touch();
        return true;
      }
    }
    if (std::uint64_t{header.size} - header.end < growth) {
      Compact();
      record = occurrences.At(slot);
    }
    if (record + oldSpan != header.end) {
      // Move everything behind the record up; every later offset follows.
      const std::uint32_t from = record + static_cast<std::uint32_t>(oldSpan);
      std::memmove(base_ + from + growth, base_ + from, header.end - from);
      index_->fields.ForEach([record, growth](Field& field) {
        field.occurrences.ForEach([record, growth](std::uint32_t& at) {
          if (at > record) at += static_cast<std::uint32_t>(growth);
        });
      });
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
  Field* field = index_->fields.Find(id);
  const FLDOCC32 count = field == nullptr ? 0 : static_cast<FLDOCC32>(field->occurrences.Size());
  if (oc == -1 || oc == count) return Append(id, value, length);
  if (oc < count) {
    const std::uint32_t record = FindIn(field, id, oc);
    if (record == 0) {
      SetMissingError();
      return false;
    }
    return Replace(*field, oc, record, value, length);
  }
  return AppendWithDefaults(id, static_cast<std::uint64_t>(oc - count), value, length);
}

bool Block::Delete(FLDID32 id, FLDOCC32 oc) noexcept {
  Field* field = index_->fields.Find(id);
  const std::uint32_t record = FindIn(field, id, oc);
  if (record == 0) {
    SetMissingError();
    return false;
  }
  OccurrenceList& occurrences = field->occurrences;
  try {
    occurrences.PrepareErase();
  } catch (const std::bad_alloc&) {
    // The delete still works, by shifting the whole list.
  }
  RemoveRecordAt(record);
  occurrences.Erase(static_cast<std::size_t>(oc));
  BlockHeader& header = Header();
  --header.count;
  if (header.count == 0) {
    header.end = kEmptyBlockSize;
    header.holeBytes = 0;
  }
  Touch();
  return true;
}

bool Block::RemoveAll(FLDID32 id) noexcept {
  Field* field = index_->fields.Find(id);
  if (field == nullptr || field->occurrences.Empty()) {
    SetError(FNOTPRES);
    return false;
  }
  OccurrenceList& occurrences = field->occurrences;
  bool sound = true;
  occurrences.ForEach([&](std::uint32_t& at) { sound = sound && IsSound(at, id); });
  if (!sound) {
    Distrust();
    SetMissingError();
    return false;
  }
  // Last first, so that records at the end shorten the block.
  BlockHeader& header = Header();
  for (std::size_t oc = occurrences.Size(); oc-- > 0;) RemoveRecordAt(occurrences.At(oc));
  header.count -= static_cast<std::uint32_t>(occurrences.Size());
  occurrences = OccurrenceList{};
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

bool EmbeddedRecords(const unsigned char* image, std::uint32_t length, std::vector<std::uint32_t>& records) {
  records.clear();
  const BlockHeader header = LoadHeader(image);
  if (header.magic != kMagic || header.size != length || !HeaderFieldsSane(header)) return false;
  std::vector<std::uint32_t> embedded;
  if (!WalkImage(image, image, header, embedded, [&records](FLDID32, std::uint32_t at) { records.push_back(at); })) {
    return false;
  }
  std::stable_sort(records.begin(), records.end(),
                   [image](std::uint32_t a, std::uint32_t b) { return Load32(image + a) < Load32(image + b); });
  return true;
}

void SealEmbedded(unsigned char* image, std::uint32_t length) noexcept {
  BlockHeader header = LoadHeader(image);
  header.size = length;
  header.stamp = NewStamp();
  std::memcpy(image, &header, sizeof header);
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
