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

Fbfr Alloc(FLDOCC32 fields = 50, FLDLEN32 bytes = 2000) { return Fbfr(Falloc32(fields, bytes)); }

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 110);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 111);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 112);
const FLDID32 kFloat = Fmkfldid32(FLD_FLOAT, 113);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 114);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 115);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 116);

char* Text(const char* text) { return const_cast<char*>(text); }
template <typename T>
char* Raw(T& value) {
  return reinterpret_cast<char*>(&value);
}

long GetLong(FBFR32* fbfr, FLDID32 id, FLDOCC32 oc) {
  long value = 0;
  FLDLEN32 len = sizeof value;
  EXPECT_EQ(Fget32(fbfr, id, oc, Raw(value), &len), 1);
  return value;
}

std::string GetString(FBFR32* fbfr, FLDID32 id, FLDOCC32 oc) {
  FLDLEN32 len = 0;
  const char* value = Ffind32(fbfr, id, oc, &len);
  return value == nullptr ? "<absent>" : std::string(value, len);
}

std::vector<std::pair<FLDID32, FLDOCC32>> Walk(FBFR32* fbfr) {
  std::vector<std::pair<FLDID32, FLDOCC32>> seen;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  while (Fnext32(fbfr, &id, &oc, nullptr, nullptr) == 1) seen.emplace_back(id, oc);
  return seen;
}

TEST(Fml32Values, EveryTypeStoresItsNativeSize) {
  Fbfr fbfr = Alloc();
  short s = -12;
  long l = 1234567890123L;
  char c = 'Q';
  float f = 1.5f;
  double d = -2.25;
  ASSERT_EQ(Fadd32(fbfr.get(), kShort, Raw(s), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(l), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kChar, Raw(c), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kFloat, Raw(f), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kDouble, Raw(d), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kString, Text("abc"), 99), 1);  // len ignored for strings
  const char bytes[] = {'x', '\0', 'y'};
  ASSERT_EQ(Fadd32(fbfr.get(), kCarray, Text(bytes), 3), 1);

  EXPECT_EQ(Flen32(fbfr.get(), kShort, 0), static_cast<long>(sizeof(short)));
  EXPECT_EQ(Flen32(fbfr.get(), kLong, 0), 8);
  EXPECT_EQ(Flen32(fbfr.get(), kChar, 0), 1);
  EXPECT_EQ(Flen32(fbfr.get(), kFloat, 0), 4);
  EXPECT_EQ(Flen32(fbfr.get(), kDouble, 0), 8);
  EXPECT_EQ(Flen32(fbfr.get(), kString, 0), 4);
  EXPECT_EQ(Flen32(fbfr.get(), kCarray, 0), 3);

  short s2 = 0;
  long l2 = 0;
  char c2 = 0;
  float f2 = 0;
  double d2 = 0;
  char text[8] = {};
  char carray[8] = {};
  FLDLEN32 len = sizeof carray;
  ASSERT_EQ(Fget32(fbfr.get(), kShort, 0, Raw(s2), nullptr), 1);
  ASSERT_EQ(Fget32(fbfr.get(), kLong, 0, Raw(l2), nullptr), 1);
  ASSERT_EQ(Fget32(fbfr.get(), kChar, 0, Raw(c2), nullptr), 1);
  ASSERT_EQ(Fget32(fbfr.get(), kFloat, 0, Raw(f2), nullptr), 1);
  ASSERT_EQ(Fget32(fbfr.get(), kDouble, 0, Raw(d2), nullptr), 1);
  ASSERT_EQ(Fget32(fbfr.get(), kString, 0, text, nullptr), 1);
  ASSERT_EQ(Fget32(fbfr.get(), kCarray, 0, carray, &len), 1);
  EXPECT_EQ(s2, -12);
  EXPECT_EQ(l2, 1234567890123L);
  EXPECT_EQ(c2, 'Q');
  EXPECT_EQ(f2, 1.5f);
  EXPECT_EQ(d2, -2.25);
  EXPECT_STREQ(text, "abc");
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(std::string(carray, 3), std::string(bytes, 3));
  EXPECT_EQ(Fnum32(fbfr.get()), 7);
}

TEST(Fml32Values, EmptyCarrayIsAValue) {
  Fbfr fbfr = Alloc();
  char dummy = 0;
  ASSERT_EQ(Fadd32(fbfr.get(), kCarray, &dummy, 0), 1);
  FLDLEN32 len = 99;
  EXPECT_NE(Ffind32(fbfr.get(), kCarray, 0, &len), nullptr);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(Foccur32(fbfr.get(), kCarray), 1);
}

TEST(Fml32Values, FindReturnsAlignedValues) {
  Fbfr fbfr = Alloc();
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(Fadd32(fbfr.get(), kString, Text(std::string(static_cast<std::size_t>(i), 'z').c_str()), 0), 1);
    const char odd[3] = {1, 2, 3};
    ASSERT_EQ(Fadd32(fbfr.get(), kCarray, Text(odd), static_cast<FLDLEN32>(i % 3 + 1)), 1);
    double d = i;
    long l = i;
    ASSERT_EQ(Fadd32(fbfr.get(), kDouble, Raw(d), 0), 1);
    ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(l), 0), 1);
  }
  for (int i = 0; i < 5; ++i) {
    const char* d = Ffind32(fbfr.get(), kDouble, i, nullptr);
    const char* l = Ffind32(fbfr.get(), kLong, i, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(d) % alignof(double), 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(l) % alignof(long), 0u);
    EXPECT_EQ(*reinterpret_cast<const double*>(d), i);
    EXPECT_EQ(*reinterpret_cast<const long*>(l), i);
  }
}

TEST(Fml32Occurrences, AddAppendsAfterTheLast) {
  Fbfr fbfr = Alloc();
  for (long i = 0; i < 5; ++i) ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(i), 0), 1);
  EXPECT_EQ(Foccur32(fbfr.get(), kLong), 5);
  for (long i = 0; i < 5; ++i) EXPECT_EQ(GetLong(fbfr.get(), kLong, static_cast<FLDOCC32>(i)), i);
}

TEST(Fml32Occurrences, ChangeBeyondTheLastAddsDefaults) {
  Fbfr fbfr = Alloc();
  long value = 77;
  ASSERT_EQ(Fchg32(fbfr.get(), kLong, 3, Raw(value), 0), 1);
  EXPECT_EQ(Foccur32(fbfr.get(), kLong), 4);
  EXPECT_EQ(GetLong(fbfr.get(), kLong, 0), 0);
  EXPECT_EQ(GetLong(fbfr.get(), kLong, 2), 0);
  EXPECT_EQ(GetLong(fbfr.get(), kLong, 3), 77);

  ASSERT_EQ(Fchg32(fbfr.get(), kString, 2, Text("third"), 0), 1);
  EXPECT_EQ(GetString(fbfr.get(), kString, 0), std::string(1, '\0'));
  EXPECT_EQ(GetString(fbfr.get(), kString, 1), std::string(1, '\0'));
  EXPECT_EQ(GetString(fbfr.get(), kString, 2), std::string("third", 6));

  ASSERT_EQ(Fchg32(fbfr.get(), kCarray, 1, Text("ab"), 2), 1);
  EXPECT_EQ(Flen32(fbfr.get(), kCarray, 0), 0);
  EXPECT_EQ(GetString(fbfr.get(), kCarray, 1), "ab");

  double d = 1;
  ASSERT_EQ(Fchg32(fbfr.get(), kDouble, 1, Raw(d), 0), 1);
  double first = -1;
  ASSERT_EQ(Fget32(fbfr.get(), kDouble, 0, Raw(first), nullptr), 1);
  EXPECT_EQ(first, 0.0);
  char c = 'c';
  ASSERT_EQ(Fchg32(fbfr.get(), kChar, 1, &c, 0), 1);
  EXPECT_EQ(GetString(fbfr.get(), kChar, 0), std::string(1, '\0'));
}

TEST(Fml32Occurrences, ChangeMinusOneAppends) {
  Fbfr fbfr = Alloc();
  ASSERT_EQ(Fadd32(fbfr.get(), kString, Text("a"), 0), 1);
  ASSERT_EQ(Fchg32(fbfr.get(), kString, -1, Text("b"), 0), 1);
  EXPECT_EQ(Foccur32(fbfr.get(), kString), 2);
  EXPECT_STREQ(Fvals32(fbfr.get(), kString, 1), "b");
  Ferror32 = 0;
  EXPECT_EQ(Fchg32(fbfr.get(), kString, -2, Text("c"), 0), -1);
  EXPECT_EQ(Ferror32, FEINVAL);
}

TEST(Fml32Occurrences, ChangeWithNullValueDeletes) {
  Fbfr fbfr = Alloc();
  for (const char* text : {"a", "b", "c"}) ASSERT_EQ(Fadd32(fbfr.get(), kString, Text(text), 0), 1);
  ASSERT_EQ(Fchg32(fbfr.get(), kString, 0, nullptr, 0), 1);
  EXPECT_EQ(Foccur32(fbfr.get(), kString), 2);
  EXPECT_STREQ(Fvals32(fbfr.get(), kString, 0), "b");
  Ferror32 = 0;
  EXPECT_EQ(Fchg32(fbfr.get(), kString, 5, nullptr, 0), -1);
  EXPECT_EQ(Ferror32, FNOTPRES);
}

TEST(Fml32Occurrences, ChangeGrowingAValueInTheMiddleKeepsOrder) {
  Fbfr fbfr = Alloc(100, 10000);
  for (int row = 0; row < 20; ++row) {
    ASSERT_EQ(Fadd32(fbfr.get(), kString, Text(("s" + std::to_string(row)).c_str()), 0), 1);
    long l = row;
    ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(l), 0), 1);
  }
  const std::string longer(300, 'L');
  ASSERT_EQ(Fchg32(fbfr.get(), kString, 5, Text(longer.c_str()), 0), 1);
  ASSERT_EQ(Fchg32(fbfr.get(), kString, 0, Text("shorter"), 0), 1);
  ASSERT_EQ(Fchg32(fbfr.get(), kString, 19, Text(longer.c_str()), 0), 1);
  for (int row = 0; row < 20; ++row) {
    const std::string expected = row == 5 || row == 19 ? longer : row == 0 ? "shorter" : "s" + std::to_string(row);
    EXPECT_STREQ(Fvals32(fbfr.get(), kString, row), expected.c_str()) << row;
    EXPECT_EQ(Fvall32(fbfr.get(), kLong, row), row);
  }
  // The block itself keeps occurrence order: a raw copy reads the same.
  std::vector<std::uint64_t> copy(static_cast<std::size_t>(Fsizeof32(fbfr.get()) + 7) / 8);
  std::memcpy(copy.data(), fbfr.get(), static_cast<std::size_t>(Fsizeof32(fbfr.get())));
  auto* image = reinterpret_cast<FBFR32*>(copy.data());
  EXPECT_STREQ(Fvals32(image, kString, 5), longer.c_str());
  EXPECT_STREQ(Fvals32(image, kString, 6), "s6");
}

TEST(Fml32Occurrences, ChangeWithAValueFromTheSameBuffer) {
  Fbfr fbfr = Alloc(10, 300);
  ASSERT_EQ(Fadd32(fbfr.get(), kString, Text(std::string(100, 'a').c_str()), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kString, Text("b"), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kLong, Text("12345678"), 0), 1);
  ASSERT_EQ(Fdel32(fbfr.get(), kLong, 0), 1);
  char* inside = Ffind32(fbfr.get(), kString, 0, nullptr);
  ASSERT_EQ(Fchg32(fbfr.get(), kString, 1, inside, 0), 1);
  EXPECT_STREQ(Fvals32(fbfr.get(), kString, 1), std::string(100, 'a').c_str());
}

TEST(Fml32Occurrences, DeleteShiftsLaterOnesDown) {
  Fbfr fbfr = Alloc();
  for (long i = 0; i < 5; ++i) ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(i), 0), 1);
  ASSERT_EQ(Fdel32(fbfr.get(), kLong, 1), 1);
  EXPECT_EQ(Foccur32(fbfr.get(), kLong), 4);
  EXPECT_EQ(GetLong(fbfr.get(), kLong, 0), 0);
  EXPECT_EQ(GetLong(fbfr.get(), kLong, 1), 2);
  EXPECT_EQ(GetLong(fbfr.get(), kLong, 3), 4);
  Ferror32 = 0;
  EXPECT_EQ(Fdel32(fbfr.get(), kLong, 4), -1);
  EXPECT_EQ(Ferror32, FNOTPRES);
  EXPECT_EQ(Fdel32(fbfr.get(), kLong, -1), -1);
  EXPECT_EQ(Ferror32, FNOTPRES);
}

TEST(Fml32Occurrences, DeleteAll) {
  Fbfr fbfr = Alloc();
  for (long i = 0; i < 3; ++i) {
    ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(i), 0), 1);
    ASSERT_EQ(Fadd32(fbfr.get(), kString, Text("x"), 0), 1);
  }
  ASSERT_EQ(Fdelall32(fbfr.get(), kLong), 1);
  EXPECT_EQ(Foccur32(fbfr.get(), kLong), 0);
  EXPECT_EQ(Foccur32(fbfr.get(), kString), 3);
  Ferror32 = 0;
  EXPECT_EQ(Fdelall32(fbfr.get(), kLong), -1);
  EXPECT_EQ(Ferror32, FNOTPRES);
  ASSERT_EQ(Fdelall32(fbfr.get(), kString), 1);
  EXPECT_EQ(Fnum32(fbfr.get()), 0);
  EXPECT_EQ(Fused32(fbfr.get()), Fneeded32(0, 0));
}

TEST(Fml32Occurrences, AbsentOccurrencesAreReported) {
  Fbfr fbfr = Alloc();
  long l = 5;
  ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(l), 0), 1);
  Ferror32 = 0;
  EXPECT_EQ(Fget32(fbfr.get(), kLong, 1, Raw(l), nullptr), -1);
  EXPECT_EQ(Ferror32, FNOTPRES);
  Ferror32 = 0;
  EXPECT_EQ(Ffind32(fbfr.get(), kString, 0, nullptr), nullptr);
  EXPECT_EQ(Ferror32, FNOTPRES);
  Ferror32 = 0;
  EXPECT_EQ(Flen32(fbfr.get(), kLong, -1), -1);
  EXPECT_EQ(Ferror32, FNOTPRES);
  Ferror32 = 0;
  EXPECT_EQ(Ffindlast32(fbfr.get(), kString, nullptr, nullptr), nullptr);
  EXPECT_EQ(Ferror32, FNOTPRES);
  EXPECT_EQ(Fpres32(fbfr.get(), kLong, 0), 1);
  EXPECT_EQ(Fpres32(fbfr.get(), kLong, 1), 0);
  EXPECT_EQ(Foccur32(fbfr.get(), kDouble), 0);
}

TEST(Fml32Occurrences, BadFieldIdsAreRefused) {
  Fbfr fbfr = Alloc();
  long l = 5;
  Ferror32 = 0;
  EXPECT_EQ(Fadd32(fbfr.get(), BADFLDID, Raw(l), 0), -1);
  EXPECT_EQ(Ferror32, FBADFLD);
  Ferror32 = 0;
  EXPECT_EQ(Fadd32(fbfr.get(), Fmkfldid32(FLD_PTR, 200), Raw(l), 0), -1);
  EXPECT_EQ(Ferror32, FTYPERR);
  Ferror32 = 0;
  EXPECT_EQ(Fadd32(fbfr.get(), kLong, nullptr, 0), -1);
  EXPECT_EQ(Ferror32, FEINVAL);
  Ferror32 = 0;
  EXPECT_EQ(Foccur32(fbfr.get(), Fmkfldid32(FLD_LONG, 1) & ~FMAXNUM32), -1);
  EXPECT_EQ(Ferror32, FBADFLD);
}

TEST(Fml32Occurrences, GetChecksTheCallersRoom) {
  Fbfr fbfr = Alloc();
  ASSERT_EQ(Fadd32(fbfr.get(), kString, Text("hello"), 0), 1);
  char small[4] = {'.', '.', '.', '.'};
  FLDLEN32 len = sizeof small;
  Ferror32 = 0;
  EXPECT_EQ(Fget32(fbfr.get(), kString, 0, small, &len), -1);
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_EQ(std::string(small, 4), "....");
  char enough[6];
  len = sizeof enough;
  EXPECT_EQ(Fget32(fbfr.get(), kString, 0, enough, &len), 1);
  EXPECT_EQ(len, 6u);
  EXPECT_STREQ(enough, "hello");
}

TEST(Fml32Occurrences, FindLastGivesTheLastOccurrence) {
  Fbfr fbfr = Alloc();
  for (const char* text : {"one", "two", "three"}) ASSERT_EQ(Fadd32(fbfr.get(), kString, Text(text), 0), 1);
  FLDOCC32 oc = -1;
  FLDLEN32 len = 0;
  const char* last = Ffindlast32(fbfr.get(), kString, &oc, &len);
  ASSERT_NE(last, nullptr);
  EXPECT_STREQ(last, "three");
  EXPECT_EQ(oc, 2);
  EXPECT_EQ(len, 6u);
}

TEST(Fml32Occurrences, ValueShortcutsForAbsentOccurrences) {
  Fbfr fbfr = Alloc();
  short s = -4;
  long l = 400000;
  char c = 'k';
  ASSERT_EQ(Fadd32(fbfr.get(), kShort, Raw(s), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(l), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kChar, &c, 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kString, Text("txt"), 0), 1);
  Ferror32 = 0;
  EXPECT_EQ(Fvall32(fbfr.get(), kShort, 0), -4);
  EXPECT_EQ(Fvall32(fbfr.get(), kLong, 0), 400000);
  EXPECT_EQ(Fvall32(fbfr.get(), kLong, 7), 0);
  EXPECT_EQ(Fvall32(fbfr.get(), Fmkfldid32(FLD_LONG, 999), 0), 0);
  EXPECT_STREQ(Fvals32(fbfr.get(), kString, 0), "txt");
  EXPECT_STREQ(Fvals32(fbfr.get(), kChar, 0), "k");
  EXPECT_STREQ(Fvals32(fbfr.get(), kString, 3), "");
  EXPECT_EQ(Ferror32, 0);
  EXPECT_EQ(Fvall32(fbfr.get(), kDouble, 0), 0);
  EXPECT_EQ(Ferror32, FTYPERR);
  Ferror32 = 0;
  EXPECT_STREQ(Fvals32(fbfr.get(), kLong, 0), "");
  EXPECT_EQ(Ferror32, FTYPERR);
}

TEST(Fml32Walk, FieldsInIdOrderAndOccurrencesInOrder) {
  Fbfr fbfr = Alloc();
  const FLDID32 high = Fmkfldid32(FLD_LONG, 5000);
  const FLDID32 low = Fmkfldid32(FLD_STRING, 150);  // higher type bits, so a larger id
  long l = 1;
  ASSERT_EQ(Fadd32(fbfr.get(), high, Raw(l), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), low, Text("a"), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(l), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), high, Raw(l), 0), 1);
  ASSERT_EQ(Fadd32(fbfr.get(), kShort, Raw(l), 0), 1);
  const std::vector<std::pair<FLDID32, FLDOCC32>> expected = {
      {kShort, 0}, {kLong, 0}, {high, 0}, {high, 1}, {low, 0}};
  EXPECT_EQ(Walk(fbfr.get()), expected);
}

TEST(Fml32Walk, EndLeavesArgumentsAlone) {
  Fbfr fbfr = Alloc();
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  EXPECT_EQ(Fnext32(fbfr.get(), &id, &oc, nullptr, nullptr), 0);
  EXPECT_EQ(id, FIRSTFLDID);
  long l = 3;
  ASSERT_EQ(Fadd32(fbfr.get(), kLong, Raw(l), 0), 1);
  long value = 0;
  FLDLEN32 len = sizeof value;
  ASSERT_EQ(Fnext32(fbfr.get(), &id, &oc, Raw(value), &len), 1);
  EXPECT_EQ(id, kLong);
  EXPECT_EQ(oc, 0);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(len, sizeof(long));
  value = -1;
  EXPECT_EQ(Fnext32(fbfr.get(), &id, &oc, Raw(value), &len), 0);
  EXPECT_EQ(id, kLong);
  EXPECT_EQ(oc, 0);
  EXPECT_EQ(value, -1);
}

TEST(Fml32Walk, ValueCopyChecksTheLength) {
  Fbfr fbfr = Alloc();
  ASSERT_EQ(Fadd32(fbfr.get(), kString, Text("longer text"), 0), 1);
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  char small[4];
  FLDLEN32 len = sizeof small;
  Ferror32 = 0;
  EXPECT_EQ(Fnext32(fbfr.get(), &id, &oc, small, &len), -1);
  EXPECT_EQ(Ferror32, FNOSPACE);
  EXPECT_EQ(id, FIRSTFLDID);
}

TEST(Fml32Walk, ContinuesAfterTheCurrentFieldIsDeleted) {
  Fbfr fbfr = Alloc();
  for (const FLDID32 id : {kShort, kLong, kString}) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(CFadd32(fbfr.get(), id, Text("1"), 0, FLD_STRING), 1);
  }
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  int deleted = 0;
  while (Fnext32(fbfr.get(), &id, &oc, nullptr, nullptr) > 0) {
    ASSERT_EQ(Fdelall32(fbfr.get(), id), 1);
    ++deleted;
  }
  EXPECT_EQ(deleted, 3);
  EXPECT_EQ(Fnum32(fbfr.get()), 0);
}

TEST(Fml32Walk, ManyFieldsAndOccurrences) {
  Fbfr fbfr = Alloc(3000, 30000);
  // Fields added in a scrambled order, several occurrences each.
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 500; ++i) {
      const auto number = static_cast<FLDID32>(200 + (i * 7919) % 500);
      long value = round;
      ASSERT_EQ(Fadd32(fbfr.get(), Fmkfldid32(FLD_LONG, number), Raw(value), 0), 1);
    }
  }
  const auto seen = Walk(fbfr.get());
  ASSERT_EQ(seen.size(), 1500u);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(Fldno32(seen[i].first), static_cast<long>(200 + i / 3));
    EXPECT_EQ(seen[i].second, static_cast<FLDOCC32>(i % 3));
    EXPECT_EQ(Fvall32(fbfr.get(), seen[i].first, seen[i].second), static_cast<long>(i % 3));
  }
}

}  // namespace
