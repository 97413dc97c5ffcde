// Exceptions, checks, operation labels and the user log of TxGlobal.
#include "client/TxGlobal.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "platform/framework/Dialogs.h"

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
  const std::string expected = std::string("B\xB3\xB9" "d Tuxedo ") + tpstrerror(TPENOENT) +
                               tpstrerrordetail(tperrordetail(0), 0) + "\rRozpocz\xEA" "cie";
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
    EXPECT_EQ(e.Message.str(), std::string("B\xB3\xB9" "d FML #4: Pole <167772261> - ") +
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
    EXPECT_EQ(e.Message.str(), std::string("B\xB3\xB9" "d FML #3 - ") + Fstrerror32(FNOSPACE));
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
  EXPECT_EQ(recorder.Dialogs()[0].Request.Text, "Nie można otworzyć C:\\ULog_BCB.log do zapisu"_ansi);
}

}  // namespace
}  // namespace Tx
