// The user's locale settings that formatting and date functions use.
//
// Taken once from the environment on first use: the numeric and currency
// fields from LC_ALL, else LC_NUMERIC, else LANG; the date and time fields
// from LC_ALL, else LC_TIME, else LANG. A Polish locale ("pl", "pl_PL",
// "pl_PL.UTF-8", ...) gives the Polish Windows conventions (decimal comma,
// the no-break space 0xA0 as thousand separator, dates "yyyy-mm-dd", Polish
// month and day names, "zł" after the amount); any other locale, or none,
// gives the neutral defaults below. Applications and tests may assign the
// fields; texts are Windows-1250 bytes.
#pragma once

#include <array>

#include "platform/framework/AnsiString.h"

namespace Tx {

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '-';
  char TimeSeparator = ':';
  char ListSeparator = ',';
  AnsiString ShortDateFormat = "yyyy-mm-dd";
  AnsiString LongDateFormat = "d mmmm yyyy";
  AnsiString ShortTimeFormat = "hh:nn";
  AnsiString LongTimeFormat = "hh:nn:ss";
  AnsiString TimeAMString = "AM";
  AnsiString TimePMString = "PM";
  // Money (Format's %m, FloatToStrF ffCurrency). CurrencyFormat places the
  // currency string for positive amounts (0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"),
  // NegCurrFormat for negative ones (the Windows codes 0 "($1)" .. 15 "(1 $)").
  AnsiString CurrencyString = "¤"_ansi;  // the generic currency sign
  unsigned char CurrencyFormat = 0;
  unsigned char NegCurrFormat = 0;
  unsigned char CurrencyDecimals = 2;
  // Month names from January, day names from Sunday (the framework's order).
  std::array<AnsiString, 12> ShortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<AnsiString, 12> LongMonthNames{"January", "February", "March",     "April",
                                            "May",     "June",     "July",      "August",
                                            "September", "October", "November", "December"};
  std::array<AnsiString, 7> ShortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<AnsiString, 7> LongDayNames{"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
  // Two-digit years are read within this many years before now (0: the
  // current century), as the framework does.
  int TwoDigitYearCenturyWindow = 50;
};

// The process-wide settings, read from the environment on first use. The
// reference stays valid for the life of the process.
TFormatSettings& FormatSettings();

// Re-reads the environment into FormatSettings() (for tests that change the
// locale variables); fields assigned by hand are overwritten.
void ResetFormatSettingsFromEnvironment();

// The settings the environment gives, without touching FormatSettings().
TFormatSettings FormatSettingsFromEnvironment();

// True when a locale name (as in LANG: "pl_PL.UTF-8", "pl", "pl-PL") names Polish.
bool IsPolishLocaleName(const char* name) noexcept;

}  // namespace Tx
