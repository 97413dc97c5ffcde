// Sessions, transactions and unsolicited messages of the builtin domain.
#include <atmi.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "atmi_domain.h"

using namespace Tx::AtmiBuiltin;

namespace {

constexpr char kAuthService[] = "AUTHSVC";

// A name of at most MAXTIDENT characters from a fixed TPINIT field, which
// need not be terminated.
std::string IdentifierFrom(const char (&field)[MAXTIDENT + 2]) {
  const void* const end = std::memchr(field, '\0', MAXTIDENT);
  const std::size_t length =
      end == nullptr ? MAXTIDENT : static_cast<std::size_t>(static_cast<const char*>(end) - field);
  return std::string(field, length);
}

bool ValidInitFlags(long flags) {
  const long notification = flags & (TPU_SIG | TPU_DIP | TPU_IGN | TPU_THREAD);
  // At most one way of noticing unsolicited messages.
  return (notification & (notification - 1)) == 0;
}

// Checks tpinit's argument: NULL, or a TPINIT buffer whose application data
// lies inside it.
bool CheckInitBuffer(TPINIT* tpinfo) {
  if (tpinfo == nullptr) return true;
  const std::optional<BufferInfo> info = FindBuffer(reinterpret_cast<char*>(tpinfo));
  if (!info || info->kind != BufferKind::TpInit) return Refuse(TPEINVAL);
  if (MessageLength(reinterpret_cast<char*>(tpinfo), *info, 0) < 0) return Refuse(TPEINVAL);
  return ValidInitFlags(tpinfo->flags) || Refuse(TPEINVAL);
}

// Asks AUTHSVC, when advertised, whether the client may join. Returns the
// application key it grants (-1 without authentication), or nothing with
// TPEPERM set.
std::optional<long> Authenticate(TPINIT* tpinfo, long clientId) {
  const std::optional<ServiceLookup> service = FindService(kAuthService);
  if (!service) return -1L;

  const long length = tpinfo == nullptr ? TPINITNEED(0) : TPINITNEED(tpinfo->datalen);
  const Allocation copy = AllocateBuffer(BufferKind::TpInit, length);
  if (copy.data == nullptr) {
    Fail(copy.error);
    return std::nullopt;
  }
  if (tpinfo != nullptr) std::memcpy(copy.data, tpinfo, static_cast<std::size_t>(length));

  const Originator joining{MakeClientId(clientId), -1};
  const CallOutcome outcome = RunService(kAuthService, *service, OwnedBuffer(copy), length,
                                         false, nullptr, joining);
  if (outcome.error != 0) {
    Fail(TPEPERM, TPED_PERM);
    return std::nullopt;
  }
  return outcome.urcode;
}

long NewClientId() {
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  return domain.nextClientId++;
}

bool MatchesIdentifier(const char* wanted, const std::string& actual) {
  return wanted == nullptr || actual == wanted;
}

bool ValidIdentifier(const char* identifier) {
  return identifier == nullptr || std::strlen(identifier) <= MAXTIDENT;
}

// The data of a notification: nothing, or a buffer of ours and its length.
struct Payload {
  char* data = nullptr;
  BufferInfo info{};
  long length = 0;
};

bool CheckPayload(char* data, long len, Payload& payload) {
  payload = Payload{};
  if (data == nullptr) return true;
  const std::optional<BufferInfo> info = FindBuffer(data);
  if (!info) return Refuse(TPEINVAL);
  const long length = MessageLength(data, *info, len);
  if (length < 0) return Refuse(TPEINVAL);
  payload = Payload{data, *info, length};
  return true;
}

// A queued copy of the payload for one receiver. Runs under the domain's
// lock (it only allocates and copies).
bool QueueFor(ClientRecord& client, const Payload& payload) {
  if ((client.flags & TPU_IGN) != 0) return true;  // the client ignores messages
  Message message;
  if (payload.data != nullptr && payload.length > 0) {
    const Allocation copy = CopyForTransfer(payload.data, payload.info, payload.length);
    if (copy.data == nullptr) return Refuse(copy.error);
    message.data = OwnedBuffer(copy);
    message.length = payload.length;
  }
  client.queue.push_back(std::move(message));
  return true;
}

// Counts a dispatch in progress, so that the thread's state stays put while
// application code runs.
class Callout {
 public:
  explicit Callout(ThreadState& thread) : thread_(thread) { ++thread_.callouts; }
  ~Callout() { --thread_.callouts; }
  Callout(const Callout&) = delete;
  Callout& operator=(const Callout&) = delete;

 private:
  ThreadState& thread_;
};

}  // namespace

extern "C" {

int tpinit(TPINIT* tpinfo) {
  Context& context = Enter();
  if (context.isServer) return Fail(TPEPROTO);
  if (!CheckInitBuffer(tpinfo)) return -1;
  if (context.clientId != 0) {
    // Joined already: nothing to do, unless the domain has cut us off.
    bool cutOff = true;
    {
      Domain& domain = TheDomain();
      std::lock_guard lock(domain.mutex);
      const auto client = domain.clients.find(context.clientId);
      cutOff = client == domain.clients.end() || client->second.disconnected;
    }
    if (!cutOff) return 0;
    LeaveSession(context);
  }

  const long clientId = NewClientId();
  const std::optional<long> appkey = Authenticate(tpinfo, clientId);
  if (!appkey) return -1;

  ClientRecord record;
  if (tpinfo != nullptr) {
    record.usrname = IdentifierFrom(tpinfo->usrname);
    record.cltname = IdentifierFrom(tpinfo->cltname);
    record.grpname = IdentifierFrom(tpinfo->grpname);
    record.flags = tpinfo->flags;
  }
  record.appkey = *appkey;
  record.handler = ThisThread().handler;
  {
    Domain& domain = TheDomain();
    std::lock_guard lock(domain.mutex);
    domain.clients.insert_or_assign(clientId, std::move(record));
  }
  context.clientId = clientId;
  context.originator = Originator{MakeClientId(clientId), *appkey};
  return 0;
}

int tpterm(void) {
  Context& context = Enter();
  if (context.isServer) return Fail(TPEPROTO);
  if (context.clientId != 0) LeaveSession(context);
  return 0;
}

int tpchkauth(void) {
  Enter();
  return FindService(kAuthService) ? TPAPPAUTH : TPNOAUTH;
}

int tpbegin(unsigned long timeout, long flags) {
  Context& context = Enter();
  if (flags != 0) return Fail(TPEINVAL);
  if (!RequireSession(context)) return -1;
  if (context.transaction) return Fail(TPEPROTO);
  auto transaction = std::make_shared<Transaction>();
  if (timeout != 0) {
    // Beyond about 68 years a time-out is as good as none.
    constexpr unsigned long kLongest = 0x7FFFFFFFUL;
    if (timeout <= kLongest) {
      transaction->deadline = Now() + std::chrono::seconds(static_cast<long long>(timeout));
    }
  }
  context.transaction = std::move(transaction);
  context.initiator = true;
  return 0;
}

int tpcommit(long flags) {
  Context& context = Enter();
  if (flags != 0) return Fail(TPEINVAL);
  if (!RequireSession(context)) return -1;
  if (!context.transaction || !context.initiator) return Fail(TPEPROTO);
  return FinishTransaction(context, true) ? 0 : Fail(TPEABORT);
}

int tpabort(long flags) {
  Context& context = Enter();
  if (flags != 0) return Fail(TPEINVAL);
  if (!RequireSession(context)) return -1;
  if (!context.transaction || !context.initiator) return Fail(TPEPROTO);
  FinishTransaction(context, false);
  return 0;
}

int tpgetlev(void) {
  Context& context = Enter();
  if (!RequireSession(context)) return -1;
  return context.transaction ? 1 : 0;
}

void (*tpsetunsol(void (*disp)(char* data, long len, long flags)))(char* data, long len,
                                                                   long flags) {
  Context& context = Enter();
  if (context.isServer) {
    Fail(TPEPROTO);
    return TPUNSOLERR;
  }
  ThreadState& thread = ThisThread();
  const UnsolicitedHandler previous = std::exchange(thread.handler, disp);
  if (context.clientId != 0) {
    Domain& domain = TheDomain();
    std::lock_guard lock(domain.mutex);
    if (const auto client = domain.clients.find(context.clientId); client != domain.clients.end()) {
      client->second.handler = disp;
    }
  }
  return previous;
}

int tpchkunsol(void) {
  Context& context = Enter();
  if (context.isServer) return Fail(TPEPROTO);
  if (!RequireSession(context)) return -1;
  ThreadState& thread = ThisThread();
  const long clientId = context.clientId;
  int dispatched = 0;
  for (;;) {
    Message message;
    {
      Domain& domain = TheDomain();
      std::lock_guard lock(domain.mutex);
      const auto client = domain.clients.find(clientId);
      if (client == domain.clients.end() || client->second.queue.empty()) break;
      message = std::move(client->second.queue.front());
      client->second.queue.pop_front();
    }
    // The handler in force now; without one the message is dropped.
    if (thread.handler == nullptr) continue;
    const Callout callout(thread);
    thread.handler(message.data.get(), message.data ? message.length : 0, 0);
    ++dispatched;
  }
  return dispatched;
}

int tpbroadcast(char* lmid, char* usrname, char* cltname, char* data, long len, long flags) {
  Context& context = Enter();
  constexpr long kAllowed = TPNOBLOCK | TPNOTIME | TPSIGRSTRT;
  if ((flags & ~kAllowed) != 0 || !ValidIdentifier(lmid) || !ValidIdentifier(usrname) ||
      !ValidIdentifier(cltname)) {
    return Fail(TPEINVAL);
  }
  Payload payload;
  if (!CheckPayload(data, len, payload) || !RequireSession(context)) return -1;
  if (lmid != nullptr && kMachineName != lmid) return 0;  // no client on that machine

  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  for (auto& [id, client] : domain.clients) {
    if (client.disconnected || !MatchesIdentifier(usrname, client.usrname) ||
        !MatchesIdentifier(cltname, client.cltname)) {
      continue;
    }
    if (!QueueFor(client, payload)) return -1;
  }
  return 0;
}

int tpnotify(CLIENTID* clientid, char* data, long len, long flags) {
  Context& context = Enter();
  constexpr long kAllowed = TPACK | TPNOBLOCK | TPNOTIME | TPSIGRSTRT;
  if ((flags & ~kAllowed) != 0 || clientid == nullptr) return Fail(TPEINVAL);
  Payload payload;
  if (!CheckPayload(data, len, payload) || !RequireSession(context)) return -1;

  const std::optional<long> target = ClientFromId(*clientid);
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  const auto client = target ? domain.clients.find(*target) : domain.clients.end();
  if (client == domain.clients.end() || client->second.disconnected) {
    return Fail(TPENOENT, TPED_NOCLIENT);
  }
  if ((flags & TPACK) != 0 && client->second.handler == nullptr) {
    return Fail(TPENOENT, TPED_NOUNSOLHANDLER);
  }
  return QueueFor(client->second, payload) ? 0 : -1;
}

}  // extern "C"
