// FML32 expressions: Fboolco32 compiles, Fboolev32 and Ffloatev32 evaluate
// against a buffer, Fboolpr32 prints. Field names come from a small table.

#include <unistd.h>

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

struct FreeTree {
  void operator()(char* tree) const { std::free(tree); }
};
using TreePtr = std::unique_ptr<char, FreeTree>;

class Fml32Bool : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = "/tmp/fml32_bool_test_" + std::to_string(::getpid());
    std::system(("mkdir -p " + dir_).c_str());
    FILE* table = std::fopen((dir_ + "/bool.tbl").c_str(), "w");
    std::fputs("*base 600\nNAME 1 string\nCOUNT 2 short\nAMOUNT 3 long\nSEX 4 char\nRATE 5 double\n"
               "BYTES 6 carray\nLINK 7 ptr\n",
               table);
    std::fclose(table);
    UseTables(dir_, "bool.tbl");
  }
  static void TearDownTestSuite() { std::system(("rm -rf " + dir_).c_str()); }

  void SetUp() override {
    for (const char* name : {"John", "Joan", "Mary"}) ASSERT_EQ(Fadd32(Buf(), Id("NAME"), Text(name), 0), 1);
    for (long amount : {100L, 250L, -7L}) ASSERT_EQ(Fadd32(Buf(), Id("AMOUNT"), Raw(amount), 0), 1);
    short count = 3;
    double rate = 0.25;
    ASSERT_EQ(Fadd32(Buf(), Id("COUNT"), Raw(count), 0), 1);
    ASSERT_EQ(Fadd32(Buf(), Id("RATE"), Raw(rate), 0), 1);
    ASSERT_EQ(Fadd32(Buf(), Id("SEX"), Text("M"), 0), 1);
  }
  FBFR32* Buf() { return fbfr_.get(); }

  // Fboolev32 of `expression`, or -2 when it does not compile.
  int Eval(const char* expression) {
    TreePtr tree(Fboolco32(Text(expression)));
    if (!tree) return -2;
    return Fboolev32(Buf(), tree.get());
  }
  double Value(const char* expression) {
    TreePtr tree(Fboolco32(Text(expression)));
    EXPECT_NE(tree, nullptr) << expression;
    return tree ? Ffloatev32(Buf(), tree.get()) : -1;
  }

  static std::string dir_;
  Fbfr fbfr_{Falloc32(20, 400)};
};
std::string Fml32Bool::dir_;

TEST_F(Fml32Bool, ComparisonsLogicAndArithmeticFollowCPrecedence) {
  const std::pair<const char*, int> cases[] = {
      {"NAME == 'John'", 1},
      {"NAME[1] == 'Joan' && SEX == 'M'", 1},
      {"NAME %% 'J.*n' && SEX == 'M'", 1},
      {"NAME[2] %% 'J.*'", 0},
      {"NAME[2] !% 'J.*'", 1},
      {"NAME %% 'Jo'", 0},  // the whole value must match
      {"AMOUNT + 50 == 150", 1},
      {"AMOUNT[1] / 2 * 2 == 250", 1},
      {"AMOUNT[1] % 7 == 5", 1},
      {"AMOUNT[2] < 0 ^ COUNT > 2", 0},
      {"1 + 2 * 3 == 7", 1},
      {"(1 + 2) * 3 == 9", 1},
      {"-AMOUNT[2] == 7 && ~0 == -1 && !0", 1},
      {"RATE * 4 == 1", 1},
      {"RATE > AMOUNT[2]", 1},
      {"COUNT >= 3 && COUNT <= 3 && COUNT != 4", 1},
      {"NAME < 'Joan' || NAME > 'Zed'", 0},
      {"AMOUNT == '100'", 1},  // a string meets a number as a number
      {"1 || 1 / 0 == 1", 1},
      {"AMOUNT / 0 == 0", 0},  // no value: the comparison is false
      {"0x10 == 16 && 010 == 8 && 1.5e1 == 15", 1},
      {"'it\\'s' == 'it\\047s'", 1},
  };
  for (const auto& [expression, expected] : cases) EXPECT_EQ(Eval(expression), expected) << expression;
  EXPECT_EQ(Value("AMOUNT[1] * 2 + COUNT"), 503.0);
  EXPECT_EQ(Value("RATE / 2"), 0.125);
  EXPECT_EQ(Value("AMOUNT < 200"), 1.0);
}

TEST_F(Fml32Bool, BareReferencesTestExistenceAndAnyOccurrenceSearches) {
  const std::pair<const char*, int> cases[] = {
      {"NAME", 1},          {"NAME[2]", 1},          {"NAME[3]", 0},
      {"BYTES", 0},         {"!BYTES && NAME", 1},   {"NAME[3] == 'x'", 0},
      {"NAME[3] != 'x'", 0},  // absent: every comparison is false
      {"NAME[?] == 'Mary'", 1},
      {"NAME[?] == 'Anna'", 0},
      {"AMOUNT[?] < 0", 1},
      {"AMOUNT[?] > 100 && AMOUNT[?] < 0", 1},
      {"AMOUNT[?] + AMOUNT[?] == 150", 0},  // one field: one occurrence per test
      {"BYTES[?]", 0},
      {"AMOUNT[?]", 1},
  };
  for (const auto& [expression, expected] : cases) EXPECT_EQ(Eval(expression), expected) << expression;
}

TEST_F(Fml32Bool, CompileErrorsNameTheirCause) {
  const std::pair<const char*, int> cases[] = {
      {"NAME ==", FSYNTAX},          {"(AMOUNT > 1", FSYNTAX},   {"NAME + 1 == 2", FSYNTAX},
      {"RATE % 2", FSYNTAX},         {"~RATE", FSYNTAX},         {"'open", FSYNTAX},
      {"AMOUNT %% 1", FSYNTAX},      {"NAME[x]", FSYNTAX},       {"AMOUNT > 1 junk", FSYNTAX},
      {"UNKNOWN == 1", FBADNAME},    {"LINK == 1", FEBADOP},     {"", FSYNTAX},
  };
  for (const auto& [expression, error] : cases) {
    ExpectFerror(Fboolco32(Text(expression)) == nullptr, error, expression);
  }
  ExpectFerror(Fboolco32(nullptr) == nullptr, FEINVAL, "no expression");
  std::string sum = "1";
  for (int i = 0; i < 240; ++i) sum += "+1";
  TreePtr deep(Fboolco32(Text((sum + " == 241").c_str())));
  EXPECT_EQ(deep ? Fboolev32(Buf(), deep.get()) : -2, 1) << "240 levels";
  ExpectFerror(Fboolco32(Text((sum + "+1+1+1+1+1+1+1+1+1+1 == 251").c_str())) == nullptr, FSYNTAX, "too deep");
  TreePtr tree(Fboolco32(Text("NAME %% '(bad'")));
  ASSERT_NE(tree, nullptr);
  ExpectFerror(Fboolev32(Buf(), tree.get()) == -1, FSYNTAX, "a pattern that does not compile");
  alignas(8) char notATree[64] = {};
  ExpectFerror(Fboolev32(Buf(), notATree) == -1, FEINVAL, "not a tree");
  alignas(8) char notABuffer[64] = {};
  TreePtr good(Fboolco32(Text("NAME")));
  ExpectFerror(Fboolev32(reinterpret_cast<FBFR32*>(notABuffer), good.get()) == -1, FNOTFLD, "not a buffer");
}

TEST_F(Fml32Bool, PrintShowsTheParsedTreeFullyParenthesized) {
  TreePtr tree(Fboolco32(Text("NAME %% 'J.*n' && SEX == 'M' || -AMOUNT[?] * 2 + 1.5 > RATE[1]")));
  ASSERT_NE(tree, nullptr);
  testing::internal::CaptureStdout();
  Fboolpr32(tree.get(), stdout);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "(((NAME[0] %% 'J.*n') && (SEX[0] == 'M')) || ((((-AMOUNT[?]) * 2) + 1.5) > RATE[1]))\n");
}

}  // namespace
