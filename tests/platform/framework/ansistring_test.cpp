#include "platform/framework/AnsiString.h"

#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include <memory>
#include <string>

#include "platform/framework/Exceptions.h"
#include "platform/framework/framework_test_support.h"

using namespace Tx;

namespace {

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

// The published Windows-1250 table as ICU ships it, read independently of
// our own table. Undefined bytes come back as 0xFFFF.
char16_t PublishedCp1250(unsigned char byte) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, ConverterCloser> converter(ucnv_open("windows-1250", &status));
  EXPECT_TRUE(U_SUCCESS(status)) << u_errorName(status);
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  const char in = static_cast<char>(byte);
  UChar out[4] = {};
  status = U_ZERO_ERROR;
  const int32_t n = ucnv_toUChars(converter.get(), out, 4, &in, 1, &status);
  if (U_FAILURE(status) || n != 1) return 0xFFFF;
  return out[0];
}

}  // namespace

// ---- Code page ----------------------------------------------------------------------

TEST(CodePage, EveryByteMatchesThePublishedTable) {
  for (int b = 0; b < 256; ++b) {
    const bool undefined = b == 0x81 || b == 0x83 || b == 0x88 || b == 0x90 || b == 0x98;
    const char32_t expected = undefined ? static_cast<char32_t>(b) : PublishedCp1250(b);
    EXPECT_EQ(Cp1250ToUnicode(static_cast<unsigned char>(b)), expected) << "byte " << b;
  }
}

// With exactly 256 code points mapped, each back to its own byte, the
// mapping is a bijection and byte -> code point -> byte holds as well.
TEST(CodePage, OnlyTheTableCodePointsHaveBytes) {
  int mapped = 0;
  for (char32_t cp = 0; cp < 0x10000; ++cp) {
    const int b = UnicodeToCp1250(cp);
    if (b >= 0) {
      ++mapped;
      EXPECT_EQ(Cp1250ToUnicode(static_cast<unsigned char>(b)), cp);
    }
  }
  EXPECT_EQ(mapped, 256);
  EXPECT_EQ(UnicodeToCp1250(0x1F600), -1);
}

TEST(CodePage, AllBytesAndZerosRoundTripThroughUtf8) {
  AnsiString bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(bytes)), bytes);
  // The undefined bytes travel as the C1 controls U+0081 ... in UTF-8.
  EXPECT_EQ(AnsiToUtf8(AnsiString("\x81\x98")), "\xC2\x81\xC2\x98");
  EXPECT_EQ(AnsiToUtf8(AnsiString("a\0\xB3", 3)), std::string("a\0ł", 4));
  EXPECT_EQ("Grüße, Ωmega 😀"_ansi, AnsiString("Gr\374\337e, ?mega ?"));
}

TEST(CodePage, MalformedUtf8BecomesOneQuestionMarkPerByteAndIsReadOnlyWithinTheView) {
  EXPECT_EQ(Utf8ToAnsi("a\200b"), "a?b");             // stray continuation byte
  EXPECT_EQ(Utf8ToAnsi("\305A"), "?A");               // continuation missing
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82"), "??");            // truncated three-byte form
  EXPECT_EQ(Utf8ToAnsi("\xE0\x80\xAF"), "???");       // overlong slash
  EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "???");       // surrogate
  EXPECT_EQ(Utf8ToAnsi("\xF4\x90\x80\x80"), "????");  // above U+10FFFF
  EXPECT_EQ(Utf8ToAnsi("\xFF\xC5\x82\xC5"), "?\xB3?");
  // The view ends inside a sequence whose continuation lies just beyond it.
  const std::string four = "\xF0\x9F\x98\x80";
  for (std::size_t n = 1; n < 4; ++n)
    EXPECT_EQ(Utf8ToAnsi(std::string_view(four.data(), n)), std::string(n, '?')) << n;
}

// ---- Construction, access and comparison ---------------------------------------------

TEST(AnsiStringBasics, HoldsAnyByteAndIndexesFromOneWithACheck) {
  EXPECT_EQ(AnsiString(nullptr, 5), "");
  AnsiString s("a\0b", 3);
  EXPECT_EQ(s.Length(), 3);
  EXPECT_EQ(s.c_str()[3], '\0');  // still terminated after the bytes
  s[3] = 'c';
  EXPECT_EQ(s, AnsiString("a\0c", 3));
  EXPECT_EQ(FrameworkTest::Raised([&] { (void)s[4]; }), "ERangeError: Range check error");
  EXPECT_THROW((void)s[0], ERangeError);
  EXPECT_LT(AnsiString("a"), s);
  EXPECT_LT(AnsiString("z"), "ą"_ansi);  // bytes compare unsigned: 0x7A < 0xB9
}

// ---- Editing ----------------------------------------------------------------------------

TEST(AnsiStringEditing, SubStringAndPosCountFromOneAndClip) {
  const AnsiString s = "abcabc";
  EXPECT_EQ(s.SubString(2, 3), "bca");
  EXPECT_EQ(s.SubString(5, 10), "bc");
  EXPECT_EQ(s.SubString(-3, 2), "ab");  // index below 1 counts as 1
  EXPECT_EQ(s.SubString(7, 1) + s.SubString(2, -1), "");
  EXPECT_EQ(s.Pos("bc"), 2);
  EXPECT_EQ(s.Pos(""), 0);
  EXPECT_EQ(AnsiString("a\0b", 3).Pos(AnsiString("\0b", 2)), 2);
  EXPECT_EQ(s.LastDelimiter("xa"), 4);
  EXPECT_FALSE(s.IsDelimiter("cx", 99));
}

TEST(AnsiStringEditing, InsertDeleteAndSetLengthClipToTheText) {
  AnsiString s = "ace";
  s.Insert("b", 2).Insert("<", 0).Insert(">", 100);
  EXPECT_EQ(s, "<abce>");
  s.Delete(1, 1).Delete(4, 100);
  EXPECT_EQ(s, "abc");
  s.Delete(0, 1).Delete(4, 1).Delete(2, 0);
  EXPECT_EQ(s, "abc");
  s.SetLength(5);
  EXPECT_EQ(s, AnsiString("abc\0\0", 5));
  s.SetLength(-3);
  EXPECT_TRUE(s.IsEmpty());
}

TEST(AnsiStringEditing, TrimDropsControlsAndBlanksOnlyAndPrintfUsesCFormatting) {
  EXPECT_EQ(AnsiString(" \t\r\nab c\x01 ").Trim(), "ab c");
  EXPECT_EQ(AnsiString("  x ").TrimLeft() + "|" + AnsiString("  x ").TrimRight(), "x |  x");
  const AnsiString nbsp("\xA0x\xA0");  // the no-break space is not a blank here
  EXPECT_EQ(nbsp.Trim(), nbsp);
  AnsiString s = "old";
  EXPECT_EQ(s.printf("%s!", std::string(5000, 'z').c_str()), 5001);  // longer than any buffer
  EXPECT_EQ(s.sprintf("%05.1f|%ld", 3.14159, 42L).cat_sprintf("+%.2X", 10), "003.1|42+0A");
}

// ---- Case mapping ---------------------------------------------------------------------------

TEST(AnsiStringCase, PolishLettersMapBothWaysAndOtherBytesStay) {
  const AnsiString lower = "ąćęłńóśźż"_ansi;
  const AnsiString upper = "ĄĆĘŁŃÓŚŹŻ"_ansi;
  EXPECT_EQ(lower.UpperCase(), upper);
  EXPECT_EQ(upper.LowerCase(), lower);
  const AnsiString others = "ßµ09 .€§×÷@[]"_ansi;  // no one-byte counterpart or no letter
  EXPECT_EQ(others.UpperCase() + others.LowerCase(), others + others);
}
