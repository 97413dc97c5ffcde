// The cursor engine: layouts, results and messages, record reads and writes,
// date-time texts, sort orders, the filter and bookmarks, and a model check
// of the order kept up across posts, appends and deletes.
#include "platform/tuxedo/FmlCalls.h"
#include "dataset/TxMti.h"
#include "dataset/TxMtiOrder.h"

#include <fml32.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/TextCompare.h"

namespace Tx {
namespace {

template <class E = Exception, class F>
AnsiString MessageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message;
  }
  return "(no exception)";
}

const FLDID32 kId = Fmkfldid32(FLD_LONG, 401);
const FLDID32 kName = Fmkfldid32(FLD_STRING, 402);
const FLDID32 kAmount = Fmkfldid32(FLD_DOUBLE, 403);

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    TTxGlobalClient::SetTranslateType(txttWindows);
    SetCollationLocale("pl_PL");
    buffer.Contract = &contract;
  }
  TTxFbfrFldDef* Declare(FLDID32 id, const char* name, int maxSize = 0,
                         TTxFldLogicalType type = txlftDefault, int group = 0) {
    TTxFbfrFldDef* def = contract.AddFldDef(id);
    def->SetTxFldName(name);
    def->SetLogicalType(type);
    if (Fldtype32(id) == FLD_STRING || Fldtype32(id) == FLD_CARRAY) def->SetMaxSize(maxSize);
    def->SetGroup(group);
    return def;
  }
  // ID, NAME (20 characters) and AMOUNT, one row per entry.
  void Table(const std::vector<std::pair<const char*, double>>& rows) {
    Declare(kId, "ID");
    Declare(kName, "NAME", 20);
    Declare(kAmount, "AMOUNT");
    for (const auto& [name, amount] : rows) {
      buffer.AppendOcc(kId, Variant(static_cast<int>(buffer.OccCount(kId)) + 1));
      buffer.AppendOcc(kName, name ? Variant(Utf8ToAnsi(name)) : Variant());
      buffer.AppendOcc(kAmount, Variant(amount));
    }
    Open();
  }
  void Open() {
    mti.SetTxFbfr(&buffer);
    ASSERT_EQ(mti.Open(), DBIERR_NONE);
    CURProps props;
    ASSERT_EQ(mti.GetCursorProps(&props), DBIERR_NONE);
    record.assign(static_cast<std::size_t>(props.iRecBufSize), 0);
  }
  // The ID column of every record, first to last, as GetNextRecord sees them.
  std::vector<int> Ids() {
    std::vector<int> ids;
    mti.SetToBegin();
    while (mti.GetNextRecord(dbiNOLOCK, record.data(), nullptr) == DBIERR_NONE) ids.push_back(IntField(1));
    return ids;
  }
  int IntField(int fieldNo) {
    std::int32_t value = 0;
    bool blank = true;
    mti.GetField(fieldNo, record.data(), &value, &blank);
    return blank ? -1 : value;
  }
  std::string TextField(int fieldNo) {
    char text[64] = {};
    bool blank = true;
    mti.GetField(fieldNo, record.data(), text, &blank);
    return blank ? "(blank)" : text;
  }

  TTxFbfrDef contract{nullptr};
  TTxFbfr buffer{nullptr, 4096};
  TTxMti mti;
  std::vector<unsigned char> record;
};

// ---- Layout -------------------------------------------------------------------------

TEST_F(Engine, SlotsFieldDefinitionsAndOffsets) {
  struct Case {
    FLDID32 id;
    int maxSize;
    TTxFldLogicalType type;
    int slot;
    TFieldType fieldType;
    int size;
  };
  const Case cases[] = {
      {Fmkfldid32(FLD_SHORT, 1), 0, txlftDefault, 5, ftInteger, 0},
      {Fmkfldid32(FLD_LONG, 2), 0, txlftDate, 5, ftDate, 0},
      {Fmkfldid32(FLD_CHAR, 3), 0, txlftDefault, 2, ftString, 1},
      {Fmkfldid32(FLD_FLOAT, 4), 0, txlftDefault, 9, ftFloat, 0},
      {Fmkfldid32(FLD_DOUBLE, 5), 0, txlftTime, 9, ftTime, 0},
      {Fmkfldid32(FLD_STRING, 6), 20, txlftDefault, 22, ftString, 20},
      {Fmkfldid32(FLD_STRING, 7), 8192, txlftDefault, 8194, ftString, 8192},
      {Fmkfldid32(FLD_STRING, 8), 8193, txlftDefault, 5, ftMemo, 0},
      {Fmkfldid32(FLD_STRING, 9), 0, txlftDefault, 5, ftMemo, 0},
      {Fmkfldid32(FLD_STRING, 10), 10, txlftMemo, 5, ftMemo, 0},
      {Fmkfldid32(FLD_STRING, 11), 0, txlftDateTime, 9, ftDateTime, 0},
      {Fmkfldid32(FLD_CARRAY, 12), 0, txlftGraphic, 5, ftGraphic, 0},
      {Fmkfldid32(FLD_CARRAY, 13), 0, txlftMemo, 5, ftMemo, 0},
      {Fmkfldid32(FLD_CARRAY, 14), 0, txlftDefault, 5, ftBlob, 0},
  };
  for (const Case& c : cases) Declare(c.id, ("F" + std::to_string(Fldno32(c.id))).c_str(), c.maxSize, c.type);
  Open();
  TFieldDefs defs;
  mti.CreateFieldDefs(&defs);
  ASSERT_EQ(defs.Count(), 14);
  int offset = 4;
  for (int k = 1; k <= 14; ++k) {
    const Case& c = cases[k - 1];
    EXPECT_EQ(mti.FldBufSize(k), c.slot) << k;
    EXPECT_EQ(mti.FldBufOffset(k), offset) << k;
    EXPECT_EQ(defs.Items(k - 1)->DataType(), c.fieldType) << k;
    EXPECT_EQ(defs.Items(k - 1)->Size(), c.size) << k;
    EXPECT_FALSE(defs.Items(k - 1)->Required());
    offset += c.slot;
  }
  EXPECT_EQ(defs.Items(5)->Name(), "F6");
  EXPECT_EQ(static_cast<int>(record.size()), offset);
  EXPECT_EQ(MessageOf([&] { mti.FldBufOffset(0); }), "FieldNo==0");
  EXPECT_EQ(MessageOf([&] { mti.FldBufSize(15); }), "Bad dataset field number 15");
  EXPECT_EQ(MessageOf([&] { mti.FldBufOffset(16); }), "Bad dataset field number 15");
}

TEST_F(Engine, ColumnsComeFromOneGroupAndAreLimited) {
  for (int i = 0; i < 256; ++i) Declare(Fmkfldid32(FLD_LONG, 500 + i), "C", 0, txlftDefault, i % 2 ? 2 : 0);
  mti.SetTxFbfr(&buffer);
  mti.SetTxFldGroup(2);
  CURProps props;
  mti.GetCursorProps(&props);
  EXPECT_EQ(props.iFields, 128);
  EXPECT_EQ(props.iRecBufSize, 4 + 128 * 5);
  EXPECT_EQ(props.iBookMarkSize, 4);
  mti.SetTxFldGroup(-1);
  mti.GetCursorProps(&props);
  EXPECT_EQ(props.iFields, 256);
  Declare(Fmkfldid32(FLD_LONG, 999), "X");
  EXPECT_EQ(MessageOf([&] { mti.Open(); }), "Przekroczona maksymalna liczba pól Dataset-u"_ansi);
  mti.SetTxFldGroup(5);  // no columns
  mti.GetCursorProps(&props);
  EXPECT_EQ(props.iFields, 0);
  EXPECT_EQ(props.iRecBufSize, 4);
  EXPECT_EQ(mti.GetRecordCount(), 0);
  EXPECT_EQ(mti.SetToSeqNo(1), DBIERR_BOF);
  EXPECT_EQ(mti.GetNextRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_EOF);
}

TEST_F(Engine, UnsupportedTypesAreNamed) {
  const FLDID32 odd = Fmkfldid32(9, 77);  // an FML32 pointer field
  Declare(odd, "P");
  mti.SetTxFbfr(&buffer);
  TFieldDefs defs;
  EXPECT_EQ(MessageOf([&] { mti.CreateFieldDefs(&defs); }),
            ("Nieobsługiwany typ 9 pola <"_ansi + AnsiString(static_cast<unsigned long>(odd)) + ">"));
  EXPECT_EQ(MessageOf([&] { mti.FldBufSize(1); }),
            "Nieobsługiwany typ "_ansi + AnsiString(Ftype32(odd)) + " (9) pola <" +
                AnsiString(static_cast<unsigned long>(odd)) + ">");
}

// ---- Results and messages ---------------------------------------------------------------

TEST_F(Engine, ResultCodesRaiseWithTheirNames) {
  EXPECT_EQ(MessageOf([] { DbiCheck(DBIERR_NOSUCHFILTER); }), "DbiError: DBIResult=10050 (DBIERR_NOSUCHFILTER)");
  EXPECT_EQ(MessageOf([] { DbiRaise(DBIRES_BOOKMARKNOTFOUND); }), "DbiError: DBIResult=10021 (nieznany)");
  EXPECT_EQ(MessageOf([] { DbiCheck(DBIERR_TABLEREADONLY); }), "DbiError: DBIResult=10763 (DBIERR_TABLEREADONLY)");
  EXPECT_NO_THROW(DbiCheck(DBIERR_NONE));
}

TEST_F(Engine, MisuseMessages) {
  EXPECT_EQ(MessageOf([&] { mti.GetTxFbfr(); }), "TxFbfr not set.");
  Table({{"a", 1}, {"b", 2}});
  EXPECT_EQ(MessageOf([&] { mti.Open(); }), "Previous cursor not closed");
  EXPECT_EQ(MessageOf([&] { mti.SetTxFbfr(nullptr); }), "Otwarte połączenie ze starym buforem"_ansi);
  EXPECT_EQ(MessageOf([&] { mti.SetTxFldGroup(1); }), "Otwarte połączenie ze starym buforem"_ansi);
  EXPECT_EQ(MessageOf([&] { mti.InsertRecord(dbiNOLOCK, record.data()); }),
            "Wstawianie rekordu w środku nie jest zaimplementowane"_ansi);
  EXPECT_EQ(MessageOf([&] { mti.tuxOccFromRecNo(3); }), "Zły numer rekordu 3"_ansi);
  EXPECT_EQ(MessageOf([&] { mti.GetBookMark(record.data()); }), "Zły numer rekordu 0"_ansi);
  EXPECT_EQ(MessageOf([&] { mti.tuxSetFbfrFld(kId, 5, nullptr, 0); }),
            "Brak oczekiwanego wystąpienia 5 pola <"_ansi + AnsiString(static_cast<unsigned long>(kId)) + ">");
  std::int32_t four = 4;
  double eight = 8;
  EXPECT_EQ(MessageOf([&] { mti.tuxSetFbfrFld(kId, 0, &four, 2); }),
            "Rozmiar pola całkowitoliczbowego inny niż sizeof int"_ansi);
  EXPECT_EQ(MessageOf([&] { mti.tuxSetFbfrFld(kAmount, 0, &eight, 4); }),
            "Rozmiar pola zmiennoprzecinkowego inny niż sizeof double"_ansi);
  EXPECT_EQ(mti.InitRecord(nullptr), DBIERR_INVALIDPARAM);
  mti.SetToSeqNo(1);
  const FLDID32 absent = Fmkfldid32(FLD_LONG, 450);
  const AnsiString failure = MessageOf<ETxFmlError>([&] { mti.tuxDelFbfrFld(absent, 0); });
  EXPECT_EQ(failure.Pos("Błąd FML #"_ansi + AnsiString(FNOTPRES) + ": Pole <" +
                        AnsiString(static_cast<unsigned long>(absent)) + "> - " + AnsiString(Fstrerror32(FNOTPRES))),
            1)
      << failure.c_str();
}

TEST_F(Engine, PositioningResults) {
  Table({{"a", 1}, {"b", 2}, {"c", 3}});
  EXPECT_EQ(mti.SetToSeqNo(0), DBIERR_BOF);
  EXPECT_EQ(mti.GetCurrentRecord(), 0);
  EXPECT_EQ(mti.GetRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_BOF);
  EXPECT_EQ(mti.GetPriorRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_BOF);
  EXPECT_EQ(mti.SetToSeqNo(4), DBIERR_EOF);
  EXPECT_EQ(mti.GetCurrentRecord(), 4);
  EXPECT_EQ(mti.GetRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_EOF);
  EXPECT_EQ(mti.GetNextRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_EOF);
  RECProps props;
  EXPECT_EQ(mti.GetPriorRecord(dbiNOLOCK, record.data(), &props), DBIERR_NONE);
  EXPECT_EQ(props.iSeqNum, 3);
  EXPECT_EQ(props.iPhyRecNum, 2);
  std::int32_t header = 0;
  std::memcpy(&header, record.data(), 4);
  EXPECT_EQ(header, 3);
  EXPECT_EQ(TextField(2), "c");
  mti.SetToEnd();
  EXPECT_EQ(mti.GetCurrentRecord(), 4);
}

// ---- Reading and writing -------------------------------------------------------------------

TEST_F(Engine, UnevenColumnsReadBlankAndAreReported) {
  Declare(kId, "ID");
  Declare(kAmount, "AMOUNT");
  for (int i = 0; i < 3; ++i) buffer.AppendOcc(kId, Variant(i));
  for (int i = 0; i < 5; ++i) buffer.AppendOcc(kAmount, Variant(1.5));
  Open();
  CURProps props;
  mti.GetCursorProps(&props);
  EXPECT_EQ(props.iRefIntChecks, 2);
  EXPECT_EQ(mti.GetRecordCount(), 3);
  buffer.DeleteOcc(kAmount, 4);
  buffer.DeleteOcc(kAmount, 3);
  buffer.DeleteOcc(kAmount, 2);
  mti.SetToSeqNo(3);
  ASSERT_EQ(mti.GetRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_NONE);
  bool blank = false;
  mti.GetField(2, record.data(), nullptr, &blank);
  EXPECT_TRUE(blank);
}

// Records are read straight from the buffer; every slot must hold what the
// single-value read through GetValues gives, null values and logical types included.
TEST_F(Engine, RecordReadsAgreeWithValueReads) {
  const FLDID32 ids[] = {Fmkfldid32(FLD_SHORT, 440), Fmkfldid32(FLD_LONG, 441), Fmkfldid32(FLD_LONG, 442),
                         Fmkfldid32(FLD_CHAR, 443),  Fmkfldid32(FLD_FLOAT, 444), Fmkfldid32(FLD_DOUBLE, 445),
                         Fmkfldid32(FLD_DOUBLE, 446), Fmkfldid32(FLD_STRING, 447)};
  Declare(ids[0], "S");
  Declare(ids[1], "L");
  Declare(ids[2], "D", 0, txlftDate);
  Declare(ids[3], "C");
  Declare(ids[4], "F");
  Declare(ids[5], "X");
  Declare(ids[6], "T", 0, txlftTime);
  Declare(ids[7], "STR", 4);
  const Variant rows[][8] = {
      {Variant(-5), Variant(70000), Variant(TDateTime(37817.0)), Variant("q"), Variant(1.5F), Variant(-2.25),
       Variant(TDateTime(0.75)), Variant("ab")},
      {Variant(), Variant(), Variant(), Variant(), Variant(), Variant(), Variant(), Variant()},
      {Variant(0), Variant(0), Variant(TDateTime(-3.0)), Variant("x"), Variant(0.0F), Variant(0.0),
       Variant(TDateTime(0.0)), Variant("łódź"_ansi)},
  };
  for (const auto& row : rows)
    for (int k = 0; k < 8; ++k) buffer.AppendOcc(ids[k], row[k]);
  Open();
  for (int r = 1; r <= 3; ++r) {
    mti.SetToSeqNo(r);
    ASSERT_EQ(mti.GetRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_NONE);
    for (int k = 1; k <= 8; ++k) {
      const int size = mti.FldBufSize(k) - 1;
      std::vector<unsigned char> viaRecord(static_cast<std::size_t>(size)), viaValue(static_cast<std::size_t>(size));
      bool blank = false;
      mti.GetField(k, record.data(), viaRecord.data(), &blank);
      const DBIResult single = mti.tuxGetFbfrFld(ids[k - 1], r - 1, viaValue.data(), size);
      EXPECT_EQ(blank, single == DBIERR_REQDERR) << r << "/" << k;
      if (!blank) {
        EXPECT_EQ(viaRecord, viaValue) << r << "/" << k;
      }
    }
  }
}

TEST_F(Engine, BlankValuesTravelAsNull) {
  Table({{"a", 1}});
  mti.SetToSeqNo(1);
  mti.GetRecord(dbiNOLOCK, record.data(), nullptr);
  mti.PutField(1, record.data(), nullptr);
  mti.PutField(2, record.data(), nullptr);
  ASSERT_EQ(mti.ModifyRecord(record.data(), true), DBIERR_NONE);
  EXPECT_EQ(Tx::FieldLong(buffer.GetFbfrP(), kId, 0), -2147483647L - 1);
  mti.GetRecord(dbiNOLOCK, record.data(), nullptr);
  EXPECT_EQ(IntField(1), -1);
  EXPECT_EQ(TextField(2), "(blank)");
  // A full-width text keeps all its characters and nothing of the padding.
  const char text[21] = "abcdefghijklmnopqrst";
  mti.PutField(2, record.data(), text);
  mti.ModifyRecord(record.data(), true);
  EXPECT_EQ(buffer.ValueLength(kName, 0), 20);
}

TEST_F(Engine, DateTimeTextsBothWays) {
  const FLDID32 stamp = Fmkfldid32(FLD_STRING, 410);
  Declare(stamp, "STAMP", 0, txlftDateTime);
  for (const char* text : {"2003-07-15", "2003-07-15 10:20:30.250", "15.07.2003"})
    Fadd32(buffer.GetFbfrP(), stamp, const_cast<char*>(text), 0);
  Open();
  TRecordingUserInterface ui;
  const TUserInterfaceScope scope(ui);
  const double expected[] = {
      static_cast<double>(EncodeDate(2003, 7, 15)),
      static_cast<double>(EncodeDate(2003, 7, 15)) + static_cast<double>(EncodeTime(10, 20, 30, 250)),
      static_cast<double>(EncodeDate(15, 1, 1)),  // only the 15 is converted, as the year
  };
  for (int r = 1; r <= 3; ++r) {
    mti.SetToSeqNo(r);
    ASSERT_EQ(mti.GetRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_NONE);
    double value = 0;
    mti.GetField(1, record.data(), &value, nullptr);
    EXPECT_DOUBLE_EQ(value, expected[r - 1]) << r;
    EXPECT_EQ(ui.Dialogs().size(), r < 3 ? 0U : 1U);
  }
  EXPECT_EQ(ui.Dialogs()[0].Request.Text,
            "Format daty-czasu w buforze FML inny niż 'YYYY-MM-DD hh:mm:ss[.fff]'"_ansi);
  EXPECT_EQ(ui.Dialogs()[0].Request.Source, TDialogSource::dsShowMessage);

  const double written = expected[1];
  mti.PutField(1, record.data(), &written);
  mti.ModifyRecord(record.data(), true);
  EXPECT_STREQ(Tx::FieldString(buffer.GetFbfrP(), stamp, 2), "2003-07-15 10:20:30.250");
}

TEST_F(Engine, AppendModifyAndDelete) {
  const FLDID32 memo = Fmkfldid32(FLD_CARRAY, 420);
  Declare(kId, "ID");
  Declare(memo, "MEMO", 0, txlftMemo);
  Open();
  std::int32_t id = 7;
  mti.PutField(1, record.data(), &id);
  ASSERT_EQ(mti.AppendRecord(record.data()), DBIERR_NONE);  // BLOB handle 0: an empty occurrence
  EXPECT_EQ(mti.GetCurrentRecord(), 1);
  EXPECT_EQ(buffer.OccCount(memo), 1);
  EXPECT_EQ(buffer.ValueLength(memo, 0), 0);
  Fchg32(buffer.GetFbfrP(), memo, 0, const_cast<char*>("xyz"), 3);
  id = 8;
  mti.PutField(1, record.data(), &id);
  mti.ModifyRecord(record.data(), true);  // handle 0 leaves the BLOB alone
  EXPECT_EQ(buffer.ValueLength(memo, 0), 3);
  mti.GetRecord(dbiNOLOCK, record.data(), nullptr);
  bool blank = true;
  mti.GetField(2, record.data(), nullptr, &blank);
  EXPECT_FALSE(blank);
  // An open BLOB is written from its text.
  mti.BlobList().push_back(std::make_unique<AnsiString>("hello"));
  const std::int32_t handle = 1;
  mti.PutField(2, record.data(), &handle);
  mti.ModifyRecord(record.data(), true);
  EXPECT_EQ(buffer.ValueLength(memo, 0), 5);
  const std::int32_t dangling = 2;
  mti.PutField(2, record.data(), &dangling);
  EXPECT_EQ(MessageOf([&] { mti.ModifyRecord(record.data(), true); }), "Uchwyt BLOB wskazuje na NULL");
  mti.PutField(2, record.data(), nullptr);
  mti.AppendRecord(record.data());
  EXPECT_EQ(mti.GetRecordCount(), 2);
  mti.SetToSeqNo(1);
  EXPECT_EQ(mti.DeleteRecord(record.data()), DBIERR_NONE);
  EXPECT_EQ(mti.GetRecordCount(), 1);
  EXPECT_EQ(buffer.OccCount(memo), 1);
  EXPECT_EQ(buffer.ValueLength(memo, 0), 0);
}

// ---- Sort orders -----------------------------------------------------------------------------

TEST_F(Engine, IndexExpressionsSortByKeysAndFlags) {
  Table({{"beta", 1}, {"Alfa", 5}, {"alfa", 7}, {"łoś", 2}, {"lis", 3}, {nullptr, 4}, {"beta", 9}});
  mti.MakeIndex(" name , \\amount");
  EXPECT_EQ(Ids(), (std::vector<int>{6, 3, 2, 7, 1, 5, 4}));  // Null first; Polish ł after l
  TTxMti::index_compare(nullptr, &mti);
  for (int r = 1; r < 7; ++r) {
    const int next = r + 1;
    EXPECT_EQ(TTxMti::index_compare(&r, &next), -1) << r;
    EXPECT_EQ(TTxMti::index_compare(&next, &r), 1) << r;
    EXPECT_EQ(TTxMti::index_compare(&r, &r), 0) << r;
  }
  mti.MakeIndex("\\NAME");
  std::vector<int> ids = Ids();
  EXPECT_EQ(ids.back(), 6);  // Null last when descending
  EXPECT_EQ(ids.front(), 4);
  mti.MakeIndex("^name,amount");  // case counts: the two alfas differ, as ICU orders them
  ids = Ids();
  EXPECT_EQ(ids[1], 3);
  EXPECT_EQ(ids[2], 2);
  EXPECT_EQ(mti.GetIndexExpr(), "^name,amount");
}

TEST_F(Engine, IndexExpressionErrorsLeaveNaturalOrder) {
  const FLDID32 memo = Fmkfldid32(FLD_STRING, 430);
  Table({{"b", 1}, {"a", 2}});
  Declare(memo, "NOTE", 0, txlftMemo);
  mti.MakeIndex("name");
  const struct {
    const char* expression;
    AnsiString message;
  } cases[] = {
      {"1name", "Zły znak specjalny (1) dla sortowania pola"_ansi},
      {"\\^%#name", "Zły znak specjalny (#) dla sortowania pola"_ansi},
      {"name,nosuch", "Nie ma pola NOSUCH"},
      {"note", "Pole NOTE typu BLOB niedopuszczalne w indeksie"},
      {"id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,"
       "id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id,id",
       "Za dużo pól w wyrażeniu indeksu (najwyżej 50)"_ansi},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MessageOf([&] { mti.MakeIndex(c.expression); }), c.message) << c.expression;
    EXPECT_EQ(Ids(), (std::vector<int>{1, 2}));
    EXPECT_EQ(mti.GetIndexExpr(), "name");
  }
  contract.FindFldDefByName("AMOUNT")->SetTxFldId(0);
  EXPECT_EQ(MessageOf<ETxFmlError>([&] { mti.MakeIndex("amount"); }),
            "Pole AMOUNTma w definicji błędny identyfikator <0>"_ansi);
  // A failed parse leaves nothing behind for the next rebuild.
  mti.UpdateIndex();
  EXPECT_EQ(Ids(), (std::vector<int>{2, 1}));
  // A key read that fails drops the order and names the cause.
  contract.FindFldDefByName("AMOUNT")->SetTxFldId(static_cast<long>(kAmount));
  buffer.DeleteOcc(kAmount, 1);
  const AnsiString failure = MessageOf([&] { mti.MakeIndex("amount"); });
  EXPECT_EQ(failure.Pos("Błąd: Błąd FML #"_ansi + AnsiString(FNOTPRES) + ": Pole <" +
                        AnsiString(static_cast<unsigned long>(kAmount)) + "> - "),
            1)
      << failure.c_str();
  EXPECT_EQ(Ids(), (std::vector<int>{1, 2}));
  EXPECT_EQ(mti.GetIndexExpr(), "name");
}

TEST_F(Engine, BookmarksFollowRecordsAcrossOrders) {
  Table({{"c", 3}, {"a", 1}, {"b", 2}});
  mti.SetToSeqNo(1);
  std::int32_t first = 0;
  mti.GetBookMark(&first);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(mti.SwitchToOrder("\\name", true), DBIERR_NONE);
  EXPECT_EQ(mti.GetCurrentRecord(), 1);  // c comes first descending too
  EXPECT_EQ(mti.SwitchToOrder("name", true), DBIERR_NONE);
  EXPECT_EQ(mti.GetCurrentRecord(), 3);
  mti.SetToBegin();
  EXPECT_EQ(mti.SetToBookMark(&first), DBIERR_NONE);
  EXPECT_EQ(mti.GetCurrentRecord(), 3);
  std::int32_t b = 2;
  int result = 0;
  EXPECT_EQ(mti.CompareBookmarks(&first, &b, &result), DBIERR_NONE);
  EXPECT_EQ(result, -1);  // by occurrence, whatever the order says
  EXPECT_EQ(mti.CompareBookmarks(&first, nullptr, &result), DBIERR_INVALIDPARAM);
  std::int32_t gone = 3;
  EXPECT_FALSE(mti.BookmarkValid(&gone));
  EXPECT_EQ(mti.SetToBookMark(&gone), DBIRES_BOOKMARKNOTFOUND);
  EXPECT_EQ(mti.GetCurrentRecord(), 3);
  mti.SwitchToOrder("", false);
  EXPECT_EQ(mti.SetToBookMark(&gone), DBIERR_EOF);
  std::int32_t before = -1;
  EXPECT_EQ(mti.SetToBookMark(&before), DBIERR_BOF);
  EXPECT_TRUE(mti.BookmarkValid(&first));
  mti.CloseCursor();
  EXPECT_EQ(mti.GetIndexExpr(), "");
}

// ---- Filter ------------------------------------------------------------------------------------

class EveryOther {
 public:
  short Accept(void* /*RecBuf*/, int RecNo) {
    ++Calls;
    return RecNo % 2 == 0 ? 1 : 0;
  }
  int Calls = 0;
};

TEST_F(Engine, FilterSkipsInBothDirectionsAndCountsWhatItSaw) {
  Table({{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}, {"e", 5}});
  EveryOther filter;
  int handle = 0;
  EXPECT_EQ(mti.AddFilter(TTxRecordFilter(&filter, &EveryOther::Accept), handle), DBIERR_NONE);
  EXPECT_EQ(handle, 1);
  EXPECT_EQ(mti.AddFilter(TTxRecordFilter(&filter, &EveryOther::Accept), handle), DBIERR_NA);
  EXPECT_EQ(mti.ActivateFilter(2), DBIERR_NOSUCHFILTER);
  EXPECT_EQ(mti.DeactivateFilter(0), DBIERR_NOSUCHFILTER);
  EXPECT_EQ(mti.DropFilter(3), DBIERR_NOSUCHFILTER);
  EXPECT_EQ(mti.GetFilteredRecordCount(), 5);  // installed, not active
  mti.ActivateFilter(1);
  EXPECT_EQ(mti.GetFilteredRecordCount(), 0);
  mti.SetToSeqNo(1);
  EXPECT_EQ(mti.GetRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_NOCURRREC);
  EXPECT_EQ(mti.GetNextRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_NONE);
  EXPECT_EQ(IntField(1), 2);
  EXPECT_EQ(mti.GetFilteredRecordCount(), 1);
  EXPECT_EQ(mti.GetNextRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_NONE);
  EXPECT_EQ(IntField(1), 4);
  EXPECT_EQ(mti.GetNextRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_EOF);
  EXPECT_EQ(mti.GetPriorRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_NONE);
  EXPECT_EQ(IntField(1), 4);
  EXPECT_EQ(mti.GetPriorRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_NONE);
  EXPECT_EQ(IntField(1), 2);
  EXPECT_EQ(mti.GetPriorRecord(dbiNOLOCK, record.data(), nullptr), DBIERR_BOF);
  EXPECT_EQ(mti.GetFilteredRecordCount(), 2);
  mti.SetToSeqNo(2);
  mti.DeleteRecord(record.data());  // forgets flag 2, record 2's
  EXPECT_EQ(mti.GetFilteredRecordCount(), 1);
  mti.ActivateFilter(1);  // starts counting afresh
  EXPECT_EQ(mti.GetFilteredRecordCount(), 0);
  EXPECT_EQ(mti.DropFilter(1), DBIERR_NONE);
  EXPECT_EQ(mti.GetFilteredRecordCount(), 4);
}

// ---- The kept-up order -----------------------------------------------------------------------

// Random posts, appends and deletes through the engine, compared after each
// batch with a fresh sort of the same buffer; ties may fall either way, so
// the keys at each position are compared, not the records.
TEST_F(Engine, KeptUpOrderEqualsAFreshSort) {
  std::mt19937 random(20261206);
  const char* names[] = {"ala", "Ala", "ąb", "b", "ł", "l", "z", "ż", "źdźbło", nullptr};
  std::vector<std::pair<const char*, double>> rows;
  for (int i = 0; i < 300; ++i) rows.emplace_back(names[random() % 10], static_cast<double>(random() % 20));
  Table(rows);
  const AnsiString expression = "name,\\amount";
  mti.MakeIndex(expression);
  TTxMti fresh;
  auto keysInOrder = [&](TTxMti& engine) {
    std::vector<std::string> keys;
    for (int r = 1; r <= engine.GetRecordCount(); ++r) {
      const int occ = engine.tuxOccFromRecNo(r);
      const Variant name = buffer.GetValues(kName, occ);
      keys.push_back((VarIsNull(name) ? std::string("~") : AnsiUpperCase(name.AsString()).str()) + "|" +
                     buffer.GetValues(kAmount, occ).AsString().str());
    }
    return keys;
  };
  for (int step = 0; step < 3000; ++step) {
    const int count = mti.GetRecordCount();
    const unsigned what = random() % 10;
    if (what < 5 && count > 0) {
      mti.SetToSeqNo(1 + static_cast<int>(random() % static_cast<unsigned>(count)));
      mti.GetRecord(dbiNOLOCK, record.data(), nullptr);
      const char* name = names[random() % 10];
      char text[21] = {};
      if (name) std::strncpy(text, Utf8ToAnsi(name).c_str(), 20);
      mti.PutField(2, record.data(), name ? text : nullptr);
      const double amount = static_cast<double>(random() % 20);
      mti.PutField(3, record.data(), &amount);
      mti.ModifyRecord(record.data(), true);
    } else if (what < 8 && count > 0) {
      mti.SetToSeqNo(1 + static_cast<int>(random() % static_cast<unsigned>(count)));
      mti.DeleteRecord(record.data());
    } else {
      const double amount = static_cast<double>(random() % 20);
      const std::int32_t id = step;
      mti.InitRecord(record.data());
      mti.PutField(1, record.data(), &id);
      mti.PutField(3, record.data(), &amount);
      mti.AppendRecord(record.data());
    }
    if (step % 250 == 0 || step == 2999) {
      for (int r = 1; r <= mti.GetRecordCount(); ++r) {
        std::int32_t bookmark = 0;
        mti.SetToSeqNo(r);
        mti.GetBookMark(&bookmark);
        ASSERT_EQ(mti.tuxRecNoFromOcc(bookmark), r);
      }
      if (fresh.open) fresh.CloseCursor();
      fresh.SetTxFbfr(&buffer);
      fresh.Open();
      fresh.MakeIndex(expression);
      ASSERT_EQ(keysInOrder(mti), keysInOrder(fresh)) << "step " << step;
    }
  }
}

// The order structure alone, long enough for its blocks to split, empty out
// and be renumbered: positions and occurrences must stay each other's
// inverse and the keys in order.
TEST(SortedRows, StaysSortedAndInvertibleThroughSplitsAndRenumbering) {
  std::mt19937 random(7);
  auto key = [&] { return std::string(1, static_cast<char>('a' + random() % 20)) + std::to_string(random() % 50); };
  std::vector<std::string> keys;
  for (int i = 0; i < 1500; ++i) keys.push_back(key());
  std::vector<int> order(keys.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::sort(order.begin(), order.end(), [&](int a, int b) { return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)]; });
  TTxSortedRows rows;
  rows.Build(keys, order);
  for (int step = 0; step < 20000; ++step) {
    const int n = static_cast<int>(keys.size());
    const unsigned what = random() % 10;
    if (what < 3 && n > 0) {
      const int occ = static_cast<int>(random() % static_cast<unsigned>(n));
      keys[static_cast<std::size_t>(occ)] = key();
      rows.Change(occ, keys[static_cast<std::size_t>(occ)]);
    } else if (what < 6 && n > 0) {
      const int occ = static_cast<int>(random() % static_cast<unsigned>(n));
      keys.erase(keys.begin() + occ);
      rows.Erase(occ);
    } else if (what < 9 || n == 0) {
      keys.push_back(step % 3 ? key() : std::string("zz"));  // runs of equal keys at the end
      rows.Append(keys.back());
    }
    if (step % 997 == 0 || step == 19999) {
      ASSERT_EQ(rows.Count(), static_cast<int>(keys.size()));
      std::vector<bool> seen(keys.size());
      for (int pos = 1; pos <= rows.Count(); ++pos) {
        const int occ = rows.OccAt(pos);
        ASSERT_TRUE(occ >= 0 && occ < rows.Count() && !seen[static_cast<std::size_t>(occ)]) << step;
        seen[static_cast<std::size_t>(occ)] = true;
        ASSERT_EQ(rows.PositionOf(occ), pos) << step;
        if (pos > 1) {
          ASSERT_LE(keys[static_cast<std::size_t>(rows.OccAt(pos - 1))], keys[static_cast<std::size_t>(occ)]) << step;
        }
      }
    }
  }
}

}  // namespace
}  // namespace Tx
