// Helpers shared by the buffer tests.
#pragma once

#include <fml32.h>
#include <gtest/gtest.h>

#include <string>

#include "buffer/TxFbfr.h"
#include "platform/tuxedo/FmlCalls.h"

namespace Tx {

// The message of the E that f raises, or a text saying it raised none.
template <class E, class F>
AnsiString MessageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message;
  }
  return "(no exception)";
}

inline void AddLong(TTxFbfr& b, FLDID32 id, long value) {
  ASSERT_NE(Fadd32(b.GetFbfrP(), id, reinterpret_cast<char*>(&value), 0), -1);
}
inline void AddString(TTxFbfr& b, FLDID32 id, const char* value) {
  ASSERT_NE(Fadd32(b.GetFbfrP(), id, const_cast<char*>(value), 0), -1);
}
inline void AddBytes(TTxFbfr& b, FLDID32 id, int length) {
  const std::string bytes(static_cast<std::size_t>(length), 'x');
  ASSERT_NE(Fadd32(b.GetFbfrP(), id, const_cast<char*>(bytes.data()), length), -1);
}

}  // namespace Tx
