// FML32 conversion functions: CFadd32, CFchg32, CFget32 and CFfind32
// between the seven basic types.

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 210);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 211);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 212);
const FLDID32 kFloat = Fmkfldid32(FLD_FLOAT, 213);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 214);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 215);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 216);

std::string Z(const char* text) { return std::string(text) + '\0'; }  // a stored string

// A value of one type stored through CFchg32 into a field of another type:
// the bytes the buffer then holds.
TEST(Fml32Convert, ValuesConvertBetweenTheBasicTypes) {
  const struct {
    int from;
    std::string value;
    FLDID32 to;
    std::string stored;
    FLDLEN32 len = 0;  // of a carray value; 0: all of it
  } cases[] = {
      // Numbers written as "%d", "%ld" and "%f", to strings and to carrays.
      {FLD_SHORT, BytesOf<short>(-32768), kString, Z("-32768")},
      {FLD_LONG, BytesOf(LONG_MAX), kString, Z("9223372036854775807")},
      {FLD_FLOAT, BytesOf(2.5f), kString, Z("2.500000")},
      {FLD_DOUBLE, BytesOf(-1234.56789), kCarray, "-1234.567890"},
      {FLD_DOUBLE, BytesOf(1e20), kString, Z("100000000000000000000.000000")},
      // Text read for its leading number, with C's overflow and cast rules.
      {FLD_STRING, "  42abc", kShort, BytesOf<short>(42)},
      {FLD_STRING, "-17 apples", kLong, BytesOf(-17L)},
      {FLD_STRING, "3.25e1x", kFloat, BytesOf(32.5f)},
      {FLD_STRING, "no digits", kLong, BytesOf(0L)},
      {FLD_STRING, "99999999999999999999999", kLong, BytesOf(LONG_MAX)},
      {FLD_STRING, "70000", kShort, BytesOf(static_cast<short>(70000))},
      {FLD_CARRAY, "123456", kLong, BytesOf(123L), 3},
      // Numbers among themselves.
      {FLD_DOUBLE, BytesOf(123.9), kLong, BytesOf(123L)},
      {FLD_DOUBLE, BytesOf(1e300), kLong, BytesOf(LONG_MAX)},
      {FLD_DOUBLE, BytesOf(std::nan("")), kShort, BytesOf<short>(0)},
      {FLD_DOUBLE, BytesOf(1e300), kFloat, BytesOf(std::numeric_limits<float>::infinity())},
      {FLD_SHORT, BytesOf<short>(-5), kLong, BytesOf(-5L)},
      // A char is a one-character text and a small number.
      {FLD_CHAR, "A", kString, Z("A")},
      {FLD_CHAR, "A", kShort, BytesOf<short>(65)},
      {FLD_STRING, "xyz", kChar, "x"},
      {FLD_STRING, "", kChar, std::string(1, '\0')},
      {FLD_LONG, BytesOf(66L), kChar, "B"},
      // Strings end at their first zero byte; carrays have none.
      {FLD_CARRAY, std::string("ab\0c", 4), kString, Z("ab")},
      {FLD_STRING, "text", kCarray, "text"},
      {FLD_CARRAY, "", kString, Z("")},
  };
  for (const auto& c : cases) {
    Fbfr fbfr(Falloc32(5, 100));
    const auto len = c.len != 0 ? c.len : static_cast<FLDLEN32>(c.value.size());
    ASSERT_EQ(CFchg32(fbfr.get(), c.to, 0, Text(c.value.data()), len, c.from), 1) << c.value;
    FLDLEN32 stored = 0;
    const char* at = Ffind32(fbfr.get(), c.to, 0, &stored);
    EXPECT_EQ(std::string(at, stored), c.stored) << c.from << " " << c.to << " " << c.value;
  }
}

TEST(Fml32Convert, ReadingChangingAndErrors) {
  Fbfr fbfr(Falloc32(10, 200));
  ASSERT_EQ(CFadd32(fbfr.get(), kLong, Text("1"), 0, FLD_STRING), 1);
  ASSERT_EQ(CFchg32(fbfr.get(), kLong, 2, Text("12345"), 0, FLD_STRING), 1);
  char text[16];
  FLDLEN32 len = sizeof text;
  ASSERT_EQ(CFget32(fbfr.get(), kLong, 2, text, &len, FLD_STRING), 1);
  EXPECT_STREQ(text, "12345");
  EXPECT_EQ(len, 6u);
  len = 0;
  const char* found = CFfind32(fbfr.get(), kLong, 2, &len, FLD_DOUBLE);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(len, sizeof(double));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(found) % alignof(double), 0u);
  EXPECT_EQ(*reinterpret_cast<const double*>(found), 12345.0);
  ASSERT_EQ(CFchg32(fbfr.get(), kLong, 0, nullptr, 0, FLD_STRING), 1);
  EXPECT_EQ(Foccur32(fbfr.get(), kLong), 2);

  long l = 1;
  len = 5;  // one byte short of "12345"
  Ferror32 = 0;
  ExpectFerror(CFadd32(fbfr.get(), kLong, Raw(l), 0, 99) == -1, FTYPERR, "type 99");
  ExpectFerror(CFadd32(fbfr.get(), kLong, Raw(l), 0, FLD_PTR) == -1, FEBADOP, "from ptr");
  ExpectFerror(CFget32(fbfr.get(), kLong, 3, Raw(l), nullptr, FLD_STRING) == -1, FNOTPRES,
               "CFget32 absent");
  ExpectFerror(CFget32(fbfr.get(), kLong, 1, text, &len, FLD_STRING) == -1, FNOSPACE,
               "CFget32 small");
  ExpectFerror(CFfind32(fbfr.get(), kLong, 9, nullptr, FLD_SHORT) == nullptr, FNOTPRES,
               "CFfind32 absent");
}

}  // namespace
