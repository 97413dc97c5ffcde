// Whole-value regular expressions for Ffindocc32 and the %% operator.
#include "fml32_pattern.h"

#include <new>

namespace Tx::Fml32Builtin {

namespace {

constexpr long kMaxBound = 255;

// False for the patterns CompileWholeMatch refuses before compiling.
bool Tame(const std::string& pattern) {
  bool afterRepetition = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\') {
      ++i;
      afterRepetition = false;
    } else if (c == '[') {
      // A bracket expression, where ']' right after '[' or "[^" is literal.
      std::size_t j = i + 1;
      if (j < pattern.size() && pattern[j] == '^') ++j;
      if (j < pattern.size() && pattern[j] == ']') ++j;
      while (j < pattern.size() && pattern[j] != ']') ++j;
      i = j;
      afterRepetition = false;
    } else if (c == '*' || c == '+' || c == '?' || c == '{') {
      if (afterRepetition) return false;
      if (c == '{') {
        const std::size_t close = pattern.find('}', i);
        if (close == std::string::npos) return true;  // regcomp refuses it
        for (std::size_t k = i + 1; k < close; ++k) {
          if (pattern[k] < '0' || pattern[k] > '9') continue;
          long bound = 0;
          while (k < close && pattern[k] >= '0' && pattern[k] <= '9' && bound <= kMaxBound) {
            bound = bound * 10 + (pattern[k++] - '0');
          }
          if (bound > kMaxBound) return false;
        }
        i = close;
      }
      afterRepetition = true;
    } else {
      afterRepetition = false;
    }
  }
  return true;
}

}  // namespace

bool CompileWholeMatch(const std::string& pattern, regex_t& regex) noexcept {
  try {
    if (!Tame(pattern)) return false;
    const std::string anchored = "^(" + pattern + ")$";
    return regcomp(&regex, anchored.c_str(), REG_EXTENDED | REG_NOSUB) == 0;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace Tx::Fml32Builtin
