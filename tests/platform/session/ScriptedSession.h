// A session server for tests: forwards to an in-process server object but
// can be told to fail its property gets, to fail its methods without
// touching their out arguments, and to leave ATMI and FML32 error state
// behind. Registered under CLSID_QuorTuxSes for the lifetime of a
// TScriptedSessionClass, hiding the in-process server's registration.
#pragma once

#include <atmi.h>
#include <fml32.h>

#include <memory>

#include "platform/framework/Com.h"
#include "platform/session/TuxSessionServer.h"

namespace Tx::Testing {

struct TSessionScript {
  bool FailGets = false;     // every get_ returns E_FAIL
  bool FailMethods = false;  // CheckName, Hash return E_NOTIMPL, out arguments untouched
  bool LeaveErrors = false;  // CheckName, Hash set tperrno, tpurcode, Ferror32
  int Created = 0;           // objects made by the factory
};

class TScriptedSession final : public TComObject<ITuxSession> {
 public:
  explicit TScriptedSession(std::shared_ptr<TSessionScript> Script)
      : FScript(std::move(Script)), FInner(CreateBuiltinSessionServer()) {}

  HRESULT GetTypeInfoCount(UINT* p) override { return FInner->GetTypeInfoCount(p); }
  HRESULT GetTypeInfo(UINT a, LCID b, void** c) override { return FInner->GetTypeInfo(a, b, c); }
  HRESULT GetIDsOfNames(REFIID a, LPOLESTR* b, UINT c, LCID d, DISPID* e) override {
    return FInner->GetIDsOfNames(a, b, c, d, e);
  }
  HRESULT Invoke(DISPID a, REFIID b, LCID c, WORD d, void* e, void* f, void* g, UINT* h) override {
    return FInner->Invoke(a, b, c, d, e, f, g, h);
  }

  HRESULT Connect() override { return FInner->Connect(); }
  HRESULT Terminate() override { return FInner->Terminate(); }
  HRESULT CheckName(const WideString& Name, LONG* Result) override {
    LeaveErrorsWhenAsked();
    return FScript->FailMethods ? E_NOTIMPL : FInner->CheckName(Name, Result);
  }
  HRESULT Hash(const WideString& Text, WideString* Hashed, LONG* Result) override {
    LeaveErrorsWhenAsked();
    return FScript->FailMethods ? E_NOTIMPL : FInner->Hash(Text, Hashed, Result);
  }
  HRESULT ReadEnv(const WideString& FileName) override { return FInner->ReadEnv(FileName); }
  HRESULT CheckUnsol() override { return FInner->CheckUnsol(); }
  HRESULT put_Connected(VARIANT_BOOL Value) override { return FInner->put_Connected(Value); }

#define TX_SCRIPTED_GET(name, type)                                \
  HRESULT get_##name(type* Value) override {                       \
    return FScript->FailGets ? E_FAIL : FInner->get_##name(Value); \
  }
#define TX_SCRIPTED_PUT(name, type) \
  HRESULT put_##name(type Value) override { return FInner->put_##name(Value); }
  TX_SCRIPTED_GET(Connected, VARIANT_BOOL)
  TX_SCRIPTED_GET(UseRouter, VARIANT_BOOL)
  TX_SCRIPTED_PUT(UseRouter, VARIANT_BOOL)
  TX_SCRIPTED_GET(AuthKind, TxAuthKind)
  TX_SCRIPTED_PUT(AuthKind, TxAuthKind)
  TX_SCRIPTED_GET(ClientName, WideString)
  TX_SCRIPTED_PUT(ClientName, const WideString&)
  TX_SCRIPTED_GET(UserName, WideString)
  TX_SCRIPTED_PUT(UserName, const WideString&)
  TX_SCRIPTED_GET(Passwd, WideString)
  TX_SCRIPTED_PUT(Passwd, const WideString&)
  TX_SCRIPTED_GET(data, WideString)
  TX_SCRIPTED_PUT(data, const WideString&)
  TX_SCRIPTED_GET(QuorAppCode, WideString)
  TX_SCRIPTED_PUT(QuorAppCode, const WideString&)
  TX_SCRIPTED_GET(QuorAppLabel, WideString)
  TX_SCRIPTED_PUT(QuorAppLabel, const WideString&)
  TX_SCRIPTED_GET(QuorAppVersion, WideString)
  TX_SCRIPTED_PUT(QuorAppVersion, const WideString&)
  TX_SCRIPTED_GET(QuorAuthDLL, WideString)
  TX_SCRIPTED_PUT(QuorAuthDLL, const WideString&)
  TX_SCRIPTED_GET(QuorLoginFlags, LONG)
  TX_SCRIPTED_PUT(QuorLoginFlags, LONG)
  TX_SCRIPTED_GET(QuorInfoLogin, WideString)
  TX_SCRIPTED_GET(QuorInfoUnit, WideString)
  TX_SCRIPTED_GET(QuorInfoRole, WideString)
  TX_SCRIPTED_GET(QuorInfoAppKey, LONG)
  TX_SCRIPTED_GET(QuorLoginResult, LONG)
  TX_SCRIPTED_GET(AppServerCodePage, LONG)
  TX_SCRIPTED_PUT(AppServerCodePage, LONG)
  TX_SCRIPTED_GET(EnvSection, WideString)
  TX_SCRIPTED_PUT(EnvSection, const WideString&)
#undef TX_SCRIPTED_GET
#undef TX_SCRIPTED_PUT

 private:
  void LeaveErrorsWhenAsked() {
    if (!FScript->LeaveErrors) return;
    tperrno = TPESYSTEM;
    tpurcode = 7;
    Ferror32 = FNOTPRES;
  }

  std::shared_ptr<TSessionScript> FScript;
  TComInterface<ITuxSession> FInner;
};

// Registers TScriptedSession as the session server class for its lifetime.
class TScriptedSessionClass {
 public:
  TScriptedSessionClass()
      : Script(std::make_shared<TSessionScript>()),
        FRegistration(
            CLSID_QuorTuxSes, QuorTuxSesProgID, CLSCTX_INPROC_SERVER,
            [script = Script](IUnknown* Outer, TComInterface<IUnknown>& Object) -> HRESULT {
              if (Outer != nullptr) return CLASS_E_NOAGGREGATION;
              ++script->Created;
              Object = TComInterface<IUnknown>((new TScriptedSession(script))->Identity());
              return S_OK;
            }) {}

  std::shared_ptr<TSessionScript> Script;

 private:
  TComClassRegistration FRegistration;
};

}  // namespace Tx::Testing
