#include "platform/framework/Format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <utility>

#include "platform/framework/Exceptions.h"
#include "platform/framework/Variant.h"
#include "platform/framework/framework_test_support.h"

using namespace Tx;

namespace {

using FrameworkTest::Raised;
using FormatDirectives = FrameworkTest::NeutralSettingsTest;
using FormatFloats = FrameworkTest::NeutralSettingsTest;

constexpr char kNbsp = '\xA0';  // the Polish thousand separator (no-break space)

void UsePolishSeparators() {
  FormatSettings().DecimalSeparator = ',';
  FormatSettings().ThousandSeparator = kNbsp;
}

std::string FormatError(const AnsiString& pattern, std::initializer_list<TVarRec> args) {
  return Raised([&] { Format(pattern, args); });
}

std::string Invalid(const std::string& pattern) {
  return "EConvertError: Format '" + pattern + "' invalid or incompatible with argument";
}

}  // namespace

// ---- Integer, string and pointer directives -----------------------------------------

TEST_F(FormatDirectives, IntegersWithWidthAlignmentMinimumDigitsAndUnsignedForms) {
  EXPECT_EQ(Format("[%5d|%-5D|%2d]", {42, 42, 12345}), "[   42|42   |12345]");  // width never cuts
  EXPECT_EQ(Format("%d %d", {INT_MIN, LLONG_MIN}), "-2147483648 -9223372036854775808");
  EXPECT_EQ(Format("[%.3d|%8.5d|%-6.3d]", {-5, 42, 7}), "[-005|   00042|007   ]");
  // Unsigned and hexadecimal take negatives modulo their width.
  EXPECT_EQ(Format("%u %u %.4u", {-1, -2LL, 7}), "4294967295 18446744073709551614 0007");
  EXPECT_EQ(Format("%x %X %.4x [%6x]", {255, 0xabcdef, 255, 255}), "FF ABCDEF 00FF [    FF]");
  EXPECT_EQ(Format("%x %x", {-1, -1LL}), "FFFFFFFF FFFFFFFFFFFFFFFF");
}

TEST_F(FormatDirectives, StringsPointersPercentAndLiteralText) {
  EXPECT_EQ(Format("<%s|%s|%S|%s>", {"Błąd"_ansi, 'z', "up", static_cast<const char*>(nullptr)}),
            "<Błąd|z|up|>"_ansi);
  EXPECT_EQ(Format("[%.3s|%6s|%-6.3s|%.0s]", {"abcdef", "ab", "abcdef", "abc"}),
            "[abc|    ab|abc   |]");
  EXPECT_EQ(Format("[%s]", {AnsiString("a\0b", 3)}), AnsiString("[a\0b]", 5));
  const void* p = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(0xBEEF));
  EXPECT_EQ(Format("[%-18p]", {p}), "[000000000000BEEF  ]");
  EXPECT_EQ(Format("%%%d%%", {5}), "%5%");
  EXPECT_EQ(Format("zażółć %s"_ansi, {"gęślą"_ansi}), "zażółć gęślą"_ansi);
}

TEST_F(FormatDirectives, IndexAndStarPickArgumentsAndVariantsAreConverted) {
  EXPECT_EQ(Format("%1:s %0:s", {"a", "b"}), "b a");
  EXPECT_EQ(Format("%d %d %d %0:d %d", {1, 2, 3}), "1 2 3 1 2");
  EXPECT_EQ(Format("[%1:-5d|%2:6.2f]", {0, 42, 3.14159}), "[42   |  3.14]");
  EXPECT_EQ(Format("[%-*d|%*.*f]", {6LL, 42, 8, 1, 2.25}), "[42    |     2.3]");
  EXPECT_EQ(Format("%*:s", {2, "skip", "taken"}), "taken");
  const Variant number(42);
  const Variant text(AnsiString("17"));
  EXPECT_EQ(Format("%d|%s|%.1f|%d|%x", {number, number, Variant(2.5), text, number}),
            "42|42|2.5|17|2A");
}

// ---- Floating directives ---------------------------------------------------------------

TEST_F(FormatFloats, FixedDefaultsToTwoDecimalsAndRoundsDecimalTiesAway) {
  EXPECT_EQ(Format("%f|%.0f|%.4f|[%8.3f]", {3.14159, 2.4, -1.5, 3.14159}),
            "3.14|2|-1.5000|[   3.142]");
  EXPECT_EQ(Format("%.0f %.0f %.2f %.1f", {2.5, -2.5, 1.125, 0.25}), "3 -3 1.13 0.3");
  // 0.995 is 0.99499999999999999556 in binary: below the tie, so down.
  EXPECT_EQ(Format("%.2f", {0.995}), "0.99");
  EXPECT_EQ(Format("%.2f", {123456789012.345}), "123456789012.35");
  EXPECT_EQ(Format("%.2f|%.2f", {-0.001, -0.0}), "0.00|0.00");  // no sign on a zero
  EXPECT_EQ(Format("%f|%.0f", {1e20, 1e17}), "1E20|100000000000000000");
}

TEST_F(FormatFloats, ScientificGeneralAndSpecialValues) {
  EXPECT_EQ(Format("%e", {1234.5}), "1.23450000000000E+003");
  EXPECT_EQ(Format("%.3E|%.2e|%.1e", {0.00012345, -0.5, 7.0}), "1.23E-004|-5.0E-001|7E+000");
  EXPECT_EQ(Format("%.3e|%.3e", {9.9996, 0.0}), "1.00E+001|0.00E+000");
  EXPECT_EQ(Format("%.3e|%.2e", {1e100, 1e-300}), "1.00E+100|1.0E-300");
  // General is the shorter form with at most fifteen digits.
  EXPECT_EQ(Format("%g|%g|%g|%G", {2.5, 100.0, 1.0 / 3, -7.25}), "2.5|100|0.333333333333333|-7.25");
  EXPECT_EQ(Format("%.3g|%.3g", {3.14159, 1234.0}), "3.14|1.23E003");
  EXPECT_EQ(Format("%g|%g|%g", {1e20, 0.00001, 0.0001}), "1E020|1E-005|0.0001");
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Format("%f|%e|%g|%n", {std::nan(""), inf, -inf, inf}), "NAN|INF|-INF|INF");
}

TEST_F(FormatFloats, NumberAndMoneyGroupThousands) {
  EXPECT_EQ(Format("%n|%.0n|%.1n", {1234567.891, 999.5, -1234.56}), "1,234,567.89|1,000|-1,234.6");
  EXPECT_EQ(Format("%m|%m", {1234.5, -1234.5}), "¤1,234.50|(¤1,234.50)"_ansi);
  TFormatSettings& s = FormatSettings();
  UsePolishSeparators();
  s.CurrencyString = "zł"_ansi;
  s.CurrencyFormat = 3;  // "1 $"
  s.NegCurrFormat = 8;   // "-1 $"
  s.CurrencyDecimals = 3;
  EXPECT_EQ(Format("%m|%m|%.0m", {1234.5, -5.0, 5.0}),
            AnsiString("1") + kNbsp + "234,500 zł|-5,000 zł|5 zł"_ansi);
  s.NegCurrFormat = 14;  // "($ 1)"
  s.CurrencyFormat = 0;  // "$1"
  EXPECT_EQ(Format("%m|%m", {-1.0, 1.0}), "(zł 1,000)|zł1,000"_ansi);
  EXPECT_EQ(Format("%n|%e|%g", {1234567.5, 1.5, 0.25}),
            AnsiString("1") + kNbsp + "234" + kNbsp + "567,50|1,50000000000000E+000|0,25");
  EXPECT_EQ(Format("%f", {3.5}, TFormatSettings{}), "3.50");
}

// ---- Errors ------------------------------------------------------------------------------

TEST_F(FormatDirectives, MalformedDirectivesAndArgumentsOfAnotherKind) {
  // clang-format off
  const std::pair<const char*, TVarRec> cases[] = {
      {"%d", 1.5}, {"%u", 'c'}, {"%x", true}, {"%e", 1LL}, {"%f", 1LL}, {"%g", 1LL},
      {"%n", 1LL}, {"%m", 1LL}, {"%f", "1.5"}, {"%s", 2.5}, {"%p", "text"},
      {"abc %", 1}, {"%5", 1}, {"%ld", 1}, {"%q", 1}, {"%999999999d", 1}, {"%*d", "x"}};
  // clang-format on
  for (const auto& [pattern, arg] : cases)
    EXPECT_EQ(FormatError(pattern, {arg, 1}), Invalid(pattern)) << pattern;
  EXPECT_EQ(FormatError("Pole %s ma %d wystąpień"_ansi, {"A", "B"}),
            Invalid("Pole %s ma %d wystąpień"_ansi.str()));
}

TEST_F(FormatDirectives, MissingArgument) {
  EXPECT_EQ(FormatError("%d %d", {1}), "EConvertError: No argument for format '%d %d'");
  EXPECT_EQ(FormatError("%3:d", {1, 2, 3}), "EConvertError: No argument for format '%3:d'");
  EXPECT_EQ(FormatError("%*d", {5}), "EConvertError: No argument for format '%*d'");
  EXPECT_EQ(Raised([] { Format("%s", nullptr, -1); }),
            "EConvertError: No argument for format '%s'");
  EXPECT_EQ(Format("plain", nullptr, -1), "plain");
}

// ---- Integer conversions --------------------------------------------------------------------

TEST(IntegerText, BothWaysInDecimalAndHexadecimalAndBadTextRaisesWithTheText) {
  EXPECT_EQ(IntToStr(LLONG_MIN) + " " + IntToStr(18446744073709551615ULL),
            "-9223372036854775808 18446744073709551615");
  EXPECT_EQ(IntToHex(-1, 2) + " " + IntToHex(-1LL, 2) + " " + IntToHex(255u, 4),
            "FFFFFFFF FFFFFFFFFFFFFFFF 00FF");
  const std::pair<const char*, int> good[] = {
      {"  -42", -42}, {"-2147483648", INT_MIN}, {"0x1f", 31}, {"$FFFFFFFF", -1}, {"-$10", -16}};
  for (const auto& [text, value] : good) EXPECT_EQ(StrToInt(text), value) << text;
  EXPECT_EQ(StrToInt64("-9223372036854775808"), LLONG_MIN);
  EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  for (const char* bad :
       {"", "12 ", "1.5", "+-1", "$", "0x", "2147483648", "-2147483649", "$100000000"}) {
    EXPECT_EQ(Raised([&] { StrToInt(bad); }),
              "EConvertError: '" + std::string(bad) + "' is not a valid integer value");
  }
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_THROW(StrToInt(AnsiString(std::string{'1', '\0', '2'})), EConvertError);
  EXPECT_EQ(StrToIntDef("x", -5), -5);
  int value = 99;
  EXPECT_FALSE(TryStrToInt("1x", value));
  EXPECT_EQ(value, 99);  // untouched on failure
}

// ---- FloatToStr and StrToFloat ---------------------------------------------------------------

TEST_F(FormatFloats, FifteenSignificantDigitsAndScientificOnlyOutsideFixedRange) {
  using Limits = std::numeric_limits<double>;
  // clang-format off
  const std::pair<double, const char*> cases[] = {
      {999999999999999.0, "999999999999999"}, {2.0 / 3, "0.666666666666667"}, {0.1 + 0.2, "0.3"},
      {-0.0, "0"}, {1e15, "1E15"}, {1234567890123456.0, "1.23456789012346E15"}, {-1.5e-7, "-1.5E-7"},
      {Limits::max(), "1.79769313486232E308"}, {Limits::denorm_min(), "4.94065645841247E-324"},
      {Limits::infinity(), "INF"}};
  // clang-format on
  for (const auto& [value, text] : cases) EXPECT_EQ(FloatToStr(value), text) << text;
}

TEST_F(FormatFloats, FloatToStrFFormatsAndTheLocaleSeparator) {
  EXPECT_EQ(FloatToStrF(345.6789, ffFixed, 5, 3), "345.680");
  EXPECT_EQ(FloatToStrF(123456.0, ffFixed, 3, 2), "1.23E5");  // more digits than the precision
  UsePolishSeparators();
  EXPECT_EQ(FloatToStr(1.5e-7), "1,5E-7");
  EXPECT_EQ(FloatToStr(1234567.5), "1234567,5");  // never grouped
}

TEST_F(FormatFloats, StrToFloatReadsDecimalTextWithTheLocaleSeparator) {
  EXPECT_EQ(StrToFloat(" -0.125 "), -0.125);
  EXPECT_EQ(StrToFloat("1.5e-2"), 0.015);
  EXPECT_EQ(StrToFloat("1e-400"), 0.0);  // underflow reads as zero
  for (const char* bad : {"", "1,5", "1.5.2", "1e", "1e400", "INF", "0x10", "."})
    EXPECT_EQ(Raised([&] { StrToFloat(bad); }),
              "EConvertError: '" + std::string(bad) + "' is not a valid floating point value");
  EXPECT_EQ(StrToFloatDef("x", 1.5), 1.5);
  UsePolishSeparators();
  EXPECT_EQ(StrToFloat("2,5"), 2.5);
  EXPECT_THROW(StrToFloat("2.5"), EConvertError);
  for (double v : {0.1, -2.75, 123456.789, 1e-5, 3e20})
    EXPECT_EQ(StrToFloat(FloatToStr(v)), v) << v;
}
