#include "platform/framework/DateTime.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "platform/framework/Exceptions.h"
#include "platform/framework/FormatSettings.h"
#include "platform/framework/framework_test_support.h"

namespace Tx {
namespace {

using FrameworkTest::Raised;
using DateTimeTest = FrameworkTest::NeutralSettingsTest;

std::string Stamp(int y, int m, int d, int h, int n, int s, int z) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, m, d, h, n, s, z);
  return text;
}

// A value as yyyy-mm-dd hh:nn:ss.zzz, through DecodeDate and DecodeTime.
std::string Decoded(TDateTime value) {
  int y, m, d, h, n, s, z;
  DecodeDate(value, y, m, d);
  DecodeTime(value, h, n, s, z);
  return Stamp(y, m, d, h, n, s, z);
}

int YearOf(TDateTime value) { return std::stoi(Decoded(value)); }

// Monday 2004-02-09 15:05:07.009
TDateTime Sample() { return ComposeDateTime(EncodeDate(2004, 2, 9), EncodeTime(15, 5, 7, 9)); }

// ---- Encoding and decoding ------------------------------------------------------------

TEST_F(DateTimeTest, KnownSerialNumbersAndEveryDayOfLeapAndCommonYears) {
  for (const auto& c : {std::array{1899, 12, 30, 0},
                        {2003, 7, 15, 37817},
                        {1, 1, 1, -693593},
                        {9999, 12, 31, 2958465}})
    EXPECT_EQ(EncodeDate(c[0], c[1], c[2]).Val, c[3]);
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);       // Monday
  for (const int year : {1, 4, 1600, 1899, 1900, 2000, 2003, 2004, 2100, 9999}) {
    double expected = EncodeDate(year, 1, 1).Val;
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= DaysInAMonth(year, month); ++day, expected += 1.0) {
        const TDateTime d = EncodeDate(year, month, day);
        ASSERT_EQ(d.Val, expected) << year << '-' << month << '-' << day;
        ASSERT_EQ(Decoded(d), Stamp(year, month, day, 0, 0, 0, 0));
      }
    }
    EXPECT_EQ(expected - EncodeDate(year, 1, 1).Val, IsLeapYear(year) ? 366 : 365) << year;
  }
  EXPECT_EQ(DaysInAMonth(2004, 13), 0);
}

TEST_F(DateTimeTest, InvalidComponentsRaiseAndTryLeavesResult) {
  const int badDates[][3] = {{0, 1, 1},     {10000, 1, 1}, {2003, 13, 1}, {2003, 4, 31},
                             {2100, 2, 29}, {70001, 1, 1}};  // 70001 would wrap to a 16-bit year
  for (const auto& c : badDates) {
    EXPECT_EQ(Raised([&] { EncodeDate(c[0], c[1], c[2]); }),
              "EConvertError: Invalid argument to date encode");
    TDateTime untouched(123.5);
    EXPECT_FALSE(TryEncodeDate(c[0], c[1], c[2], untouched));
    EXPECT_EQ(untouched.Val, 123.5);
  }
  for (const auto& c : {std::array{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 0, 1000}})
    EXPECT_EQ(Raised([&] { EncodeTime(c[0], c[1], c[2], c[3]); }),
              "EConvertError: Invalid argument to time encode");
}

TEST_F(DateTimeTest, TimesRoundTripToTheMillisecondNegativesKeepTheDayAndOutOfRangeDecodesToZeros) {
  for (const auto& d : {std::array{1, 1, 1}, {1899, 12, 29}, {1899, 12, 30}, {9999, 12, 31}}) {
    for (const auto& t : {std::array{0, 0, 0, 1}, {12, 34, 56, 789}, {23, 59, 59, 999}}) {
      const TDateTime v =
          ComposeDateTime(EncodeDate(d[0], d[1], d[2]), EncodeTime(t[0], t[1], t[2], t[3]));
      EXPECT_EQ(Decoded(v), Stamp(d[0], d[1], d[2], t[0], t[1], t[2], t[3]));
    }
  }
  const double day = EncodeDate(2003, 7, 15).Val;
  EXPECT_EQ(Decoded(day + (86400000.0 - 0.4) / 86400000.0), "2003-07-16 00:00:00.000");
  // A negative value keeps the day in its integral part, the time in the absolute fraction.
  const TDateTime negative(-1.25);
  EXPECT_EQ(Decoded(negative), "1899-12-29 06:00:00.000");
  EXPECT_EQ(DateOf(negative).Val, -1.0);
  EXPECT_EQ(TimeOf(negative).Val, 0.25);
  EXPECT_EQ(DayOfWeek(negative), 6);  // a Friday
  for (const double v : {-693594.0, 2958466.0, std::nan(""), HUGE_VAL}) {
    EXPECT_EQ(Decoded(v).substr(0, 10), "0000-00-00") << v;
    EXPECT_EQ(DayOfWeek(v), 0);
  }
}

// ---- Formatting -----------------------------------------------------------------------------

TEST_F(DateTimeTest, FormatDateTimeEachToken) {
  // clang-format off
  const struct {
    const char* Format;
    const char* Expected;
  } cases[] = {
      {"d", "9"},        {"dd", "09"},     {"ddd", "Mon"},       {"dddd", "Monday"},
      {"ddddd", "2004-02-09"},             {"dddddd", "9 February 2004"},
      {"m", "2"},        {"mm", "02"},     {"mmm", "Feb"},       {"mmmm", "February"},
      {"yy", "04"},      {"yyyy", "2004"}, {"hh", "15"},         {"n", "5"},
      {"nn", "05"},      {"s", "7"},       {"ss", "07"},         {"z", "9"},
      {"zzz", "009"},    {"t", "15:05"},   {"tt", "15:05:07"},   {"", "2004-02-09 15:05:07"},
      {"D/M/YYYY", "9-2-2004"},            {"Dd-mM-yYyY HhNn", "09-02-2004 1505"},
      {"mm hh:mm mm", "02 15:05 02"},      {"h AM/PM", "3 PM"},  {"h Am/Pm", "3 Pm"},
      {"h a/p", "3 p"},  {"h ampm", "3 PM"},                     {"'unterminated", "unterminated"},
      {"hh 'at' \"mm\" [x]", "15 at mm [x]"},
  };
  // clang-format on
  for (const auto& c : cases)
    EXPECT_EQ(FormatDateTime(c.Format, Sample()), c.Expected) << "format " << c.Format;
}

TEST_F(DateTimeTest, FormatDateTimeTwelveHourClockAndTheSettings) {
  const TDateTime day = EncodeDate(2003, 7, 15);
  EXPECT_EQ(FormatDateTime("h:nn am/pm", day + EncodeTime(0, 30, 0, 0)), "12:30 am");
  EXPECT_EQ(FormatDateTime("h:nn am/pm", day + EncodeTime(12, 0, 0, 0)), "12:00 pm");
  // An am/pm after another hour token does not turn the first one to 12 hours,
  // and a quoted 'a' is text, not a marker.
  EXPECT_EQ(FormatDateTime("h h am/pm 'a/p'", day + EncodeTime(13, 0, 0, 0)), "13 1 pm a/p");
  FormatSettings().DateSeparator = '.';
  FormatSettings().TimeSeparator = '_';
  FormatSettings().TimePMString = "po";
  FormatSettings().LongMonthNames[1] = "luty";
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn mmmm", Sample()), "09.02.2004 15_05 luty");
  EXPECT_EQ(FormatDateTime("h ampm", Sample()), "3 po");
  FormatSettings().ShortDateFormat = "ddddd|yyyy";  // a format that names itself stops
  EXPECT_EQ(FormatDateTime("ddddd", Sample()), "|2004");
}

// ---- Parsing ----------------------------------------------------------------------------------

TEST_F(DateTimeTest, DefaultFormatBothWaysLeavingOutMidnight) {
  EXPECT_EQ(DateTimeToStr(EncodeDate(2004, 2, 9)), "2004-02-09");
  EXPECT_EQ(DateToStr(Sample()) + " " + TimeToStr(Sample()), "2004-02-09 15:05:07");
  EXPECT_EQ(StrToDateTime("  2003-07-15  ").Val, 37817.0);
  EXPECT_EQ(StrToDateTime("10:20").Val, EncodeTime(10, 20, 0, 0).Val);  // day 0
  EXPECT_EQ(StrToDateTime("1899-12-29 06:00").Val, -1.25);
  EXPECT_EQ(StrToTime("23:59:59.999").Val, EncodeTime(23, 59, 59, 999).Val);
}

TEST_F(DateTimeTest, StrToDateTimeFollowsShortDateOrderAndSeparators) {
  FormatSettings().ShortDateFormat = "dd.mm.yyyy";
  FormatSettings().DateSeparator = '.';
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(Decoded(StrToDateTime("15.07.2003 10:20:30,250")), "2003-07-15 10:20:30.250");
  EXPECT_EQ(StrToDate("2003.07.15").Val, 37817.0);  // a long first number is a year
  EXPECT_EQ(StrToDate("15.07").Val, EncodeDate(YearOf(Date()), 7, 15).Val);
  FormatSettings().ShortDateFormat = "m/d/yyyy";
  FormatSettings().DateSeparator = '/';
  EXPECT_EQ(StrToDate("7/15/2003").Val, 37817.0);
}

TEST_F(DateTimeTest, TwoDigitYearsFollowTheCenturyWindow) {
  FormatSettings().ShortDateFormat = "yy-mm-dd";
  const int thisYear = YearOf(Date());
  const int past = (thisYear - 49) % 100;  // within the window: this century or the last
  EXPECT_EQ(YearOf(StrToDate(AnsiString(std::to_string(past)) + "-01-01")), thisYear - 49);
  FormatSettings().TwoDigitYearCenturyWindow = 0;
  EXPECT_EQ(YearOf(StrToDate("03-01-01")), thisYear / 100 * 100 + 3);
}

TEST_F(DateTimeTest, StrToDateTimeReadsAmPmAndInvalidTextsRaiseWithTheText) {
  for (const char* text : {"2003-07-15 3:05 PM", "2003-07-15 pm 3:05"})
    EXPECT_EQ(Decoded(StrToDateTime(text)), "2003-07-15 15:05:00.000") << text;
  EXPECT_EQ(Decoded(StrToDateTime("2003-07-15 12:00 AM")), "2003-07-15 00:00:00.000");
  TDateTime ignored;
  EXPECT_FALSE(TryStrToTime("13:00 PM", ignored) || TryStrToTime("0:10 AM", ignored));
  const auto notValid = [](const char* text, const char* what) {
    return "EConvertError: '" + std::string(text) + "' is not a valid " + what;
  };
  for (const char* text : {"2003-02-30", "2003-07-15 10:20 x"})
    EXPECT_EQ(Raised([&] { StrToDateTime(text); }), notValid(text, "date and time"));
  EXPECT_EQ(Raised([] { StrToDate("2003-07-15 10:00"); }), notValid("2003-07-15 10:00", "date"));
  EXPECT_EQ(Raised([] { StrToTime("10:20:30.5000"); }), notValid("10:20:30.5000", "time"));
}

}  // namespace
}  // namespace Tx
