#include "platform/framework/Variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <ostream>
#include <utility>
#include <vector>

#include "platform/framework/Format.h"
#include "platform/framework/FormatSettings.h"
#include "platform/framework/TextCompare.h"

namespace Tx {

// The one-dimensional array behind a varArray variant.
struct Variant::TArray {
  TVarType ElementType = varByte;
  int LowBound = 0;
  std::vector<unsigned char> Bytes;  // varByte elements
  std::vector<Variant> Items;        // varVariant elements
  int LockCount = 0;

  long long Count() const noexcept {
    return ElementType == varByte ? static_cast<long long>(Bytes.size())
                                  : static_cast<long long>(Items.size());
  }
  long long HighBound() const noexcept { return LowBound + Count() - 1; }
  bool Contains(int index) const noexcept {
    return index >= LowBound && static_cast<long long>(index) <= HighBound();
  }
  void* Data() noexcept {
    return ElementType == varByte ? static_cast<void*>(Bytes.data())
                                  : static_cast<void*>(Items.data());
  }
};

// The free functions' way into a variant.
struct VariantAccess {
  using ArrayType = Variant::TArray;
  using ScalarType = Variant::Scalar;

  static const Variant::Scalar& Data(const Variant& v) noexcept { return v.FData; }
  static const AnsiString& String(const Variant& v) noexcept { return v.FString; }
  static const WideString& OleString(const Variant& v) noexcept { return *v.FOleString; }
  static Variant::TArray* Array(const Variant& v) noexcept { return v.FArray.get(); }

  static Variant MakeArray(std::unique_ptr<Variant::TArray> array) {
    Variant v;
    v.FVType = static_cast<TVarType>(varArray | array->ElementType);
    v.FArray = std::move(array);
    return v;
  }
  static Variant MakeNull() noexcept {
    Variant v;
    v.FVType = varNull;
    return v;
  }
  static Variant MakeDate(double serial) noexcept {
    Variant v(serial);
    v.FVType = varDate;
    return v;
  }
  static Variant MakeOle(WideString text) {
    Variant v;
    v.FVType = varOleStr;
    v.FOleString = std::make_unique<WideString>(std::move(text));
    return v;
  }
};

namespace {

using Access = VariantAccess;
using TArray = VariantAccess::ArrayType;

// ---- Errors ---------------------------------------------------------------------

[[noreturn]] void RaiseCastError(TVarType from, TVarType to) {
  throw EVariantTypeCastError("Could not convert variant of type (" + VarTypeAsText(from) +
                              ") into type (" + VarTypeAsText(to) + ")");
}

[[noreturn]] void RaiseOverflow(TVarType from, TVarType to) {
  throw EVariantOverflowError("Overflow while converting variant of type (" +
                              VarTypeAsText(from) + ") into type (" + VarTypeAsText(to) + ")");
}

[[noreturn]] void RaiseInvalidArg() { throw EVariantInvalidArgError("Invalid argument"); }
[[noreturn]] void RaiseBadIndex() {
  throw EVariantBadIndexError("Variant or safe array index out of bounds");
}
[[noreturn]] void RaiseLocked() { throw EVariantArrayLockedError("Variant or safe array is locked"); }
[[noreturn]] void RaiseArrayCreate() {
  throw EVariantArrayCreateError("Error creating variant or safe array");
}
[[noreturn]] void RaiseInvalidOp() { throw EVariantInvalidOpError("Invalid variant operation"); }

TArray& ArrayOf(const Variant& v) {
  TArray* array = Access::Array(v);
  if (array == nullptr) RaiseInvalidArg();
  return *array;
}

// ---- Type classes ------------------------------------------------------------------

bool IsIntegral(TVarType t) noexcept {
  switch (t) {
    case varBoolean: case varShortInt: case varByte: case varSmallint: case varWord:
    case varInteger: case varLongWord: case varInt64:
      return true;
    default:
      return false;
  }
}

bool IsFloating(TVarType t) noexcept { return t == varSingle || t == varDouble || t == varDate; }
bool IsNumeric(TVarType t) noexcept { return IsIntegral(t) || IsFloating(t); }
bool IsText(TVarType t) noexcept { return t == varString || t == varOleStr; }

// The value of an integral variant (booleans as -1 / 0).
long long IntegralValue(const Variant& v) noexcept {
  const VariantAccess::ScalarType& d = Access::Data(v);
  switch (v.Type()) {
    case varBoolean: return d.VBoolean ? -1 : 0;
    case varShortInt: return d.VShortInt;
    case varByte: return d.VByte;
    case varSmallint: return d.VSmallint;
    case varWord: return d.VWord;
    case varInteger: return d.VInteger;
    case varLongWord: return d.VLongWord;
    case varInt64: return d.VInt64;
    default: return 0;
  }
}

// The value of a numeric variant as a double.
double NumericValue(const Variant& v) noexcept {
  const VariantAccess::ScalarType& d = Access::Data(v);
  switch (v.Type()) {
    case varSingle: return d.VSingle;
    case varDouble: case varDate: return d.VDouble;
    default: return static_cast<double>(IntegralValue(v));
  }
}

// The text of a string variant.
AnsiString TextValue(const Variant& v) {
  return v.Type() == varOleStr ? Access::OleString(v).ToAnsiString() : Access::String(v);
}

// The same without a copy for varString; an OLE string is converted into scratch.
const AnsiString& TextOf(const Variant& v, AnsiString& scratch) {
  if (v.Type() != varOleStr) return Access::String(v);
  scratch = Access::OleString(v).ToAnsiString();
  return scratch;
}

// ---- Text -> number ------------------------------------------------------------------

// A number written in text: an integer exactly when it is one.
struct ParsedNumber {
  bool IsInteger = false;
  long long Integer = 0;
  double Floating = 0.0;
};

bool ParseNumber(const AnsiString& text, ParsedNumber& out) {
  long long i = 0;
  if (TryStrToInt64(text.Trim(), i)) {
    out = {true, i, static_cast<double>(i)};
    return true;
  }
  double d = 0.0;
  if (TryStrToFloat(text, d)) {
    out = {false, 0, d};
    return true;
  }
  return false;
}

// ---- Conversions -----------------------------------------------------------------------

bool InRangeAsDouble(double rounded, long long low, long long high) noexcept {
  if (std::isnan(rounded)) return false;
  // high + 1 is a power of two for every integer target, so it is exact.
  const double above = static_cast<double>(high) + 1.0;
  return rounded >= static_cast<double>(low) && rounded < above;
}

// v as an integer of the target type whose range is [low, high].
long long ToIntegerIn(const Variant& v, TVarType to, long long low, long long high) {
  const TVarType from = v.Type();
  long long value = 0;
  if (from == varEmpty) return 0;
  if (from == varBoolean) {
    // True is all bits set: -1 for signed targets, the maximum for unsigned ones.
    return Access::Data(v).VBoolean ? (low < 0 ? -1 : high) : 0;
  }
  if (IsIntegral(from)) {
    value = IntegralValue(v);
  } else if (IsFloating(from)) {
    const double rounded = std::nearbyint(NumericValue(v));
    if (!InRangeAsDouble(rounded, low, high)) RaiseOverflow(from, to);
    return static_cast<long long>(rounded);
  } else if (IsText(from)) {
    ParsedNumber n;
    if (!ParseNumber(TextValue(v), n)) RaiseCastError(from, to);
    if (!n.IsInteger) {
      const double rounded = std::nearbyint(n.Floating);
      if (!InRangeAsDouble(rounded, low, high)) RaiseOverflow(from, to);
      return static_cast<long long>(rounded);
    }
    value = n.Integer;
  } else {
    RaiseCastError(from, to);
  }
  if (value < low || value > high) RaiseOverflow(from, to);
  return value;
}

double ToDoubleFor(const Variant& v, TVarType to) {
  const TVarType from = v.Type();
  if (from == varEmpty) return 0.0;
  if (IsNumeric(from)) return NumericValue(v);
  if (IsText(from)) {
    ParsedNumber n;
    if (!ParseNumber(TextValue(v), n)) RaiseCastError(from, to);
    return n.IsInteger ? static_cast<double>(n.Integer) : n.Floating;
  }
  RaiseCastError(from, to);
}

float ToSingle(const Variant& v) {
  const double d = ToDoubleFor(v, varSingle);
  if (std::isfinite(d) && std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max())) {
    RaiseOverflow(v.Type(), varSingle);
  }
  return static_cast<float>(d);
}

bool ToBoolean(const Variant& v) {
  const TVarType from = v.Type();
  if (from == varEmpty) return false;
  if (from == varBoolean) return Access::Data(v).VBoolean;
  if (IsNumeric(from)) return NumericValue(v) != 0.0;
  if (IsText(from)) {
    const AnsiString text = TextValue(v).Trim();
    if (SameText(text, "true")) return true;
    if (SameText(text, "false")) return false;
    ParsedNumber n;
    if (!ParseNumber(text, n)) RaiseCastError(from, varBoolean);
    return n.IsInteger ? n.Integer != 0 : n.Floating != 0.0;
  }
  RaiseCastError(from, varBoolean);
}

// Serial numbers of 0001-01-01 00:00 and the day after 9999-12-31.
constexpr double FirstDateSerial = -693593.0;
constexpr double EndDateSerial = 2958466.0;

TDateTime ToDateTime(const Variant& v) {
  const TVarType from = v.Type();
  if (from == varEmpty) return TDateTime(0.0);
  if (IsText(from)) {
    TDateTime result;
    if (!TryStrToDateTime(TextValue(v), result)) RaiseCastError(from, varDate);
    return result;
  }
  if (!IsNumeric(from)) RaiseCastError(from, varDate);
  const double d = NumericValue(v);
  // A negative serial keeps its time as a negative fraction down to -1 day
  // before the first date.
  if (!(d > FirstDateSerial - 1.0 && d < EndDateSerial)) RaiseOverflow(from, varDate);
  return TDateTime(d);
}

// A single as its shortest decimal form, then written like a double, so
// 1.1f is "1.1" rather than the digits of its binary value.
AnsiString SingleToStr(float value) {
  if (!std::isfinite(value)) return FloatToStr(static_cast<double>(value));
  char buffer[64];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, value);
  double shortest = 0.0;
  std::from_chars(buffer, written.ptr, shortest);
  return FloatToStr(shortest);
}

AnsiString ToText(const Variant& v) {
  const TVarType from = v.Type();
  const VariantAccess::ScalarType& d = Access::Data(v);
  switch (from) {
    case varEmpty: return AnsiString();
    case varBoolean: return AnsiString(d.VBoolean ? "True" : "False");
    case varShortInt: case varByte: case varSmallint: case varWord: case varInteger:
    case varLongWord: case varInt64:
      return IntToStr(IntegralValue(v));
    case varSingle: return SingleToStr(d.VSingle);
    case varDouble: return FloatToStr(d.VDouble);
    case varDate: return DateTimeToStr(TDateTime(d.VDouble));
    case varString: return Access::String(v);
    case varOleStr: return Access::OleString(v).ToAnsiString();
    default: RaiseCastError(from, varString);
  }
}

// ---- Comparison ----------------------------------------------------------------------------

enum class Order { Less, Equal, Greater };

Order OrderOf(long long a, long long b) noexcept {
  return a < b ? Order::Less : (b < a ? Order::Greater : Order::Equal);
}

// NaN equals NaN and sorts after every other number, so that sorting stays
// consistent.
Order OrderOf(double a, double b) noexcept {
  if (std::isnan(a) || std::isnan(b)) {
    if (std::isnan(a) && std::isnan(b)) return Order::Equal;
    return std::isnan(a) ? Order::Greater : Order::Less;
  }
  return a < b ? Order::Less : (b < a ? Order::Greater : Order::Equal);
}

Order CompareStrings(const AnsiString& a, const AnsiString& b) {
  const int c = AnsiCompareStr(a, b);
  return c < 0 ? Order::Less : (c > 0 ? Order::Greater : Order::Equal);
}

Order CompareNumbers(const Variant& a, const Variant& b) noexcept {
  if (IsIntegral(a.Type()) && IsIntegral(b.Type())) {
    return OrderOf(IntegralValue(a), IntegralValue(b));
  }
  return OrderOf(NumericValue(a), NumericValue(b));
}

// A number (or date) against a string: numerically when the string reads as
// one (a date also as a date-time text), otherwise as strings.
Order CompareNumberWithText(const Variant& number, const Variant& text) {
  AnsiString scratch;
  const AnsiString& s = TextOf(text, scratch);
  if (number.Type() == varDate) {
    TDateTime parsed;
    if (TryStrToDateTime(s, parsed)) return OrderOf(NumericValue(number), parsed.Val);
  }
  ParsedNumber n;
  if (ParseNumber(s, n)) {
    if (n.IsInteger && IsIntegral(number.Type())) return OrderOf(IntegralValue(number), n.Integer);
    return OrderOf(NumericValue(number), n.IsInteger ? static_cast<double>(n.Integer) : n.Floating);
  }
  return CompareStrings(ToText(number), s);
}

Order Reverse(Order o) noexcept {
  return o == Order::Less ? Order::Greater : (o == Order::Greater ? Order::Less : Order::Equal);
}

// The order of two variants under the default null rules (null below
// everything, equal to null) and the empty rules (0 against numbers, ""
// against strings).
Order Compare(const Variant& a, const Variant& b) {
  if (IsNumeric(a.Type()) && IsNumeric(b.Type())) return CompareNumbers(a, b);  // sort keys
  if (a.IsArray() || b.IsArray()) RaiseInvalidOp();
  if (a.IsNull() || b.IsNull()) {
    if (a.IsNull() && b.IsNull()) return Order::Equal;
    return a.IsNull() ? Order::Less : Order::Greater;
  }
  if (a.IsEmpty() || b.IsEmpty()) {
    if (a.IsEmpty() && b.IsEmpty()) return Order::Equal;
    if (a.IsEmpty()) return Compare(IsText(b.Type()) ? Variant(AnsiString()) : Variant(0), b);
    return Compare(a, IsText(a.Type()) ? Variant(AnsiString()) : Variant(0));
  }
  const bool aText = IsText(a.Type());
  const bool bText = IsText(b.Type());
  if (aText && bText) {
    AnsiString scratchA, scratchB;
    return CompareStrings(TextOf(a, scratchA), TextOf(b, scratchB));
  }
  if (!aText && !bText) return CompareNumbers(a, b);
  return aText ? Reverse(CompareNumberWithText(b, a)) : CompareNumberWithText(a, b);
}

}  // namespace

// ---- Variant ------------------------------------------------------------------------------------

Variant::Variant() noexcept = default;

Variant::Variant(const Variant& other) { CopyFrom(other); }

Variant::Variant(Variant&& other) noexcept
    : FVType(other.FVType),
      FData(other.FData),
      FString(std::move(other.FString)),
      FOleString(std::move(other.FOleString)),
      FArray(std::move(other.FArray)) {
  other.FVType = varEmpty;
  other.FData = Scalar{};
}

Variant& Variant::operator=(const Variant& other) {
  if (this == &other) return *this;
  CheckNotLocked();
  Variant copy(other);
  *this = std::move(copy);
  return *this;
}

Variant& Variant::operator=(Variant&& other) {
  if (this == &other) return *this;
  CheckNotLocked();
  FVType = std::exchange(other.FVType, varEmpty);
  FData = std::exchange(other.FData, Scalar{});
  FString = std::move(other.FString);
  other.FString = AnsiString();
  FOleString = std::move(other.FOleString);
  FArray = std::move(other.FArray);
  return *this;
}

Variant::~Variant() = default;

void Variant::CopyFrom(const Variant& other) {
  FVType = other.FVType;
  FData = other.FData;
  FString = other.FString;
  if (other.FOleString) FOleString = std::make_unique<WideString>(*other.FOleString);
  if (other.FArray) {
    FArray = std::make_unique<TArray>(*other.FArray);
    FArray->LockCount = 0;  // the copy is a new, unlocked array
  }
}

void Variant::CheckNotLocked() const {
  if (FArray && FArray->LockCount > 0) RaiseLocked();
}

void Variant::Clear() {
  CheckNotLocked();
  *this = Variant();
}

Variant::Variant(bool value) noexcept : FVType(varBoolean) { FData.VBoolean = value; }
Variant::Variant(char value) : FVType(varString), FString(value) {}
Variant::Variant(signed char value) noexcept : FVType(varShortInt) { FData.VShortInt = value; }
Variant::Variant(unsigned char value) noexcept : FVType(varByte) { FData.VByte = value; }
Variant::Variant(short value) noexcept : FVType(varSmallint) { FData.VSmallint = value; }
Variant::Variant(unsigned short value) noexcept : FVType(varWord) { FData.VWord = value; }
Variant::Variant(int value) noexcept : FVType(varInteger) { FData.VInteger = value; }
Variant::Variant(unsigned int value) noexcept : FVType(varLongWord) { FData.VLongWord = value; }

Variant::Variant(long value) noexcept {
  if (value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max()) {
    FVType = varInteger;
    FData.VInteger = static_cast<int>(value);
  } else {
    FVType = varInt64;
    FData.VInt64 = value;
  }
}

Variant::Variant(unsigned long value) : Variant(static_cast<unsigned long long>(value)) {}

Variant::Variant(long long value) noexcept : FVType(varInt64) { FData.VInt64 = value; }

Variant::Variant(unsigned long long value) {
  if (value <= std::numeric_limits<unsigned int>::max()) {
    FVType = varLongWord;
    FData.VLongWord = static_cast<unsigned int>(value);
  } else if (value <= static_cast<unsigned long long>(std::numeric_limits<long long>::max())) {
    FVType = varInt64;
    FData.VInt64 = static_cast<long long>(value);
  } else {
    throw EVariantOverflowError("Overflow while converting variant of type (UInt64) into type (Int64)");
  }
}

Variant::Variant(float value) noexcept : FVType(varSingle) { FData.VSingle = value; }
Variant::Variant(double value) noexcept : FVType(varDouble) { FData.VDouble = value; }
Variant::Variant(long double value) noexcept : FVType(varDouble) {
  FData.VDouble = static_cast<double>(value);
}
Variant::Variant(TDateTime value) noexcept : FVType(varDate) { FData.VDouble = value.Val; }
Variant::Variant(const char* value) : FVType(varString), FString(value) {}
Variant::Variant(const AnsiString& value) : FVType(varString), FString(value) {}
Variant::Variant(AnsiString&& value) noexcept : FVType(varString), FString(std::move(value)) {}
Variant::Variant(const WideString& value)
    : FVType(varOleStr), FOleString(std::make_unique<WideString>(value)) {}
Variant::Variant(const char16_t* value)
    : FVType(varOleStr), FOleString(std::make_unique<WideString>(value)) {}

namespace {
// A null is refused by every cast but to null and empty.
void RejectNull(const Variant& v, TVarType to) {
  if (v.IsNull()) RaiseCastError(varNull, to);
}
}  // namespace

bool Variant::AsBoolean() const {
  RejectNull(*this, varBoolean);
  return ToBoolean(*this);
}

short Variant::AsSmallint() const {
  RejectNull(*this, varSmallint);
  return static_cast<short>(ToIntegerIn(*this, varSmallint, -32768, 32767));
}

int Variant::AsInteger() const {
  RejectNull(*this, varInteger);
  return static_cast<int>(ToIntegerIn(*this, varInteger, std::numeric_limits<int>::min(),
                                      std::numeric_limits<int>::max()));
}

long long Variant::AsInt64() const {
  RejectNull(*this, varInt64);
  return ToIntegerIn(*this, varInt64, std::numeric_limits<long long>::min(),
                     std::numeric_limits<long long>::max());
}

unsigned char Variant::AsByte() const {
  RejectNull(*this, varByte);
  return static_cast<unsigned char>(ToIntegerIn(*this, varByte, 0, 255));
}

float Variant::AsSingle() const {
  RejectNull(*this, varSingle);
  return ToSingle(*this);
}

double Variant::AsDouble() const {
  RejectNull(*this, varDouble);
  return ToDoubleFor(*this, varDouble);
}

TDateTime Variant::AsDateTime() const {
  RejectNull(*this, varDate);
  return ToDateTime(*this);
}

AnsiString Variant::AsString() const {
  RejectNull(*this, varString);
  return ToText(*this);
}

WideString Variant::AsWideString() const {
  RejectNull(*this, varOleStr);
  if (FVType == varOleStr) return *FOleString;
  if (IsArray()) RaiseCastError(FVType, varOleStr);
  return WideString(ToText(*this));
}

Variant Variant::GetElement(int index) const {
  const TArray& array = ArrayOf(*this);
  if (!array.Contains(index)) RaiseBadIndex();
  const auto at = static_cast<std::size_t>(static_cast<long long>(index) - array.LowBound);
  if (array.ElementType == varByte) return Variant(array.Bytes[at]);
  return array.Items[at];
}

void Variant::PutElement(const Variant& value, int index) {
  TArray& array = ArrayOf(*this);
  if (!array.Contains(index)) RaiseBadIndex();
  const auto at = static_cast<std::size_t>(static_cast<long long>(index) - array.LowBound);
  if (array.ElementType == varByte) {
    array.Bytes[at] = value.AsByte();
  } else {
    array.Items[at] = value;
  }
}

bool operator==(const Variant& a, const Variant& b) { return Compare(a, b) == Order::Equal; }
bool operator<(const Variant& a, const Variant& b) { return Compare(a, b) == Order::Less; }
bool operator<=(const Variant& a, const Variant& b) { return Compare(a, b) != Order::Greater; }
bool operator>(const Variant& a, const Variant& b) { return Compare(a, b) == Order::Greater; }
bool operator>=(const Variant& a, const Variant& b) { return Compare(a, b) != Order::Less; }

// ---- Free functions -------------------------------------------------------------------------------

Variant Null() { return Access::MakeNull(); }
Variant Unassigned() { return Variant(); }

TVarType VarType(const Variant& v) noexcept { return v.Type(); }
bool VarIsNull(const Variant& v) noexcept { return v.IsNull(); }
bool VarIsEmpty(const Variant& v) noexcept { return v.IsEmpty(); }
bool VarIsArray(const Variant& v) noexcept { return v.IsArray(); }
bool VarIsStr(const Variant& v) noexcept { return IsText(v.Type()); }

AnsiString VarTypeAsText(TVarType type) {
  const char* name = nullptr;
  switch (type & varTypeMask) {
    case varEmpty: name = "Empty"; break;
    case varNull: name = "Null"; break;
    case varSmallint: name = "Smallint"; break;
    case varInteger: name = "Integer"; break;
    case varSingle: name = "Single"; break;
    case varDouble: name = "Double"; break;
    case varCurrency: name = "Currency"; break;
    case varDate: name = "Date"; break;
    case varOleStr: name = "OleStr"; break;
    case varDispatch: name = "Dispatch"; break;
    case varError: name = "Error"; break;
    case varBoolean: name = "Boolean"; break;
    case varVariant: name = "Variant"; break;
    case varUnknown: name = "Unknown"; break;
    case varShortInt: name = "ShortInt"; break;
    case varByte: name = "Byte"; break;
    case varWord: name = "Word"; break;
    case varLongWord: name = "LongWord"; break;
    case varInt64: name = "Int64"; break;
    case varString: name = "String"; break;
    default: break;
  }
  AnsiString text;
  if (name != nullptr) {
    text = name;
  } else {
    char hex[8];
    std::snprintf(hex, sizeof hex, "$%04X", static_cast<unsigned>(type & varTypeMask));
    text = hex;
  }
  if ((type & varArray) != 0) text = "Array " + text;
  if ((type & varByRef) != 0) text = "ByRef " + text;
  return text;
}

std::ostream& operator<<(std::ostream& os, const Variant& v) {
  os << VarTypeAsText(v.Type());
  if (v.IsArray()) {
    const TArray& array = ArrayOf(v);
    return os << " [" << array.LowBound << ".." << array.HighBound() << ']';
  }
  if (v.IsNull() || v.IsEmpty()) return os;
  if (IsText(v.Type())) return os << " \"" << TextValue(v) << '"';
  return os << ' ' << ToText(v);
}

AnsiString VarToStr(const Variant& v) { return VarToStrDef(v, AnsiString()); }

AnsiString VarToStrDef(const Variant& v, const AnsiString& defaultText) {
  if (v.IsNull() || v.IsEmpty()) return defaultText;
  return ToText(v);
}

Variant VarAsType(const Variant& v, TVarType type) {
  const TVarType from = v.Type();
  if ((type & varArray) != 0) {
    if (type != from) RaiseCastError(from, type);
    return v;
  }
  switch (type) {
    case varEmpty: return Variant();
    case varNull:
      if (!v.IsNull() && !v.IsEmpty()) RaiseCastError(from, varNull);
      return Null();
    case varSmallint: case varInteger: case varSingle: case varDouble: case varDate:
    case varOleStr: case varBoolean: case varShortInt: case varByte: case varWord:
    case varLongWord: case varInt64: case varString:
      break;
    default:
      throw EVariantBadVarTypeError("Invalid variant type");
  }
  if (from == type) return v;
  RejectNull(v, type);
  switch (type) {
    case varSmallint: return Variant(v.AsSmallint());
    case varInteger: return Variant(v.AsInteger());
    case varSingle: return Variant(v.AsSingle());
    case varDouble: return Variant(v.AsDouble());
    case varDate: return Access::MakeDate(v.AsDateTime().Val);
    case varOleStr: return Access::MakeOle(v.AsWideString());
    case varBoolean: return Variant(v.AsBoolean());
    case varShortInt:
      return Variant(static_cast<signed char>(ToIntegerIn(v, varShortInt, -128, 127)));
    case varByte: return Variant(v.AsByte());
    case varWord:
      return Variant(static_cast<unsigned short>(ToIntegerIn(v, varWord, 0, 65535)));
    case varLongWord:
      return Variant(static_cast<unsigned int>(
          ToIntegerIn(v, varLongWord, 0, std::numeric_limits<unsigned int>::max())));
    case varInt64: return Variant(v.AsInt64());
    default: return Variant(v.AsString());  // varString
  }
}

TVariantRelationship VarCompareValue(const Variant& a, const Variant& b) {
  if (a.IsEmpty()) return b.IsEmpty() ? vrEqual : vrNotEqual;
  if (a.IsNull()) return b.IsNull() ? vrEqual : vrNotEqual;
  if (b.IsEmpty() || b.IsNull()) return vrNotEqual;
  switch (Compare(a, b)) {
    case Order::Less: return vrLessThan;
    case Order::Greater: return vrGreaterThan;
    default: return vrEqual;
  }
}

Variant VarArrayCreate(const int* bounds, int boundsHigh, TVarType elementType) {
  if (bounds == nullptr || boundsHigh != 1) RaiseArrayCreate();
  if (elementType != varByte && elementType != varVariant) RaiseArrayCreate();
  const long long count = static_cast<long long>(bounds[1]) - bounds[0] + 1;
  if (count < 0) RaiseArrayCreate();
  auto array = std::make_unique<TArray>();
  array->ElementType = elementType;
  array->LowBound = bounds[0];
  if (elementType == varByte) array->Bytes.assign(static_cast<std::size_t>(count), 0);
  else array->Items.resize(static_cast<std::size_t>(count));
  return Access::MakeArray(std::move(array));
}

Variant VarArrayCreate(std::initializer_list<int> bounds, TVarType elementType) {
  return VarArrayCreate(bounds.begin(), static_cast<int>(bounds.size()) - 1, elementType);
}

Variant VarArrayOf(const Variant* values, int valuesHigh) {
  auto array = std::make_unique<TArray>();
  array->ElementType = varVariant;
  if (values != nullptr && valuesHigh >= 0) {
    array->Items.assign(values, values + valuesHigh + 1);
  }
  return Access::MakeArray(std::move(array));
}

Variant VarArrayOf(std::initializer_list<Variant> values) {
  return VarArrayOf(values.begin(), static_cast<int>(values.size()) - 1);
}

int VarArrayDimCount(const Variant& v) noexcept { return v.IsArray() ? 1 : 0; }

int VarArrayLowBound(const Variant& v, int dim) {
  const TArray& array = ArrayOf(v);
  if (dim != 1) RaiseBadIndex();
  return array.LowBound;
}

int VarArrayHighBound(const Variant& v, int dim) {
  const TArray& array = ArrayOf(v);
  if (dim != 1) RaiseBadIndex();
  return static_cast<int>(array.HighBound());
}

void* VarArrayLock(Variant& v) {
  TArray& array = ArrayOf(v);
  ++array.LockCount;
  return array.Data();
}

void VarArrayUnlock(Variant& v) {
  TArray& array = ArrayOf(v);
  if (array.LockCount == 0) RaiseInvalidArg();
  --array.LockCount;
}

void VarArrayRedim(Variant& v, int highBound) {
  TArray& array = ArrayOf(v);
  if (array.LockCount > 0) RaiseLocked();
  const long long count = static_cast<long long>(highBound) - array.LowBound + 1;
  if (count < 0) RaiseInvalidArg();
  if (array.ElementType == varByte) array.Bytes.resize(static_cast<std::size_t>(count), 0);
  else array.Items.resize(static_cast<std::size_t>(count));
}

}  // namespace Tx
