#include "platform/session/TuxSessionServer.h"

#include <atmi.h>
#include <fml32.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/framework/HostPath.h"
#include "platform/session/LoginFields.h"
#include "platform/session/SessionText.h"
#include "platform/tuxedo/FmlCalls.h"

namespace Tx {

const CLSID CLSID_QuorTuxSes = "{75A8D8F0-651E-42B3-9257-2899248A14EE}"_guid;

namespace {

using namespace LoginFields;

constexpr LONG kNoConversion = 11;  // TTxTranslateType txttNone
const WideString kSource(QuorTuxSesProgID);

struct TSettings {
  bool UseRouter = false;
  TxAuthKind AuthKind = tsakNone;
  WideString ClientName;
  WideString UserName;
  WideString Passwd;
  WideString Data;
  WideString AppCode;
  WideString AppLabel;
  WideString AppVersion;
  WideString AuthDll;
  LONG LoginFlags = 0;
  LONG AppServerCodePage = kNoConversion;
  WideString EnvSection;
};

struct TLoginInfo {
  WideString Login;
  WideString Unit;
  WideString Role;
  LONG AppKey = 0;
  LONG Result = 0;
};

class TTuxSessionServer;

// What every object of the class shares. Made once and never destroyed, so
// that an object still referenced while statics are torn down finds it.
struct TSharedState {
  std::mutex Mutex;
  TSettings Settings;
  TLoginInfo Login;
  std::vector<TTuxSessionServer*> Objects;  // live objects, told of events
};

TSharedState& Shared() {
  static TSharedState* const state = new TSharedState;
  return *state;
}

TSettings CopySettings() {
  TSharedState& shared = Shared();
  const std::lock_guard lock(shared.Mutex);
  return shared.Settings;
}

// ---- The join of the calling thread -------------------------------------------

using TUnsolHandler = void (*)(char*, long, long);

struct TThreadJoin {
  bool Joined = false;  // joined through the server and not left since
  TUnsolHandler PreviousHandler = nullptr;
};

TThreadJoin& ThisThreadJoin() {
  thread_local TThreadJoin join;
  return join;
}

// Whether the session still works; the probe leaves the caller's error
// variables as they were.
bool SessionAlive() {
  const int savedError = tperrno;
  const long savedCode = tpurcode;
  const bool alive = tpgetlev() >= 0;
  tperrno = savedError;
  tpurcode = savedCode;
  return alive;
}

bool JoinedHere() { return ThisThreadJoin().Joined && SessionAlive(); }

void LeaveDomain() {
  TThreadJoin& join = ThisThreadJoin();
  if (!join.Joined) return;
  join.Joined = false;
  tpsetunsol(std::exchange(join.PreviousHandler, nullptr));
  tpterm();
}

HRESULT Failure(HRESULT hr, const AnsiString& text) {
  return SetComError(hr, WideString(text), kSource);
}

HRESULT AtmiFailure(const char* operation) {
  return Failure(E_FAIL, AnsiString(operation) + ": " + AnsiString(tpstrerror(tperrno)));
}

// ---- Typed buffers ----------------------------------------------------------------

struct TTpFree {
  void operator()(char* data) const noexcept { tpfree(data); }
};
using TTpBuffer = std::unique_ptr<char, TTpFree>;

TTpBuffer AllocateBuffer(const char* type, long size) {
  return TTpBuffer(tpalloc(const_cast<char*>(type), nullptr, size));
}

void CopyIdentifier(char (&field)[MAXTIDENT + 2], const AnsiString& value) {
  const std::size_t length =
      std::min<std::size_t>(static_cast<std::size_t>(value.Length()), MAXTIDENT);
  std::memcpy(field, value.data(), length);
  field[length] = '\0';
}

// The TPINIT of AuthKind 1 and 2 in `buffer`, or the failure that kept it
// from being made (buffer empty).
HRESULT MakeTpInit(const TSettings& settings, TTpBuffer& buffer) {
  const AnsiString data(settings.Data);
  const long dataLength = data.Length();
  // The application data goes from the data member on. The block must hold
  // it, whatever size the engine gave: some give every TPINIT its fixed size
  // (and their TPINITNEED asks for no more).
  const long needed = std::max(static_cast<long>(sizeof(TPINIT)),
                               static_cast<long>(offsetof(TPINIT, data)) + dataLength);
  buffer = AllocateBuffer("TPINIT", static_cast<long>(TPINITNEED(dataLength)));
  if (!buffer) return AtmiFailure("tpalloc");
  const long allocated = tptypes(buffer.get(), nullptr, nullptr);
  if (allocated < needed) {
    buffer.reset();
    if (allocated < 0) return AtmiFailure("tptypes");
    return Failure(E_FAIL, "tpalloc: bufor TPINIT ("_ansi + AnsiString(allocated) +
                               " B) nie mieści danych aplikacji (potrzeba "_ansi +
                               AnsiString(needed) + " B)");
  }
  auto* tpinfo = reinterpret_cast<TPINIT*>(buffer.get());
  std::memset(tpinfo, 0, sizeof(TPINIT));
  CopyIdentifier(tpinfo->usrname, AnsiString(settings.UserName));
  CopyIdentifier(tpinfo->cltname, AnsiString(settings.ClientName));
  CopyIdentifier(tpinfo->passwd, AnsiString(settings.Passwd));
  tpinfo->flags = TPU_DIP;
  tpinfo->datalen = dataLength;
  if (dataLength > 0) {
    std::memcpy(buffer.get() + offsetof(TPINIT, data), data.data(),
                static_cast<std::size_t>(dataLength));
  }
  return S_OK;
}

// ---- Login service --------------------------------------------------------------------

// Keeps Ferror32 as it was around FML32 calls whose misses are expected.
class TFerrorKeeper {
 public:
  TFerrorKeeper() noexcept : FSaved(Ferror32) {}
  ~TFerrorKeeper() { Ferror32 = FSaved; }
  TFerrorKeeper(const TFerrorKeeper&) = delete;
  TFerrorKeeper& operator=(const TFerrorKeeper&) = delete;

 private:
  int FSaved;
};

bool AddString(FBFR32* fbfr, FLDID32 field, const WideString& value) {
  const AnsiString text(value);
  return Fchg32(fbfr, field, 0, const_cast<char*>(text.c_str()), 0) != -1;
}

TTpBuffer MakeLoginRequest(const TSettings& settings) {
  const WideString* texts[] = {&settings.UserName, &settings.Passwd,   &settings.ClientName,
                               &settings.AppCode,  &settings.AppLabel, &settings.AppVersion,
                               &settings.AuthDll};
  long size = 1024;
  for (const WideString* text : texts) size += 2 * (text->Length() + 16);
  TTpBuffer request = AllocateBuffer("FML32", size);
  if (!request) return request;
  auto* fbfr = reinterpret_cast<FBFR32*>(request.get());
  long flags = settings.LoginFlags;
  const bool filled = AddString(fbfr, QL_USERNAME, settings.UserName) &&
                      AddString(fbfr, QL_PASSWD, settings.Passwd) &&
                      AddString(fbfr, QL_CLIENTNAME, settings.ClientName) &&
                      AddString(fbfr, QL_APPCODE, settings.AppCode) &&
                      AddString(fbfr, QL_APPLABEL, settings.AppLabel) &&
                      AddString(fbfr, QL_APPVERSION, settings.AppVersion) &&
                      AddString(fbfr, QL_AUTHDLL, settings.AuthDll) &&
                      Fchg32(fbfr, QL_FLAGS, 0, reinterpret_cast<char*>(&flags), 0) != -1;
  if (!filled) request.reset();
  return request;
}

bool IsFml32(char* data) {
  char type[9] = {};
  return data != nullptr && tptypes(data, type, nullptr) >= 0 && std::strcmp(type, "FML32") == 0;
}

WideString ReplyString(FBFR32* fbfr, FLDID32 field) {
  FLDLEN32 length = 0;
  const char* value = Ffind32(fbfr, field, 0, &length);
  return value == nullptr ? WideString() : WideString(AnsiString(value));
}

bool ReplyLong(FBFR32* fbfr, FLDID32 field, LONG& value) {
  if (Fpres32(fbfr, field, 0) == 0) return false;
  value = static_cast<LONG>(FieldLong(fbfr, field, 0));
  return true;
}

// Calls the login service; see LoginFields.h for the contract.
TLoginInfo CallLoginService(const TSettings& settings) {
  TLoginInfo info;
  info.Result = -1;
  const TTpBuffer request = MakeLoginRequest(settings);
  TTpBuffer reply = AllocateBuffer("FML32", 1024);
  if (!request || !reply) return info;

  char* replyData = reply.release();
  long replyLength = 0;
  const int rc =
      tpcall(const_cast<char*>(LoginService), request.get(), 0, &replyData, &replyLength, 0);
  reply.reset(replyData);
  const bool serviceFailed = rc < 0 && tperrno == TPESVCFAIL;
  if (rc < 0 && !serviceFailed) return info;

  const TFerrorKeeper keepFerror;
  LONG result = 0;
  if (IsFml32(reply.get())) {
    auto* fbfr = reinterpret_cast<FBFR32*>(reply.get());
    info.Login = ReplyString(fbfr, QL_LOGIN);
    info.Unit = ReplyString(fbfr, QL_UNIT);
    info.Role = ReplyString(fbfr, QL_ROLE);
    ReplyLong(fbfr, QL_APPKEY, info.AppKey);
    ReplyLong(fbfr, QL_RESULT, result);
  }
  if (serviceFailed && result == 0) result = 1;
  info.Result = result;
  return info;
}

// ---- Unsolicited messages ---------------------------------------------------------------

WideString BroadcastText(char* data, long length) {
  if (data == nullptr || length <= 0) return WideString();
  char type[9] = {};
  if (tptypes(data, type, nullptr) < 0) return WideString();
  const std::string_view kind(type);
  if (kind == "STRING") {
    const void* zero = std::memchr(data, '\0', static_cast<std::size_t>(length));
    const long textLength = zero == nullptr ? length : static_cast<const char*>(zero) - data;
    return WideString(AnsiString(data, static_cast<int>(textLength)));
  }
  if (kind == "CARRAY" || kind == "X_OCTET") {
    return WideString(AnsiString(data, static_cast<int>(std::min<long>(length, 0x7FFFFFFF))));
  }
  return WideString();
}

LONG ClampToLong32(long value) {
  return static_cast<LONG>(std::clamp<long>(value, -0x7FFFFFFFL - 1, 0x7FFFFFFFL));
}

void DeliverUnsolicited(char* data, long length, long flags);

// ---- The COM object --------------------------------------------------------------------

class TTuxSessionServer final : public TComObject<ITuxSession, IConnectionPointContainer> {
 public:
  TTuxSessionServer() : FEvents(this) {
    TSharedState& shared = Shared();
    const std::lock_guard lock(shared.Mutex);
    shared.Objects.push_back(this);
  }
  ~TTuxSessionServer() override {
    TSharedState& shared = Shared();
    const std::lock_guard lock(shared.Mutex);
    std::erase(shared.Objects, this);
  }

  // Calls raise(object) for every live object, each kept alive meanwhile.
  template <class Raise>
  static void ForEveryObject(Raise raise) {
    std::vector<TComInterface<ITuxSession>> objects;
    {
      TSharedState& shared = Shared();
      const std::lock_guard lock(shared.Mutex);
      for (TTuxSessionServer* object : shared.Objects) objects.emplace_back(object);
    }
    for (const auto& object : objects) raise(static_cast<TTuxSessionServer&>(*object.get()));
  }

  void RaiseConnect() {
    for (const auto& sink : FEvents.Sinks()) sink->OnConnect();
  }
  void RaiseAfterConnect() {
    for (const auto& sink : FEvents.Sinks()) sink->OnAfterConnect();
  }
  void RaiseBroadcast(const WideString& data, LONG length, LONG flags) {
    for (const auto& sink : FEvents.Sinks()) sink->OnBroadcast(data, length, flags);
  }

  // IDispatch: late binding is not offered.
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, void** ppTInfo) override {
    if (ppTInfo != nullptr) *ppTInfo = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, void*, void*, void*, UINT*) override {
    return E_NOTIMPL;
  }

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(void** ppEnum) override {
    if (ppEnum != nullptr) *ppEnum = nullptr;
    return E_NOTIMPL;
  }
  HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    if (ppCP == nullptr) return E_POINTER;
    *ppCP = nullptr;
    if (riid != ITuxSessionEvents::Uuid) return CONNECT_E_NOCONNECTION;
    *ppCP = &FEvents;
    FEvents.AddRef();
    return S_OK;
  }

  // ITuxSession: methods
  HRESULT Connect() override {
    if (JoinedHere()) return S_OK;
    LeaveDomain();  // a join the domain has cut off
    ForEveryObject([](TTuxSessionServer& object) { object.RaiseConnect(); });
    const HRESULT hr = Join(CopySettings());
    if (FAILED(hr)) return hr;
    ForEveryObject([](TTuxSessionServer& object) { object.RaiseAfterConnect(); });
    return S_OK;
  }

  HRESULT Terminate() override {
    LeaveDomain();
    return S_OK;
  }

  HRESULT CheckName(const WideString& Name, LONG* Result) override {
    if (Result == nullptr) return E_POINTER;
    *Result = SessionText::CheckClientName(AnsiString(Name));
    return S_OK;
  }

  HRESULT get_Connected(VARIANT_BOOL* Value) override {
    if (Value == nullptr) return E_POINTER;
    *Value = ToVariantBool(JoinedHere());
    return S_OK;
  }
  HRESULT put_Connected(VARIANT_BOOL Value) override {
    return Value != VARIANT_FALSE ? Connect() : Terminate();
  }

  HRESULT ReadEnv(const WideString& FileName) override {
    const AnsiString name(FileName);
    std::ifstream in(HostPath(name).str(), std::ios::binary);
    if (!in) return Failure(E_FAIL, "Nie można odczytać pliku "_ansi + name);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const SessionText::TEnvFile file =
        SessionText::ParseEnvFile(AnsiString(text), AnsiString(CopySettings().EnvSection));
    SessionText::ApplyEnvFile(file);
    if (!file.BadLines.empty()) {
      return Failure(E_INVALIDARG, "Błędny wiersz "_ansi + AnsiString(file.BadLines.front()) +
                                       " pliku "_ansi + name);
    }
    return S_OK;
  }

  HRESULT CheckUnsol() override {
    if (!JoinedHere()) return S_FALSE;
    if (tpchkunsol() < 0) return AtmiFailure("tpchkunsol");
    return S_OK;
  }

  HRESULT Hash(const WideString& Text, WideString* Hashed, LONG* Result) override {
    if (Hashed == nullptr || Result == nullptr) return E_POINTER;
    const AnsiString text(Text);
    *Hashed = WideString(SessionText::Sha256Hex(text));
    *Result = text.Length();
    return S_OK;
  }

  // ITuxSession: properties
  HRESULT get_UseRouter(VARIANT_BOOL* Value) override {
    bool value = false;
    const HRESULT hr = Get(&TSettings::UseRouter, &value);
    if (SUCCEEDED(hr)) *Value = ToVariantBool(value);
    return hr;
  }
  HRESULT put_UseRouter(VARIANT_BOOL Value) override {
    return Put(&TSettings::UseRouter, Value != VARIANT_FALSE);
  }
  HRESULT get_AuthKind(TxAuthKind* Value) override { return Get(&TSettings::AuthKind, Value); }
  HRESULT put_AuthKind(TxAuthKind Value) override {
    if (Value != tsakNone && Value != tsakTPINIT && Value != tsakQuor) {
      return Failure(E_INVALIDARG, "Nieznany rodzaj uwierzytelniania "_ansi +
                                       AnsiString(static_cast<int>(Value)));
    }
    return Put(&TSettings::AuthKind, Value);
  }
  HRESULT get_ClientName(WideString* Value) override { return Get(&TSettings::ClientName, Value); }
  HRESULT put_ClientName(const WideString& Value) override {
    return Put(&TSettings::ClientName, Value);
  }
  HRESULT get_UserName(WideString* Value) override { return Get(&TSettings::UserName, Value); }
  HRESULT put_UserName(const WideString& Value) override {
    return Put(&TSettings::UserName, Value);
  }
  HRESULT get_Passwd(WideString* Value) override { return Get(&TSettings::Passwd, Value); }
  HRESULT put_Passwd(const WideString& Value) override { return Put(&TSettings::Passwd, Value); }
  HRESULT get_data(WideString* Value) override { return Get(&TSettings::Data, Value); }
  HRESULT put_data(const WideString& Value) override { return Put(&TSettings::Data, Value); }
  HRESULT get_QuorAppCode(WideString* Value) override { return Get(&TSettings::AppCode, Value); }
  HRESULT put_QuorAppCode(const WideString& Value) override {
    return Put(&TSettings::AppCode, Value);
  }
  HRESULT get_QuorAppLabel(WideString* Value) override { return Get(&TSettings::AppLabel, Value); }
  HRESULT put_QuorAppLabel(const WideString& Value) override {
    return Put(&TSettings::AppLabel, Value);
  }
  HRESULT get_QuorAppVersion(WideString* Value) override {
    return Get(&TSettings::AppVersion, Value);
  }
  HRESULT put_QuorAppVersion(const WideString& Value) override {
    return Put(&TSettings::AppVersion, Value);
  }
  HRESULT get_QuorAuthDLL(WideString* Value) override { return Get(&TSettings::AuthDll, Value); }
  HRESULT put_QuorAuthDLL(const WideString& Value) override {
    return Put(&TSettings::AuthDll, Value);
  }
  HRESULT get_QuorLoginFlags(LONG* Value) override { return Get(&TSettings::LoginFlags, Value); }
  HRESULT put_QuorLoginFlags(LONG Value) override { return Put(&TSettings::LoginFlags, Value); }

  HRESULT get_QuorInfoLogin(WideString* Value) override {
    return GetLogin(&TLoginInfo::Login, Value);
  }
  HRESULT get_QuorInfoUnit(WideString* Value) override {
    return GetLogin(&TLoginInfo::Unit, Value);
  }
  HRESULT get_QuorInfoRole(WideString* Value) override {
    return GetLogin(&TLoginInfo::Role, Value);
  }
  HRESULT get_QuorInfoAppKey(LONG* Value) override { return GetLogin(&TLoginInfo::AppKey, Value); }
  HRESULT get_QuorLoginResult(LONG* Value) override { return GetLogin(&TLoginInfo::Result, Value); }

  HRESULT get_AppServerCodePage(LONG* Value) override {
    return Get(&TSettings::AppServerCodePage, Value);
  }
  HRESULT put_AppServerCodePage(LONG Value) override {
    return Put(&TSettings::AppServerCodePage, Value);
  }
  HRESULT get_EnvSection(WideString* Value) override { return Get(&TSettings::EnvSection, Value); }
  HRESULT put_EnvSection(const WideString& Value) override {
    return Put(&TSettings::EnvSection, Value);
  }

 private:
  template <class T>
  static HRESULT Get(T TSettings::*member, T* value) {
    if (value == nullptr) return E_POINTER;
    TSharedState& shared = Shared();
    const std::lock_guard lock(shared.Mutex);
    *value = shared.Settings.*member;
    return S_OK;
  }
  template <class T>
  static HRESULT Put(T TSettings::*member, const T& value) {
    TSharedState& shared = Shared();
    const std::lock_guard lock(shared.Mutex);
    shared.Settings.*member = value;
    return S_OK;
  }
  template <class T>
  static HRESULT GetLogin(T TLoginInfo::*member, T* value) {
    if (value == nullptr) return E_POINTER;
    TSharedState& shared = Shared();
    const std::lock_guard lock(shared.Mutex);
    *value = shared.Login.*member;
    return S_OK;
  }

  static void StoreLogin(const TLoginInfo& info) {
    TSharedState& shared = Shared();
    const std::lock_guard lock(shared.Mutex);
    shared.Login = info;
  }

  // Joins the calling thread as the settings say; see the header.
  static HRESULT Join(const TSettings& settings) {
    int rc = 0;
    if (settings.AuthKind == tsakNone) {
      rc = tpinit(nullptr);
    } else {
      TTpBuffer tpinfo;
      if (const HRESULT made = MakeTpInit(settings, tpinfo); FAILED(made)) return made;
      rc = tpinit(reinterpret_cast<TPINIT*>(tpinfo.get()));
    }
    if (rc < 0) return AtmiFailure("tpinit");

    TThreadJoin& join = ThisThreadJoin();
    join.Joined = true;
    const TUnsolHandler previous = tpsetunsol(DeliverUnsolicited);
    join.PreviousHandler = previous == TPUNSOLERR ? nullptr : previous;

    if (settings.AuthKind == tsakQuor) {
      const TLoginInfo info = CallLoginService(settings);
      StoreLogin(info);
      if (info.Result != 0) {
        LeaveDomain();
        return Failure(E_ACCESSDENIED, "Logowanie odrzucone, kod "_ansi + AnsiString(info.Result));
      }
    }
    return S_OK;
  }

  TConnectionPoint<ITuxSessionEvents> FEvents;
};

// The handler ATMI calls from tpchkunsol. Nothing may escape into ATMI.
void DeliverUnsolicited(char* data, long length, long flags) {
  try {
    const WideString text = BroadcastText(data, length);
    TTuxSessionServer::ForEveryObject([&](TTuxSessionServer& object) {
      object.RaiseBroadcast(text, ClampToLong32(length), ClampToLong32(flags));
    });
  } catch (...) {
    // A sink's failure ends this message's delivery, not the check.
  }
}

// ---- Registration ---------------------------------------------------------------------------

std::mutex registrationMutex;
DWORD registrationCookie = 0;

struct TRegisterAtStart {
  TRegisterAtStart() { RegisterBuiltinSessionServer(); }
} registerAtStart;

}  // namespace

void RegisterBuiltinSessionServer() {
  const std::lock_guard lock(registrationMutex);
  if (registrationCookie != 0) return;
  registrationCookie = RegisterComClass(CLSID_QuorTuxSes, QuorTuxSesProgID,
                                        CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                        ComClassFactory<TTuxSessionServer>());
}

void RevokeBuiltinSessionServer() noexcept {
  const std::lock_guard lock(registrationMutex);
  if (registrationCookie == 0) return;
  RevokeComClass(registrationCookie);
  registrationCookie = 0;
}

bool BuiltinSessionServerRegistered() noexcept {
  const std::lock_guard lock(registrationMutex);
  return registrationCookie != 0;
}

TBuiltinSessionServerAbsence::TBuiltinSessionServerAbsence() noexcept
    : FWasRegistered(BuiltinSessionServerRegistered()) {
  RevokeBuiltinSessionServer();
}

TBuiltinSessionServerAbsence::~TBuiltinSessionServerAbsence() {
  if (!FWasRegistered) return;
  try {
    RegisterBuiltinSessionServer();
  } catch (...) {
    // Only an allocation failure gets here; the class simply stays unregistered.
  }
}

TComInterface<ITuxSession> CreateBuiltinSessionServer() {
  auto* object = new TTuxSessionServer;
  return TComInterface<ITuxSession>(static_cast<ITuxSession*>(object));
}

void ResetBuiltinSessionServer() noexcept {
  LeaveDomain();
  TSharedState& shared = Shared();
  const std::lock_guard lock(shared.Mutex);
  shared.Settings = TSettings();
  shared.Login = TLoginInfo();
}

}  // namespace Tx
