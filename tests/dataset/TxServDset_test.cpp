// Data sets bound to services: a service's buffer shown and called at open,
// and the quick data set's table kept by its services: what each request
// holds, every way through a refused change, serials, refresh, the order of
// events, rows left alone by failures, and the reply cache kept current.
#include "dataset/TxServDset.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/framework/Dialogs.h"
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

// ---- The server side -----------------------------------------------------------------

struct TRow {
  long Id;
  std::string Name;
  double Amount;
};

// What an update, insert or delete service answers to one request.
struct TAnswer {
  std::optional<long> Code = 0;
  std::string Text;
  std::optional<long> RowId, Serial;
  bool Fail = false;  // TPFAIL instead of a reply in the row protocol
};
TAnswer Serial(long serial, std::optional<long> code = 0) {
  TAnswer answer;
  answer.Code = code;
  answer.Serial = serial;
  return answer;
}
TAnswer Refused(long code, const std::string& text, std::optional<long> row = std::nullopt) {
  TAnswer answer;
  answer.Code = code;
  answer.Text = text;
  answer.RowId = row;
  return answer;
}
TAnswer Failed(long code, const std::string& text) {
  TAnswer answer = Refused(code, text);
  answer.Fail = true;
  return answer;
}

// The server's table, the answers waiting, and everything that happened on
// both sides, in order.
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
    text += std::string(text.empty() ? "" : " ") + (name ? name : std::to_string(id)) + "=";
    switch (Fldtype32(id)) {
      case FLD_LONG: text += std::to_string(*reinterpret_cast<long*>(value)); break;
      case FLD_DOUBLE: text += Number(*reinterpret_cast<double*>(value)); break;
      default: text += value;
    }
  }
  Ferror32 = 0;
  return text;
}

FBFR32* NewReply() { return reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, 4096)); }
void AddLong(FBFR32* fbfr, FLDID32 id, long value) { Fadd32(fbfr, id, reinterpret_cast<char*>(&value), 0); }
void AddText(FBFR32* fbfr, FLDID32 id, const std::string& text) { Fadd32(fbfr, id, const_cast<char*>(text.c_str()), 0); }
void AddRow(FBFR32* fbfr, const TRow& row) {
  AddLong(fbfr, kId, row.Id);
  AddText(fbfr, kName, row.Name);
  double amount = row.Amount;
  Fadd32(fbfr, kAmount, reinterpret_cast<char*>(&amount), 0);
}

void Select(TPSVCINFO* info) {
  server.Trace.push_back(std::string(info->name) + " " + Listing(reinterpret_cast<FBFR32*>(info->data)));
  FBFR32* reply = NewReply();
  for (const TRow& row : server.Rows) AddRow(reply, row);
  tpreturn(TPSUCCESS, 0, reinterpret_cast<char*>(reply), 0, 0);
}

void Refresh(TPSVCINFO* info) {
  auto* request = reinterpret_cast<FBFR32*>(info->data);
  server.Trace.push_back(std::string(info->name) + " " + Listing(request));
  const long id = Fvall32(request, kId, 0);
  FBFR32* reply = NewReply();
  for (const TRow& row : server.Rows) {
    if (row.Id != id) continue;
    TRow now = row;
    if (server.RefreshedName) now.Name = *server.RefreshedName;
    AddRow(reply, now);
    tpreturn(TPSUCCESS, 0, reinterpret_cast<char*>(reply), 0, 0);
  }
  AddLong(reply, kErrCode, -2);
  AddText(reply, kErrText, "Nie ma wiersza " + std::to_string(id));
  tpreturn(TPFAIL, 0, reinterpret_cast<char*>(reply), 0, 0);
}

// The update, insert and delete services: the next scripted answer (TDX_ERRCODE 0 when none is left).
void Change(TPSVCINFO* info) {
  server.Trace.push_back(std::string(info->name) + " " + Listing(reinterpret_cast<FBFR32*>(info->data)));
  TAnswer answer;
  if (!server.Answers.empty()) {
    answer = server.Answers.front();
    server.Answers.pop_front();
  }
  FBFR32* reply = NewReply();
  if (answer.Code) AddLong(reply, kErrCode, *answer.Code);
  if (!answer.Text.empty()) AddText(reply, kErrText, answer.Text);
  if (answer.RowId) AddLong(reply, kRowId, *answer.RowId);
  if (answer.Serial) AddLong(reply, kSerial, *answer.Serial);
  tpreturn(answer.Fail ? TPFAIL : TPSUCCESS, 0, reinterpret_cast<char*>(reply), 0, 0);
}

// ---- The client side ---------------------------------------------------------------------

struct TFieldSpec {
  const char* Name;
  FLDID32 Id;
  bool Serial = false;
};
// A contract of the named fields (the caller keeps it).
std::unique_ptr<TTxFbfrDef> Contract(std::initializer_list<TFieldSpec> fields) {
  auto contract = std::make_unique<TTxFbfrDef>(nullptr);
  for (const TFieldSpec& field : fields) {
    TTxFbfrFldDef* def = contract->AddFldDef(field.Id);
    def->SetTxFldName(field.Name);
    def->SetMaxSize(Fldtype32(field.Id) == FLD_STRING ? 40 : 0);
    def->SetAssignSerial(field.Serial);
  }
  return contract;
}

// The data set's events and handlers, written into the server's trace so
// that one list shows both sides in order.
struct TEvents {
  static std::string Kind(TUpdateKind kind) {
    static const char* const kinds[] = {"modify", "insert", "delete"};
    return kinds[kind];
  }
  void BeforePost(TDataSet*) { server.Trace.push_back("BeforePost"); }
  void AfterPost(TDataSet*) { server.Trace.push_back("AfterPost"); }
  void AfterDelete(TDataSet*) { server.Trace.push_back("AfterDelete"); }
  void PostError(TDataSet*, EDatabaseError* e, TDataAction& action) {
    server.Trace.push_back("OnPostError " + ClassNameOf(typeid(*e)).str() + ": " + e->Message.str());
    action = daAbort;
  }
  // With AddUser, puts USER=jan into the request, to see that the handler's additions travel.
  void Fill(TDataSet*, TUpdateKind kind, TTxFbfr* send) {
    server.Trace.push_back("OnUpdateBufferFill " + Kind(kind));
    if (AddUser) send->AppendOcc(kUser, Variant(AnsiString("jan")));
  }
  // Takes the next action from Actions (txuaFail when none is left).
  void Failure(TDataSet*, TUpdateKind kind, int rowId, int code, AnsiString text, TTxUpdateAction& action) {
    server.Trace.push_back("OnUpdateFailure " + Kind(kind) + " row " + std::to_string(rowId) + " code " +
                           std::to_string(code) + ": " + text.str() + " (" + std::to_string(action) + ")");
    if (!Actions.empty()) {
      action = Actions.front();
      Actions.pop_front();
    }
  }
  bool AddUser = false;
  std::deque<TTxUpdateAction> Actions;
};

class ServiceDataSet : public FrameworkTest::NeutralSettingsTest {
 protected:
  void SetUp() override {
    NeutralSettingsTest::SetUp();
    const char* data = std::getenv("TXLIB_TESTDATA");
    env.Set("FLDTBLDIR32", (std::string(data ? data : "tests/data") + "/dataset").c_str());
    env.Set("FIELDTBLS32", "rows.tbl");
    env.Set("QUORCACHEDISABLED", nullptr);
    Fidnm_unload32();
    Fnmid_unload32();
    TTxGlobalClient::SetTranslateType(txttWindows);
    server = TServer();
    server.Rows = {{1, "Kowalski", 10}, {2, "Nowak", 0}, {3, "Adamska", 5}};
    tpadvertise(const_cast<char*>("T_SELECT"), Select);
    tpadvertise(const_cast<char*>("T_REFRESH"), Refresh);
    for (const char* name : {"T_UPDATE", "T_INSERT", "T_DELETE"}) tpadvertise(const_cast<char*>(name), Change);
    GlobalCacheControl()->ClearService("T_SELECT");
  }
  void TearDown() override {
    GlobalCacheControl()->ClearService("T_SELECT");
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    TTxGlobalClient::ClearTpErrors();
    Fidnm_unload32();
    Fnmid_unload32();
    NeutralSettingsTest::TearDown();
  }

  // "id name amount" of every row, as the data set shows them.
  static Lines Shown(TDataSet& ds) {
    Lines rows;
    for (ds.First(); !ds.Eof(); ds.Next())
      rows.push_back(ds.FieldByName("ID")->AsString().str() + " " + ds.FieldByName("NAME")->AsString().str() + " " +
                     Number(ds.FieldByName("AMOUNT")->AsFloat()));
    return rows;
  }
  Lines Taken() {
    Lines trace = server.Trace;
    server.Trace.clear();
    return trace;
  }

  AtmiBuiltin::ScopedDomain domain;
  FrameworkTest::ScopedEnvironment env;
  TRecordingUserInterface ui;
  TUserInterfaceScope scope{ui};
  std::unique_ptr<TTxFbfrDef> rows = Contract({{"ID", kId, true}, {"NAME", kName}, {"AMOUNT", kAmount}});
  TEvents events;
};

// ---- TTxServDSet ---------------------------------------------------------------------------

class ServDSet : public ServiceDataSet {
 protected:
  void SetUp() override {
    ServiceDataSet::SetUp();
    service->SetServiceName("T_SELECT");
    service->SetRecvContract(rows.get());
    service->SetSendContract(rows.get());
  }
  std::unique_ptr<TTxService> service = std::make_unique<TTxService>(nullptr);
  TTxServDSet ds{nullptr};
};

TEST_F(ServDSet, OpeningCallsTheServiceAndShowsTheReplyOrTheRequest) {
  ds.SetTxService(service.get());
  ds.Open();
  EXPECT_EQ(Taken(), (Lines{"T_SELECT "}));
  EXPECT_EQ(Shown(ds), (Lines{"1 Kowalski 10", "2 Nowak 0", "3 Adamska 5"}));
  ds.Close();

  // The request, without a call: what the application put into it.
  service->GetSendData()->AppendOcc(kId, Variant(7));
  service->GetSendData()->AppendOcc(kName, Variant(AnsiString("Zieliński"_ansi)));
  service->GetSendData()->AppendOcc(kAmount, Variant(1.5));
  ds.SetTxServBuffer(SendBuffer);
  ds.SetAutoExecService(false);
  ds.Open();
  EXPECT_EQ(Taken(), Lines{});
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Zieliński"_ansi);
  EXPECT_EQ(Shown(ds), (Lines{"7 " + "Zieliński"_ansi.str() + " 1.5"}));
}

TEST_F(ServDSet, TheReplyIsEditableOnlyWhenTheServiceAllowsTheRequestAlways) {
  ds.SetTxService(service.get());
  ds.Open();
  EXPECT_FALSE(ds.CanModify());
  EXPECT_EQ(Raised([&] { ds.Edit(); }), "EDatabaseError: Cannot modify a read-only dataset");
  ds.Close();
  service->SetRecvReadOnly(false);
  ds.Open();
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("Kowalska");
  ds.Post();
  EXPECT_EQ(service->GetRecvData()->GetValues(kName, 0), Variant(AnsiString("Kowalska")));
  ds.Close();

  service->SetRecvReadOnly(true);
  service->GetSendData()->AppendOcc(kId, Variant(1));
  service->GetSendData()->AppendOcc(kName, Variant(AnsiString("A")));
  service->GetSendData()->AppendOcc(kAmount, Variant(1.0));
  ds.SetTxServBuffer(SendBuffer);
  ds.Open();
  EXPECT_TRUE(ds.CanModify());
  // ReadOnly is not what decides here.
  ds.Close();
  ds.SetReadOnly(true);
  ds.Open();
  EXPECT_TRUE(ds.CanModify());
}

TEST_F(ServDSet, NoServiceOrAFailedCallRefusesToOpenAndARemovedServiceIsForgotten) {
  EXPECT_EQ(Raised([&] { ds.Open(); }), "Exception: TxService puste");
  service->SetServiceName("T_REFRESH");  // fails for a request without a known row
  ds.SetTxService(service.get());
  EXPECT_EQ(Raised([&] { ds.Open(); }), "ETxSvcFail: Nie ma wiersza 0");
  EXPECT_FALSE(ds.Active());
  service->SetServiceName("T_SELECT");
  ds.Open();
  EXPECT_EQ(Raised([&] { ds.SetTxService(nullptr); }),
            "EDatabaseError: Cannot perform this operation on an open dataset");
  EXPECT_EQ(Raised([&] { ds.SetTxServBuffer(SendBuffer); }),
            "EDatabaseError: Cannot perform this operation on an open dataset");
  service.reset();  // while the data set shows its reply
  EXPECT_EQ(ds.GetTxService(), nullptr);
  EXPECT_FALSE(ds.Active());
  EXPECT_EQ(Raised([&] { ds.Open(); }), "Exception: TxService puste");
}

// ---- TTxQuickDSet --------------------------------------------------------------------------

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
  }
  void OpenAt(int id) {
    ds.Open();
    ASSERT_TRUE(ds.Locate("ID", Variant(id), TLocateOptions()));
    Taken();
  }
  void Rename(const char* name) {
    ds.Edit();
    ds.FieldByName("NAME")->SetAsString(name);
  }
  TTxService* Select() { return dynamic_cast<TTxService*>(ds.Components(0)); }
  Lines Reply() { return Lines{Listing(ds.GetSelectRecvData()->GetFbfrP())}; }
  void OnFailure() { ds.OnUpdateFailure = TTxUpdateFailureEvent(&events, &TEvents::Failure); }

  TTxQuickDSet ds{nullptr};
};

TEST_F(QuickDSet, OwnsFiveServicesNamedAfterItAndSelectsAtEveryOpen) {
  ASSERT_EQ(ds.ComponentCount(), 5);
  ds.SetName("Klienci");
  ds.Loaded();
  Lines names;
  for (int i = 0; i < ds.ComponentCount(); ++i) names.push_back(ds.Components(i)->Name().str());
  EXPECT_EQ(names, (Lines{"Klienci_SelectService", "Klienci_RefreshService", "Klienci_UpdateService",
                          "Klienci_InsertService", "Klienci_DeleteService"}));
  EXPECT_FALSE(ds.Active());

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
  ds.Append();
  ds.FieldByName("NAME")->SetAsString("Zajac");
  ds.FieldByName("AMOUNT")->SetAsFloat(2.5);
  ds.Post();
  ASSERT_TRUE(ds.Locate("ID", Variant(3), TLocateOptions()));
  ds.Delete();
  // USER has no data-set field: only the fill handler puts it in. The
  // insert and delete contracts leave out what their services do not take.
  EXPECT_EQ(Taken(), (Lines{"BeforePost", "OnUpdateBufferFill modify", "T_UPDATE ID=2 AMOUNT=0 NAME=Nowacka USER=jan",
                            "AfterPost", "BeforePost", "OnUpdateBufferFill insert",
                            "T_INSERT AMOUNT=2.5 NAME=Zajac USER=jan", "AfterPost", "OnUpdateBufferFill delete",
                            "T_DELETE ID=3 USER=jan", "AfterDelete"}));
  EXPECT_EQ(Shown(ds), (Lines{"1 Kowalski 10", "2 Nowacka 0", "4 Zajac 2.5"}));
  EXPECT_EQ(Reply(), (Lines{"ID=1 ID=2 ID=4 AMOUNT=10 AMOUNT=0 AMOUNT=2.5 NAME=Kowalski NAME=Nowacka NAME=Zajac"}));
}

TEST_F(QuickDSet, AnInsertedRowTakesTheSerialOfASuccessfulReplyOnly) {
  ds.Open();
  server.Answers = {Serial(1234)};
  ds.Append();
  ds.FieldByName("NAME")->SetAsString("Zielona");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 1234);
  EXPECT_EQ(ds.GetSelectRecvData()->GetValues(kId, 3), Variant(1234));

  // A reply without TDX_ERRCODE is a success, but not one that gives serials.
  server.Answers = {Serial(99, std::nullopt)};
  ds.Append();
  ds.FieldByName("NAME")->SetAsString("Biała");
  ds.Post();
  EXPECT_TRUE(ds.FieldByName("ID")->IsNull());
  EXPECT_EQ(ds.GetSelectRecvData()->OccCount(kName), 5);

  // An edit takes the serial too; a delete has no row to give it to.
  server.Answers = {Serial(77), Serial(88)};
  ASSERT_TRUE(ds.Locate("ID", Variant(1), TLocateOptions()));
  Rename("Kowalska");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("ID")->AsInteger(), 77);
  ds.Delete();
  EXPECT_EQ(ds.GetSelectRecvData()->OccCount(kName), 4);
}

TEST_F(QuickDSet, ARefusalWithoutAHandlerRaisesTheServersTextAndKeepsTheRowInEdit) {
  OpenAt(2);
  ds.OnPostError = TDataSetErrorEvent(&events, &TEvents::PostError);
  server.Answers = {Refused(5, "Klient zmieniony przez innego użytkownika."_ansi.str(), 0)};
  Rename("Nowacka");
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EAbort: Operation aborted");
  EXPECT_EQ(Taken(), (Lines{"BeforePost", "OnUpdateBufferFill modify", "T_UPDATE ID=2 AMOUNT=0 NAME=Nowacka",
                            "OnPostError EDatabaseError: " + "Klient zmieniony przez innego użytkownika."_ansi.str()}));
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Nowacka");
  EXPECT_EQ(ds.GetSelectRecvData()->GetValues(kName, 1), Variant(AnsiString("Nowak")));
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Nowak");

  // Without OnPostError the caller gets the error itself; a delete alike.
  ds.OnPostError = nullptr;
  server.Answers = {Refused(-4, "Saldo nie jest zerowe.")};
  EXPECT_EQ(Raised([&] { ds.Delete(); }), "EDatabaseError: Saldo nie jest zerowe.");
  EXPECT_EQ(Shown(ds), (Lines{"1 Kowalski 10", "2 Nowak 0", "3 Adamska 5"}));
}

TEST_F(QuickDSet, EveryActionOfTheFailureHandler) {
  OnFailure();
  OpenAt(2);
  const TAnswer refused = Refused(5, "Zajęty"_ansi.str(), 3);
  const std::string failure = "OnUpdateFailure modify row 3 code 5: " + "Zajęty"_ansi.str() + " (0)";
  const std::string call = "T_UPDATE ID=2 AMOUNT=0 NAME=Nowacka";

  // Fail, chosen or left as it came: the text as an EDatabaseError.
  server.Answers = {refused, refused};
  events.Actions = {txuaFail};
  Rename("Nowacka");
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EDatabaseError: " + "Zajęty"_ansi.str());
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EDatabaseError: " + "Zajęty"_ansi.str());
  EXPECT_EQ(Taken(), (Lines{"BeforePost", "OnUpdateBufferFill modify", call, failure, "BeforePost",
                            "OnUpdateBufferFill modify", call, failure}));

  // Abort: silent, the row stays in edit and unwritten.
  server.Answers = {refused};
  events.Actions = {txuaAbort};
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EAbort: Operation aborted");
  EXPECT_EQ(ds.State(), dsEdit);
  EXPECT_EQ(ds.GetSelectRecvData()->GetValues(kName, 1), Variant(AnsiString("Nowak")));
  Taken();

  // Retry: the same request again, as often as asked; then success.
  server.Answers = {refused, refused, TAnswer{}};
  events.Actions = {txuaRetry, txuaRetry};
  ds.Post();
  EXPECT_EQ(Taken(), (Lines{"BeforePost", "OnUpdateBufferFill modify", call, failure, call, failure, call,
                            "AfterPost"}));
  EXPECT_EQ(ds.GetSelectRecvData()->GetValues(kName, 1), Variant(AnsiString("Nowacka")));

  // Retry, then ignore: two calls and the row is written.
  server.Answers = {refused, refused};
  events.Actions = {txuaRetry, txuaIgnore};
  Rename("Nowakowska");
  ds.Post();
  EXPECT_EQ(Taken().size(), 7u);
  EXPECT_EQ(ds.GetSelectRecvData()->GetValues(kName, 1), Variant(AnsiString("Nowakowska")));
  EXPECT_EQ(ds.State(), dsBrowse);

  // A refused delete that is ignored deletes; a refusal without a row says -1.
  server.Answers = {Refused(-4, "Saldo")};
  events.Actions = {txuaIgnore};
  ds.Delete();
  EXPECT_EQ(Taken(), (Lines{"OnUpdateBufferFill delete", "T_DELETE ID=2", "OnUpdateFailure delete row -1 code -4: Saldo (0)",
                            "AfterDelete"}));
  EXPECT_EQ(Shown(ds), (Lines{"1 Kowalski 10", "3 Adamska 5"}));
}

TEST_F(QuickDSet, TheProtocolFieldsAreFoundThroughTheReplysContractOrFixedIds) {
  OnFailure();
  env.Set("FIELDTBLS32", "none.tbl");  // no field tables to name them
  Fidnm_unload32();
    Fnmid_unload32();
  OpenAt(2);
  server.Answers = {Refused(5, "Zajęty"_ansi.str(), 1)};
  events.Actions = {txuaIgnore};
  Rename("Nowacka");
  ds.Post();
  // Error code and text have fixed ids; the row needs a name.
  EXPECT_EQ(server.Trace[3], "OnUpdateFailure modify row -1 code 5: " + "Zajęty"_ansi.str() + " (0)");
  Taken();
  ds.SetUpdateRecvContract(Contract({{"TDX_ROWID", kRowId}, {"TDX_ERRCODE", kErrCode}}).get());
  server.Answers = {Refused(5, "Zajęty"_ansi.str(), 1)};
  events.Actions = {txuaIgnore};
  Rename("Nowak");
  ds.Post();
  EXPECT_EQ(server.Trace[3], "OnUpdateFailure modify row 1 code 5: " + "Zajęty"_ansi.str() + " (0)");
}

TEST_F(QuickDSet, ACallThatFailsBecomesADatabaseErrorAndChangesNothing) {
  OpenAt(2);
  ds.OnPostError = TDataSetErrorEvent(&events, &TEvents::PostError);
  server.Answers = {Failed(-9, "Brak uprawnień"_ansi.str())};
  Rename("Nowacka");
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EAbort: Operation aborted");
  EXPECT_EQ(Taken().back(), "OnPostError EDatabaseError: " + "Brak uprawnień"_ansi.str());
  EXPECT_EQ(ds.State(), dsEdit);

  ds.SetUpdateServiceName("T_NOWHERE");
  const Lines before = Reply();
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EAbort: Operation aborted");
  EXPECT_EQ(Taken().back().substr(0, 28), "OnPostError EDatabaseError: ");
  EXPECT_EQ(Reply(), before);
}

TEST_F(QuickDSet, PostsAreRefreshedThroughTheRefreshServiceWhenItHasAName) {
  ds.SetRefreshServiceName("T_REFRESH");
  server.RefreshedName = "NOWACKA";
  OpenAt(2);
  Rename("Nowacka");
  ds.Post();
  EXPECT_EQ(Taken(), (Lines{"BeforePost", "OnUpdateBufferFill modify", "T_UPDATE ID=2 AMOUNT=0 NAME=Nowacka",
                            "T_REFRESH ID=2", "AfterPost"}));
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "NOWACKA");
  EXPECT_EQ(ds.GetSelectRecvData()->GetValues(kName, 1), Variant(AnsiString("NOWACKA")));

  // The new row is refreshed by the serial it was given; deletes are not.
  server.RefreshedName.reset();
  server.Rows.push_back({4, "Zielona", 7});
  server.Answers = {Serial(4)};
  ds.Append();
  ds.FieldByName("NAME")->SetAsString("x");
  ds.FieldByName("AMOUNT")->SetAsFloat(0);
  ds.Post();
  EXPECT_EQ(Taken(), (Lines{"BeforePost", "OnUpdateBufferFill insert", "T_INSERT AMOUNT=0 NAME=x", "T_REFRESH ID=4",
                            "AfterPost"}));
  EXPECT_EQ(Shown(ds), (Lines{"1 Kowalski 10", "2 NOWACKA 0", "3 Adamska 5", "4 Zielona 7"}));
  ds.Delete();
  EXPECT_EQ(Taken(), (Lines{"OnUpdateBufferFill delete", "T_DELETE ID=4", "AfterDelete"}));

  // A refresh that fails passes unchanged, and the row is not written.
  server.Answers = {Serial(9)};
  ds.Append();
  ds.FieldByName("NAME")->SetAsString("y");
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
  EXPECT_EQ(Taken(), (Lines{"T_REFRESH ID=1"}));
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Zieliński"_ansi);
  EXPECT_EQ(Shown(ds), (Lines{"3 Adamska 5", "2 Nowak 0", "1 " + "Zieliński"_ansi.str() + " 10"}));
  EXPECT_EQ(ds.GetSelectRecvData()->GetValues(kName, 0), Variant("Zieliński"_ansi));

  // A pending edit is posted (and refreshed) first.
  server.RefreshedName.reset();
  ASSERT_TRUE(ds.Locate("ID", Variant(2), TLocateOptions()));
  Rename("Nowacka");
  Taken();
  ds.RefreshCurrentRecord();
  EXPECT_EQ(Taken(), (Lines{"BeforePost", "OnUpdateBufferFill modify", "T_UPDATE ID=2 AMOUNT=0 NAME=Nowacka",
                            "T_REFRESH ID=2", "AfterPost", "T_REFRESH ID=2"}));
  EXPECT_EQ(ds.FieldByName("NAME")->AsString(), "Nowak");

  // A failed refresh leaves the rows as they were.
  server.Rows.erase(server.Rows.begin() + 1);
  const Lines before = Reply();
  EXPECT_EQ(Raised([&] { ds.RefreshCurrentRecord(); }), "ETxSvcFail: Nie ma wiersza 2");
  EXPECT_EQ(Reply(), before);
  EXPECT_EQ(ds.State(), dsBrowse);
}

TEST_F(QuickDSet, ACachedSelectIsKeptCurrentByEveryChange) {
  ds.SetCached(true);
  OpenAt(2);
  EXPECT_TRUE(Select()->GetCached());
  EXPECT_TRUE(Select()->IsCachedCall());
  Rename("Nowacka");
  ds.Post();
  ds.Append();
  ds.FieldByName("NAME")->SetAsString("Zielona");
  server.Answers = {Serial(4)};
  ds.Post();
  ASSERT_TRUE(ds.Locate("ID", Variant(1), TLocateOptions()));
  ds.Delete();
  // A refused change leaves the cached reply as it was.
  server.Answers = {Refused(5, "nie")};
  Rename("Kowalska");
  EXPECT_EQ(Raised([&] { ds.Post(); }), "EDatabaseError: nie");
  ds.Cancel();
  ds.Close();
  Taken();

  ds.Open();
  EXPECT_EQ(Taken(), Lines{});  // answered by the cache, with every change in it
  EXPECT_EQ(Shown(ds), (Lines{"2 Nowacka 0", "3 Adamska 5", "4 Zielona 0"}));

  // Not cached: nothing is stored.
  ds.Close();
  GlobalCacheControl()->ClearService("T_SELECT");
  ds.SetCached(false);
  OpenAt(2);
  Rename("Nowacka");
  ds.Post();
  EXPECT_FALSE(Select()->IsCachedCall());
}

}  // namespace
}  // namespace Tx
