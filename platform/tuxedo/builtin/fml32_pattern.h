// The regular expressions of Ffindocc32 and of the %% operator of
// expressions: extended syntax, matched against whole values. Builtin-only.
#pragma once

#include <regex.h>

#include <string>

namespace Tx::Fml32Builtin {

// Compiles `pattern` anchored at both ends. Refuses (false) what does not
// compile and, before that, stacked repetitions such as "a++" or "a*{2}"
// (undefined in the syntax) and bounds above 255, which can make the C
// library's matcher take memory and time out of all proportion. On success
// the caller frees `regex` with regfree.
bool CompileWholeMatch(const std::string& pattern, regex_t& regex) noexcept;

}  // namespace Tx::Fml32Builtin
