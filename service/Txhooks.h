// Txhooks: functions that the application registers to be called around
// every service call of every TTxService in the process.
//
// Before-call hooks see the request and may change it, replace its buffer or
// refuse the call (a negative result); after-call hooks see the request, the
// reply and the ATMI result of tpcall, whether it succeeded or not. Each
// kind has two forms: one receives the addresses of the raw FML32 buffer
// pointers, the other the library's TTxFbfr objects. The name a hook receives
// is the service the application asked for, also when the call is routed.
//
// Four process-wide lists, one per kind and form, keep their hooks in
// registration order, each hook at most once. They are empty when the
// program starts and released when it ends. The library only calls the
// stored functions; it never frees anything through them.
//
// Changing the lists from inside a hook. A hook may register or unregister
// hooks (itself included) while it is being called. Each walk runs over the
// list as it was when the walk started, with one rule on top:
//   - a hook registered during a walk is first called by the next walk;
//   - a hook unregistered during a walk is not called again by that walk,
//     even when its turn has not come yet.
// So registering and unregistering are always safe and take effect at once
// for removals and at the next call for additions.
//
// The lists take no lock: registration and calls come from the application's
// thread.
#pragma once

#include <fml32.h>

#include "buffer/TxFbfr.h"
#include "platform/framework/AnsiString.h"

namespace Tx {

// Before the call, buffer form: the service name and the address of the
// send buffer's pointer (a hook may replace the buffer; the send TTxFbfr then
// owns the new one). A negative result refuses the call.
using TTxServiceHookBeforeCallFbfr = int (*)(char* ServiceName, FBFR32** SendBuffer);
// Before the call, object form. A negative result refuses the call.
using TTxServiceHookBeforeCallObj = int (*)(char* ServiceName, TTxFbfr* SendData);
// After the call, buffer form: the addresses of both buffer pointers, then
// tperrno and tpurcode as they are when this hook is called.
using TTxServiceHookAfterCallFbfr = void (*)(char* ServiceName, FBFR32** SendBuffer,
                                             FBFR32** RecvBuffer, int Tperrno, int Tpurcode);
// After the call, object form.
using TTxServiceHookAfterCallObj = void (*)(char* ServiceName, TTxFbfr* SendData,
                                            TTxFbfr* RecvData, int Tperrno, int Tpurcode);

// Appends the hook to the list of its form; a hook already there (or
// nullptr) is left alone.
void RegisterServiceHookBeforeCall(TTxServiceHookBeforeCallFbfr Hook);
void RegisterServiceHookBeforeCall(TTxServiceHookBeforeCallObj Hook);
void RegisterServiceHookAfterCall(TTxServiceHookAfterCallFbfr Hook);
void RegisterServiceHookAfterCall(TTxServiceHookAfterCallObj Hook);

// Removes the hook from the list of its form; the later ones move up and
// keep their order. A hook that is not there is ignored.
void UnregisterServiceHookBeforeCall(TTxServiceHookBeforeCallFbfr Hook) noexcept;
void UnregisterServiceHookBeforeCall(TTxServiceHookBeforeCallObj Hook) noexcept;
void UnregisterServiceHookAfterCall(TTxServiceHookAfterCallFbfr Hook) noexcept;
void UnregisterServiceHookAfterCall(TTxServiceHookAfterCallObj Hook) noexcept;

// For the call sequence: calls the before-call hooks, the buffer form first,
// each list in order, with the service name as a C string (each hook gets
// its own copy, so one hook cannot change the name the next one sees) and
// SendData's buffer pointer address or SendData itself. The first hook that
// returns a negative value stops the walk: Exception "Operacja została
// przerwana!" is raised and no further hook runs. An exception raised by a
// hook passes through unchanged. SendData is not owned and must not be null.
void CallHooksBefore(const AnsiString& ServiceName, TTxFbfr* SendData);

// For the call sequence: calls the after-call hooks, the buffer form first,
// with the name, both buffers and tperrno and tpurcode read afresh before
// each hook (a hook that changes them changes what the next one sees). An
// exception raised by a hook passes through unchanged. Neither buffer is
// owned; neither may be null.
void CallHooksAfter(const AnsiString& ServiceName, TTxFbfr* SendData, TTxFbfr* RecvData);

}  // namespace Tx
