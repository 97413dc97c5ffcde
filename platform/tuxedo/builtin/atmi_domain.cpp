// The builtin domain: shared state, per-thread contexts, sessions, and the
// control functions tests use.
#include "atmi_domain.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <utility>

namespace Tx::AtmiBuiltin {
namespace {

std::atomic<std::uint64_t> gGeneration{1};
std::atomic<long long> gClockOffsetMs{0};
std::atomic<bool> gTpinitSizeIgnored{false};

// Owns the thread's state; at thread exit, frees are handed to other threads
// because the FML32 engine's per-thread data may be gone already.
struct ThreadSlot {
  std::unique_ptr<ThreadState> state;
  ThreadSlot() = default;
  ThreadSlot(const ThreadSlot&) = delete;
  ThreadSlot& operator=(const ThreadSlot&) = delete;
  ~ThreadSlot() {
    DeferFreesOnThisThread();
    state.reset();
  }
};

thread_local ThreadSlot tSlot;

ThreadState& FreshState() {
  tSlot.state.reset();
  tSlot.state = std::make_unique<ThreadState>(Generation());
  return *tSlot.state;
}

}  // namespace

Clock::time_point Now() noexcept {
  return Clock::now() + std::chrono::milliseconds(gClockOffsetMs.load());
}

Domain& TheDomain() {
  // Never destroyed: threads may leave their sessions after static
  // destructors have run.
  static Domain* const domain = new Domain;
  return *domain;
}

std::uint64_t Generation() noexcept { return gGeneration.load(); }

ThreadState::~ThreadState() {
  // A state from before a reset has nothing left in the domain.
  if (generation == Generation() && client.clientId != 0) LeaveSession(client);
}

ThreadState& ThisThread() {
  if (!tSlot.state) return FreshState();
  return *tSlot.state;
}

Context& Enter() {
  ThreadState& thread = ThisThread();
  ThreadState& state =
      thread.generation != Generation() && !thread.Busy() ? FreshState() : thread;
  Context& context = state.Current();
  context.detail = 0;
  return context;
}

int Fail(int error, int detail) {
  Context& context = Current();
  context.errorNumber = error;
  context.detail = detail;
  return -1;
}

CLIENTID MakeClientId(long clientId) noexcept {
  CLIENTID id{};
  id.clientdata[0] = clientId;
  id.clientdata[1] = static_cast<long>(Generation());
  id.clientdata[2] = static_cast<long>(getpid());
  return id;
}

std::optional<long> ClientFromId(const CLIENTID& id) noexcept {
  if (id.clientdata[1] != static_cast<long>(Generation()) || id.clientdata[0] <= 0) {
    return std::nullopt;
  }
  return id.clientdata[0];
}

std::optional<ServiceLookup> FindService(const char* name) {
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  const auto service = domain.services.find(name);
  if (service == domain.services.end()) return std::nullopt;
  ServiceLookup found{service->second, ServiceFault::None};
  if (const auto fault = domain.serviceFaults.find(name); fault != domain.serviceFaults.end()) {
    found.fault = fault->second;
  }
  return found;
}

bool TpinitSizeIgnored() noexcept { return gTpinitSizeIgnored.load(); }

int TakeAllocationFault() {
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  if (!domain.allocationFailure) return 0;
  if (domain.allocationsBeforeFailure > 0) {
    --domain.allocationsBeforeFailure;
    return 0;
  }
  return std::exchange(domain.allocationFailure, std::nullopt).value();
}

bool RequireSession(Context& context) {
  if (context.isServer) return true;
  if (context.clientId == 0) return Refuse(TPEPROTO);
  bool cutOff = true;
  {
    Domain& domain = TheDomain();
    std::lock_guard lock(domain.mutex);
    const auto client = domain.clients.find(context.clientId);
    cutOff = client == domain.clients.end() || client->second.disconnected;
  }
  if (cutOff) {
    LeaveSession(context);
    return Refuse(TPESYSTEM, TPED_TERM);
  }
  return true;
}

void LeaveSession(Context& context) {
  if (context.transaction && context.initiator) FinishTransaction(context, false);
  context.transaction.reset();
  context.initiator = false;
  context.pending.clear();
  std::optional<ClientRecord> gone;  // its queued messages are freed outside the lock
  {
    Domain& domain = TheDomain();
    std::lock_guard lock(domain.mutex);
    if (auto client = domain.clients.extract(context.clientId)) gone = std::move(client.mapped());
  }
  context.clientId = 0;
  context.originator = Originator{};
}

bool FinishTransaction(Context& context, bool commit) {
  const std::shared_ptr<Transaction> transaction = std::exchange(context.transaction, nullptr);
  context.initiator = false;
  // Replies still expected on behalf of the transaction doom it, and their
  // descriptors become invalid.
  const auto firstOwn =
      std::remove_if(context.pending.begin(), context.pending.end(),
                     [&](const PendingReply& reply) { return reply.transaction == transaction; });
  const bool repliesOutstanding = firstOwn != context.pending.end();
  context.pending.erase(firstOwn, context.pending.end());

  const bool committed = commit && transaction && !transaction->Doomed() && !repliesOutstanding;
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  ++(committed ? domain.counts.commits : domain.counts.aborts);
  return committed;
}

// ---- control -------------------------------------------------------------

void ResetDomain() noexcept {
  std::map<long, ClientRecord> clients;  // freed outside the lock
  {
    Domain& domain = TheDomain();
    std::lock_guard lock(domain.mutex);
    domain.services.clear();
    domain.serviceFaults.clear();
    clients.swap(domain.clients);
    domain.allocationFailure.reset();
    domain.allocationsBeforeFailure = 0;
    domain.counts = {};
    ++gGeneration;
  }
  gClockOffsetMs.store(0);
  gTpinitSizeIgnored.store(false);
  if (tSlot.state && !tSlot.state->Busy()) FreshState();
}

void AdvanceClock(std::chrono::milliseconds by) noexcept { gClockOffsetMs += by.count(); }

std::chrono::milliseconds ClockOffset() noexcept {
  return std::chrono::milliseconds(gClockOffsetMs.load());
}

void FailNextAllocation(int error, unsigned skip) noexcept {
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  domain.allocationFailure = error;
  domain.allocationsBeforeFailure = skip;
}

void IgnoreTpinitSize(bool ignore) noexcept { gTpinitSizeIgnored.store(ignore); }

void SetServiceFault(std::string_view service, ServiceFault fault) {
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  if (fault == ServiceFault::None) {
    if (const auto found = domain.serviceFaults.find(service); found != domain.serviceFaults.end()) {
      domain.serviceFaults.erase(found);
    }
  } else {
    domain.serviceFaults.insert_or_assign(std::string(service), fault);
  }
}

void DisconnectClients() noexcept {
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  for (auto& [id, client] : domain.clients) client.disconnected = true;
}

std::size_t JoinedClientCount() noexcept {
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  return domain.clients.size();
}

std::size_t QueuedMessageCount() noexcept {
  const ThreadState& thread = ThisThread();
  if (thread.generation != Generation() || thread.client.clientId == 0) return 0;
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  const auto client = domain.clients.find(thread.client.clientId);
  return client == domain.clients.end() ? 0 : client->second.queue.size();
}

TransactionCounts CompletedTransactions() noexcept {
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  return domain.counts;
}

}  // namespace Tx::AtmiBuiltin
