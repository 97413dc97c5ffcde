// The in-process session server against the builtin domain, through COM.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/session/LoginFields.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "platform/tuxedo/builtin/atmi_testing.h"

namespace Tx {
namespace {

using namespace LoginFields;
using AtmiBuiltin::TpBuffer;

// The TPINIT of the last join: user|client|password|group|flags|data.
std::string seenTpInit;
int joins = 0;

void AuthService(TPSVCINFO* info) {
  const auto* tpinit = reinterpret_cast<const TPINIT*>(info->data);
  ++joins;
  const std::string data(reinterpret_cast<const char*>(&tpinit->data),
                         static_cast<std::size_t>(tpinit->datalen));
  seenTpInit = std::string(tpinit->usrname) + "|" + tpinit->cltname + "|" + tpinit->passwd + "|" +
               tpinit->grpname + "|" + std::to_string(tpinit->flags) + "|" + data;
  tpreturn(seenTpInit.rfind("intruz|", 0) == 0 ? TPFAIL : TPSUCCESS, 0, nullptr, 0, 0);
}

std::vector<std::string> seenLogin;

// Admits "jan" with password "tajne"; "odmowa" gets a TPSUCCESS reply with
// result 5; anybody else a TPFAIL reply without a result.
void LoginServiceOfTheDomain(TPSVCINFO* info) {
  seenLogin.clear();
  for (FLDID32 field : {QL_USERNAME, QL_PASSWD, QL_CLIENTNAME, QL_APPCODE, QL_APPLABEL,
                        QL_APPVERSION, QL_AUTHDLL}) {
    const char* value = Ffind32(reinterpret_cast<FBFR32*>(info->data), field, 0, nullptr);
    seenLogin.push_back(value ? value : "<none>");
  }
  seenLogin.push_back(std::to_string(Fvall32(reinterpret_cast<FBFR32*>(info->data), QL_FLAGS, 0)));
  TpBuffer reply("FML32", 1024);
  const auto add = [&reply](FLDID32 field, const void* value) {
    Fchg32(reply.fbfr(), field, 0, static_cast<char*>(const_cast<void*>(value)), 0);
  };
  const bool admitted = seenLogin[0] == "jan" && seenLogin[1] == "tajne";
  const bool refused = seenLogin[0] == "odmowa";
  const long key = 4711, result = 5;
  add(QL_LOGIN, admitted ? "jan.kowalski" : seenLogin[0].c_str());
  if (admitted)
    add(QL_UNIT, "Oddział Łódź"_ansi.c_str()), add(QL_ROLE, "kasjer"), add(QL_APPKEY, &key);
  if (refused) add(QL_RESULT, &result);
  tpreturn(admitted || refused ? TPSUCCESS : TPFAIL, 0, reply.release(), 0, 0);
}

class RecordingSink final : public TComObject<ITuxSessionEvents> {
 public:
  HRESULT OnConnect() override { return Add("connect"); }
  HRESULT OnAfterConnect() override { return Add("after"); }
  HRESULT OnBroadcast(const WideString& Data, LONG Len, LONG Flags) override {
    return Add("[" + AnsiString(Data).str() + "] " + std::to_string(Len) + " " +
               std::to_string(Flags));
  }
  HRESULT Add(const std::string& event) {
    Events.push_back(event);
    return S_OK;
  }
  std::vector<std::string> Events;
};

// A sink connected to a server object for the life of the test.
struct ConnectedSink {
  explicit ConnectedSink(ITuxSession* server) : Sink(new RecordingSink) {
    TComInterface<IConnectionPointContainer> container;
    EXPECT_EQ(TComInterface<ITuxSession>(server).As(container), S_OK);
    EXPECT_EQ(
        container->FindConnectionPoint(ITuxSessionEvents::Uuid, Point.ReleaseAndGetAddressOf()),
        S_OK);
    EXPECT_EQ(Point->Advise(Sink->Identity(), &Cookie), S_OK);
  }
  ~ConnectedSink() { Point->Unadvise(Cookie); }
  TComInterface<RecordingSink> Sink;
  TComInterface<IConnectionPoint> Point;
  DWORD Cookie = 0;
};

class SessionServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ResetBuiltinSessionServer();
    tperrno = 0;
    seenTpInit.clear();
    joins = 0;
    ASSERT_EQ(CoCreateInstance(CLSID_QuorTuxSes, nullptr, CLSCTX_INPROC_SERVER, server), S_OK);
  }
  void TearDown() override {
    ResetBuiltinSessionServer();
    server.Reset();
    CoUninitialize();
  }

  bool Connected() {
    VARIANT_BOOL value = 0;
    EXPECT_EQ(server->get_Connected(&value), S_OK);
    return value == VARIANT_TRUE;
  }
  // QuorInfoLogin|QuorInfoUnit|QuorInfoRole|QuorInfoAppKey|QuorLoginResult
  std::string LoginInfo() {
    WideString login, unit, role;
    LONG key = -99, result = -99;
    server->get_QuorInfoLogin(&login);
    server->get_QuorInfoUnit(&unit);
    server->get_QuorInfoRole(&role);
    server->get_QuorInfoAppKey(&key);
    server->get_QuorLoginResult(&result);
    return AnsiString(login).str() + "|" + AnsiString(unit).str() + "|" + AnsiString(role).str() +
           "|" + std::to_string(key) + "|" + std::to_string(result);
  }
  static AnsiString ErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return "<none>";
    WideString description;
    TComInterface<IErrorInfo>::Attach(info)->GetDescription(&description);
    return AnsiString(description);
  }

  AtmiBuiltin::ScopedDomain domain;
  TComInterface<ITuxSession> server;
};

TEST_F(SessionServer, JoinsWithoutOrWithATpinitTellingEveryObjectAndARefusalIsTheAtmiError) {
  tpadvertise(const_cast<char*>("AUTHSVC"), AuthService);
  CLSID byProgId;  // the class is registered at start, for local servers too
  ASSERT_EQ(CLSIDFromProgID(u"QuorTuxSes", &byProgId), S_OK);
  TComInterface<ITuxSession> other;
  ASSERT_EQ(CoCreateInstance(byProgId, nullptr, CLSCTX_LOCAL_SERVER, other), S_OK);
  const ConnectedSink first(server.get());
  const ConnectedSink second(other.get());
  EXPECT_FALSE(Connected());
  EXPECT_EQ(server->Connect(), S_OK);
  EXPECT_TRUE(Connected());
  ASSERT_EQ(joins, 1);
  EXPECT_EQ(seenTpInit[0], '|');      // tpinit(NULL): no user
  EXPECT_EQ(other->Connect(), S_OK);  // connected already: nothing happens
  EXPECT_EQ(joins, 1);
  EXPECT_EQ(first.Sink->Events, (std::vector<std::string>{"connect", "after"}));
  EXPECT_EQ(second.Sink->Events, (std::vector<std::string>{"connect", "after"}));
  EXPECT_EQ(other->Terminate(), S_OK);
  EXPECT_FALSE(Connected());
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 0U);

  // Settings put through one object are every object's.
  other->put_AuthKind(tsakTPINIT);
  EXPECT_EQ(server->put_AuthKind(static_cast<TxAuthKind>(3)), E_INVALIDARG);  // kind kept
  other->put_UserName(WideString("Użytkownik_z_bardzo_długą_nazwą_ponad_limit"_ansi));
  other->put_ClientName(WideString(u"kasa1"));
  other->put_Passwd(WideString(u"tajne"));
  other->put_data(WideString("dane aplikacji ąę"_ansi));
  ASSERT_EQ(server->Connect(), S_OK);
  EXPECT_EQ(seenTpInit, "Użytkownik_z_bardzo_długą_nazw|kasa1|tajne||"_ansi.str() +
                            std::to_string(TPU_DIP) + "|dane aplikacji ąę"_ansi.str());
  server->Terminate();
  server->put_UserName(WideString(u"intruz"));
  EXPECT_EQ(server->Connect(), E_FAIL);
  EXPECT_EQ(ErrorDescription(), AnsiString("tpinit: ") + tpstrerror(TPEPERM));
  EXPECT_EQ(tperrno, TPEPERM);  // left as the failing call set it
  EXPECT_FALSE(Connected());
  EXPECT_EQ(first.Sink->Events,
            (std::vector<std::string>{"connect", "after", "connect", "after", "connect"}));
}

TEST_F(SessionServer, ApplicationDataBeyondTheTpinitTheEngineGaveIsRefusedNotWritten) {
  // An engine that gives every TPINIT its fixed size leaves room for the
  // bytes of the data member only.
  tpadvertise(const_cast<char*>("AUTHSVC"), AuthService);
  AtmiBuiltin::IgnoreTpinitSize(true);
  static_assert(sizeof(TPINIT) == 152 && offsetof(TPINIT, data) == 144);
  server->put_AuthKind(tsakTPINIT);
  server->put_data(WideString(u"12345678"));
  ASSERT_EQ(server->Connect(), S_OK);
  EXPECT_EQ(seenTpInit, "||||" + std::to_string(TPU_DIP) + "|12345678");
  server->Terminate();
  server->put_data(WideString(u"123456789"));
  EXPECT_EQ(server->Connect(), E_FAIL);
  EXPECT_EQ(ErrorDescription(),
            "tpalloc: bufor TPINIT (152 B) nie mieści danych aplikacji (potrzeba 153 B)"_ansi);
  EXPECT_FALSE(Connected());
  EXPECT_EQ(joins, 1);
}

TEST_F(SessionServer, LoginRefusalsLeaveTheDomainAndAnAdmittedLoginFillsTheInfo) {
  char* service = const_cast<char*>(LoginService);
  tpadvertise(service, LoginServiceOfTheDomain);
  server->put_AuthKind(tsakQuor);
  // User, QuorLoginResult (1: TPFAIL without a result; 5: the reply's; -1: no service), info.
  const std::tuple<const char16_t*, LONG, std::string> refusals[] = {
      {u"jan", 1, "jan|||0|1"}, {u"odmowa", 5, "odmowa|||0|5"}, {u"jan", -1, "|||0|-1"}};
  for (const auto& [user, result, info] : refusals) {
    if (result == -1) tpunadvertise(service);
    server->put_UserName(WideString(user));
    EXPECT_EQ(server->Connect(), E_ACCESSDENIED) << result;
    EXPECT_EQ(ErrorDescription(), "Logowanie odrzucone, kod "_ansi + AnsiString(result));
    EXPECT_EQ(LoginInfo(), info);
    EXPECT_FALSE(Connected()) << result;
    EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 0U) << result;
  }
  tpadvertise(service, LoginServiceOfTheDomain);
  for (const auto& [put, value] : {std::pair{&ITuxSession::put_Passwd, u"tajne"},
                                   {&ITuxSession::put_ClientName, u"kasa1"},
                                   {&ITuxSession::put_QuorAppCode, u"FK"},
                                   {&ITuxSession::put_QuorAppLabel, u"Finanse"},
                                   {&ITuxSession::put_QuorAppVersion, u"2.1"},
                                   {&ITuxSession::put_QuorAuthDLL, u"auth.dll"}})
    (server.get()->*put)(WideString(value));
  server->put_QuorLoginFlags(6);
  ASSERT_EQ(server->Connect(), S_OK);
  EXPECT_TRUE(Connected());
  EXPECT_EQ(seenLogin, (std::vector<std::string>{"jan", "tajne", "kasa1", "FK", "Finanse", "2.1",
                                                 "auth.dll", "6"}));
  EXPECT_EQ(LoginInfo(), "jan.kowalski|Oddział Łódź|kasjer|4711|0"_ansi.str());
}

TEST_F(SessionServer, ConnectedFollowsTheDomainAndTheThread) {
  ASSERT_EQ(server->Connect(), S_OK);
  EXPECT_TRUE(Connected());
  AtmiBuiltin::ClientThread elsewhere;
  EXPECT_FALSE(elsewhere.Run([this] {
    VARIANT_BOOL value = VARIANT_TRUE;
    server->get_Connected(&value);
    return value != VARIANT_FALSE;
  }));
  AtmiBuiltin::DisconnectClients();
  tperrno = TPENOENT;  // the failing probe leaves the caller's error state alone
  EXPECT_FALSE(Connected());
  EXPECT_EQ(tperrno, TPENOENT);
  EXPECT_EQ(server->Connect(), S_OK);  // joins again
  EXPECT_TRUE(Connected());
}

void ApplicationHandler(char*, long, long) {}

TEST_F(SessionServer, CheckUnsolDeliversEveryKindOfMessageToEverySink) {
  tpsetunsol(ApplicationHandler);
  TComInterface<ITuxSession> other = CreateBuiltinSessionServer();
  EXPECT_EQ(server->CheckUnsol(), S_FALSE);  // not joined
  ASSERT_EQ(server->Connect(), S_OK);
  const ConnectedSink first(server.get());
  const ConnectedSink second(other.get());
  TpBuffer text("STRING", 0);
  std::strcpy(text.get(), "Zebranie o 10:00 \xB9\xEA");  // ąę
  TpBuffer bytes("CARRAY", 3);
  std::memcpy(bytes.get(), "a\xB3z", 3);
  TpBuffer fielded("FML32", 0);
  for (const auto& [data, len] :
       {std::pair{text.get(), 0L}, {bytes.get(), 3L}, {nullptr, 0L}, {fielded.get(), 0L}})
    ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, data, len, 0), 0);
  EXPECT_EQ(other->CheckUnsol(), S_OK);
  const std::vector<std::string> expected = {
      "[Zebranie o 10:00 \xB9\xEA] 20 0", "[a\xB3z] 3 0", "[] 0 0",
      "[] " + std::to_string(Fused32(fielded.fbfr())) + " 0"};
  EXPECT_EQ(first.Sink->Events, expected);
  EXPECT_EQ(second.Sink->Events, expected);
  EXPECT_EQ(AtmiBuiltin::QueuedMessageCount(), 0U);
  // The server's handler was installed for the join; Terminate gives the old one back.
  server->Terminate();
  EXPECT_EQ(tpsetunsol(nullptr), &ApplicationHandler);
}

TEST_F(SessionServer, ReadEnvAppliesTheChosenSectionAndReportsBadLinesAndMissingFiles) {
  const auto path = std::filesystem::temp_directory_path() / "txlib_session_server.env";
  const AnsiString name(path.string());
  ::unsetenv("TXSES_ADDR");
  std::ofstream(path, std::ios::binary)
      << "TXSES_HOME=/srv\n[test]\nTXSES_ADDR=${TXSES_HOME}/test\n[prod]\nTXSES_ADDR=prod\nbad\n";
  server->put_EnvSection(WideString(u"TEST"));
  EXPECT_EQ(server->ReadEnv(WideString(name)), E_INVALIDARG);
  EXPECT_EQ(ErrorDescription(), "Błędny wiersz 6 pliku "_ansi + name);
  EXPECT_STREQ(std::getenv("TXSES_HOME"), "/srv");
  EXPECT_STREQ(std::getenv("TXSES_ADDR"), "/srv/test");
  std::filesystem::remove(path);
  EXPECT_EQ(server->ReadEnv(WideString(name)), E_FAIL);
  EXPECT_EQ(ErrorDescription(), "Nie można odczytać pliku "_ansi + name);
}

}  // namespace
}  // namespace Tx
