#include "platform/framework/Dialogs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace Tx {
namespace {

// Each test gets its own recording seam.
class RecordingTest : public ::testing::Test {
 protected:
  TRecordingUserInterface FUi;
  TUserInterfaceScope FScope{FUi};
};

// Sets an environment variable for one test and takes it away afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : FName(name) { ::setenv(name, value, 1); }
  ~ScopedEnv() { ::unsetenv(FName); }

 private:
  const char* FName;
};

TEST_F(RecordingTest, KeepsEveryEventInOrder) {
  EXPECT_EQ(MessageBoxA(nullptr, "Nie można otworzyć"_ansi.c_str(), "Błąd"_ansi.c_str(), MB_OK), IDOK);
  MessageBeep(0xFFFFFFFF);
  OutputDebugStringA("Cache hit: PAY");
  Screen->SetCursor(crHourGlass);
  Screen->SetCursor(crHourGlass);  // no change, nothing to report
  Screen->SetCursor(crDefault);

  const auto& events = FUi.Events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].Kind, TUiEvent::ueDialog);
  EXPECT_EQ(events[0].Dialog.Text, "Nie można otworzyć"_ansi);
  EXPECT_EQ(events[0].Dialog.Caption, "Błąd"_ansi);
  EXPECT_EQ(events[0].Dialog.Flags, MB_OK);
  EXPECT_EQ(events[0].Dialog.Source, TDialogSource::dsMessageBox);
  EXPECT_EQ(events[1].Kind, TUiEvent::ueBeep);
  EXPECT_EQ(events[1].BeepType, 0xFFFFFFFFu);
  EXPECT_EQ(events[2].Text, "Cache hit: PAY");
  EXPECT_EQ(events[3].Cursor, crHourGlass);
  EXPECT_EQ(events[3].CursorName, "IDC_WAIT");
  EXPECT_EQ(events[4].Cursor, crDefault);
  EXPECT_EQ(events[4].CursorName, "IDC_ARROW");
}

TEST_F(RecordingTest, AnswersFromTheQueueThenTheDefaultButton) {
  FUi.QueueAnswer(IDNO);
  FUi.QueueAnswer(IDYES);
  EXPECT_EQ(MessageBoxA(nullptr, "q1", "c", MB_YESNO), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "q2", "c", MB_YESNO), IDYES);
  EXPECT_EQ(MessageBoxA(nullptr, "q3", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(MessageBoxA(nullptr, "q4", "c", MB_OKCANCEL | MB_DEFBUTTON4), IDOK);
  FUi.SetDefaultAnswer(IDCANCEL);
  EXPECT_EQ(MessageBoxA(nullptr, "q5", "c", MB_OKCANCEL), IDCANCEL);
  const auto dialogs = FUi.Dialogs();
  ASSERT_EQ(dialogs.size(), 5u);
  EXPECT_EQ(dialogs[2].Request.Text, "q3");
  EXPECT_EQ(dialogs[2].Answer, IDNO);
}

TEST_F(RecordingTest, MessageBoxWithoutCaptionIsTitledError) {
  MessageBoxA(nullptr, nullptr, nullptr, MB_OK);
  EXPECT_EQ(FUi.Dialogs().at(0).Request.Caption, "Error");
  EXPECT_EQ(FUi.Dialogs().at(0).Request.Text, "");
}

TEST_F(RecordingTest, ApplicationBoxesCarryTitleSourceAndIcons) {
  Application->SetTitle("Kasa");
  Application->MessageBox("Brak połączenia"_ansi, "Error", MB_OK | MB_ICONERROR);
  Application->ShowException(Exception("Brak połączenia z serwerem Tuxedo !"_ansi));
  Application->ShowException(Exception("Koniec."_ansi));
  Application->ShowException(Exception("Wynik 2"_ansi));
  Application->ShowException(Exception("Wynik (2)"_ansi));
  ShowMessage("Pole <5> z bufora");

  const auto d = FUi.Dialogs();
  ASSERT_EQ(d.size(), 6u);
  EXPECT_EQ(d[0].Request.Source, TDialogSource::dsApplicationMessageBox);
  EXPECT_EQ(d[0].Request.Caption, "Error");
  EXPECT_EQ(d[0].Request.Flags, MB_OK | MB_ICONERROR);
  EXPECT_EQ(d[1].Request.Source, TDialogSource::dsShowException);
  EXPECT_EQ(d[1].Request.Text, "Brak połączenia z serwerem Tuxedo !"_ansi);
  EXPECT_EQ(d[1].Request.Caption, "Kasa");
  EXPECT_EQ(d[1].Request.Flags, MB_OK | MB_ICONSTOP);
  EXPECT_EQ(d[2].Request.Text, "Koniec.");
  EXPECT_EQ(d[3].Request.Text, "Wynik 2.");
  EXPECT_EQ(d[4].Request.Text, "Wynik (2)");  // ')' sorts below '.'
  EXPECT_EQ(d[5].Request.Source, TDialogSource::dsShowMessage);
  EXPECT_EQ(d[5].Request.Caption, "Kasa");
  EXPECT_EQ(d[5].Request.Flags, MB_OK);
}

class TExceptionSink : public TObject {
 public:
  void Handle(TObject* Sender, const Exception& E) {
    Seen = E.Message;
    SeenSender = Sender;
  }
  AnsiString Seen;
  TObject* SeenSender = nullptr;
};

TEST_F(RecordingTest, HandleExceptionSkipsAbortAndPrefersTheHandler) {
  try {
    Abort();
  } catch (...) {
    Application->HandleException(nullptr);
  }
  EXPECT_TRUE(FUi.Dialogs().empty());

  try {
    throw EConvertError("Zła liczba"_ansi);
  } catch (...) {
    Application->HandleException(nullptr);
  }
  ASSERT_EQ(FUi.Dialogs().size(), 1u);
  EXPECT_EQ(FUi.Dialogs()[0].Request.Text, "Zła liczba."_ansi);

  TExceptionSink sink;
  TObject sender;
  Application->OnException = {&sink, &TExceptionSink::Handle};
  try {
    throw Exception(AnsiString("1668"));
  } catch (...) {
    Application->HandleException(&sender);
  }
  Application->OnException = nullptr;
  EXPECT_EQ(sink.Seen, "1668");
  EXPECT_EQ(sink.SeenSender, &sender);
  EXPECT_EQ(FUi.Dialogs().size(), 1u);
}

TEST(UserInterfaceScope, NestedScopesRestoreInReverse) {
  IUserInterface* original = &UserInterface();
  TRecordingUserInterface outer;
  TRecordingUserInterface inner;
  {
    TUserInterfaceScope a(outer);
    {
      TUserInterfaceScope b(inner);
      MessageBeep(1);
    }
    MessageBeep(2);
  }
  EXPECT_EQ(&UserInterface(), original);
  EXPECT_EQ(inner.Beeps(), (std::vector<UINT>{1}));
  EXPECT_EQ(outer.Beeps(), (std::vector<UINT>{2}));
}

TEST_F(RecordingTest, WaitCursorResourceIsInstalledAndShown) {
  EXPECT_EQ(LoadCursorA(HInstance, "NOSUCHCURSOR"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);

  RegisterCursorResource(HInstance, "TUXWAIT");
  const HCURSOR wait = LoadCursorA(HInstance, "tuxwait");
  ASSERT_NE(wait, nullptr);
  EXPECT_EQ(LoadCursorA(HInstance, "TUXWAIT"), wait);
  EXPECT_EQ(LoadCursorA(nullptr, "TUXWAIT"), nullptr);  // not a system cursor

  const TCursor before = Screen->GetCursor();
  Screen->SetCursors(123, wait);
  Screen->SetCursor(123);
  Screen->SetCursor(before);
  EXPECT_EQ(FUi.CursorChanges(), (std::vector<TCursor>{123, before}));
  EXPECT_EQ(FUi.Events()[0].CursorName, "TUXWAIT");

  Screen->SetCursors(123, nullptr);
  EXPECT_EQ(Screen->GetCursors(123), LoadCursorA(nullptr, IDC_ARROW));
}

TEST_F(RecordingTest, ComputerNameFitsTheCallersBuffer) {
  FUi.SetComputerName("WS-KASA01");
  char buffer[16];
  DWORD size = sizeof buffer;
  ASSERT_NE(GetComputerNameA(buffer, &size), 0);
  EXPECT_EQ(size, 9u);
  EXPECT_STREQ(buffer, "WS-KASA01");

  char tiny[5];
  size = sizeof tiny;
  EXPECT_EQ(GetComputerNameA(tiny, &size), 0);
  EXPECT_EQ(size, 10u);
  EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);

  FUi.SetComputerName("");
  size = sizeof buffer;
  EXPECT_EQ(GetComputerNameA(buffer, &size), 0);
  EXPECT_STREQ(buffer, "");
}

TEST(HostComputerName, IsShortUpperCaseAndWithoutDomain) {
  const AnsiString name = HostComputerName();
  EXPECT_LE(name.Length(), 15);
  EXPECT_EQ(name, name.UpperCase());
  EXPECT_EQ(name.Pos("."), 0);
}

// ---- Console --------------------------------------------------------------------

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::unsetenv("TXLIB_DIALOG_ANSWER");
    ::unsetenv("TXLIB_DEBUG_OUTPUT");
    FNull = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(FNull, 0);
  }
  void TearDown() override { ::close(FNull); }

  int Show(TConsoleUserInterface& ui, const AnsiString& text, UINT flags) {
    TDialogRequest request;
    request.Text = text;
    request.Caption = "Bufor FML - pytanie";
    request.Flags = flags;
    return ui.ShowDialog(request);
  }

  std::ostringstream FOut;
  std::istringstream FIn{"no\n"};
  int FNull = -1;
};

TEST_F(ConsoleTest, WritesUtf8AndAnswersWithTheDefaultButton) {
  TConsoleUserInterface ui(FOut, FIn, FNull, false);
  const AnsiString text = "Pole X (id.=5): liczba wystąpień\r.\rUsunąć?"_ansi;
  EXPECT_EQ(Show(ui, text, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(FOut.str(),
            "=== Bufor FML - pytanie (question) ===\n"
            "Pole X (id.=5): liczba wystąpień\n.\nUsunąć?\n"
            "(Yes / No) -> No\n");
}

TEST_F(ConsoleTest, PolicyPicksAButtonTheBoxShows) {
  TConsoleUserInterface ui(FOut, FIn, FNull, false);
  const ScopedEnv answer("TXLIB_DIALOG_ANSWER", "No");
  EXPECT_EQ(Show(ui, "a", MB_YESNO), IDNO);
  EXPECT_EQ(Show(ui, "b", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);  // no "No" here
  EXPECT_EQ(Show(ui, "c", MB_OK), IDOK);
}

TEST_F(ConsoleTest, AskWithoutTerminalNeverReads) {
  TConsoleUserInterface ui(FOut, FIn, FNull, false);
  const ScopedEnv answer("TXLIB_DIALOG_ANSWER", "ask");
  EXPECT_EQ(Show(ui, "a", MB_YESNOCANCEL), IDYES);
  std::string untouched;
  std::getline(FIn, untouched);
  EXPECT_EQ(untouched, "no");
}

TEST_F(ConsoleTest, DebugOutputOnlyWhenAsked) {
  TConsoleUserInterface ui(FOut, FIn, FNull, false);
  ui.DebugOutput("Cache hit: PAY");
  EXPECT_EQ(FOut.str(), "");
  const ScopedEnv debug("TXLIB_DEBUG_OUTPUT", "1");
  ui.DebugOutput("Zażółć"_ansi);
  EXPECT_EQ(FOut.str(), "[debug] Zażółć\n");
}

// The default seam, as a program without a terminal meets it: stdin from
// /dev/null, the box on stderr, the answer at once.
TEST_F(ConsoleTest, DefaultSeamDoesNotBlockWithoutTerminal) {
  const int savedStdin = ::dup(STDIN_FILENO);
  ASSERT_GE(savedStdin, 0);
  ASSERT_GE(::dup2(FNull, STDIN_FILENO), 0);
  const ScopedEnv answer("TXLIB_DIALOG_ANSWER", "ask");
  ::testing::internal::CaptureStderr();
  const int result = MessageBoxA(nullptr, "Zapisać mimo to?"_ansi.c_str(), "Ostrzeżenie"_ansi.c_str(),
                                 MB_OKCANCEL | MB_ICONWARNING);
  const std::string err = ::testing::internal::GetCapturedStderr();
  ::dup2(savedStdin, STDIN_FILENO);
  ::close(savedStdin);
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(err, "=== Ostrzeżenie (warning) ===\nZapisać mimo to?\n(OK / Cancel) -> OK\n");
}

}  // namespace
}  // namespace Tx
