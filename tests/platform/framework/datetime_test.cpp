#include "platform/framework/DateTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/framework/Exceptions.h"
#include "platform/framework/FormatSettings.h"

namespace Tx {
namespace {

// Every test starts from the neutral settings and leaves the process's as found.
class DateTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSaved = FormatSettings();
    FormatSettings() = TFormatSettings();
  }
  void TearDown() override { FormatSettings() = FSaved; }

  // The Polish settings as the environment gives them.
  static TFormatSettings PolishSettings() {
    const char* old = std::getenv("LC_ALL");
    const std::string saved = old ? old : "";
    setenv("LC_ALL", "pl_PL.UTF-8", 1);
    TFormatSettings polish = FormatSettingsFromEnvironment();
    if (old) setenv("LC_ALL", saved.c_str(), 1);
    else unsetenv("LC_ALL");
    return polish;
  }

 private:
  TFormatSettings FSaved;
};

struct Ymd {
  int Year, Month, Day;
};

Ymd DecodeYmd(TDateTime value) {
  Ymd d{};
  DecodeDate(value, d.Year, d.Month, d.Day);
  return d;
}

struct Hnsz {
  int Hour, Min, Sec, MSec;
};

Hnsz DecodeHnsz(TDateTime value) {
  Hnsz t{};
  DecodeTime(value, t.Hour, t.Min, t.Sec, t.MSec);
  return t;
}

template <typename F>
void ExpectConvertError(F&& f, const char* message) {
  try {
    f();
    ADD_FAILURE() << "no EConvertError; expected " << message;
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message, message);
  }
}

// ---- Encoding ---------------------------------------------------------------------

TEST_F(DateTimeTest, KnownSerialNumbers) {
  EXPECT_EQ(EncodeDate(1899, 12, 30).Val, 0.0);
  EXPECT_EQ(EncodeDate(1899, 12, 31).Val, 1.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1).Val, 2.0);
  EXPECT_EQ(EncodeDate(2003, 7, 15).Val, 37817.0);
  EXPECT_EQ(EncodeDate(2004, 2, 29).Val, 38046.0);
  EXPECT_EQ(EncodeDate(1600, 3, 1).Val, -109511.0);
  EXPECT_EQ(EncodeDate(1, 1, 1).Val, -693593.0);
  EXPECT_EQ(EncodeDate(9999, 12, 31).Val, 2958465.0);
  EXPECT_EQ(TDateTime(2003, 7, 15).Val, 37817.0);
  EXPECT_EQ(TDateTime(6, 0, 0, 0).Val, 0.25);
}

TEST_F(DateTimeTest, EveryDayOfLeapAndCommonYearsRoundTrips) {
  for (const int year : {1, 4, 1600, 1899, 1900, 2000, 2003, 2004, 2100, 9999}) {
    double expected = EncodeDate(year, 1, 1).Val;
    int days = 0;
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= DaysInAMonth(year, month); ++day, ++days, expected += 1.0) {
        const TDateTime d = EncodeDate(year, month, day);
        ASSERT_EQ(d.Val, expected) << year << '-' << month << '-' << day;
        const Ymd back = DecodeYmd(d);
        ASSERT_EQ(back.Year, year);
        ASSERT_EQ(back.Month, month);
        ASSERT_EQ(back.Day, day);
      }
    }
    EXPECT_EQ(days, IsLeapYear(year) ? 366 : 365) << year;
  }
}

TEST_F(DateTimeTest, LeapYearRule) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2004));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2100));
  EXPECT_FALSE(IsLeapYear(2003));
  EXPECT_EQ(DaysInAMonth(2000, 2), 29);
  EXPECT_EQ(DaysInAMonth(1900, 2), 28);
  EXPECT_EQ(DaysInAMonth(2004, 13), 0);
}

TEST_F(DateTimeTest, FebruaryTwentyNinthOnlyInLeapYears) {
  TDateTime d;
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, d));
  EXPECT_EQ(DecodeYmd(d).Day, 29);
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, d));
  EXPECT_FALSE(TryEncodeDate(2100, 2, 29, d));
  ExpectConvertError([] { EncodeDate(1900, 2, 29); }, "Invalid argument to date encode");
  ExpectConvertError([] { EncodeDate(2100, 2, 29); }, "Invalid argument to date encode");
}

TEST_F(DateTimeTest, InvalidDateComponentsRaiseAndTryLeavesResult) {
  const int bad[][3] = {{0, 1, 1},   {10000, 1, 1}, {2003, 0, 1},  {2003, 13, 1},
                        {2003, 1, 0}, {2003, 4, 31}, {-1, 1, 1},    {2003, 1, 32},
                        {70001, 1, 1}};  // 70001 would wrap to a valid 16-bit year
  for (const auto& c : bad) {
    ExpectConvertError([&] { EncodeDate(c[0], c[1], c[2]); }, "Invalid argument to date encode");
    TDateTime untouched(123.5);
    EXPECT_FALSE(TryEncodeDate(c[0], c[1], c[2], untouched));
    EXPECT_EQ(untouched.Val, 123.5);
  }
}

TEST_F(DateTimeTest, InvalidTimeComponentsRaise) {
  const int bad[][4] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0},
                        {0, 0, 0, 1000}, {-1, 0, 0, 0}, {0, 0, 0, -1}};
  for (const auto& c : bad) {
    ExpectConvertError([&] { EncodeTime(c[0], c[1], c[2], c[3]); },
                       "Invalid argument to time encode");
  }
  TDateTime t;
  EXPECT_TRUE(TryEncodeTime(23, 59, 59, 999, t));
  EXPECT_LT(t.Val, 1.0);
}

TEST_F(DateTimeTest, EveryMillisecondOfSomeSecondsRoundTripsOnManyDays) {
  const TDateTime days[] = {EncodeDate(1, 1, 1), EncodeDate(1899, 12, 29), EncodeDate(1899, 12, 30),
                            EncodeDate(2004, 2, 29), EncodeDate(9999, 12, 31)};
  const int seconds[][3] = {{0, 0, 0}, {12, 34, 56}, {23, 59, 59}};
  for (const TDateTime day : days) {
    const Ymd date = DecodeYmd(day);
    for (const auto& s : seconds) {
      for (int ms = 0; ms < 1000; ++ms) {
        const TDateTime value = ComposeDateTime(day, EncodeTime(s[0], s[1], s[2], ms));
        const Ymd d = DecodeYmd(value);
        const Hnsz t = DecodeHnsz(value);
        ASSERT_EQ(d.Year, date.Year);
        ASSERT_EQ(d.Month, date.Month);
        ASSERT_EQ(d.Day, date.Day);
        ASSERT_EQ(t.Hour, s[0]);
        ASSERT_EQ(t.Min, s[1]);
        ASSERT_EQ(t.Sec, s[2]) << day.Val << ' ' << ms;
        ASSERT_EQ(t.MSec, ms) << day.Val << ' ' << s[0] << ':' << s[1] << ':' << s[2];
      }
    }
  }
}

// ---- Negative values and rounding -----------------------------------------------------

TEST_F(DateTimeTest, NegativeValueKeepsDayInIntegralPartAndTimeInAbsoluteFraction) {
  const TDateTime v(-1.25);
  const Ymd d = DecodeYmd(v);
  const Hnsz t = DecodeHnsz(v);
  EXPECT_EQ(d.Year, 1899);
  EXPECT_EQ(d.Month, 12);
  EXPECT_EQ(d.Day, 29);
  EXPECT_EQ(t.Hour, 6);
  EXPECT_EQ(t.Min, 0);
  EXPECT_EQ(ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0, 0)).Val, -1.25);
  EXPECT_EQ(ComposeDateTime(EncodeDate(1899, 12, 31), EncodeTime(6, 0, 0, 0)).Val, 1.25);
  EXPECT_EQ(DateOf(v).Val, -1.0);
  EXPECT_EQ(TimeOf(v).Val, 0.25);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn", v), "1899-12-29 06:00");
}

TEST_F(DateTimeTest, FractionBelowHalfMillisecondBeforeMidnightIsNextDay) {
  const double day = EncodeDate(2003, 7, 15).Val;
  const TDateTime almost(day + (86400000.0 - 0.4) / 86400000.0);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", almost), "2003-07-16 00:00:00.000");
  const TDateTime last(day + 86399999.0 / 86400000.0);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", last), "2003-07-15 23:59:59.999");
}

TEST_F(DateTimeTest, OutOfRangeValuesDecodeAsZeros) {
  const double nan = std::nan(""), inf = HUGE_VAL;
  for (const double v : {-693594.0, 2958466.0, nan, inf, 1e300}) {
    const Ymd d = DecodeYmd(TDateTime(v));
    EXPECT_EQ(d.Year, 0) << v;
    EXPECT_EQ(d.Month, 0);
    EXPECT_EQ(d.Day, 0);
    EXPECT_EQ(DayOfWeek(TDateTime(v)), 0);
  }
}

TEST_F(DateTimeTest, DayOfWeekFromSunday) {
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2003, 7, 15)), 3);   // Tuesday
  EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);       // Monday
  EXPECT_EQ(DayOfWeek(EncodeDate(9999, 12, 31)), 6);  // Friday
  EXPECT_EQ(DayOfWeek(TDateTime(-1.75)), 6);          // 1899-12-29, a Friday
}

TEST_F(DateTimeTest, NowFollowsSystemClock) {
  const std::time_t before = std::time(nullptr);
  const TDateTime now = Now();
  std::tm local{};
  localtime_r(&before, &local);
  const double expected = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday).Val +
                          (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
  EXPECT_NEAR(now.Val, expected, 2.0 / 86400.0);
  EXPECT_EQ(Date().Val, std::trunc(Now().Val));
  EXPECT_GE(Time().Val, 0.0);
  EXPECT_LT(Time().Val, 1.0);
}

// ---- FormatDateTime -----------------------------------------------------------------------

// Monday 2004-02-09 15:05:07.009
TDateTime Sample() { return ComposeDateTime(EncodeDate(2004, 2, 9), EncodeTime(15, 5, 7, 9)); }

TEST_F(DateTimeTest, FormatDateTimeEachToken) {
  const struct {
    const char* Format;
    const char* Expected;
  } cases[] = {
      {"d", "9"},        {"dd", "09"},        {"ddd", "Mon"},         {"dddd", "Monday"},
      {"ddddd", "2004-02-09"},                {"dddddd", "9 February 2004"},
      {"m", "2"},        {"mm", "02"},        {"mmm", "Feb"},         {"mmmm", "February"},
      {"yy", "04"},      {"yyyy", "2004"},    {"y", "04"},
      {"h", "15"},       {"hh", "15"},        {"n", "5"},             {"nn", "05"},
      {"s", "7"},        {"ss", "07"},        {"z", "9"},             {"zzz", "009"},
      {"t", "15:05"},    {"tt", "15:05:07"},  {"c", "2004-02-09 15:05:07"},
      {"", "2004-02-09 15:05:07"},
      {"D/M/YYYY", "9-2-2004"},               {"Dd-mM-yYyY HhNn", "09-02-2004 1505"},               {"hh:mm", "15:05"},     {"h:m:s", "15:5:7"},
      {"mm hh:mm mm", "02 15:05 02"},         {"hh 'at' mm", "15 at 05"},
      {"h am/pm", "3 pm"},  {"h AM/PM", "3 PM"}, {"h Am/Pm", "3 Pm"}, {"h a/p", "3 p"},
      {"h A/P", "3 P"},     {"h ampm", "3 PM"},  {"hh:nn a/p", "03:05 p"},
      {"'yyyy' \"dd\" [x]", "yyyy dd [x]"},   {"'unterminated", "unterminated"},
      {"yyyy-mm-dd hh:nn:ss.zzz", "2004-02-09 15:05:07.009"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatDateTime(c.Format, Sample()), c.Expected) << "format " << c.Format;
  }
}

TEST_F(DateTimeTest, FormatDateTimeTwelveHourClockAroundMidnightAndNoon) {
  const TDateTime day = EncodeDate(2003, 7, 15);
  EXPECT_EQ(FormatDateTime("h:nn am/pm", ComposeDateTime(day, EncodeTime(0, 30, 0, 0))), "12:30 am");
  EXPECT_EQ(FormatDateTime("h:nn am/pm", ComposeDateTime(day, EncodeTime(12, 0, 0, 0))), "12:00 pm");
  EXPECT_EQ(FormatDateTime("h:nn am/pm", ComposeDateTime(day, EncodeTime(11, 59, 0, 0))), "11:59 am");
  // An am/pm after another hour token does not turn the first one to 12 hours.
  EXPECT_EQ(FormatDateTime("h h am/pm", ComposeDateTime(day, EncodeTime(13, 0, 0, 0))), "13 1 pm");
  // A quoted 'a' is text, not a marker.
  EXPECT_EQ(FormatDateTime("h 'a/p'", ComposeDateTime(day, EncodeTime(13, 0, 0, 0))), "13 a/p");
}

TEST_F(DateTimeTest, FormatDateTimeUsesSeparatorsAndAmPmStrings) {
  FormatSettings().DateSeparator = '.';
  FormatSettings().TimeSeparator = '_';
  FormatSettings().TimePMString = "po";
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", Sample()), "09.02.2004 15_05");
  EXPECT_EQ(FormatDateTime("h ampm", Sample()), "3 po");
}

TEST_F(DateTimeTest, FormatDateTimeYearBoundaries) {
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd", EncodeDate(1, 1, 1)), "0001-01-01");
  EXPECT_EQ(FormatDateTime("yy", EncodeDate(2000, 5, 5)), "00");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz",
                           ComposeDateTime(EncodeDate(9999, 12, 31), EncodeTime(23, 59, 59, 999))),
            "9999-12-31 23:59:59.999");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz",
                           ComposeDateTime(EncodeDate(2004, 2, 29), EncodeTime(13, 5, 7, 9))),
            "2004-02-29 13:05:07.009");
}

TEST_F(DateTimeTest, FormatThatNamesItselfStops) {
  FormatSettings().ShortDateFormat = "ddddd|yyyy";
  EXPECT_EQ(FormatDateTime("ddddd", Sample()), "|2004");
}

// ---- DateTimeToStr and friends ------------------------------------------------------------

TEST_F(DateTimeTest, DateTimeToStrWithDefaults) {
  EXPECT_EQ(DateTimeToStr(Sample()), "2004-02-09 15:05:07");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2004, 2, 9)), "2004-02-09");  // midnight: no time
  EXPECT_EQ(DateTimeToStr(TDateTime(0.5)), "1899-12-30 12:00:00");
  EXPECT_EQ(DateToStr(Sample()), "2004-02-09");
  EXPECT_EQ(TimeToStr(Sample()), "15:05:07");
  EXPECT_EQ(Sample().DateTimeString(), "2004-02-09 15:05:07");
}

TEST_F(DateTimeTest, DateTimeToStrWithPolishSettings) {
  FormatSettings() = PolishSettings();
  FormatSettings().ShortDateFormat = "dd.mm.yyyy";
  FormatSettings().DateSeparator = '.';
  EXPECT_EQ(DateTimeToStr(Sample()), "09.02.2004 15:05:07");
  EXPECT_EQ(FormatDateTime("dddd, d mmmm yyyy (ddd, mmm)", Sample()),
            "poniedziałek, 9 luty 2004 (Pn, lut)"_ansi);
  EXPECT_EQ(FormatDateTime("mmmm", EncodeDate(2004, 10, 1)), "październik"_ansi);
}

// ---- Parsing ----------------------------------------------------------------------------------

TEST_F(DateTimeTest, StrToDateTimeReadsDefaultFormat) {
  EXPECT_EQ(StrToDateTime("2003-07-15 10:20:30").Val,
            ComposeDateTime(EncodeDate(2003, 7, 15), EncodeTime(10, 20, 30, 0)).Val);
  EXPECT_EQ(StrToDateTime("  2003-07-15  ").Val, EncodeDate(2003, 7, 15).Val);
  EXPECT_EQ(StrToDateTime("10:20").Val, EncodeTime(10, 20, 0, 0).Val);
  EXPECT_EQ(StrToDateTime("1899-12-29 06:00").Val, -1.25);
  EXPECT_EQ(StrToDate("2003-07-15").Val, 37817.0);
  EXPECT_EQ(StrToTime("23:59:59.999").Val, EncodeTime(23, 59, 59, 999).Val);
}

TEST_F(DateTimeTest, StrToDateTimeRoundTripsDateTimeToStr) {
  for (const TDateTime v : {Sample(), TDateTime(EncodeDate(1, 1, 1)), TDateTime(-1.25),
                            ComposeDateTime(EncodeDate(9999, 12, 31), EncodeTime(23, 59, 59, 0))}) {
    const TDateTime back = StrToDateTime(DateTimeToStr(v));
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", back),
              FormatDateTime("yyyy-mm-dd hh:nn:ss", v) + ".000");
  }
}

TEST_F(DateTimeTest, StrToDateTimeFollowsShortDateOrderAndSeparators) {
  FormatSettings().ShortDateFormat = "dd.mm.yyyy";
  FormatSettings().DateSeparator = '.';
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(StrToDateTime("15.07.2003 10:20:30,250").Val,
            ComposeDateTime(EncodeDate(2003, 7, 15), EncodeTime(10, 20, 30, 250)).Val);
  EXPECT_EQ(StrToDate("2003.07.15").Val, EncodeDate(2003, 7, 15).Val);  // a long first number is a year
  EXPECT_EQ(StrToDate("15.07.03").Val, EncodeDate(2003, 7, 15).Val);
  EXPECT_EQ(StrToDate("15.07").Val, EncodeDate(DecodeYmd(Date()).Year, 7, 15).Val);

  FormatSettings().ShortDateFormat = "m/d/yyyy";
  FormatSettings().DateSeparator = '/';
  EXPECT_EQ(StrToDate("7/15/2003").Val, EncodeDate(2003, 7, 15).Val);
}

TEST_F(DateTimeTest, TwoDigitYearsFollowTheCenturyWindow) {
  FormatSettings().ShortDateFormat = "yy-mm-dd";
  const int thisYear = DecodeYmd(Date()).Year;
  const int past = (thisYear - 49) % 100;  // within the window: this century or the last
  const TDateTime d = StrToDate(AnsiString(std::to_string(past)) + "-01-01");
  EXPECT_EQ(DecodeYmd(d).Year, thisYear - 49);
  FormatSettings().TwoDigitYearCenturyWindow = 0;
  EXPECT_EQ(DecodeYmd(StrToDate("03-01-01")).Year, thisYear / 100 * 100 + 3);
}

TEST_F(DateTimeTest, StrToDateTimeReadsAmPm) {
  const double day = EncodeDate(2003, 7, 15).Val;
  EXPECT_EQ(StrToDateTime("2003-07-15 3:05 PM").Val, day + EncodeTime(15, 5, 0, 0).Val);
  EXPECT_EQ(StrToDateTime("2003-07-15 pm 3:05").Val, day + EncodeTime(15, 5, 0, 0).Val);
  EXPECT_EQ(StrToDateTime("2003-07-15 12:00 AM").Val, day);
  EXPECT_EQ(StrToTime("12:30 PM").Val, EncodeTime(12, 30, 0, 0).Val);
  TDateTime ignored;
  EXPECT_FALSE(TryStrToTime("13:00 PM", ignored));
  EXPECT_FALSE(TryStrToTime("0:10 AM", ignored));
}

TEST_F(DateTimeTest, InvalidTextsRaiseWithTheText) {
  ExpectConvertError([] { StrToDateTime("2003-02-30"); }, "'2003-02-30' is not a valid date and time");
  ExpectConvertError([] { StrToDateTime(""); }, "'' is not a valid date and time");
  ExpectConvertError([] { StrToDateTime("2003-07-15 10:20 x"); },
                     "'2003-07-15 10:20 x' is not a valid date and time");
  ExpectConvertError([] { StrToDate("2003-07-15 10:00"); }, "'2003-07-15 10:00' is not a valid date");
  ExpectConvertError([] { StrToDate("15.07.2003"); }, "'15.07.2003' is not a valid date");
  ExpectConvertError([] { StrToTime("25:00"); }, "'25:00' is not a valid time");
  ExpectConvertError([] { StrToTime("10:20:30.5000"); }, "'10:20:30.5000' is not a valid time");
  ExpectConvertError([] { StrToDate("12345-01-01"); }, "'12345-01-01' is not a valid date");
}

}  // namespace
}  // namespace Tx
