// Internal to the framework layer: the UTF-8 coding shared by AnsiString and
// WideString. Not for the library's units.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace Tx::detail {

// What DecodeUtf8 returns for a malformed sequence (no code point has it).
inline constexpr char32_t kMalformedUtf8 = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at text[i] (i < text.size()) and advances i past
// it. A malformed sequence (bad lead byte, missing or bad continuation,
// overlong form, surrogate, value above U+10FFFF) yields kMalformedUtf8 and
// consumes one byte, so decoding resynchronises on the next byte.
char32_t DecodeUtf8(std::string_view text, std::size_t& i) noexcept;

// Appends the UTF-8 form of a code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t codePoint);

// The byte-to-byte case maps of Windows-1250 (AnsiString::UpperCase and
// LowerCase): a letter maps only when its counterpart has a byte too.
const std::array<unsigned char, 256>& UpperCaseTable() noexcept;
const std::array<unsigned char, 256>& LowerCaseTable() noexcept;

}  // namespace Tx::detail
