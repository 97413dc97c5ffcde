#include "platform/framework/AnsiString.h"

#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include <memory>
#include <sstream>
#include <string>

#include "platform/framework/Exceptions.h"
#include "platform/framework/FormatSettings.h"

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

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  return bytes;
}

constexpr unsigned char kUndefined[] = {0x81, 0x83, 0x88, 0x90, 0x98};

bool IsUndefined(unsigned char b) {
  for (unsigned char u : kUndefined)
    if (u == b) return true;
  return false;
}

}  // namespace

// ---- Code page ----------------------------------------------------------------------

TEST(CodePage, EveryByteMatchesThePublishedTable) {
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    if (IsUndefined(byte)) {
      EXPECT_EQ(Cp1250ToUnicode(byte), static_cast<char32_t>(b)) << "undefined byte " << b;
    } else {
      EXPECT_EQ(Cp1250ToUnicode(byte), static_cast<char32_t>(PublishedCp1250(byte))) << "byte " << b;
    }
  }
}

TEST(CodePage, EveryByteMapsBackToItself) {
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    EXPECT_EQ(UnicodeToCp1250(Cp1250ToUnicode(byte)), b) << "byte " << b;
  }
}

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
  EXPECT_EQ(UnicodeToCp1250(0x0080), -1);  // C1 controls other than the five have no byte
}

TEST(CodePage, PolishLettersHaveTheirBytes) {
  EXPECT_EQ("ąćęłńóśźż"_ansi, AnsiString("\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF"));
  EXPECT_EQ("ĄĆĘŁŃÓŚŹŻ"_ansi, AnsiString("\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF"));
  EXPECT_EQ("€ „”–"_ansi, AnsiString("\x80\x20\x84\x94\x96"));
}

TEST(CodePage, AllBytesRoundTripThroughUtf8) {
  const AnsiString bytes(AllBytes());
  const std::string utf8 = AnsiToUtf8(bytes);
  EXPECT_EQ(Utf8ToAnsi(utf8), bytes);
  // The undefined bytes travel as the C1 controls U+0081 ... in UTF-8.
  EXPECT_EQ(AnsiToUtf8(AnsiString("\x81\x98")), "\xC2\x81\xC2\x98");
  EXPECT_EQ(AnsiToUtf8("Łódź"_ansi), "Łódź");
}

TEST(CodePage, CharactersOutsideThePageBecomeQuestionMarks) {
  EXPECT_EQ("Grüße, Ωmega ☃ 😀"_ansi, AnsiString("Gr\xFC\xDF" "e, ?mega ? ?"));
  EXPECT_EQ(Utf8ToAnsi("\xC2\x80"), "?");  // U+0080 is not one of the five
}

TEST(CodePage, MalformedUtf8BecomesOneQuestionMarkPerByte) {
  EXPECT_EQ(Utf8ToAnsi("a\x80" "b"), "a?b");                 // stray continuation byte
  EXPECT_EQ(Utf8ToAnsi("\xC5"), "?");                        // truncated at the end
  EXPECT_EQ(Utf8ToAnsi("\xC5" "A"), "?A");                   // continuation missing
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82"), "??");                   // truncated three-byte form
  EXPECT_EQ(Utf8ToAnsi("\xC0\x80"), "??");                   // overlong zero
  EXPECT_EQ(Utf8ToAnsi("\xE0\x80\xAF"), "???");              // overlong slash
  EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80"), "???");              // surrogate
  EXPECT_EQ(Utf8ToAnsi("\xF4\x90\x80\x80"), "????");         // above U+10FFFF
  EXPECT_EQ(Utf8ToAnsi("\xFF\xFE"), "??");                   // never valid
  EXPECT_EQ(Utf8ToAnsi("\xC5\x82\xC5"), "\xB3?");            // good then truncated
}

TEST(CodePage, DecodingNeverReadsPastTheView) {
  // The view ends inside a sequence whose continuation lies just beyond it.
  const std::string storage = "x\xC5\x82";
  EXPECT_EQ(Utf8ToAnsi(std::string_view(storage.data(), 2)), "x?");
  const std::string four = "\xF0\x9F\x98\x80";
  for (std::size_t n = 1; n < 4; ++n) EXPECT_EQ(Utf8ToAnsi(std::string_view(four.data(), n)).Length(), static_cast<int>(n));
}

TEST(CodePage, EmbeddedZerosSurviveConversion) {
  const std::string utf8("a\0ł", 4);
  EXPECT_EQ(Utf8ToAnsi(utf8), AnsiString("a\0\xB3", 3));
  EXPECT_EQ(AnsiToUtf8(AnsiString("a\0\xB3", 3)), utf8);
}

// ---- Construction and access ----------------------------------------------------------

TEST(AnsiStringBasics, ConstructionFromTextsAndNumbers) {
  EXPECT_EQ(AnsiString(static_cast<const char*>(nullptr)), "");
  EXPECT_EQ(AnsiString("abc", 2), "ab");
  EXPECT_EQ(AnsiString("abc", -1), "");
  EXPECT_EQ(AnsiString(nullptr, 5), "");
  EXPECT_EQ(AnsiString('x'), "x");
  EXPECT_EQ(AnsiString(-42), "-42");
  EXPECT_EQ(AnsiString(4294967295U), "4294967295");
  EXPECT_EQ(AnsiString(-9000000000LL), "-9000000000");
  EXPECT_EQ(AnsiString(18446744073709551615ULL), "18446744073709551615");
  const TFormatSettings saved = FormatSettings();
  FormatSettings() = TFormatSettings{};
  EXPECT_EQ(AnsiString(2.5), "2.5");
  EXPECT_EQ(AnsiString(1e15), "1E15");
  FormatSettings() = saved;
}

TEST(AnsiStringBasics, HoldsAnyByteIncludingZero) {
  AnsiString s("a\0b", 3);
  EXPECT_EQ(s.Length(), 3);
  EXPECT_EQ(s[2], '\0');
  EXPECT_EQ(s.c_str()[3], '\0');  // still terminated after the bytes
  EXPECT_NE(s, AnsiString("a"));
  EXPECT_LT(AnsiString("a"), s);
  EXPECT_FALSE(s.IsEmpty());
  EXPECT_TRUE(AnsiString().IsEmpty());
}

TEST(AnsiStringBasics, IndexIsOneBasedAndChecked) {
  AnsiString s = "abc";
  EXPECT_EQ(s[1], 'a');
  EXPECT_EQ(s[3], 'c');
  s[2] = 'X';
  EXPECT_EQ(s, "aXc");
  try {
    (void)s[4];
    FAIL() << "index 4 accepted";
  } catch (const ERangeError& e) {
    EXPECT_EQ(e.Message, "Range check error");
  }
  EXPECT_THROW((void)s[0], ERangeError);
  const AnsiString empty;
  EXPECT_THROW((void)empty[1], ERangeError);
}

TEST(AnsiStringBasics, ComparisonIsByUnsignedBytes) {
  EXPECT_LT(AnsiString("a"), AnsiString("b"));
  EXPECT_LT(AnsiString("z"), "ą"_ansi);  // 0x7A < 0xB9
  EXPECT_LT(AnsiString("ab"), AnsiString("abc"));
  EXPECT_TRUE(AnsiString("x") == "x");
  EXPECT_TRUE("x" == AnsiString("x"));
  EXPECT_TRUE(AnsiString("a") < "b");
  EXPECT_TRUE(AnsiString("") == nullptr);
}

// ---- Editing ----------------------------------------------------------------------------

TEST(AnsiStringEditing, SubStringClipsToTheText) {
  const AnsiString s = "abcdef";
  EXPECT_EQ(s.SubString(2, 3), "bcd");
  EXPECT_EQ(s.SubString(5, 10), "ef");
  EXPECT_EQ(s.SubString(0, 2), "ab");  // index below 1 counts as 1
  EXPECT_EQ(s.SubString(-3, 2), "ab");
  EXPECT_EQ(s.SubString(7, 1), "");
  EXPECT_EQ(s.SubString(2, 0), "");
  EXPECT_EQ(s.SubString(2, -1), "");
}

TEST(AnsiStringEditing, PosFindsFirstOccurrence) {
  const AnsiString s = "abcabc";
  EXPECT_EQ(s.Pos("bc"), 2);
  EXPECT_EQ(s.Pos("x"), 0);
  EXPECT_EQ(s.Pos(""), 0);
  EXPECT_EQ(AnsiString("a\0b", 3).Pos(AnsiString("\0b", 2)), 2);
  EXPECT_EQ(s.LastDelimiter("a"), 4);
  EXPECT_EQ(s.LastDelimiter("xyz"), 0);
  EXPECT_TRUE(s.IsDelimiter("cx", 3));
  EXPECT_FALSE(s.IsDelimiter("cx", 99));
}

TEST(AnsiStringEditing, InsertAndDelete) {
  AnsiString s = "ace";
  s.Insert("b", 2);
  EXPECT_EQ(s, "abce");
  s.Insert("<", 0);
  EXPECT_EQ(s, "<abce");
  s.Insert(">", 100);
  EXPECT_EQ(s, "<abce>");
  s.Delete(1, 1);
  EXPECT_EQ(s, "abce>");
  s.Delete(4, 100);
  EXPECT_EQ(s, "abc");
  s.Delete(0, 1).Delete(4, 1).Delete(2, 0);
  EXPECT_EQ(s, "abc");
}

TEST(AnsiStringEditing, SetLengthCutsOrPadsWithZeros) {
  AnsiString s = "abc";
  s.SetLength(5);
  EXPECT_EQ(s, AnsiString("abc\0\0", 5));
  s.SetLength(1);
  EXPECT_EQ(s, "a");
  s.SetLength(-3);
  EXPECT_TRUE(s.IsEmpty());
}

TEST(AnsiStringEditing, TrimDropsControlsAndBlanksOnly) {
  EXPECT_EQ(AnsiString(" \t\r\nab c\x01 ").Trim(), "ab c");
  EXPECT_EQ(AnsiString("  x ").TrimLeft(), "x ");
  EXPECT_EQ(AnsiString("  x ").TrimRight(), "  x");
  const AnsiString nbsp("\xA0x\xA0");  // the no-break space is not a blank here
  EXPECT_EQ(nbsp.Trim(), nbsp);
  EXPECT_EQ(AnsiString("   ").Trim(), "");
}

TEST(AnsiStringEditing, ConcatenationAndStringOfChar) {
  AnsiString s = "Pole ";
  s += "<"_ansi;
  s += '1';
  s += ">";
  EXPECT_EQ(s, "Pole <1>");
  EXPECT_EQ("[" + s + ']', "[Pole <1>]");
  EXPECT_EQ('x' + AnsiString("y"), "xy");
  EXPECT_EQ(AnsiString::StringOfChar('-', 3), "---");
  EXPECT_EQ(AnsiString::StringOfChar('-', -1), "");
}

TEST(AnsiStringEditing, PrintfFamilyUsesCFormatting) {
  AnsiString s = "old";
  s.sprintf("%05.1f|%ld|%s", 3.14159, 42L, "x");
  EXPECT_EQ(s, "003.1|42|x");
  s.cat_sprintf("+%.2X", 10);
  EXPECT_EQ(s, "003.1|42|x+0A");
  EXPECT_EQ(s.printf("%d", 7), 1);
  EXPECT_EQ(s, "7");
  const std::string longText(5000, 'z');
  s.sprintf("%s!", longText.c_str());
  EXPECT_EQ(s.Length(), 5001);
}

TEST(AnsiStringEditing, FormatMemberIsTheFrameworkFormat) {
  EXPECT_EQ(AnsiString::Format("%s=%d", {"n", 3}), "n=3");
}

TEST(AnsiStringEditing, StreamsTheBytes) {
  std::ostringstream out;
  out << "ł"_ansi;
  EXPECT_EQ(out.str(), "\xB3");
}

// ---- Case mapping ---------------------------------------------------------------------------

TEST(AnsiStringCase, EveryLetterPairOfThePage) {
  // Lower and upper case pairs of Windows-1250, from the code-page table.
  const AnsiString lower = "abcdefghijklmnopqrstuvwxyzšśťžźłąşľżŕáâăäĺćçčéęëěíîďđńňóôőöřůúűüýţ"_ansi;
  const AnsiString upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZŠŚŤŽŹŁĄŞĽŻŔÁÂĂÄĹĆÇČÉĘËĚÍÎĎĐŃŇÓÔŐÖŘŮÚŰÜÝŢ"_ansi;
  ASSERT_EQ(lower.Length(), upper.Length());
  EXPECT_EQ(lower.UpperCase(), upper);
  EXPECT_EQ(upper.LowerCase(), lower);
}

TEST(AnsiStringCase, PolishLetters) {
  EXPECT_EQ("zażółć gęślą jaźń"_ansi.UpperCase(), "ZAŻÓŁĆ GĘŚLĄ JAŹŃ"_ansi);
  EXPECT_EQ("ZAŻÓŁĆ GĘŚLĄ JAŹŃ"_ansi.LowerCase(), "zażółć gęślą jaźń"_ansi);
}

TEST(AnsiStringCase, NonLettersAndLettersWithoutCounterpartStay) {
  const AnsiString others = "ßµ0123456789 .,;-_€§×÷@[]"_ansi;
  EXPECT_EQ(others.UpperCase(), others);
  EXPECT_EQ(others.LowerCase(), others);
  const AnsiString bytes(AllBytes());
  // Exactly the 26 ASCII and 40 other lower-case letters change.
  int changedUp = 0;
  const AnsiString up = bytes.UpperCase();
  for (int i = 1; i <= 256; ++i) changedUp += up[i] != bytes[i];
  EXPECT_EQ(changedUp, 26 + 40);
}
