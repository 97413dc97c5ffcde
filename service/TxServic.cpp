#include "service/TxServic.h"

#include <atmi.h>
#include <fml32.h>
#include <locale.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/calllog/QuorEventLog.h"
#include "platform/framework/Com.h"
#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Filer.h"
#include "platform/framework/HostPath.h"
#include "platform/session/TuxSession.h"
#include "platform/tuxedo/FmlCalls.h"
#include "service/Txhooks.h"
#include "xml/TxFMLXML.h"

namespace Tx {

// ---- Diagnostic dump -----------------------------------------------------------

namespace {

constexpr long DumpListingLimit = 0x500000;  // 5,242,880: listed up to and including
constexpr long DumpWarningLimit = 0x900000;  // 9,437,184: warned below, silent from here
constexpr int HexBytesPerLine = 64;

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using DumpFile = std::unique_ptr<std::FILE, FileCloser>;

bool EndsWithSeparator(const AnsiString& dir) {
  const char last = dir[dir.Length()];
  return last == '\\' || last == '/';
}

// The dump's numbers are read by tools: "%G" is written with '.' whatever
// locale the application switched the C library to.
class CNumericLocaleScope {
 public:
  CNumericLocaleScope() : FPrevious(FCLocale ? uselocale(FCLocale) : nullptr) {}
  ~CNumericLocaleScope() {
    if (FPrevious != nullptr) uselocale(FPrevious);
  }
  CNumericLocaleScope(const CNumericLocaleScope&) = delete;
  CNumericLocaleScope& operator=(const CNumericLocaleScope&) = delete;

 private:
  static inline const locale_t FCLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
  locale_t FPrevious;
};

void Write(std::FILE* file, const AnsiString& text) {
  std::fwrite(text.data(), 1, static_cast<std::size_t>(text.Length()), file);
}
void Write(std::FILE* file, const char* text) { std::fputs(text, file); }

// "%s" of the C library stops at the first zero byte.
const char* CText(const char* text) { return text != nullptr ? text : ""; }

void WriteHeader(std::FILE* file, const AnsiString& name) {
  const AnsiString now = DateTimeToStr(Now());
  if (!name.IsEmpty()) {
    Write(file, "\n\n**** " + now + " : Wywołanie usługi "_ansi + CText(name.c_str()) + " ****\n");
    Write(file, "==== Bufor wysłany:\n"_ansi);
  } else {
    Write(file, "**** " + now + " : Zakończenie usługi; tpurcode="_ansi +
                    IntToStr(static_cast<int>(tpurcode)) + " ****\n");
    Write(file, "==== Bufor odebrany:\n"_ansi);
  }
}

// The field tables' name, else the buffer definition's, else empty.
AnsiString FieldName(TTxFbfr& fbfr, FLDID32 id) {
  if (const char* name = Fname32(id)) return AnsiString(name);
  if (const TTxFbfrFldDef* def = fbfr.GetFldDefs()->FindFldDefById(id)) return def->GetTxFldName();
  return AnsiString();
}

void WriteHexListing(std::FILE* file, const unsigned char* bytes, FLDLEN32 length) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string line;
  for (FLDLEN32 i = 0; i < length; ++i) {
    if (i % HexBytesPerLine == 0) {
      if (i != 0) line += '\n';
      char offset[24];
      std::snprintf(offset, sizeof offset, "\t%.6x: ", i);
      line += offset;
    }
    line += digits[bytes[i] >> 4];
    line += digits[bytes[i] & 0x0F];
    line += ' ';
    if (line.size() >= 4096) {
      std::fwrite(line.data(), 1, line.size(), file);
      line.clear();
    }
  }
  std::fwrite(line.data(), 1, line.size(), file);
}

// Raises the ETxFmlError of a failed read of one value.
void CheckValueRead(const char* operation, FLDID32 id) {
  if (Ferror32 != 0) CheckFerror(OpLabel(Utf8ToAnsi(operation)), id);
}

void WriteValue(std::FILE* file, FBFR32* buffer, FLDID32 id, int type, FLDOCC32 occ) {
  switch (type) {
    case FLD_SHORT:
    case FLD_LONG: {
      const long value = FieldLong(buffer, id, occ);
      CheckValueRead("Fvall failed", id);
      std::fprintf(file, "%ld", value);
      break;
    }
    case FLD_CHAR:
    case FLD_STRING: {
      const char character[2] = {type == FLD_CHAR ? FieldChar(buffer, id, occ) : '\0', '\0'};
      const char* value = type == FLD_CHAR ? character : FieldString(buffer, id, occ);
      CheckValueRead("Pobranie wskazania na wartość jako char*", id);
      std::fprintf(file, "\"%s\"", CText(value));
      break;
    }
    case FLD_FLOAT:
    case FLD_DOUBLE: {
      const char* value = Ffind32(buffer, id, occ, nullptr);
      CheckValueRead("Pobranie wskazania na wartość", id);
      double number = 0.0;
      if (type == FLD_FLOAT) {
        float single = 0.0f;
        if (value != nullptr) std::memcpy(&single, value, sizeof single);
        number = single;
      } else if (value != nullptr) {
        std::memcpy(&number, value, sizeof number);
      }
      std::fprintf(file, "%G", number);
      break;
    }
    case FLD_CARRAY: {
      FLDLEN32 length = 0;
      const char* value = Ffind32(buffer, id, occ, &length);
      CheckValueRead("Pobranie wskazania na wartość pola", id);
      if (value != nullptr) {
        WriteHexListing(file, reinterpret_cast<const unsigned char*>(value), length);
      }
      break;
    }
    default:
      break;  // nothing is known about the value of other types
  }
}

void WriteField(std::FILE* file, TTxFbfr& fbfr, FBFR32* buffer, FLDID32 id) {
  const int type = Fldtype32(id);
  CheckFerror(AnsiString(), id);
  const FLDOCC32 count = Foccur32(buffer, id);
  CheckFerror(AnsiString(), id);

  const AnsiString name = FieldName(fbfr, id);
  Ferror32 = 0;
  std::fprintf(file, "---- %s: <%ld> %s #%ld\n", CText(name.c_str()), static_cast<long>(id),
               CText(Ftype32(id)), static_cast<long>(Fldno32(id)));
  Ferror32 = 0;

  for (FLDOCC32 occ = 0; occ < count; ++occ) {
    std::fprintf(file, "[%d] ", occ);
    try {
      WriteValue(file, buffer, id, type, occ);
    } catch (const ETxFmlError& e) {
      Write(file, "Błąd!!! "_ansi + CText(e.Message.c_str()));
    }
    std::fputc('\n', file);
  }
}

void WriteListing(std::FILE* file, TTxFbfr* fbfr) {
  if (fbfr == nullptr) throw Exception("Wskaźnik bufora == NULL"_ansi);
  FBFR32* const buffer = fbfr->GetFbfrP();
  const CNumericLocaleScope numbers;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  while (Fnext32(buffer, &id, &occ, nullptr, nullptr) > 0) {
    WriteField(file, *fbfr, buffer, id);
    // Continue after the field's last occurrence: the next Fnext32 moves on
    // to the following field.
    Ffindlast32(buffer, id, &occ, nullptr);
    CheckFerror(OpLabel("Ffindlast"), id);
  }
  CheckFerror(OpLabel("Fnext"), id);
}

void WriteRecord(std::FILE* file, const AnsiString& name, TTxFbfr* fbfr) {
  WriteHeader(file, name);
  try {
    WriteListing(file, fbfr);
  } catch (const Exception& e) {
    Write(file, "Zrzut diagnostyczny bufora do pliku nieudany. Wyjątek "_ansi +
                    CText(e.Message.c_str()));
  } catch (...) {
    Write(file, "Zrzut diagnostyczny bufora do pliku nieudany. Wyjątek C++"_ansi);
  }
  Write(file, "---- koniec\n");
}

long FileLength(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return 0;
  const long length = std::ftell(file);
  return length < 0 ? 0 : length;
}

}  // namespace

AnsiString DumpFilePath() {
  const char* configured = std::getenv("QUORDEBUGDIR");
  AnsiString dir(configured != nullptr ? configured : "C:\\");
  if (!dir.IsEmpty() && !EndsWithSeparator(dir)) dir += '\\';
  return HostPath(dir + "tuxfmldump.txt");
}

void DumpBuffer(const AnsiString& Name, TTxFbfr* Fbfr) noexcept {
  try {
    const AnsiString path = DumpFilePath();
    const DumpFile file(std::fopen(path.c_str(), "ab"));
    if (!file) {
      ShowMessage("Nie można otworzyć pliku "_ansi + path + " do dopisywania.");
      return;
    }
    const long length = FileLength(file.get());
    if (length > DumpListingLimit) {
      if (length < DumpWarningLimit) {
        Write(file.get(),
              "\n\n!!! Ten plik jest już zbyt duży. Zapisy diagnostyczne są zaniechane.\n"_ansi);
      }
      return;
    }
    WriteRecord(file.get(), Name, Fbfr);
  } catch (...) {
    // The dump never disturbs the call: whatever went wrong (memory, the
    // dialog) stays here.
  }
}

// ---- Service component ---------------------------------------------------------

namespace {

// The wait cursor is a resource of the library's own module, there from the
// moment the library is loaded, as a linked resource file makes it on Windows.
[[maybe_unused]] const bool waitCursorResource = [] {
  RegisterCursorResource(HInstance, "TUXWAIT");
  return true;
}();
bool waitCursorLoaded = false;

constexpr long TpcallFlags = TPNOTIME;

// Shows the wait cursor for the length of a call. When the call ends,
// however it ends, the cursor comes back and the receive buffer's
// definitions are rebuilt from whatever the buffer then holds.
class TCallScope {
 public:
  explicit TCallScope(TTxFbfr& Recv) : FRecv(Recv), FPrevious(Screen->GetCursor()) {
    if (!waitCursorLoaded) {
      Screen->SetCursors(TuxWaitCursor, LoadCursorA(HInstance, "TUXWAIT"));
      waitCursorLoaded = true;
    }
    Screen->SetCursor(TuxWaitCursor);
  }
  ~TCallScope() {
    try {
      Screen->SetCursor(FPrevious);
    } catch (...) {
      // Nothing sensible to do about a screen that refuses its cursor.
    }
    try {
      FRecv.SyncFbfrDef();
    } catch (...) {
      // The definitions stay as they were; the reply itself is intact.
    }
  }
  TCallScope(const TCallScope&) = delete;
  TCallScope& operator=(const TCallScope&) = delete;

 private:
  TTxFbfr& FRecv;
  const TCursor FPrevious;
};

// The routing occurrences appended to a request. They are removed in the
// order they were appended: by Remove on the ordinary way, by the
// destructor when the call is left early.
class TRoutingFields {
 public:
  explicit TRoutingFields(TTxFbfr& Send) : FSend(Send) {}
  ~TRoutingFields() {
    while (FNext < FAppended.size()) {
      try {
        Remove();
      } catch (...) {
        // Already gone (a hook may have removed it): go on with the rest.
      }
    }
  }
  TRoutingFields(const TRoutingFields&) = delete;
  TRoutingFields& operator=(const TRoutingFields&) = delete;

  void Append(FLDID32 Id, const Variant& Value) {
    FAppended.emplace_back(Id, FSend.AppendOcc(Id, Value));
  }
  // Raises ETxFmlError when an occurrence is no longer there; the ones
  // after it are then removed by the destructor.
  void Remove() {
    while (FNext < FAppended.size()) {
      const auto [id, occ] = FAppended[FNext++];
      FSend.DeleteOcc(id, occ);
    }
  }

 private:
  TTxFbfr& FSend;
  std::vector<std::pair<FLDID32, int>> FAppended;
  std::size_t FNext = 0;
};

long EnvironmentNumber(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::atol(value) : 0;
}

AnsiString TimeOfDay() { return FormatDateTime("hh:nn:ss.zzz", Now()); }

AnsiString WorkstationName() {
  char name[16] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? AnsiString(name) : AnsiString();
}

AnsiString TextOrEmpty(const char* text) { return AnsiString(text != nullptr ? text : ""); }

// The text of an error detail; none when there is no detail (0, or -1 from
// engines that answer so).
AnsiString DetailText(int detail) {
  return detail > 0 ? TextOrEmpty(tpstrerrordetail(detail, 0)) : AnsiString();
}


// The call-log component, when one is registered; creation failures of any
// kind mean there is none.
TComInterface<IQuorEventLogTX> CreateCallLog() noexcept {
  TComInterface<IQuorEventLogTX> callLog;
  try {
    if (FAILED(CoCreateInstance(CLSID_QuorEventLog, nullptr, CLSCTX_SERVER, callLog))) {
      callLog.Reset();
      SetErrorInfo(0, nullptr);  // a missing log is not an error of anyone's
    }
  } catch (...) {
    callLog.Reset();
  }
  return callLog;
}

}  // namespace

// What the call log receives about one call.
struct TTxService::TCallRecord {
  TComInterface<IQuorEventLogTX> CallLog;
  AnsiString Login = "N/A";
  AnsiString AppCode = "N/A";
  AnsiString AppVersion = "N/A";
  AnsiString Unit = "N/A";
  AnsiString Role = "N/A";
  long AppKey = 0;
  AnsiString RequestXml;
  AnsiString StartTime;
  AnsiString EndTime;
  AnsiString CallTag;
  long SentBytes = 0;
};

TTxService::TTxService(TComponent* AOwner)
    : TComponent(AOwner),
      FSendContract(std::make_unique<TTxFbfrDef>(this)),
      FRecvContract(std::make_unique<TTxFbfrDef>(this)),
      FSendData(std::make_unique<TTxFbfr>(this, 4096)),
      FRecvData(std::make_unique<TTxFbfr>(this, 4096)) {
  FSendData->Contract = FSendContract.get();
  FRecvData->Contract = FRecvContract.get();
}

TTxService::~TTxService() {
  FSendData.reset();
  FRecvData.reset();
  FSendContract.reset();
  FRecvContract.reset();
}

namespace {
void CopyContract(TTxFbfrDef& contract, TTxFbfrDef* source) {
  if (source == nullptr) {
    contract.Clear();
  } else {
    contract.Assign(source);
  }
}
}  // namespace

void TTxService::SetSendContract(TTxFbfrDef* Value) {
  CopyContract(*FSendContract, Value);
  FSendData->Contract = FSendContract.get();
}

void TTxService::SetRecvContract(TTxFbfrDef* Value) {
  CopyContract(*FRecvContract, Value);
  FRecvData->Contract = FRecvContract.get();
}

void TTxService::SetSendData(TTxFbfr* Value) {
  if (Value == nullptr) {
    FSendData->Clear();
  } else if (Value != FSendData.get()) {
    *FSendData = *Value;
  }
  FSendData->Contract = FSendContract.get();
}

void TTxService::InternalExecute() {
  FSendData->CheckWithContract();

  LastUrcode = 0;
  const TCallScope scope(*FRecvData);
  tperrno = 0;

  const bool dump = EnvironmentNumber("QUORDEBUGMODE") > 0;
  TTxGlobalClient::Connect();
  FRecvData->Clear();
  tperrno = 0;
  tpurcode = 0;

  TCallRecord record;
  record.CallLog = CreateCallLog();
  if (record.CallLog) {
    WideString tag;
    record.CallLog->GetCallTag(&tag);
    record.CallTag = AnsiString(tag);
    record.StartTime = TimeOfDay();  // the times are for the log only
  }

  const long length = TX_READ_SESSION(get_UseRouter) != VARIANT_FALSE
                          ? CallThroughRouter(dump, record)
                          : CallDirect(dump, record);

  if (record.CallLog) record.EndTime = TimeOfDay();
  LastUrcode = tpurcode;

  // Failed calls are logged as well: the checks come after.
  if (TX_READ_SESSION(get_AuthKind) == tsakQuor && record.CallLog) {
    const long receivedBytes = Fused32(FRecvData->GetFbfrP());
    record.CallLog->LogServiceCall(
        WideString(FServiceName), WideString(record.Login), WideString(record.AppCode),
        WideString(record.AppVersion), WideString(record.Role), WideString(record.Unit),
        record.AppKey, tperrno, WideString(record.StartTime), WideString(record.EndTime),
        record.SentBytes, receivedBytes, WideString(record.CallTag), WideString(record.RequestXml),
        WideString(ReadTDXText()));
  }

  CheckSvcFail();
  CheckTperrno(AnsiString());
  CheckTDXInfo();
  if (length == 0) {
    FRecvData->Clear();  // the service returned no data
  } else {
    CheckReplyContract();
  }
}

long TTxService::CallDirect(bool Dump, TCallRecord& Record) {
  CallHooksBefore(FServiceName, FSendData.get());
  if (Dump) DumpBuffer(FServiceName, FSendData.get());
  if (Record.CallLog) CaptureRequest(Record);
  long length = 0;
  tpcall(const_cast<char*>(FServiceName.c_str()), reinterpret_cast<char*>(FSendData->GetFbfrP()), 0,
         reinterpret_cast<char**>(FRecvData->GetFbfrPP()), &length, TpcallFlags);
  if (Dump) DumpBuffer(AnsiString(), FRecvData.get());
  CallHooksAfter(FServiceName, FSendData.get(), FRecvData.get());
  return length;
}

long TTxService::CallThroughRouter(bool Dump, TCallRecord& Record) {
  Record.AppCode = AnsiString(TX_READ_SESSION(get_QuorAppCode));
  Record.AppVersion = AnsiString(TX_READ_SESSION(get_QuorAppVersion));
  Record.Login = AnsiString(TX_READ_SESSION(get_QuorInfoLogin));
  Record.Unit = AnsiString(TX_READ_SESSION(get_QuorInfoUnit));
  Record.Role = AnsiString(TX_READ_SESSION(get_QuorInfoRole));
  Record.AppKey = TX_READ_SESSION(get_QuorInfoAppKey);

  TRoutingFields routing(*FSendData);
  routing.Append(RouteServiceFieldId, FServiceName);
  routing.Append(RouteAppCodeFieldId, Record.AppCode);
  routing.Append(RouteAppVersionFieldId, Record.AppVersion);
  routing.Append(RouteLoginFieldId, Record.Login);
  routing.Append(RouteUnitFieldId, Record.Unit);
  routing.Append(RouteRoleFieldId, Record.Role);
  routing.Append(RouteWorkstationFieldId, WorkstationName());
  routing.Append(RouteProcessIdFieldId, static_cast<int>(GetCurrentProcessId()));
  routing.Append(RouteCallTagFieldId, Record.CallTag);

  CallHooksBefore(FServiceName, FSendData.get());
  if (Dump) DumpBuffer(AnsiString(RouterServiceName) + " (" + FServiceName + ")", FSendData.get());
  if (Record.CallLog) CaptureRequest(Record);
  long length = 0;
  tpcall(const_cast<char*>(RouterServiceName), reinterpret_cast<char*>(FSendData->GetFbfrP()), 0,
         reinterpret_cast<char**>(FRecvData->GetFbfrPP()), &length, TpcallFlags);
  if (Dump) DumpBuffer(AnsiString(), FRecvData.get());
  // The after-call hooks still see the routing fields.
  CallHooksAfter(FServiceName, FSendData.get(), FRecvData.get());
  routing.Remove();
  return length;
}

void TTxService::CaptureRequest(TCallRecord& Record) {
  Record.SentBytes = Fused32(FSendData->GetFbfrP());
  Record.RequestXml = ExportFMLToXML(FSendData.get());
}

void TTxService::CheckReplyContract() {
  try {
    FRecvData->CheckWithContract();
  } catch (const ETxFbfrContractViolated& e) {
    throw ETxFbfrContractViolated("Błąd w danych zwróconych z usługi Tuxedo: "_ansi + e.Message);
  }
}

void TTxService::CheckSvcFail() {
  if (tperrno != TPESVCFAIL) return;
  // The detail first: it describes the last ATMI call, and asking for the
  // texts is an ATMI call of its own.
  const int error = tperrno;
  const int detail = tperrordetail(0);
  AnsiString message = "Błąd Tuxedo "_ansi + TextOrEmpty(tpstrerror(error)) + DetailText(detail);
  int code = 0;
  if (FRecvData->OccCount(TDXErrCodeFieldId) > 0) {
    // A null code (the long's null value) says no more than an absent one.
    const Variant value = FRecvData->OccValue(TDXErrCodeFieldId, 0);
    if (!value.IsNull()) code = value.AsInteger();
  }
  if (FRecvData->OccCount(TDXErrTextFieldId) > 0) {
    message = VarToStr(FRecvData->OccValue(TDXErrTextFieldId, 0));
  }
  throw ETxSvcFail(message, code);
}

void TTxService::CheckTDXInfo() {
  if (!FDetectTDXInfo || FRecvData->OccCount(TDXErrTextFieldId) <= 0) return;
  const Variant text = FRecvData->OccValue(TDXErrTextFieldId, 0);
  if (text.IsNull()) return;
  int code = 0;
  // Read without counting first: an absent long reads as 0.
  const Variant value = FRecvData->OccValue(TDXErrCodeFieldId, 0);
  if (!value.IsNull()) code = value.AsInteger();
  const UINT icon = code < 0 ? MB_ICONERROR : MB_ICONINFORMATION;
  MessageBoxA(nullptr, text.AsString().c_str(), "Informacja przekazana z serwera"_ansi.c_str(),
              MB_OK | MB_TASKMODAL | icon);
}

AnsiString TTxService::ReadTDXText() {
  if (FRecvData->OccCount(TDXErrTextFieldId) <= 0) return AnsiString();
  return VarToStr(FRecvData->OccValue(TDXErrTextFieldId, 0));
}

// ---- Form files ----------------------------------------------------------------------------

void RegisterTxServicClasses() {
  using S = TTxService;
  PublishClass<TTxService, TComponent>("TTxService")
      .String("ServiceName", &S::GetServiceName, &S::SetServiceName)
      .Object("SendContract", &S::GetSendContract, &S::SetSendContract)
      .Object("RecvContract", &S::GetRecvContract, &S::SetRecvContract)
      .Object("SendData", &S::GetSendData, &S::SetSendData)
      .Object("RecvData", &S::GetRecvData, nullptr)
      .Bool("RecvReadOnly", &S::GetRecvReadOnly, &S::SetRecvReadOnly)
      .Default(true)
      .Bool("Cached", &S::GetCached, &S::SetCached)
      .Default(false)
      .Enum("CacheLifetime", &S::GetCacheLifetime, &S::SetCacheLifetime,
            {"txcltNormal", "txcltPermanent"})
      .Default(txcltNormal)
      .Bool("DetectTDXInfo", &S::GetDetectTDXInfo, &S::SetDetectTDXInfo)
      .Default(false);
}

namespace {
[[maybe_unused]] const bool kTxServicClassesPublished = (RegisterTxServicClasses(), true);
}  // namespace

}  // namespace Tx
