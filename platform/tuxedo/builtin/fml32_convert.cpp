// Type conversions and the conversion functions CFadd32, CFchg32, CFget32
// and CFfind32.
//
// Rules: numbers convert among themselves as C casts do (floating values
// that do not fit an integer type saturate instead of being undefined);
// char converts to numbers by its code and from numbers by truncation; a
// string or carray converts to a number like the C library reads the number
// at its start (leading blanks, sign, digits; nothing readable gives 0);
// numbers become text as printf's "%d", "%ld" and "%f" write them; char to
// string or carray is that one character; string or carray to char is the
// first byte (a zero byte when empty); carray to string stops at the first
// zero byte; string to carray drops the terminating zero.
#include "fml32_convert.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <new>
#include <string>

#include "fml32_block.h"

namespace Tx::Fml32Builtin {
namespace {

// A value decoded from its stored form.
struct Scalar {
  enum class Kind { Integer, Floating, Character, Text } kind = Kind::Integer;
  long integer = 0;
  double floating = 0;
  char character = 0;
  const char* text = nullptr;
  std::size_t textLength = 0;
};

template <typename T>
T LoadAs(const char* value) noexcept {
  T result;
  std::memcpy(&result, value, sizeof result);
  return result;
}

Scalar Decode(int type, const char* value, std::size_t length) noexcept {
  Scalar scalar;
  switch (type) {
    case FLD_SHORT:
      scalar.integer = LoadAs<short>(value);
      break;
    case FLD_LONG:
      scalar.integer = LoadAs<long>(value);
      break;
    case FLD_CHAR:
      scalar.kind = Scalar::Kind::Character;
      scalar.character = value[0];
      break;
    case FLD_FLOAT:
      scalar.kind = Scalar::Kind::Floating;
      scalar.floating = LoadAs<float>(value);
      break;
    case FLD_DOUBLE:
      scalar.kind = Scalar::Kind::Floating;
      scalar.floating = LoadAs<double>(value);
      break;
    case FLD_STRING:
      scalar.kind = Scalar::Kind::Text;
      scalar.text = value;
      scalar.textLength = strnlen(value, length);
      break;
    default:  // carray
      scalar.kind = Scalar::Kind::Text;
      scalar.text = value;
      scalar.textLength = length;
      break;
  }
  return scalar;
}

locale_t ClassicLocale() noexcept {
  static const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return classic;
}

long TextToLong(const Scalar& scalar) {
  const std::string text(scalar.text, scalar.textLength);
  return std::strtol(text.c_str(), nullptr, 10);
}

double TextToDouble(const Scalar& scalar) {
  const std::string text(scalar.text, scalar.textLength);
  const locale_t classic = ClassicLocale();
  return classic != static_cast<locale_t>(nullptr) ? strtod_l(text.c_str(), nullptr, classic)
                                                   : std::strtod(text.c_str(), nullptr);
}

long SaturatedLong(double value) noexcept {
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (std::isnan(value)) return 0;
  if (value >= kLimit) return std::numeric_limits<long>::max();
  if (value <= -kLimit) return std::numeric_limits<long>::min();
  return static_cast<long>(value);
}

float NarrowedFloat(double value) noexcept {
  if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max()) {
    return value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
  }
  return static_cast<float>(value);
}

long AsLong(const Scalar& scalar) {
  switch (scalar.kind) {
    case Scalar::Kind::Integer: return scalar.integer;
    case Scalar::Kind::Floating: return SaturatedLong(scalar.floating);
    case Scalar::Kind::Character: return scalar.character;
    case Scalar::Kind::Text: return TextToLong(scalar);
  }
  return 0;
}

double AsDouble(const Scalar& scalar) {
  switch (scalar.kind) {
    case Scalar::Kind::Integer: return static_cast<double>(scalar.integer);
    case Scalar::Kind::Floating: return scalar.floating;
    case Scalar::Kind::Character: return scalar.character;
    case Scalar::Kind::Text: return TextToDouble(scalar);
  }
  return 0;
}

char AsChar(const Scalar& scalar) {
  switch (scalar.kind) {
    case Scalar::Kind::Character: return scalar.character;
    case Scalar::Kind::Text: return scalar.textLength == 0 ? '\0' : scalar.text[0];
    default: return static_cast<char>(AsLong(scalar));
  }
}

// The text of a number or a character, without a terminating zero.
std::string AsText(const Scalar& scalar) {
  char digits[400];  // "%f" of the largest double needs 316 characters
  switch (scalar.kind) {
    case Scalar::Kind::Integer: {
      const auto result = std::to_chars(digits, digits + sizeof digits, scalar.integer);
      return std::string(digits, result.ptr);
    }
    case Scalar::Kind::Floating: {
      const auto result =
          std::to_chars(digits, digits + sizeof digits, scalar.floating, std::chars_format::fixed, 6);
      return std::string(digits, result.ptr);
    }
    case Scalar::Kind::Character:
      return std::string(1, scalar.character);
    case Scalar::Kind::Text:
      return std::string(scalar.text, scalar.textLength);
  }
  return {};
}

template <typename T>
void StoreAs(std::vector<char>& out, T value) {
  out.resize(sizeof value);
  std::memcpy(out.data(), &value, sizeof value);
}

}  // namespace

bool CheckConvertibleType(int type) noexcept {
  if (type >= FLD_SHORT && type <= FLD_CARRAY) return true;
  SetError(type == FLD_PTR || type == FLD_FML32 || type == FLD_VIEW32 ? FEBADOP : FTYPERR);
  return false;
}

std::size_t UserValueLength(int type, const char* value, FLDLEN32 length) noexcept {
  if (type == FLD_STRING) return std::strlen(value) + 1;
  if (IsByteArrayType(type)) return length;
  return FixedLength(type);
}

bool ConvertValue(int fromType, const char* value, std::size_t length, int toType,
                  std::vector<char>& out) noexcept {
  try {
    const Scalar scalar = Decode(fromType, value, length);
    switch (toType) {
      case FLD_SHORT: StoreAs(out, static_cast<short>(AsLong(scalar))); break;
      case FLD_LONG: StoreAs(out, AsLong(scalar)); break;
      case FLD_CHAR: StoreAs(out, AsChar(scalar)); break;
      case FLD_FLOAT:
        StoreAs(out, scalar.kind == Scalar::Kind::Integer ? static_cast<float>(scalar.integer)
                                                          : NarrowedFloat(AsDouble(scalar)));
        break;
      case FLD_DOUBLE: StoreAs(out, AsDouble(scalar)); break;
      case FLD_STRING: {
        std::string text = AsText(scalar);
        text.resize(strnlen(text.data(), text.size()));
        out.assign(text.begin(), text.end());
        out.push_back('\0');
        break;
      }
      default: {  // carray
        const std::string text = AsText(scalar);
        out.assign(text.begin(), text.end());
        break;
      }
    }
    return true;
  } catch (const std::bad_alloc&) {
    SetError(FMALLOC);
    return false;
  }
}

}  // namespace Tx::Fml32Builtin

using namespace Tx::Fml32Builtin;

namespace {

// Opens the block and checks the field and the user's type for conversion.
bool OpenForConversion(Block& block, FBFR32* fbfr, FLDID32 fieldid, int type) noexcept {
  return block.Open(fbfr) && CheckFieldId(fieldid) && CheckConvertibleType(TypeOf(fieldid)) &&
         CheckConvertibleType(type);
}

// Converts a caller's value to the field's own type.
bool ConvertToField(FLDID32 fieldid, const char* value, FLDLEN32 len, int type, std::vector<char>& converted) noexcept {
  if (value == nullptr) {
    SetError(FEINVAL);
    return false;
  }
  if (!ConvertValue(type, value, UserValueLength(type, value, len), TypeOf(fieldid), converted)) return false;
  if (converted.size() > std::numeric_limits<FLDLEN32>::max()) {
    SetError(FNOSPACE);
    return false;
  }
  return true;
}

// Converts a stored occurrence to `type` into `out`.
bool ConvertFromField(const Block& block, FLDID32 fieldid, FLDOCC32 oc, int type, std::vector<char>& out) noexcept {
  const std::uint32_t record = block.Find(fieldid, oc);
  if (record == 0) {
    block.SetMissingError();
    return false;
  }
  return ConvertValue(TypeOf(fieldid), reinterpret_cast<const char*>(block.ValueAt(record)), block.LengthAt(record),
                      type, out);
}

}  // namespace

extern "C" {

int CFadd32(FBFR32* fbfr, FLDID32 fieldid, char* value, FLDLEN32 len, int type) {
  Block block;
  std::vector<char> converted;
  if (!OpenForConversion(block, fbfr, fieldid, type) || !ConvertToField(fieldid, value, len, type, converted)) {
    return -1;
  }
  return block.Append(fieldid, converted.data(), static_cast<std::uint32_t>(converted.size())) ? 1 : -1;
}

int CFchg32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, char* value, FLDLEN32 len, int type) {
  Block block;
  if (!OpenForConversion(block, fbfr, fieldid, type)) return -1;
  if (value == nullptr) return block.Delete(fieldid, oc) ? 1 : -1;
  std::vector<char> converted;
  if (!ConvertToField(fieldid, value, len, type, converted)) return -1;
  return block.Change(fieldid, oc, converted.data(), static_cast<std::uint32_t>(converted.size())) ? 1 : -1;
}

int CFget32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, char* buf, FLDLEN32* len, int type) {
  Block block;
  std::vector<char> converted;
  if (!OpenForConversion(block, fbfr, fieldid, type) || !ConvertFromField(block, fieldid, oc, type, converted)) {
    return -1;
  }
  if (buf != nullptr) {
    if (len != nullptr && *len < converted.size()) {
      SetError(FNOSPACE);
      return -1;
    }
    std::memcpy(buf, converted.data(), converted.size());
  }
  if (len != nullptr) *len = static_cast<FLDLEN32>(converted.size());
  return 1;
}

char* CFfind32(FBFR32* fbfr, FLDID32 fieldid, FLDOCC32 oc, FLDLEN32* len, int type) {
  // The converted value lives here until the thread's next CFfind32; the
  // vector's storage is aligned for every type.
  thread_local std::vector<char> found;
  Block block;
  std::vector<char> converted;
  if (!OpenForConversion(block, fbfr, fieldid, type) || !ConvertFromField(block, fieldid, oc, type, converted)) {
    return nullptr;
  }
  try {
    converted.reserve(sizeof(double));  // never a null data() pointer, even for an empty carray
  } catch (const std::bad_alloc&) {
    SetError(FMALLOC);
    return nullptr;
  }
  found.swap(converted);
  if (len != nullptr) *len = static_cast<FLDLEN32>(found.size());
  return found.data();
}

}  // extern "C"
