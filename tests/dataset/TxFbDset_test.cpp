// The FML data set: opening, values through the fields, the events around
// post and delete, refused changes that leave the buffer alone, orders,
// filters, bookmarks, Locate, BLOB streams and copying rows.
#include "dataset/TxFbDset.h"

#include <fml32.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"

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

const FLDID32 kId = Fmkfldid32(FLD_LONG, 501), kName = Fmkfldid32(FLD_STRING, 502);
const FLDID32 kAmount = Fmkfldid32(FLD_DOUBLE, 503), kDay = Fmkfldid32(FLD_LONG, 504);
const FLDID32 kStamp = Fmkfldid32(FLD_STRING, 505), kNote = Fmkfldid32(FLD_STRING, 506);
const FLDID32 kPicture = Fmkfldid32(FLD_CARRAY, 507), kOther = Fmkfldid32(FLD_LONG, 599);

// Event handlers that write what they see into one log.
struct THandlers {
  std::vector<std::string> Log;
  std::string FailOn;  // "update" or "refresh": that handler raises
  bool SerialOnInsert = false;
  int Serial = 100;
  struct TNamed {
    THandlers* Owner;
    const char* Name;
    void Fire(TDataSet*) { Owner->Log.push_back(Name); }
  };
  std::vector<std::unique_ptr<TNamed>> Named;
  TDataSetNotifyEvent Event(const char* name) {
    Named.push_back(std::make_unique<TNamed>(TNamed{this, name}));
    return TDataSetNotifyEvent(Named.back().get(), &TNamed::Fire);
  }
  void Update(TDataSet*, TUpdateKind kind) { Record("update", kind); }
  void Refresh(TDataSet* dataSet, TUpdateKind kind) {
    Record("refresh", kind);
    if (SerialOnInsert && kind == ukInsert) dataSet->FieldByName("ID")->SetAsInteger(++Serial);
  }
  void Record(const std::string& what, TUpdateKind kind) {
    static const char* const kinds[] = {"modify", "insert", "delete"};
    Log.push_back(what + ":" + kinds[kind]);
    if (what == FailOn) throw Exception(("refused " + what).c_str());
  }
  void Validate(TField* field) { Log.push_back("validate:" + field->FieldName().str()); }
  void EvenIds(TDataSet* dataSet, bool& accept) { accept = dataSet->FieldByName("ID")->AsInteger() % 2 == 0; }
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
  TTxFbfrFldDef* Declare(FLDID32 id, const char* name, int maxSize = 0, TTxFldLogicalType type = txlftDefault) {
    TTxFbfrFldDef* def = contract.AddFldDef(id);
    def->SetTxFldName(name);
    def->SetLogicalType(type);
    if (maxSize > 0) def->SetMaxSize(maxSize);
    return def;
  }
  void Row(int id, const char* name, double amount) {
    buffer.AppendOcc(kId, Variant(id));
    buffer.AppendOcc(kName, name ? Variant(Utf8ToAnsi(name)) : Variant());
    buffer.AppendOcc(kAmount, Variant(amount));
  }
  void Rows(std::initializer_list<const char*> names) {
    for (const char* name : names) Row(buffer.OccCount(kId) + 1, name, (buffer.OccCount(kId) + 1) * 10.0);
  }
  void Open() {
    ds.SetTxFbfr(&buffer);
    ds.Open();
  }
  TField* F(const char* name) { return ds.FieldByName(name); }
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
    for (auto [event, name] : {std::pair{&ds.BeforePost, "BeforePost"}, {&ds.AfterPost, "AfterPost"},
                               {&ds.BeforeDelete, "BeforeDelete"}, {&ds.AfterDelete, "AfterDelete"}})
      *event = on.Event(name);
    ds.OnUpdateRecord = TTxUpdateRecordEvent(&on, &THandlers::Update);
    ds.OnRefreshRow = TTxUpdateRecordEvent(&on, &THandlers::Refresh);
  }

  TRecordingUserInterface ui;
  TUserInterfaceScope scope{ui};
  TTxFbfrDef contract{nullptr};
  TTxFbfr buffer{nullptr, 4096};
  THandlers on;
  TTxFbfrDSet ds{nullptr};
};

TEST_F(FbDset, OpeningAndItsRefusals) {
  EXPECT_EQ(MessageOf([&] { ds.Open(); }), "TxFbfr is not assigned");
  TTxFbfr bare(nullptr, 1024);
  ds.SetTxFbfr(&bare);
  EXPECT_EQ(MessageOf<ENoRecordSet>([&] { ds.Open(); }), "No field defs in FML");
  EXPECT_FALSE(ds.GetMti()->open);
  ds.SetTxFbfr(&buffer);
  ds.Open();  // no rows: moves and a new order find nothing to stand on
  ds.Last();
  ds.SetIndexExpr("NAME");
  EXPECT_TRUE(ds.Eof() && ds.Bof());
  ds.Close();
  ds.SetTxFbfr(&bare);
  EXPECT_EQ(MessageOf<EPropertyError>([&] { ds.SetFldGroup(-2); }), "Dopuszczalne wartości to -1,0,1,2,..."_ansi);
  ds.SetFldGroup(0);
  // The second column is short: a warning, and the data set is read-only.
  Rows({"a", "b"});
  buffer.DeleteOcc(kAmount, 1);
  Open();
  ASSERT_EQ(ui.Dialogs().size(), 1U);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text,
            "Pole AMOUNT ma inną liczbę wystąpień niż poprzednie pola.\nRekordy zostały udostępnione tylko do odczytu."_ansi);
  EXPECT_EQ(MessageOf([&] { ds.Edit(); }), "Cannot modify a read-only dataset");
  ds.Last();
  EXPECT_TRUE(F("AMOUNT")->IsNull());
  EXPECT_EQ(MessageOf([&] { ds.SetTxFbfr(&bare); }), "Otwarte połączenie ze starym buforem"_ansi);
  EXPECT_EQ(MessageOf([&] { ds.SetReadOnly(true); }), "Cannot perform this operation on an open dataset");
}

TEST_F(FbDset, ValuesReadAndWrittenThroughTheFields) {
  Declare(kDay, "DAY", 0, txlftDate);
  Declare(kStamp, "STAMP", 0, txlftDateTime);
  Rows({"Kraków", nullptr});
  const TDateTime day = EncodeDate(2003, 7, 15), stamp = day + EncodeTime(10, 20, 30, 250);
  for (const Variant& v : {Variant(day), Variant()}) buffer.AppendOcc(kDay, v);
  for (const Variant& v : {Variant(AnsiString("2003-07-15 10:20:30.250")), Variant()}) buffer.AppendOcc(kStamp, v);
  Open();
  EXPECT_EQ(F("NAME")->AsString(), Utf8ToAnsi("Kraków"));
  EXPECT_DOUBLE_EQ(F("DAY")->AsDateTime(), day);
  EXPECT_DOUBLE_EQ(F("STAMP")->AsDateTime(), stamp);
  // By field number the dates come in the framework's native forms.
  DBIDATE date = 0, expected = 0;
  TIMESTAMP native = 0;
  DbiDateEncode(7, 15, 2003, &expected);
  ASSERT_TRUE(ds.GetFieldData(4, &date) && ds.GetFieldData(5, &native));
  EXPECT_EQ(date, expected);
  EXPECT_DOUBLE_EQ(native, expected * 86400000.0 + 37230250.0);
  EXPECT_EQ(MessageOf([&] { F("NAME")->SetAsString("x"); }), "DataSet not in editing mode");

  ds.Next();
  EXPECT_EQ(ds.RecNo(), 2);
  for (const char* name : {"NAME", "DAY", "STAMP"}) EXPECT_TRUE(F(name)->IsNull()) << name;
  ds.Edit();
  F("DAY")->SetAsDateTime(day + EncodeTime(18, 0, 0, 0));  // the time of day is dropped
  F("STAMP")->SetAsDateTime(stamp);
  F("NAME")->SetAsString("");  // stored blank
  F("ID")->Clear();
  F("AMOUNT")->SetReadOnly(true);
  EXPECT_EQ(MessageOf([&] { F("AMOUNT")->SetAsFloat(1); }), "Field \"AMOUNT\" is read-only");
  ds.Post();
  EXPECT_EQ(buffer.GetValues(kDay, 1), Variant(static_cast<int>(day)));
  EXPECT_EQ(buffer.GetValues(kStamp, 1), Variant(AnsiString("2003-07-15 10:20:30.250")));
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kName, 1)) && VarIsNull(buffer.GetValues(kId, 1)));
  EXPECT_TRUE(F("NAME")->IsNull() && F("ID")->IsNull());
  EXPECT_EQ(buffer.GetValues(kAmount, 1), Variant(20.0));
}

struct TCalc {
  void Twice(TDataSet* dataSet) {
    dataSet->FieldByName("TWICE")->SetAsInteger(dataSet->FieldByName("ID")->AsInteger() * 2);
  }
};

TEST_F(FbDset, CalculatedFieldsLiveBehindTheRecord) {
  Rows({"a", "b"});
  ds.SetTxFbfr(&buffer);
  ds.FieldDefs()->Update();
  TComponent owner(nullptr);
  for (int i = 0; i < ds.FieldDefs()->Count(); ++i) ds.FieldDefs()->Items(i)->CreateField(&owner);
  auto* twice = new TIntegerField(&owner);
  twice->SetFieldName("TWICE");
  twice->SetFieldKind(fkCalculated);
  twice->SetDataSet(&ds);
  TCalc calc;
  ds.OnCalcFields = TDataSetNotifyEvent(&calc, &TCalc::Twice);
  ds.Open();
  EXPECT_EQ(F("TWICE")->AsInteger(), 2);
  ds.Last();
  EXPECT_EQ(F("TWICE")->AsInteger(), 4);
  ds.Edit();
  F("ID")->SetAsInteger(7);  // recalculated on the change
  EXPECT_EQ(F("TWICE")->AsInteger(), 14);
  ds.Post();
  EXPECT_EQ(BufferIds(), (std::vector<int>{1, 7}));
  ds.Close();
}

TEST_F(FbDset, EventsAroundPostAndDeleteAndWhereAnInsertGoes) {
  Rows({"b", "a"});
  ds.SetIndexExpr("NAME");
  Open();
  Hook();
  on.SerialOnInsert = true;
  for (const char* name : {"ID", "NAME"}) F(name)->OnValidate = TFieldNotifyEvent(&on, &THandlers::Validate);
  ds.Edit();
  F("NAME")->SetAsString("c");  // moves from first to last
  ds.Post();
  EXPECT_EQ(F("ID")->AsInteger(), 2);  // the data set follows the row
  ds.Append();
  ds.Post();  // the refresh handler's id goes in without validation
  EXPECT_EQ(F("ID")->AsInteger(), 101);
  EXPECT_EQ(ds.RecNo(), 1);  // a blank name sorts first
  EXPECT_EQ(BufferIds(), (std::vector<int>{1, 2, 101}));
  ds.Delete();
  EXPECT_EQ(on.Log, (std::vector<std::string>{"validate:NAME", "BeforePost", "update:modify", "refresh:modify",
                                              "AfterPost", "BeforePost", "update:insert", "refresh:insert",
                                              "AfterPost", "BeforeDelete", "update:delete", "AfterDelete"}));
  EXPECT_EQ(BufferIds(), (std::vector<int>{1, 2}));
  ds.AppendRecord({Variant(7), Variant(AnsiString("bb"))});  // no events: straight in
  EXPECT_EQ(F("ID")->AsInteger(), 7);
  EXPECT_EQ(Ids(), (std::vector<int>{1, 7, 2}));
  EXPECT_EQ(MessageOf([&] { ds.InsertRecord({Variant(8)}); }),
            "Wstawianie rekordu w środku nie jest zaimplementowane"_ansi);
  EXPECT_EQ(BufferIds(), (std::vector<int>{1, 2, 7}));
}

TEST_F(FbDset, ARaisingHandlerLeavesTheBufferAsItWas) {
  Rows({"a", "b"});
  Open();
  Hook();
  F("NAME")->OnValidate = TFieldNotifyEvent(&on, &THandlers::Validate);
  for (const char* failing : {"update", "refresh"}) {
    on.FailOn = failing;
    ds.Edit();
    F("NAME")->SetAsString("changed");
    EXPECT_EQ(MessageOf([&] { ds.Post(); }), AnsiString("refused ") + failing);
    ds.Cancel();
    ds.Append();
    EXPECT_EQ(MessageOf([&] { ds.Post(); }), AnsiString("refused ") + failing);
    ds.Cancel();
  }
  on.FailOn = "update";
  EXPECT_EQ(MessageOf([&] { ds.Delete(); }), "refused update");
  EXPECT_EQ(BufferIds(), (std::vector<int>{1, 2}));
  EXPECT_EQ(buffer.GetValues(kName, 0), Variant(AnsiString("a")));
  // Validation is back on after the refused refresh.
  on.Log.clear();
  ds.Edit();
  F("NAME")->SetAsString("z");
  EXPECT_EQ(on.Log, (std::vector<std::string>{"validate:NAME"}));
}

TEST_F(FbDset, AWriteThatFailsPartWayKeepsTheColumnsWrittenBeforeIt) {
  Rows({"a"});
  contract.GetFldDef(2)->SetOccMax(1);
  Open();
  ds.Append();
  F("AMOUNT")->SetAsFloat(1.5);
  EXPECT_NE(MessageOf([&] { ds.Post(); }), "(no exception)");
  EXPECT_EQ(buffer.OccCount(kId), 2);
  EXPECT_EQ(buffer.OccCount(kAmount), 1);
}

TEST_F(FbDset, OrdersKeepTheRowAndAFailedExpressionChangesNothing) {
  Row(1, "beta", 5);
  Row(2, "Alfa", 1);
  Row(3, "alfa", 9);
  Row(4, nullptr, 3);
  Open();
  ds.Next();
  ds.SetIndexExpr("name , \\amount");
  EXPECT_EQ(F("ID")->AsInteger(), 2);
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_EQ(Ids(), (std::vector<int>{4, 3, 2, 1}));
  ds.SetIndexExpr("\\AMOUNT");
  for (const char* bad : {"1NAME", "NOSUCH"}) EXPECT_NE(MessageOf([&] { ds.SetIndexExpr(bad); }), "(no exception)");
  EXPECT_EQ(MessageOf([&] { ds.SetIndexExpr("1NAME"); }), "Zły znak specjalny (1) dla sortowania pola"_ansi);
  EXPECT_EQ(ds.GetIndexExpr(), "\\AMOUNT");
  ds.SetIndexExpr("AMOUNT");
  ds.Close();
  ds.Open();
  EXPECT_EQ(Ids(), (std::vector<int>{2, 4, 1, 3}));
  ds.SetRecNo(3);
  EXPECT_EQ(F("ID")->AsInteger(), 1);
  ds.SetRecNo(7);  // out of range: stays
  EXPECT_EQ(ds.RecNo(), 3);
  ds.SwitchToOrder("\\NAME");  // the engine only: IndexExpr stays, the rows are re-read
  EXPECT_EQ(F("ID")->AsInteger(), 1);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(ds.GetIndexExpr(), "AMOUNT");
}

TEST_F(FbDset, AFilterHidesRowsAndCountsThoseItHasSeen) {
  Rows({"a", "b", "c", "d", "e"});
  ds.SetOnFilterRecord(TFilterRecordEvent(&on, &THandlers::EvenIds));
  Open();
  EXPECT_EQ(Ids(), (std::vector<int>{1, 2, 3, 4, 5}));
  ds.SetFiltered(true);
  EXPECT_EQ(ds.RecordCount(), 1);  // only what was read so far
  EXPECT_EQ(Ids(), (std::vector<int>{2, 4}));
  EXPECT_EQ(ds.RecordCount(), 2);
  ds.SetOnFilterRecord(nullptr);
  EXPECT_EQ(Ids(), (std::vector<int>{1, 2, 3, 4, 5}));
  ds.SetOnFilterRecord(TFilterRecordEvent(&on, &THandlers::EvenIds));
  EXPECT_EQ(Ids(), (std::vector<int>{2, 4}));
  EXPECT_FALSE(ds.Locate("NAME", Variant(AnsiString("c")), {}));
  EXPECT_TRUE(ds.Locate("NAME", Variant(AnsiString("d")), {}));
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 5);
}

TEST_F(FbDset, BookmarksNameOccurrencesWhateverTheOrder) {
  Rows({"c", "a", "b"});
  Open();
  ds.Next();
  TBookmark mark = ds.GetBookmark();  // ID 2
  ds.SetIndexExpr("\\NAME");
  ds.First();
  TBookmark first = ds.GetBookmark();  // ID 1, shown first, lower occurrence
  EXPECT_EQ(std::vector<int>({ds.CompareBookmarks(first, mark), ds.CompareBookmarks(mark, first),
                              ds.CompareBookmarks(nullptr, mark), ds.CompareBookmarks(mark, nullptr),
                              ds.CompareBookmarks(nullptr, nullptr)}),
            std::vector<int>({-1, 1, 1, -1, 0}));
  ds.GotoBookmark(mark);
  EXPECT_EQ(F("ID")->AsInteger(), 2);
  ASSERT_TRUE(ds.Locate("ID", Variant(3), {}));
  TBookmark last = ds.GetBookmark();
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(last));
  EXPECT_TRUE(ds.BookmarkValid(mark));
  for (TBookmark b : {mark, first, last}) ds.FreeBookmark(b);
}

TEST_F(FbDset, LocateAndLookup) {
  Row(1, "Stocznia", 1);
  Row(2, "Magazyn", 2);
  Row(3, "ŁÓDŹ Kaliska", 3);
  Row(4, "Magazyn", 4);
  Open();
  ds.Last();
  const TLocateOptions both{loCaseInsensitive, loPartialKey};
  EXPECT_FALSE(ds.Locate("NAME", Variant(AnsiString("mag")), {}));
  EXPECT_FALSE(ds.Locate("NAME", Variant(AnsiString("mag")), TLocateOptions{loCaseInsensitive}));
  EXPECT_EQ(F("ID")->AsInteger(), 4);  // not found: where it was
  EXPECT_TRUE(ds.Locate("NAME", Variant(AnsiString("mag")), both));
  EXPECT_EQ(F("ID")->AsInteger(), 2);
  EXPECT_TRUE(ds.Locate("NAME", Variant(Utf8ToAnsi("łódź")), both));
  EXPECT_EQ(F("ID")->AsInteger(), 3);
  ds.SetIndexExpr("\\AMOUNT");  // the first match in the order shown
  EXPECT_TRUE(ds.Locate("NAME", Variant(AnsiString("Magazyn")), {}));
  EXPECT_EQ(F("ID")->AsInteger(), 4);
  EXPECT_TRUE(ds.Locate("NAME;ID", VarArrayOf({Variant(AnsiString("Magazyn")), Variant(2)}), {}));
  EXPECT_EQ(F("ID")->AsInteger(), 2);
  EXPECT_EQ(ds.Lookup("AMOUNT", Variant(1.0), "NAME"), Variant(AnsiString("Stocznia")));
  EXPECT_EQ(F("ID")->AsInteger(), 1);  // Lookup stays on the row found
  EXPECT_TRUE(VarIsNull(ds.Lookup("AMOUNT", Variant(5.0), "NAME")));
  EXPECT_EQ(MessageOf([&] { ds.Locate("NOSUCH", Variant(1), {}); }), "Field 'NOSUCH' not found");
  // Texts kept in the server's code page are compared as the fields read them.
  TTxGlobalClient::SetTranslateType(txttLatin2);
  Row(5, "Śliwa", 5);
  ds.SetIndexExpr("");
  EXPECT_TRUE(ds.Locate("NAME", Variant(Utf8ToAnsi("śl")), both));
  EXPECT_EQ(F("NAME")->AsString(), Utf8ToAnsi("Śliwa"));
  TTxGlobalClient::SetTranslateType(txttWindows);
}

// ---- BLOB streams ---------------------------------------------------------------------

class FbDsetBlob : public FbDset {
 protected:
  void SetUp() override {
    FbDset::SetUp();
    Declare(kNote, "NOTE", 0, txlftMemo);
    Declare(kPicture, "PICTURE", 0, txlftGraphic);
    Rows({"a", "b"});
    for (const char* note : {"0123456789", "abcd"}) buffer.AppendOcc(kNote, Variant(AnsiString(note)));
    for (const Variant& v : {Variant(AnsiString(std::string("\0\1\2", 3))), Variant()}) buffer.AppendOcc(kPicture, v);
    Open();
  }
  std::unique_ptr<TStream> Stream(const char* name, TBlobStreamMode mode) {
    return std::unique_ptr<TStream>(ds.CreateBlobStream(F(name), mode));
  }
  std::string ReadAll(TStream* stream) {
    char bytes[64] = {};
    return std::string(bytes, static_cast<std::size_t>(stream->Read(bytes, sizeof bytes)));
  }
  std::int32_t Handle(int fieldNo) {
    std::int32_t handle = 0;
    std::memcpy(&handle, ds.ActiveBuffer() + ds.GetMti()->FldBufOffset(fieldNo) + 1, 4);
    return handle;
  }
};

TEST_F(FbDsetBlob, ReadingAndSeeking) {
  EXPECT_EQ(F("PICTURE")->AsString(), AnsiString(std::string("\0\1\2", 3)));
  auto stream = Stream("NOTE", bmRead);
  char bytes[100];
  EXPECT_EQ(stream->Read(bytes, 100), 10);
  EXPECT_EQ(stream->GetPosition(), 10);
  EXPECT_EQ(stream->Read(bytes, 100), 0);
  EXPECT_EQ(std::vector<int>({stream->Seek(100, soFromBeginning), stream->Seek(-5, soFromBeginning),
                              stream->Seek(0, soFromEnd), stream->Seek(-3, soFromCurrent)}),
            std::vector<int>({9, 0, 10, 7}));
  EXPECT_EQ(ReadAll(stream.get()), "789");
  stream.reset();
  ds.Next();
  EXPECT_TRUE(F("PICTURE")->IsNull());
  EXPECT_EQ(F("NOTE")->AsString(), "abcd");
  for (const auto& entry : ds.GetMti()->BlobList()) EXPECT_EQ(entry, nullptr);  // read streams closed theirs
}

TEST_F(FbDsetBlob, WritingGrowsTruncatesAndPostsTheValue) {
  ds.Next();
  ds.Edit();
  {
    auto stream = Stream("NOTE", bmReadWrite);
    stream->Seek(3, soFromBeginning);
    EXPECT_EQ(stream->Write("XYZW!", 5), 5);
    stream->Seek(0, soFromBeginning);
    EXPECT_EQ(ReadAll(stream.get()), "abcXYZW!");
    auto shared = Stream("NOTE", bmReadWrite);  // the same open BLOB
    shared->Seek(6, soFromBeginning);
    static_cast<TTxBlobStream*>(shared.get())->Truncate();
    EXPECT_EQ(MessageOf([&] { ds.GetMti()->PutBlob(ds.ActiveBuffer(), 4, 7, 1, "x"); }),
              "Pole BLOB krótsze niż zadana pozycja zapisu"_ansi);
  }
  EXPECT_EQ(buffer.GetValues(kNote, 1), Variant(AnsiString("abcd")));  // not before the post
  ds.Post();
  EXPECT_EQ(buffer.GetValues(kNote, 1), Variant(AnsiString("abcXYZ")));
  ds.Edit();
  { auto stream = Stream("NOTE", bmWrite); }  // starts empty; nothing written stores Null
  ds.Post();
  EXPECT_TRUE(VarIsNull(buffer.GetValues(kNote, 1)));
  ds.Append();  // a new row's BLOBs start empty
  EXPECT_EQ(ReadAll(Stream("NOTE", bmReadWrite).get()), "");
  F("PICTURE")->SetAsString(AnsiString(std::string("\0z", 2)));
  ds.Post();
  EXPECT_EQ(buffer.GetValues(kPicture, 2), Variant(AnsiString(std::string("\0z", 2))));
}

TEST_F(FbDsetBlob, HandlesAreReusedAndCancelDropsTheWrittenValue) {
  ds.Edit();
  F("NOTE")->SetAsString("n");
  F("PICTURE")->SetAsString("p");
  EXPECT_EQ(Handle(4), 1);
  EXPECT_EQ(Handle(5), 2);
  ds.Cancel();
  EXPECT_EQ(F("NOTE")->AsString(), "0123456789");
  ds.Edit();
  F("PICTURE")->SetAsString("q");
  EXPECT_EQ(Handle(5), 1);
  ds.Post();
  EXPECT_EQ(buffer.GetValues(kPicture, 0), Variant(AnsiString("q")));
}

TEST_F(FbDsetBlob, RefusedStreamsGoToTheExceptionHandler) {
  // Browse state: reported, then the stream has no BLOB behind it.
  const AnsiString notOpen = "DbiError: DBIResult=10755 (DBIERR_BLOBNOTOPENED)";
  EXPECT_EQ(MessageOf([&] { Stream("NOTE", bmWrite); }), notOpen);  // its truncation fails
  auto stream = Stream("NOTE", bmReadWrite);
  char byte = 0;
  EXPECT_EQ(MessageOf([&] { stream->Read(&byte, 1); }), notOpen);
  stream.reset();
  ds.Edit();
  F("NOTE")->SetReadOnly(true);
  Stream("NOTE", bmReadWrite);
  ASSERT_EQ(ui.Dialogs().size(), 3U);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text, "DataSet not in editing mode.");
  EXPECT_EQ(ui.Dialogs()[2].Request.Text, "Field \"NOTE\" is read-only.");
  EXPECT_EQ(ui.DebugLines(), (std::vector<AnsiString>(3, "1668")));
}

TEST_F(FbDsetBlob, EngineResultsForBadArguments) {
  TTxMti* mti = ds.GetMti();
  char* record = ds.ActiveBuffer();
  unsigned long size = 0, read = 99;
  EXPECT_EQ(std::vector<int>({mti->GetBlobSize(nullptr, 4, size), mti->GetBlobSize(record, 0, size),
                              mti->GetBlobSize(record, 6, size), mti->GetBlobSize(record, 2, size),
                              mti->GetBlobSize(record, 4, size)}),
            std::vector<int>({DBIERR_INVALIDPARAM, DBIERR_OUTOFRANGE, DBIERR_OUTOFRANGE, DBIERR_NOTABLOB,
                              DBIERR_BLOBNOTOPENED}));
  ASSERT_EQ(mti->OpenBlob(record, 4, dbiREADONLY), DBIERR_NONE);
  EXPECT_EQ(mti->OpenBlob(record, 4, dbiREADONLY), DBIERR_BLOBOPENED);
  char bytes[4];
  EXPECT_EQ(mti->GetBlob(record, 4, 10, 4, bytes, read), DBIERR_INVALIDBLOBOFFSET);
  EXPECT_EQ(read, 99U);
  EXPECT_EQ(mti->GetBlob(record, 4, 8, 4, bytes, read), DBIERR_ENDOFBLOB);
  EXPECT_EQ(read, 2U);
  EXPECT_EQ(mti->FreeBlob(record, 4), DBIERR_NONE);
  EXPECT_EQ(mti->FreeBlob(record, 4), DBIERR_BLOBNOTOPENED);
}

// ---- Fields by id and copying rows ----------------------------------------------------

TEST_F(FbDset, FieldsByIdAndValuesToAndFromAnotherBuffer) {
  contract.GetFldDef(0)->SetAssignSerial(true);
  Declare(kStamp, "STAMP", 0, txlftDateTime);
  Rows({"a"});
  buffer.AppendOcc(kStamp, Variant(AnsiString("2003-07-15 10:20:30.250")));
  Open();
  EXPECT_EQ(ds.FindFieldByTuxId(kName), F("NAME"));
  EXPECT_EQ(ds.FindFieldByTuxId(kOther), nullptr);
  AnsiString expected;
  expected.sprintf("Nie znaleziono w TxFbfrDSet pola <%ld >", static_cast<long>(kOther));
  EXPECT_EQ(MessageOf([&] { ds.FieldByTuxId(kOther); }), expected);
  EXPECT_EQ(ds.TuxFldId(F("AMOUNT")), kAmount);
  EXPECT_EQ(ds.TuxFldId(ds.FieldDefs()->Items(1)), kName);
  EXPECT_EQ(ds.tuxFindAssignSerialField(), F("ID"));

  TTxFbfrDef otherContract(nullptr);
  for (auto [id, name] : {std::pair{kName, "NAME"}, {kStamp, "STAMP"}, {kOther, "OTHER"}}) {
    otherContract.AddFldDef(id)->SetTxFldName(name);
    if (id == kStamp) otherContract.FindFldDefById(id)->SetLogicalType(txlftDateTime);
  }
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
  TTxFbfr target(nullptr, 4096), empty(nullptr, 4096);
  target.Contract = empty.Contract = &contract;
  TTxFbfrDSet copy(nullptr), none(nullptr);
  copy.SetTxFbfr(&target);
  none.SetTxFbfr(&empty);
  EXPECT_EQ(copy.AddAllRows(&ds), 0);  // closed
  copy.Open();
  none.Open();
  EXPECT_EQ(copy.AddAllRows(&none), 0);
  EXPECT_FALSE(copy.AddRow(nullptr));
  EXPECT_TRUE(copy.AddRow(&ds));
  EXPECT_EQ(copy.AddAllRows(&ds), 3);
  EXPECT_EQ(F("ID")->AsInteger(), 2);  // the source is back where it was
  ds.Edit();
  F("NAME")->SetAsString("zmiana");
  ds.Post();
  EXPECT_TRUE(copy.UpdateRow(&ds, "ID", Variant(2)));
  EXPECT_FALSE(copy.UpdateRow(&ds, "ID", Variant(9)));
  std::vector<std::string> rows;
  for (int i = 0; i < target.OccCount(kId); ++i)
    rows.push_back(std::to_string(target.GetValues(kId, i).AsInteger()) + target.GetValues(kName, i).AsString().str());
  EXPECT_EQ(rows, (std::vector<std::string>{"2zmiana", "1a", "2b", "3c"}));
}

}  // namespace
}  // namespace Tx
