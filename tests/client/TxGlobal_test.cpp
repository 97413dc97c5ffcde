// The client side: exceptions and checks, operation labels, the user log,
// code pages, the process-wide session and the client component, against
// the builtin domain.
#include "client/TxGlobal.h"

#include <atmi.h>
#include <fml32.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/framework/Dialogs.h"
#include "platform/framework/framework_test_support.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "platform/tuxedo/builtin/atmi_testing.h"

namespace Tx {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using FrameworkTest::Raised;
const std::string kNoConnection = "Brak połączenia z serwerem Tuxedo !"_ansi.str();

// The exception of type E that body raises, if any.
template <class E, class Body>
std::optional<E> Caught(Body body) {
  try {
    body();
  } catch (const E& e) {
    return e;
  }
  return std::nullopt;
}

// Admits everybody but "intruz".
void AuthService(TPSVCINFO* info) {
  const bool refused =
      std::strcmp(reinterpret_cast<const TPINIT*>(info->data)->usrname, "intruz") == 0;
  tpreturn(refused ? TPFAIL : TPSUCCESS, 0, nullptr, 0, 0);
}

// Each test starts without a session, in a builtin domain, with a recording
// user interface and an empty directory of its own.
class Client : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    fs::create_directories(dir);
  }
  void TearDown() override {
    Reset();
    SetComRemoteActivation(true);
    SetDebugMode(1);
    fs::remove_all(dir);
  }
  static void Reset() {
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    TTxGlobalClient::ClearTpErrors();
    TTxGlobalClient::SetTpTimeOut(0);
  }

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
  FrameworkTest::ScopedEnvironment env;
  const fs::path dir = fs::temp_directory_path() / ("txclient_" + std::to_string(getpid()));
};

TEST_F(Client, ExceptionsTakeOverAndClearTheErrorVariables) {
  tperrno = TPETIME;
  tpurcode = 5;
  const ETxSvcFail svc("failed", 1234);
  EXPECT_EQ(std::tuple(svc.Tperrno, svc.Tpurcode, svc.ErrCode), std::tuple(TPESVCFAIL, 5L, 1234L));
  EXPECT_EQ(tperrno, 0);
  Ferror32 = FNOTPRES;
  EXPECT_EQ(ETxFmlError("x").Ferror, FNOTPRES);
  EXPECT_EQ(Ferror32, 0);

  // CheckTperrno puts a carriage return before the operation.
  tpurcode = 42;
  EXPECT_NO_THROW(CheckTperrno("op"));
  const std::string head = "Błąd Tuxedo "_ansi.str() + tpstrerror(TPENOENT) + "\r";
  for (const AnsiString& op : {"Rozpoczęcie"_ansi, AnsiString()}) {
    tperrno = TPENOENT;
    tpurcode = 42;
    const auto e = Caught<ETxTpError>([&] { CheckTperrno(op); });
    ASSERT_TRUE(e) << op.str();
    EXPECT_EQ(e->Message.str(), head + op.str());
    EXPECT_EQ(std::tuple(e->Tperrno, e->Tpurcode, tperrno, tpurcode),
              std::tuple(TPENOENT, 42L, 0, 0L));
  }
  // The detail's text follows the error's only when the failed call left one.
  ASSERT_EQ(tpinit(nullptr), 0);
  AtmiBuiltin::DisconnectClients();
  ASSERT_EQ(tpbegin(30, 0), -1);
  const auto cut = Caught<ETxTpError>([] { CheckTperrno("op"); });
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->Message.str(), "Błąd Tuxedo "_ansi.str() + tpstrerror(TPESYSTEM) +
                                    "TPED_TERM: the client has been disconnected from the domain\rop");
  // CheckFerror names the field and the operation only when given.
  EXPECT_NO_THROW(CheckFerror("op", 1));
  const std::tuple<int, unsigned long, const char*, std::string> cases[] = {
      {FNOTPRES, 167772261UL, "op",
       "Błąd FML #4: Pole <167772261> - "_ansi.str() + Fstrerror32(FNOTPRES) + ": op"},
      {FNOSPACE, NoFieldId, "", "Błąd FML #3 - "_ansi.str() + Fstrerror32(FNOSPACE)},
  };
  for (const auto& [error, field, op, expected] : cases) {
    Ferror32 = error;
    const auto e = Caught<ETxFmlError>([op = op, field = field] { CheckFerror(op, field); });
    ASSERT_TRUE(e) << error;
    EXPECT_EQ(e->Message.str(), expected);
    EXPECT_EQ(std::tuple(e->Ferror, Ferror32), std::tuple(error, 0));
  }
}

TEST_F(Client, OpLabelHasFileAndLineOnlyInDebugModeAndOnlyTheAllOnesPatternIsBad) {
  SetDebugMode(1);
  const int line = __LINE__ + 1;
  const AnsiString label = OpLabel("Rozpoczęcie transakcji"_ansi);
  EXPECT_EQ(label, "Rozpoczęcie transakcji [TxGlobal_test.cpp."_ansi + AnsiString(line) + "]");
  EXPECT_EQ(OpLabelAt("t", "C:\\src\\lib\\TxFbfr.cpp", 7), AnsiString("t [TxFbfr.cpp.7]"));
  SetDebugMode(-5);  // any non-zero value is on
  EXPECT_EQ(OpLabelAt("t", "/src/lib/TxFbfr.cpp", 8), AnsiString("t [TxFbfr.cpp.8]"));
  SetDebugMode(0);
  EXPECT_EQ(OpLabel("Rozpoczęcie transakcji"_ansi), "Rozpoczęcie transakcji"_ansi);

  float f;
  double d;
  std::memset(&f, 0xFF, sizeof f);
  std::memset(&d, 0xFF, sizeof d);
  EXPECT_TRUE(BadFloat(f) && BadDouble(d));
  reinterpret_cast<unsigned char*>(&f)[sizeof f - 1] = 0x7F;  // still a NaN
  reinterpret_cast<unsigned char*>(&d)[0] = 0xFE;
  EXPECT_FALSE(BadFloat(f) || BadDouble(d));
}

TEST_F(Client, UserLogLinesInOrderAndAFailedOpenBeepsShowsTheBoxAndTheNextCallTriesAgain) {
  TTxGlobalClient::SetUserLogPath((dir / "ulog.txt").string());
  const TVarRec first[] = {TVarRec(7)};
  TTxGlobalClient::UserLog("first %d", first, 0);
  TTxGlobalClient::UserLog(" second", nullptr, -1);
  TTxGlobalClient::SetUserLogPath("C:\\ULog_BCB.log");  // closes the file
  std::ifstream in(dir / "ulog.txt", std::ios::binary);
  // The date and time end in a digit and touch the text.
  EXPECT_THAT(std::string(std::istreambuf_iterator<char>(in), {}),
              ::testing::MatchesRegex("[^\n]*[0-9]first 7\n[^\n]*[0-9] second\n"));

  // The default name in its Windows form, on a drive whose directory is missing.
  env.Set("TXLIB_DRIVE_ROOT", (dir / "drive").c_str());
  EXPECT_NO_THROW(TTxGlobalClient::UserLog("x", nullptr, -1));
  EXPECT_EQ(ui.Beeps().size(), 3U);
  ASSERT_EQ(ui.Dialogs().size(), 1U);
  EXPECT_EQ(ui.Dialogs()[0].Request.Caption + ": " + ui.Dialogs()[0].Request.Text,
            "Błąd: Nie można otworzyć C:\\ULog_BCB.log do zapisu"_ansi);
  fs::create_directories(dir / "drive");
  TTxGlobalClient::UserLog("y", nullptr, -1);
  TTxGlobalClient::SetUserLogPath("C:\\ULog_BCB.log");
  EXPECT_EQ(ui.Dialogs().size(), 1U);
  EXPECT_TRUE(fs::exists(dir / "drive" / "ULog_BCB.log"));
}

std::string Translated(const std::string& text, bool toServer) {
  AnsiString converted(text);
  TTxGlobalClient::TranslateString(converted, toServer);
  return converted.str();
}

TEST_F(Client, EveryCodePageBothWaysWithTheTypeInTheLowByte) {
  // Ą Ć Ę Ł Ń Ó Ś Ź Ż ą ć ę ł ń ó ś ź ż in Windows-1250 and in each page.
  const std::string windows =
      "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF";
  // clang-format off
  const std::pair<LONG, std::string> pages[] = {
      {txttMazovia,  "\x8F\x95\x90\x9C\xA5\xA3\x98\xA0\xA1\x86\x8D\x91\x92\xA4\xA2\x9E\xA6\xA7"},
      {txttCSK,      "\x80\x81\x82\x83\x84\x85\x86\x88\x87\xA0\xA1\xA2\xA3\xA4\xA5\xA6\xA8\xA7"},
      {txttCyfromat, "\x80\x81\x82\x83\x84\x85\x86\x88\x87\x90\x91\x92\x93\x94\x95\x96\x98\x97"},
      {txttDHN,      "\x80\x81\x82\x83\x84\x85\x86\x88\x87\x89\x8A\x8B\x8C\x8D\x8E\x8F\x91\x90"},
      {txttLatin2,   "\xA4\x8F\xA8\x9D\xE3\xE0\x97\x8D\xBD\xA5\x86\xA9\x88\xE4\xA2\x98\xAB\xBE"},
      {txttIEA,      "\x8F\x80\x90\x9C\xA5\x99\xEB\x9D\x92\xA0\x9B\x82\x9F\xA4\xA2\x87\xA8\x91"},
      {txttLogic,    "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F\x90\x91"},
      {txttMicrovex, "\x8F\x80\x90\x9C\xA5\x93\x98\x9D\x92\xA0\x9B\x82\x9F\xA4\xA2\x87\xA8\x91"},
      {txttISO8859,  "\xA1\xC6\xCA\xA3\xD1\xD3\xA6\xAC\xAF\xB1\xE6\xEA\xB3\xF1\xF3\xB6\xBC\xBF"},
      {txttASCII,    "ACELNOSZZacelnoszz"},
      // Pages that change nothing.
      {txttWindows, windows}, {txttNone, windows}, {12, windows}, {200, windows},
  };
  // clang-format on
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (const auto& [codePage, letters] : pages) {
    for (const LONG high : {0, 0x100}) {
      SCOPED_TRACE(codePage + high);
      TTxGlobalClient::GetSession()->put_AppServerCodePage(codePage + high);
      const bool ascii = codePage == txttASCII;
      EXPECT_EQ(Translated(windows, true), letters);
      EXPECT_EQ(Translated(letters, false), ascii ? letters : windows);
      const std::string out = Translated(all, true), in = Translated(all, false);
      if (codePage == txttISO8859) {
        // A permutation of the byte values, undone by the way back.
        EXPECT_EQ(std::set<char>(out.begin(), out.end()).size(), 255U);
        EXPECT_EQ(Translated(out, false), all);
        EXPECT_EQ(Translated(in, true), all);
        continue;
      }
      // Bytes other than the letters stay as they are.
      for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_TRUE(windows.find(all[i]) != std::string::npos || out[i] == all[i]) << i + 1;
        EXPECT_TRUE((!ascii && letters.find(all[i]) != std::string::npos) || in[i] == all[i])
            << i + 1;
      }
    }
  }
  // Translation stops at the first zero.
  TTxGlobalClient::SetTranslateType(txttLatin2);
  unsigned char text[] = {0xA5, 0xB9, 0x00, 0xA5, 0x00};
  TTxGlobalClient::TranslateString(text, true);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 4), "\xA4\xA5\0\xA5"s);
  EXPECT_EQ(Translated("\xA5\0\xA5"s, true), "\xA4\0\xA5"s);
  TTxGlobalClient::TranslateString(static_cast<unsigned char*>(nullptr), true);
}

TEST_F(Client, OneSessionUntilDisposedAndComStartedOncePerProcess) {
  ITuxSession* first = TTxGlobalClient::GetSession();
  TTxGlobalClient::CreateSession();
  EXPECT_EQ(TTxGlobalClient::GetSession(), first);
  TTxGlobalClient::DisposeSession();
  TTxGlobalClient::GetSession();
  // Undoing one start stops COM on this thread: the class started it once.
  CoUninitialize();
  TComInterface<ITuxSession> probe;
  EXPECT_EQ(CoCreateInstance(CLSID_QuorTuxSes, nullptr, CLSCTX_INPROC_SERVER, probe),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
}

TEST_F(Client, SessionClassIsAskedForAllKindsThenForLocalKindsWhenRemoteIsRefused) {
  const auto created = [] { return Raised(TTxGlobalClient::GetSession); };
  const std::string missing = "Exception: Klasa <QuorTuxSes> nie jest zarejestrowana !"_ansi.str();
  {
    const TBuiltinSessionServerAbsence absent;
    EXPECT_EQ(created(), missing);
    EXPECT_EQ(Raised([] { const TTxClient client(nullptr); }),
              "EOleSysError: Class not registered");
    const TComClassRegistration remoteOnly(
        CLSID_QuorTuxSes, QuorTuxSesProgID, CLSCTX_REMOTE_SERVER,
        [](IUnknown*, TComInterface<IUnknown>& object) -> HRESULT {
          object = TComInterface<IUnknown>(CreateBuiltinSessionServer().get());
          return S_OK;
        });
    EXPECT_EQ(created(), "(nothing raised)");
    TTxGlobalClient::DisposeSession();
    SetComRemoteActivation(false);
    EXPECT_EQ(created(), missing);
  }
  EXPECT_EQ(created(), "(nothing raised)");  // the second request found the local server
}

TEST_F(Client, ConnectOpensOnceTerminateClosesARefusalIsNoConnection) {
  TTxGlobalClient::Connect();
  TTxGlobalClient::Connect();
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 1U);
  TTxGlobalClient::Terminate();
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 0U);

  tpadvertise(const_cast<char*>("AUTHSVC"), [](TPSVCINFO*) { tpreturn(TPFAIL, 0, nullptr, 0, 0); });
  EXPECT_EQ(Raised(TTxGlobalClient::Connect), "ETxError: " + kNoConnection);
  EXPECT_EQ(Raised(TTxGlobalClient::BeginTransaction), "ETxError: " + kNoConnection);
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 0U);
}

TEST_F(Client, TransactionsConnectThemselvesAndAnExpiredTimeOutFailsTheCommit) {
  EXPECT_FALSE(TTxGlobalClient::IsTransaction());
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 1U);  // asking connects
  TTxGlobalClient::SetTpTimeOut(30);
  TTxGlobalClient::BeginTransaction();
  EXPECT_TRUE(TTxGlobalClient::IsTransaction());
  AtmiBuiltin::AdvanceClock(std::chrono::seconds(29));
  TTxGlobalClient::CommitTransaction();  // still in time
  TTxGlobalClient::BeginTransaction();
  TTxGlobalClient::AbortTransaction();
  EXPECT_FALSE(TTxGlobalClient::IsTransaction());
  EXPECT_EQ(std::pair(AtmiBuiltin::CompletedTransactions().commits,
                      AtmiBuiltin::CompletedTransactions().aborts),
            std::pair(1UL, 1UL));

  TTxGlobalClient::BeginTransaction();
  AtmiBuiltin::AdvanceClock(std::chrono::seconds(31));
  const auto e = Caught<ETxTpError>(TTxGlobalClient::CommitTransaction);
  ASSERT_TRUE(e);
  EXPECT_EQ(std::tuple(e->Tperrno, tperrno, TTxGlobalClient::IsTransaction()),
            std::tuple(TPEABORT, 0, false));
  EXPECT_EQ(e->Message.str().rfind("Błąd Tuxedo "_ansi.str() + tpstrerror(TPEABORT), 0), 0U);
  EXPECT_THAT(e->Message.str(),
              ::testing::MatchesRegex(
                  ".*\rZatwierdzenie transakcji \\[TxGlobal\\.cpp\\.[0-9]+\\]"_ansi.str()));
}

TEST_F(Client, HashNameCheckAndFieldTablesGoThroughTheServer) {
  AnsiString hashed;
  tperrno = TPEPROTO;
  tpurcode = 9;
  Ferror32 = FNOSPACE;
  EXPECT_EQ(TTxGlobalClient::ArdoHash("abc", hashed), 3);
  EXPECT_EQ(hashed, AnsiString("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
  EXPECT_TRUE(tperrno == 0 && tpurcode == 0 && Ferror32 == 0);
  tperrno = TPEPROTO;
  EXPECT_EQ(TTxGlobalClient::ArdoCheckName("1kasa"), 3);
  EXPECT_EQ(tperrno, 0);

  // Unloading makes both field tables read again.
  env.Set("FLDTBLDIR32", dir.c_str());
  env.Set("FIELDTBLS32", "fields");
  for (const auto& [table, id] : {std::pair{"*base 100\nTXG_FIELD\t1\tstring\t-\n", 101},
                                  std::pair{"*base 200\nTXG_FIELD\t1\tlong\t-\n", 201}}) {
    std::ofstream(dir / "fields") << table;
    TTxGlobalClient::UnloadFieldTables();
    EXPECT_EQ(Fldno32(Fldid32(const_cast<char*>("TXG_FIELD"))), id);
    EXPECT_STREQ(Fname32(Fldid32(const_cast<char*>("TXG_FIELD"))), "TXG_FIELD");
  }
  TTxGlobalClient::UnloadFieldTables();
  EXPECT_EQ(Ferror32, 0);
}

// ---- The client component ------------------------------------------------------------

TEST_F(Client, ComponentsShowTheSameSettingsAndANewOneResetsTheCallSettings) {
  TTxClient first(nullptr);
  TTxClient second(nullptr);
  const struct {
    void (TTxClient::*Set)(const AnsiString&);
    AnsiString (TTxClient::*Get)();
    AnsiString Value;
  } texts[] = {{&TTxClient::SetUserName, &TTxClient::GetUserName, "Józef"_ansi},
               {&TTxClient::SetClientName, &TTxClient::GetClientName, "kasa1"},
               {&TTxClient::SetPasswd, &TTxClient::GetPasswd, "tajne"},
               {&TTxClient::SetData, &TTxClient::GetData, "dane"},
               {&TTxClient::SetQuorAppCode, &TTxClient::GetQuorAppCode, "FK"},
               {&TTxClient::SetQuorAppLabel, &TTxClient::GetQuorAppLabel, "Finanse"},
               {&TTxClient::SetQuorAppVersion, &TTxClient::GetQuorAppVersion, "2.1"},
               {&TTxClient::SetQuorAuthDll, &TTxClient::GetQuorAuthDll, "auth.dll"},
               {&TTxClient::SetEnvSection, &TTxClient::GetEnvSection, "test"}};
  for (const auto& t : texts) (first.*t.Set)(t.Value);
  for (const auto& t : texts) EXPECT_EQ((second.*t.Get)(), t.Value);
  EXPECT_FALSE(second.IsTranslateTypeStored());
  first.SetQuorLoginFlags(3);
  first.SetAuthenticate(txakQuor);
  first.SetUseRouter(true);
  first.SetTpTimeOut(45);
  first.SetTranslateType(txttMazovia);
  const auto calls = [&] {
    return std::tuple(second.GetTpTimeOut(), second.GetAuthenticate(), second.GetUseRouter());
  };
  EXPECT_EQ(calls(), std::tuple(45, txakQuor, true));
  EXPECT_EQ(std::tuple(second.GetQuorLoginFlags(), second.GetTranslateType(),
                       second.IsTranslateTypeStored()),
            std::tuple(3, txttMazovia, true));
  // A new component puts time-out, authentication and routing back.
  const TTxClient third(nullptr);
  EXPECT_EQ(calls(), std::tuple(0, txakNone, false));
  EXPECT_EQ(second.GetUserName(), "Józef"_ansi);
}

TEST_F(Client, ConnectedWhileReadingWaitsForLoadedAndAtRunTimeActsAtOnce) {
  tpadvertise(const_cast<char*>("AUTHSVC"), AuthService);
  TTxClient client(nullptr);
  client.SetReading(true);
  client.SetConnected(true);
  client.SetReading(false);
  EXPECT_FALSE(client.GetConnected());
  client.SetLoading();
  client.Loaded();
  EXPECT_TRUE(client.GetConnected());

  // A form saved with Connected false closes the process's open session.
  TTxClient other(nullptr);
  other.SetLoading();
  other.SetConnected(false);
  EXPECT_TRUE(client.GetConnected());
  other.Loaded();
  EXPECT_FALSE(client.GetConnected());

  for (const bool connected : {true, false}) {  // at run time, at once
    other.SetConnected(connected);
    EXPECT_EQ(client.GetConnected(), connected);
  }
  other.SetAuthenticate(txakTPINIT);
  other.SetUserName("intruz");
  EXPECT_EQ(Raised([&] { other.SetConnected(true); }), "EPropertyError: " + kNoConnection);
  // The forwarding member passes it unchanged.
  EXPECT_EQ(Raised([&] { other.Connect(); }), "ETxError: " + kNoConnection);

  // A failure in Loaded is a message box at design time and an exception at run time.
  other.SetDesigning(true);
  other.SetLoading();
  other.SetConnected(true);
  EXPECT_NO_THROW(other.Loaded());
  ASSERT_EQ(ui.Dialogs().size(), 1U);
  const TDialogRequest box = ui.Dialogs()[0].Request;
  EXPECT_EQ(std::tuple(box.Source, box.Caption + ": " + box.Text, box.Flags),
            std::tuple(TDialogSource::dsApplicationMessageBox, "Error: "_ansi + kNoConnection,
                       MB_OK | MB_ICONERROR));
  other.SetDesigning(false);
  other.SetLoading();
  EXPECT_EQ(Raised([&] { other.Loaded(); }), "Exception: " + kNoConnection);
}

class Recorder : public TObject {
 public:
  void Broadcast(TObject* Sender, char* Data, long Len, long Flags) {
    ASSERT_NE(Data, nullptr);
    EXPECT_EQ(Sender, ExpectedSender);
    Events.push_back(std::string(Data) + "|" + std::to_string(Len) + "|" + std::to_string(Flags));
  }
  TObject* ExpectedSender = nullptr;
  std::vector<std::string> Events;
};

TEST_F(Client, BroadcastsReachOnBroadcastAsTextWithThisComponentAsSender) {
  TTxClient client(nullptr);
  Recorder recorder;
  recorder.ExpectedSender = &client;
  client.SetOnBroadcast(TTxBroadcastEvent(&recorder, &Recorder::Broadcast));
  EXPECT_EQ(client.CheckUnsol(), 0);  // not connected: nothing to check
  client.Connect();
  AtmiBuiltin::TpBuffer data("STRING", 0);
  std::strcpy(data.get(), "Proszę zamknąć dzień"_ansi.c_str());
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, data.get(), 0, 0), 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(client.CheckUnsol(), 0);
  EXPECT_EQ(recorder.Events,
            (std::vector<std::string>{"Proszę zamknąć dzień|21|0"_ansi.str(), "|0|0"}));

  client.SetOnBroadcast(nullptr);  // without a handler messages are dropped
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, data.get(), 0, 0), 0);
  EXPECT_EQ(client.CheckUnsol(), 0);
  EXPECT_EQ(AtmiBuiltin::QueuedMessageCount(), 0U);
  EXPECT_EQ(recorder.Events.size(), 2U);
}

// A session server whose every call fails, as a broken outside server would.
// clang-format off
#define TX_FAILS(signature) \
  HRESULT signature override { return E_FAIL; }
#define TX_PROP(name, type) TX_FAILS(get_##name(type*)) TX_FAILS(put_##name(type))
#define TX_TEXT(name) TX_FAILS(get_##name(WideString*)) TX_FAILS(put_##name(const WideString&))
class TFailingSession final : public TComObject<ITuxSession> {
 public:
  TX_FAILS(GetTypeInfoCount(UINT*)) TX_FAILS(GetTypeInfo(UINT, LCID, void**))
  TX_FAILS(GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*))
  TX_FAILS(Invoke(DISPID, REFIID, LCID, WORD, void*, void*, void*, UINT*))
  TX_FAILS(Connect()) TX_FAILS(Terminate()) TX_FAILS(CheckName(const WideString&, LONG*))
  TX_PROP(Connected, VARIANT_BOOL) TX_PROP(UseRouter, VARIANT_BOOL) TX_PROP(AuthKind, TxAuthKind)
  TX_TEXT(ClientName) TX_TEXT(UserName) TX_TEXT(Passwd) TX_TEXT(data) TX_TEXT(QuorAppCode)
  TX_TEXT(QuorAppLabel) TX_TEXT(QuorAppVersion) TX_TEXT(QuorAuthDLL) TX_TEXT(EnvSection)
  TX_PROP(QuorLoginFlags, LONG) TX_PROP(AppServerCodePage, LONG)
  TX_FAILS(get_QuorInfoLogin(WideString*)) TX_FAILS(get_QuorInfoUnit(WideString*))
  TX_FAILS(get_QuorInfoRole(WideString*)) TX_FAILS(get_QuorInfoAppKey(LONG*))
  TX_FAILS(get_QuorLoginResult(LONG*)) TX_FAILS(ReadEnv(const WideString&))
  TX_FAILS(CheckUnsol()) TX_FAILS(Hash(const WideString&, WideString*, LONG*))
};
#undef TX_TEXT
#undef TX_PROP
#undef TX_FAILS
// clang-format on

TEST_F(Client, AFailingPropertyReadAsksThroughTheCheckDialog) {
  const TComClassRegistration broken(CLSID_QuorTuxSes, QuorTuxSesProgID, CLSCTX_INPROC_SERVER,
                                     ComClassFactory<TFailingSession>());
  TTxGlobalClient::DisposeSession();
  ui.QueueAnswer(IDNO);  // go on with the empty value
  EXPECT_EQ(TTxGlobalClient::GetEnvSection(), AnsiString());
  ui.QueueAnswer(IDYES);  // give up
  EXPECT_EQ(Raised([] { TTxGlobalClient::GetTranslateType(); }).substr(0, 13), "EOleSysError:");
  const auto dialogs = ui.Dialogs();
  ASSERT_EQ(dialogs.size(), 2U);
  EXPECT_EQ(dialogs[0].Request.Caption.SubString(1, 9), AnsiString("HRCHECK: "));
  EXPECT_NE(dialogs[1].Request.Text.Pos("get_AppServerCodePage"), 0);
  TTxGlobalClient::DisposeSession();
}

}  // namespace
}  // namespace Tx
