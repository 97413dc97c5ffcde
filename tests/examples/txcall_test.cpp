// The command-line client on scripted sessions with the demo domain: the
// program runs as a user runs it, with a script on its standard input, and
// its whole output, error output and exit status are compared.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Session {
  std::string Out;
  std::string Err;
  int Status = -1;
  bool operator==(const Session&) const = default;
};

void PrintTo(const Session& session, std::ostream* out) {
  *out << "status " << session.Status << ", out:\n" << session.Out << "err:\n" << session.Err;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class Txcall : public ::testing::Test {
 protected:
  void SetUp() override {
    FDirectory = std::filesystem::temp_directory_path() /
                 ("txcall_test_" + std::to_string(::getpid()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(FDirectory);
  }
  void TearDown() override { std::filesystem::remove_all(FDirectory); }

  // Runs the client with the script on its input, in a clean environment:
  // the demo's field table, no dump, no cache switch, default answers.
  Session Run(const std::string& script, const std::vector<std::string>& arguments = {}) {
    std::ofstream(FDirectory / "in", std::ios::binary) << script;
    std::string command =
        "env -u FIELDTBLS32 -u FLDTBLDIR32 -u QUORDEBUGMODE -u QUORCACHEDISABLED"
        " -u TXLIB_DIALOG_ANSWER -u TXLIB_DEBUG_OUTPUT LC_ALL=C " +
        Quoted(TXCALL_PROGRAM);
    for (const std::string& argument : arguments) command += " " + Quoted(argument);
    command += " <" + Quoted((FDirectory / "in").string()) + " >" +
               Quoted((FDirectory / "out").string()) + " 2>" +
               Quoted((FDirectory / "err").string());
    const int status = std::system(command.c_str());
    return {ReadFile(FDirectory / "out"), ReadFile(FDirectory / "err"),
            WIFEXITED(status) ? WEXITSTATUS(status) : -1};
  }

  std::filesystem::path FDirectory;
};

// One buffer a line: replies, a failed call, a refusal and an information
// of the server, a buffer that cannot be read, one without a service, an
// unknown service, and the end of the input sending the last buffer.
TEST_F(Txcall, CallsEachBufferAndReportsWhatFailsAndGoesOn) {
  const Session session =
      Run("# customers of segment B\nSRVCNM\tCUST_SELECT\nSEGMENT\tB\n\n\n"
          "SRVCNM\tPAY\nCUST_ID\t1001\nAMOUNT\t250.5\n\n"
          "SRVCNM\tPAY\nCUST_ID\t1002\nAMOUNT\t10\n\n"
          "SRVCNM\tCUST_UPDATE\nCUST_ID\t1003\nCUST_NAME\t\n\n"
          "SRVCNM\tCUST_REFRESH\nCUST_NUMBER\t1001\n\n"
          "CUST_ID\t1001\n\n"
          "SRVCNM\tNOSUCH\n\n"
          "SRVCNM\tRATES\nCURRENCY\tEUR");
  EXPECT_EQ(session.Out,
            "# CUST_SELECT\nCUST_ID\t1002\nSEGMENT\tB\nBALANCE\t-3.25\nCUST_NAME\tNowak Anna\n"
            "NOTE\t\n\n"
            "# PAY\nCUST_ID\t1001\nBALANCE\t1000\n\n"
            "# CUST_UPDATE\nTDX_ERRCODE\t-3\nTDX_ROWID\t0\n"
            "TDX_ERRTEXT\tNazwa klienta nie mo\\bfe by\\e6 pusta.\n\n"
            "# RATES\nTDX_ERRCODE\t0\nRATE\t4.3215\nCURRENCY\tEUR\n"
            "TDX_ERRTEXT\tKursy orientacyjne; p\\b3atno\\9c\\e6 rozlicza si\\ea po kursie z chwili "
            "ksi\\eagowania.\n\n");
  EXPECT_EQ(session.Err,
            "txcall: request 3 (line 10): PAY failed with error code -10: Niewystarczające środki "
            "na rachunku klienta nr 1002: saldo -3,25 zł, kwota 10,00 zł.\n"
            "=== Informacja przekazana z serwera (error) ===\n"
            "Nazwa klienta nie może być pusta.\n"
            "(OK) -> OK\n"
            "txcall: request 5 (line 18): Fextread32: field name not in the field tables\n"
            "txcall: request 6 (line 21): no SRVCNM names the service\n"
            "txcall: request 7 (line 23): NOSUCH failed: Błąd Tuxedo TPENOENT: no such service, "
            "buffer type or client\n"
            "=== Informacja przekazana z serwera (information) ===\n"
            "Kursy orientacyjne; płatność rozlicza się po kursie z chwili księgowania.\n"
            "(OK) -> OK\n");
  EXPECT_EQ(session.Status, 1);
}

TEST_F(Txcall, OptionsAndBadOptions) {
  const std::string pay = "SRVCNM\tPAY\nCUST_ID\t1001\nAMOUNT\t0.5\n\n";
  const std::string paid = "# PAY\nCUST_ID\t1001\nBALANCE\t1250\n\n";
  const std::string noJoin =
      "txcall: Brak połączenia z serwerem Tuxedo !\n"
      "txcall: the join failed: TPEPERM: the client was refused permission to join\n";
  const std::string help = "Try 'txcall --help'.\n";
  // --xml adds the reply's document after its text.
  EXPECT_EQ(Run(pay, {"--router", "--auth", "quor", "--user", "jan", "--password", "tajne",
                      "--app-code", "DEMO", "--xml"}),
            (Session{paid + "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                            "<FML32><OCC id=\"33555433\">1001</OCC>\n"
                            "<OCC id=\"134218731\">1250.000000</OCC>\n</FML32>\n\n",
                     "", 0}));
  EXPECT_EQ(Run(pay, {"-r"}),
            (Session{"",
                     "txcall: request 1 (line 1): PAY failed with error code -1: Usługi przez "
                     "ROUTER są dostępne tylko po zalogowaniu.\n",
                     1}));
  EXPECT_EQ(Run(pay, {"-a", "quor", "-u", "jan", "-p", "zgadnij", "--app-code", "DEMO"}),
            (Session{"", noJoin, 2}));
  EXPECT_EQ(Run(pay, {"-a", "quor", "-u", "jan", "-p", "tajne", "--app-code", "KADRY"}),
            (Session{"",
                     "txcall: Brak połączenia z serwerem Tuxedo !\n"
                     "txcall: the login was refused (QuorLoginResult 3)\n",
                     2}));
  EXPECT_EQ(Run(pay, {"--auth=tpinit", "--user=anna", "--password=sekret"}),
            (Session{paid, "", 0}));
  EXPECT_EQ(Run(pay, {"--auth=tpinit", "--user=anna", "--password=x"}), (Session{"", noJoin, 2}));

  EXPECT_EQ(Run(pay, {"--auth", "kerberos"}),
            (Session{"", "txcall: --auth takes none, tpinit or quor, not 'kerberos'\n" + help, 2}));
  EXPECT_EQ(Run(pay, {"--login-flags", "7x"}),
            (Session{"", "txcall: --login-flags takes a number, not '7x'\n" + help, 2}));
  EXPECT_EQ(Run(pay, {"extra"}), (Session{"", "txcall: unexpected argument 'extra'\n" + help, 2}));
  const Session usage = Run("", {"--help"});
  EXPECT_EQ(usage.Status, 0);
  EXPECT_EQ(usage.Out.rfind("Usage: txcall [options] < requests\n", 0), 0u);
  EXPECT_EQ(Run("# only a comment\n\n\n"), (Session{"", "", 0}));
}

// --table: one row per occurrence, from named fields or a field table's
// fields that the reply holds; refusals of columns that cannot be found.
TEST_F(Txcall, RepliesAsTables) {
  const std::string select = "SRVCNM\tCUST_SELECT\nSEGMENT\tA\n\nSRVCNM\tCUST_REFRESH\nCUST_ID\t1002\n\n";
  EXPECT_EQ(Run(select, {"-t", "CUST_NAME, CUST_ID,RATE"}),
            (Session{"# CUST_SELECT\n"
                     "CUST_NAME         CUST_ID  RATE\n"
                     "----------------  -------  ----\n"
                     "Kowalski Jan         1001\n"
                     "Wiśniewska Zofia     1003\n"
                     "(2 rows)\n"
                     "# CUST_REFRESH\n"
                     "CUST_NAME   CUST_ID  RATE\n"
                     "----------  -------  ----\n"
                     "Nowak Anna     1002\n"
                     "(1 row)\n",
                     "", 0}));
  const std::filesystem::path table = FDirectory / "rows.fml";
  std::ofstream(table) << "# two of the demo's fields\n*base 1000\nCUST_ID 1 long - number\n"
                          "$ a comment\nBALANCE 3 double\nRATE 8 double\n";
  EXPECT_EQ(Run(select, {"--table=@" + table.string()}).Out,
            "# CUST_SELECT\n"
            "CUST_ID  BALANCE\n"
            "-------  -------\n"
            "   1001   1250.5\n"
            "   1003        0\n"
            "(2 rows)\n"
            "# CUST_REFRESH\n"
            "CUST_ID  BALANCE\n"
            "-------  -------\n"
            "   1002    -3.25\n"
            "(1 row)\n");

  const std::string help = "Try 'txcall --help'.\n";
  EXPECT_EQ(Run(select, {"-t", "CUST_ID,NIC"}),
            (Session{"", "txcall: --table: no field named 'NIC' in the field tables\n", 2}));
  EXPECT_EQ(Run(select, {"-t", " , "}), (Session{"", "txcall: --table names no columns\n", 2}));
  std::ofstream(table) << "*base 1000\nCUST_ID 1 long\nBALANCE three double\n";
  EXPECT_EQ(Run(select, {"-t", "@" + table.string()}),
            (Session{"", "txcall: --table: " + table.string() + ", line 3 is not a field: BALANCE three double\n", 2}));
  EXPECT_EQ(Run(select, {"-t", "@/no/such.fml"}),
            (Session{"", "txcall: --table: cannot read the field table '/no/such.fml'\n", 2}));
  EXPECT_EQ(Run(select, {"-t"}).Status, 2);
}

}  // namespace
