#include "service/TxServiceCache.h"

#include <atmi.h>
#include <fml32.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include "client/TxGlobal.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Format.h"
#include "service/TxServic.h"

namespace Tx {

void TTxCachedReplyFree::operator()(FBFR32* Reply) const noexcept {
  tpfree(reinterpret_cast<char*>(Reply));
}

namespace {

// FNV-1a over the bytes given.
class TDigest {
 public:
  void Add(const void* data, std::size_t length) noexcept {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) {
      FValue ^= bytes[i];
      FValue *= 0x100000001B3ULL;
    }
  }
  template <class T>
  void AddValue(const T& value) noexcept {
    Add(&value, sizeof value);
  }
  std::uint64_t Value() const noexcept { return FValue; }

 private:
  std::uint64_t FValue = 0xCBF29CE484222325ULL;
};

bool IsText(const Variant& value) noexcept {
  return value.Type() == varString || value.Type() == varOleStr;
}

bool IsNumber(TVarType type) noexcept {
  switch (type) {
    case varSmallint:
    case varInteger:
    case varSingle:
    case varDouble:
    case varDate:
    case varBoolean:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
      return true;
    default:
      return false;
  }
}

// A value as a key holds it: texts as wide strings. The digest takes the
// value in a form that equal values share: texts by their bytes, numbers by
// their value as a double (one zero, one NaN), null and the rest by kind.
Variant KeyValue(const Variant& value, TDigest& digest) {
  if (IsText(value)) {
    const AnsiString text = value.AsString();
    digest.AddValue('s');
    digest.AddValue(text.Length());
    digest.Add(text.data(), static_cast<std::size_t>(text.Length()));
    return Variant(WideString(text));
  }
  if (IsNumber(value.Type())) {
    double number = value.AsDouble();
    if (number == 0.0) number = 0.0;
    if (std::isnan(number)) number = std::numeric_limits<double>::quiet_NaN();
    digest.AddValue('d');
    digest.AddValue(number);
  } else {
    digest.AddValue(static_cast<char>(value.Type() & 0xFF));
  }
  return value;
}

// Equality of two key values: texts byte for byte (wide strings unit for
// unit, which is the same), everything else as variants compare.
bool SameValue(const Variant& stored, const Variant& requested) {
  const bool storedText = IsText(stored);
  if (storedText || IsText(requested)) {
    return storedText && IsText(requested) && stored.AsWideString() == requested.AsWideString();
  }
  return stored == requested;
}

bool SameFieldIds(const std::vector<TTxCachedField>& key,
                  const std::vector<TTxCachedField>& other) {
  return std::equal(key.begin(), key.end(), other.begin(), other.end(),
                    [](const TTxCachedField& a, const TTxCachedField& b) { return a.Id == b.Id; });
}

bool SameFieldIds(const std::vector<TTxCachedField>& key, const std::vector<FLDID32>& ids) {
  return std::equal(key.begin(), key.end(), ids.begin(), ids.end(),
                    [](const TTxCachedField& a, FLDID32 b) { return a.Id == b; });
}

bool SameValues(const std::vector<TTxCachedField>& key, const std::vector<TTxCachedField>& other) {
  for (std::size_t i = 0; i < key.size(); ++i) {
    const std::vector<Variant>& stored = key[i].Values;
    const std::vector<Variant>& requested = other[i].Values;
    if (stored.size() != requested.size()) return false;
    for (std::size_t occ = 0; occ < stored.size(); ++occ) {
      if (!SameValue(stored[occ], requested[occ])) return false;
    }
  }
  return true;
}

// The distinct fields the buffer holds, in the order FML32 walks them.
std::vector<FLDID32> FieldsHeld(TTxFbfr& fbfr) {
  std::vector<FLDID32> ids;
  FBFR32* const buffer = fbfr.GetFbfrP();
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  int found = 0;
  while ((found = Fnext32(buffer, &id, &occ, nullptr, nullptr)) > 0) {
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  }
  if (found < 0) CheckFerror(OpLabel("Fnext"), id);
  return ids;
}

std::uint64_t FieldIdsDigest(const std::vector<FLDID32>& ids) {
  TDigest digest;
  for (const FLDID32 id : ids) digest.AddValue(id);
  return digest.Value();
}

// A copy of a reply, or nullptr when it cannot be made. The caller's ATMI
// and FML32 error state is left as it was.
TTxCachedReply CopyOf(FBFR32* source) {
  const int savedTperrno = tperrno;
  const int savedFerror = Ferror32;
  TTxCachedReply copy;
  const long size = Fsizeof32(source);
  if (size > 0) {
    copy.reset(reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, size)));
    if (copy && Fcpy32(copy.get(), source) == -1) copy.reset();
  }
  tperrno = savedTperrno;
  Ferror32 = savedFerror;
  return copy;
}

int ClampedSize(long long bytes) noexcept {
  return static_cast<int>(std::clamp<long long>(bytes, 0, std::numeric_limits<int>::max()));
}

}  // namespace

// The request of a service as the cache compares it: its key, made once per
// operation, and the fields it holds, found only when a stored call needs them.
class TTxServiceCache::TRequest {
 public:
  explicit TRequest(TTxFbfr& Send) : FSend(Send), FOfFieldsPresent(!Send.Contracted()) {
    TDigest fields;
    TDigest values;
    const auto add = [&](FLDID32 id) {
      TTxCachedField field;
      field.Id = id;
      const int count = FSend.OccCount(id);
      fields.AddValue(id);
      values.AddValue(id);
      values.AddValue(count);
      field.Values.reserve(static_cast<std::size_t>(std::max(count, 0)));
      for (int occ = 0; occ < count; ++occ) {
        field.Values.push_back(KeyValue(FSend.OccValue(id, occ), values));
      }
      FKey.push_back(std::move(field));
    };
    if (FOfFieldsPresent) {
      FFieldsHeld = FieldsHeld(FSend);
      for (const FLDID32 id : *FFieldsHeld) add(id);
    } else {
      const TTxFbfrDef* const defs = FSend.GetFldDefs();
      for (int i = 0; i < defs->Count(); ++i) {
        add(static_cast<FLDID32>(defs->GetFldDef(i)->GetTxFldId()));
      }
    }
    FFieldsDigest = fields.Value();
    FValuesDigest = values.Value();
  }

  // Whether Call was stored for this request (see the header).
  bool Matches(const TTxCachedCall& Call) {
    if (Call.KeyOfFieldsPresent && Call.FieldsDigest != HeldFieldsDigest()) return false;
    const bool sameFields = Call.FieldsDigest == FFieldsDigest;
    if (sameFields && Call.ValuesDigest != FValuesDigest) return false;
    // A candidate: compare it in full.
    if (Call.KeyOfFieldsPresent && !SameFieldIds(Call.Key, HeldFields())) return false;
    if (sameFields && SameFieldIds(Call.Key, FKey)) return SameValues(Call.Key, FKey);
    return AgreesWithBuffer(Call.Key);
  }

  std::uint64_t FieldsDigest() const noexcept { return FFieldsDigest; }
  std::uint64_t ValuesDigest() const noexcept { return FValuesDigest; }

  // Makes the stored form of this request; the key moves into it.
  TTxCachedCall TakeCall() {
    TTxCachedCall call;
    call.KeyOfFieldsPresent = FOfFieldsPresent;
    call.FieldsDigest = FFieldsDigest;
    call.ValuesDigest = FValuesDigest;
    call.Key = std::move(FKey);
    return call;
  }

 private:
  const std::vector<FLDID32>& HeldFields() {
    if (!FFieldsHeld) FFieldsHeld = FieldsHeld(FSend);
    return *FFieldsHeld;
  }
  std::uint64_t HeldFieldsDigest() {
    if (!FHeldFieldsDigest) FHeldFieldsDigest = FieldIdsDigest(HeldFields());
    return *FHeldFieldsDigest;
  }

  // A key made from other definitions than the request's: each of its
  // fields is looked up in the buffer itself.
  bool AgreesWithBuffer(const std::vector<TTxCachedField>& Key) {
    for (const TTxCachedField& field : Key) {
      const int count = FSend.OccCount(field.Id);
      if (count < 0 || static_cast<std::size_t>(count) != field.Values.size()) return false;
      for (int occ = 0; occ < count; ++occ) {
        TDigest unused;
        if (!SameValue(field.Values[static_cast<std::size_t>(occ)],
                       KeyValue(FSend.OccValue(field.Id, occ), unused))) {
          return false;
        }
      }
    }
    return true;
  }

  TTxFbfr& FSend;
  const bool FOfFieldsPresent;
  std::vector<TTxCachedField> FKey;
  std::uint64_t FFieldsDigest = 0;
  std::uint64_t FValuesDigest = 0;
  std::optional<std::vector<FLDID32>> FFieldsHeld;
  std::optional<std::uint64_t> FHeldFieldsDigest;
};

// ---- The cache ---------------------------------------------------------------------

ICacheControl* GlobalCacheControl() {
  // Never destroyed: at exit the middleware may be gone before the replies.
  static TTxServiceCache* const cache = new TTxServiceCache;
  return cache;
}

const TTxCachedService* TTxServiceCache::FindService(const AnsiString& ServiceName) const {
  const auto it = std::find_if(FServices.begin(), FServices.end(),
                               [&](const TTxCachedService& s) { return s.Name == ServiceName; });
  return it != FServices.end() ? &*it : nullptr;
}

TTxCachedService* TTxServiceCache::Find(const AnsiString& ServiceName) {
  return const_cast<TTxCachedService*>(std::as_const(*this).FindService(ServiceName));
}

int& TTxServiceCache::AreaSize(const TTxCachedService& Service) noexcept {
  return Service.Permanent ? FPermanentSize : FNormalSize;
}

void TTxServiceCache::Log(const AnsiString& Message) const {
  const AnsiString line = Message + Format(" (Buffer sizes: normal=%d limited to:%d, permanent=%d)",
                                           {FNormalSize, FLimit, FPermanentSize});
  OutputDebugStringA(line.c_str());
}

void TTxServiceCache::SetBufferLimit(int Limit) { FLimit = std::max(Limit, MinimumBufferLimit); }

int TTxServiceCache::GetBufferSize(bool Permanent) {
  return Permanent ? FPermanentSize : FNormalSize;
}

void TTxServiceCache::SetServicePermanent(AnsiString ServiceName) {
  TTxCachedService* const service = Find(ServiceName);
  if (service == nullptr) {
    TTxCachedService created;
    created.Name = ServiceName;
    created.Permanent = true;
    FServices.push_back(std::move(created));
  } else if (!service->Permanent) {
    FNormalSize -= service->Size;
    FPermanentSize += service->Size;
    service->Permanent = true;
  }
}

bool TTxServiceCache::IsServicePermanent(AnsiString ServiceName) {
  const TTxCachedService* const service = FindService(ServiceName);
  return service != nullptr && service->Permanent;
}

std::deque<TTxCachedCall>::iterator TTxServiceCache::FirstMatch(TTxCachedService& Service,
                                                                TRequest& Request) {
  std::deque<TTxCachedCall>& calls = Service.Calls;
  const auto layout = Service.CallsByLayout.find(Request.FieldsDigest());
  if (layout == Service.CallsByLayout.end() || layout->second != calls.size()) {
    // Keys of other fields are among the calls: each must be asked.
    return std::find_if(calls.begin(), calls.end(),
                        [&](const TTxCachedCall& call) { return Request.Matches(call); });
  }
  // Every key has the request's fields, so only a call with the request's
  // values digest can match; the first stored of those that does is the one.
  const auto [first, last] = Service.CallsByDigest.equal_range(Request.ValuesDigest());
  std::vector<std::uint64_t> candidates;
  for (auto it = first; it != last; ++it) candidates.push_back(it->second);
  std::sort(candidates.begin(), candidates.end());
  for (const std::uint64_t sequence : candidates) {
    const auto call =
        std::lower_bound(calls.begin(), calls.end(), sequence,
                         [](const TTxCachedCall& c, std::uint64_t s) { return c.Sequence < s; });
    if (call != calls.end() && call->Sequence == sequence && Request.Matches(*call)) return call;
  }
  return calls.end();
}

void TTxServiceCache::AddCall(TTxCachedService& Service, TTxCachedCall Call) {
  Call.Sequence = ++FLastSequence;
  Service.CallsByDigest.emplace(Call.ValuesDigest, Call.Sequence);
  ++Service.CallsByLayout[Call.FieldsDigest];
  Service.Size += Call.Size;
  AreaSize(Service) += Call.Size;
  Service.Calls.push_back(std::move(Call));
}

TTxCachedCall TTxServiceCache::RemoveCall(TTxCachedService& Service,
                                          std::deque<TTxCachedCall>::iterator Call) {
  const auto [first, last] = Service.CallsByDigest.equal_range(Call->ValuesDigest);
  const auto entry =
      std::find_if(first, last, [&](const auto& e) { return e.second == Call->Sequence; });
  if (entry != last) Service.CallsByDigest.erase(entry);
  if (const auto layout = Service.CallsByLayout.find(Call->FieldsDigest);
      layout != Service.CallsByLayout.end() && --layout->second == 0) {
    Service.CallsByLayout.erase(layout);
  }
  Service.Size -= Call->Size;
  AreaSize(Service) -= Call->Size;
  TTxCachedCall removed = std::move(*Call);
  Service.Calls.erase(Call);
  return removed;
}

bool TTxServiceCache::CheckCache(TTxService* Service) {
  if (Service == nullptr) return false;
  TTxCachedService* const service = Find(Service->GetServiceName());
  if (service == nullptr || service->Calls.empty()) return false;
  TRequest request(*Service->GetSendData());
  const auto call = FirstMatch(*service, request);
  if (call == service->Calls.end()) return false;

  TTxFbfr& recv = *Service->GetRecvData();
  if (call->Reply) {
    TTxCachedReply copy = CopyOf(call->Reply.get());
    // Without a copy the receive buffer would still hold whatever it held
    // before: the call is left to the service instead.
    if (!copy) return false;
    TTxCachedReply previous(std::exchange(*recv.GetFbfrPP(), copy.release()));
    recv.SyncFbfrDef();
  } else {
    recv.Clear();  // the reply could not be copied when it was stored
  }
  Service->LastUrcode = call->Urcode;
  Log(Format("Cache hit: %s", {service->Name}));
  return true;
}

bool TTxServiceCache::IsCachedCall(TTxService* Service) {
  if (Service == nullptr) return false;
  TTxCachedService* const service = Find(Service->GetServiceName());
  if (service == nullptr || service->Calls.empty()) return false;
  TRequest request(*Service->GetSendData());
  return FirstMatch(*service, request) != service->Calls.end();
}

int TTxServiceCache::Invalidate(TTxCachedService& Service, TRequest& Request) {
  const auto call = FirstMatch(Service, Request);
  if (call == Service.Calls.end()) return 0;
  return RemoveCall(Service, call).Size;
}

int TTxServiceCache::InvalidateCachedCall(TTxService* Service) {
  if (Service == nullptr) return 0;
  TTxCachedService* const service = Find(Service->GetServiceName());
  if (service == nullptr || service->Calls.empty()) return 0;
  TRequest request(*Service->GetSendData());
  return Invalidate(*service, request);
}

void TTxServiceCache::UpdateCachedCall(TTxService* Service) {
  if (Service == nullptr) return;
  const AnsiString name = Service->GetServiceName();
  TTxFbfr& send = *Service->GetSendData();
  TTxFbfr& recv = *Service->GetRecvData();

  TRequest request(send);
  if (TTxCachedService* const known = Find(name)) Invalidate(*known, request);

  const int size = ClampedSize(static_cast<long long>(send.GetFbfrSize()) + recv.GetFbfrSize());
  const TTxCachedService* const existing = Find(name);
  if (existing == nullptr || !existing->Permanent) MakeRoom(size);

  TTxCachedCall call = request.TakeCall();
  call.Added = Now();
  call.Size = size;
  call.Reply = CopyOf(recv.GetFbfrP());
  call.Urcode = Service->LastUrcode;

  TTxCachedService* service = Find(name);
  if (service == nullptr) {
    TTxCachedService created;
    created.Name = name;
    FServices.push_back(std::move(created));
    service = &FServices.back();
  }
  AddCall(*service, std::move(call));
  Log(Format("Adding/updating service call: %s, size=%d", {name, size}));
}

void TTxServiceCache::MakeRoom(long long Bytes) {
  while (FNormalSize + Bytes > FLimit) {
    // The service whose oldest call is the oldest of all; on equal times the
    // first in the order services were first cached.
    TTxCachedService* victim = nullptr;
    for (TTxCachedService& service : FServices) {
      if (service.Permanent || service.Calls.empty()) continue;
      if (victim == nullptr || service.Calls.front().Added < victim->Calls.front().Added) {
        victim = &service;
      }
    }
    if (victim == nullptr) return;  // nothing left to discard: stored over the limit

    const TTxCachedCall oldest = RemoveCall(*victim, victim->Calls.begin());
    Log(Format("Discarding service call: %s, added=%s, size=%d",
               {victim->Name, TimeToStr(oldest.Added), oldest.Size}));
    if (oldest.Size == 0) return;
  }
}

void TTxServiceCache::ClearService(AnsiString ServiceName) {
  TTxCachedService* const service = Find(ServiceName);
  if (service == nullptr) return;
  service->Calls.clear();
  service->CallsByDigest.clear();
  service->CallsByLayout.clear();
  AreaSize(*service) -= service->Size;
  service->Size = 0;
}

// ---- The service's side ----------------------------------------------------------

namespace {
// QUORCACHEDISABLED holding a number other than 0 (read as atol reads it,
// so a text without leading digits is 0) bypasses the cache.
bool CacheSwitchedOff() {
  const char* value = std::getenv("QUORCACHEDISABLED");
  return value != nullptr && std::atol(value) != 0;
}
}  // namespace

void TTxService::Execute() {
  ICacheControl* const cache = GlobalCacheControl();
  const bool useCache =
      cache != nullptr && FCached && !CacheSwitchedOff() && !ComponentState().Contains(csDesigning);
  if (!useCache) {
    InternalExecute();
    return;
  }
  if (FCacheLifetime == txcltPermanent && !FServiceName.IsEmpty()) {
    cache->SetServicePermanent(FServiceName);
  }
  if (cache->CheckCache(this)) return;
  InternalExecute();
  cache->UpdateCachedCall(this);  // only a call that did not raise is stored
}

bool TTxService::CheckCache() {
  ICacheControl* const cache = GlobalCacheControl();
  return cache != nullptr && cache->CheckCache(this);
}

bool TTxService::IsCachedCall() {
  ICacheControl* const cache = GlobalCacheControl();
  return cache != nullptr && cache->IsCachedCall(this);
}

void TTxService::UpdateCachedCall() {
  if (ICacheControl* const cache = GlobalCacheControl()) cache->UpdateCachedCall(this);
}

void TTxService::InvalidateCachedCall() {
  if (ICacheControl* const cache = GlobalCacheControl()) cache->InvalidateCachedCall(this);
}

}  // namespace Tx
