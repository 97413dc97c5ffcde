// The service component: the call road direct and through the router, every
// outcome of the sequence with what had already happened when it came, the
// cache switches, the call log, the diagnostic dump (its switch, its records
// byte for byte, its size limits and where its file goes), the reply cache
// and the hooks.
#include "platform/tuxedo/FmlCalls.h"
#include "service/TxServic.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/calllog/QuorEventLogFile.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/framework_test_support.h"
#include "platform/session/LoginFields.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "service/TxServiceCache.h"
#include "service/Txhooks.h"
#include "xml/TxFMLXML.h"

namespace Tx {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
// Fields of tests/data/dump/dump.tbl, and two the tables do not know.
const FLDID32 AMOUNT = Fmkfldid32(FLD_LONG, 101), PHOTO = Fmkfldid32(FLD_CARRAY, 102),
              COUNT = Fmkfldid32(FLD_SHORT, 103), KIND = Fmkfldid32(FLD_CHAR, 104),
              RATE = Fmkfldid32(FLD_FLOAT, 105), PRICE = Fmkfldid32(FLD_DOUBLE, 106),
              NAME = Fmkfldid32(FLD_STRING, 107), NOTE = Fmkfldid32(FLD_STRING, 500),
              CODE = Fmkfldid32(FLD_LONG, 501);

std::string DataDir() {
  const char* data = std::getenv("TXLIB_TESTDATA");
  return std::string(data != nullptr ? data : "tests/data") + "/dump";
}
std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Value(FBFR32* fbfr, FLDID32 id, FLDOCC32 occ = 0) {
  const char* text = CFfind32(fbfr, id, occ, nullptr, FLD_STRING);
  return text != nullptr ? text : "-";
}
std::string Line(FLDID32 id, int occ, const std::string& value) {
  return std::to_string(id) + "[" + std::to_string(occ) + "]=" + value;
}
// Every occurrence as "id[occ]=value", sorted: whatever order FML32 keeps.
Lines Listing(FBFR32* fbfr) {
  Lines lines;
  FLDID32 id = FIRSTFLDID;
  for (FLDOCC32 occ = 0; Fnext32(fbfr, &id, &occ, nullptr, nullptr) > 0;)
    lines.push_back(Line(id, occ, Value(fbfr, id, occ)));
  std::sort(lines.begin(), lines.end());
  return lines;
}

// What the test service does, and what it and the hooks saw.
struct Script {
  int rval = TPSUCCESS;
  long rcode = 7;
  std::string text;  // the reply's error text, none when empty
  std::optional<long> code;
  bool noData = false;
} script;
int hookResult = 0;
std::string called, hooks, seenXml, seenTag, seenUsed;
Lines seen;

void Serve(TPSVCINFO* info) {  // the request comes back as the reply
  auto* request = reinterpret_cast<FBFR32*>(info->data);
  called += info->name;
  seen = Listing(request);
  seenXml = ExportFMLToXML(request).str();
  seenTag = Value(request, RouteCallTagFieldId);
  seenUsed = std::to_string(Fused32(request));
  if (script.noData) tpreturn(script.rval, script.rcode, nullptr, 0, 0);
  if (!script.text.empty()) Fchg32(request, TDXErrTextFieldId, 0, script.text.data(), 0);
  if (script.code) Fchg32(request, TDXErrCodeFieldId, 0, reinterpret_cast<char*>(&*script.code), 0);
  tpreturn(script.rval, script.rcode, info->data, 0, 0);
}
void Login(TPSVCINFO*) {
  using namespace LoginFields;
  auto* reply = reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, 1024));
  const std::pair<FLDID32, AnsiString> fields[] = {
      {QL_LOGIN, "jan"}, {QL_UNIT, "Oddział Łódź"_ansi}, {QL_ROLE, "kasjer"}, {QL_APPKEY, "4711"}};
  for (const auto& [id, value] : fields)
    CFchg32(reply, id, 0, const_cast<char*>(value.c_str()), 0, FLD_STRING);
  tpreturn(TPSUCCESS, 0, reinterpret_cast<char*>(reply), 0, 0);
}
int BeforeHook(char* name, TTxFbfr* send) {  // notes the occurrences it sees
  hooks += std::string("; before ") + name + " " + std::to_string(Fnum32(send->GetFbfrP()));
  return hookResult;
}
void AfterHook(char* name, TTxFbfr*, TTxFbfr*, int err, int) {
  hooks += std::string("; after ") + name + " " + std::to_string(err);
}

// The class and message of what Execute raised, with an ETxSvcFail's code.
std::string RaisedBy(TTxService& svc) {
  try {
    svc.Execute();
  } catch (const Exception& e) {
    const auto* fail = dynamic_cast<const ETxSvcFail*>(&e);
    return ClassNameOf(typeid(e)).str() + ": " + e.Message.str() +
           (fail ? " " + std::to_string(fail->ErrCode) : "");
  }
  return "nothing";
}

const FLDID32 A = Fmkfldid32(FLD_LONG, 301), B = Fmkfldid32(FLD_STRING, 302),
              EXTRA = Fmkfldid32(FLD_LONG, 303), REPLY = Fmkfldid32(FLD_LONG, 304);
using Values = std::vector<std::pair<FLDID32, Variant>>;

void Request(TTxService& service, const Values& values) {
  service.GetSendData()->Clear();
  for (const auto& [id, value] : values) service.GetSendData()->AppendOcc(id, value);
}

// Hooks of the hook tests.
std::string calls;  // "<hook>:<name>[:<numbers>] ", in call order
const std::string notRaised = "(nothing raised)";
void Note(const std::string& hook, const char* name, std::initializer_list<long> numbers = {}) {
  calls += hook + ":" + name;
  for (const long number : numbers) calls += ":" + std::to_string(number);
  calls += " ";
}

template <char Letter, int Result = 0>
int Before(char* name, FBFR32**) {
  Note(std::string(1, Letter), name);
  if (*name != '\0') *name = '#';  // scribbles on its own copy of the name
  return Result;
}
int BeforeObj(char* name, TTxFbfr*) { return Note("obj", name), 0; }
void AfterFbfr(char* name, FBFR32**, FBFR32**, int err, int urcode) {
  Note("after", name, {err, urcode});
  tperrno = TPETIME;  // the next hook sees the change
  tpurcode = urcode + 1;
}
void AfterObj(char* name, TTxFbfr* send, TTxFbfr* recv, int err, int urcode) {
  Note("afterobj", name, {err, urcode, send->OccCount(AMOUNT), recv->OccCount(AMOUNT)});
}
int GrowSendBuffer(char*, FBFR32** send) {  // replaces the buffer through its address
  auto* bigger = reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, 64000));
  Fcpy32(bigger, *send);
  tpfree(reinterpret_cast<char*>(*send));
  *send = bigger;
  return 0;
}
int RemovesItselfAndC(char* name, FBFR32**) {
  Note("self", name);
  UnregisterServiceHookBeforeCall(RemovesItselfAndC);
  UnregisterServiceHookBeforeCall(Before<'C'>);
  RegisterServiceHookBeforeCall(Before<'D'>);
  return 0;
}

// Each test runs in an empty directory, which the dump uses, with the field
// tables of the dump records and a date-time text that does not change: the
// dump's header shows DateTimeToStr, made of the short date and long time.
class Service : public FrameworkTest::NeutralSettingsTest {
 protected:
  void SetUp() override {
    NeutralSettingsTest::SetUp();
    FormatSettings().ShortDateFormat = "'DATE'";
    FormatSettings().LongTimeFormat = "'TIME'";
    fs::create_directories(dir);
    env.Set("QUORDEBUGDIR", dir.c_str());
    env.Set("FLDTBLDIR32", DataDir().c_str());
    env.Set("FIELDTBLS32", "dump.tbl");
    Tx::UnloadIdToNameTable();
    Fresh();
    for (const char* name : {"PAY", "ROUTER"}) tpadvertise(const_cast<char*>(name), Serve);
    tpadvertise(const_cast<char*>(LoginFields::LoginService), Login);
    RegisterServiceHookBeforeCall(BeforeHook);
    RegisterServiceHookAfterCall(AfterHook);
    ui.SetComputerName("KASA1");
  }
  void TearDown() override {
    for (auto hook : {Before<'A'>, Before<'B', 1>, Before<'C'>, Before<'D'>, Before<'E', -1>,
                      GrowSendBuffer, RemovesItselfAndC})
      UnregisterServiceHookBeforeCall(hook);
    for (auto hook : {BeforeHook, BeforeObj}) UnregisterServiceHookBeforeCall(hook);
    for (auto hook : {AfterHook, AfterObj}) UnregisterServiceHookAfterCall(hook);
    UnregisterServiceHookAfterCall(AfterFbfr);
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    TTxGlobalClient::ClearTpErrors();
    fs::remove_all(dir);
    NeutralSettingsTest::TearDown();
  }
  void Fresh() {
    script = Script();
    hookResult = 0;
    called = hooks = "";
    svc.SetServiceName("PAY");
    svc.SetSendContract(nullptr);
    svc.SetRecvContract(nullptr);
    svc.SetDetectTDXInfo(false);
    SetAmount(100);
  }
  void SetAmount(long amount) {
    Fchg32(svc.GetSendData()->GetFbfrP(), AMOUNT, 0, reinterpret_cast<char*>(&amount), 0);
  }
  Lines Sent() { return Listing(svc.GetSendData()->GetFbfrP()); }
  // What happened since the last look: LastUrcode, the wait cursor shown and
  // taken back, RecvData's AMOUNT (100 the last reply, 200 the new one, - none),
  // calls, hooks and message boxes.
  std::string Taken() {
    std::string text =
        "urcode " + std::to_string(svc.LastUrcode) +
        (ui.CursorChanges() == std::vector{TuxWaitCursor, crDefault} ? ", cursor" : "") +
        ", reply " + Value(svc.GetRecvData()->GetFbfrP(), AMOUNT) +
        (called.empty() ? "" : ", called " + called) + hooks;
    for (const TRecordedDialog& box : ui.Dialogs())
      text += "; box " + box.Request.Caption.str() + ": " + box.Request.Text.str() + " " +
              std::to_string(box.Request.Flags);
    ui.Clear();
    called.clear();
    hooks.clear();
    return text;
  }
  // The next call joins again, logging in to the domain through the router.
  static void LogIn() {
    TTxGlobalClient::Terminate();
    ITuxSession* session = TTxGlobalClient::GetSession();
    session->put_UseRouter(VARIANT_TRUE);
    session->put_AuthKind(tsakQuor);
    session->put_QuorAppCode(WideString(u"FK"));
    session->put_QuorAppVersion(WideString(u"2.1"));
  }

  // A service named Name whose request contract holds Fields (none: no
  // contract); its buffers take 300,000 bytes a call.
  TTxService& Make(const char* Name, const std::vector<FLDID32>& Fields = {A, B}) {
    auto& service = FServices.emplace_back(std::make_unique<TTxService>(nullptr));
    service->SetServiceName(Name);
    Contract(*service, Fields);
    for (TTxFbfr* data : {service->GetSendData(), service->GetRecvData()})
      data->SetFbfrSize(150000);
    return *service;
  }
  static void Contract(TTxService& service, const std::vector<FLDID32>& Fields) {
    TTxFbfrDef contract(nullptr);
    for (const FLDID32 id : Fields) contract.AddFldDef(id);
    service.SetSendContract(&contract);
  }
  // Stores the reply {REPLY: reply}, tpurcode reply / 10, to the request.
  void Store(TTxService& service, const Values& request, long reply = 10) {
    Request(service, request);
    service.GetRecvData()->Clear();
    service.GetRecvData()->AppendOcc(REPLY, reply);
    service.LastUrcode = reply / 10;
    cache.UpdateCachedCall(&service);
  }
  void Store(TTxService& service, long a, long reply = 10) { Store(service, {{A, a}}, reply); }
  std::vector<long> KeysOf(const char* name) {
    std::vector<long> keys;
    for (const TTxCachedCall& call : cache.FindService(name)->Calls)
      keys.push_back(call.Key.at(0).Values.at(0).AsInteger());
    return keys;
  }

  // The hooks one walk before the call calls, then what it raised.
  std::string Walk(const char* name = "PAY") {
    calls.clear();
    const std::string raised = FrameworkTest::Raised([&] { CallHooksBefore(name, &buffer); });
    return calls + raised;
  }

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
  FrameworkTest::ScopedEnvironment env;
  TTxService svc{nullptr};
  TTxFbfr buffer{nullptr, 4096};
  const fs::path dir = fs::temp_directory_path() / ("txservice_" + std::to_string(getpid()));
  const fs::path dumpFile = dir / "tuxfmldump.txt";
  std::vector<std::unique_ptr<TTxService>> FServices;  // of the cache tests
  TTxServiceCache cache;
};

TEST_F(Service, DirectAndRoutedRoads) {
  const Lines request = Sent();
  svc.Execute();
  EXPECT_EQ(Listing(svc.GetRecvData()->GetFbfrP()), request);
  EXPECT_EQ(seen, request);
  EXPECT_EQ(Sent(), request);
  EXPECT_EQ(Taken(), "urcode 7, cursor, reply 100, called PAY; before PAY 1; after PAY 0");
  EXPECT_EQ(svc.GetRecvData()->FindFieldId(AnsiString(AMOUNT)), AMOUNT);  // definitions synced
  EXPECT_EQ(CursorHandleName(Screen->GetCursors(TuxWaitCursor)), "TUXWAIT");

  LogIn();
  Fchg32(svc.GetSendData()->GetFbfrP(), RouteServiceFieldId, 0, const_cast<char*>("MINE"), 0);
  const Lines before = Sent();
  svc.Execute();
  // The hooks get the application's name and see the routing fields.
  EXPECT_EQ(Taken(), "urcode 7, cursor, reply 100, called ROUTER; before PAY 11; after PAY 0");
  Lines expected = before;  // each routing field after the application's own occurrences
  for (const std::string& line :
       {Line(RouteServiceFieldId, 1, "PAY"), Line(RouteAppCodeFieldId, 0, "FK"),
        Line(RouteAppVersionFieldId, 0, "2.1"), Line(RouteLoginFieldId, 0, "jan"),
        Line(RouteUnitFieldId, 0, "Oddział Łódź"_ansi.str()), Line(RouteRoleFieldId, 0, "kasjer"),
        Line(RouteWorkstationFieldId, 0, "KASA1"),
        Line(RouteProcessIdFieldId, 0, std::to_string(getpid())), Line(RouteCallTagFieldId, 0, "")})
    expected.push_back(line);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(Sent(), before);

  hookResult = -1;  // a refused routed call takes its routing fields back as well
  EXPECT_THROW(svc.Execute(), Exception);
  EXPECT_EQ(Sent(), before);
  EXPECT_EQ(Taken(), "urcode 0, cursor, reply -; before PAY 11");
}

TEST_F(Service, EachOutcomeOfTheSequenceAfterWhatWasAlreadyDone) {
  // The service keeps copies of the contracts: these are gone when it calls.
  const auto contract = [&](bool send, int min, int max) {
    TTxFbfrDef def(nullptr);
    def.AddFldDef(AMOUNT)->SetOccMin(min);
    def.GetFldDef(0)->SetOccMax(max);
    send ? svc.SetSendContract(&def) : svc.SetRecvContract(&def);
  };
  const auto info = [&](std::optional<long> code) {  // an information text asked for
    return [&, code] { svc.SetDetectTDXInfo(true), script.text = "Uwaga", script.code = code; };
  };
  const std::string tuxedo = "Błąd Tuxedo "_ansi.str(),
                    count =
                        "Pole AMOUNT (id.=33554533): liczba wystąpień w buforze (1) "_ansi.str(),
                    replied = "urcode 7, cursor, reply 200, called PAY; before PAY 1; after PAY ",
                    box = "0; box Informacja przekazana z serwera: Uwaga "_ansi.str();
  const struct {
    std::function<void()> arrange;
    std::string raised, done;
  } cases[] = {
      {[&] { contract(true, 2, 5); },
       "ETxFbfrContractViolated: " + count + "mniejsza niż w kontrakcie (2)"_ansi.str(),
       "urcode 7, reply 100"},
      {[] { hookResult = -1; }, "Exception: Operacja została przerwana!"_ansi.str(),
       "urcode 0, cursor, reply -; before PAY 1"},
      {[] { script.rval = TPFAIL, script.rcode = 3; },
       "ETxSvcFail: " + tuxedo + tpstrerror(TPESVCFAIL) + " 0",
       "urcode 3, cursor, reply 200, called PAY; before PAY 1; after PAY 11"},
      {[&] {  // raised before the information text is shown
         info(-20)();
         script.rval = TPFAIL, script.text = "Brak środków"_ansi.str();
       },
       "ETxSvcFail: Brak środków -20"_ansi.str(), replied + "11"},
      {[&] { svc.SetServiceName("NOWHERE"); },
       "ETxTpError: " + tuxedo + tpstrerror(TPENOENT) + "\r [TxServic.cpp.#]",
       "urcode 0, cursor, reply -; before NOWHERE 1; after NOWHERE 6"},
      {[&] { contract(false, 0, 0); },
       "ETxFbfrContractViolated: Błąd w danych zwróconych z usługi Tuxedo: "_ansi.str() + count +
           "większa niż w kontrakcie (0)"_ansi.str(),
       replied + "0"},
      {[&] { contract(false, 1, 5), script.noData = true, script.rcode = 9; }, "nothing",
       "urcode 9, cursor, reply -, called PAY; before PAY 1; after PAY 0"},
      {[] { script.text = "Uwaga"; }, "nothing", replied + "0"},  // not asked for
      {info(-1), "nothing", replied + box + std::to_string(MB_TASKMODAL | MB_ICONERROR)},
      {info({}), "nothing", replied + box + std::to_string(MB_TASKMODAL | MB_ICONINFORMATION)},
      // Last: the session stays closed.
      {[] {
         TTxGlobalClient::Terminate();
         tpadvertise(const_cast<char*>("AUTHSVC"),
                     [](TPSVCINFO*) { tpreturn(TPFAIL, 0, nullptr, 0, 0); });
       },
       "ETxError: Brak połączenia z serwerem Tuxedo !"_ansi.str(), "urcode 0, cursor, reply 100"},
  };
  for (const auto& c : cases) {
    Fresh();  // after the reply of an ordinary call
    svc.Execute();
    Taken();
    SetAmount(200);
    c.arrange();
    EXPECT_EQ(FrameworkTest::WithoutLines(RaisedBy(svc)), c.raised);
    EXPECT_EQ(Taken(), c.done) << c.raised;
  }
}

TEST_F(Service, CachedCallIsAnsweredWithoutTheSequenceUnlessSwitchedOff) {
  svc.SetCached(true);
  svc.Execute();
  const struct {
    const char* disabled;  // QUORCACHEDISABLED
    bool designing, cached, answered;
  } switches[] = {{nullptr, false, true, true},  {"1", false, true, false},
                  {"-3", false, true, false},    {"0", false, true, true},
                  {"nie", false, true, true},    {nullptr, true, true, false},
                  {nullptr, false, false, false}};
  for (const auto& s : switches) {
    env.Set("QUORCACHEDISABLED", s.disabled);
    svc.SetDesigning(s.designing);
    svc.SetCached(s.cached);
    Taken();
    svc.LastUrcode = 0;
    svc.Execute();
    EXPECT_EQ(Taken(), s.answered
                           ? "urcode 7, reply 100"
                           : "urcode 7, cursor, reply 100, called PAY; before PAY 1; after PAY 0")
        << (s.disabled ? s.disabled : "design or not cached");
  }
  EXPECT_FALSE(GlobalCacheControl()->IsServicePermanent("PAY"));
  svc.SetCached(true);
  SetAmount(300);
  script.rval = TPFAIL;
  EXPECT_THROW(svc.Execute(), ETxSvcFail);
  EXPECT_FALSE(svc.IsCachedCall());  // a failed call is not stored

  script.rval = TPSUCCESS;
  svc.SetCacheLifetime(txcltPermanent);
  Taken();
  svc.Execute();
  svc.Execute();
  EXPECT_EQ(called, "PAY");
  EXPECT_TRUE(GlobalCacheControl()->IsServicePermanent("PAY"));
  GlobalCacheControl()->ClearService("PAY");
}

TEST_F(Service, DebugModeAboveZeroDumpsRequestAndReply) {
  const std::pair<const char*, const char*> modes[] = {
      {"0", ""}, {"-1", ""}, {"tak", ""}, {"1", "PAY"}, {"2x", "PAY"}, {"1", "ROUTER (PAY)"}};
  for (const auto& [mode, request] : modes) {
    if (*request == 'R') LogIn();
    env.Set("QUORDEBUGMODE", mode);
    svc.Execute();
    std::string headings;  // without their date-time
    std::ifstream in(dumpFile, std::ios::binary);
    for (std::string line; std::getline(in, line);)
      if (line.starts_with("**** ")) headings += line.substr(line.find(" : ") + 3) + "|";
    fs::remove(dumpFile);
    const AnsiString records =
        "Wywołanie usługi "_ansi + request + " ****|Zakończenie usługi; tpurcode=7 ****|"_ansi;
    EXPECT_EQ(headings, *request ? records.str() : "") << mode;
  }
}

TEST_F(Service, CallLogGetsOneLinePerCallOfALoggedInSession) {
  EXPECT_EQ(EscapeCallLogText("a\\b\tc\rd\ne"), "a\\\\b\\tc\\rd\\ne");
  const fs::path file = dir / "calls";
  const TQuorEventLogFileRegistration registration(file.c_str());
  svc.Execute();  // AuthKind 0: not logged
  LogIn();
  Lines expected;  // the columns after the date and the times
  for (const bool fails : {false, true}) {
    script.rval = fails ? TPFAIL : TPSUCCESS;
    script.text = fails ? "Odmowa\tusługi"_ansi.str() : "";
    RaisedBy(svc);  // failed calls are logged as well
    EXPECT_TRUE(seenTag.starts_with(std::to_string(getpid()) + "-")) << seenTag;
    std::string line = fails ? "PAY\t11" : "PAY\t0";
    for (const std::string& column :
         Lines{"jan", "FK", "2.1", "kasjer", "Oddział Łódź"_ansi.str(), "4711", seenUsed,
               std::to_string(Fused32(svc.GetRecvData()->GetFbfrP())), seenTag,
               fails ? "Odmowa\\tusługi"_ansi.str() : "", EscapeCallLogText(seenXml).str()})
      line += "\t" + column;
    expected.push_back(line);
  }
  std::ifstream in(file);
  Lines logged;
  for (std::string line; std::getline(in, line);) {
    for (int column = 0; column < 3; ++column) line.erase(0, line.find('\t') + 1);
    logged.push_back(line);
  }
  EXPECT_EQ(logged, expected);
}

// ---- The dump by itself ------------------------------------------------------------

// The golden file holds the records as the dump writes them: Windows-1250
// text, line feeds only, a tab before each hex offset. In order: a request
// with every type (hex lines of 64 bytes), a reply, an empty reply, fields
// the tables do not know named by the contract and then by the buffer's own
// definitions, and listings that fail on a missing buffer.
TEST_F(Service, DumpRecordsMatchTheGoldenFile) {
  std::string bytes;
  for (int i = 0; i < 65; ++i) bytes += static_cast<char>(i * 4);  // 0x00 .. 0xFC, then 0x00
  for (const int count : {-5, 32767, 0}) buffer.AppendOcc(COUNT, count);
  buffer.AppendOcc(AMOUNT, 7);
  buffer.AppendOcc(KIND, "x");
  buffer.AppendOcc(RATE, 1.5f);
  for (const double price : {1234567.0, 0.0001, -2.5e-7}) buffer.AppendOcc(PRICE, price);
  for (const AnsiString& name : {"Zażółć gęślą jaźń"_ansi, AnsiString()})
    buffer.AppendOcc(NAME, name);
  for (const AnsiString& photo :
       {AnsiString("AB"), AnsiString(bytes.data(), 65), AnsiString(bytes.data(), 64), AnsiString()})
    buffer.AppendOcc(PHOTO, photo);
  DumpBuffer("ROUTER (PAY)", &buffer);
  tpurcode = 42;
  DumpBuffer("", &buffer);
  tpurcode = -1;
  TTxFbfr other(nullptr, 1024);
  DumpBuffer("", &other);

  tpurcode = 0;
  other.AppendOcc(NOTE, "a\"b");
  other.AppendOcc(CODE, -2147483647 - 1);
  TTxFbfrDef contract(nullptr);
  contract.AddFldDef(NOTE)->SetTxFldName("Uwagi");
  other.Contract = &contract;
  DumpBuffer("", &other);  // CODE has no definition: no name
  other.Contract = nullptr;
  other.SyncFbfrDef();
  DumpBuffer("", &other);  // buffer definitions name fields by their id
  EXPECT_EQ(Ferror32, 0);

  FBFR32* const kept = *other.GetFbfrPP();
  *other.GetFbfrPP() = nullptr;
  DumpBuffer("PAY", &other);
  *other.GetFbfrPP() = kept;
  DumpBuffer("PAY", nullptr);

  EXPECT_EQ(ReadFile(dumpFile), ReadFile(DataDir() + "/records.txt"));
}

TEST_F(Service, DumpListsUpToFiveMegabytesThenWarnsThenStops) {
  buffer.AppendOcc(AMOUNT, 7);
  // What one request appends to a file that already holds size bytes.
  const auto appendedTo = [&](std::uintmax_t size) {
    { std::ofstream create(dumpFile, std::ios::binary | std::ios::trunc); }
    fs::resize_file(dumpFile, size);
    DumpBuffer("PAY", &buffer);
    return ReadFile(dumpFile).substr(size);
  };
  const std::string record = ("\n\n**** DATE TIME : Wywołanie usługi PAY ****\n"
                              "==== Bufor wysłany:\n"
                              "---- AMOUNT: <33554533> long #101\n"
                              "[0] 7\n"
                              "---- koniec\n"_ansi)
                                 .str();
  const std::string warning =
      ("\n\n!!! Ten plik jest już zbyt duży. Zapisy diagnostyczne są zaniechane.\n"_ansi).str();
  const std::pair<int, std::string> sizes[] = {
      {0, record}, {5242880, record}, {5242881, warning}, {9437183, warning}, {9437184, ""}};
  for (const auto& [size, appended] : sizes) EXPECT_EQ(appendedTo(size), appended) << size;
  EXPECT_EQ(fs::file_size(dumpFile), 9437184u);
}

TEST_F(Service, DumpFileIsNamedByQuordebugdirAndAFailedOpenIsReported) {
  env.Set("TXLIB_DRIVE_ROOT", dir.c_str());
  const std::string root = dir.string();
  const std::pair<const char*, std::string> paths[] = {
      {nullptr, root + "/tuxfmldump.txt"},  // "C:\"
      {"D:\\logs\\", root + "/logs/tuxfmldump.txt"},
      {"/var/tmp/tx", "/var/tmp/tx/tuxfmldump.txt"},
      {"", "tuxfmldump.txt"}};
  for (const auto& [value, path] : paths) {
    env.Set("QUORDEBUGDIR", value);
    EXPECT_EQ(DumpFilePath().str(), path) << (value ? value : "unset");
  }

  const std::string missing = (dir / "missing").string();
  env.Set("QUORDEBUGDIR", missing.c_str());
  DumpBuffer("PAY", &buffer);
  ASSERT_EQ(ui.Dialogs().size(), 1u);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text, "Nie można otworzyć pliku "_ansi + AnsiString(missing) +
                                              "/tuxfmldump.txt do dopisywania.");
  EXPECT_FALSE(fs::exists(missing));
}

// ---- The reply cache by itself ----------------------------------------------------

TEST_F(Service, CacheRepeatedRequestReplacesItsCallAtTheEndAndAHitRestoresTheReply) {
  TTxService& service = Make("S");
  Store(service, 1);
  Store(service, 2, 20);
  Store(service, 1, 30);
  EXPECT_EQ(KeysOf("S"), (std::vector<long>{2, 1}));
  EXPECT_EQ(cache.GetBufferSize(false), 600000);

  Request(service, {{A, 1}});
  service.GetRecvData()->Clear();
  tpurcode = 99;
  ui.Clear();
  ASSERT_TRUE(cache.CheckCache(&service));
  EXPECT_EQ(std::tuple(Tx::FieldLong(service.GetRecvData()->GetFbfrP(), REPLY, 0), service.LastUrcode,
                       tpurcode),
            std::tuple(30L, 3L, 99L));
  EXPECT_EQ(service.GetRecvData()->FindFieldId(AnsiString(REPLY)), REPLY);
  EXPECT_EQ(ui.DebugLines(),
            (std::vector<AnsiString>{
                "Cache hit: S (Buffer sizes: normal=600000 limited to:5242880, permanent=0)"}));
  Request(service, {{A, 2}});
  EXPECT_EQ(cache.InvalidateCachedCall(&service), 300000);
  EXPECT_EQ(cache.InvalidateCachedCall(&service), 0);  // nothing left to drop
  EXPECT_EQ(cache.GetBufferSize(false), 300000);
}

TEST_F(Service, CacheOnlyKeyFieldsCountAndTextsMatchByteForByte) {
  // The framework's variants call these texts equal; a request key may not.
  const AnsiString control("x\x01", 2);
  ASSERT_TRUE(Variant(control) == Variant("x"));
  const std::vector<FLDID32> none, ab{A, B}, wider{A, B, EXTRA};
  struct Case {
    std::vector<FLDID32> storedUnder, askedUnder;  // the contracts
    Values stored, asked;
    bool hit;
  };
  const Case cases[] = {
      {ab, ab, {{A, 1}, {B, "x"}, {EXTRA, 5}}, {{A, 1}, {B, "x"}, {EXTRA, 6}}, true},
      {ab, ab, {{A, 1}, {B, "x"}}, {{A, 1}, {A, 1}, {B, "x"}}, false},
      {ab, ab, {{A, 1}, {B, "x"}}, {{A, 1}, {B, control}}, false},
      {ab, ab, {{A, 1}}, {{A, 1}, {B, ""}}, false},
      // A key of other definitions is held against the buffer itself.
      {ab, wider, {{A, 1}, {B, "x"}}, {{A, 1}, {B, "x"}, {EXTRA, 7}}, true},
      {ab, wider, {{A, 1}, {B, "x"}}, {{A, 2}, {B, "x"}, {EXTRA, 7}}, false},
      {ab, wider, {{A, 1}, {B, "x"}}, {{A, 1}, {B, control}, {EXTRA, 7}}, false},
      // Without a contract the key is the fields the request holds.
      {none, none, {{A, 1}}, {{A, 1}}, true},
      {none, none, {{A, 1}}, {{A, 1}, {B, "y"}}, false},
      {none, ab, {{A, 1}}, {{A, 1}}, true},
      {none, ab, {{A, 1}}, {{A, 1}, {EXTRA, 1}}, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    TTxService& service = Make(("S" + std::to_string(++n)).c_str(), c.storedUnder);
    Store(service, c.stored);
    Contract(service, c.askedUnder);
    Request(service, c.asked);
    EXPECT_EQ(cache.IsCachedCall(&service), c.hit) << "case " << n;
  }
}

TEST_F(Service, CacheOldestCallIsDiscardedFirstAndPermanentOnesNever) {
  EXPECT_EQ(cache.GetBufferLimit(), 5242880);
  cache.SetBufferLimit(0);
  EXPECT_EQ(cache.GetBufferLimit(), 1048576);
  TTxService& s1 = Make("S1");
  TTxService& s2 = Make("S2");
  const auto storeThenWait = [&](TTxService& service, long a) {
    Store(service, a);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  };
  storeThenWait(s1, 1);
  storeThenWait(s2, 1);
  Request(s1, {{A, 1}});
  cache.InvalidateCachedCall(&s1);  // S1 now starts later than S2, though listed first
  storeThenWait(s1, 3);
  storeThenWait(s1, 4);
  const AnsiString added = TimeToStr(cache.FindService("S2")->Calls.front().Added);
  ui.Clear();
  Store(s1, 5);  // the fourth
  EXPECT_TRUE(cache.FindService("S2")->Calls.empty());
  EXPECT_EQ(KeysOf("S1"), (std::vector<long>{3, 4, 5}));
  EXPECT_EQ(ui.DebugLines(),
            (std::vector<AnsiString>{
                "Discarding service call: S2, added=" + added +
                    ", size=300000 (Buffer sizes: normal=600000 limited to:1048576, permanent=0)",
                "Adding/updating service call: S1, size=300000 (Buffer sizes: "
                "normal=900000 limited to:1048576, permanent=0)"}));

  cache.SetServicePermanent("S1");
  EXPECT_EQ(std::pair(cache.GetBufferSize(true), cache.GetBufferSize(false)), std::pair(900000, 0));
  for (long a = 1; a <= 4; ++a) Store(s2, a);
  Store(s1, 6);
  EXPECT_EQ(KeysOf("S2"), (std::vector<long>{2, 3, 4}));
  EXPECT_EQ(KeysOf("S1"), (std::vector<long>{3, 4, 5, 6}));
  EXPECT_EQ(cache.GetBufferSize(true), 1200000);

  cache.ClearService("S1");  // keeps the record and the mark
  cache.SetServicePermanent("P");
  EXPECT_EQ(cache.GetBufferSize(true), 0);
  for (const auto& [name, permanent] : {std::pair{"S1", true}, {"s1", false}, {"P", true}})
    EXPECT_EQ(cache.IsServicePermanent(name), permanent) << name;
}

TEST_F(Service, CacheWithinOneMillisecondTheServiceCachedFirstLosesFirst) {
  cache.SetBufferLimit(0);
  TTxService& t1 = Make("T1");
  TTxService& t2 = Make("T2");
  TTxService& t3 = Make("T3");
  Store(t1, 0);  // T1 is known first
  do {
    for (const char* name : {"T1", "T2"}) cache.ClearService(name);
    Store(t2, 1);
    Store(t1, 1);
  } while (cache.FindService("T1")->Calls[0].Added != cache.FindService("T2")->Calls[0].Added);
  Store(t3, 1);
  Store(t3, 2);  // the fourth
  EXPECT_TRUE(cache.FindService("T1")->Calls.empty());
  EXPECT_EQ(cache.FindService("T2")->Calls.size(), 1U);
}

TEST_F(Service, CacheCopiesThatCannotBeAllocated) {
  TTxService& service = Make("S");
  Store(service, 1);
  service.GetRecvData()->AppendOcc(REPLY, 77);
  service.LastUrcode = 4;
  const FBFR32* before = service.GetRecvData()->GetFbfrP();
  AtmiBuiltin::FailNextAllocation(TPEOS);
  ui.Clear();
  EXPECT_FALSE(cache.CheckCache(&service));  // left to the service instead
  EXPECT_EQ(std::tuple(service.GetRecvData()->GetFbfrP(), service.GetRecvData()->OccCount(REPLY),
                       service.LastUrcode, ui.DebugLines().size(), tperrno),
            std::tuple(before, 2, 4L, 0U, 0));

  Request(service, {{A, 2}});
  AtmiBuiltin::FailNextAllocation(TPEOS);
  cache.UpdateCachedCall(&service);  // stored without its reply
  EXPECT_TRUE(cache.CheckCache(&service));
  EXPECT_EQ(service.GetRecvData()->OccCount(REPLY), 0);
}

// ---- The hooks by themselves ------------------------------------------------------

TEST_F(Service, HooksRegistrationOrderEachOnceUntilANegativeResult) {
  RegisterServiceHookBeforeCall(BeforeObj);
  // Positive and zero results let the call go on.
  for (auto hook : {Before<'A'>, Before<'B', 1>, Before<'C'>, Before<'A'>})
    RegisterServiceHookBeforeCall(hook);
  RegisterServiceHookBeforeCall(static_cast<TTxServiceHookBeforeCallFbfr>(nullptr));
  // The buffer form first; each hook gets its own copy of the name.
  EXPECT_EQ(Walk(), "A:PAY B:PAY C:PAY obj:PAY " + notRaised);

  UnregisterServiceHookBeforeCall(Before<'B', 1>);
  UnregisterServiceHookBeforeCall(Before<'B', 1>);  // not there: no effect
  RegisterServiceHookBeforeCall(Before<'B', 1>);    // back at the end
  EXPECT_EQ(Walk(""), "A: C: B: obj: " + notRaised);
  RegisterServiceHookBeforeCall(Before<'E', -1>);
  EXPECT_EQ(Walk(),
            "A:PAY C:PAY B:PAY E:PAY Exception: " + "Operacja została przerwana!"_ansi.str());
}

TEST_F(Service, HooksChangesInsideAHook) {
  // Removal takes effect at once, addition at the next walk.
  for (auto hook : {Before<'A'>, RemovesItselfAndC, Before<'C'>, Before<'B', 1>})
    RegisterServiceHookBeforeCall(hook);
  EXPECT_EQ(Walk(), "A:PAY self:PAY B:PAY " + notRaised);
  EXPECT_EQ(Walk(), "A:PAY B:PAY D:PAY " + notRaised);

  RegisterServiceHookBeforeCall(GrowSendBuffer);  // the sanitizer build sees who frees what
  Walk();
  EXPECT_GE(buffer.GetFbfrSize(), 64000);

  // The after hooks see both buffers, and tperrno and tpurcode as the one before left them.
  TTxFbfr recv(nullptr, 1024);
  recv.AppendOcc(AMOUNT, 5);
  RegisterServiceHookAfterCall(AfterObj);
  RegisterServiceHookAfterCall(AfterFbfr);
  tperrno = TPESVCFAIL;
  tpurcode = 7;
  calls.clear();
  CallHooksAfter("PAY", &buffer, &recv);
  EXPECT_EQ(calls, "after:PAY:11:7 afterobj:PAY:" + std::to_string(TPETIME) + ":8:0:1 ");
}

}  // namespace
}  // namespace Tx
