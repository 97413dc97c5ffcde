// WideString: the framework's UTF-16 string, used only where text crosses a
// COM boundary (BSTR arguments and results).
//
// Conversions to and from AnsiString use the Windows-1250 table of
// AnsiString.h: every byte has a UTF-16 unit (the five undefined bytes map to
// the C1 controls of the same value), and a character without a byte becomes
// '?' (a surrogate pair, one character, becomes one '?'). Positions are
// 1-based like AnsiString's. Comparisons compare UTF-16 code units.
#pragma once

#include <compare>
#include <string>
#include <string_view>

#include "platform/framework/AnsiString.h"

namespace Tx {

class WideString {
 public:
  WideString() = default;
  WideString(const char16_t* text);  // NOLINT: zero-terminated; nullptr gives ""
  // length units from text (zeros included); nullptr or length <= 0 gives "".
  WideString(const char16_t* text, int length);
  WideString(std::u16string_view text);   // NOLINT
  WideString(std::u16string text) noexcept;  // NOLINT
  // Windows-1250 bytes to UTF-16.
  explicit WideString(const AnsiString& text);
  explicit WideString(const char* text);  // Windows-1250, zero-terminated

  // A zero-terminated UTF-16 view, as a BSTR is read; valid until the string
  // changes. Never nullptr (an empty string gives a pointer to a zero unit).
  const char16_t* c_bstr() const noexcept { return FData.c_str(); }
  const char16_t* data() const noexcept { return FData.data(); }
  // Length in UTF-16 code units.
  int Length() const noexcept { return static_cast<int>(FData.size()); }
  bool IsEmpty() const noexcept { return FData.empty(); }

  // 1-based access; an index outside 1..Length() throws ERangeError.
  char16_t& operator[](int index);
  char16_t operator[](int index) const;

  // To Windows-1250 (the same as AnsiString(const WideString&)).
  AnsiString ToAnsiString() const;

  WideString& operator+=(const WideString& rhs);
  friend WideString operator+(const WideString& lhs, const WideString& rhs);

  friend bool operator==(const WideString& a, const WideString& b) noexcept {
    return a.FData == b.FData;
  }
  friend std::strong_ordering operator<=>(const WideString& a, const WideString& b) noexcept {
    const int c = a.FData.compare(b.FData);
    return c < 0 ? std::strong_ordering::less
                 : (c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
  }

  const std::u16string& str() const noexcept { return FData; }
  std::u16string_view view() const noexcept { return FData; }

 private:
  std::u16string FData;
};

// UTF-16 <-> UTF-8, for edges that speak UTF-8 (XML, terminals). An unpaired
// surrogate becomes U+FFFD; malformed UTF-8 becomes U+FFFD per offending byte.
std::string WideToUtf8(const WideString& text);
WideString Utf8ToWide(std::string_view utf8);

}  // namespace Tx
