#include "platform/framework/FormatSettings.h"

#include <cstdlib>
#include <cstring>

namespace Tx {
namespace {

// The first set, non-empty variable of the list, or nullptr.
const char* FirstSet(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    const char* value = std::getenv(name);
    if (value && *value) return value;
  }
  return nullptr;
}

void ApplyPolishNumbers(TFormatSettings& s) {
  s.DecimalSeparator = ',';
  s.ThousandSeparator = '\xA0';
  s.ListSeparator = ';';
  s.CurrencyString = "zł"_ansi;
  s.CurrencyFormat = 3;  // 1 zł
  s.NegCurrFormat = 8;   // -1 zł
  s.CurrencyDecimals = 2;
}

void ApplyPolishDates(TFormatSettings& s) {
  s.DateSeparator = '-';
  s.TimeSeparator = ':';
  s.ShortDateFormat = "yyyy-mm-dd";
  s.LongDateFormat = "d mmmm yyyy";
  s.ShortTimeFormat = "hh:nn";
  s.LongTimeFormat = "hh:nn:ss";
  s.ShortMonthNames = {"sty", "lut", "mar", "kwi", "maj", "cze",
                       "lip", "sie", "wrz", "paź"_ansi, "lis", "gru"};
  s.LongMonthNames = {"styczeń"_ansi,  "luty",     "marzec",       "kwiecień"_ansi,
                      "maj",           "czerwiec", "lipiec",       "sierpień"_ansi,
                      "wrzesień"_ansi, "październik"_ansi, "listopad", "grudzień"_ansi};
  s.ShortDayNames = {"N", "Pn", "Wt", "Śr"_ansi, "Cz", "Pt", "So"};
  s.LongDayNames = {"niedziela", "poniedziałek"_ansi, "wtorek", "środa"_ansi,
                    "czwartek",  "piątek"_ansi,       "sobota"};
}

}  // namespace

bool IsPolishLocaleName(const char* name) noexcept {
  if (!name) return false;
  // The language is what comes before '_', '-', '.' or '@'.
  const std::size_t length = std::strcspn(name, "_-.@");
  return length == 2 && (name[0] == 'p' || name[0] == 'P') && (name[1] == 'l' || name[1] == 'L');
}

TFormatSettings FormatSettingsFromEnvironment() {
  TFormatSettings settings;
  if (IsPolishLocaleName(FirstSet({"LC_ALL", "LC_NUMERIC", "LANG"}))) ApplyPolishNumbers(settings);
  if (IsPolishLocaleName(FirstSet({"LC_ALL", "LC_TIME", "LANG"}))) ApplyPolishDates(settings);
  return settings;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings settings = FormatSettingsFromEnvironment();
  return settings;
}

void ResetFormatSettingsFromEnvironment() { FormatSettings() = FormatSettingsFromEnvironment(); }

}  // namespace Tx
