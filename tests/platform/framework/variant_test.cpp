#include "platform/framework/Variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>

#include "platform/framework/FormatSettings.h"
#include "platform/framework/TextCompare.h"
#include "platform/framework/framework_test_support.h"

namespace Tx {
namespace {

using FrameworkTest::Raised;
using VariantTest = FrameworkTest::NeutralSettingsTest;

std::string NoCast(const char* from, const char* to) {
  return std::string("EVariantTypeCastError: Could not convert variant of type (") + from +
         ") into type (" + to + ")";
}

std::string TooBig(const char* from, const char* to) {
  return std::string("EVariantOverflowError: Overflow while converting variant of type (") + from +
         ") into type (" + to + ")";
}

Variant DateVariant(int y, int m, int d, int h = 0, int n = 0, int s = 0) {
  return Variant(ComposeDateTime(EncodeDate(y, m, d), EncodeTime(h, n, s, 0)));
}

// The type and value in one text, as operator<< writes them for diagnostics.
std::string Printed(const Variant& v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

// The elements of an array, as "7 200 255".
std::string Elements(const Variant& a) {
  std::string out;
  for (int i = VarArrayLowBound(a, 1); i <= VarArrayHighBound(a, 1); ++i)
    out += (out.empty() ? "" : " ") + VarToStr(a.GetElement(i)).str();
  return out;
}

// ---- Types ---------------------------------------------------------------------------

TEST_F(VariantTest, EachCppTypeGivesItsTypeCode) {
  // clang-format off
  const struct {
    Variant Value;
    const char* Printed;
  } cases[] = {
      {short(1), "Smallint 1"},                  {2.5, "Double 2.5"},
      {1.1f, "Single 1.1"},  // a single as its shortest form
      {TDateTime(1.0), "Date 1899-12-31"},       {u"x", "OleStr \"x\""},
      {true, "Boolean True"},                    {static_cast<signed char>(1), "ShortInt 1"},
      {static_cast<unsigned char>(1), "Byte 1"}, {static_cast<unsigned short>(1), "Word 1"},
      {1u, "LongWord 1"},                        {1LL, "Int64 1"},
      {1L, "Integer 1"},  // long is 32-bit when it fits
      {1L << 40, "Int64 1099511627776"},         {4000000000UL, "LongWord 4000000000"},
      {'x', "String \"x\""},                     {Null(), "Null"},
      {VarArrayOf({1, 2}), "Array Variant [0..1]"},
  };
  // clang-format on
  for (const auto& c : cases) EXPECT_EQ(Printed(c.Value), c.Printed);
  EXPECT_EQ(Raised([] { (void)Variant(std::numeric_limits<unsigned long long>::max()); }),
            TooBig("UInt64", "Int64"));
  EXPECT_EQ(VarTypeAsText(0x63), "$0063");
}

TEST_F(VariantTest, CopiesAreIndependentAndMovesLeaveEmpty) {
  Variant a(u"text");
  Variant b = a;
  b = Variant(u"other");
  Variant c = std::move(a);
  EXPECT_TRUE(VarIsEmpty(a));  // NOLINT: a moved-from variant is empty by design
  const Variant& same = c;
  c = same;  // self-assignment keeps the value
  EXPECT_EQ(Printed(c) + " " + Printed(b), "OleStr \"text\" OleStr \"other\"");
}

// ---- Casts -------------------------------------------------------------------------------

TEST_F(VariantTest, EmptyGivesZeroAndEmptyTextNullRaisesButForVarToStr) {
  const Variant e;
  EXPECT_TRUE(e.AsInteger() == 0 && e.AsString() == "" && !e.AsBoolean());
  const Variant n = Null();
  EXPECT_EQ(Raised([&] { (void)n.AsInteger(); }), NoCast("Null", "Integer"));
  EXPECT_EQ(Raised([&] { (void)static_cast<AnsiString>(n); }), NoCast("Null", "String"));
  EXPECT_EQ(Raised([&] { (void)n.AsWideString(); }), NoCast("Null", "OleStr"));
  EXPECT_TRUE(VarIsNull(VarAsType(n, varNull)));
  EXPECT_EQ(VarToStr(n), "");
  EXPECT_EQ(VarToStrDef(n, "(brak)"), "(brak)");
}

TEST_F(VariantTest, NumbersConvertWithinTheRangeAndFloatingRoundsHalfToEven) {
  EXPECT_EQ(Raised([] { (void)Variant(70000).AsSmallint(); }), TooBig("Integer", "Smallint"));
  EXPECT_EQ(Raised([] { VarAsType(Variant(-1), varLongWord); }), TooBig("Integer", "LongWord"));
  EXPECT_EQ(Raised([] { (void)Variant(1LL << 40).AsInteger(); }), TooBig("Int64", "Integer"));
  EXPECT_EQ(Printed(VarAsType(Variant(65535), varWord)), "Word 65535");
  const struct {
    double In;
    int Out;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-1.5, -2}, {2.5001, 3}, {2147483647.4, 2147483647}};
  for (const auto& c : cases) EXPECT_EQ(Variant(c.In).AsInteger(), c.Out) << c.In;
  for (const double d : {2147483647.5, std::nan("")})
    EXPECT_EQ(Raised([&] { (void)Variant(d).AsInteger(); }), TooBig("Double", "Integer")) << d;
  EXPECT_EQ(Raised([] { (void)Variant(9.3e18).AsInt64(); }), TooBig("Double", "Int64"));
  EXPECT_EQ(Raised([] { (void)Variant(1e300).AsSingle(); }), TooBig("Double", "Single"));
  EXPECT_EQ(Raised([] { (void)Variant(1e10).AsDateTime(); }), TooBig("Double", "Date"));
}

TEST_F(VariantTest, TextToNumbersBooleansDatesAndWideText) {
  const Variant wide = VarAsType(Variant("Zażółć gęślą jaźń"_ansi), varOleStr);
  EXPECT_EQ(wide.AsWideString().str(), u"Zażółć gęślą jaźń");  // through Windows-1250
  EXPECT_EQ(wide.AsString(), "Zażółć gęślą jaźń"_ansi);
  for (const auto& [text, value] : {std::pair{" -42 ", -42}, {"2.5", 2}, {"$1F", 31}})
    EXPECT_EQ(Variant(text).AsInteger(), value) << text;
  EXPECT_EQ(Variant(u" 1e3 ").AsSingle(), 1000.0f);
  EXPECT_EQ(Raised([] { (void)Variant("").AsInteger(); }), NoCast("String", "Integer"));
  EXPECT_TRUE(Variant(" true ").AsBoolean());
  EXPECT_FALSE(Variant("0.0").AsBoolean());
  EXPECT_EQ(Raised([] { (void)Variant("yes").AsBoolean(); }), NoCast("String", "Boolean"));
  EXPECT_EQ(Variant("2003-07-15 10:20:30").AsDateTime().Val,
            DateVariant(2003, 7, 15, 10, 20, 30).AsDouble());
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(Variant("2,5").AsDouble(), 2.5);
  EXPECT_EQ(Raised([] { (void)Variant("2.5").AsDouble(); }), NoCast("String", "Double"));
}

TEST_F(VariantTest, BooleansAndDatesAsNumbersAndText) {
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_EQ(Printed(VarAsType(Variant(2), varBoolean)), "Boolean True");
  const Variant d = DateVariant(2004, 2, 29, 13, 5, 7);
  EXPECT_DOUBLE_EQ(d.AsDouble(), 38046.0 + (13 * 3600 + 5 * 60 + 7) / 86400.0);
  EXPECT_EQ(d.AsInteger(), 38047);  // rounds like a double
  FormatSettings().ShortDateFormat = "dd.mm.yyyy";
  FormatSettings().DecimalSeparator = ',';
  EXPECT_EQ(VarToStr(Variant(TDateTime(-1.25))), "29.12.1899 06:00:00");
  EXPECT_EQ(Printed(VarAsType(Variant(1.5), varDate)), "Date 31.12.1899 12:00:00");
}

TEST_F(VariantTest, ArraysConvertToNothingElseAndNoneToAnUnknownType) {
  const Variant a = VarArrayCreate({0, 1}, varByte);
  EXPECT_EQ(Raised([&] { (void)VarToStr(a); }), NoCast("Array Byte", "String"));
  EXPECT_EQ(Raised([&] { VarAsType(a, varArray | varVariant); }),
            NoCast("Array Byte", "Array Variant"));
  EXPECT_EQ(Raised([&] { VarAsType(Variant(1), varArray | varByte); }),
            NoCast("Integer", "Array Byte"));
  EXPECT_EQ(Raised([] { VarAsType(Variant(5), varCurrency); }),
            "EVariantBadVarTypeError: Invalid variant type");
}

// ---- Comparison -----------------------------------------------------------------------------

TEST_F(VariantTest, NullSortsFirstButVarCompareValueCallsItNotEqual) {
  const Variant n = Null();
  const Variant e;
  EXPECT_TRUE(n == Null());
  EXPECT_FALSE(n == e);
  EXPECT_TRUE(n < e);
  EXPECT_TRUE(Variant("") > n);
  EXPECT_TRUE(n <= Null() && n >= Null());
  EXPECT_TRUE(e == Variant(0.0));
  EXPECT_TRUE(e == Variant(""));
  EXPECT_TRUE(Variant(-1) < e);
  EXPECT_TRUE(Variant("a") > e);
  EXPECT_EQ(VarCompareValue(Null(), Null()), vrEqual);
  EXPECT_EQ(VarCompareValue(Variant(1), Null()), vrNotEqual);
  EXPECT_EQ(VarCompareValue(Variant("3"), Variant(2)), vrGreaterThan);
  EXPECT_EQ(VarCompareValue(Variant(2), Variant(2.5)), vrLessThan);
}

TEST_F(VariantTest, NumbersCompareByValueAcrossTypes) {
  EXPECT_TRUE(Variant(4000000000U) > Variant(2147483647));
  EXPECT_TRUE(Variant((1LL << 53) + 1) > Variant(1LL << 53));  // compared exactly, not as doubles
  EXPECT_TRUE(Variant(1.1f) != Variant(1.1));
  EXPECT_TRUE(Variant(true) < Variant(false));
  const Variant nan(std::nan(""));
  EXPECT_FALSE(nan == Variant(5.0));  // NaN equals only NaN and sorts after numbers
  EXPECT_TRUE(nan == Variant(std::nan("")));
  EXPECT_TRUE(nan > Variant(HUGE_VAL));
}

TEST_F(VariantTest, NumberOrDateAgainstTextIsNumericWhenTheTextIsOne) {
  EXPECT_TRUE(Variant(9) < Variant("10"));  // as text "9" would sort after "10"
  EXPECT_TRUE(Variant(10) == Variant(u" 10 "));
  EXPECT_TRUE(Variant("abc") > Variant(10));  // otherwise both are text
  EXPECT_TRUE(Variant(true) == Variant("True"));
  EXPECT_TRUE(DateVariant(2003, 7, 15, 10, 20, 30) == Variant("2003-07-15 10:20:30"));
  EXPECT_TRUE(Variant(TDateTime(2.5)) == Variant("2.5"));  // not a date text: a number
  EXPECT_TRUE(Variant(TDateTime(2.0)) > Variant("2"));     // "2" reads as the time 02:00
}

TEST_F(VariantTest, StringsUseTheLocaleOrderAndArraysNone) {
  SetCollationLocale("pl_PL");
  EXPECT_TRUE(Variant("ą"_ansi) < Variant("b"));  // bytes would say 0xB9 > 'b'
  EXPECT_TRUE(Variant("ż"_ansi) > Variant(u"ź"));
  ResetCollationFromEnvironment();
  const Variant a = VarArrayCreate({0, 1}, varByte);
  EXPECT_EQ(Raised([&] { (void)(a == a); }), "EVariantInvalidOpError: Invalid variant operation");
  EXPECT_EQ(Raised([&] { (void)(Null() < a); }),
            "EVariantInvalidOpError: Invalid variant operation");
}

// ---- Arrays ---------------------------------------------------------------------------

TEST_F(VariantTest, ArraysAreZeroFilledAndRefuseBadShapesAndIndexes) {
  const int bounds[] = {5, 7};
  Variant a = VarArrayCreate(bounds, 1, varByte);
  EXPECT_EQ(Printed(a) + ": " + Elements(a), "Array Byte [5..7]: 0 0 0");
  const std::string bad = "EVariantArrayCreateError: Error creating variant or safe array";
  EXPECT_EQ(Raised([] { VarArrayCreate({0, 1, 0, 1}, varByte); }), bad);
  EXPECT_EQ(Raised([] { VarArrayCreate({5, 3}, varByte); }), bad);
  EXPECT_EQ(Raised([] { VarArrayCreate({0, 3}, varInteger); }), bad);
  const std::string index = "EVariantBadIndexError: Variant or safe array index out of bounds";
  EXPECT_EQ(Raised([&] { (void)a.GetElement(4); }), index);
  EXPECT_EQ(Raised([&] { a.PutElement(1, 8); }), index);
  EXPECT_EQ(Raised([] { (void)Variant(1).GetElement(0); }),
            "EVariantInvalidArgError: Invalid argument");
}

TEST_F(VariantTest, PutElementConvertsKeepsTheArrayOnErrorAndCopiesAreDeep) {
  Variant a = VarArrayCreate({0, 2}, varByte);
  a.PutElement(7, 0);
  a.PutElement("200", 1);
  a.PutElement(true, 2);
  EXPECT_EQ(Raised([&] { a.PutElement(300, 0); }), TooBig("Integer", "Byte"));
  EXPECT_EQ(Raised([&] { a.PutElement(Null(), 0); }), NoCast("Null", "Byte"));
  Variant b;
  b = a;
  b.PutElement(1, 0);
  VarArrayRedim(b, 5);
  EXPECT_EQ(Printed(a) + ": " + Elements(a), "Array Byte [0..2]: 7 200 255");
}

TEST_F(VariantTest, LockGivesTheDataAndBlocksResizing) {
  Variant a = VarArrayCreate({1, 4}, varByte);
  auto* data = static_cast<unsigned char*>(VarArrayLock(a));
  std::memcpy(data, "\x01\x00\xFF\x7F", 4);
  const std::string locked = "EVariantArrayLockedError: Variant or safe array is locked";
  EXPECT_EQ(Raised([&] { VarArrayRedim(a, 10); }), locked);
  EXPECT_EQ(Raised([&] { a.Clear(); }), locked);
  EXPECT_EQ(Printed(a) + ": " + Elements(a), "Array Byte [1..4]: 1 0 255 127");  // untouched
  EXPECT_EQ(VarArrayLock(a), data);                                              // locks nest
  VarArrayUnlock(a);
  EXPECT_EQ(Raised([&] { VarArrayRedim(a, 10); }), locked);
  Variant copy = a;  // a new, unlocked array
  VarArrayRedim(copy, 7);
  VarArrayUnlock(a);
  EXPECT_EQ(Raised([&] { VarArrayUnlock(a); }), "EVariantInvalidArgError: Invalid argument");
  VarArrayLock(a);  // the destructor frees a locked array without raising
}

TEST_F(VariantTest, RedimKeepsElementsAndFillsNewOnesWithZeroOrEmpty) {
  Variant a = VarArrayCreate({10, 11}, varByte);
  a.PutElement(2, 11);
  VarArrayRedim(a, 13);
  EXPECT_EQ(Elements(a), "0 2 0 0");
  VarArrayRedim(a, 9);  // empty
  EXPECT_EQ(Printed(a), "Array Byte [10..9]");
  EXPECT_EQ(Raised([&] { VarArrayRedim(a, 8); }), "EVariantInvalidArgError: Invalid argument");
  Variant keys = VarArrayOf({Variant(1), Variant("a"), Null()});
  EXPECT_EQ(Elements(keys), "1 a ");
  keys.PutElement(keys, 2);  // an array may hold a copy of itself
  EXPECT_EQ(Printed(keys.GetElement(2)), "Array Variant [0..2]");
  VarArrayRedim(keys, 3);
  EXPECT_TRUE(VarIsEmpty(keys.GetElement(3)));
}

}  // namespace
}  // namespace Tx
