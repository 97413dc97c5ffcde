// Locale comparison and case mapping of Windows-1250 text.
//
// The locale comparisons use ICU collation for the user's locale, taken from
// the environment (LC_ALL, else LC_COLLATE, else LANG, encoding and modifier
// dropped: "pl_PL.UTF-8" gives "pl_PL"). When none is set, or it is "C" or
// "POSIX", Polish ("pl_PL") is used, the language of the library's users.
// Polish order puts each accented letter after its base letter as a letter
// of its own: a < ą < b, l < ł < m, s < ś < t, z < ź < ż.
//
// Like the Windows comparisons they stand in for:
//  - the default "word sort" gives the hyphen, the apostrophe and the other
//    punctuation and blanks minimal weight (they count only when the texts
//    are otherwise equal), so "co-op" sorts next to "coop"; SORT_STRINGSORT
//    treats them as symbols that sort before digits and letters;
//  - NORM_IGNORECASE ignores only case: "ą" equals "Ą", but "a" and "ą" differ;
//  - the comparison of a string with itself, byte for byte, is always equal.
// Collators are opened once per thread and locale and kept; comparisons take
// no lock.
#pragma once

#include <string>

#include "platform/framework/AnsiString.h"

namespace Tx {

// ---- The Windows comparison ---------------------------------------------------

inline constexpr unsigned long LOCALE_USER_DEFAULT = 0x0400;
inline constexpr unsigned long LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr unsigned long LOCALE_INVARIANT = 0x007F;

inline constexpr unsigned long NORM_IGNORECASE = 0x00000001;
inline constexpr unsigned long NORM_IGNORENONSPACE = 0x00000002;  // ignore accents
inline constexpr unsigned long NORM_IGNORESYMBOLS = 0x00000004;   // ignore punctuation and symbols
inline constexpr unsigned long SORT_STRINGSORT = 0x00001000;
inline constexpr unsigned long NORM_IGNOREKANATYPE = 0x00010000;  // no effect on Windows-1250
inline constexpr unsigned long NORM_IGNOREWIDTH = 0x00020000;     // no effect on Windows-1250

inline constexpr int CSTR_LESS_THAN = 1;
inline constexpr int CSTR_EQUAL = 2;
inline constexpr int CSTR_GREATER_THAN = 3;

// Compares two Windows-1250 texts; returns CSTR_LESS_THAN, CSTR_EQUAL or
// CSTR_GREATER_THAN, or 0 for bad arguments (a null text with a non-zero
// count, a count below -1, a flag outside those above, a locale id ICU does
// not know). A count of -1 means the text ends at its zero byte; any other
// count takes exactly that many bytes, zeros included (a zero byte has no
// weight of its own, but what follows it is compared). locale is
// LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT or 0 (the collation locale
// below), LOCALE_INVARIANT (ICU's root order) or a Windows locale id such as
// 0x0415 (Polish).
int CompareStringA(unsigned long locale, unsigned long flags, const char* string1, int count1,
                   const char* string2, int count2) noexcept;

// The collation key of a text under CompareStringA's user-locale comparison
// with the same flags: two keys compared as unsigned bytes (std::string's
// order) give the order CompareStringA gives the texts, and equal keys mean
// CSTR_EQUAL. A key holds no zero byte but its last, so keys joined one after
// another still compare field by field. Sorting by keys costs one collation
// per text instead of one per comparison. The key is appended to `key`.
void CompareStringKeyA(unsigned long flags, const char* text, int count, std::string& key);

// ---- The framework's comparisons and case mapping --------------------------------

// Case-sensitive locale comparison (word sort): <0, 0 or >0 (-1, 0 or 1).
int AnsiCompareStr(const AnsiString& s1, const AnsiString& s2) noexcept;
// Case-insensitive locale comparison (word sort): <0, 0 or >0 (-1, 0 or 1).
int AnsiCompareText(const AnsiString& s1, const AnsiString& s2) noexcept;
bool AnsiSameStr(const AnsiString& s1, const AnsiString& s2) noexcept;
bool AnsiSameText(const AnsiString& s1, const AnsiString& s2) noexcept;
// Windows-1250 case mapping of every letter with a one-byte counterpart
// (ą/Ą, ł/Ł, ś/Ś, ź/Ź, ż/Ż, š/Š, ő/Ő ...); ß and other letters without one
// stay as they are.
AnsiString AnsiUpperCase(const AnsiString& s);
AnsiString AnsiLowerCase(const AnsiString& s);
// 1-based position of sub in s, or 0.
int AnsiPos(const AnsiString& sub, const AnsiString& s) noexcept;

// The framework's ordinal functions: bytes compared as unsigned values;
// CompareText / SameText / UpperCase / LowerCase fold only ASCII letters.
int CompareStr(const AnsiString& s1, const AnsiString& s2) noexcept;
int CompareText(const AnsiString& s1, const AnsiString& s2) noexcept;
bool SameText(const AnsiString& s1, const AnsiString& s2) noexcept;
AnsiString UpperCase(const AnsiString& s);
AnsiString LowerCase(const AnsiString& s);

// ---- Collation locale ------------------------------------------------------------

// The ICU locale name the comparisons use now ("pl_PL", "de_DE", ...).
std::string CollationLocale();
// Uses the given ICU locale name from now on, in every thread ("" means
// ICU's root order). For tests and applications that choose the locale.
void SetCollationLocale(const std::string& icuLocale);
// Reads the locale from the environment again (LC_ALL, LC_COLLATE, LANG).
void ResetCollationFromEnvironment();
// The ICU locale name the environment gives, by the rules above.
std::string CollationLocaleFromEnvironment();

}  // namespace Tx
