#include "platform/calllog/QuorEventLogFile.h"

#include <atomic>
#include <cstdio>
#include <new>

#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Format.h"
#include "platform/framework/HostPath.h"

namespace Tx {
namespace {

std::atomic<unsigned long> lastCallTag{0};

class TQuorEventLogFile final : public TComObject<IQuorEventLogTX> {
 public:
  explicit TQuorEventLogFile(const AnsiString& FileName) : FFileName(FileName) {}

  // Late binding is not offered: the interface is used through its vtable.
  HRESULT GetTypeInfoCount(UINT* pctinfo) override {
    if (pctinfo != nullptr) *pctinfo = 0;
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

  HRESULT GetCallTag(WideString* CallTag) override {
    if (CallTag == nullptr) return E_POINTER;
    return Guarded([&] {
      const unsigned long n = ++lastCallTag;
      *CallTag = WideString(IntToStr(static_cast<unsigned long>(GetCurrentProcessId())) + "-" +
                            IntToStr(n));
    });
  }

  HRESULT get_Target(WideString* Value) override {
    if (Value == nullptr) return E_POINTER;
    return Guarded([&] { *Value = WideString(FFileName); });
  }
  HRESULT put_Target(const WideString& Value) override {
    return Guarded([&] { FFileName = AnsiString(Value); });
  }

  HRESULT LogServiceCall(const WideString& ServiceName, const WideString& Login,
                         const WideString& AppCode, const WideString& AppVersion,
                         const WideString& Role, const WideString& Unit, LONG AppKey, LONG Tperrno,
                         const WideString& StartTime, const WideString& EndTime, LONG SentBytes,
                         LONG ReceivedBytes, const WideString& CallTag,
                         const WideString& RequestXml, const WideString& ErrorText) override {
    AnsiString line;
    const HRESULT built = Guarded([&] {
      const auto text = [](const WideString& value) {
        return EscapeCallLogText(AnsiString(value));
      };
      const auto number = [](LONG value) { return IntToStr(static_cast<long>(value)); };
      const AnsiString columns[] = {FormatDateTime("yyyy-mm-dd", Now()),
                                    text(StartTime),
                                    text(EndTime),
                                    text(ServiceName),
                                    number(Tperrno),
                                    text(Login),
                                    text(AppCode),
                                    text(AppVersion),
                                    text(Role),
                                    text(Unit),
                                    number(AppKey),
                                    number(SentBytes),
                                    number(ReceivedBytes),
                                    text(CallTag),
                                    text(ErrorText),
                                    text(RequestXml)};
      for (const AnsiString& column : columns) {
        if (!line.IsEmpty()) line += '\t';
        line += column;
      }
      line += '\n';
    });
    if (FAILED(built)) return built;
    return AppendLine(line);
  }

 private:
  template <class F>
  static HRESULT Guarded(F&& body) noexcept {
    try {
      body();
      return S_OK;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
  }

  HRESULT AppendLine(const AnsiString& line) noexcept {
    AnsiString path;
    const HRESULT named = Guarded([&] { path = HostPath(FFileName); });
    if (FAILED(named)) return named;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) return E_FAIL;
    const auto length = static_cast<std::size_t>(line.Length());
    const bool written = std::fwrite(line.data(), 1, length, file) == length;
    const bool closed = std::fclose(file) == 0;
    return written && closed ? S_OK : E_FAIL;
  }

  AnsiString FFileName;
};

}  // namespace

AnsiString EscapeCallLogText(const AnsiString& Text) {
  AnsiString escaped;
  for (int i = 1; i <= Text.Length(); ++i) {
    switch (const char c = Text[i]) {
      case '\\':
        escaped += "\\\\";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '\n':
        escaped += "\\n";
        break;
      default:
        escaped += c;
        break;
    }
  }
  return escaped;
}

TComInterface<IQuorEventLogTX> CreateQuorEventLogFile(const AnsiString& FileName) {
  return TComInterface<IQuorEventLogTX>(new TQuorEventLogFile(FileName));
}

DWORD RegisterQuorEventLogFile(const AnsiString& FileName) {
  return RegisterComClass(CLSID_QuorEventLog, QuorEventLogProgID, CLSCTX_INPROC_SERVER,
                          ComClassFactory<TQuorEventLogFile>(FileName));
}

}  // namespace Tx
