// Typed buffers of the builtin ATMI: the registry of every block that tpalloc
// (or the domain itself) handed out, the rules of each buffer type, and the
// copies a message makes on its way between contexts.
//
// A pointer is a buffer only if the registry knows it, so foreign pointers
// are recognised without reading the memory around them. The registry keeps
// addresses in a disguised form: a buffer that nobody frees is then still
// reported by the leak checker instead of looking reachable through us.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace Tx::AtmiBuiltin {

enum class BufferKind { Fml32, String, Carray, XOctet, TpInit };

struct BufferInfo {
  BufferKind kind;
  long size;             // bytes allocated (Fsizeof32 for FML32)
  std::uint64_t serial;  // unique per allocation, never reused
};

// A new buffer, or the ATMI error number that prevented it.
struct Allocation {
  char* data = nullptr;
  int error = 0;
};

// The largest buffer of any type, in bytes.
inline constexpr long kMaxBufferSize = 2147483647L;
inline constexpr long kFml32DefaultSize = 1024;
inline constexpr long kStringDefaultSize = 512;

// The kind named by the first 8 bytes of `type`, if the domain knows it.
std::optional<BufferKind> KindFromTypeName(const char* type) noexcept;
const char* TypeName(BufferKind kind) noexcept;

// The size a request for `requested` bytes gets, or nothing when the request
// is invalid for the kind (negative, too large, 0 for CARRAY).
std::optional<long> EffectiveSize(BufferKind kind, long requested) noexcept;

// Allocates, initialises (FML32: an empty buffer of the whole size; other
// kinds: zero bytes) and registers a buffer of EffectiveSize(kind, size).
Allocation AllocateBuffer(BufferKind kind, long size) noexcept;

// Resizes a registered buffer keeping its contents; on failure the old
// buffer is untouched. TPEINVAL for unknown pointers, bad sizes and sizes
// that cannot hold the contents.
Allocation ReallocateBuffer(char* data, long size) noexcept;

std::optional<BufferInfo> FindBuffer(const char* data) noexcept;

// Frees a registered buffer; with `serial`, only if the block at `data` is
// still that allocation (a service may have freed and reused the address).
// Returns false when nothing was freed.
bool FreeBuffer(char* data, std::optional<std::uint64_t> serial = std::nullopt) noexcept;

std::size_t LiveBufferCount() noexcept;

// From now on this thread only queues its frees; another thread releases
// the blocks later. Called while the thread's own state is being torn down
// at thread exit, when the FML32 engine's per-thread data may already be
// gone.
void DeferFreesOnThisThread() noexcept;

// The number of bytes a message carries for `data` (the caller's `len` is
// used by the kinds that need it): Fused32 for FML32, the text with its NUL
// for STRING, `len` for CARRAY/X_OCTET, TPINITNEED(datalen) for TPINIT.
// -1 when the buffer or `len` is not valid for sending.
long MessageLength(const char* data, const BufferInfo& info, long len) noexcept;

// The receiving side's own copy of a message: a new registered buffer of
// the same kind holding the first `length` bytes (FML32: the whole buffer,
// in a block as large as the sender's).
Allocation CopyForTransfer(const char* data, const BufferInfo& info, long length) noexcept;

// Copies a message into an existing buffer of the same kind when it fits.
// Returns false (and leaves `dest` alone) when it does not.
bool CopyInto(char* dest, const BufferInfo& destInfo, const char* src, long length) noexcept;

// Ownership of a buffer the domain holds (a request copy, a reply, a queued
// message). Freed on destruction unless released; the serial check makes a
// buffer that application code freed behind the domain's back harmless.
class OwnedBuffer {
 public:
  OwnedBuffer() = default;
  OwnedBuffer(char* data, std::uint64_t serial) noexcept : data_(data), serial_(serial) {}
  explicit OwnedBuffer(const Allocation& allocation) noexcept;
  OwnedBuffer(OwnedBuffer&& other) noexcept;
  OwnedBuffer& operator=(OwnedBuffer&& other) noexcept;
  OwnedBuffer(const OwnedBuffer&) = delete;
  OwnedBuffer& operator=(const OwnedBuffer&) = delete;
  ~OwnedBuffer() { Reset(); }

  char* get() const noexcept { return data_; }
  std::uint64_t serial() const noexcept { return serial_; }
  explicit operator bool() const noexcept { return data_ != nullptr; }
  bool SameAs(const char* data, std::uint64_t serial) const noexcept {
    return data_ == data && serial_ == serial;
  }
  // Gives up ownership without freeing.
  char* Release() noexcept;
  void Reset() noexcept;

 private:
  char* data_ = nullptr;
  std::uint64_t serial_ = 0;
};

// Keeps the caller's Ferror32 across the domain's own FML32 calls.
class FerrorKeeper {
 public:
  FerrorKeeper() noexcept;
  ~FerrorKeeper();
  FerrorKeeper(const FerrorKeeper&) = delete;
  FerrorKeeper& operator=(const FerrorKeeper&) = delete;

 private:
  int saved_;
};

}  // namespace Tx::AtmiBuiltin
