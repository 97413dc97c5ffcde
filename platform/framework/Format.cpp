#include "platform/framework/Format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "platform/framework/Exceptions.h"
#include "platform/framework/Variant.h"

namespace Tx {
namespace {

// Widths and precisions beyond this are refused rather than allocated.
constexpr int kMaxWidth = 1 << 20;
// The framework computes floating conversions with at most 18 digits.
constexpr int kMaxDigits = 18;

[[noreturn]] void ThrowInvalidFormat(const AnsiString& pattern) {
  throw EConvertError("Format '" + pattern + "' invalid or incompatible with argument");
}

[[noreturn]] void ThrowNoArgument(const AnsiString& pattern) {
  throw EConvertError("No argument for format '" + pattern + "'");
}

[[noreturn]] void ThrowNotInteger(const AnsiString& text) {
  throw EConvertError("'" + text + "' is not a valid integer value");
}

[[noreturn]] void ThrowNotFloat(const AnsiString& text) {
  throw EConvertError("'" + text + "' is not a valid floating point value");
}

// ---- Decimal digits of a double ----------------------------------------------

// A finite value as value = 0.<digits> * 10^exponent; digits has no leading
// or trailing zeros and is empty for zero.
struct Decimal {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

void Normalise(Decimal& d) {
  const auto first = d.digits.find_first_not_of('0');
  if (first == std::string::npos) {
    d = Decimal{};
    return;
  }
  d.digits.erase(0, first);
  d.exponent -= static_cast<int>(first);
  d.digits.erase(d.digits.find_last_not_of('0') + 1);
}

// The value's first 18 significant digits, rounded to nearest (ties to
// even on the exact binary value), as the framework's conversion takes them.
// Not normalised: zero gives 18 zeros.
Decimal EighteenDigits(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", kMaxDigits - 1, std::fabs(value));
  Decimal d;
  d.negative = std::signbit(value);
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p != '.') d.digits += *p;
  d.exponent = (*p == 'e' ? std::atoi(p + 1) : 0) + 1;
  return d;
}

// Keeps the first keep digits, rounding half up on the decimal digits (so
// 2.5 rounds to 3 and 1.125 to 1.13 at two places, as in the framework).
// keep may be 0 (the result is 0 or one unit above the first digit) or
// negative (the result is 0).
void RoundAt(Decimal& d, int keep) {
  Normalise(d);
  if (d.digits.empty() || keep >= static_cast<int>(d.digits.size())) return;
  if (keep < 0) {
    d = Decimal{};
    return;
  }
  const bool up = d.digits[static_cast<std::size_t>(keep)] >= '5';
  d.digits.resize(static_cast<std::size_t>(keep));
  if (up) {
    std::size_t k = d.digits.size();
    while (k > 0 && d.digits[k - 1] == '9') d.digits[--k] = '0';
    if (k == 0) {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exponent;
    } else {
      ++d.digits[k - 1];
    }
  }
  Normalise(d);
}

// value rounded to precision (1..kMaxDigits) significant digits.
Decimal Significant(double value, int precision) {
  Decimal d = EighteenDigits(value);
  RoundAt(d, precision);
  return d;
}

// value rounded to precision significant digits or to decimals places,
// whichever is coarser.
Decimal FixedRounded(double value, int precision, int decimals) {
  Decimal d = EighteenDigits(value);
  Normalise(d);
  RoundAt(d, std::min(precision, d.exponent + decimals));
  return d;
}

std::string ExponentText(int exponent, int minDigits, bool plusSign) {
  std::string text;
  if (exponent < 0)
    text += '-';
  else if (plusSign)
    text += '+';
  std::string digits = std::to_string(std::abs(exponent));
  if (static_cast<int>(digits.size()) < minDigits)
    digits.insert(0, static_cast<std::size_t>(minDigits) - digits.size(), '0');
  return text + digits;
}

std::string Grouped(const std::string& integerDigits, char separator) {
  std::string out;
  const std::size_t n = integerDigits.size();
  for (std::size_t k = 0; k < n; ++k) {
    if (k > 0 && (n - k) % 3 == 0) out += separator;
    out += integerDigits[k];
  }
  return out;
}

// "-ddd.ddd" with decimals places; thousands grouped unless separator is 0.
std::string RenderFixed(const Decimal& d, int decimals, char decimalSeparator,
                        char thousandSeparator) {
  std::string integer;
  if (d.exponent > 0) {
    integer = d.digits.substr(0, std::min<std::size_t>(d.digits.size(), static_cast<std::size_t>(d.exponent)));
    integer.append(static_cast<std::size_t>(d.exponent) - integer.size(), '0');
  } else {
    integer = "0";
  }
  std::string out = (d.negative && !d.digits.empty()) ? "-" : "";
  out += thousandSeparator ? Grouped(integer, thousandSeparator) : integer;
  if (decimals > 0) {
    out += decimalSeparator;
    for (int k = 0; k < decimals; ++k) {
      const int at = d.exponent + k;
      out += (at >= 0 && at < static_cast<int>(d.digits.size())) ? d.digits[static_cast<std::size_t>(at)] : '0';
    }
  }
  return out;
}

std::string RenderScientificMantissa(const std::string& digits, char decimalSeparator) {
  std::string out(1, digits[0]);
  if (digits.size() > 1) {
    out += decimalSeparator;
    out.append(digits, 1);
  }
  return out;
}

// General format: fixed unless the value is below 0.0001 or has more
// integer digits than the precision; trailing zeros dropped.
std::string RenderGeneral(const Decimal& d, int precision, int exponentDigits,
                          char decimalSeparator) {
  if (d.digits.empty()) return "0";
  std::string out = d.negative ? "-" : "";
  const auto size = static_cast<int>(d.digits.size());
  if (d.exponent > precision || d.exponent < -3) {
    out += RenderScientificMantissa(d.digits, decimalSeparator);
    out += 'E';
    out += ExponentText(d.exponent - 1, exponentDigits, false);
  } else if (d.exponent <= 0) {
    out += '0';
    out += decimalSeparator;
    out.append(static_cast<std::size_t>(-d.exponent), '0');
    out += d.digits;
  } else if (size <= d.exponent) {
    out += d.digits;
    out.append(static_cast<std::size_t>(d.exponent - size), '0');
  } else {
    out.append(d.digits, 0, static_cast<std::size_t>(d.exponent));
    out += decimalSeparator;
    out.append(d.digits, static_cast<std::size_t>(d.exponent));
  }
  return out;
}

// Scientific format "-d.ddd...E+ddd" with precision digits in all.
std::string RenderExponent(const Decimal& d, int precision, int exponentDigits,
                           char decimalSeparator) {
  std::string digits = d.digits.empty() ? std::string("0") : d.digits;
  digits.resize(static_cast<std::size_t>(precision), '0');
  std::string out = (d.negative && !d.digits.empty()) ? "-" : "";
  out += RenderScientificMantissa(digits, decimalSeparator);
  out += 'E';
  out += ExponentText(d.digits.empty() ? 0 : d.exponent - 1, exponentDigits, true);
  return out;
}

// Places the currency string around an amount by the Windows format codes.
std::string RenderCurrency(const Decimal& d, int decimals, const TFormatSettings& s) {
  Decimal magnitude = d;
  magnitude.negative = false;
  const std::string amount = RenderFixed(magnitude, decimals, s.DecimalSeparator, s.ThousandSeparator);
  const std::string& cur = s.CurrencyString.str();
  if (!d.negative || d.digits.empty()) {
    switch (s.CurrencyFormat) {
      case 1: return amount + cur;
      case 2: return cur + " " + amount;
      case 3: return amount + " " + cur;
      default: return cur + amount;
    }
  }
  switch (s.NegCurrFormat) {
    case 1: return "-" + cur + amount;
    case 2: return cur + "-" + amount;
    case 3: return cur + amount + "-";
    case 4: return "(" + amount + cur + ")";
    case 5: return "-" + amount + cur;
    case 6: return amount + "-" + cur;
    case 7: return amount + cur + "-";
    case 8: return "-" + amount + " " + cur;
    case 9: return "-" + cur + " " + amount;
    case 10: return amount + " " + cur + "-";
    case 11: return cur + " " + amount + "-";
    case 12: return cur + " -" + amount;
    case 13: return amount + "- " + cur;
    case 14: return "(" + cur + " " + amount + ")";
    case 15: return "(" + amount + " " + cur + ")";
    default: return "(" + cur + amount + ")";
  }
}

std::string SpecialValueText(double value) {
  if (std::isnan(value)) return "NAN";
  return value < 0 ? "-INF" : "INF";
}

std::string FloatText(double value, TFloatFormat format, int precision, int digits,
                      const TFormatSettings& s) {
  if (!std::isfinite(value)) return SpecialValueText(value);
  precision = std::clamp(precision, 1, kMaxDigits);
  switch (format) {
    case ffGeneral:
      return RenderGeneral(Significant(value, precision), precision, std::clamp(digits, 0, 4),
                           s.DecimalSeparator);
    case ffExponent:
      return RenderExponent(Significant(value, precision), precision, std::clamp(digits, 0, 4),
                            s.DecimalSeparator);
    case ffFixed:
    case ffNumber:
    case ffCurrency:
      break;
  }
  const int decimals = std::clamp(digits, 0, kMaxDigits);
  const Decimal probe = Significant(value, precision);
  if (probe.exponent > precision) return RenderGeneral(probe, precision, 0, s.DecimalSeparator);
  const Decimal d = FixedRounded(value, precision, decimals);
  if (format == ffFixed) return RenderFixed(d, decimals, s.DecimalSeparator, 0);
  if (format == ffNumber) return RenderFixed(d, decimals, s.DecimalSeparator, s.ThousandSeparator);
  return RenderCurrency(d, decimals, s);
}

// ---- Integers ------------------------------------------------------------------

std::string UnsignedText(unsigned long long value, int base, int minDigits) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, base);
  std::string digits(buf, end);
  if (base == 16)
    std::transform(digits.begin(), digits.end(), digits.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c; });
  if (static_cast<int>(digits.size()) < minDigits)
    digits.insert(0, static_cast<std::size_t>(minDigits) - digits.size(), '0');
  return digits;
}

std::string SignedText(long long value, int minDigits) {
  const bool negative = value < 0;
  // Negate in unsigned arithmetic so the most negative value is fine.
  const unsigned long long magnitude =
      negative ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  return (negative ? "-" : "") + UnsignedText(magnitude, 10, minDigits);
}

// Integer text in the framework's Val syntax; false on bad text or overflow.
// bits is 32 or 64.
bool ParseInteger(std::string_view text, int bits, long long& result) noexcept {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return false;
  // from_chars takes no sign and no prefix itself, so these are plain digits.
  if (text[i] == '-' || text[i] == '+') return false;
  unsigned long long magnitude = 0;
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(first, last, magnitude, base);
  if (ec != std::errc() || end != last) return false;
  if (base == 16) {
    // Hexadecimal may use every bit of the result; a sign negates modulo 2^bits.
    if (bits == 32) {
      if (magnitude > 0xFFFFFFFFULL) return false;
      auto u = static_cast<std::uint32_t>(magnitude);
      if (negative) u = 0U - u;
      result = static_cast<std::int32_t>(u);
    } else {
      const unsigned long long u = negative ? 0ULL - magnitude : magnitude;
      result = static_cast<long long>(u);
    }
    return true;
  }
  const unsigned long long maxPositive =
      bits == 32 ? static_cast<unsigned long long>(std::numeric_limits<int>::max())
                 : static_cast<unsigned long long>(std::numeric_limits<long long>::max());
  if (magnitude > maxPositive + (negative ? 1 : 0)) return false;
  result = negative ? static_cast<long long>(0ULL - magnitude) : static_cast<long long>(magnitude);
  return true;
}

// ---- Floating text ---------------------------------------------------------------

// For C-form number text that is out of the double range: true when it is
// too large (rather than too small), judged from its decimal magnitude.
bool BeyondLargest(std::string_view c) {
  const std::size_t e = c.find('e');
  std::string_view mantissa = c.substr(0, e);
  if (!mantissa.empty() && (mantissa[0] == '-' || mantissa[0] == '+')) mantissa.remove_prefix(1);
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_not_of("0.");
  if (first == std::string_view::npos) return false;
  // Decimal position of the first significant digit: 1 for 1.x, 0 for 0.1x, -1 for 0.01x.
  long long magnitude = first < point ? static_cast<long long>(point - first)
                                      : -static_cast<long long>(first - point - 1);
  if (e != std::string_view::npos) {
    std::string_view exponent = c.substr(e + 1);
    const bool negative = !exponent.empty() && exponent[0] == '-';
    if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) exponent.remove_prefix(1);
    if (exponent.size() > 9) return !negative;  // far beyond any mantissa length
    long long value = 0;
    std::from_chars(exponent.data(), exponent.data() + exponent.size(), value);
    magnitude += negative ? -value : value;
  }
  return magnitude > 0;
}

bool ParseFloat(std::string_view text, char decimalSeparator, double& result) noexcept {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  // Rewrite into the C form ('.' as the point) while checking the syntax:
  // [sign] digits [sep digits] [E [sign] digits], with a digit in the mantissa.
  std::string c;
  std::size_t i = begin;
  if (i < end && (text[i] == '+' || text[i] == '-')) c += text[i++];
  bool mantissaDigit = false;
  while (i < end && text[i] >= '0' && text[i] <= '9') {
    c += text[i++];
    mantissaDigit = true;
  }
  if (i < end && text[i] == decimalSeparator) {
    c += '.';
    ++i;
    while (i < end && text[i] >= '0' && text[i] <= '9') {
      c += text[i++];
      mantissaDigit = true;
    }
  }
  if (!mantissaDigit) return false;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    c += 'e';
    ++i;
    if (i < end && (text[i] == '+' || text[i] == '-')) c += text[i++];
    bool exponentDigit = false;
    while (i < end && text[i] >= '0' && text[i] <= '9') {
      c += text[i++];
      exponentDigit = true;
    }
    if (!exponentDigit) return false;
  }
  if (i != end) return false;
  const char* first = c.data() + (c[0] == '+' ? 1 : 0);
  double value = 0;
  const auto [stop, ec] = std::from_chars(first, c.data() + c.size(), value);
  if (stop != c.data() + c.size()) return false;
  if (ec == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is refused.
    if (BeyondLargest(c)) return false;
    value = c[0] == '-' ? -0.0 : 0.0;
  } else if (ec != std::errc() || !std::isfinite(value)) {
    return false;
  }
  result = value;
  return true;
}

// ---- Format ------------------------------------------------------------------------

class Formatter {
 public:
  Formatter(const AnsiString& pattern, const TVarRec* args, int high, const TFormatSettings& settings)
      : FPattern(pattern), FArgs(args), FCount(args ? std::max(high + 1, 0) : 0), FSettings(settings) {}

  AnsiString Run() {
    const std::string& p = FPattern.str();
    std::string out;
    out.reserve(p.size() + 16);
    std::size_t i = 0;
    while (i < p.size()) {
      const std::size_t percent = p.find('%', i);
      if (percent == std::string::npos) {
        out.append(p, i, std::string::npos);
        break;
      }
      out.append(p, i, percent - i);
      i = percent + 1;
      if (i < p.size() && p[i] == '%') {
        out += '%';
        ++i;
        continue;
      }
      i = Directive(i, out);
    }
    return AnsiString(std::move(out));
  }

 private:
  const TVarRec& Argument(int index) const {
    if (index < 0 || index >= FCount) ThrowNoArgument(FPattern);
    return FArgs[index];
  }

  // An index, width or precision given by '*'.
  int StarValue() {
    const TVarRec& arg = Argument(FNext++);
    long long value = 0;
    if (arg.VType == TVarRec::vtInteger)
      value = arg.VInteger;
    else if (arg.VType == TVarRec::vtInt64)
      value = arg.VInt64;
    else
      ThrowInvalidFormat(FPattern);
    if (value > kMaxWidth) ThrowInvalidFormat(FPattern);
    return static_cast<int>(std::max(value, -1LL));
  }

  // Reads digits or '*' at i; false when neither is there.
  bool Number(std::size_t& i, int& value) {
    const std::string& p = FPattern.str();
    if (i < p.size() && p[i] == '*') {
      ++i;
      value = StarValue();
      return true;
    }
    if (i >= p.size() || p[i] < '0' || p[i] > '9') return false;
    long long v = 0;
    while (i < p.size() && p[i] >= '0' && p[i] <= '9') {
      v = v * 10 + (p[i++] - '0');
      if (v > kMaxWidth) ThrowInvalidFormat(FPattern);
    }
    value = static_cast<int>(v);
    return true;
  }

  // Parses the directive after '%' at i, appends its text, returns the
  // position after it.
  std::size_t Directive(std::size_t i, std::string& out) {
    const std::string& p = FPattern.str();
    int value = 0;
    bool haveNumber = Number(i, value);
    if (haveNumber && i < p.size() && p[i] == ':') {
      if (value < 0) ThrowNoArgument(FPattern);
      FNext = value;
      ++i;
      haveNumber = false;
    }
    bool left = false;
    if (!haveNumber && i < p.size() && p[i] == '-') {
      left = true;
      ++i;
    }
    int width = 0;
    if (haveNumber)
      width = value;
    else if (Number(i, value))
      width = value;
    int precision = -1;
    if (i < p.size() && p[i] == '.') {
      ++i;
      if (!Number(i, precision)) precision = 0;
    }
    if (i >= p.size()) ThrowInvalidFormat(FPattern);
    const char type = p[i++];
    std::string text = Convert(type, Argument(FNext++), precision);
    const auto padding = static_cast<std::size_t>(std::max(width, 0));
    if (text.size() < padding) {
      if (left)
        text.append(padding - text.size(), ' ');
      else
        text.insert(0, padding - text.size(), ' ');
    }
    out += text;
    return i;
  }

  std::string Convert(char type, const TVarRec& arg, int precision) const {
    if (arg.VType == TVarRec::vtVariant) return ConvertVariant(type, arg, precision);
    switch (type) {
      case 'd': case 'D': return Integer(arg, precision);
      case 'u': case 'U': return Unsigned(arg, precision, 10);
      case 'x': case 'X': return Unsigned(arg, precision, 16);
      case 'e': case 'E':
        return FloatText(Floating(arg), ffExponent, precision < 0 ? 15 : precision, 3, FSettings);
      case 'f': case 'F':
        return FloatText(Floating(arg), ffFixed, kMaxDigits, precision < 0 ? 2 : precision, FSettings);
      case 'g': case 'G':
        return FloatText(Floating(arg), ffGeneral, precision < 0 ? 15 : precision, 3, FSettings);
      case 'n': case 'N':
        return FloatText(Floating(arg), ffNumber, kMaxDigits, precision < 0 ? 2 : precision, FSettings);
      case 'm': case 'M':
        return FloatText(Floating(arg), ffCurrency, kMaxDigits,
                         precision < 0 ? FSettings.CurrencyDecimals : precision, FSettings);
      case 'p': case 'P': return Pointer(arg);
      case 's': case 'S': return String(arg, precision);
      default: ThrowInvalidFormat(FPattern);
    }
  }

  // A Variant is converted to what the directive needs first (its own
  // conversion errors pass through); a null variant pointer fits nothing.
  std::string ConvertVariant(char type, const TVarRec& arg, int precision) const {
    if (!arg.VVariant) ThrowInvalidFormat(FPattern);
    const Variant& v = *arg.VVariant;
    switch (type) {
      case 'd': case 'D': case 'u': case 'U': case 'x': case 'X':
        return Convert(type, TVarRec(v.AsInt64()), precision);
      case 'e': case 'E': case 'f': case 'F': case 'g': case 'G':
      case 'n': case 'N': case 'm': case 'M':
        return Convert(type, TVarRec(v.AsDouble()), precision);
      case 's': case 'S': {
        const AnsiString text = VarToStr(v);
        return Convert(type, TVarRec(text), precision);
      }
      default: ThrowInvalidFormat(FPattern);
    }
  }

  std::string Integer(const TVarRec& arg, int precision) const {
    if (arg.VType == TVarRec::vtInteger) return SignedText(arg.VInteger, precision);
    if (arg.VType == TVarRec::vtInt64) return SignedText(arg.VInt64, precision);
    ThrowInvalidFormat(FPattern);
  }

  std::string Unsigned(const TVarRec& arg, int precision, int base) const {
    if (arg.VType == TVarRec::vtInteger)
      return UnsignedText(static_cast<std::uint32_t>(arg.VInteger), base, precision);
    if (arg.VType == TVarRec::vtInt64)
      return UnsignedText(static_cast<unsigned long long>(arg.VInt64), base, precision);
    ThrowInvalidFormat(FPattern);
  }

  double Floating(const TVarRec& arg) const {
    if (arg.VType == TVarRec::vtExtended) return arg.VExtended;
    ThrowInvalidFormat(FPattern);
  }

  std::string Pointer(const TVarRec& arg) const {
    if (arg.VType != TVarRec::vtPointer) ThrowInvalidFormat(FPattern);
    return UnsignedText(reinterpret_cast<std::uintptr_t>(arg.VPointer), 16,
                        static_cast<int>(sizeof(void*) * 2));
  }

  std::string String(const TVarRec& arg, int precision) const {
    std::string text;
    switch (arg.VType) {
      case TVarRec::vtAnsiString: text = arg.VAnsiString ? arg.VAnsiString->str() : std::string(); break;
      case TVarRec::vtPChar: text = arg.VPChar ? arg.VPChar : ""; break;
      case TVarRec::vtChar: text.assign(1, arg.VChar); break;
      default: ThrowInvalidFormat(FPattern);
    }
    if (precision >= 0 && text.size() > static_cast<std::size_t>(precision))
      text.resize(static_cast<std::size_t>(precision));
    return text;
  }

  const AnsiString& FPattern;
  const TVarRec* FArgs;
  int FCount;
  const TFormatSettings& FSettings;
  int FNext = 0;
};

}  // namespace

// ---- Format -------------------------------------------------------------------------

AnsiString Format(const AnsiString& pattern, const TVarRec* args, int high,
                  const TFormatSettings& settings) {
  return Formatter(pattern, args, high, settings).Run();
}

AnsiString Format(const AnsiString& pattern, const TVarRec* args, int high) {
  return Format(pattern, args, high, FormatSettings());
}

AnsiString Format(const AnsiString& pattern, std::initializer_list<TVarRec> args,
                  const TFormatSettings& settings) {
  return Format(pattern, args.begin(), static_cast<int>(args.size()) - 1, settings);
}

AnsiString Format(const AnsiString& pattern, std::initializer_list<TVarRec> args) {
  return Format(pattern, args, FormatSettings());
}

AnsiString FmtStr(const AnsiString& pattern, const TVarRec* args, int high) {
  return Format(pattern, args, high);
}

// ---- Integers -----------------------------------------------------------------------

AnsiString IntToStr(int value) { return AnsiString(SignedText(value, 0)); }
AnsiString IntToStr(long long value) { return AnsiString(SignedText(value, 0)); }
AnsiString IntToStr(long value) { return AnsiString(SignedText(value, 0)); }
AnsiString IntToStr(unsigned int value) { return AnsiString(UnsignedText(value, 10, 0)); }
AnsiString IntToStr(unsigned long value) { return AnsiString(UnsignedText(value, 10, 0)); }
AnsiString IntToStr(unsigned long long value) { return AnsiString(UnsignedText(value, 10, 0)); }
AnsiString UIntToStr(unsigned long long value) { return AnsiString(UnsignedText(value, 10, 0)); }

AnsiString IntToHex(int value, int digits) {
  return AnsiString(UnsignedText(static_cast<std::uint32_t>(value), 16, std::min(digits, kMaxWidth)));
}
AnsiString IntToHex(long long value, int digits) {
  return AnsiString(UnsignedText(static_cast<unsigned long long>(value), 16, std::min(digits, kMaxWidth)));
}
AnsiString IntToHex(long value, int digits) { return IntToHex(static_cast<long long>(value), digits); }
AnsiString IntToHex(unsigned int value, int digits) {
  return AnsiString(UnsignedText(value, 16, std::min(digits, kMaxWidth)));
}
AnsiString IntToHex(unsigned long value, int digits) {
  return AnsiString(UnsignedText(value, 16, std::min(digits, kMaxWidth)));
}
AnsiString IntToHex(unsigned long long value, int digits) {
  return AnsiString(UnsignedText(value, 16, std::min(digits, kMaxWidth)));
}

bool TryStrToInt(const AnsiString& text, int& value) noexcept {
  long long v = 0;
  if (!ParseInteger(text.view(), 32, v)) return false;
  value = static_cast<int>(v);
  return true;
}

bool TryStrToInt64(const AnsiString& text, long long& value) noexcept {
  return ParseInteger(text.view(), 64, value);
}

int StrToInt(const AnsiString& text) {
  int value = 0;
  if (!TryStrToInt(text, value)) ThrowNotInteger(text);
  return value;
}

long long StrToInt64(const AnsiString& text) {
  long long value = 0;
  if (!TryStrToInt64(text, value)) ThrowNotInteger(text);
  return value;
}

int StrToIntDef(const AnsiString& text, int defaultValue) noexcept {
  int value = 0;
  return TryStrToInt(text, value) ? value : defaultValue;
}

long long StrToInt64Def(const AnsiString& text, long long defaultValue) noexcept {
  long long value = 0;
  return TryStrToInt64(text, value) ? value : defaultValue;
}

// ---- Floating point --------------------------------------------------------------------

AnsiString FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                       const TFormatSettings& settings) {
  return AnsiString(FloatText(value, format, precision, digits, settings));
}

AnsiString FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
  return FloatToStrF(value, format, precision, digits, FormatSettings());
}

AnsiString FloatToStr(double value, const TFormatSettings& settings) {
  return FloatToStrF(value, ffGeneral, 15, 0, settings);
}

AnsiString FloatToStr(double value) { return FloatToStr(value, FormatSettings()); }

bool TryStrToFloat(const AnsiString& text, double& value, const TFormatSettings& settings) noexcept {
  return ParseFloat(text.view(), settings.DecimalSeparator, value);
}

bool TryStrToFloat(const AnsiString& text, double& value) noexcept {
  return TryStrToFloat(text, value, FormatSettings());
}

double StrToFloat(const AnsiString& text, const TFormatSettings& settings) {
  double value = 0;
  if (!TryStrToFloat(text, value, settings)) ThrowNotFloat(text);
  return value;
}

double StrToFloat(const AnsiString& text) { return StrToFloat(text, FormatSettings()); }

double StrToFloatDef(const AnsiString& text, double defaultValue) noexcept {
  double value = 0;
  return TryStrToFloat(text, value) ? value : defaultValue;
}

}  // namespace Tx
