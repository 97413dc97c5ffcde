// Control of the builtin ATMI domain, for tests of the platform and of the
// layers above it. Not part of the middleware's API: nothing in the library
// includes it, and it does not exist with the vendor platform.
//
//   Tx::AtmiBuiltin::ScopedDomain domain;          // clean domain for a test
//   tpadvertise((char*)"ECHO", Echo);
//   Tx::AtmiBuiltin::AdvanceClock(std::chrono::seconds(31));
//   Tx::AtmiBuiltin::SetServiceFault("SLOW", Tx::AtmiBuiltin::ServiceFault::NeverReplies);
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

namespace Tx::AtmiBuiltin {

// Back to the initial state: no services, no joined clients, no queued
// messages, no faults, clock offset 0, counters 0. Every thread loses its
// session, transaction, outstanding replies, unsolicited-message handler and
// error state (other threads at their next ATMI call); buffers owned by
// application code stay valid.
// Does nothing to a thread that is running a service right now; do not call
// it from inside a service or an unsolicited-message handler.
void ResetDomain() noexcept;

// Resets the domain on construction and again on destruction.
class ScopedDomain {
 public:
  ScopedDomain() noexcept { ResetDomain(); }
  ~ScopedDomain() { ResetDomain(); }
  ScopedDomain(const ScopedDomain&) = delete;
  ScopedDomain& operator=(const ScopedDomain&) = delete;
};

// The domain's clock runs with the steady clock plus an offset; moving it
// forward makes transaction time-outs expire without sleeping.
void AdvanceClock(std::chrono::milliseconds by) noexcept;
std::chrono::milliseconds ClockOffset() noexcept;

// After `skip` more successful tpalloc/tprealloc calls (any thread), the next
// one fails with `error`: TPESYSTEM, or TPEOS for "out of memory". Once.
void FailNextAllocation(int error, unsigned skip = 0) noexcept;

// While on, tpalloc("TPINIT", NULL, n) gives sizeof(TPINIT) bytes whatever n
// asks for, as some engines do; tptypes reports that size. Off again after
// ResetDomain.
void IgnoreTpinitSize(bool ignore) noexcept;

enum class ServiceFault {
  None,
  NeverReplies,    // the service does not run and no reply comes: TPETIME
                   // (also with TPNOTIME; in a transaction it becomes abort-only)
  ServiceTimeout,  // the server is killed by its service time-out:
                   // TPESVCERR with detail TPED_SVCTIMEOUT
};
// Applies to the service name whether or not it is advertised yet.
void SetServiceFault(std::string_view service, ServiceFault fault);

// Cuts every joined client off: its next call that needs the session fails
// with TPESYSTEM and detail TPED_TERM, and it is no longer joined.
void DisconnectClients() noexcept;

// Buffers allocated and not yet freed, the domain's own included (queued
// messages, replies not yet received).
std::size_t LiveBufferCount() noexcept;
std::size_t JoinedClientCount() noexcept;
// Messages waiting for the calling thread's client; 0 when not joined.
std::size_t QueuedMessageCount() noexcept;

struct TransactionCounts {
  unsigned long commits = 0;
  unsigned long aborts = 0;  // tpabort, failed commits, and rollbacks by tpterm
};
TransactionCounts CompletedTransactions() noexcept;

// The logical machine every client of the domain runs on (tpbroadcast).
inline constexpr std::string_view kMachineName = "SITE1";
// Smallest FML32 buffer; tpalloc("FML32", NULL, n) gives max(n, this) bytes.
inline constexpr long kFml32MinimumSize = 1024;

}  // namespace Tx::AtmiBuiltin
