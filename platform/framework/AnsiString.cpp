#include "platform/framework/AnsiString.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ostream>

#include "platform/framework/Exceptions.h"

namespace Tx {
namespace {

// Upper half of Windows-1250 (bytes 0x80..0xFF) as Unicode code points, from
// the published table. The five undefined bytes stand for themselves (C1).
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

// Reverse map for the code points above 0x7F that have a byte.
struct ReverseTable {
  std::array<std::pair<char16_t, unsigned char>, 128> entries{};
  ReverseTable() {
    for (int i = 0; i < 128; ++i) entries[i] = {kUpperHalf[i], static_cast<unsigned char>(0x80 + i)};
    std::sort(entries.begin(), entries.end());
  }
};

const ReverseTable& Reverse() {
  static const ReverseTable table;
  return table;
}

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

// Decodes one UTF-8 sequence at text[i]; a malformed one yields U+FFFD and
// consumes one byte.
char32_t NextUtf8(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  int extra = 0;
  char32_t cp = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + extra >= text.size()) {  // truncated sequence
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k <= extra; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  i += extra + 1;
  return cp;
}

char MapCase(char c, bool upper) {
  const unsigned char b = static_cast<unsigned char>(c);
  if (b < 0x80) {
    if (upper && b >= 'a' && b <= 'z') return static_cast<char>(b - 32);
    if (!upper && b >= 'A' && b <= 'Z') return static_cast<char>(b + 32);
    return c;
  }
  const char32_t cp = Cp1250ToUnicode(b);
  const char32_t mapped = static_cast<char32_t>(upper ? u_toupper(static_cast<UChar32>(cp))
                                                      : u_tolower(static_cast<UChar32>(cp)));
  const int back = UnicodeToCp1250(mapped);
  return back < 0 ? c : static_cast<char>(back);
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

[[noreturn]] void ThrowNotInteger(const std::string& text) {
  throw EConvertError(AnsiString("'") + AnsiString(text) + "' is not a valid integer value");
}

}  // namespace

char32_t Cp1250ToUnicode(unsigned char byte) noexcept {
  return byte < 0x80 ? byte : kUpperHalf[byte - 0x80];
}

int UnicodeToCp1250(char32_t codePoint) noexcept {
  if (codePoint < 0x80) return static_cast<int>(codePoint);
  if (codePoint > 0xFFFF) return -1;
  const auto& e = Reverse().entries;
  const auto it = std::lower_bound(e.begin(), e.end(), std::pair<char16_t, unsigned char>(
                                                           static_cast<char16_t>(codePoint), 0));
  if (it != e.end() && it->first == codePoint) return it->second;
  return -1;
}

AnsiString Utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = NextUtf8(utf8, i);
    const int b = UnicodeToCp1250(cp);
    out += b < 0 ? '?' : static_cast<char>(b);
  }
  return AnsiString(std::move(out));
}

std::string AnsiToUtf8(const AnsiString& text) {
  std::string out;
  out.reserve(static_cast<std::size_t>(text.Length()) * 2);
  for (char c : text.view()) AppendUtf8(out, Cp1250ToUnicode(static_cast<unsigned char>(c)));
  return out;
}

AnsiString::AnsiString(const char* text) : FData(text ? text : "") {}
AnsiString::AnsiString(const char* bytes, int length)
    : FData(bytes && length > 0 ? std::string(bytes, static_cast<std::size_t>(length)) : std::string()) {}
AnsiString::AnsiString(std::string_view bytes) : FData(bytes) {}
AnsiString::AnsiString(const std::string& bytes) : FData(bytes) {}
AnsiString::AnsiString(std::string&& bytes) noexcept : FData(std::move(bytes)) {}
AnsiString::AnsiString(char c) : FData(1, c) {}
AnsiString::AnsiString(int value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(unsigned int value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(long value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(unsigned long value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(long long value) : FData(std::to_string(value)) {}
AnsiString::AnsiString(double value) {
  // Shortest text that reads back as the same value, like the framework's
  // FloatToStr for ordinary magnitudes.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", value);
  FData = buf;
}

char& AnsiString::operator[](int index) {
  if (index < 1 || index > Length()) throw ERangeError();
  return FData[static_cast<std::size_t>(index - 1)];
}

char AnsiString::operator[](int index) const {
  if (index < 1 || index > Length()) throw ERangeError();
  return FData[static_cast<std::size_t>(index - 1)];
}

AnsiString AnsiString::SubString(int index, int count) const {
  if (index < 1) {
    count += index - 1;
    index = 1;
  }
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

AnsiString AnsiString::UpperCase() const {
  std::string out(FData);
  for (char& c : out) c = MapCase(c, true);
  return AnsiString(std::move(out));
}

AnsiString AnsiString::LowerCase() const {
  std::string out(FData);
  for (char& c : out) c = MapCase(c, false);
  return AnsiString(std::move(out));
}

int AnsiString::ToInt() const {
  // Leading and trailing blanks are allowed; a '$' or "0x" prefix means hex.
  const AnsiString trimmed = Trim();
  const std::string& t = trimmed.str();
  if (t.empty()) ThrowNotInteger(FData);
  bool negative = false;
  std::size_t i = 0;
  if (t[i] == '-' || t[i] == '+') {
    negative = t[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) ThrowNotInteger(FData);
  long long value = 0;
  const auto [end, ec] = std::from_chars(t.data() + i, t.data() + t.size(), value, base);
  if (ec != std::errc() || end != t.data() + t.size()) ThrowNotInteger(FData);
  if (negative) value = -value;
  if (base == 10 && (value < INT32_MIN || value > INT32_MAX)) ThrowNotInteger(FData);
  if (base == 16) {
    if (value > 0xFFFFFFFFLL || value < -0xFFFFFFFFLL) ThrowNotInteger(FData);
    return static_cast<int>(static_cast<std::uint32_t>(value));
  }
  return static_cast<int>(value);
}

int AnsiString::ToIntDef(int defaultValue) const {
  try {
    return ToInt();
  } catch (const EConvertError&) {
    return defaultValue;
  }
}

double AnsiString::ToDouble() const {
  const std::string t = Trim().FData;
  if (!t.empty()) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(t.c_str(), &end);
    if (end == t.c_str() + t.size() && errno != ERANGE && std::isfinite(v) &&
        t.find_first_of("xXnN") == std::string::npos)
      return v;
  }
  throw EConvertError(AnsiString("'") + *this + "' is not a valid floating point value");
}

AnsiString AnsiString::StringOfChar(char c, int count) {
  return AnsiString(std::string(static_cast<std::size_t>(std::max(count, 0)), c));
}

AnsiString& AnsiString::operator+=(const AnsiString& rhs) {
  FData += rhs.FData;
  return *this;
}

AnsiString& AnsiString::operator+=(char c) {
  FData += c;
  return *this;
}

AnsiString operator+(const AnsiString& lhs, const AnsiString& rhs) {
  AnsiString r(lhs);
  r += rhs;
  return r;
}

AnsiString operator+(const AnsiString& lhs, const char* rhs) { return lhs + AnsiString(rhs); }
AnsiString operator+(const char* lhs, const AnsiString& rhs) { return AnsiString(lhs) + rhs; }

std::ostream& operator<<(std::ostream& os, const AnsiString& s) { return os << s.str(); }

void Abort() { throw EAbort(AnsiString("Operation aborted")); }

}  // namespace Tx
