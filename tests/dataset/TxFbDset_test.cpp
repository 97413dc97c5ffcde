// The FML data set: opening, reading and writing rows through the fields,
// the events around post and delete, failures that leave the buffer alone,
// orders, filters, bookmarks, Locate, BLOB streams and copying rows.
#include "dataset/TxFbDset.h"

#include <fml32.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Exceptions.h"

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

const FLDID32 kId = Fmkfldid32(FLD_LONG, 501);
const FLDID32 kName = Fmkfldid32(FLD_STRING, 502);
const FLDID32 kAmount = Fmkfldid32(FLD_DOUBLE, 503);
const FLDID32 kDay = Fmkfldid32(FLD_LONG, 504);
const FLDID32 kStamp = Fmkfldid32(FLD_STRING, 505);
const FLDID32 kNote = Fmkfldid32(FLD_STRING, 506);
const FLDID32 kPicture = Fmkfldid32(FLD_CARRAY, 507);
const FLDID32 kOther = Fmkfldid32(FLD_LONG, 599);

// Records the events of a data set, in order, as short texts.
struct TEventLog {
  std::vector<std::string> Lines;
  struct TNamed {
    TEventLog* Log;
    const char* Name;
    void Fire(TDataSet*) { Log->Lines.push_back(Name); }
  };
  std::vector<std::unique_ptr<TNamed>> Named;
  TDataSetNotifyEvent Event(const char* name) {
    Named.push_back(std::make_unique<TNamed>(TNamed{this, name}));
    return TDataSetNotifyEvent(Named.back().get(), &TNamed::Fire);
  }
  // OnUpdateRecord / OnRefreshRow; FailOn raises in that one.
  const char* FailOn = "";
  void Update(TDataSet*, TUpdateKind kind) { Record("update", kind); }
  void Refresh(TDataSet* dataSet, TUpdateKind kind) {
    Record("refresh", kind);
    if (SerialOnInsert && kind == ukInsert) dataSet->FieldByName("ID")->SetAsInteger(++Serial);
  }
  void Record(const std::string& what, TUpdateKind kind) {
    static const char* const kinds[] = {"modify", "insert", "delete"};
    Lines.push_back(what + ":" + kinds[kind]);
    if (what == FailOn) throw Exception(("refused " + what).c_str());
  }
  void Validate(TField* field) { Lines.push_back("validate:" + field->FieldName().str()); }
  void EvenIds(TDataSet* dataSet, bool& accept) { accept = dataSet->FieldByName("ID")->AsInteger() % 2 == 0; }
  bool SerialOnInsert = false;
  int Serial = 100;
};

class FbDset : public ::testing::Test {
 protected:
  void SetUp() override {
    TTxGlobalClient::SetTranslateType(txttWindows);
    buffer.Contract = &contract;
    Declare(kId, "ID");
    Declare(kName, "NAME", 20);
    Declare(kAmount, "AMOUNT");
  }
  TTxFbfrFldDef* Declare(FLDID32 id, const char* name, int maxSize = 0, TTxFldLogicalType type = txlftDefault,
                         int group = 0) {
    TTxFbfrFldDef* def = contract.AddFldDef(id);
    def->SetTxFldName(name);
    def->SetLogicalType(type);
    if (Fldtype32(id) == FLD_STRING || Fldtype32(id) == FLD_CARRAY) def->SetMaxSize(maxSize);
    def->SetGroup(group);
    return def;
  }
  void Row(int id, const char* name, double amount) {
    buffer.AppendOcc(kId, Variant(id));
    buffer.AppendOcc(kName, name ? Variant(Utf8ToAnsi(name)) : Variant());
    buffer.AppendOcc(kAmount, Variant(amount));
  }
  void Rows(std::initializer_list<const char*> names) {
    int id = 0;
    for (const char* name : names) {
      ++id;
      Row(id, name, id * 10.0);
    }
  }
  void Open() {
    ds.SetTxFbfr(&buffer);
    ds.Open();
  }
  TField* F(const char* name) { return ds.FieldByName(name); }
  // The ID of every row, first to last, as the data set shows them.
  std::vector<int> Ids() {
    std::vector<int> ids;
    for (ds.First(); !ds.Eof(); ds.Next()) ids.push_back(F("ID")->AsInteger());
    return ids;
  }
  std::vector<int> BufferIds() {
    std::vector<int> ids;
    for (int i = 0; i < buffer.OccCount(kId); ++i) ids.push_back(buffer.GetValues(kId, i).AsInteger());
    return ids;
  }
  void Hook() {
    ds.BeforePost = log.Event("BeforePost");
    ds.AfterPost = log.Event("AfterPost");
    ds.BeforeDelete = log.Event("BeforeDelete");
    ds.AfterDelete = log.Event("AfterDelete");
    ds.OnUpdateRecord = TTxUpdateRecordEvent(&log, &TEventLog::Update);
    ds.OnRefreshRow = TTxUpdateRecordEvent(&log, &TEventLog::Refresh);
  }

  TRecordingUserInterface ui;
  TUserInterfaceScope scope{ui};
  TTxFbfrDef contract{nullptr};
  TTxFbfr buffer{nullptr, 4096};
  TEventLog log;
  TTxFbfrDSet ds{nullptr};
};

// ---- Opening ------------------------------------------------------------------------

TEST_F(FbDset, OpeningRefusesAMissingBufferAnEmptyContractAndBadProperties) {
  EXPECT_EQ(MessageOf([&] { ds.Open(); }), "TxFbfr is not assigned");
  EXPECT_FALSE(ds.Active());
  TTxFbfr bare(nullptr, 1024);
  ds.SetTxFbfr(&bare);
  EXPECT_EQ(MessageOf<ENoRecordSet>([&] { ds.Open(); }), "No field defs in FML");
  EXPECT_FALSE(ds.GetMti()->open);

  EXPECT_EQ(MessageOf<EPropertyError>([&] { ds.SetFldGroup(-2); }), "Dopuszczalne wartości to -1,0,1,2,..."_ansi);
  ds.SetFldGroup(0);
  ds.SetFldGroup(-1);
  Rows({"a"});
  Open();
  EXPECT_EQ(MessageOf([&] { ds.SetTxFbfr(&bare); }), "Otwarte połączenie ze starym buforem"_ansi);
  EXPECT_EQ(MessageOf([&] { ds.SetFldGroup(1); }), "Otwarte połączenie ze starym buforem"_ansi);
  EXPECT_EQ(MessageOf([&] { ds.SetReadOnly(true); }), "Cannot perform this operation on an open dataset");
}

TEST_F(FbDset, ColumnsWithDifferentOccurrenceCountsOpenReadOnlyWithAWarning) {
  Rows({"a", "b"});
  buffer.DeleteOcc(kAmount, 1);
  Open();
  ASSERT_EQ(ui.Dialogs().size(), 1U);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text,
            "Pole AMOUNT ma inną liczbę wystąpień niż poprzednie pola.\nRekordy zostały udostępnione tylko do odczytu."_ansi);
  EXPECT_FALSE(ds.CanModify());
  EXPECT_EQ(MessageOf([&] { ds.Edit(); }), "Cannot modify a read-only dataset");
  ds.Last();
  EXPECT_TRUE(F("AMOUNT")->IsNull());  // the shorter column reads blank
  EXPECT_EQ(ds.RecordCount(), 2);
}

TEST_F(FbDset, FieldGroupChoosesTheColumns) {
  Declare(kOther, "OTHER", 0, txlftDefault, 2);
  Rows({"a"});
  buffer.AppendOcc(kOther, Variant(7));
  ds.SetFldGroup(2);
  Open();
  ASSERT_EQ(ds.FieldCount(), 1);
  EXPECT_EQ(F("OTHER")->AsInteger(), 7);
  ds.Close();
  ds.SetFldGroup(-1);
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 4);
}

// ---- Reading and writing values ------------------------------------------------------

TEST_F(FbDset, ValuesOfEveryKindReadAndWriteThroughTheFields) {
  Declare(kDay, "DAY", 0, txlftDate);
  Declare(kStamp, "STAMP", 0, txlftDateTime);
  Rows({"Kraków", nullptr});
  buffer.AppendOcc(kDay, Variant(EncodeDate(2003, 7, 15)));
  buffer.AppendOcc(kDay, Variant());
  buffer.AppendOcc(kStamp, Variant(AnsiString("2003-07-15 10:20:30.250")));
  buffer.AppendOcc(kStamp, Variant());
  Open();
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(F("NAME")->AsString(), Utf8ToAnsi("Kraków"));
  EXPECT_DOUBLE_EQ(F("AMOUNT")->AsFloat(), 10.0);
  EXPECT_EQ(F("DAY")->DataType(), ftDate);
  EXPECT_DOUBLE_EQ(F("DAY")->AsDateTime(), EncodeDate(2003, 7, 15));
  EXPECT_DOUBLE_EQ(F("STAMP")->AsDateTime(), EncodeDate(2003, 7, 15) + EncodeTime(10, 20, 30, 250));
  ds.Next();
  EXPECT_EQ(ds.RecNo(), 2);
  EXPECT_TRUE(F("NAME")->IsNull());
  EXPECT_TRUE(F("DAY")->IsNull());
  EXPECT_TRUE(F("STAMP")->IsNull());

  // A date drops its time of day; a date-time is stored as text; an empty
  // text and a cleared integer are stored blank.
  ds.Edit();
  F("DAY")->SetAsDateTime(EncodeDate(2003, 7, 15) + EncodeTime(18, 0, 0, 0));
  F("STAMP")->SetAsDateTime(EncodeDate(2003, 7, 15) + EncodeTime(10, 20, 30, 250));
  F("NAME")->SetAsString("");
  F("ID")->Clear();
  ds.Post();
  EXPECT_EQ(buffer.GetValues(kDay, 1), Variant(static_cast<int>(EncodeDate(2003, 7, 15))));
  EXPECT_EQ(buffer.GetValues(kStamp, 1), Variant(AnsiString("2003-07-15 10:20:30.250")));
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kName, 1)));
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kId, 1)));
  EXPECT_TRUE(F("NAME")->IsNull());
  EXPECT_TRUE(F("ID")->IsNull());
  EXPECT_DOUBLE_EQ(F("DAY")->AsDateTime(), EncodeDate(2003, 7, 15));
}

TEST_F(FbDset, NativeFormatsByFieldNumber) {
  Declare(kDay, "DAY", 0, txlftDate);
  Declare(kStamp, "STAMP", 0, txlftDateTime);
  Rows({"a"});
  buffer.AppendOcc(kDay, Variant(EncodeDate(2003, 7, 15)));
  buffer.AppendOcc(kStamp, Variant(AnsiString("2003-07-15 10:20:30.250")));
  Open();
  DBIDATE date = 0;
  ASSERT_TRUE(ds.GetFieldData(4, &date));
  DBIDATE expected = 0;
  DbiDateEncode(7, 15, 2003, &expected);
  EXPECT_EQ(date, expected);
  TIMESTAMP stamp = 0;
  ASSERT_TRUE(ds.GetFieldData(5, &stamp));
  EXPECT_DOUBLE_EQ(stamp, expected * 86400000.0 + (10 * 3600 + 20 * 60 + 30) * 1000.0 + 250);
}

TEST_F(FbDset, WritingOutsideAnEditStateOrToAReadOnlyFieldIsRefused) {
  Rows({"a"});
  Open();
  EXPECT_EQ(MessageOf([&] { F("NAME")->SetAsString("x"); }), "DataSet not in editing mode");
  ds.Edit();
  F("NAME")->SetReadOnly(true);
  EXPECT_EQ(MessageOf([&] { F("NAME")->SetAsString("x"); }), "Field \"NAME\" is read-only");
  ds.Cancel();
  EXPECT_EQ(buffer.GetValues(kName, 0), Variant(AnsiString("a")));
}

// ---- Posting and deleting -----------------------------------------------------------

TEST_F(FbDset, EventsAroundPostAndDeleteComeInOrder) {
  Rows({"a", "b"});
  Open();
  Hook();
  F("NAME")->OnValidate = TFieldNotifyEvent(&log, &TEventLog::Validate);
  ds.Edit();
  F("NAME")->SetAsString("c");
  ds.Post();
  ds.Append();
  F("ID")->SetAsInteger(3);
  ds.Post();
  ds.First();
  ds.Delete();
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"validate:NAME", "BeforePost", "update:modify", "refresh:modify",
                                                 "AfterPost", "BeforePost", "update:insert", "refresh:insert",
                                                 "AfterPost", "BeforeDelete", "update:delete", "AfterDelete"}));
  EXPECT_EQ(BufferIds(), (std::vector<int>{2, 3}));
  EXPECT_EQ(buffer.GetValues(kName, 0), Variant(AnsiString("b")));
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kName, 1)));
}

TEST_F(FbDset, ARefreshHandlerWritesWithoutValidationAndAnInsertIsAppendedLast) {
  Rows({"b", "a"});
  ds.SetIndexExpr("NAME");
  Open();
  Hook();
  log.SerialOnInsert = true;
  F("ID")->OnValidate = TFieldNotifyEvent(&log, &TEventLog::Validate);
  ds.Append();
  F("NAME")->SetAsString("0");
  ds.Post();
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"BeforePost", "update:insert", "refresh:insert", "AfterPost"}));
  EXPECT_EQ(BufferIds(), (std::vector<int>{1, 2, 101}));
  // Sorted first, and the data set stands on it.
  EXPECT_EQ(F("ID")->AsInteger(), 101);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(Ids(), (std::vector<int>{101, 2, 1}));
}

TEST_F(FbDset, AHandlerThatRaisesLeavesTheBufferAsItWas) {
  Rows({"a", "b"});
  Open();
  Hook();
  const std::string before = "a";
  for (const char* failing : {"update", "refresh"}) {
    log.FailOn = failing;
    ds.Edit();
    F("NAME")->SetAsString("changed");
    EXPECT_EQ(MessageOf([&] { ds.Post(); }), AnsiString("refused ") + failing);
    EXPECT_EQ(ds.State(), dsEdit);
    ds.Cancel();
    EXPECT_EQ(buffer.GetValues(kName, 0), Variant(AnsiString("a")));
    ds.Append();
    EXPECT_EQ(MessageOf([&] { ds.Post(); }), AnsiString("refused ") + failing);
    ds.Cancel();
    EXPECT_EQ(buffer.OccCount(kId), 2);
  }
  log.FailOn = "update";
  EXPECT_EQ(MessageOf([&] { ds.Delete(); }), "refused update");
  EXPECT_EQ(BufferIds(), (std::vector<int>{1, 2}));
  // The refresh flag is down again: validation runs after a refused refresh.
  log.FailOn = "";
  log.Lines.clear();
  F("NAME")->OnValidate = TFieldNotifyEvent(&log, &TEventLog::Validate);
  ds.Edit();
  F("NAME")->SetAsString("z");
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"validate:NAME"}));
}

TEST_F(FbDset, AFailingWriteKeepsWhatWasWrittenBeforeIt) {
  // A contract limit on the third column refuses the post after two columns went in.
  Rows({"a"});
  contract.GetFldDef(2)->SetOccMax(1);
  Open();
  ds.Append();
  F("ID")->SetAsInteger(9);
  F("AMOUNT")->SetAsFloat(1.5);
  EXPECT_NE(MessageOf([&] { ds.Post(); }), "(no exception)");
  EXPECT_EQ(buffer.OccCount(kId), 2);
  EXPECT_EQ(buffer.OccCount(kAmount), 1);
}

// ---- Orders, filters, bookmarks -------------------------------------------------------

TEST_F(FbDset, OrdersSwitchOnTheSameRowAndAFailedExpressionChangesNothing) {
  Row(1, "beta", 5);
  Row(2, "Alfa", 1);
  Row(3, "alfa", 9);
  Row(4, nullptr, 3);
  Open();
  ds.Next();  // ID 2
  ds.SetIndexExpr("name , \\amount");
  EXPECT_EQ(F("ID")->AsInteger(), 2);
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(Ids(), (std::vector<int>{4, 3, 2, 1}));
  ds.SetIndexExpr("\\AMOUNT");
  EXPECT_EQ(Ids(), (std::vector<int>{3, 1, 4, 2}));
  EXPECT_EQ(MessageOf([&] { ds.SetIndexExpr("1NAME"); }), "Zły znak specjalny (1) dla sortowania pola"_ansi);
  EXPECT_EQ(ds.GetIndexExpr(), "\\AMOUNT");
  EXPECT_EQ(MessageOf([&] { ds.SetIndexExpr("NOSUCH"); }), "Nie ma pola NOSUCH");
  ds.SetIndexExpr("");
  EXPECT_EQ(Ids(), (std::vector<int>{1, 2, 3, 4}));
  // The order is kept across close and open.
  ds.SetIndexExpr("AMOUNT");
  ds.Close();
  ds.Open();
  EXPECT_EQ(Ids(), (std::vector<int>{2, 4, 1, 3}));
}

TEST_F(FbDset, AFilterHidesRowsAndCountsThoseItHasSeen) {
  Rows({"a", "b", "c", "d", "e"});
  ds.SetOnFilterRecord(TFilterRecordEvent(&log, &TEventLog::EvenIds));
  Open();
  EXPECT_EQ(Ids(), (std::vector<int>{1, 2, 3, 4, 5}));
  ds.SetFiltered(true);
  EXPECT_FALSE(ds.IsSequenced());
  EXPECT_EQ(ds.RecordCount(), 1);  // only the first accepted row is read so far
  EXPECT_EQ(Ids(), (std::vector<int>{2, 4}));
  EXPECT_EQ(ds.RecordCount(), 2);
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 5);
  // Handler removed and given again on an open, filtered data set.
  ds.SetFiltered(true);
  ds.SetOnFilterRecord(nullptr);
  EXPECT_EQ(Ids(), (std::vector<int>{1, 2, 3, 4, 5}));
  ds.SetOnFilterRecord(TFilterRecordEvent(&log, &TEventLog::EvenIds));
  EXPECT_EQ(Ids(), (std::vector<int>{2, 4}));
  // Locate goes through the filter.
  EXPECT_FALSE(ds.Locate("NAME", Variant(AnsiString("c")), {}));
  EXPECT_TRUE(ds.Locate("NAME", Variant(AnsiString("d")), {}));
  EXPECT_EQ(F("ID")->AsInteger(), 4);
}

TEST_F(FbDset, BookmarksNameOccurrencesAcrossOrders) {
  Rows({"c", "a", "b"});
  Open();
  ds.Next();  // ID 2, "a"
  TBookmark mark = ds.GetBookmark();
  ds.SetIndexExpr("\\NAME");
  ds.First();
  TBookmark first = ds.GetBookmark();  // ID 1, "c"
  EXPECT_EQ(ds.CompareBookmarks(first, mark), -1);
  EXPECT_EQ(ds.CompareBookmarks(mark, first), 1);
  EXPECT_EQ(ds.CompareBookmarks(nullptr, mark), 1);
  EXPECT_EQ(ds.CompareBookmarks(mark, nullptr), -1);
  EXPECT_EQ(ds.CompareBookmarks(nullptr, nullptr), 0);
  ds.GotoBookmark(mark);
  EXPECT_EQ(F("ID")->AsInteger(), 2);
  EXPECT_TRUE(ds.BookmarkValid(mark));
  // A bookmark of the last occurrence dies with it.
  ASSERT_TRUE(ds.Locate("ID", Variant(3), {}));
  TBookmark last = ds.GetBookmark();
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(last));
  ds.FreeBookmark(last);
  ds.FreeBookmark(mark);
  ds.FreeBookmark(first);
}

TEST_F(FbDset, RecNoMovesAndStaysWhenOutOfRange) {
  Rows({"a", "b", "c"});
  Open();
  ds.SetRecNo(3);
  EXPECT_EQ(F("ID")->AsInteger(), 3);
  ds.SetRecNo(7);
  EXPECT_EQ(F("ID")->AsInteger(), 3);
  EXPECT_EQ(ds.RecNo(), 3);
}

// ---- Locate and Lookup ---------------------------------------------------------------

TEST_F(FbDset, LocateMatchesTextPartlyAndIgnoringCase) {
  Row(1, "Stocznia", 1);
  Row(2, "Magazyn", 2);
  Row(3, "ŁÓDŹ Kaliska", 3);
  Row(4, "Magazyn", 4);
  Open();
  ds.Last();
  EXPECT_FALSE(ds.Locate("NAME", Variant(AnsiString("mag")), {}));
  EXPECT_EQ(F("ID")->AsInteger(), 4);
  EXPECT_FALSE(ds.Locate("NAME", Variant(AnsiString("mag")), TLocateOptions{loCaseInsensitive}));
  EXPECT_TRUE(ds.Locate("NAME", Variant(AnsiString("mag")), TLocateOptions{loCaseInsensitive, loPartialKey}));
  EXPECT_EQ(F("ID")->AsInteger(), 2);
  EXPECT_TRUE(ds.Locate("NAME", Variant(Utf8ToAnsi("łódź")), TLocateOptions{loCaseInsensitive, loPartialKey}));
  EXPECT_EQ(F("ID")->AsInteger(), 3);
  // Two keys, one of them not text.
  EXPECT_TRUE(ds.Locate("NAME;ID", VarArrayOf({Variant(AnsiString("Magazyn")), Variant(4)}), {}));
  EXPECT_EQ(F("ID")->AsInteger(), 4);
  EXPECT_EQ(ds.Lookup("AMOUNT", Variant(1.0), "NAME"), Variant(AnsiString("Stocznia")));
  EXPECT_EQ(F("ID")->AsInteger(), 1);
  EXPECT_TRUE(VarIsNull(ds.Lookup("AMOUNT", Variant(5.0), "NAME")));
  EXPECT_EQ(F("ID")->AsInteger(), 1);
  EXPECT_EQ(MessageOf([&] { ds.Locate("NOSUCH", Variant(1), {}); }), "Field 'NOSUCH' not found");
}

// ---- BLOB streams ----------------------------------------------------------------------

class FbDsetBlob : public FbDset {
 protected:
  void SetUp() override {
    FbDset::SetUp();
    Declare(kNote, "NOTE", 0, txlftMemo);
    Declare(kPicture, "PICTURE", 0, txlftGraphic);
    Rows({"a", "b"});
    buffer.AppendOcc(kNote, Variant(AnsiString("0123456789")));
    buffer.AppendOcc(kNote, Variant(AnsiString("abcd")));
    buffer.AppendOcc(kPicture, Variant(AnsiString(std::string("\0\1\2", 3))));
    buffer.AppendOcc(kPicture, Variant());
    Open();
  }
  TBlobField* Blob(const char* name) { return static_cast<TBlobField*>(F(name)); }
  std::unique_ptr<TStream> Stream(const char* name, TBlobStreamMode mode) {
    return std::unique_ptr<TStream>(ds.CreateBlobStream(F(name), mode));
  }
  std::string ReadAll(TStream* stream) {
    char bytes[64] = {};
    const int read = stream->Read(bytes, sizeof bytes);
    return std::string(bytes, static_cast<std::size_t>(read));
  }
};

TEST_F(FbDsetBlob, ReadingSeekingAndTheFieldsView) {
  EXPECT_EQ(F("NOTE")->DataType(), ftMemo);
  EXPECT_EQ(F("PICTURE")->DataType(), ftGraphic);
  EXPECT_EQ(F("PICTURE")->AsString(), AnsiString(std::string("\0\1\2", 3)));
  auto stream = Stream("NOTE", bmRead);
  char bytes[100];
  EXPECT_EQ(stream->Read(bytes, 100), 10);
  EXPECT_EQ(stream->GetPosition(), 10);
  EXPECT_EQ(stream->Read(bytes, 100), 0);
  EXPECT_EQ(stream->Seek(100, soFromBeginning), 9);
  EXPECT_EQ(stream->Seek(-5, soFromBeginning), 0);
  EXPECT_EQ(stream->Seek(0, soFromEnd), 10);
  EXPECT_EQ(stream->Seek(-3, soFromCurrent), 7);
  EXPECT_EQ(ReadAll(stream.get()), "789");
  EXPECT_EQ(stream->GetSize(), 10);
  stream.reset();
  ds.Next();
  EXPECT_TRUE(F("PICTURE")->IsNull());
  EXPECT_EQ(F("NOTE")->AsString(), "abcd");
  // Read streams closed their BLOBs: nothing stays open in the list.
  for (const auto& entry : ds.GetMti()->BlobList()) EXPECT_EQ(entry, nullptr);
}

TEST_F(FbDsetBlob, WritingGrowsTruncatesAndPostsTheValue) {
  ds.Next();  // "abcd"
  ds.Edit();
  {
    auto stream = Stream("NOTE", bmReadWrite);
    stream->Seek(3, soFromBeginning);
    EXPECT_EQ(stream->Write("XYZW!", 5), 5);
    EXPECT_EQ(stream->GetSize(), 8);
    stream->Seek(0, soFromBeginning);
    EXPECT_EQ(ReadAll(stream.get()), "abcXYZW!");
    EXPECT_EQ(MessageOf([&] {
                stream->Seek(0, soFromEnd);
                auto other = Stream("NOTE", bmReadWrite);  // the same open BLOB
                other->Seek(0, soFromEnd);
                static_cast<TTxBlobStream*>(other.get())->Truncate();
                ds.GetMti()->PutBlob(ds.ActiveBuffer(), 4, 9, 1, "x");
              }),
              "Pole BLOB krótsze niż zadana pozycja zapisu"_ansi);
  }
  EXPECT_TRUE(Blob("NOTE")->Modified());
  EXPECT_EQ(buffer.GetValues(kNote, 1), Variant(AnsiString("abcd")));  // not before the post
  ds.Post();
  EXPECT_EQ(buffer.GetValues(kNote, 1), Variant(AnsiString("abcXYZW!")));
  EXPECT_FALSE(Blob("NOTE")->Modified());
  // A write stream starts empty; writing nothing stores Null.
  ds.Edit();
  { auto stream = Stream("NOTE", bmWrite); }
  ds.Post();
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kNote, 1)));
  EXPECT_EQ(buffer.OccCount(kNote), 2);
  // A new row's BLOB starts empty.
  ds.Append();
  F("NOTE")->SetAsString("nowy");
  F("PICTURE")->SetAsString(AnsiString(std::string("\0z", 2)));
  ds.Post();
  EXPECT_EQ(buffer.GetValues(kNote, 2), Variant(AnsiString("nowy")));
  EXPECT_EQ(buffer.GetValues(kPicture, 2), Variant(AnsiString(std::string("\0z", 2))));
}

TEST_F(FbDsetBlob, HandlesAreReusedAndCancelDropsTheWrittenValue) {
  ds.Edit();
  F("NOTE")->SetAsString("n");
  F("PICTURE")->SetAsString("p");
  std::int32_t handles[2] = {};
  std::memcpy(&handles[0], ds.ActiveBuffer() + ds.GetMti()->FldBufOffset(4) + 1, 4);
  std::memcpy(&handles[1], ds.ActiveBuffer() + ds.GetMti()->FldBufOffset(5) + 1, 4);
  EXPECT_EQ(handles[0], 1);
  EXPECT_EQ(handles[1], 2);
  ds.Cancel();
  EXPECT_EQ(buffer.GetValues(kNote, 0), Variant(AnsiString("0123456789")));
  EXPECT_EQ(F("NOTE")->AsString(), "0123456789");
  ds.Edit();
  F("PICTURE")->SetAsString("q");
  std::memcpy(&handles[1], ds.ActiveBuffer() + ds.GetMti()->FldBufOffset(5) + 1, 4);
  EXPECT_EQ(handles[1], 1);
  ds.Post();
  EXPECT_EQ(buffer.GetValues(kPicture, 0), Variant(AnsiString("q")));
}

TEST_F(FbDsetBlob, RefusedStreamsGoToTheExceptionHandler) {
  // Browse state: the refusal is reported, the stream opens without a BLOB
  // behind it, and a write stream's truncation then fails to the caller.
  const AnsiString notOpen = "DbiError: DBIResult=10755 (DBIERR_BLOBNOTOPENED)";
  EXPECT_EQ(MessageOf([&] { Stream("NOTE", bmWrite); }), notOpen);
  auto stream = Stream("NOTE", bmReadWrite);
  ASSERT_EQ(ui.Dialogs().size(), 2U);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text, "DataSet not in editing mode.");
  EXPECT_EQ(ui.DebugLines(), (std::vector<AnsiString>{"1668", "1668"}));
  char byte = 0;
  EXPECT_EQ(MessageOf([&] { stream->Read(&byte, 1); }), notOpen);
  stream.reset();
  ds.Edit();
  F("NOTE")->SetReadOnly(true);
  ui.Clear();
  Stream("NOTE", bmReadWrite);
  ASSERT_EQ(ui.Dialogs().size(), 1U);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text, "Field \"NOTE\" is read-only.");
}

TEST_F(FbDsetBlob, EngineBlobResultsForBadArguments) {
  TTxMti* mti = ds.GetMti();
  char* record = ds.ActiveBuffer();
  unsigned long size = 0;
  EXPECT_EQ(mti->GetBlobSize(nullptr, 4, size), DBIERR_INVALIDPARAM);
  EXPECT_EQ(mti->GetBlobSize(record, 0, size), DBIERR_OUTOFRANGE);
  EXPECT_EQ(mti->GetBlobSize(record, 6, size), DBIERR_OUTOFRANGE);
  EXPECT_EQ(mti->GetBlobSize(record, 2, size), DBIERR_NOTABLOB);
  EXPECT_EQ(mti->GetBlobSize(record, 4, size), DBIERR_BLOBNOTOPENED);
  ASSERT_EQ(mti->OpenBlob(record, 4, dbiREADONLY), DBIERR_NONE);
  EXPECT_EQ(mti->OpenBlob(record, 4, dbiREADONLY), DBIERR_BLOBOPENED);
  char bytes[4];
  unsigned long read = 99;
  EXPECT_EQ(mti->GetBlob(record, 4, 10, 4, bytes, read), DBIERR_INVALIDBLOBOFFSET);
  EXPECT_EQ(read, 99U);
  EXPECT_EQ(mti->GetBlob(record, 4, 8, 4, bytes, read), DBIERR_ENDOFBLOB);
  EXPECT_EQ(read, 2U);
  EXPECT_EQ(mti->TruncateBlob(record, 4, 3), DBIERR_NONE);
  EXPECT_EQ(mti->GetBlobSize(record, 4, size), DBIERR_NONE);
  EXPECT_EQ(size, 3U);
  EXPECT_EQ(mti->FreeBlob(record, 4), DBIERR_NONE);
  EXPECT_EQ(mti->FreeBlob(record, 4), DBIERR_BLOBNOTOPENED);
}

// ---- Fields by id and copying rows ----------------------------------------------------

TEST_F(FbDset, FieldsByIdAndTheSerialColumn) {
  contract.GetFldDef(0)->SetAssignSerial(true);
  Rows({"a"});
  Open();
  EXPECT_EQ(ds.FindFieldByTuxId(kName), F("NAME"));
  EXPECT_EQ(ds.FieldByTuxId(kAmount), F("AMOUNT"));
  EXPECT_EQ(ds.FindFieldByTuxId(kOther), nullptr);
  AnsiString expected;
  expected.sprintf("Nie znaleziono w TxFbfrDSet pola <%ld >", static_cast<long>(kOther));
  EXPECT_EQ(MessageOf([&] { ds.FieldByTuxId(kOther); }), expected);
  EXPECT_EQ(ds.TuxFldId(F("AMOUNT")), kAmount);
  EXPECT_EQ(ds.TuxFldId(ds.FieldDefs()->Items(1)), kName);
  EXPECT_EQ(ds.tuxFindAssignSerialField(), F("ID"));
}

TEST_F(FbDset, CurrentValuesGoToAndComeFromAnotherBuffer) {
  Declare(kStamp, "STAMP", 0, txlftDateTime);
  Rows({"a"});
  buffer.AppendOcc(kStamp, Variant(AnsiString("2003-07-15 10:20:30.250")));
  Open();
  TTxFbfrDef otherContract(nullptr);
  for (FLDID32 id : {kName, kStamp, kOther}) {
    TTxFbfrFldDef* def = otherContract.AddFldDef(id);
    def->Assign(contract.FindFldDefById(id) ? contract.FindFldDefById(id) : def);
  }
  otherContract.GetFldDef(2)->SetTxFldName("OTHER");
  TTxFbfr other(nullptr, 4096);
  other.Contract = &otherContract;
  ds.AppendCurrentValues(&other);
  EXPECT_EQ(other.GetValues(kName, 0), Variant(AnsiString("a")));
  EXPECT_EQ(other.GetValues(kStamp, 0), Variant(AnsiString("2003-07-15 10:20:30.")));
  EXPECT_EQ(other.OccCount(kOther), 0);

  other.SetValues(kName, 0, Variant(AnsiString("b")));
  other.SetValues(kStamp, 0, Variant(AnsiString("2004-01-02 03:04:05.678")));
  ds.Edit();
  ds.RefreshCurrentValues(&other);
  ds.Post();
  EXPECT_EQ(buffer.GetValues(kName, 0), Variant(AnsiString("b")));
  EXPECT_EQ(buffer.GetValues(kStamp, 0), Variant(AnsiString("2004-01-02 03:04:05.000")));
}

TEST_F(FbDset, RowsCopiedFromAnotherDataSet) {
  Rows({"a", "b", "c"});
  Open();
  ds.Next();
  TTxFbfr target(nullptr, 4096);
  target.Contract = &contract;
  TTxFbfrDSet copy(nullptr);
  copy.SetTxFbfr(&target);
  EXPECT_EQ(copy.AddAllRows(&ds), 0);  // closed
  copy.Open();
  EXPECT_TRUE(copy.AddRow(&ds));
  EXPECT_EQ(copy.AddAllRows(&ds), 3);
  EXPECT_EQ(F("ID")->AsInteger(), 2);  // the source is back where it was
  std::vector<int> ids;
  for (int i = 0; i < target.OccCount(kId); ++i) ids.push_back(target.GetValues(kId, i).AsInteger());
  EXPECT_EQ(ids, (std::vector<int>{2, 1, 2, 3}));
  ds.Edit();
  F("NAME")->SetAsString("zmiana");
  ds.Post();
  EXPECT_TRUE(copy.UpdateRow(&ds, "ID", Variant(2)));
  EXPECT_EQ(target.GetValues(kName, 0), Variant(AnsiString("zmiana")));
  EXPECT_FALSE(copy.UpdateRow(&ds, "ID", Variant(9)));
  EXPECT_FALSE(copy.AddRow(nullptr));

  TTxFbfr empty(nullptr, 4096);
  empty.Contract = &contract;
  TTxFbfrDSet none(nullptr);
  none.SetTxFbfr(&empty);
  none.Open();
  EXPECT_EQ(copy.AddAllRows(&none), 0);
  EXPECT_TRUE(none.Eof());
}

}  // namespace
}  // namespace Tx
