#include "platform/framework/Com.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/framework/Dialogs.h"

namespace Tx {
namespace {

// ---- A small dual interface, an events interface and objects for them -------------

struct ISession : IDispatch {
  static constexpr IID Uuid = "{6A0D3A51-1B0E-4C53-9D3E-0C6E2B1F0A01}"_guid;
  using Base = IDispatch;
  virtual HRESULT get_Connected(BOOL* value) = 0;
};

struct IRunCounter : IUnknown {
  static constexpr IID Uuid = "{6A0D3A51-1B0E-4C53-9D3E-0C6E2B1F0A02}"_guid;
  using Base = IUnknown;
  virtual int Runs() = 0;
};

struct ISessionEvents : IUnknown {
  static constexpr IID Uuid = "{6A0D3A51-1B0E-4C53-9D3E-0C6E2B1F0A03}"_guid;
  using Base = IUnknown;
  virtual HRESULT OnBroadcast(const WideString& data, LONG len, LONG flags) = 0;
};

constexpr CLSID CLSID_TestSession = "{6A0D3A51-1B0E-4C53-9D3E-0C6E2B1F0B01}"_guid;

int gFreed = 0;

class TDispatchBase : public TComObject<ISession, IRunCounter, IRunnableObject> {
 public:
  ~TDispatchBase() override { ++gFreed; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, void**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, void*, void*, void*, UINT*) override {
    return E_NOTIMPL;
  }
};

class TSession : public TDispatchBase {
 public:
  explicit TSession(BOOL connected = 1) : FConnected(connected) {}
  HRESULT get_Connected(BOOL* value) override {
    *value = FConnected;
    return S_OK;
  }
  int Runs() override { return FRuns; }
  HRESULT GetRunningClass(CLSID* c) override {
    *c = CLSID_TestSession;
    return S_OK;
  }
  HRESULT Run(void*) override {
    ++FRuns;
    return FRuns == 1 ? S_OK : E_FAIL;
  }
  BOOL IsRunning() override { return FRuns > 0; }
  HRESULT LockRunning(BOOL, BOOL) override { return S_OK; }
  HRESULT SetContainedObject(BOOL) override { return S_OK; }

 private:
  BOOL FConnected;
  int FRuns = 0;
};

// Every test runs with COM started on its thread and a clean registry entry.
class ComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gFreed = 0;
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    SetComRemoteActivation(true);
    UnregisterComClass(CLSID_TestSession);
  }
};

TEST(ComStartUp, CountsNestedInitialisationPerThread) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  HRESULT other = S_OK;
  std::thread([&] {
    void* p = nullptr;
    other = CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_INPROC_SERVER, IUnknown::Uuid, &p);
  }).join();
  EXPECT_EQ(other, CO_E_NOTINITIALIZED);
  CoUninitialize();
  const TComClassRegistration reg(CLSID_TestSession, "", CLSCTX_INPROC_SERVER,
                                  ComClassFactory<TSession>());
  TComInterface<ISession> session;
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_INPROC_SERVER, session), S_OK);
  session.Reset();
  CoUninitialize();
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_INPROC_SERVER, session),
            CO_E_NOTINITIALIZED);
  CoUninitialize();  // one too many: ignored
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  CoUninitialize();
}

TEST_F(ComTest, UnknownClassIsNotRegistered) {
  void* p = reinterpret_cast<void*>(&gFreed);
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, 0x15, ISession::Uuid, &p),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, 0x15, ISession::Uuid, nullptr), E_POINTER);
}

TEST_F(ComTest, InvalidContextsAreInvalidArguments) {
  const TComClassRegistration reg(CLSID_TestSession, "", CLSCTX_INPROC_SERVER,
                                  ComClassFactory<TSession>());
  TComInterface<ISession> session;
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, 0, session), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, 0x40 | CLSCTX_INPROC_SERVER, session),
            E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_NO_FAILURE_LOG, session),
            E_INVALIDARG);
}

// Creation the way the session is made: any server first, and without the
// remote server when the system refuses that context.
HRESULT CreateWithRetry(TComInterface<ISession>& session) {
  HRESULT hr = CoCreateInstance(CLSID_TestSession, nullptr, 0x15, session);
  if (hr == E_INVALIDARG) hr = CoCreateInstance(CLSID_TestSession, nullptr, 0x5, session);
  return hr;
}

TEST_F(ComTest, RemoteContextRefusedThenRetriedWithoutIt) {
  const TComClassRegistration reg(CLSID_TestSession, "QuorTuxSes", CLSCTX_INPROC_SERVER,
                                  ComClassFactory<TSession>());
  SetComRemoteActivation(false);
  TComInterface<ISession> session;
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, 0x15, session), E_INVALIDARG);
  EXPECT_EQ(CreateWithRetry(session), S_OK);
  BOOL connected = 0;
  EXPECT_EQ(session->get_Connected(&connected), S_OK);
  EXPECT_EQ(connected, 1);
}

TEST_F(ComTest, LocalServerAnswersOnlyRequestsThatIncludeIt) {
  const TComClassRegistration reg(CLSID_TestSession, "", CLSCTX_LOCAL_SERVER,
                                  ComClassFactory<TSession>());
  TComInterface<ISession> session;
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_INPROC_SERVER, session),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, 0x5, session), S_OK);
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, 0x15, session), S_OK);
}

TEST_F(ComTest, ProgIdFindsTheNewestRegistration) {
  const TComClassRegistration reg(CLSID_TestSession, "QuorTuxSes", CLSCTX_INPROC_SERVER,
                                  ComClassFactory<TSession>(0));
  CLSID found;
  EXPECT_EQ(CLSIDFromProgID(u"quortuxses", &found), S_OK);
  EXPECT_EQ(found, CLSID_TestSession);
  EXPECT_EQ(CLSIDFromProgID(u"NoSuch.Class", &found), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(u"QuorTuxSes", &found), S_OK);
  EXPECT_EQ(ProgIDToClassID("QuorTuxSes"), CLSID_TestSession);
  EXPECT_THROW(ProgIDToClassID("Nothing"), EOleSysError);
}

TEST_F(ComTest, LaterRegistrationHidesEarlierUntilRevoked) {
  const DWORD first = RegisterComClass(CLSID_TestSession, "", CLSCTX_INPROC_SERVER,
                                       ComClassFactory<TSession>(0));
  BOOL connected = 7;
  TComInterface<ISession> session;
  {
    const TComClassRegistration replacement(CLSID_TestSession, "", CLSCTX_INPROC_SERVER,
                                            ComClassFactory<TSession>(1));
    ASSERT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_SERVER, session), S_OK);
    session->get_Connected(&connected);
    EXPECT_EQ(connected, 1);
  }
  ASSERT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_SERVER, session), S_OK);
  session->get_Connected(&connected);
  EXPECT_EQ(connected, 0);
  EXPECT_TRUE(RevokeComClass(first));
  EXPECT_FALSE(RevokeComClass(first));
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_SERVER, session),
            REGDB_E_CLASSNOTREG);
}

TEST_F(ComTest, ReferencesAreReleasedExactlyOnce) {
  const TComClassRegistration reg(CLSID_TestSession, "", CLSCTX_INPROC_SERVER,
                                  ComClassFactory<TSession>());
  {
    TComInterface<ISession> session;
    ASSERT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_INPROC_SERVER, session), S_OK);
    auto* object = static_cast<TSession*>(session.get());
    EXPECT_EQ(object->RefCount(), 1u);
    TComInterface<ISession> copy = session;
    TComInterface<IDispatch> dispatch;
    EXPECT_EQ(session.As(dispatch), S_OK);  // the parent of a dual interface
    TComInterface<IRunCounter> counter;
    EXPECT_EQ(dispatch.As(counter), S_OK);
    EXPECT_EQ(object->RefCount(), 4u);
    TComInterface<IUnknown> a;
    TComInterface<IUnknown> b;
    EXPECT_EQ(counter.As(a), S_OK);
    EXPECT_EQ(session.As(b), S_OK);
    EXPECT_EQ(a, b);  // one identity whichever interface asks
  }
  EXPECT_EQ(gFreed, 1);
}

TEST_F(ComTest, MissingInterfaceFreesTheNewObject) {
  const TComClassRegistration reg(CLSID_TestSession, "", CLSCTX_INPROC_SERVER,
                                  ComClassFactory<TSession>());
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_INPROC_SERVER,
                             IConnectionPoint::Uuid, &p),
            E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(gFreed, 1);
}

TEST_F(ComTest, AggregationIsRefused) {
  const TComClassRegistration reg(CLSID_TestSession, "", CLSCTX_INPROC_SERVER,
                                  ComClassFactory<TSession>());
  TSession outer;
  outer.AddRef();  // lives on the stack: never let Release free it
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, outer.Identity(), CLSCTX_INPROC_SERVER,
                             ISession::Uuid, &p),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, outer.Identity(), CLSCTX_INPROC_SERVER,
                             IUnknown::Uuid, &p),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(gFreed, 0);
}

TEST_F(ComTest, FailingFactoryLeavesItsMessageAsErrorInfo) {
  const TComClassRegistration reg(
      CLSID_TestSession, "QuorTuxSes", CLSCTX_INPROC_SERVER,
      [](IUnknown*, TComInterface<IUnknown>&) -> HRESULT {
        throw Exception("Brak pliku konfiguracji"_ansi);
      });
  TComInterface<ISession> session;
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_SERVER, session), E_FAIL);
  IErrorInfo* raw = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &raw), S_OK);
  const auto info = TComInterface<IErrorInfo>::Attach(raw);
  WideString text;
  info->GetDescription(&text);
  EXPECT_EQ(text.ToAnsiString(), "Brak pliku konfiguracji"_ansi);
  info->GetSource(&text);
  EXPECT_EQ(text.ToAnsiString(), "QuorTuxSes");
}

TEST_F(ComTest, OleRunRunsOnlyWhatCanRun) {
  TComInterface<ISession> session(new TSession);
  EXPECT_EQ(OleRun(session.get()), S_OK);
  EXPECT_EQ(OleRun(session.get()), E_FAIL);  // the object's own answer
  TComInterface<IRunCounter> counter;
  session.As(counter);
  EXPECT_EQ(counter->Runs(), 2);
  EXPECT_EQ(OleRun(nullptr), E_INVALIDARG);
  ICreateErrorInfo* plain = nullptr;
  ASSERT_EQ(CreateErrorInfo(&plain), S_OK);
  EXPECT_EQ(OleRun(plain), S_OK);
  plain->Release();
}

TEST_F(ComTest, ErrorInfoBelongsToItsThreadAndIsTakenOnce) {
  SetComError(E_FAIL, u"Błąd importu FML z XML", u"xml");
  HRESULT elsewhere = S_OK;
  std::thread([&] {
    IErrorInfo* info = nullptr;
    elsewhere = GetErrorInfo(0, &info);
  }).join();
  EXPECT_EQ(elsewhere, S_FALSE);

  IErrorInfo* raw = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &raw), S_OK);
  const auto info = TComInterface<IErrorInfo>::Attach(raw);
  WideString description;
  ASSERT_EQ(info->GetDescription(&description), S_OK);
  EXPECT_EQ(description.ToAnsiString(), "Błąd importu FML z XML"_ansi);
  EXPECT_EQ(GetErrorInfo(0, &raw), S_FALSE);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(GetErrorInfo(1, &raw), E_INVALIDARG);
}

TEST_F(ComTest, LastUninitialiseDropsErrorInfo) {
  SetComError(E_FAIL, u"stale");
  CoUninitialize();
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  IErrorInfo* raw = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &raw), S_FALSE);
}

TEST(ComGuid, TextFormRoundTrips) {
  EXPECT_EQ(GUIDToString(IUnknown::Uuid), "{00000000-0000-0000-C000-000000000046}");
  EXPECT_EQ(StringToGUID("{1cf2b120-547d-101b-8e65-08002b2bd119}"), IErrorInfo::Uuid);
  EXPECT_EQ(GUIDToString(StringToGUID(GUIDToString(CLSID_TestSession))),
            GUIDToString(CLSID_TestSession));
  try {
    StringToGUID("1CF2B120-547D-101B-8E65-08002B2BD119");
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, "'1CF2B120-547D-101B-8E65-08002B2BD119' is not a valid GUID value");
  }
  EXPECT_LT(GUID_NULL, IUnknown::Uuid);
}

// ---- Connection points ----------------------------------------------------------------

class TEventSource : public TComObject<IConnectionPointContainer> {
 public:
  HRESULT EnumConnectionPoints(void**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    *ppCP = nullptr;
    if (riid != ISessionEvents::Uuid) return CONNECT_E_NOCONNECTION;
    *ppCP = &FPoint;
    FPoint.AddRef();
    return S_OK;
  }
  void Broadcast(const WideString& data) {
    for (const auto& sink : FPoint.Sinks()) sink->OnBroadcast(data, data.Length(), 0);
  }

 private:
  TConnectionPoint<ISessionEvents> FPoint{this};
};

class TEventSink : public TComObject<ISessionEvents> {
 public:
  HRESULT OnBroadcast(const WideString& data, LONG, LONG) override {
    Received.push_back(data);
    return S_OK;
  }
  std::vector<WideString> Received;
};

TEST(ComEvents, AdvisedSinksHearEventsUntilUnadvised) {
  TComInterface<TEventSource> source(new TEventSource);
  TComInterface<TEventSink> sink(new TEventSink);
  TComInterface<IConnectionPoint> point;
  ASSERT_EQ(source->FindConnectionPoint(ISessionEvents::Uuid, point.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(source->RefCount(), 2u);  // the point counts for its container

  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink->Identity(), &cookie), S_OK);
  EXPECT_EQ(sink->RefCount(), 2u);
  source->Broadcast(u"komunikat");
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  source->Broadcast(u"po odłączeniu");
  ASSERT_EQ(sink->Received.size(), 1u);
  EXPECT_EQ(sink->Received[0], WideString(u"komunikat"));
  EXPECT_EQ(sink->RefCount(), 1u);

  TComInterface<TEventSource> notASink(new TEventSource);
  EXPECT_EQ(point->Advise(notASink->Identity(), &cookie), CONNECT_E_CANNOTCONNECT);
}

// ---- The COM check dialog -----------------------------------------------------------------

TEST(ComCheckDialog, AnswersDecideBetweenRaisingAndGoingOn) {
  TRecordingUserInterface ui;
  const TUserInterfaceScope scope(ui);
  EXPECT_EQ(TX_HRCHECK(S_OK), S_OK);
  EXPECT_TRUE(ui.Dialogs().empty());

  ui.QueueAnswer(IDNO);
  EXPECT_EQ(TX_HRCHECK(E_NOINTERFACE), E_NOINTERFACE);
  const TDialogRequest shown = ui.Dialogs().at(0).Request;
  EXPECT_EQ(shown.Caption, "HRCHECK: ");
  EXPECT_EQ(shown.Flags, MB_YESNOCANCEL | MB_ICONERROR);
  const std::string text = shown.Text.str();
  EXPECT_EQ(text.rfind("E_NOINTERFACE\r\n\r\n0x80004002: No such interface supported\r\n", 0), 0u);
  EXPECT_NE(text.find("com_test.cpp("), std::string::npos);
  const std::string ending = "Press [Y]es to terminate, [N]o to continue and [C]ancel to Debug";
  EXPECT_EQ(text.substr(text.size() - ending.size()), ending);

  ui.QueueAnswer(IDCANCEL);
  EXPECT_EQ(TX_HRCHECK(E_FAIL), E_FAIL);
  ASSERT_EQ(ui.DebugLines().size(), 1u);
  EXPECT_EQ(ui.DebugLines()[0].Pos("HRCHECK: E_FAIL 0x80004005 at com_test.cpp("), 1);

  ui.QueueAnswer(IDYES);
  try {
    TX_HRCHECK(E_INVALIDARG);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode, E_INVALIDARG);
    EXPECT_EQ(e.Message, "E_INVALIDARG: The parameter is incorrect");
  }
}

}  // namespace
}  // namespace Tx
