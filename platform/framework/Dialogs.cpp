#include "platform/framework/Dialogs.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>

namespace Tx {

// Handles point at these; only this unit sees inside them.
struct HCURSOR__ {
  AnsiString Name;
};
struct HINSTANCE__ {
  int Unused;
};

namespace {

HINSTANCE__ gProgramModule{0};

thread_local DWORD gLastError = ERROR_SUCCESS;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Dialog texts use CR LF or a lone CR for line breaks; the console wants LF.
std::string ConsoleText(const AnsiString& text) {
  std::string utf8 = AnsiToUtf8(text);
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '\r') {
      out += '\n';
      if (i + 1 < utf8.size() && utf8[i + 1] == '\n') ++i;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

const char* IconWord(UINT flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR: return " (error)";
    case MB_ICONQUESTION: return " (question)";
    case MB_ICONWARNING: return " (warning)";
    case MB_ICONINFORMATION: return " (information)";
    default: return "";
  }
}

int ButtonFromWord(const std::string& word) {
  static const std::pair<const char*, int> kWords[] = {
      {"ok", IDOK},       {"cancel", IDCANCEL},     {"abort", IDABORT},
      {"retry", IDRETRY}, {"ignore", IDIGNORE},     {"yes", IDYES},
      {"no", IDNO},       {"tryagain", IDTRYAGAIN}, {"continue", IDCONTINUE},
  };
  for (const auto& [name, id] : kWords) {
    if (word == name) return id;
  }
  return 0;
}

bool Contains(const std::vector<int>& ids, int id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// ---- Cursor resources --------------------------------------------------------

class CursorTable {
 public:
  CursorTable() {
    static const std::pair<WORD, const char*> kSystem[] = {
        {32512, "IDC_ARROW"},    {32513, "IDC_IBEAM"},   {32514, "IDC_WAIT"},
        {32515, "IDC_CROSS"},    {32516, "IDC_UPARROW"}, {32642, "IDC_SIZENWSE"},
        {32643, "IDC_SIZENESW"}, {32644, "IDC_SIZEWE"},  {32645, "IDC_SIZENS"},
        {32646, "IDC_SIZEALL"},  {32648, "IDC_NO"},      {32649, "IDC_HAND"},
        {32650, "IDC_APPSTARTING"}, {32651, "IDC_HELP"},
    };
    for (const auto& [id, name] : kSystem) Add(nullptr, "#" + std::to_string(id), name);
  }

  HCURSOR Find(HINSTANCE module, const std::string& key) {
    const std::lock_guard<std::mutex> lock(FMutex);
    const auto it = FCursors.find({module, key});
    return it == FCursors.end() ? nullptr : it->second.get();
  }

  HCURSOR Add(HINSTANCE module, const std::string& key, const AnsiString& name) {
    const std::lock_guard<std::mutex> lock(FMutex);
    auto& slot = FCursors[{module, key}];
    if (!slot) slot = std::make_unique<HCURSOR__>(HCURSOR__{name});
    return slot.get();
  }

  AnsiString NameOf(HCURSOR handle) {
    const std::lock_guard<std::mutex> lock(FMutex);
    for (const auto& entry : FCursors) {
      if (entry.second.get() == handle) return entry.second->Name;
    }
    return AnsiString();
  }

 private:
  std::mutex FMutex;
  std::map<std::pair<HINSTANCE, std::string>, std::unique_ptr<HCURSOR__>> FCursors;
};

CursorTable& Cursors() {
  static CursorTable table;
  return table;
}

// Resource names compare case-insensitively; numbered ones are "#<number>".
std::string ResourceKey(LPCSTR name) {
  if (IS_INTRESOURCE(name)) {
    return "#" + std::to_string(reinterpret_cast<std::uintptr_t>(name));
  }
  return AnsiString(name).UpperCase().str();
}

// ---- The installed implementation -------------------------------------------

std::atomic<IUserInterface*> gInstalled{nullptr};

IUserInterface& DefaultUserInterface() {
  static TConsoleUserInterface console;
  return console;
}

}  // namespace

// ---- Buttons -------------------------------------------------------------------

std::vector<int> DialogButtons(UINT Flags) {
  switch (Flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE: return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default: return {IDOK};
  }
}

int DefaultDialogButton(UINT Flags) {
  const std::vector<int> buttons = DialogButtons(Flags);
  const std::size_t index = (Flags & MB_DEFMASK) >> 8;
  return index < buttons.size() ? buttons[index] : buttons.front();
}

const char* DialogButtonName(int Id) {
  switch (Id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDTRYAGAIN: return "Try Again";
    case IDCONTINUE: return "Continue";
    default: return "?";
  }
}

// ---- Cursor names --------------------------------------------------------------

LPCSTR MAKEINTRESOURCEA(WORD Id) noexcept {
  return reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(Id));
}

bool IS_INTRESOURCE(LPCSTR Name) noexcept {
  return (reinterpret_cast<std::uintptr_t>(Name) >> 16) == 0;
}

const LPCSTR IDC_ARROW = MAKEINTRESOURCEA(32512);
const LPCSTR IDC_IBEAM = MAKEINTRESOURCEA(32513);
const LPCSTR IDC_WAIT = MAKEINTRESOURCEA(32514);
const LPCSTR IDC_CROSS = MAKEINTRESOURCEA(32515);
const LPCSTR IDC_UPARROW = MAKEINTRESOURCEA(32516);
const LPCSTR IDC_SIZENWSE = MAKEINTRESOURCEA(32642);
const LPCSTR IDC_SIZENESW = MAKEINTRESOURCEA(32643);
const LPCSTR IDC_SIZEWE = MAKEINTRESOURCEA(32644);
const LPCSTR IDC_SIZENS = MAKEINTRESOURCEA(32645);
const LPCSTR IDC_SIZEALL = MAKEINTRESOURCEA(32646);
const LPCSTR IDC_NO = MAKEINTRESOURCEA(32648);
const LPCSTR IDC_HAND = MAKEINTRESOURCEA(32649);
const LPCSTR IDC_APPSTARTING = MAKEINTRESOURCEA(32650);
const LPCSTR IDC_HELP = MAKEINTRESOURCEA(32651);

AnsiString CursorHandleName(HCURSOR Handle) {
  return Handle ? Cursors().NameOf(Handle) : AnsiString();
}

// ---- Installing ------------------------------------------------------------------

IUserInterface& UserInterface() {
  IUserInterface* installed = gInstalled.load();
  return installed ? *installed : DefaultUserInterface();
}

TUserInterfaceScope::TUserInterfaceScope(IUserInterface& Ui) noexcept
    : FPrevious(gInstalled.exchange(&Ui)) {}

TUserInterfaceScope::~TUserInterfaceScope() { gInstalled.store(FPrevious); }

AnsiString HostComputerName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return AnsiString();
  std::string name(host);
  name = name.substr(0, name.find('.'));
  if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
  return AnsiString(name).UpperCase();
}

// ---- Console -----------------------------------------------------------------------

TConsoleUserInterface::TConsoleUserInterface()
    : TConsoleUserInterface(std::cerr, std::cin, STDIN_FILENO, ::isatty(STDERR_FILENO) == 1) {}

TConsoleUserInterface::TConsoleUserInterface(std::ostream& Out, std::istream& In, int InputFd,
                                             bool OutputIsTerminal)
    : FOut(&Out), FIn(&In), FInputFd(InputFd), FOutputIsTerminal(OutputIsTerminal) {}

int TConsoleUserInterface::ShowDialog(const TDialogRequest& Request) {
  std::ostream& out = *FOut;
  out << "=== " << ConsoleText(Request.Caption) << IconWord(Request.Flags) << " ===\n"
      << ConsoleText(Request.Text) << '\n';
  const int answer = Answer(Request);
  out << '(';
  const std::vector<int> buttons = DialogButtons(Request.Flags);
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    out << (i ? " / " : "") << DialogButtonName(buttons[i]);
  }
  out << ") -> " << DialogButtonName(answer) << '\n' << std::flush;
  return answer;
}

int TConsoleUserInterface::Answer(const TDialogRequest& request) {
  const std::vector<int> buttons = DialogButtons(request.Flags);
  const int fallback = DefaultDialogButton(request.Flags);
  const char* policy = std::getenv("TXLIB_DIALOG_ANSWER");
  const std::string word = Lower(policy ? policy : "");
  if (word.empty() || word == "default") return fallback;
  if (word == "ask") return AskOnTerminal(request);
  const int chosen = ButtonFromWord(word);
  return Contains(buttons, chosen) ? chosen : fallback;
}

// Asks only a person at a terminal: anything else would hang a program run
// from a script or a service.
int TConsoleUserInterface::AskOnTerminal(const TDialogRequest& request) {
  const std::vector<int> buttons = DialogButtons(request.Flags);
  const int fallback = DefaultDialogButton(request.Flags);
  if (::isatty(FInputFd) != 1) return fallback;
  for (int attempt = 0; attempt < 3; ++attempt) {
    *FOut << "Answer [" << DialogButtonName(fallback) << "]: " << std::flush;
    std::string line;
    if (!std::getline(*FIn, line)) return fallback;
    const std::string reply = Lower(line.substr(0, line.find_first_of(" \t\r")));
    if (reply.empty()) return fallback;
    for (int id : buttons) {
      const std::string name = Lower(DialogButtonName(id));
      if (reply == name || (reply.size() == 1 && name[0] == reply[0])) return id;
    }
  }
  return fallback;
}

void TConsoleUserInterface::Beep(UINT /*Type*/) {
  if (FOutputIsTerminal) *FOut << '\a' << std::flush;
}

void TConsoleUserInterface::CursorChanged(TCursor /*Cursor*/, HCURSOR /*Handle*/) {}

void TConsoleUserInterface::DebugOutput(const AnsiString& Text) {
  if (!DebugOutputEnabled()) return;
  std::string line = ConsoleText(Text);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  *FOut << "[debug] " << line << '\n' << std::flush;
}

bool TConsoleUserInterface::DebugOutputEnabled() const {
  if (FDebugOutput) return true;
  const char* flag = std::getenv("TXLIB_DEBUG_OUTPUT");
  return flag != nullptr && *flag != '\0' && std::strcmp(flag, "0") != 0;
}

AnsiString TConsoleUserInterface::ComputerName() { return HostComputerName(); }

// ---- Recording ---------------------------------------------------------------------

int TRecordingUserInterface::ShowDialog(const TDialogRequest& Request) {
  int answer = FDefaultAnswer ? FDefaultAnswer : DefaultDialogButton(Request.Flags);
  if (!FAnswers.empty()) {
    answer = FAnswers.front();
    FAnswers.pop_front();
  }
  TUiEvent event;
  event.Kind = TUiEvent::ueDialog;
  event.Dialog = Request;
  event.Answer = answer;
  FEvents.push_back(std::move(event));
  return answer;
}

void TRecordingUserInterface::Beep(UINT Type) {
  TUiEvent event;
  event.Kind = TUiEvent::ueBeep;
  event.BeepType = Type;
  FEvents.push_back(std::move(event));
}

void TRecordingUserInterface::CursorChanged(TCursor Cursor, HCURSOR Handle) {
  TUiEvent event;
  event.Kind = TUiEvent::ueCursor;
  event.Cursor = Cursor;
  event.CursorName = CursorHandleName(Handle);
  FEvents.push_back(std::move(event));
}

void TRecordingUserInterface::DebugOutput(const AnsiString& Text) {
  TUiEvent event;
  event.Kind = TUiEvent::ueDebugOutput;
  event.Text = Text;
  FEvents.push_back(std::move(event));
}

std::vector<TRecordedDialog> TRecordingUserInterface::Dialogs() const {
  std::vector<TRecordedDialog> dialogs;
  for (const TUiEvent& e : FEvents) {
    if (e.Kind == TUiEvent::ueDialog) dialogs.push_back({e.Dialog, e.Answer});
  }
  return dialogs;
}

std::vector<UINT> TRecordingUserInterface::Beeps() const {
  std::vector<UINT> beeps;
  for (const TUiEvent& e : FEvents) {
    if (e.Kind == TUiEvent::ueBeep) beeps.push_back(e.BeepType);
  }
  return beeps;
}

std::vector<TCursor> TRecordingUserInterface::CursorChanges() const {
  std::vector<TCursor> cursors;
  for (const TUiEvent& e : FEvents) {
    if (e.Kind == TUiEvent::ueCursor) cursors.push_back(e.Cursor);
  }
  return cursors;
}

std::vector<AnsiString> TRecordingUserInterface::DebugLines() const {
  std::vector<AnsiString> lines;
  for (const TUiEvent& e : FEvents) {
    if (e.Kind == TUiEvent::ueDebugOutput) lines.push_back(e.Text);
  }
  return lines;
}

void TRecordingUserInterface::Clear() noexcept {
  FEvents.clear();
  FAnswers.clear();
}

// ---- Windows functions ---------------------------------------------------------------

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  TDialogRequest request;
  request.Source = TDialogSource::dsMessageBox;
  request.Owner = hWnd;
  request.Text = AnsiString(lpText);
  // Windows titles a box without caption "Error".
  request.Caption = lpCaption ? AnsiString(lpCaption) : AnsiString("Error");
  request.Flags = uType;
  return UserInterface().ShowDialog(request);
}

BOOL MessageBeep(UINT uType) {
  UserInterface().Beep(uType);
  return 1;
}

void OutputDebugStringA(LPCSTR lpOutputString) {
  UserInterface().DebugOutput(AnsiString(lpOutputString));
}

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
  if (nSize == nullptr) {
    SetLastError(87);  // ERROR_INVALID_PARAMETER
    return 0;
  }
  const AnsiString name = UserInterface().ComputerName();
  if (name.IsEmpty()) {
    // Callers that ignore the result still find an empty text.
    if (lpBuffer != nullptr && *nSize > 0) lpBuffer[0] = '\0';
    *nSize = 1;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  const auto needed = static_cast<DWORD>(name.Length() + 1);
  if (lpBuffer == nullptr || *nSize < needed) {
    *nSize = needed;
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  std::memcpy(lpBuffer, name.c_str(), needed);
  *nSize = needed - 1;
  return 1;
}

HCURSOR LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
  HCURSOR cursor = lpCursorName ? Cursors().Find(hInstance, ResourceKey(lpCursorName)) : nullptr;
  if (cursor == nullptr) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return cursor;
}

void RegisterCursorResource(HINSTANCE Module, const AnsiString& Name) {
  Cursors().Add(Module, ResourceKey(Name.c_str()), Name);
}

const HINSTANCE HInstance = &gProgramModule;

DWORD GetLastError() noexcept { return gLastError; }
void SetLastError(DWORD dwErrCode) noexcept { gLastError = dwErrCode; }
DWORD GetCurrentProcessId() noexcept { return static_cast<DWORD>(::getpid()); }

// ---- Screen ----------------------------------------------------------------------------

TScreen::TScreen() {
  const std::pair<TCursor, LPCSTR> kStandard[] = {
      {crArrow, IDC_ARROW},         {crIBeam, IDC_IBEAM},       {crHourGlass, IDC_WAIT},
      {crCross, IDC_CROSS},         {crUpArrow, IDC_UPARROW},   {crSizeNWSE, IDC_SIZENWSE},
      {crSizeNESW, IDC_SIZENESW},   {crSizeWE, IDC_SIZEWE},     {crSizeNS, IDC_SIZENS},
      {crSizeAll, IDC_SIZEALL},     {crNo, IDC_NO},             {crHandPoint, IDC_HAND},
      {crAppStart, IDC_APPSTARTING}, {crHelp, IDC_HELP},
  };
  for (const auto& [index, name] : kStandard) FCursors.emplace_back(index, LoadCursorA(nullptr, name));
}

void TScreen::SetCursor(TCursor Value) {
  if (Value == FCursor) return;
  FCursor = Value;
  UserInterface().CursorChanged(Value, Value == crNone ? nullptr : GetCursors(Value));
}

HCURSOR TScreen::GetCursors(int Index) const {
  for (const auto& [index, handle] : FCursors) {
    if (index == Index) return handle;
  }
  return LoadCursorA(nullptr, IDC_ARROW);
}

void TScreen::SetCursors(int Index, HCURSOR Handle) {
  const auto it = std::find_if(FCursors.begin(), FCursors.end(),
                               [Index](const auto& entry) { return entry.first == Index; });
  if (Handle == nullptr) {
    if (it != FCursors.end()) FCursors.erase(it);
  } else if (it != FCursors.end()) {
    it->second = Handle;
  } else {
    FCursors.emplace_back(Index, Handle);
  }
}

TScreen* TScreenRef::operator->() const {
  static TScreen screen;
  return &screen;
}

// ---- Application --------------------------------------------------------------------------

TApplication::TApplication() : FTitle(program_invocation_short_name) {}

int TApplication::MessageBox(const AnsiString& Text, const AnsiString& Caption, int Flags) {
  TDialogRequest request;
  request.Source = TDialogSource::dsApplicationMessageBox;
  request.Owner = Handle();
  request.Text = Text;
  request.Caption = Caption;
  request.Flags = static_cast<UINT>(Flags);
  return UserInterface().ShowDialog(request);
}

void TApplication::ShowException(const Exception& E) {
  AnsiString text = E.Message;
  if (!text.IsEmpty() && static_cast<unsigned char>(text[text.Length()]) > '.') text += '.';
  TDialogRequest request;
  request.Source = TDialogSource::dsShowException;
  request.Owner = Handle();
  request.Text = text;
  request.Caption = FTitle;
  request.Flags = MB_OK | MB_ICONSTOP;
  UserInterface().ShowDialog(request);
}

void TApplication::HandleException(TObject* Sender) {
  if (!std::current_exception()) return;
  try {
    throw;
  } catch (const EAbort&) {
    // Silent by design.
  } catch (const Exception& e) {
    if (OnException) {
      OnException(Sender, e);
    } else {
      ShowException(e);
    }
  } catch (const std::exception& e) {
    const Exception wrapped{AnsiString(e.what())};
    if (OnException) {
      OnException(Sender, wrapped);
    } else {
      ShowException(wrapped);
    }
  } catch (...) {
    ShowException(Exception(AnsiString("Unknown exception")));
  }
}

TApplication* TApplicationRef::operator->() const {
  static TApplication application;
  return &application;
}

void ShowMessage(const AnsiString& Msg) {
  TDialogRequest request;
  request.Source = TDialogSource::dsShowMessage;
  request.Owner = Application->Handle();
  request.Text = Msg;
  request.Caption = Application->Title();
  request.Flags = MB_OK;
  UserInterface().ShowDialog(request);
}

}  // namespace Tx
