// AnsiString: the framework's 8-bit string. Every text the library stores,
// compares or produces is held in it as Windows-1250 bytes.
//
// Character positions are 1-based, as in the framework (operator[],
// SubString, Pos, Insert, Delete). A string may hold any byte, zero included.
//
// Source files are UTF-8; texts written in the code go through "..."_ansi
// (or Utf8ToAnsi), which converts them to Windows-1250 once, here.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace Tx {

class AnsiString {
 public:
  AnsiString() = default;
  AnsiString(const char* text);  // NOLINT: bytes taken as Windows-1250; nullptr gives ""
  AnsiString(const char* bytes, int length);
  AnsiString(std::string_view bytes);  // NOLINT
  AnsiString(const std::string& bytes);  // NOLINT
  AnsiString(std::string&& bytes) noexcept;  // NOLINT
  explicit AnsiString(char c);
  // Numbers are written in plain decimal (the framework's constructors).
  explicit AnsiString(int value);
  explicit AnsiString(unsigned int value);
  explicit AnsiString(long value);
  explicit AnsiString(unsigned long value);
  explicit AnsiString(long long value);
  explicit AnsiString(double value);

  // A zero-terminated view of the bytes; valid until the string changes.
  const char* c_str() const noexcept { return FData.c_str(); }
  const char* data() const noexcept { return FData.data(); }
  int Length() const noexcept { return static_cast<int>(FData.size()); }
  bool IsEmpty() const noexcept { return FData.empty(); }

  // 1-based access; an index outside 1..Length() throws ERangeError.
  char& operator[](int index);
  char operator[](int index) const;

  // Up to count bytes from 1-based index; out-of-range parts are clipped.
  AnsiString SubString(int index, int count) const;
  // 1-based position of the first occurrence of sub, or 0.
  int Pos(const AnsiString& sub) const;
  AnsiString& Insert(const AnsiString& text, int index);
  AnsiString& Delete(int index, int count);
  AnsiString& SetLength(int newLength);

  AnsiString Trim() const;       // drops bytes <= ' ' at both ends
  AnsiString TrimLeft() const;
  AnsiString TrimRight() const;
  AnsiString UpperCase() const;  // Windows-1250 letters, Polish included
  AnsiString LowerCase() const;

  // Decimal (or $hex) integer; EConvertError on bad text.
  int ToInt() const;
  int ToIntDef(int defaultValue) const;
  // Decimal floating-point text; EConvertError on bad text.
  double ToDouble() const;

  static AnsiString StringOfChar(char c, int count);

  AnsiString& operator+=(const AnsiString& rhs);
  AnsiString& operator+=(char c);
  friend AnsiString operator+(const AnsiString& lhs, const AnsiString& rhs);
  friend AnsiString operator+(const AnsiString& lhs, const char* rhs);
  friend AnsiString operator+(const char* lhs, const AnsiString& rhs);

  // Byte-wise comparisons; locale-aware ones are AnsiCompareStr/AnsiCompareText.
  friend bool operator==(const AnsiString& a, const AnsiString& b) noexcept {
    return a.FData == b.FData;
  }
  friend bool operator==(const AnsiString& a, const char* b) noexcept {
    return a.FData == (b ? b : "");
  }
  friend std::strong_ordering operator<=>(const AnsiString& a, const AnsiString& b) noexcept {
    const int c = a.FData.compare(b.FData);
    return c < 0 ? std::strong_ordering::less
                 : (c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
  }

  const std::string& str() const noexcept { return FData; }
  std::string_view view() const noexcept { return FData; }

 private:
  std::string FData;
};

std::ostream& operator<<(std::ostream& os, const AnsiString& s);

// ---- Code pages -------------------------------------------------------------
// Windows-1250 <-> Unicode follows the published code-page table. The five
// bytes the table leaves undefined (0x81 0x83 0x88 0x90 0x98) map to the C1
// control of the same value and back, so every byte string round-trips.
// Code points with no Windows-1250 byte become '?'.

char32_t Cp1250ToUnicode(unsigned char byte) noexcept;
// The Windows-1250 byte for a code point, or -1 when it has none.
int UnicodeToCp1250(char32_t codePoint) noexcept;

AnsiString Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(const AnsiString& text);

// A UTF-8 literal from the source, as Windows-1250: "Błąd"_ansi.
inline AnsiString operator""_ansi(const char* utf8, std::size_t length) {
  return Utf8ToAnsi(std::string_view(utf8, length));
}

}  // namespace Tx
