#include "platform/framework/TextCompare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace Tx;

namespace {

// Runs each test with the Polish collation and restores the locale after.
class TextCompareTest : public ::testing::Test {
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
  std::sort(words.begin(), words.end(),
            [flags](const AnsiString& a, const AnsiString& b) { return Compare(flags, a, b) == CSTR_LESS_THAN; });
  return words;
}

std::vector<AnsiString> Ansi(std::initializer_list<const char*> utf8) {
  std::vector<AnsiString> out;
  for (const char* s : utf8) out.push_back(Utf8ToAnsi(s));
  return out;
}

using PolishCollation = TextCompareTest;
using CaseInsensitive = TextCompareTest;
using WordAndStringSort = TextCompareTest;
using CompareStringArguments = TextCompareTest;
using CollationLocaleChoice = TextCompareTest;

}  // namespace

// ---- Polish order -----------------------------------------------------------------------

TEST_F(PolishCollation, AccentedLettersFollowTheirBaseLetters) {
  const auto alphabet = Ansi({"a", "ą", "b", "c", "ć", "d", "e", "ę", "f", "l", "ł", "m", "n", "ń",
                              "o", "ó", "p", "s", "ś", "t", "z", "ź", "ż"});
  std::vector<AnsiString> shuffled(alphabet.rbegin(), alphabet.rend());
  std::rotate(shuffled.begin(), shuffled.begin() + 7, shuffled.end());
  EXPECT_EQ(Sorted(shuffled, 0), alphabet);
  EXPECT_EQ(Sorted(shuffled, NORM_IGNORECASE), alphabet);
  EXPECT_EQ(Sorted(shuffled, SORT_STRINGSORT), alphabet);
}

TEST_F(PolishCollation, AccentedLetterIsALetterOfItsOwn) {
  // In Polish "ą" outranks every later letter after "a"; in the root order
  // it would only break ties.
  EXPECT_LT(AnsiCompareStr("az", "ąb"_ansi), 0);
  EXPECT_LT(AnsiCompareStr("lz", "ła"_ansi), 0);
  EXPECT_LT(AnsiCompareStr("sz", "śa"_ansi), 0);
  EXPECT_LT(AnsiCompareStr("zz", "źa"_ansi), 0);
  EXPECT_LT(AnsiCompareStr("źz"_ansi, "ża"_ansi), 0);
  EXPECT_LT(AnsiCompareText("AZ", "ąb"_ansi), 0);
  SetCollationLocale("en_US");
  EXPECT_GT(AnsiCompareStr("az", "ąb"_ansi), 0);
}

TEST_F(PolishCollation, WordsInDictionaryOrder) {
  const auto words = Ansi({"Łódź", "łoś", "lody", "Zakopane", "żaba", "źrebię", "Sopot", "środa", "świat", "Ala", "ąb"});
  const auto expected = Ansi({"Ala", "ąb", "lody", "łoś", "Łódź", "Sopot", "środa", "świat", "Zakopane", "źrebię", "żaba"});
  EXPECT_EQ(Sorted(words, NORM_IGNORECASE), expected);
}

TEST_F(PolishCollation, CaseSensitiveOrderPutsLowerCaseFirst) {
  EXPECT_LT(AnsiCompareStr("a", "A"), 0);
  EXPECT_LT(AnsiCompareStr("ą"_ansi, "Ą"_ansi), 0);
  EXPECT_LT(AnsiCompareStr("A", "b"), 0);  // case matters only after the letters
  EXPECT_FALSE(AnsiSameStr("abc", "ABC"));
  EXPECT_TRUE(AnsiSameStr("żółw"_ansi, "żółw"_ansi));
}

// ---- Case-insensitive ----------------------------------------------------------------------

TEST_F(CaseInsensitive, CaseIsIgnoredButAccentsAreNot) {
  EXPECT_EQ(AnsiCompareText("ą"_ansi, "Ą"_ansi), 0);
  EXPECT_EQ(AnsiCompareText("ZAŻÓŁĆ GĘŚLĄ JAŹŃ"_ansi, "zażółć gęślą jaźń"_ansi), 0);
  EXPECT_TRUE(AnsiSameText("Magazyn", "MAGAZYN"));
  EXPECT_NE(AnsiCompareText("a", "ą"_ansi), 0);
  EXPECT_NE(AnsiCompareText("z", "ż"_ansi), 0);
  EXPECT_NE(AnsiCompareText("ź"_ansi, "Ż"_ansi), 0);
  EXPECT_EQ(Compare(NORM_IGNORECASE | SORT_STRINGSORT, "ŁÓDŹ"_ansi, "łódź"_ansi), CSTR_EQUAL);
}

TEST_F(CaseInsensitive, EveryPolishLetterMapsBothWays) {
  const AnsiString lower = "ąćęłńóśźż"_ansi;
  const AnsiString upper = "ĄĆĘŁŃÓŚŹŻ"_ansi;
  EXPECT_EQ(AnsiUpperCase(lower), upper);
  EXPECT_EQ(AnsiLowerCase(upper), lower);
  for (int i = 1; i <= lower.Length(); ++i) {
    EXPECT_EQ(AnsiCompareText(AnsiString(lower[i]), AnsiString(upper[i])), 0) << i;
  }
  EXPECT_EQ(AnsiUpperCase("straße"_ansi), "STRAßE"_ansi);  // ß has no one-byte capital
}

TEST_F(CaseInsensitive, OrdinalFunctionsFoldOnlyAscii) {
  EXPECT_EQ(UpperCase("ąbc"_ansi), "ąBC"_ansi);
  EXPECT_EQ(LowerCase("ĄBC"_ansi), "Ąbc"_ansi);
  EXPECT_EQ(CompareText("abc", "ABC"), 0);
  EXPECT_NE(CompareText("ą"_ansi, "Ą"_ansi), 0);
  EXPECT_TRUE(SameText("Id", "ID"));
  EXPECT_LT(CompareStr("B", "a"), 0);
  EXPECT_GT(CompareStr("ą"_ansi, "z"), 0);  // bytes as unsigned
}

// ---- Word sort and string sort ------------------------------------------------------------------

TEST_F(WordAndStringSort, WordSortKeepsHyphenatedWordsTogether) {
  const auto words = Ansi({"cop", "co-op", "cook", "coop", "con"});
  const auto wordSorted = Sorted(words, NORM_IGNORECASE);
  // "co-op" sorts as if it were "coop": between "cook" and "cop".
  const auto at = [&](const char* w) {
    return std::find(wordSorted.begin(), wordSorted.end(), AnsiString(w)) - wordSorted.begin();
  };
  EXPECT_LT(at("con"), at("cook"));
  EXPECT_LT(at("cook"), at("co-op"));
  EXPECT_LT(at("co-op"), at("cop"));
  EXPECT_LT(at("cook"), at("coop"));
  EXPECT_LT(at("coop"), at("cop"));
  EXPECT_EQ(std::abs(at("co-op") - at("coop")), 1);
}

TEST_F(WordAndStringSort, StringSortTreatsHyphenAsASymbol) {
  const auto words = Ansi({"cop", "co-op", "cook", "coop", "con"});
  EXPECT_EQ(Sorted(words, SORT_STRINGSORT), Ansi({"co-op", "con", "cook", "coop", "cop"}));
  EXPECT_EQ(Compare(SORT_STRINGSORT, "co-op", "coa"), CSTR_LESS_THAN);
  EXPECT_EQ(Compare(0, "co-op", "coa"), CSTR_GREATER_THAN);
}

TEST_F(WordAndStringSort, ApostropheBehavesLikeTheHyphen) {
  EXPECT_EQ(Compare(0, "can't", "cana"), CSTR_GREATER_THAN);
  EXPECT_EQ(Compare(0, "can't", "canu"), CSTR_LESS_THAN);
  EXPECT_EQ(Compare(SORT_STRINGSORT, "can't", "cana"), CSTR_LESS_THAN);
}

TEST_F(WordAndStringSort, HyphenStillDecidesOtherwiseEqualWords) {
  EXPECT_NE(Compare(0, "co-op", "coop"), CSTR_EQUAL);
  EXPECT_NE(Compare(NORM_IGNORECASE, "co-op", "COOP"), CSTR_EQUAL);
  EXPECT_EQ(Compare(NORM_IGNORESYMBOLS, "co-op", "coop"), CSTR_EQUAL);
  EXPECT_EQ(Compare(NORM_IGNORESYMBOLS | NORM_IGNORECASE, "C.O.O.P.", "coop"), CSTR_EQUAL);
}

// ---- CompareStringA arguments -----------------------------------------------------------------

TEST_F(CompareStringArguments, ResultsAreTheWindowsConstants) {
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "a", -1, "b", -1), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "b", -1, "a", -1), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "a", -1, "a", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "", 0, "", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, nullptr, 0, "a", 1), CSTR_LESS_THAN);
}

TEST_F(CompareStringArguments, ExplicitLengthsIncludeEmbeddedZeros) {
  const char a[] = {'a', '\0', 'b'};
  const char b[] = {'a', '\0', 'c'};
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, a, 3, b, 3), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, a, -1, b, -1), CSTR_EQUAL);  // both "a"
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "abc", 2, "abd", 2), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "ab", 2, "abc", 3), CSTR_LESS_THAN);
}

TEST_F(CompareStringArguments, BadArgumentsGiveZero) {
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, nullptr, 3, "a", -1), 0);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, "a", -2, "a", -1), 0);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0x80000000UL, "a", -1, "a", -1), 0);
  EXPECT_EQ(CompareStringA(0xFFFFFUL, 0, "a", -1, "a", -1), 0);
}

TEST_F(CompareStringArguments, LocaleIdsChooseTheirOwnOrder) {
  SetCollationLocale("en_US");
  const AnsiString az = "az";
  const AnsiString ab = "ąb"_ansi;
  EXPECT_EQ(CompareStringA(0x0415, 0, az.data(), az.Length(), ab.data(), ab.Length()), CSTR_LESS_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_INVARIANT, 0, az.data(), az.Length(), ab.data(), ab.Length()), CSTR_GREATER_THAN);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0, az.data(), az.Length(), ab.data(), ab.Length()), CSTR_GREATER_THAN);
}

TEST_F(CompareStringArguments, AccentsIgnoredOnRequest) {
  EXPECT_EQ(Compare(NORM_IGNORENONSPACE, "resume", "résumé"_ansi), CSTR_EQUAL);
  EXPECT_NE(Compare(NORM_IGNORENONSPACE, "resume", "Resume"), CSTR_EQUAL);
  EXPECT_EQ(Compare(NORM_IGNORENONSPACE | NORM_IGNORECASE, "resume", "RÉSUMÉ"_ansi), CSTR_EQUAL);
}

// ---- Locale choice ---------------------------------------------------------------------------

TEST_F(CollationLocaleChoice, EnvironmentOrder) {
  std::map<std::string, std::optional<std::string>> saved;
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* v = std::getenv(name);
    saved[name] = v ? std::optional<std::string>(v) : std::nullopt;
    unsetenv(name);
  }
  EXPECT_EQ(CollationLocaleFromEnvironment(), "pl_PL");
  setenv("LANG", "de_DE.UTF-8", 1);
  EXPECT_EQ(CollationLocaleFromEnvironment(), "de_DE");
  setenv("LC_COLLATE", "cs_CZ@euro", 1);
  EXPECT_EQ(CollationLocaleFromEnvironment(), "cs_CZ");
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(CollationLocaleFromEnvironment(), "pl_PL");
  setenv("LC_ALL", "POSIX", 1);
  EXPECT_EQ(CollationLocaleFromEnvironment(), "pl_PL");
  setenv("LC_ALL", "sv_SE", 1);
  ResetCollationFromEnvironment();
  EXPECT_EQ(CollationLocale(), "sv_SE");
  // Swedish sorts "ö" after "z"; Polish after "o".
  EXPECT_GT(AnsiCompareStr("ö"_ansi, "z"), 0);
  for (const auto& [name, value] : saved) {
    if (value)
      setenv(name.c_str(), value->c_str(), 1);
    else
      unsetenv(name.c_str());
  }
}

TEST_F(CollationLocaleChoice, ChangeReachesThreadsWithCachedCollators) {
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

TEST_F(CollationLocaleChoice, ConcurrentComparisonsAgree) {
  const auto words = Ansi({"żaba", "Łódź", "ala", "co-op", "coop", "źrebię", "Ala", "łoś"});
  const auto expected = Sorted(words, NORM_IGNORECASE);
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      bool same = true;
      for (int round = 0; round < 200; ++round) same = same && Sorted(words, NORM_IGNORECASE) == expected;
      ok[static_cast<std::size_t>(t)] = same ? 1 : 0;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(ok, std::vector<int>(4, 1));
}
