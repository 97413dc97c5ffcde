// Variant: the framework's tagged value that carries every field value
// between buffers, data sets and applications, with the framework's
// conversion and comparison rules.
//
// Kinds held: empty (unassigned), null, smallint, integer, single, double,
// date, OLE string (WideString, UTF-16), boolean, shortint, byte, word, longword, int64,
// string (AnsiString, Windows-1250 bytes), and one-dimensional arrays of
// bytes (varArray | varByte) or of variants (varArray | varVariant).
// Copying copies; arrays are copied deeply.
//
// Conversions (AsInteger(), static_cast<int>(v), VarAsType, ...):
//   - empty gives 0, 0.0, "", false, date 0;
//   - null raises EVariantTypeCastError for every target but null and empty
//     ("Could not convert variant of type (Null) into type (Integer)");
//     VarToStr is the exception: it gives "" for null;
//   - a string converts to a number when it is one: blanks around it are
//     ignored, an integer is taken exactly, otherwise a decimal number with
//     FormatSettings().DecimalSeparator and an optional exponent, rounded for
//     integer targets; anything else raises EVariantTypeCastError;
//   - a string converts to a boolean from "true"/"false" (any case) or a
//     number (non-zero is true), to a date through StrToDateTime;
//   - numbers convert to strings as IntToStr / FloatToStr (a single as its
//     shortest decimal form, so 1.1f gives "1.1"), booleans as "True" /
//     "False", dates as DateTimeToStr;
//   - booleans convert to numbers as -1 / 0, numbers to booleans as non-zero;
//   - a date converts to numbers as its serial number;
//   - floating point to an integer type rounds to nearest, ties to even;
//     a result outside the target's range raises EVariantOverflowError
//     ("Overflow while converting variant of type (Double) into type
//     (Integer)");
//   - arrays convert to nothing but their own type (EVariantTypeCastError).
//
// Comparison (==, !=, <, <=, >, >=), the framework's default rules:
//   - null equals null only, and is less than every other value, empty
//     included (the loose null equality and magnitude rules);
//   - empty equals empty; against a number, boolean or date it counts as 0,
//     against a string as "";
//   - numbers, booleans (-1 / 0) and dates compare by numeric value;
//   - a number or date against a string compares numerically when the string
//     converts to one (a date also via StrToDateTime), otherwise both are
//     compared as strings;
//   - two strings compare with the user locale's case-sensitive order
//     (AnsiCompareStr); an OLE string takes part as its Windows-1250 text;
//   - a comparison involving an array raises EVariantInvalidOpError.
// VarCompareValue follows the framework's other rule: null or empty against
// anything but itself is vrNotEqual.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>

#include "platform/framework/AnsiString.h"
#include "platform/framework/DateTime.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/WideString.h"

namespace Tx {

// Comparing arrays or other values that have no order: "Invalid variant operation".
TX_DECLARE_EXCEPTION(EVariantInvalidOpError, EVariantError);

using TVarType = unsigned short;

constexpr TVarType varEmpty = 0x0000;
constexpr TVarType varNull = 0x0001;
constexpr TVarType varSmallint = 0x0002;
constexpr TVarType varInteger = 0x0003;
constexpr TVarType varSingle = 0x0004;
constexpr TVarType varDouble = 0x0005;
constexpr TVarType varCurrency = 0x0006;  // not supported: EVariantBadVarTypeError
constexpr TVarType varDate = 0x0007;
constexpr TVarType varOleStr = 0x0008;
constexpr TVarType varDispatch = 0x0009;  // not supported
constexpr TVarType varError = 0x000A;     // not supported
constexpr TVarType varBoolean = 0x000B;
constexpr TVarType varVariant = 0x000C;   // only as an array element type
constexpr TVarType varUnknown = 0x000D;   // not supported
constexpr TVarType varShortInt = 0x0010;
constexpr TVarType varByte = 0x0011;
constexpr TVarType varWord = 0x0012;
constexpr TVarType varLongWord = 0x0013;
constexpr TVarType varInt64 = 0x0014;
constexpr TVarType varString = 0x0100;
constexpr TVarType varTypeMask = 0x0FFF;
constexpr TVarType varArray = 0x2000;
constexpr TVarType varByRef = 0x4000;

enum TVariantRelationship { vrEqual, vrLessThan, vrGreaterThan, vrNotEqual };

class Variant {
 public:
  Variant() noexcept;  // empty
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  // Raises EVariantArrayLockedError, leaving this unchanged, when this holds
  // a locked array.
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other);
  ~Variant();  // frees an array even while it is locked

  // From the C++ types. Pointers other than const char* are refused so that
  // they cannot silently become booleans.
  Variant(bool value) noexcept;                // varBoolean  // NOLINT
  Variant(char value);                          // varString of that one byte  // NOLINT
  Variant(signed char value) noexcept;          // varShortInt  // NOLINT
  Variant(unsigned char value) noexcept;        // varByte  // NOLINT
  Variant(short value) noexcept;                // varSmallint  // NOLINT
  Variant(unsigned short value) noexcept;       // varWord  // NOLINT
  Variant(int value) noexcept;                  // varInteger  // NOLINT
  Variant(unsigned int value) noexcept;         // varLongWord  // NOLINT
  // long and unsigned long are 32-bit in the framework's world: a value that
  // fits 32 bits gives varInteger / varLongWord, a larger one varInt64.
  // An unsigned value above the int64 range raises EVariantOverflowError.
  Variant(long value) noexcept;                 // NOLINT
  Variant(unsigned long value);                 // NOLINT
  Variant(long long value) noexcept;            // varInt64  // NOLINT
  Variant(unsigned long long value);            // as unsigned long  // NOLINT
  Variant(float value) noexcept;                // varSingle  // NOLINT
  Variant(double value) noexcept;               // varDouble  // NOLINT
  Variant(long double value) noexcept;          // varDouble  // NOLINT
  Variant(TDateTime value) noexcept;            // varDate  // NOLINT
  Variant(const char* value);                   // varString; nullptr gives ""  // NOLINT
  Variant(const AnsiString& value);             // varString  // NOLINT
  Variant(AnsiString&& value) noexcept;         // varString  // NOLINT
  Variant(const WideString& value);             // varOleStr  // NOLINT
  Variant(const char16_t* value);               // varOleStr; nullptr gives ""  // NOLINT
  Variant(const void*) = delete;

  // The type code (varArray | element type for arrays).
  TVarType Type() const noexcept { return FVType; }
  bool IsNull() const noexcept { return FVType == varNull; }
  bool IsEmpty() const noexcept { return FVType == varEmpty; }
  bool IsArray() const noexcept { return (FVType & varArray) != 0; }
  // Back to empty. EVariantArrayLockedError (unchanged) when a locked array.
  void Clear();

  // ---- Conversions (rules in the header comment) ----
  bool AsBoolean() const;
  short AsSmallint() const;
  int AsInteger() const;
  long long AsInt64() const;
  unsigned char AsByte() const;
  float AsSingle() const;
  double AsDouble() const;
  TDateTime AsDateTime() const;
  AnsiString AsString() const;
  WideString AsWideString() const;  // the text as UTF-16 (varOleStr's form)

  explicit operator bool() const { return AsBoolean(); }
  explicit operator short() const { return AsSmallint(); }
  explicit operator int() const { return AsInteger(); }
  explicit operator long() const { return static_cast<long>(AsInt64()); }
  explicit operator long long() const { return AsInt64(); }
  explicit operator unsigned char() const { return AsByte(); }
  explicit operator float() const { return AsSingle(); }
  explicit operator double() const { return AsDouble(); }
  explicit operator TDateTime() const { return AsDateTime(); }
  explicit operator AnsiString() const { return AsString(); }
  explicit operator WideString() const { return AsWideString(); }

  // ---- Arrays (one dimension) ----
  // Element i (low bound .. high bound) as a variant of the element type;
  // EVariantBadIndexError outside the bounds, EVariantInvalidArgError when
  // this is not an array.
  Variant GetElement(int index) const;
  // Stores value converted to the element type (byte arrays: cast to byte,
  // EVariantOverflowError outside 0..255). Errors as GetElement; the array
  // is unchanged on any error.
  void PutElement(const Variant& value, int index);

  // ---- Comparison (rules in the header comment) ----
  friend bool operator==(const Variant& a, const Variant& b);
  friend bool operator<(const Variant& a, const Variant& b);
  friend bool operator<=(const Variant& a, const Variant& b);
  friend bool operator>(const Variant& a, const Variant& b);
  friend bool operator>=(const Variant& a, const Variant& b);

 private:
  struct TArray;
  friend struct VariantAccess;

  void CopyFrom(const Variant& other);
  void CheckNotLocked() const;

  TVarType FVType = varEmpty;
  union Scalar {
    bool VBoolean;
    signed char VShortInt;
    unsigned char VByte;
    short VSmallint;
    unsigned short VWord;
    int VInteger;
    unsigned int VLongWord;
    long long VInt64;
    float VSingle;
    double VDouble;  // varDouble and varDate
  } FData{};
  AnsiString FString;                   // varString
  std::unique_ptr<WideString> FOleString;  // varOleStr (rare: kept off the variant's body)
  std::unique_ptr<TArray> FArray;          // varArray
};

// ---- The framework's variant functions ----------------------------------------

// For diagnostics and test output: the type name and the value's text,
// e.g. Integer 5, String "abc", Null, Array Byte [0..9]. Never throws a
// conversion error. Text is written as its bytes.
std::ostream& operator<<(std::ostream& os, const Variant& v);

// A null / an empty variant.
Variant Null();
Variant Unassigned();

TVarType VarType(const Variant& v) noexcept;
bool VarIsNull(const Variant& v) noexcept;
bool VarIsEmpty(const Variant& v) noexcept;
bool VarIsArray(const Variant& v) noexcept;
// varString or varOleStr.
bool VarIsStr(const Variant& v) noexcept;
// The framework's name of a type code: "Integer", "String", "OleStr",
// "Array Byte", ...; an unknown code as "$" and four hex digits.
AnsiString VarTypeAsText(TVarType type);

// The value as text; "" for null and empty. Raises EVariantTypeCastError
// for arrays.
AnsiString VarToStr(const Variant& v);
// The value as text; defaultText for null and empty.
AnsiString VarToStrDef(const Variant& v, const AnsiString& defaultText);

// v converted to the given type code (rules in the header comment).
// Casting to varEmpty always gives empty; to varNull succeeds only from null
// or empty. An unsupported code raises EVariantBadVarTypeError ("Invalid
// variant type"); an array type is accepted only for v's own type.
Variant VarAsType(const Variant& v, TVarType type);

// vrEqual / vrLessThan / vrGreaterThan by the comparison rules, except that
// null or empty against anything other than itself gives vrNotEqual.
TVariantRelationship VarCompareValue(const Variant& a, const Variant& b);

// A one-dimensional array. bounds holds boundsHigh + 1 integers (the
// framework's open-array convention: boundsHigh is the index of the last
// one), that is, pairs of low and high bound; exactly one pair is accepted.
// elementType is varByte (elements zero) or varVariant (elements empty).
// Raises EVariantArrayCreateError ("Error creating variant or safe array")
// for another shape, a high bound below low - 1, or another element type.
Variant VarArrayCreate(const int* bounds, int boundsHigh, TVarType elementType);
Variant VarArrayCreate(std::initializer_list<int> bounds, TVarType elementType);
// An array of variants with bounds 0 .. count - 1 holding copies of values.
Variant VarArrayOf(std::initializer_list<Variant> values);
Variant VarArrayOf(const Variant* values, int valuesHigh);

// Number of dimensions: 1 for an array, 0 otherwise.
int VarArrayDimCount(const Variant& v) noexcept;
// Bounds of dimension dim (only 1 exists). EVariantInvalidArgError when v is
// not an array, EVariantBadIndexError for another dimension.
int VarArrayLowBound(const Variant& v, int dim);
int VarArrayHighBound(const Variant& v, int dim);
// Pointer to the elements (unsigned char for byte arrays, Variant for
// variant arrays), valid until the matching VarArrayUnlock. Locks nest;
// while any lock is held the array cannot be redimensioned, reassigned or
// cleared (EVariantArrayLockedError, "Variant or safe array is locked").
// EVariantInvalidArgError when v is not an array.
void* VarArrayLock(Variant& v);
// Releases one lock; EVariantInvalidArgError when v is not a locked array.
void VarArrayUnlock(Variant& v);
// Changes the high bound, keeping the elements that remain and zeroing (or
// emptying) new ones. EVariantArrayLockedError while locked,
// EVariantInvalidArgError when v is not an array or highBound is below the
// low bound - 1; v is unchanged on any error.
void VarArrayRedim(Variant& v, int highBound);

}  // namespace Tx
