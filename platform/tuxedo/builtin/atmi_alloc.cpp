// tpalloc, tprealloc, tpfree and tptypes of the builtin ATMI.
#include <atmi.h>

#include <cstring>

#include "atmi_domain.h"

using namespace Tx::AtmiBuiltin;

namespace {

char* Refused(int error) {
  Fail(error);
  return nullptr;
}

}  // namespace

extern "C" {

char* tpalloc(char* type, char* /*subtype: no supported type has one*/, long size) {
  Enter();
  if (type == nullptr) return Refused(TPEINVAL);
  const std::optional<BufferKind> kind = KindFromTypeName(type);
  if (!kind) return Refused(TPENOENT);
  if (!EffectiveSize(*kind, size)) return Refused(TPEINVAL);
  if (const int fault = TakeAllocationFault(); fault != 0) return Refused(fault);
  if (*kind == BufferKind::TpInit && TpinitSizeIgnored()) size = 0;  // the smallest TPINIT
  const Allocation allocation = AllocateBuffer(*kind, size);
  if (allocation.data == nullptr) Fail(allocation.error);
  return allocation.data;
}

char* tprealloc(char* ptr, long size) {
  Enter();
  const std::optional<BufferInfo> info = FindBuffer(ptr);
  if (!info || !EffectiveSize(info->kind, size)) return Refused(TPEINVAL);
  if (const int fault = TakeAllocationFault(); fault != 0) return Refused(fault);
  const Allocation allocation = ReallocateBuffer(ptr, size);
  if (allocation.data == nullptr) Fail(allocation.error);
  return allocation.data;
}

void tpfree(char* ptr) {
  Enter();
  if (ptr != nullptr && !FreeBuffer(ptr)) Fail(TPEINVAL);
}

long tptypes(char* ptr, char* type, char* subtype) {
  Enter();
  const std::optional<BufferInfo> info = FindBuffer(ptr);
  if (!info) return Fail(TPEINVAL);
  // Up to 8 bytes of type; a shorter name is NUL-terminated.
  if (type != nullptr) std::strncpy(type, TypeName(info->kind), 8);
  if (subtype != nullptr) subtype[0] = '\0';
  return info->size;
}

}  // extern "C"
