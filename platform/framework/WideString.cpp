#include "platform/framework/WideString.h"

#include "platform/framework/Exceptions.h"
#include "platform/framework/TextCodec.h"

namespace Tx {
namespace {

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// The code point at text[i], advancing i past it; an unpaired surrogate is
// returned as itself (one unit).
char32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
  const char16_t u = text[i++];
  if (IsHighSurrogate(u) && i < text.size() && IsLowSurrogate(text[i])) {
    const char16_t low = text[i++];
    return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (static_cast<char32_t>(low) - 0xDC00);
  }
  return u;
}

std::u16string FromCp1250(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (char c : bytes) out += static_cast<char16_t>(Cp1250ToUnicode(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

WideString::WideString(const char16_t* text) : FData(text ? text : u"") {}
WideString::WideString(const char16_t* text, int length)
    : FData(text && length > 0 ? std::u16string(text, static_cast<std::size_t>(length))
                               : std::u16string()) {}
WideString::WideString(std::u16string_view text) : FData(text) {}
WideString::WideString(std::u16string text) noexcept : FData(std::move(text)) {}
WideString::WideString(const AnsiString& text) : FData(FromCp1250(text.view())) {}
WideString::WideString(const char* text) : FData(FromCp1250(text ? text : "")) {}

char16_t& WideString::operator[](int index) {
  if (index < 1 || index > Length()) throw ERangeError();
  return FData[static_cast<std::size_t>(index - 1)];
}

char16_t WideString::operator[](int index) const {
  if (index < 1 || index > Length()) throw ERangeError();
  return FData[static_cast<std::size_t>(index - 1)];
}

AnsiString WideString::ToAnsiString() const {
  std::string out;
  out.reserve(FData.size());
  for (std::size_t i = 0; i < FData.size();) {
    const int b = UnicodeToCp1250(NextCodePoint(FData, i));
    out += b < 0 ? '?' : static_cast<char>(b);
  }
  return AnsiString(std::move(out));
}

WideString& WideString::operator+=(const WideString& rhs) {
  FData += rhs.FData;
  return *this;
}

WideString operator+(const WideString& lhs, const WideString& rhs) {
  WideString r(lhs);
  r += rhs;
  return r;
}

std::string WideToUtf8(const WideString& text) {
  std::string out;
  out.reserve(static_cast<std::size_t>(text.Length()) * 2);
  const std::u16string_view units = text.view();
  for (std::size_t i = 0; i < units.size();) {
    char32_t cp = NextCodePoint(units, i);
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;  // unpaired surrogate
    detail::AppendUtf8(out, cp);
  }
  return out;
}

WideString Utf8ToWide(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = detail::DecodeUtf8(utf8, i);
    if (cp == detail::kMalformedUtf8) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return WideString(std::move(out));
}

AnsiString::AnsiString(const WideString& text) : AnsiString(text.ToAnsiString()) {}

}  // namespace Tx
