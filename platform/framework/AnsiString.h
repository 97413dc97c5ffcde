// AnsiString: the framework's 8-bit string. Every text the library stores,
// compares or produces is held in it as Windows-1250 bytes.
//
// Character positions are 1-based, as in the framework (operator[],
// SubString, Pos, Insert, Delete). A string may hold any byte, zero included.
// Equality and operator<=> compare bytes; the locale-aware comparisons are
// AnsiCompareStr / AnsiCompareText in TextCompare.h.
//
// Source files are UTF-8; texts written in the code go through "..."_ansi
// (or Utf8ToAnsi), which converts them to Windows-1250 once, here.
// AnsiToUtf8 is for the edge where text leaves for a terminal or a file
// that wants UTF-8.
#pragma once

#include <compare>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>

namespace Tx {

class WideString;
struct TVarRec;

class AnsiString {
 public:
  AnsiString() = default;
  AnsiString(const char* text);  // NOLINT: bytes taken as Windows-1250; nullptr gives ""
  // length bytes from bytes (zeros included); nullptr or length <= 0 gives "".
  AnsiString(const char* bytes, int length);
  AnsiString(std::string_view bytes);        // NOLINT
  AnsiString(const std::string& bytes);      // NOLINT
  AnsiString(std::string&& bytes) noexcept;  // NOLINT
  // UTF-16 to Windows-1250; characters the code page lacks become '?'.
  AnsiString(const WideString& text);  // NOLINT: the framework converts implicitly
  explicit AnsiString(char c);
  // Integers are written in plain decimal, as the framework's constructors do.
  explicit AnsiString(int value);
  explicit AnsiString(unsigned int value);
  explicit AnsiString(long value);
  explicit AnsiString(unsigned long value);
  explicit AnsiString(long long value);
  explicit AnsiString(unsigned long long value);
  // A double is written as FloatToStr writes it (general format, 15
  // significant digits, FormatSettings' decimal separator).
  explicit AnsiString(double value);

  // A zero-terminated view of the bytes; valid until the string changes.
  const char* c_str() const noexcept { return FData.c_str(); }
  const char* data() const noexcept { return FData.data(); }
  int Length() const noexcept { return static_cast<int>(FData.size()); }
  bool IsEmpty() const noexcept { return FData.empty(); }

  // 1-based access; an index outside 1..Length() throws ERangeError.
  char& operator[](int index);
  char operator[](int index) const;

  // Up to count bytes from 1-based index. An index below 1 counts as 1 (the
  // count is not shortened); an index past the end or count <= 0 gives "".
  AnsiString SubString(int index, int count) const;
  // 1-based position of the first occurrence of sub, or 0 (also for an empty sub).
  int Pos(const AnsiString& sub) const;
  // Inserts text before position index; index < 1 inserts at the front,
  // index > Length() appends.
  AnsiString& Insert(const AnsiString& text, int index);
  // Removes up to count bytes from index; nothing when index is outside
  // 1..Length() or count <= 0.
  AnsiString& Delete(int index, int count);
  // Cuts or extends (with zero bytes) to newLength; negative means 0.
  AnsiString& SetLength(int newLength);
  // 1-based position of the last byte of this string that occurs in
  // delimiters, or 0.
  int LastDelimiter(const AnsiString& delimiters) const;
  // True when the byte at 1-based index occurs in delimiters.
  bool IsDelimiter(const AnsiString& delimiters, int index) const;

  AnsiString Trim() const;       // drops bytes <= ' ' at both ends
  AnsiString TrimLeft() const;
  AnsiString TrimRight() const;
  // Windows-1250 case mapping of every letter that has a one-byte
  // counterpart (Polish letters included); others stay as they are.
  AnsiString UpperCase() const;
  AnsiString LowerCase() const;
  // Locale comparisons (see TextCompare.h): <0, 0 or >0.
  int AnsiCompare(const AnsiString& rhs) const;
  int AnsiCompareIC(const AnsiString& rhs) const;

  // StrToInt of the text: decimal, or hexadecimal after '$' / "0x"; leading
  // spaces allowed. EConvertError "'<text>' is not a valid integer value".
  int ToInt() const;
  int ToIntDef(int defaultValue) const noexcept;
  // StrToFloat of the text (FormatSettings' decimal separator); EConvertError
  // "'<text>' is not a valid floating point value".
  double ToDouble() const;

  static AnsiString StringOfChar(char c, int count);

  // The framework's Format over this pattern (see Format.h).
  static AnsiString Format(const AnsiString& pattern, const TVarRec* args, int high);
  static AnsiString Format(const AnsiString& pattern, std::initializer_list<TVarRec> args);

  // C library printf formatting (vsnprintf), as the framework's sprintf
  // members do; '%s' takes a const char*, not an AnsiString (use c_str()).
  // sprintf/printf replace the contents, cat_sprintf appends. printf
  // returns the number of bytes written.
  AnsiString& sprintf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  AnsiString& cat_sprintf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  AnsiString& operator+=(const AnsiString& rhs);
  AnsiString& operator+=(const char* rhs);
  AnsiString& operator+=(char c);
  friend AnsiString operator+(const AnsiString& lhs, const AnsiString& rhs);
  friend AnsiString operator+(const AnsiString& lhs, const char* rhs);
  friend AnsiString operator+(const char* lhs, const AnsiString& rhs);
  friend AnsiString operator+(const AnsiString& lhs, char rhs);
  friend AnsiString operator+(char lhs, const AnsiString& rhs);

  // Byte-wise comparisons (bytes as unsigned); locale-aware ones are
  // AnsiCompareStr/AnsiCompareText.
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
  friend std::strong_ordering operator<=>(const AnsiString& a, const char* b) noexcept {
    return a <=> AnsiString(b);
  }

  const std::string& str() const noexcept { return FData; }
  std::string_view view() const noexcept { return FData; }

 private:
  AnsiString& AppendFormatted(const char* format, va_list args);
  AnsiString& AssignFormatted(const char* format, va_list args);

  std::string FData;
};

std::ostream& operator<<(std::ostream& os, const AnsiString& s);

// ---- Code pages -------------------------------------------------------------
// Windows-1250 <-> Unicode follows the published code-page table. The five
// bytes the table leaves undefined (0x81 0x83 0x88 0x90 0x98) map to the C1
// control of the same value (U+0081 ...) and back, so every byte string
// survives a round trip through UTF-8 or UTF-16 unchanged. Code points with
// no Windows-1250 byte become '?'.

char32_t Cp1250ToUnicode(unsigned char byte) noexcept;
// The Windows-1250 byte for a code point, or -1 when it has none.
int UnicodeToCp1250(char32_t codePoint) noexcept;

// UTF-8 to Windows-1250. Malformed input (a stray continuation byte, a
// truncated or overlong sequence, a surrogate, a value above U+10FFFF)
// becomes one '?' per offending byte; the input is never read past its end.
AnsiString Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(const AnsiString& text);

// A UTF-8 literal from the source, as Windows-1250: "Błąd"_ansi.
inline AnsiString operator""_ansi(const char* utf8, std::size_t length) {
  return Utf8ToAnsi(std::string_view(utf8, length));
}

}  // namespace Tx
