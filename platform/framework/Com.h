// The COM edges: HRESULTs, GUIDs, reference-counted interfaces and a smart
// pointer for them, per-thread COM start-up, object creation from an
// in-process registry of classes, OleRun, per-thread error information,
// connection points for events, and the framework's COM check dialog.
//
// The registry stands in for the system's class registration: applications
// and tests register a factory for a class id (and optionally a ProgID such
// as "QuorTuxSes") with the class contexts it serves, and CoCreateInstance
// answers from it:
//   - a class registered for CLSCTX_INPROC_SERVER answers in-process
//     requests, one registered only for CLSCTX_LOCAL_SERVER answers requests
//     that include the local server, and so on; a request none of whose
//     contexts the class serves, or an unknown class, gets REGDB_E_CLASSNOTREG;
//   - a context without any server kind, with reserved bits, or asking for a
//     remote server while remote activation is switched off
//     (SetComRemoteActivation(false), as on a system without distributed
//     COM) gets E_INVALIDARG;
//   - a thread that has not called CoInitialize(Ex) gets CO_E_NOTINITIALIZED.
// A later registration of the same class hides the earlier one until it is
// revoked. Registration is thread-safe; COM start-up and error information
// are per thread, as in COM.
//
// Interfaces. Every interface derives along one line from IUnknown and
// declares its identity and parent:
//   struct IFoo : IUnknown {
//     static constexpr IID Uuid = "{...}"_guid;
//     using Base = IUnknown;
//     virtual HRESULT Bar() = 0;
//   };
// TComObject<IFoo, ...> implements IUnknown for objects that implement
// them; TComInterface<IFoo> holds one reference. Objects are freed by their
// last Release, never deleted through an interface. Strings cross as
// WideString (the framework's BSTR); the IDispatch methods are present to
// keep the layout of dual interfaces, but late binding is not offered.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/framework/AnsiString.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/WideString.h"
#include "platform/framework/WinTypes.h"

namespace Tx {

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using SCODE = HRESULT;
using DISPID = LONG;
using LCID = DWORD;

// ---- HRESULT --------------------------------------------------------------------

constexpr HRESULT HResultFromCode(std::uint32_t code) noexcept { return static_cast<HRESULT>(code); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = HResultFromCode(0x80004001u);
constexpr HRESULT E_NOINTERFACE = HResultFromCode(0x80004002u);
constexpr HRESULT E_POINTER = HResultFromCode(0x80004003u);
constexpr HRESULT E_ABORT = HResultFromCode(0x80004004u);
constexpr HRESULT E_FAIL = HResultFromCode(0x80004005u);
constexpr HRESULT E_UNEXPECTED = HResultFromCode(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = HResultFromCode(0x80070005u);
constexpr HRESULT E_HANDLE = HResultFromCode(0x80070006u);
constexpr HRESULT E_OUTOFMEMORY = HResultFromCode(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = HResultFromCode(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = HResultFromCode(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = HResultFromCode(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = HResultFromCode(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = HResultFromCode(0x800401F0u);
constexpr HRESULT CO_E_CLASSSTRING = HResultFromCode(0x800401F3u);
constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = HResultFromCode(0x80080005u);
constexpr HRESULT RPC_E_CHANGED_MODE = HResultFromCode(0x80010106u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = HResultFromCode(0x80020003u);
constexpr HRESULT DISP_E_EXCEPTION = HResultFromCode(0x80020009u);
constexpr HRESULT CONNECT_E_NOCONNECTION = HResultFromCode(0x80040200u);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = HResultFromCode(0x80040202u);

constexpr bool SUCCEEDED(HRESULT hr) noexcept { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) noexcept { return hr < 0; }

// A short English description ("Class not registered"); unknown codes give
// "Error 0x8XXXXXXX".
AnsiString HResultText(HRESULT hr);
// Raises EOleSysError (HResultText, hr) when hr is a failure; returns hr otherwise.
HRESULT OleCheck(HRESULT hr);

// ---- GUID -------------------------------------------------------------------------

struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::uint8_t Data4[8] = {};

  friend constexpr bool operator==(const GUID&, const GUID&) = default;
  friend constexpr auto operator<=>(const GUID&, const GUID&) = default;
};
using CLSID = GUID;
using IID = GUID;
using REFGUID = const GUID&;
using REFCLSID = const CLSID&;
using REFIID = const IID&;

namespace ComDetail {
constexpr int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional); false on
// anything else.
constexpr bool ParseGuid(std::string_view text, GUID& out) {
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return false;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return false;
  std::uint8_t bytes[16] = {};
  std::size_t pos = 0;
  for (int i = 0; i < 16; ++i) {
    if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
      if (text[pos] != '-') return false;
      ++pos;
    }
    const int hi = HexValue(text[pos]);
    const int lo = HexValue(text[pos + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    pos += 2;
  }
  out.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
              (std::uint32_t{bytes[2]} << 8) | bytes[3];
  out.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  out.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) out.Data4[i] = bytes[8 + i];
  return true;
}
}  // namespace ComDetail

// A GUID written in the source: "{00000000-0000-0000-C000-000000000046}"_guid.
// A malformed literal does not compile where a constant is needed.
constexpr GUID operator""_guid(const char* text, std::size_t length) {
  GUID guid;
  if (!ComDetail::ParseGuid(std::string_view(text, length), guid)) {
    throw std::invalid_argument("malformed GUID literal");
  }
  return guid;
}

inline constexpr GUID GUID_NULL{};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex digits.
AnsiString GUIDToString(REFGUID Guid);
// The reverse (braces required); EConvertError "'<text>' is not a valid GUID value".
GUID StringToGUID(const AnsiString& Text);
// A class id from its text form or, failing that, from a registered ProgID;
// CO_E_CLASSSTRING when neither.
HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
// The class id registered under a ProgID (case-insensitive); CO_E_CLASSSTRING
// when none, E_INVALIDARG for null arguments.
HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, CLSID* lpclsid);
// The framework's form: EOleSysError when the ProgID is not registered.
CLSID ProgIDToClassID(const AnsiString& ProgID);

// ---- Class contexts and start-up ----------------------------------------------------

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_INPROC_SERVER16 = 0x8;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC_HANDLER16 = 0x20;
constexpr DWORD CLSCTX_NO_CODE_DOWNLOAD = 0x400;
constexpr DWORD CLSCTX_NO_CUSTOM_MARSHAL = 0x1000;
constexpr DWORD CLSCTX_ENABLE_CODE_DOWNLOAD = 0x2000;
constexpr DWORD CLSCTX_NO_FAILURE_LOG = 0x4000;
constexpr DWORD CLSCTX_DISABLE_AAA = 0x8000;
constexpr DWORD CLSCTX_ENABLE_AAA = 0x10000;
constexpr DWORD CLSCTX_FROM_DEFAULT_CONTEXT = 0x20000;
constexpr DWORD CLSCTX_ACTIVATE_32_BIT_SERVER = 0x40000;
constexpr DWORD CLSCTX_ACTIVATE_64_BIT_SERVER = 0x80000;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

// Starts COM on the calling thread: S_OK the first time, S_FALSE for each
// further call in the same apartment kind (each needs its CoUninitialize),
// RPC_E_CHANGED_MODE when the thread already runs the other kind (nothing
// is counted then), E_INVALIDARG for a non-null reserved argument or
// unknown flags.
HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
// CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED).
HRESULT CoInitialize(void* pvReserved);
// Undoes one successful CoInitialize(Ex); the last one ends COM on the
// thread and drops its error information. Extra calls do nothing.
void CoUninitialize() noexcept;

// Whether requests for CLSCTX_REMOTE_SERVER are accepted (true at start).
void SetComRemoteActivation(bool Available) noexcept;
bool ComRemoteActivation() noexcept;

// ---- Interfaces --------------------------------------------------------------------

struct IUnknown {
  static constexpr IID Uuid = "{00000000-0000-0000-C000-000000000046}"_guid;
  // On success *ppvObject holds an AddRef-ed pointer of the asked interface;
  // else nullptr and E_NOINTERFACE (E_POINTER for a null ppvObject).
  virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
  // The new reference count.
  virtual ULONG AddRef() = 0;
  // The new reference count; the object is freed when it reaches 0.
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IDispatch : IUnknown {
  static constexpr IID Uuid = "{00020400-0000-0000-C000-000000000046}"_guid;
  using Base = IUnknown;
  virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, void** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                         void* pDispParams, void* pVarResult, void* pExcepInfo,
                         UINT* puArgErr) = 0;

 protected:
  ~IDispatch() = default;
};

struct IErrorInfo : IUnknown {
  static constexpr IID Uuid = "{1CF2B120-547D-101B-8E65-08002B2BD119}"_guid;
  using Base = IUnknown;
  virtual HRESULT GetGUID(GUID* pGUID) = 0;
  virtual HRESULT GetSource(WideString* pBstrSource) = 0;
  virtual HRESULT GetDescription(WideString* pBstrDescription) = 0;
  virtual HRESULT GetHelpFile(WideString* pBstrHelpFile) = 0;
  virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;

 protected:
  ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
  static constexpr IID Uuid = "{22F03340-547D-101B-8E65-08002B2BD119}"_guid;
  using Base = IUnknown;
  virtual HRESULT SetGUID(REFGUID rguid) = 0;
  virtual HRESULT SetSource(LPCOLESTR szSource) = 0;
  virtual HRESULT SetDescription(LPCOLESTR szDescription) = 0;
  virtual HRESULT SetHelpFile(LPCOLESTR szHelpFile) = 0;
  virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;

 protected:
  ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
  static constexpr IID Uuid = "{DF0B3D60-548F-101B-8E65-08002B2BD119}"_guid;
  using Base = IUnknown;
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

struct IRunnableObject : IUnknown {
  static constexpr IID Uuid = "{00000126-0000-0000-C000-000000000046}"_guid;
  using Base = IUnknown;
  virtual HRESULT GetRunningClass(CLSID* lpClsid) = 0;
  virtual HRESULT Run(void* pbc) = 0;
  virtual BOOL IsRunning() = 0;
  virtual HRESULT LockRunning(BOOL fLock, BOOL fLastUnlockCloses) = 0;
  virtual HRESULT SetContainedObject(BOOL fContained) = 0;

 protected:
  ~IRunnableObject() = default;
};

struct IConnectionPoint;

struct IConnectionPointContainer : IUnknown {
  static constexpr IID Uuid = "{B196B284-BAB4-101A-B69C-00AA00341D07}"_guid;
  using Base = IUnknown;
  virtual HRESULT EnumConnectionPoints(void** ppEnum) = 0;
  virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};

struct IConnectionPoint : IUnknown {
  static constexpr IID Uuid = "{B196B286-BAB4-101A-B69C-00AA00341D07}"_guid;
  using Base = IUnknown;
  virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
  virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
  virtual HRESULT Unadvise(DWORD dwCookie) = 0;
  virtual HRESULT EnumConnections(void** ppEnum) = 0;

 protected:
  ~IConnectionPoint() = default;
};

template <class T>
constexpr const IID& UuidOf() noexcept {
  return T::Uuid;
}

// ---- Smart pointer -----------------------------------------------------------------

// Holds one reference to an interface. Copying adds a reference, destruction
// releases it.
template <class T>
class TComInterface {
 public:
  TComInterface() noexcept = default;
  TComInterface(std::nullptr_t) noexcept {}  // NOLINT
  // Shares p: adds a reference of its own.
  explicit TComInterface(T* p) noexcept : FIntf(p) {
    if (FIntf) FIntf->AddRef();
  }
  TComInterface(const TComInterface& other) noexcept : TComInterface(other.FIntf) {}
  TComInterface(TComInterface&& other) noexcept : FIntf(std::exchange(other.FIntf, nullptr)) {}
  TComInterface& operator=(TComInterface other) noexcept {
    std::swap(FIntf, other.FIntf);
    return *this;
  }
  ~TComInterface() { Reset(); }

  // Takes over a reference the caller owns (no AddRef).
  static TComInterface Attach(T* p) noexcept {
    TComInterface result;
    result.FIntf = p;
    return result;
  }
  // Gives up the reference to the caller, who must Release it.
  T* Detach() noexcept { return std::exchange(FIntf, nullptr); }
  void Reset() noexcept {
    if (T* p = std::exchange(FIntf, nullptr)) p->Release();
  }
  // Releases the held reference and gives the address to receive a new one.
  T** ReleaseAndGetAddressOf() noexcept {
    Reset();
    return &FIntf;
  }

  T* get() const noexcept { return FIntf; }
  T* operator->() const noexcept { return FIntf; }
  explicit operator bool() const noexcept { return FIntf != nullptr; }

  // QueryInterface for U into Out; Out is emptied on failure.
  template <class U>
  HRESULT As(TComInterface<U>& Out) const {
    Out.Reset();
    if (!FIntf) return E_POINTER;
    void* p = nullptr;
    const HRESULT hr = FIntf->QueryInterface(UuidOf<U>(), &p);
    if (SUCCEEDED(hr)) Out = TComInterface<U>::Attach(static_cast<U*>(p));
    return hr;
  }

  friend bool operator==(const TComInterface& a, const TComInterface& b) noexcept {
    return a.FIntf == b.FIntf;
  }
  friend bool operator==(const TComInterface& a, std::nullptr_t) noexcept { return !a.FIntf; }

 private:
  T* FIntf = nullptr;
};

template <class T>
using ComPtr = TComInterface<T>;

// ---- Object implementation -----------------------------------------------------------

// Implements IUnknown for an object that implements the given interfaces
// (and their parents). The count starts at 0; the first reference comes from
// QueryInterface or TComInterface. The identity (IUnknown) is the first
// interface's.
template <class... Interfaces>
class TComObject : public Interfaces... {
  static_assert(sizeof...(Interfaces) > 0, "a COM object implements at least one interface");
  using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

 public:
  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (riid == IUnknown::Uuid) {
      *ppvObject = Identity();
    } else if (!(Match<Interfaces, Interfaces>(riid, ppvObject) || ...)) {
      IUnknown* other = FindOtherInterface(riid);
      if (other == nullptr) return E_NOINTERFACE;
      *ppvObject = other;
      other->AddRef();
      return S_OK;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++FRefCount; }
  ULONG Release() override {
    const ULONG count = --FRefCount;
    if (count == 0) delete this;
    return count;
  }

  ULONG RefCount() const noexcept { return FRefCount.load(); }
  IUnknown* Identity() noexcept { return static_cast<IUnknown*>(static_cast<First*>(this)); }

 protected:
  TComObject() = default;
  virtual ~TComObject() = default;
  TComObject(const TComObject&) = delete;
  TComObject& operator=(const TComObject&) = delete;

  // Interfaces handed out by parts of the object (a connection point, an
  // inner object): the pointer for riid, whose AddRef counts for this
  // object, or nullptr. An interface pointer is also its IUnknown pointer.
  virtual IUnknown* FindOtherInterface(REFIID /*riid*/) { return nullptr; }

 private:
  template <class T, class U>
  bool Match(REFIID riid, void** ppvObject) {
    if constexpr (std::is_same_v<U, IUnknown>) {
      return false;
    } else {
      static_assert(std::is_base_of_v<typename U::Base, U> && !(U::Uuid == U::Base::Uuid),
                    "an interface declares its own Uuid and its parent as Base");
      if (riid == U::Uuid) {
        *ppvObject = static_cast<U*>(static_cast<T*>(this));
        return true;
      }
      return Match<T, typename U::Base>(riid, ppvObject);
    }
  }

  std::atomic<ULONG> FRefCount{0};
};

// ---- Creation and the class registry ----------------------------------------------------

// Makes a new object for CoCreateInstance: Outer is the aggregating object or
// nullptr; on success Object holds a reference to the new object's IUnknown.
// A factory that raises makes CoCreateInstance fail with E_FAIL (E_OUTOFMEMORY
// for std::bad_alloc) and leaves the message as the thread's error information.
using TComClassFactory = std::function<HRESULT(IUnknown* Outer, TComInterface<IUnknown>& Object)>;

// A factory making `new T(args...)`; refuses aggregation (CLASS_E_NOAGGREGATION).
template <class T, class... Args>
TComClassFactory ComClassFactory(Args... args) {
  return [=](IUnknown* Outer, TComInterface<IUnknown>& Object) -> HRESULT {
    if (Outer != nullptr) return CLASS_E_NOAGGREGATION;
    T* created = new T(args...);
    Object = TComInterface<IUnknown>(created->Identity());
    return S_OK;
  };
}

// Registers a class: its id, an optional ProgID (empty for none), the class
// contexts it serves (any of CLSCTX_INPROC_SERVER, CLSCTX_INPROC_HANDLER,
// CLSCTX_LOCAL_SERVER, CLSCTX_REMOTE_SERVER) and its factory. Returns a
// cookie for RevokeComClass (never 0). The newest registration of a class
// or ProgID is the one used. EOleSysError (E_INVALIDARG) for an empty factory
// or contexts that name no server kind.
DWORD RegisterComClass(REFCLSID ClassId, const AnsiString& ProgId, DWORD Contexts,
                       TComClassFactory Factory);
// Removes one registration; false for an unknown cookie.
bool RevokeComClass(DWORD Cookie) noexcept;
// Removes every registration of the class.
void UnregisterComClass(REFCLSID ClassId) noexcept;

// A registration for the lifetime of a scope (tests, plug-ins).
class TComClassRegistration {
 public:
  TComClassRegistration(REFCLSID ClassId, const AnsiString& ProgId, DWORD Contexts,
                        TComClassFactory Factory)
      : FCookie(RegisterComClass(ClassId, ProgId, Contexts, std::move(Factory))) {}
  ~TComClassRegistration() { RevokeComClass(FCookie); }
  TComClassRegistration(const TComClassRegistration&) = delete;
  TComClassRegistration& operator=(const TComClassRegistration&) = delete;
  DWORD Cookie() const noexcept { return FCookie; }

 private:
  DWORD FCookie;
};

// Creates an object of a registered class and asks it for riid. Results:
// S_OK; E_POINTER (ppv null); E_INVALIDARG (bad context, see above);
// CO_E_NOTINITIALIZED; REGDB_E_CLASSNOTREG; CLASS_E_NOAGGREGATION (an outer
// object with an interface other than IUnknown, or a class that refuses it);
// E_NOINTERFACE; the factory's failure. *ppv is nullptr on failure.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv);

template <class T>
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                         TComInterface<T>& Object) {
  Object.Reset();
  void* p = nullptr;
  const HRESULT hr = CoCreateInstance(rclsid, pUnkOuter, dwClsContext, UuidOf<T>(), &p);
  if (SUCCEEDED(hr)) Object = TComInterface<T>::Attach(static_cast<T*>(p));
  return hr;
}

// Puts an object into its running state: its IRunnableObject::Run when it
// has one, else S_OK at once. E_INVALIDARG for nullptr.
HRESULT OleRun(IUnknown* pUnknown);

// ---- Error information ---------------------------------------------------------------------

// A new error information object (description, source ... all empty).
HRESULT CreateErrorInfo(ICreateErrorInfo** pperrinfo);
// Makes perrinfo (nullptr: none) the calling thread's error information,
// replacing any before. E_INVALIDARG for a non-zero reserved argument.
HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
// Hands the thread's error information to the caller (who releases it) and
// clears it: S_OK, or S_FALSE with *pperrinfo nullptr when there is none.
// E_INVALIDARG for a null pperrinfo or a non-zero reserved argument.
HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
// For servers: sets the thread's error information to Description and
// Source and returns hr, so that `return SetComError(E_FAIL, u"...");` reports both.
HRESULT SetComError(HRESULT hr, const WideString& Description, const WideString& Source = {});

// ---- Connection points ----------------------------------------------------------------------

// The connection point for the events interface Sink, kept inside the object
// that raises the events (which also implements IConnectionPointContainer):
// its references count for that object. Sinks connect with Advise and are
// called through Sinks().
template <class Sink>
class TConnectionPoint final : public IConnectionPoint {
 public:
  explicit TConnectionPoint(IConnectionPointContainer* Container) noexcept
      : FContainer(Container) {}
  ~TConnectionPoint() = default;
  TConnectionPoint(const TConnectionPoint&) = delete;
  TConnectionPoint& operator=(const TConnectionPoint&) = delete;

  HRESULT QueryInterface(REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (riid != IUnknown::Uuid && riid != IConnectionPoint::Uuid) return E_NOINTERFACE;
    *ppvObject = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return FContainer->AddRef(); }
  ULONG Release() override { return FContainer->Release(); }

  HRESULT GetConnectionInterface(IID* pIID) override {
    if (pIID == nullptr) return E_POINTER;
    *pIID = Sink::Uuid;
    return S_OK;
  }
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override {
    if (ppCPC == nullptr) return E_POINTER;
    *ppCPC = FContainer;
    FContainer->AddRef();
    return S_OK;
  }
  // Connects a sink that implements Sink; CONNECT_E_CANNOTCONNECT when it does not.
  HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override {
    if (pUnkSink == nullptr || pdwCookie == nullptr) return E_POINTER;
    *pdwCookie = 0;
    void* p = nullptr;
    if (FAILED(pUnkSink->QueryInterface(Sink::Uuid, &p))) return CONNECT_E_CANNOTCONNECT;
    FSinks.push_back({++FLastCookie, TComInterface<Sink>::Attach(static_cast<Sink*>(p))});
    *pdwCookie = FLastCookie;
    return S_OK;
  }
  // CONNECT_E_NOCONNECTION for an unknown cookie.
  HRESULT Unadvise(DWORD dwCookie) override {
    for (auto it = FSinks.begin(); it != FSinks.end(); ++it) {
      if (it->first == dwCookie) {
        FSinks.erase(it);
        return S_OK;
      }
    }
    return CONNECT_E_NOCONNECTION;
  }
  HRESULT EnumConnections(void** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }

  // The connected sinks in order of connection; a copy, so that a sink may
  // disconnect while the events are being delivered.
  std::vector<TComInterface<Sink>> Sinks() const {
    std::vector<TComInterface<Sink>> sinks;
    sinks.reserve(FSinks.size());
    for (const auto& entry : FSinks) sinks.push_back(entry.second);
    return sinks;
  }

 private:
  IConnectionPointContainer* FContainer;
  DWORD FLastCookie = 0;
  std::vector<std::pair<DWORD, TComInterface<Sink>>> FSinks;
};

// ---- The framework's COM check dialog -----------------------------------------------------

// What generated server wrappers do with the result of a property get or a
// method: a failed hr shows a message box (caption "HRCHECK: ", Yes/No/
// Cancel, error icon) naming the expression, the code and the place, and
// ending "Press [Y]es to terminate, [N]o to continue and [C]ancel to Debug".
// Yes raises EOleSysError with the code; No returns hr for the caller to go
// on with an empty value; Cancel writes the place to the debugger output,
// stops in a debugger when one is attached, and returns hr. A successful hr
// is returned at once.
HRESULT ComCheckDialog(HRESULT hr, const char* Expression, const char* File, int Line);
#define TX_HRCHECK(expr) ::Tx::ComCheckDialog((expr), #expr, __FILE__, __LINE__)

}  // namespace Tx
