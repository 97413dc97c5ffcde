// The service component: its defaults and property copies, the call road
// direct and through the router, every failure of the sequence with what
// had already happened when it was raised, the server's information text,
// the dump switch and the call log.
#include "service/TxServic.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/calllog/QuorEventLogFile.h"
#include "platform/session/LoginFields.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "service/Txhooks.h"
#include "xml/TxFMLXML.h"

namespace Tx {
namespace {

namespace fs = std::filesystem;

const FLDID32 AMOUNT = Fmkfldid32(FLD_LONG, 201);
const FLDID32 NAME = Fmkfldid32(FLD_STRING, 202);

// Every occurrence as "id[occ]=value", sorted: the whole buffer, whatever
// order FML32 keeps its fields in.
std::vector<std::string> Listing(FBFR32* fbfr) {
  std::vector<std::string> lines;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  while (Fnext32(fbfr, &id, &occ, nullptr, nullptr) > 0) {
    const char* text = CFfind32(fbfr, id, occ, nullptr, FLD_STRING);
    lines.push_back(std::to_string(id) + "[" + std::to_string(occ) + "]=" + (text ? text : "?"));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}
std::string Line(FLDID32 id, int occ, const std::string& value) {
  return std::to_string(id) + "[" + std::to_string(occ) + "]=" + value;
}
// The value of one occurrence in a listing.
std::string ValueIn(const std::vector<std::string>& listing, FLDID32 id, int occ) {
  const std::string prefix = Line(id, occ, "");
  for (const std::string& line : listing)
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  return "?";
}

// What the test services do and what they saw.
struct Script {
  int rval = TPSUCCESS;
  long rcode = 7;
  std::string text;  // the error text field of the reply, none when empty
  std::optional<long> code;
  bool noData = false;
} script;
std::vector<std::string> called;  // the names the services were called by
std::vector<std::string> seen;    // the last request
std::string seenXml;
long seenUsed = 0;

void Serve(TPSVCINFO* info) {
  auto* request = reinterpret_cast<FBFR32*>(info->data);
  called.push_back(info->name);
  seen = Listing(request);
  seenXml = ExportFMLToXML(request).str();
  seenUsed = Fused32(request);
  if (script.noData) tpreturn(script.rval, script.rcode, nullptr, 0, 0);
  if (!script.text.empty()) Fchg32(request, TDXErrTextFieldId, 0, script.text.data(), 0);
  if (script.code) Fchg32(request, TDXErrCodeFieldId, 0, reinterpret_cast<char*>(&*script.code), 0);
  tpreturn(script.rval, script.rcode, info->data, 0, 0);  // the request comes back as the reply
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

// Hooks: what the request looked like before the call and tperrno after it.
std::vector<std::string> hookSaw;
int hookResult = 0;
int BeforeHook(char* name, TTxFbfr* send) {
  hookSaw.push_back(std::string("before ") + name + " " +
                    std::to_string(Listing(send->GetFbfrP()).size()));
  return hookResult;
}
void AfterHook(char* name, TTxFbfr*, TTxFbfr*, int err, int) {
  hookSaw.push_back(std::string("after ") + name + " " + std::to_string(err));
}

class Service : public ::testing::Test {
 protected:
  void SetUp() override {
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    script = Script();
    called.clear();
    seen.clear();
    hookSaw.clear();
    hookResult = 0;
    for (const char* name : {"PAY", "ROUTER"}) tpadvertise(const_cast<char*>(name), Serve);
    tpadvertise(const_cast<char*>(LoginFields::LoginService), Login);
    RegisterServiceHookBeforeCall(BeforeHook);
    RegisterServiceHookAfterCall(AfterHook);
    ui.SetComputerName("KASA1");
    svc.SetServiceName("PAY");
    long amount = 100;
    Fchg32(svc.GetSendData()->GetFbfrP(), AMOUNT, 0, reinterpret_cast<char*>(&amount), 0);
  }
  void TearDown() override {
    UnregisterServiceHookBeforeCall(BeforeHook);
    UnregisterServiceHookAfterCall(AfterHook);
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    TTxGlobalClient::ClearTpErrors();
    unsetenv("QUORDEBUGMODE");
  }
  // The next call joins again, logging in to the domain.
  static void LogIn(bool router) {
    TTxGlobalClient::Terminate();
    ITuxSession* session = TTxGlobalClient::GetSession();
    session->put_UseRouter(ToVariantBool(router));
    session->put_AuthKind(tsakQuor);
    session->put_QuorAppCode(WideString(u"FK"));
    session->put_QuorAppVersion(WideString(u"2.1"));
  }
  // The message of what Execute raised, or "" when nothing.
  template <class E = Exception>
  std::string Raised() {
    try {
      svc.Execute();
    } catch (const E& e) {
      return e.Message.str();
    }
    return "";
  }

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
  TTxService svc{nullptr};
};

TEST_F(Service, DefaultsAndCopiesOfContractsAndRequest) {
  EXPECT_TRUE(TTxService(nullptr).GetServiceName().IsEmpty());
  EXPECT_TRUE(svc.GetRecvReadOnly());
  EXPECT_FALSE(svc.GetCached());
  EXPECT_EQ(svc.GetCacheLifetime(), txcltNormal);
  EXPECT_FALSE(svc.GetDetectTDXInfo());
  EXPECT_EQ(svc.GetRecvData()->GetFbfrSize(), 4096);
  EXPECT_EQ(svc.GetRecvData()->Contract, svc.GetRecvContract());

  TTxFbfrDef contract(nullptr);
  contract.AddFldDef(AMOUNT)->SetOccMax(1);
  svc.SetSendContract(&contract);
  contract.Clear();  // the service keeps its own copy
  ASSERT_EQ(svc.GetSendContract()->Count(), 1);
  EXPECT_EQ(svc.GetSendData()->Contract, svc.GetSendContract());

  TTxFbfr source(nullptr, 2048);
  source.Contract = &contract;
  source.AppendOcc(NAME, Variant("x"));
  svc.SetSendData(&source);
  EXPECT_EQ(Listing(svc.GetSendData()->GetFbfrP()), Listing(source.GetFbfrP()));
  EXPECT_EQ(svc.GetSendData()->Contract, svc.GetSendContract());
  svc.SetSendData(nullptr);
  EXPECT_TRUE(Listing(svc.GetSendData()->GetFbfrP()).empty());
}

TEST_F(Service, DirectCallSendsTheRequestUnchangedUnderTheWaitCursor) {
  const std::vector<std::string> request = Listing(svc.GetSendData()->GetFbfrP());
  svc.Execute();
  EXPECT_EQ(called, (std::vector<std::string>{"PAY"}));
  EXPECT_EQ(seen, request);
  EXPECT_EQ(Listing(svc.GetRecvData()->GetFbfrP()), request);
  EXPECT_EQ(Listing(svc.GetSendData()->GetFbfrP()), request);
  EXPECT_EQ(svc.LastUrcode, 7);
  EXPECT_EQ(svc.GetRecvData()->FindFieldId(AnsiString(AMOUNT)), AMOUNT);  // definitions synced
  EXPECT_EQ(hookSaw, (std::vector<std::string>{"before PAY 1", "after PAY 0"}));
  EXPECT_EQ(ui.CursorChanges(), (std::vector<TCursor>{TuxWaitCursor, crDefault}));
  EXPECT_EQ(CursorHandleName(Screen->GetCursors(TuxWaitCursor)), "TUXWAIT");
}

TEST_F(Service, RoutedCallAppendsTheNineFieldsAfterTheApplicationsOwnAndRemovesThem) {
  LogIn(true);
  Fchg32(svc.GetSendData()->GetFbfrP(), RouteServiceFieldId, 0, const_cast<char*>("MINE"), 0);
  const std::vector<std::string> before = Listing(svc.GetSendData()->GetFbfrP());
  svc.Execute();

  EXPECT_EQ(called, (std::vector<std::string>{"ROUTER"}));
  std::vector<std::string> expected = before;
  for (const std::string& line :
       {Line(RouteServiceFieldId, 1, "PAY"), Line(RouteAppCodeFieldId, 0, "FK"),
        Line(RouteAppVersionFieldId, 0, "2.1"), Line(RouteLoginFieldId, 0, "jan"),
        Line(RouteUnitFieldId, 0, "Oddział Łódź"_ansi.str()), Line(RouteRoleFieldId, 0, "kasjer"),
        Line(RouteWorkstationFieldId, 0, "KASA1"),
        Line(RouteProcessIdFieldId, 0, std::to_string(getpid())), Line(RouteCallTagFieldId, 0, "")})
    expected.push_back(line);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(Listing(svc.GetSendData()->GetFbfrP()), before);
  // The hooks get the application's name and see the routing fields.
  EXPECT_EQ(hookSaw, (std::vector<std::string>{"before PAY 11", "after PAY 0"}));

  // A refused call takes its routing fields back as well.
  hookResult = -1;
  EXPECT_EQ(Raised(), "Operacja została przerwana!"_ansi.str());
  EXPECT_EQ(Listing(svc.GetSendData()->GetFbfrP()), before);
  EXPECT_EQ(called.size(), 1U);
}

TEST_F(Service, FailuresBeforeTheCallLeaveWhatTheyFound) {
  svc.Execute();
  const std::vector<std::string> reply = Listing(svc.GetRecvData()->GetFbfrP());

  // The request breaks its contract: nothing at all happens.
  TTxFbfrDef contract(nullptr);
  contract.AddFldDef(AMOUNT)->SetOccMin(2);
  svc.SetSendContract(&contract);
  ui.Clear();
  EXPECT_EQ(Raised<ETxFbfrContractViolated>().substr(0, 5), "Pole ");
  EXPECT_EQ(svc.LastUrcode, 7);
  EXPECT_TRUE(ui.CursorChanges().empty());
  EXPECT_EQ(Listing(svc.GetRecvData()->GetFbfrP()), reply);
  svc.SetSendContract(nullptr);

  // No connection: the cursor comes back; the last reply is not yet emptied.
  TTxGlobalClient::Terminate();
  tpadvertise(const_cast<char*>("AUTHSVC"), RefuseJoin);
  EXPECT_EQ(Raised<ETxError>(), "Brak połączenia z serwerem Tuxedo !"_ansi.str());
  EXPECT_EQ(svc.LastUrcode, 0);
  EXPECT_EQ(ui.CursorChanges(), (std::vector<TCursor>{TuxWaitCursor, crDefault}));
  EXPECT_EQ(Listing(svc.GetRecvData()->GetFbfrP()), reply);
  tpunadvertise(const_cast<char*>("AUTHSVC"));

  // A hook refuses: the receive buffer is emptied, the service not called.
  hookResult = -1;
  EXPECT_EQ(Raised(), "Operacja została przerwana!"_ansi.str());
  EXPECT_TRUE(Listing(svc.GetRecvData()->GetFbfrP()).empty());
  EXPECT_EQ(called.size(), 1U);
}

TEST_F(Service, FailedServiceRaisesWithTheServersTextOrTheAtmiTexts) {
  script.rval = TPFAIL;
  script.rcode = 3;
  try {
    svc.Execute();
    FAIL() << "no exception";
  } catch (const ETxSvcFail& e) {
    EXPECT_EQ(e.Message, "Błąd Tuxedo "_ansi + tpstrerror(TPESVCFAIL));
    EXPECT_EQ(e.Tperrno, TPESVCFAIL);
    EXPECT_EQ(e.ErrCode, 0);
    EXPECT_EQ(e.Tpurcode, 3);
  }
  EXPECT_EQ(tperrno, 0);
  EXPECT_EQ(svc.LastUrcode, 3);  // with the hooks already run and the reply kept
  EXPECT_EQ(hookSaw.back(), "after PAY 11");
  EXPECT_EQ(svc.GetRecvData()->OccCount(AMOUNT), 1);

  script.text = "Brak środków"_ansi.str();
  script.code = -20;
  try {
    svc.Execute();
    FAIL() << "no exception";
  } catch (const ETxSvcFail& e) {
    EXPECT_EQ(e.Message, "Brak środków"_ansi);
    EXPECT_EQ(e.ErrCode, -20);
  }

  // Any other ATMI failure, an empty name included.
  for (const auto& [name, error] : {std::pair{"NOWHERE", TPENOENT}, std::pair{"", TPEINVAL}}) {
    svc.SetServiceName(name);
    EXPECT_EQ(Raised<ETxTpError>(), ("Błąd Tuxedo "_ansi + tpstrerror(error) + "\r").str());
    EXPECT_TRUE(Listing(svc.GetRecvData()->GetFbfrP()).empty());
  }
}

TEST_F(Service, ReplyIsCheckedAgainstItsContractUnlessItIsEmpty) {
  TTxFbfrDef contract(nullptr);
  contract.AddFldDef(AMOUNT)->SetOccMax(0);
  svc.SetRecvContract(&contract);
  const std::string message = Raised<ETxFbfrContractViolated>();
  std::string violation;
  try {
    svc.GetRecvData()->CheckWithContract();  // the reply stayed for inspection
  } catch (const ETxFbfrContractViolated& e) {
    violation = e.Message.str();
  }
  EXPECT_EQ(message, "Błąd w danych zwróconych z usługi Tuxedo: "_ansi.str() + violation);

  contract.GetFldDef(0)->SetOccMin(1);
  svc.SetRecvContract(&contract);
  script.noData = true;
  script.rcode = 9;
  svc.Execute();
  EXPECT_TRUE(Listing(svc.GetRecvData()->GetFbfrP()).empty());
  EXPECT_EQ(svc.LastUrcode, 9);
}

TEST_F(Service, InformationTextIsShownOnceWithTheIconOfItsCode) {
  script.text = "Uwaga: saldo niskie"_ansi.str();
  svc.Execute();  // not asked for
  EXPECT_TRUE(ui.Dialogs().empty());
  EXPECT_EQ(svc.ReadTDXText(), "Uwaga: saldo niskie"_ansi);

  svc.SetDetectTDXInfo(true);
  for (const std::optional<long> code : {std::optional<long>(-1), std::optional<long>(0),
                                         std::optional<long>(5), std::optional<long>()}) {
    script.code = code;
    ui.Clear();
    svc.Execute();
    ASSERT_EQ(ui.Dialogs().size(), 1U);
    const TDialogRequest box = ui.Dialogs()[0].Request;
    EXPECT_EQ(box.Text, "Uwaga: saldo niskie"_ansi);
    EXPECT_EQ(box.Caption, "Informacja przekazana z serwera"_ansi);
    EXPECT_EQ(box.Flags, MB_TASKMODAL | (code && *code < 0 ? MB_ICONERROR : MB_ICONINFORMATION));
    EXPECT_EQ(box.Owner, nullptr);
  }
  script.rval = TPFAIL;  // the failure is raised first
  ui.Clear();
  EXPECT_THROW(svc.Execute(), ETxSvcFail);
  EXPECT_TRUE(ui.Dialogs().empty());
}

TEST_F(Service, DebugModeAboveZeroDumpsRequestAndReply) {
  const fs::path dir = fs::temp_directory_path() / ("txservice_" + std::to_string(getpid()));
  fs::create_directories(dir);
  setenv("QUORDEBUGDIR", dir.c_str(), 1);
  const auto records = [&] {
    std::ifstream in(DumpFilePath().str(), std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string found;  // P, R: request of PAY, of ROUTER (PAY); Z: reply
    for (const auto& [letter, marker] :
         {std::pair{'P', "Wywołanie usługi PAY "}, std::pair{'R', "Wywołanie usługi ROUTER (PAY) "},
          std::pair{'Z', "Zakończenie usługi; tpurcode=7"}}) {
      const std::string ansi = Utf8ToAnsi(marker).str();
      for (auto at = text.find(ansi); at != std::string::npos; at = text.find(ansi, at + 1))
        found += letter;
    }
    fs::remove(DumpFilePath().str());
    return found;
  };
  for (const char* off : {"0", "-1", "tak"}) {
    setenv("QUORDEBUGMODE", off, 1);
    svc.Execute();
    EXPECT_EQ(records(), "") << off;
  }
  setenv("QUORDEBUGMODE", "1", 1);
  svc.Execute();
  EXPECT_EQ(records(), "PZ");
  LogIn(true);
  svc.Execute();
  EXPECT_EQ(records(), "RZ");
  unsetenv("QUORDEBUGDIR");
  fs::remove_all(dir);
}

TEST_F(Service, CallLogGetsOneLinePerCallOfALoggedInSession) {
  const fs::path file = fs::temp_directory_path() / ("txcalls_" + std::to_string(getpid()));
  const TQuorEventLogFileRegistration registration(file.c_str());
  svc.Execute();  // AuthKind 0: not logged

  LogIn(true);
  svc.Execute();
  const std::string xml = seenXml;
  const long used = seenUsed;
  const long received = Fused32(svc.GetRecvData()->GetFbfrP());
  const std::string tag = ValueIn(seen, RouteCallTagFieldId, 0);
  script.rval = TPFAIL;
  script.text = "Odmowa\tusługi"_ansi.str();
  EXPECT_THROW(svc.Execute(), ETxSvcFail);

  std::ifstream in(file);
  std::vector<std::vector<std::string>> lines;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> columns;
    std::istringstream split(line);
    for (std::string column; std::getline(split, column, '\t');) columns.push_back(column);
    lines.push_back(columns);
  }
  fs::remove(file);
  ASSERT_EQ(lines.size(), 2U);
  ASSERT_EQ(lines[0].size(), 16U);
  const std::vector<std::string> fixed(lines[0].begin() + 3, lines[0].begin() + 11);
  EXPECT_EQ(fixed, (std::vector<std::string>{"PAY", "0", "jan", "FK", "2.1", "kasjer",
                                             "Oddział Łódź"_ansi.str(), "4711"}));
  EXPECT_EQ(lines[0][11], std::to_string(used));
  EXPECT_EQ(lines[0][12], std::to_string(received));
  EXPECT_EQ(lines[0][13], tag);
  EXPECT_FALSE(tag.empty());
  EXPECT_EQ(lines[0][15], EscapeCallLogText(xml).str());
  ASSERT_EQ(lines[1].size(), 16U);
  EXPECT_EQ(lines[1][4], "11");
  EXPECT_EQ(lines[1][14], "Odmowa\\tusługi"_ansi.str());
}

}  // namespace
}  // namespace Tx
