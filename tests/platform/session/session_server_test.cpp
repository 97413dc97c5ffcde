// The in-process session server against the builtin domain, through COM.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/session/LoginFields.h"
#include "platform/session/SessionText.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "platform/tuxedo/builtin/atmi_testing.h"

namespace Tx {
namespace {

using namespace LoginFields;
using AtmiBuiltin::TpBuffer;

// ---- Services of the test domain -------------------------------------------------

struct SeenTpInit {
  int Calls = 0;
  std::string UsrName, CltName, Passwd, GrpName, Data;
  long Flags = -1;
  long DataLen = -1;
};
SeenTpInit seenTpInit;

void AuthService(TPSVCINFO* info) {
  const auto* tpinit = reinterpret_cast<const TPINIT*>(info->data);
  ++seenTpInit.Calls;
  seenTpInit.UsrName = tpinit->usrname;
  seenTpInit.CltName = tpinit->cltname;
  seenTpInit.Passwd = tpinit->passwd;
  seenTpInit.GrpName = tpinit->grpname;
  seenTpInit.Flags = tpinit->flags;
  seenTpInit.DataLen = tpinit->datalen;
  seenTpInit.Data.assign(reinterpret_cast<const char*>(&tpinit->data),
                         static_cast<std::size_t>(tpinit->datalen));
  const bool refused = seenTpInit.UsrName == "intruz";
  tpreturn(refused ? TPFAIL : TPSUCCESS, 0, nullptr, 0, 0);
}

std::string StringField(FBFR32* fbfr, FLDID32 field) {
  const char* value = Ffind32(fbfr, field, 0, nullptr);
  return value ? value : "<none>";
}

std::vector<std::string> seenLogin;

void AddString(FBFR32* fbfr, FLDID32 field, const char* value) {
  Fchg32(fbfr, field, 0, const_cast<char*>(value), 0);
}
void AddLong(FBFR32* fbfr, FLDID32 field, long value) {
  Fchg32(fbfr, field, 0, reinterpret_cast<char*>(&value), 0);
}

// Admits "jan" with password "tajne"; "odmowa" gets a TPSUCCESS reply with
// result 5; anybody else a TPFAIL reply without a result.
void TestLoginService(TPSVCINFO* info) {
  auto* request = reinterpret_cast<FBFR32*>(info->data);
  seenLogin = {StringField(request, QL_USERNAME),   StringField(request, QL_PASSWD),
               StringField(request, QL_CLIENTNAME), StringField(request, QL_APPCODE),
               StringField(request, QL_APPLABEL),   StringField(request, QL_APPVERSION),
               StringField(request, QL_AUTHDLL),    std::to_string(Fvall32(request, QL_FLAGS, 0))};
  char* reply = tpalloc(const_cast<char*>("FML32"), nullptr, 1024);
  auto* fbfr = reinterpret_cast<FBFR32*>(reply);
  const std::string user = seenLogin[0];
  if (user == "jan" && seenLogin[1] == "tajne") {
    AddString(fbfr, QL_LOGIN, "jan.kowalski");
    AddString(fbfr, QL_UNIT, "Oddział Łódź"_ansi.c_str());
    AddString(fbfr, QL_ROLE, "kasjer");
    AddLong(fbfr, QL_APPKEY, 4711);
    AddLong(fbfr, QL_RESULT, 0);
    tpreturn(TPSUCCESS, 0, reply, 0, 0);
  }
  AddString(fbfr, QL_LOGIN, user.c_str());
  if (user == "odmowa") {
    AddLong(fbfr, QL_RESULT, 5);
    tpreturn(TPSUCCESS, 0, reply, 0, 0);
  }
  tpreturn(TPFAIL, 0, reply, 0, 0);
}

// ---- Event sink ------------------------------------------------------------------------

class RecordingSink final : public TComObject<ITuxSessionEvents> {
 public:
  HRESULT OnConnect() override {
    Events.push_back("connect");
    return S_OK;
  }
  HRESULT OnAfterConnect() override {
    Events.push_back("after");
    return S_OK;
  }
  HRESULT OnBroadcast(const WideString& Data, LONG Len, LONG Flags) override {
    Events.push_back("broadcast [" + AnsiString(Data).str() + "] " + std::to_string(Len) + " " +
                     std::to_string(Flags));
    return S_OK;
  }
  std::vector<std::string> Events;
};

// A sink connected to a server object for the life of the test.
struct ConnectedSink {
  explicit ConnectedSink(ITuxSession* server) : Sink(new RecordingSink) {
    TComInterface<ITuxSession> object(server);
    TComInterface<IConnectionPointContainer> container;
    EXPECT_EQ(object.As(container), S_OK);
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
    tpurcode = 0;
    Ferror32 = 0;
    seenTpInit = {};
    seenLogin.clear();
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
  AnsiString Text(HRESULT (ITuxSession::*getter)(WideString*)) {
    WideString value;
    EXPECT_EQ((server.get()->*getter)(&value), S_OK);
    return AnsiString(value);
  }
  LONG Number(HRESULT (ITuxSession::*getter)(LONG*)) {
    LONG value = -99;
    EXPECT_EQ((server.get()->*getter)(&value), S_OK);
    return value;
  }
  static AnsiString ErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return "<none>";
    const auto held = TComInterface<IErrorInfo>::Attach(info);
    WideString description;
    held->GetDescription(&description);
    return AnsiString(description);
  }

  AtmiBuiltin::ScopedDomain domain;
  TComInterface<ITuxSession> server;
};

TEST_F(SessionServer, RegisteredAtStartAndRemovableForAScope) {
  CLSID byProgId;
  ASSERT_EQ(CLSIDFromProgID(u"QuorTuxSes", &byProgId), S_OK);
  EXPECT_EQ(byProgId, CLSID_QuorTuxSes);
  EXPECT_TRUE(BuiltinSessionServerRegistered());
  TComInterface<ITuxSession> other;
  {
    const TBuiltinSessionServerAbsence absent;
    EXPECT_EQ(CoCreateInstance(CLSID_QuorTuxSes, nullptr, CLSCTX_INPROC_SERVER, other),
              REGDB_E_CLASSNOTREG);
  }
  EXPECT_EQ(CoCreateInstance(CLSID_QuorTuxSes, nullptr, CLSCTX_LOCAL_SERVER, other), S_OK);
}

TEST_F(SessionServer, ObjectsShareOneStateWithDocumentedInitialValues) {
  VARIANT_BOOL router = VARIANT_TRUE;
  TxAuthKind kind = tsakQuor;
  EXPECT_EQ(server->get_UseRouter(&router), S_OK);
  EXPECT_EQ(server->get_AuthKind(&kind), S_OK);
  EXPECT_EQ(router, VARIANT_FALSE);
  EXPECT_EQ(kind, tsakNone);
  EXPECT_EQ(Number(&ITuxSession::get_AppServerCodePage), 11);
  EXPECT_EQ(Text(&ITuxSession::get_EnvSection), AnsiString());

  TComInterface<ITuxSession> other = CreateBuiltinSessionServer();
  other->put_UserName(WideString(u"Paweł"));
  other->put_QuorLoginFlags(12);
  other->put_AuthKind(tsakTPINIT);
  EXPECT_EQ(Text(&ITuxSession::get_UserName), "Paweł"_ansi);
  EXPECT_EQ(Number(&ITuxSession::get_QuorLoginFlags), 12);
  EXPECT_EQ(server->put_AuthKind(static_cast<TxAuthKind>(3)), E_INVALIDARG);
  EXPECT_EQ(server->get_AuthKind(&kind), S_OK);
  EXPECT_EQ(kind, tsakTPINIT);
}

TEST_F(SessionServer, ConnectWithoutCredentialsRaisesBothEventsOnEveryObject) {
  tpadvertise(const_cast<char*>("AUTHSVC"), AuthService);
  TComInterface<ITuxSession> other = CreateBuiltinSessionServer();
  const ConnectedSink first(server.get());
  const ConnectedSink second(other.get());

  EXPECT_FALSE(Connected());
  EXPECT_EQ(server->Connect(), S_OK);
  EXPECT_TRUE(Connected());
  EXPECT_EQ(seenTpInit.Calls, 1);
  EXPECT_EQ(seenTpInit.UsrName, "");  // tpinit(NULL)
  EXPECT_EQ(first.Sink->Events, (std::vector<std::string>{"connect", "after"}));
  EXPECT_EQ(second.Sink->Events, (std::vector<std::string>{"connect", "after"}));

  EXPECT_EQ(other->Connect(), S_OK);  // connected already: nothing happens
  EXPECT_EQ(seenTpInit.Calls, 1);
  EXPECT_EQ(first.Sink->Events.size(), 2U);

  EXPECT_EQ(other->Terminate(), S_OK);
  EXPECT_FALSE(Connected());
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 0U);
}

TEST_F(SessionServer, TpinitCarriesTheIdentityCutToThirtyBytes) {
  tpadvertise(const_cast<char*>("AUTHSVC"), AuthService);
  server->put_AuthKind(tsakTPINIT);
  server->put_UserName(WideString("Użytkownik_z_bardzo_długą_nazwą_ponad_limit"_ansi));
  server->put_ClientName(WideString(u"kasa1"));
  server->put_Passwd(WideString(u"tajne"));
  server->put_data(WideString("dane aplikacji ąę"_ansi));
  ASSERT_EQ(server->Connect(), S_OK);
  EXPECT_EQ(seenTpInit.UsrName, "Użytkownik_z_bardzo_długą_nazw"_ansi.str());
  EXPECT_EQ(seenTpInit.UsrName.size(), 30U);
  EXPECT_EQ(seenTpInit.CltName, "kasa1");
  EXPECT_EQ(seenTpInit.Passwd, "tajne");
  EXPECT_EQ(seenTpInit.GrpName, "");
  EXPECT_EQ(seenTpInit.Flags, TPU_DIP);
  EXPECT_EQ(seenTpInit.Data, "dane aplikacji ąę"_ansi.str());
  EXPECT_EQ(seenTpInit.DataLen, 17);
}

TEST_F(SessionServer, RefusedJoinFailsWithTheAtmiErrorAndNoAfterEvent) {
  tpadvertise(const_cast<char*>("AUTHSVC"), AuthService);
  const ConnectedSink sink(server.get());
  server->put_AuthKind(tsakTPINIT);
  server->put_UserName(WideString(u"intruz"));
  EXPECT_EQ(server->Connect(), E_FAIL);
  EXPECT_EQ(ErrorDescription(), AnsiString("tpinit: ") + tpstrerror(TPEPERM));
  EXPECT_EQ(tperrno, TPEPERM);  // left as the failing call set it
  EXPECT_FALSE(Connected());
  EXPECT_EQ(sink.Sink->Events, (std::vector<std::string>{"connect"}));
}

TEST_F(SessionServer, LoginServiceGetsTheSettingsAndFillsTheInfo) {
  tpadvertise(const_cast<char*>(LoginService), TestLoginService);
  server->put_AuthKind(tsakQuor);
  server->put_UserName(WideString(u"jan"));
  server->put_Passwd(WideString(u"tajne"));
  server->put_ClientName(WideString(u"kasa1"));
  server->put_QuorAppCode(WideString(u"FK"));
  server->put_QuorAppLabel(WideString(u"Finanse"));
  server->put_QuorAppVersion(WideString(u"2.1"));
  server->put_QuorAuthDLL(WideString(u"auth.dll"));
  server->put_QuorLoginFlags(6);
  ASSERT_EQ(server->Connect(), S_OK);
  EXPECT_TRUE(Connected());
  EXPECT_EQ(seenLogin, (std::vector<std::string>{"jan", "tajne", "kasa1", "FK", "Finanse", "2.1",
                                                 "auth.dll", "6"}));
  EXPECT_EQ(Text(&ITuxSession::get_QuorInfoLogin), AnsiString("jan.kowalski"));
  EXPECT_EQ(Text(&ITuxSession::get_QuorInfoUnit), "Oddział Łódź"_ansi);
  EXPECT_EQ(Text(&ITuxSession::get_QuorInfoRole), AnsiString("kasjer"));
  EXPECT_EQ(Number(&ITuxSession::get_QuorInfoAppKey), 4711);
  EXPECT_EQ(Number(&ITuxSession::get_QuorLoginResult), 0);
}

TEST_F(SessionServer, RefusedOrImpossibleLoginLeavesTheDomain) {
  server->put_AuthKind(tsakQuor);
  server->put_UserName(WideString(u"jan"));
  EXPECT_EQ(server->Connect(), E_ACCESSDENIED);  // no login service
  EXPECT_EQ(Number(&ITuxSession::get_QuorLoginResult), -1);
  EXPECT_EQ(Text(&ITuxSession::get_QuorInfoLogin), AnsiString());
  EXPECT_FALSE(Connected());
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 0U);

  tpadvertise(const_cast<char*>(LoginService), TestLoginService);
  EXPECT_EQ(server->Connect(), E_ACCESSDENIED);  // wrong password: TPFAIL without a result
  EXPECT_EQ(Number(&ITuxSession::get_QuorLoginResult), 1);
  EXPECT_EQ(Text(&ITuxSession::get_QuorInfoLogin), AnsiString("jan"));
  EXPECT_EQ(ErrorDescription(), "Logowanie odrzucone, kod 1"_ansi);

  server->put_UserName(WideString(u"odmowa"));
  EXPECT_EQ(server->Connect(), E_ACCESSDENIED);
  EXPECT_EQ(Number(&ITuxSession::get_QuorLoginResult), 5);
  EXPECT_FALSE(Connected());
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 0U);
}

TEST_F(SessionServer, ConnectedFollowsTheDomainAndTheThread) {
  ASSERT_EQ(server->Connect(), S_OK);
  tperrno = TPENOENT;  // the probe leaves the caller's error state alone
  EXPECT_TRUE(Connected());
  EXPECT_EQ(tperrno, TPENOENT);
  tperrno = 0;

  AtmiBuiltin::ClientThread elsewhere;
  EXPECT_FALSE(elsewhere.Run([this] {
    VARIANT_BOOL value = VARIANT_TRUE;
    server->get_Connected(&value);
    return value != VARIANT_FALSE;
  }));

  AtmiBuiltin::DisconnectClients();
  EXPECT_FALSE(Connected());
  EXPECT_EQ(server->Connect(), S_OK);  // joins again
  EXPECT_TRUE(Connected());
  AtmiBuiltin::ResetDomain();
  EXPECT_FALSE(Connected());
}

TEST_F(SessionServer, CheckUnsolDeliversEveryKindOfMessageToEverySink) {
  TComInterface<ITuxSession> other = CreateBuiltinSessionServer();
  EXPECT_EQ(server->CheckUnsol(), S_FALSE);  // not joined
  ASSERT_EQ(server->Connect(), S_OK);
  const ConnectedSink first(server.get());
  const ConnectedSink second(other.get());

  TpBuffer text("STRING", 0);
  std::strcpy(text.get(), "Zebranie o 10:00 \xB9\xEA");  // ąę
  TpBuffer bytes("CARRAY", 3);
  std::memcpy(bytes.get(),
              "a\xB3"
              "b",
              3);
  TpBuffer fielded("FML32", 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, text.get(), 0, 0), 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, bytes.get(), 3, 0), 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, fielded.get(), 0, 0), 0);

  EXPECT_EQ(other->CheckUnsol(), S_OK);
  const long fieldedLength = Fused32(fielded.fbfr());
  const std::vector<std::string> expected = {
      "broadcast [Zebranie o 10:00 \xB9\xEA] 20 0",
      "broadcast [a\xB3"
      "b] 3 0",
      "broadcast [] 0 0", "broadcast [] " + std::to_string(fieldedLength) + " 0"};
  EXPECT_EQ(first.Sink->Events, expected);
  EXPECT_EQ(second.Sink->Events, expected);
  EXPECT_EQ(AtmiBuiltin::QueuedMessageCount(), 0U);
}

void ApplicationHandler(char*, long, long) {}

TEST_F(SessionServer, TerminateGivesTheApplicationItsHandlerBack) {
  tpsetunsol(ApplicationHandler);
  ASSERT_EQ(server->Connect(), S_OK);
  const auto whileJoined = tpsetunsol(nullptr);
  EXPECT_NE(whileJoined, &ApplicationHandler);  // the server's own
  EXPECT_NE(whileJoined, nullptr);
  tpsetunsol(whileJoined);
  server->Terminate();
  EXPECT_EQ(tpsetunsol(nullptr), &ApplicationHandler);
}

class EnvFileOnDisk : public SessionServer {
 protected:
  void SetUp() override {
    SessionServer::SetUp();
    path = std::filesystem::temp_directory_path() /
           ("txlib_env_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  }
  void TearDown() override {
    std::filesystem::remove(path);
    SessionServer::TearDown();
  }
  void Write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  std::filesystem::path path;
};

TEST_F(EnvFileOnDisk, ReadEnvAppliesTheCommonPartAndTheChosenSection) {
  ::unsetenv("TXSES_ADDR");
  Write("TXSES_HOME=/srv\n[test]\nTXSES_ADDR=${TXSES_HOME}/test\n[prod]\nTXSES_ADDR=prod\n");
  server->put_EnvSection(WideString(u"TEST"));
  EXPECT_EQ(server->ReadEnv(WideString(AnsiString(path.string()))), S_OK);
  EXPECT_STREQ(std::getenv("TXSES_HOME"), "/srv");
  EXPECT_STREQ(std::getenv("TXSES_ADDR"), "/srv/test");
}

TEST_F(EnvFileOnDisk, BadLinesAndMissingFilesAreReported) {
  Write("TXSES_GOOD=1\nthis is not an assignment\n");
  const AnsiString name(path.string());
  EXPECT_EQ(server->ReadEnv(WideString(name)), E_INVALIDARG);
  EXPECT_EQ(ErrorDescription(), "Błędny wiersz 2 pliku "_ansi + name);
  EXPECT_STREQ(std::getenv("TXSES_GOOD"), "1");

  std::filesystem::remove(path);
  EXPECT_EQ(server->ReadEnv(WideString(name)), E_FAIL);
  EXPECT_EQ(ErrorDescription(), "Nie można odczytać pliku "_ansi + name);
}

TEST_F(SessionServer, HashAndCheckNameLeaveErrorStateAlone) {
  tperrno = TPEPROTO;
  Ferror32 = FNOSPACE;
  WideString hashed;
  LONG length = 0;
  EXPECT_EQ(server->Hash(WideString(u"abc"), &hashed, &length), S_OK);
  EXPECT_EQ(AnsiString(hashed),
            AnsiString("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
  EXPECT_EQ(length, 3);
  LONG check = -1;
  EXPECT_EQ(server->CheckName(WideString(u"kasa 1"), &check), S_OK);
  EXPECT_EQ(check, SessionText::cncBadCharacter);
  EXPECT_EQ(server->CheckName(WideString(u"kasa1"), &check), S_OK);
  EXPECT_EQ(check, 0);
  EXPECT_EQ(tperrno, TPEPROTO);
  EXPECT_EQ(Ferror32, FNOSPACE);
  tperrno = 0;
  Ferror32 = 0;
}

TEST(LoginFieldTable, NamesResolveToTheDeclaredIds) {
  const auto dir = std::filesystem::temp_directory_path();
  std::ofstream(dir / "txlib_login.fml32") << FieldTable;
  ::setenv("FLDTBLDIR32", dir.c_str(), 1);
  ::setenv("FIELDTBLS32", "txlib_login.fml32", 1);
  Fnmid_unload32();
  Fidnm_unload32();
  const std::pair<const char*, FLDID32> fields[] = {
      {"QL_USERNAME", QL_USERNAME}, {"QL_PASSWD", QL_PASSWD},     {"QL_CLIENTNAME", QL_CLIENTNAME},
      {"QL_APPCODE", QL_APPCODE},   {"QL_APPLABEL", QL_APPLABEL}, {"QL_APPVERSION", QL_APPVERSION},
      {"QL_AUTHDLL", QL_AUTHDLL},   {"QL_FLAGS", QL_FLAGS},       {"QL_LOGIN", QL_LOGIN},
      {"QL_UNIT", QL_UNIT},         {"QL_ROLE", QL_ROLE},         {"QL_APPKEY", QL_APPKEY},
      {"QL_RESULT", QL_RESULT}};
  for (const auto& [name, id] : fields) {
    EXPECT_EQ(Fldid32(const_cast<char*>(name)), id) << name;
    EXPECT_EQ(Fmkfldid32(Fldtype32(id), static_cast<FLDID32>(Fldno32(id))), id) << name;
  }
  Fnmid_unload32();
  Fidnm_unload32();
  std::filesystem::remove(dir / "txlib_login.fml32");
}

}  // namespace
}  // namespace Tx
