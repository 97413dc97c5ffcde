// txlib demo: a client of the demo domain, which serves from inside this
// process (examples/domain). It walks the library's main road: open the
// connection with a client component, call services with typed buffers,
// directly and through ROUTER, and see what the library adds around a call:
// hooks, the server's messages, the reply cache, the diagnostic dump and the
// XML form of a buffer.
//
// Library texts are Windows-1250; they are turned into UTF-8 only here,
// where they are printed.
#include <atmi.h>
#include <fml32.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iomanip>
#include <iostream>
#include <string>

#include "client/TxGlobal.h"
#include "examples/domain/DemoDomain.h"
#include "platform/framework/Dialogs.h"
#include "service/TxServic.h"
#include "service/Txhooks.h"
#include "xml/TxFMLXML.h"

namespace {

using namespace Tx;

std::string Utf8(const AnsiString& text) { return AnsiToUtf8(text); }

void Section(const char* title) { std::cout << "\n== " << title << '\n'; }

// Lines of text, indented under their section; blank lines are left out.
void PrintIndented(const std::string& lines) {
  std::size_t start = 0;
  for (std::size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1) {
    if (end > start) std::cout << "   " << lines.substr(start, end - start) << '\n';
  }
}

// A buffer in the middleware's text form (Fprint32).
void PrintBuffer(TTxFbfr* buffer) {
  char* text = nullptr;
  std::size_t length = 0;
  if (FILE* out = open_memstream(&text, &length)) {
    Ffprint32(buffer->GetFbfrP(), out);
    std::fclose(out);
  }
  PrintIndented(std::string(text ? text : "", length));
  std::free(text);
}

// Declares the named fields (ids from the field table) in a contract, so
// that the buffer bound to it is read and written by field name.
void Declare(TTxFbfrDef* contract, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    contract->AddFldDef(Fldid32(const_cast<char*>(name)))->SetTxFldName(name);
  }
}

// A service component as a data module holds it: the service's name and the
// contracts of its request and its reply.
TTxService* MakeService(TComponent* module, const char* name,
                        std::initializer_list<const char*> sent,
                        std::initializer_list<const char*> received) {
  auto* service = new TTxService(module);
  service->SetServiceName(name);
  Declare(service->GetSendContract(), sent);
  Declare(service->GetRecvContract(), received);
  return service;
}

// The events of the client component land here.
struct ConnectionEvents {
  void AfterConnect(TObject*) { std::cout << "   AfterConnect: the session is open\n"; }
};

// Hooks see every call of every service in the process.
int ShowRequest(char* serviceName, TTxFbfr* sendData) {
  std::cout << "   before-call hook: " << serviceName << ", routing fields";
  for (const FLDID32 id : {RouteServiceFieldId, RouteAppCodeFieldId, RouteLoginFieldId}) {
    std::cout << ' ' << Fname32(id) << '=' << Utf8(sendData->GetValues(id, 0).AsString());
  }
  std::cout << " ...\n";
  return 0;
}

void ShowResult(char* serviceName, TTxFbfr*, TTxFbfr* recvData, int tperrnoAfter,
                int tpurcodeAfter) {
  std::cout << "   after-call hook:  " << serviceName << ", tperrno " << tperrnoAfter
            << ", tpurcode " << tpurcodeAfter << ", reply of " << Fnum32(recvData->GetFbfrP())
            << " occurrences\n";
}

TTxClient* Connect(TComponent* module, ConnectionEvents& events) {
  Section("1. Connecting with TTxClient (Authenticate = txakQuor: join, then log in)");
  auto* client = new TTxClient(module);
  client->SetAuthenticate(txakQuor);
  client->SetUserName("jan");
  client->SetPasswd("tajne");
  client->SetQuorAppCode(TxDemo::AppCode);
  client->SetQuorAppVersion("1.0");
  client->SetAfterConnect(TNotifyEvent(&events, &ConnectionEvents::AfterConnect));
  client->Connect();
  std::cout << "   logged in as " << Utf8(client->GetQuorInfoLogin()) << " ("
            << Utf8(client->GetQuorInfoRole()) << ", " << Utf8(client->GetQuorInfoUnit())
            << "), application key " << client->GetQuorInfoAppKey() << '\n';
  return client;
}

void CallDirectly(TComponent* module) {
  Section("2. A direct call: CUST_SELECT, customers of segment A");
  TTxService* select = MakeService(module, "CUST_SELECT", {"SEGMENT"},
                                   {"CUST_ID", "CUST_NAME", "BALANCE", "SEGMENT", "NOTE"});
  select->GetSendData()->AppendOcc("SEGMENT", Variant('A'));
  select->Execute();
  std::cout << "   the reply, as Fprint32 writes it (field by field):\n";
  PrintBuffer(select->GetRecvData());
  std::cout << "   the same rows, read by name through the reply's contract:\n";
  TTxFbfr* rows = select->GetRecvData();
  for (int row = 0; row < rows->OccCount("CUST_ID"); ++row) {
    const AnsiString name = rows->OccValue("CUST_NAME", row).AsString();
    std::cout << "   " << rows->OccValue("CUST_ID", row).AsInteger() << "  " << Utf8(name)
              << std::string(name.Length() < 20 ? 20 - name.Length() : 0, ' ') << std::fixed
              << std::setprecision(2) << std::setw(9) << rows->OccValue("BALANCE", row).AsDouble()
              << "  " << Utf8(rows->OccValue("SEGMENT", row).AsString()) << '\n';
  }
}

void CallThroughRouter(TComponent* module, TTxClient* client) {
  Section("3. Through ROUTER (UseRouter = true): PAY 250.50 from customer 1001");
  client->SetUseRouter(true);
  RegisterServiceHookBeforeCall(ShowRequest);
  RegisterServiceHookAfterCall(ShowResult);
  TTxService* pay = MakeService(module, "PAY", {"CUST_ID", "AMOUNT"}, {"CUST_ID", "BALANCE"});
  pay->GetSendData()->AppendOcc("CUST_ID", Variant(1001));
  pay->GetSendData()->AppendOcc("AMOUNT", Variant(250.50));
  pay->Execute();
  std::cout << "   new balance " << std::fixed << std::setprecision(2)
            << pay->GetRecvData()->OccValue("BALANCE", 0).AsDouble() << "; the request holds "
            << Fnum32(pay->GetSendData()->GetFbfrP())
            << " occurrences again (the routing fields are gone)\n";
  UnregisterServiceHookBeforeCall(ShowRequest);
  UnregisterServiceHookAfterCall(ShowResult);
  client->SetUseRouter(false);
}

void ShowFailure(TComponent* module) {
  Section("4. A service that fails: PAY 10.00 from customer 1002");
  TTxService* pay = MakeService(module, "PAY", {"CUST_ID", "AMOUNT"}, {});
  pay->GetSendData()->AppendOcc("CUST_ID", Variant(1002));
  pay->GetSendData()->AppendOcc("AMOUNT", Variant(10.0));
  try {
    pay->Execute();
  } catch (const ETxSvcFail& e) {
    std::cout << "   ETxSvcFail, ErrCode " << e.ErrCode << ": " << Utf8(e.Message) << '\n';
  }
}

TTxService* MakeRates(TComponent* module) {
  return MakeService(module, "RATES", {"CURRENCY"}, {"CURRENCY", "RATE"});
}

void ShowInformation(TComponent* module) {
  Section("5. An information text from the server: RATES with DetectTDXInfo");
  TTxService* rates = MakeRates(module);
  rates->SetDetectTDXInfo(true);
  rates->Execute();
  TTxFbfr* reply = rates->GetRecvData();
  std::cout << "   rates:";
  for (int i = 0; i < reply->OccCount("CURRENCY"); ++i) {
    std::cout << ' ' << Utf8(reply->OccValue("CURRENCY", i).AsString()) << ' ' << std::fixed
              << std::setprecision(4) << reply->OccValue("RATE", i).AsDouble();
  }
  std::cout << '\n';
}

void ShowCacheHit(TComponent* module, TConsoleUserInterface& console) {
  Section("6. The reply cache: RATES of EUR twice, Cached = true");
  // The cache tells what it does on the debugger output; here it is shown.
  console.SetDebugOutput(true);
  TTxService* rates = MakeRates(module);
  rates->SetCached(true);
  rates->GetSendData()->AppendOcc("CURRENCY", Variant("EUR"));
  const int servedBefore = TxDemo::ServedCalls("RATES");
  rates->Execute();
  rates->Execute();
  console.SetDebugOutput(false);
  std::cout << "   two calls, " << TxDemo::ServedCalls("RATES") - servedBefore
            << " reached the server; the second reply came from the cache: EUR " << std::fixed
            << std::setprecision(4) << rates->GetRecvData()->OccValue("RATE", 0).AsDouble() << '\n';
}

// The dump file with the date and time of its record headers left out, so
// that the transcript is the same on every run.
void PrintDump(const AnsiString& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty()) continue;
    if (line.rfind("**** ", 0) == 0) {
      const std::size_t colon = line.find(" : ");
      if (colon != std::string::npos) line = "**** ... " + line.substr(colon + 1);
    }
    std::cout << "   | " << Utf8(AnsiString(line)) << '\n';
  }
}

// A new directory in the temporary directory that takes the dump while it
// exists: QUORDEBUGDIR names it and QUORDEBUGMODE is on. Leaving the scope,
// normally or by an exception, switches the dump off and removes the
// directory with what it holds.
class ScratchDumpDirectory {
 public:
  ScratchDumpDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "txlib-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    FPath = pattern;
    setenv("QUORDEBUGDIR", FPath.c_str(), 1);
    setenv("QUORDEBUGMODE", "1", 1);
  }
  ~ScratchDumpDirectory() {
    unsetenv("QUORDEBUGMODE");
    unsetenv("QUORDEBUGDIR");
    std::error_code ignored;
    if (!FPath.empty()) std::filesystem::remove_all(FPath, ignored);
  }
  ScratchDumpDirectory(const ScratchDumpDirectory&) = delete;
  ScratchDumpDirectory& operator=(const ScratchDumpDirectory&) = delete;

  bool Made() const { return !FPath.empty(); }

 private:
  std::string FPath;
};

void ShowDump(TComponent* module) {
  Section("7. The diagnostic dump: CUST_REFRESH of customer 1001 with QUORDEBUGMODE=1");
  const ScratchDumpDirectory directory;
  if (!directory.Made()) {
    std::cout << "   no temporary directory for the dump\n";
    return;
  }
  TTxService* refresh = MakeService(module, "CUST_REFRESH", {"CUST_ID"}, {});
  refresh->GetSendData()->AppendOcc("CUST_ID", Variant(1001));
  refresh->Execute();
  const AnsiString path = DumpFilePath();
  std::cout << "   the dump file is " << Utf8(path) << " (date and time left out here):\n";
  PrintDump(path);
}

void ShowXml(TComponent* module) {
  Section("8. A request as XML (ExportFMLToXML), then the update it asks for");
  TTxService* update = MakeService(module, "CUST_UPDATE", {"CUST_ID", "CUST_NAME"},
                                   {"TDX_ERRCODE", "TDX_ERRTEXT", "TDX_ROWID"});
  update->GetSendData()->AppendOcc("CUST_ID", Variant(1003));
  update->GetSendData()->AppendOcc("CUST_NAME", Variant("Wiśniewska-Nowak Zofia"_ansi));
  PrintIndented(Utf8(ExportFMLToXML(update->GetSendData())));
  update->Execute();
  std::cout << "   CUST_UPDATE replied TDX_ERRCODE "
            << update->GetRecvData()->OccValue("TDX_ERRCODE", 0).AsInteger()
            << ": the row is changed\n";
}

}  // namespace

int main() {
  std::cout << "txlib demo: a client of the demo domain, served in this process\n";
  // The domain, and the field table that names its fields (whatever tables
  // the environment names).
  unsetenv("FIELDTBLS32");
  TxDemo::UseDemoFieldTables();
  TxDemo::AdvertiseDemoDomain();
  // Message boxes go into the transcript and are answered at once.
  TConsoleUserInterface console(std::cout, std::cin, -1, false);
  TUserInterfaceScope userInterface(console);
  try {
    TComponent dataModule(nullptr);  // owns the client and the services
    ConnectionEvents events;
    TTxClient* client = Connect(&dataModule, events);
    CallDirectly(&dataModule);
    CallThroughRouter(&dataModule, client);
    ShowFailure(&dataModule);
    ShowInformation(&dataModule);
    ShowCacheHit(&dataModule, console);
    ShowDump(&dataModule);
    ShowXml(&dataModule);
    client->Terminate();
  } catch (const Exception& e) {
    std::cout << "\nThe demo stopped: " << Utf8(e.Message) << '\n';
    return 1;
  }
  std::cout << "\nDone.\n";
  return 0;
}
