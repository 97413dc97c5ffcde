#include "platform/framework/Com.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <new>
#include <string>

#include "platform/framework/Dialogs.h"
#include "platform/framework/TextCompare.h"

namespace Tx {

namespace {

// ---- Per-thread COM state -----------------------------------------------------

struct ThreadComState {
  int InitCount = 0;
  DWORD Apartment = COINIT_APARTMENTTHREADED;
  TComInterface<IErrorInfo> ErrorInfo;
};

ThreadComState& ThisThread() {
  thread_local ThreadComState state;
  return state;
}

std::atomic<bool> gRemoteActivation{true};

// ---- Class registry -----------------------------------------------------------

struct Registration {
  DWORD Cookie = 0;
  CLSID ClassId;
  AnsiString ProgId;
  DWORD Contexts = 0;
  TComClassFactory Factory;
};

class ClassRegistry {
 public:
  DWORD Add(REFCLSID classId, const AnsiString& progId, DWORD contexts, TComClassFactory factory) {
    const std::lock_guard<std::mutex> lock(FMutex);
    const DWORD cookie = ++FLastCookie;
    FEntries.push_back({cookie, classId, progId, contexts, std::move(factory)});
    return cookie;
  }

  bool Revoke(DWORD cookie) noexcept {
    const std::lock_guard<std::mutex> lock(FMutex);
    for (auto it = FEntries.begin(); it != FEntries.end(); ++it) {
      if (it->Cookie == cookie) {
        FEntries.erase(it);
        return true;
      }
    }
    return false;
  }

  void RemoveClass(REFCLSID classId) noexcept {
    const std::lock_guard<std::mutex> lock(FMutex);
    std::erase_if(FEntries, [&](const Registration& r) { return r.ClassId == classId; });
  }

  // The newest registration of the class; copied, so that the factory runs
  // without the lock (it may register or create other classes).
  bool FindClass(REFCLSID classId, Registration& found) const {
    const std::lock_guard<std::mutex> lock(FMutex);
    for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it) {
      if (it->ClassId == classId) {
        found = *it;
        return true;
      }
    }
    return false;
  }

  bool FindProgId(const AnsiString& progId, CLSID& classId) const {
    const std::lock_guard<std::mutex> lock(FMutex);
    for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it) {
      if (!it->ProgId.IsEmpty() && SameText(it->ProgId, progId)) {
        classId = it->ClassId;
        return true;
      }
    }
    return false;
  }

 private:
  mutable std::mutex FMutex;
  DWORD FLastCookie = 0;
  std::vector<Registration> FEntries;
};

ClassRegistry& Registry() {
  static ClassRegistry registry;
  return registry;
}

constexpr DWORD kServerKinds = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                               CLSCTX_INPROC_SERVER16 | CLSCTX_REMOTE_SERVER |
                               CLSCTX_INPROC_HANDLER16;
constexpr DWORD kOptions = CLSCTX_NO_CODE_DOWNLOAD | CLSCTX_NO_CUSTOM_MARSHAL |
                           CLSCTX_ENABLE_CODE_DOWNLOAD | CLSCTX_NO_FAILURE_LOG |
                           CLSCTX_DISABLE_AAA | CLSCTX_ENABLE_AAA | CLSCTX_FROM_DEFAULT_CONTEXT |
                           CLSCTX_ACTIVATE_32_BIT_SERVER | CLSCTX_ACTIVATE_64_BIT_SERVER;
// The kinds a registration can serve; the 16-bit kinds are the same servers.
constexpr DWORD kRegistrableKinds = CLSCTX_ALL;

DWORD ServedKinds(DWORD requested) {
  DWORD kinds = requested & kRegistrableKinds;
  if (requested & CLSCTX_INPROC_SERVER16) kinds |= CLSCTX_INPROC_SERVER;
  if (requested & CLSCTX_INPROC_HANDLER16) kinds |= CLSCTX_INPROC_HANDLER;
  return kinds;
}

bool ValidContext(DWORD context) {
  if ((context & ~(kServerKinds | kOptions)) != 0) return false;
  if ((context & kServerKinds) == 0) return false;
  if ((context & CLSCTX_REMOTE_SERVER) != 0 && !gRemoteActivation.load()) return false;
  return true;
}

WideString WideFromAnsi(const AnsiString& text) { return WideString(text); }

// ---- Error information object -------------------------------------------------

class TErrorInfoObject : public TComObject<IErrorInfo, ICreateErrorInfo> {
 public:
  HRESULT GetGUID(GUID* pGUID) override { return Out(pGUID, FGuid); }
  HRESULT GetSource(WideString* pBstrSource) override { return Out(pBstrSource, FSource); }
  HRESULT GetDescription(WideString* pBstrDescription) override {
    return Out(pBstrDescription, FDescription);
  }
  HRESULT GetHelpFile(WideString* pBstrHelpFile) override { return Out(pBstrHelpFile, FHelpFile); }
  HRESULT GetHelpContext(DWORD* pdwHelpContext) override {
    return Out(pdwHelpContext, FHelpContext);
  }

  HRESULT SetGUID(REFGUID rguid) override {
    FGuid = rguid;
    return S_OK;
  }
  HRESULT SetSource(LPCOLESTR szSource) override { return In(FSource, szSource); }
  HRESULT SetDescription(LPCOLESTR szDescription) override { return In(FDescription, szDescription); }
  HRESULT SetHelpFile(LPCOLESTR szHelpFile) override { return In(FHelpFile, szHelpFile); }
  HRESULT SetHelpContext(DWORD dwHelpContext) override {
    FHelpContext = dwHelpContext;
    return S_OK;
  }

 private:
  template <class T>
  static HRESULT Out(T* target, const T& value) {
    if (target == nullptr) return E_POINTER;
    *target = value;
    return S_OK;
  }
  static HRESULT In(WideString& field, LPCOLESTR text) {
    field = WideString(text);
    return S_OK;
  }

  GUID FGuid;
  WideString FSource;
  WideString FDescription;
  WideString FHelpFile;
  DWORD FHelpContext = 0;
};

// ---- Debugger ---------------------------------------------------------------------

bool DebuggerAttached() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0) return std::stol(line.substr(10)) != 0;
  }
  return false;
}

const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') base = p + 1;
  }
  return base;
}

AnsiString Hex8(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return AnsiString(text);
}

}  // namespace

// ---- HRESULT ----------------------------------------------------------------------

AnsiString HResultText(HRESULT hr) {
  switch (hr) {
    case S_OK: return "Success";
    case S_FALSE: return "Success (false)";
    case E_NOTIMPL: return "Not implemented";
    case E_NOINTERFACE: return "No such interface supported";
    case E_POINTER: return "Invalid pointer";
    case E_ABORT: return "Operation aborted";
    case E_FAIL: return "Unspecified error";
    case E_UNEXPECTED: return "Catastrophic failure";
    case E_ACCESSDENIED: return "Access is denied";
    case E_HANDLE: return "The handle is invalid";
    case E_OUTOFMEMORY: return "Not enough memory";
    case E_INVALIDARG: return "The parameter is incorrect";
    case CLASS_E_NOAGGREGATION: return "Class does not support aggregation";
    case CLASS_E_CLASSNOTAVAILABLE: return "Class not available";
    case REGDB_E_CLASSNOTREG: return "Class not registered";
    case CO_E_NOTINITIALIZED: return "CoInitialize has not been called";
    case CO_E_CLASSSTRING: return "Invalid class string";
    case CO_E_SERVER_EXEC_FAILURE: return "Server execution failed";
    case RPC_E_CHANGED_MODE: return "Cannot change thread mode after it is set";
    case DISP_E_MEMBERNOTFOUND: return "Member not found";
    case DISP_E_EXCEPTION: return "Exception occurred";
    case CONNECT_E_NOCONNECTION: return "No such connection";
    case CONNECT_E_CANNOTCONNECT: return "The sink does not implement the events interface";
    default: return "Error " + Hex8(hr);
  }
}

HRESULT OleCheck(HRESULT hr) {
  if (FAILED(hr)) throw EOleSysError(HResultText(hr), hr);
  return hr;
}

// ---- GUID ---------------------------------------------------------------------------

AnsiString GUIDToString(REFGUID Guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(Guid.Data1), static_cast<unsigned>(Guid.Data2),
                static_cast<unsigned>(Guid.Data3), Guid.Data4[0], Guid.Data4[1], Guid.Data4[2],
                Guid.Data4[3], Guid.Data4[4], Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
  return AnsiString(text);
}

GUID StringToGUID(const AnsiString& Text) {
  GUID guid;
  if (Text.Length() != 38 || !ComDetail::ParseGuid(Text.view(), guid)) {
    throw EConvertError("'" + Text + "' is not a valid GUID value");
  }
  return guid;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (lpsz == nullptr || pclsid == nullptr) return E_INVALIDARG;
  const AnsiString text = WideString(lpsz).ToAnsiString();
  GUID guid;
  if (text.Length() == 38 && ComDetail::ParseGuid(text.view(), guid)) {
    *pclsid = guid;
    return S_OK;
  }
  return CLSIDFromProgID(lpsz, pclsid);
}

HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid) {
  if (lpszProgID == nullptr || lpclsid == nullptr) return E_INVALIDARG;
  CLSID found;
  if (!Registry().FindProgId(WideString(lpszProgID).ToAnsiString(), found)) {
    *lpclsid = GUID_NULL;
    return CO_E_CLASSSTRING;
  }
  *lpclsid = found;
  return S_OK;
}

CLSID ProgIDToClassID(const AnsiString& ProgID) {
  CLSID classId;
  OleCheck(CLSIDFromProgID(WideFromAnsi(ProgID).c_bstr(), &classId));
  return classId;
}

// ---- Start-up ------------------------------------------------------------------------

HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit) {
  constexpr DWORD known = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
  if (pvReserved != nullptr || (dwCoInit & ~known) != 0) return E_INVALIDARG;
  ThreadComState& state = ThisThread();
  const DWORD apartment = dwCoInit & COINIT_APARTMENTTHREADED;
  if (state.InitCount > 0) {
    if (apartment != state.Apartment) return RPC_E_CHANGED_MODE;
    ++state.InitCount;
    return S_FALSE;
  }
  state.InitCount = 1;
  state.Apartment = apartment;
  return S_OK;
}

HRESULT CoInitialize(void* pvReserved) {
  return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() noexcept {
  ThreadComState& state = ThisThread();
  if (state.InitCount == 0) return;
  if (--state.InitCount == 0) state.ErrorInfo.Reset();
}

void SetComRemoteActivation(bool Available) noexcept { gRemoteActivation.store(Available); }
bool ComRemoteActivation() noexcept { return gRemoteActivation.load(); }

// ---- Registry ------------------------------------------------------------------------

DWORD RegisterComClass(REFCLSID ClassId, const AnsiString& ProgId, DWORD Contexts,
                       TComClassFactory Factory) {
  if (!Factory || (Contexts & kRegistrableKinds) == 0 || (Contexts & ~kRegistrableKinds) != 0) {
    throw EOleSysError("Cannot register class " + GUIDToString(ClassId) + ": " +
                           HResultText(E_INVALIDARG),
                       E_INVALIDARG);
  }
  return Registry().Add(ClassId, ProgId, Contexts, std::move(Factory));
}

bool RevokeComClass(DWORD Cookie) noexcept { return Registry().Revoke(Cookie); }

void UnregisterComClass(REFCLSID ClassId) noexcept { Registry().RemoveClass(ClassId); }

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!ValidContext(dwClsContext)) return E_INVALIDARG;
  if (ThisThread().InitCount == 0) return CO_E_NOTINITIALIZED;

  Registration entry;
  if (!Registry().FindClass(rclsid, entry)) return REGDB_E_CLASSNOTREG;
  if ((entry.Contexts & ServedKinds(dwClsContext)) == 0) return REGDB_E_CLASSNOTREG;
  // An aggregated object hands its outer object only its own IUnknown.
  if (pUnkOuter != nullptr && riid != IUnknown::Uuid) return CLASS_E_NOAGGREGATION;

  TComInterface<IUnknown> object;
  HRESULT hr = S_OK;
  try {
    hr = entry.Factory(pUnkOuter, object);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const Exception& e) {
    return SetComError(E_FAIL, WideString(e.Message), WideString(entry.ProgId));
  } catch (const std::exception& e) {
    return SetComError(E_FAIL, WideString(e.what()), WideString(entry.ProgId));
  }
  if (FAILED(hr)) return hr;
  if (!object) return E_UNEXPECTED;
  // A failed query leaves the new object with no reference: `object` frees it.
  return object->QueryInterface(riid, ppv);
}

HRESULT OleRun(IUnknown* pUnknown) {
  if (pUnknown == nullptr) return E_INVALIDARG;
  void* p = nullptr;
  if (FAILED(pUnknown->QueryInterface(IRunnableObject::Uuid, &p))) return S_OK;
  const auto runnable = TComInterface<IRunnableObject>::Attach(static_cast<IRunnableObject*>(p));
  return runnable->Run(nullptr);
}

// ---- Error information ---------------------------------------------------------------------

HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo) {
  if (pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = nullptr;
  auto* info = new (std::nothrow) TErrorInfoObject;
  if (info == nullptr) return E_OUTOFMEMORY;
  *pperrinfo = info;
  info->AddRef();
  return S_OK;
}

HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) {
  if (dwReserved != 0) return E_INVALIDARG;
  ThisThread().ErrorInfo = TComInterface<IErrorInfo>(perrinfo);
  return S_OK;
}

HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) {
  if (dwReserved != 0 || pperrinfo == nullptr) return E_INVALIDARG;
  *pperrinfo = ThisThread().ErrorInfo.Detach();
  return *pperrinfo ? S_OK : S_FALSE;
}

HRESULT SetComError(HRESULT hr, const WideString& Description, const WideString& Source) {
  TComInterface<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.ReleaseAndGetAddressOf()))) return hr;
  create->SetDescription(Description.c_bstr());
  create->SetSource(Source.c_bstr());
  TComInterface<IErrorInfo> info;
  if (SUCCEEDED(create.As(info))) SetErrorInfo(0, info.get());
  return hr;
}

// ---- COM check dialog -------------------------------------------------------------------------

HRESULT ComCheckDialog(HRESULT hr, const char* Expression, const char* File, int Line) {
  if (SUCCEEDED(hr)) return hr;
  const AnsiString expression(Expression);
  const AnsiString place = AnsiString(BaseName(File ? File : "")) + "(" + AnsiString(Line) + ")";
  const AnsiString text = expression + "\r\n\r\n" + Hex8(hr) + ": " + HResultText(hr) + "\r\n" +
                          place + "\r\n\r\n" +
                          "Press [Y]es to terminate, [N]o to continue and [C]ancel to Debug";
  const int answer = MessageBoxA(nullptr, text.c_str(), "HRCHECK: ", MB_YESNOCANCEL | MB_ICONERROR);
  if (answer == IDYES) {
    throw EOleSysError(expression + ": " + HResultText(hr), hr);
  }
  if (answer == IDCANCEL) {
    OutputDebugStringA(("HRCHECK: " + expression + " " + Hex8(hr) + " at " + place).c_str());
    if (DebuggerAttached()) std::raise(SIGTRAP);
  }
  return hr;
}

}  // namespace Tx
