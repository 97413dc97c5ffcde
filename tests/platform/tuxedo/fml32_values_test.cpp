// FML32 values: adding, changing, reading and deleting occurrences, the
// walk with Fnext32 and the value shortcuts Fvall32 and Fvals32.
#include <fml32.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};
using Fbfr = std::unique_ptr<FBFR32, FreeFbfr>;

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 110);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 111);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 112);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 114);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 115);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 116);

char* Text(const char* text) { return const_cast<char*>(text); }
template <typename T>
char* Raw(T& value) {
  return reinterpret_cast<char*>(&value);
}

class Fml32Values : public ::testing::Test {
 protected:
  FBFR32* Buf() { return fbfr_.get(); }
  void AddLongs(FLDID32 id, int count) {
    for (long i = 0; i < count; ++i) ASSERT_EQ(Fadd32(Buf(), id, Raw(i), 0), 1);
  }
  void AddStrings(std::initializer_list<const char*> texts) {
    for (const char* text : texts) ASSERT_EQ(Fadd32(Buf(), kString, Text(text), 0), 1);
  }
  // Occurrence `oc` as its stored bytes, or "<absent>".
  std::string Bytes(FLDID32 id, FLDOCC32 oc) {
    FLDLEN32 len = 0;
    const char* value = Ffind32(Buf(), id, oc, &len);
    return value == nullptr ? "<absent>" : std::string(value, len);
  }
  std::vector<std::pair<FLDID32, FLDOCC32>> Walk() {
    std::vector<std::pair<FLDID32, FLDOCC32>> seen;
    FLDID32 id = FIRSTFLDID;
    FLDOCC32 oc = 0;
    while (Fnext32(Buf(), &id, &oc, nullptr, nullptr) == 1) seen.emplace_back(id, oc);
    return seen;
  }
  Fbfr fbfr_{Falloc32(100, 10000)};
};

TEST_F(Fml32Values, StoredLengthsFollowTheType) {
  short s = -12;
  long l = 1234567890123L;
  char c = 'Q';
  double d = -2.25;
  const char bytes[] = {'x', '\0', 'y'};
  ASSERT_EQ(Fadd32(Buf(), kShort, Raw(s), 0), 1);
  ASSERT_EQ(Fadd32(Buf(), kLong, Raw(l), 0), 1);
  ASSERT_EQ(Fadd32(Buf(), kChar, &c, 0), 1);
  ASSERT_EQ(Fadd32(Buf(), kDouble, Raw(d), 0), 1);
  ASSERT_EQ(Fadd32(Buf(), kString, Text("abc"), 99), 1);  // len is ignored for strings
  ASSERT_EQ(Fadd32(Buf(), kCarray, Text(bytes), 3), 1);
  EXPECT_EQ(Bytes(kShort, 0), std::string(reinterpret_cast<char*>(&s), sizeof s));
  EXPECT_EQ(Bytes(kLong, 0), std::string(reinterpret_cast<char*>(&l), 8));
  EXPECT_EQ(Bytes(kChar, 0), "Q");
  EXPECT_EQ(Bytes(kDouble, 0), std::string(reinterpret_cast<char*>(&d), 8));
  EXPECT_EQ(Bytes(kString, 0), std::string("abc", 4));
  EXPECT_EQ(Bytes(kCarray, 0), std::string(bytes, 3));
  EXPECT_EQ(Flen32(Buf(), kString, 0), 4);
  EXPECT_EQ(Fnum32(Buf()), 6);
}

TEST_F(Fml32Values, FoundValuesAreAligned) {
  for (long i = 0; i < 5; ++i) {
    ASSERT_EQ(Fadd32(Buf(), kCarray, Text("odd"), static_cast<FLDLEN32>(i % 3 + 1)), 1);
    double d = static_cast<double>(i);
    ASSERT_EQ(Fadd32(Buf(), kDouble, Raw(d), 0), 1);
    ASSERT_EQ(Fadd32(Buf(), kLong, Raw(i), 0), 1);
  }
  for (int i = 0; i < 5; ++i) {
    const char* d = Ffind32(Buf(), kDouble, i, nullptr);
    const char* l = Ffind32(Buf(), kLong, i, nullptr);
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(d) % alignof(double), 0u);
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(l) % alignof(long), 0u);
    EXPECT_EQ(*reinterpret_cast<const double*>(d), i);
    EXPECT_EQ(*reinterpret_cast<const long*>(l), i);
  }
}

TEST_F(Fml32Values, AddAppendsAfterTheLast) {
  AddLongs(kLong, 5);
  EXPECT_EQ(Foccur32(Buf(), kLong), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Fvall32(Buf(), kLong, i), i);
  FLDOCC32 last = -1;
  EXPECT_EQ(*reinterpret_cast<const long*>(Ffindlast32(Buf(), kLong, &last, nullptr)), 4);
  EXPECT_EQ(last, 4);
}

TEST_F(Fml32Values, ChangeBeyondTheLastAddsDefaults) {
  long value = 77;
  ASSERT_EQ(Fchg32(Buf(), kLong, 3, Raw(value), 0), 1);
  EXPECT_EQ(Foccur32(Buf(), kLong), 4);
  EXPECT_EQ(Bytes(kLong, 1), std::string(8, '\0'));
  EXPECT_EQ(Fvall32(Buf(), kLong, 3), 77);
  ASSERT_EQ(Fchg32(Buf(), kString, 2, Text("third"), 0), 1);
  EXPECT_EQ(Bytes(kString, 0), std::string(1, '\0'));
  EXPECT_EQ(Bytes(kString, 2), std::string("third", 6));
  ASSERT_EQ(Fchg32(Buf(), kCarray, 1, Text("ab"), 2), 1);
  EXPECT_EQ(Bytes(kCarray, 0), "");
  double d = 1;
  ASSERT_EQ(Fchg32(Buf(), kDouble, 1, Raw(d), 0), 1);
  EXPECT_EQ(Bytes(kDouble, 0), std::string(8, '\0'));
  ASSERT_EQ(Fchg32(Buf(), kChar, 1, Text("c"), 0), 1);
  EXPECT_EQ(Bytes(kChar, 0), std::string(1, '\0'));
}

TEST_F(Fml32Values, ChangeMinusOneAppendsAndNullDeletes) {
  AddStrings({"a", "b", "c"});
  ASSERT_EQ(Fchg32(Buf(), kString, -1, Text("d"), 0), 1);
  ASSERT_EQ(Fchg32(Buf(), kString, 0, nullptr, 0), 1);
  EXPECT_EQ(Foccur32(Buf(), kString), 3);
  EXPECT_STREQ(Fvals32(Buf(), kString, 0), "b");
  EXPECT_STREQ(Fvals32(Buf(), kString, 2), "d");
  Ferror32 = 0;
  EXPECT_EQ(Fchg32(Buf(), kString, 5, nullptr, 0), -1);
  EXPECT_EQ(Ferror32, FNOTPRES);
  EXPECT_EQ(Fchg32(Buf(), kString, -2, Text("e"), 0), -1);
  EXPECT_EQ(Ferror32, FEINVAL);
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
    EXPECT_STREQ(Fvals32(Buf(), kString, row), expected.c_str()) << row;
    EXPECT_EQ(Fvall32(Buf(), kLong, row), row);
  }
  // The block itself holds that order: a raw copy reads the same.
  std::vector<std::uint64_t> copy(static_cast<std::size_t>(Fsizeof32(Buf())) / 8 + 1);
  std::memcpy(copy.data(), Buf(), static_cast<std::size_t>(Fsizeof32(Buf())));
  EXPECT_STREQ(Fvals32(reinterpret_cast<FBFR32*>(copy.data()), kString, 5), longer.c_str());
  EXPECT_STREQ(Fvals32(reinterpret_cast<FBFR32*>(copy.data()), kString, 6), "s6");
}

TEST_F(Fml32Values, ChangeWithAValueFromTheSameBuffer) {
  fbfr_.reset(Falloc32(10, 300));
  AddStrings({std::string(100, 'a').c_str(), "b"});
  AddLongs(kLong, 1);
  ASSERT_EQ(Fdel32(Buf(), kLong, 0), 1);  // a hole: the change compacts the block
  ASSERT_EQ(Fchg32(Buf(), kString, 1, Ffind32(Buf(), kString, 0, nullptr), 0), 1);
  EXPECT_STREQ(Fvals32(Buf(), kString, 1), std::string(100, 'a').c_str());
}

TEST_F(Fml32Values, DeleteShiftsLaterOnesDown) {
  AddLongs(kLong, 5);
  ASSERT_EQ(Fdel32(Buf(), kLong, 1), 1);
  EXPECT_EQ(Foccur32(Buf(), kLong), 4);
  EXPECT_EQ(Fvall32(Buf(), kLong, 0), 0);
  EXPECT_EQ(Fvall32(Buf(), kLong, 1), 2);
  EXPECT_EQ(Fvall32(Buf(), kLong, 3), 4);
  Ferror32 = 0;
  EXPECT_EQ(Fdel32(Buf(), kLong, 4), -1);
  EXPECT_EQ(Ferror32, FNOTPRES);
}

TEST_F(Fml32Values, DeleteAllLeavesOtherFields) {
  AddLongs(kLong, 3);
  AddStrings({"x", "y"});
  ASSERT_EQ(Fdelall32(Buf(), kLong), 1);
  EXPECT_EQ(Foccur32(Buf(), kLong), 0);
  EXPECT_EQ(Foccur32(Buf(), kString), 2);
  Ferror32 = 0;
  EXPECT_EQ(Fdelall32(Buf(), kLong), -1);
  EXPECT_EQ(Ferror32, FNOTPRES);
  ASSERT_EQ(Fdelall32(Buf(), kString), 1);
  EXPECT_EQ(Fused32(Buf()), Fneeded32(0, 0));
}

TEST_F(Fml32Values, FailuresAreReported) {
  AddLongs(kLong, 1);
  long l = 0;
  char small[4] = {'.', '.', '.', '.'};
  FLDLEN32 len = sizeof small;
  auto expectFailure = [](bool failed, int error, const char* call) {
    EXPECT_TRUE(failed) << call;
    EXPECT_EQ(Ferror32, error) << call;
    Ferror32 = 0;
  };
  Ferror32 = 0;
  expectFailure(Fget32(Buf(), kLong, 1, Raw(l), nullptr) == -1, FNOTPRES, "Fget32 absent");
  expectFailure(Ffind32(Buf(), kString, 0, nullptr) == nullptr, FNOTPRES, "Ffind32 absent");
  expectFailure(Flen32(Buf(), kLong, -1) == -1, FNOTPRES, "Flen32 negative");
  expectFailure(Ffindlast32(Buf(), kString, nullptr, nullptr) == nullptr, FNOTPRES, "Ffindlast32 absent");
  expectFailure(Fadd32(Buf(), BADFLDID, Raw(l), 0) == -1, FBADFLD, "Fadd32 number 0");
  expectFailure(Fadd32(Buf(), Fmkfldid32(FLD_PTR, 200), Raw(l), 0) == -1, FTYPERR, "Fadd32 ptr");
  expectFailure(Fadd32(Buf(), kLong, nullptr, 0) == -1, FEINVAL, "Fadd32 null");
  expectFailure(Foccur32(Buf(), FLDID32{FLD_LONG} << 25) == -1, FBADFLD, "Foccur32 number 0");
  Ferror32 = 0;
  EXPECT_EQ(Fget32(Buf(), kLong, 0, small, &len), -1);
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_EQ(std::string(small, 4), "....");
  EXPECT_EQ(Fpres32(Buf(), kLong, 0), 1);
  EXPECT_EQ(Fpres32(Buf(), kLong, 1), 0);
}

TEST_F(Fml32Values, ShortcutsForAbsentOccurrencesAndOtherTypes) {
  short s = -4;
  ASSERT_EQ(Fadd32(Buf(), kShort, Raw(s), 0), 1);
  ASSERT_EQ(Fadd32(Buf(), kChar, Text("k"), 0), 1);
  AddStrings({"txt"});
  Ferror32 = 0;
  EXPECT_EQ(Fvall32(Buf(), kShort, 0), -4);
  EXPECT_EQ(Fvall32(Buf(), kLong, 7), 0);
  EXPECT_STREQ(Fvals32(Buf(), kString, 0), "txt");
  EXPECT_STREQ(Fvals32(Buf(), kChar, 0), "k");
  EXPECT_STREQ(Fvals32(Buf(), kString, 3), "");
  EXPECT_EQ(Ferror32, 0);
  EXPECT_EQ(Fvall32(Buf(), kDouble, 0), 0);
  EXPECT_EQ(Ferror32, FTYPERR);
  Ferror32 = 0;
  EXPECT_STREQ(Fvals32(Buf(), kLong, 0), "");
  EXPECT_EQ(Ferror32, FTYPERR);
}

TEST_F(Fml32Values, WalkGoesByFieldIdThenOccurrence) {
  const FLDID32 high = Fmkfldid32(FLD_LONG, 5000);
  const FLDID32 low = Fmkfldid32(FLD_STRING, 150);  // a larger id: its type bits are higher
  AddLongs(high, 1);
  ASSERT_EQ(Fadd32(Buf(), low, Text("a"), 0), 1);
  AddLongs(kLong, 1);
  AddLongs(high, 1);
  short s = 1;
  ASSERT_EQ(Fadd32(Buf(), kShort, Raw(s), 0), 1);
  const std::vector<std::pair<FLDID32, FLDOCC32>> expected = {{kShort, 0}, {kLong, 0}, {high, 0}, {high, 1}, {low, 0}};
  EXPECT_EQ(Walk(), expected);
}

TEST_F(Fml32Values, WalkEndsLeavingItsArgumentsAlone) {
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  EXPECT_EQ(Fnext32(Buf(), &id, &oc, nullptr, nullptr), 0);
  EXPECT_EQ(id, FIRSTFLDID);
  AddStrings({"longer text"});
  char small[4];
  FLDLEN32 len = sizeof small;
  Ferror32 = 0;
  EXPECT_EQ(Fnext32(Buf(), &id, &oc, small, &len), -1);
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_EQ(id, FIRSTFLDID);
  char value[16] = {};
  len = sizeof value;
  ASSERT_EQ(Fnext32(Buf(), &id, &oc, value, &len), 1);
  EXPECT_EQ(id, kString);
  EXPECT_STREQ(value, "longer text");
  EXPECT_EQ(len, 12u);
  EXPECT_EQ(Fnext32(Buf(), &id, &oc, value, &len), 0);
  EXPECT_EQ(id, kString);
  EXPECT_EQ(oc, 0);
}

TEST_F(Fml32Values, WalkContinuesAfterTheCurrentFieldIsDeleted) {
  for (const FLDID32 id : {kShort, kLong, kString}) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(CFadd32(Buf(), id, Text("1"), 0, FLD_STRING), 1);
  }
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  int deleted = 0;
  while (Fnext32(Buf(), &id, &oc, nullptr, nullptr) > 0) {
    ASSERT_EQ(Fdelall32(Buf(), id), 1);
    ++deleted;
  }
  EXPECT_EQ(deleted, 3);
  EXPECT_EQ(Fnum32(Buf()), 0);
}

TEST_F(Fml32Values, WalkOverManyScrambledFields) {
  fbfr_.reset(Falloc32(1500, 1500 * sizeof(long)));
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 500; ++i) {
      long value = round;
      const FLDID32 id = Fmkfldid32(FLD_LONG, static_cast<FLDID32>(200 + (i * 7919) % 500));
      ASSERT_EQ(Fadd32(Buf(), id, Raw(value), 0), 1);
    }
  }
  const auto seen = Walk();
  ASSERT_EQ(seen.size(), 1500u);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    ASSERT_EQ(Fldno32(seen[i].first), static_cast<long>(200 + i / 3));
    ASSERT_EQ(seen[i].second, static_cast<FLDOCC32>(i % 3));
    ASSERT_EQ(Fvall32(Buf(), seen[i].first, seen[i].second), static_cast<long>(i % 3));
  }
}

}  // namespace
