// Transactions in the builtin domain: begin, commit and abort, protocol
// errors, participants that fail, time-outs on the domain's clock, and
// replies outstanding at commit.
#include <chrono>

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;
using std::chrono::seconds;

class AtmiTransactions : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::pair<const char*, void (*)(TPSVCINFO*)> services[] = {
        {"ECHO", [](TPSVCINFO* r) { tpreturn(TPSUCCESS, 0, r->data, r->len, 0); }},
        {"REFUSES", [](TPSVCINFO* r) { tpreturn(TPFAIL, 42, r->data, 0, 0); }},
        {"FLAGS", [](TPSVCINFO* r) { tpreturn(TPSUCCESS, r->flags, nullptr, 0, 0); }},
        {"HIDES",  // calls REFUSES and returns success anyway
         [](TPSVCINFO* r) {
           long length = 0;
           tpcall(Text("REFUSES"), r->data, 0, &r->data, &length, 0);
           tpreturn(TPSUCCESS, 0, r->data, 0, 0);
         }},
        {"OPENS", [](TPSVCINFO* r) { tpbegin(0, 0); tpreturn(TPSUCCESS, 0, r->data, 0, 0); }},
    };
    for (const auto& [name, function] : services) ASSERT_EQ(tpadvertise(Text(name), function), 0);
    ASSERT_EQ(tpinit(nullptr), 0);
  }

  int Call(const char* service, long flags = 0) {
    return tpcall(Text(service), request_.get(), 0, reply_.out(), &length_, flags);
  }
  static void ExpectCounts(unsigned long commits, unsigned long aborts) {
    EXPECT_EQ(Atmi::CompletedTransactions().commits, commits);
    EXPECT_EQ(Atmi::CompletedTransactions().aborts, aborts);
  }

  Atmi::ScopedDomain domain_;
  TpBuffer request_{"FML32", 0};
  TpBuffer reply_{"FML32", 0};
  long length_ = 0;
};

TEST_F(AtmiTransactions, BeginCommitAbortAndTheirMisuse) {
  ExpectTperrno(tpcommit(0), TPEPROTO, "commit without a transaction");
  ExpectTperrno(tpabort(0), TPEPROTO, "abort without a transaction");
  ASSERT_EQ(tpbegin(30, 0), 0);
  EXPECT_EQ(tpgetlev(), 1);
  ExpectTperrno(tpbegin(30, 0), TPEPROTO, "begin twice");
  ExpectTperrno(tpcommit(1), TPEINVAL, "commit flags");
  ASSERT_EQ(Call("FLAGS"), 0);
  EXPECT_EQ(tpurcode, TPTRAN);
  ASSERT_EQ(Call("FLAGS", TPNOTRAN), 0);
  EXPECT_EQ(tpurcode, 0);
  ExpectTperrno(tpacall(Text("ECHO"), nullptr, 0, TPNOREPLY), TPEINVAL, "TPNOREPLY inside");
  EXPECT_EQ(tpacall(Text("ECHO"), nullptr, 0, TPNOREPLY | TPNOTRAN), 0);
  EXPECT_EQ(tpcommit(0), 0);
  EXPECT_EQ(tpgetlev(), 0);
  ExpectTperrno(tpbegin(30, TPNOBLOCK), TPEINVAL, "begin flags");
  ASSERT_EQ(tpbegin(30, 0), 0);
  EXPECT_EQ(tpabort(0), 0);
  ExpectCounts(1, 1);
}

TEST_F(AtmiTransactions, FailedOrOutstandingWorkMakesTheCommitAbort) {
  ASSERT_EQ(tpbegin(30, 0), 0);
  ExpectTperrno(Call("REFUSES"), TPESVCFAIL, "REFUSES");
  // Abort-only: no more work on its behalf, but other work goes on.
  ExpectTperrno(Call("ECHO"), TPETIME, "after the failure");
  EXPECT_EQ(Call("ECHO", TPNOTRAN), 0);
  ExpectTperrno(tpcommit(0), TPEABORT, "commit");
  EXPECT_EQ(tpgetlev(), 0);
  // The same when the failure is hidden deeper down, or no reply ever came.
  ASSERT_EQ(tpbegin(30, 0), 0);
  EXPECT_EQ(Call("HIDES"), 0);
  ExpectTperrno(tpcommit(0), TPEABORT, "commit after HIDES");
  Atmi::SetServiceFault("ECHO", Atmi::ServiceFault::NeverReplies);
  ASSERT_EQ(tpbegin(30, 0), 0);
  ExpectTperrno(Call("ECHO", TPNOTIME), TPETIME, "no reply");
  ExpectTperrno(tpcommit(0), TPEABORT, "commit after no reply");
  ExpectCounts(0, 3);
  ExpectTperrno(Call("OPENS"), TPESVCERR, "a transaction of its own left open");
  ExpectCounts(0, 4);
  // A reply still outstanding at the commit: abort, and the reply is dropped.
  ASSERT_EQ(tpbegin(30, 0), 0);
  int inTransaction = tpacall(Text("FLAGS"), request_.get(), 0, 0);
  int outside = tpacall(Text("FLAGS"), request_.get(), 0, TPNOTRAN);
  ExpectTperrno(tpcancel(inTransaction), TPETRAN, "tpcancel in a transaction");
  ExpectTperrno(tpcommit(0), TPEABORT, "commit");
  ExpectTperrno(tpgetrply(&inTransaction, reply_.out(), &length_, 0), TPEBADDESC, "dropped");
  EXPECT_EQ(tpgetrply(&outside, reply_.out(), &length_, 0), 0);
}

TEST_F(AtmiTransactions, TimeOutsCountOnTheDomainsClock) {
  ASSERT_EQ(tpbegin(10, 0), 0);
  Atmi::AdvanceClock(seconds(9));
  EXPECT_EQ(Call("ECHO"), 0);
  EXPECT_EQ(tpcommit(0), 0);
  ASSERT_EQ(tpbegin(0, 0), 0);  // no time-out at all
  Atmi::AdvanceClock(seconds(100000000));
  EXPECT_EQ(tpcommit(0), 0);

  ASSERT_EQ(tpbegin(5, 0), 0);
  int cd = tpacall(Text("ECHO"), request_.get(), 0, 0);
  Atmi::AdvanceClock(seconds(5));
  ExpectTperrno(tpgetrply(&cd, reply_.out(), &length_, 0), TPETIME, "receiving at expiry");
  ExpectTperrno(tpgetrply(&cd, reply_.out(), &length_, 0), TPEBADDESC, "receiving again");
  ExpectTperrno(Call("ECHO"), TPETIME, "calling after expiry");
  ExpectTperrno(Call("ECHO", TPNOTRAN), TPETIME, "calling outside it");
  // The one request an expired transaction lets through.
  EXPECT_EQ(tpacall(Text("ECHO"), nullptr, 0, TPNOTRAN | TPNOBLOCK | TPNOREPLY), 0);
  EXPECT_EQ(tpgetlev(), 1);
  ExpectTperrno(tpcommit(0), TPEABORT, "commit after expiry");
  EXPECT_EQ(tpgetlev(), 0);
  EXPECT_EQ(Call("ECHO"), 0);
}

}  // namespace
