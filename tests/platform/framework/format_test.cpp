#include "platform/framework/Format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "platform/framework/Exceptions.h"
#include "platform/framework/Variant.h"

using namespace Tx;

namespace {

constexpr char kNbsp = '\xA0';  // the Polish thousand separator (no-break space)

// Every test starts from the neutral settings and leaves the process-wide
// ones as it found them.
class FormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSaved = FormatSettings();
    FormatSettings() = TFormatSettings{};
  }
  void TearDown() override { FormatSettings() = FSaved; }

  static void UsePolishSeparators() {
    FormatSettings().DecimalSeparator = ',';
    FormatSettings().ThousandSeparator = kNbsp;
  }

 private:
  TFormatSettings FSaved;
};

// The message of the EConvertError that formatting raises, or "" when none.
AnsiString FormatError(const AnsiString& pattern, std::initializer_list<TVarRec> args) {
  try {
    Format(pattern, args);
  } catch (const EConvertError& e) {
    return e.Message;
  }
  return "";
}

AnsiString Invalid(const char* pattern) {
  return AnsiString("Format '") + pattern + "' invalid or incompatible with argument";
}

using FormatDirectives = FormatTest;
using FormatFloats = FormatTest;
using FormatErrors = FormatTest;
using FloatToStrTest = FormatTest;
using StrToFloatTest = FormatTest;

}  // namespace

// ---- Integer directives -------------------------------------------------------------

TEST_F(FormatDirectives, DecimalWithWidthAlignmentAndSign) {
  EXPECT_EQ(Format("%d", {42}), "42");
  EXPECT_EQ(Format("%d", {-42}), "-42");
  EXPECT_EQ(Format("[%5d]", {42}), "[   42]");
  EXPECT_EQ(Format("[%-5d]", {42}), "[42   ]");
  EXPECT_EQ(Format("[%2d]", {12345}), "[12345]");  // width never cuts
  EXPECT_EQ(Format("%D", {7}), "7");
  EXPECT_EQ(Format("%d", {INT_MIN}), "-2147483648");
  EXPECT_EQ(Format("%d", {LLONG_MIN}), "-9223372036854775808");
  EXPECT_EQ(Format("%d", {4294967295UL}), "4294967295");
}

TEST_F(FormatDirectives, PrecisionOfDIsMinimumDigits) {
  EXPECT_EQ(Format("%.5d", {42}), "00042");
  EXPECT_EQ(Format("%.3d", {-5}), "-005");
  EXPECT_EQ(Format("[%8.5d]", {42}), "[   00042]");
  EXPECT_EQ(Format("[%-8.3d]", {7}), "[007     ]");
  EXPECT_EQ(Format("%.1d", {12345}), "12345");
  EXPECT_EQ(Format("%.0d", {0}), "0");
}

TEST_F(FormatDirectives, UnsignedTakesNegativesModuloTheirWidth) {
  EXPECT_EQ(Format("%u", {42}), "42");
  EXPECT_EQ(Format("%u", {-1}), "4294967295");
  EXPECT_EQ(Format("%u", {-2LL}), "18446744073709551614");
  EXPECT_EQ(Format("%.4u", {7}), "0007");
}

TEST_F(FormatDirectives, HexIsUpperCaseWithMinimumDigits) {
  EXPECT_EQ(Format("%x", {255}), "FF");
  EXPECT_EQ(Format("%X", {0xabcdef}), "ABCDEF");
  EXPECT_EQ(Format("%.4x", {255}), "00FF");
  EXPECT_EQ(Format("[%6x]", {255}), "[    FF]");
  EXPECT_EQ(Format("%x", {-1}), "FFFFFFFF");
  EXPECT_EQ(Format("%x", {-1LL}), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Format("%x", {0x1234567890ULL}), "1234567890");
}

// ---- String, pointer and percent ---------------------------------------------------

TEST_F(FormatDirectives, StringsFromEveryStringKind) {
  const AnsiString text = "Błąd"_ansi;
  EXPECT_EQ(Format("<%s>", {text}), "<Błąd>"_ansi);
  EXPECT_EQ(Format("<%s>", {"abc"}), "<abc>");
  EXPECT_EQ(Format("<%s>", {'z'}), "<z>");
  EXPECT_EQ(Format("<%s>", {static_cast<const char*>(nullptr)}), "<>");
  EXPECT_EQ(Format("<%S>", {"up"}), "<up>");
}

TEST_F(FormatDirectives, StringPrecisionCutsAndWidthPads) {
  EXPECT_EQ(Format("[%.3s]", {"abcdef"}), "[abc]");
  EXPECT_EQ(Format("[%6s]", {"ab"}), "[    ab]");
  EXPECT_EQ(Format("[%-6s]", {"ab"}), "[ab    ]");
  EXPECT_EQ(Format("[%-6.3s]", {"abcdef"}), "[abc   ]");
  EXPECT_EQ(Format("[%.0s]", {"abc"}), "[]");
}

TEST_F(FormatDirectives, StringArgumentKeepsEmbeddedZeros) {
  const AnsiString withZero("a\0b", 3);
  EXPECT_EQ(Format("[%s]", {withZero}), AnsiString("[a\0b]", 5));
}

TEST_F(FormatDirectives, PointerIsSixteenUpperCaseHexDigits) {
  const void* p = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(0xBEEF));
  EXPECT_EQ(Format("%p", {p}), "000000000000BEEF");
  EXPECT_EQ(Format("[%-18p]", {p}), "[000000000000BEEF  ]");
}

TEST_F(FormatDirectives, PercentAndLiteralText) {
  EXPECT_EQ(Format("100%%", {}), "100%");
  EXPECT_EQ(Format("%%%d%%", {5}), "%5%");
  EXPECT_EQ(Format("no directives", {}), "no directives");
  EXPECT_EQ(Format("", {}), "");
  EXPECT_EQ(Format("zażółć %s"_ansi, {"gęślą"_ansi}), "zażółć gęślą"_ansi);
}

// ---- Index and '*' -------------------------------------------------------------------

TEST_F(FormatDirectives, IndexPicksArgumentAndLaterDirectivesContinue) {
  EXPECT_EQ(Format("%1:s %0:s", {"a", "b"}), "b a");
  EXPECT_EQ(Format("%d %d %d %0:d %d", {1, 2, 3}), "1 2 3 1 2");
  EXPECT_EQ(Format("%2:s-%1:s-%s", {"x", "y", "z"}), "z-y-z");
}

TEST_F(FormatDirectives, IndexWithAlignmentWidthAndPrecision) {
  EXPECT_EQ(Format("[%1:-5d]", {0, 42}), "[42   ]");
  EXPECT_EQ(Format("[%1:6.2f]", {0, 3.14159}), "[  3.14]");
}

TEST_F(FormatDirectives, StarTakesWidthAndPrecisionFromArguments) {
  EXPECT_EQ(Format("[%*d]", {6, 42}), "[    42]");
  EXPECT_EQ(Format("[%-*d]", {6, 42}), "[42    ]");
  EXPECT_EQ(Format("[%.*f]", {3, 2.0 / 3}), "[0.667]");
  EXPECT_EQ(Format("[%*.*f]", {8, 1, 2.25}), "[     2.3]");
  EXPECT_EQ(Format("[%*s]", {4L, "a"}), "[   a]");
  EXPECT_EQ(Format("%*:s", {2, "skip", "taken"}), "taken");
}

// ---- Floating directives ---------------------------------------------------------------

TEST_F(FormatFloats, FixedDefaultsToTwoDecimals) {
  EXPECT_EQ(Format("%f", {3.14159}), "3.14");
  EXPECT_EQ(Format("%.0f", {2.4}), "2");
  EXPECT_EQ(Format("%.4f", {-1.5}), "-1.5000");
  EXPECT_EQ(Format("[%8.3f]", {3.14159}), "[   3.142]");
  EXPECT_EQ(Format("[%-8.1f]", {3.14159}), "[3.1     ]");
  EXPECT_EQ(Format("%f", {0.0}), "0.00");
  EXPECT_EQ(Format("%.2f", {123456789012.345}), "123456789012.35");
}

TEST_F(FormatFloats, DecimalTiesRoundAwayFromZero) {
  EXPECT_EQ(Format("%.0f", {2.5}), "3");
  EXPECT_EQ(Format("%.0f", {-2.5}), "-3");
  EXPECT_EQ(Format("%.2f", {1.125}), "1.13");
  EXPECT_EQ(Format("%.1f", {0.25}), "0.3");
  // 0.995 is 0.99499999999999999556 in binary: below the tie, so down.
  EXPECT_EQ(Format("%.2f", {0.995}), "0.99");
  EXPECT_EQ(Format("%.0f", {0.5}), "1");
  EXPECT_EQ(Format("%.0f", {0.49}), "0");
}

TEST_F(FormatFloats, NegativeValueRoundedToZeroHasNoSign) {
  EXPECT_EQ(Format("%.2f", {-0.001}), "0.00");
  EXPECT_EQ(Format("%.2f", {-0.0}), "0.00");
}

TEST_F(FormatFloats, ScientificHasSignedThreeDigitExponent) {
  EXPECT_EQ(Format("%e", {1234.5}), "1.23450000000000E+003");
  EXPECT_EQ(Format("%.3e", {1234.5}), "1.23E+003");
  EXPECT_EQ(Format("%.3E", {0.00012345}), "1.23E-004");
  EXPECT_EQ(Format("%.2e", {-0.5}), "-5.0E-001");
  EXPECT_EQ(Format("%.3e", {1e100}), "1.00E+100");
  EXPECT_EQ(Format("%.3e", {9.9996}), "1.00E+001");
  EXPECT_EQ(Format("%.3e", {0.0}), "0.00E+000");
  EXPECT_EQ(Format("%.1e", {7.0}), "7E+000");
  EXPECT_EQ(Format("%.2e", {1e-300}), "1.0E-300");
}

TEST_F(FormatFloats, GeneralIsShortestWithFifteenDigits) {
  EXPECT_EQ(Format("%g", {2.5}), "2.5");
  EXPECT_EQ(Format("%g", {100.0}), "100");
  EXPECT_EQ(Format("%g", {0.1}), "0.1");
  EXPECT_EQ(Format("%g", {1.0 / 3}), "0.333333333333333");
  EXPECT_EQ(Format("%g", {0.0}), "0");
  EXPECT_EQ(Format("%G", {-7.25}), "-7.25");
  EXPECT_EQ(Format("%.3g", {3.14159}), "3.14");
  EXPECT_EQ(Format("%.3g", {1234.0}), "1.23E003");
  EXPECT_EQ(Format("%g", {1e20}), "1E020");
  EXPECT_EQ(Format("%g", {0.00001}), "1E-005");
  EXPECT_EQ(Format("%g", {0.0001}), "0.0001");
  EXPECT_EQ(Format("[%8g]", {2.5}), "[     2.5]");
}

TEST_F(FormatFloats, NumberGroupsThousands) {
  EXPECT_EQ(Format("%n", {1234567.891}), "1,234,567.89");
  EXPECT_EQ(Format("%.0n", {999.5}), "1,000");
  EXPECT_EQ(Format("%.1n", {-1234.56}), "-1,234.6");
  EXPECT_EQ(Format("%n", {123.0}), "123.00");
  EXPECT_EQ(Format("%n", {0.5}), "0.50");
  EXPECT_EQ(Format("%.0n", {100000.0}), "100,000");
}

TEST_F(FormatFloats, MoneyUsesTheCurrencyFormats) {
  EXPECT_EQ(Format("%m", {1234.5}), "¤1,234.50"_ansi);
  EXPECT_EQ(Format("%m", {-1234.5}), "(¤1,234.50)"_ansi);
  TFormatSettings& s = FormatSettings();
  s.CurrencyString = "zł"_ansi;
  s.DecimalSeparator = ',';
  s.ThousandSeparator = kNbsp;
  s.CurrencyFormat = 3;
  s.NegCurrFormat = 8;
  EXPECT_EQ(Format("%m", {1234.5}), AnsiString("1") + kNbsp + "234,50 zł"_ansi);
  EXPECT_EQ(Format("%m", {-5.0}), "-5,00 zł"_ansi);
  EXPECT_EQ(Format("%.0m", {5.0}), "5 zł"_ansi);
  s.CurrencyDecimals = 3;
  EXPECT_EQ(Format("%m", {5.0}), "5,000 zł"_ansi);
}

TEST_F(FormatFloats, EveryNegativeCurrencyFormat) {
  TFormatSettings& s = FormatSettings();
  s.CurrencyString = "$";
  const char* expected[16] = {"($1.00)", "-$1.00", "$-1.00", "$1.00-", "(1.00$)", "-1.00$",
                              "1.00-$",  "1.00$-", "-1.00 $", "-$ 1.00", "1.00 $-", "$ 1.00-",
                              "$ -1.00", "1.00- $", "($ 1.00)", "(1.00 $)"};
  for (int code = 0; code < 16; ++code) {
    s.NegCurrFormat = static_cast<unsigned char>(code);
    EXPECT_EQ(Format("%m", {-1.0}), expected[code]) << "NegCurrFormat " << code;
  }
  const char* positive[4] = {"$1.00", "1.00$", "$ 1.00", "1.00 $"};
  for (int code = 0; code < 4; ++code) {
    s.CurrencyFormat = static_cast<unsigned char>(code);
    EXPECT_EQ(Format("%m", {1.0}), positive[code]) << "CurrencyFormat " << code;
  }
}

TEST_F(FormatFloats, SeparatorsComeFromFormatSettings) {
  UsePolishSeparators();
  EXPECT_EQ(Format("%f", {3.5}), "3,50");
  EXPECT_EQ(Format("%n", {1234567.5}), AnsiString("1") + kNbsp + "234" + kNbsp + "567,50");
  EXPECT_EQ(Format("%e", {1.5}), "1,50000000000000E+000");
  EXPECT_EQ(Format("%g", {0.25}), "0,25");
  TFormatSettings explicitSettings;
  EXPECT_EQ(Format("%f", {3.5}, explicitSettings), "3.50");
}

TEST_F(FormatFloats, SpecialValuesAreNamed) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Format("%f|%e|%g|%n", {std::nan(""), inf, -inf, inf}), "NAN|INF|-INF|INF");
}

TEST_F(FormatFloats, FixedOfHugeValueFallsBackToGeneral) {
  EXPECT_EQ(Format("%f", {1e20}), "1E20");
  EXPECT_EQ(Format("%.0f", {1e17}), "100000000000000000");
}

// ---- Variant arguments ----------------------------------------------------------------

TEST_F(FormatDirectives, VariantArgumentsAreConvertedForTheDirective) {
  const Variant number(42);
  const Variant real(2.5);
  const Variant text(AnsiString("ab"));
  const Variant numericText(AnsiString("17"));
  EXPECT_EQ(Format("%d|%s|%.1f|%s|%d", {number, number, real, text, numericText}), "42|42|2.5|ab|17");
  EXPECT_EQ(Format("%x", {number}), "2A");
}

// ---- Errors ------------------------------------------------------------------------------

TEST_F(FormatErrors, IntegerDirectivesRefuseOtherKinds) {
  EXPECT_EQ(FormatError("%d", {1.5}), Invalid("%d"));
  EXPECT_EQ(FormatError("%d", {"12"}), Invalid("%d"));
  EXPECT_EQ(FormatError("%u", {'c'}), Invalid("%u"));
  EXPECT_EQ(FormatError("%x", {true}), Invalid("%x"));
}

TEST_F(FormatErrors, FloatingDirectivesRefuseIntegers) {
  for (const char* pattern : {"%e", "%f", "%g", "%n", "%m"}) {
    EXPECT_EQ(FormatError(pattern, {1}), Invalid(pattern)) << pattern;
    EXPECT_EQ(FormatError(pattern, {1LL}), Invalid(pattern)) << pattern;
  }
  EXPECT_EQ(FormatError("%f", {"1.5"}), Invalid("%f"));
}

TEST_F(FormatErrors, StringAndPointerDirectivesRefuseOtherKinds) {
  EXPECT_EQ(FormatError("%s", {5}), Invalid("%s"));
  EXPECT_EQ(FormatError("%s", {2.5}), Invalid("%s"));
  EXPECT_EQ(FormatError("%s", {false}), Invalid("%s"));
  EXPECT_EQ(FormatError("%p", {5}), Invalid("%p"));
  EXPECT_EQ(FormatError("%p", {"text"}), Invalid("%p"));
}

TEST_F(FormatErrors, MessageQuotesTheWholePattern) {
  EXPECT_EQ(FormatError("Pole %s ma %d wystąpień"_ansi, {"A", "B"}),
            "Format 'Pole %s ma %d wystąpień' invalid or incompatible with argument"_ansi);
}

TEST_F(FormatErrors, MissingArgument) {
  EXPECT_EQ(FormatError("%d %d", {1}), "No argument for format '%d %d'");
  EXPECT_EQ(FormatError("%s", {}), "No argument for format '%s'");
  EXPECT_EQ(FormatError("%3:d", {1, 2, 3}), "No argument for format '%3:d'");
  EXPECT_EQ(FormatError("%*d", {5}), "No argument for format '%*d'");
  EXPECT_THROW(Format("%s", nullptr, -1), EConvertError);
  EXPECT_EQ(Format("plain", nullptr, -1), "plain");
}

TEST_F(FormatErrors, MalformedDirectives) {
  EXPECT_EQ(FormatError("abc %", {1}), Invalid("abc %"));
  EXPECT_EQ(FormatError("%5", {1}), Invalid("%5"));
  EXPECT_EQ(FormatError("%ld", {1}), Invalid("%ld"));
  EXPECT_EQ(FormatError("%q", {1}), Invalid("%q"));
  EXPECT_EQ(FormatError("%*d", {"x", 1}), Invalid("%*d"));
  EXPECT_EQ(FormatError("%999999999d", {1}), Invalid("%999999999d"));
}

TEST(FormatArrays, PointerAndHighIndexForm) {
  const AnsiString file = "TxGlobal.cpp";
  const AnsiString text = "Rozpoczęcie transakcji"_ansi;
  const TVarRec stable[] = {TVarRec(text), TVarRec(file), TVarRec(120)};
  EXPECT_EQ(Format("%s [%s.%d]", stable, 2), "Rozpoczęcie transakcji [TxGlobal.cpp.120]"_ansi);
  EXPECT_EQ(FmtStr("%s [%s.%d]", stable, 2), "Rozpoczęcie transakcji [TxGlobal.cpp.120]"_ansi);
  EXPECT_EQ(Format("%d", stable + 2, 0), "120");
  EXPECT_THROW(Format("%s %s", stable, 0), EConvertError);  // high limits what is read
}

// ---- Integer conversions --------------------------------------------------------------------

TEST(IntToStrTest, SignedUnsignedAndHex) {
  EXPECT_EQ(IntToStr(0), "0");
  EXPECT_EQ(IntToStr(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(IntToStr(LLONG_MIN), "-9223372036854775808");
  EXPECT_EQ(IntToStr(4294967295UL), "4294967295");
  EXPECT_EQ(IntToStr(18446744073709551615ULL), "18446744073709551615");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");
  EXPECT_EQ(IntToHex(-1LL, 2), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(IntToHex(0xABCDEFu, 0), "ABCDEF");
}

TEST(StrToIntTest, AcceptsTheFrameworkSyntax) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("  -42"), -42);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("2147483647"), INT_MAX);
  EXPECT_EQ(StrToInt("-2147483648"), INT_MIN);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("0x1f"), 31);
  EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
  EXPECT_EQ(StrToInt("-$10"), -16);
  EXPECT_EQ(StrToInt64("9223372036854775807"), LLONG_MAX);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), LLONG_MIN);
  EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(AnsiString(" 12").ToInt(), 12);
}

TEST(StrToIntTest, BadTextRaisesConvertErrorWithTheText) {
  for (const char* bad : {"", " ", "12 ", "1.5", "abc", "--1", "+-1", "-", "$", "0x", "2147483648",
                          "-2147483649", "$100000000", "1e3", "12abc"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message, AnsiString("'") + bad + "' is not a valid integer value");
    }
  }
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_THROW(StrToInt(AnsiString("1\0" "2", 3)), EConvertError);
}

TEST(StrToIntTest, DefaultAndTryForms) {
  EXPECT_EQ(StrToIntDef("x", -5), -5);
  EXPECT_EQ(StrToIntDef("17", -5), 17);
  EXPECT_EQ(AnsiString("bad").ToIntDef(3), 3);
  int value = 99;
  EXPECT_FALSE(TryStrToInt("1x", value));
  EXPECT_EQ(value, 99);  // untouched on failure
  EXPECT_TRUE(TryStrToInt("-8", value));
  EXPECT_EQ(value, -8);
  EXPECT_EQ(StrToInt64Def("", 4), 4);
}

// ---- FloatToStr -------------------------------------------------------------------------------

TEST_F(FloatToStrTest, IntegersHaveNoDecimalPoint) {
  EXPECT_EQ(FloatToStr(0.0), "0");
  EXPECT_EQ(FloatToStr(1.0), "1");
  EXPECT_EQ(FloatToStr(-123.0), "-123");
  EXPECT_EQ(FloatToStr(100000000000000.0), "100000000000000");
  EXPECT_EQ(FloatToStr(999999999999999.0), "999999999999999");
}

TEST_F(FloatToStrTest, FifteenSignificantDigits) {
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(0.3), "0.3");
  EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FloatToStr(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(FloatToStr(-2.5), "-2.5");
  EXPECT_EQ(FloatToStr(123456.789), "123456.789");
  EXPECT_EQ(FloatToStr(0.1 + 0.2), "0.3");
}

TEST_F(FloatToStrTest, ScientificOnlyOutsideFixedRange) {
  EXPECT_EQ(FloatToStr(1e15), "1E15");
  EXPECT_EQ(FloatToStr(1234567890123456.0), "1.23456789012346E15");
  EXPECT_EQ(FloatToStr(0.0001), "0.0001");
  EXPECT_EQ(FloatToStr(0.00012), "0.00012");
  EXPECT_EQ(FloatToStr(1e-5), "1E-5");
  EXPECT_EQ(FloatToStr(4.42615029219009E-5), "4.42615029219009E-5");
  EXPECT_EQ(FloatToStr(-1.5e-7), "-1.5E-7");
}

TEST_F(FloatToStrTest, HugeTinyAndSpecialValues) {
  EXPECT_EQ(FloatToStr(1e300), "1E300");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::max()), "1.79769313486232E308");
  EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::max()), "-1.79769313486232E308");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::denorm_min()), "4.94065645841247E-324");
  EXPECT_EQ(FloatToStr(-0.0), "0");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FloatToStr(std::nan("")), "NAN");
}

TEST_F(FloatToStrTest, UsesTheLocaleDecimalSeparator) {
  UsePolishSeparators();
  EXPECT_EQ(FloatToStr(2.5), "2,5");
  EXPECT_EQ(FloatToStr(1.5e-7), "1,5E-7");
  EXPECT_EQ(FloatToStr(1234567.0), "1234567");  // never grouped
  EXPECT_EQ(AnsiString(0.25), "0,25");
}

TEST_F(FloatToStrTest, FloatToStrFFormats) {
  EXPECT_EQ(FloatToStrF(345.6789, ffFixed, 5, 3), "345.680");
  EXPECT_EQ(FloatToStrF(345.6789, ffNumber, 15, 1), "345.7");
  EXPECT_EQ(FloatToStrF(1234.5, ffExponent, 4, 2), "1.235E+03");
  EXPECT_EQ(FloatToStrF(1234.5, ffGeneral, 3, 0), "1.23E3");
  EXPECT_EQ(FloatToStrF(123456.0, ffFixed, 3, 2), "1.23E5");
}

// ---- StrToFloat ----------------------------------------------------------------------------------

TEST_F(StrToFloatTest, ReadsDecimalTextWithTheLocaleSeparator) {
  EXPECT_EQ(StrToFloat("2.5"), 2.5);
  EXPECT_EQ(StrToFloat(" -0.125 "), -0.125);
  EXPECT_EQ(StrToFloat("1E3"), 1000.0);
  EXPECT_EQ(StrToFloat("1.5e-2"), 0.015);
  EXPECT_EQ(StrToFloat(".5"), 0.5);
  EXPECT_EQ(StrToFloat("+7"), 7.0);
  EXPECT_EQ(StrToFloat("1e-400"), 0.0);  // underflow reads as zero
  UsePolishSeparators();
  EXPECT_EQ(StrToFloat("2,5"), 2.5);
  EXPECT_THROW(StrToFloat("2.5"), EConvertError);
  EXPECT_EQ(AnsiString("3,75").ToDouble(), 3.75);
}

TEST_F(StrToFloatTest, BadTextRaisesConvertErrorWithTheText) {
  for (const char* bad : {"", "abc", "1,5", "1.5.2", "1e", "e5", "--1", "1e400", "INF", "NAN", "0x10",
                          "1 000", "."}) {
    try {
      StrToFloat(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message, AnsiString("'") + bad + "' is not a valid floating point value");
    }
  }
  EXPECT_EQ(StrToFloatDef("x", 1.5), 1.5);
}

TEST_F(StrToFloatTest, RoundTripsThroughFloatToStr) {
  for (double v : {0.1, -2.75, 123456.789, 1e-5, 3e20, 0.000123}) {
    EXPECT_EQ(StrToFloat(FloatToStr(v)), v) << v;
  }
  UsePolishSeparators();
  EXPECT_EQ(StrToFloat(FloatToStr(-2.75)), -2.75);
}
