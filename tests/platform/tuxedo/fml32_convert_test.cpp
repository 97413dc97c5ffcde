// FML32 conversion functions: CFadd32, CFchg32, CFget32 and CFfind32
// between the seven basic types.
#include <fml32.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace {

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};
using Fbfr = std::unique_ptr<FBFR32, FreeFbfr>;

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 210);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 211);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 212);
const FLDID32 kFloat = Fmkfldid32(FLD_FLOAT, 213);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 214);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 215);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 216);

char* Text(const char* text) { return const_cast<char*>(text); }
template <typename T>
char* Raw(T& value) {
  return reinterpret_cast<char*>(&value);
}

class Fml32Convert : public ::testing::Test {
 protected:
  Fbfr fbfr_{Falloc32(50, 4000)};

  // The stored value of occurrence `oc` of `id`, read back as text.
  std::string AsString(FLDID32 id, FLDOCC32 oc = 0) {
    char text[512];
    FLDLEN32 len = sizeof text;
    if (CFget32(fbfr_.get(), id, oc, text, &len, FLD_STRING) != 1) return "<error>";
    EXPECT_EQ(len, std::strlen(text) + 1);
    return text;
  }
  std::string AsCarray(FLDID32 id, FLDOCC32 oc = 0) {
    FLDLEN32 len = 0;
    const char* value = CFfind32(fbfr_.get(), id, oc, &len, FLD_CARRAY);
    return value == nullptr ? "<error>" : std::string(value, len);
  }
  template <typename T>
  T As(FLDID32 id, int type, FLDOCC32 oc = 0) {
    T value{};
    FLDLEN32 len = sizeof value;
    EXPECT_EQ(CFget32(fbfr_.get(), id, oc, Raw(value), &len, type), 1);
    EXPECT_EQ(len, sizeof value);
    return value;
  }
  void AddText(FLDID32 id, const char* text) { ASSERT_EQ(CFadd32(fbfr_.get(), id, Text(text), 0, FLD_STRING), 1); }
};

TEST_F(Fml32Convert, NumbersToText) {
  short s = -32768;
  long l = 9223372036854775807L;
  float f = 2.5f;
  double d = -1234.56789;
  ASSERT_EQ(Fadd32(fbfr_.get(), kShort, Raw(s), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), kLong, Raw(l), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), kFloat, Raw(f), 0), 1);
  ASSERT_EQ(Fadd32(fbfr_.get(), kDouble, Raw(d), 0), 1);
  EXPECT_EQ(AsString(kShort), "-32768");
  EXPECT_EQ(AsString(kLong), "9223372036854775807");
  EXPECT_EQ(AsString(kFloat), "2.500000");
  EXPECT_EQ(AsString(kDouble), "-1234.567890");
  EXPECT_EQ(AsCarray(kShort), "-32768");
  EXPECT_EQ(AsCarray(kDouble), "-1234.567890");
  double big = 1e20;
  ASSERT_EQ(Fchg32(fbfr_.get(), kDouble, 0, Raw(big), 0), 1);
  EXPECT_EQ(AsString(kDouble), "100000000000000000000.000000");
}

TEST_F(Fml32Convert, TextToNumbersReadsTheLeadingNumber) {
  AddText(kShort, "  42abc");
  AddText(kLong, "-17 apples");
  AddText(kFloat, "3.25e1x");
  AddText(kDouble, "  -0.5");
  AddText(kLong, "no digits");
  AddText(kLong, "99999999999999999999999");
  AddText(kShort, "70000");
  EXPECT_EQ(Fvall32(fbfr_.get(), kShort, 0), 42);
  EXPECT_EQ(Fvall32(fbfr_.get(), kLong, 0), -17);
  EXPECT_EQ(As<float>(kFloat, FLD_FLOAT), 32.5f);
  EXPECT_EQ(As<double>(kDouble, FLD_DOUBLE), -0.5);
  EXPECT_EQ(Fvall32(fbfr_.get(), kLong, 1), 0);
  EXPECT_EQ(Fvall32(fbfr_.get(), kLong, 2), std::numeric_limits<long>::max());
  EXPECT_EQ(Fvall32(fbfr_.get(), kShort, 1), static_cast<short>(70000));
}

TEST_F(Fml32Convert, DecimalPointIsAlwaysADot) {
  AddText(kDouble, "2.75");
  EXPECT_EQ(As<double>(kDouble, FLD_DOUBLE), 2.75);
  EXPECT_EQ(AsString(kDouble), "2.750000");
}

TEST_F(Fml32Convert, CharRules) {
  char c = 'A';
  ASSERT_EQ(Fadd32(fbfr_.get(), kChar, &c, 0), 1);
  EXPECT_EQ(AsString(kChar), "A");
  EXPECT_EQ(AsCarray(kChar), "A");
  EXPECT_EQ(As<short>(kChar, FLD_SHORT), 65);
  EXPECT_EQ(As<double>(kChar, FLD_DOUBLE), 65.0);

  AddText(kChar, "xyz");
  EXPECT_EQ(As<char>(kChar, FLD_CHAR, 1), 'x');
  AddText(kChar, "");
  EXPECT_EQ(As<char>(kChar, FLD_CHAR, 2), '\0');
  long code = 66;
  ASSERT_EQ(CFadd32(fbfr_.get(), kChar, Raw(code), 0, FLD_LONG), 1);
  EXPECT_EQ(As<char>(kChar, FLD_CHAR, 3), 'B');
  ASSERT_EQ(CFadd32(fbfr_.get(), kChar, Text("\x01rest"), 5, FLD_CARRAY), 1);
  EXPECT_EQ(As<char>(kChar, FLD_CHAR, 4), '\x01');
}

TEST_F(Fml32Convert, StringAndCarray) {
  const char bytes[] = {'a', 'b', '\0', 'c'};
  ASSERT_EQ(CFadd32(fbfr_.get(), kString, Text(bytes), 4, FLD_CARRAY), 1);
  EXPECT_EQ(Flen32(fbfr_.get(), kString, 0), 3);  // stops at the first zero byte
  EXPECT_STREQ(Fvals32(fbfr_.get(), kString, 0), "ab");
  ASSERT_EQ(CFadd32(fbfr_.get(), kCarray, Text("text"), 0, FLD_STRING), 1);
  EXPECT_EQ(Flen32(fbfr_.get(), kCarray, 0), 4);  // without the zero
  EXPECT_EQ(AsString(kCarray), "text");
  char empty = 0;
  ASSERT_EQ(Fadd32(fbfr_.get(), kCarray, &empty, 0), 1);
  EXPECT_EQ(AsString(kCarray, 1), "");
  EXPECT_EQ(As<long>(kCarray, FLD_LONG, 1), 0);
  ASSERT_EQ(CFadd32(fbfr_.get(), kCarray, Text("123456"), 3, FLD_CARRAY), 1);
  EXPECT_EQ(As<long>(kCarray, FLD_LONG, 2), 123);
}

TEST_F(Fml32Convert, NumbersAmongThemselves) {
  double d = 123.9;
  ASSERT_EQ(CFadd32(fbfr_.get(), kLong, Raw(d), 0, FLD_DOUBLE), 1);
  EXPECT_EQ(Fvall32(fbfr_.get(), kLong, 0), 123);
  double huge = 1e300;
  ASSERT_EQ(CFadd32(fbfr_.get(), kLong, Raw(huge), 0, FLD_DOUBLE), 1);
  EXPECT_EQ(Fvall32(fbfr_.get(), kLong, 1), std::numeric_limits<long>::max());
  double notANumber = std::nan("");
  ASSERT_EQ(CFadd32(fbfr_.get(), kShort, Raw(notANumber), 0, FLD_DOUBLE), 1);
  EXPECT_EQ(Fvall32(fbfr_.get(), kShort, 0), 0);
  ASSERT_EQ(CFadd32(fbfr_.get(), kFloat, Raw(huge), 0, FLD_DOUBLE), 1);
  EXPECT_TRUE(std::isinf(As<float>(kFloat, FLD_FLOAT)));
  long l = 70000;
  ASSERT_EQ(CFadd32(fbfr_.get(), kDouble, Raw(l), 0, FLD_LONG), 1);
  EXPECT_EQ(As<double>(kDouble, FLD_DOUBLE), 70000.0);
  short s = -5;
  ASSERT_EQ(CFadd32(fbfr_.get(), kLong, Raw(s), 0, FLD_SHORT), 1);
  EXPECT_EQ(Fvall32(fbfr_.get(), kLong, 2), -5);
}

TEST_F(Fml32Convert, ChangeAndFind) {
  AddText(kLong, "1");
  ASSERT_EQ(CFchg32(fbfr_.get(), kLong, 2, Text("33"), 0, FLD_STRING), 1);
  EXPECT_EQ(Foccur32(fbfr_.get(), kLong), 3);
  EXPECT_EQ(Fvall32(fbfr_.get(), kLong, 1), 0);
  EXPECT_EQ(Fvall32(fbfr_.get(), kLong, 2), 33);
  FLDLEN32 len = 0;
  const char* found = CFfind32(fbfr_.get(), kLong, 2, &len, FLD_DOUBLE);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(len, sizeof(double));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(found) % alignof(double), 0u);
  EXPECT_EQ(*reinterpret_cast<const double*>(found), 33.0);
  ASSERT_EQ(CFchg32(fbfr_.get(), kLong, 0, nullptr, 0, FLD_STRING), 1);
  EXPECT_EQ(Foccur32(fbfr_.get(), kLong), 2);
}

TEST_F(Fml32Convert, ErrorsAreReported) {
  long l = 1;
  ASSERT_EQ(Fadd32(fbfr_.get(), kLong, Raw(l), 0), 1);
  Ferror32 = 0;
  EXPECT_EQ(CFadd32(fbfr_.get(), kLong, Raw(l), 0, 99), -1);
  EXPECT_EQ(Ferror32, FTYPERR);
  Ferror32 = 0;
  EXPECT_EQ(CFadd32(fbfr_.get(), kLong, Raw(l), 0, FLD_PTR), -1);
  EXPECT_EQ(Ferror32, FEBADOP);
  Ferror32 = 0;
  EXPECT_EQ(CFget32(fbfr_.get(), kLong, 3, Raw(l), nullptr, FLD_STRING), -1);
  EXPECT_EQ(Ferror32, FNOTPRES);
  char small[2];
  FLDLEN32 len = sizeof small;
  l = 12345;
  ASSERT_EQ(Fchg32(fbfr_.get(), kLong, 0, Raw(l), 0), 1);
  Ferror32 = 0;
  EXPECT_EQ(CFget32(fbfr_.get(), kLong, 0, small, &len, FLD_STRING), -1);
  EXPECT_EQ(Ferror32, FNOSPACE);
  Ferror32 = 0;
  EXPECT_EQ(CFfind32(fbfr_.get(), kLong, 9, nullptr, FLD_SHORT), nullptr);
  EXPECT_EQ(Ferror32, FNOTPRES);
}

}  // namespace
