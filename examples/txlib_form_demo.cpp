// txlib form demo: a data module, as an application keeps it, saved in a
// text form file and loaded back in a fresh process.
//
// The module holds a client component configured for the demo domain and a
// payment service with the contracts of its request and reply and a request
// filled in advance (customer 1001 pays 250.50). The form file keeps the
// client's settings, the contracts and the request's contents.
//
//   txlib_form_demo              save the module to a temporary file, load it
//                                in a fresh process, show that it came back
//                                equal, then call PAY with the loaded request
//   txlib_form_demo save FILE    write the module's form file
//   txlib_form_demo show FILE    load FILE and print the module's form again
//   txlib_form_demo check FILE   "show FILE" in a fresh process must give
//                                FILE byte for byte (exit status 1 if not)
//
// The repository keeps the module's form as examples/DemoModule.dfm.
#include <fml32.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "client/TxGlobal.h"
#include "examples/domain/DemoDomain.h"
#include "platform/framework/Filer.h"
#include "service/TxServic.h"

namespace {

using namespace Tx;

// The data module: a component that owns the others and is the form's root.
class TDemoModule : public TComponent {
 public:
  explicit TDemoModule(TComponent* owner = nullptr) : TComponent(owner) {}
};
[[maybe_unused]] const bool kModulePublished =
    (PublishClass<TDemoModule, TComponent>("TDemoModule"), true);

void Declare(TTxFbfrDef* contract, const char* name, int occMin, int occMax) {
  TTxFbfrFldDef* def = contract->AddFldDef(Fldid32(const_cast<char*>(name)));
  def->SetTxFldName(name);
  def->SetOccMin(occMin);
  def->SetOccMax(occMax);
}

void Fill(TDemoModule& module) {
  module.SetName("DemoModule");
  auto* client = new TTxClient(&module);
  client->SetName("Client");
  client->SetAuthenticate(txakQuor);
  client->SetClientName("forms-demo");
  client->SetUserName("jan");
  client->SetPasswd("tajne");
  client->SetData("");
  client->SetQuorAppCode(TxDemo::AppCode);
  client->SetQuorAppLabel("Płatności"_ansi);
  client->SetQuorAppVersion("1.0");
  client->SetQuorAuthDll("");
  client->SetEnvSection("");

  auto* pay = new TTxService(&module);
  pay->SetName("Payment");
  pay->SetServiceName("PAY");
  Declare(pay->GetSendContract(), "CUST_ID", 1, 1);
  Declare(pay->GetSendContract(), "AMOUNT", 1, 1);
  Declare(pay->GetRecvContract(), "CUST_ID", 0, -1);
  Declare(pay->GetRecvContract(), "BALANCE", 0, -1);
  pay->GetSendData()->AppendOcc("CUST_ID", Variant(1001));
  pay->GetSendData()->AppendOcc("AMOUNT", Variant(250.5));
}

std::string FormText(TComponent* module) {
  TMemoryStream text;
  WriteComponentToStream(&text, module, TFormFileFormat::ffText);
  return std::string(static_cast<const char*>(text.Memory()),
                     static_cast<std::size_t>(text.GetSize()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What "show FILE" prints when this program runs again as its own process.
std::string ShownByFreshProcess(const char* self, const std::string& path) {
  const std::string command = "'" + std::string(self) + "' show '" + path + "'";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
      output.append(chunk, n);
    if (pclose(pipe) != 0) output += "\n(the fresh process failed)\n";
  }
  return output;
}

int Check(const char* self, const std::string& path) {
  const std::string saved = ReadFile(path);
  const std::string shown = ShownByFreshProcess(self, path);
  if (saved.empty() || shown != saved) {
    std::cout << "NOT equal: the fresh process read " << path << " as\n" << shown;
    return 1;
  }
  std::cout << path << ": loaded in a fresh process, written again byte for byte equal\n";
  return 0;
}

int RoundTrip(const char* self) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("txlib_form_demo_" + std::to_string(::getpid()) + ".dfm"))
                               .string();
  {
    TDemoModule module;
    Fill(module);
    WriteComponentFile(AnsiString(path), &module, TFormFileFormat::ffText);
  }
  std::cout << "== The data module's form file (" << path << ")\n" << ReadFile(path);
  std::cout << "\n== Loaded in a fresh process\n";
  const int status = Check(self, path);

  std::cout << "\n== The loaded request, sent to PAY\n";
  TDemoModule module;
  ReadComponentFile(AnsiString(path), &module);
  std::filesystem::remove(path);
  auto* pay = static_cast<TTxService*>(module.FindComponent("Payment"));
  pay->Execute();
  TTxFbfr* reply = pay->GetRecvData();
  std::cout << "   customer " << reply->OccValue("CUST_ID", 0).AsInteger() << ", balance now "
            << AnsiToUtf8(reply->OccValue("BALANCE", 0).AsString()) << '\n';
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  TxDemo::UseDemoFieldTables();
  TxDemo::AdvertiseDemoDomain();
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc == 1) return RoundTrip(argv[0]);
    if (argc == 3 && mode == "save") {
      TDemoModule module;
      Fill(module);
      WriteComponentFile(AnsiString(argv[2]), &module, TFormFileFormat::ffText);
      return 0;
    }
    if (argc == 3 && mode == "show") {
      TDemoModule module;
      ReadComponentFile(AnsiString(argv[2]), &module);
      std::cout << FormText(&module);
      return 0;
    }
    if (argc == 3 && mode == "check") return Check(argv[0], argv[2]);
  } catch (const Exception& e) {
    std::cerr << AnsiToUtf8(e.Message) << '\n';
    return 1;
  }
  std::cerr << "usage: txlib_form_demo [save FILE | show FILE | check FILE]\n";
  return 2;
}
