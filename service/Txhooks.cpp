#include "service/Txhooks.h"

#include <atmi.h>

#include <algorithm>
#include <string>
#include <vector>

namespace Tx {
namespace {

// One list of hooks of one form, in registration order, each at most once.
template <class Hook>
class HookList {
 public:
  void Add(Hook hook) {
    if (hook != nullptr && !Contains(hook)) FHooks.push_back(hook);
  }
  void Remove(Hook hook) noexcept {
    const auto found = std::find(FHooks.begin(), FHooks.end(), hook);
    if (found != FHooks.end()) FHooks.erase(found);
  }
  bool Contains(Hook hook) const noexcept {
    return std::find(FHooks.begin(), FHooks.end(), hook) != FHooks.end();
  }

  // Calls call(hook) for every hook registered when the walk starts and
  // still registered when its turn comes (see the header).
  template <class Call>
  void Walk(Call call) const {
    const std::vector<Hook> snapshot = FHooks;
    for (const Hook hook : snapshot) {
      if (Contains(hook)) call(hook);
    }
  }

 private:
  std::vector<Hook> FHooks;
};

HookList<TTxServiceHookBeforeCallFbfr>& BeforeFbfrHooks() {
  static HookList<TTxServiceHookBeforeCallFbfr> hooks;
  return hooks;
}
HookList<TTxServiceHookBeforeCallObj>& BeforeObjHooks() {
  static HookList<TTxServiceHookBeforeCallObj> hooks;
  return hooks;
}
HookList<TTxServiceHookAfterCallFbfr>& AfterFbfrHooks() {
  static HookList<TTxServiceHookAfterCallFbfr> hooks;
  return hooks;
}
HookList<TTxServiceHookAfterCallObj>& AfterObjHooks() {
  static HookList<TTxServiceHookAfterCallObj> hooks;
  return hooks;
}

// The name as a hook receives it: a writable C string of its own.
class HookName {
 public:
  explicit HookName(const AnsiString& name) : FName(name.c_str()) {}
  char* Fresh() {
    FCopy = FName;
    return FCopy.data();
  }

 private:
  std::string FName;
  std::string FCopy;
};

void CheckNotRefused(int result) {
  if (result < 0) throw Exception("Operacja została przerwana!"_ansi);
}

}  // namespace

void RegisterServiceHookBeforeCall(TTxServiceHookBeforeCallFbfr Hook) { BeforeFbfrHooks().Add(Hook); }
void RegisterServiceHookBeforeCall(TTxServiceHookBeforeCallObj Hook) { BeforeObjHooks().Add(Hook); }
void RegisterServiceHookAfterCall(TTxServiceHookAfterCallFbfr Hook) { AfterFbfrHooks().Add(Hook); }
void RegisterServiceHookAfterCall(TTxServiceHookAfterCallObj Hook) { AfterObjHooks().Add(Hook); }

void UnregisterServiceHookBeforeCall(TTxServiceHookBeforeCallFbfr Hook) noexcept {
  BeforeFbfrHooks().Remove(Hook);
}
void UnregisterServiceHookBeforeCall(TTxServiceHookBeforeCallObj Hook) noexcept {
  BeforeObjHooks().Remove(Hook);
}
void UnregisterServiceHookAfterCall(TTxServiceHookAfterCallFbfr Hook) noexcept {
  AfterFbfrHooks().Remove(Hook);
}
void UnregisterServiceHookAfterCall(TTxServiceHookAfterCallObj Hook) noexcept {
  AfterObjHooks().Remove(Hook);
}

void CallHooksBefore(const AnsiString& ServiceName, TTxFbfr* SendData) {
  HookName name(ServiceName);
  BeforeFbfrHooks().Walk([&](TTxServiceHookBeforeCallFbfr hook) {
    CheckNotRefused(hook(name.Fresh(), SendData->GetFbfrPP()));
  });
  BeforeObjHooks().Walk([&](TTxServiceHookBeforeCallObj hook) {
    CheckNotRefused(hook(name.Fresh(), SendData));
  });
}

void CallHooksAfter(const AnsiString& ServiceName, TTxFbfr* SendData, TTxFbfr* RecvData) {
  HookName name(ServiceName);
  AfterFbfrHooks().Walk([&](TTxServiceHookAfterCallFbfr hook) {
    hook(name.Fresh(), SendData->GetFbfrPP(), RecvData->GetFbfrPP(), tperrno,
         static_cast<int>(tpurcode));
  });
  AfterObjHooks().Walk([&](TTxServiceHookAfterCallObj hook) {
    hook(name.Fresh(), SendData, RecvData, tperrno, static_cast<int>(tpurcode));
  });
}

}  // namespace Tx
