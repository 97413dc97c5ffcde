// The customers of the demo domain and the services over them: select,
// refresh, update, insert and delete in the TDX protocol, payments, and the
// exchange rates.
#include <atmi.h>
#include <fml32.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "examples/domain/DemoFields.h"
#include "examples/domain/DemoService.h"
#include "platform/framework/Format.h"

namespace TxDemo::Detail {
namespace {

using Tx::operator""_ansi;

struct Customer {
  long Id = 0;
  std::string Name;  // Windows-1250
  double Balance = 0;
  char Segment = 'A';
  std::string Note;
};

constexpr long FirstSerial = 1004;

std::map<long, Customer> InitialRows() {
  std::map<long, Customer> rows;
  const Customer initial[] = {
      {1001, "Kowalski Jan", 1250.50, 'A', "stały klient"},
      {1002, "Nowak Anna", -3.25, 'B', ""},
      {1003, "Wiśniewska Zofia", 0.0, 'A', ""},
  };
  for (Customer customer : initial) {
    customer.Name = Tx::Utf8ToAnsi(customer.Name).str();
    customer.Note = Tx::Utf8ToAnsi(customer.Note).str();
    rows.emplace(customer.Id, customer);
  }
  return rows;
}

struct Customers {
  std::mutex Mutex;
  std::map<long, Customer> Rows = InitialRows();
  long NextSerial = FirstSerial;
  std::set<long> Held;  // customers another user is changing
};

Customers& Data() {
  static Customers data;
  return data;
}

void AddRow(Reply& reply, const Customer& customer) {
  reply.AddLong(CUST_ID, customer.Id);
  reply.AddString(CUST_NAME, customer.Name);
  reply.AddDouble(BALANCE, customer.Balance);
  reply.AddChar(SEGMENT, customer.Segment);
  reply.AddBytes(NOTE, customer.Note);
}

Tx::AnsiString NoCustomer(long id) {
  return Tx::Format("Nie znaleziono klienta nr %d."_ansi, {id});
}

// Amounts in the server's texts are written the Polish way, whatever the
// locale of the process that hosts the domain.
Tx::AnsiString Amount(double value) {
  Tx::TFormatSettings polish;
  polish.DecimalSeparator = ',';
  return Tx::Format("%.2f zł"_ansi, {value}, polish);
}

Tx::AnsiString EmptyName() { return "Nazwa klienta nie może być pusta."_ansi; }

Tx::AnsiString HeldByAnother(long id) {
  return Tx::Format("Klienta nr %d zmienia właśnie inny użytkownik; spróbuj ponownie."_ansi, {id});
}

// Request rows: occurrence i of every customer field.
int RowCount(FBFR32* request) {
  int rows = 0;
  for (const FLDID32 field : {CUST_ID, CUST_NAME, BALANCE, SEGMENT, NOTE}) {
    rows = std::max(rows, Count(request, field));
  }
  return rows;
}

// Row `row` of the request over `customer`: what the row carries replaces
// the stored value, what it lacks (or holds as null) keeps it.
void ApplyRow(FBFR32* request, int row, Customer& customer) {
  if (Present(request, CUST_NAME, row)) customer.Name = StringAt(request, CUST_NAME, row);
  customer.Balance = DoubleAt(request, BALANCE, row, customer.Balance);
  customer.Segment = CharAt(request, SEGMENT, row, customer.Segment);
  if (Present(request, NOTE, row)) customer.Note = BytesAt(request, NOTE, row);
}

Outcome Select(FBFR32* request) {
  const char segment = CharAt(request, SEGMENT, 0, '\0');
  Customers& data = Data();
  const std::lock_guard lock(data.Mutex);
  Reply reply;
  for (const auto& [id, customer] : data.Rows) {
    if (segment == '\0' || customer.Segment == segment) AddRow(reply, customer);
  }
  return Success(std::move(reply));
}

Outcome Refresh(FBFR32* request) {
  const long id = LongAt(request, CUST_ID, 0, 0);
  Customers& data = Data();
  const std::lock_guard lock(data.Mutex);
  const auto found = data.Rows.find(id);
  if (found == data.Rows.end()) return Failure(ErrNoCustomer, NoCustomer(id));
  Reply reply;
  AddRow(reply, found->second);
  return Success(std::move(reply));
}

// Every row is checked before anything changes, so a refusal leaves the
// table as it was.
Outcome Update(FBFR32* request) {
  const int rows = Count(request, CUST_ID);
  Customers& data = Data();
  const std::lock_guard lock(data.Mutex);
  std::map<long, Customer> changed;
  for (int row = 0; row < rows; ++row) {
    const long id = LongAt(request, CUST_ID, row, 0);
    const auto found = data.Rows.find(id);
    if (found == data.Rows.end()) return Refusal(ErrNoCustomer, NoCustomer(id), row);
    if (data.Held.contains(id)) return Refusal(ErrHeld, HeldByAnother(id), row);
    Customer customer = changed.contains(id) ? changed[id] : found->second;
    ApplyRow(request, row, customer);
    if (customer.Name.empty()) return Refusal(ErrBadValue, EmptyName(), row);
    changed[id] = customer;
  }
  for (const auto& [id, customer] : changed) data.Rows[id] = customer;
  Reply reply;
  reply.AddLong(TDX_ERRCODE, 0);
  return Success(std::move(reply));
}

Outcome Insert(FBFR32* request) {
  const int rows = RowCount(request);
  Customers& data = Data();
  const std::lock_guard lock(data.Mutex);
  std::vector<Customer> added;
  for (int row = 0; row < rows; ++row) {
    Customer customer;
    customer.Id = data.NextSerial + row;
    ApplyRow(request, row, customer);
    if (customer.Name.empty()) return Refusal(ErrBadValue, EmptyName(), row);
    added.push_back(customer);
  }
  Reply reply;
  reply.AddLong(TDX_ERRCODE, 0);
  for (const Customer& customer : added) {
    data.Rows[customer.Id] = customer;
    reply.AddLong(TDX_SERIAL, customer.Id);
  }
  data.NextSerial += rows;
  return Success(std::move(reply));
}

Outcome Delete(FBFR32* request) {
  const int rows = Count(request, CUST_ID);
  Customers& data = Data();
  const std::lock_guard lock(data.Mutex);
  std::vector<long> deleted;
  for (int row = 0; row < rows; ++row) {
    const long id = LongAt(request, CUST_ID, row, 0);
    const auto found = data.Rows.find(id);
    if (found == data.Rows.end()) return Refusal(ErrNoCustomer, NoCustomer(id), row);
    if (found->second.Balance != 0.0) {
      return Refusal(
          ErrBalanceNotZero,
          Tx::Format("Nie można usunąć klienta nr %d: saldo nie jest zerowe."_ansi, {id}), row);
    }
    deleted.push_back(id);
  }
  for (const long id : deleted) data.Rows.erase(id);
  Reply reply;
  reply.AddLong(TDX_ERRCODE, 0);
  return Success(std::move(reply));
}

Outcome Pay(FBFR32* request) {
  const long id = LongAt(request, CUST_ID, 0, 0);
  const double amount = DoubleAt(request, AMOUNT, 0, 0.0);
  Customers& data = Data();
  const std::lock_guard lock(data.Mutex);
  const auto found = data.Rows.find(id);
  if (found == data.Rows.end()) return Failure(ErrNoCustomer, NoCustomer(id));
  if (!(amount > 0.0)) return Failure(ErrBadValue, "Kwota płatności musi być dodatnia."_ansi);
  Customer& customer = found->second;
  if (customer.Balance < amount) {
    return Failure(ErrNoFunds, Tx::Format("Niewystarczające środki na rachunku klienta nr %d: "
                                          "saldo %s, kwota %s."_ansi,
                                          {id, Amount(customer.Balance), Amount(amount)}));
  }
  customer.Balance -= amount;
  Reply reply;
  reply.AddLong(CUST_ID, id);
  reply.AddDouble(BALANCE, customer.Balance);
  return Success(std::move(reply));
}

struct Rate {
  const char* Currency;
  double Value;
};
constexpr Rate Rates[] = {{"CHF", 4.5012}, {"EUR", 4.3215}, {"USD", 3.9876}};

Outcome RatesOf(FBFR32* request) {
  const std::string wanted = StringAt(request, CURRENCY, 0);
  Reply reply;
  for (const Rate& rate : Rates) {
    if (wanted.empty() || wanted == rate.Currency) {
      reply.AddString(CURRENCY, rate.Currency);
      reply.AddDouble(RATE, rate.Value);
    }
  }
  if (Count(reply.Buffer(), CURRENCY) == 0) {
    return Failure(ErrBadValue, Tx::Format("Nieznana waluta \"%s\"."_ansi, {wanted.c_str()}));
  }
  reply.AddLong(TDX_ERRCODE, 0);
  reply.AddString(
      TDX_ERRTEXT,
      "Kursy orientacyjne; płatność rozlicza się po kursie z chwili księgowania."_ansi.str());
  return Success(std::move(reply));
}

}  // namespace

void ResetCustomers() {
  Customers& data = Data();
  std::map<long, Customer> rows = InitialRows();
  const std::lock_guard lock(data.Mutex);
  data.Rows = std::move(rows);
  data.NextSerial = FirstSerial;
  data.Held.clear();
}

void HoldCustomer(long id, bool held) {
  Customers& data = Data();
  const std::lock_guard lock(data.Mutex);
  if (held)
    data.Held.insert(id);
  else
    data.Held.erase(id);
}

void ServeSelect(TPSVCINFO* info) { Serve(info, SelectService, Select); }
void ServeRefresh(TPSVCINFO* info) { Serve(info, RefreshService, Refresh); }
void ServeUpdate(TPSVCINFO* info) { Serve(info, UpdateService, Update); }
void ServeInsert(TPSVCINFO* info) { Serve(info, InsertService, Insert); }
void ServeDelete(TPSVCINFO* info) { Serve(info, DeleteService, Delete); }
void ServePay(TPSVCINFO* info) { Serve(info, PayService, Pay); }
void ServeRates(TPSVCINFO* info) { Serve(info, RatesService, RatesOf); }

}  // namespace TxDemo::Detail
