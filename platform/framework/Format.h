// The framework's formatting and number conversions.
//
// Format(pattern, args, high) follows the framework's directives:
//   %[index:][-][width][.precision]type
// with type one of d u x e f g n m p s (upper or lower case give the same
// result), '*' taking index, width or precision from the next argument (an
// integer), and "%%" for a percent sign. An index names the argument (from
// 0) and the directives after it continue from the next one. Width pads with
// blanks on the left, or on the right after '-'.
//
//   d  integer, signed decimal; precision = minimum number of digits
//   u  integer, unsigned decimal (a negative int is taken as 32-bit unsigned,
//      a negative 64-bit value as 64-bit unsigned)
//   x  integer, upper-case hexadecimal (two's complement of the argument's
//      width for negatives); precision = minimum number of digits
//   e  floating, "-d.ddd...E+ddd": precision = total digits (default 15),
//      the exponent has a sign and at least three digits
//   f  floating, fixed "-ddd.ddd", precision = decimals (default 2)
//   g  floating, general: shortest of fixed or scientific, precision =
//      significant digits (default 15), trailing zeros dropped; scientific
//      only for values below 0.0001 or with more integer digits than the
//      precision, then written "1.5E020" / "1.5E-005" (no '+', at least three
//      exponent digits)
//   n  floating, as f with thousand separators
//   m  floating, money: FormatSettings' currency string, CurrencyFormat and
//      NegCurrFormat (the Windows codes 0..3 and 0..15), precision = decimals
//      (default CurrencyDecimals), with thousand separators
//   p  pointer, 16 upper-case hex digits (the width of a pointer here)
//   s  AnsiString, const char* (nullptr gives "") or char; precision = the
//      maximum number of bytes taken
// Floating directives need a floating argument and integer ones an integer
// argument (no conversions between them, as in the framework); booleans fit
// none. A Variant argument is converted to what the directive needs.
// A directive that is malformed or does not fit its argument raises
// EConvertError "Format '<pattern>' invalid or incompatible with argument";
// a missing argument raises EConvertError "No argument for format '<pattern>'".
// Widths and precisions above 1048576 count as malformed (nothing that large
// is ever meant, and refusing it keeps a bad pattern from exhausting memory).
// NaN and infinities are written "NAN", "INF" and "-INF" by every floating
// directive. Fixed forms of values of 1e18 and above fall back to the general
// form, as the framework does for more integer digits than its precision.
// Decimal and thousand separators and the currency come from FormatSettings
// (or the TFormatSettings given).
#pragma once

#include <cstdint>
#include <initializer_list>

#include "platform/framework/AnsiString.h"
#include "platform/framework/FormatSettings.h"

namespace Tx {

class Variant;

// One element of a format argument array (the framework's array of const).
// A TVarRec only points at strings and variants: they must outlive the call
// that reads the array.
struct TVarRec {
  enum Kind : unsigned char {
    vtInteger,    // int
    vtInt64,      // long long
    vtBoolean,    // bool
    vtChar,       // char
    vtExtended,   // double (floating point of any width)
    vtPChar,      // const char*, zero-terminated
    vtAnsiString, // const AnsiString*
    vtPointer,    // const void*
    vtVariant,    // const Variant*
  };
  Kind VType = vtInteger;
  union {
    int VInteger;
    long long VInt64;
    bool VBoolean;
    char VChar;
    double VExtended;
    const char* VPChar;
    const AnsiString* VAnsiString;
    const void* VPointer;
    const Variant* VVariant;
  };

  TVarRec() : VInteger(0) {}
  TVarRec(int v) : VType(vtInteger), VInteger(v) {}                  // NOLINT
  TVarRec(unsigned int v) : VType(vtInt64), VInt64(v) {}             // NOLINT
  TVarRec(long v) : VType(vtInt64), VInt64(v) {}                     // NOLINT
  // Values above the 64-bit signed range keep their bits (%u and %x show them).
  TVarRec(unsigned long v) : VType(vtInt64), VInt64(static_cast<long long>(v)) {}  // NOLINT
  TVarRec(long long v) : VType(vtInt64), VInt64(v) {}                // NOLINT
  TVarRec(unsigned long long v) : VType(vtInt64), VInt64(static_cast<long long>(v)) {}  // NOLINT
  TVarRec(bool v) : VType(vtBoolean), VBoolean(v) {}                 // NOLINT
  TVarRec(char v) : VType(vtChar), VChar(v) {}                       // NOLINT
  TVarRec(double v) : VType(vtExtended), VExtended(v) {}             // NOLINT
  TVarRec(long double v) : VType(vtExtended), VExtended(static_cast<double>(v)) {}  // NOLINT
  TVarRec(const char* v) : VType(vtPChar), VPChar(v) {}              // NOLINT
  TVarRec(const AnsiString& v) : VType(vtAnsiString), VAnsiString(&v) {}  // NOLINT
  TVarRec(const void* v) : VType(vtPointer), VPointer(v) {}          // NOLINT
  TVarRec(const Variant& v) : VType(vtVariant), VVariant(&v) {}      // NOLINT
};

// Formats with args[0..high] (high is the index of the last argument, -1 for
// none; args may be nullptr then). Throws EConvertError as described above.
AnsiString Format(const AnsiString& pattern, const TVarRec* args, int high);
AnsiString Format(const AnsiString& pattern, const TVarRec* args, int high,
                  const TFormatSettings& settings);
// Convenience: Format("%s [%s.%d]", {text, file, line}).
AnsiString Format(const AnsiString& pattern, std::initializer_list<TVarRec> args);
AnsiString Format(const AnsiString& pattern, std::initializer_list<TVarRec> args,
                  const TFormatSettings& settings);
// The same as Format, under the framework's other name.
AnsiString FmtStr(const AnsiString& pattern, const TVarRec* args, int high);

// Integers in decimal (unsigned types without a sign).
AnsiString IntToStr(int value);
AnsiString IntToStr(long long value);
AnsiString IntToStr(long value);
AnsiString IntToStr(unsigned int value);
AnsiString IntToStr(unsigned long value);
AnsiString IntToStr(unsigned long long value);
AnsiString UIntToStr(unsigned long long value);
// Upper-case hexadecimal with at least digits digits (zero-padded). A
// negative value is written in two's complement of its own width: 8 digits
// for an int, 16 for a long long.
AnsiString IntToHex(int value, int digits);
AnsiString IntToHex(long long value, int digits);
AnsiString IntToHex(unsigned int value, int digits);
AnsiString IntToHex(unsigned long value, int digits);
AnsiString IntToHex(long value, int digits);
AnsiString IntToHex(unsigned long long value, int digits);

// Integer text: optional leading spaces, an optional sign, then decimal
// digits, or hexadecimal ones after '$', 'x' or "0x". Nothing may follow.
// Decimal text must fit the result type; hexadecimal text may use all its
// bits ("$FFFFFFFF" is -1 as an int). Bad text raises EConvertError
// "'<text>' is not a valid integer value".
int StrToInt(const AnsiString& text);
long long StrToInt64(const AnsiString& text);
int StrToIntDef(const AnsiString& text, int defaultValue) noexcept;
long long StrToInt64Def(const AnsiString& text, long long defaultValue) noexcept;
bool TryStrToInt(const AnsiString& text, int& value) noexcept;
bool TryStrToInt64(const AnsiString& text, long long& value) noexcept;

// The framework's float formats (FloatToStrF).
enum TFloatFormat : unsigned char { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// General format with 15 significant digits and FormatSettings' decimal
// separator: 0.1 -> "0.1", 1e15 -> "1E15", 0.00001 -> "1E-5", 123.0 -> "123".
AnsiString FloatToStr(double value);
AnsiString FloatToStr(double value, const TFormatSettings& settings);
// precision: significant digits (1..18); digits: minimum exponent digits
// (0..4) for ffGeneral and ffExponent, decimals (0..18) for the others.
AnsiString FloatToStrF(double value, TFloatFormat format, int precision, int digits);
AnsiString FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                       const TFormatSettings& settings);
// Decimal text with the settings' decimal separator (not '.', unless that is
// the separator) and an optional exponent; blanks around it are allowed.
// Bad text or a value out of the double range raises EConvertError
// "'<text>' is not a valid floating point value".
double StrToFloat(const AnsiString& text);
double StrToFloat(const AnsiString& text, const TFormatSettings& settings);
double StrToFloatDef(const AnsiString& text, double defaultValue) noexcept;
bool TryStrToFloat(const AnsiString& text, double& value) noexcept;
bool TryStrToFloat(const AnsiString& text, double& value, const TFormatSettings& settings) noexcept;

}  // namespace Tx
