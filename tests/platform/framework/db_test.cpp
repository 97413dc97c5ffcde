// The data set's contract as an application and a data link see it, driven
// through a small in-memory descendant.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/framework/Db.h"
#include "tests/platform/framework/db_test_support.h"
#include "tests/platform/framework/framework_test_support.h"

namespace {

using namespace Tx;
using namespace DbTest;
using FrameworkTest::Raised;

// A control's view of the data set: every notification as a short word.
class TRecordingLink : public TDataLink {
 public:
  std::vector<std::string> Calls;
  TField* WriteOnUpdate = nullptr;  // UpdateData writes "typed" into it

  std::string Take() {
    std::string all;
    for (const std::string& call : Calls) all += (all.empty() ? "" : " ") + call;
    Calls.clear();
    return all;
  }

 protected:
  void ActiveChanged() override { Calls.push_back(Active() ? "Active" : "Inactive"); }
  void EditingChanged() override { Calls.push_back(Editing() ? "Editing" : "Browsing"); }
  void DataSetChanged() override { Calls.push_back("Changed"); }
  void DataSetScrolled(int Distance) override { Calls.push_back("Scrolled" + std::to_string(Distance)); }
  void RecordChanged(TField* Field) override {
    Calls.push_back("Record:" + (Field ? Field->FieldName().str() : std::string("-")));
  }
  void UpdateData() override {
    Calls.push_back("UpdateData");
    if (WriteOnUpdate) WriteOnUpdate->SetAsString("typed");
  }
};

class TErrorHandler {
 public:
  TDataAction Action = daFail;
  std::vector<std::string> Seen;
  void Handle(TDataSet*, EDatabaseError* E, TDataAction& A) {
    Seen.push_back(E->Message.str());
    A = Action;
  }
};

class DataSetTest : public FrameworkTest::NeutralSettingsTest {
 protected:
  TComponent Owner{nullptr};
  TMemDataSet* Ds = nullptr;  // owned by Owner
  TDataSource* Source = nullptr;
  TRecordingLink Link;
  TEventLog Log;

  void SetUp() override {
    NeutralSettingsTest::SetUp();
    Ds = new TMemDataSet(&Owner, {{"ID", ftInteger},
                                  {"NAME", ftString, 20, true},
                                  {"AMOUNT", ftFloat},
                                  {"DAY", ftDate},
                                  {"MEMO", ftMemo}});
    Ds->SetName("People");
    Ds->AddRow({1, "Adam", 10.5, TDateTime(2003, 7, 15), "first memo"});
    Ds->AddRow({2, "Ewa", 20.0, TDateTime(2003, 7, 16), Null()});
    Ds->AddRow({3, "magazyn", Null(), Null(), Null()});
    Ds->AddRow({4, "Magazyn Główny"_ansi, 40.0, Null(), Null()});
    Ds->AddRow({5, "Zofia", 50.0, Null(), Null()});
    Source = new TDataSource(&Owner);
    Source->SetDataSet(Ds);
    Link.SetDataSource(Source);
  }
  void TearDown() override {
    Link.SetDataSource(nullptr);
    NeutralSettingsTest::TearDown();
  }

  TField* F(const char* Name) const { return Ds->FieldByName(Name); }
  // The IDs of every record from the first, in order.
  std::string AllIds() {
    std::string ids;
    for (Ds->First(); !Ds->Eof(); Ds->Next()) ids += F("ID")->AsString().str();
    return ids;
  }
  // The link's window: IDs in buffer order, the active one in brackets.
  std::string Window() {
    const int active = Link.ActiveRecord();
    std::string window;
    for (int i = 0; i < Link.RecordCount(); ++i) {
      Link.SetActiveRecord(i);
      const std::string id = F("ID")->AsString().str();
      window += (window.empty() ? "" : " ") + (i == active ? "[" + id + "]" : id);
    }
    Link.SetActiveRecord(active);
    return window;
  }
  std::string Column(int Index) const {
    std::string values;
    for (const auto& row : Ds->Rows()) values += (values.empty() ? "" : ",") + VarToStrDef(row[static_cast<std::size_t>(Index)], "null").str();
    return values;
  }
};

// ---- States and events --------------------------------------------------------------

TEST_F(DataSetTest, OpenCloseEditInsertDeleteFireTheirEventsInOrder) {
  Log.Watch(*Ds);
  Ds->Open();
  EXPECT_EQ(Log.Take(), "BeforeOpen AfterOpen AfterScroll");
  EXPECT_EQ(Ds->State(), dsBrowse);

  Ds->Edit();
  EXPECT_EQ(Ds->State(), dsEdit);
  F("NAME")->SetAsString("Adam II");
  Ds->Post();
  EXPECT_EQ(Log.Take(), "BeforeEdit AfterEdit BeforePost AfterPost");

  Ds->Insert();
  EXPECT_EQ(Ds->State(), dsInsert);
  Ds->Cancel();
  EXPECT_EQ(Log.Take(), "BeforeInsert BeforeScroll OnNewRecord AfterInsert AfterScroll "
                        "BeforeCancel BeforeScroll AfterCancel AfterScroll");

  Ds->Edit();
  F("NAME")->SetAsString("Adam III");
  Ds->Next();  // a modified record is posted before moving
  EXPECT_EQ(Log.Take(), "BeforeEdit AfterEdit BeforePost AfterPost BeforeScroll AfterScroll");

  Ds->Delete();
  EXPECT_EQ(Log.Take(), "BeforeDelete BeforeScroll AfterDelete AfterScroll");
  Ds->Close();
  EXPECT_EQ(Log.Take(), "BeforeClose AfterClose");
  EXPECT_EQ(Ds->State(), dsInactive);
  EXPECT_EQ(Column(1), "Adam III,magazyn,Magazyn Główny,Zofia"_ansi.str());
}

TEST_F(DataSetTest, MisuseRaisesTheFrameworkMessagesWithTheDataSetName) {
  EXPECT_EQ(Raised([&] { Ds->First(); }),
            "EDatabaseError: People: Cannot perform this operation on a closed dataset");
  Ds->Open();
  EXPECT_EQ(Raised([&] { Ds->Post(); }), "EDatabaseError: People: Dataset not in edit or insert mode");
  EXPECT_EQ(Raised([&] { Ds->FieldByName("NOPE"); }), "EDatabaseError: People: Field 'NOPE' not found");
  EXPECT_EQ(Raised([&] { (new TIntegerField(&Owner))->SetDataSet(Ds); }),
            "EDatabaseError: People: Cannot perform this operation on an open dataset");
  Ds->ReadOnlySet = true;
  EXPECT_EQ(Raised([&] { Ds->Edit(); }), "EDatabaseError: People: Cannot modify a read-only dataset");
  EXPECT_EQ(Raised([&] { Ds->Append(); }), "EDatabaseError: People: Cannot modify a read-only dataset");
  Ds->ReadOnlySet = false;

  Ds->Append();  // NAME is required
  EXPECT_EQ(Raised([&] { F("ID")->SetAsInteger(9); Ds->Post(); }),
            "EDatabaseError: Field 'NAME' must have a value");
  Ds->Cancel();
  while (!Ds->IsEmpty()) Ds->Delete();
  EXPECT_EQ(Raised([&] { Ds->Delete(); }),
            "EDatabaseError: People: Cannot perform this operation on an empty dataset");
  Ds->MoveCursorPastEnd();
  EXPECT_EQ(Raised([&] { Ds->Resync({rmExact}); }), "EDatabaseError: People: Record not found");
}

TEST_F(DataSetTest, AFailedOpenLeavesTheDataSetClosedAndFieldsUnbound) {
  Ds->FailOpen = true;
  EXPECT_EQ(Raised([&] { Ds->Open(); }), "EDatabaseError: People: Storage unavailable");
  EXPECT_FALSE(Ds->Active());
  Ds->FailOpen = false;

  auto* wrong = new TStringField(&Owner);  // a persistent field of the wrong type
  wrong->SetFieldName("ID");
  wrong->SetDataSet(Ds);
  EXPECT_EQ(Raised([&] { Ds->Open(); }),
            "EDatabaseError: People: Type mismatch for field 'ID', expecting: String actual: Integer");
  EXPECT_FALSE(Ds->Active());
  EXPECT_EQ(Ds->FieldCount(), 1);  // persistent fields survive a failed open
  wrong->SetFieldName("GHOST");
  EXPECT_EQ(Raised([&] { Ds->Open(); }), "EDatabaseError: People: Field 'GHOST' not found");
  delete wrong;
  Ds->Open();
  EXPECT_EQ(Ds->FieldCount(), 5);
  Ds->Close();
  EXPECT_EQ(Ds->FieldCount(), 0);  // default fields go with the cursor
}

TEST_F(DataSetTest, ADataSetReadAsActiveOpensWhenLoaded) {
  Ds->SetReading(true);
  Ds->SetActive(true);
  EXPECT_FALSE(Ds->Active());
  Ds->SetReading(false);
  Ds->Loaded();
  EXPECT_TRUE(Ds->Active());
  Ds->Close();

  // In the designer a failure goes to the application's handler instead.
  TRecordingUserInterface ui;
  TUserInterfaceScope scope(ui);
  Ds->FailOpen = true;
  Ds->SetDesigning(true);
  Ds->SetReading(true);
  Ds->SetActive(true);
  Ds->SetReading(false);
  Ds->Loaded();
  EXPECT_FALSE(Ds->Active());
  ASSERT_EQ(ui.Dialogs().size(), 1u);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text, "People: Storage unavailable.");
  Ds->SetDesigning(false);
  Ds->SetReading(true);
  Ds->SetActive(true);
  Ds->SetReading(false);
  EXPECT_EQ(Raised([&] { Ds->Loaded(); }), "EDatabaseError: People: Storage unavailable");
}

// ---- Navigation and the buffer ring ---------------------------------------------------

TEST_F(DataSetTest, NavigationReportsCracksAndDistances) {
  Ds->Open();
  EXPECT_TRUE(Ds->Bof());
  EXPECT_FALSE(Ds->Eof());
  EXPECT_EQ(Ds->MoveBy(3), 3);
  EXPECT_EQ(Ds->RecNo(), 4);
  EXPECT_EQ(Ds->MoveBy(10), 1);
  EXPECT_TRUE(Ds->Eof());
  EXPECT_EQ(F("ID")->AsInteger(), 5);
  EXPECT_EQ(Ds->MoveBy(-10), -4);
  EXPECT_TRUE(Ds->Bof());
  Ds->Last();
  EXPECT_TRUE(Ds->Eof());
  EXPECT_EQ(Ds->RecNo(), 5);
  Ds->Prior();
  EXPECT_FALSE(Ds->Eof());
  EXPECT_EQ(Ds->RecNo(), 4);
  EXPECT_EQ(Ds->RecordCount(), 5);
  EXPECT_EQ(AllIds(), "12345");
}

TEST_F(DataSetTest, AnEmptyDataSetIsAtBothCracksAndEditInserts) {
  TMemDataSet empty(&Owner, {{"ID", ftInteger}});
  empty.Open();
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_TRUE(empty.Bof());
  EXPECT_TRUE(empty.Eof());
  EXPECT_EQ(empty.GetBookmark(), nullptr);
  empty.Edit();
  EXPECT_EQ(empty.State(), dsInsert);
  empty.FieldByName("ID")->SetAsInteger(7);
  empty.Post();
  EXPECT_EQ(empty.Rows().size(), 1u);
  EXPECT_FALSE(empty.IsEmpty());
}

TEST_F(DataSetTest, ALinkWithThreeBuffersSeesAWindowThatFollowsTheActiveRecord) {
  Link.SetBufferCount(3);
  Ds->Open();
  EXPECT_EQ(Ds->BufferCount(), 3);
  EXPECT_EQ(Window(), "[1] 2 3");
  Link.Take();
  std::string trail;
  for (int i = 0; i < 5; ++i) {
    Ds->Next();
    trail += Window() + " | ";
  }
  EXPECT_EQ(trail, "1 [2] 3 | 1 2 [3] | 2 3 [4] | 3 4 [5] | 3 4 [5] | ");
  EXPECT_EQ(Link.Take(), "Scrolled0 Scrolled0 Scrolled1 Scrolled1 Scrolled0");
  Ds->MoveBy(-3);
  EXPECT_EQ(Window(), "[2] 3 4");
  EXPECT_EQ(Link.Take(), "Scrolled-1");

  Ds->Last();
  Link.SetBufferCount(1);  // the ring shrinks around the active record
  EXPECT_EQ(Ds->BufferCount(), 1);
  EXPECT_EQ(Window(), "[5]");
  Link.SetBufferCount(3);  // and grows back with the records before it
  EXPECT_EQ(Window(), "3 4 [5]");
  EXPECT_EQ(Ds->RecNo(), 5);
  Ds->Prior();
  EXPECT_EQ(Window(), "3 [4] 5");
}

TEST_F(DataSetTest, InsertPutsTheNewRecordBeforeTheActiveOneAndAppendAtTheEnd) {
  Link.SetBufferCount(4);
  Ds->Open();
  Ds->MoveBy(2);
  Ds->Insert();
  EXPECT_EQ(Window(), "1 2 [] 3");  // the new record is still empty
  F("ID")->SetAsInteger(9);
  F("NAME")->SetAsString("Nowy");
  Ds->Post();
  EXPECT_EQ(Column(0), "1,2,9,3,4,5");
  EXPECT_EQ(Ds->RecNo(), 3);
  EXPECT_EQ(Window(), "1 2 [9] 3");

  Ds->Append();
  EXPECT_EQ(Window(), "3 4 5 []");
  EXPECT_TRUE(Ds->FieldValues("ID").IsNull());
  Ds->SetFieldValues("ID;NAME", VarArrayOf({10, "Koniec"}));
  Ds->Post();
  EXPECT_EQ(Column(0), "1,2,9,3,4,5,10");
  EXPECT_EQ(Window(), "3 4 5 [10]");
  const Variant both = Ds->FieldValues("ID;NAME");
  EXPECT_EQ(both.GetElement(0), Variant(10));
  EXPECT_EQ(both.GetElement(1), Variant("Koniec"));

  // AppendRecord and InsertRecord add and post in one step.
  Log.Watch(*Ds);
  Link.Take();
  Ds->AppendRecord({11, "Ostatni", Null()});
  EXPECT_EQ(Log.Take(), "BeforeInsert BeforeScroll OnNewRecord AfterInsert BeforePost AfterPost AfterScroll");
  EXPECT_EQ(Link.Take(), "Changed");
  EXPECT_EQ(Window(), "4 5 10 [11]");
  Ds->First();
  Ds->InsertRecord({0, "Pierwszy"});
  EXPECT_EQ(Window(), "[0] 1 2 9");
  EXPECT_EQ(Column(1), "Pierwszy,Adam,Ewa,Nowy,magazyn,Magazyn Główny,Zofia,Koniec,Ostatni"_ansi.str());
  EXPECT_EQ(Raised([&] { Ds->AppendRecord({12, Null()}); }), "EDatabaseError: Field 'NAME' must have a value");
  EXPECT_EQ(Ds->State(), dsBrowse);
  EXPECT_EQ(Window(), "[0] 1 2 9");
}

TEST_F(DataSetTest, CancelRestoresTheRecordAndAnUntouchedNewRecordIsDropped) {
  Ds->OnNewRecord = Log.Handler("OnNewRecord");
  Ds->Open();
  Ds->Next();
  Ds->Edit();
  F("NAME")->SetAsString("Zmieniona");
  F("AMOUNT")->Clear();
  Ds->Cancel();
  EXPECT_EQ(F("NAME")->AsString(), "Ewa");
  EXPECT_EQ(F("AMOUNT")->AsFloat(), 20.0);
  EXPECT_EQ(Column(1), "Adam,Ewa,magazyn,Magazyn Główny,Zofia"_ansi.str());

  Ds->Insert();
  Ds->Cancel();
  EXPECT_EQ(F("ID")->AsInteger(), 2);
  EXPECT_EQ(Ds->RecNo(), 2);

  // Values set by OnNewRecord alone do not make the record modified.
  struct Defaults {
    TDataSet* Ds;
    void Set(TDataSet*) { Ds->FieldByName("AMOUNT")->SetAsFloat(1.0); }
  } defaults{Ds};
  Ds->OnNewRecord = TDataSetNotifyEvent(&defaults, &Defaults::Set);
  Ds->Append();
  EXPECT_EQ(F("AMOUNT")->AsFloat(), 1.0);
  EXPECT_FALSE(Ds->Modified());
  Ds->First();  // cancels the untouched record
  EXPECT_EQ(Ds->Rows().size(), 5u);
}

TEST_F(DataSetTest, PostErrorsGoThroughTheErrorEventWithEachAction) {
  TErrorHandler handler;
  Ds->OnPostError = TDataSetErrorEvent(&handler, &TErrorHandler::Handle);
  Ds->Open();
  Ds->Edit();
  F("NAME")->SetAsString("Adam II");

  Ds->PostFailures = {"Disk full"};
  EXPECT_EQ(Raised([&] { Ds->Post(); }), "EDatabaseError: People: Disk full");
  EXPECT_EQ(Ds->State(), dsEdit);

  handler.Action = daAbort;
  Ds->PostFailures = {"Disk full"};
  EXPECT_EQ(Raised([&] { Ds->Post(); }), "EAbort: Operation aborted");
  EXPECT_EQ(Ds->State(), dsEdit);
  EXPECT_EQ(Ds->PostsStored, 0);

  handler.Action = daRetry;
  Ds->PostFailures = {"Locked", "Locked again"};
  Ds->Post();
  EXPECT_EQ(Ds->State(), dsBrowse);
  EXPECT_EQ(Ds->PostsStored, 1);
  EXPECT_EQ(Column(1), "Adam II,Ewa,magazyn,Magazyn Główny,Zofia"_ansi.str());
  EXPECT_EQ(handler.Seen, (std::vector<std::string>{"People: Disk full", "People: Disk full",
                                                    "People: Locked", "People: Locked again"}));

  // Errors that are not database errors pass the event by.
  Ds->EditFailures = {"Record locked"};
  TErrorHandler editHandler;
  editHandler.Action = daRetry;
  Ds->OnEditError = TDataSetErrorEvent(&editHandler, &TErrorHandler::Handle);
  Ds->Edit();
  EXPECT_EQ(editHandler.Seen, std::vector<std::string>{"People: Record locked"});
  F("NAME")->SetAsString("Adam III");
  Ds->PostFailures = {"!Crash"};
  EXPECT_EQ(Raised([&] { Ds->Post(); }), "Exception: Crash");
  EXPECT_EQ(handler.Seen.size(), 4u);
  EXPECT_EQ(Ds->State(), dsEdit);
}

// ---- Fields ---------------------------------------------------------------------

TEST_F(DataSetTest, FieldsConvertTheirValuesAndRefuseWhatTheyCannotHold) {
  Ds->Open();
  Ds->Edit();
  TField* id = F("ID");
  TField* name = F("NAME");
  TField* amount = F("AMOUNT");
  EXPECT_EQ(id->Value(), Variant(1));
  EXPECT_EQ(amount->AsString(), "10.5");
  EXPECT_EQ(amount->AsInteger(), 10);

  name->SetAsString("Bardzo długie nazwisko osoby"_ansi);  // cut to 20 characters
  EXPECT_EQ(name->AsString(), "Bardzo długie nazwis"_ansi);
  name->SetAsInteger(42);
  EXPECT_EQ(name->AsInteger(), 42);

  static_cast<TIntegerField*>(id)->SetMinValue(1);
  static_cast<TIntegerField*>(id)->SetMaxValue(100);
  EXPECT_EQ(Raised([&] { id->SetAsInteger(101); }),
            "EDatabaseError: 101 is not a valid value for field 'ID'. The allowed range is 1 to 100");
  id->SetDisplayLabel("Numer");
  EXPECT_EQ(Raised([&] { id->SetAsString("12x"); }),
            "EDatabaseError: '12x' is not a valid integer value for field 'Numer'");
  EXPECT_EQ(Raised([&] { amount->SetAsString("1,5"); }),
            "EDatabaseError: '1,5' is not a valid floating point value for field 'AMOUNT'");
  EXPECT_EQ(Raised([&] { id->SetAsDateTime(0); }),
            "EDatabaseError: Cannot access field 'Numer' as type DateTime");
  EXPECT_EQ(id->AsInteger(), 1);  // refused values change nothing

  id->SetAsString("");
  EXPECT_TRUE(id->IsNull());
  EXPECT_TRUE(id->Value().IsNull());
  EXPECT_EQ(id->AsInteger(), 0);
  amount->SetValue(Variant("2.25"));
  EXPECT_EQ(amount->AsFloat(), 2.25);
  static_cast<TFloatField*>(amount)->SetMaxValue(5);
  EXPECT_EQ(Raised([&] { amount->SetAsFloat(5.5); }),
            "EDatabaseError: 5.5 is not a valid value for field 'AMOUNT'. The allowed range is 0 to 5");
  EXPECT_EQ(Raised([&] { name->SetFieldName("amount"); }), "EDatabaseError: People: Cannot perform this operation on an open dataset");

  TSmallintField small(nullptr);
  small.SetFieldName("QTY");
  TMemDataSet counts(&Owner, {{"QTY", ftSmallint}});
  small.SetDataSet(&counts);
  counts.Open();
  counts.Append();
  EXPECT_EQ(Raised([&] { small.SetAsInteger(40000); }),
            "EDatabaseError: 40000 is not a valid value for field 'QTY'. The allowed range is -32768 to 32767");
  small.SetAsInteger(-32768);
  counts.Post();
  EXPECT_EQ(counts.Rows()[0][0], Variant(static_cast<short>(-32768)));
  counts.Close();
  small.SetDataSet(nullptr);
}

TEST_F(DataSetTest, FieldListsAndDefinitionsRefuseBadShapes) {
  TIntegerField loose(nullptr);
  loose.SetFieldName("LOOSE");
  EXPECT_EQ(Raised([&] { loose.AsInteger(); }), "EDatabaseError: Field 'LOOSE' has no dataset");
  TIntegerField unnamed(nullptr);
  EXPECT_EQ(Raised([&] { unnamed.SetDataSet(Ds); }), "EDatabaseError: People: Field name missing");
  loose.SetDataSet(Ds);
  TIntegerField twin(nullptr);
  twin.SetFieldName("loose");
  EXPECT_EQ(Raised([&] { twin.SetDataSet(Ds); }), "EDatabaseError: People: Duplicate field name 'loose'");
  twin.SetFieldName("TWIN");
  twin.SetDataSet(Ds);
  EXPECT_EQ(Raised([&] { twin.SetFieldName("Loose"); }), "EDatabaseError: People: Duplicate field name 'Loose'");
  EXPECT_EQ(Raised([&] { Ds->Fields()->Fields(2); }), "EDatabaseError: People: Field index out of range");
  twin.SetDataSet(nullptr);
  loose.SetDataSet(nullptr);

  auto* name = new TStringField(&Owner);  // NAME is 20 characters wide
  name->SetFieldName("NAME");
  name->SetSize(10);
  name->SetDataSet(Ds);
  EXPECT_EQ(Raised([&] { Ds->Open(); }),
            "EDatabaseError: People: Size mismatch for field 'NAME', expecting: 10 actual: 20");
  delete name;
  TFieldDef* word = Ds->FieldDefs()->Add("W", ftWord);
  EXPECT_EQ(Raised([&] { word->CreateField(&Owner); }),
            "EDatabaseError: People: Field 'W' is of an unknown type");
  EXPECT_EQ(Raised([&] { Ds->FieldDefs()->Add("w", ftInteger); }),
            "EDatabaseError: Duplicate name 'w' in People");

  TMemDataSet numbers(&Owner, {{"X", ftFloat}});
  numbers.Open();
  numbers.Append();
  numbers.FieldByName("X")->SetAsFloat(3e10);
  EXPECT_EQ(Raised([&] { numbers.FieldByName("X")->AsInteger(); }), "ERangeError: Range check error");
  TIME time = 0;
  EXPECT_EQ(Raised([&] { DbiTimeEncode(24, 0, 0, &time); }), "EConvertError: Invalid argument to time encode");
  EXPECT_EQ(Raised([&] { NativeToDateTime(ftTime, TDateTimeRec{MSecsPerDay}); }),
            "EConvertError: '693594.86400000' is not a valid timestamp");
}

TEST_F(DataSetTest, DatesTravelInTheNativeEncodingsAndReadBackAsDateTimes) {
  DBIDATE date = 0;
  TIME time = 0;
  TIMESTAMP stamp = 0;
  DbiDateEncode(7, 15, 2003, &date);
  DbiTimeEncode(10, 20, 30 * 1000 + 250, &time);
  DbiTimeStampEncode(date, time, &stamp);
  EXPECT_EQ(date, 731411);
  EXPECT_EQ(time, 37230250);
  EXPECT_EQ(stamp, 63193947630250.0);
  EXPECT_EQ(Raised([&] { DbiDateEncode(2, 30, 2003, &date); }), "EConvertError: Invalid argument to date encode");

  TMemDataSet times(&Owner, {{"DAY", ftDate}, {"AT", ftTime}, {"STAMP", ftDateTime}});
  times.Open();
  times.Append();
  const TDateTime moment = TDateTime(2003, 7, 15) + TDateTime(10, 20, 30, 250);
  for (const char* name : {"DAY", "AT", "STAMP"}) times.FieldByName(name)->SetAsDateTime(moment);
  times.Post();
  TDateTimeRec native{};
  ASSERT_TRUE(times.FieldByName("DAY")->GetData(&native));
  EXPECT_EQ(native.Date, 731411);  // the time of day is dropped
  ASSERT_TRUE(times.FieldByName("AT")->GetData(&native));
  EXPECT_EQ(native.Time, 37230250);  // the date is dropped
  ASSERT_TRUE(times.FieldByName("STAMP")->GetData(&native));
  EXPECT_EQ(native.DateTime, 63193947630250.0);
  EXPECT_EQ(double(times.FieldByName("DAY")->AsDateTime()), double(TDateTime(2003, 7, 15)));
  EXPECT_EQ(double(times.FieldByName("AT")->AsDateTime()), double(TDateTime(10, 20, 30, 250)));
  EXPECT_EQ(double(times.FieldByName("STAMP")->AsDateTime()), double(moment));
  EXPECT_EQ(times.FieldByName("STAMP")->AsString(), "2003-07-15 10:20:30");
  EXPECT_EQ(times.FieldByName("DAY")->DisplayText(), "2003-07-15");

  // Before 1899-12-30 the fraction still counts forward within the day.
  const TDateTimeRec early = DateTimeToNative(ftDateTime, -1.25);
  EXPECT_EQ(double(NativeToDateTime(ftDateTime, early)), -1.25);
  EXPECT_EQ(DateTimeToNative(ftDate, TDateTime(1, 1, 1)).Date, 1);
  EXPECT_EQ(Raised([&] { DateTimeToNative(ftDate, double(TDateTime(1, 1, 1)) - 1); }),
            "EConvertError: Invalid argument to date encode");
  EXPECT_EQ(Raised([&] { NativeToDateTime(ftDate, TDateTimeRec{0}); }),
            "EConvertError: '0.0' is not a valid timestamp");
}

TEST_F(DataSetTest, OnValidateSeesTheNewValueAndOnChangeFollowsTheStore) {
  struct Watcher {
    std::vector<std::string> Seen;
    void Validate(TField* Sender) {
      Seen.push_back("validate " + Sender->AsString().str());
      if (Sender->AsDateTime() < TDateTime(2000, 1, 1)) DatabaseError("Too early");
    }
    void Change(TField* Sender) { Seen.push_back("change " + Sender->AsString().str()); }
  } watcher;
  Ds->Open();
  TField* day = F("DAY");
  day->OnValidate = TFieldNotifyEvent(&watcher, &Watcher::Validate);
  day->OnChange = TFieldNotifyEvent(&watcher, &Watcher::Change);
  Ds->Edit();
  day->SetAsString("2004-02-29");
  EXPECT_EQ(Raised([&] { day->SetAsString("1999-12-31"); }), "EDatabaseError: Too early");
  EXPECT_EQ(day->AsString(), "2004-02-29");
  EXPECT_EQ(watcher.Seen, (std::vector<std::string>{"validate 2004-02-29", "change 2004-02-29",
                                                    "validate 1999-12-31"}));
  EXPECT_TRUE(Ds->Modified());
}

TEST_F(DataSetTest, MemoFieldsGoThroughStreamsAndKeepEditsUntilPost) {
  Ds->Open();
  TField* memo = F("MEMO");
  EXPECT_EQ(memo->AsString(), "first memo");
  EXPECT_EQ(memo->DisplayText(), "(MEMO)");
  EXPECT_EQ(memo->Text(), "first memo");
  EXPECT_EQ(Ds->BlobFieldCount(), 1);
  EXPECT_EQ(Raised([&] { memo->SetAsString("x"); }), "EDatabaseError: People: Dataset not in edit or insert mode");

  Ds->Edit();
  memo->SetAsString("second");
  EXPECT_TRUE(static_cast<TBlobField*>(memo)->Modified());
  EXPECT_EQ(memo->AsString(), "second");
  Ds->Cancel();
  EXPECT_EQ(memo->AsString(), "first memo");

  EXPECT_FALSE(static_cast<TBlobField*>(memo)->Modified());
  EXPECT_EQ(Ds->BlobsClosed, 1);  // the cancel closed the written BLOB

  Ds->Edit();
  TMemoryStream text;
  text.WriteBuffer("from a stream", 13);
  text.SetPosition(0);
  static_cast<TBlobField*>(memo)->LoadFromStream(&text);
  Ds->Post();
  EXPECT_EQ(Column(4), "from a stream,null,null,null,null");
  Ds->Edit();
  memo->Clear();
  Ds->Post();
  EXPECT_TRUE(memo->IsNull());
  EXPECT_EQ(memo->DisplayText(), "(Memo)");
  EXPECT_EQ(Column(4), "null,null,null,null,null");
}

// ---- Calculated fields -------------------------------------------------------------

class CalculatedFieldTest : public DataSetTest {
 protected:
  TStringField* Label = nullptr;
  int Calculations = 0;
  void Calculate(TDataSet*) {
    ++Calculations;
    Label->SetAsString(F("NAME")->AsString() + "#" + F("ID")->AsString());
  }
  void SetUp() override {
    DataSetTest::SetUp();
    Ds->FieldDefs()->Update();  // describes the columns without opening
    for (int i = 0; i < Ds->FieldDefs()->Count(); ++i) Ds->FieldDefs()->Items(i)->CreateField(&Owner);
    Label = new TStringField(&Owner);
    Label->SetFieldName("LABEL");
    Label->SetSize(30);
    Label->SetFieldKind(fkCalculated);
    Label->SetDataSet(Ds);
    Ds->OnCalcFields = TDataSetNotifyEvent(this, &CalculatedFieldTest::Calculate);
  }
};

TEST_F(CalculatedFieldTest, AreComputedForEveryRecordReadAndAfterEachChange) {
  Ds->Open();
  EXPECT_EQ(Ds->FieldCount(), 6);
  EXPECT_EQ(Label->FieldNo(), -1);
  EXPECT_EQ(Ds->CalcFieldsSize(), 32);  // flag byte, 30 characters, terminator
  EXPECT_EQ(Label->AsString(), "Adam#1");
  Ds->Last();
  EXPECT_EQ(Label->AsString(), "Zofia#5");

  Ds->Edit();
  F("NAME")->SetAsString("Zosia");
  EXPECT_EQ(Label->AsString(), "Zosia#5");
  Ds->SetAutoCalcFields(false);
  F("ID")->SetAsInteger(6);
  EXPECT_EQ(Label->AsString(), "Zosia#5");  // waits for the record to be read again
  Ds->Post();
  EXPECT_EQ(Label->AsString(), "Zosia#6");
  EXPECT_EQ(Ds->Lookup("ID", 6, "LABEL"), Variant("Zosia#6"));
  Ds->Close();
  EXPECT_EQ(Ds->FieldCount(), 6);  // persistent fields stay
}

// ---- Bookmarks, filters, search -----------------------------------------------------------

TEST_F(DataSetTest, BookmarksFindTheirRecordAgain) {
  Log.Watch(*Ds);
  Ds->Open();
  Ds->MoveBy(2);
  TBookmark mark = Ds->GetBookmark();
  const TBookmarkStr text = Ds->Bookmark();
  Ds->Last();
  Log.Take();
  Ds->GotoBookmark(mark);
  EXPECT_EQ(Log.Take(), "BeforeScroll AfterScroll");
  EXPECT_EQ(Ds->RecNo(), 3);
  Ds->First();
  Ds->SetBookmark(text);
  EXPECT_EQ(F("ID")->AsInteger(), 3);
  EXPECT_TRUE(Ds->BookmarkValid(mark));
  TBookmark first = nullptr;
  Ds->First();
  first = Ds->GetBookmark();
  EXPECT_EQ(Ds->CompareBookmarks(first, mark), -1);
  Ds->GotoBookmark(mark);
  Ds->Delete();
  EXPECT_FALSE(Ds->BookmarkValid(mark));
  EXPECT_EQ(Raised([&] { Ds->GotoBookmark(mark); }), "EDatabaseError: People: Bookmark names no record");
  EXPECT_EQ(F("ID")->AsInteger(), 4);
  Ds->FreeBookmark(mark);
  Ds->FreeBookmark(first);
}

TEST_F(DataSetTest, OnFilterRecordHidesRecordsWhileFiltered) {
  struct Filter {
    void WithAmount(TDataSet* DataSet, bool& Accept) { Accept = !DataSet->FieldByName("AMOUNT")->IsNull(); }
    void Even(TDataSet* DataSet, bool& Accept) { Accept = DataSet->FieldByName("ID")->AsInteger() % 2 == 0; }
  } filter;
  Ds->SetOnFilterRecord(TFilterRecordEvent(&filter, &Filter::WithAmount));
  Ds->Open();
  EXPECT_EQ(AllIds(), "12345");
  Ds->Last();
  Ds->SetFiltered(true);  // back to the first accepted record
  EXPECT_EQ(F("ID")->AsInteger(), 1);
  EXPECT_EQ(AllIds(), "1245");
  Ds->SetOnFilterRecord(TFilterRecordEvent(&filter, &Filter::Even));
  EXPECT_EQ(F("ID")->AsInteger(), 2);
  EXPECT_EQ(AllIds(), "24");
  EXPECT_TRUE(Ds->Locate("ID", 4, {}));
  EXPECT_FALSE(Ds->Locate("ID", 3, {}));
  Ds->SetFiltered(false);
  EXPECT_EQ(AllIds(), "12345");
}

TEST_F(DataSetTest, LocateHonoursItsOptionsAndLookupStaysPut) {
  Log.Watch(*Ds);
  Ds->Open();
  Link.Take();
  Log.Take();
  EXPECT_TRUE(Ds->Locate("NAME", "mag", {loCaseInsensitive, loPartialKey}));
  EXPECT_EQ(Ds->RecNo(), 3);
  EXPECT_EQ(Link.Take(), "Changed");  // the controls see the final move only
  EXPECT_EQ(Log.Take(), "BeforeScroll AfterScroll");
  EXPECT_TRUE(Ds->Locate("NAME", "Mag", {loPartialKey}));
  EXPECT_EQ(Ds->RecNo(), 4);
  EXPECT_TRUE(Ds->Locate("NAME", "MAGAZYN GŁÓWNY"_ansi, {loCaseInsensitive}));
  EXPECT_EQ(Ds->RecNo(), 4);
  EXPECT_FALSE(Ds->Locate("NAME", "mag", {}));
  EXPECT_FALSE(Ds->Locate("NAME", "Magazyn Główny!"_ansi, {loPartialKey}));
  EXPECT_EQ(Ds->RecNo(), 4);  // a failed search stays where it was
  EXPECT_TRUE(Ds->Locate("ID;NAME", VarArrayOf({2, "Ewa"}), {}));
  EXPECT_EQ(Ds->RecNo(), 2);
  EXPECT_TRUE(Ds->Locate("AMOUNT", Null(), {}));
  EXPECT_EQ(Ds->RecNo(), 3);
  EXPECT_TRUE(Ds->Locate("AMOUNT", 40, {}));
  EXPECT_EQ(Ds->RecNo(), 4);

  Ds->First();
  EXPECT_EQ(Ds->Lookup("ID", 5, "NAME"), Variant("Zofia"));
  const Variant pair = Ds->Lookup("NAME", "Ewa", "ID;AMOUNT");
  EXPECT_EQ(pair.GetElement(0), Variant(2));
  EXPECT_EQ(pair.GetElement(1), Variant(20.0));
  EXPECT_TRUE(Ds->Lookup("ID", 99, "NAME").IsNull());
  EXPECT_EQ(Ds->RecNo(), 1);
  EXPECT_EQ(F("NAME")->AsString(), "Adam");
  EXPECT_EQ(Raised([&] { Ds->Locate("ID;NOPE", VarArrayOf({1, 2}), {}); }),
            "EDatabaseError: People: Field 'NOPE' not found");
}

// ---- Data sources and links ------------------------------------------------------------

TEST_F(DataSetTest, LinksHearStateRecordAndUpdateNotifications) {
  struct SourceWatcher {
    std::vector<std::string> Seen;
    void State(TObject*) { Seen.push_back("state"); }
    void Data(TObject*, TField* Field) { Seen.push_back(Field ? "data " + Field->FieldName().str() : "data"); }
  } watcher;
  Source->OnStateChange = TNotifyEvent(&watcher, &SourceWatcher::State);
  Source->OnDataChange = TDataChangeEvent(&watcher, &SourceWatcher::Data);

  Ds->Open();
  EXPECT_EQ(Link.Take(), "Active");
  EXPECT_TRUE(Link.Edit());
  F("NAME")->SetAsString("Ada");
  Link.WriteOnUpdate = F("NAME");  // the control's pending text goes in on post
  Ds->Post();
  // The link does not hear of its own write.
  EXPECT_EQ(Link.Take(), "Editing Record:- Record:NAME UpdateData Browsing Changed");
  EXPECT_EQ(F("NAME")->AsString(), "typed");
  Link.WriteOnUpdate = nullptr;
  EXPECT_EQ(watcher.Seen, (std::vector<std::string>{"state", "data", "state", "data", "data NAME",
                                                    "data NAME", "state", "data"}));

  Ds->DisableControls();
  Ds->Next();
  Ds->Next();
  EXPECT_TRUE(Ds->ControlsDisabled());
  Ds->EnableControls();
  EXPECT_EQ(Link.Take(), "Changed");

  Source->SetAutoEdit(false);
  EXPECT_FALSE(Link.Edit());
  EXPECT_EQ(Ds->State(), dsBrowse);
  Link.SetReadOnly(true);
  Source->SetAutoEdit(true);
  EXPECT_FALSE(Link.Edit());
  Link.SetReadOnly(false);
  Source->SetEnabled(false);
  EXPECT_EQ(Link.Take(), "Inactive");
  Source->SetEnabled(true);
  EXPECT_EQ(Link.Take(), "Active");
  delete Ds;  // a destroyed data set leaves its sources and links inactive
  Ds = nullptr;
  EXPECT_EQ(Link.Take(), "Inactive");
  EXPECT_EQ(Source->DataSet(), nullptr);
}

}  // namespace
