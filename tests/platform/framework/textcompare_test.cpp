#include "platform/framework/TextCompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/framework/framework_test_support.h"

using namespace Tx;

namespace {

// Runs each test with the Polish collation and restores the locale after.
class PolishCollation : public ::testing::Test {
 protected:
  void SetUp() override {
    FSaved = CollationLocale();
    SetCollationLocale("pl_PL");
  }
  void TearDown() override { SetCollationLocale(FSaved); }

 private:
  std::string FSaved;
};

int Compare(unsigned long flags, const AnsiString& a, const AnsiString& b) {
  return CompareStringA(LOCALE_USER_DEFAULT, flags, a.data(), a.Length(), b.data(), b.Length());
}

std::vector<AnsiString> Sorted(std::vector<AnsiString> words, unsigned long flags) {
  std::sort(words.begin(), words.end(), [flags](const AnsiString& a, const AnsiString& b) {
    return Compare(flags, a, b) == CSTR_LESS_THAN;
  });
  return words;
}

std::vector<AnsiString> Ansi(std::initializer_list<const char*> utf8) {
  std::vector<AnsiString> out;
  for (const char* s : utf8) out.push_back(Utf8ToAnsi(s));
  return out;
}

using CollationLocaleChoice = PolishCollation;

}  // namespace

// ---- Polish order -----------------------------------------------------------------------

TEST_F(PolishCollation, WordsInDictionaryOrderWithAccentedLettersOfTheirOwn) {
  const auto expected = Ansi({"Ala", "ąb", "lody", "łoś", "Łódź", "Sopot", "środa", "świat",
                              "Zakopane", "źrebię", "żaba"});
  const std::vector<AnsiString> reversed(expected.rbegin(), expected.rend());
  EXPECT_EQ(Sorted(reversed, NORM_IGNORECASE), expected);
  EXPECT_EQ(Sorted(reversed, SORT_STRINGSORT), expected);
  // In Polish "ą" outranks every later letter after "a"; in the root order
  // it would only break ties.
  EXPECT_LT(AnsiCompareStr("az", "ąb"_ansi), 0);
  EXPECT_LT(AnsiCompareStr("źz"_ansi, "ża"_ansi), 0);
  EXPECT_LT(AnsiCompareText("AZ", "ąb"_ansi), 0);
}

TEST_F(PolishCollation, CaseMattersOnlyAfterTheLettersAndNeverBetweenAccents) {
  EXPECT_LT(AnsiCompareStr("ą"_ansi, "Ą"_ansi), 0);  // lower case first
  EXPECT_LT(AnsiCompareStr("A", "b"), 0);
  EXPECT_EQ(AnsiCompareText("ZAŻÓŁĆ GĘŚLĄ JAŹŃ"_ansi, "zażółć gęślą jaźń"_ansi), 0);
  EXPECT_NE(AnsiCompareText("a", "ą"_ansi), 0);
  EXPECT_NE(AnsiCompareText("ź"_ansi, "Ż"_ansi), 0);
  EXPECT_EQ(AnsiUpperCase("żółw straße"_ansi), "ŻÓŁW STRAßE"_ansi);  // ß has no one-byte capital
  EXPECT_TRUE(SameText("Id", "ID"));  // the ordinal functions fold only ASCII
  EXPECT_NE(CompareText("ą"_ansi, "Ą"_ansi), 0);
  EXPECT_EQ(UpperCase("ąbc"_ansi) + LowerCase("ĄBC"_ansi), "ąBCĄbc"_ansi);
}

// ---- Word sort and string sort ------------------------------------------------------------------

TEST_F(PolishCollation, WordSortKeepsHyphenatedWordsTogetherAndIgnoreFlags) {
  const auto words = Ansi({"cop", "co-op", "cook", "coop", "con"});
  const auto wordSorted = Sorted(words, NORM_IGNORECASE);
  EXPECT_TRUE(wordSorted == Ansi({"con", "cook", "co-op", "coop", "cop"}) ||
              wordSorted == Ansi({"con", "cook", "coop", "co-op", "cop"}));
  EXPECT_EQ(Sorted(words, SORT_STRINGSORT), Ansi({"co-op", "con", "cook", "coop", "cop"}));
  EXPECT_EQ(Compare(0, "can't", "cana"), CSTR_GREATER_THAN);  // the apostrophe alike
  EXPECT_EQ(Compare(SORT_STRINGSORT, "can't", "cana"), CSTR_LESS_THAN);
  // Symbols still decide otherwise equal words unless ignored.
  EXPECT_NE(Compare(NORM_IGNORECASE, "co-op", "COOP"), CSTR_EQUAL);
  EXPECT_EQ(Compare(NORM_IGNORESYMBOLS | NORM_IGNORECASE, "C.O.O.P.", "coop"), CSTR_EQUAL);
  EXPECT_EQ(Compare(NORM_IGNORENONSPACE, "resume", "résumé"_ansi), CSTR_EQUAL);
  EXPECT_NE(Compare(NORM_IGNORENONSPACE, "resume", "Resume"), CSTR_EQUAL);
}

// ---- CompareStringA arguments -----------------------------------------------------------------

TEST_F(PolishCollation, LengthsZerosAndBadArguments) {
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, nullptr, 0, "a", 1), CSTR_LESS_THAN);
  const char a[] = {'a', '\0', 'b'};
  const char b[] = {'a', '\0', 'c'};
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, a, 3, b, 3), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, a, -1, b, -1), CSTR_EQUAL);  // both "a"
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, nullptr, 3, "a", -1), 0);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0x80000000UL, "a", -1, "a", -1), 0);
  EXPECT_EQ(CompareStringA(0xFFFFFUL, 0, "a", -1, "a", -1), 0);
}

// ---- Locale choice ---------------------------------------------------------------------------

TEST_F(CollationLocaleChoice, EnvironmentOrderAndChangesReachEveryThread) {
  FrameworkTest::ScopedEnvironment env{
      {"LC_ALL", nullptr}, {"LC_COLLATE", nullptr}, {"LANG", nullptr}};
  EXPECT_EQ(CollationLocaleFromEnvironment(), "pl_PL");
  env.Set("LANG", "de_DE.UTF-8");
  EXPECT_EQ(CollationLocaleFromEnvironment(), "de_DE");
  env.Set("LC_COLLATE", "cs_CZ@euro");
  EXPECT_EQ(CollationLocaleFromEnvironment(), "cs_CZ");
  env.Set("LC_ALL", "POSIX");
  EXPECT_EQ(CollationLocaleFromEnvironment(), "pl_PL");
  env.Set("LC_ALL", "sv_SE");
  ResetCollationFromEnvironment();
  EXPECT_GT(AnsiCompareStr("ö"_ansi, "z"), 0);  // Swedish sorts "ö" after "z"; Polish after "o"
  // A change reaches threads that have cached their collators.
  SetCollationLocale("pl_PL");
  int before = 0;
  int after = 0;
  std::thread worker([&] {
    before = AnsiCompareStr("az", "ąb"_ansi);
    SetCollationLocale("en_US");
    after = AnsiCompareStr("az", "ąb"_ansi);
  });
  worker.join();
  EXPECT_LT(before, 0);
  EXPECT_GT(after, 0);
  EXPECT_GT(AnsiCompareStr("az", "ąb"_ansi), 0);  // this thread sees it too
}

// ---- Collation keys ------------------------------------------------------------------------

TEST_F(PolishCollation, CollationKeysOrderAsTheComparisonDoes) {
  const std::vector<AnsiString> words =
      Ansi({"", "a", "A", "ą", "Ą", "ab", "a-b", "a b", "ł", "l", "Łódź", "lody", "co-op", "coop", "żuk", "źle", "1"});
  for (const unsigned long flags : {0UL, NORM_IGNORECASE, SORT_STRINGSORT, NORM_IGNORECASE | SORT_STRINGSORT}) {
    for (const AnsiString& a : words) {
      for (const AnsiString& b : words) {
        std::string keyA, keyB = "prefix";
        CompareStringKeyA(flags, a.data(), a.Length(), keyA);
        CompareStringKeyA(flags, b.data(), b.Length(), keyB);
        keyB.erase(0, 6);  // appended after what the string held
        const int byKeys = keyA < keyB ? CSTR_LESS_THAN : (keyB < keyA ? CSTR_GREATER_THAN : CSTR_EQUAL);
        EXPECT_EQ(byKeys, Compare(flags, a, b)) << flags << " " << AnsiToUtf8(a) << " " << AnsiToUtf8(b);
        EXPECT_EQ(keyA.find('\0'), keyA.size() - 1);  // one zero byte, the last
      }
    }
  }
}
