// Data sets bound to services: a service's buffer shown and called at open,
// and the quick data set's table kept by its services: what each request
// holds, every way through a refused change, serials, refresh, the order of
// events, rows left alone by failures, and the reply cache kept current.
#include "platform/tuxedo/FmlCalls.h"
#include "dataset/TxServDset.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/framework/Dialogs.h"
#include "dataset_test_support.h"
#include "platform/framework/framework_test_support.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "service/TxServiceCache.h"

namespace Tx {
namespace {

using FrameworkTest::Raised;
using Lines = std::vector<std::string>;

// Fields of tests/data/dataset/rows.tbl.
const FLDID32 kId = Fmkfldid32(FLD_LONG, 601), kName = Fmkfldid32(FLD_STRING, 602),
              kAmount = Fmkfldid32(FLD_DOUBLE, 603), kUser = Fmkfldid32(FLD_STRING, 604),
              kErrCode = Fmkfldid32(FLD_LONG, 1000002), kErrText = Fmkfldid32(FLD_STRING, 1000003),
              kRowId = Fmkfldid32(FLD_LONG, 1000004), kSerial = Fmkfldid32(FLD_LONG, 1000005);

// ---- The server: T_SELECT, T_REFRESH and the scripted T_UPDATE, T_INSERT, T_DELETE ----

struct TRow {
  long Id;
  std::string Name;
  double Amount;
};
// What a change service answers: TDX_ERRCODE (none when empty), text, row, serial; TPFAIL when Fail.
struct TAnswer {
  std::optional<long> Code = 0;
  std::string Text = "";
  std::optional<long> Row = std::nullopt, Serial = std::nullopt;
  bool Fail = false;
};
TAnswer Serial(long serial, std::optional<long> code = 0) { return {code, "", std::nullopt, serial, false}; }

// The server's rows, the answers waiting, and what both sides did, in order.
struct TServer {
  std::vector<TRow> Rows;
  std::deque<TAnswer> Answers;
  std::optional<std::string> RefreshedName;  // what the refresh service says a name is now
  Lines Trace;
} server;

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// "NAME=value ..." of every occurrence, in the buffer's order.
std::string Listing(FBFR32* fbfr) {
  std::string text;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  char value[256];
  for (FLDLEN32 length = sizeof value; Fnext32(fbfr, &id, &occ, value, &length) > 0; length = sizeof value) {
    const char* name = Fname32(id);
    text += (text.empty() ? "" : " ") + (name ? std::string(name) : std::to_string(id)) + "=";
    if (Fldtype32(id) == FLD_LONG)
      text += std::to_string(*reinterpret_cast<long*>(value));
    else
      text += Fldtype32(id) == FLD_DOUBLE ? Number(*reinterpret_cast<double*>(value)) : std::string(value);
  }
  Ferror32 = 0;
  return text;
}

void Add(FBFR32* fbfr, FLDID32 id, long value) { Fadd32(fbfr, id, reinterpret_cast<char*>(&value), 0); }
void Add(FBFR32* fbfr, FLDID32 id, double value) { Fadd32(fbfr, id, reinterpret_cast<char*>(&value), 0); }
void Add(FBFR32* fbfr, FLDID32 id, const std::string& text) { Fadd32(fbfr, id, const_cast<char*>(text.c_str()), 0); }

void Serve(TPSVCINFO* info) {
  auto* request = reinterpret_cast<FBFR32*>(info->data);
  const std::string name = info->name;
  server.Trace.push_back(name + " " + Listing(request));
  auto* reply = reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, 4096));
  int rval = TPSUCCESS;
  if (name == "T_SELECT" || name == "T_REFRESH") {
    const long wanted = name == "T_REFRESH" ? Tx::FieldLong(request, kId, 0) : -1;
    for (TRow row : server.Rows) {
      if (wanted != -1 && row.Id != wanted) continue;
      if (wanted != -1 && server.RefreshedName) row.Name = *server.RefreshedName;
      Add(reply, kId, row.Id), Add(reply, kName, row.Name), Add(reply, kAmount, row.Amount);
    }
    if (wanted != -1 && Foccur32(reply, kId) == 0)
      Add(reply, kErrText, "Nie ma wiersza " + std::to_string(wanted)), rval = TPFAIL;
  } else {
    TAnswer answer;
    if (!server.Answers.empty()) answer = server.Answers.front(), server.Answers.pop_front();
    if (answer.Code) Add(reply, kErrCode, *answer.Code);
    if (!answer.Text.empty()) Add(reply, kErrText, answer.Text);
    if (answer.Row) Add(reply, kRowId, *answer.Row);
    if (answer.Serial) Add(reply, kSerial, *answer.Serial);
    rval = answer.Fail ? TPFAIL : TPSUCCESS;
  }
  tpreturn(rval, 0, reinterpret_cast<char*>(reply), 0, 0);
}

// ---- The client ---------------------------------------------------------------------------------

struct TFieldDecl {
  const char* Name;
  FLDID32 Id;
  bool Serial = false;
};
std::unique_ptr<TTxFbfrDef> Contract(std::initializer_list<TFieldDecl> fields) {
  auto contract = std::make_unique<TTxFbfrDef>(nullptr);
  for (const TFieldDecl& field : fields) {
    TTxFbfrFldDef* def = contract->AddFldDef(field.Id);
    def->SetTxFldName(field.Name);
    def->SetMaxSize(Fldtype32(field.Id) == FLD_STRING ? 40 : 0);
    def->SetAssignSerial(field.Serial);
  }
  return contract;
}

// The data set's events, written into the server's trace: one list shows both sides in order.
struct TEvents {
  static std::string Kind(TUpdateKind kind) { return kind == ukModify ? "modify" : kind == ukInsert ? "insert" : "delete"; }
  void Note(const std::string& line) { server.Trace.push_back(line); }
  void BeforePost(TDataSet*) { Note("BeforePost"); }
  void AfterPost(TDataSet*) { Note("AfterPost"); }
  void AfterDelete(TDataSet*) { Note("AfterDelete"); }
  void PostError(TDataSet*, EDatabaseError* e, TDataAction& action) {
    Note("OnPostError " + ClassNameOf(typeid(*e)).str() + ": " + e->Message.str());
    action = daAbort;
  }
  void Fill(TDataSet*, TUpdateKind kind, TTxFbfr* send) {
    Note("OnUpdateBufferFill " + Kind(kind));
    if (AddUser) send->AppendOcc(kUser, Variant(AnsiString("jan")));
  }
  // Notes what it was told and takes the next of Actions (leaves txuaFail when none is left).
  void Failure(TDataSet*, TUpdateKind kind, int row, int code, AnsiString text, TTxUpdateAction& action) {
    Note("OnUpdateFailure " + Kind(kind) + " row " + std::to_string(row) + " code " + std::to_string(code) + ": " +
         text.str() + " (" + std::to_string(action) + ")");
    if (!Actions.empty()) action = Actions.front(), Actions.pop_front();
  }
  bool AddUser = false;
  std::deque<TTxUpdateAction> Actions;
};

class ServiceDataSet : public DataSetTest::RowsTableTest {
 protected:
  void SetUp() override {
    RowsTableTest::SetUp();
    server = TServer();
    server.Rows = {{1, "Kowalski", 10}, {2, "Nowak", 0}, {3, "Adamska", 5}};
    for (const char* name : {"T_SELECT", "T_REFRESH", "T_UPDATE", "T_INSERT", "T_DELETE"})
      tpadvertise(const_cast<char*>(name), Serve);
    GlobalCacheControl()->ClearService("T_SELECT");
  }
  // "id name amount" of every row, as the data set shows them.
  static Lines Shown(TDataSet& ds) {
    Lines rows;
    for (ds.First(); !ds.Eof(); ds.Next())
      rows.push_back(ds.FieldByName("ID")->AsString().str() + " " + ds.FieldByName("NAME")->AsString().str() + " " +
                     Number(ds.FieldByName("AMOUNT")->AsFloat()));
    return rows;
  }
  static Lines Taken() { return std::exchange(server.Trace, Lines{}); }

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope scope{ui};
  std::unique_ptr<TTxFbfrDef> rows = Contract({{"ID", kId, true}, {"NAME", kName}, {"AMOUNT", kAmount}});
  TEvents events;
};

// ---- TTxServDSet --------------------------------------------------------------------------------

class ServDSet : public ServiceDataSet {
 protected:
  void SetUp() override {
    ServiceDataSet::SetUp();
    service->SetServiceName("T_SELECT");
    service->SetRecvContract(rows.get());
    service->SetSendContract(rows.get());
    ds.SetTxService(service.get());
  }
  std::unique_ptr<TTxService> service = std::make_unique<TTxService>(nullptr);
  TTxServDSet ds{nullptr};
};

TEST_F(ServDSet, ShowsTheReplyOfTheCallAtOpenOrTheRequestEditableAsTheServiceSays) {
  ds.Open();
  EXPECT_EQ(Taken(), (Lines{"T_SELECT "}));
  EXPECT_EQ(Shown(ds), (Lines{"1 Kowalski 10", "2 Nowak 0", "3 Adamska 5"}));
  EXPECT_EQ(Raised([&] { ds.Edit(); }), "EDatabaseError: Cannot modify a read-only dataset");
  ds.Close();
  service->SetRecvReadOnly(false);
  ds.Open();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Kowalska");
  ds.Post();
  EXPECT_EQ(service->GetRecvData()->GetValues(kName, 0), Variant(AnsiString("Kowalska")));
  ds.Close();

  // The request, without a call, editable whatever RecvReadOnly and ReadOnly say.
  service->SetRecvReadOnly(true);
  service->GetSendData()->AppendOcc(kId, Variant(7));
  service->GetSendData()->AppendOcc(kName, Variant("Zieliński"_ansi));
  service->GetSendData()->AppendOcc(kAmount, Variant(1.5));
  ds.SetTxServBuffer(SendBuffer);
  ds.SetAutoExecService(false);
  ds.SetReadOnly(true);
  ds.Open();
  EXPECT_EQ(Taken(), (Lines{"T_SELECT "}));  // the reply's second open; the request made no call
  EXPECT_EQ(Shown(ds), (Lines{"7 " + "Zieliński"_ansi.str() + " 1.5"}));
  EXPECT_TRUE(ds.CanModify());
}

TEST_F(ServDSet, NoServiceOrAFailedCallRefusesToOpenAndARemovedServiceIsForgotten) {
  service->SetServiceName("T_REFRESH");  // fails for a request without a known row
  EXPECT_EQ(Raised([&] { ds.Open(); }), "ETxSvcFail: Nie ma wiersza 0");
  EXPECT_FALSE(ds.Active());
  service->SetServiceName("T_SELECT");
  ds.Open();
  const std::string open = "EDatabaseError: Cannot perform this operation on an open dataset";
  EXPECT_EQ(Raised([&] { ds.SetTxService(nullptr); }), open);
  EXPECT_EQ(Raised([&] { ds.SetTxServBuffer(SendBuffer); }), open);
  service.reset();  // while the data set shows its reply
  EXPECT_EQ(ds.GetTxService(), nullptr);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(Raised([&] { ds.Open(); }), "Exception: TxService puste");
}

// ---- TTxQuickDSet -------------------------------------------------------------------------------

class QuickDSet : public ServiceDataSet {
 protected:
  void SetUp() override {
    ServiceDataSet::SetUp();
    ds.SetSelectServiceName("T_SELECT");
    ds.SetSelectRecvContract(rows.get());
    ds.SetUpdateServiceName("T_UPDATE");
    ds.SetUpdateContract(Contract({{"ID", kId}, {"NAME", kName}, {"AMOUNT", kAmount}, {"USER", kUser}}).get());
    ds.SetInsertServiceName("T_INSERT");
    ds.SetInsertContract(Contract({{"NAME", kName}, {"AMOUNT", kAmount}}).get());
    ds.SetDeleteServiceName("T_DELETE");
    ds.SetDeleteContract(Contract({{"ID", kId}}).get());
    ds.SetRefreshContract(Contract({{"ID", kId}}).get());
    ds.SetRefreshRecvContract(rows.get());
    ds.BeforePost = TDataSetNotifyEvent(&events, &TEvents::BeforePost);
    ds.AfterPost = TDataSetNotifyEvent(&events, &TEvents::AfterPost);
    ds.AfterDelete = TDataSetNotifyEvent(&events, &TEvents::AfterDelete);
    ds.OnUpdateBufferFill = TTxUpdateBufferFillEvent(&events, &TEvents::Fill);
    ds.OnUpdateFailure = TTxUpdateFailureEvent(&events, &TEvents::Failure);
  }
  void OpenAt(int id) {
    if (!ds.Active()) ds.Open();
    ASSERT_TRUE(ds.Locate("ID", Variant(id), TLocateOptions()));
    Taken();
  }
  void Rename(const char* name) {
    ds.Edit();
    ds.FieldByName("NAME")->SetAsString(name);
  }
  void AppendRow(const char* name, double amount = 0) {
    ds.Append();
    ds.FieldByName("NAME")->SetAsString(name);
    ds.FieldByName("AMOUNT")->SetAsFloat(amount);
  }
  Variant NameInReply(int occ) { return ds.GetSelectRecvData()->GetValues(kName, occ); }

  TTxQuickDSet ds{nullptr};
};

TEST_F(QuickDSet, OwnsFiveServicesNamedAfterItAndSelectsAtEveryOpen) {
  ds.SetName("Klienci");
  ds.Loaded();
  Lines names;
  for (int i = 0; i < ds.ComponentCount(); ++i) names.push_back(ds.Components(i)->Name().str());
  EXPECT_EQ(names, (Lines{"Klienci_SelectService", "Klienci_RefreshService", "Klienci_UpdateService",
                          "Klienci_InsertService", "Klienci_DeleteService"}));
  ds.GetSelectData()->AppendOcc(kName, Variant(AnsiString("N")));
  ds.SetIndexExpr("NAME");
  ds.Open();
  ds.Close();
  ds.Open();
  EXPECT_EQ(Taken(), (Lines{"T_SELECT NAME=N", "T_SELECT NAME=N"}));
  EXPECT_EQ(Shown(ds), (Lines{"3 Adamska 5", "1 Kowalski 10", "2 Nowak 0"}));
}

TEST_F(QuickDSet, EachRequestHoldsTheRowsFieldsOfItsServicesContractAndTheFillersAdditions) {
  events.AddUser = true;
  OpenAt(2);
  Rename("Nowacka");
  ds.Post();
  server.Answers = {Serial(4)};
  AppendRow("Zajac", 2.5);
  ds.Post();
  ASSERT_TRUE(ds.Locate("ID", Variant(3), TLocateOptions()));
  ds.Delete();
  // USER has no data-set field: only the fill handler puts it in; the
  // insert and delete contracts leave out what their services do not take.
  EXPECT_EQ(Taken(), (Lines{"BeforePost", "OnUpdateBufferFill modify", "T_UPDATE ID=2 AMOUNT=0 NAME=Nowacka USER=jan",
                            "AfterPost", "BeforePost", "OnUpdateBufferFill insert",
                            "T_INSERT AMOUNT=2.5 NAME=Zajac USER=jan", "AfterPost", "OnUpdateBufferFill delete",
                            "T_DELETE ID=3 USER=jan", "AfterDelete"}));
  EXPECT_EQ(Listing(ds.GetSelectRecvData()->GetFbfrP()),
            "ID=1 ID=2 ID=4 AMOUNT=10 AMOUNT=0 AMOUNT=2.5 NAME=Kowalski NAME=Nowacka NAME=Zajac");
}

TEST_F(QuickDSet, ARowTakesTheSerialOfASuccessfulReplyOnly) {
  OpenAt(1);
  server.Answers = {Serial(1234), Serial(99, std::nullopt), Serial(77), Serial(88)};
  AppendRow("Zielona");
  ds.Post();
  EXPECT_EQ(ds.GetSelectRecvData()->GetValues(kId, 3), Variant(1234));
  AppendRow("Biała"_ansi.c_str());  // a reply without TDX_ERRCODE succeeds but gives no serial
  ds.Post();
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
  OpenAt(1);
  Rename("Kowalska");  // an edit takes one too; a delete has no row to give it to
  ds.Post();
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 77);
  ds.Delete();
  EXPECT_EQ(ds.GetSelectRecvData()->OccCount(kName), 4);
}

TEST_F(QuickDSet, EveryWayThroughARefusal) {
  OpenAt(2);
  const TAnswer refused{5, "Zajęty"_ansi.str(), 3};
  const std::string call = "T_UPDATE ID=2 AMOUNT=0 NAME=Nowacka",
                    failure = "OnUpdateFailure modify row 3 code 5: " + "Zajęty"_ansi.str() + " (0)";
  const Lines attempt = {"BeforePost", "OnUpdateBufferFill modify", call, failure};

  // Fail, chosen or left as it came: the server's text as an EDatabaseError;
  // abort: silently. Either way the row stays in edit and unwritten.
  server.Answers = {refused, refused, refused};
  events.Actions = {txuaFail};
  Rename("Nowacka");
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EDatabaseError: " + "Zajęty"_ansi.str());
  events.Actions = {txuaAbort};
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EAbort: Operation aborted");
  ds.OnUpdateFailure = nullptr;
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EDatabaseError: " + "Zajęty"_ansi.str());
  EXPECT_EQ(Taken(), (Lines{attempt[0], attempt[1], call, failure, attempt[0], attempt[1], call, failure, attempt[0],
                            attempt[1], call}));
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(NameInReply(1), Variant(AnsiString("Nowak")));

  // Retry: the same request again, as often as asked; then success, or ignore.
  ds.OnUpdateFailure = TTxUpdateFailureEvent(&events, &TEvents::Failure);
  server.Answers = {refused, refused, TAnswer{}, refused, refused};
  events.Actions = {txuaRetry, txuaRetry, txuaRetry, txuaIgnore};
  ds.Post();
  Rename("Nowakowska");
  ds.Post();
  const std::string again = "T_UPDATE ID=2 AMOUNT=0 NAME=Nowakowska";
  EXPECT_EQ(Taken(), (Lines{attempt[0], attempt[1], call, failure, call, failure, call, "AfterPost", attempt[0],
                            attempt[1], again, failure, again, failure, "AfterPost"}));
  EXPECT_EQ(NameInReply(1), Variant(AnsiString("Nowakowska")));

  // An ignored refusal of a delete deletes; a refusal naming no row says -1.
  server.Answers = {TAnswer{-4, "Saldo"}};
  events.Actions = {txuaIgnore};
  ds.Delete();
  EXPECT_EQ(Taken(), (Lines{"OnUpdateBufferFill delete", "T_DELETE ID=2", "OnUpdateFailure delete row -1 code -4: Saldo (0)",
                            "AfterDelete"}));
  EXPECT_EQ(Shown(ds), (Lines{"1 Kowalski 10", "3 Adamska 5"}));
}

TEST_F(QuickDSet, AFailedCallIsADatabaseErrorForOnPostErrorAndChangesNothing) {
  OpenAt(2);
  ds.OnPostError = TDataSetErrorEvent(&events, &TEvents::PostError);
  server.Answers = {TAnswer{-9, "Brak uprawnień"_ansi.str(), std::nullopt, std::nullopt, true}};
  Rename("Nowacka");
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EAbort: Operation aborted");
  ds.SetUpdateServiceName("T_NOWHERE");
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EAbort: Operation aborted");
  const Lines trace = Taken();
  ASSERT_EQ(trace.size(), 7u);
  EXPECT_EQ(trace[3], "OnPostError EDatabaseError: " + "Brak uprawnień"_ansi.str());
  EXPECT_EQ(trace[6].rfind("OnPostError EDatabaseError: " + "Błąd Tuxedo TPENOENT"_ansi.str(), 0), 0u);
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(NameInReply(1), Variant(AnsiString("Nowak")));
}

TEST_F(QuickDSet, TheRowFieldsAreFoundWithoutFieldTablesThroughTheReplysContract) {
  env.Set("FIELDTBLS32", "none.tbl");
  UnloadTables();
  OpenAt(2);
  server.Answers = {TAnswer{5, "Zajęty"_ansi.str(), 1}, TAnswer{5, "Zajęty"_ansi.str(), 1}};
  events.Actions = {txuaIgnore, txuaIgnore};
  Rename("Nowacka");
  ds.Post();  // error code and text have fixed ids; the row needs a name
  ds.SetUpdateRecvContract(Contract({{"TDX_ROWID", kRowId}, {"TDX_ERRCODE", kErrCode}}).get());
  Rename("Nowak");
  ds.Post();
  const Lines trace = Taken();
  EXPECT_EQ(trace[3], "OnUpdateFailure modify row -1 code 5: " + "Zajęty"_ansi.str() + " (0)");
  EXPECT_EQ(trace[8], "OnUpdateFailure modify row 1 code 5: " + "Zajęty"_ansi.str() + " (0)");
}

TEST_F(QuickDSet, PostsAreRefreshedThroughTheRefreshServiceWhenItHasAName) {
  ds.SetRefreshServiceName("T_REFRESH");
  server.RefreshedName = "NOWACKA";
  OpenAt(2);
  Rename("Nowacka");
  ds.Post();
  server.RefreshedName.reset();
  server.Rows.push_back({4, "Zielona", 7});
  server.Answers = {Serial(4), TAnswer{}, Serial(9)};
  AppendRow("x");
  ds.Post();  // refreshed by the serial it was given
  ds.Delete();
  EXPECT_EQ(Taken(), (Lines{"BeforePost", "OnUpdateBufferFill modify", "T_UPDATE ID=2 AMOUNT=0 NAME=Nowacka", "T_REFRESH ID=2",
                            "AfterPost", "BeforePost", "OnUpdateBufferFill insert", "T_INSERT AMOUNT=0 NAME=x",
                            "T_REFRESH ID=4", "AfterPost", "OnUpdateBufferFill delete", "T_DELETE ID=4", "AfterDelete"}));
  EXPECT_EQ(NameInReply(1), Variant(AnsiString("NOWACKA")));
  // A refresh that fails passes unchanged, and the row is not written.
  AppendRow("y");
  EXPECT_EQ(Raised([&] { ds.Post(); }), "ETxSvcFail: Nie ma wiersza 9");
  EXPECT_EQ(ds.State(), dsInsert);
  EXPECT_EQ(ds.GetSelectRecvData()->OccCount(kName), 3);
}

TEST_F(QuickDSet, RefreshCurrentRecordRereadsTheRowWhereverTheOrderPutsIt) {
  EXPECT_EQ(Raised([&] { ds.RefreshCurrentRecord(); }), "Exception: Refresh service not set !");
  ds.SetRefreshServiceName("T_REFRESH");
  ds.SetIndexExpr("NAME");
  OpenAt(1);
  server.RefreshedName = "Zieliński"_ansi.str();
  ds.RefreshCurrentRecord();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Zieliński"_ansi);
  EXPECT_EQ(Shown(ds), (Lines{"3 Adamska 5", "2 Nowak 0", "1 " + "Zieliński"_ansi.str() + " 10"}));
  EXPECT_EQ(NameInReply(0), Variant("Zieliński"_ansi));

  // A pending edit is posted (and refreshed) first; a failed refresh leaves the rows alone.
  server.RefreshedName.reset();
  OpenAt(2);
  Rename("Nowacka");
  ds.RefreshCurrentRecord();
  server.Rows.erase(server.Rows.begin() + 1);
  EXPECT_EQ(Raised([&] { ds.RefreshCurrentRecord(); }), "ETxSvcFail: Nie ma wiersza 2");
  EXPECT_EQ(Taken(), (Lines{"BeforePost", "OnUpdateBufferFill modify", "T_UPDATE ID=2 AMOUNT=0 NAME=Nowacka",
                            "T_REFRESH ID=2", "AfterPost", "T_REFRESH ID=2", "T_REFRESH ID=2"}));
  EXPECT_EQ(NameInReply(1), Variant(AnsiString("Nowak")));
}

TEST_F(QuickDSet, ACachedSelectIsKeptCurrentByEveryChangeThatIsMade) {
  ds.SetCached(true);
  OpenAt(2);
  Rename("Nowacka");
  ds.Post();
  server.Answers = {Serial(4), TAnswer{}, TAnswer{5, "nie"}};
  AppendRow("Zielona");
  ds.Post();
  OpenAt(1);
  ds.Delete();
  Rename("Kowalska");  // refused: the cached reply stays as it was
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EDatabaseError: nie");
  ds.Cancel();
  ds.Close();
  Taken();
  ds.Open();
  EXPECT_EQ(Taken(), Lines{});  // answered by the cache, with every change in it
  EXPECT_EQ(Shown(ds), (Lines{"2 Nowacka 0", "3 Adamska 5", "4 Zielona 0"}));

  ds.Close();  // not cached: nothing is stored
  GlobalCacheControl()->ClearService("T_SELECT");
  ds.SetCached(false);
  OpenAt(2);
  Rename("Nowacka");
  ds.Post();
  EXPECT_FALSE(dynamic_cast<TTxService*>(ds.Components(0))->IsCachedCall());
}

}  // namespace
}  // namespace Tx
