// Typed values of TTxFbfr: every FML32 type through variants, null values,
// logical types, contract limits and what survives a failure.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "buffer/TxFbfr.h"
#include "buffer_test_support.h"

namespace Tx {
namespace {

const FLDID32 kShort = Fmkfldid32(FLD_SHORT, 301);
const FLDID32 kLong = Fmkfldid32(FLD_LONG, 302);
const FLDID32 kChar = Fmkfldid32(FLD_CHAR, 303);
const FLDID32 kFloat = Fmkfldid32(FLD_FLOAT, 304);
const FLDID32 kDouble = Fmkfldid32(FLD_DOUBLE, 305);
const FLDID32 kString = Fmkfldid32(FLD_STRING, 306);
const FLDID32 kCarray = Fmkfldid32(FLD_CARRAY, 307);

class TypedValues : public ::testing::Test {
 protected:
  void SetUp() override {
    TTxGlobalClient::ClearTpErrors();
    TTxGlobalClient::SetTranslateType(txttWindows);
  }
  // A definition in a contract of the buffer, with a logical type.
  TTxFbfrFldDef* Declare(FLDID32 id, TTxFldLogicalType type = txlftDefault) {
    buffer.Contract = &contract;
    TTxFbfrFldDef* def = contract.AddFldDef(id);
    def->SetLogicalType(type);
    return def;
  }
  TTxFbfrDef contract{nullptr};
  TTxFbfr buffer{nullptr, 4096};
};

template <typename T>
T Stored(TTxFbfr& b, FLDID32 id, int occ = 0) {
  T value{};
  EXPECT_NE(Fget32(b.GetFbfrP(), id, occ, reinterpret_cast<char*>(&value), nullptr), -1);
  return value;
}

TEST_F(TypedValues, EveryTypeRoundTrips) {
  struct Case {
    FLDID32 id;
    Variant written;
    Variant read;
    TVarType readType;
  };
  const unsigned char zeroAndHigh[] = {'a', 0, 0xFF, 'b'};
  const Case cases[] = {
      {kShort, Variant(-32767), Variant(-32767), varInteger},
      {kShort, Variant(32767), Variant(32767), varInteger},
      {kLong, Variant(2147483647), Variant(2147483647), varInteger},
      {kLong, Variant(-2147483647), Variant(-2147483647), varInteger},
      {kLong, Variant("123"), Variant(123), varInteger},
      {kChar, Variant("xyz"), Variant("x"), varString},
      {kFloat, Variant(1.5F), Variant(1.5F), varSingle},
      {kDouble, Variant(-2.25e300), Variant(-2.25e300), varDouble},
      {kString, Variant("Zażółć gęślą jaźń"_ansi), Variant("Zażółć gęślą jaźń"_ansi), varString},
      {kCarray, Variant(AnsiString(reinterpret_cast<const char*>(zeroAndHigh), 4)),
       Variant(AnsiString(reinterpret_cast<const char*>(zeroAndHigh), 4)), varString},
  };
  for (const Case& c : cases) {
    buffer.SetValues(c.id, 0, c.written);
    const Variant read = buffer.GetValues(c.id, 0);
    EXPECT_EQ(VarType(read), c.readType) << Fldtype32(c.id);
    EXPECT_TRUE(read == c.read) << Fldtype32(c.id) << ": " << VarToStr(read);
    EXPECT_TRUE(buffer.OccValue(c.id, 0) == read);
  }
  EXPECT_EQ(buffer.OccLength(kCarray, 0), 4);
}

TEST_F(TypedValues, NullsAreStoredAsReservedValuesAndReadBack) {
  for (FLDID32 id : {kShort, kLong, kChar, kFloat, kDouble, kString, kCarray}) {
    buffer.SetValues(id, 0, Null());
    EXPECT_TRUE(VarIsNull(buffer.GetValues(id, 0))) << Fldtype32(id);
    buffer.SetValues(id, 1, Unassigned());
    EXPECT_TRUE(VarIsNull(buffer.GetValues(id, 1))) << Fldtype32(id);
  }
  EXPECT_EQ(Stored<short>(buffer, kShort), -32768);
  EXPECT_EQ(Stored<long>(buffer, kLong), -2147483648L);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(Stored<float>(buffer, kFloat)), 0x7F7FC99EU);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(Stored<double>(buffer, kDouble)), 0x8010000000000000ULL);
  EXPECT_EQ(buffer.OccLength(kString, 0), 1);
  EXPECT_EQ(buffer.OccLength(kCarray, 0), 0);

  // Values written by others that hold a reserved value or all ones read as Null.
  long nullLong = -2147483648L;
  Fchg32(buffer.GetFbfrP(), kLong, 2, reinterpret_cast<char*>(&nullLong), 0);
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kLong, 2)));
  float onesF;
  double onesD;
  std::memset(&onesF, 0xFF, sizeof onesF);
  std::memset(&onesD, 0xFF, sizeof onesD);
  Fchg32(buffer.GetFbfrP(), kFloat, 2, reinterpret_cast<char*>(&onesF), 0);
  Fchg32(buffer.GetFbfrP(), kDouble, 2, reinterpret_cast<char*>(&onesD), 0);
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kFloat, 2)));
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kDouble, 2)));
}

TEST_F(TypedValues, ShortKeepsTheLow16Bits) {
  buffer.SetValues(kShort, 0, Variant(70000));
  EXPECT_EQ(Stored<short>(buffer, kShort), 4464);
  EXPECT_TRUE(buffer.GetValues(kShort, 0) == Variant(4464));
}

TEST_F(TypedValues, LogicalTypesShiftDatesTimesAndWriteDateTimeText) {
  Declare(kLong, txlftDate);
  Declare(kDouble, txlftTime);
  Declare(kString, txlftDateTime);
  struct Case {
    FLDID32 id;
    Variant written;
    double stored;     // numeric fields
    Variant read;
  };
  const TDateTime leapDay = EncodeDate(2004, 2, 29);
  const Case cases[] = {
      {kLong, Variant(EncodeDate(1900, 1, 1)), 1, Variant(2)},
      {kLong, Variant(2), 1, Variant(2)},
      {kLong, Variant(TDateTime(leapDay + EncodeTime(23, 0, 0, 0))), leapDay - 1,
       Variant(static_cast<int>(leapDay))},
      {kLong, Null(), -2147483648.0, Null()},  // no shift for null
      {kDouble, Variant(0.75), -0.25, Variant(0.75)},
      {kDouble, Variant(0.0), 0.0, Variant(0.0)},
      {kDouble, Variant(1.5), 0.5, Variant(0.5)},
  };
  for (const Case& c : cases) {
    buffer.SetValues(c.id, 0, c.written);
    const double stored = c.id == kLong ? static_cast<double>(Stored<long>(buffer, kLong))
                                        : Stored<double>(buffer, kDouble);
    EXPECT_DOUBLE_EQ(stored, c.stored) << VarToStr(c.written);
    const Variant read = buffer.GetValues(c.id, 0);
    EXPECT_TRUE(read == c.read || (VarIsNull(read) && VarIsNull(c.read))) << VarToStr(c.written);
  }
  buffer.SetValues(kString, 0, Variant(TDateTime(leapDay + EncodeTime(13, 5, 7, 9))));
  EXPECT_STREQ(FieldString(buffer.GetFbfrP(), kString, 0), "2004-02-29 13:05:07.009");
  EXPECT_TRUE(buffer.GetValues(kString, 0) == Variant("2004-02-29 13:05:07.009"));
  buffer.SetValues(kString, 1, Variant("dowolny tekst"));  // plain text is kept as it is
  EXPECT_STREQ(FieldString(buffer.GetFbfrP(), kString, 1), "dowolny tekst");
}

TEST_F(TypedValues, CarrayFromByteArrayAndEmptyValuesAsNull) {
  Variant bytes = VarArrayCreate({0, 9}, varByte);
  for (int i = 0; i <= 9; ++i) bytes.PutElement(Variant(static_cast<unsigned char>(i % 3)), i);
  buffer.SetValues(kCarray, 0, bytes);
  EXPECT_EQ(buffer.OccLength(kCarray, 0), 10);
  const Variant read = buffer.GetValues(kCarray, 0);
  EXPECT_EQ(VarType(read), varString);
  EXPECT_EQ(read.AsString().Length(), 10);
  EXPECT_EQ(read.AsString()[1], '\0');

  const char empty[1] = {0};
  Fchg32(buffer.GetFbfrP(), kCarray, 1, const_cast<char*>(empty), 0);
  Fchg32(buffer.GetFbfrP(), kString, 0, const_cast<char*>(""), 0);
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kCarray, 1)));
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kString, 0)));
}

TEST_F(TypedValues, BadValuesRaiseAndLeaveTheBufferUnchanged) {
  buffer.SetValues(kCarray, 0, Variant("keep"));
  buffer.SetValues(kChar, 0, Variant("k"));
  EXPECT_EQ(MessageOf<Exception>([&] { buffer.SetValues(kCarray, 0, Variant(5)); }),
            AnsiString("Variant musi być typu varString lub varByte+varArray"_ansi));
  EXPECT_THROW(buffer.SetValues(kChar, 0, Variant("")), ERangeError);
  EXPECT_TRUE(buffer.GetValues(kCarray, 0) == Variant("keep"));
  EXPECT_TRUE(buffer.GetValues(kChar, 0) == Variant("k"));
}

TEST_F(TypedValues, UnsupportedTypesAreRefusedBothWays) {
  const int intType = 7;  // FLD_INT, a name not every engine's header has
  const FLDID32 other = (static_cast<FLDID32>(intType) << 25) | 308;
  const AnsiString expected =
      Format("Nieobsługiwany typ pola FML (%d-%s)."_ansi, {intType, Ftype32(other)});
  EXPECT_EQ(MessageOf<Exception>([&] { buffer.GetValues(other, 0); }),
            expected);
  EXPECT_EQ(MessageOf<Exception>([&] { buffer.SetValues(other, 0, Variant(1)); }),
            "Pole <"_ansi + AnsiString(static_cast<unsigned long>(other)) + ">: " +
                             expected);
  // An embedded-buffer field (type 9) is refused before anything is added:
  // no placeholder may be read as a buffer.
  const FLDID32 embedded = (FLDID32{9} << 25) | 309;
  EXPECT_EQ(MessageOf<Exception>([&] { buffer.AppendOcc(embedded, Variant(1)); }),
            "Pole <"_ansi + AnsiString(static_cast<unsigned long>(embedded)) + ">: " +
                Format("Nieobsługiwany typ pola FML (%d-%s)."_ansi, {9, Ftype32(embedded)}));
  EXPECT_EQ(buffer.OccCount(embedded), 0);
}

TEST_F(TypedValues, ContractMaxSizeLimitsStringsAndCarrays) {
  TTxFbfrFldDef* def = Declare(kString);
  def->SetTxFldName("Opis");
  def->SetMaxSize(5);
  buffer.SetValues(kString, 0, Variant("abcde"));
  EXPECT_EQ(MessageOf<Exception>([&] { buffer.SetValues(kString, 0, Variant("abcdef")); }),
            "Pole Opis: Rozmiar większy niż ustalony kontraktem (6 > 5)"_ansi);
  EXPECT_TRUE(buffer.GetValues(kString, 0) == Variant("abcde"));
  def->SetMaxSize(0);
  buffer.SetValues(kString, 0, Variant(AnsiString::StringOfChar('x', 3000)));
  buffer.Contract = nullptr;
  buffer.SetValues(kCarray, 0, Variant(AnsiString::StringOfChar('y', 3000)));
}

TEST_F(TypedValues, AppendOccHonoursOccMaxAndReadOnly) {
  Declare(kLong)->SetOccMax(2);
  EXPECT_EQ(buffer.AppendOcc(kLong, Variant(10)), 0);
  EXPECT_EQ(buffer.AppendOcc(kLong, Variant(11)), 1);
  EXPECT_EQ(MessageOf<ETxFbfrContractViolated>([&] { buffer.AppendOcc(kLong, Variant(12)); }),
            "Przekroczona maksymalna liczba wystąpień pola <"_ansi +
                             AnsiString(static_cast<unsigned long>(kLong)) + "> (kontrakt).");
  EXPECT_EQ(buffer.OccCount(kLong), 2);

  buffer.ReadOnly = true;
  EXPECT_EQ(MessageOf<Exception>([&] { buffer.AppendOcc(kString, Variant("x")); }),
            "Bufor Tuxedo tylko do odczytu"_ansi);
  buffer.SetValues(kLong, 0, Variant(99));  // SetValues ignores ReadOnly
  EXPECT_TRUE(buffer.GetValues(kLong, 0) == Variant(99));
}

TEST_F(TypedValues, FailedAppendLeavesItsPlaceholder) {
  EXPECT_THROW(buffer.AppendOcc(kChar, Variant("")), ERangeError);
  ASSERT_EQ(buffer.OccCount(kChar), 1);
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kChar, 0)));
}

TEST_F(TypedValues, AppendValuesCopiesEveryOccurrenceInOrder) {
  TTxFbfr source(nullptr, 4096);
  for (int i = 0; i < 3; ++i) source.AppendOcc(kLong, Variant(i + 1));
  source.AppendOcc(kString, Variant("tekst"));
  source.SetValues(kDouble, 0, Null());
  source.SyncFbfrDef();
  source.GetFldDefs()->FindFldDefById(kString)->SetGroup(1);

  buffer.AppendValues(&source, -1, -1, false);
  ASSERT_EQ(buffer.OccCount(kLong), 3);
  EXPECT_TRUE(buffer.GetValues(kLong, 2) == Variant(3));
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kDouble, 0)));

  TTxFbfr second(nullptr, 4096);
  second.AppendValues(&source, 1, 0, false);  // group 1, first occurrence only
  EXPECT_EQ(second.OccCount(kLong), 0);
  EXPECT_EQ(second.OccCount(kString), 1);

  TTxFbfrDef onlyLong(nullptr);
  onlyLong.AddFldDef(kLong);
  TTxFbfr third(nullptr, 4096);
  third.Contract = &onlyLong;
  third.AppendValues(&source, -1, 1, true);
  EXPECT_EQ(third.OccCount(kLong), 1);
  EXPECT_EQ(third.OccCount(kString), 0);
  TTxFbfrDef empty(nullptr);
  third.Contract = &empty;  // an empty contract skips every field
  third.AppendValues(&source, -1, -1, true);
  EXPECT_EQ(third.OccCount(kLong), 1);
}

TEST_F(TypedValues, StringsTravelInTheServersCodePage) {
  struct Case {
    TTxTranslateType type;
    const char* storedBytes;  // "Żółć Śź" as the server keeps it
    bool readsBack;           // reading converts back to the same text
  };
  const Case cases[] = {
      {txttMazovia, "\xA1\xA2\x92\x8D \x98\xA6", true},
      {txttLatin2, "\xBD\xA2\x88\x86 \x97\xAB", true},
      {txttISO8859, "\xAF\xF3\xB3\xE6 \xA6\xBC", true},
      {txttWindows, "\xAF\xF3\xB3\xE6 \x8C\x9F", true},
      {txttNone, "\xAF\xF3\xB3\xE6 \x8C\x9F", true},
      {txttASCII, "Zolc Sz", false},
  };
  const AnsiString text = "Żółć Śź"_ansi;
  for (const Case& c : cases) {
    TTxGlobalClient::SetTranslateType(c.type);
    buffer.SetValues(kString, 0, Variant(text));
    buffer.SetValues(kCarray, 0, Variant(text));
    EXPECT_STREQ(FieldString(buffer.GetFbfrP(), kString, 0), c.storedBytes) << int(c.type);
    const Variant read = buffer.GetValues(kString, 0);
    EXPECT_EQ(read.AsString(), c.readsBack ? text : AnsiString(c.storedBytes)) << int(c.type);
    EXPECT_EQ(buffer.GetValues(kCarray, 0).AsString(), text);  // carrays are bytes
  }
}

TEST_F(TypedValues, NamesResolveBeforeTheBufferIsTouched) {
  TTxFbfrFldDef* def = Declare(kString);
  def->SetTxFldName("Nazwisko");
  EXPECT_EQ(buffer.AppendOcc("NAZWISKO", Variant("Kowalski")), 0);
  EXPECT_TRUE(buffer.OccValue("nazwisko", 0) == Variant("Kowalski"));
  EXPECT_THROW(buffer.AppendOcc("Imię"_ansi, Variant("Jan")), ETxError);
  EXPECT_EQ(Fnum32(buffer.GetFbfrP()), 1);
}

}  // namespace
}  // namespace Tx
