// Small helpers shared by the FML32 and ATMI tests of this folder.
#pragma once

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "../../../platform/tuxedo/builtin/atmi_control.h"
#include "../../../platform/tuxedo/builtin/atmi_testing.h"

namespace TuxTest {

namespace Atmi = Tx::AtmiBuiltin;
using Atmi::ClientThread;
using Atmi::TpBuffer;

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};
using Fbfr = std::unique_ptr<FBFR32, FreeFbfr>;

// The C interfaces take char* even for what they only read.
inline char* Text(const char* text) { return const_cast<char*>(text); }
template <typename T>
char* Raw(T& value) {
  return reinterpret_cast<char*>(&value);
}
template <typename T>
std::string BytesOf(T value) {
  return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

// The field tables of tests/data/fml32.
inline std::string TableDir() {
  const char* data = std::getenv("TXLIB_TESTDATA");
  return std::string(data != nullptr ? data : "tests/data") + "/fml32";
}
// Unloads the field tables and names new ones; null unsets FIELDTBLS32.
inline void UseTables(const std::string& dirs, const char* tables) {
  Fnmid_unload32();
  Fidnm_unload32();
  setenv("FLDTBLDIR32", dirs.c_str(), 1);
  tables != nullptr ? setenv("FIELDTBLS32", tables, 1) : unsetenv("FIELDTBLS32");
}
inline FLDID32 Id(const char* name) { return Fldid32(Text(name)); }

// A call that must have failed with `error`; the error number is cleared
// for the next check.
inline void ExpectFerror(bool failed, int error, const std::string& what) {
  EXPECT_TRUE(failed) << what;
  EXPECT_EQ(Ferror32, error) << what;
  Ferror32 = 0;
}
inline void ExpectTperrno(long result, int error, const std::string& what) {
  EXPECT_EQ(result, -1) << what;
  EXPECT_EQ(tperrno, error) << what;
  tperrno = 0;
}
inline void ExpectTperrno(const void* result, int error, const std::string& what) {
  ExpectTperrno(result == nullptr ? -1L : 0L, error, what);
}

}  // namespace TuxTest
