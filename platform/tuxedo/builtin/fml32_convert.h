// Conversion of values between the seven basic FML32 types, as the
// conversion functions (CFadd32, CFchg32, CFget32, CFfind32) apply it.
// Builtin-only.
#pragma once

#include <fml32.h>

#include <cstddef>
#include <vector>

namespace Tx::Fml32Builtin {

// True when `type` takes part in conversions (short .. carray). Otherwise
// sets Ferror32: FEBADOP for ptr, fml32 and view32, FTYPERR for the rest.
bool CheckConvertibleType(int type) noexcept;

// Length of a user-supplied value of `type`: the fixed size of numbers and
// char, strlen + 1 of a string, `length` of a carray.
std::size_t UserValueLength(int type, const char* value, FLDLEN32 length) noexcept;

// Converts `value` (`length` bytes as stored, a string including its
// terminating zero) from `fromType` to `toType` into `out`, which then holds
// the converted value as it would be stored (a string with its zero).
// Both types must have passed CheckConvertibleType. False with FMALLOC when
// memory runs out.
bool ConvertValue(int fromType, const char* value, std::size_t length, int toType,
                  std::vector<char>& out) noexcept;

}  // namespace Tx::Fml32Builtin
