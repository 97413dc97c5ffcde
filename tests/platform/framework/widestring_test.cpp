#include "platform/framework/WideString.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/framework/Exceptions.h"

using namespace Tx;

TEST(WideStringConversion, EveryByteTravelsBothWays) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  const WideString wide{AnsiString(bytes)};
  EXPECT_EQ(wide.Length(), 256);
  EXPECT_EQ(AnsiString(wide), AnsiString(bytes));
  EXPECT_EQ(WideString("Łódź"_ansi).str(), u"Łódź");
  // Characters outside the page become one question mark each.
  EXPECT_EQ(AnsiString(WideString(u"Ω☃")), "??");
  EXPECT_EQ(AnsiString(WideString(u"a😀b")), "a?b");  // a surrogate pair is one character
  const char16_t unpaired[] = {u'x', 0xD800, u'y', 0xDC00, 0};
  EXPECT_EQ(AnsiString(WideString(unpaired)), "x?y?");
}

TEST(WideStringAccess, BstrIsZeroTerminatedNeverNullAndKeepsZeros) {
  const WideString empty(static_cast<const char16_t*>(nullptr));
  ASSERT_NE(empty.c_bstr(), nullptr);
  EXPECT_EQ(empty.c_bstr()[0], u'\0');
  WideString withZero(u"a\0b", 3);
  withZero[3] = u'ł';  // positions count from 1 to Length()
  EXPECT_EQ(withZero.c_bstr()[3], u'\0');
  EXPECT_EQ(AnsiString(withZero), AnsiString("a\0\xB3", 3));
  EXPECT_THROW((void)withZero[0], ERangeError);
  EXPECT_THROW((void)withZero[4], ERangeError);
}

TEST(WideStringUtf8, RoundTripAndMalformedInput) {
  const std::string utf8 = "Zażółć 😀 €";
  EXPECT_EQ(WideToUtf8(Utf8ToWide(utf8)), utf8);
  EXPECT_EQ(Utf8ToWide(utf8).Length(), 11);  // the emoji takes two units
  EXPECT_EQ(Utf8ToWide("a\xC5").str(), u"a\uFFFD");
  const char16_t unpaired[] = {0xDC00, 0};
  EXPECT_EQ(WideToUtf8(WideString(unpaired)), "\xEF\xBF\xBD");
}
