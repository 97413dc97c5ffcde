// FML32 values: adding, changing, reading and deleting occurrences, the
// walk with Fnext32, the value shortcuts Fvall32 and Fvals32, and the
// conversions of CFadd32, CFchg32, CFget32 and CFfind32.

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 110);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 111);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 112);
const FLDID32 kFloat = Fmkfldid32(FLD_FLOAT, 113);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 114);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 115);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 116);

class Fml32Values : public ::testing::Test {
 protected:
  FBFR32* Buf() { return fbfr_.get(); }
  // Adds 0, 1, ... count - 1, converted to the field's type.
  void AddLongs(FLDID32 id, int count) {
    for (long i = 0; i < count; ++i) ASSERT_EQ(CFadd32(Buf(), id, Raw(i), 0, FLD_LONG), 1);
  }
  // Occurrence `oc` as its stored bytes, or "<absent>".
  std::string Bytes(FLDID32 id, FLDOCC32 oc) {
    FLDLEN32 len = 0;
    const char* value = Ffind32(Buf(), id, oc, &len);
    return value == nullptr ? "<absent>" : std::string(value, len);
  }
  Fbfr fbfr_{Falloc32(100, 10000)};
};

TEST_F(Fml32Values, EachTypeIsStoredAsItsBytesAndFoundAligned) {
  const std::pair<FLDID32, std::string> cases[] = {
      {kShort, BytesOf<short>(-12)},          {kLong, BytesOf(1234567890123L)},
      {kChar, "Q"},                           {kFloat, BytesOf(0.5f)},
      {kDouble, BytesOf(-2.25)},              {kString, std::string("abc", 4)},
      {kCarray, std::string("x\0y", 3)},
  };
  // Carrays of 1 to 3 bytes in between shift every later value; len 99 must
  // be ignored by every type but carray.
  for (FLDLEN32 round = 0; round < 3; ++round) {
    for (const auto& [id, value] : cases) {
      ASSERT_EQ(Fadd32(Buf(), Fmkfldid32(FLD_CARRAY, 117), Text("odd"), round + 1), 1);
      ASSERT_EQ(Fadd32(Buf(), id, Text(value.data()), id == kCarray ? 3 : 99), 1);
    }
  }
  for (FLDOCC32 oc = 0; oc < 3; ++oc) {
    for (const auto& [id, value] : cases) {
      EXPECT_EQ(Bytes(id, oc), value) << id;
      const auto at = reinterpret_cast<std::uintptr_t>(Ffind32(Buf(), id, oc, nullptr));
      EXPECT_EQ(at % alignof(double), 0u) << id;
    }
  }
}

TEST_F(Fml32Values, ChangeFillsGapsWithDefaultsAppendsAndDeletes) {
  const std::pair<FLDID32, std::string> defaults[] = {
      {kChar, std::string(1, '\0')}, {kDouble, std::string(8, '\0')},
      {kString, std::string(1, '\0')}, {kCarray, ""}};
  for (const auto& [id, empty] : defaults) {
    ASSERT_EQ(Fchg32(Buf(), id, 2, Text("12345678"), 2), 1) << id;
    EXPECT_EQ(Foccur32(Buf(), id), 3) << id;
    EXPECT_EQ(Bytes(id, 0), empty) << id;
    EXPECT_EQ(Bytes(id, 1), empty) << id;
  }
  ASSERT_EQ(Fchg32(Buf(), kString, -1, Text("d"), 0), 1);
  ASSERT_EQ(Fchg32(Buf(), kString, 0, nullptr, 0), 1);
  ASSERT_EQ(Fdel32(Buf(), kString, 0), 1);  // later ones move down
  FLDOCC32 last = -1;
  EXPECT_STREQ(Ffindlast32(Buf(), kString, &last, nullptr), "d");
  EXPECT_EQ(last, 1);
  EXPECT_STREQ(Fvals32(Buf(), kString, 0), "12345678");
  Ferror32 = 0;
  ExpectFerror(Fchg32(Buf(), kString, 5, nullptr, 0) == -1, FNOTPRES, "delete absent");
  ExpectFerror(Fchg32(Buf(), kString, -2, Text("e"), 0) == -1, FEINVAL, "occurrence -2");
  ExpectFerror(Fdel32(Buf(), kString, 2) == -1, FNOTPRES, "Fdel32 past the last");
  ASSERT_EQ(Fdelall32(Buf(), kString), 1);
  EXPECT_EQ(Foccur32(Buf(), kChar), 3);
  ExpectFerror(Fdelall32(Buf(), kString) == -1, FNOTPRES, "Fdelall32 absent");
  for (const FLDID32 id : {kChar, kDouble, kCarray}) ASSERT_EQ(Fdelall32(Buf(), id), 1);
  EXPECT_EQ(Fused32(Buf()), Fneeded32(0, 0));
}

TEST_F(Fml32Values, ChangesInTheMiddleKeepEveryOccurrenceInOrder) {
  std::vector<std::string> rows;
  for (long row = 0; row < 20; ++row) {
    rows.push_back("s" + std::to_string(row));
    ASSERT_EQ(Fadd32(Buf(), kString, Text(rows.back().c_str()), 0), 1);
    ASSERT_EQ(Fadd32(Buf(), kLong, Raw(row), 0), 1);
  }
  // Grows in the middle, a little at the start, grows the last, shrinks.
  const std::string longer(300, 'L');
  for (const auto& [row, value] : {std::pair<int, std::string>{5, longer}, {0, "shorter"},
                                   {19, longer}, {7, ""}}) {
    ASSERT_EQ(Fchg32(Buf(), kString, row, Text((rows[row] = value).c_str()), 0), 1);
  }
  for (int row = 0; row < 20; ++row) {
    EXPECT_EQ(Fvals32(Buf(), kString, row), rows[row]) << row;
    EXPECT_EQ(Fvall32(Buf(), kLong, row), row);
  }
  // A value taken from the buffer itself, while a hole makes the change
  // compact the block under it.
  ASSERT_EQ(Fdel32(Buf(), kLong, 0), 1);
  ASSERT_EQ(Fchg32(Buf(), kString, 1, Ffind32(Buf(), kString, 5, nullptr), 0), 1);
  EXPECT_EQ(Fvals32(Buf(), kString, 1), longer);
}

TEST_F(Fml32Values, FailuresAndTheShortcutsForAbsentValues) {
  short s = -4;
  long l = 0;
  char small[4] = {'.', '.', '.', '.'};
  FLDLEN32 len = sizeof small;
  AddLongs(kLong, 1);
  ASSERT_EQ(Fadd32(Buf(), kShort, Raw(s), 0), 1);
  ASSERT_EQ(Fadd32(Buf(), kChar, Text("k"), 0), 1);
  Ferror32 = 0;
  EXPECT_EQ(Fvall32(Buf(), kShort, 0), -4);
  EXPECT_EQ(Fvall32(Buf(), kLong, 7), 0);
  EXPECT_STREQ(Fvals32(Buf(), kChar, 0), "k");
  EXPECT_STREQ(Fvals32(Buf(), kString, 3), "");
  EXPECT_EQ(Fpres32(Buf(), kLong, 1), 0);
  EXPECT_EQ(Ferror32, 0);
  ExpectFerror(Fvall32(Buf(), kDouble, 0) == 0, FTYPERR, "Fvall32 double");
  ExpectFerror(std::strcmp(Fvals32(Buf(), kLong, 0), "") == 0, FTYPERR, "Fvals32 long");
  ExpectFerror(Fget32(Buf(), kLong, 1, Raw(l), nullptr) == -1, FNOTPRES, "Fget32 absent");
  ExpectFerror(Fadd32(Buf(), BADFLDID, Raw(l), 0) == -1, FBADFLD, "Fadd32 number 0");
  ExpectFerror(Fadd32(Buf(), Fmkfldid32(FLD_VIEW32, 200), Raw(l), 0) == -1, FTYPERR, "Fadd32 view32");
  ExpectFerror(Fadd32(Buf(), kLong, nullptr, 0) == -1, FEINVAL, "Fadd32 null");
  ExpectFerror(Fget32(Buf(), kLong, 0, small, &len) == -1, FNOSPACE, "Fget32 small");
  EXPECT_EQ(std::string(small, 4), "....");
}

TEST_F(Fml32Values, WalkGoesByFieldIdThenOccurrenceAndCopiesValuesThatFit) {
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  EXPECT_EQ(Fnext32(Buf(), &id, &oc, nullptr, nullptr), 0);
  const FLDID32 high = Fmkfldid32(FLD_LONG, 5000);
  const FLDID32 low = Fmkfldid32(FLD_STRING, 150);  // a larger id: its type bits are higher
  for (const FLDID32 field : {high, low, kLong, high, kShort, kLong}) AddLongs(field, 1);
  std::vector<std::pair<FLDID32, FLDOCC32>> seen;
  while (Fnext32(Buf(), &id, &oc, nullptr, nullptr) == 1) seen.emplace_back(id, oc);
  EXPECT_EQ(seen, (decltype(seen){{kShort, 0}, {kLong, 0}, {kLong, 1}, {high, 0}, {high, 1},
                                  {low, 0}}));
  EXPECT_EQ(id, low);  // the end leaves the last position
  ASSERT_EQ(Fchg32(Buf(), low, 0, Text("longer text"), 0), 1);
  char value[16] = {};
  FLDLEN32 len = 4;
  id = high;
  oc = 1;
  ExpectFerror(Fnext32(Buf(), &id, &oc, value, &len) == -1, FNOSPACE, "Fnext32 small");
  EXPECT_EQ(id, high);
  len = sizeof value;
  ASSERT_EQ(Fnext32(Buf(), &id, &oc, value, &len), 1);
  EXPECT_STREQ(value, "longer text");
  EXPECT_EQ(len, 12u);
}

std::string Z(const char* text) { return std::string(text) + '\0'; }  // a stored string

// A value of one type stored through CFchg32 into a field of another type:
// the bytes the buffer then holds.
TEST_F(Fml32Values, ValuesConvertBetweenTheBasicTypes) {
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
      // A char is a one-character text and a small number.
      {FLD_CHAR, "A", kString, Z("A")},     {FLD_CHAR, "A", kShort, BytesOf<short>(65)},
      {FLD_STRING, "xyz", kChar, "x"},      {FLD_STRING, "", kChar, std::string(1, '\0')},
      // Strings end at their first zero byte; carrays have none.
      {FLD_CARRAY, std::string("ab\0c", 4), kString, Z("ab")},
      {FLD_STRING, "text", kCarray, "text"}, {FLD_CARRAY, "", kString, Z("")},
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

TEST_F(Fml32Values, ConvertingReadChangeAndErrors) {
  ASSERT_EQ(CFadd32(Buf(), kLong, Text("1"), 0, FLD_STRING), 1);
  ASSERT_EQ(CFchg32(Buf(), kLong, 2, Text("12345"), 0, FLD_STRING), 1);
  char text[16];
  FLDLEN32 len = sizeof text;
  ASSERT_EQ(CFget32(Buf(), kLong, 2, text, &len, FLD_STRING), 1);
  EXPECT_STREQ(text, "12345");
  EXPECT_EQ(len, 6u);
  len = 0;
  const char* found = CFfind32(Buf(), kLong, 2, &len, FLD_DOUBLE);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(len, sizeof(double));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(found) % alignof(double), 0u);
  EXPECT_EQ(*reinterpret_cast<const double*>(found), 12345.0);
  long l = 1;
  len = 5;  // one byte short of "12345"
  Ferror32 = 0;
  ExpectFerror(CFadd32(Buf(), kLong, Raw(l), 0, 99) == -1, FTYPERR, "type 99");
  ExpectFerror(CFadd32(Buf(), kLong, Raw(l), 0, FLD_PTR) == -1, FEBADOP, "from ptr");
  ExpectFerror(CFget32(Buf(), kLong, 2, text, &len, FLD_STRING) == -1, FNOSPACE, "small");
  ExpectFerror(CFfind32(Buf(), kLong, 9, nullptr, FLD_SHORT) == nullptr, FNOTPRES, "absent");
}

}  // namespace
