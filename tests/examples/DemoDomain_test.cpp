// The demo domain's services called with plain ATMI: who may join and log
// in, what ROUTER lets through, the TDX protocol of the customer services,
// payments that fail and the rates with their information text.
#include "examples/domain/DemoDomain.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "examples/domain/DemoFields.h"
#include "platform/framework/AnsiString.h"
#include "platform/session/LoginFields.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "platform/tuxedo/builtin/atmi_testing.h"

namespace TxDemo {
namespace {

using Tx::operator""_ansi;
using Tx::AtmiBuiltin::TpBuffer;

// ---- Requests and replies ------------------------------------------------------------

class Request {
 public:
  Request() : FBuffer("FML32", 4096) {}
  Request& Long(FLDID32 field, long value) { return Add(field, reinterpret_cast<char*>(&value)); }
  Request& Double(FLDID32 field, double value) {
    return Add(field, reinterpret_cast<char*>(&value));
  }
  Request& Char(FLDID32 field, char value) { return Add(field, &value); }
  Request& String(FLDID32 field, const std::string& value) {
    return Add(field, const_cast<char*>(value.c_str()));
  }
  // The nine routing fields of a user who logged in, calling `service`.
  Request& Routed(const std::string& service, const std::string& login = "jan.kowalski",
                  const std::string& appCode = "DEMO") {
    String(RT_SERVICE, service).String(RT_APPCODE, appCode).String(RT_APPVERSION, "1.0");
    String(RT_LOGIN, login).String(RT_UNIT, "Centrala").String(RT_ROLE, "kasjer");
    return String(RT_WORKSTATION, "STANOWISKO1").Long(RT_PID, 4242).String(RT_CALLTAG, "");
  }
  FBFR32* Fbfr() const { return FBuffer.fbfr(); }
  char* Data() const { return FBuffer.get(); }

 private:
  Request& Add(FLDID32 field, char* value) {
    EXPECT_EQ(Fadd32(FBuffer.fbfr(), field, value, 0), 1);
    return *this;
  }
  TpBuffer FBuffer;
};

struct Reply {
  int Result = 0;
  int Error = 0;
  TpBuffer Data{"FML32", 1024};

  FBFR32* Fbfr() const { return Data.fbfr(); }
  long Long(FLDID32 field, int occ = 0) const { return Fvall32(Fbfr(), field, occ); }
  std::string String(FLDID32 field, int occ = 0) const {
    const char* value = Ffind32(Fbfr(), field, occ, nullptr);
    return value ? value : "<none>";
  }
  double Double(FLDID32 field, int occ = 0) const {
    double value = 0;
    FLDLEN32 length = sizeof value;
    Fget32(Fbfr(), field, occ, reinterpret_cast<char*>(&value), &length);
    return value;
  }
  int Count(FLDID32 field) const { return Foccur32(Fbfr(), field); }
};

Reply Call(const char* service, const Request& request) {
  Reply reply;
  long length = 0;
  tperrno = 0;
  reply.Result =
      tpcall(const_cast<char*>(service), request.Data(), 0, reply.Data.out(), &length, 0);
  reply.Error = tperrno;
  return reply;
}

std::string Ansi(const char* utf8) { return Tx::Utf8ToAnsi(utf8).str(); }

// The customer numbers a select gives.
std::vector<long> CustomerIds() {
  const Reply rows = Call(SelectService, Request());
  std::vector<long> ids;
  for (int row = 0; row < rows.Count(CUST_ID); ++row) ids.push_back(rows.Long(CUST_ID, row));
  return ids;
}

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

// ---- Joining and logging in ------------------------------------------------------------

int JoinAs(const char* user, const char* password) {
  tpterm();
  TpBuffer tpinfo("TPINIT", TPINITNEED(0));
  auto* init = reinterpret_cast<TPINIT*>(tpinfo.get());
  std::strcpy(init->usrname, user);
  std::strcpy(init->passwd, password);
  const int result = tpinit(init);
  return result == 0 ? 0 : tperrno;
}

TEST_F(DemoDomain, AdmitsAnonymousJoinsAndUsersWithTheirPassword) {
  EXPECT_EQ(JoinAs("", ""), 0);
  EXPECT_EQ(JoinAs("jan", "tajne"), 0);
  EXPECT_EQ(JoinAs("jan", "sekret"), TPEPERM);
  EXPECT_EQ(JoinAs("obcy", "tajne"), TPEPERM);
}

TEST_F(DemoDomain, LoginGivesTheUsersIdentityOrARefusalCode) {
  using namespace Tx::LoginFields;
  Request jan;
  jan.String(QL_USERNAME, "jan").String(QL_PASSWD, "tajne").String(QL_APPCODE, "DEMO");
  const Reply admitted = Call(LoginService, jan);
  ASSERT_EQ(admitted.Result, 0);
  EXPECT_EQ(admitted.String(QL_LOGIN), "jan.kowalski");
  EXPECT_EQ(admitted.String(QL_UNIT), Ansi("Oddział Łódź"));
  EXPECT_EQ(admitted.String(QL_ROLE), "kasjer");
  EXPECT_EQ(admitted.Long(QL_APPKEY), 101);
  EXPECT_EQ(admitted.Long(QL_RESULT), 0);

  Request wrongPassword;
  wrongPassword.String(QL_USERNAME, "jan").String(QL_PASSWD, "x").String(QL_APPCODE, "DEMO");
  const Reply refused = Call(LoginService, wrongPassword);
  EXPECT_EQ(refused.Long(QL_RESULT), 2);
  EXPECT_EQ(refused.Count(QL_LOGIN), 0);

  Request otherApplication;
  otherApplication.String(QL_USERNAME, "anna").String(QL_PASSWD, "sekret").String(QL_APPCODE, "");
  EXPECT_EQ(Call(LoginService, otherApplication).Long(QL_RESULT), 3);
}

// ---- ROUTER ---------------------------------------------------------------------------------

TEST_F(DemoDomain, RouterForwardsToTheServiceInTheLastRoutingOccurrence) {
  Request request;
  request.String(RT_SERVICE, "RATES");  // the application's own occurrence comes first
  request.Long(CUST_ID, 1001).Double(AMOUNT, 250.5).Routed("PAY");
  const Reply reply = Call(RouterService, request);
  ASSERT_EQ(reply.Result, 0) << reply.String(TDX_ERRTEXT);
  EXPECT_EQ(reply.Long(CUST_ID), 1001);
  EXPECT_EQ(reply.Double(BALANCE), 1000.0);
  EXPECT_EQ(ServedCalls(RouterService), 1);
  EXPECT_EQ(ServedCalls(PayService), 1);
  EXPECT_EQ(ServedCalls(RatesService), 0);
}

TEST_F(DemoDomain, RouterRefusesIncompleteOrForeignRequestsWithATextForTheUser) {
  struct Case {
    Request Sent;
    const char* Text;
  };
  std::vector<Case> cases(5);
  cases[0].Sent.String(RT_SERVICE, "PAY");
  cases[0].Text = "Brak pola routingu RT_APPCODE.";
  cases[1].Sent.Routed("AUTHSVC");
  cases[1].Text = "Usługa \"AUTHSVC\" nie jest dostępna przez ROUTER.";
  cases[2].Sent.Routed("PAY", "jan.kowalski", "KADRY");
  cases[2].Text = "Aplikacja \"KADRY\" nie jest obsługiwana.";
  cases[3].Sent.Routed("PAY", "");
  cases[3].Text = "Usługi przez ROUTER są dostępne tylko po zalogowaniu.";
  cases[4].Sent.Routed("PAY", "hacker");
  cases[4].Text = "Nieznany użytkownik \"hacker\".";
  for (const Case& test : cases) {
    const Reply reply = Call(RouterService, test.Sent);
    EXPECT_EQ(reply.Error, TPESVCFAIL);
    EXPECT_EQ(reply.Long(TDX_ERRCODE), ErrRouting);
    EXPECT_EQ(reply.String(TDX_ERRTEXT), Ansi(test.Text));
  }
  EXPECT_EQ(ServedCalls(PayService), 0);
}

// ---- Customers in the TDX protocol -----------------------------------------------------------

TEST_F(DemoDomain, SelectGivesOneOccurrencePerRowInNumberOrder) {
  const Reply all = Call(SelectService, Request());
  ASSERT_EQ(all.Result, 0);
  EXPECT_EQ(CustomerIds(), (std::vector<long>{1001, 1002, 1003}));
  EXPECT_EQ(all.String(CUST_NAME, 2), Ansi("Wiśniewska Zofia"));
  EXPECT_EQ(all.Double(BALANCE, 1), -3.25);
  EXPECT_EQ(all.Count(NOTE), 3);

  Request segmentB;
  segmentB.Char(SEGMENT, 'B');
  const Reply b = Call(SelectService, segmentB);
  EXPECT_EQ(b.Count(CUST_ID), 1);
  EXPECT_EQ(b.String(CUST_NAME), "Nowak Anna");
}

TEST_F(DemoDomain, UpdateRefusesTheWholeRequestNamingTheRow) {
  Request request;
  request.Long(CUST_ID, 1001).String(CUST_NAME, "Kowalski Jan Maria");
  request.Long(CUST_ID, 1009).String(CUST_NAME, "Nikt");
  const Reply reply = Call(UpdateService, request);
  ASSERT_EQ(reply.Result, 0);  // a refusal is a reply, not a failed call
  EXPECT_EQ(reply.Long(TDX_ERRCODE), ErrNoCustomer);
  EXPECT_EQ(reply.String(TDX_ERRTEXT), "Nie znaleziono klienta nr 1009.");
  EXPECT_EQ(reply.Long(TDX_ROWID), 1);
  Request refresh;
  refresh.Long(CUST_ID, 1001);
  EXPECT_EQ(Call(RefreshService, refresh).String(CUST_NAME), "Kowalski Jan");

  Request emptyName;
  emptyName.Long(CUST_ID, 1002).String(CUST_NAME, "");
  const Reply refused = Call(UpdateService, emptyName);
  EXPECT_EQ(refused.Long(TDX_ERRCODE), ErrBadValue);
  EXPECT_EQ(refused.String(TDX_ERRTEXT), Ansi("Nazwa klienta nie może być pusta."));
  EXPECT_EQ(refused.Long(TDX_ROWID), 0);
}

TEST_F(DemoDomain, UpdateKeepsWhatARowLacksOrHoldsAsNull) {
  constexpr double NullDouble = -2.2250738585072014e-308;
  Request request;
  request.Long(CUST_ID, 1002).String(CUST_NAME, "Nowak-Lis Anna").Double(BALANCE, NullDouble);
  const Reply reply = Call(UpdateService, request);
  EXPECT_EQ(reply.Long(TDX_ERRCODE), 0);
  EXPECT_EQ(reply.Count(TDX_ERRTEXT), 0);
  Request refresh;
  refresh.Long(CUST_ID, 1002);
  const Reply row = Call(RefreshService, refresh);
  EXPECT_EQ(row.String(CUST_NAME), "Nowak-Lis Anna");
  EXPECT_EQ(row.Double(BALANCE), -3.25);
  EXPECT_EQ(row.String(SEGMENT), "B");
}

TEST_F(DemoDomain, InsertGivesEachRowASerialAndDeleteNeedsAZeroBalance) {
  Request insert;
  insert.Long(CUST_ID, 0).String(CUST_NAME, "Zieliński Piotr").Double(BALANCE, 10.0);
  insert.Long(CUST_ID, 0).String(CUST_NAME, "Lis Ewa");
  const Reply inserted = Call(InsertService, insert);
  EXPECT_EQ(inserted.Long(TDX_ERRCODE), 0);
  ASSERT_EQ(inserted.Count(TDX_SERIAL), 2);
  EXPECT_EQ(inserted.Long(TDX_SERIAL, 0), 1004);
  EXPECT_EQ(inserted.Long(TDX_SERIAL, 1), 1005);
  EXPECT_EQ(CustomerIds(), (std::vector<long>{1001, 1002, 1003, 1004, 1005}));

  Request noName;
  noName.Double(BALANCE, 1.0);
  const Reply refused = Call(InsertService, noName);
  EXPECT_EQ(refused.Long(TDX_ERRCODE), ErrBadValue);
  EXPECT_EQ(refused.Long(TDX_ROWID), 0);

  Request withMoney;
  withMoney.Long(CUST_ID, 1005).Long(CUST_ID, 1004);
  const Reply kept = Call(DeleteService, withMoney);
  EXPECT_EQ(kept.Long(TDX_ERRCODE), ErrBalanceNotZero);
  EXPECT_EQ(kept.String(TDX_ERRTEXT),
            Ansi("Nie można usunąć klienta nr 1004: saldo nie jest zerowe."));
  EXPECT_EQ(kept.Long(TDX_ROWID), 1);
  EXPECT_EQ(CustomerIds().size(), 5u);

  Request empty;
  empty.Long(CUST_ID, 1005).Long(CUST_ID, 1003);
  EXPECT_EQ(Call(DeleteService, empty).Long(TDX_ERRCODE), 0);
  EXPECT_EQ(CustomerIds(), (std::vector<long>{1001, 1002, 1004}));
  Request gone;
  gone.Long(CUST_ID, 1003);
  const Reply missing = Call(RefreshService, gone);
  EXPECT_EQ(missing.Error, TPESVCFAIL);
  EXPECT_EQ(missing.String(TDX_ERRTEXT), "Nie znaleziono klienta nr 1003.");
}

// ---- Payments and rates ------------------------------------------------------------------------

TEST_F(DemoDomain, PaymentsFailWithACodeAndAPolishText) {
  Request tooMuch;
  tooMuch.Long(CUST_ID, 1002).Double(AMOUNT, 10.0);
  const Reply refused = Call(PayService, tooMuch);
  EXPECT_EQ(refused.Result, -1);
  EXPECT_EQ(refused.Error, TPESVCFAIL);
  EXPECT_EQ(refused.Long(TDX_ERRCODE), ErrNoFunds);
  EXPECT_EQ(
      refused.String(TDX_ERRTEXT),
      Ansi("Niewystarczające środki na rachunku klienta nr 1002: saldo -3,25 zł, kwota 10,00 zł."));

  Request nothing;
  nothing.Long(CUST_ID, 1001).Double(AMOUNT, 0.0);
  const Reply zero = Call(PayService, nothing);
  EXPECT_EQ(zero.Long(TDX_ERRCODE), ErrBadValue);
  EXPECT_EQ(zero.String(TDX_ERRTEXT), Ansi("Kwota płatności musi być dodatnia."));

  Request nobody;
  nobody.Long(CUST_ID, 7).Double(AMOUNT, 1.0);
  EXPECT_EQ(Call(PayService, nobody).Long(TDX_ERRCODE), ErrNoCustomer);
}

TEST_F(DemoDomain, RatesComeWithAnInformationText) {
  const Reply all = Call(RatesService, Request());
  ASSERT_EQ(all.Result, 0);
  EXPECT_EQ(all.Count(CURRENCY), 3);
  EXPECT_EQ(all.Long(TDX_ERRCODE), 0);
  EXPECT_EQ(all.String(TDX_ERRTEXT),
            Ansi("Kursy orientacyjne; płatność rozlicza się po kursie z chwili księgowania."));

  Request euro;
  euro.String(CURRENCY, "EUR");
  const Reply one = Call(RatesService, euro);
  EXPECT_EQ(one.Count(RATE), 1);
  EXPECT_EQ(one.Double(RATE), 4.3215);

  Request unknown;
  unknown.String(CURRENCY, "XYZ");
  const Reply failed = Call(RatesService, unknown);
  EXPECT_EQ(failed.Error, TPESVCFAIL);
  EXPECT_EQ(failed.String(TDX_ERRTEXT), "Nieznana waluta \"XYZ\".");
}

TEST_F(DemoDomain, ResetPutsTheTableAndTheCountersBack) {
  Request insert;
  insert.String(CUST_NAME, "Lis Ewa");
  Call(InsertService, insert);
  EXPECT_EQ(ServedCalls(InsertService), 1);
  ResetDemoData();
  EXPECT_EQ(ServedCalls(InsertService), 0);
  EXPECT_EQ(CustomerIds(), (std::vector<long>{1001, 1002, 1003}));
  EXPECT_EQ(Call(InsertService, insert).Long(TDX_SERIAL), 1004);
}

// ---- The field table ---------------------------------------------------------------------------

TEST(DemoFieldTable, NamesTheIdsTheServicesUse) {
  UseDemoFieldTables();
  const std::pair<const char*, FLDID32> fields[] = {
      {"SRVCNM", SRVCNM},
      {"CUST_ID", CUST_ID},
      {"CUST_NAME", CUST_NAME},
      {"BALANCE", BALANCE},
      {"SEGMENT", SEGMENT},
      {"NOTE", NOTE},
      {"AMOUNT", AMOUNT},
      {"CURRENCY", CURRENCY},
      {"RATE", RATE},
      {"TDX_ERRCODE", TDX_ERRCODE},
      {"TDX_ERRTEXT", TDX_ERRTEXT},
      {"TDX_ROWID", TDX_ROWID},
      {"TDX_SERIAL", TDX_SERIAL},
      {"RT_SERVICE", RT_SERVICE},
      {"RT_APPCODE", RT_APPCODE},
      {"RT_APPVERSION", RT_APPVERSION},
      {"RT_LOGIN", RT_LOGIN},
      {"RT_UNIT", RT_UNIT},
      {"RT_ROLE", RT_ROLE},
      {"RT_WORKSTATION", RT_WORKSTATION},
      {"RT_PID", RT_PID},
      {"RT_CALLTAG", RT_CALLTAG},
      {"QL_USERNAME", Tx::LoginFields::QL_USERNAME},
      {"QL_RESULT", Tx::LoginFields::QL_RESULT},
  };
  for (const auto& [name, id] : fields) EXPECT_EQ(Fldid32(const_cast<char*>(name)), id) << name;
  EXPECT_EQ(0x020F4242u, TDX_ERRCODE);
  EXPECT_EQ(0x0A0F4243u, TDX_ERRTEXT);
}

}  // namespace
}  // namespace TxDemo
