// Typed buffers of the builtin ATMI: registry, type rules and message copies.
#include "atmi_buffers.h"

#include <atmi.h>
#include <fml32.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fml32_internal.h"

namespace Tx::AtmiBuiltin {
namespace {

// Addresses are stored XOR-ed with this, so that the registry does not hold
// anything that looks like a pointer to the blocks it describes.
constexpr std::uintptr_t kDisguise = 0x5AC3'96E1'0F7B'D24DULL;

std::uintptr_t KeyOf(const void* data) {
  return reinterpret_cast<std::uintptr_t>(data) ^ kDisguise;
}

thread_local bool tDeferFrees = false;

// Freed big blocks, kept for the next tpalloc of a similar size.
//
// A buffer that grows by allocating a bigger one and copying (as a typed
// buffer must, since its address may change) gets fresh memory from the
// system at every step once it is big, and the system returns that memory
// when the smaller block is freed. Every page of every step is then faulted
// in anew, which at a few hundred kilobytes and up costs more than the
// copying itself. Keeping the last few freed big blocks lets the next
// buffer of about the same size reuse pages that are already mapped, so
// building big buffers again and again costs the same per value as building
// small ones. What is kept is bounded (kMostBlocks blocks, kMostBytes in all,
// the oldest given back first) and only blocks of kLeastBytes and more are
// kept: small ones are cheap for malloc anyway.
class SpareBlocks {
 public:
  static constexpr std::size_t kLeastBytes = 128 * 1024;
  static constexpr std::size_t kMostBytes = 64 * 1024 * 1024;
  static constexpr std::size_t kMostBlocks = 8;

  // A kept block of at least `size` bytes and not more than twice that, its
  // first `size` bytes zeroed as calloc would; nullptr when none fits.
  char* Take(std::size_t size) noexcept {
    if (size < kLeastBytes) return nullptr;
    char* data = nullptr;
    {
      std::lock_guard lock(mutex_);
      std::size_t best = kMostBlocks;
      for (std::size_t i = 0; i < count_; ++i) {
        const std::size_t capacity = blocks_[i].capacity;
        if (capacity >= size && capacity / 2 <= size &&
            (best == kMostBlocks || capacity < blocks_[best].capacity))
          best = i;
      }
      if (best == kMostBlocks) return nullptr;
      data = blocks_[best].data;
      keptBytes_ -= blocks_[best].capacity;
      RemoveAt(best);
    }
    std::memset(data, 0, size);
    return data;
  }

  // Keeps `data` (a malloc block) for reuse, or frees it; blocks pushed out
  // to make room are freed.
  void Keep(char* data) noexcept {
    const std::size_t capacity = malloc_usable_size(data);
    if (capacity < kLeastBytes || capacity > kMostBytes) {
      std::free(data);
      return;
    }
    char* pushedOut[kMostBlocks];
    std::size_t pushed = 0;
    {
      std::lock_guard lock(mutex_);
      while (count_ > 0 && (count_ == kMostBlocks || keptBytes_ + capacity > kMostBytes)) {
        pushedOut[pushed++] = blocks_[0].data;
        keptBytes_ -= blocks_[0].capacity;
        RemoveAt(0);
      }
      blocks_[count_++] = Spare{data, capacity};
      keptBytes_ += capacity;
    }
    for (std::size_t i = 0; i < pushed; ++i) std::free(pushedOut[i]);
  }

 private:
  struct Spare {
    char* data;
    std::size_t capacity;
  };

  // Keeps the order of the rest: the oldest block is always first.
  void RemoveAt(std::size_t index) noexcept {
    for (std::size_t i = index + 1; i < count_; ++i) blocks_[i - 1] = blocks_[i];
    --count_;
  }

  std::mutex mutex_;
  Spare blocks_[kMostBlocks] = {};
  std::size_t count_ = 0;
  std::size_t keptBytes_ = 0;
};

// Never destroyed, like the registry below.
SpareBlocks& Spares() {
  static SpareBlocks* const spares = new SpareBlocks;
  return *spares;
}

// Blocks are released outside the registry's lock: the FML32 engine is told
// first, and free() needs no lock of ours.
void ReleaseBlock(char* data, BufferKind kind) noexcept {
  if (kind == BufferKind::Fml32) Fml32Builtin::ForgetBlock(data);
  Spares().Keep(data);
}

// A zeroed block of `size` bytes: a kept spare when one fits.
char* ZeroedBlock(std::size_t size) noexcept {
  if (char* const spare = Spares().Take(size)) return spare;
  return static_cast<char*>(std::calloc(size, 1));
}

struct Deferred {
  char* data;
  BufferKind kind;
};

class Registry {
 public:
  std::uint64_t Add(const char* data, BufferKind kind, long size) {
    std::lock_guard lock(mutex_);
    const std::uint64_t serial = nextSerial_++;
    entries_.insert_or_assign(KeyOf(data), BufferInfo{kind, size, serial});
    return serial;
  }

  std::optional<BufferInfo> Find(const char* data) {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(KeyOf(data));
    if (it == entries_.end()) return std::nullopt;
    return it->second;
  }

  // Unregisters and returns the entry, if `data` is registered (and is the
  // allocation `serial`, when given).
  std::optional<BufferInfo> Remove(const char* data, std::optional<std::uint64_t> serial) {
    std::lock_guard lock(mutex_);
    const auto it = entries_.find(KeyOf(data));
    if (it == entries_.end()) return std::nullopt;
    if (serial && it->second.serial != *serial) return std::nullopt;
    const BufferInfo info = it->second;
    entries_.erase(it);
    return info;
  }

  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }

  void Defer(char* data, BufferKind kind) {
    std::lock_guard lock(mutex_);
    deferred_.push_back({data, kind});
  }

  std::vector<Deferred> TakeDeferred() {
    std::lock_guard lock(mutex_);
    return std::exchange(deferred_, {});
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::uintptr_t, BufferInfo> entries_;
  std::vector<Deferred> deferred_;
  std::uint64_t nextSerial_ = 1;
};

// Never destroyed: buffers may be freed from thread-exit code after static
// destructors would have run.
Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

void ReleaseDeferredBlocks() noexcept {
  if (tDeferFrees) return;
  for (const Deferred& block : TheRegistry().TakeDeferred()) ReleaseBlock(block.data, block.kind);
}

FBFR32* AsFbfr(const char* data) {
  return reinterpret_cast<FBFR32*>(const_cast<char*>(data));
}

// Registers a block that is already initialised for its kind.
Allocation Register(char* data, BufferKind kind, long size) {
  try {
    TheRegistry().Add(data, kind, size);
  } catch (...) {  // the registry could not grow
    std::free(data);
    return {nullptr, TPEOS};
  }
  return {data, 0};
}

// A zeroed block of `size` bytes, initialised for `kind`.
Allocation NewBlock(BufferKind kind, long size) {
  char* const data = ZeroedBlock(static_cast<std::size_t>(size));
  if (data == nullptr) return {nullptr, TPEOS};
  if (kind == BufferKind::Fml32) {
    Fml32Builtin::NoteBlockCapacity(data, static_cast<std::size_t>(size));
    if (Finit32(AsFbfr(data), static_cast<FLDLEN32>(size)) == -1) {
      ReleaseBlock(data, kind);
      return {nullptr, TPESYSTEM};
    }
  }
  return {data, 0};
}

}  // namespace

std::optional<BufferKind> KindFromTypeName(const char* type) noexcept {
  if (type == nullptr) return std::nullopt;
  // Only the first 8 bytes of a type name count.
  char name[9] = {};
  std::strncpy(name, type, 8);
  static constexpr std::pair<const char*, BufferKind> kKinds[] = {
      {"FML32", BufferKind::Fml32},   {"STRING", BufferKind::String},
      {"CARRAY", BufferKind::Carray}, {"X_OCTET", BufferKind::XOctet},
      {"TPINIT", BufferKind::TpInit},
  };
  for (const auto& [typeName, kind] : kKinds) {
    if (std::strcmp(name, typeName) == 0) return kind;
  }
  return std::nullopt;
}

const char* TypeName(BufferKind kind) noexcept {
  switch (kind) {
    case BufferKind::Fml32: return "FML32";
    case BufferKind::String: return "STRING";
    case BufferKind::Carray: return "CARRAY";
    case BufferKind::XOctet: return "X_OCTET";
    case BufferKind::TpInit: return "TPINIT";
  }
  return "";
}

std::optional<long> EffectiveSize(BufferKind kind, long requested) noexcept {
  if (requested < 0 || requested > kMaxBufferSize) return std::nullopt;
  switch (kind) {
    case BufferKind::Fml32: return std::max(requested, kFml32DefaultSize);
    case BufferKind::String: return std::max(requested, kStringDefaultSize);
    case BufferKind::Carray:
    case BufferKind::XOctet:
      if (requested == 0) return std::nullopt;
      return requested;
    case BufferKind::TpInit: return std::max(requested, static_cast<long>(sizeof(TPINIT)));
  }
  return std::nullopt;
}

Allocation AllocateBuffer(BufferKind kind, long size) noexcept {
  ReleaseDeferredBlocks();
  const std::optional<long> effective = EffectiveSize(kind, size);
  if (!effective) return {nullptr, TPEINVAL};
  const FerrorKeeper keeper;
  const Allocation block = NewBlock(kind, *effective);
  if (block.data == nullptr) return block;
  return Register(block.data, kind, *effective);
}

Allocation ReallocateBuffer(char* data, long size) noexcept {
  ReleaseDeferredBlocks();
  const std::optional<BufferInfo> old = FindBuffer(data);
  if (!old) return {nullptr, TPEINVAL};
  const std::optional<long> effective = EffectiveSize(old->kind, size);
  if (!effective) return {nullptr, TPEINVAL};

  const FerrorKeeper keeper;
  const Allocation block = NewBlock(old->kind, *effective);
  if (block.data == nullptr) return block;
  if (old->kind == BufferKind::Fml32) {
    // A fresh empty buffer of the new size, then the fields: the result is
    // a valid buffer of exactly that size, or nothing when they do not fit.
    if (Fcpy32(AsFbfr(block.data), AsFbfr(data)) == -1) {
      ReleaseBlock(block.data, BufferKind::Fml32);
      return {nullptr, TPEINVAL};
    }
  } else {
    std::memcpy(block.data, data, static_cast<std::size_t>(std::min(old->size, *effective)));
  }
  const Allocation added = Register(block.data, old->kind, *effective);
  if (added.data == nullptr) return added;
  FreeBuffer(data, old->serial);
  return added;
}

std::optional<BufferInfo> FindBuffer(const char* data) noexcept {
  if (data == nullptr) return std::nullopt;
  return TheRegistry().Find(data);
}

bool FreeBuffer(char* data, std::optional<std::uint64_t> serial) noexcept {
  if (data == nullptr) return false;
  const std::optional<BufferInfo> info = TheRegistry().Remove(data, serial);
  if (!info) return false;
  if (tDeferFrees) {
    try {
      TheRegistry().Defer(data, info->kind);
    } catch (...) {
      // Could not queue it: keeping the block is better than touching the
      // FML32 engine of an exiting thread.
    }
    return true;
  }
  ReleaseBlock(data, info->kind);
  ReleaseDeferredBlocks();
  return true;
}

std::size_t LiveBufferCount() noexcept {
  ReleaseDeferredBlocks();
  return TheRegistry().Count();
}

void DeferFreesOnThisThread() noexcept { tDeferFrees = true; }

long MessageLength(const char* data, const BufferInfo& info, long len) noexcept {
  switch (info.kind) {
    case BufferKind::Fml32: {
      const FerrorKeeper keeper;
      return Fused32(AsFbfr(data));
    }
    case BufferKind::String: {
      const void* const end = std::memchr(data, '\0', static_cast<std::size_t>(info.size));
      if (end == nullptr) return -1;  // no terminator inside the buffer
      return static_cast<const char*>(end) - data + 1;
    }
    case BufferKind::Carray:
    case BufferKind::XOctet:
      if (len < 0 || len > info.size) return -1;
      return len;
    case BufferKind::TpInit: {
      const auto* init = reinterpret_cast<const TPINIT*>(data);
      const long dataOffset = static_cast<long>(offsetof(TPINIT, data));
      if (init->datalen < 0 || init->datalen > info.size - dataOffset) return -1;
      return std::min(info.size, static_cast<long>(TPINITNEED(init->datalen)));
    }
  }
  return -1;
}

Allocation CopyForTransfer(const char* data, const BufferInfo& info, long length) noexcept {
  if (info.kind == BufferKind::Fml32) {
    const Allocation copy = AllocateBuffer(BufferKind::Fml32, info.size);
    if (copy.data == nullptr) return copy;
    const FerrorKeeper keeper;
    if (Fcpy32(AsFbfr(copy.data), AsFbfr(data)) == -1) {
      FreeBuffer(copy.data);
      return {nullptr, TPESYSTEM};
    }
    return copy;
  }
  const Allocation copy = AllocateBuffer(info.kind, std::max(length, 1L));
  if (copy.data != nullptr) std::memcpy(copy.data, data, static_cast<std::size_t>(length));
  return copy;
}

bool CopyInto(char* dest, const BufferInfo& destInfo, const char* src, long length) noexcept {
  if (length > destInfo.size) return false;
  if (destInfo.kind == BufferKind::Fml32) {
    const FerrorKeeper keeper;
    return Fcpy32(AsFbfr(dest), AsFbfr(src)) != -1;
  }
  std::memmove(dest, src, static_cast<std::size_t>(length));
  return true;
}

OwnedBuffer::OwnedBuffer(const Allocation& allocation) noexcept {
  if (allocation.data == nullptr) return;
  if (const std::optional<BufferInfo> info = FindBuffer(allocation.data)) {
    data_ = allocation.data;
    serial_ = info->serial;
  }
}

OwnedBuffer::OwnedBuffer(OwnedBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), serial_(std::exchange(other.serial_, 0)) {}

OwnedBuffer& OwnedBuffer::operator=(OwnedBuffer&& other) noexcept {
  if (this != &other) {
    Reset();
    data_ = std::exchange(other.data_, nullptr);
    serial_ = std::exchange(other.serial_, 0);
  }
  return *this;
}

char* OwnedBuffer::Release() noexcept {
  serial_ = 0;
  return std::exchange(data_, nullptr);
}

void OwnedBuffer::Reset() noexcept {
  if (data_ != nullptr) FreeBuffer(data_, serial_);
  data_ = nullptr;
  serial_ = 0;
}

FerrorKeeper::FerrorKeeper() noexcept : saved_(Ferror32) {}
FerrorKeeper::~FerrorKeeper() { Ferror32 = saved_; }

}  // namespace Tx::AtmiBuiltin
