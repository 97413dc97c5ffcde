// TxServic: service calls and their diagnostic dump.
//
// ---- Diagnostic dump ---------------------------------------------------------
// When the dump is switched on, the call sequence appends a readable listing
// of every request and every reply buffer to the text file "tuxfmldump.txt":
// one line per field (name, id, type, field number) and one per occurrence
// with its value. Support staff read the file after a call went wrong, so
// the dump never disturbs the call: its own failures are written into the
// file in place of what could not be read, and a file that cannot be opened
// is reported once in a message dialog.
//
// Where the file is:
//   - the directory named by QUORDEBUGDIR, or "C:\" when it is not set;
//   - a separator is added unless the text already ends with one; both "\"
//     and "/" count, so "/var/log/tx" and "/var/log/tx/" name the same file
//     and a trailing separator is never doubled;
//   - an empty QUORDEBUGDIR names "tuxfmldump.txt" in the current directory;
//   - the Windows name is then opened as HostPath (platform/framework/
//     HostPath.h) gives it: a drive ("C:\", "D:\") stands for
//     DriveRootDirectory() ($TXLIB_DRIVE_ROOT, else $TMPDIR, else /tmp) and
//     backslashes become slashes. So the default "C:\" writes
//     DriveRootDirectory()/tuxfmldump.txt, and D:\logs\ names
//     DriveRootDirectory()/logs/tuxfmldump.txt.
//
// Size limits: a buffer is listed only while the file is at most 5,242,880
// bytes long (a file of exactly that size is still written to). Above it,
// each dump appends only a warning line, until the file reaches 9,437,184
// bytes; from then on nothing is written.
//
// Records (lines end with a single line feed; the file is written in binary
// mode, so nothing is translated):
//   request (Name not empty):
//     "" / "" / "**** <date-time> : Wywołanie usługi <Name> ****"
//     "==== Bufor wysłany:"
//   reply (Name empty):
//     "**** <date-time> : Zakończenie usługi; tpurcode=<tpurcode> ****"
//     "==== Bufor odebrany:"
//   then for every field in buffer order:
//     "---- <name>: <<id>> <type name> #<field number>"
//     "[<occ>] <value>" for every occurrence
//   and finally "---- koniec".
// The date-time text is DateTimeToStr(Now()): the user's short date format,
// a blank and the long time format. The field name comes from the field
// tables (Fname32), else from the buffer's field definitions, else it is
// empty. Values: short and long in decimal, char and string in double
// quotes, float and double as printf's "%G" (always with '.', whatever the
// process locale), carray as a hex listing of 64 bytes per line, each line
// starting with a tab and the offset ("\t000040: 41 42 ..."); other types
// write nothing after the occurrence number.
//
// The dump runs on the application's thread; the file is opened and closed
// within each call, so other processes may read it between calls.
#pragma once

#include <fml32.h>

#include <array>
#include <memory>

#include "buffer/TxFbfr.h"
#include "platform/framework/AnsiString.h"
#include "platform/framework/Classes.h"
#include "platform/framework/Dialogs.h"

namespace Tx {

// The file the dump appends to, as this system opens it (see above). Reads
// QUORDEBUGDIR at every call. Never throws anything but std::bad_alloc.
AnsiString DumpFilePath();

// Appends one record for Fbfr to the dump file: a request record when Name
// is not empty (Name is the service called, e.g. "ROUTER (PAY)"), a reply
// record when it is empty. Nothing leaves this routine:
//   - the file cannot be opened: the message dialog "Nie można otworzyć
//     pliku <path> do dopisywania." (path as DumpFilePath gives it);
//   - an FML32 error reading one value: "Błąd!!! " and the ETxFmlError's
//     message stand in place of that value, and the listing goes on;
//   - any other failure while listing (a null buffer, a failed walk): the
//     text "Zrzut diagnostyczny bufora do pliku nieudany. Wyjątek " and the
//     exception's message (or "... Wyjątek C++" for a non-framework
//     exception) ends the listing, followed by "---- koniec".
// Fbfr is not owned and is only read; nullptr is reported as the framework
// exception "Wskaźnik bufora == NULL" inside the record.
void DumpBuffer(const AnsiString& Name, TTxFbfr* Fbfr) noexcept;

// ---- Service component ---------------------------------------------------------
//
// TTxService calls one service of the domain: the application names the
// service, fills SendData (checked against SendContract) and calls Execute;
// the reply arrives in RecvData (checked against RecvContract), or the call
// raises one of the library's exceptions.
//
// What one call does, in this order (InternalExecute):
//   1. SendData is checked against its contract; a violation raises
//      ETxFbfrContractViolated before anything else happens.
//   2. LastUrcode = 0; the screen shows the wait cursor (number 123, the
//      library's "TUXWAIT" cursor, installed on the first call) until the
//      call ends, however it ends; RecvData's buffer definitions are then
//      rebuilt from the reply (SyncFbfrDef), so its fields can be found by
//      name.
//   3. The session is opened when it is not (TTxGlobalClient::Connect) and
//      RecvData is emptied.
//   4. When a call-log component is registered (CLSID_QuorEventLog,
//      platform/calllog/QuorEventLog.h) it gives a call tag.
//   5. Direct (the session server's UseRouter false): before-call hooks,
//      dump of the request, tpcall(ServiceName, ..., TPNOTIME), dump of the
//      reply, after-call hooks.
//      Routed (UseRouter true): the nine routing fields below are appended
//      to SendData, each as a new last occurrence, and the same steps run
//      with the service "ROUTER"; afterwards the nine occurrences are
//      removed, so SendData holds exactly what it held before. They are also
//      removed when a step in between raises (a hook refusing the call, the
//      export to XML failing), so a later call never carries stale ones.
//   6. LastUrcode = tpurcode. With a call log and a session that logged in
//      to the domain (AuthKind txakQuor) the call is logged, failed or not.
//   7. A service that failed (TPESVCFAIL) raises ETxSvcFail: its message is
//      the reply's error text when the reply has one, else "Błąd Tuxedo "
//      and the ATMI texts; ErrCode is the reply's error code or 0. Any
//      other ATMI failure raises ETxTpError (CheckTperrno). Either way the
//      hooks, the dump of the reply, LastUrcode and the log entry have
//      already happened.
//   8. With DetectTDXInfo, a reply carrying an error text shows it in a
//      message box ("Informacja przekazana z serwera"; the error icon for a
//      negative error code, the information icon otherwise).
//   9. A reply without data leaves RecvData empty; any other reply is
//      checked against RecvContract, a violation raising
//      ETxFbfrContractViolated "Błąd w danych zwróconych z usługi Tuxedo: "
//      + the violation's message.
// The dump is on when QUORDEBUGMODE holds a number above 0 (read at every
// call, as atol reads it).
//
// Execute puts the process-wide reply cache (TxServiceCache.h) in front of
// this sequence for services whose Cached property is true; a reply from
// the cache goes through none of the steps above.
//
// Everything runs on the application's thread: the call sets the screen
// cursor and may show message boxes; tpcall waits for the reply.

// Fields of the server's protocol for errors and information, read by id
// from every reply; in field tables they are "TDX_ERRCODE" and "TDX_ERRTEXT".
// An error code of 0, or none, means success; a negative one an error.
inline constexpr FLDID32 TDXErrCodeFieldId = 0x020F4242;  // long, number 1000002
inline constexpr FLDID32 TDXErrTextFieldId = 0x0A0F4243;  // string, number 1000003

// The service that routes calls when the session server's UseRouter is set.
inline constexpr char RouterServiceName[] = "ROUTER";

// The routing fields, appended in this order to a routed request.
inline constexpr FLDID32 RouteServiceFieldId = 0x0A0249F1;      // string 150001: ServiceName
inline constexpr FLDID32 RouteAppCodeFieldId = 0x0A024ABA;      // string 150202: QuorAppCode
inline constexpr FLDID32 RouteAppVersionFieldId = 0x0A0249F2;   // string 150002: QuorAppVersion
inline constexpr FLDID32 RouteLoginFieldId = 0x0A0F42A5;        // string 1000101: QuorInfoLogin
inline constexpr FLDID32 RouteUnitFieldId = 0x0A0F42A7;         // string 1000103: QuorInfoUnit
inline constexpr FLDID32 RouteRoleFieldId = 0x0A0F42A6;         // string 1000102: QuorInfoRole
inline constexpr FLDID32 RouteWorkstationFieldId = 0x0A0F42A8;  // string 1000104: computer name
inline constexpr FLDID32 RouteProcessIdFieldId = 0x020F42A9;    // long 1000105: process id
inline constexpr FLDID32 RouteCallTagFieldId = 0x0A0F42AA;      // string 1000106: call tag
inline constexpr std::array<FLDID32, 9> RouteFieldIds = {
    RouteServiceFieldId,     RouteAppCodeFieldId,   RouteAppVersionFieldId,
    RouteLoginFieldId,       RouteUnitFieldId,      RouteRoleFieldId,
    RouteWorkstationFieldId, RouteProcessIdFieldId, RouteCallTagFieldId};

// The screen cursor number of the wait cursor shown during a call.
inline constexpr TCursor TuxWaitCursor = 123;

// Where a cached service keeps its replies (TxServiceCache.h).
enum TTxCacheLifetime : unsigned char {
  txcltNormal = 0,     // in the bounded area; the oldest replies are discarded first
  txcltPermanent = 1,  // the service is marked permanent: its replies are never discarded
};

class TTxService : public TComponent {
 public:
  // Creates the two contracts (owned by this service), then the send and
  // the receive buffer (4096 bytes each), each bound to its contract.
  // ETxTpError when a buffer cannot be allocated.
  explicit TTxService(TComponent* AOwner);
  // Frees the send buffer, the receive buffer, the send contract and the
  // receive contract, in that order.
  ~TTxService() override;

  // The published properties in the order a form file holds them.
  static constexpr std::array<const char*, 9> PublishedProperties = {
      "ServiceName",  "SendContract", "RecvContract",  "SendData",     "RecvData",
      "RecvReadOnly", "Cached",       "CacheLifetime", "DetectTDXInfo"};

  // ---- Published properties ----
  // The service to call; empty after construction (and passed to tpcall as
  // an empty name, which the middleware refuses).
  AnsiString GetServiceName() const { return FServiceName; }
  void SetServiceName(const AnsiString& Value) { FServiceName = Value; }
  // The contracts, owned by the service. Setting one copies Value's field
  // definitions (the caller keeps Value; nullptr empties the contract) and
  // binds the matching buffer to the service's contract again.
  TTxFbfrDef* GetSendContract() const noexcept { return FSendContract.get(); }
  void SetSendContract(TTxFbfrDef* Value);
  TTxFbfrDef* GetRecvContract() const noexcept { return FRecvContract.get(); }
  void SetRecvContract(TTxFbfrDef* Value);
  // The buffers, owned by the service. Setting SendData copies Value's
  // contents (the caller keeps Value; nullptr empties the buffer); the send
  // buffer stays bound to SendContract whatever Value's contract was.
  // RecvData has no setter: it is what the last call brought.
  TTxFbfr* GetSendData() const noexcept { return FSendData.get(); }
  void SetSendData(TTxFbfr* Value);
  TTxFbfr* GetRecvData() const noexcept { return FRecvData.get(); }
  // True after construction. Data sets bound to RecvData refuse edits while
  // it is true.
  bool GetRecvReadOnly() const noexcept { return FRecvReadOnly; }
  void SetRecvReadOnly(bool Value) noexcept { FRecvReadOnly = Value; }
  // Whether Execute asks the reply cache first; false after construction.
  bool GetCached() const noexcept { return FCached; }
  void SetCached(bool Value) noexcept { FCached = Value; }
  TTxCacheLifetime GetCacheLifetime() const noexcept { return FCacheLifetime; }
  void SetCacheLifetime(TTxCacheLifetime Value) noexcept { FCacheLifetime = Value; }
  // Whether a successful reply's error text is shown to the user; false
  // after construction.
  bool GetDetectTDXInfo() const noexcept { return FDetectTDXInfo; }
  void SetDetectTDXInfo(bool Value) noexcept { FDetectTDXInfo = Value; }

  // The tpurcode of the last call, or the one stored with a reply taken
  // from the cache; 0 while a call is being made.
  long LastUrcode = 0;

  // ---- Calls ----
  // The call as applications make it: the reply cache, then InternalExecute
  // (TxServiceCache.h). Raises what InternalExecute raises.
  void Execute();
  // The call sequence without the cache (see above). Raises
  // ETxFbfrContractViolated, ETxError (no connection), Exception (a hook
  // refused: "Operacja została przerwana!"), ETxSvcFail, ETxTpError,
  // ETxFmlError, and whatever a hook raises.
  void InternalExecute();

  // Steps of the sequence, for callers that make their own.
  // Raises ETxSvcFail when tperrno is TPESVCFAIL, else does nothing.
  void CheckSvcFail();
  // With DetectTDXInfo, shows the reply's error text (when it has one that
  // is not empty) in a message box and returns when the user closes it.
  void CheckTDXInfo();
  // The reply's error text, or "" when it has none.
  AnsiString ReadTDXText();

  // The reply cache's operations for this service (TxServiceCache.h),
  // whatever Cached says and whatever the environment says.
  bool CheckCache();
  bool IsCachedCall();
  void UpdateCachedCall();
  void InvalidateCachedCall();

 private:
  struct TCallRecord;

  // The two branches of the call; each returns the reply's length.
  long CallDirect(bool Dump, TCallRecord& Record);
  long CallThroughRouter(bool Dump, TCallRecord& Record);
  void CaptureRequest(TCallRecord& Record);
  void CheckReplyContract();

  AnsiString FServiceName;
  std::unique_ptr<TTxFbfrDef> FSendContract;
  std::unique_ptr<TTxFbfrDef> FRecvContract;
  std::unique_ptr<TTxFbfr> FSendData;
  std::unique_ptr<TTxFbfr> FRecvData;
  bool FRecvReadOnly = true;
  bool FCached = false;
  TTxCacheLifetime FCacheLifetime = txcltNormal;
  bool FDetectTDXInfo = false;
};

// Publishes TTxService to the form reader and writer (platform/framework/
// Filer.h). The contracts are saved as collections and the send buffer's
// contents with it (TTxFbfr::DefineProperties); RecvData has no setter and
// is not saved. Runs when the unit is loaded; may be called again.
void RegisterTxServicClasses();

}  // namespace Tx
