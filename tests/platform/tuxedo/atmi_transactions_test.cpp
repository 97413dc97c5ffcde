// Transactions in the builtin domain: begin, commit and abort, protocol
// errors, participants that fail, time-outs on the domain's clock, and
// replies outstanding at commit.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <chrono>

#include "../../../platform/tuxedo/builtin/atmi_control.h"
#include "../../../platform/tuxedo/builtin/atmi_testing.h"

namespace {

namespace Atmi = Tx::AtmiBuiltin;
using Atmi::TpBuffer;
using std::chrono::seconds;

char* Name(const char* name) { return const_cast<char*>(name); }

void Echo(TPSVCINFO* request) { tpreturn(TPSUCCESS, 0, request->data, request->len, 0); }
void Refuses(TPSVCINFO* request) { tpreturn(TPFAIL, 42, request->data, 0, 0); }

// rcode: the flags the service was called with.
void ReportsFlags(TPSVCINFO* request) { tpreturn(TPSUCCESS, request->flags, nullptr, 0, 0); }

// rcode: what tpcommit and tpbegin gave a participant (1 = TPEPROTO each).
void TriesToCommit(TPSVCINFO* request) {
  long result = 0;
  if (tpcommit(0) == -1 && tperrno == TPEPROTO) result += 1;
  if (tpbegin(10, 0) == -1 && tperrno == TPEPROTO) result += 10;
  tpreturn(TPSUCCESS, result, request->data, 0, 0);
}

// Calls REFUSES and returns success anyway.
void HidesFailure(TPSVCINFO* request) {
  long length = 0;
  tpcall(Name("REFUSES"), request->data, 0, &request->data, &length, 0);
  tpreturn(TPSUCCESS, 0, request->data, 0, 0);
}

void LeavesOwnTransactionOpen(TPSVCINFO* request) {
  tpbegin(0, 0);
  tpreturn(TPSUCCESS, 0, request->data, 0, 0);
}

class AtmiTransactions : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::pair<const char*, void (*)(TPSVCINFO*)> services[] = {
        {"ECHO", Echo},       {"REFUSES", Refuses},         {"FLAGS", ReportsFlags},
        {"COMMITS", TriesToCommit}, {"HIDES", HidesFailure}, {"OPENS", LeavesOwnTransactionOpen},
    };
    for (const auto& [name, function] : services) ASSERT_EQ(tpadvertise(Name(name), function), 0);
    ASSERT_EQ(tpinit(nullptr), 0);
  }

  int Call(const char* service, long flags = 0) {
    return tpcall(Name(service), request_.get(), 0, reply_.out(), &length_, flags);
  }

  Atmi::ScopedDomain domain_;
  TpBuffer request_{"FML32", 0};
  TpBuffer reply_{"FML32", 0};
  long length_ = 0;
};

TEST_F(AtmiTransactions, CommitEndsTheTransaction) {
  EXPECT_EQ(tpgetlev(), 0);
  ASSERT_EQ(tpbegin(30, 0), 0);
  EXPECT_EQ(tpgetlev(), 1);
  EXPECT_EQ(Call("ECHO"), 0);
  EXPECT_EQ(tpcommit(0), 0);
  EXPECT_EQ(tpgetlev(), 0);
  EXPECT_EQ(Atmi::CompletedTransactions().commits, 1u);
  EXPECT_EQ(Atmi::CompletedTransactions().aborts, 0u);
}

TEST_F(AtmiTransactions, AbortEndsTheTransaction) {
  ASSERT_EQ(tpbegin(30, 0), 0);
  EXPECT_EQ(tpabort(0), 0);
  EXPECT_EQ(tpgetlev(), 0);
  EXPECT_EQ(Atmi::CompletedTransactions().aborts, 1u);
}

TEST_F(AtmiTransactions, ProtocolMisuseIsRefused) {
  EXPECT_EQ(tpcommit(0), -1);
  EXPECT_EQ(tperrno, TPEPROTO);
  EXPECT_EQ(tpabort(0), -1);
  EXPECT_EQ(tperrno, TPEPROTO);
  ASSERT_EQ(tpbegin(30, 0), 0);
  EXPECT_EQ(tpbegin(30, 0), -1);
  EXPECT_EQ(tperrno, TPEPROTO);
  EXPECT_EQ(tpcommit(1), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(tpabort(TPNOBLOCK), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(tpgetlev(), 1);
  EXPECT_EQ(tpbegin(30, TPNOBLOCK), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
}

TEST_F(AtmiTransactions, ServicesRunInTheCallersTransactionUnlessTold) {
  ASSERT_EQ(Call("FLAGS"), 0);
  EXPECT_EQ(tpurcode, 0);
  ASSERT_EQ(tpbegin(30, 0), 0);
  ASSERT_EQ(Call("FLAGS"), 0);
  EXPECT_EQ(tpurcode, TPTRAN);
  ASSERT_EQ(Call("FLAGS", TPNOTRAN), 0);
  EXPECT_EQ(tpurcode, 0);
  int cd = tpacall(Name("FLAGS"), nullptr, 0, TPNOTRAN | TPNOREPLY);
  EXPECT_EQ(cd, 0);
}

TEST_F(AtmiTransactions, ParticipantsCannotCommitOrBeginAnother) {
  ASSERT_EQ(tpbegin(30, 0), 0);
  ASSERT_EQ(Call("COMMITS"), 0);
  EXPECT_EQ(tpurcode, 11);
  EXPECT_EQ(tpgetlev(), 1);
  EXPECT_EQ(tpcommit(0), 0);
}

TEST_F(AtmiTransactions, FailedServiceMakesTheCommitAbort) {
  ASSERT_EQ(tpbegin(30, 0), 0);
  EXPECT_EQ(Call("REFUSES"), -1);
  EXPECT_EQ(tperrno, TPESVCFAIL);
  EXPECT_EQ(tpgetlev(), 1);
  // Abort-only: no more work on its behalf, but other work goes on.
  EXPECT_EQ(Call("ECHO"), -1);
  EXPECT_EQ(tperrno, TPETIME);
  EXPECT_EQ(Call("ECHO", TPNOTRAN), 0);
  EXPECT_EQ(tpcommit(0), -1);
  EXPECT_EQ(tperrno, TPEABORT);
  EXPECT_EQ(tpgetlev(), 0);
  EXPECT_EQ(Atmi::CompletedTransactions().aborts, 1u);
  EXPECT_EQ(Atmi::CompletedTransactions().commits, 0u);
}

TEST_F(AtmiTransactions, FailureDeepDownDoomsTheWholeTransaction) {
  ASSERT_EQ(tpbegin(30, 0), 0);
  EXPECT_EQ(Call("HIDES"), 0);
  EXPECT_EQ(tpcommit(0), -1);
  EXPECT_EQ(tperrno, TPEABORT);
}

TEST_F(AtmiTransactions, ServiceMustNotLeaveItsOwnTransactionOpen) {
  EXPECT_EQ(Call("OPENS"), -1);
  EXPECT_EQ(tperrno, TPESVCERR);
  EXPECT_EQ(Atmi::CompletedTransactions().aborts, 1u);
}

TEST_F(AtmiTransactions, ExpiredTimeoutMakesTheCommitAbort) {
  ASSERT_EQ(tpbegin(10, 0), 0);
  Atmi::AdvanceClock(seconds(11));
  EXPECT_EQ(tpgetlev(), 1);
  EXPECT_EQ(tpcommit(0), -1);
  EXPECT_EQ(tperrno, TPEABORT);
  EXPECT_EQ(tpgetlev(), 0);
}

TEST_F(AtmiTransactions, CallsAfterExpiryTimeOutUntilTheTransactionIsAborted) {
  ASSERT_EQ(tpbegin(5, 0), 0);
  Atmi::AdvanceClock(seconds(6));
  EXPECT_EQ(Call("ECHO"), -1);
  EXPECT_EQ(tperrno, TPETIME);
  EXPECT_EQ(Call("ECHO", TPNOTRAN), -1);
  EXPECT_EQ(tperrno, TPETIME);
  // The one request an expired transaction lets through.
  EXPECT_EQ(tpacall(Name("ECHO"), nullptr, 0, TPNOTRAN | TPNOBLOCK | TPNOREPLY), 0);
  EXPECT_EQ(tpabort(0), 0);
  EXPECT_EQ(Call("ECHO"), 0);
}

TEST_F(AtmiTransactions, TransactionBeforeItsTimeoutCommits) {
  ASSERT_EQ(tpbegin(10, 0), 0);
  Atmi::AdvanceClock(seconds(9));
  EXPECT_EQ(Call("ECHO"), 0);
  EXPECT_EQ(tpcommit(0), 0);

  ASSERT_EQ(tpbegin(0, 0), 0);  // no time-out at all
  Atmi::AdvanceClock(seconds(100000000));
  EXPECT_EQ(tpcommit(0), 0);
}

TEST_F(AtmiTransactions, ServiceThatNeverRepliesDoomsTheTransaction) {
  Atmi::SetServiceFault("ECHO", Atmi::ServiceFault::NeverReplies);
  ASSERT_EQ(tpbegin(30, 0), 0);
  EXPECT_EQ(Call("ECHO", TPNOTIME), -1);
  EXPECT_EQ(tperrno, TPETIME);
  EXPECT_EQ(tpcommit(0), -1);
  EXPECT_EQ(tperrno, TPEABORT);
}

TEST_F(AtmiTransactions, ReplyOutstandingAtCommitAbortsAndIsDropped) {
  ASSERT_EQ(tpbegin(30, 0), 0);
  int inTransaction = tpacall(Name("ECHO"), request_.get(), 0, 0);
  int outside = tpacall(Name("ECHO"), request_.get(), 0, TPNOTRAN);
  ASSERT_GT(inTransaction, 0);
  ASSERT_GT(outside, 0);
  EXPECT_EQ(tpcancel(inTransaction), -1);
  EXPECT_EQ(tperrno, TPETRAN);
  EXPECT_EQ(tpcommit(0), -1);
  EXPECT_EQ(tperrno, TPEABORT);
  EXPECT_EQ(tpgetrply(&inTransaction, reply_.out(), &length_, 0), -1);
  EXPECT_EQ(tperrno, TPEBADDESC);
  EXPECT_EQ(tpgetrply(&outside, reply_.out(), &length_, 0), 0);
}

TEST_F(AtmiTransactions, NoReplyRequestsMustStayOutOfTheTransaction) {
  ASSERT_EQ(tpbegin(30, 0), 0);
  EXPECT_EQ(tpacall(Name("ECHO"), nullptr, 0, TPNOREPLY), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(tpacall(Name("ECHO"), nullptr, 0, TPNOREPLY | TPNOTRAN), 0);
}

TEST_F(AtmiTransactions, ReceivingAfterExpiryTimesOut) {
  ASSERT_EQ(tpbegin(5, 0), 0);
  int cd = tpacall(Name("ECHO"), request_.get(), 0, 0);
  ASSERT_GT(cd, 0);
  Atmi::AdvanceClock(seconds(5));
  EXPECT_EQ(tpgetrply(&cd, reply_.out(), &length_, 0), -1);
  EXPECT_EQ(tperrno, TPETIME);
  EXPECT_EQ(tpgetrply(&cd, reply_.out(), &length_, 0), -1);
  EXPECT_EQ(tperrno, TPEBADDESC);
  EXPECT_EQ(tpabort(0), 0);
}

}  // namespace
