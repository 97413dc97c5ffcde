// TTuxSession: the component wrapper of the session server, in the manner
// of the framework's generated server wrappers. It links to a server object
// on first use (or through ConnectTo), forwards properties and methods to
// it, and turns the server's events into closures.
//
// Linking. The first member that needs the server creates an object of
// CLSID_QuorTuxSes (in-process or local server) and connects the wrapper to
// its events. COM is started once on each thread that links a wrapper
// (CoInitialize, undone when the thread ends), as the framework does for its
// application thread. A class that cannot be created raises EOleSysError
// with the code (e.g. "Class not registered").
//
// Results. Puts and methods return the server's HRESULT, which callers may
// ignore. A failing get goes through the framework's COM check dialog
// (ComCheckDialog): Yes raises EOleSysError, No goes on with 0, false or an
// empty text.
//
// Events, by dispatch id: 1 OnConnect(Sender), 2 OnAfterConnect(Sender),
// 3 OnBroadcast(Sender, data, len, flags). Sender is the wrapper; data is a
// zero-terminated UTF-16 text, never nullptr (an empty message gives ""),
// valid while the handler runs. An exception that a handler lets out goes
// to Application->HandleException, as in the framework's event loop, and
// does not reach the server.
#pragma once

#include "platform/framework/Classes.h"
#include "platform/framework/Com.h"
#include "platform/framework/WideString.h"
#include "platform/session/TuxSession.h"

namespace Tx {

// The handler of OnBroadcast. The text is the framework's wide text (UTF-16).
using TTuxSessionBroadcastEvent =
    TClosure<void(TObject* Sender, char16_t* Data, long Len, long Flags)>;

class TTuxSessionEventSink;

class TTuxSession : public TComponent {
 public:
  explicit TTuxSession(TComponent* AOwner);
  // Disconnects from the server's events and releases it; never raises.
  ~TTuxSession() override;

  // ---- The link to the server ----
  // Creates and links a server object unless linked already; EOleSysError
  // when it cannot be created.
  void ConnectServer();
  // Links to an existing server object instead (nullptr only unlinks).
  void ConnectTo(ITuxSession* Server);
  // Drops the link and the event connection.
  void DisconnectServer() noexcept;
  bool ServerLinked() const noexcept { return static_cast<bool>(FServer); }
  // ConnectServer(), then the linked interface (owned by the wrapper).
  ITuxSession* GetDefaultInterface();

  // ---- Methods of the server ----
  HRESULT Connect();
  HRESULT Terminate();
  // The server's result; -1 when the call failed.
  LONG CheckName(const WideString& Name);
  HRESULT ReadEnv(const WideString& FileName);
  HRESULT CheckUnsol();
  // The digest into Hashed; returns the server's number (0 when the call failed).
  LONG Hash(const WideString& Text, WideString& Hashed);

  // ---- Properties of the server ----
  bool GetConnected();
  bool GetUseRouter();
  HRESULT SetUseRouter(bool Value);
  TxAuthKind GetAuthKind();
  HRESULT SetAuthKind(TxAuthKind Value);
  WideString GetClientName();
  HRESULT SetClientName(const WideString& Value);
  WideString GetUserName();
  HRESULT SetUserName(const WideString& Value);
  WideString GetPasswd();
  HRESULT SetPasswd(const WideString& Value);
  WideString Getdata();
  HRESULT Setdata(const WideString& Value);
  WideString GetQuorAppCode();
  HRESULT SetQuorAppCode(const WideString& Value);
  WideString GetQuorAppLabel();
  HRESULT SetQuorAppLabel(const WideString& Value);
  WideString GetQuorAppVersion();
  HRESULT SetQuorAppVersion(const WideString& Value);
  WideString GetQuorAuthDLL();
  HRESULT SetQuorAuthDLL(const WideString& Value);
  LONG GetQuorLoginFlags();
  HRESULT SetQuorLoginFlags(LONG Value);
  WideString GetQuorInfoLogin();
  WideString GetQuorInfoUnit();
  WideString GetQuorInfoRole();
  LONG GetQuorInfoAppKey();
  LONG GetQuorLoginResult();
  LONG GetAppServerCodePage();
  HRESULT SetAppServerCodePage(LONG Value);
  WideString GetEnvSection();
  HRESULT SetEnvSection(const WideString& Value);

  // ---- Events ----
  TNotifyEvent OnConnect;
  TNotifyEvent OnAfterConnect;
  TTuxSessionBroadcastEvent OnBroadcast;

 private:
  friend class TTuxSessionEventSink;
  // Raises event DispID (1, 2, 3) with the server's arguments.
  void InvokeEvent(DISPID DispID, const WideString& Data = {}, LONG Len = 0, LONG Flags = 0);
  void Advise();
  void Unadvise() noexcept;

  template <class T>
  T Read(HRESULT (ITuxSession::*Getter)(T*), const char* Expression, const char* File, int Line);

  TComInterface<ITuxSession> FServer;
  TComInterface<IConnectionPoint> FConnectionPoint;
  TTuxSessionEventSink* FSink = nullptr;  // one reference held while advised
  DWORD FCookie = 0;
};

}  // namespace Tx
