#include "platform/session/TuxSessionWrapper.h"

#include "platform/framework/Dialogs.h"

namespace Tx {

namespace {

struct TComStopAtThreadEnd {
  TComStopAtThreadEnd() = default;
  TComStopAtThreadEnd(const TComStopAtThreadEnd&) = delete;
  TComStopAtThreadEnd& operator=(const TComStopAtThreadEnd&) = delete;
  ~TComStopAtThreadEnd() { CoUninitialize(); }
};

// Starts COM once per thread for the wrappers, as the framework does for its
// application thread, and stops it when the thread ends.
void StartComForWrappers() {
  thread_local bool started = false;
  if (started) return;
  started = true;
  if (SUCCEEDED(CoInitialize(nullptr))) {
    // Made after COM's own per-thread state, so it is destroyed before it.
    thread_local TComStopAtThreadEnd stop;
    static_cast<void>(stop);
  }
}

}  // namespace

// Receives the server's events for one wrapper. The wrapper detaches it
// before it goes, so a late event finds nobody and is dropped.
class TTuxSessionEventSink final : public TComObject<ITuxSessionEvents> {
 public:
  explicit TTuxSessionEventSink(TTuxSession* Owner) noexcept : FOwner(Owner) {}
  void Detach() noexcept { FOwner = nullptr; }

  HRESULT OnConnect() override { return Forward(DISPID_TuxSessionOnConnect); }
  HRESULT OnAfterConnect() override { return Forward(DISPID_TuxSessionOnAfterConnect); }
  HRESULT OnBroadcast(const WideString& Data, LONG Len, LONG Flags) override {
    return Forward(DISPID_TuxSessionOnBroadcast, Data, Len, Flags);
  }

 private:
  HRESULT Forward(DISPID id, const WideString& data = {}, LONG len = 0, LONG flags = 0) {
    if (FOwner != nullptr) FOwner->InvokeEvent(id, data, len, flags);
    return S_OK;
  }

  TTuxSession* FOwner;
};

TTuxSession::TTuxSession(TComponent* AOwner) : TComponent(AOwner) {}

TTuxSession::~TTuxSession() { DisconnectServer(); }

void TTuxSession::ConnectServer() {
  if (FServer) return;
  StartComForWrappers();
  TComInterface<ITuxSession> server;
  OleCheck(CoCreateInstance(CLSID_QuorTuxSes, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                            server));
  ConnectTo(server.get());
}

void TTuxSession::ConnectTo(ITuxSession* Server) {
  DisconnectServer();
  if (Server == nullptr) return;
  FServer = TComInterface<ITuxSession>(Server);
  Advise();
}

void TTuxSession::DisconnectServer() noexcept {
  Unadvise();
  FServer.Reset();
}

ITuxSession* TTuxSession::GetDefaultInterface() {
  ConnectServer();
  return FServer.get();
}

// A server without events is still usable; only the events are missing then.
void TTuxSession::Advise() {
  TComInterface<IConnectionPointContainer> container;
  if (FAILED(FServer.As(container))) return;
  if (FAILED(container->FindConnectionPoint(ITuxSessionEvents::Uuid,
                                            FConnectionPoint.ReleaseAndGetAddressOf()))) {
    FConnectionPoint.Reset();
    return;
  }
  auto* sink = new TTuxSessionEventSink(this);
  sink->AddRef();
  if (FAILED(FConnectionPoint->Advise(sink->Identity(), &FCookie))) {
    sink->Release();
    FConnectionPoint.Reset();
    FCookie = 0;
    return;
  }
  FSink = sink;
}

void TTuxSession::Unadvise() noexcept {
  if (FSink == nullptr) return;
  FSink->Detach();
  if (FConnectionPoint) FConnectionPoint->Unadvise(FCookie);
  FConnectionPoint.Reset();
  FSink->Release();
  FSink = nullptr;
  FCookie = 0;
}

void TTuxSession::InvokeEvent(DISPID DispID, const WideString& Data, LONG Len, LONG Flags) {
  try {
    switch (DispID) {
      case DISPID_TuxSessionOnConnect:
        if (OnConnect) OnConnect(this);
        break;
      case DISPID_TuxSessionOnAfterConnect:
        if (OnAfterConnect) OnAfterConnect(this);
        break;
      case DISPID_TuxSessionOnBroadcast:
        if (OnBroadcast) {
          WideString text = Data;  // the handler gets a text it may write to
          OnBroadcast(this, const_cast<char16_t*>(text.c_bstr()), Len, Flags);
        }
        break;
      default:
        break;
    }
  } catch (...) {
    Application->HandleException(this);
  }
}

template <class T>
T TTuxSession::Read(HRESULT (ITuxSession::*Getter)(T*), const char* Expression, const char* File,
                    int Line) {
  T value{};
  const HRESULT hr = (GetDefaultInterface()->*Getter)(&value);
  if (SUCCEEDED(hr)) return value;
  ComCheckDialog(hr, Expression, File, Line);
  return T{};
}

#define TX_SESSION_GET(getter) \
  Read(&ITuxSession::getter, "GetDefaultInterface()->" #getter "()", __FILE__, __LINE__)

HRESULT TTuxSession::Connect() { return GetDefaultInterface()->Connect(); }
HRESULT TTuxSession::Terminate() { return GetDefaultInterface()->Terminate(); }

LONG TTuxSession::CheckName(const WideString& Name) {
  LONG result = -1;
  GetDefaultInterface()->CheckName(Name, &result);
  return result;
}

HRESULT TTuxSession::ReadEnv(const WideString& FileName) {
  return GetDefaultInterface()->ReadEnv(FileName);
}

HRESULT TTuxSession::CheckUnsol() { return GetDefaultInterface()->CheckUnsol(); }

LONG TTuxSession::Hash(const WideString& Text, WideString& Hashed) {
  LONG result = 0;
  GetDefaultInterface()->Hash(Text, &Hashed, &result);
  return result;
}

bool TTuxSession::GetConnected() { return TX_SESSION_GET(get_Connected) != VARIANT_FALSE; }
bool TTuxSession::GetUseRouter() { return TX_SESSION_GET(get_UseRouter) != VARIANT_FALSE; }
HRESULT TTuxSession::SetUseRouter(bool Value) {
  return GetDefaultInterface()->put_UseRouter(ToVariantBool(Value));
}
TxAuthKind TTuxSession::GetAuthKind() { return TX_SESSION_GET(get_AuthKind); }
HRESULT TTuxSession::SetAuthKind(TxAuthKind Value) {
  return GetDefaultInterface()->put_AuthKind(Value);
}
WideString TTuxSession::GetClientName() { return TX_SESSION_GET(get_ClientName); }
HRESULT TTuxSession::SetClientName(const WideString& Value) {
  return GetDefaultInterface()->put_ClientName(Value);
}
WideString TTuxSession::GetUserName() { return TX_SESSION_GET(get_UserName); }
HRESULT TTuxSession::SetUserName(const WideString& Value) {
  return GetDefaultInterface()->put_UserName(Value);
}
WideString TTuxSession::GetPasswd() { return TX_SESSION_GET(get_Passwd); }
HRESULT TTuxSession::SetPasswd(const WideString& Value) {
  return GetDefaultInterface()->put_Passwd(Value);
}
WideString TTuxSession::Getdata() { return TX_SESSION_GET(get_data); }
HRESULT TTuxSession::Setdata(const WideString& Value) {
  return GetDefaultInterface()->put_data(Value);
}
WideString TTuxSession::GetQuorAppCode() { return TX_SESSION_GET(get_QuorAppCode); }
HRESULT TTuxSession::SetQuorAppCode(const WideString& Value) {
  return GetDefaultInterface()->put_QuorAppCode(Value);
}
WideString TTuxSession::GetQuorAppLabel() { return TX_SESSION_GET(get_QuorAppLabel); }
HRESULT TTuxSession::SetQuorAppLabel(const WideString& Value) {
  return GetDefaultInterface()->put_QuorAppLabel(Value);
}
WideString TTuxSession::GetQuorAppVersion() { return TX_SESSION_GET(get_QuorAppVersion); }
HRESULT TTuxSession::SetQuorAppVersion(const WideString& Value) {
  return GetDefaultInterface()->put_QuorAppVersion(Value);
}
WideString TTuxSession::GetQuorAuthDLL() { return TX_SESSION_GET(get_QuorAuthDLL); }
HRESULT TTuxSession::SetQuorAuthDLL(const WideString& Value) {
  return GetDefaultInterface()->put_QuorAuthDLL(Value);
}
LONG TTuxSession::GetQuorLoginFlags() { return TX_SESSION_GET(get_QuorLoginFlags); }
HRESULT TTuxSession::SetQuorLoginFlags(LONG Value) {
  return GetDefaultInterface()->put_QuorLoginFlags(Value);
}
WideString TTuxSession::GetQuorInfoLogin() { return TX_SESSION_GET(get_QuorInfoLogin); }
WideString TTuxSession::GetQuorInfoUnit() { return TX_SESSION_GET(get_QuorInfoUnit); }
WideString TTuxSession::GetQuorInfoRole() { return TX_SESSION_GET(get_QuorInfoRole); }
LONG TTuxSession::GetQuorInfoAppKey() { return TX_SESSION_GET(get_QuorInfoAppKey); }
LONG TTuxSession::GetQuorLoginResult() { return TX_SESSION_GET(get_QuorLoginResult); }
LONG TTuxSession::GetAppServerCodePage() { return TX_SESSION_GET(get_AppServerCodePage); }
HRESULT TTuxSession::SetAppServerCodePage(LONG Value) {
  return GetDefaultInterface()->put_AppServerCodePage(Value);
}
WideString TTuxSession::GetEnvSection() { return TX_SESSION_GET(get_EnvSection); }
HRESULT TTuxSession::SetEnvSection(const WideString& Value) {
  return GetDefaultInterface()->put_EnvSection(Value);
}

#undef TX_SESSION_GET

}  // namespace Tx
