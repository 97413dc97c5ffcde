// The demo domain: a small application server, advertised in the process's
// own middleware domain, that the demo program, the command-line client and
// the tests talk to.
//
// Services (field ids in DemoFields.h; every text is Windows-1250):
//
//   AUTHSVC       Admits a join: an anonymous one (no user name), or a user
//                 of the domain with the right password; the user's
//                 application key becomes the client's.
//   QLOGIN        The session server's login service (LoginFields.h): a
//                 user of the domain with the right password and the
//                 application code "DEMO" is admitted with its login, unit,
//                 role and application key; a wrong user or password gives
//                 QL_RESULT 2, another application code QL_RESULT 3.
//   ROUTER        Takes the last occurrence of each of the nine routing
//                 fields, checks that all are there, that RT_SERVICE names a
//                 service of this domain, that RT_LOGIN is a user who logged
//                 in and that RT_APPCODE is "DEMO"; then forwards the request,
//                 routing fields and all, to that service. Refusals end with
//                 TPFAIL, TDX_ERRCODE -1 and a text.
//   CUST_SELECT   The customers (CUST_ID, CUST_NAME, BALANCE, SEGMENT, NOTE;
//                 one occurrence of each per row, by number), all of them or
//                 those of the segment given in SEGMENT.
//   CUST_REFRESH  The row of the customer in CUST_ID; TPFAIL when unknown.
//   CUST_UPDATE   Changes the rows given by CUST_ID (occurrence i of each
//                 field is request row i; a field a row lacks, or a null
//                 value, keeps the stored one). Refuses the whole request
//                 with TDX_ERRCODE, TDX_ERRTEXT and TDX_ROWID (the refused
//                 request row) for an unknown customer, an empty name or
//                 a customer another user is changing (HoldCustomer);
//                 otherwise replies TDX_ERRCODE 0.
//   CUST_INSERT   Adds the rows (CUST_ID in the request is ignored) and
//                 replies TDX_ERRCODE 0 and one TDX_SERIAL per row with the
//                 number it gave; refuses an empty name as above.
//   CUST_DELETE   Deletes the customers in CUST_ID; refuses an unknown one
//                 and one whose balance is not zero as above.
//   PAY           Takes AMOUNT from the balance of customer CUST_ID and
//                 replies CUST_ID and the new BALANCE; fails with TPFAIL,
//                 TDX_ERRCODE and TDX_ERRTEXT for an unknown customer, an
//                 amount that is not positive, or too little money.
//   RATES         Exchange rates (CURRENCY, RATE), all or the one named in
//                 CURRENCY, with TDX_ERRCODE 0 and an information text in
//                 TDX_ERRTEXT.
//
// Refusals reported through TDX_ERRCODE in a TPSUCCESS reply (the update
// services) let a data set decide what to do about them; failures with
// TPFAIL reach the caller as an exception.
//
// The data live in the process and start from the same table at every
// ResetDemoData(), so a session with the domain is repeatable. Services may
// be called from any thread.
#pragma once

namespace TxDemo {

// The application code that QLOGIN and ROUTER accept.
inline constexpr char AppCode[] = "DEMO";

// Advertises every service of the domain (again after the domain was reset;
// advertising twice does nothing).
void AdvertiseDemoDomain();

// Puts the customers back to the initial table, the next serial to 1004 and
// the call counters to 0.
void ResetDemoData();

// Plays another user who is changing the customer: while held, CUST_UPDATE
// refuses changes to it (TDX_ERRCODE ErrHeld), so a client can retry once
// it is released. ResetDemoData releases every customer.
void HoldCustomer(long id);
void ReleaseCustomer(long id);

// How many requests the service has answered (successfully or not) since
// the last ResetDemoData(); 0 for a name the domain does not serve.
int ServedCalls(const char* service);

// The directory of demo.fml and login.fml.
const char* DemoFieldTableDirectory();

// Points the process at demo.fml and login.fml (FLDTBLDIR32, FIELDTBLS32) unless
// FIELDTBLS32 names tables already; true when it did.
bool UseDemoFieldTables();

}  // namespace TxDemo
