// The demo domain's shared parts: advertising, counters, field tables,
// request readers and reply buffers.
#include "examples/domain/DemoDomain.h"

#include <atmi.h>
#include <fml32.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <utility>

#include "examples/domain/DemoFields.h"
#include "examples/domain/DemoService.h"
#include "platform/session/LoginFields.h"

namespace TxDemo {
namespace Detail {
namespace {

// What client libraries store for "no value" (their typed-value layer
// writes these for an empty field).
constexpr long NullLong = -2147483647L - 1;
constexpr std::uint64_t NullDoubleBits = 0x8010000000000000ULL;
constexpr std::uint64_t BadDoubleBits = 0xFFFFFFFFFFFFFFFFULL;

std::mutex& CounterMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, int, std::less<>>& Counters() {
  static std::map<std::string, int, std::less<>> counters;
  return counters;
}

}  // namespace

// ---- Requests ---------------------------------------------------------------------

FBFR32* RequestOf(const TPSVCINFO* info) noexcept {
  if (info == nullptr || info->data == nullptr) return nullptr;
  char type[8] = {};
  if (tptypes(info->data, type, nullptr) < 0 || std::strncmp(type, "FML32", sizeof type) != 0) {
    return nullptr;
  }
  return reinterpret_cast<FBFR32*>(info->data);
}

bool Present(FBFR32* request, FLDID32 field, FLDOCC32 occ) noexcept {
  return request != nullptr && Fpres32(request, field, occ) == 1;
}

int Count(FBFR32* request, FLDID32 field) noexcept {
  if (request == nullptr) return 0;
  const FLDOCC32 count = Foccur32(request, field);
  return count > 0 ? count : 0;
}

long LongAt(FBFR32* request, FLDID32 field, FLDOCC32 occ, long fallback) noexcept {
  if (!Present(request, field, occ)) return fallback;
  const long value = Fvall32(request, field, occ);
  return value == NullLong ? fallback : value;
}

double DoubleAt(FBFR32* request, FLDID32 field, FLDOCC32 occ, double fallback) noexcept {
  double value = 0;
  FLDLEN32 length = sizeof value;
  if (!Present(request, field, occ) ||
      Fget32(request, field, occ, reinterpret_cast<char*>(&value), &length) != 1) {
    return fallback;
  }
  const auto bits = std::bit_cast<std::uint64_t>(value);
  return bits == NullDoubleBits || bits == BadDoubleBits ? fallback : value;
}

char CharAt(FBFR32* request, FLDID32 field, FLDOCC32 occ, char fallback) noexcept {
  if (!Present(request, field, occ)) return fallback;
  const char* value = Ffind32(request, field, occ, nullptr);
  return value == nullptr || *value == '\0' ? fallback : *value;
}

std::string StringAt(FBFR32* request, FLDID32 field, FLDOCC32 occ) {
  if (!Present(request, field, occ)) return {};
  const char* value = Ffind32(request, field, occ, nullptr);
  return value ? std::string(value) : std::string();
}

std::string BytesAt(FBFR32* request, FLDID32 field, FLDOCC32 occ) {
  if (!Present(request, field, occ)) return {};
  FLDLEN32 length = 0;
  const char* value = Ffind32(request, field, occ, &length);
  return value ? std::string(value, length) : std::string();
}

// ---- Replies -----------------------------------------------------------------------

Reply::Reply() {
  FBuffer = reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, 1024));
  if (FBuffer == nullptr) throw std::bad_alloc();
}

Reply::~Reply() {
  if (FBuffer != nullptr) tpfree(reinterpret_cast<char*>(FBuffer));
}

Reply::Reply(Reply&& other) noexcept : FBuffer(std::exchange(other.FBuffer, nullptr)) {}

Reply& Reply::operator=(Reply&& other) noexcept {
  if (this != &other) {
    if (FBuffer != nullptr) tpfree(reinterpret_cast<char*>(FBuffer));
    FBuffer = std::exchange(other.FBuffer, nullptr);
  }
  return *this;
}

char* Reply::Release() noexcept { return reinterpret_cast<char*>(std::exchange(FBuffer, nullptr)); }

// Adds, doubling the buffer whenever it is full.
void Reply::Add(FLDID32 field, const char* value, FLDLEN32 length) {
  while (Fadd32(FBuffer, field, const_cast<char*>(value), length) != 1) {
    if (Ferror32 != FNOSPACE) throw std::bad_alloc();
    char* grown = tprealloc(reinterpret_cast<char*>(FBuffer), 2 * Fsizeof32(FBuffer) + length);
    if (grown == nullptr) throw std::bad_alloc();
    FBuffer = reinterpret_cast<FBFR32*>(grown);
  }
}

void Reply::AddLong(FLDID32 field, long value) {
  Add(field, reinterpret_cast<const char*>(&value), 0);
}
void Reply::AddDouble(FLDID32 field, double value) {
  Add(field, reinterpret_cast<const char*>(&value), 0);
}
void Reply::AddChar(FLDID32 field, char value) { Add(field, &value, 0); }
void Reply::AddString(FLDID32 field, std::string_view value) {
  const std::string text(value);
  Add(field, text.c_str(), 0);
}
void Reply::AddBytes(FLDID32 field, std::string_view value) {
  Add(field, value.data(), static_cast<FLDLEN32>(value.size()));
}

Outcome Success(Reply reply) { return Outcome{TPSUCCESS, 0, std::move(reply)}; }

namespace {
Reply ErrorReply(long code, const Tx::AnsiString& text) {
  Reply reply;
  reply.AddLong(TDX_ERRCODE, code);
  reply.AddString(TDX_ERRTEXT, text.str());
  return reply;
}
}  // namespace

Outcome Failure(long code, const Tx::AnsiString& text) {
  return Outcome{TPFAIL, 0, ErrorReply(code, text)};
}

Outcome Refusal(long code, const Tx::AnsiString& text, int row) {
  Reply reply = ErrorReply(code, text);
  reply.AddLong(TDX_ROWID, row);
  return Outcome{TPSUCCESS, 0, std::move(reply)};
}

void CountCall(std::string_view service) {
  const std::lock_guard lock(CounterMutex());
  auto found = Counters().find(service);
  if (found == Counters().end()) found = Counters().emplace(std::string(service), 0).first;
  ++found->second;
}

void Serve(TPSVCINFO* info, std::string_view service, Outcome (*serve)(FBFR32* request)) {
  CountCall(service);
  Outcome outcome = serve(RequestOf(info));
  tpreturn(outcome.Rval, outcome.Rcode, outcome.Data.Release(), 0, 0);
}

// ---- Users --------------------------------------------------------------------------

namespace {
constexpr User Users[] = {
    {"jan", "tajne", "jan.kowalski", "Oddział Łódź", "kasjer", 101},
    {"anna", "sekret", "anna.nowak", "Centrala", "kierownik", 102},
};
}  // namespace

const User* FindUser(std::string_view userName) noexcept {
  for (const User& user : Users) {
    if (userName == user.UserName) return &user;
  }
  return nullptr;
}

const User* FindLogin(std::string_view login) noexcept {
  for (const User& user : Users) {
    if (login == user.Login) return &user;
  }
  return nullptr;
}

}  // namespace Detail

// ---- The domain ----------------------------------------------------------------------

void AdvertiseDemoDomain() {
  using namespace Detail;
  const std::pair<const char*, void (*)(TPSVCINFO*)> services[] = {
      {TxDemo::AuthService, ServeAuth},       {Tx::LoginFields::LoginService, ServeLogin},
      {TxDemo::RouterService, ServeRouter},   {TxDemo::SelectService, ServeSelect},
      {TxDemo::RefreshService, ServeRefresh}, {TxDemo::UpdateService, ServeUpdate},
      {TxDemo::InsertService, ServeInsert},   {TxDemo::DeleteService, ServeDelete},
      {TxDemo::PayService, ServePay},         {TxDemo::RatesService, ServeRates},
  };
  for (const auto& [name, function] : services) tpadvertise(const_cast<char*>(name), function);
}

void ResetDemoData() {
  Detail::ResetCustomers();
  const std::lock_guard lock(Detail::CounterMutex());
  Detail::Counters().clear();
}

void HoldCustomer(long id) { Detail::HoldCustomer(id, true); }
void ReleaseCustomer(long id) { Detail::HoldCustomer(id, false); }

int ServedCalls(const char* service) {
  const std::lock_guard lock(Detail::CounterMutex());
  const auto found = Detail::Counters().find(std::string_view(service ? service : ""));
  return found == Detail::Counters().end() ? 0 : found->second;
}

const char* DemoFieldTableDirectory() { return TXLIB_DEMO_FIELD_TABLES; }

bool UseDemoFieldTables() {
  const char* tables = std::getenv("FIELDTBLS32");
  if (tables != nullptr && *tables != '\0') return false;
  setenv("FLDTBLDIR32", DemoFieldTableDirectory(), 1);
  setenv("FIELDTBLS32", "demo.fml,login.fml", 1);
  // Tables loaded before are read again under the new settings.
  Fnmid_unload32();
  Fidnm_unload32();
  return true;
}

}  // namespace TxDemo
