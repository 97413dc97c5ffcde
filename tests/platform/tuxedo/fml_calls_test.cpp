// The reads of FmlCalls.h as an engine without Fvall32, Fvals32 and the
// table unloads gets them: they must answer as the manual pages say those
// calls answer, on whatever engine the tests run against.
#ifndef TXLIB_NO_FVALL32
#define TXLIB_NO_FVALL32
#endif
#ifndef TXLIB_NO_FVALS32
#define TXLIB_NO_FVALS32
#endif
#include "../../../platform/tuxedo/FmlCalls.h"

#include <fml32.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>

namespace Tx {
namespace {

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 301);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 302);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 303);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 304);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 305);

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};

class FmlCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(fbfr, nullptr);
    short small = -5;
    long large[] = {70000, -2147483647L - 1};
    char character = 'x';
    double number = 2.5;
    ASSERT_NE(Fadd32(fbfr.get(), kShort, reinterpret_cast<char*>(&small), 0), -1);
    for (long& value : large)
      ASSERT_NE(Fadd32(fbfr.get(), kLong, reinterpret_cast<char*>(&value), 0), -1);
    ASSERT_NE(Fadd32(fbfr.get(), kChar, &character, 0), -1);
    ASSERT_NE(Fadd32(fbfr.get(), kString, const_cast<char*>("abc"), 0), -1);
    ASSERT_NE(Fadd32(fbfr.get(), kDouble, reinterpret_cast<char*>(&number), 0), -1);
    Ferror32 = 0;
  }
  // The value and the error number it left, which is cleared for the next read.
  template <class T>
  std::tuple<T, int> Read(T value) {
    return {value, std::exchange(Ferror32, 0)};
  }

  std::unique_ptr<FBFR32, FreeFbfr> fbfr{Falloc32(10, 100)};
};

TEST_F(FmlCalls, LongValuesOfShortsAndLongsZeroForAbsentAndTypeErrorForOthers) {
  using R = std::tuple<long, int>;
  EXPECT_EQ(Read(FieldLong(fbfr.get(), kShort, 0)), R(-5, 0));
  EXPECT_EQ(Read(FieldLong(fbfr.get(), kLong, 0)), R(70000, 0));
  EXPECT_EQ(Read(FieldLong(fbfr.get(), kLong, 1)), R(-2147483647L - 1, 0));
  EXPECT_EQ(Read(FieldLong(fbfr.get(), kLong, 2)), R(0, 0));
  EXPECT_EQ(Read(FieldLong(fbfr.get(), kString, 0)), R(0, FTYPERR));
  EXPECT_EQ(Read(FieldLong(fbfr.get(), kDouble, 0)), R(0, FTYPERR));
  EXPECT_EQ(Read(FieldLong(nullptr, kLong, 0)), R(0, FNOTFLD));
  // An absent occurrence leaves an earlier error number as it was.
  Ferror32 = FNOSPACE;
  EXPECT_EQ(Read(FieldLong(fbfr.get(), kShort, 1)), R(0, FNOSPACE));
}

TEST_F(FmlCalls, StringValuesEmptyForAbsentAndTypeErrorForOthers) {
  using R = std::tuple<std::string, int>;
  EXPECT_EQ(Read(std::string(FieldString(fbfr.get(), kString, 0))), R("abc", 0));
  EXPECT_EQ(Read(std::string(FieldString(fbfr.get(), kString, 1))), R("", 0));
  EXPECT_EQ(Read(std::string(FieldString(fbfr.get(), kChar, 0))), R("", FTYPERR));
  EXPECT_EQ(Read(std::string(FieldString(fbfr.get(), kLong, 0))), R("", FTYPERR));
  EXPECT_EQ(Read(std::string(FieldString(nullptr, kString, 0))), R("", FNOTFLD));
}

TEST_F(FmlCalls, CharValuesWithZeroForAbsent) {
  using R = std::tuple<char, int>;
  EXPECT_EQ(Read(FieldChar(fbfr.get(), kChar, 0)), R('x', 0));
  EXPECT_EQ(Read(FieldChar(fbfr.get(), kChar, 1)), R('\0', 0));
  EXPECT_EQ(Read(FieldChar(nullptr, kChar, 0)), R('\0', FNOTFLD));
}

}  // namespace
}  // namespace Tx
