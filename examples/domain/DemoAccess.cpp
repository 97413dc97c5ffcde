// Who may use the demo domain: the join (AUTHSVC), the session server's
// login (QLOGIN) and the router (ROUTER).
#include <atmi.h>
#include <fml32.h>

#include <string>
#include <string_view>

#include "examples/domain/DemoDomain.h"
#include "examples/domain/DemoFields.h"
#include "examples/domain/DemoService.h"
#include "platform/framework/Format.h"
#include "platform/session/LoginFields.h"

namespace TxDemo::Detail {
namespace {

using namespace Tx::LoginFields;
using Tx::operator""_ansi;

// QL_RESULT of a refused login.
constexpr long LoginBadUser = 2;
constexpr long LoginBadApplication = 3;

bool PasswordMatches(const User* user, std::string_view password) {
  return user != nullptr && password == user->Password;
}

Outcome Login(FBFR32* request) {
  const std::string userName = StringAt(request, QL_USERNAME, 0);
  const User* user = FindUser(userName);
  Reply reply;
  if (!PasswordMatches(user, StringAt(request, QL_PASSWD, 0))) {
    reply.AddLong(QL_RESULT, LoginBadUser);
    return Success(std::move(reply));
  }
  if (StringAt(request, QL_APPCODE, 0) != AppCode) {
    reply.AddLong(QL_RESULT, LoginBadApplication);
    return Success(std::move(reply));
  }
  reply.AddString(QL_LOGIN, user->Login);
  reply.AddString(QL_UNIT, Tx::Utf8ToAnsi(user->Unit).str());
  reply.AddString(QL_ROLE, user->Role);
  reply.AddLong(QL_APPKEY, user->AppKey);
  reply.AddLong(QL_RESULT, 0);
  return Success(std::move(reply));
}

// The last occurrence of a routing field: the client appends its own after
// any the application put in the request.
bool LastOccurrence(FBFR32* request, FLDID32 field, FLDOCC32& occ) {
  occ = Count(request, field) - 1;
  return occ >= 0;
}

const char* RoutingFieldName(FLDID32 field) {
  switch (field) {
    case RT_SERVICE:
      return "RT_SERVICE";
    case RT_APPCODE:
      return "RT_APPCODE";
    case RT_APPVERSION:
      return "RT_APPVERSION";
    case RT_LOGIN:
      return "RT_LOGIN";
    case RT_UNIT:
      return "RT_UNIT";
    case RT_ROLE:
      return "RT_ROLE";
    case RT_WORKSTATION:
      return "RT_WORKSTATION";
    case RT_PID:
      return "RT_PID";
    default:
      return "RT_CALLTAG";
  }
}

// The refusal of a routed request, or a success naming nothing: the
// service to forward to is then in `service`.
Outcome CheckRouting(FBFR32* request, std::string& service) {
  for (const FLDID32 field : RoutingFields) {
    FLDOCC32 occ = 0;
    if (!LastOccurrence(request, field, occ)) {
      return Failure(ErrRouting,
                     Tx::Format("Brak pola routingu %s."_ansi, {RoutingFieldName(field)}));
    }
  }
  FLDOCC32 occ = 0;
  LastOccurrence(request, RT_SERVICE, occ);
  service = StringAt(request, RT_SERVICE, occ);
  if (!Routable(service)) {
    return Failure(ErrRouting, Tx::Format("Usługa \"%s\" nie jest dostępna przez ROUTER."_ansi,
                                          {service.c_str()}));
  }
  LastOccurrence(request, RT_LOGIN, occ);
  const std::string login = StringAt(request, RT_LOGIN, occ);
  if (login.empty()) {
    return Failure(ErrRouting, "Usługi przez ROUTER są dostępne tylko po zalogowaniu."_ansi);
  }
  if (FindLogin(login) == nullptr) {
    return Failure(ErrRouting, Tx::Format("Nieznany użytkownik \"%s\"."_ansi, {login.c_str()}));
  }
  LastOccurrence(request, RT_APPCODE, occ);
  const std::string appCode = StringAt(request, RT_APPCODE, occ);
  if (appCode != AppCode) {
    return Failure(ErrRouting,
                   Tx::Format("Aplikacja \"%s\" nie jest obsługiwana."_ansi, {appCode.c_str()}));
  }
  return Success();
}

}  // namespace

void ServeAuth(TPSVCINFO* info) {
  CountCall(AuthService);
  // The request is a copy of the caller's TPINIT (empty for tpinit(NULL)).
  const auto* tpinit = reinterpret_cast<const TPINIT*>(info->data);
  const std::string userName = tpinit ? std::string(tpinit->usrname) : std::string();
  if (userName.empty()) {
    tpreturn(TPSUCCESS, 0, nullptr, 0, 0);  // an anonymous client
    return;
  }
  const User* user = FindUser(userName);
  if (PasswordMatches(user, tpinit->passwd)) {
    tpreturn(TPSUCCESS, user->AppKey, nullptr, 0, 0);
    return;
  }
  tpreturn(TPFAIL, 0, nullptr, 0, 0);
}

void ServeLogin(TPSVCINFO* info) { Serve(info, LoginService, Login); }

void ServeRouter(TPSVCINFO* info) {
  CountCall(RouterService);
  FBFR32* request = RequestOf(info);
  std::string service;
  Outcome outcome = CheckRouting(request, service);
  if (outcome.Rval != TPSUCCESS) {
    tpreturn(outcome.Rval, outcome.Rcode, outcome.Data.Release(), 0, 0);
    return;
  }
  // The service gets the request as the client sent it, routing fields too.
  tpforward(service.data(), info->data, 0, 0);
}

bool Routable(std::string_view service) noexcept {
  constexpr std::string_view routable[] = {SelectService, RefreshService, UpdateService,
                                           InsertService, DeleteService,  PayService,
                                           RatesService};
  for (const std::string_view name : routable) {
    if (service == name) return true;
  }
  return false;
}

}  // namespace TxDemo::Detail
