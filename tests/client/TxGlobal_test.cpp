// Exceptions, checks, operation labels and the user log of TxGlobal.
#include "client/TxGlobal.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "platform/framework/Dialogs.h"
#include "platform/session/ScriptedSession.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"

namespace Tx {
namespace {

class ErrorVariables : public ::testing::Test {
 protected:
  void SetUp() override { TTxGlobalClient::ClearTpErrors(); }
  void TearDown() override {
    TTxGlobalClient::ClearTpErrors();
    SetDebugMode(1);
  }
};

TEST_F(ErrorVariables, TpErrorTakesOverAndClearsTperrnoAndTpurcode) {
  tperrno = TPENOENT;
  tpurcode = 77;
  const ETxTpError error("x");
  EXPECT_EQ(error.Tperrno, TPENOENT);
  EXPECT_EQ(error.Tpurcode, 77);
  EXPECT_EQ(tperrno, 0);
  EXPECT_EQ(tpurcode, 0);
}

TEST_F(ErrorVariables, SvcFailAlwaysReportsTpesvcfail) {
  tperrno = TPETIME;
  tpurcode = 5;
  const ETxSvcFail error("failed", 1234);
  EXPECT_EQ(error.Tperrno, 11);
  EXPECT_EQ(error.Tpurcode, 5);
  EXPECT_EQ(error.ErrCode, 1234);
  EXPECT_EQ(tperrno, 0);
}

TEST_F(ErrorVariables, FmlErrorTakesOverAndClearsFerror) {
  Ferror32 = FNOTPRES;
  const ETxFmlError error("x");
  EXPECT_EQ(error.Ferror, FNOTPRES);
  EXPECT_EQ(Ferror32, 0);
}

TEST_F(ErrorVariables, CopiesKeepOwnFieldsThroughBaseCatch) {
  tperrno = TPEPERM;
  try {
    try {
      throw ETxSvcFail("svc", 9);
    } catch (const Exception& e) {
      throw;  // rethrows the original object
    }
  } catch (const ETxSvcFail& e) {
    const ETxSvcFail copy(e);
    EXPECT_EQ(copy.ErrCode, 9);
    EXPECT_EQ(copy.Tperrno, 11);
    EXPECT_EQ(copy.Message, AnsiString("svc"));
  }
}

TEST_F(ErrorVariables, ClearTpErrorsClearsAllThree) {
  tperrno = 3;
  tpurcode = 4;
  Ferror32 = 5;
  TTxGlobalClient::ClearTpErrors();
  EXPECT_EQ(tperrno, 0);
  EXPECT_EQ(tpurcode, 0);
  EXPECT_EQ(Ferror32, 0);
}

using CheckTperrnoMessage = ErrorVariables;

TEST_F(CheckTperrnoMessage, ZeroTperrnoReturnsAndKeepsTpurcode) {
  tpurcode = 42;
  EXPECT_NO_THROW(CheckTperrno("op"));
  EXPECT_EQ(tpurcode, 42);
}

TEST_F(CheckTperrnoMessage, ComposesPrefixTextsCarriageReturnAndOperation) {
  const std::string expected = std::string(
                                   "B\xB3\xB9"
                                   "d Tuxedo ") +
                               tpstrerror(TPENOENT) + tpstrerrordetail(tperrordetail(0), 0) +
                               "\rRozpocz\xEA"
                               "cie";
  tperrno = TPENOENT;
  try {
    CheckTperrno("Rozpoczęcie"_ansi);
    FAIL() << "no exception";
  } catch (const ETxTpError& e) {
    EXPECT_EQ(e.Message.str(), expected);
    EXPECT_EQ(e.Tperrno, TPENOENT);
    EXPECT_EQ(tperrno, 0);
  }
}

TEST_F(CheckTperrnoMessage, EmptyOperationStillEndsWithCarriageReturn) {
  tperrno = TPEINVAL;
  try {
    CheckTperrno(AnsiString());
    FAIL() << "no exception";
  } catch (const ETxTpError& e) {
    ASSERT_FALSE(e.Message.IsEmpty());
    EXPECT_EQ(e.Message.str().back(), '\r');
  }
}

using CheckFerrorMessage = ErrorVariables;

TEST_F(CheckFerrorMessage, WithFieldAndOperation) {
  Ferror32 = FNOTPRES;
  try {
    CheckFerror("op", 167772261UL);
    FAIL() << "no exception";
  } catch (const ETxFmlError& e) {
    EXPECT_EQ(e.Message.str(), std::string("B\xB3\xB9"
                                           "d FML #4: Pole <167772261> - ") +
                                   Fstrerror32(FNOTPRES) + ": op");
    EXPECT_EQ(e.Ferror, FNOTPRES);
  }
}

TEST_F(CheckFerrorMessage, NoFieldAndEmptyOperationAddNothing) {
  Ferror32 = FNOSPACE;
  try {
    CheckFerror(AnsiString(), NoFieldId);
    FAIL() << "no exception";
  } catch (const ETxFmlError& e) {
    EXPECT_EQ(e.Message.str(), std::string("B\xB3\xB9"
                                           "d FML #3 - ") +
                                   Fstrerror32(FNOSPACE));
  }
  EXPECT_NO_THROW(CheckFerror("op", 1));
}

TEST(OpLabel, CarriesFileAndLineInDebugMode) {
  SetDebugMode(1);
  const int line = __LINE__ + 1;
  const AnsiString label = OpLabel("Rozpoczęcie transakcji"_ansi);
  EXPECT_EQ(label, "Rozpoczęcie transakcji [TxGlobal_test.cpp."_ansi + AnsiString(line) + "]");
  SetDebugMode(0);
  EXPECT_EQ(OpLabel("Rozpoczęcie transakcji"_ansi), "Rozpoczęcie transakcji"_ansi);
  SetDebugMode(-5);  // any non-zero value is on
  EXPECT_NE(OpLabel("x").Pos("["), 0);
  SetDebugMode(1);
}

TEST(OpLabel, DropsDirectoriesOfBothKinds) {
  EXPECT_EQ(OpLabelAt("t", "C:\\src\\lib\\TxFbfr.cpp", 7), AnsiString("t [TxFbfr.cpp.7]"));
  EXPECT_EQ(OpLabelAt("t", "/src/lib/TxFbfr.cpp", 8), AnsiString("t [TxFbfr.cpp.8]"));
}

TEST(BadValues, OnlyTheAllOnesPatternIsBad) {
  float f;
  double d;
  std::memset(&f, 0xFF, sizeof f);
  std::memset(&d, 0xFF, sizeof d);
  EXPECT_TRUE(BadFloat(f));
  EXPECT_TRUE(BadDouble(d));
  float nanF = std::numeric_limits<float>::quiet_NaN();
  double nanD = std::numeric_limits<double>::quiet_NaN();
  float zeroF = 0.0F;
  double zeroD = 0.0;
  EXPECT_FALSE(BadFloat(nanF));
  EXPECT_FALSE(BadDouble(nanD));
  EXPECT_FALSE(BadFloat(zeroF));
  EXPECT_FALSE(BadDouble(zeroD));
}

class UserLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("txlib_userlog_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    TTxGlobalClient::SetUserLogPath("C:\\ULog_BCB.log");
    std::filesystem::remove_all(dir_);
  }
  std::string ReadLog(const std::filesystem::path& path) {
    TTxGlobalClient::SetUserLogPath((dir_ / "other.log").string());  // closes and flushes
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::path dir_;
};

TEST_F(UserLogFile, TwoCallsGiveTwoLinesInOrderWithDateTouchingText) {
  const auto path = dir_ / "ulog.txt";
  TTxGlobalClient::SetUserLogPath(path.string());
  const TVarRec first[] = {TVarRec(7)};
  TTxGlobalClient::UserLog("first %d", first, 0);
  TTxGlobalClient::UserLog(" second", nullptr, -1);
  const std::string log = ReadLog(path);
  const auto firstEnd = log.find('\n');
  ASSERT_NE(firstEnd, std::string::npos);
  const std::string line1 = log.substr(0, firstEnd);
  const std::string line2 = log.substr(firstEnd + 1, log.size() - firstEnd - 2);
  EXPECT_EQ(log.back(), '\n');
  EXPECT_EQ(line1.substr(line1.size() - 7), "first 7");
  EXPECT_NE(line1[line1.size() - 8], ' ');  // the date-time touches the text
  EXPECT_EQ(line2.substr(line2.size() - 7), " second");
}

TEST_F(UserLogFile, FailedOpenBeepsThreeTimesAndShowsTheMessageThenRetries) {
  TRecordingUserInterface recorder;
  const TUserInterfaceScope installed(recorder);
  TTxGlobalClient::SetUserLogPath((dir_ / "missing" / "ulog.txt").string());
  EXPECT_NO_THROW(TTxGlobalClient::UserLog("x", nullptr, -1));
  EXPECT_EQ(recorder.Beeps().size(), 3U);
  ASSERT_EQ(recorder.Dialogs().size(), 1U);
  EXPECT_EQ(recorder.Dialogs()[0].Request.Caption, "Błąd"_ansi);
  EXPECT_EQ(recorder.Dialogs()[0].Request.Text,
            "Nie można otworzyć "_ansi + AnsiString((dir_ / "missing" / "ulog.txt").string()) +
                " do zapisu"_ansi);
  std::filesystem::create_directories(dir_ / "missing");
  TTxGlobalClient::UserLog("y", nullptr, -1);
  EXPECT_EQ(recorder.Dialogs().size(), 1U);
  EXPECT_NE(ReadLog(dir_ / "missing" / "ulog.txt").find("y\n"), std::string::npos);
}

TEST_F(UserLogFile, DefaultNameKeepsTheWindowsFormAndMessage) {
  EXPECT_EQ(TTxGlobalClient::GetUserLogPath(), AnsiString("C:\\ULog_BCB.log"));
  TRecordingUserInterface recorder;
  const TUserInterfaceScope installed(recorder);
  setenv("TXLIB_DRIVE_ROOT", (dir_ / "nowhere").c_str(), 1);
  TTxGlobalClient::UserLog("x", nullptr, -1);
  unsetenv("TXLIB_DRIVE_ROOT");
  ASSERT_EQ(recorder.Dialogs().size(), 1U);
  EXPECT_EQ(recorder.Dialogs()[0].Request.Text,
            "Nie można otworzyć C:\\ULog_BCB.log do zapisu"_ansi);
}

// ---- Code-page translation ------------------------------------------------------

// The 18 Polish letters in Windows-1250 and in each code page, as the
// application server's documentation tables give them.
const std::array<unsigned char, 18> kWindowsLetters = {0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3,
                                                       0x8C, 0x8F, 0xAF, 0xB9, 0xE6, 0xEA,
                                                       0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF};
struct CodePageRow {
  TTxTranslateType Type;
  std::array<unsigned char, 18> Letters;
};
// clang-format off
const CodePageRow kRows[] = {
    {txttMazovia,
     {0x8F, 0x95, 0x90, 0x9C, 0xA5, 0xA3, 0x98, 0xA0, 0xA1,
      0x86, 0x8D, 0x91, 0x92, 0xA4, 0xA2, 0x9E, 0xA6, 0xA7}},
    {txttCSK,
     {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x88, 0x87,
      0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA8, 0xA7}},
    {txttCyfromat,
     {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x88, 0x87,
      0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x98, 0x97}},
    {txttDHN,
     {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x88, 0x87,
      0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x91, 0x90}},
    {txttLatin2,
     {0xA4, 0x8F, 0xA8, 0x9D, 0xE3, 0xE0, 0x97, 0x8D, 0xBD,
      0xA5, 0x86, 0xA9, 0x88, 0xE4, 0xA2, 0x98, 0xAB, 0xBE}},
    {txttIEA,
     {0x8F, 0x80, 0x90, 0x9C, 0xA5, 0x99, 0xEB, 0x9D, 0x92,
      0xA0, 0x9B, 0x82, 0x9F, 0xA4, 0xA2, 0x87, 0xA8, 0x91}},
    {txttLogic,
     {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88,
      0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x91}},
    {txttMicrovex,
     {0x8F, 0x80, 0x90, 0x9C, 0xA5, 0x93, 0x98, 0x9D, 0x92,
      0xA0, 0x9B, 0x82, 0x9F, 0xA4, 0xA2, 0x87, 0xA8, 0x91}},
    {txttASCII,
     {'A', 'C', 'E', 'L', 'N', 'O', 'S', 'Z', 'Z',
      'a', 'c', 'e', 'l', 'n', 'o', 's', 'z', 'z'}},
};
// clang-format on

AnsiString BytesOf(const std::array<unsigned char, 18>& letters) {
  return AnsiString(reinterpret_cast<const char*>(letters.data()),
                    static_cast<int>(letters.size()));
}

AnsiString Translated(AnsiString text, bool toServer) {
  TTxGlobalClient::TranslateString(text, toServer);
  return text;
}

// Every byte 1..255 once, in order.
AnsiString AllNonZeroBytes() {
  std::string bytes;
  for (int b = 1; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return AnsiString(bytes);
}

class Translation : public ::testing::Test {
 protected:
  void SetUp() override { ResetBuiltinSessionServer(); }
  void TearDown() override { ResetBuiltinSessionServer(); }
};

TEST_F(Translation, EveryLetterTableBothWays) {
  const AnsiString windows = BytesOf(kWindowsLetters);
  for (const CodePageRow& row : kRows) {
    SCOPED_TRACE(static_cast<int>(row.Type));
    TTxGlobalClient::SetTranslateType(row.Type);
    EXPECT_EQ(TTxGlobalClient::GetTranslateType(), row.Type);
    EXPECT_EQ(Translated(windows, true), BytesOf(row.Letters));
    if (row.Type == txttASCII) {
      EXPECT_EQ(Translated(BytesOf(row.Letters), false), BytesOf(row.Letters));
    } else {
      EXPECT_EQ(Translated(BytesOf(row.Letters), false), windows);
    }
    // Plain text passes untouched both ways.
    EXPECT_EQ(Translated("Ala ma kota 123", true), AnsiString("Ala ma kota 123"));
    EXPECT_EQ(Translated("Ala ma kota 123", false), AnsiString("Ala ma kota 123"));
  }
}

TEST_F(Translation, AsciiDropsDiacriticsAndMazoviaKeepsForeignBytes) {
  TTxGlobalClient::SetTranslateType(txttASCII);
  EXPECT_EQ(Translated("Żółć"_ansi, true), AnsiString("Zolc"));
  EXPECT_EQ(Translated("Żółć"_ansi, false), "Żółć"_ansi);

  TTxGlobalClient::SetTranslateType(txttMazovia);
  EXPECT_EQ(Translated(AnsiString("\xA5"), true), AnsiString("\x8F"));
  EXPECT_EQ(Translated(AnsiString("\x8F"), false), AnsiString("\xA5"));
  EXPECT_EQ(Translated(AnsiString("\xE9"), false), AnsiString("\xE9"));  // not a Mazovia letter
}

TEST_F(Translation, NoneWindowsAndUnknownPagesChangeNothing) {
  const AnsiString all = AllNonZeroBytes();
  for (const LONG codePage : {LONG{txttNone}, LONG{txttWindows}, LONG{12}, LONG{200}}) {
    TTxGlobalClient::GetSession()->put_AppServerCodePage(codePage);
    EXPECT_EQ(Translated(all, true), all);
    EXPECT_EQ(Translated(all, false), all);
  }
}

TEST_F(Translation, TypeIsTheLowByteOfTheServersCodePage) {
  TTxGlobalClient::GetSession()->put_AppServerCodePage(0x100 + txttLatin2);
  EXPECT_EQ(TTxGlobalClient::GetTranslateType(), txttLatin2);
  TTxGlobalClient::SetTranslateType(txttDHN);
  LONG stored = -1;
  TTxGlobalClient::GetSession()->get_AppServerCodePage(&stored);
  EXPECT_EQ(stored, txttDHN);
}

TEST_F(Translation, IsoMapIsAPermutationWithItsInverseFromTheServer) {
  TTxGlobalClient::SetTranslateType(txttISO8859);
  const AnsiString all = AllNonZeroBytes();
  const AnsiString toServer = Translated(all, true);
  const std::set<char> distinct(toServer.str().begin(), toServer.str().end());
  EXPECT_EQ(distinct.size(), 255U);
  EXPECT_EQ(distinct.count('\0'), 0U);
  EXPECT_EQ(Translated(toServer, false), all);
  EXPECT_EQ(Translated(Translated(all, false), true), all);

  // Exactly these 25 bytes change on the way to the server.
  const std::vector<std::pair<int, int>> changed = {
      {0x8A, 0xA9}, {0x8C, 0xA6}, {0x8D, 0xAB}, {0x8E, 0xAE}, {0x8F, 0xAC},
      {0x9A, 0xB9}, {0x9C, 0xB6}, {0x9D, 0xBB}, {0x9E, 0xBE}, {0x9F, 0xBC},
      {0xA1, 0xB7}, {0xA5, 0xA1}, {0xA6, 0x8C}, {0xA9, 0x8A}, {0xAB, 0x8D},
      {0xAC, 0x8F}, {0xAE, 0x8E}, {0xB1, 0x9A}, {0xB5, 0x9E}, {0xB6, 0x9C},
      {0xB7, 0x9F}, {0xB9, 0xB1}, {0xBB, 0x9D}, {0xBC, 0xA5}, {0xBE, 0xB5}};
  std::string expected = all.str();
  for (const auto& [from, to] : changed) expected[from - 1] = static_cast<char>(to);
  EXPECT_EQ(toServer.str(), expected);
}

TEST_F(Translation, IsoMapAgreesWithTheIso88592Table) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* iso = ucnv_open("ISO-8859-2", &status);
  ASSERT_TRUE(U_SUCCESS(status));
  ucnv_setFromUCallBack(iso, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  TTxGlobalClient::SetTranslateType(txttISO8859);
  int compared = 0;
  for (int b = 1; b < 256; ++b) {
    const char32_t code = Cp1250ToUnicode(static_cast<unsigned char>(b));
    if (code >= 0x80 && code < 0xA0) continue;  // C1 controls: bytes Windows-1250 leaves undefined
    const UChar unit = static_cast<UChar>(code);
    char out[4] = {};
    status = U_ZERO_ERROR;
    const int32_t n = ucnv_fromUChars(iso, out, sizeof out, &unit, 1, &status);
    if (U_FAILURE(status) || n != 1) continue;  // ISO-8859-2 lacks the character
    ++compared;
    const char byte[2] = {static_cast<char>(b), 0};
    EXPECT_EQ(Translated(AnsiString(byte), true), AnsiString(out)) << "byte " << b;
  }
  ucnv_close(iso);
  // ASCII 1..127, the ten letters of 80..9F both pages hold, and 96 - 10 of A0..FF.
  EXPECT_EQ(compared, 127 + 10 + 86);
}

TEST_F(Translation, ZeroTerminatedFormStopsAtTheZero) {
  TTxGlobalClient::SetTranslateType(txttLatin2);
  unsigned char text[] = {0xA5, 0xB9, 0x00, 0xA5, 0x00};
  TTxGlobalClient::TranslateString(text, true);
  EXPECT_EQ(text[0], 0xA4);
  EXPECT_EQ(text[1], 0xA5);
  EXPECT_EQ(text[3], 0xA5);
  TTxGlobalClient::TranslateString(static_cast<unsigned char*>(nullptr), true);
  AnsiString empty;
  TTxGlobalClient::TranslateString(empty, true);
  EXPECT_TRUE(empty.IsEmpty());
}

// ---- Session server, connection and transactions ---------------------------------

void RefusingAuthService(TPSVCINFO*) { tpreturn(TPFAIL, 0, nullptr, 0, 0); }

class GlobalSession : public ::testing::Test {
 protected:
  void SetUp() override {
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    TTxGlobalClient::ClearTpErrors();
    TTxGlobalClient::SetTpTimeOut(0);
  }
  void TearDown() override {
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    TTxGlobalClient::ClearTpErrors();
    TTxGlobalClient::SetTpTimeOut(0);
    SetComRemoteActivation(true);
    SetDebugMode(1);
  }
  static bool ServerConnected() {
    VARIANT_BOOL connected = VARIANT_FALSE;
    TTxGlobalClient::GetSession()->get_Connected(&connected);
    return connected != VARIANT_FALSE;
  }
  static std::string RegistrationMessage() {
    try {
      TTxGlobalClient::GetSession();
    } catch (const ETxError&) {
      return "ETxError";
    } catch (const Exception& e) {
      return e.Message.str();
    }
    return "created";
  }

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
};

TEST_F(GlobalSession, OneObjectUntilDisposedAndComStartedOncePerProcess) {
  ITuxSession* first = TTxGlobalClient::GetSession();
  TTxGlobalClient::CreateSession();
  EXPECT_EQ(TTxGlobalClient::GetSession(), first);
  TTxGlobalClient::DisposeSession();
  TTxGlobalClient::GetSession();
  TTxGlobalClient::DisposeSession();
  TTxGlobalClient::GetSession();

  // Undoing one start stops COM on this thread: the class started it once.
  CoUninitialize();
  TComInterface<ITuxSession> probe;
  EXPECT_EQ(CoCreateInstance(CLSID_QuorTuxSes, nullptr, CLSCTX_INPROC_SERVER, probe),
            CO_E_NOTINITIALIZED);
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
}

TEST_F(GlobalSession, MissingClassRaisesTheRegistrationErrorAsPlainException) {
  const TBuiltinSessionServerAbsence absent;
  EXPECT_EQ(RegistrationMessage(), "Klasa <QuorTuxSes> nie jest zarejestrowana !"_ansi.str());
  EXPECT_THROW(TTxGlobalClient::Connect(), Exception);
}

TEST_F(GlobalSession, WithoutRemoteActivationTheSecondAttemptAsksForLocalKindsOnly) {
  SetComRemoteActivation(false);
  EXPECT_EQ(RegistrationMessage(), "created");
  TTxGlobalClient::DisposeSession();

  // A class served only remotely: found while remote activation works, not otherwise.
  const TBuiltinSessionServerAbsence absent;
  const TComClassRegistration remoteOnly(
      CLSID_QuorTuxSes, QuorTuxSesProgID, CLSCTX_REMOTE_SERVER,
      [](IUnknown*, TComInterface<IUnknown>& object) -> HRESULT {
        TComInterface<ITuxSession> made = CreateBuiltinSessionServer();
        object = TComInterface<IUnknown>(static_cast<IUnknown*>(made.get()));
        return S_OK;
      });
  EXPECT_EQ(RegistrationMessage(), "Klasa <QuorTuxSes> nie jest zarejestrowana !"_ansi.str());
  SetComRemoteActivation(true);
  EXPECT_EQ(RegistrationMessage(), "created");
}

TEST_F(GlobalSession, ConnectOpensTerminateClosesRefusalIsNoConnection) {
  TTxGlobalClient::Connect();
  EXPECT_TRUE(ServerConnected());
  TTxGlobalClient::Connect();  // connected already
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 1U);
  TTxGlobalClient::Terminate();
  EXPECT_FALSE(ServerConnected());

  tpadvertise(const_cast<char*>("AUTHSVC"), RefusingAuthService);
  try {
    TTxGlobalClient::Connect();
    FAIL() << "no exception";
  } catch (const ETxError& e) {
    EXPECT_EQ(e.Message, "Brak połączenia z serwerem Tuxedo !"_ansi);
  }
  EXPECT_THROW(TTxGlobalClient::BeginTransaction(), ETxError);
  EXPECT_FALSE(ServerConnected());
}

TEST_F(GlobalSession, TransactionsCommitAndAbortAfterConnectingThemselves) {
  EXPECT_FALSE(TTxGlobalClient::IsTransaction());
  EXPECT_TRUE(ServerConnected());
  TTxGlobalClient::BeginTransaction();
  EXPECT_TRUE(TTxGlobalClient::IsTransaction());
  TTxGlobalClient::CommitTransaction();
  EXPECT_FALSE(TTxGlobalClient::IsTransaction());
  TTxGlobalClient::BeginTransaction();
  TTxGlobalClient::AbortTransaction();
  EXPECT_FALSE(TTxGlobalClient::IsTransaction());
  const auto counts = AtmiBuiltin::CompletedTransactions();
  EXPECT_EQ(counts.commits, 1UL);
  EXPECT_EQ(counts.aborts, 1UL);
}

// The text after the carriage return of an ATMI message, and the part before it.
std::pair<std::string, std::string> SplitAtmiMessage(const ETxTpError& e) {
  const std::string text = e.Message.str();
  const auto cr = text.find('\r');
  return {text.substr(0, cr), cr == std::string::npos ? "<no CR>" : text.substr(cr + 1)};
}

TEST_F(GlobalSession, ExpiredTimeOutFailsTheCommitWithItsLabel) {
  TTxGlobalClient::SetTpTimeOut(30);
  EXPECT_EQ(TTxGlobalClient::GetTpTimeOut(), 30);
  TTxGlobalClient::BeginTransaction();
  AtmiBuiltin::AdvanceClock(std::chrono::seconds(29));
  TTxGlobalClient::CommitTransaction();  // still in time

  TTxGlobalClient::BeginTransaction();
  AtmiBuiltin::AdvanceClock(std::chrono::seconds(31));
  try {
    TTxGlobalClient::CommitTransaction();
    FAIL() << "no exception";
  } catch (const ETxTpError& e) {
    EXPECT_EQ(e.Tperrno, TPEABORT);
    const auto [head, label] = SplitAtmiMessage(e);
    EXPECT_EQ(head.rfind("Błąd Tuxedo "_ansi.str() + tpstrerror(TPEABORT), 0), 0U) << head;
    EXPECT_EQ(label.rfind("Zatwierdzenie transakcji [TxGlobal.cpp."_ansi.str(), 0), 0U) << label;
    EXPECT_EQ(label.back(), ']');
  }
  EXPECT_EQ(tperrno, 0);
  EXPECT_FALSE(TTxGlobalClient::IsTransaction());
}

TEST_F(GlobalSession, ProtocolErrorsCarryTheOperationText) {
  SetDebugMode(0);
  const auto failure = [](void (*operation)()) -> std::string {
    try {
      operation();
    } catch (const ETxTpError& e) {
      EXPECT_EQ(e.Tperrno, TPEPROTO);
      return SplitAtmiMessage(e).second;
    }
    return "no exception";
  };
  EXPECT_EQ(failure(&TTxGlobalClient::CommitTransaction), "Zatwierdzenie transakcji"_ansi.str());
  EXPECT_EQ(failure(&TTxGlobalClient::AbortTransaction), "Wycofanie transakcji"_ansi.str());
  TTxGlobalClient::BeginTransaction();
  EXPECT_EQ(failure(&TTxGlobalClient::BeginTransaction), "Rozpoczęcie transakcji"_ansi.str());
  TTxGlobalClient::AbortTransaction();
}

TEST_F(GlobalSession, HashAndNameCheckComeFromTheServerAndLeaveNoErrors) {
  AnsiString hashed;
  EXPECT_EQ(TTxGlobalClient::ArdoHash("abc", hashed), 3);
  EXPECT_EQ(hashed, AnsiString("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
  EXPECT_EQ(TTxGlobalClient::ArdoCheckName("kasa1"), 0);
  EXPECT_EQ(TTxGlobalClient::ArdoCheckName("1kasa"), 3);

  TTxGlobalClient::DisposeSession();
  const Testing::TScriptedSessionClass scripted;
  scripted.Script->FailMethods = true;
  scripted.Script->LeaveErrors = true;
  hashed = "old";
  EXPECT_EQ(TTxGlobalClient::ArdoCheckName("kasa1"), -1);
  EXPECT_EQ(TTxGlobalClient::ArdoHash("abc", hashed), 0);
  EXPECT_EQ(hashed, AnsiString());
  EXPECT_EQ(tperrno, 0);
  EXPECT_EQ(tpurcode, 0);
  EXPECT_EQ(Ferror32, 0);
  TTxGlobalClient::DisposeSession();
}

TEST_F(GlobalSession, FailingReadsGoThroughTheCheckDialog) {
  const Testing::TScriptedSessionClass scripted;
  scripted.Script->FailGets = true;
  ui.SetDefaultAnswer(IDNO);
  try {
    TTxGlobalClient::Connect();  // connects, but the answer to "Connected?" is lost
    FAIL() << "no exception";
  } catch (const ETxError& e) {
    EXPECT_EQ(e.Message, "Brak połączenia z serwerem Tuxedo !"_ansi);
  }
  EXPECT_EQ(TTxGlobalClient::GetEnvSection(), AnsiString());
  const std::vector<TRecordedDialog> dialogs = ui.Dialogs();
  ASSERT_EQ(dialogs.size(), 2U);
  EXPECT_EQ(dialogs[0].Request.Caption, AnsiString("HRCHECK: "));
  EXPECT_EQ(dialogs[0].Request.Text.Pos("GetSession()->get_Connected()"), 1);
  EXPECT_EQ(dialogs[1].Request.Text.Pos("GetSession()->get_EnvSection()"), 1);

  ui.SetDefaultAnswer(IDYES);
  EXPECT_THROW(TTxGlobalClient::GetTranslateType(), EOleSysError);
  TTxGlobalClient::DisposeSession();
}

class EnvironmentFiles : public GlobalSession {
 protected:
  void SetUp() override {
    GlobalSession::SetUp();
    dir = std::filesystem::temp_directory_path() /
          ("txlib_global_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir);
  }
  void TearDown() override {
    std::filesystem::remove_all(dir);
    GlobalSession::TearDown();
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir / name, std::ios::binary) << text;
  }
  std::filesystem::path dir;
};

TEST_F(EnvironmentFiles, ReadEnvUsesTheSectionAndUnloadMakesTablesReadAgain) {
  Write("first.fml32", "*base 100\nTXG_FIELD\t1\tstring\t-\n");
  Write("second.fml32", "*base 200\nTXG_FIELD\t1\tlong\t-\n");
  Write("app.env", "FLDTBLDIR32=" + dir.string() +
                       "\n[first]\nFIELDTBLS32=first.fml32\n[second]\nFIELDTBLS32=second.fml32\n");
  const AnsiString envFile((dir / "app.env").string());

  TTxGlobalClient::SetEnvSection("first");
  EXPECT_EQ(TTxGlobalClient::GetEnvSection(), AnsiString("first"));
  TTxGlobalClient::ReadEnv(envFile);
  TTxGlobalClient::UnloadFieldTables();
  EXPECT_EQ(Fldid32(const_cast<char*>("TXG_FIELD")), Fmkfldid32(FLD_STRING, 101));

  TTxGlobalClient::SetEnvSection("second");
  TTxGlobalClient::ReadEnv(envFile);
  TTxGlobalClient::UnloadFieldTables();
  EXPECT_EQ(Fldid32(const_cast<char*>("TXG_FIELD")), Fmkfldid32(FLD_LONG, 201));
  EXPECT_STREQ(Fname32(Fmkfldid32(FLD_LONG, 201)), "TXG_FIELD");
  TTxGlobalClient::UnloadFieldTables();
  EXPECT_EQ(Ferror32, 0);
}

}  // namespace
}  // namespace Tx
