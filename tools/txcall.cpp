// txcall: calls services with request buffers read from standard input and
// prints their replies.
//
// Input is the middleware's text form of FML32 buffers, as Fextread32 reads
// it: one "name<TAB>value" line per occurrence ("+name", "-name" and
// "=name<TAB>other" change occurrence 0; "#" starts a comment), a blank line
// after each buffer. The field SRVCNM names the service; it is taken out of
// the request before the call. Every buffer is sent as soon as its blank line
// (or the end of the input) arrives, so the program can be used by hand too.
//
// Each reply goes to standard output as Fprint32 writes it, after a comment
// line naming the service, so the output reads back as input; --xml adds the
// reply as an XML document. Failures go to standard error with the library's
// message, and the program goes on with the next buffer; an information text
// of the server is shown as the library shows it (a message box, which the
// console writes to standard error).
//
// The connection is opened with the session settings of TTxClient given on
// the command line. With the builtin platform the program hosts the demo
// domain and, unless FIELDTBLS32 names other tables, its field table; with
// a vendor platform it joins the domain the environment names.
#include <atmi.h>
#include <fml32.h>
#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/TxGlobal.h"
#include "service/TxServic.h"
#include "tools/txcall_table.h"
#include "xml/TxFMLXML.h"

#ifdef TXCALL_DEMO_DOMAIN
#include "examples/domain/DemoDomain.h"
#endif

namespace {

using Tx::AnsiString;

constexpr int ExitOk = 0;
constexpr int ExitCallFailed = 1;
constexpr int ExitUsage = 2;

constexpr char Usage[] =
    "Usage: txcall [options] < requests\n"
    "\n"
    "Reads request buffers in the Fextread32 text format from standard input,\n"
    "each ended by a blank line; the field SRVCNM names the service. Calls each\n"
    "service and prints its reply in the Fprint32 format.\n"
    "\n"
    "Options:\n"
    "  -x, --xml               print each reply as an XML document as well\n"
    "  -t, --table COLUMNS     print each reply as a table instead: one row per\n"
    "                          occurrence of the columns, named as a comma-\n"
    "                          separated list of fields or as @FILE, a field table\n"
    "  -r, --router            call every service through ROUTER (UseRouter)\n"
    "  -a, --auth KIND         how to join: none, tpinit or quor (Authenticate;\n"
    "                          default none)\n"
    "  -u, --user NAME         UserName\n"
    "  -p, --password TEXT     Passwd\n"
    "  -c, --client NAME       ClientName\n"
    "  -d, --data TEXT         Data, the application data of the join\n"
    "      --app-code CODE     QuorAppCode\n"
    "      --app-label TEXT    QuorAppLabel\n"
    "      --app-version TEXT  QuorAppVersion\n"
    "      --login-flags N     QuorLoginFlags\n"
    "  -e, --env FILE          read an environment file before joining (ReadEnv)\n"
    "  -s, --env-section NAME  the file's section to read (EnvSection)\n"
    "  -h, --help              show this text\n"
    "\n"
    "Texts on the command line are UTF-8; values in requests are bytes, so\n"
    "Polish letters are written as their Windows-1250 escapes (ą is \\b9).\n"
    "\n"
    "Exit status: 0 when every call succeeded, 1 when a request could not be\n"
    "read or a call failed, 2 for bad options or when no connection was made.\n";

struct Options {
  bool Xml = false;
  bool Router = false;
  Tx::TTxAuthKind Auth = Tx::txakNone;
  std::optional<std::string> User, Password, Client, Data;
  std::optional<std::string> AppCode, AppLabel, AppVersion;
  std::optional<int> LoginFlags;
  std::optional<std::string> EnvFile, EnvSection;
  std::optional<std::string> Table;
  std::vector<TxcallTable::Column> Columns;  // of Table, once the field tables are there
};

// A text of the library as the terminal shows it: UTF-8, with the line
// breaks of composed messages (CR or CR LF) as line feeds, none at the end.
std::string ForTerminal(const AnsiString& text) {
  const std::string utf8 = Tx::AnsiToUtf8(text);
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] != '\r') {
      out += utf8[i];
    } else if (i + 1 == utf8.size() || utf8[i + 1] != '\n') {
      out += '\n';
    }
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

bool ParseAuth(const std::string& word, Tx::TTxAuthKind& kind) {
  static const std::pair<const char*, Tx::TTxAuthKind> kinds[] = {
      {"none", Tx::txakNone}, {"tpinit", Tx::txakTPINIT}, {"quor", Tx::txakQuor},
      {"0", Tx::txakNone},    {"1", Tx::txakTPINIT},      {"2", Tx::txakQuor}};
  for (const auto& [name, value] : kinds) {
    if (word == name) {
      kind = value;
      return true;
    }
  }
  return false;
}

bool ParseInt(const char* text, int& value) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || number < INT32_MIN || number > INT32_MAX) return false;
  value = static_cast<int>(number);
  return true;
}

// Fills options from the command line; false (after a message) when it is
// wrong. `help` tells that the usage was asked for.
bool ParseOptions(int argc, char** argv, Options& options, bool& help) {
  enum { AppCodeOption = 256, AppLabelOption, AppVersionOption, LoginFlagsOption };
  static const option longOptions[] = {
      {"xml", no_argument, nullptr, 'x'},
      {"table", required_argument, nullptr, 't'},
      {"router", no_argument, nullptr, 'r'},
      {"auth", required_argument, nullptr, 'a'},
      {"user", required_argument, nullptr, 'u'},
      {"password", required_argument, nullptr, 'p'},
      {"client", required_argument, nullptr, 'c'},
      {"data", required_argument, nullptr, 'd'},
      {"app-code", required_argument, nullptr, AppCodeOption},
      {"app-label", required_argument, nullptr, AppLabelOption},
      {"app-version", required_argument, nullptr, AppVersionOption},
      {"login-flags", required_argument, nullptr, LoginFlagsOption},
      {"env", required_argument, nullptr, 'e'},
      {"env-section", required_argument, nullptr, 's'},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  help = false;
  int option = 0;
  while ((option = getopt_long(argc, argv, "xt:ra:u:p:c:d:e:s:h", longOptions, nullptr)) != -1) {
    switch (option) {
      case 'x':
        options.Xml = true;
        break;
      case 't':
        options.Table = optarg;
        break;
      case 'r':
        options.Router = true;
        break;
      case 'a':
        if (!ParseAuth(optarg, options.Auth)) {
          std::fprintf(stderr, "txcall: --auth takes none, tpinit or quor, not '%s'\n", optarg);
          return false;
        }
        break;
      case 'u':
        options.User = optarg;
        break;
      case 'p':
        options.Password = optarg;
        break;
      case 'c':
        options.Client = optarg;
        break;
      case 'd':
        options.Data = optarg;
        break;
      case AppCodeOption:
        options.AppCode = optarg;
        break;
      case AppLabelOption:
        options.AppLabel = optarg;
        break;
      case AppVersionOption:
        options.AppVersion = optarg;
        break;
      case LoginFlagsOption: {
        int flags = 0;
        if (!ParseInt(optarg, flags)) {
          std::fprintf(stderr, "txcall: --login-flags takes a number, not '%s'\n", optarg);
          return false;
        }
        options.LoginFlags = flags;
        break;
      }
      case 'e':
        options.EnvFile = optarg;
        break;
      case 's':
        options.EnvSection = optarg;
        break;
      case 'h':
        help = true;
        return true;
      default:
        return false;  // getopt_long has said what is wrong
    }
  }
  if (optind < argc) {
    std::fprintf(stderr, "txcall: unexpected argument '%s'\n", argv[optind]);
    return false;
  }
  return true;
}

// The session settings go to the session server through the component, as
// an application's form would set them.
void Configure(Tx::TTxClient& client, const Options& options) {
  const auto set = [&client](const std::optional<std::string>& value,
                             void (Tx::TTxClient::*setter)(const AnsiString&)) {
    if (value) (client.*setter)(Tx::Utf8ToAnsi(*value));
  };
  if (options.EnvSection) client.SetEnvSection(Tx::Utf8ToAnsi(*options.EnvSection));
  if (options.EnvFile) client.ReadEnv(Tx::Utf8ToAnsi(*options.EnvFile));
  client.SetAuthenticate(options.Auth);
  client.SetUseRouter(options.Router);
  set(options.User, &Tx::TTxClient::SetUserName);
  set(options.Password, &Tx::TTxClient::SetPasswd);
  set(options.Client, &Tx::TTxClient::SetClientName);
  set(options.Data, &Tx::TTxClient::SetData);
  set(options.AppCode, &Tx::TTxClient::SetQuorAppCode);
  set(options.AppLabel, &Tx::TTxClient::SetQuorAppLabel);
  set(options.AppVersion, &Tx::TTxClient::SetQuorAppVersion);
  if (options.LoginFlags) client.SetQuorLoginFlags(*options.LoginFlags);
}

// Opens the connection; false (after a message) when there is none.
bool Connect(Tx::TTxClient& client, const Options& options) {
  try {
    tperrno = 0;
    client.Connect();
    return true;
  } catch (const Tx::Exception& e) {
    std::fprintf(stderr, "txcall: %s\n", ForTerminal(e.Message).c_str());
    // The session server leaves the error of a failed join behind.
    if (tperrno != 0) std::fprintf(stderr, "txcall: the join failed: %s\n", tpstrerror(tperrno));
    if (options.Auth == Tx::txakQuor && client.GetQuorLoginResult() != 0) {
      std::fprintf(stderr, "txcall: the login was refused (QuorLoginResult %d)\n",
                   client.GetQuorLoginResult());
    }
    return false;
  }
}

// ---- Requests ----------------------------------------------------------------------

// One buffer's lines and the line number it starts at.
struct Packet {
  std::string Text;
  int FirstLine = 0;
  int Number = 0;
};

bool IsBlank(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos;
}

// Reads packets from a stream: lines up to a blank line or the end. Packets
// of comments alone are skipped.
class PacketReader {
 public:
  explicit PacketReader(std::istream& in) : FIn(in) {}

  bool Next(Packet& packet) {
    packet = Packet();
    bool content = false;
    std::string line;
    while (std::getline(FIn, line)) {
      ++FLine;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (IsBlank(line)) {
        if (content) break;
        packet.Text.clear();
        continue;
      }
      if (packet.Text.empty()) packet.FirstLine = FLine;
      content = content || line.front() != '#';
      packet.Text += line;
      packet.Text += '\n';
    }
    if (!content) return false;
    packet.Number = ++FCount;
    return true;
  }

 private:
  std::istream& FIn;
  int FLine = 0;
  int FCount = 0;
};

// The id of SRVCNM: from the field tables, else the number the middleware's
// system table gives it.
FLDID32 ServiceNameField() {
  const FLDID32 id = Fldid32(const_cast<char*>("SRVCNM"));
  Ferror32 = 0;
  return id != BADFLDID ? id : Fmkfldid32(FLD_STRING, 8);
}

// Reads the packet into a buffer that grows until the text fits. Returns
// 0, or the FML32 error of a text that cannot be read.
int ReadPacket(const Packet& packet, Tx::TTxFbfr& buffer) {
  for (;;) {
    std::unique_ptr<FILE, int (*)(FILE*)> in(
        fmemopen(const_cast<char*>(packet.Text.data()), packet.Text.size(), "r"), &std::fclose);
    if (!in) return FEUNIX;
    if (Fextread32(buffer.GetFbfrP(), in.get()) != -1) return 0;
    const int error = Ferror32;
    Ferror32 = 0;
    if (error != FNOSPACE) return error;
    buffer.SetFbfrSize(2 * buffer.GetFbfrSize());
  }
}

void PrintReply(Tx::TTxService& service, const Options& options) {
  std::printf("# %s\n", ForTerminal(service.GetServiceName()).c_str());
  std::fflush(stdout);
  if (options.Columns.empty())
    Ffprint32(service.GetRecvData()->GetFbfrP(), stdout);
  else
    TxcallTable::Print(*service.GetRecvData(), options.Columns, stdout);
  if (options.Xml) {
    std::fputs(Tx::ExportFMLToXML(service.GetRecvData()).c_str(), stdout);
    std::fputs("\n", stdout);
  }
  std::fflush(stdout);
}

std::string Where(const Packet& packet) {
  return "request " + std::to_string(packet.Number) + " (line " + std::to_string(packet.FirstLine) +
         ")";
}

// Sends one packet; true when the call succeeded.
bool CallPacket(Tx::TTxService& service, const Packet& packet, const Options& options) {
  Tx::TTxFbfr request(nullptr, static_cast<int>(4096 + 2 * packet.Text.size()));
  if (const int error = ReadPacket(packet, request)) {
    std::fprintf(stderr, "txcall: %s: Fextread32: %s\n", Where(packet).c_str(), Fstrerror32(error));
    return false;
  }
  const FLDID32 srvcnm = ServiceNameField();
  const char* name = Ffind32(request.GetFbfrP(), srvcnm, 0, nullptr);
  if (name == nullptr || *name == '\0') {
    Ferror32 = 0;
    std::fprintf(stderr, "txcall: %s: no SRVCNM names the service\n", Where(packet).c_str());
    return false;
  }
  service.SetServiceName(name);
  Fdelall32(request.GetFbfrP(), srvcnm);
  service.SetSendData(&request);
  try {
    service.Execute();
  } catch (const Tx::ETxSvcFail& e) {
    std::fprintf(stderr, "txcall: %s: %s failed with error code %d: %s\n", Where(packet).c_str(),
                 ForTerminal(service.GetServiceName()).c_str(), static_cast<int>(e.ErrCode),
                 ForTerminal(e.Message).c_str());
    return false;
  } catch (const Tx::Exception& e) {
    std::fprintf(stderr, "txcall: %s: %s failed: %s\n", Where(packet).c_str(),
                 ForTerminal(service.GetServiceName()).c_str(), ForTerminal(e.Message).c_str());
    return false;
  }
  PrintReply(service, options);
  return true;
}

int Run(const Options& options) {
  Tx::SetDebugMode(0);  // messages without the library's source lines
  Tx::TTxClient client(nullptr);
  Configure(client, options);
  if (!Connect(client, options)) return ExitUsage;

  Tx::TTxService service(nullptr);
  service.SetDetectTDXInfo(true);
  PacketReader reader(std::cin);
  Packet packet;
  bool allSucceeded = true;
  while (reader.Next(packet)) allSucceeded = CallPacket(service, packet, options) && allSucceeded;
  client.Terminate();
  return allSucceeded ? ExitOk : ExitCallFailed;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool help = false;
  if (!ParseOptions(argc, argv, options, help)) {
    std::fputs("Try 'txcall --help'.\n", stderr);
    return ExitUsage;
  }
  if (help) {
    std::fputs(Usage, stdout);
    return ExitOk;
  }
#ifdef TXCALL_DEMO_DOMAIN
  TxDemo::UseDemoFieldTables();
  TxDemo::AdvertiseDemoDomain();
#endif
  if (options.Table && !TxcallTable::ParseColumns(*options.Table, options.Columns)) return ExitUsage;
  try {
    return Run(options);
  } catch (const Tx::Exception& e) {
    std::fprintf(stderr, "txcall: %s\n", ForTerminal(e.Message).c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "txcall: %s\n", e.what());
  }
  return ExitUsage;
}
