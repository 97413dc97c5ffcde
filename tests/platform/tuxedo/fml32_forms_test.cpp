// FML32 searching and the convenience forms of the value functions:
// Ffindocc32, CFfindocc32, Fgetlast32, Fgetalloc32, CFgetalloc32, the
// string forms (Fadds32, Fchgs32, Fgets32, Ffinds32, Fgetsa32), Ftypcvt32,
// Fappend32, F_error32; the allocation limits of Falloc32 and the index
// calls.

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

const FLDID32 kLong = Fmkfldid32(FLD_LONG, 401);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 402);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 403);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 404);
const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 405);

struct FreeMalloced {
  void operator()(char* p) const { std::free(p); }
};
using Malloced = std::unique_ptr<char, FreeMalloced>;

class Fml32Forms : public ::testing::Test {
 protected:
  void SetUp() override {
    for (long value : {7L, 42L, -3L, 42L}) ASSERT_EQ(Fadd32(Buf(), kLong, Raw(value), 0), 1);
    for (const char* text : {"alpha", "beta", "gamma", "alphabet"}) ASSERT_EQ(Fadd32(Buf(), kString, Text(text), 0), 1);
    ASSERT_EQ(Fadd32(Buf(), kCarray, Text("a\0b"), 3), 1);
    ASSERT_EQ(Fadd32(Buf(), kCarray, Text("a\0"), 2), 1);
    const double half = 0.5;
    ASSERT_EQ(Fadd32(Buf(), kDouble, Raw(const_cast<double&>(half)), 0), 1);
  }
  FBFR32* Buf() { return fbfr_.get(); }
  Fbfr fbfr_{Falloc32(50, 2000)};
};

TEST_F(Fml32Forms, FindoccFindsTheFirstEqualValueOrTheFirstWholePatternMatch) {
  long fortyTwo = 42;
  long absent = 8;
  double half = 0.5;
  EXPECT_EQ(Ffindocc32(Buf(), kLong, Raw(fortyTwo), 0), 1);
  EXPECT_EQ(Ffindocc32(Buf(), kDouble, Raw(half), 0), 0);
  EXPECT_EQ(Ffindocc32(Buf(), kCarray, Text("a\0"), 2), 1) << "the length counts for carrays";
  EXPECT_EQ(Ffindocc32(Buf(), kString, Text("gamma"), 0), 2) << "len 0: compared as text";
  EXPECT_EQ(Ffindocc32(Buf(), kString, Text("alpha.*"), 1), 0) << "len != 0: a pattern";
  EXPECT_EQ(Ffindocc32(Buf(), kString, Text("zeta|gam+a"), 1), 2) << "alternation";
  EXPECT_EQ(Ffindocc32(Buf(), kString, Text("alphabe"), 1), -1) << "the whole value must match";
  EXPECT_EQ(Ferror32, FNOTPRES);
  ExpectFerror(Ffindocc32(Buf(), kLong, Raw(absent), 0) == -1, FNOTPRES, "no such value");
  for (const char* bad : {"(unclosed", "al+++", "a{300}"}) {
    ExpectFerror(Ffindocc32(Buf(), kString, Text(bad), 1) == -1, FSYNTAX, bad);  // stacked or huge repetitions too
  }
  EXPECT_EQ(Ffindocc32(Buf(), kString, Text("[+*]|g(am){1,2}ma"), 1), 2) << "repetitions in brackets are literal";
  ExpectFerror(Ffindocc32(Buf(), kString, nullptr, 0) == -1, FEINVAL, "no value");
  ExpectFerror(Ffindocc32(Buf(), FLD_LONG << 25, Raw(fortyTwo), 0) == -1, FBADFLD, "field number 0");
}

TEST_F(Fml32Forms, CFfindoccConvertsTheValueToTheFieldsTypeFirst) {
  EXPECT_EQ(CFfindocc32(Buf(), kLong, Text("-3"), 0, FLD_STRING), 2);
  double fortyTwo = 42.0;
  EXPECT_EQ(CFfindocc32(Buf(), kLong, Raw(fortyTwo), 0, FLD_DOUBLE), 1);
  ASSERT_EQ(Fadd32(Buf(), kString, Text("a.*"), 0), 1);
  EXPECT_EQ(CFfindocc32(Buf(), kString, Text("a.*"), 0, FLD_STRING), 4) << "text, never a pattern";
  long seven = 7;
  ExpectFerror(CFfindocc32(Buf(), kString, Raw(seven), 0, FLD_LONG) == -1, FNOTPRES, "\"7\" absent");
  ExpectFerror(CFfindocc32(Buf(), kLong, Raw(seven), 0, FLD_PTR) == -1, FEBADOP, "ptr value");
  ExpectFerror(CFfindocc32(Buf(), Fmkfldid32(FLD_FML32, 9), Raw(seven), 0, FLD_LONG) == -1, FEBADOP,
               "fml32 field");
}

TEST_F(Fml32Forms, GetlastAndAllocatingGetsCopyTheValueAsFget32Would) {
  long value = 0;
  FLDLEN32 room = sizeof value;
  FLDOCC32 oc = -1;
  ASSERT_EQ(Fgetlast32(Buf(), kLong, &oc, Raw(value), &room), 1);
  EXPECT_EQ(value, 42);
  EXPECT_EQ(oc, 3);
  char tiny[3];
  room = sizeof tiny;
  oc = -1;
  ExpectFerror(Fgetlast32(Buf(), kString, &oc, tiny, &room) == -1, FNOSPACE, "Fgetlast32 room");
  EXPECT_EQ(oc, -1) << "no occurrence reported on failure";
  ExpectFerror(Fgetlast32(Buf(), kShort, &oc, tiny, nullptr) == -1, FNOTPRES, "Fgetlast32 absent");

  FLDLEN32 extra = 10;
  Malloced copy(Fgetalloc32(Buf(), kString, 3, &extra));
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy.get(), "alphabet");
  EXPECT_EQ(extra, 9u + 10u) << "the size allocated";
  std::strcat(copy.get(), "ical");  // the extra room is usable
  Malloced bytes(Fgetalloc32(Buf(), kCarray, 0, nullptr));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(std::string(bytes.get(), 3), std::string("a\0b", 3));
  ExpectFerror(Fgetalloc32(Buf(), kLong, 9, nullptr) == nullptr, FNOTPRES, "Fgetalloc32 absent");

  extra = 0;
  Malloced text(CFgetalloc32(Buf(), kLong, 2, FLD_STRING, &extra));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text.get(), "-3");
  EXPECT_EQ(extra, 3u);
  extra = 5;
  Malloced viaFgetsa(Fgetsa32(Buf(), kDouble, 0, &extra));
  ASSERT_NE(viaFgetsa, nullptr);
  EXPECT_STREQ(viaFgetsa.get(), "0.500000");
  EXPECT_EQ(extra, 9u + 5u);
}

TEST_F(Fml32Forms, StringFormsConvertThroughTheFieldsType) {
  ASSERT_EQ(Fadds32(Buf(), kShort, Text("123")), 1);
  EXPECT_EQ(Fvall32(Buf(), kShort, 0), 123);
  ASSERT_EQ(Fchgs32(Buf(), kShort, 0, Text("-9")), 1);
  ASSERT_EQ(Fchgs32(Buf(), kLong, 5, Text("11")), 1) << "beyond the last: defaults fill the gap";
  EXPECT_EQ(Fvall32(Buf(), kLong, 4), 0);
  char text[40] = {};
  ASSERT_EQ(Fgets32(Buf(), kShort, 0, text), 1);
  EXPECT_STREQ(text, "-9");
  EXPECT_STREQ(Ffinds32(Buf(), kLong, 5), "11");
  ExpectFerror(Ffinds32(Buf(), kLong, 6) == nullptr, FNOTPRES, "Ffinds32 absent");
  ExpectFerror(Fgets32(Buf(), kShort, 1, text) == -1, FNOTPRES, "Fgets32 absent");
  long appended = 99;
  ASSERT_EQ(Fappend32(Buf(), kLong, Raw(appended), 0), 1);
  EXPECT_EQ(Fvall32(Buf(), kLong, 6), 99);
}

TEST(Fml32Convert, TypcvtConvertsLooseValuesAsCFchg32Stores) {
  FLDLEN32 len = 0;
  long number = 42;
  char* converted = Ftypcvt32(&len, FLD_STRING, Raw(number), FLD_LONG, 0);
  ASSERT_NE(converted, nullptr);
  EXPECT_STREQ(converted, "42");
  EXPECT_EQ(len, 3u);
  converted = Ftypcvt32(&len, FLD_DOUBLE, Text("2.5xyz"), FLD_STRING, 0);
  ASSERT_NE(converted, nullptr);
  double value;
  std::memcpy(&value, converted, sizeof value);
  EXPECT_EQ(value, 2.5);
  EXPECT_EQ(len, sizeof(double));
  converted = Ftypcvt32(&len, FLD_CARRAY, Text("ab"), FLD_STRING, 0);
  ASSERT_NE(converted, nullptr);
  EXPECT_EQ(std::string(converted, len), "ab");
  const double big = 1e300;  // "%f" of it has 301 digits
  converted = Ftypcvt32(&len, FLD_STRING, Raw(const_cast<double&>(big)), FLD_DOUBLE, 0);
  ASSERT_NE(converted, nullptr);
  EXPECT_EQ(std::strlen(converted), 308u);

  ExpectFerror(Ftypcvt32(nullptr, FLD_LONG, Raw(number), FLD_LONG, 0) == nullptr, FEINVAL, "no tolen");
  ExpectFerror(Ftypcvt32(&len, FLD_LONG, nullptr, FLD_LONG, 0) == nullptr, FEINVAL, "no value");
  ExpectFerror(Ftypcvt32(&len, FLD_PTR, Raw(number), FLD_LONG, 0) == nullptr, FEBADOP, "to ptr");
  ExpectFerror(Ftypcvt32(&len, FLD_LONG, Raw(number), FLD_FML32, 0) == nullptr, FEBADOP, "from fml32");
  ExpectFerror(Ftypcvt32(&len, 99, Raw(number), FLD_LONG, 0) == nullptr, FTYPERR, "type 99");
}

TEST(Fml32Errors, AllocationLimitsErrorTextsAndIndexes) {
  ExpectFerror(Falloc32(5, 0) == nullptr, FEINVAL, "Falloc32 without value space");
  ExpectFerror(Falloc32(-1, 10) == nullptr, FEINVAL, "Falloc32 of -1 fields");
  EXPECT_STREQ(Fstrerror32(FNOTRECORD), "invalid record type");
  EXPECT_STREQ(Fstrerror32(FBADRECORD), "record description not found");
  EXPECT_EQ(Fstrerror32(FMAXVAL), nullptr);

  Ferror32 = FNOTPRES;
  testing::internal::CaptureStderr();
  F_error32(Text("lookup"));
  F_error32(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "lookup: field occurrence not in the buffer\nfield occurrence not in the buffer\n");
  Ferror32 = 0;

  // The index lives outside the block: nothing to strip, nothing to restore.
  Fbfr fbfr(Falloc32(10, 100));
  const long used = Fused32(fbfr.get());
  EXPECT_EQ(Findex32(fbfr.get(), 0), 1);
  EXPECT_EQ(Fidxused32(fbfr.get()), 0);
  const FLDOCC32 saved = Funindex32(fbfr.get());
  EXPECT_EQ(saved, 0);
  EXPECT_EQ(Fused32(fbfr.get()), used);
  EXPECT_EQ(Frstrindex32(fbfr.get(), saved), 1);
  ExpectFerror(Frstrindex32(fbfr.get(), -1) == -1, FEINVAL, "Frstrindex32 of -1");
  alignas(8) char garbage[64] = {};
  auto* bad = reinterpret_cast<FBFR32*>(garbage);
  ExpectFerror(Findex32(bad, 1) == -1, FNOTFLD, "Findex32");
  ExpectFerror(Funindex32(bad) == -1, FNOTFLD, "Funindex32");
  ExpectFerror(Fidxused32(bad) == -1, FNOTFLD, "Fidxused32");
}

}  // namespace
