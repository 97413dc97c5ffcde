// The in-process session server: an implementation of ITuxSession over the
// public ATMI and FML32 calls alone, so it serves the builtin domain and a
// vendor's workstation client alike.
//
// Registration. The class is registered in the COM class registry at
// program start, under CLSID_QuorTuxSes and the ProgID "QuorTuxSes", for
// in-process and local-server requests, so that TTxGlobalClient and
// TTxClient find a server without any set-up. A program that brings its own
// server registers it under the same class id (a later registration hides
// this one, e.g. with TComClassRegistration) or revokes this one first.
//
// State. Every object of the class works on one state per process: the
// properties, the last login's results and the objects to tell of events.
// Joining is per thread, as ATMI contexts are: Connected is true on the
// thread that joined through the server and whose session is still alive.
//
// Connect, by AuthKind:
//   0  tpinit(NULL);
//   1  tpinit with a TPINIT buffer: usrname = UserName, cltname =
//      ClientName, passwd = Passwd (each in Windows-1250, cut to 30 bytes,
//      MAXTIDENT), grpname empty, flags TPU_DIP, and the bytes of `data` as
//      application data (datalen = their count, no terminating zero);
//   2  the same join, then the domain's login service (LoginFields.h),
//      whose reply fills the QuorInfo properties and QuorLoginResult; a
//      refused login leaves the domain again.
// Event 1 (OnConnect) is raised before a join starts, event 2
// (OnAfterConnect) once it and the login succeeded. On a connected session
// Connect does nothing. A failed join returns E_FAIL with the thread's error
// information naming the ATMI error ("tpinit: <text>"), a refused login
// E_ACCESSDENIED ("Logowanie odrzucone, kod <result>"); ATMI's error state
// is left as the failing call set it. While joined, the server's unsolicited-message
// handler is installed (the previous handler comes back at Terminate).
//
// Unsolicited messages are delivered by CheckUnsol (tpchkunsol) as event 3
// to the sinks of every live object: a STRING buffer gives its text up to
// the first zero byte, a CARRAY or X_OCTET buffer its bytes as Windows-1250
// text, any other buffer and a message without data an empty text; the
// length and the flags are ATMI's. Without a join CheckUnsol returns S_FALSE
// and calls nothing.
//
// ReadEnv applies an environment file to the process environment; its format
// is in SessionText.h, the section is EnvSection. S_OK when every line was
// understood; E_INVALIDARG (after applying the good lines) when some were
// not; E_FAIL when the file cannot be read. The name is a Windows or a host
// path (HostPath).
//
// Hash(text) returns the SHA-256 digest of the text's Windows-1250 bytes as
// 64 lower-case hex digits, with the text's length in bytes as the number.
// CheckName(name) returns 0 for a valid client name and the code of the
// first rule broken otherwise (SessionText::CheckClientName).
//
// Initial values: UseRouter false, AuthKind 0, strings empty, QuorLoginFlags
// 0, no login (QuorLoginResult 0, QuorInfoAppKey 0), AppServerCodePage 11
// (no conversion), EnvSection empty. Neither Hash nor CheckName touches ATMI
// or FML32 error state.
#pragma once

#include "platform/framework/Com.h"
#include "platform/session/TuxSession.h"

namespace Tx {

// Registers the in-process server under CLSID_QuorTuxSes and "QuorTuxSes"
// unless it is registered already. Done at program start.
void RegisterBuiltinSessionServer();
// Removes that registration (other registrations of the class stay).
void RevokeBuiltinSessionServer() noexcept;
bool BuiltinSessionServerRegistered() noexcept;

// A scope without the in-process server registered; the registration comes
// back at its end when it was there at its start.
class TBuiltinSessionServerAbsence {
 public:
  TBuiltinSessionServerAbsence() noexcept;
  ~TBuiltinSessionServerAbsence();
  TBuiltinSessionServerAbsence(const TBuiltinSessionServerAbsence&) = delete;
  TBuiltinSessionServerAbsence& operator=(const TBuiltinSessionServerAbsence&) = delete;

 private:
  bool FWasRegistered;
};

// A new object of the in-process server, without going through the class
// registry (for servers that wrap it). Holds one reference.
TComInterface<ITuxSession> CreateBuiltinSessionServer();

// Puts the shared state back to its initial values and leaves the domain
// when the calling thread joined through the server. For tests.
void ResetBuiltinSessionServer() noexcept;

}  // namespace Tx
