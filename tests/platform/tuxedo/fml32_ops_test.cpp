// FML32 whole-buffer operations: Fconcat32, Fjoin32, Fojoin32, Fupdate32,
// Fproj32, Fprojcpy32, Fdelete32, Fcmp32 and Fchksum32; what they make of
// the destination, and that a failure leaves it as it was.

#include <functional>

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

const FLDID32 kA = Fmkfldid32(FLD_LONG, 301);
const FLDID32 kB = Fmkfldid32(FLD_STRING, 302);
const FLDID32 kC = Fmkfldid32(FLD_STRING, 303);
const FLDID32 kD = Fmkfldid32(FLD_CARRAY, 304);

// The contents in Fnext32 order as "number:oc=text" items, values as
// CFfind32 gives them in string form.
std::string Describe(FBFR32* fbfr) {
  std::string text;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 oc = 0;
  while (Fnext32(fbfr, &id, &oc, nullptr, nullptr) == 1) {
    const char* value = CFfind32(fbfr, id, oc, nullptr, FLD_STRING);
    text += (text.empty() ? "" : " ") + std::to_string(Fldno32(id)) + ":" + std::to_string(oc) + "=" +
            (value != nullptr ? value : "?");
  }
  return text;
}

// Builds a buffer from "A1 B:x C:y" style items: a letter and a value.
Fbfr Make(const std::vector<std::pair<FLDID32, std::string>>& items, FLDOCC32 fields = 40,
          FLDLEN32 room = 4000) {
  Fbfr fbfr(Falloc32(fields, room));
  for (const auto& [id, value] : items) {
    EXPECT_EQ(CFadd32(fbfr.get(), id, Text(value.c_str()), 0, FLD_STRING), 1) << value;
  }
  return fbfr;
}

class Fml32Ops : public ::testing::Test {
 protected:
  // dest: A 1, 2; B b0; C c0, c1.   src: A 10; C s0, s1, s2; D d0.
  Fbfr dest_ = Make({{kA, "1"}, {kA, "2"}, {kB, "b0"}, {kC, "c0"}, {kC, "c1"}});
  Fbfr src_ = Make({{kA, "10"}, {kC, "s0"}, {kC, "s1"}, {kC, "s2"}, {kD, "d0"}});
};

TEST_F(Fml32Ops, ConcatJoinOjoinAndUpdateCombineByIdAndOccurrence) {
  const std::pair<int (*)(FBFR32*, FBFR32*), std::string> cases[] = {
      {Fconcat32, "301:0=1 301:1=2 301:2=10 302:0=b0 303:0=c0 303:1=c1 303:2=s0 303:3=s1 303:4=s2 304:0=d0"},
      {Fjoin32, "301:0=10 303:0=s0 303:1=s1"},
      {Fojoin32, "301:0=10 301:1=2 302:0=b0 303:0=s0 303:1=s1"},
      {Fupdate32, "301:0=10 301:1=2 302:0=b0 303:0=s0 303:1=s1 303:2=s2 304:0=d0"},
  };
  for (const auto& [operation, expected] : cases) {
    Fbfr dest = Make({{kA, "1"}, {kA, "2"}, {kB, "b0"}, {kC, "c0"}, {kC, "c1"}});
    ASSERT_EQ(operation(dest.get(), src_.get()), 1) << expected;
    EXPECT_EQ(Describe(dest.get()), expected);
    EXPECT_EQ(Describe(src_.get()), "301:0=10 303:0=s0 303:1=s1 303:2=s2 304:0=d0") << "src unchanged";
  }
  // A buffer joined with itself: concatenation doubles every field.
  ASSERT_EQ(Fconcat32(src_.get(), src_.get()), 1);
  EXPECT_EQ(Foccur32(src_.get(), kC), 6);
  EXPECT_STREQ(Fvals32(src_.get(), kC, 5), "s2");
}

TEST_F(Fml32Ops, ProjectionsAndDeletesKeepOrDropListedFieldsAndSortTheList) {
  FLDID32 keep[] = {kC, kA, BADFLDID};
  ASSERT_EQ(Fproj32(dest_.get(), keep), 1);
  EXPECT_EQ(Describe(dest_.get()), "301:0=1 301:1=2 303:0=c0 303:1=c1");
  EXPECT_EQ(keep[0], kA) << "the list is sorted in place";
  EXPECT_EQ(keep[1], kC);

  FLDID32 copy[] = {kD, kA, Fmkfldid32(FLD_LONG, 999), BADFLDID};
  ASSERT_EQ(Fprojcpy32(dest_.get(), src_.get(), copy), 1);
  EXPECT_EQ(Describe(dest_.get()), "301:0=10 304:0=d0") << "dest's own fields are gone";

  FLDID32 drop[] = {kD, Fmkfldid32(FLD_LONG, 998), BADFLDID};
  ASSERT_EQ(Fdelete32(src_.get(), drop), 1) << "absent fields are no error";
  EXPECT_EQ(Describe(src_.get()), "301:0=10 303:0=s0 303:1=s1 303:2=s2");
  FLDID32 none[] = {BADFLDID};
  ASSERT_EQ(Fdelete32(src_.get(), none), 1);
  ASSERT_EQ(Fproj32(src_.get(), none), 1);
  EXPECT_EQ(Fnum32(src_.get()), 0);

  FLDID32 numberZero[] = {kA, FLD_STRING << 25, BADFLDID};
  ExpectFerror(Fdelete32(dest_.get(), numberZero) == -1, FBADFLD, "Fdelete32 of field number 0");
  EXPECT_EQ(Describe(dest_.get()), "301:0=10 304:0=d0");
  ExpectFerror(Fproj32(dest_.get(), nullptr) == -1, FEINVAL, "Fproj32 without a list");
}

TEST_F(Fml32Ops, NoSpaceLeavesTheDestinationAsItWasAndTheCallCanBeRepeated) {
  Fbfr small = Make({{kB, "kept"}}, 1, 16);
  const std::string before = Describe(small.get());
  const long sum = Fchksum32(small.get());
  using Operation = std::function<int()>;
  const std::pair<const char*, Operation> cases[] = {
      {"Fconcat32", [&] { return Fconcat32(small.get(), dest_.get()); }},
      {"Fupdate32", [&] { return Fupdate32(small.get(), dest_.get()); }},
      {"Fprojcpy32", [&] {
         FLDID32 all[] = {kA, kB, kC, BADFLDID};
         return Fprojcpy32(small.get(), dest_.get(), all);
       }},
  };
  for (const auto& [name, operation] : cases) {
    ExpectFerror(operation() == -1, FNOSPACE, name);
    EXPECT_EQ(Describe(small.get()), before) << name;
    EXPECT_EQ(Fchksum32(small.get()), sum) << name;
  }
  FBFR32* grown = Frealloc32(small.release(), 40, 4000);
  ASSERT_NE(grown, nullptr);
  small.reset(grown);
  ASSERT_EQ(Fconcat32(small.get(), dest_.get()), 1);
  EXPECT_EQ(Describe(small.get()), "301:0=1 301:1=2 302:0=kept 302:1=b0 303:0=c0 303:1=c1");
}

TEST_F(Fml32Ops, DamagedOrMisalignedBuffersAreRefusedByEveryOperation) {
  alignas(8) char garbage[256] = {};
  auto* notFielded = reinterpret_cast<FBFR32*>(garbage);
  auto* misaligned = reinterpret_cast<FBFR32*>(reinterpret_cast<char*>(dest_.get()) + 4);
  FLDID32 list[] = {kA, BADFLDID};
  for (const auto& [bad, error] : {std::pair{notFielded, FNOTFLD}, std::pair{misaligned, FALIGNERR}}) {
    ExpectFerror(Fconcat32(dest_.get(), bad) == -1, error, "Fconcat32 src");
    ExpectFerror(Fjoin32(bad, src_.get()) == -1, error, "Fjoin32 dest");
    ExpectFerror(Fojoin32(dest_.get(), bad) == -1, error, "Fojoin32");
    ExpectFerror(Fupdate32(bad, src_.get()) == -1, error, "Fupdate32");
    ExpectFerror(Fproj32(bad, list) == -1, error, "Fproj32");
    ExpectFerror(Fprojcpy32(dest_.get(), bad, list) == -1, error, "Fprojcpy32");
    ExpectFerror(Fdelete32(bad, list) == -1, error, "Fdelete32");
    ExpectFerror(Fcmp32(dest_.get(), bad) == -2, error, "Fcmp32");
    ExpectFerror(Fchksum32(bad) == -1, error, "Fchksum32");
  }
  EXPECT_EQ(Describe(dest_.get()), "301:0=1 301:1=2 302:0=b0 303:0=c0 303:1=c1");
}

TEST_F(Fml32Ops, CompareOrdersByIdThenValueThenLengthIgnoringBufferSize) {
  Fbfr same = Make({{kA, "1"}, {kA, "2"}, {kB, "b0"}, {kC, "c0"}, {kC, "c1"}}, 40, 90000);
  EXPECT_EQ(Fcmp32(dest_.get(), same.get()), 0) << "sizes do not count";
  const std::pair<std::vector<std::pair<FLDID32, std::string>>, int> cases[] = {
      {{{kA, "1"}, {kA, "3"}}, -1},                  // a lower long value
      {{{kA, "1"}, {kA, "-5"}}, 1},                  // a higher one
      {{{kA, "1"}, {kA, "2"}, {kB, "b1"}}, -1},      // a string after strcmp
      {{{kA, "1"}, {kA, "2"}, {kB, "b0"}}, 1},       // dest has more fields
      {{{kA, "1"}}, 1},                              // fewer occurrences
      {{{kB, "b0"}}, -1},                            // a higher field id first
  };
  for (const auto& [items, expected] : cases) {
    Fbfr other = Make(items);
    EXPECT_EQ(Fcmp32(dest_.get(), other.get()), expected) << Describe(other.get());
    EXPECT_EQ(Fcmp32(other.get(), dest_.get()), -expected) << Describe(other.get());
  }
  // Carrays compare byte-wise, then the shorter first.
  Fbfr one = Make({});
  Fbfr two = Make({});
  ASSERT_EQ(Fadd32(one.get(), kD, Text("ab\0"), 3), 1);
  ASSERT_EQ(Fadd32(two.get(), kD, Text("ab"), 2), 1);
  EXPECT_EQ(Fcmp32(one.get(), two.get()), 1);
  EXPECT_EQ(Fcmp32(two.get(), one.get()), -1);
}

TEST_F(Fml32Ops, ChecksumFollowsTheContentsNotTheBlock) {
  const long sum = Fchksum32(dest_.get());
  EXPECT_GE(sum, 0);
  Fbfr copy(Falloc32(10, 300));
  ASSERT_EQ(Fcpy32(copy.get(), dest_.get()), 1);
  EXPECT_EQ(Fchksum32(copy.get()), sum);
  // Deleting and adding back the same value leaves the same contents.
  ASSERT_EQ(Fdel32(copy.get(), kB, 0), 1);
  ASSERT_EQ(Fadd32(copy.get(), kB, Text("b0"), 0), 1);
  EXPECT_EQ(Fchksum32(copy.get()), sum);
  ASSERT_EQ(Fchg32(copy.get(), kB, 0, Text("b1"), 0), 1);
  EXPECT_NE(Fchksum32(copy.get()), sum);
  EXPECT_NE(Fchksum32(src_.get()), sum);
}

}  // namespace
