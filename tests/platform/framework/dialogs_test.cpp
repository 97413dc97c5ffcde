#include "platform/framework/Dialogs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "platform/framework/framework_test_support.h"

namespace Tx {
namespace {

// Each test gets its own recording seam.
class RecordingTest : public ::testing::Test {
 protected:
  TRecordingUserInterface FUi;
  TUserInterfaceScope FScope{FUi};
};

using FrameworkTest::ScopedEnvironment;

TEST_F(RecordingTest, KeepsEveryEventInOrderAndAnswersFromTheQueueOrTheDefault) {
  EXPECT_EQ(MessageBoxA(nullptr, "Nie można otworzyć"_ansi.c_str(), nullptr, MB_OK), IDOK);
  MessageBeep(0xFFFFFFFF);
  OutputDebugStringA("Cache hit: PAY");
  Screen->SetCursor(crHourGlass);
  Screen->SetCursor(crHourGlass);  // no change, nothing to report
  Screen->SetCursor(crDefault);
  const auto& events = FUi.Events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].Dialog.Text + "|" + events[0].Dialog.Caption,  // a box without caption
            "Nie można otworzyć|Error"_ansi);
  EXPECT_EQ(events[1].BeepType, 0xFFFFFFFFu);
  EXPECT_EQ(events[2].Text, "Cache hit: PAY");
  EXPECT_EQ(events[3].CursorName + " " + events[4].CursorName, "IDC_WAIT IDC_ARROW");
  // Boxes are answered from the queue, then with the default button.
  FUi.QueueAnswer(IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "q1", "c", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "q2", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "q3", "c", MB_OKCANCEL | MB_DEFBUTTON4), IDOK);
  FUi.SetDefaultAnswer(IDCANCEL);
  EXPECT_EQ(MessageBoxA(nullptr, "q4", "c", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(FUi.Dialogs().at(2).Answer, IDNO);
}

TEST_F(RecordingTest, ApplicationBoxesCarryTheTitleAndEndExceptionsWithAFullStop) {
  Application->SetTitle("Kasa");
  Application->MessageBox("Brak pliku"_ansi, "Error", MB_OK | MB_ICONERROR);
  Application->ShowException(Exception("Brak połączenia !"_ansi));
  Application->ShowException(Exception("Wynik 2"_ansi));
  Application->ShowException(Exception("Wynik (2)"_ansi));
  ShowMessage("Pole <5> z bufora");
  const auto d = FUi.Dialogs();
  ASSERT_EQ(d.size(), 5u);
  EXPECT_EQ(d[0].Request.Source, TDialogSource::dsApplicationMessageBox);
  EXPECT_EQ(d[0].Request.Caption + "|" + d[1].Request.Caption, "Error|Kasa");
  EXPECT_EQ(d[1].Request.Flags, MB_OK | MB_ICONSTOP);
  // No full stop after '!' or ')', which sorts below '.'.
  EXPECT_EQ(d[1].Request.Text + "|" + d[2].Request.Text + "|" + d[3].Request.Text,
            "Brak połączenia !|Wynik 2.|Wynik (2)"_ansi);
  EXPECT_EQ(d[4].Request.Source, TDialogSource::dsShowMessage);
}

class TExceptionSink : public TObject {
 public:
  void Handle(TObject* Sender, const Exception& E) { Seen = Sender ? E.Message : "?"; }
  AnsiString Seen;
};

// Hands what raise throws to Application->HandleException, as a message loop does.
template <typename F>
void Handle(F&& raise, TObject* sender) {
  try {
    raise();
  } catch (...) {
    Application->HandleException(sender);
  }
}

TEST_F(RecordingTest, HandleExceptionSkipsAbortAndPrefersTheHandler) {
  Handle([] { Abort(); }, nullptr);
  Handle([] { throw EConvertError("Zła liczba"_ansi); }, nullptr);
  TExceptionSink sink;
  Application->OnException = {&sink, &TExceptionSink::Handle};
  Handle([] { throw Exception(AnsiString("1668")); }, &sink);
  Application->OnException = nullptr;
  EXPECT_EQ(sink.Seen, "1668");
  ASSERT_EQ(FUi.Dialogs().size(), 1u);
  EXPECT_EQ(FUi.Dialogs()[0].Request.Text, "Zła liczba."_ansi);
}

TEST(UserInterfaceScope, NestedScopesRestoreInReverse) {
  IUserInterface* original = &UserInterface();
  TRecordingUserInterface outer;
  TRecordingUserInterface inner;
  {
    const TUserInterfaceScope a(outer);
    { const TUserInterfaceScope b(inner); }
    MessageBeep(2);  // reaches the outer seam again
  }
  EXPECT_EQ(&UserInterface(), original);
  EXPECT_EQ(outer.Beeps(), (std::vector<UINT>{2}));
}

// Showing the TUXWAIT cursor during a call is the service component's test.
TEST_F(RecordingTest, CursorResourcesAndTheirFallback) {
  EXPECT_EQ(LoadCursorA(HInstance, "NOSUCHCURSOR"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  RegisterCursorResource(HInstance, "TUXWAIT");
  const HCURSOR wait = LoadCursorA(HInstance, "tuxwait");
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(LoadCursorA(nullptr, "TUXWAIT"), nullptr);  // not a system cursor
  Screen->SetCursors(123, wait);
  EXPECT_EQ(Screen->GetCursors(123), wait);
  Screen->SetCursors(123, nullptr);
  EXPECT_EQ(Screen->GetCursors(123), LoadCursorA(nullptr, IDC_ARROW));
}

TEST_F(RecordingTest, ComputerNameFitsTheCallersBuffer) {
  FUi.SetComputerName("WS-KASA01");
  char buffer[16];
  DWORD size = sizeof buffer;
  ASSERT_NE(GetComputerNameA(buffer, &size), 0);
  EXPECT_EQ(std::string(buffer) + " " + std::to_string(size), "WS-KASA01 9");
  size = 5;
  EXPECT_EQ(GetComputerNameA(buffer, &size), 0);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
  FUi.SetComputerName("");  // unknown
  EXPECT_EQ(GetComputerNameA(buffer, &size), 0);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  const AnsiString host = HostComputerName();  // short, upper case, without domain
  EXPECT_TRUE(host.Length() <= 15 && host == host.UpperCase() && host.Pos(".") == 0) << host;
}

// ---- Console --------------------------------------------------------------------

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_GE(FNull, 0); }
  void TearDown() override { ::close(FNull); }

  int Show(const AnsiString& text, UINT flags) {
    TDialogRequest request;
    request.Text = text;
    request.Caption = "Bufor FML - pytanie";
    request.Flags = flags;
    return FUi.ShowDialog(request);
  }

  ScopedEnvironment FPolicy{{"TXLIB_DIALOG_ANSWER", nullptr}, {"TXLIB_DEBUG_OUTPUT", nullptr}};
  std::ostringstream FOut;
  std::istringstream FIn{"no\n"};
  int FNull = ::open("/dev/null", O_RDONLY);  // the input descriptor: never a terminal
  TConsoleUserInterface FUi{FOut, FIn, FNull, false};
};

TEST_F(ConsoleTest, WritesUtf8AndAnswersWithTheDefaultButton) {
  const AnsiString text = "Pole X (id.=5): liczba wystąpień\r.\rUsunąć?"_ansi;
  EXPECT_EQ(Show(text, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(FOut.str(),
            "=== Bufor FML - pytanie (question) ===\n"
            "Pole X (id.=5): liczba wystąpień\n.\nUsunąć?\n"
            "(Yes / No) -> No\n");
}

// The answer policy picks a button the box shows and asks only a terminal;
// debug output appears only when asked for.
TEST_F(ConsoleTest, PolicyAndDebugOutputFromTheEnvironment) {
  FPolicy.Set("TXLIB_DIALOG_ANSWER", "No");
  EXPECT_EQ(Show("a", MB_YESNO), IDNO);
  EXPECT_EQ(Show("b", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);  // no "No": the default
  FPolicy.Set("TXLIB_DIALOG_ANSWER", "ask");
  EXPECT_EQ(Show("c", MB_YESNOCANCEL), IDYES);
  EXPECT_EQ(FIn.tellg(), 0);  // nothing read
  FUi.DebugOutput("hidden");
  FPolicy.Set("TXLIB_DEBUG_OUTPUT", "1");
  FUi.DebugOutput("Zażółć"_ansi);
  EXPECT_EQ(FOut.str().find("hidden"), std::string::npos);
  EXPECT_TRUE(FOut.str().ends_with("\n[debug] Zażółć\n"));
}

// The default seam, as a program without a terminal meets it: stdin from
// /dev/null, the box on stderr, the answer at once.
TEST_F(ConsoleTest, DefaultSeamDoesNotBlockWithoutTerminal) {
  const int savedStdin = ::dup(STDIN_FILENO);
  ASSERT_GE(savedStdin, 0);
  ASSERT_GE(::dup2(FNull, STDIN_FILENO), 0);
  const ScopedEnvironment answer{{"TXLIB_DIALOG_ANSWER", "ask"}};
  ::testing::internal::CaptureStderr();
  const int result = MessageBoxA(nullptr, "Zapisać mimo to?"_ansi.c_str(),
                                 "Ostrzeżenie"_ansi.c_str(), MB_OKCANCEL | MB_ICONWARNING);
  const std::string err = ::testing::internal::GetCapturedStderr();
  ::dup2(savedStdin, STDIN_FILENO);
  ::close(savedStdin);
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(err, "=== Ostrzeżenie (warning) ===\nZapisać mimo to?\n(OK / Cancel) -> OK\n");
}

}  // namespace
}  // namespace Tx
