// The user's locale settings that formatting and date functions use.
//
// Taken once from the environment (LC_ALL, LC_TIME/LC_NUMERIC, LANG): a Polish
// locale gives the Polish conventions, any other or none the defaults below.
// Applications and tests may assign the fields.
#pragma once

#include "platform/framework/AnsiString.h"

namespace Tx {

struct TFormatSettings {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';
  char DateSeparator = '-';
  char TimeSeparator = ':';
  AnsiString ShortDateFormat = "yyyy-mm-dd";
  AnsiString LongDateFormat = "d mmmm yyyy";
  AnsiString ShortTimeFormat = "hh:nn";
  AnsiString LongTimeFormat = "hh:nn:ss";
  AnsiString TimeAMString = "AM";
  AnsiString TimePMString = "PM";
};

// The process-wide settings, read from the environment on first use.
TFormatSettings& FormatSettings();

// Re-reads the environment (for tests that change the locale variables).
void ResetFormatSettingsFromEnvironment();

}  // namespace Tx
