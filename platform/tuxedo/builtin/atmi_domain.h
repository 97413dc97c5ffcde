// The builtin domain behind <atmi.h>: what every thread shares (services,
// joined clients with their message queues, faults, the clock) and what each
// thread has to itself (its contexts: the client, and one per service it is
// running).
//
// Locking: the domain has one mutex, held only for short bookkeeping and
// never while a service or an unsolicited-message handler runs. The buffer
// registry's mutex is taken after it, never before.
#pragma once

#include <atmi.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "atmi_buffers.h"
#include "atmi_control.h"

namespace Tx::AtmiBuiltin {

using Clock = std::chrono::steady_clock;
using ServiceFunction = void (*)(TPSVCINFO*);
using UnsolicitedHandler = void (*)(char*, long, long);

// The domain's clock: the steady clock plus the offset tests set.
Clock::time_point Now() noexcept;

struct Transaction {
  std::optional<Clock::time_point> deadline;
  bool abortOnly = false;

  bool Expired() const noexcept { return deadline && Now() >= *deadline; }
  bool Doomed() const noexcept { return abortOnly || Expired(); }
};

// How one service call ended, as its caller will see it.
struct CallOutcome {
  int error = 0;  // 0, TPESVCFAIL, TPESVCERR, TPETIME
  int detail = 0;
  long urcode = 0;
  OwnedBuffer reply;  // empty: no data
  long length = 0;
};

struct PendingReply {
  int cd = 0;
  CallOutcome outcome;
  std::shared_ptr<Transaction> transaction;  // set when sent on its behalf
};

// The client a service call originates from, handed down nested calls.
struct Originator {
  CLIENTID id{};
  long appkey = -1;
};

struct ServiceInvocation;

// One ATMI context: a thread's client, or a service running on the thread.
struct Context {
  bool isServer = false;
  int errorNumber = 0;  // tperrno
  long userCode = 0;   // tpurcode
  int detail = 0;
  long clientId = 0;  // client contexts: the joined client, 0 when not joined
  std::shared_ptr<Transaction> transaction;
  bool initiator = false;  // began `transaction` itself
  std::vector<PendingReply> pending;
  ServiceInvocation* invocation = nullptr;  // server contexts
  Originator originator;
};

struct ThreadState {
  explicit ThreadState(std::uint64_t stateGeneration) : generation(stateGeneration) {}
  ~ThreadState();
  ThreadState(const ThreadState&) = delete;
  ThreadState& operator=(const ThreadState&) = delete;

  Context& Current() noexcept { return servers.empty() ? client : *servers.back(); }

  // Application code is running below an ATMI call of this thread (a
  // service, an unsolicited-message handler): the state must stay put.
  bool Busy() const noexcept { return !servers.empty() || callouts > 0; }

  const std::uint64_t generation;
  Context client;
  std::vector<std::unique_ptr<Context>> servers;  // innermost last
  UnsolicitedHandler handler = nullptr;
  int callouts = 0;  // unsolicited-message handlers running
};

// The calling thread's state. At the start of an ATMI call (Enter) a thread
// whose state predates a domain reset gets a fresh one, unless it is busy;
// ThisThread never replaces it, so references taken in a call stay valid.
ThreadState& ThisThread();
inline Context& Current() { return ThisThread().Current(); }

// Starts an ATMI call on the current context: no error detail yet.
Context& Enter();
// Sets tperrno (and the detail) of the current context; returns -1.
int Fail(int error, int detail = 0);
// The same for checks that answer yes or no: returns false.
inline bool Refuse(int error, int detail = 0) {
  Fail(error, detail);
  return false;
}

struct Message {
  OwnedBuffer data;
  long length = 0;
};

struct ClientRecord {
  std::string usrname, cltname, grpname;
  long flags = 0;
  long appkey = -1;
  UnsolicitedHandler handler = nullptr;
  std::deque<Message> queue;
  bool disconnected = false;
};

inline constexpr std::size_t kMaxOutstandingReplies = 50;
inline constexpr std::size_t kMaxServiceDepth = 32;

// The shared part. Members are used under `mutex` only.
struct Domain {
  std::mutex mutex;
  std::map<std::string, ServiceFunction, std::less<>> services;
  std::map<std::string, ServiceFault, std::less<>> serviceFaults;
  std::map<long, ClientRecord> clients;
  long nextClientId = 1;  // never reset, so ids stay unique across resets
  std::optional<int> allocationFailure;
  unsigned allocationsBeforeFailure = 0;
  TransactionCounts counts;
};

Domain& TheDomain();
std::uint64_t Generation() noexcept;

// Identity of a joined client as tpnotify and TPSVCINFO carry it.
CLIENTID MakeClientId(long clientId) noexcept;
// The client named by `id`, if it belongs to this domain's generation.
std::optional<long> ClientFromId(const CLIENTID& id) noexcept;

// The service advertised as `name`, and the fault set for it.
struct ServiceLookup {
  ServiceFunction function = nullptr;
  ServiceFault fault = ServiceFault::None;
};
std::optional<ServiceLookup> FindService(const char* name);

// Consumes the allocation fault, if one is due: the error tpalloc/tprealloc
// must report, or 0.
int TakeAllocationFault();

// Whether tpalloc gives TPINIT buffers their fixed size only (IgnoreTpinitSize).
bool TpinitSizeIgnored() noexcept;

// Checks that the current context may talk to the domain: a server context
// always may; a client only while joined (TPEPROTO), and a client the domain
// cut off loses its session here (TPESYSTEM, TPED_TERM). Returns false with
// tperrno set.
bool RequireSession(Context& context);

// Ends the client's session: rolls back its transaction, drops its replies
// and its registration.
void LeaveSession(Context& context);

// Ends a transaction the context began; returns true when it committed.
bool FinishTransaction(Context& context, bool commit);

// Runs a service on this thread for `caller` and returns what the caller
// gets. `request` is the service's own copy of the request (may be empty).
CallOutcome RunService(std::string name, ServiceLookup service, OwnedBuffer request, long length,
                       bool noReply, const std::shared_ptr<Transaction>& transaction,
                       const Originator& originator);

}  // namespace Tx::AtmiBuiltin
