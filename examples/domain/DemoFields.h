// Field ids and service names of the demo domain.
//
// The services read and write their buffers by these ids, so they work
// whatever field tables the process has loaded; examples/demo.fml names the
// same ids for programs that work by name (Fldid32, Fextread32, Fprint32,
// contracts).
#pragma once

#include <fml32.h>

namespace TxDemo {

// A field id as Fmkfldid32 makes it: the type in the top bits, the number below.
constexpr FLDID32 FieldId(int type, FLDID32 number) noexcept {
  return (static_cast<FLDID32>(type) << 25) | number;
}

// The request field that names the service for the command-line client.
inline constexpr FLDID32 SRVCNM = FieldId(FLD_STRING, 8);

// Customers, payments and exchange rates.
inline constexpr FLDID32 CUST_ID = FieldId(FLD_LONG, 1001);
inline constexpr FLDID32 CUST_NAME = FieldId(FLD_STRING, 1002);
inline constexpr FLDID32 BALANCE = FieldId(FLD_DOUBLE, 1003);
inline constexpr FLDID32 SEGMENT = FieldId(FLD_CHAR, 1004);
inline constexpr FLDID32 NOTE = FieldId(FLD_CARRAY, 1005);
inline constexpr FLDID32 AMOUNT = FieldId(FLD_DOUBLE, 1006);
inline constexpr FLDID32 CURRENCY = FieldId(FLD_STRING, 1007);
inline constexpr FLDID32 RATE = FieldId(FLD_DOUBLE, 1008);

// Error and information fields of a reply: TDX_ERRCODE 0 (or absent) means
// success, a negative code an error; TDX_ERRTEXT is the text for the user,
// an error or an information. The client library reads these two ids.
inline constexpr FLDID32 TDX_ERRCODE = FieldId(FLD_LONG, 1000002);
inline constexpr FLDID32 TDX_ERRTEXT = FieldId(FLD_STRING, 1000003);
// Row fields: the request row that an update, insert or delete service
// refused (counted from 0), and the number an insert gave a new row.
inline constexpr FLDID32 TDX_ROWID = FieldId(FLD_LONG, 1000004);
inline constexpr FLDID32 TDX_SERIAL = FieldId(FLD_LONG, 1000005);

// Routing fields, appended by the client to a request sent through ROUTER.
inline constexpr FLDID32 RT_SERVICE = FieldId(FLD_STRING, 150001);
inline constexpr FLDID32 RT_APPCODE = FieldId(FLD_STRING, 150202);
inline constexpr FLDID32 RT_APPVERSION = FieldId(FLD_STRING, 150002);
inline constexpr FLDID32 RT_LOGIN = FieldId(FLD_STRING, 1000101);
inline constexpr FLDID32 RT_UNIT = FieldId(FLD_STRING, 1000103);
inline constexpr FLDID32 RT_ROLE = FieldId(FLD_STRING, 1000102);
inline constexpr FLDID32 RT_WORKSTATION = FieldId(FLD_STRING, 1000104);
inline constexpr FLDID32 RT_PID = FieldId(FLD_LONG, 1000105);
inline constexpr FLDID32 RT_CALLTAG = FieldId(FLD_STRING, 1000106);

// The nine routing fields in the order the client appends them.
inline constexpr FLDID32 RoutingFields[] = {RT_SERVICE,     RT_APPCODE, RT_APPVERSION,
                                            RT_LOGIN,       RT_UNIT,    RT_ROLE,
                                            RT_WORKSTATION, RT_PID,     RT_CALLTAG};

// Services.
inline constexpr char AuthService[] = "AUTHSVC";   // admits a TPINIT join
inline constexpr char RouterService[] = "ROUTER";  // checks the routing fields, forwards
inline constexpr char SelectService[] = "CUST_SELECT";
inline constexpr char RefreshService[] = "CUST_REFRESH";
inline constexpr char UpdateService[] = "CUST_UPDATE";
inline constexpr char InsertService[] = "CUST_INSERT";
inline constexpr char DeleteService[] = "CUST_DELETE";
inline constexpr char PayService[] = "PAY";      // fails with TPFAIL and an error text
inline constexpr char RatesService[] = "RATES";  // replies with an information text
// The login service of the session server is LoginFields::LoginService.

// Error codes in TDX_ERRCODE.
inline constexpr long ErrRouting = -1;         // ROUTER refused the request
inline constexpr long ErrNoCustomer = -2;      // no customer with that number
inline constexpr long ErrBadValue = -3;        // a value the service does not take
inline constexpr long ErrBalanceNotZero = -4;  // a customer with money cannot be deleted
inline constexpr long ErrHeld = -5;            // another user is changing the customer
inline constexpr long ErrNoFunds = -10;        // a payment beyond the balance

}  // namespace TxDemo
