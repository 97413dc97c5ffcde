// The session server: the COM object that owns the connection of the
// process to the middleware (joining, authentication, leaving, unsolicited
// messages) and the client's identity. The library reaches it through the
// dual interface ITuxSession: TTxGlobalClient holds one reference, and each
// TTxClient reaches it through a TTuxSession wrapper (TuxSessionWrapper.h).
//
// Every object of the class shares one state per process: properties keep
// the last value put, whichever object it went through, and apply to the
// next Connect. The class is registered under the ProgID "QuorTuxSes"; the
// in-process implementation that comes with the platform layer is described
// in TuxSessionServer.h.
//
// Conventions of the interface: strings cross as WideString (BSTR), flags as
// VARIANT_BOOL (VARIANT_TRUE is -1), integers as 32-bit LONG. Every method
// returns an HRESULT; an out argument is left untouched on failure.
#pragma once

#include "platform/framework/Com.h"
#include "platform/framework/WideString.h"

namespace Tx {

// The COM boolean.
using VARIANT_BOOL = short;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

inline constexpr VARIANT_BOOL ToVariantBool(bool value) noexcept {
  return value ? VARIANT_TRUE : VARIANT_FALSE;
}

// How Connect joins the domain; the same numbers as TTxAuthKind.
enum TxAuthKind : LONG {
  tsakNone = 0,    // tpinit(NULL)
  tsakTPINIT = 1,  // tpinit with a TPINIT made of ClientName, UserName, Passwd, data
  tsakQuor = 2,    // the TPINIT join, then the domain's login service
};

// The class of the session server, and its ProgID. CLSID_QuorTuxSes is
// defined in the unit of the in-process server (TuxSessionServer.cpp), so a
// program that names the class also links the server and its registration.
extern const CLSID CLSID_QuorTuxSes;
inline constexpr char QuorTuxSesProgID[] = "QuorTuxSes";

struct ITuxSession : IDispatch {
  static constexpr IID Uuid = "{EE224C55-ED9D-4C22-981D-A2962E16516F}"_guid;
  using Base = IDispatch;

  // Joins the domain with the current settings (see TuxSessionServer.h).
  // On a joined session it does nothing and succeeds.
  virtual HRESULT Connect() = 0;
  // Leaves the domain; nothing to do when not joined.
  virtual HRESULT Terminate() = 0;
  // Checks a client name; *Result is 0 for a valid name.
  virtual HRESULT CheckName(const WideString& Name, LONG* Result) = 0;
  // True exactly when ATMI and FML32 calls may be made on the calling thread.
  virtual HRESULT get_Connected(VARIANT_BOOL* Value) = 0;
  // VARIANT_TRUE connects, VARIANT_FALSE terminates. The library never calls it.
  virtual HRESULT put_Connected(VARIANT_BOOL Value) = 0;

  virtual HRESULT get_UseRouter(VARIANT_BOOL* Value) = 0;
  virtual HRESULT put_UseRouter(VARIANT_BOOL Value) = 0;
  // E_INVALIDARG for a value other than 0, 1, 2 (the kind is kept).
  virtual HRESULT get_AuthKind(TxAuthKind* Value) = 0;
  virtual HRESULT put_AuthKind(TxAuthKind Value) = 0;
  virtual HRESULT get_ClientName(WideString* Value) = 0;
  virtual HRESULT put_ClientName(const WideString& Value) = 0;
  virtual HRESULT get_UserName(WideString* Value) = 0;
  virtual HRESULT put_UserName(const WideString& Value) = 0;
  virtual HRESULT get_Passwd(WideString* Value) = 0;
  virtual HRESULT put_Passwd(const WideString& Value) = 0;
  // The application data of the TPINIT.
  virtual HRESULT get_data(WideString* Value) = 0;
  virtual HRESULT put_data(const WideString& Value) = 0;
  virtual HRESULT get_QuorAppCode(WideString* Value) = 0;
  virtual HRESULT put_QuorAppCode(const WideString& Value) = 0;
  virtual HRESULT get_QuorAppLabel(WideString* Value) = 0;
  virtual HRESULT put_QuorAppLabel(const WideString& Value) = 0;
  virtual HRESULT get_QuorAppVersion(WideString* Value) = 0;
  virtual HRESULT put_QuorAppVersion(const WideString& Value) = 0;
  virtual HRESULT get_QuorAuthDLL(WideString* Value) = 0;
  virtual HRESULT put_QuorAuthDLL(const WideString& Value) = 0;
  virtual HRESULT get_QuorLoginFlags(LONG* Value) = 0;
  virtual HRESULT put_QuorLoginFlags(LONG Value) = 0;

  // What the last login (AuthKind 2) reported.
  virtual HRESULT get_QuorInfoLogin(WideString* Value) = 0;
  virtual HRESULT get_QuorInfoUnit(WideString* Value) = 0;
  virtual HRESULT get_QuorInfoRole(WideString* Value) = 0;
  virtual HRESULT get_QuorInfoAppKey(LONG* Value) = 0;
  virtual HRESULT get_QuorLoginResult(LONG* Value) = 0;

  // Reads an environment file into the process environment (EnvSection
  // chooses its section).
  virtual HRESULT ReadEnv(const WideString& FileName) = 0;
  // Delivers the unsolicited messages waiting for the client through the
  // OnBroadcast event.
  virtual HRESULT CheckUnsol() = 0;
  // A digest of Text into *Hashed, and a number into *Result.
  virtual HRESULT Hash(const WideString& Text, WideString* Hashed, LONG* Result) = 0;

  // The application server's code page (a TTxTranslateType), kept for the
  // library's TranslateString.
  virtual HRESULT get_AppServerCodePage(LONG* Value) = 0;
  virtual HRESULT put_AppServerCodePage(LONG Value) = 0;
  virtual HRESULT get_EnvSection(WideString* Value) = 0;
  virtual HRESULT put_EnvSection(const WideString& Value) = 0;

 protected:
  ~ITuxSession() = default;
};

// The events of the session server, offered through its connection point.
// Each method is one event; the number is its dispatch id.
struct ITuxSessionEvents : IUnknown {
  static constexpr IID Uuid = "{3CCC765D-243B-484E-91BC-AA87D22CD2E1}"_guid;
  using Base = IUnknown;

  // 1: a join is about to start.
  virtual HRESULT OnConnect() = 0;
  // 2: the join (and the login, for AuthKind 2) succeeded.
  virtual HRESULT OnAfterConnect() = 0;
  // 3: an unsolicited message: its data as text, its length in bytes and
  // its flags as ATMI gave them.
  virtual HRESULT OnBroadcast(const WideString& Data, LONG Len, LONG Flags) = 0;

 protected:
  ~ITuxSessionEvents() = default;
};

inline constexpr DISPID DISPID_TuxSessionOnConnect = 1;
inline constexpr DISPID DISPID_TuxSessionOnAfterConnect = 2;
inline constexpr DISPID DISPID_TuxSessionOnBroadcast = 3;

}  // namespace Tx
