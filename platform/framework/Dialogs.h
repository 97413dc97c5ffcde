// The user-interface seam: modal message boxes, beeps, the screen cursor,
// the debugger output channel and the computer name, under the Windows and
// framework names the library calls (MessageBoxA, MessageBeep, ShowMessage,
// Application->MessageBox, Application->ShowException, LoadCursorA,
// Screen->SetCursor, OutputDebugStringA, GetComputerNameA).
//
// Every one of them goes through the IUserInterface installed for the
// process. Two implementations come with it:
//   - TConsoleUserInterface (installed by default): writes dialogs to stderr
//     in UTF-8 and answers them from a policy without waiting for anyone;
//   - TRecordingUserInterface, for tests: keeps every dialog, beep, cursor
//     change and debugger line in order and answers from a queue.
// TUserInterfaceScope installs one for the lifetime of a scope.
//
// The library runs in one user-interface thread; the seam takes no locks
// beyond making the switch of implementation itself safe.
#pragma once

#include <deque>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/framework/AnsiString.h"
#include "platform/framework/Classes.h"
#include "platform/framework/WinTypes.h"

namespace Tx {

// ---- Message box flags and answers (Windows values) ---------------------------

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_CANCELTRYCONTINUE = 0x6;
constexpr UINT MB_TYPEMASK = 0xF;

constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONSTOP = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONASTERISK = 0x40;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_ICONMASK = 0xF0;

constexpr UINT MB_DEFBUTTON1 = 0x000;
constexpr UINT MB_DEFBUTTON2 = 0x100;
constexpr UINT MB_DEFBUTTON3 = 0x200;
constexpr UINT MB_DEFBUTTON4 = 0x300;
constexpr UINT MB_DEFMASK = 0xF00;

constexpr UINT MB_APPLMODAL = 0x0000;
constexpr UINT MB_SYSTEMMODAL = 0x1000;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr UINT MB_MODEMASK = 0x3000;
constexpr UINT MB_HELP = 0x4000;
constexpr UINT MB_SETFOREGROUND = 0x10000;
constexpr UINT MB_TOPMOST = 0x40000;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

// The buttons a box with these flags shows, in order (IDOK, IDCANCEL, ...).
std::vector<int> DialogButtons(UINT Flags);
// The button that is the box's default (MB_DEFBUTTONn; the first button
// when n is beyond the buttons shown).
int DefaultDialogButton(UINT Flags);
// "OK", "Cancel", "Yes", ... for an answer; "?" for an unknown one.
const char* DialogButtonName(int Id);

// ---- Cursors --------------------------------------------------------------------

// A screen cursor number: the framework's standard cursors are 0 and
// negative, application cursors are registered at positive numbers.
using TCursor = short;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crMultiDrag = -16;
constexpr TCursor crSQLWait = -17;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSize = -22;
constexpr TCursor crSizeAll = -22;

// Resource names of the system's cursors, for LoadCursorA(nullptr, IDC_...).
LPCSTR MAKEINTRESOURCEA(WORD Id) noexcept;
bool IS_INTRESOURCE(LPCSTR Name) noexcept;
extern const LPCSTR IDC_ARROW;
extern const LPCSTR IDC_IBEAM;
extern const LPCSTR IDC_WAIT;
extern const LPCSTR IDC_CROSS;
extern const LPCSTR IDC_UPARROW;
extern const LPCSTR IDC_SIZENWSE;
extern const LPCSTR IDC_SIZENESW;
extern const LPCSTR IDC_SIZEWE;
extern const LPCSTR IDC_SIZENS;
extern const LPCSTR IDC_SIZEALL;
extern const LPCSTR IDC_NO;
extern const LPCSTR IDC_HAND;
extern const LPCSTR IDC_APPSTARTING;
extern const LPCSTR IDC_HELP;

// The name a cursor handle was loaded under ("TUXWAIT", "IDC_WAIT"), empty
// for nullptr or an unknown handle.
AnsiString CursorHandleName(HCURSOR Handle);

// ---- The seam -------------------------------------------------------------------

// Which framework or Windows call asked for a dialog.
enum class TDialogSource : unsigned char {
  dsMessageBox,             // MessageBoxA
  dsApplicationMessageBox,  // Application->MessageBox
  dsShowMessage,            // ShowMessage
  dsShowException,          // Application->ShowException
};

struct TDialogRequest {
  TDialogSource Source = TDialogSource::dsMessageBox;
  HWND Owner = nullptr;
  AnsiString Text;     // Windows-1250
  AnsiString Caption;  // Windows-1250
  UINT Flags = MB_OK;
};

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;
  // Shows a modal box and returns the button chosen (IDOK, IDYES, ...).
  virtual int ShowDialog(const TDialogRequest& Request) = 0;
  // MessageBeep's sound type (0xFFFFFFFF for the simple beep).
  virtual void Beep(UINT Type) = 0;
  // The screen cursor became Cursor, shown with Handle (nullptr: none).
  virtual void CursorChanged(TCursor Cursor, HCURSOR Handle) = 0;
  // One OutputDebugStringA call, its bytes unchanged.
  virtual void DebugOutput(const AnsiString& Text) = 0;
  // The machine's name as GetComputerNameA reports it; empty when unknown.
  virtual AnsiString ComputerName() = 0;
};

// The implementation in use (the console one unless a scope installed another).
IUserInterface& UserInterface();

// Installs Ui for its lifetime and puts the previous one back afterwards.
// Scopes nest; they must end in the reverse order of their start. The
// scope does not own Ui, which must outlive it.
class TUserInterfaceScope {
 public:
  explicit TUserInterfaceScope(IUserInterface& Ui) noexcept;
  ~TUserInterfaceScope();
  TUserInterfaceScope(const TUserInterfaceScope&) = delete;
  TUserInterfaceScope& operator=(const TUserInterfaceScope&) = delete;

 private:
  IUserInterface* FPrevious;
};

// The host's name in the form Windows gives a computer name: the part
// before the first dot, upper case, at most 15 characters; empty when the
// system cannot tell it.
AnsiString HostComputerName();

// ---- Console implementation -------------------------------------------------------

// Writes each dialog to an output stream (stderr by default) as UTF-8 and
// answers it at once from the policy in TXLIB_DIALOG_ANSWER, read at every
// dialog:
//   unset, empty or "default"      the box's default button;
//   ok, cancel, yes, no, abort, retry, ignore, tryagain, continue
//                                  that button when the box shows it, else
//                                  the default button;
//   ask                            prompt on the input when it is a terminal
//                                  (a line starting with the button's first
//                                  letter or its name), else the default.
// Nothing ever waits for input that is not a terminal. Debugger output is
// written (prefixed "[debug] ") only when TXLIB_DEBUG_OUTPUT is set to
// something other than "0" or SetDebugOutput(true) was called. Beeps ring
// the terminal bell when the output is a terminal.
class TConsoleUserInterface : public IUserInterface {
 public:
  // stderr and stdin.
  TConsoleUserInterface();
  // Out and In are not owned; InputFd is the descriptor tested for a terminal.
  TConsoleUserInterface(std::ostream& Out, std::istream& In, int InputFd, bool OutputIsTerminal);

  int ShowDialog(const TDialogRequest& Request) override;
  void Beep(UINT Type) override;
  void CursorChanged(TCursor Cursor, HCURSOR Handle) override;
  void DebugOutput(const AnsiString& Text) override;
  AnsiString ComputerName() override;

  void SetDebugOutput(bool Enabled) noexcept { FDebugOutput = Enabled; }

 private:
  int Answer(const TDialogRequest& request);
  int AskOnTerminal(const TDialogRequest& request);
  bool DebugOutputEnabled() const;

  std::ostream* FOut;
  std::istream* FIn;
  int FInputFd;
  bool FOutputIsTerminal;
  bool FDebugOutput = false;
};

// ---- Recording implementation ---------------------------------------------------

struct TUiEvent {
  enum TKind : unsigned char { ueDialog, ueBeep, ueCursor, ueDebugOutput };
  TKind Kind = ueDialog;
  TDialogRequest Dialog;  // ueDialog
  int Answer = 0;         // ueDialog: the answer given
  UINT BeepType = 0;      // ueBeep
  TCursor Cursor = 0;     // ueCursor
  AnsiString CursorName;  // ueCursor: CursorHandleName of the handle shown
  AnsiString Text;        // ueDebugOutput
};

struct TRecordedDialog {
  TDialogRequest Request;
  int Answer = 0;
};

class TRecordingUserInterface : public IUserInterface {
 public:
  int ShowDialog(const TDialogRequest& Request) override;
  void Beep(UINT Type) override;
  void CursorChanged(TCursor Cursor, HCURSOR Handle) override;
  void DebugOutput(const AnsiString& Text) override;
  AnsiString ComputerName() override { return FComputerName; }

  // Answers for the next dialogs, first queued first used.
  void QueueAnswer(int Id) { FAnswers.push_back(Id); }
  // The answer when the queue is empty; 0 (the initial value) means the
  // box's default button.
  void SetDefaultAnswer(int Id) noexcept { FDefaultAnswer = Id; }
  // Initially HostComputerName().
  void SetComputerName(const AnsiString& Name) { FComputerName = Name; }

  const std::vector<TUiEvent>& Events() const noexcept { return FEvents; }
  std::vector<TRecordedDialog> Dialogs() const;
  std::vector<UINT> Beeps() const;
  std::vector<TCursor> CursorChanges() const;
  std::vector<AnsiString> DebugLines() const;
  std::size_t PendingAnswers() const noexcept { return FAnswers.size(); }
  // Forgets the events and the queued answers.
  void Clear() noexcept;

 private:
  std::vector<TUiEvent> FEvents;
  std::deque<int> FAnswers;
  int FDefaultAnswer = 0;
  AnsiString FComputerName = HostComputerName();
};

// ---- Windows functions ------------------------------------------------------------

// A modal message box; returns the button chosen. Null texts show as empty.
int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
// Plays a system sound; always succeeds (returns nonzero).
BOOL MessageBeep(UINT uType);
// Sends the text to the debugger output channel.
void OutputDebugStringA(LPCSTR lpOutputString);
// Copies the computer name and its zero byte into lpBuffer, whose size in
// characters (zero byte included) *nSize gives. On success returns nonzero
// and sets *nSize to the length without the zero byte. When the buffer is
// too small, or the name is unknown, returns 0, sets *nSize to the size
// needed (zero byte included) and the last error to ERROR_BUFFER_OVERFLOW
// or ERROR_FILE_NOT_FOUND.
BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;

// Loads a cursor: with hInstance nullptr one of the system's IDC_* cursors,
// else a cursor resource of that module registered by name (compared
// case-insensitively) or by number. Returns nullptr and sets the last error
// to ERROR_RESOURCE_NAME_NOT_FOUND when there is none. Cursors are never
// released; the same name gives the same handle.
HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
// Makes a cursor resource of Module available to LoadCursorA, as linking a
// resource file does on Windows; registering a name twice keeps one cursor.
void RegisterCursorResource(HINSTANCE Module, const AnsiString& Name);

// The module of the running program and its libraries (one module here).
extern const HINSTANCE HInstance;

DWORD GetLastError() noexcept;
void SetLastError(DWORD dwErrCode) noexcept;
DWORD GetCurrentProcessId() noexcept;
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

// ---- Framework objects --------------------------------------------------------------

// The framework's screen: the current cursor and the table of cursors.
class TScreen {
 public:
  TScreen();
  TCursor GetCursor() const noexcept { return FCursor; }
  // Changes the cursor shown; a change is reported to the seam.
  void SetCursor(TCursor Value);
  // The handle at Index; the default cursor's handle when none is there.
  HCURSOR GetCursors(int Index) const;
  // Installs Handle at Index; nullptr removes an application cursor.
  void SetCursors(int Index, HCURSOR Handle);

 private:
  TCursor FCursor = crDefault;
  std::vector<std::pair<int, HCURSOR>> FCursors;
};

// The framework's application object: its message box and exception handler.
class TApplication {
 public:
  TApplication();
  // A message box owned by the application (caption as given).
  int MessageBox(const AnsiString& Text, const AnsiString& Caption, int Flags = MB_OK);
  // An error box for E: the message with a period appended unless it ends in
  // '.' or a byte below it, the application's title as caption, OK button
  // and error icon.
  void ShowException(const Exception& E);
  // For use inside a catch block: passes the exception being handled to
  // OnException when set, else to ShowException; EAbort is ignored and an
  // exception of another kind is shown with its what() text.
  void HandleException(TObject* Sender);

  const AnsiString& Title() const noexcept { return FTitle; }
  void SetTitle(const AnsiString& Value) { FTitle = Value; }
  HWND Handle() const noexcept { return nullptr; }

  TClosure<void(TObject* Sender, const Exception& E)> OnException;

 private:
  AnsiString FTitle;
};

// ShowMessage: a box with the text, the application's title and an OK button.
void ShowMessage(const AnsiString& Msg);

// Screen and Application are the framework's global objects, reached as
// Screen->SetCursor(...) and Application->MessageBox(...).
struct TScreenRef {
  TScreen* operator->() const;
  TScreen& operator*() const { return *operator->(); }
};
struct TApplicationRef {
  TApplication* operator->() const;
  TApplication& operator*() const { return *operator->(); }
};
inline constexpr TScreenRef Screen{};
inline constexpr TApplicationRef Application{};

}  // namespace Tx
