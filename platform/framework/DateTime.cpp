#include "platform/framework/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/framework/Exceptions.h"
#include "platform/framework/FormatSettings.h"

namespace Tx {

namespace {

constexpr long long MSecsPerDay = 86400000LL;
// Days from 0001-01-01 (day 1) to 1899-12-30 (serial 0).
constexpr long long DaysBeforeSerialZero = 693594;
constexpr long long FirstSerialDay = 1 - DaysBeforeSerialZero;  // 0001-01-01
constexpr long long LastSerialDay = 2958465;                    // 9999-12-31

constexpr int DaysBeforeMonth[2][13] = {
    {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

// ---- Calendar arithmetic --------------------------------------------------------

// Serial day of a valid date.
long long SerialDay(int year, int month, int day) noexcept {
  const long long y = year - 1;
  const long long daysBeforeYear = y * 365 + y / 4 - y / 100 + y / 400;
  return daysBeforeYear + DaysBeforeMonth[IsLeapYear(year) ? 1 : 0][month] + day -
         DaysBeforeSerialZero;
}

struct CivilDate {
  int Year = 0;
  int Month = 0;
  int Day = 0;
};

// The date of a serial day within FirstSerialDay..LastSerialDay.
CivilDate CivilFromSerial(long long serial) noexcept {
  long long n = serial + DaysBeforeSerialZero - 1;  // days since 0001-01-01
  constexpr long long Days400 = 146097, Days100 = 36524, Days4 = 1461;
  int year = 1;
  year += static_cast<int>(n / Days400) * 400;
  n %= Days400;
  long long centuries = n / Days100;
  if (centuries == 4) centuries = 3;  // the 400th year's last day
  year += static_cast<int>(centuries) * 100;
  n -= centuries * Days100;
  year += static_cast<int>(n / Days4) * 4;
  n %= Days4;
  long long years = n / 365;
  if (years == 4) years = 3;  // a leap year's last day
  year += static_cast<int>(years);
  n -= years * 365;
  const int leap = IsLeapYear(year) ? 1 : 0;
  int month = 12;
  while (DaysBeforeMonth[leap][month] > n) --month;
  return {year, month, static_cast<int>(n - DaysBeforeMonth[leap][month]) + 1};
}

// A value rounded to the millisecond, split into its day and the
// millisecond of that day. False for values that are not finite or lie far
// outside the supported dates.
struct SplitValue {
  long long Day = 0;
  int MSecOfDay = 0;
};

bool Split(double value, SplitValue& out) noexcept {
  if (!std::isfinite(value) || std::fabs(value) > 1.0e8) return false;
  const auto ms = static_cast<long long>(std::nearbyint(value * static_cast<double>(MSecsPerDay)));
  out.Day = ms / MSecsPerDay;
  out.MSecOfDay = static_cast<int>((ms < 0 ? -ms : ms) % MSecsPerDay);
  return true;
}

struct DecodedDateTime {
  CivilDate Date;  // zeros outside the supported range
  int Hour = 0, Min = 0, Sec = 0, MSec = 0;
  int DayOfWeek = 0;  // 1 = Sunday; 0 when the date is out of range
};

DecodedDateTime Decode(double value) noexcept {
  DecodedDateTime d;
  SplitValue split;
  if (!Split(value, split)) return d;
  if (split.Day >= FirstSerialDay && split.Day <= LastSerialDay) {
    d.Date = CivilFromSerial(split.Day);
    // Serial 0 was a Saturday; keep the remainder non-negative.
    d.DayOfWeek = static_cast<int>(((split.Day % 7) + 7 + 6) % 7) + 1;
  }
  int ms = split.MSecOfDay;
  d.Hour = ms / 3600000;
  ms %= 3600000;
  d.Min = ms / 60000;
  ms %= 60000;
  d.Sec = ms / 1000;
  d.MSec = ms % 1000;
  return d;
}

char UpperAscii(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) noexcept {
  if (prefix.empty() || text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (UpperAscii(text[i]) != UpperAscii(prefix[i])) return false;
  }
  return true;
}

// ---- Formatting ---------------------------------------------------------------------

void AppendNumber(std::string& out, int value, int minDigits) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < minDigits) out.append(minDigits - digits.size(), '0');
  out += digits;
}

class DateTimeFormatter {
 public:
  explicit DateTimeFormatter(double value)
      : FValue(Decode(value)), FSettings(FormatSettings()) {}

  std::string Run(std::string_view format) {
    Append(format.empty() ? std::string_view("c") : format, 0);
    return std::move(FOut);
  }

 private:
  // Formats nest (c, ddddd, t refer to other formats); two levels suffice
  // and stop a format that names itself.
  static constexpr int MaxNesting = 2;

  void Append(std::string_view format, int level) {
    if (level >= MaxNesting) return;
    char lastLetter = ' ';
    std::size_t i = 0;
    while (i < format.size()) {
      const char c = format[i];
      char token = UpperAscii(c);
      if (token >= 'A' && token <= 'Z') {
        if (token == 'M' && lastLetter == 'H') token = 'N';
        lastLetter = token;
      }
      const int count = RunLength(format, i);
      switch (token) {
        case 'Y':
          if (count <= 2) AppendNumber(FOut, FValue.Date.Year % 100, 2);
          else AppendNumber(FOut, FValue.Date.Year, 4);
          i += count;
          break;
        case 'M':
          AppendMonth(count);
          i += count;
          break;
        case 'D':
          AppendDay(count, level);
          i += count;
          break;
        case 'H':
          AppendHour(count, UsesTwelveHourClock(format, i + count));
          i += count;
          break;
        case 'N':
          AppendNumber(FOut, FValue.Min, count == 1 ? 1 : 2);
          i += count;
          break;
        case 'S':
          AppendNumber(FOut, FValue.Sec, count == 1 ? 1 : 2);
          i += count;
          break;
        case 'Z':
          AppendNumber(FOut, FValue.MSec, count == 1 ? 1 : 3);
          i += count;
          break;
        case 'T':
          Append((count == 1 ? FSettings.ShortTimeFormat : FSettings.LongTimeFormat).view(), level + 1);
          i += count;
          break;
        case 'C':
          Append(FSettings.ShortDateFormat.view(), level + 1);
          if (FValue.Hour != 0 || FValue.Min != 0 || FValue.Sec != 0 || FValue.MSec != 0) {
            FOut += ' ';
            Append(FSettings.LongTimeFormat.view(), level + 1);
          }
          i += count;
          break;
        case 'A':
          i += AppendAmPm(format.substr(i));
          break;
        case '/':
          FOut += FSettings.DateSeparator;
          ++i;
          break;
        case ':':
          FOut += FSettings.TimeSeparator;
          ++i;
          break;
        case '\'':
        case '"':
          i = AppendQuoted(format, i);
          break;
        default:
          FOut += c;
          ++i;
          break;
      }
    }
  }

  // How many times format[i] repeats from i, letters in either case.
  static int RunLength(std::string_view format, std::size_t i) {
    std::size_t j = i;
    while (j < format.size() && UpperAscii(format[j]) == UpperAscii(format[i])) ++j;
    return static_cast<int>(j - i);
  }

  void AppendMonth(int count) {
    const int m = FValue.Date.Month;
    switch (count) {
      case 1: AppendNumber(FOut, m, 1); break;
      case 2: AppendNumber(FOut, m, 2); break;
      case 3: if (m >= 1) FOut += FSettings.ShortMonthNames[m - 1].view(); break;
      default: if (m >= 1) FOut += FSettings.LongMonthNames[m - 1].view(); break;
    }
  }

  void AppendDay(int count, int level) {
    const int dow = FValue.DayOfWeek;
    switch (count) {
      case 1: AppendNumber(FOut, FValue.Date.Day, 1); break;
      case 2: AppendNumber(FOut, FValue.Date.Day, 2); break;
      case 3: if (dow >= 1) FOut += FSettings.ShortDayNames[dow - 1].view(); break;
      case 4: if (dow >= 1) FOut += FSettings.LongDayNames[dow - 1].view(); break;
      case 5: Append(FSettings.ShortDateFormat.view(), level + 1); break;
      default: Append(FSettings.LongDateFormat.view(), level + 1); break;
    }
  }

  void AppendHour(int count, bool twelveHour) {
    int h = FValue.Hour;
    if (twelveHour) {
      h %= 12;
      if (h == 0) h = 12;
    }
    AppendNumber(FOut, h, count == 1 ? 1 : 2);
  }

  static bool IsAmPmToken(std::string_view rest) {
    return StartsWithNoCase(rest, "am/pm") || StartsWithNoCase(rest, "a/p") ||
           StartsWithNoCase(rest, "ampm");
  }

  // An hour uses the 12-hour clock when an am/pm token follows it before the
  // next hour token; quoted text is skipped, and the first unquoted 'a'
  // decides.
  static bool UsesTwelveHourClock(std::string_view format, std::size_t from) {
    char quote = 0;
    for (std::size_t j = from; j < format.size(); ++j) {
      const char c = format[j];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '\'' || c == '"') {
        quote = c;
      } else if (c == 'h' || c == 'H') {
        return false;
      } else if (c == 'a' || c == 'A') {
        return IsAmPmToken(format.substr(j));
      }
    }
    return false;
  }

  // Writes an am/pm token at the start of rest (or the plain letter) and
  // returns how many format bytes it used.
  std::size_t AppendAmPm(std::string_view rest) {
    const bool pm = FValue.Hour >= 12;
    if (StartsWithNoCase(rest, "am/pm")) {
      FOut += rest.substr(pm ? 3 : 0, 2);
      return 5;
    }
    if (StartsWithNoCase(rest, "a/p")) {
      FOut += rest[pm ? 2 : 0];
      return 3;
    }
    if (StartsWithNoCase(rest, "ampm")) {
      FOut += (pm ? FSettings.TimePMString : FSettings.TimeAMString).view();
      return 4;
    }
    FOut += rest[0];
    return 1;
  }

  // Copies the text between the quote at i and its match (or the end) and
  // returns the position after the closing quote.
  std::size_t AppendQuoted(std::string_view format, std::size_t i) {
    const char quote = format[i];
    const std::size_t close = format.find(quote, i + 1);
    const std::size_t end = close == std::string_view::npos ? format.size() : close;
    FOut += format.substr(i + 1, end - i - 1);
    return close == std::string_view::npos ? format.size() : close + 1;
  }

  const DecodedDateTime FValue;
  const TFormatSettings& FSettings;
  std::string FOut;
};

// ---- Parsing ----------------------------------------------------------------------------

enum class DateOrder { DMY, MDY, YMD };

// The order of the first day, month and year letters of the short date
// format (quoted text skipped); month-day-year when there are none.
DateOrder OrderOf(std::string_view format) {
  char quote = 0;
  for (const char c : format) {
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    switch (UpperAscii(c)) {
      case '\'': case '"': quote = c; break;
      case 'D': return DateOrder::DMY;
      case 'M': return DateOrder::MDY;
      case 'Y': return DateOrder::YMD;
      default: break;
    }
  }
  return DateOrder::MDY;
}

int CurrentYear() {
  int year = 0, month = 0, day = 0;
  DecodeDate(Date(), year, month, day);
  return year;
}

class DateTimeScanner {
 public:
  explicit DateTimeScanner(std::string_view text) : FText(text), FSettings(FormatSettings()) {}

  bool AtEnd() {
    SkipBlanks();
    return FPos >= FText.size();
  }

  bool ScanDate(TDateTime& result) {
    int n1 = 0, n2 = 0, n3 = 0, digits1 = 0, digits2 = 0, digits3 = 0;
    if (!ScanNumber(n1, digits1) || !ScanChar(FSettings.DateSeparator) || !ScanNumber(n2, digits2)) {
      return false;
    }
    int year = 0, month = 0, day = 0, yearDigits = 4;
    const DateOrder order = OrderOf(FSettings.ShortDateFormat.view());
    if (ScanChar(FSettings.DateSeparator)) {
      if (!ScanNumber(n3, digits3)) return false;
      if (order == DateOrder::YMD || digits1 > 2) {
        year = n1, month = n2, day = n3, yearDigits = digits1;
      } else if (order == DateOrder::DMY) {
        day = n1, month = n2, year = n3, yearDigits = digits3;
      } else {
        month = n1, day = n2, year = n3, yearDigits = digits3;
      }
    } else {
      year = CurrentYear();
      if (order == DateOrder::DMY) day = n1, month = n2;
      else month = n1, day = n2;
    }
    if (yearDigits <= 2) year = WithCentury(year);
    return TryEncodeDate(year, month, day, result);
  }

  bool ScanTime(TDateTime& result) {
    int hour = 0, min = 0, sec = 0, msec = 0, digits = 0;
    int baseHour = ScanAmPm();
    if (!ScanNumber(hour, digits)) return false;
    if (ScanChar(FSettings.TimeSeparator)) {
      if (!ScanNumber(min, digits)) return false;
      if (ScanChar(FSettings.TimeSeparator)) {
        if (!ScanNumber(sec, digits)) return false;
        if (ScanChar(FSettings.DecimalSeparator) && !ScanNumber(msec, digits)) return false;
      }
    }
    if (baseHour < 0) baseHour = ScanAmPm();
    if (baseHour >= 0) {
      if (hour == 0 || hour > 12) return false;
      hour = (hour == 12 ? 0 : hour) + baseHour;
    }
    return TryEncodeTime(hour, min, sec, msec, result);
  }

 private:
  void SkipBlanks() {
    while (FPos < FText.size() && FText[FPos] == ' ') ++FPos;
  }

  // Up to four decimal digits.
  bool ScanNumber(int& value, int& digits) {
    SkipBlanks();
    value = 0;
    digits = 0;
    while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9') {
      if (++digits > 4) return false;
      value = value * 10 + (FText[FPos] - '0');
      ++FPos;
    }
    return digits > 0;
  }

  bool ScanChar(char c) {
    SkipBlanks();
    if (FPos < FText.size() && FText[FPos] == c) {
      ++FPos;
      return true;
    }
    return false;
  }

  bool ScanWord(std::string_view word) {
    SkipBlanks();
    if (!StartsWithNoCase(FText.substr(FPos), word)) return false;
    FPos += word.size();
    return true;
  }

  // 0 for an AM marker, 12 for PM, -1 for none.
  int ScanAmPm() {
    if (ScanWord(FSettings.TimeAMString.view()) || ScanWord("AM")) return 0;
    if (ScanWord(FSettings.TimePMString.view()) || ScanWord("PM")) return 12;
    return -1;
  }

  // A two-digit year placed by the settings' century window.
  int WithCentury(int year) const {
    const int window = FSettings.TwoDigitYearCenturyWindow;
    const int base = CurrentYear() - window;
    year += base / 100 * 100;
    if (window > 0 && year < base) year += 100;
    return year;
  }

  std::string_view FText;
  const TFormatSettings& FSettings;
  std::size_t FPos = 0;
};

[[noreturn]] void RaiseInvalidText(const AnsiString& text, const char* what) {
  throw EConvertError("'" + text + "' is not a valid " + what);
}

}  // namespace

// ---- TDateTime ------------------------------------------------------------------------------

TDateTime::TDateTime(int year, int month, int day) : Val(EncodeDate(year, month, day).Val) {}
TDateTime::TDateTime(int hour, int min, int sec, int msec)
    : Val(EncodeTime(hour, min, sec, msec).Val) {}

AnsiString TDateTime::DateString() const { return DateToStr(*this); }
AnsiString TDateTime::TimeString() const { return TimeToStr(*this); }
AnsiString TDateTime::DateTimeString() const { return DateTimeToStr(*this); }
AnsiString TDateTime::FormatString(const AnsiString& format) const {
  return FormatDateTime(format, *this);
}

void TDateTime::DecodeDate(unsigned short* year, unsigned short* month, unsigned short* day) const {
  unsigned short y = 0, m = 0, d = 0;
  Tx::DecodeDate(*this, y, m, d);
  if (year) *year = y;
  if (month) *month = m;
  if (day) *day = d;
}

void TDateTime::DecodeTime(unsigned short* hour, unsigned short* min, unsigned short* sec,
                           unsigned short* msec) const {
  unsigned short h = 0, n = 0, s = 0, z = 0;
  Tx::DecodeTime(*this, h, n, s, z);
  if (hour) *hour = h;
  if (min) *min = n;
  if (sec) *sec = s;
  if (msec) *msec = z;
}

TDateTime TDateTime::CurrentDate() { return Date(); }
TDateTime TDateTime::CurrentTime() { return Time(); }
TDateTime TDateTime::CurrentDateTime() { return Now(); }

// ---- Calendar ---------------------------------------------------------------------------------

bool IsLeapYear(int year) noexcept {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInAMonth(int year, int month) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12) return 0;
  const int leap = IsLeapYear(year) ? 1 : 0;
  const int next = month == 12 ? 365 + leap : DaysBeforeMonth[leap][month + 1];
  return next - DaysBeforeMonth[leap][month];
}

// ---- Encoding and decoding --------------------------------------------------------------------

bool TryEncodeDate(int year, int month, int day, TDateTime& result) noexcept {
  if (day < 1 || day > DaysInAMonth(year, month)) return false;
  result = TDateTime(static_cast<double>(SerialDay(year, month, day)));
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) noexcept {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 ||
      msec > 999) {
    return false;
  }
  const long long ms = ((hour * 60LL + min) * 60 + sec) * 1000 + msec;
  result = TDateTime(static_cast<double>(ms) / static_cast<double>(MSecsPerDay));
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result;
  if (!TryEncodeDate(year, month, day, result)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return result;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime result;
  if (!TryEncodeTime(hour, min, sec, msec, result)) {
    throw EConvertError("Invalid argument to time encode");
  }
  return result;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) noexcept {
  return date.Val < 0 ? TDateTime(date.Val - std::fabs(time.Val))
                      : TDateTime(date.Val + std::fabs(time.Val));
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  const CivilDate d = Decode(value.Val).Date;
  year = d.Year;
  month = d.Month;
  day = d.Day;
}

void DecodeDate(TDateTime value, unsigned short& year, unsigned short& month, unsigned short& day) {
  const CivilDate d = Decode(value.Val).Date;
  year = static_cast<unsigned short>(d.Year);
  month = static_cast<unsigned short>(d.Month);
  day = static_cast<unsigned short>(d.Day);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
  const DecodedDateTime d = Decode(value.Val);
  hour = d.Hour;
  min = d.Min;
  sec = d.Sec;
  msec = d.MSec;
}

void DecodeTime(TDateTime value, unsigned short& hour, unsigned short& min, unsigned short& sec,
                unsigned short& msec) {
  const DecodedDateTime d = Decode(value.Val);
  hour = static_cast<unsigned short>(d.Hour);
  min = static_cast<unsigned short>(d.Min);
  sec = static_cast<unsigned short>(d.Sec);
  msec = static_cast<unsigned short>(d.MSec);
}

int DayOfWeek(TDateTime value) { return Decode(value.Val).DayOfWeek; }

TDateTime DateOf(TDateTime value) noexcept { return TDateTime(std::trunc(value.Val)); }

TDateTime TimeOf(TDateTime value) {
  SplitValue split;
  if (!Split(value.Val, split)) return TDateTime(0.0);
  return TDateTime(static_cast<double>(split.MSecOfDay) / static_cast<double>(MSecsPerDay));
}

TDateTime Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const int msec = static_cast<int>(
      duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  return ComposeDateTime(
      EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday),
      // A leap second (tm_sec 60) is shown as the last second of its minute.
      EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                 msec < 0 ? 0 : msec));
}

TDateTime Date() { return DateOf(Now()); }
TDateTime Time() { return TimeOf(Now()); }

// ---- Text ---------------------------------------------------------------------------------------

AnsiString FormatDateTime(const AnsiString& format, TDateTime value) {
  return AnsiString(DateTimeFormatter(value.Val).Run(format.view()));
}

AnsiString DateTimeToStr(TDateTime value) { return FormatDateTime("c", value); }
AnsiString DateToStr(TDateTime value) { return FormatDateTime("ddddd", value); }
AnsiString TimeToStr(TDateTime value) { return FormatDateTime("tt", value); }

bool TryStrToDate(const AnsiString& text, TDateTime& result) {
  DateTimeScanner scanner(text.view());
  TDateTime date;
  if (!scanner.ScanDate(date) || !scanner.AtEnd()) return false;
  result = date;
  return true;
}

bool TryStrToTime(const AnsiString& text, TDateTime& result) {
  DateTimeScanner scanner(text.view());
  TDateTime time;
  if (!scanner.ScanTime(time) || !scanner.AtEnd()) return false;
  result = time;
  return true;
}

bool TryStrToDateTime(const AnsiString& text, TDateTime& result) {
  DateTimeScanner scanner(text.view());
  TDateTime date;
  if (scanner.ScanDate(date)) {
    if (scanner.AtEnd()) {
      result = date;
      return true;
    }
    TDateTime time;
    if (scanner.ScanTime(time) && scanner.AtEnd()) {
      result = ComposeDateTime(date, time);
      return true;
    }
  }
  return TryStrToTime(text, result);
}

TDateTime StrToDateTime(const AnsiString& text) {
  TDateTime result;
  if (!TryStrToDateTime(text, result)) RaiseInvalidText(text, "date and time");
  return result;
}

TDateTime StrToDate(const AnsiString& text) {
  TDateTime result;
  if (!TryStrToDate(text, result)) RaiseInvalidText(text, "date");
  return result;
}

TDateTime StrToTime(const AnsiString& text) {
  TDateTime result;
  if (!TryStrToTime(text, result)) RaiseInvalidText(text, "time");
  return result;
}

}  // namespace Tx
