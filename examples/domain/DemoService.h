// What the services of the demo domain share: reading a request, building
// a reply, and the users of the domain. Only for examples/domain/.
#pragma once

#include <atmi.h>
#include <fml32.h>

#include <string>
#include <string_view>

#include "platform/framework/AnsiString.h"

namespace TxDemo::Detail {

// ---- Reading a request --------------------------------------------------------

// The request of a service as an FML32 buffer, or nullptr when the caller
// sent no data or a buffer of another type.
FBFR32* RequestOf(const TPSVCINFO* info) noexcept;

// Values of one occurrence. Each gives `fallback` when the occurrence is
// absent or holds the null value a client library stores for "no value"
// (long -2147483648; double -2.2250738585072014e-308 or all bytes 0xFF;
// char 0). Strings and bytes give "" when absent.
long LongAt(FBFR32* request, FLDID32 field, FLDOCC32 occ, long fallback) noexcept;
double DoubleAt(FBFR32* request, FLDID32 field, FLDOCC32 occ, double fallback) noexcept;
char CharAt(FBFR32* request, FLDID32 field, FLDOCC32 occ, char fallback) noexcept;
std::string StringAt(FBFR32* request, FLDID32 field, FLDOCC32 occ);
std::string BytesAt(FBFR32* request, FLDID32 field, FLDOCC32 occ);
bool Present(FBFR32* request, FLDID32 field, FLDOCC32 occ) noexcept;
// Occurrences of the field, 0 when absent (or for no request).
int Count(FBFR32* request, FLDID32 field) noexcept;

// ---- Building a reply -----------------------------------------------------------

// An FML32 reply that grows as values are added. Throws std::bad_alloc when
// the middleware has no memory for it (the call then fails as a server
// error).
class Reply {
 public:
  Reply();
  ~Reply();
  Reply(Reply&& other) noexcept;
  Reply& operator=(Reply&& other) noexcept;
  Reply(const Reply&) = delete;
  Reply& operator=(const Reply&) = delete;

  void AddLong(FLDID32 field, long value);
  void AddDouble(FLDID32 field, double value);
  void AddChar(FLDID32 field, char value);
  void AddString(FLDID32 field, std::string_view value);
  void AddBytes(FLDID32 field, std::string_view value);

  FBFR32* Buffer() const noexcept { return FBuffer; }
  // Hands the buffer over (to tpreturn, which then owns it).
  char* Release() noexcept;

 private:
  void Add(FLDID32 field, const char* value, FLDLEN32 length);
  FBFR32* FBuffer = nullptr;
};

// How a service ends: tpreturn's rval and rcode and the reply.
struct Outcome {
  int Rval = TPSUCCESS;
  long Rcode = 0;
  Reply Data;
};

// A successful reply.
Outcome Success(Reply reply = Reply());
// TPFAIL with TDX_ERRCODE and TDX_ERRTEXT: the call raises at the client.
Outcome Failure(long code, const Tx::AnsiString& text);
// TPSUCCESS with TDX_ERRCODE, TDX_ERRTEXT and TDX_ROWID: a refusal that the
// update protocol hands to the caller to decide on.
Outcome Refusal(long code, const Tx::AnsiString& text, int row);

// Counts the call for ServedCalls.
void CountCall(std::string_view service);

// Counts the call, serves the request and ends the service.
void Serve(TPSVCINFO* info, std::string_view service, Outcome (*serve)(FBFR32* request));

// ---- Users -------------------------------------------------------------------------

struct User {
  const char* UserName;
  const char* Password;
  const char* Login;
  const char* Unit;  // UTF-8 here; Windows-1250 in buffers
  const char* Role;
  long AppKey;
};

// The user with that user name (Windows-1250 bytes), or nullptr.
const User* FindUser(std::string_view userName) noexcept;
// The user with that login, or nullptr.
const User* FindLogin(std::string_view login) noexcept;

// ---- Services of the domain, for advertising ------------------------------------

void ServeAuth(TPSVCINFO* info);
void ServeLogin(TPSVCINFO* info);
void ServeRouter(TPSVCINFO* info);
void ServeSelect(TPSVCINFO* info);
void ServeRefresh(TPSVCINFO* info);
void ServeUpdate(TPSVCINFO* info);
void ServeInsert(TPSVCINFO* info);
void ServeDelete(TPSVCINFO* info);
void ServePay(TPSVCINFO* info);
void ServeRates(TPSVCINFO* info);

// Whether ROUTER may forward to the service.
bool Routable(std::string_view service) noexcept;

// Resets the customers (DemoCustomers.cpp).
void ResetCustomers();
void HoldCustomer(long id, bool held);

}  // namespace TxDemo::Detail
