// The demo domain's services called with plain ATMI: what ROUTER lets
// through, the TDX protocol of the customer services, failed payments and
// the field table. The command-line client's tests cover joining, logging in,
// selecting and the rates' information text end to end.
#include "examples/domain/DemoDomain.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "examples/domain/DemoFields.h"
#include "platform/framework/AnsiString.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "platform/tuxedo/builtin/atmi_testing.h"

namespace TxDemo {
namespace {

using Tx::AtmiBuiltin::TpBuffer;

class Request {
 public:
  Request& Long(FLDID32 id, long value) { return Add(id, reinterpret_cast<char*>(&value)); }
  Request& Double(FLDID32 id, double value) { return Add(id, reinterpret_cast<char*>(&value)); }
  Request& String(FLDID32 id, const std::string& text) { return Add(id, text.data()); }
  Request& Row(long id, const std::string& name) {
    return Long(CUST_ID, id).String(CUST_NAME, name);
  }
  // The nine routing fields of a user who logged in, calling `service`.
  Request& Routed(const std::string& service, const std::string& login = "jan.kowalski",
                  const std::string& appCode = "DEMO") {
    String(RT_SERVICE, service).String(RT_APPCODE, appCode).String(RT_APPVERSION, "1.0");
    String(RT_LOGIN, login).String(RT_UNIT, "Centrala").String(RT_ROLE, "kasjer");
    return String(RT_WORKSTATION, "STANOWISKO1").Long(RT_PID, 4242).String(RT_CALLTAG, "");
  }
  char* Data() const { return FBuffer.get(); }

 private:
  Request& Add(FLDID32 field, const char* value) {
    EXPECT_EQ(Fadd32(FBuffer.fbfr(), field, const_cast<char*>(value), 0), 1);
    return *this;
  }
  TpBuffer FBuffer{"FML32", 4096};
};

struct Reply {
  int Error = 0;
  TpBuffer Data{"FML32", 1024};

  long Long(FLDID32 field, int occ = 0) const { return Fvall32(Data.fbfr(), field, occ); }
  std::string String(FLDID32 field, int occ = 0) const {
    FLDLEN32 length = 0;  // a char has no terminating zero
    const char* value = Ffind32(Data.fbfr(), field, occ, &length);
    return value ? std::string(value, strnlen(value, length)) : "<none>";
  }
  double Double(FLDID32 field, int occ = 0) const {
    double value = 0;
    Fget32(Data.fbfr(), field, occ, reinterpret_cast<char*>(&value), nullptr);
    return value;
  }
  int Count(FLDID32 field) const { return Foccur32(Data.fbfr(), field); }
  std::vector<long> Longs(FLDID32 field) const {
    std::vector<long> values;
    for (int occ = 0; occ < Count(field); ++occ) values.push_back(Long(field, occ));
    return values;
  }
  // The TDX fields as "code: text", "code row N: text" when a row is named,
  // after "TPFAIL " when the service failed (or the call's other error).
  std::string Tdx() const {
    std::string tdx = Error == 0            ? ""
                      : Error == TPESVCFAIL ? "TPFAIL "
                                            : "tperrno " + std::to_string(Error) + " ";
    tdx += std::to_string(Long(TDX_ERRCODE));
    if (Count(TDX_ROWID) > 0) tdx += " row " + std::to_string(Long(TDX_ROWID));
    return Count(TDX_ERRTEXT) > 0 ? tdx + ": " + String(TDX_ERRTEXT) : tdx;
  }
};

// tperrno of the call (0 when it succeeded) and its reply.
Reply Call(const char* service, const Request& request = Request()) {
  Reply reply;
  long length = 0;
  const int result =
      tpcall(const_cast<char*>(service), request.Data(), 0, reply.Data.out(), &length, 0);
  reply.Error = result == 0 ? 0 : tperrno;
  return reply;
}

std::string Ansi(const char* utf8) { return Tx::Utf8ToAnsi(utf8).str(); }

std::vector<long> CustomerIds() { return Call(SelectService).Longs(CUST_ID); }

class DemoDomain : public ::testing::Test {
 protected:
  void SetUp() override {
    AdvertiseDemoDomain();
    ResetDemoData();
    ASSERT_EQ(tpinit(nullptr), 0);
  }
  void TearDown() override { ResetDemoData(); }

  Tx::AtmiBuiltin::ScopedDomain FDomain;
};

TEST_F(DemoDomain, RouterForwardsOrRefusesWithATextForTheUser) {
  // The routing occurrences the client appends come after the application's own.
  Request payment;
  payment.String(RT_SERVICE, "RATES").Long(CUST_ID, 1001).Double(AMOUNT, 250.5).Routed("PAY");
  const Reply paid = Call(RouterService, payment);
  ASSERT_EQ(paid.Error, 0) << paid.String(TDX_ERRTEXT);
  EXPECT_EQ(paid.Long(CUST_ID), 1001);
  EXPECT_EQ(paid.Double(BALANCE), 1000.0);
  EXPECT_EQ(ServedCalls(PayService), 1);
  EXPECT_EQ(ServedCalls(RatesService), 0);

  const auto routed = [](const char* service, const char* login, const char* appCode) {
    return Call(RouterService, Request().Routed(service, login, appCode)).Tdx();
  };
  EXPECT_EQ(Call(RouterService, Request().String(RT_SERVICE, "PAY")).Tdx(),
            "TPFAIL -1: Brak pola routingu RT_APPCODE.");
  EXPECT_EQ(routed("AUTHSVC", "jan.kowalski", "DEMO"),
            "TPFAIL -1: " + Ansi("Usługa \"AUTHSVC\" nie jest dostępna przez ROUTER."));
  EXPECT_EQ(routed("PAY", "jan.kowalski", "KADRY"),
            "TPFAIL -1: " + Ansi("Aplikacja \"KADRY\" nie jest obsługiwana."));
  EXPECT_EQ(routed("PAY", "", "DEMO"),
            "TPFAIL -1: " + Ansi("Usługi przez ROUTER są dostępne tylko po zalogowaniu."));
  EXPECT_EQ(routed("PAY", "hacker", "DEMO"),
            "TPFAIL -1: " + Ansi("Nieznany użytkownik \"hacker\"."));
  EXPECT_EQ(ServedCalls(PayService), 1);
  EXPECT_EQ(ServedCalls(RouterService), 6);
}

TEST_F(DemoDomain, UpdateRefusesTheWholeRequestNamingTheRow) {
  const Reply refused =
      Call(UpdateService, Request().Row(1001, "Kowalski Jan Maria").Row(1002, ""));
  // A refusal is a reply, not a failed call.
  EXPECT_EQ(refused.Tdx(), "-3 row 1: " + Ansi("Nazwa klienta nie może być pusta."));
  EXPECT_EQ(Call(RefreshService, Request().Long(CUST_ID, 1001)).String(CUST_NAME), "Kowalski Jan");
  EXPECT_EQ(Call(UpdateService, Request().Row(1009, "Nikt")).Tdx(),
            "-2 row 0: Nie znaleziono klienta nr 1009.");

  // What a row lacks or holds as null keeps the stored value.
  Request update;
  update.Row(1002, "Nowak-Lis Anna").Double(BALANCE, -2.2250738585072014e-308);
  EXPECT_EQ(Call(UpdateService, update).Tdx(), "0");
  const Reply row = Call(RefreshService, Request().Long(CUST_ID, 1002));
  EXPECT_EQ(row.String(CUST_NAME), "Nowak-Lis Anna");
  EXPECT_EQ(row.Double(BALANCE), -3.25);
  EXPECT_EQ(row.String(SEGMENT), "B");
}

TEST_F(DemoDomain, AHeldCustomerRefusesUpdatesUntilReleasedOrReset) {
  HoldCustomer(1002);
  const std::string held = "-5 row 0: " + Ansi("Klienta nr 1002 zmienia właśnie inny użytkownik; spróbuj ponownie.");
  EXPECT_EQ(Call(UpdateService, Request().Row(1002, "Nowak-Lis Anna")).Tdx(), held);
  ReleaseCustomer(1002);
  EXPECT_EQ(Call(UpdateService, Request().Row(1002, "Nowak-Lis Anna")).Tdx(), "0");
  HoldCustomer(1002);
  ResetDemoData();
  EXPECT_EQ(Call(UpdateService, Request().Row(1002, "Nowak Anna")).Tdx(), "0");
}

TEST_F(DemoDomain, InsertGivesSerialsDeleteNeedsAZeroBalanceResetStartsAgain) {
  const Reply inserted = Call(
      InsertService, Request().Row(0, "Zieliński Piotr").Double(BALANCE, 10).Row(0, "Lis Ewa"));
  EXPECT_EQ(inserted.Tdx(), "0");
  EXPECT_EQ(inserted.Longs(TDX_SERIAL), (std::vector<long>{1004, 1005}));
  EXPECT_EQ(Call(InsertService, Request().Double(BALANCE, 1.0)).Tdx(),
            "-3 row 0: " + Ansi("Nazwa klienta nie może być pusta."));
  EXPECT_EQ(CustomerIds(), (std::vector<long>{1001, 1002, 1003, 1004, 1005}));

  EXPECT_EQ(Call(DeleteService, Request().Long(CUST_ID, 1005).Long(CUST_ID, 1004)).Tdx(),
            "-4 row 1: " + Ansi("Nie można usunąć klienta nr 1004: saldo nie jest zerowe."));
  EXPECT_EQ(CustomerIds().size(), 5u);
  EXPECT_EQ(Call(DeleteService, Request().Long(CUST_ID, 1005).Long(CUST_ID, 1003)).Tdx(), "0");
  EXPECT_EQ(CustomerIds(), (std::vector<long>{1001, 1002, 1004}));

  EXPECT_EQ(ServedCalls(InsertService), 2);
  ResetDemoData();
  EXPECT_EQ(ServedCalls(InsertService), 0);
  EXPECT_EQ(CustomerIds(), (std::vector<long>{1001, 1002, 1003}));
  EXPECT_EQ(Call(InsertService, Request().String(CUST_NAME, "Lis Ewa")).Long(TDX_SERIAL), 1004);
}

TEST_F(DemoDomain, PaymentsAndRatesFailWithAPolishText) {
  const auto pay = [](long customer, double amount) {
    return Call(PayService, Request().Long(CUST_ID, customer).Double(AMOUNT, amount)).Tdx();
  };
  EXPECT_EQ(pay(1002, 10), "TPFAIL -10: " + Ansi("Niewystarczające środki na rachunku klienta nr "
                                                 "1002: saldo -3,25 zł, kwota 10,00 zł."));
  EXPECT_EQ(pay(1001, 0), "TPFAIL -3: " + Ansi("Kwota płatności musi być dodatnia."));
  EXPECT_EQ(pay(7, 1), "TPFAIL -2: Nie znaleziono klienta nr 7.");
  EXPECT_EQ(Call(RatesService, Request().String(CURRENCY, "XYZ")).Tdx(),
            "TPFAIL -3: Nieznana waluta \"XYZ\".");
}

TEST(DemoFieldTable, NamesTheIdsTheServicesUse) {
  UseDemoFieldTables();
  std::vector<FLDID32> ids = {SRVCNM,      CUST_ID,   CUST_NAME, BALANCE, SEGMENT,
                              NOTE,        AMOUNT,    CURRENCY,  RATE,    TDX_ERRCODE,
                              TDX_ERRTEXT, TDX_ROWID, TDX_SERIAL};
  ids.insert(ids.end(), std::begin(RoutingFields), std::end(RoutingFields));
  std::string names;
  for (const FLDID32 id : ids) names += std::string(Fname32(id) ? Fname32(id) : "?") + " ";
  EXPECT_EQ(names,
            "SRVCNM CUST_ID CUST_NAME BALANCE SEGMENT NOTE AMOUNT CURRENCY RATE TDX_ERRCODE "
            "TDX_ERRTEXT TDX_ROWID TDX_SERIAL RT_SERVICE RT_APPCODE RT_APPVERSION RT_LOGIN RT_UNIT "
            "RT_ROLE RT_WORKSTATION RT_PID RT_CALLTAG ");
  EXPECT_EQ(0x020F4242u, TDX_ERRCODE);
  EXPECT_EQ(0x0A0F4243u, TDX_ERRTEXT);
}

}  // namespace
}  // namespace TxDemo
