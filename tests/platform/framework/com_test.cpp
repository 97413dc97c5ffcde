#include "platform/framework/Com.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/framework/Dialogs.h"
#include "platform/framework/framework_test_support.h"

namespace Tx {
namespace {

// ---- A small dual interface, an events interface and objects for them -------------

struct ISession : IDispatch {
  static constexpr IID Uuid = "{6A0D3A51-1B0E-4C53-9D3E-0C6E2B1F0A01}"_guid;
  using Base = IDispatch;
};

struct ISessionEvents : IUnknown {
  static constexpr IID Uuid = "{6A0D3A51-1B0E-4C53-9D3E-0C6E2B1F0A03}"_guid;
  using Base = IUnknown;
  virtual HRESULT OnBroadcast(const WideString& data, LONG len, LONG flags) = 0;
};

constexpr CLSID CLSID_TestSession = "{6A0D3A51-1B0E-4C53-9D3E-0C6E2B1F0B01}"_guid;

int gFreed = 0;

// Two interfaces, so that identity and counting must hold across both.
class TSession : public TComObject<ISession, ISessionEvents> {
 public:
  ~TSession() override { ++gFreed; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, void**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, void*, void*, void*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT OnBroadcast(const WideString&, LONG, LONG) override { return S_OK; }
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

HRESULT Create(TComInterface<ISession>& session, DWORD context = CLSCTX_INPROC_SERVER) {
  return CoCreateInstance(CLSID_TestSession, nullptr, context, session);
}

// "source: description" of the error information waiting on this thread, or "(none)".
AnsiString TakeErrorInfo() {
  IErrorInfo* raw = nullptr;
  if (GetErrorInfo(0, &raw) != S_OK) return "(none)";
  const auto info = TComInterface<IErrorInfo>::Attach(raw);
  WideString source;
  WideString description;
  info->GetSource(&source);
  info->GetDescription(&description);
  return source.ToAnsiString() + ": " + description.ToAnsiString();
}

TEST(ComStartUp, CountsNestedInitialisationPerThread) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  const TComClassRegistration reg(CLSID_TestSession, "", CLSCTX_INPROC_SERVER,
                                  ComClassFactory<TSession>());
  TComInterface<ISession> session;
  HRESULT other = S_OK;
  std::thread([&] { other = Create(session); }).join();
  EXPECT_EQ(other, CO_E_NOTINITIALIZED);
  CoUninitialize();
  EXPECT_EQ(Create(session), S_OK);
  session.Reset();
  CoUninitialize();
  EXPECT_EQ(Create(session), CO_E_NOTINITIALIZED);
  CoUninitialize();  // one too many: ignored
}

TEST_F(ComTest, ContextsDecideWhichRegistrationAnswers) {
  void* p = &gFreed;
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, 0x15, ISession::Uuid, &p),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, 0x15, ISession::Uuid, nullptr), E_POINTER);
  const TComClassRegistration reg(CLSID_TestSession, "", CLSCTX_LOCAL_SERVER,
                                  ComClassFactory<TSession>());
  TComInterface<ISession> session;
  for (const DWORD bad : {0x0UL, 0x41UL, static_cast<unsigned long>(CLSCTX_NO_FAILURE_LOG)})
    EXPECT_EQ(Create(session, bad), E_INVALIDARG) << bad;
  EXPECT_EQ(Create(session, CLSCTX_INPROC_SERVER), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(Create(session, 0x5) | Create(session, 0x15), S_OK);
  // Without remote activation a request that names the remote server is
  // refused and is retried without it, as the session is made.
  SetComRemoteActivation(false);
  EXPECT_EQ(Create(session, 0x15), E_INVALIDARG);
  EXPECT_EQ(Create(session, 0x5), S_OK);
}

TEST_F(ComTest, LaterRegistrationHidesEarlierUntilRevoked) {
  const DWORD first = RegisterComClass(CLSID_TestSession, "QuorTuxSes", CLSCTX_INPROC_SERVER,
                                       ComClassFactory<TSession>());
  TComInterface<ISession> session;
  {
    const TComClassRegistration failing(
        CLSID_TestSession, "", CLSCTX_INPROC_SERVER,
        [](IUnknown*, TComInterface<IUnknown>&) -> HRESULT { return CLASS_E_CLASSNOTAVAILABLE; });
    EXPECT_EQ(Create(session), CLASS_E_CLASSNOTAVAILABLE);
  }
  EXPECT_EQ(Create(session), S_OK);
  CLSID found;
  EXPECT_EQ(CLSIDFromProgID(u"quortuxses", &found), S_OK);
  EXPECT_EQ(found, CLSID_TestSession);
  EXPECT_EQ(FrameworkTest::Raised([] { ProgIDToClassID("NoSuch.Class"); }),
            "EOleSysError: Invalid class string");
  EXPECT_TRUE(RevokeComClass(first));
  EXPECT_FALSE(RevokeComClass(first));
  EXPECT_EQ(Create(session), REGDB_E_CLASSNOTREG);
}

TEST_F(ComTest, ReferencesAreReleasedExactlyOnceAndFailedCreationsFree) {
  const TComClassRegistration reg(CLSID_TestSession, "", CLSCTX_INPROC_SERVER,
                                  ComClassFactory<TSession>());
  {
    TComInterface<ISession> session;
    ASSERT_EQ(Create(session), S_OK);
    TComInterface<IDispatch> dispatch;
    EXPECT_EQ(session.As(dispatch), S_OK);  // the parent of a dual interface
    TComInterface<ISessionEvents> events;
    EXPECT_EQ(dispatch.As(events), S_OK);
    EXPECT_EQ(static_cast<TSession*>(session.get())->RefCount(), 3u);
    TComInterface<IUnknown> a, b;
    events.As(a);
    session.As(b);
    EXPECT_EQ(a, b);  // one identity whichever interface asks
  }
  EXPECT_EQ(gFreed, 1);
  void* p = nullptr;  // a missing interface or aggregation frees the new object
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, nullptr, CLSCTX_INPROC_SERVER,
                             IConnectionPoint::Uuid, &p),
            E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(gFreed, 2);
  TSession outer;
  outer.AddRef();  // lives on the stack: never let Release free it
  EXPECT_EQ(CoCreateInstance(CLSID_TestSession, outer.Identity(), CLSCTX_INPROC_SERVER,
                             IUnknown::Uuid, &p),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(gFreed, 2);
}

TEST_F(ComTest, ErrorInfoFromAFactoryBelongsToItsThreadIsTakenOnceAndDiesWithCom) {
  const TComClassRegistration reg(CLSID_TestSession, "QuorTuxSes", CLSCTX_INPROC_SERVER,
                                  [](IUnknown*, TComInterface<IUnknown>&) -> HRESULT {
                                    throw Exception("Brak pliku konfiguracji"_ansi);
                                  });
  TComInterface<ISession> session;
  EXPECT_EQ(Create(session, CLSCTX_SERVER), E_FAIL);
  EXPECT_EQ(TakeErrorInfo(), "QuorTuxSes: Brak pliku konfiguracji"_ansi);
  SetComError(E_FAIL, u"Błąd importu FML z XML", u"xml");
  AnsiString elsewhere;
  std::thread([&] { elsewhere = TakeErrorInfo(); }).join();
  EXPECT_EQ(elsewhere, "(none)");
  EXPECT_EQ(TakeErrorInfo(), "xml: Błąd importu FML z XML"_ansi);
  EXPECT_EQ(TakeErrorInfo(), "(none)");
  SetComError(E_FAIL, u"stale");
  CoUninitialize();
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(TakeErrorInfo(), "(none)");
}

TEST(ComGuid, TextFormRoundTrips) {
  EXPECT_EQ(GUIDToString(IUnknown::Uuid), "{00000000-0000-0000-C000-000000000046}");
  EXPECT_EQ(StringToGUID("{1cf2b120-547d-101b-8e65-08002b2bd119}"), IErrorInfo::Uuid);
  EXPECT_EQ(StringToGUID(GUIDToString(CLSID_TestSession)), CLSID_TestSession);
  EXPECT_EQ(FrameworkTest::Raised([] { StringToGUID("1CF2B120-547D-101B-8E65-08002B2BD119"); }),
            "EConvertError: '1CF2B120-547D-101B-8E65-08002B2BD119' is not a valid GUID value");
}

// ---- Connection points ----------------------------------------------------------------

class TEventSource : public TComObject<IConnectionPointContainer> {
 public:
  HRESULT EnumConnectionPoints(void**) override { return E_NOTIMPL; }
  HRESULT FindConnectionPoint(REFIID, IConnectionPoint** ppCP) override {
    *ppCP = &Point;
    Point.AddRef();
    return S_OK;
  }
  TConnectionPoint<ISessionEvents> Point{this};
};

class TEventSink : public TComObject<ISessionEvents> {
 public:
  HRESULT OnBroadcast(const WideString&, LONG, LONG) override { return S_OK; }
};

// Delivery to advised sinks is the session server's test; here the point's own rules.
TEST(ComEvents, AdviseHoldsTheSinkUntilUnadvised) {
  TComInterface<TEventSource> source(new TEventSource);
  TComInterface<TEventSink> sink(new TEventSink);
  TComInterface<IConnectionPoint> point;
  ASSERT_EQ(source->FindConnectionPoint(ISessionEvents::Uuid, point.ReleaseAndGetAddressOf()),
            S_OK);
  EXPECT_EQ(source->RefCount(), 2u);  // the point counts for its container
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink->Identity(), &cookie), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  EXPECT_TRUE(source->Point.Sinks().empty());
  EXPECT_EQ(sink->RefCount(), 1u);
  EXPECT_EQ(point->Advise(source->Identity(), &cookie), CONNECT_E_CANNOTCONNECT);  // not a sink
}

// ---- The COM check dialog -----------------------------------------------------------------

TEST(ComCheckDialog, AnswersDecideBetweenRaisingAndGoingOn) {
  TRecordingUserInterface ui;
  const TUserInterfaceScope scope(ui);
  EXPECT_EQ(TX_HRCHECK(S_OK), S_OK);
  ui.QueueAnswer(IDNO);
  EXPECT_EQ(TX_HRCHECK(E_NOINTERFACE), E_NOINTERFACE);
  ui.QueueAnswer(IDCANCEL);
  EXPECT_EQ(TX_HRCHECK(E_FAIL), E_FAIL);
  ui.QueueAnswer(IDYES);
  EXPECT_EQ(FrameworkTest::Raised([] { TX_HRCHECK(E_INVALIDARG); }),
            "EOleSysError: E_INVALIDARG: The parameter is incorrect");
  ASSERT_EQ(ui.Dialogs().size(), 3u);
  const TDialogRequest shown = ui.Dialogs()[0].Request;
  EXPECT_EQ(shown.Flags, MB_YESNOCANCEL | MB_ICONERROR);
  const std::string text = shown.Text.str();
  EXPECT_EQ(text.rfind("E_NOINTERFACE\r\n\r\n0x80004002: No such interface supported\r\n", 0), 0u);
  EXPECT_NE(text.find("com_test.cpp("), std::string::npos);
  ASSERT_EQ(ui.DebugLines().size(), 1u);  // Cancel asks for the debugger
  EXPECT_EQ(ui.DebugLines()[0].Pos("HRCHECK: E_FAIL 0x80004005 at com_test.cpp("), 1);
}

}  // namespace
}  // namespace Tx
