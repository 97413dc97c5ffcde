// Services of the builtin domain: advertising, the dispatcher that runs a
// service in a context of its own, tpreturn/tpforward, and the calls that
// reach services (tpcall, tpacall, tpgetrply, tpcancel).
#include <atmi.h>
#include <fml32.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "atmi_domain.h"

namespace Tx::AtmiBuiltin {

// What a service said when it ended.
struct ServiceInvocation {
  enum class Ending { None, Return, Forward };
  Ending ending = Ending::None;
  bool valid = false;  // tpreturn/tpforward got acceptable arguments
  int rval = 0;
  long rcode = 0;
  OwnedBuffer data;  // the buffer handed to tpreturn/tpforward
  long length = 0;
  std::string forwardTo;
  OwnedBuffer* request = nullptr;  // the service's request copy
};

namespace {

// Thrown by tpreturn and tpforward to leave the service; deliberately not a
// std::exception, so that a service's own handlers let it pass.
struct ServiceEnd {};

// A buffer about to be sent: what it is and how many bytes travel.
struct Outgoing {
  char* data = nullptr;
  BufferInfo info{};
  long length = 0;
};

// Checks the data argument of a call. Returns false with TPEINVAL set when
// `data` is no buffer of ours or cannot be sent with `len`.
bool CheckOutgoing(char* data, long len, Outgoing& out) {
  out = Outgoing{};
  if (data == nullptr) return true;
  const std::optional<BufferInfo> info = FindBuffer(data);
  if (!info) return Refuse(TPEINVAL);
  const long length = MessageLength(data, *info, len);
  if (length < 0) return Refuse(TPEINVAL);
  out = Outgoing{data, *info, length};
  return true;
}

// The receiver's copy of an outgoing buffer (empty for no data).
bool CopyOutgoing(const Outgoing& out, OwnedBuffer& copy) {
  if (out.data == nullptr) return true;
  const Allocation allocation = CopyForTransfer(out.data, out.info, out.length);
  if (allocation.data == nullptr) return Refuse(allocation.error);
  copy = OwnedBuffer(allocation);
  return true;
}

// The transaction a call runs in (none when the caller has none or says
// TPNOTRAN). An expired transaction refuses every request except one that
// neither blocks, nor expects a reply, nor belongs to it; an abort-only one
// refuses those made on its behalf. Returns false with TPETIME set.
bool TransactionForCall(Context& context, long flags, std::shared_ptr<Transaction>& transaction) {
  transaction.reset();
  if (!context.transaction) return true;
  Transaction& current = *context.transaction;
  constexpr long kExempt = TPNOTRAN | TPNOBLOCK | TPNOREPLY;
  if (current.Expired() && (flags & kExempt) != kExempt) {
    current.abortOnly = true;
    return Refuse(TPETIME);
  }
  if ((flags & TPNOTRAN) != 0) return true;
  if (current.abortOnly) return Refuse(TPETIME);
  transaction = context.transaction;
  return true;
}

Originator OriginatorOf(const Context& context) { return context.originator; }

bool WithinDepth() {
  if (ThisThread().servers.size() < kMaxServiceDepth) return true;
  return Refuse(TPELIMIT);
}

CallOutcome Failed(int error, int detail) {
  CallOutcome outcome;
  outcome.error = error;
  outcome.detail = detail;
  return outcome;
}

void CopyName(char (&target)[XATMI_SERVICE_NAME_LENGTH], const std::string& name) {
  std::memset(target, 0, sizeof target);
  std::memcpy(target, name.data(), std::min(name.size(), sizeof target - 1));
}

// Takes the buffer a service ends with; the request copy keeps its identity.
OwnedBuffer TakeServiceBuffer(ServiceInvocation& invocation, char* data, const BufferInfo& info) {
  if (invocation.request != nullptr && invocation.request->SameAs(data, info.serial)) {
    return std::move(*invocation.request);
  }
  return OwnedBuffer(data, info.serial);
}

// Records the end of the running service. Outside a service: TPEPROTO and
// false.
bool RecordEnd(ServiceInvocation::Ending ending, int rval, long rcode, char* data, long len,
               long flags, const char* forwardTo) {
  Context& context = Enter();
  if (!context.isServer || context.invocation == nullptr) return Refuse(TPEPROTO);
  ServiceInvocation& invocation = *context.invocation;

  const std::optional<BufferInfo> info = FindBuffer(data);
  if (invocation.ending != ServiceInvocation::Ending::None) {
    // Already ended (the service caught our unwinding): the first end
    // stands, the buffer still becomes ours.
    if (info) TakeServiceBuffer(invocation, data, *info).Reset();
    return true;
  }
  invocation.ending = ending;
  invocation.rval = rval;
  invocation.rcode = rcode;
  bool valid = flags == 0;
  if (ending == ServiceInvocation::Ending::Return) {
    valid = valid && (rval == TPSUCCESS || rval == TPFAIL || rval == TPEXIT);
  } else {
    valid = valid && forwardTo != nullptr && *forwardTo != '\0';
    if (valid) invocation.forwardTo = forwardTo;
  }
  if (data != nullptr) {
    if (info) {
      invocation.length = MessageLength(data, *info, len);
      invocation.data = TakeServiceBuffer(invocation, data, *info);
      valid = valid && invocation.length >= 0;
    } else {
      valid = false;  // not a buffer of ours: neither taken nor freed
    }
  }
  invocation.valid = valid;
  return true;
}

// Puts a call's outcome where the caller asked for it: the reply into
// *data (copied when it has the same type and fits, else the old buffer is
// freed and *data replaced), its length into *len, rcode into tpurcode.
int Deliver(Context& context, CallOutcome& outcome, char** data, long* len, long flags,
            const std::shared_ptr<Transaction>& transaction) {
  if (outcome.error != 0 && outcome.error != TPESVCFAIL) {
    return Fail(outcome.error, outcome.detail);
  }
  const std::optional<BufferInfo> reply = FindBuffer(outcome.reply.get());
  if (reply && outcome.length > 0) {
    const std::optional<BufferInfo> mine = FindBuffer(*data);
    const bool sameKind = mine && mine->kind == reply->kind;
    if (!sameKind && mine && (flags & TPNOCHANGE) != 0) {
      // The reply is lost, and with it the transaction's consistency.
      if (transaction) transaction->abortOnly = true;
      return Fail(TPEOTYPE);
    }
    if (!sameKind || !CopyInto(*data, *mine, outcome.reply.get(), outcome.length)) {
      if (mine) FreeBuffer(*data, mine->serial);
      *data = outcome.reply.Release();
    }
    *len = outcome.length;
  } else {
    *len = 0;
  }
  context.userCode = outcome.urcode;
  if (outcome.error == TPESVCFAIL) return Fail(TPESVCFAIL);
  return 0;
}

int LowestFreeDescriptor(const Context& context) {
  int cd = 1;
  while (std::any_of(context.pending.begin(), context.pending.end(),
                     [cd](const PendingReply& reply) { return reply.cd == cd; })) {
    ++cd;
  }
  return cd;
}

bool ValidServiceName(const char* name) {
  return name != nullptr && *name != '\0' && std::strlen(name) < XATMI_SERVICE_NAME_LENGTH;
}

}  // namespace

CallOutcome RunService(std::string name, ServiceLookup service, OwnedBuffer request, long length,
                       bool noReply, const std::shared_ptr<Transaction>& transaction,
                       const Originator& originator) {
  for (std::size_t hop = 0;; ++hop) {
    if (service.fault == ServiceFault::NeverReplies) {
      if (transaction) transaction->abortOnly = true;
      return Failed(TPETIME, 0);
    }
    if (service.fault == ServiceFault::ServiceTimeout) {
      if (transaction) transaction->abortOnly = true;
      return Failed(TPESVCERR, TPED_SVCTIMEOUT);
    }

    ServiceInvocation invocation;
    invocation.request = &request;
    ThreadState& thread = ThisThread();
    {
      auto context = std::make_unique<Context>();
      context->isServer = true;
      context->transaction = transaction;
      context->originator = originator;
      context->invocation = &invocation;
      thread.servers.push_back(std::move(context));
    }

    TPSVCINFO info{};
    CopyName(info.name, name);
    CopyName(info.fname, name);
    info.flags = (transaction ? TPTRAN : 0) | (noReply ? TPNOREPLY : 0);
    info.data = request.get();
    info.len = request ? length : 0;
    info.appkey = originator.appkey;
    info.cltid = originator.id;

    // The service is another process as far as the caller can tell: it
    // starts without an FML32 error and leaves the caller's alone.
    const int callerFerror = Ferror32;
    Ferror32 = 0;
    try {
      service.function(&info);
    } catch (const ServiceEnd&) {
    } catch (...) {
      // An exception escaping a service is a server failure (TPESVCERR
      // below, unless it already ended with tpreturn).
    }
    Ferror32 = callerFerror;

    // What the service left behind in its own context.
    Context& served = *thread.servers.back();
    const bool leftTransactionOpen = served.transaction != nullptr && served.initiator;
    if (leftTransactionOpen) FinishTransaction(served, false);
    const bool leftTransactionalReplies =
        std::any_of(served.pending.begin(), served.pending.end(),
                    [](const PendingReply& reply) { return reply.transaction != nullptr; });
    thread.servers.pop_back();
    request.Reset();

    CallOutcome outcome;
    if (invocation.ending == ServiceInvocation::Ending::None || !invocation.valid ||
        leftTransactionOpen || leftTransactionalReplies) {
      outcome.error = TPESVCERR;
    } else if (invocation.ending == ServiceInvocation::Ending::Forward) {
      std::optional<ServiceLookup> next;
      if (hop + 1 < kMaxServiceDepth) next = FindService(invocation.forwardTo.c_str());
      if (next) {
        name = invocation.forwardTo;
        service = *next;
        request = std::move(invocation.data);
        length = invocation.length;
        continue;
      }
      outcome.error = TPESVCERR;
    } else {
      outcome.error = invocation.rval == TPSUCCESS ? 0 : TPESVCFAIL;
      outcome.urcode = invocation.rcode;
      if (!noReply) {
        outcome.reply = std::move(invocation.data);
        outcome.length = invocation.length;
      }
    }
    // A participant that fails dooms the transaction.
    if (transaction && outcome.error != 0) transaction->abortOnly = true;
    return outcome;
  }
}

}  // namespace Tx::AtmiBuiltin

using namespace Tx::AtmiBuiltin;

extern "C" {

int tpadvertise(char* svcname, void (*func)(TPSVCINFO*)) {
  Enter();
  if (!ValidServiceName(svcname) || func == nullptr) return Fail(TPEINVAL);
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  const auto [service, added] = domain.services.try_emplace(svcname, func);
  if (!added && service->second != func) return Fail(TPEMATCH);
  return 0;
}

int tpunadvertise(char* svcname) {
  Enter();
  if (!ValidServiceName(svcname)) return Fail(TPEINVAL);
  Domain& domain = TheDomain();
  std::lock_guard lock(domain.mutex);
  const auto service = domain.services.find(svcname);
  if (service == domain.services.end()) return Fail(TPENOENT);
  domain.services.erase(service);
  return 0;
}

void tpreturn(int rval, long rcode, char* data, long len, long flags) {
  if (RecordEnd(ServiceInvocation::Ending::Return, rval, rcode, data, len, flags, nullptr)) {
    throw ServiceEnd{};
  }
}

void tpforward(char* svc, char* data, long len, long flags) {
  if (RecordEnd(ServiceInvocation::Ending::Forward, 0, 0, data, len, flags, svc)) {
    throw ServiceEnd{};
  }
}

int tpcall(char* svc, char* idata, long ilen, char** odata, long* olen, long flags) {
  Context& context = Enter();
  constexpr long kAllowed = TPNOTRAN | TPNOCHANGE | TPNOBLOCK | TPNOTIME | TPSIGRSTRT;
  if ((flags & ~kAllowed) != 0 || svc == nullptr || *svc == '\0' || odata == nullptr ||
      olen == nullptr || !FindBuffer(*odata)) {
    return Fail(TPEINVAL);
  }
  Outgoing out;
  if (!CheckOutgoing(idata, ilen, out) || !RequireSession(context)) return -1;
  std::shared_ptr<Transaction> transaction;
  if (!TransactionForCall(context, flags, transaction)) return -1;
  const std::optional<ServiceLookup> service = FindService(svc);
  if (!service) return Fail(TPENOENT);
  OwnedBuffer request;
  if (!WithinDepth() || !CopyOutgoing(out, request)) return -1;

  CallOutcome outcome = RunService(svc, *service, std::move(request), out.length, false,
                                   transaction, OriginatorOf(context));
  return Deliver(context, outcome, odata, olen, flags, transaction);
}

int tpacall(char* svc, char* data, long len, long flags) {
  Context& context = Enter();
  constexpr long kAllowed = TPNOTRAN | TPNOREPLY | TPNOBLOCK | TPNOTIME | TPSIGRSTRT;
  if ((flags & ~kAllowed) != 0 || svc == nullptr || *svc == '\0') return Fail(TPEINVAL);
  Outgoing out;
  if (!CheckOutgoing(data, len, out) || !RequireSession(context)) return -1;
  const bool noReply = (flags & TPNOREPLY) != 0;
  // A transaction must see the replies of everything done on its behalf.
  if (noReply && context.transaction && (flags & TPNOTRAN) == 0) return Fail(TPEINVAL);
  std::shared_ptr<Transaction> transaction;
  if (!TransactionForCall(context, flags, transaction)) return -1;
  const std::optional<ServiceLookup> service = FindService(svc);
  if (!service) return Fail(TPENOENT);
  if (!noReply && context.pending.size() >= kMaxOutstandingReplies) return Fail(TPELIMIT);
  OwnedBuffer request;
  if (!WithinDepth() || !CopyOutgoing(out, request)) return -1;

  CallOutcome outcome = RunService(svc, *service, std::move(request), out.length, noReply,
                                   transaction, OriginatorOf(context));
  if (noReply) return 0;
  const int cd = LowestFreeDescriptor(context);
  context.pending.push_back(PendingReply{cd, std::move(outcome), transaction});
  return cd;
}

int tpgetrply(int* cd, char** data, long* len, long flags) {
  Context& context = Enter();
  constexpr long kAllowed = TPGETANY | TPNOCHANGE | TPNOBLOCK | TPNOTIME | TPSIGRSTRT;
  if ((flags & ~kAllowed) != 0 || cd == nullptr || data == nullptr || len == nullptr ||
      !FindBuffer(*data)) {
    return Fail(TPEINVAL);
  }
  if (!RequireSession(context)) return -1;
  const bool any = (flags & TPGETANY) != 0;
  const auto found =
      any ? context.pending.begin()
          : std::find_if(context.pending.begin(), context.pending.end(),
                         [cd](const PendingReply& reply) { return reply.cd == *cd; });
  if (found == context.pending.end()) return Fail(TPEBADDESC);

  // Receiving takes the descriptor, whatever the outcome.
  PendingReply reply = std::move(*found);
  context.pending.erase(found);
  if (any) *cd = reply.cd;
  if (context.transaction && context.transaction->Expired()) {
    context.transaction->abortOnly = true;
    return Fail(TPETIME);
  }
  return Deliver(context, reply.outcome, data, len, flags, reply.transaction);
}

int tpcancel(int cd) {
  Context& context = Enter();
  if (!RequireSession(context)) return -1;
  const auto found =
      std::find_if(context.pending.begin(), context.pending.end(),
                   [cd](const PendingReply& reply) { return reply.cd == cd; });
  if (found == context.pending.end()) return Fail(TPEBADDESC);
  if (found->transaction) return Fail(TPETRAN);
  context.pending.erase(found);
  return 0;
}

}  // extern "C"
