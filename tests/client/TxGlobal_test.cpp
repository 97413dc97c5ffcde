// Exceptions, checks, operation labels, the user log, code pages and the
// process-wide client of TxGlobal.
#include "client/TxGlobal.h"

#include <atmi.h>
#include <fml32.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <tuple>

#include "platform/framework/Dialogs.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"

namespace Tx {
namespace {

using namespace std::string_literals;

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

// A fresh directory for the running test, removed at the end.
struct TempDir {
  TempDir()
      : Path(std::filesystem::temp_directory_path() /
             ("txlib_global_" +
              std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))) {
    std::filesystem::remove_all(Path);
    std::filesystem::create_directories(Path);
  }
  ~TempDir() { std::filesystem::remove_all(Path); }
  std::filesystem::path Path;
};

TEST(Errors, ServiceAndFieldFailuresTakeOverAndClearTheErrorVariables) {
  tperrno = TPETIME;
  tpurcode = 5;
  const ETxSvcFail svc("failed", 1234);
  EXPECT_EQ(svc.Tperrno, TPESVCFAIL);
  EXPECT_EQ(svc.Tpurcode, 5);
  EXPECT_EQ(svc.ErrCode, 1234);
  EXPECT_EQ(tperrno, 0);

  Ferror32 = FNOTPRES;
  const ETxFmlError fml("x");
  EXPECT_EQ(fml.Ferror, FNOTPRES);
  EXPECT_EQ(Ferror32, 0);
}

TEST(Errors, CheckTperrnoPutsACarriageReturnBeforeTheOperation) {
  tpurcode = 42;
  EXPECT_NO_THROW(CheckTperrno("op"));
  const std::string head = "Błąd Tuxedo "_ansi.str() + tpstrerror(TPENOENT) +
                           tpstrerrordetail(tperrordetail(0), 0) + "\r";
  for (const AnsiString& op : {"Rozpoczęcie"_ansi, AnsiString()}) {
    tperrno = TPENOENT;
    tpurcode = 42;
    const auto e = Caught<ETxTpError>([&] { CheckTperrno(op); });
    ASSERT_TRUE(e) << op.str();
    EXPECT_EQ(e->Message.str(), head + op.str());
    EXPECT_EQ(e->Tperrno, TPENOENT);
    EXPECT_EQ(e->Tpurcode, 42);
    EXPECT_TRUE(tperrno == 0 && tpurcode == 0);
  }
}

TEST(Errors, CheckFerrorAddsTheFieldAndTheOperationOnlyWhenGiven) {
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
    EXPECT_EQ(e->Ferror, error);
    EXPECT_EQ(Ferror32, 0);
  }
}

TEST(OpLabel, FileAndLineOnlyInDebugMode) {
  SetDebugMode(1);
  const int line = __LINE__ + 1;
  const AnsiString label = OpLabel("Rozpoczęcie transakcji"_ansi);
  EXPECT_EQ(label, "Rozpoczęcie transakcji [TxGlobal_test.cpp."_ansi + AnsiString(line) + "]");
  EXPECT_EQ(OpLabelAt("t", "C:\\src\\lib\\TxFbfr.cpp", 7), AnsiString("t [TxFbfr.cpp.7]"));
  SetDebugMode(-5);  // any non-zero value is on
  EXPECT_EQ(OpLabelAt("t", "/src/lib/TxFbfr.cpp", 8), AnsiString("t [TxFbfr.cpp.8]"));
  SetDebugMode(0);
  EXPECT_EQ(OpLabel("Rozpoczęcie transakcji"_ansi), "Rozpoczęcie transakcji"_ansi);
  SetDebugMode(1);
}

TEST(BadValues, OnlyTheAllOnesPatternIsBad) {
  float f;
  double d;
  std::memset(&f, 0xFF, sizeof f);
  std::memset(&d, 0xFF, sizeof d);
  EXPECT_TRUE(BadFloat(f));
  EXPECT_TRUE(BadDouble(d));
  reinterpret_cast<unsigned char*>(&f)[sizeof f - 1] = 0x7F;  // still a NaN
  reinterpret_cast<unsigned char*>(&d)[0] = 0xFE;
  EXPECT_FALSE(BadFloat(f));
  EXPECT_FALSE(BadDouble(d));
}

TEST(UserLog, LinesInOrderAndAFailedOpenBeepsShowsTheBoxAndTheNextCallTriesAgain) {
  const TempDir dir;
  TTxGlobalClient::SetUserLogPath((dir.Path / "ulog.txt").string());
  const TVarRec first[] = {TVarRec(7)};
  TTxGlobalClient::UserLog("first %d", first, 0);
  TTxGlobalClient::UserLog(" second", nullptr, -1);
  TTxGlobalClient::SetUserLogPath("C:\\ULog_BCB.log");  // closes the file
  std::ifstream in(dir.Path / "ulog.txt", std::ios::binary);
  const std::string log(std::istreambuf_iterator<char>(in), {});
  // The date and time end in a digit and touch the text.
  EXPECT_THAT(log, ::testing::MatchesRegex("[^\n]*[0-9]first 7\n[^\n]*[0-9] second\n"));

  // The default name in its Windows form, on a drive whose directory is missing.
  TRecordingUserInterface ui;
  const TUserInterfaceScope scope(ui);
  ::setenv("TXLIB_DRIVE_ROOT", (dir.Path / "drive").c_str(), 1);
  EXPECT_NO_THROW(TTxGlobalClient::UserLog("x", nullptr, -1));
  EXPECT_EQ(ui.Beeps().size(), 3U);
  ASSERT_EQ(ui.Dialogs().size(), 1U);
  EXPECT_EQ(ui.Dialogs()[0].Request.Caption, "Błąd"_ansi);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text, "Nie można otworzyć C:\\ULog_BCB.log do zapisu"_ansi);
  std::filesystem::create_directories(dir.Path / "drive");
  TTxGlobalClient::UserLog("y", nullptr, -1);
  TTxGlobalClient::SetUserLogPath("C:\\ULog_BCB.log");
  ::unsetenv("TXLIB_DRIVE_ROOT");
  EXPECT_EQ(ui.Dialogs().size(), 1U);
  EXPECT_TRUE(std::filesystem::exists(dir.Path / "drive" / "ULog_BCB.log"));
}

// ---- The session server and what goes through it -----------------------------------

class GlobalSession : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override {
    Reset();
    SetComRemoteActivation(true);
    SetDebugMode(1);
  }
  static void Reset() {
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    TTxGlobalClient::ClearTpErrors();
    TTxGlobalClient::SetTpTimeOut(0);
  }
  static std::string RegistrationMessage() {
    const auto e = Caught<Exception>(TTxGlobalClient::GetSession);
    return e ? e->Message.str() : "created";
  }

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
};

std::string Translated(const std::string& text, bool toServer) {
  AnsiString converted(text);
  TTxGlobalClient::TranslateString(converted, toServer);
  return converted.str();
}

TEST_F(GlobalSession, EveryCodePageBothWaysWithTheTypeInTheLowByte) {
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
}

TEST_F(GlobalSession, TranslationStopsAtTheFirstZero) {
  TTxGlobalClient::SetTranslateType(txttLatin2);
  unsigned char text[] = {0xA5, 0xB9, 0x00, 0xA5, 0x00};
  TTxGlobalClient::TranslateString(text, true);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 4), "\xA4\xA5\0\xA5"s);
  EXPECT_EQ(Translated("\xA5\0\xA5"s, true), "\xA4\0\xA5"s);
  TTxGlobalClient::TranslateString(static_cast<unsigned char*>(nullptr), true);
}

TEST_F(GlobalSession, OneObjectUntilDisposedAndComStartedOncePerProcess) {
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

TEST_F(GlobalSession, ClassIsAskedForAllKindsThenForLocalKindsWhenRemoteIsRefused) {
  const std::string missing = "Klasa <QuorTuxSes> nie jest zarejestrowana !"_ansi.str();
  {
    const TBuiltinSessionServerAbsence absent;
    EXPECT_EQ(RegistrationMessage(), missing);
    const TComClassRegistration remoteOnly(
        CLSID_QuorTuxSes, QuorTuxSesProgID, CLSCTX_REMOTE_SERVER,
        [](IUnknown*, TComInterface<IUnknown>& object) -> HRESULT {
          object = TComInterface<IUnknown>(CreateBuiltinSessionServer().get());
          return S_OK;
        });
    EXPECT_EQ(RegistrationMessage(), "created");
    TTxGlobalClient::DisposeSession();
    SetComRemoteActivation(false);
    EXPECT_EQ(RegistrationMessage(), missing);
  }
  EXPECT_EQ(RegistrationMessage(), "created");  // the second request found the local server
}

TEST_F(GlobalSession, ConnectOpensOnceTerminateClosesARefusalIsNoConnection) {
  TTxGlobalClient::Connect();
  TTxGlobalClient::Connect();
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 1U);
  TTxGlobalClient::Terminate();
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 0U);

  tpadvertise(const_cast<char*>("AUTHSVC"), [](TPSVCINFO*) { tpreturn(TPFAIL, 0, nullptr, 0, 0); });
  const auto e = Caught<ETxError>(TTxGlobalClient::Connect);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Message, "Brak połączenia z serwerem Tuxedo !"_ansi);
  EXPECT_THROW(TTxGlobalClient::BeginTransaction(), ETxError);
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 0U);
}

TEST_F(GlobalSession, TransactionsConnectThemselvesAndAnExpiredTimeOutFailsTheCommit) {
  EXPECT_FALSE(TTxGlobalClient::IsTransaction());
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 1U);
  TTxGlobalClient::SetTpTimeOut(30);
  TTxGlobalClient::BeginTransaction();
  EXPECT_TRUE(TTxGlobalClient::IsTransaction());
  AtmiBuiltin::AdvanceClock(std::chrono::seconds(29));
  TTxGlobalClient::CommitTransaction();  // still in time
  TTxGlobalClient::BeginTransaction();
  TTxGlobalClient::AbortTransaction();
  EXPECT_FALSE(TTxGlobalClient::IsTransaction());
  EXPECT_EQ(AtmiBuiltin::CompletedTransactions().commits, 1UL);
  EXPECT_EQ(AtmiBuiltin::CompletedTransactions().aborts, 1UL);

  TTxGlobalClient::BeginTransaction();
  AtmiBuiltin::AdvanceClock(std::chrono::seconds(31));
  const auto e = Caught<ETxTpError>(TTxGlobalClient::CommitTransaction);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Tperrno, TPEABORT);
  EXPECT_EQ(e->Message.str().rfind("Błąd Tuxedo "_ansi.str() + tpstrerror(TPEABORT), 0), 0U);
  EXPECT_THAT(e->Message.str(),
              ::testing::MatchesRegex(
                  ".*\rZatwierdzenie transakcji \\[TxGlobal\\.cpp\\.[0-9]+\\]"_ansi.str()));
  EXPECT_EQ(tperrno, 0);
  EXPECT_FALSE(TTxGlobalClient::IsTransaction());
}

TEST_F(GlobalSession, HashAndNameCheckComeFromTheServerAndClearTheErrors) {
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
}

TEST_F(GlobalSession, UnloadMakesBothFieldTablesReadAgain) {
  const TempDir dir;
  ::setenv("FLDTBLDIR32", dir.Path.c_str(), 1);
  ::setenv("FIELDTBLS32", "fields", 1);
  for (const auto& [table, id] : {std::pair{"*base 100\nTXG_FIELD\t1\tstring\t-\n", 101},
                                  std::pair{"*base 200\nTXG_FIELD\t1\tlong\t-\n", 201}}) {
    std::ofstream(dir.Path / "fields") << table;
    TTxGlobalClient::UnloadFieldTables();
    EXPECT_EQ(Fldno32(Fldid32(const_cast<char*>("TXG_FIELD"))), id);
    EXPECT_STREQ(Fname32(Fldid32(const_cast<char*>("TXG_FIELD"))), "TXG_FIELD");
  }
  TTxGlobalClient::UnloadFieldTables();
  EXPECT_EQ(Ferror32, 0);
}

}  // namespace
}  // namespace Tx
