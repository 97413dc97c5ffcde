#include "platform/framework/AnsiString.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ostream>

#include "platform/framework/Exceptions.h"
#include "platform/framework/Format.h"
#include "platform/framework/TextCodec.h"
#include "platform/framework/TextCompare.h"
#include "platform/framework/WideString.h"

namespace Tx {
namespace {

// Upper half of Windows-1250 (bytes 0x80..0xFF) as Unicode code points, from
// the published table. The five undefined bytes stand for the C1 control of
// the same value, which keeps every byte string convertible both ways.
constexpr std::array<char16_t, 128> kUpperHalf = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 0x98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // 0xA0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // 0xA8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // 0xB0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // 0xB8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // 0xC0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // 0xC8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // 0xD0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // 0xD8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // 0xE0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // 0xE8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // 0xF0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // 0xF8
};

// Code points above 0x7F that have a byte, sorted for binary search.
struct ReverseTable {
  std::array<std::pair<char16_t, unsigned char>, 128> entries{};
  ReverseTable() {
    for (std::size_t i = 0; i < entries.size(); ++i)
      entries[i] = {kUpperHalf[i], static_cast<unsigned char>(0x80 + i)};
    std::sort(entries.begin(), entries.end());
  }
};

const ReverseTable& Reverse() {
  static const ReverseTable table;
  return table;
}

// Byte-to-byte case maps of the code page, built once from the Unicode
// simple case mappings: a letter maps only when its counterpart also has a
// byte (so ß, µ and the like stay as they are).
struct CaseTables {
  std::array<unsigned char, 256> upper{};
  std::array<unsigned char, 256> lower{};
  CaseTables() {
    for (int b = 0; b < 256; ++b) {
      const auto cp = static_cast<UChar32>(Cp1250ToUnicode(static_cast<unsigned char>(b)));
      const int up = UnicodeToCp1250(static_cast<char32_t>(u_toupper(cp)));
      const int low = UnicodeToCp1250(static_cast<char32_t>(u_tolower(cp)));
      upper[static_cast<std::size_t>(b)] = static_cast<unsigned char>(up < 0 ? b : up);
      lower[static_cast<std::size_t>(b)] = static_cast<unsigned char>(low < 0 ? b : low);
    }
  }
};

const CaseTables& Cases() {
  static const CaseTables tables;
  return tables;
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

AnsiString MapBytes(const std::string& bytes, const std::array<unsigned char, 256>& table) {
  std::string out(bytes);
  for (char& c : out) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
  return AnsiString(std::move(out));
}

}  // namespace

namespace detail {

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t DecodeUtf8(std::string_view text, std::size_t& i) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  std::size_t extra = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
    minimum = 0x10000;
  } else {
    ++i;
    return kMalformedUtf8;
  }
  if (extra >= text.size() - i) {  // truncated: fewer than extra bytes follow
    ++i;
    return kMalformedUtf8;
  }
  for (std::size_t k = 1; k <= extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return kMalformedUtf8;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kMalformedUtf8;
  }
  i += extra + 1;
  return cp;
}

const std::array<unsigned char, 256>& UpperCaseTable() noexcept { return Cases().upper; }
const std::array<unsigned char, 256>& LowerCaseTable() noexcept { return Cases().lower; }

}  // namespace detail

char32_t Cp1250ToUnicode(unsigned char byte) noexcept {
  return byte < 0x80 ? byte : kUpperHalf[byte - 0x80];
}

int UnicodeToCp1250(char32_t codePoint) noexcept {
  if (codePoint < 0x80) return static_cast<int>(codePoint);
  if (codePoint > 0xFFFF) return -1;
  const auto& e = Reverse().entries;
  const auto key = static_cast<char16_t>(codePoint);
  const auto it = std::lower_bound(e.begin(), e.end(), key,
                                   [](const auto& entry, char16_t k) { return entry.first < k; });
  if (it != e.end() && it->first == key) return it->second;
  return -1;
}

AnsiString Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = detail::DecodeUtf8(utf8, i);
    const int b = cp == detail::kMalformedUtf8 ? -1 : UnicodeToCp1250(cp);
    out += b < 0 ? '?' : static_cast<char>(b);
  }
  return AnsiString(std::move(out));
}

std::string AnsiToUtf8(const AnsiString& text) {
  std::string out;
  out.reserve(static_cast<std::size_t>(text.Length()) * 2);
  for (char c : text.view()) detail::AppendUtf8(out, Cp1250ToUnicode(static_cast<unsigned char>(c)));
  return out;
}

// ---- AnsiString -------------------------------------------------------------

AnsiString::AnsiString(const char* text) : FData(text ? text : "") {}
AnsiString::AnsiString(const char* bytes, int length)
    : FData(bytes && length > 0 ? std::string(bytes, static_cast<std::size_t>(length))
                                : std::string()) {}
AnsiString::AnsiString(std::string_view bytes) : FData(bytes) {}
AnsiString::AnsiString(const std::string& bytes) : FData(bytes) {}
AnsiString::AnsiString(std::string&& bytes) noexcept : FData(std::move(bytes)) {}
AnsiString::AnsiString(char c) : FData(1, c) {}
AnsiString::AnsiString(int value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(unsigned int value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(long value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(unsigned long value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(long long value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(unsigned long long value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(double value) : AnsiString(FloatToStr(value)) {}

char& AnsiString::operator[](int index) {
  if (index < 1 || index > Length()) throw ERangeError();
  return FData[static_cast<std::size_t>(index - 1)];
}

char AnsiString::operator[](int index) const {
  if (index < 1 || index > Length()) throw ERangeError();
  return FData[static_cast<std::size_t>(index - 1)];
}

AnsiString AnsiString::SubString(int index, int count) const {
  if (index < 1) index = 1;
  if (count <= 0 || index > Length()) return AnsiString();
  return AnsiString(FData.substr(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count)));
}

int AnsiString::Pos(const AnsiString& sub) const {
  if (sub.IsEmpty()) return 0;
  const auto at = FData.find(sub.FData);
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

AnsiString& AnsiString::Insert(const AnsiString& text, int index) {
  if (index < 1) index = 1;
  if (index > Length() + 1) index = Length() + 1;
  FData.insert(static_cast<std::size_t>(index - 1), text.FData);
  return *this;
}

AnsiString& AnsiString::Delete(int index, int count) {
  if (index < 1 || index > Length() || count <= 0) return *this;
  FData.erase(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
  return *this;
}

AnsiString& AnsiString::SetLength(int newLength) {
  FData.resize(static_cast<std::size_t>(std::max(newLength, 0)), '\0');
  return *this;
}

int AnsiString::LastDelimiter(const AnsiString& delimiters) const {
  if (delimiters.IsEmpty()) return 0;
  const auto at = FData.find_last_of(delimiters.FData);
  return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

bool AnsiString::IsDelimiter(const AnsiString& delimiters, int index) const {
  if (index < 1 || index > Length()) return false;
  return delimiters.FData.find(FData[static_cast<std::size_t>(index - 1)]) != std::string::npos;
}

AnsiString AnsiString::Trim() const { return TrimLeft().TrimRight(); }

AnsiString AnsiString::TrimLeft() const {
  std::size_t i = 0;
  while (i < FData.size() && IsBlank(FData[i])) ++i;
  return AnsiString(FData.substr(i));
}

AnsiString AnsiString::TrimRight() const {
  std::size_t n = FData.size();
  while (n > 0 && IsBlank(FData[n - 1])) --n;
  return AnsiString(FData.substr(0, n));
}

AnsiString AnsiString::UpperCase() const { return MapBytes(FData, Cases().upper); }
AnsiString AnsiString::LowerCase() const { return MapBytes(FData, Cases().lower); }

int AnsiString::AnsiCompare(const AnsiString& rhs) const { return AnsiCompareStr(*this, rhs); }
int AnsiString::AnsiCompareIC(const AnsiString& rhs) const { return AnsiCompareText(*this, rhs); }

int AnsiString::ToInt() const { return StrToInt(*this); }
int AnsiString::ToIntDef(int defaultValue) const noexcept { return StrToIntDef(*this, defaultValue); }
double AnsiString::ToDouble() const { return StrToFloat(*this); }

AnsiString AnsiString::StringOfChar(char c, int count) {
  return AnsiString(std::string(static_cast<std::size_t>(std::max(count, 0)), c));
}

AnsiString AnsiString::Format(const AnsiString& pattern, const TVarRec* args, int high) {
  return Tx::Format(pattern, args, high);
}

AnsiString AnsiString::Format(const AnsiString& pattern, std::initializer_list<TVarRec> args) {
  return Tx::Format(pattern, args);
}

AnsiString& AnsiString::AppendFormatted(const char* format, va_list args) {
  if (!format) return *this;
  va_list probe;
  va_copy(probe, args);
  const int needed = std::vsnprintf(nullptr, 0, format, probe);
  va_end(probe);
  if (needed <= 0) return *this;
  const std::size_t old = FData.size();
  std::string grown(FData);
  grown.resize(old + static_cast<std::size_t>(needed) + 1);
  std::vsnprintf(grown.data() + old, static_cast<std::size_t>(needed) + 1, format, args);
  grown.resize(old + static_cast<std::size_t>(needed));
  FData.swap(grown);
  return *this;
}

AnsiString& AnsiString::AssignFormatted(const char* format, va_list args) {
  AnsiString result;
  result.AppendFormatted(format, args);
  FData.swap(result.FData);
  return *this;
}

AnsiString& AnsiString::sprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  AssignFormatted(format, args);
  va_end(args);
  return *this;
}

int AnsiString::printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  AssignFormatted(format, args);
  va_end(args);
  return Length();
}

AnsiString& AnsiString::cat_sprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatted(format, args);
  va_end(args);
  return *this;
}

AnsiString& AnsiString::operator+=(const AnsiString& rhs) {
  FData += rhs.FData;
  return *this;
}

AnsiString& AnsiString::operator+=(const char* rhs) {
  if (rhs) FData += rhs;
  return *this;
}

AnsiString& AnsiString::operator+=(char c) {
  FData += c;
  return *this;
}

AnsiString operator+(const AnsiString& lhs, const AnsiString& rhs) {
  std::string r;
  r.reserve(lhs.FData.size() + rhs.FData.size());
  r += lhs.FData;
  r += rhs.FData;
  return AnsiString(std::move(r));
}

AnsiString operator+(const AnsiString& lhs, const char* rhs) { return lhs + AnsiString(rhs); }
AnsiString operator+(const char* lhs, const AnsiString& rhs) { return AnsiString(lhs) + rhs; }
AnsiString operator+(const AnsiString& lhs, char rhs) { return lhs + AnsiString(rhs); }
AnsiString operator+(char lhs, const AnsiString& rhs) { return AnsiString(lhs) + rhs; }

std::ostream& operator<<(std::ostream& os, const AnsiString& s) { return os << s.str(); }

}  // namespace Tx
