// How the expression compiler and printer of fml32_bool.cpp name fields.
// Normally through the field tables; the view forms of the expression
// functions (Fvboolco32, ...) name structure members instead and install
// their own naming on the calling thread for the length of one call.
// Builtin-only.
#pragma once

#include <fml32.h>

#include <string>

namespace Tx::Fml32Builtin {

class ExpressionNames {
 public:
  virtual ~ExpressionNames() = default;
  // The id that stands for `name`, or BADFLDID with Ferror32 set.
  virtual FLDID32 IdOf(const std::string& name) const = 0;
  // The name printed for `id`, or null when it has none.
  virtual const char* NameOf(FLDID32 id) const = 0;
};

namespace Detail {
inline constinit thread_local const ExpressionNames* expressionNames = nullptr;
}  // namespace Detail

// Installs `names` on this thread until the scope ends.
class UseExpressionNames {
 public:
  explicit UseExpressionNames(const ExpressionNames& names) noexcept : saved_(Detail::expressionNames) {
    Detail::expressionNames = &names;
  }
  ~UseExpressionNames() { Detail::expressionNames = saved_; }
  UseExpressionNames(const UseExpressionNames&) = delete;
  UseExpressionNames& operator=(const UseExpressionNames&) = delete;

 private:
  const ExpressionNames* saved_;
};

}  // namespace Tx::Fml32Builtin
