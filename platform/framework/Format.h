// The framework's formatting and number conversions.
//
// Format(pattern, args, high) follows the framework's directives:
//   %[index:][-][width][.precision]type with type one of d u e f g n m p s x
// (upper or lower case), '*' taking width or precision from the arguments,
// and "%%" for a percent sign. A directive whose argument has the wrong kind,
// or a missing argument, raises EConvertError. Decimal and thousand
// separators come from FormatSettings.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "platform/framework/AnsiString.h"

namespace Tx {

class Variant;

// One element of a format argument array (the framework's array of const).
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
  TVarRec(unsigned long v) : VType(vtInt64), VInt64(static_cast<long long>(v)) {}  // NOLINT
  TVarRec(long long v) : VType(vtInt64), VInt64(v) {}                // NOLINT
  TVarRec(bool v) : VType(vtBoolean), VBoolean(v) {}                 // NOLINT
  TVarRec(char v) : VType(vtChar), VChar(v) {}                       // NOLINT
  TVarRec(double v) : VType(vtExtended), VExtended(v) {}             // NOLINT
  TVarRec(const char* v) : VType(vtPChar), VPChar(v) {}              // NOLINT
  // The string must outlive the argument array.
  TVarRec(const AnsiString& v) : VType(vtAnsiString), VAnsiString(&v) {}  // NOLINT
  TVarRec(const void* v) : VType(vtPointer), VPointer(v) {}          // NOLINT
  TVarRec(const Variant& v) : VType(vtVariant), VVariant(&v) {}      // NOLINT
};

// Formats with args[0..high] (high is the index of the last argument, -1 for none).
AnsiString Format(const AnsiString& pattern, const TVarRec* args, int high);
// Convenience: Format("%s [%s.%d]", {text, file, line}).
AnsiString Format(const AnsiString& pattern, std::initializer_list<TVarRec> args);
// The same as Format, under the framework's other name.
AnsiString FmtStr(const AnsiString& pattern, const TVarRec* args, int high);

AnsiString IntToStr(int value);
AnsiString IntToStr(long long value);
AnsiString IntToHex(long long value, int digits);
// Decimal (or '$'/0x hexadecimal) text to int; EConvertError
// "'<text>' is not a valid integer value" on bad text.
int StrToInt(const AnsiString& text);
int StrToIntDef(const AnsiString& text, int defaultValue);
// General format with 15 significant digits, FormatSettings' decimal separator.
AnsiString FloatToStr(double value);
double StrToFloat(const AnsiString& text);

}  // namespace Tx
