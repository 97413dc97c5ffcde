// Field ids and service names of the demo domain.
//
// The field ids are the constants of demo.fml.h, which the build generates
// from examples/demo.fml with mkfldhdr32: SRVCNM (the request field that
// names the service for the command-line client), the customer fields
// (CUST_ID, CUST_NAME, BALANCE, SEGMENT, NOTE, AMOUNT, CURRENCY, RATE), the
// reply's error and information fields (TDX_ERRCODE 0 or absent: success, a
// negative code: an error; TDX_ERRTEXT the text for the user), the row
// fields (TDX_ROWID: the request row an update, insert or delete service
// refused, counted from 0; TDX_SERIAL: the number an insert gave a new row)
// and the routing fields RT_*. The services read and write their buffers by
// these ids, so they work whatever field tables the process has loaded; the
// table names them for programs that work by name (Fldid32, Fextread32,
// Fprint32, contracts).
#pragma once

#include <fml32.h>

#include "demo.fml.h"

namespace TxDemo {

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
