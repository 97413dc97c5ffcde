#include "platform/framework/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "platform/framework/FormatSettings.h"
#include "platform/framework/TextCompare.h"

namespace Tx {
namespace {

// Every test runs with the neutral settings ('.' decimals, yyyy-mm-dd
// hh:nn:ss) and leaves the process's settings as it found them.
class VariantTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSaved = FormatSettings();
    FormatSettings() = TFormatSettings();
  }
  void TearDown() override { FormatSettings() = FSaved; }

 private:
  TFormatSettings FSaved;
};

using VariantTypes = VariantTest;
using VariantCasts = VariantTest;
using VariantCompare = VariantTest;
using VariantArrays = VariantTest;

template <typename E>
void ExpectError(const std::function<void()>& f, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "nothing raised; expected " << message;
  } catch (const E& e) {
    EXPECT_EQ(e.Message, AnsiString(message));
  } catch (const std::exception& e) {
    ADD_FAILURE() << "wrong exception: " << e.what() << "; expected " << message;
  }
}

void ExpectCastError(const std::function<void()>& f, const char* from, const char* to) {
  ExpectError<EVariantTypeCastError>(
      f, std::string("Could not convert variant of type (") + from + ") into type (" + to + ")");
}

void ExpectOverflow(const std::function<void()>& f, const char* from, const char* to) {
  ExpectError<EVariantOverflowError>(
      f, std::string("Overflow while converting variant of type (") + from + ") into type (" + to + ")");
}

Variant DateVariant(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
  return Variant(ComposeDateTime(EncodeDate(y, m, d), EncodeTime(h, n, s, 0)));
}

// ---- Types ---------------------------------------------------------------------------

TEST_F(VariantTypes, ConstructionGivesTheFrameworksTypeCodes) {
  EXPECT_EQ(VarType(Variant()), 0x0000);
  EXPECT_EQ(VarType(Null()), 0x0001);
  EXPECT_EQ(VarType(Unassigned()), 0x0000);
  EXPECT_EQ(VarType(Variant(short(1))), 0x0002);
  EXPECT_EQ(VarType(Variant(1)), 0x0003);
  EXPECT_EQ(VarType(Variant(1.0f)), 0x0004);
  EXPECT_EQ(VarType(Variant(1.0)), 0x0005);
  EXPECT_EQ(VarType(Variant(TDateTime(1.0))), 0x0007);
  EXPECT_EQ(VarType(Variant(u"x")), 0x0008);
  EXPECT_EQ(VarType(Variant(WideString(u"x"))), 0x0008);
  EXPECT_EQ(VarType(Variant(true)), 0x000B);
  EXPECT_EQ(VarType(Variant(static_cast<signed char>(1))), 0x0010);
  EXPECT_EQ(VarType(Variant(static_cast<unsigned char>(1))), 0x0011);
  EXPECT_EQ(VarType(Variant(static_cast<unsigned short>(1))), 0x0012);
  EXPECT_EQ(VarType(Variant(1u)), 0x0013);
  EXPECT_EQ(VarType(Variant(1LL)), 0x0014);
  EXPECT_EQ(VarType(Variant(1L)), 0x0003);
  EXPECT_EQ(VarType(Variant(1L << 40)), 0x0014);
  EXPECT_EQ(VarType(Variant(4000000000UL)), 0x0013);
  EXPECT_EQ(VarType(Variant("x")), 0x0100);
  EXPECT_EQ(VarType(Variant(AnsiString("x"))), 0x0100);
  EXPECT_EQ(VarType(Variant('x')), 0x0100);
  EXPECT_EQ(VarType(VarArrayCreate({0, 3}, varByte)), 0x2011);
  EXPECT_EQ(VarType(VarArrayOf({1, 2})), 0x200C);
  ExpectError<EVariantOverflowError>([] { (void)Variant(std::numeric_limits<unsigned long long>::max()); },
                                     "Overflow while converting variant of type (UInt64) into type (Int64)");
}

TEST_F(VariantTypes, CharAndNullPointerStrings) {
  EXPECT_EQ(Variant('A').AsString(), "A");
  EXPECT_EQ(Variant(static_cast<const char*>(nullptr)).AsString(), "");
  EXPECT_EQ(VarType(Variant(static_cast<const char16_t*>(nullptr))), varOleStr);
}

TEST_F(VariantTypes, TypeNames) {
  const struct {
    TVarType Type;
    const char* Name;
  } names[] = {{varEmpty, "Empty"},       {varNull, "Null"},         {varSmallint, "Smallint"},
               {varInteger, "Integer"},   {varSingle, "Single"},     {varDouble, "Double"},
               {varCurrency, "Currency"}, {varDate, "Date"},         {varOleStr, "OleStr"},
               {varBoolean, "Boolean"},   {varVariant, "Variant"},   {varShortInt, "ShortInt"},
               {varByte, "Byte"},         {varWord, "Word"},         {varLongWord, "LongWord"},
               {varInt64, "Int64"},       {varString, "String"},     {varArray | varByte, "Array Byte"},
               {0x63, "$0063"}};
  for (const auto& n : names) EXPECT_EQ(VarTypeAsText(n.Type), n.Name);
}

TEST_F(VariantTypes, PrintsTypeAndValueForDiagnostics) {
  auto text = [](const Variant& v) {
    std::ostringstream os;
    os << v;
    return os.str();
  };
  EXPECT_EQ(text(Variant(5)), "Integer 5");
  EXPECT_EQ(text(Variant("abc")), "String \"abc\"");
  EXPECT_EQ(text(Null()), "Null");
  EXPECT_EQ(text(Variant()), "Empty");
  EXPECT_EQ(text(Variant(true)), "Boolean True");
  EXPECT_EQ(text(VarArrayCreate({0, 9}, varByte)), "Array Byte [0..9]");
}

TEST_F(VariantTypes, CopiesAreIndependentAndMovesLeaveEmpty) {
  Variant a("text");
  Variant b = a;
  b = Variant("other");
  EXPECT_EQ(a.AsString(), "text");
  Variant c = std::move(a);
  EXPECT_TRUE(VarIsEmpty(a));  // NOLINT: a moved-from variant is empty by design
  EXPECT_EQ(c.AsString(), "text");
  c = 5;
  EXPECT_EQ(VarType(c), varInteger);
  const Variant& same = c;
  c = same;  // self-assignment keeps the value
  EXPECT_EQ(c.AsInteger(), 5);
  c.Clear();
  EXPECT_TRUE(VarIsEmpty(c));
}

// ---- Casts -------------------------------------------------------------------------------

TEST_F(VariantCasts, EmptyGivesZeroEmptyTextAndFalse) {
  const Variant e;
  EXPECT_EQ(e.AsInteger(), 0);
  EXPECT_EQ(e.AsSmallint(), 0);
  EXPECT_EQ(e.AsInt64(), 0);
  EXPECT_EQ(e.AsByte(), 0);
  EXPECT_EQ(e.AsDouble(), 0.0);
  EXPECT_EQ(e.AsSingle(), 0.0f);
  EXPECT_EQ(e.AsDateTime().Val, 0.0);
  EXPECT_EQ(e.AsString(), "");
  EXPECT_EQ(e.AsWideString(), WideString());
  EXPECT_FALSE(e.AsBoolean());
  EXPECT_EQ(VarToStr(e), "");
  EXPECT_EQ(VarType(VarAsType(e, varString)), varString);
  EXPECT_EQ(static_cast<int>(e), 0);
}

TEST_F(VariantCasts, NullRaisesTypeCastErrorForEveryTargetButNullAndEmpty) {
  const Variant n = Null();
  ExpectCastError([&] { (void)n.AsInteger(); }, "Null", "Integer");
  ExpectCastError([&] { (void)n.AsSmallint(); }, "Null", "Smallint");
  ExpectCastError([&] { (void)n.AsInt64(); }, "Null", "Int64");
  ExpectCastError([&] { (void)n.AsByte(); }, "Null", "Byte");
  ExpectCastError([&] { (void)n.AsDouble(); }, "Null", "Double");
  ExpectCastError([&] { (void)n.AsSingle(); }, "Null", "Single");
  ExpectCastError([&] { (void)n.AsDateTime(); }, "Null", "Date");
  ExpectCastError([&] { (void)n.AsString(); }, "Null", "String");
  ExpectCastError([&] { (void)n.AsWideString(); }, "Null", "OleStr");
  ExpectCastError([&] { (void)n.AsBoolean(); }, "Null", "Boolean");
  ExpectCastError([&] { (void)static_cast<AnsiString>(n); }, "Null", "String");
  ExpectCastError([&] { VarAsType(n, varWord); }, "Null", "Word");
  ExpectCastError([&] { VarAsType(n, varLongWord); }, "Null", "LongWord");
  EXPECT_TRUE(VarIsNull(VarAsType(n, varNull)));
  EXPECT_TRUE(VarIsEmpty(VarAsType(n, varEmpty)));
  EXPECT_EQ(VarToStr(n), "");
  EXPECT_EQ(VarToStrDef(n, "(brak)"), "(brak)");
}

TEST_F(VariantCasts, IntegersConvertAndReportOverflow) {
  const Variant i(70000);
  EXPECT_EQ(i.AsString(), "70000");
  EXPECT_EQ(i.AsDouble(), 70000.0);
  EXPECT_EQ(i.AsDateTime().Val, 70000.0);
  EXPECT_TRUE(i.AsBoolean());
  EXPECT_FALSE(Variant(0).AsBoolean());
  EXPECT_EQ(i.AsWideString(), WideString(u"70000"));
  ExpectOverflow([&] { (void)i.AsSmallint(); }, "Integer", "Smallint");
  ExpectOverflow([&] { (void)i.AsByte(); }, "Integer", "Byte");
  ExpectOverflow([&] { VarAsType(i, varWord); }, "Integer", "Word");
  ExpectOverflow([&] { VarAsType(Variant(-1), varLongWord); }, "Integer", "LongWord");
  ExpectOverflow([&] { VarAsType(Variant(300), varShortInt); }, "Integer", "ShortInt");
  ExpectOverflow([&] { (void)Variant(1LL << 40).AsInteger(); }, "Int64", "Integer");
  EXPECT_EQ(Variant(-32768).AsSmallint(), -32768);
  EXPECT_EQ(Variant(4000000000U).AsInt64(), 4000000000LL);
  EXPECT_EQ(Variant(static_cast<short>(-5)).AsString(), "-5");
  EXPECT_EQ(Variant(std::numeric_limits<long long>::min()).AsString(), "-9223372036854775808");
  EXPECT_EQ(VarAsType(Variant(65535), varWord).AsInteger(), 65535);
}

TEST_F(VariantCasts, FloatingToIntegerRoundsHalfToEven) {
  const struct {
    double In;
    int Out;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2},
               {2.4999, 2}, {2.5001, 3}, {2147483647.4, 2147483647}, {-2147483648.4, -2147483647 - 1}};
  for (const auto& c : cases) EXPECT_EQ(Variant(c.In).AsInteger(), c.Out) << c.In;
  EXPECT_EQ(Variant(2.5f).AsInteger(), 2);
  EXPECT_EQ(Variant(TDateTime(37817.5)).AsInteger(), 37818);
  EXPECT_EQ(Variant(255.4).AsByte(), 255);
}

TEST_F(VariantCasts, FloatingOutOfIntegerRangeOverflows) {
  ExpectOverflow([] { (void)Variant(2147483647.5).AsInteger(); }, "Double", "Integer");
  ExpectOverflow([] { (void)Variant(-2147483648.6).AsInteger(); }, "Double", "Integer");
  ExpectOverflow([] { (void)Variant(std::nan("")).AsInteger(); }, "Double", "Integer");
  ExpectOverflow([] { (void)Variant(HUGE_VAL).AsInt64(); }, "Double", "Int64");
  ExpectOverflow([] { (void)Variant(9.3e18).AsInt64(); }, "Double", "Int64");
  ExpectOverflow([] { (void)Variant(32767.5).AsSmallint(); }, "Double", "Smallint");
  ExpectOverflow([] { (void)Variant(-0.6).AsByte(); }, "Double", "Byte");
  ExpectOverflow([] { (void)Variant(1e300).AsSingle(); }, "Double", "Single");
  ExpectOverflow([] { (void)Variant(1e10).AsDateTime(); }, "Double", "Date");
}

TEST_F(VariantCasts, FloatingToTextUsesFloatToStrAndTheDecimalSeparator) {
  EXPECT_EQ(Variant(2.5).AsString(), "2.5");
  EXPECT_EQ(Variant(1.1f).AsString(), "1.1");  // the single's shortest form
  EXPECT_EQ(Variant(16777216.0f).AsString(), "16777216");
  EXPECT_EQ(Variant(0.1).AsString(), "0.1");
  EXPECT_EQ(Variant(1e20).AsString(), "1E20");
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(Variant(2.5).AsString(), "2,5");
  EXPECT_EQ(VarToStr(Variant(-0.25f)), "-0,25");
  EXPECT_EQ(Variant(1.1f).AsDouble(), static_cast<double>(1.1f));
}

TEST_F(VariantCasts, TextToNumbers) {
  EXPECT_EQ(Variant("42").AsInteger(), 42);
  EXPECT_EQ(Variant(" -42 ").AsInteger(), -42);
  EXPECT_EQ(Variant("2.5").AsInteger(), 2);
  EXPECT_EQ(Variant("3.5").AsInteger(), 4);
  EXPECT_EQ(Variant("1e3").AsInteger(), 1000);
  EXPECT_EQ(Variant("$1F").AsInteger(), 31);
  EXPECT_EQ(Variant("2.5").AsDouble(), 2.5);
  EXPECT_EQ(Variant(" 7 ").AsSingle(), 7.0f);
  EXPECT_EQ(Variant("9223372036854775807").AsInt64(), std::numeric_limits<long long>::max());
  EXPECT_EQ(Variant(u"12").AsInteger(), 12);
  ExpectCastError([] { (void)Variant("abc").AsInteger(); }, "String", "Integer");
  ExpectCastError([] { (void)Variant("").AsInteger(); }, "String", "Integer");
  ExpectCastError([] { (void)Variant("12abc").AsDouble(); }, "String", "Double");
  ExpectCastError([] { (void)Variant(u"x").AsDouble(); }, "OleStr", "Double");
  ExpectCastError([] { VarAsType(Variant("x"), varWord); }, "String", "Word");
  ExpectOverflow([] { (void)Variant("99999999999").AsInteger(); }, "String", "Integer");
  ExpectOverflow([] { (void)Variant("1e300").AsInt64(); }, "String", "Int64");
  ExpectOverflow([] { (void)Variant("256").AsByte(); }, "String", "Byte");
}

TEST_F(VariantCasts, TextToNumbersUsesTheLocaleDecimalSeparator) {
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(Variant("2,5").AsDouble(), 2.5);
  EXPECT_EQ(Variant("3,5").AsInteger(), 4);
  ExpectCastError([] { (void)Variant("2.5").AsDouble(); }, "String", "Double");
}

TEST_F(VariantCasts, TextToBooleanAndDate) {
  EXPECT_TRUE(Variant("TRUE").AsBoolean());
  EXPECT_TRUE(Variant(" true ").AsBoolean());
  EXPECT_FALSE(Variant("False").AsBoolean());
  EXPECT_FALSE(Variant("0").AsBoolean());
  EXPECT_TRUE(Variant("-2").AsBoolean());
  EXPECT_TRUE(Variant("0.5").AsBoolean());
  ExpectCastError([] { (void)Variant("yes").AsBoolean(); }, "String", "Boolean");
  EXPECT_EQ(Variant("2003-07-15 10:20:30").AsDateTime().Val,
            ComposeDateTime(EncodeDate(2003, 7, 15), EncodeTime(10, 20, 30, 0)).Val);
  ExpectCastError([] { (void)Variant("15.07.2003").AsDateTime(); }, "String", "Date");
  EXPECT_EQ(VarType(VarAsType(Variant("2003-07-15"), varDate)), varDate);
}

TEST_F(VariantCasts, BooleanIsMinusOneAndTrueFalseText) {
  const Variant t(true), f(false);
  EXPECT_EQ(t.AsInteger(), -1);
  EXPECT_EQ(t.AsSmallint(), -1);
  EXPECT_EQ(t.AsInt64(), -1);
  EXPECT_EQ(t.AsByte(), 255);
  EXPECT_EQ(VarAsType(t, varWord).AsInteger(), 65535);
  EXPECT_EQ(t.AsDouble(), -1.0);
  EXPECT_EQ(t.AsDateTime().Val, -1.0);
  EXPECT_EQ(f.AsInteger(), 0);
  EXPECT_EQ(t.AsString(), "True");
  EXPECT_EQ(f.AsString(), "False");
  EXPECT_EQ(VarToStr(t), "True");
  EXPECT_EQ(t.AsWideString(), WideString(u"True"));
  EXPECT_TRUE(static_cast<bool>(t));
  EXPECT_EQ(VarType(VarAsType(Variant(2), varBoolean)), varBoolean);
}

TEST_F(VariantCasts, DateIsItsSerialAndDateTimeToStrText) {
  const Variant d = DateVariant(2004, 2, 29, 13, 5, 7);
  EXPECT_EQ(d.AsString(), "2004-02-29 13:05:07");
  EXPECT_EQ(DateVariant(2004, 2, 29).AsString(), "2004-02-29");
  EXPECT_DOUBLE_EQ(d.AsDouble(), 38046.0 + (13 * 3600 + 5 * 60 + 7) / 86400.0);
  EXPECT_EQ(d.AsInteger(), 38047);  // rounds like a double
  EXPECT_TRUE(d.AsBoolean());
  FormatSettings().ShortDateFormat = "dd.mm.yyyy";
  FormatSettings().DateSeparator = '.';
  EXPECT_EQ(VarToStr(d), "29.02.2004 13:05:07");
  EXPECT_EQ(VarToStr(Variant(TDateTime(-1.25))), "29.12.1899 06:00:00");
  EXPECT_EQ(VarType(VarAsType(Variant(1.5), varDate)), varDate);
  EXPECT_EQ(VarAsType(Variant(1.5), varDate).AsString(), "31.12.1899 12:00:00");
}

TEST_F(VariantCasts, StringAndOleStringConvertThroughWindows1250) {
  const AnsiString polish = "Zażółć gęślą jaźń"_ansi;
  const Variant s(polish);
  const WideString wide = s.AsWideString();
  EXPECT_EQ(wide.str(), u"Zażółć gęślą jaźń");
  EXPECT_EQ(Variant(wide).AsString(), polish);
  EXPECT_EQ(VarAsType(s, varOleStr).AsWideString(), wide);
  EXPECT_EQ(VarToStr(Variant(u"\u4E2D!")), "?!");
  // Zero bytes are part of the string.
  const AnsiString withZero("a\0b", 3);
  EXPECT_EQ(Variant(withZero).AsString().Length(), 3);
}

TEST_F(VariantCasts, ArraysConvertToNothingElse) {
  const Variant a = VarArrayCreate({0, 1}, varByte);
  ExpectCastError([&] { (void)a.AsString(); }, "Array Byte", "String");
  ExpectCastError([&] { (void)VarToStr(a); }, "Array Byte", "String");
  ExpectCastError([&] { (void)a.AsInteger(); }, "Array Byte", "Integer");
  ExpectCastError([&] { (void)a.AsWideString(); }, "Array Byte", "OleStr");
  ExpectCastError([&] { (void)a.AsDateTime(); }, "Array Byte", "Date");
  ExpectCastError([&] { (void)a.AsBoolean(); }, "Array Byte", "Boolean");
  ExpectCastError([&] { VarAsType(a, varArray | varVariant); }, "Array Byte", "Array Variant");
  ExpectCastError([&] { VarAsType(Variant(1), varArray | varByte); }, "Integer", "Array Byte");
  EXPECT_EQ(VarArrayHighBound(VarAsType(a, varArray | varByte), 1), 1);
}

TEST_F(VariantCasts, VarAsTypeSpecialTargets) {
  EXPECT_TRUE(VarIsEmpty(VarAsType(Variant(5), varEmpty)));
  EXPECT_TRUE(VarIsNull(VarAsType(Variant(), varNull)));
  ExpectCastError([] { VarAsType(Variant(5), varNull); }, "Integer", "Null");
  ExpectError<EVariantBadVarTypeError>([] { VarAsType(Variant(5), varCurrency); }, "Invalid variant type");
  ExpectError<EVariantBadVarTypeError>([] { VarAsType(Variant(5), varVariant); }, "Invalid variant type");
  const Variant word = VarAsType(Variant("12"), varLongWord);
  EXPECT_EQ(VarType(word), varLongWord);
  EXPECT_EQ(word.AsInteger(), 12);
  EXPECT_EQ(VarType(VarAsType(Variant(7), varSingle)), varSingle);
  EXPECT_EQ(VarType(VarAsType(Variant(7), varString)), varString);
  EXPECT_EQ(VarType(VarAsType(Variant(7), varInt64)), varInt64);
  EXPECT_EQ(VarType(VarAsType(Variant(-7), varShortInt)), varShortInt);
}

// ---- Comparison -----------------------------------------------------------------------------

TEST_F(VariantCompare, NullEqualsOnlyNullAndSortsFirst) {
  const Variant n = Null();
  EXPECT_TRUE(n == Null());
  EXPECT_FALSE(n == Variant());
  EXPECT_TRUE(n != Variant(0));
  EXPECT_TRUE(n < Variant());
  EXPECT_TRUE(n < Variant(-1000000));
  EXPECT_TRUE(n < Variant(""));
  EXPECT_TRUE(Variant("") > n);
  EXPECT_FALSE(n > Variant(-1));
  EXPECT_TRUE(n <= Null());
  EXPECT_TRUE(n >= Null());
}

TEST_F(VariantCompare, EmptyIsZeroAgainstNumbersAndEmptyTextAgainstStrings) {
  const Variant e;
  EXPECT_TRUE(e == Variant());
  EXPECT_TRUE(e == Variant(0));
  EXPECT_TRUE(e == Variant(0.0));
  EXPECT_TRUE(e == Variant(false));
  EXPECT_TRUE(e == Variant(""));
  EXPECT_TRUE(e < Variant(1));
  EXPECT_TRUE(e > Variant(-1));
  EXPECT_TRUE(e < Variant("a"));
  EXPECT_TRUE(Variant("a") > e);
  EXPECT_TRUE(e > Null());
}

TEST_F(VariantCompare, NumbersCompareByValueAcrossTypes) {
  EXPECT_TRUE(Variant(1) == Variant(1.0));
  EXPECT_TRUE(Variant(static_cast<short>(2)) < Variant(2.5f));
  EXPECT_TRUE(Variant(static_cast<unsigned char>(200)) > Variant(-1));
  EXPECT_TRUE(Variant(4000000000U) > Variant(2147483647));
  EXPECT_TRUE(Variant((1LL << 53) + 1) > Variant(1LL << 53));  // compared exactly, not as doubles
  EXPECT_TRUE(Variant(1.1f) != Variant(1.1));
  EXPECT_TRUE(Variant(true) == Variant(-1));
  EXPECT_TRUE(Variant(true) < Variant(false));
  EXPECT_TRUE(Variant(TDateTime(2.0)) == Variant(2));
  EXPECT_TRUE(DateVariant(2003, 7, 15) < DateVariant(2003, 7, 15, 0, 0, 1));
  const Variant nan(std::nan(""));
  EXPECT_FALSE(nan == Variant(5.0));  // NaN equals only NaN and sorts after numbers
  EXPECT_TRUE(nan == Variant(std::nan("")));
  EXPECT_TRUE(nan > Variant(HUGE_VAL));
  EXPECT_TRUE(Variant(1) < nan);
}

TEST_F(VariantCompare, NumberAgainstTextIsNumericWhenTheTextIsANumber) {
  EXPECT_TRUE(Variant(10) == Variant("10"));
  EXPECT_TRUE(Variant(9) < Variant("10"));  // as text "9" would sort after "10"
  EXPECT_TRUE(Variant("10") > Variant(9));
  EXPECT_TRUE(Variant(2.5) == Variant(" 2.5 "));
  EXPECT_TRUE(Variant(10) == Variant(u"10"));
  // Otherwise both are text: "10" < "abc".
  EXPECT_TRUE(Variant(10) < Variant("abc"));
  EXPECT_TRUE(Variant("abc") > Variant(10));
  EXPECT_TRUE(Variant(true) == Variant("True"));
  FormatSettings().DecimalSeparator = ',';
  EXPECT_TRUE(Variant(2.5) == Variant("2,5"));
}

TEST_F(VariantCompare, DateAgainstText) {
  const Variant d = DateVariant(2003, 7, 15, 10, 20, 30);
  EXPECT_TRUE(d == Variant("2003-07-15 10:20:30"));
  EXPECT_TRUE(d < Variant("2003-07-16"));
  EXPECT_TRUE(Variant(TDateTime(2.0)) == Variant("1900-01-01"));
  EXPECT_TRUE(Variant(TDateTime(2.5)) == Variant("2.5"));       // not a date text: a number
  EXPECT_TRUE(Variant(TDateTime(2.0)) > Variant("2"));          // "2" reads as the time 02:00
  EXPECT_TRUE(d < Variant("zzz"));  // "2003-07-15 10:20:30" < "zzz" as text
}

TEST_F(VariantCompare, StringsUseTheLocaleOrder) {
  SetCollationLocale("pl_PL");
  EXPECT_TRUE(Variant("abc") < Variant("abd"));
  EXPECT_TRUE(Variant("abc") == Variant("abc"));
  EXPECT_TRUE(Variant("abc") != Variant("ABC"));
  EXPECT_TRUE(Variant("ą"_ansi) < Variant("b"));   // bytes would say 0xB9 > 'b'
  EXPECT_TRUE(Variant("łódź"_ansi) > Variant("lody"));
  EXPECT_TRUE(Variant("zebra") == Variant(u"zebra"));
  EXPECT_TRUE(Variant("ż"_ansi) > Variant(u"ź"));
  ResetCollationFromEnvironment();
}

TEST_F(VariantCompare, ArraysCannotBeCompared) {
  const Variant a = VarArrayCreate({0, 1}, varByte);
  ExpectError<EVariantInvalidOpError>([&] { (void)(a == a); }, "Invalid variant operation");
  ExpectError<EVariantInvalidOpError>([&] { (void)(a < Variant(1)); }, "Invalid variant operation");
  ExpectError<EVariantInvalidOpError>([&] { (void)(Null() == VarArrayOf({1})); }, "Invalid variant operation");
}

TEST_F(VariantCompare, VarCompareValueReportsNullAndEmptyAsNotEqual) {
  EXPECT_EQ(VarCompareValue(Null(), Null()), vrEqual);
  EXPECT_EQ(VarCompareValue(Variant(), Variant()), vrEqual);
  EXPECT_EQ(VarCompareValue(Null(), Variant()), vrNotEqual);
  EXPECT_EQ(VarCompareValue(Variant(), Variant(0)), vrNotEqual);
  EXPECT_EQ(VarCompareValue(Variant(1), Null()), vrNotEqual);
  EXPECT_EQ(VarCompareValue(Variant(1), Variant(2)), vrLessThan);
  EXPECT_EQ(VarCompareValue(Variant("b"), Variant("a")), vrGreaterThan);
  EXPECT_EQ(VarCompareValue(Variant(3), Variant("3")), vrEqual);
}

// ---- Arrays --------------------------------------------------------------------------------------

TEST_F(VariantArrays, CreateWithBoundsZeroFilled) {
  const int bounds[] = {5, 9};
  const Variant a = VarArrayCreate(bounds, 1, varByte);
  EXPECT_TRUE(VarIsArray(a));
  EXPECT_EQ(VarArrayDimCount(a), 1);
  EXPECT_EQ(VarArrayDimCount(Variant(1)), 0);
  EXPECT_EQ(VarArrayLowBound(a, 1), 5);
  EXPECT_EQ(VarArrayHighBound(a, 1), 9);
  for (int i = 5; i <= 9; ++i) {
    EXPECT_EQ(VarType(a.GetElement(i)), varByte);
    EXPECT_EQ(a.GetElement(i).AsInteger(), 0);
  }
  const Variant none = VarArrayCreate({3, 2}, varByte);  // no elements
  EXPECT_EQ(VarArrayHighBound(none, 1), 2);
}

TEST_F(VariantArrays, BadShapesAreRefused) {
  const std::string msg = "Error creating variant or safe array";
  ExpectError<EVariantArrayCreateError>([] { VarArrayCreate({0, 1, 0, 1}, varByte); }, msg);
  ExpectError<EVariantArrayCreateError>([] { VarArrayCreate({0}, varByte); }, msg);
  ExpectError<EVariantArrayCreateError>([] { VarArrayCreate({5, 3}, varByte); }, msg);
  ExpectError<EVariantArrayCreateError>([] { VarArrayCreate({0, 3}, varInteger); }, msg);
  ExpectError<EVariantArrayCreateError>([] { VarArrayCreate(nullptr, 1, varByte); }, msg);
}

TEST_F(VariantArrays, ElementsOutsideBoundsAndNonArraysAreRefused) {
  Variant a = VarArrayCreate({5, 7}, varByte);
  const std::string bounds = "Variant or safe array index out of bounds";
  ExpectError<EVariantBadIndexError>([&] { (void)a.GetElement(4); }, bounds);
  ExpectError<EVariantBadIndexError>([&] { (void)a.GetElement(8); }, bounds);
  ExpectError<EVariantBadIndexError>([&] { a.PutElement(1, 8); }, bounds);
  ExpectError<EVariantBadIndexError>([&] { (void)VarArrayLowBound(a, 2); }, bounds);
  Variant plain(1);
  ExpectError<EVariantInvalidArgError>([&] { (void)VarArrayLowBound(plain, 1); }, "Invalid argument");
  ExpectError<EVariantInvalidArgError>([&] { (void)VarArrayLock(plain); }, "Invalid argument");
  ExpectError<EVariantInvalidArgError>([&] { (void)plain.GetElement(0); }, "Invalid argument");
}

TEST_F(VariantArrays, PutElementConvertsToByteAndKeepsArrayOnError) {
  Variant a = VarArrayCreate({0, 2}, varByte);
  a.PutElement(7, 0);
  a.PutElement("200", 1);
  a.PutElement(true, 2);
  ExpectOverflow([&] { a.PutElement(300, 0); }, "Integer", "Byte");
  ExpectCastError([&] { a.PutElement(Null(), 0); }, "Null", "Byte");
  EXPECT_EQ(a.GetElement(0).AsInteger(), 7);
  EXPECT_EQ(a.GetElement(1).AsInteger(), 200);
  EXPECT_EQ(a.GetElement(2).AsInteger(), 255);
}

TEST_F(VariantArrays, LockGivesTheDataAndBlocksResizing) {
  Variant a = VarArrayCreate({1, 4}, varByte);
  auto* data = static_cast<unsigned char*>(VarArrayLock(a));
  std::memcpy(data, "\x01\x00\xFF\x7F", 4);
  const std::string locked = "Variant or safe array is locked";
  ExpectError<EVariantArrayLockedError>([&] { VarArrayRedim(a, 10); }, locked);
  ExpectError<EVariantArrayLockedError>([&] { a = Variant(1); }, locked);
  ExpectError<EVariantArrayLockedError>([&] { a = VarArrayCreate({0, 0}, varByte); }, locked);
  ExpectError<EVariantArrayLockedError>([&] { a.Clear(); }, locked);
  EXPECT_EQ(VarArrayHighBound(a, 1), 4);  // untouched by the refused changes
  EXPECT_EQ(a.GetElement(1).AsInteger(), 1);
  EXPECT_EQ(a.GetElement(3).AsInteger(), 255);
  EXPECT_EQ(a.GetElement(4).AsInteger(), 127);
  EXPECT_EQ(VarArrayLock(a), data);  // locks nest
  VarArrayUnlock(a);
  ExpectError<EVariantArrayLockedError>([&] { VarArrayRedim(a, 10); }, locked);
  VarArrayUnlock(a);
  ExpectError<EVariantInvalidArgError>([&] { VarArrayUnlock(a); }, "Invalid argument");
  VarArrayRedim(a, 5);
  EXPECT_EQ(VarArrayHighBound(a, 1), 5);
}

TEST_F(VariantArrays, LockedArrayMayBeCopiedAndDestroyed) {
  auto* a = new Variant(VarArrayCreate({0, 3}, varByte));
  VarArrayLock(*a);
  Variant copy = *a;  // a new, unlocked array
  VarArrayRedim(copy, 7);
  EXPECT_EQ(VarArrayHighBound(copy, 1), 7);
  EXPECT_EQ(VarArrayHighBound(*a, 1), 3);
  delete a;  // the destructor frees a locked array without raising
}

TEST_F(VariantArrays, RedimKeepsElementsAndZeroesNewOnes) {
  Variant a = VarArrayCreate({10, 12}, varByte);
  a.PutElement(1, 10);
  a.PutElement(2, 11);
  a.PutElement(3, 12);
  VarArrayRedim(a, 14);
  EXPECT_EQ(VarArrayLowBound(a, 1), 10);
  EXPECT_EQ(VarArrayHighBound(a, 1), 14);
  std::vector<int> values;
  for (int i = 10; i <= 14; ++i) values.push_back(a.GetElement(i).AsInteger());
  EXPECT_EQ(values, (std::vector<int>{1, 2, 3, 0, 0}));
  VarArrayRedim(a, 10);
  EXPECT_EQ(VarArrayHighBound(a, 1), 10);
  EXPECT_EQ(a.GetElement(10).AsInteger(), 1);
  VarArrayRedim(a, 9);  // empty
  EXPECT_EQ(VarArrayHighBound(a, 1), 9);
  ExpectError<EVariantInvalidArgError>([&] { VarArrayRedim(a, 8); }, "Invalid argument");
  EXPECT_EQ(VarArrayHighBound(a, 1), 9);
  ExpectError<EVariantInvalidArgError>([&] { Variant n(1); VarArrayRedim(n, 3); }, "Invalid argument");
}

TEST_F(VariantArrays, CopiesAreDeep) {
  Variant a = VarArrayCreate({0, 1}, varByte);
  a.PutElement(9, 0);
  Variant b = a;
  b.PutElement(1, 0);
  VarArrayRedim(b, 5);
  EXPECT_EQ(a.GetElement(0).AsInteger(), 9);
  EXPECT_EQ(VarArrayHighBound(a, 1), 1);
  Variant c;
  c = b;
  c.PutElement(2, 0);
  EXPECT_EQ(b.GetElement(0).AsInteger(), 1);
}

TEST_F(VariantArrays, ArraysOfVariants) {
  Variant keys = VarArrayOf({Variant(1), Variant("a"), Null()});
  EXPECT_EQ(VarArrayLowBound(keys, 1), 0);
  EXPECT_EQ(VarArrayHighBound(keys, 1), 2);
  EXPECT_EQ(VarType(keys.GetElement(0)), varInteger);
  EXPECT_EQ(keys.GetElement(1).AsString(), "a");
  EXPECT_TRUE(VarIsNull(keys.GetElement(2)));
  keys.PutElement(keys, 2);  // an array may hold a copy of itself
  EXPECT_TRUE(VarIsArray(keys.GetElement(2)));
  EXPECT_EQ(VarArrayHighBound(keys.GetElement(2), 1), 2);
  auto* items = static_cast<Variant*>(VarArrayLock(keys));
  EXPECT_EQ(items[1].AsString(), "a");
  VarArrayUnlock(keys);
  Variant grown = VarArrayCreate({1, 1}, varVariant);
  EXPECT_TRUE(VarIsEmpty(grown.GetElement(1)));
  VarArrayRedim(grown, 3);
  EXPECT_TRUE(VarIsEmpty(grown.GetElement(3)));
  EXPECT_EQ(VarArrayHighBound(VarArrayOf({}), 1), -1);
}

}  // namespace
}  // namespace Tx
