// FML32 values: adding, changing, reading and deleting occurrences, the
// walk with Fnext32 and the value shortcuts Fvall32 and Fvals32.

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 110);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 111);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 112);
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
      {kChar, "Q"},                           {Fmkfldid32(FLD_FLOAT, 113), BytesOf(0.5f)},
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
  EXPECT_EQ(Foccur32(Buf(), kString), 3);
  EXPECT_STREQ(Fvals32(Buf(), kString, 1), "12345678");
  EXPECT_STREQ(Fvals32(Buf(), kString, 2), "d");
  Ferror32 = 0;
  ExpectFerror(Fchg32(Buf(), kString, 5, nullptr, 0) == -1, FNOTPRES, "delete absent");
  ExpectFerror(Fchg32(Buf(), kString, -2, Text("e"), 0) == -1, FEINVAL, "occurrence -2");
}

TEST_F(Fml32Values, ChangesInTheMiddleKeepEveryOccurrenceInOrder) {
  for (long row = 0; row < 20; ++row) {
    ASSERT_EQ(Fadd32(Buf(), kString, Text(("s" + std::to_string(row)).c_str()), 0), 1);
    ASSERT_EQ(Fadd32(Buf(), kLong, Raw(row), 0), 1);
  }
  const std::string longer(300, 'L');
  ASSERT_EQ(Fchg32(Buf(), kString, 5, Text(longer.c_str()), 0), 1);   // grows in the middle
  ASSERT_EQ(Fchg32(Buf(), kString, 0, Text("shorter"), 0), 1);        // grows a little
  ASSERT_EQ(Fchg32(Buf(), kString, 19, Text(longer.c_str()), 0), 1);  // grows the last
  ASSERT_EQ(Fchg32(Buf(), kString, 7, Text(""), 0), 1);               // shrinks
  for (int row = 0; row < 20; ++row) {
    const std::string expected = row == 5 || row == 19 ? longer
                                 : row == 0            ? "shorter"
                                 : row == 7            ? ""
                                                       : "s" + std::to_string(row);
    EXPECT_EQ(Fvals32(Buf(), kString, row), expected) << row;
    EXPECT_EQ(Fvall32(Buf(), kLong, row), row);
  }
  // A value taken from the buffer itself, while a hole makes the change
  // compact the block under it.
  ASSERT_EQ(Fdel32(Buf(), kLong, 0), 1);
  ASSERT_EQ(Fchg32(Buf(), kString, 1, Ffind32(Buf(), kString, 5, nullptr), 0), 1);
  EXPECT_EQ(Fvals32(Buf(), kString, 1), longer);
}

TEST_F(Fml32Values, DeleteShiftsLaterOnesDownAndLeavesOtherFields) {
  AddLongs(kLong, 5);
  AddLongs(kShort, 2);
  ASSERT_EQ(Fdel32(Buf(), kLong, 1), 1);
  FLDOCC32 last = -1;
  EXPECT_EQ(*reinterpret_cast<const long*>(Ffindlast32(Buf(), kLong, &last, nullptr)), 4);
  EXPECT_EQ(last, 3);
  EXPECT_EQ(Fvall32(Buf(), kLong, 1), 2);
  ASSERT_EQ(Fdelall32(Buf(), kLong), 1);
  EXPECT_EQ(Foccur32(Buf(), kShort), 2);
  Ferror32 = 0;
  ExpectFerror(Fdel32(Buf(), kShort, 2) == -1, FNOTPRES, "Fdel32 past the last");
  ExpectFerror(Fdelall32(Buf(), kLong) == -1, FNOTPRES, "Fdelall32 absent");
  ASSERT_EQ(Fdelall32(Buf(), kShort), 1);
  EXPECT_EQ(Fused32(Buf()), Fneeded32(0, 0));
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
  ExpectFerror(Fadd32(Buf(), Fmkfldid32(FLD_PTR, 200), Raw(l), 0) == -1, FTYPERR, "Fadd32 ptr");
  ExpectFerror(Fadd32(Buf(), kLong, nullptr, 0) == -1, FEINVAL, "Fadd32 null");
  ExpectFerror(Fget32(Buf(), kLong, 0, small, &len) == -1, FNOSPACE, "Fget32 small");
  EXPECT_EQ(std::string(small, 4), "....");
}

TEST_F(Fml32Values, WalkGoesByFieldIdThenOccurrence) {
  const FLDID32 high = Fmkfldid32(FLD_LONG, 5000);
  const FLDID32 low = Fmkfldid32(FLD_STRING, 150);  // a larger id: its type bits are higher
  for (const FLDID32 id : {high, low, kLong, high, kShort, kLong}) AddLongs(id, 1);
  std::vector<std::pair<FLDID32, FLDOCC32>> seen;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  while (Fnext32(Buf(), &id, &oc, nullptr, nullptr) == 1) seen.emplace_back(id, oc);
  EXPECT_EQ(seen, (decltype(seen){{kShort, 0}, {kLong, 0}, {kLong, 1}, {high, 0}, {high, 1},
                                  {low, 0}}));
  EXPECT_EQ(id, low);  // the end leaves the last position
}

TEST_F(Fml32Values, WalkCopiesValuesOnlyWhenTheyFit) {
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  EXPECT_EQ(Fnext32(Buf(), &id, &oc, nullptr, nullptr), 0);
  ASSERT_EQ(Fadd32(Buf(), kString, Text("longer text"), 0), 1);
  char value[16] = {};
  FLDLEN32 len = 4;
  Ferror32 = 0;
  ExpectFerror(Fnext32(Buf(), &id, &oc, value, &len) == -1, FNOSPACE, "Fnext32 small");
  EXPECT_EQ(id, FIRSTFLDID);
  len = sizeof value;
  ASSERT_EQ(Fnext32(Buf(), &id, &oc, value, &len), 1);
  EXPECT_STREQ(value, "longer text");
  EXPECT_EQ(len, 12u);
}

}  // namespace
