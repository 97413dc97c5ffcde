// TxGlobal: the library's exceptions, the checks that turn ATMI and FML32
// error codes into them, the debug mode, the user log and the process-wide
// client.
//
// Every failure the library reports is one of the exception classes below.
// After each ATMI call the library runs CheckTperrno and after each FML32
// call CheckFerror; both raise with a composed Polish message when the
// middleware's error variable is set, and the exception takes over (and
// clears) the error variables it reports.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "platform/framework/AnsiString.h"
#include "platform/framework/Classes.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/Format.h"
#include "platform/session/TuxSession.h"

namespace Tx {

// Base of the library's own exceptions.
class ETxError : public Exception {
 public:
  explicit ETxError(const AnsiString& message) : Exception(message) {}
};

// An ATMI failure. Construction copies tperrno and tpurcode into Tperrno and
// Tpurcode and then sets both variables to 0.
class ETxTpError : public ETxError {
 public:
  explicit ETxTpError(const AnsiString& message);
  std::int32_t Tperrno = 0;
  std::int32_t Tpurcode = 0;
};

// A service that ended with TPFAIL. Tperrno is always 11 (TPESVCFAIL);
// ErrCode is the error code the service reported.
class ETxSvcFail : public ETxTpError {
 public:
  ETxSvcFail(const AnsiString& message, int errCode);
  std::int32_t ErrCode = 0;
};

// An FML32 failure. Construction copies Ferror32 into Ferror and then sets
// Ferror32 to 0.
class ETxFmlError : public ETxError {
 public:
  explicit ETxFmlError(const AnsiString& message);
  std::int32_t Ferror = 0;
};

// A buffer that does not keep its contract.
class ETxFbfrContractViolated : public ETxError {
 public:
  explicit ETxFbfrContractViolated(const AnsiString& message) : ETxError(message) {}
};

// A data set asked for records it does not have.
class ENoRecordSet : public EDatabaseError {
 public:
  explicit ENoRecordSet(const AnsiString& message) : EDatabaseError(message) {}
};

// The field id passed to CheckFerror when no field is concerned.
inline constexpr unsigned long NoFieldId = 4294967295UL;

// Returns when tperrno is 0; otherwise raises ETxTpError with
// "Błąd Tuxedo " + tpstrerror + tpstrerrordetail + CR + op. The detail text
// is added only when tperrordetail reports a detail (a value above 0): some
// engines answer -1 for none, and the text of that is not a detail.
void CheckTperrno(const AnsiString& op);

// Returns when Ferror32 is 0; otherwise raises ETxFmlError with
// "Błąd FML #<n>[: Pole <id>] - <Fstrerror32>[: op]". fieldId is NoFieldId
// when no field is concerned.
void CheckFerror(const AnsiString& op, unsigned long fieldId);

// The debug mode: non-zero (the default, 1) makes operation labels carry the
// source file and line of the check.
int GetDebugMode();
void SetDebugMode(int mode);

// True when every byte of the value is 0xFF (the middleware's "no value"
// pattern); a NaN with other bits is not bad.
bool BadFloat(float& value);
bool BadDouble(double& value);

// The label of an operation: "text [file.line]" in debug mode, the text
// alone otherwise. file may carry directories; only its last component is
// used. Call it through the OpLabel macro so that the caller's own file and
// line are passed.
AnsiString OpLabelAt(const AnsiString& text, const char* file, int line);
#define OpLabel(text) ::Tx::OpLabelAt((text), __FILE__, __LINE__)

// Code pages of the application server for TranslateString.
enum TTxTranslateType : unsigned char {
  txttMazovia,
  txttCSK,
  txttCyfromat,
  txttDHN,
  txttLatin2,
  txttIEA,
  txttLogic,
  txttMicrovex,
  txttISO8859,
  txttWindows,
  txttASCII,
  txttNone,
};

// The process-wide client. Only static members; never instantiated.
//
// It owns the one session server object of the process (TuxSession.h),
// makes sure the middleware session is open before work, runs the
// transactions with its time-out, unloads the field tables and converts
// Polish letters between Windows-1250 and the application server's code
// page. Everything here is for the application's one thread.
class TTxGlobalClient {
 public:
  TTxGlobalClient() = delete;

  // ---- The session server ----

  // Makes the session server object unless there is one: starts COM once
  // per process (CoInitialize, single-threaded apartment; undone when the
  // thread that started it ends, i.e. at process exit for the main thread),
  // then creates CLSID_QuorTuxSes for an in-process, local or remote server,
  // and once more for an in-process or local server only when that answer
  // is E_INVALIDARG. Raises Exception (the framework's base class)
  // "Klasa <QuorTuxSes> nie jest zarejestrowana !" when no object comes.
  static void CreateSession();
  // CreateSession(), then the object. The reference belongs to this class
  // and stays valid until DisposeSession(); callers do not release it.
  static ITuxSession* GetSession();
  // Releases the object; the next use makes a new one. COM stays started.
  static void DisposeSession() noexcept;

  // Asks the server to connect (its result is not looked at) and raises
  // ETxError "Brak połączenia z serwerem Tuxedo !" unless it then reports
  // itself connected.
  static void Connect();
  // The server's Terminate.
  static void Terminate();
  // The server's ReadEnv with the file name; its result is not looked at.
  static void ReadEnv(const AnsiString& FileName);
  // The server's EnvSection: the section of the environment file to read.
  static void SetEnvSection(const AnsiString& Value);
  static AnsiString GetEnvSection();

  // Seconds given to tpbegin; 0 (the default) for none. No server call.
  static void SetTpTimeOut(int Value);
  static int GetTpTimeOut();

  // The server's Hash of Text: the digest into Hashed, the server's number
  // as the result (0 when the call failed). Clears the error variables.
  static int ArdoHash(const AnsiString& Text, AnsiString& Hashed);
  // The server's CheckName of Name: 0 for a valid name; -1 when the server
  // gave no result. Clears the error variables.
  static int ArdoCheckName(const AnsiString& Name);

  // Transactions. Each runs Connect() first (so it raises ETxError without
  // a session), then tpbegin(time-out, 0), tpcommit(0), tpabort(0) or
  // tpgetlev(); a failure with tperrno set raises ETxTpError through
  // CheckTperrno with "Rozpoczęcie transakcji", "Zatwierdzenie transakcji",
  // "Wycofanie transakcji" or "Sprawdzenie transakcji". IsTransaction is
  // true when the level is not 0.
  static void BeginTransaction();
  static void CommitTransaction();
  static void AbortTransaction();
  static bool IsTransaction();

  // Releases both field tables (name to id, id to name) so that they are
  // read again on next use; ETxFmlError when FML32 reports a failure.
  static void UnloadFieldTables();

  // Sets tperrno, tpurcode and Ferror32 to 0, in that order.
  static void ClearTpErrors();

  // Formats pattern with args[0..high] and appends one line to the user log:
  // the local date and time (DateTimeToStr) immediately followed by the text.
  // When the log cannot be opened the user hears three beeps and sees a
  // message box; nothing is raised and the next call tries again.
  static void UserLog(const AnsiString& pattern, const TVarRec* args, int high);

  // Where the user log is written. The default name is "C:\ULog_BCB.log",
  // which an application on this system will want to replace. Changing the
  // path closes a log that is open.
  static void SetUserLogPath(const AnsiString& path);
  static AnsiString GetUserLogPath();

  // Converts the Polish letters of a zero-terminated text (or of an
  // AnsiString, in place) between the Windows code page and the application
  // server's (GetTranslateType, asked once per call): toServer true for text
  // going into a buffer, false for text read from one.
  //   txttNone, txttWindows: nothing changes;
  //   txttISO8859: every byte goes through a permutation of the 256 byte
  //     values (Windows-1250 <-> ISO-8859-2, the ten characters either
  //     lacks swapped with the other's free positions); from the server is
  //     its inverse, so nothing is ever lost;
  //   the others: each of the 18 Polish letters (Ą Ć Ę Ł Ń Ó Ś Ź Ż ą ć ę ł
  //     ń ó ś ź ż) becomes its code in that page and back; other bytes stay.
  //     txttASCII drops the diacritics towards the server and changes
  //     nothing from it.
  // A code-page value the table does not know changes nothing.
  static void TranslateString(unsigned char* text, bool toServer);
  static void TranslateString(AnsiString& text, bool toServer);
  // The server's AppServerCodePage (its low byte as the type).
  static void SetTranslateType(TTxTranslateType value);
  static TTxTranslateType GetTranslateType();
};

// Reads one property of the session server. A failing read goes through the
// framework's COM check dialog (which may raise) and otherwise gives the
// empty value, so the caller goes on. Use it through TX_READ_SESSION, which
// names the property and the caller's line in the dialog.
template <class T>
T ReadSessionProperty(HRESULT (ITuxSession::*getter)(T*), const char* expression, const char* file,
                      int line) {
  T value{};
  const HRESULT hr = (TTxGlobalClient::GetSession()->*getter)(&value);
  if (SUCCEEDED(hr)) return value;
  ComCheckDialog(hr, expression, file, line);
  return T{};
}
#define TX_READ_SESSION(getter)                                                          \
  ::Tx::ReadSessionProperty(&::Tx::ITuxSession::getter, "GetSession()->" #getter "()", \
                            __FILE__, __LINE__)

// How the session server joins the domain; passed to its AuthKind as the
// same number.
enum TTxAuthKind : unsigned char {
  txakNone,    // no credentials
  txakTPINIT,  // the identity of a TPINIT (ClientName, UserName, Passwd, Data)
  txakQuor,    // the TPINIT join, then the domain's login service
};

// OnBroadcast(Sender, data, len, flags): the message as Windows-1250 text
// (never nullptr; "" for a message without data), its length and flags as
// the middleware gave them. The text is valid while the handler runs.
using TTxBroadcastEvent = TClosure<void(TObject* Sender, char* Data, long Len, long Flags)>;

class TTuxSession;

// The component through which an application configures and opens the
// connection, on a form or in code. It keeps almost nothing itself: the
// identity, authentication and routing settings are the session server's
// (reached through a TTuxSession wrapper that each TTxClient owns), the
// time-out, translation type and environment section are TTxGlobalClient's.
// Several TTxClient objects therefore show the same settings and the same
// connection.
//
// Failures of the forwarding members are those of TTxGlobalClient,
// unchanged. Setting Connected turns them into EPropertyError with the same
// message; Loaded shows them in a message box at design time and raises
// them as Exception at run time. Failing reads of server properties go
// through the COM check dialog (TuxSessionWrapper.h).
class TTxClient : public TComponent {
 public:
  // Creates the wrapper (linking it to the session server at once, also at
  // design time) and sets TpTimeOut 0, Authenticate txakNone and UseRouter
  // false. EOleSysError when the session server class cannot be created.
  explicit TTxClient(TComponent* AOwner);
  // Frees the wrapper; the middleware session stays as it is.
  ~TTxClient() override;

  // The published properties in the order a form file holds them.
  static constexpr std::array<const char*, 23> PublishedProperties = {
      "TpTimeOut",      "Connected",       "Authenticate",   "UseRouter",
      "ClientName",     "UserName",        "Passwd",         "Data",
      "QuorAppCode",    "QuorAppLabel",    "QuorAppVersion", "QuorAuthDll",
      "QuorLoginFlags", "QuorInfoLogin",   "QuorInfoUnit",   "QuorInfoRole",
      "QuorInfoAppKey", "QuorLoginResult", "TranslateType",  "OnConnect",
      "AfterConnect",   "OnBroadcast",     "EnvSection"};
  // The declared default of TranslateType; a value equal to it is not
  // written to a form file, so loading the form keeps the server's page.
  static constexpr TTxTranslateType DefaultTranslateType = txttNone;
  bool IsTranslateTypeStored();

  // ---- Published properties ----
  int GetTpTimeOut() const;
  void SetTpTimeOut(int Value);
  // The server's Connected; never connects by itself.
  bool GetConnected();
  // While the component is being read from a form, only remembered (and
  // applied by Loaded); otherwise TTxGlobalClient::Connect() for true and
  // Terminate() for false, with failures raised as EPropertyError.
  void SetConnected(bool Value);
  TTxAuthKind GetAuthenticate();
  void SetAuthenticate(TTxAuthKind Value);
  bool GetUseRouter();
  void SetUseRouter(bool Value);
  AnsiString GetClientName();
  void SetClientName(const AnsiString& Value);
  AnsiString GetUserName();
  void SetUserName(const AnsiString& Value);
  AnsiString GetPasswd();
  void SetPasswd(const AnsiString& Value);
  AnsiString GetData();
  void SetData(const AnsiString& Value);
  AnsiString GetQuorAppCode();
  void SetQuorAppCode(const AnsiString& Value);
  AnsiString GetQuorAppLabel();
  void SetQuorAppLabel(const AnsiString& Value);
  AnsiString GetQuorAppVersion();
  void SetQuorAppVersion(const AnsiString& Value);
  AnsiString GetQuorAuthDll();
  void SetQuorAuthDll(const AnsiString& Value);
  int GetQuorLoginFlags();
  void SetQuorLoginFlags(int Value);
  AnsiString GetQuorInfoLogin();
  AnsiString GetQuorInfoUnit();
  AnsiString GetQuorInfoRole();
  int GetQuorInfoAppKey();
  int GetQuorLoginResult();
  TTxTranslateType GetTranslateType();
  void SetTranslateType(TTxTranslateType Value);
  // OnConnect and AfterConnect live in the wrapper, which raises them with
  // itself as Sender.
  TNotifyEvent GetOnConnect() const;
  void SetOnConnect(TNotifyEvent Value);
  TNotifyEvent GetAfterConnect() const;
  void SetAfterConnect(TNotifyEvent Value);
  TTxBroadcastEvent GetOnBroadcast() const { return FOnBroadcast; }
  void SetOnBroadcast(TTxBroadcastEvent Value) { FOnBroadcast = Value; }
  AnsiString GetEnvSection();
  void SetEnvSection(const AnsiString& Value);

  // ---- Forwarded to TTxGlobalClient ----
  void UserLog(const AnsiString& Pattern, const TVarRec* Args, int High);
  void ReadEnv(const AnsiString& FileName);
  void UnloadFieldTables();
  void Connect();
  void Terminate();
  void BeginTransaction();
  void CommitTransaction();
  void AbortTransaction();
  bool IsTransaction();
  int ArdoCheckName(const AnsiString& Name);

  // Asks the server to deliver waiting broadcasts (through OnBroadcast,
  // while it runs); always returns 0.
  int CheckUnsol();
  // The wrapper's OnBroadcast handler: calls OnBroadcast, when set, with
  // this component as Sender and the text in Windows-1250.
  void HandleBroadcast(TObject* Sender, char16_t* Data, long Len, long Flags);

  // Applies the Connected value read from the form: Connect() or
  // Terminate(). A failure is shown in a message box ("Error") at design
  // time and raised as Exception at run time.
  void Loaded() override;

 private:
  bool FStreamedConnected = false;
  std::unique_ptr<TTuxSession> FSession;
  TTxBroadcastEvent FOnBroadcast;
};

// Publishes TTxClient to the form reader and writer (platform/framework/
// Filer.h): the properties above that have setters, in their order; events
// are not saved. Runs when the unit is loaded; may be called again.
void RegisterTxGlobalClasses();

}  // namespace Tx
