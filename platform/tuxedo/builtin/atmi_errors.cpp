// Error state and error texts of the builtin ATMI.
#include <atmi.h>

#include <iterator>

#include "atmi_domain.h"

using namespace Tx::AtmiBuiltin;

namespace {

// Indexed by tperrno.
constexpr const char* kErrorTexts[] = {
    "no error",
    "TPEABORT: the transaction was rolled back instead of committed",
    "TPEBADDESC: no outstanding call with this descriptor",
    "TPEBLOCK: the call would have to wait, and TPNOBLOCK was given",
    "TPEINVAL: invalid argument",
    "TPELIMIT: a limit of the domain has been reached",
    "TPENOENT: no such service, buffer type or client",
    "TPEOS: the operating system failed the request (out of memory)",
    "TPEPERM: the client was refused permission to join",
    "TPEPROTO: the call is not allowed in the caller's current state",
    "TPESVCERR: the service failed to return properly",
    "TPESVCFAIL: the service returned failure",
    "TPESYSTEM: internal error of the domain",
    "TPETIME: timed out",
    "TPETRAN: the transaction cannot be started or joined",
    "TPGOTSIG: interrupted by a signal",
    "TPERMERR: a resource manager failed",
    "TPEITYPE: the service does not accept this buffer type",
    "TPEOTYPE: the reply's buffer type is not accepted",
    "TPERELEASE: incompatible software release",
    "TPEHAZARD: the transaction may have been completed in part",
    "TPEHEURISTIC: the transaction was committed in part and rolled back in part",
    "TPEEVENT: an event occurred on the conversation",
    "TPEMATCH: the service is already advertised with another function",
    "TPEDIAGNOSTIC: the queue operation failed; see its diagnostic",
    "TPEMIB: the management information base request failed",
};
static_assert(std::size(kErrorTexts) == TPMAXVAL);

// Indexed by tperrordetail.
constexpr const char* kDetailTexts[] = {
    "",
    "TPED_SVCTIMEOUT: the server was stopped by its service time-out",
    "TPED_TERM: the client has been disconnected from the domain",
    "TPED_NOUNSOLHANDLER: the client has no unsolicited-message handler",
    "TPED_NOCLIENT: no such client",
    "TPED_DOMAINUNREACHABLE: the remote domain cannot be reached",
    "TPED_CLIENTDISCONNECTED: the client is not connected",
    "TPED_PERM: authentication refused the client",
    "TPED_OTS_INTERNAL: internal error of the transaction service",
    "TPED_INVALID_CERTIFICATE: invalid certificate",
    "TPED_INVALID_SIGNATURE: invalid signature",
    "TPED_DECRYPTION_FAILURE: the message could not be decrypted",
    "TPED_INVALIDCONTEXT: the context is not valid",
    "TPED_INVALID_XA_TRANSACTION: invalid XA transaction",
};
static_assert(std::size(kDetailTexts) == TPED_MAXVAL);

char* Text(const char* text) { return const_cast<char*>(text); }

}  // namespace

extern "C" {

int* tperrno_location(void) { return &Current().errorNumber; }

long* tpurcode_location(void) { return &Current().userCode; }

char* tpstrerror(int err) {
  if (err < 0 || err >= TPMAXVAL) return Text("unknown ATMI error");
  return Text(kErrorTexts[err]);
}

int tperrordetail(long flags) {
  if (flags != 0) return Fail(TPEINVAL);
  return Current().detail;
}

char* tpstrerrordetail(int err, long flags) {
  if (flags != 0) {
    Fail(TPEINVAL);
    return nullptr;
  }
  if (err < 0 || err >= TPED_MAXVAL) return Text("unknown ATMI error detail");
  return Text(kDetailTexts[err]);
}

}  // extern "C"
