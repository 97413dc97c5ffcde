// The command-line client on scripted sessions with the demo domain: the
// program runs as a user runs it, with a script on its standard input, and
// its whole output, error output and exit status are compared.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Session {
  std::string Out;
  std::string Err;
  int Status = -1;
};

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
    Session session;
    const int status = std::system(command.c_str());
    session.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    session.Out = ReadFile(FDirectory / "out");
    session.Err = ReadFile(FDirectory / "err");
    return session;
  }

  std::filesystem::path FDirectory;
};

TEST_F(Txcall, CallsEachBufferAndPrintsRepliesAndFailures) {
  const Session session =
      Run("# customers of segment B\n"
          "SRVCNM\tCUST_SELECT\n"
          "SEGMENT\tB\n"
          "\n"
          "\n"
          "SRVCNM\tPAY\n"
          "CUST_ID\t1001\n"
          "AMOUNT\t250.5\n"
          "\n"
          "SRVCNM\tPAY\n"
          "CUST_ID\t1002\n"
          "AMOUNT\t10\n"
          "\n"
          "SRVCNM\tCUST_UPDATE\n"
          "CUST_ID\t1003\n"
          "CUST_NAME\t\n"
          "\n"
          "SRVCNM\tRATES\n"
          "CURRENCY\tEUR");  // the end of the input sends the last buffer
  EXPECT_EQ(session.Out,
            "# CUST_SELECT\n"
            "CUST_ID\t1002\n"
            "SEGMENT\tB\n"
            "BALANCE\t-3.25\n"
            "CUST_NAME\tNowak Anna\n"
            "NOTE\t\n"
            "\n"
            "# PAY\n"
            "CUST_ID\t1001\n"
            "BALANCE\t1000\n"
            "\n"
            "# CUST_UPDATE\n"
            "TDX_ERRCODE\t-3\n"
            "TDX_ROWID\t0\n"
            "TDX_ERRTEXT\tNazwa klienta nie mo\\bfe by\\e6 pusta.\n"
            "\n"
            "# RATES\n"
            "TDX_ERRCODE\t0\n"
            "RATE\t4.3215\n"
            "CURRENCY\tEUR\n"
            "TDX_ERRTEXT\tKursy orientacyjne; p\\b3atno\\9c\\e6 rozlicza si\\ea po kursie z chwili "
            "ksi\\eagowania.\n"
            "\n");
  EXPECT_EQ(session.Err,
            "txcall: request 3 (line 10): PAY failed with error code -10: Niewystarczające środki "
            "na rachunku klienta nr 1002: saldo -3,25 zł, kwota 10,00 zł.\n"
            "=== Informacja przekazana z serwera (error) ===\n"
            "Nazwa klienta nie może być pusta.\n"
            "(OK) -> OK\n"
            "=== Informacja przekazana z serwera (information) ===\n"
            "Kursy orientacyjne; płatność rozlicza się po kursie z chwili księgowania.\n"
            "(OK) -> OK\n");
  EXPECT_EQ(session.Status, 1);
}

TEST_F(Txcall, PrintsRepliesAsXmlOnRequest) {
  const Session session = Run("SRVCNM\tCUST_REFRESH\nCUST_ID\t1003\n\n", {"--xml"});
  EXPECT_EQ(session.Out,
            "# CUST_REFRESH\n"
            "CUST_ID\t1003\n"
            "SEGMENT\tA\n"
            "BALANCE\t0\n"
            "CUST_NAME\tWi\\9cniewska Zofia\n"
            "NOTE\t\n"
            "\n"
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
            "<FML32><OCC id=\"33555433\">1003</OCC>\n"
            "<OCC id=\"67109868\">A</OCC>\n"
            "<OCC id=\"134218731\">0.000000</OCC>\n"
            "<OCC id=\"167773162\">Wi&#x15b;niewska Zofia</OCC>\n"
            "<OCC id=\"201327597\"></OCC>\n"
            "</FML32>\n"
            "\n");
  EXPECT_EQ(session.Err, "");
  EXPECT_EQ(session.Status, 0);
}

TEST_F(Txcall, ReportsBuffersItCannotReadOrSendAndGoesOn) {
  const Session session =
      Run("SRVCNM\tCUST_REFRESH\n"
          "CUST_NUMBER\t1001\n"
          "\n"
          "CUST_ID\t1001\n"
          "\n"
          "SRVCNM\tNOSUCH\n"
          "\n"
          "SRVCNM\tCUST_REFRESH\n"
          "CUST_ID\t1009\n"
          "\n"
          "SRVCNM\tCUST_REFRESH\n"
          "CUST_ID\t1002\n");
  EXPECT_EQ(session.Out,
            "# CUST_REFRESH\n"
            "CUST_ID\t1002\n"
            "SEGMENT\tB\n"
            "BALANCE\t-3.25\n"
            "CUST_NAME\tNowak Anna\n"
            "NOTE\t\n"
            "\n");
  EXPECT_EQ(session.Err,
            "txcall: request 1 (line 1): Fextread32: field name not in the field tables\n"
            "txcall: request 2 (line 4): no SRVCNM names the service\n"
            "txcall: request 3 (line 6): NOSUCH failed: Błąd Tuxedo TPENOENT: no such service, "
            "buffer type or client\n"
            "txcall: request 4 (line 8): CUST_REFRESH failed with error code -2: Nie znaleziono "
            "klienta nr 1009.\n");
  EXPECT_EQ(session.Status, 1);
}

TEST_F(Txcall, ConnectsWithTheSessionSettingsOfTheClientComponent) {
  const std::string payment = "SRVCNM\tPAY\nCUST_ID\t1001\nAMOUNT\t0.5\n\n";
  const Session routed = Run(payment, {"--router", "--auth", "quor", "--user", "jan", "--password",
                                       "tajne", "--app-code", "DEMO"});
  EXPECT_EQ(routed.Out, "# PAY\nCUST_ID\t1001\nBALANCE\t1250\n\n");
  EXPECT_EQ(routed.Err, "");
  EXPECT_EQ(routed.Status, 0);

  const Session anonymous = Run(payment, {"-r"});
  EXPECT_EQ(anonymous.Out, "");
  EXPECT_EQ(anonymous.Err,
            "txcall: request 1 (line 1): PAY failed with error code -1: Usługi przez ROUTER są "
            "dostępne tylko po zalogowaniu.\n");
  EXPECT_EQ(anonymous.Status, 1);

  const Session wrongPassword =
      Run(payment, {"-a", "quor", "-u", "jan", "-p", "zgadnij", "--app-code", "DEMO"});
  EXPECT_EQ(wrongPassword.Out, "");
  EXPECT_EQ(wrongPassword.Err,
            "txcall: Brak połączenia z serwerem Tuxedo !\n"
            "txcall: the join failed: TPEPERM: the client was refused permission to join\n");
  EXPECT_EQ(wrongPassword.Status, 2);

  const Session otherApplication =
      Run(payment, {"-a", "quor", "-u", "jan", "-p", "tajne", "--app-code", "KADRY"});
  EXPECT_EQ(otherApplication.Err,
            "txcall: Brak połączenia z serwerem Tuxedo !\n"
            "txcall: the login was refused (QuorLoginResult 3)\n");
  EXPECT_EQ(otherApplication.Status, 2);

  const Session joined = Run(payment, {"--auth=tpinit", "--user=anna", "--password=sekret"});
  EXPECT_EQ(joined.Status, 0);
  const Session notJoined = Run(payment, {"--auth=tpinit", "--user=anna", "--password=x"});
  EXPECT_EQ(notJoined.Status, 2);
}

TEST_F(Txcall, RefusesBadOptionsAndExplainsItself) {
  const Session badAuth = Run("", {"--auth", "kerberos"});
  EXPECT_EQ(badAuth.Err,
            "txcall: --auth takes none, tpinit or quor, not 'kerberos'\nTry 'txcall --help'.\n");
  EXPECT_EQ(badAuth.Status, 2);
  EXPECT_EQ(Run("", {"extra"}).Status, 2);

  const Session help = Run("", {"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_EQ(help.Out.rfind("Usage: txcall [options] < requests\n", 0), 0u);

  const Session nothing = Run("# only a comment\n\n\n");
  EXPECT_EQ(nothing.Out, "");
  EXPECT_EQ(nothing.Err, "");
  EXPECT_EQ(nothing.Status, 0);
}

}  // namespace
