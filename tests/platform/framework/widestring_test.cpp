#include "platform/framework/WideString.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/framework/Exceptions.h"

using namespace Tx;

TEST(WideStringConversion, EveryByteTravelsBothWays) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  const WideString wide{AnsiString(bytes)};
  ASSERT_EQ(wide.Length(), 256);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(static_cast<char32_t>(wide[b + 1]), Cp1250ToUnicode(static_cast<unsigned char>(b))) << b;
  }
  EXPECT_EQ(AnsiString(wide), AnsiString(bytes));
}

TEST(WideStringConversion, PolishTextAsUtf16) {
  const WideString wide("Łódź"_ansi);
  EXPECT_EQ(wide.str(), u"Łódź");
  EXPECT_EQ(wide.ToAnsiString(), "Łódź"_ansi);
  const AnsiString implicitlyConverted = WideString(u"zażółć");
  EXPECT_EQ(implicitlyConverted, "zażółć"_ansi);
}

TEST(WideStringConversion, CharactersOutsideThePageBecomeOneQuestionMarkEach) {
  EXPECT_EQ(AnsiString(WideString(u"Ω☃")), "??");
  EXPECT_EQ(AnsiString(WideString(u"a😀b")), "a?b");  // a surrogate pair is one character
  const char16_t unpaired[] = {u'x', 0xD800, u'y', 0xDC00, 0};
  EXPECT_EQ(AnsiString(WideString(unpaired)), "x?y?");
}

TEST(WideStringAccess, BstrIsZeroTerminatedAndNeverNull) {
  const WideString empty;
  ASSERT_NE(empty.c_bstr(), nullptr);
  EXPECT_EQ(empty.c_bstr()[0], u'\0');
  EXPECT_TRUE(empty.IsEmpty());
  const WideString text(u"abc");
  EXPECT_EQ(text.c_bstr()[3], u'\0');
  EXPECT_EQ(WideString(static_cast<const char16_t*>(nullptr)).Length(), 0);
}

TEST(WideStringAccess, LengthCountsCodeUnitsAndKeepsZeros) {
  EXPECT_EQ(WideString(u"😀").Length(), 2);
  const WideString withZero(u"a\0b", 3);
  EXPECT_EQ(withZero.Length(), 3);
  EXPECT_EQ(AnsiString(withZero), AnsiString("a\0b", 3));
  EXPECT_EQ(WideString(u"abc", 0).Length(), 0);
}

TEST(WideStringAccess, IndexIsOneBasedAndChecked) {
  WideString w(u"ab");
  EXPECT_EQ(w[1], u'a');
  w[2] = u'ł';
  EXPECT_EQ(w.str(), u"ał");
  EXPECT_THROW((void)w[0], ERangeError);
  EXPECT_THROW((void)w[3], ERangeError);
}

TEST(WideStringCompare, ByCodeUnits) {
  EXPECT_EQ(WideString(u"abc"), WideString("abc"));
  EXPECT_LT(WideString(u"abc"), WideString(u"abd"));
  EXPECT_LT(WideString(u"z"), WideString(u"ą"));
  EXPECT_NE(WideString(u"a"), WideString(u"A"));
  EXPECT_EQ(WideString(u"ab") + WideString(u"c"), WideString(u"abc"));
}

TEST(WideStringUtf8, RoundTripAndMalformedInput) {
  const std::string utf8 = "Zażółć 😀 €";
  EXPECT_EQ(WideToUtf8(Utf8ToWide(utf8)), utf8);
  EXPECT_EQ(Utf8ToWide(utf8).Length(), 11);  // the emoji takes two units
  EXPECT_EQ(Utf8ToWide("a\xC5").str(), u"a\uFFFD");
  EXPECT_EQ(Utf8ToWide("\xE2\x82").str(), u"\uFFFD\uFFFD");
  const char16_t unpaired[] = {0xDC00, 0};
  EXPECT_EQ(WideToUtf8(WideString(unpaired)), "\xEF\xBF\xBD");
}
