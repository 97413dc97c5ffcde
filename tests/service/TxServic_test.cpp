// The service component: the call road direct and through the router, every
// outcome of the sequence with what had already happened when it came, the
// server's information text, the dump switch and the call log.
#include "service/TxServic.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/calllog/QuorEventLogFile.h"
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

const FLDID32 AMOUNT = Fmkfldid32(FLD_LONG, 201);

std::string Value(FBFR32* fbfr, FLDID32 id, FLDOCC32 occ = 0) {
  const char* text = CFfind32(fbfr, id, occ, nullptr, FLD_STRING);
  return text != nullptr ? text : "-";
}
// Every occurrence as "id[occ]=value", sorted: the whole buffer, whatever
// order FML32 keeps its fields in.
std::string Line(FLDID32 id, int occ, const std::string& value) {
  return std::to_string(id) + "[" + std::to_string(occ) + "]=" + value;
}
Lines Listing(FBFR32* fbfr) {
  Lines lines;
  FLDID32 id = FIRSTFLDID;
  for (FLDOCC32 occ = 0; Fnext32(fbfr, &id, &occ, nullptr, nullptr) > 0;)
    lines.push_back(Line(id, occ, Value(fbfr, id, occ)));
  std::sort(lines.begin(), lines.end());
  return lines;
}
Lines Listing(TTxFbfr* fbfr) { return Listing(fbfr->GetFbfrP()); }

// What the test service does, and what it saw.
struct Script {
  int rval = TPSUCCESS;
  long rcode = 7;
  std::string text;  // the reply's error text, none when empty
  std::optional<long> code;
  bool noData = false;
} script;
Lines called, seen;
std::string seenXml, seenTag, seenUsed;

void Serve(TPSVCINFO* info) {  // the request comes back as the reply
  auto* request = reinterpret_cast<FBFR32*>(info->data);
  called.push_back(info->name);
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
  long key = 4711;
  Fchg32(reply, QL_LOGIN, 0, const_cast<char*>("jan"), 0);
  Fchg32(reply, QL_UNIT, 0, const_cast<char*>("Oddział Łódź"_ansi.c_str()), 0);
  Fchg32(reply, QL_ROLE, 0, const_cast<char*>("kasjer"), 0);
  Fchg32(reply, QL_APPKEY, 0, reinterpret_cast<char*>(&key), 0);
  tpreturn(TPSUCCESS, 0, reinterpret_cast<char*>(reply), 0, 0);
}
void RefuseJoin(TPSVCINFO*) { tpreturn(TPFAIL, 0, nullptr, 0, 0); }

Lines hookSaw;  // "before <name> <occurrences in the request>", "after <name> <tperrno>"
int hookResult = 0;
int BeforeHook(char* name, TTxFbfr* send) {
  hookSaw.push_back(std::string("before ") + name + " " + std::to_string(Listing(send).size()));
  return hookResult;
}
void AfterHook(char* name, TTxFbfr*, TTxFbfr*, int err, int) {
  hookSaw.push_back(std::string("after ") + name + " " + std::to_string(err));
}

// What a call raised: the exception's class, message and (ETxSvcFail) error code.
template <class E>
std::string Raised(const std::string& message, long errCode = 0) {
  return std::string(typeid(E).name()) + " \"" + message + "\" " + std::to_string(errCode);
}
std::string RaisedBy(TTxService& svc) {
  try {
    svc.Execute();
  } catch (const Exception& e) {
    const auto* fail = dynamic_cast<const ETxSvcFail*>(&e);
    return std::string(typeid(e).name()) + " \"" + e.Message.str() + "\" " +
           std::to_string(fail ? fail->ErrCode : 0);
  }
  return "nothing";
}

class Service : public ::testing::Test {
 protected:
  void SetUp() override {
    Fresh();
    for (const char* name : {"PAY", "ROUTER"}) tpadvertise(const_cast<char*>(name), Serve);
    tpadvertise(const_cast<char*>(LoginFields::LoginService), Login);
    RegisterServiceHookBeforeCall(BeforeHook);
    RegisterServiceHookAfterCall(AfterHook);
    ui.SetComputerName("KASA1");
  }
  void TearDown() override {
    UnregisterServiceHookBeforeCall(BeforeHook);
    UnregisterServiceHookAfterCall(AfterHook);
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    TTxGlobalClient::ClearTpErrors();
    for (const char* name : {"QUORDEBUGMODE", "QUORDEBUGDIR", "QUORCACHEDISABLED"}) unsetenv(name);
  }
  void Fresh() {
    script = Script();
    hookResult = 0;
    svc.SetServiceName("PAY");
    svc.SetSendContract(nullptr);
    svc.SetRecvContract(nullptr);
    svc.SetDetectTDXInfo(false);
    SetAmount(100);
  }
  void SetAmount(long amount) {
    Fchg32(svc.GetSendData()->GetFbfrP(), AMOUNT, 0, reinterpret_cast<char*>(&amount), 0);
  }
  // LastUrcode, the wait cursor shown and taken back, RecvData's AMOUNT (100
  // the last reply, 200 the new one, - none), a message box, calls, hooks.
  std::string Done() {
    std::string text = "urcode " + std::to_string(svc.LastUrcode) +
                       (ui.CursorChanges() == waitCursor ? ", cursor" : "") + ", reply " +
                       Value(svc.GetRecvData()->GetFbfrP(), AMOUNT) +
                       (ui.Dialogs().empty() ? "" : ", box") + ", called " +
                       std::to_string(called.size());
    for (const std::string& hook : hookSaw) text += "; " + hook;
    return text;
  }
  void Forget() {
    ui.Clear();
    called.clear();
    hookSaw.clear();
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

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
  TTxService svc{nullptr};
  const std::vector<TCursor> waitCursor{TuxWaitCursor, crDefault};
};

TEST_F(Service, DirectAndRoutedRoads) {
  const Lines request = Listing(svc.GetSendData());
  svc.Execute();
  EXPECT_EQ(called, Lines{"PAY"});
  EXPECT_EQ(seen, request);
  EXPECT_EQ(Listing(svc.GetRecvData()), request);
  EXPECT_EQ(Listing(svc.GetSendData()), request);
  EXPECT_EQ(Done(), "urcode 7, cursor, reply 100, called 1; before PAY 1; after PAY 0");
  EXPECT_EQ(svc.GetRecvData()->FindFieldId(AnsiString(AMOUNT)), AMOUNT);  // definitions synced
  EXPECT_EQ(CursorHandleName(Screen->GetCursors(TuxWaitCursor)), "TUXWAIT");

  LogIn();
  Fchg32(svc.GetSendData()->GetFbfrP(), RouteServiceFieldId, 0, const_cast<char*>("MINE"), 0);
  const Lines before = Listing(svc.GetSendData());
  Forget();
  svc.Execute();
  EXPECT_EQ(called, Lines{"ROUTER"});
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
  EXPECT_EQ(Listing(svc.GetSendData()), before);
  // The hooks get the application's name and see the routing fields.
  EXPECT_EQ(hookSaw, (Lines{"before PAY 11", "after PAY 0"}));

  hookResult = -1;  // a refused routed call takes its routing fields back as well
  EXPECT_THROW(svc.Execute(), Exception);
  EXPECT_EQ(Listing(svc.GetSendData()), before);
  EXPECT_EQ(called.size(), 1U);
}

TEST_F(Service, EachOutcomeOfTheSequenceAfterWhatWasAlreadyDone) {
  // The service keeps copies of the contracts: these are gone when it calls.
  const auto contract = [&](bool send, int min, int max) {
    TTxFbfrDef def(nullptr);
    def.AddFldDef(AMOUNT)->SetOccMin(min);
    def.GetFldDef(0)->SetOccMax(max);
    send ? svc.SetSendContract(&def) : svc.SetRecvContract(&def);
  };
  const std::string tpFailed = "Błąd Tuxedo "_ansi.str(), once = ", called 1; before PAY 1; ";
  const struct {
    std::function<void()> arrange;
    std::string raised, done;
  } cases[] = {
      {[&] { contract(true, 2, 5); },
       Raised<ETxFbfrContractViolated>(
           "Pole  (id.=33554633): liczba wystąpień w buforze (1) mniejsza niż w kontrakcie (2)"_ansi
               .str()),
       "urcode 7, reply 100, called 0"},
      {[] { hookResult = -1; }, Raised<Exception>("Operacja została przerwana!"_ansi.str()),
       "urcode 0, cursor, reply -, called 0; before PAY 1"},
      {[] { script.rval = TPFAIL, script.rcode = 3; },
       Raised<ETxSvcFail>(tpFailed + tpstrerror(TPESVCFAIL)),
       "urcode 3, cursor, reply 200" + once + "after PAY 11"},
      {[&] {  // raised before the information text is shown
         svc.SetDetectTDXInfo(true);
         script.rval = TPFAIL, script.text = "Brak środków"_ansi.str(), script.code = -20;
       },
       Raised<ETxSvcFail>("Brak środków"_ansi.str(), -20),
       "urcode 7, cursor, reply 200" + once + "after PAY 11"},
      {[&] { svc.SetServiceName("NOWHERE"); },
       Raised<ETxTpError>(tpFailed + tpstrerror(TPENOENT) + "\r"),
       "urcode 0, cursor, reply -, called 0; before NOWHERE 1; after NOWHERE 6"},
      {[&] { contract(false, 0, 0); },
       Raised<ETxFbfrContractViolated>(
           ("Błąd w danych zwróconych z usługi Tuxedo: Pole  (id.=33554633): liczba wystąpień w "
            "buforze (1) większa niż w kontrakcie (0)"_ansi)
               .str()),
       "urcode 7, cursor, reply 200" + once + "after PAY 0"},
      {[&] { contract(false, 1, 5), script.noData = true, script.rcode = 9; }, "nothing",
       "urcode 9, cursor, reply -" + once + "after PAY 0"},
      {[] { script.text = "Uwaga"; }, "nothing",  // information text not asked for
       "urcode 7, cursor, reply 200" + once + "after PAY 0"},
      // Last: the session stays closed.
      {[] { TTxGlobalClient::Terminate(), tpadvertise(const_cast<char*>("AUTHSVC"), RefuseJoin); },
       Raised<ETxError>("Brak połączenia z serwerem Tuxedo !"_ansi.str()),
       "urcode 0, cursor, reply 100, called 0"},
  };
  for (const auto& c : cases) {
    Fresh();  // after the reply of an ordinary call
    svc.Execute();
    SetAmount(200);
    c.arrange();
    Forget();
    EXPECT_EQ(RaisedBy(svc), c.raised);
    EXPECT_EQ(Done(), c.done) << c.raised;
  }
}

TEST_F(Service, CachedCallIsAnsweredWithoutTheSequenceUnlessSwitchedOff) {
  svc.SetCached(true);
  svc.Execute();
  Forget();
  svc.LastUrcode = 0;
  svc.Execute();
  EXPECT_EQ(Done(), "urcode 7, reply 100, called 0");
  EXPECT_FALSE(GlobalCacheControl()->IsServicePermanent("PAY"));
  const struct {
    const char* disabled;  // QUORCACHEDISABLED
    bool designing, cached;
    std::size_t calls;
  } switches[] = {{"1", false, true, 1},   {"-3", false, true, 1},   {"0", false, true, 0},
                  {"nie", false, true, 0}, {nullptr, true, true, 1}, {nullptr, false, false, 1}};
  for (const auto& s : switches) {
    s.disabled ? setenv("QUORCACHEDISABLED", s.disabled, 1) : unsetenv("QUORCACHEDISABLED");
    svc.SetDesigning(s.designing);
    svc.SetCached(s.cached);
    called.clear();
    svc.Execute();
    EXPECT_EQ(called.size(), s.calls) << (s.disabled ? s.disabled : "design or not cached");
  }
  svc.SetCached(true);
  SetAmount(300);
  script.rval = TPFAIL;
  EXPECT_THROW(svc.Execute(), ETxSvcFail);
  EXPECT_FALSE(svc.IsCachedCall());  // a failed call is not stored

  script.rval = TPSUCCESS;
  svc.SetCacheLifetime(txcltPermanent);
  called.clear();
  svc.Execute();
  svc.Execute();
  EXPECT_EQ(called.size(), 1U);
  EXPECT_TRUE(GlobalCacheControl()->IsServicePermanent("PAY"));
  GlobalCacheControl()->ClearService("PAY");
}

TEST_F(Service, InformationTextIsShownWithTheIconOfItsCode) {
  script.text = "Uwaga: saldo niskie"_ansi.str();
  svc.SetDetectTDXInfo(true);
  for (const std::optional<long> code : {std::optional<long>(-1), {0}, {}}) {
    script.code = code;
    ui.Clear();
    svc.Execute();
    ASSERT_EQ(ui.Dialogs().size(), 1U);
    const TDialogRequest box = ui.Dialogs()[0].Request;
    EXPECT_EQ(box.Text, "Uwaga: saldo niskie"_ansi);
    EXPECT_EQ(box.Caption, "Informacja przekazana z serwera"_ansi);
    EXPECT_EQ(box.Flags, MB_TASKMODAL | (code == -1 ? MB_ICONERROR : MB_ICONINFORMATION));
  }
}

TEST_F(Service, DebugModeAboveZeroDumpsRequestAndReply) {
  const fs::path dir = fs::temp_directory_path() / ("txservice_" + std::to_string(getpid()));
  fs::create_directories(dir);
  setenv("QUORDEBUGDIR", dir.c_str(), 1);
  const std::pair<const char*, const char*> modes[] = {
      {"0", ""}, {"-1", ""}, {"tak", ""}, {"1", "PAY"}, {"2x", "PAY"}, {"1", "ROUTER (PAY)"}};
  for (const auto& [mode, request] : modes) {
    if (*request == 'R') LogIn();
    setenv("QUORDEBUGMODE", mode, 1);
    svc.Execute();
    std::string headings;  // without their date-time
    std::ifstream in(DumpFilePath().str(), std::ios::binary);
    for (std::string line; std::getline(in, line);)
      if (line.starts_with("**** ")) headings += line.substr(line.find(" : ") + 3) + "|";
    fs::remove(DumpFilePath().str());
    const AnsiString records =
        "Wywołanie usługi "_ansi + request + " ****|Zakończenie usługi; tpurcode=7 ****|"_ansi;
    EXPECT_EQ(headings, *request ? records.str() : "") << mode;
  }
  fs::remove_all(dir);
}

TEST_F(Service, CallLogGetsOneLinePerCallOfALoggedInSession) {
  EXPECT_EQ(EscapeCallLogText("a\\b\tc\rd\ne"), "a\\\\b\\tc\\rd\\ne");
  const fs::path file = fs::temp_directory_path() / ("txcalls_" + std::to_string(getpid()));
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
  fs::remove(file);
  EXPECT_EQ(logged, expected);
}

}  // namespace
}  // namespace Tx
