// TDateTime and the framework's date and time functions.
//
// A TDateTime is a double: the integral part counts days since 1899-12-30,
// the fraction is the time of day. Before that day the integral part is
// still the day (counted toward minus infinity by whole days: -1 is
// 1899-12-29) and the absolute value of the fraction is the time, so -1.25
// is 1899-12-29 06:00. Dates from 0001-01-01 to 9999-12-31 are supported.
//
// Decoding rounds the value to the nearest millisecond first (ties to even),
// so every value built by EncodeDate + EncodeTime decodes back to the same
// components; a value a fraction of a millisecond before midnight decodes as
// the next day's 00:00:00.000.
//
// Formatting and parsing take separators, formats, month and day names and
// the two-digit year window from FormatSettings().
#pragma once

#include "platform/framework/AnsiString.h"

namespace Tx {

// The framework's date-time value. It converts implicitly from and to
// double, so arithmetic and comparisons work on the serial number directly.
class TDateTime {
 public:
  TDateTime() noexcept = default;
  TDateTime(double value) noexcept : Val(value) {}  // NOLINT: a serial number
  // EncodeDate(year, month, day); EConvertError on an invalid date.
  TDateTime(int year, int month, int day);
  // EncodeTime(hour, min, sec, msec); EConvertError on an invalid time.
  TDateTime(int hour, int min, int sec, int msec);

  operator double() const noexcept { return Val; }  // NOLINT

  AnsiString DateString() const;      // DateToStr
  AnsiString TimeString() const;      // TimeToStr
  AnsiString DateTimeString() const;  // DateTimeToStr
  AnsiString FormatString(const AnsiString& format) const;  // FormatDateTime
  void DecodeDate(unsigned short* year, unsigned short* month, unsigned short* day) const;
  void DecodeTime(unsigned short* hour, unsigned short* min, unsigned short* sec,
                  unsigned short* msec) const;

  static TDateTime CurrentDate();
  static TDateTime CurrentTime();
  static TDateTime CurrentDateTime();

  double Val = 0.0;
};

// ---- Calendar ---------------------------------------------------------------

bool IsLeapYear(int year) noexcept;
// Days in the month (28..31); 0 when year or month is out of range.
int DaysInAMonth(int year, int month) noexcept;

// ---- Encoding and decoding ----------------------------------------------------
// Components are taken as int so that out-of-range values from callers'
// arithmetic are reported rather than wrapped.

// The serial of year-month-day (year 1..9999). Raises EConvertError
// "Invalid argument to date encode" on an invalid date.
TDateTime EncodeDate(int year, int month, int day);
// The fraction of a day for hour 0..23, min 0..59, sec 0..59, msec 0..999.
// Raises EConvertError "Invalid argument to time encode" otherwise.
TDateTime EncodeTime(int hour, int min, int sec, int msec);
// As above, returning false (and leaving result alone) instead of raising.
bool TryEncodeDate(int year, int month, int day, TDateTime& result) noexcept;
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) noexcept;
// Date plus time, with the time subtracted for a negative date so that the
// fraction's absolute value stays the time of day.
TDateTime ComposeDateTime(TDateTime date, TDateTime time) noexcept;

// The calendar date of a value (after rounding to the millisecond). As in
// the framework, a value outside 0001-01-01 .. 9999-12-31 (or not finite)
// decodes as year, month and day 0.
void DecodeDate(TDateTime value, unsigned short& year, unsigned short& month, unsigned short& day);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
// The time of day of a value (the absolute value of its fraction, rounded
// to the millisecond). Never fails for a finite value.
void DecodeTime(TDateTime value, unsigned short& hour, unsigned short& min, unsigned short& sec,
                unsigned short& msec);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
// 1 = Sunday .. 7 = Saturday; 0 for a value DecodeDate gives as zeros.
int DayOfWeek(TDateTime value);

// The integral part (truncated toward zero): midnight of the value's day.
TDateTime DateOf(TDateTime value) noexcept;
// The time of day as a fraction in [0, 1), rounded to the millisecond.
TDateTime TimeOf(TDateTime value);

// Local date and time from the system clock, to the millisecond.
TDateTime Now();
TDateTime Date();
TDateTime Time();

// ---- Text ---------------------------------------------------------------------

// The framework's format tokens, letters in either case:
//   c        ShortDateFormat, and LongTimeFormat after a blank unless the
//            time is exactly midnight
//   d dd     day without / with a leading zero
//   ddd dddd short / long day name;  ddddd ShortDateFormat; dddddd LongDateFormat
//   m mm     month without / with a leading zero (minutes right after an h
//            or hh token); mmm mmmm short / long month name
//   yy yyyy  two-digit / four-digit year
//   h hh     hour; n nn minutes; s ss seconds; z zzz milliseconds
//   t tt     ShortTimeFormat / LongTimeFormat
//   am/pm a/p  12-hour clock for the preceding h, written in the case given
//   ampm     12-hour clock, TimeAMString / TimePMString
//   /  :     DateSeparator / TimeSeparator
//   '...' "..."  literal text; any other character stands for itself.
// An empty format means "c".
AnsiString FormatDateTime(const AnsiString& format, TDateTime value);
// FormatDateTime("c"): short date, a blank and the long time format.
AnsiString DateTimeToStr(TDateTime value);
AnsiString DateToStr(TDateTime value);  // ShortDateFormat
AnsiString TimeToStr(TDateTime value);  // LongTimeFormat

// Parsing follows the order of day, month and year in ShortDateFormat and
// the DateSeparator; a first number of three or more digits is a year (so
// ISO texts are read under any order). Two numbers mean the current year; a
// two-digit year is placed by TwoDigitYearCenturyWindow (within that many
// years before the current one; 0 means the current century). The time is
// h[:n[:s[<DecimalSeparator>z]]] with an optional AM/PM (TimeAMString,
// TimePMString, "AM" or "PM") before or after it.
//
// StrToDateTime raises EConvertError "'<text>' is not a valid date and time"
// (a text holding only a time gives that time on day 0).
TDateTime StrToDateTime(const AnsiString& text);
// EConvertError "'<text>' is not a valid date".
TDateTime StrToDate(const AnsiString& text);
// EConvertError "'<text>' is not a valid time".
TDateTime StrToTime(const AnsiString& text);
bool TryStrToDateTime(const AnsiString& text, TDateTime& result);
bool TryStrToDate(const AnsiString& text, TDateTime& result);
bool TryStrToTime(const AnsiString& text, TDateTime& result);

}  // namespace Tx
