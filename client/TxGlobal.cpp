#include "client/TxGlobal.h"

#include <atmi.h>
#include <fml32.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "platform/framework/Com.h"
#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Filer.h"
#include "platform/framework/HostPath.h"
#include "platform/session/TuxSessionWrapper.h"
#include "platform/tuxedo/FmlCalls.h"

namespace Tx {
namespace {

int debugMode = 1;

// The user log stays open from the first successful open to the end of the
// process; the runtime flushes it.
std::FILE* userLogFile = nullptr;
AnsiString& UserLogPath() {
  static AnsiString path("C:\\ULog_BCB.log");
  return path;
}

AnsiString TextOrEmpty(const char* text) { return AnsiString(text ? text : ""); }

// The text of an error detail; none when there is no detail (0, or -1 from
// engines that answer so).
AnsiString DetailText(int detail) {
  return detail > 0 ? TextOrEmpty(tpstrerrordetail(detail, 0)) : AnsiString();
}

const char* BaseName(const char* file) {
  if (file == nullptr) return "";
  const char* base = file;
  for (const char* p = file; *p != '\0'; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  return base;
}

template <typename T>
bool AllBitsSet(const T& value) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  for (unsigned char b : bytes)
    if (b != 0xFF) return false;
  return true;
}

bool OpenUserLog() {
  if (userLogFile != nullptr) return true;
  userLogFile = std::fopen(HostPath(UserLogPath()).c_str(), "a");
  if (userLogFile != nullptr) return true;
  for (int i = 0; i < 3; ++i) MessageBeep(0xFFFFFFFF);
  const AnsiString text = "Nie można otworzyć "_ansi + UserLogPath() + " do zapisu"_ansi;
  MessageBoxA(nullptr, text.c_str(), "Błąd"_ansi.c_str(), MB_OK);
  return false;
}

// ---- Code pages of the application server ---------------------------------------

// The 18 Polish letters Ą Ć Ę Ł Ń Ó Ś Ź Ż ą ć ę ł ń ó ś ź ż in each code page,
// by TTxTranslateType up to txttASCII.
using TLetterRow = std::array<unsigned char, 18>;
// clang-format off
constexpr std::array<TLetterRow, 11> kLetters = {{
    /* Mazovia  */ {0x8F, 0x95, 0x90, 0x9C, 0xA5, 0xA3, 0x98, 0xA0, 0xA1,
                    0x86, 0x8D, 0x91, 0x92, 0xA4, 0xA2, 0x9E, 0xA6, 0xA7},
    /* CSK      */ {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x88, 0x87,
                    0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA8, 0xA7},
    /* Cyfromat */ {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x88, 0x87,
                    0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x98, 0x97},
    /* DHN      */ {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x88, 0x87,
                    0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x91, 0x90},
    /* Latin2   */ {0xA4, 0x8F, 0xA8, 0x9D, 0xE3, 0xE0, 0x97, 0x8D, 0xBD,
                    0xA5, 0x86, 0xA9, 0x88, 0xE4, 0xA2, 0x98, 0xAB, 0xBE},
    /* IEA      */ {0x8F, 0x80, 0x90, 0x9C, 0xA5, 0x99, 0xEB, 0x9D, 0x92,
                    0xA0, 0x9B, 0x82, 0x9F, 0xA4, 0xA2, 0x87, 0xA8, 0x91},
    /* Logic    */ {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88,
                    0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F, 0x90, 0x91},
    /* Microvex */ {0x8F, 0x80, 0x90, 0x9C, 0xA5, 0x93, 0x98, 0x9D, 0x92,
                    0xA0, 0x9B, 0x82, 0x9F, 0xA4, 0xA2, 0x87, 0xA8, 0x91},
    /* ISO8859  */ {0xA1, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0xA6, 0xAC, 0xAF,
                    0xB1, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0xB6, 0xBC, 0xBF},
    /* Windows  */ {0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF,
                    0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF},
    /* ASCII    */ {0x41, 0x43, 0x45, 0x4C, 0x4E, 0x4F, 0x53, 0x5A, 0x5A,
                    0x61, 0x63, 0x65, 0x6C, 0x6E, 0x6F, 0x73, 0x7A, 0x7A},
}};
// clang-format on

using TByteMap = std::array<unsigned char, 256>;

constexpr TByteMap IdentityMap() {
  TByteMap map{};
  for (int i = 0; i < 256; ++i) map[i] = static_cast<unsigned char>(i);
  return map;
}

// Windows-1250 to ISO-8859-2: the bytes that differ. Both pages hold the
// other characters at the same place; the ten Windows-1250 characters that
// ISO-8859-2 lacks take the ten positions it leaves free, so the map is a
// permutation and its inverse loses nothing.
// clang-format off
constexpr std::array<std::array<unsigned char, 2>, 25> kWindowsToIso = {{
    {0x8A, 0xA9}, {0x8C, 0xA6}, {0x8D, 0xAB}, {0x8E, 0xAE}, {0x8F, 0xAC},
    {0x9A, 0xB9}, {0x9C, 0xB6}, {0x9D, 0xBB}, {0x9E, 0xBE}, {0x9F, 0xBC},
    {0xA1, 0xB7}, {0xA5, 0xA1}, {0xA6, 0x8C}, {0xA9, 0x8A}, {0xAB, 0x8D},
    {0xAC, 0x8F}, {0xAE, 0x8E}, {0xB1, 0x9A}, {0xB5, 0x9E}, {0xB6, 0x9C},
    {0xB7, 0x9F}, {0xB9, 0xB1}, {0xBB, 0x9D}, {0xBC, 0xA5}, {0xBE, 0xB5},
}};
// clang-format on

constexpr TByteMap IsoMap(bool toServer) {
  TByteMap map = IdentityMap();
  for (const auto& [windows, iso] : kWindowsToIso) {
    if (toServer) {
      map[windows] = iso;
    } else {
      map[iso] = windows;
    }
  }
  return map;
}

// The letter-table conversion of one type as a byte map: towards the server
// a Windows letter becomes the type's letter at the same position; from the
// server the type's letter (first match) becomes the Windows one, except
// for ASCII, whose plain letters have no way back.
constexpr TByteMap LetterMap(int type, bool toServer) {
  constexpr int kWindows = txttWindows;
  TByteMap map = IdentityMap();
  if (!toServer && type == txttASCII) return map;
  const TLetterRow& from = kLetters[toServer ? kWindows : type];
  const TLetterRow& to = kLetters[toServer ? type : kWindows];
  for (int i = static_cast<int>(from.size()) - 1; i >= 0; --i) map[from[i]] = to[i];
  return map;
}

struct TTranslationMaps {
  std::array<TByteMap, 11> ToServer{};
  std::array<TByteMap, 11> FromServer{};
};

constexpr TTranslationMaps MakeTranslationMaps() {
  TTranslationMaps maps;
  for (int type = 0; type < 11; ++type) {
    const bool iso = type == txttISO8859;
    maps.ToServer[type] = iso ? IsoMap(true) : LetterMap(type, true);
    maps.FromServer[type] = iso ? IsoMap(false) : LetterMap(type, false);
  }
  return maps;
}

constexpr TTranslationMaps kTranslation = MakeTranslationMaps();

// The map to apply for a type, or nullptr when nothing changes.
const TByteMap* TranslationMap(TTxTranslateType type, bool toServer) {
  if (type == txttWindows || type >= txttNone) return nullptr;
  return toServer ? &kTranslation.ToServer[type] : &kTranslation.FromServer[type];
}

void ApplyMap(const TByteMap& map, unsigned char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) bytes[i] = map[bytes[i]];
}

// ---- Session server and COM -----------------------------------------------------

ITuxSession* session = nullptr;  // one reference, released only by DisposeSession
int tpTimeOut = 0;
bool comStarted = false;
bool comStartSucceeded = false;

// Stops COM when the thread that started it ends: for the application's
// thread that is process exit, when the library goes.
struct TComStopAtUnload {
  TComStopAtUnload() = default;
  TComStopAtUnload(const TComStopAtUnload&) = delete;
  TComStopAtUnload& operator=(const TComStopAtUnload&) = delete;
  ~TComStopAtUnload() {
    if (comStarted && comStartSucceeded) {
      CoUninitialize();
      comStarted = false;
    }
  }
};

void StartComOnce() {
  if (comStarted) return;
  comStartSucceeded = SUCCEEDED(CoInitialize(nullptr));
  comStarted = true;
  // Made after COM's own per-thread state, so it is destroyed before it.
  thread_local TComStopAtUnload stopAtUnload;
  static_cast<void>(stopAtUnload);
}


}  // namespace

ETxTpError::ETxTpError(const AnsiString& message) : ETxError(message) {
  Tperrno = static_cast<std::int32_t>(tperrno);
  Tpurcode = static_cast<std::int32_t>(tpurcode);
  tperrno = 0;
  tpurcode = 0;
}

ETxSvcFail::ETxSvcFail(const AnsiString& message, int errCode) : ETxTpError(message) {
  Tperrno = TPESVCFAIL;
  ErrCode = errCode;
}

ETxFmlError::ETxFmlError(const AnsiString& message) : ETxError(message) {
  Ferror = static_cast<std::int32_t>(Ferror32);
  Ferror32 = 0;
}

void CheckTperrno(const AnsiString& op) {
  if (tperrno == 0) return;
  // The detail first: it describes the failed call, and asking for a text is
  // an ATMI call of its own.
  const int detail = tperrordetail(0);
  AnsiString message = "Błąd Tuxedo "_ansi;
  message += TextOrEmpty(tpstrerror(tperrno));
  message += DetailText(detail);
  message += '\r';
  message += op;
  throw ETxTpError(message);
}

void CheckFerror(const AnsiString& op, unsigned long fieldId) {
  if (Ferror32 == 0) return;
  const int error = Ferror32;
  AnsiString message = "Błąd FML #"_ansi + IntToStr(error);
  if (fieldId != NoFieldId) message += ": Pole <"_ansi + AnsiString(fieldId) + ">";
  message += " - "_ansi + TextOrEmpty(Fstrerror32(error));
  if (!op.IsEmpty()) message += ": "_ansi + op;
  throw ETxFmlError(message);
}

int GetDebugMode() { return debugMode; }
void SetDebugMode(int mode) { debugMode = mode; }

bool BadFloat(float& value) { return AllBitsSet(value); }
bool BadDouble(double& value) { return AllBitsSet(value); }

AnsiString OpLabelAt(const AnsiString& text, const char* file, int line) {
  if (debugMode != 0) return Format("%s [%s.%d]", {text, BaseName(file), line});
  return Format("%s", {text});
}

void TTxGlobalClient::ClearTpErrors() {
  tperrno = 0;
  tpurcode = 0;
  Ferror32 = 0;
}

void TTxGlobalClient::UserLog(const AnsiString& pattern, const TVarRec* args, int high) {
  const AnsiString line = DateTimeToStr(Now()) + Format(pattern, args, high);
  if (!OpenUserLog()) return;
  std::fwrite(line.data(), 1, static_cast<std::size_t>(line.Length()), userLogFile);
  std::fputc('\n', userLogFile);
}

void TTxGlobalClient::SetUserLogPath(const AnsiString& path) {
  if (userLogFile != nullptr) {
    std::fclose(userLogFile);
    userLogFile = nullptr;
  }
  UserLogPath() = path;
}

AnsiString TTxGlobalClient::GetUserLogPath() { return UserLogPath(); }

// ---- Code pages --------------------------------------------------------------------

void TTxGlobalClient::TranslateString(unsigned char* text, bool toServer) {
  if (text == nullptr) return;
  const TByteMap* map = TranslationMap(GetTranslateType(), toServer);
  if (map != nullptr) ApplyMap(*map, text, std::strlen(reinterpret_cast<const char*>(text)));
}

void TTxGlobalClient::TranslateString(AnsiString& text, bool toServer) {
  if (text.IsEmpty()) return;
  const TByteMap* map = TranslationMap(GetTranslateType(), toServer);
  if (map == nullptr) return;
  // The string's own bytes up to its first zero, as the zero-terminated form sees them.
  std::string bytes = text.str();
  const std::size_t length = std::strlen(bytes.c_str());
  ApplyMap(*map, reinterpret_cast<unsigned char*>(bytes.data()), length);
  text = AnsiString(std::move(bytes));
}

void TTxGlobalClient::SetTranslateType(TTxTranslateType value) {
  GetSession()->put_AppServerCodePage(static_cast<LONG>(static_cast<signed char>(value)));
}

TTxTranslateType TTxGlobalClient::GetTranslateType() {
  const LONG codePage = TX_READ_SESSION(get_AppServerCodePage);
  return static_cast<TTxTranslateType>(static_cast<unsigned char>(codePage & 0xFF));
}

// ---- Session server ------------------------------------------------------------------

void TTxGlobalClient::CreateSession() {
  if (session != nullptr) return;
  StartComOnce();
  TComInterface<ITuxSession> created;
  const HRESULT hr =
      CoCreateInstance(CLSID_QuorTuxSes, nullptr,
                       CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER, created);
  // Systems without remote activation refuse the remote kind outright.
  if (hr == E_INVALIDARG) {
    CoCreateInstance(CLSID_QuorTuxSes, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                     created);
  }
  if (!created) throw Exception("Klasa <QuorTuxSes> nie jest zarejestrowana !"_ansi);
  session = created.Detach();
}

ITuxSession* TTxGlobalClient::GetSession() {
  CreateSession();
  return session;
}

void TTxGlobalClient::DisposeSession() noexcept {
  if (ITuxSession* released = std::exchange(session, nullptr)) released->Release();
}

void TTxGlobalClient::Connect() {
  GetSession()->Connect();
  if (TX_READ_SESSION(get_Connected) == VARIANT_FALSE) {
    throw ETxError("Brak połączenia z serwerem Tuxedo !"_ansi);
  }
}

void TTxGlobalClient::Terminate() { GetSession()->Terminate(); }

void TTxGlobalClient::ReadEnv(const AnsiString& FileName) {
  GetSession()->ReadEnv(WideString(FileName));
}

void TTxGlobalClient::SetEnvSection(const AnsiString& Value) {
  GetSession()->put_EnvSection(WideString(Value));
}

AnsiString TTxGlobalClient::GetEnvSection() { return AnsiString(TX_READ_SESSION(get_EnvSection)); }

void TTxGlobalClient::SetTpTimeOut(int Value) { tpTimeOut = Value; }
int TTxGlobalClient::GetTpTimeOut() { return tpTimeOut; }

int TTxGlobalClient::ArdoHash(const AnsiString& Text, AnsiString& Hashed) {
  WideString hashed;
  LONG result = 0;
  GetSession()->Hash(WideString(Text), &hashed, &result);
  Hashed = AnsiString(hashed);
  ClearTpErrors();
  return result;
}

int TTxGlobalClient::ArdoCheckName(const AnsiString& Name) {
  LONG result = -1;
  GetSession()->CheckName(WideString(Name), &result);
  ClearTpErrors();
  return result;
}

// ---- Transactions ----------------------------------------------------------------------

void TTxGlobalClient::BeginTransaction() {
  Connect();
  if (tpbegin(static_cast<unsigned long>(tpTimeOut), 0) < 0 && tperrno != 0) {
    CheckTperrno(OpLabel("Rozpoczęcie transakcji"_ansi));
  }
}

void TTxGlobalClient::CommitTransaction() {
  Connect();
  if (tpcommit(0) < 0 && tperrno != 0) CheckTperrno(OpLabel("Zatwierdzenie transakcji"_ansi));
}

void TTxGlobalClient::AbortTransaction() {
  Connect();
  if (tpabort(0) < 0 && tperrno != 0) CheckTperrno(OpLabel("Wycofanie transakcji"_ansi));
}

bool TTxGlobalClient::IsTransaction() {
  Connect();
  const int level = tpgetlev();
  if (level < 0 && tperrno != 0) CheckTperrno(OpLabel("Sprawdzenie transakcji"_ansi));
  return level != 0;
}

// ---- Field tables -----------------------------------------------------------------------

void TTxGlobalClient::UnloadFieldTables() {
  UnloadNameToIdTable();
  if (Ferror32 != 0) {
    CheckFerror(OpLabel("Wyładowanie tabeli pól Tuxedo (nazwa->identyfikator)"_ansi), NoFieldId);
  }
  UnloadIdToNameTable();
  if (Ferror32 != 0) {
    CheckFerror(OpLabel("Wyładowanie tabeli pól Tuxedo (identyfikator->nazwa)"_ansi), NoFieldId);
  }
}

// ---- TTxClient ----------------------------------------------------------------------------

TTxClient::TTxClient(TComponent* AOwner)
    : TComponent(AOwner), FSession(std::make_unique<TTuxSession>(nullptr)) {
  FSession->OnBroadcast = TTuxSessionBroadcastEvent(this, &TTxClient::HandleBroadcast);
  SetTpTimeOut(0);
  SetAuthenticate(txakNone);
  SetUseRouter(false);
}

TTxClient::~TTxClient() = default;

bool TTxClient::IsTranslateTypeStored() { return GetTranslateType() != DefaultTranslateType; }

int TTxClient::GetTpTimeOut() const { return TTxGlobalClient::GetTpTimeOut(); }
void TTxClient::SetTpTimeOut(int Value) { TTxGlobalClient::SetTpTimeOut(Value); }

bool TTxClient::GetConnected() { return FSession->GetConnected(); }

void TTxClient::SetConnected(bool Value) {
  const TComponentState state = ComponentState();
  if (state.Contains(csLoading) || state.Contains(csReading)) {
    FStreamedConnected = Value;
    return;
  }
  try {
    if (Value) {
      TTxGlobalClient::Connect();
    } else {
      TTxGlobalClient::Terminate();
    }
  } catch (const Exception& e) {
    throw EPropertyError(e.Message);
  }
}

TTxAuthKind TTxClient::GetAuthenticate() {
  return static_cast<TTxAuthKind>(FSession->GetAuthKind());
}
void TTxClient::SetAuthenticate(TTxAuthKind Value) {
  FSession->SetAuthKind(static_cast<TxAuthKind>(Value));
}

bool TTxClient::GetUseRouter() { return FSession->GetUseRouter(); }
void TTxClient::SetUseRouter(bool Value) { FSession->SetUseRouter(Value); }

AnsiString TTxClient::GetClientName() { return AnsiString(FSession->GetClientName()); }
void TTxClient::SetClientName(const AnsiString& Value) {
  FSession->SetClientName(WideString(Value));
}
AnsiString TTxClient::GetUserName() { return AnsiString(FSession->GetUserName()); }
void TTxClient::SetUserName(const AnsiString& Value) { FSession->SetUserName(WideString(Value)); }
AnsiString TTxClient::GetPasswd() { return AnsiString(FSession->GetPasswd()); }
void TTxClient::SetPasswd(const AnsiString& Value) { FSession->SetPasswd(WideString(Value)); }
AnsiString TTxClient::GetData() { return AnsiString(FSession->Getdata()); }
void TTxClient::SetData(const AnsiString& Value) { FSession->Setdata(WideString(Value)); }
AnsiString TTxClient::GetQuorAppCode() { return AnsiString(FSession->GetQuorAppCode()); }
void TTxClient::SetQuorAppCode(const AnsiString& Value) {
  FSession->SetQuorAppCode(WideString(Value));
}
AnsiString TTxClient::GetQuorAppLabel() { return AnsiString(FSession->GetQuorAppLabel()); }
void TTxClient::SetQuorAppLabel(const AnsiString& Value) {
  FSession->SetQuorAppLabel(WideString(Value));
}
AnsiString TTxClient::GetQuorAppVersion() { return AnsiString(FSession->GetQuorAppVersion()); }
void TTxClient::SetQuorAppVersion(const AnsiString& Value) {
  FSession->SetQuorAppVersion(WideString(Value));
}
AnsiString TTxClient::GetQuorAuthDll() { return AnsiString(FSession->GetQuorAuthDLL()); }
void TTxClient::SetQuorAuthDll(const AnsiString& Value) {
  FSession->SetQuorAuthDLL(WideString(Value));
}
int TTxClient::GetQuorLoginFlags() { return FSession->GetQuorLoginFlags(); }
void TTxClient::SetQuorLoginFlags(int Value) { FSession->SetQuorLoginFlags(Value); }
AnsiString TTxClient::GetQuorInfoLogin() { return AnsiString(FSession->GetQuorInfoLogin()); }
AnsiString TTxClient::GetQuorInfoUnit() { return AnsiString(FSession->GetQuorInfoUnit()); }
AnsiString TTxClient::GetQuorInfoRole() { return AnsiString(FSession->GetQuorInfoRole()); }
int TTxClient::GetQuorInfoAppKey() { return FSession->GetQuorInfoAppKey(); }
int TTxClient::GetQuorLoginResult() { return FSession->GetQuorLoginResult(); }

TTxTranslateType TTxClient::GetTranslateType() { return TTxGlobalClient::GetTranslateType(); }
void TTxClient::SetTranslateType(TTxTranslateType Value) {
  TTxGlobalClient::SetTranslateType(Value);
}

TNotifyEvent TTxClient::GetOnConnect() const { return FSession->OnConnect; }
void TTxClient::SetOnConnect(TNotifyEvent Value) { FSession->OnConnect = Value; }
TNotifyEvent TTxClient::GetAfterConnect() const { return FSession->OnAfterConnect; }
void TTxClient::SetAfterConnect(TNotifyEvent Value) { FSession->OnAfterConnect = Value; }

AnsiString TTxClient::GetEnvSection() { return TTxGlobalClient::GetEnvSection(); }
void TTxClient::SetEnvSection(const AnsiString& Value) { TTxGlobalClient::SetEnvSection(Value); }

void TTxClient::UserLog(const AnsiString& Pattern, const TVarRec* Args, int High) {
  TTxGlobalClient::UserLog(Pattern, Args, High);
}
void TTxClient::ReadEnv(const AnsiString& FileName) { TTxGlobalClient::ReadEnv(FileName); }
void TTxClient::UnloadFieldTables() { TTxGlobalClient::UnloadFieldTables(); }
void TTxClient::Connect() { TTxGlobalClient::Connect(); }
void TTxClient::Terminate() { TTxGlobalClient::Terminate(); }
void TTxClient::BeginTransaction() { TTxGlobalClient::BeginTransaction(); }
void TTxClient::CommitTransaction() { TTxGlobalClient::CommitTransaction(); }
void TTxClient::AbortTransaction() { TTxGlobalClient::AbortTransaction(); }
bool TTxClient::IsTransaction() { return TTxGlobalClient::IsTransaction(); }
int TTxClient::ArdoCheckName(const AnsiString& Name) {
  return TTxGlobalClient::ArdoCheckName(Name);
}

int TTxClient::CheckUnsol() {
  FSession->CheckUnsol();
  return 0;
}

void TTxClient::HandleBroadcast(TObject* /*Sender*/, char16_t* Data, long Len, long Flags) {
  if (!FOnBroadcast) return;
  // A buffer of the handler's own, zero-terminated even when empty.
  std::string text = Data != nullptr ? AnsiString(WideString(Data)).str() : std::string();
  FOnBroadcast(this, text.data(), Len, Flags);
}

void TTxClient::Loaded() {
  TComponent::Loaded();
  try {
    if (FStreamedConnected) {
      TTxGlobalClient::Connect();
    } else {
      TTxGlobalClient::Terminate();
    }
  } catch (const Exception& e) {
    if (!ComponentState().Contains(csDesigning)) throw Exception(e.Message);
    Application->MessageBox(e.Message, "Error", MB_OK | MB_ICONERROR);
  }
}

// ---- Form files ----------------------------------------------------------------------------

void RegisterTxGlobalClasses() {
  using C = TTxClient;
  PublishClass<TTxClient, TComponent>("TTxClient")
      .Integer("TpTimeOut", &C::GetTpTimeOut, &C::SetTpTimeOut)
      .Bool("Connected", &C::GetConnected, &C::SetConnected)
      .Enum("Authenticate", &C::GetAuthenticate, &C::SetAuthenticate,
            {"txakNone", "txakTPINIT", "txakQuor"})
      .Bool("UseRouter", &C::GetUseRouter, &C::SetUseRouter)
      .String("ClientName", &C::GetClientName, &C::SetClientName)
      .String("UserName", &C::GetUserName, &C::SetUserName)
      .String("Passwd", &C::GetPasswd, &C::SetPasswd)
      .String("Data", &C::GetData, &C::SetData)
      .String("QuorAppCode", &C::GetQuorAppCode, &C::SetQuorAppCode)
      .String("QuorAppLabel", &C::GetQuorAppLabel, &C::SetQuorAppLabel)
      .String("QuorAppVersion", &C::GetQuorAppVersion, &C::SetQuorAppVersion)
      .String("QuorAuthDll", &C::GetQuorAuthDll, &C::SetQuorAuthDll)
      .Integer("QuorLoginFlags", &C::GetQuorLoginFlags, &C::SetQuorLoginFlags)
      .String("QuorInfoLogin", &C::GetQuorInfoLogin, nullptr)
      .String("QuorInfoUnit", &C::GetQuorInfoUnit, nullptr)
      .String("QuorInfoRole", &C::GetQuorInfoRole, nullptr)
      .Integer("QuorInfoAppKey", &C::GetQuorInfoAppKey, nullptr)
      .Integer("QuorLoginResult", &C::GetQuorLoginResult, nullptr)
      .Enum("TranslateType", &C::GetTranslateType, &C::SetTranslateType,
            {"txttMazovia", "txttCSK", "txttCyfromat", "txttDHN", "txttLatin2", "txttIEA",
             "txttLogic", "txttMicrovex", "txttISO8859", "txttWindows", "txttASCII", "txttNone"})
      .Default(C::DefaultTranslateType)
      .Stored(&C::IsTranslateTypeStored)
      .String("EnvSection", &C::GetEnvSection, &C::SetEnvSection);
}

namespace {
[[maybe_unused]] const bool kTxGlobalClassesPublished = (RegisterTxGlobalClasses(), true);
}  // namespace

}  // namespace Tx
