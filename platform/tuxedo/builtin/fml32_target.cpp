// Views as IBM/370 COBOL records (Fvstot32, Fvttos32) and the ASCII/EBCDIC
// tables their text goes through (Fcodeset).
//
// A record is built or read completely aside, so a failure leaves the
// caller's record or structure as it was. Numbers are big-endian; floating
// point is the System/370 hexadecimal form: a sign bit, a 7-bit exponent of
// 16 biased by 64 and a fraction (24 bits for COMP-1, 56 for COMP-2) whose
// first hex digit is not zero, the value being 0.fraction * 16^(exp-64).
#include <fml32.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "fml32_viewcache.h"
#include "fml32_viewfile.h"

using namespace Tx::Fml32Builtin;

namespace {

using Table = std::array<unsigned char, 256>;

// Code page 037 (US/Canada EBCDIC) by ISO 8859-1 byte; it is a one-to-one
// map of all 256 values, so the other direction is its inverse.
// clang-format off
constexpr Table kAsciiToEbcdic037 = {
    0x00, 0x01, 0x02, 0x03, 0x37, 0x2D, 0x2E, 0x2F, 0x16, 0x05, 0x25, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x3C, 0x3D, 0x32, 0x26, 0x18, 0x19, 0x3F, 0x27, 0x1C, 0x1D, 0x1E, 0x1F,
    0x40, 0x5A, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D, 0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60, 0x4B, 0x61,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x5E, 0x4C, 0x7E, 0x6E, 0x6F,
    0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6,
    0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xBA, 0xE0, 0xBB, 0xB0, 0x6D,
    0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0x4F, 0xD0, 0xA1, 0x07,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x15, 0x06, 0x17, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x09, 0x0A, 0x1B,
    0x30, 0x31, 0x1A, 0x33, 0x34, 0x35, 0x36, 0x08, 0x38, 0x39, 0x3A, 0x3B, 0x04, 0x14, 0x3E, 0xFF,
    0x41, 0xAA, 0x4A, 0xB1, 0x9F, 0xB2, 0x6A, 0xB5, 0xBD, 0xB4, 0x9A, 0x8A, 0x5F, 0xCA, 0xAF, 0xBC,
    0x90, 0x8F, 0xEA, 0xFA, 0xBE, 0xA0, 0xB6, 0xB3, 0x9D, 0xDA, 0x9B, 0x8B, 0xB7, 0xB8, 0xB9, 0xAB,
    0x64, 0x65, 0x62, 0x66, 0x63, 0x67, 0x9E, 0x68, 0x74, 0x71, 0x72, 0x73, 0x78, 0x75, 0x76, 0x77,
    0xAC, 0x69, 0xED, 0xEE, 0xEB, 0xEF, 0xEC, 0xBF, 0x80, 0xFD, 0xFE, 0xFB, 0xFC, 0xAD, 0xAE, 0x59,
    0x44, 0x45, 0x42, 0x46, 0x43, 0x47, 0x9C, 0x48, 0x54, 0x51, 0x52, 0x53, 0x58, 0x55, 0x56, 0x57,
    0x8C, 0x49, 0xCD, 0xCE, 0xCB, 0xCF, 0xCC, 0xE1, 0x70, 0xDD, 0xDE, 0xDB, 0xDC, 0x8D, 0x8E, 0xDF,
};
// clang-format on

struct Codeset {
  Table toEbcdic;
  Table toAscii;
};

Codeset DefaultCodeset() {
  Codeset codeset{kAsciiToEbcdic037, {}};
  for (unsigned ascii = 0; ascii < 256; ++ascii)
    codeset.toAscii[codeset.toEbcdic[ascii]] = static_cast<unsigned char>(ascii);
  return codeset;
}

// The tables in use. Each conversion takes a copy, so Fcodeset from another
// thread never changes a record half-way.
class CodesetHolder {
 public:
  Codeset Get() {
    std::lock_guard lock(mutex_);
    return current_;
  }
  void Set(const Codeset& codeset) {
    std::lock_guard lock(mutex_);
    current_ = codeset;
  }

 private:
  std::mutex mutex_;
  Codeset current_ = DefaultCodeset();
};

CodesetHolder& Codesets() {
  static CodesetHolder holder;
  return holder;
}

// ---- IBM hexadecimal floating point -------------------------------------

constexpr int kExponentBias = 64;

// The sign, biased exponent and fraction of `value` with `fractionBits`
// (24 or 56) bits of fraction, rounded to nearest; nullopt when the value is
// not finite or too large. Values too small become zero.
std::optional<std::uint64_t> ToIbmFloat(double value, int fractionBits) {
  if (!std::isfinite(value)) return std::nullopt;
  const std::uint64_t sign = std::signbit(value) ? std::uint64_t{1} << (fractionBits + 7) : 0;
  if (value == 0) return 0;
  // The largest COMP-2, 16^63 less one unit in its 56th bit, comes into a
  // double as 16^63 itself; that goes out again as the largest value.
  const std::uint64_t largest = (std::uint64_t{1} << (fractionBits + 7)) - 1;
  if (std::fabs(value) == std::ldexp(1.0, 4 * 63)) return sign | largest;
  int binaryExponent = 0;
  const double mantissa = std::frexp(std::fabs(value), &binaryExponent);  // [0.5, 1)
  // 16^hexExponent just above the value: the fraction then lies in [1/16, 1).
  int hexExponent = binaryExponent >= 0 ? (binaryExponent + 3) / 4 : -((-binaryExponent) / 4);
  const double fraction = std::ldexp(mantissa, binaryExponent - 4 * hexExponent);
  auto digits = static_cast<std::uint64_t>(std::nearbyint(std::ldexp(fraction, fractionBits)));
  if (digits >> fractionBits != 0) {  // rounded up to 1.0
    digits >>= 4;
    ++hexExponent;
  }
  const int biased = hexExponent + kExponentBias;
  if (biased > 127) return std::nullopt;
  if (biased < 0) return sign;  // below the smallest normalised value
  return sign | static_cast<std::uint64_t>(biased) << fractionBits | digits;
}

double FromIbmFloat(std::uint64_t bits, int fractionBits) {
  const std::uint64_t digits = bits & ((std::uint64_t{1} << fractionBits) - 1);
  const int biased = static_cast<int>((bits >> fractionBits) & 0x7F);
  const bool negative = ((bits >> (fractionBits + 7)) & 1) != 0;
  const double magnitude =
      std::ldexp(static_cast<double>(digits), 4 * (biased - kExponentBias) - fractionBits);
  return negative ? -magnitude : magnitude;
}

// ---- bytes ----------------------------------------------------------------

void PutBigEndian(std::vector<unsigned char>& record, std::uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i)
    record.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::uint64_t GetBigEndian(const unsigned char* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | at[i];
  return value;
}

template <typename T>
T Load(const char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename T>
void Store(char* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// Bytes of one element in the record.
std::size_t RecordSize(const ViewMember& member) {
  switch (member.type) {
    case FLD_SHORT:
      return 2;
    case FLD_LONG:
    case FLD_INT:
    case FLD_FLOAT:
      return 4;
    case FLD_DOUBLE:
      return 8;
    case FLD_CHAR:
      return 1;
    default:
      return member.size;  // string, carray, mbstring
  }
}

std::size_t RecordLength(const ViewDescription& view) {
  std::size_t length = 0;
  for (const ViewMember& member : view.members)
    length += RecordSize(member) * static_cast<std::size_t>(member.count);
  return length;
}

const char* ElementOf(const char* cstruct, const ViewMember& member, int i) {
  return cstruct + member.offset + member.size * static_cast<std::size_t>(i);
}

// Appends one element to the record; false when its value does not fit.
bool PutElement(std::vector<unsigned char>& record, const ViewMember& member, const char* element,
                const Codeset& codeset) {
  switch (member.type) {
    case FLD_SHORT:
      PutBigEndian(record, static_cast<std::uint16_t>(Load<short>(element)), 2);
      return true;
    case FLD_INT:
      PutBigEndian(record, static_cast<std::uint32_t>(Load<int>(element)), 4);
      return true;
    case FLD_LONG: {
      const long value = Load<long>(element);
      if (value < std::numeric_limits<std::int32_t>::min() ||
          value > std::numeric_limits<std::int32_t>::max()) {
        return false;
      }
      PutBigEndian(record, static_cast<std::uint32_t>(value), 4);
      return true;
    }
    case FLD_FLOAT: {
      const auto bits = ToIbmFloat(Load<float>(element), 24);
      if (!bits) return false;
      PutBigEndian(record, *bits, 4);
      return true;
    }
    case FLD_DOUBLE: {
      const auto bits = ToIbmFloat(Load<double>(element), 56);
      if (!bits) return false;
      PutBigEndian(record, *bits, 8);
      return true;
    }
    case FLD_CHAR:
      record.push_back(codeset.toEbcdic[static_cast<unsigned char>(*element)]);
      return true;
    case FLD_STRING: {
      // COBOL text is blank-padded and has no terminator.
      const std::size_t length = ::strnlen(element, member.size);
      for (std::size_t i = 0; i < length; ++i)
        record.push_back(codeset.toEbcdic[static_cast<unsigned char>(element[i])]);
      record.insert(record.end(), member.size - length, codeset.toEbcdic[' ']);
      return true;
    }
    default:  // carray, mbstring: bytes as they are
      record.insert(record.end(), element, element + member.size);
      return true;
  }
}

// Reads one element from the record into the structure (copy); the bytes it
// holds, or nullopt when the value does not fit the member.
std::optional<std::size_t> GetElement(const unsigned char* from, const ViewMember& member,
                                      char* element, const Codeset& codeset) {
  switch (member.type) {
    case FLD_SHORT:
      Store(element, static_cast<short>(static_cast<std::uint16_t>(GetBigEndian(from, 2))));
      break;
    case FLD_INT:
      Store(element, static_cast<int>(static_cast<std::int32_t>(GetBigEndian(from, 4))));
      break;
    case FLD_LONG:
      Store(element, static_cast<long>(static_cast<std::int32_t>(GetBigEndian(from, 4))));
      break;
    case FLD_FLOAT: {
      const double value = FromIbmFloat(GetBigEndian(from, 4), 24);
      if (std::fabs(value) > std::numeric_limits<float>::max()) return std::nullopt;
      Store(element, static_cast<float>(value));
      break;
    }
    case FLD_DOUBLE: {
      const double value = FromIbmFloat(GetBigEndian(from, 8), 56);
      if (!std::isfinite(value)) return std::nullopt;
      Store(element, value);
      break;
    }
    case FLD_CHAR:
      *element = static_cast<char>(codeset.toAscii[*from]);
      break;
    case FLD_STRING: {
      std::size_t length = member.size;
      while (length > 0 && codeset.toAscii[from[length - 1]] == ' ') --length;
      length = std::min(length, member.size - 1);  // room for the zero byte
      for (std::size_t i = 0; i < length; ++i)
        element[i] = static_cast<char>(codeset.toAscii[from[i]]);
      std::memset(element + length, 0, member.size - length);
      return length + 1;
    }
    default:
      std::memcpy(element, from, member.size);
      break;
  }
  return member.size;
}

}  // namespace

extern "C" {

int Fvstot32(char* cstruct, char* trecord, long treclen, char* viewname) {
  const auto view = FindView(viewname);
  if (view == nullptr) return -1;
  if (cstruct == nullptr || trecord == nullptr) {
    Ferror32 = FEINVAL;
    return -1;
  }
  try {
    const std::size_t length = RecordLength(*view);
    if (treclen < 0 || static_cast<unsigned long>(treclen) < length) {
      Ferror32 = FNOSPACE;
      return -1;
    }
    const Codeset codeset = Codesets().Get();
    std::vector<unsigned char> record;
    record.reserve(length);
    for (const ViewMember& member : view->members) {
      for (int i = 0; i < member.count; ++i) {
        if (!PutElement(record, member, ElementOf(cstruct, member, i), codeset)) {
          Ferror32 = FEINVAL;
          return -1;
        }
      }
    }
    std::memcpy(trecord, record.data(), record.size());
    return static_cast<int>(record.size());
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
    return -1;
  }
}

int Fvttos32(char* cstruct, char* trecord, char* viewname) {
  const auto view = FindView(viewname);
  if (view == nullptr) return -1;
  if (cstruct == nullptr || trecord == nullptr) {
    Ferror32 = FEINVAL;
    return -1;
  }
  try {
    const Codeset codeset = Codesets().Get();
    std::vector<char> result(cstruct, cstruct + view->size);
    const auto* from = reinterpret_cast<const unsigned char*>(trecord);
    for (const ViewMember& member : view->members) {
      for (int i = 0; i < member.count; ++i) {
        char* element = result.data() + member.offset + member.size * static_cast<std::size_t>(i);
        const auto bytes = GetElement(from, member, element, codeset);
        if (!bytes) {
          Ferror32 = FEINVAL;
          return -1;
        }
        if (member.lengthMember) {
          Store(result.data() + member.lengthOffset +
                    sizeof(unsigned short) * static_cast<std::size_t>(i),
                static_cast<unsigned short>(*bytes));
        }
        from += RecordSize(member);
      }
      // A record always holds every element.
      if (member.countMember)
        Store(result.data() + member.countOffset, static_cast<short>(member.count));
    }
    std::memcpy(cstruct, result.data(), result.size());
    return static_cast<int>(from - reinterpret_cast<const unsigned char*>(trecord));
  } catch (const std::bad_alloc&) {
    Ferror32 = FMALLOC;
    return -1;
  }
}

int Fcodeset(char* translation_table) {
  if (translation_table == nullptr) {
    Codesets().Set(DefaultCodeset());
    return 0;
  }
  Codeset codeset;
  std::memcpy(codeset.toEbcdic.data(), translation_table, 256);
  std::memcpy(codeset.toAscii.data(), translation_table + 256, 256);
  Codesets().Set(codeset);
  return 0;
}

}  // extern "C"
