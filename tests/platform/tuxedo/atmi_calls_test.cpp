// Service calls in the builtin domain: synchronous and asynchronous calls,
// how services end (tpreturn, TPFAIL, no return, exceptions, tpforward),
// nested calls, and how replies reach the caller's buffer.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../../../platform/tuxedo/builtin/atmi_control.h"
#include "../../../platform/tuxedo/builtin/atmi_testing.h"

namespace {

namespace Atmi = Tx::AtmiBuiltin;
using Atmi::TpBuffer;

char* Name(const char* name) { return const_cast<char*>(name); }
FBFR32* Fbfr(char* data) { return reinterpret_cast<FBFR32*>(data); }

FLDID32 InField() { return Fmkfldid32(FLD_LONG, 1001); }
FLDID32 OutField() { return Fmkfldid32(FLD_LONG, 1004); }
FLDID32 TextField() { return Fmkfldid32(FLD_STRING, 1002); }
FLDID32 BlobField() { return Fmkfldid32(FLD_CARRAY, 1003); }
FLDID32 TargetField() { return Fmkfldid32(FLD_STRING, 1005); }

void AddLong(FBFR32* fbfr, FLDID32 field, long value) {
  ASSERT_NE(Fchg32(fbfr, field, 0, reinterpret_cast<char*>(&value), 0), -1);
}

// ---- services ----------------------------------------------------------------

void Echo(TPSVCINFO* request) { tpreturn(TPSUCCESS, 0, request->data, request->len, 0); }

// OUT = IN + 1 in the request buffer itself; rcode 5.
void AddOne(TPSVCINFO* request) {
  FBFR32* fbfr = Fbfr(request->data);
  long value = Fvall32(fbfr, InField(), 0) + 1;
  Fchg32(fbfr, OutField(), 0, reinterpret_cast<char*>(&value), 0);
  tpreturn(TPSUCCESS, 5, request->data, 0, 0);
}

// Fails with rcode 42 and an explanation in the reply.
void Refuses(TPSVCINFO* request) {
  Fchg32(Fbfr(request->data), TextField(), 0, const_cast<char*>("odmowa"), 0);
  tpreturn(TPFAIL, 42, request->data, 0, 0);
}

void ForgetsToReturn(TPSVCINFO*) {}

void Throws(TPSVCINFO*) { throw std::runtime_error("bug in the service"); }

bool gRanAfterReturn = false;
bool gCleanedUp = false;

void StopsAtReturn(TPSVCINFO* request) {
  struct Cleanup {
    ~Cleanup() { gCleanedUp = true; }
  } cleanup;
  try {
    tpreturn(TPSUCCESS, 1, request->data, 0, 0);
  } catch (const std::exception&) {
    // The unwinding of tpreturn is no std::exception.
  }
  gRanAfterReturn = true;
}

// Calls the service named in TARGET with its own request and passes the
// outcome on, as a routing service does.
void Router(TPSVCINFO* request) {
  const char* target = Fvals32(Fbfr(request->data), TargetField(), 0);
  long length = 0;
  const int result = tpcall(const_cast<char*>(target), request->data, 0, &request->data,
                            &length, 0);
  tpreturn(result == 0 ? TPSUCCESS : TPFAIL, tpurcode, request->data, length, 0);
}

// Replies with more than a default buffer holds.
void BigReply(TPSVCINFO* request) {
  char* reply = tprealloc(request->data, 70000);
  const std::string blob(60000, 'b');
  Fchg32(Fbfr(reply), BlobField(), 0, const_cast<char*>(blob.data()),
         static_cast<FLDLEN32>(blob.size()));
  tpreturn(TPSUCCESS, 0, reply, 0, 0);
}

void TextReply(TPSVCINFO*) {
  char* reply = tpalloc(Name("STRING"), nullptr, 0);
  std::strcpy(reply, "Dzień dobry");
  tpreturn(TPSUCCESS, 0, reply, 0, 0);
}

void NoData(TPSVCINFO*) { tpreturn(TPSUCCESS, 3, nullptr, 0, 0); }

// Leaves a mess in every error variable it can reach.
void Disturbs(TPSVCINFO* request) {
  Ferror32 = FNOTPRES;
  tperrno = TPELIMIT;
  tpurcode = 99;
  tpalloc(Name("NOSUCH"), nullptr, 0);
  tpreturn(TPSUCCESS, 1, request->data, 0, 0);
}

void ForwardsToAddOne(TPSVCINFO* request) {
  tpforward(Name("ADDONE"), request->data, 0, 0);
  gRanAfterReturn = true;
}

void ReturnsForeignBuffer(TPSVCINFO*) {
  static char notABuffer[16] = "hello";
  tpreturn(TPSUCCESS, 0, notABuffer, 6, 0);
}

struct SeenInfo {
  std::string name;
  long flags = -1;
  long len = -1;
  long appkey = 0;
  std::string data;
};
SeenInfo gInfo;

void RecordsInfo(TPSVCINFO* request) {
  gInfo.name = request->name;
  gInfo.flags = request->flags;
  gInfo.len = request->len;
  gInfo.appkey = request->appkey;
  if (request->data != nullptr) gInfo.data.assign(request->data, static_cast<std::size_t>(request->len));
  tpreturn(TPSUCCESS, 0, request->data, request->len, 0);
}

int gRuns = 0;
void Counts(TPSVCINFO* request) {
  ++gRuns;
  tpreturn(TPSUCCESS, gRuns, request->data, 0, 0);
}

class AtmiCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    gRanAfterReturn = gCleanedUp = false;
    gInfo = SeenInfo{};
    gRuns = 0;
    const std::pair<const char*, void (*)(TPSVCINFO*)> services[] = {
        {"ECHO", Echo},           {"ADDONE", AddOne},       {"REFUSES", Refuses},
        {"NORETURN", ForgetsToReturn}, {"THROWS", Throws},  {"STOPS", StopsAtReturn},
        {"ROUTER", Router},       {"BIG", BigReply},        {"TEXT", TextReply},
        {"NODATA", NoData},       {"DISTURBS", Disturbs},   {"FORWARD", ForwardsToAddOne},
        {"FOREIGN", ReturnsForeignBuffer}, {"INFO", RecordsInfo}, {"COUNTS", Counts},
    };
    for (const auto& [name, function] : services) ASSERT_EQ(tpadvertise(Name(name), function), 0);
    ASSERT_EQ(tpinit(nullptr), 0);
    request_ = TpBuffer("FML32", 4096);
    reply_ = TpBuffer("FML32", 4096);
    AddLong(request_.fbfr(), InField(), 41);
  }

  int Call(const char* service, long flags = 0) {
    return tpcall(Name(service), request_.get(), 0, reply_.out(), &length_, flags);
  }

  Atmi::ScopedDomain domain_;
  TpBuffer request_;
  TpBuffer reply_;
  long length_ = -1;
};

TEST_F(AtmiCalls, ReplyThatFitsIsCopiedIntoTheCallersBuffer) {
  char* const before = reply_.get();
  ASSERT_EQ(Call("ADDONE", TPNOTIME), 0);
  EXPECT_EQ(reply_.get(), before);
  EXPECT_EQ(Fsizeof32(reply_.fbfr()), 4096);
  EXPECT_EQ(Fvall32(reply_.fbfr(), OutField(), 0), 42);
  EXPECT_EQ(length_, Fused32(reply_.fbfr()));
  EXPECT_EQ(tpurcode, 5);
  // The service worked on a copy: the request is as it was.
  EXPECT_EQ(Fpres32(request_.fbfr(), OutField(), 0), 0);
}

TEST_F(AtmiCalls, FailedServiceStillDeliversReplyAndUrcode) {
  tperrno = 0;
  EXPECT_EQ(Call("REFUSES"), -1);
  EXPECT_EQ(tperrno, TPESVCFAIL);
  EXPECT_EQ(tpurcode, 42);
  EXPECT_STREQ(Fvals32(reply_.fbfr(), TextField(), 0), "odmowa");
  EXPECT_EQ(Fvall32(reply_.fbfr(), InField(), 0), 41);
}

TEST_F(AtmiCalls, ServiceEndingWithoutTpreturnOrByExceptionIsAServerError) {
  for (const char* service : {"NORETURN", "THROWS", "FOREIGN"}) {
    tperrno = 0;
    tpurcode = -5;
    EXPECT_EQ(Call(service), -1) << service;
    EXPECT_EQ(tperrno, TPESVCERR) << service;
    EXPECT_EQ(tpurcode, -5) << service;  // no rcode comes with a server error
    EXPECT_EQ(Fnum32(reply_.fbfr()), 0) << service;
  }
}

TEST_F(AtmiCalls, CodeAfterTpreturnDoesNotRunButDestructorsDo) {
  ASSERT_EQ(Call("STOPS"), 0);
  EXPECT_FALSE(gRanAfterReturn);
  EXPECT_TRUE(gCleanedUp);
  EXPECT_EQ(tpurcode, 1);
}

TEST_F(AtmiCalls, ServiceCannotDisturbTheCallersErrorState) {
  Ferror32 = FBADFLD;
  tperrno = TPEBLOCK;
  ASSERT_EQ(Call("DISTURBS"), 0);
  EXPECT_EQ(Ferror32, FBADFLD);
  EXPECT_EQ(tperrno, TPEBLOCK);
  EXPECT_EQ(tpurcode, 1);
}

TEST_F(AtmiCalls, RouterReachesTheNamedServiceAndPassesItsOutcomeOn) {
  ASSERT_NE(Fchg32(request_.fbfr(), TargetField(), 0, Name("ADDONE"), 0), -1);
  ASSERT_EQ(Call("ROUTER"), 0);
  EXPECT_EQ(Fvall32(reply_.fbfr(), OutField(), 0), 42);
  EXPECT_EQ(tpurcode, 5);

  ASSERT_NE(Fchg32(request_.fbfr(), TargetField(), 0, Name("REFUSES"), 0), -1);
  EXPECT_EQ(Call("ROUTER"), -1);
  EXPECT_EQ(tperrno, TPESVCFAIL);
  EXPECT_EQ(tpurcode, 42);
  EXPECT_STREQ(Fvals32(reply_.fbfr(), TextField(), 0), "odmowa");
}

TEST_F(AtmiCalls, ReplyTooLargeReplacesTheCallersBuffer) {
  const std::size_t buffers = Atmi::LiveBufferCount();
  ASSERT_EQ(Call("BIG"), 0);
  EXPECT_GE(Fsizeof32(reply_.fbfr()), 60000);
  FLDLEN32 size = 0;
  const char* blob = Ffind32(reply_.fbfr(), BlobField(), 0, &size);
  ASSERT_NE(blob, nullptr);
  EXPECT_EQ(std::string(blob, size), std::string(60000, 'b'));
  EXPECT_EQ(length_, Fused32(reply_.fbfr()));
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers);  // the old reply buffer is gone
}

TEST_F(AtmiCalls, ReplyOfAnotherTypeReplacesTheBufferUnlessTheCallerForbidsIt) {
  char* const before = reply_.get();
  tperrno = 0;
  EXPECT_EQ(Call("TEXT", TPNOCHANGE), -1);
  EXPECT_EQ(tperrno, TPEOTYPE);
  EXPECT_EQ(reply_.get(), before);

  ASSERT_EQ(Call("TEXT"), 0);
  char type[9] = {};
  tptypes(reply_.get(), type, nullptr);
  EXPECT_STREQ(type, "STRING");
  EXPECT_STREQ(reply_.get(), "Dzień dobry");
  EXPECT_EQ(length_, static_cast<long>(std::strlen("Dzień dobry") + 1));
}

TEST_F(AtmiCalls, ReplyWithoutDataLeavesTheBufferAlone) {
  AddLong(reply_.fbfr(), OutField(), 7);
  char* const before = reply_.get();
  ASSERT_EQ(Call("NODATA"), 0);
  EXPECT_EQ(length_, 0);
  EXPECT_EQ(reply_.get(), before);
  EXPECT_EQ(Fvall32(reply_.fbfr(), OutField(), 0), 7);
  EXPECT_EQ(tpurcode, 3);
}

TEST_F(AtmiCalls, OneBufferCanCarryRequestAndReply) {
  ASSERT_EQ(tpcall(Name("ADDONE"), request_.get(), 0, request_.out(), &length_, 0), 0);
  EXPECT_EQ(Fvall32(request_.fbfr(), OutField(), 0), 42);
}

TEST_F(AtmiCalls, ForwardedRequestIsAnsweredByTheNextService) {
  ASSERT_EQ(Call("FORWARD"), 0);
  EXPECT_FALSE(gRanAfterReturn);
  EXPECT_EQ(Fvall32(reply_.fbfr(), OutField(), 0), 42);
  EXPECT_EQ(tpurcode, 5);
}

void ForwardsNowhere(TPSVCINFO* request) { tpforward(Name("NOSUCH"), request->data, 0, 0); }

TEST_F(AtmiCalls, ForwardingToAnUnknownServiceIsAServerError) {
  ASSERT_EQ(tpadvertise(Name("NOWHERE"), ForwardsNowhere), 0);
  const std::size_t buffers = Atmi::LiveBufferCount();
  EXPECT_EQ(Call("NOWHERE"), -1);
  EXPECT_EQ(tperrno, TPESVCERR);
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers);
}

TEST_F(AtmiCalls, TpreturnOutsideAServiceIsAProtocolErrorAndReturns) {
  TpBuffer data("STRING", 0);
  tperrno = 0;
  tpreturn(TPSUCCESS, 0, data.get(), 0, 0);
  EXPECT_EQ(tperrno, TPEPROTO);
  EXPECT_EQ(tptypes(data.get(), nullptr, nullptr), 512);  // still the caller's
}

TEST_F(AtmiCalls, ServiceSeesItsNameLengthAndDataOfEachBufferType) {
  TpBuffer text("STRING", 0);
  std::strcpy(text.get(), "abc");
  ASSERT_EQ(tpcall(Name("INFO"), text.get(), 0, reply_.out(), &length_, 0), 0);
  EXPECT_EQ(gInfo.name, "INFO");
  EXPECT_EQ(gInfo.flags, 0);
  EXPECT_EQ(gInfo.len, 4);
  EXPECT_EQ(gInfo.appkey, -1);
  EXPECT_EQ(gInfo.data, std::string("abc", 4));
  EXPECT_STREQ(reply_.get(), "abc");

  TpBuffer bytes("CARRAY", 8);
  std::memcpy(bytes.get(), "\x00\x01\x02\xff", 4);
  ASSERT_EQ(tpcall(Name("INFO"), bytes.get(), 4, reply_.out(), &length_, 0), 0);
  EXPECT_EQ(gInfo.data, std::string("\x00\x01\x02\xff", 4));
  EXPECT_EQ(length_, 4);
  EXPECT_EQ(std::string(reply_.get(), 4), std::string("\x00\x01\x02\xff", 4));

  ASSERT_EQ(tpcall(Name("INFO"), nullptr, 0, reply_.out(), &length_, 0), 0);
  EXPECT_EQ(gInfo.len, 0);
  EXPECT_EQ(length_, 0);
}

TEST_F(AtmiCalls, BadCallsAreRefused) {
  const auto expectError = [](int result, int error, const char* what) {
    EXPECT_EQ(result, -1) << what;
    EXPECT_EQ(tperrno, error) << what;
    tperrno = 0;
  };
  char notABuffer[8] = {};
  char* noBuffer = nullptr;
  expectError(Call("NOSUCH"), TPENOENT, "unknown service");
  expectError(Call(""), TPEINVAL, "empty name");
  expectError(tpcall(nullptr, request_.get(), 0, reply_.out(), &length_, 0), TPEINVAL, "NULL name");
  expectError(Call("ECHO", TPNOREPLY), TPEINVAL, "TPNOREPLY");
  expectError(tpcall(Name("ECHO"), notABuffer, 0, reply_.out(), &length_, 0), TPEINVAL,
              "foreign request");
  expectError(tpcall(Name("ECHO"), request_.get(), 0, &noBuffer, &length_, 0), TPEINVAL,
              "no reply buffer");
  expectError(tpcall(Name("ECHO"), request_.get(), 0, reply_.out(), nullptr, 0), TPEINVAL,
              "no length");
  TpBuffer bytes("CARRAY", 4);
  expectError(tpcall(Name("ECHO"), bytes.get(), 5, reply_.out(), &length_, 0), TPEINVAL,
              "length beyond the buffer");
}

TEST_F(AtmiCalls, FaultyServicesTimeOutOrAreKilled) {
  Atmi::SetServiceFault("ECHO", Atmi::ServiceFault::NeverReplies);
  EXPECT_EQ(Call("ECHO", TPNOTIME), -1);
  EXPECT_EQ(tperrno, TPETIME);
  Atmi::SetServiceFault("ECHO", Atmi::ServiceFault::ServiceTimeout);
  EXPECT_EQ(Call("ECHO"), -1);
  EXPECT_EQ(tperrno, TPESVCERR);
  EXPECT_EQ(tperrordetail(0), TPED_SVCTIMEOUT);
  Atmi::SetServiceFault("ECHO", Atmi::ServiceFault::None);
  EXPECT_EQ(Call("ECHO"), 0);
}

TEST_F(AtmiCalls, AdvertisingRules) {
  EXPECT_EQ(tpadvertise(Name("ECHO"), Echo), 0);
  EXPECT_EQ(tpadvertise(Name("ECHO"), AddOne), -1);
  EXPECT_EQ(tperrno, TPEMATCH);
  EXPECT_EQ(tpadvertise(Name(""), Echo), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(tpadvertise(Name("A_NAME_OF_THIRTY_TWO_CHARACTERS_"), Echo), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(tpadvertise(Name("NOFUNCTION"), nullptr), -1);
  EXPECT_EQ(tperrno, TPEINVAL);

  EXPECT_EQ(tpunadvertise(Name("ECHO")), 0);
  EXPECT_EQ(Call("ECHO"), -1);
  EXPECT_EQ(tperrno, TPENOENT);
  EXPECT_EQ(tpunadvertise(Name("ECHO")), -1);
  EXPECT_EQ(tperrno, TPENOENT);
}

TEST_F(AtmiCalls, NoBufferIsLostOnAnyPath) {
  const std::size_t buffers = Atmi::LiveBufferCount();
  ASSERT_NE(Fchg32(request_.fbfr(), TargetField(), 0, Name("ADDONE"), 0), -1);
  for (const char* service : {"ECHO", "ADDONE", "REFUSES", "NORETURN", "THROWS", "STOPS",
                              "ROUTER", "BIG", "TEXT", "NODATA", "FORWARD", "FOREIGN"}) {
    Call(service);
    EXPECT_EQ(Atmi::LiveBufferCount(), buffers) << service;
  }
}

TEST_F(AtmiCalls, ThreadsCallConcurrentlyEachInItsOwnSession) {
  const std::size_t buffers = Atmi::LiveBufferCount();
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      if (tpinit(nullptr) != 0) {
        ++failures[t];
        return;
      }
      TpBuffer request("FML32", 0);
      TpBuffer reply("FML32", 0);
      for (long i = 0; i < 200; ++i) {
        long value = i * 10 + t;
        Fchg32(request.fbfr(), InField(), 0, reinterpret_cast<char*>(&value), 0);
        long length = 0;
        if (tpcall(Name("ADDONE"), request.get(), 0, reply.out(), &length, 0) != 0 ||
            Fvall32(reply.fbfr(), OutField(), 0) != value + 1) {
          ++failures[t];
        }
      }
      tpterm();
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers);
  EXPECT_EQ(Atmi::JoinedClientCount(), 1u);
}

// ---- asynchronous calls --------------------------------------------------------

class AtmiAsyncCalls : public AtmiCalls {
 protected:
  int Send(long in, const char* service = "ADDONE", long flags = 0) {
    AddLong(request_.fbfr(), InField(), in);
    return tpacall(Name(service), request_.get(), 0, flags);
  }
  int Receive(int* cd, long flags = 0) { return tpgetrply(cd, reply_.out(), &length_, flags); }
  long Result() const { return Fvall32(reply_.fbfr(), OutField(), 0); }
};

TEST_F(AtmiAsyncCalls, RepliesAreReceivedByDescriptorInAnyOrder) {
  int first = Send(1);
  int second = Send(2);
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_NE(first, second);
  ASSERT_EQ(Receive(&second), 0);
  EXPECT_EQ(Result(), 3);
  ASSERT_EQ(Receive(&first), 0);
  EXPECT_EQ(Result(), 2);
  EXPECT_EQ(tpurcode, 5);
}

TEST_F(AtmiAsyncCalls, GetAnyTakesRepliesInSendingOrderAndNamesTheirDescriptor) {
  const int first = Send(10);
  const int second = Send(20);
  int cd = -1;
  ASSERT_EQ(Receive(&cd, TPGETANY), 0);
  EXPECT_EQ(cd, first);
  EXPECT_EQ(Result(), 11);
  ASSERT_EQ(Receive(&cd, TPGETANY), 0);
  EXPECT_EQ(cd, second);
  EXPECT_EQ(Result(), 21);
  EXPECT_EQ(Receive(&cd, TPGETANY), -1);
  EXPECT_EQ(tperrno, TPEBADDESC);
}

TEST_F(AtmiAsyncCalls, DescriptorIsGoneOnceReceivedAndIsReused) {
  int cd = Send(1);
  ASSERT_EQ(Receive(&cd), 0);
  EXPECT_EQ(Receive(&cd), -1);
  EXPECT_EQ(tperrno, TPEBADDESC);
  int unknown = 999;
  EXPECT_EQ(Receive(&unknown), -1);
  EXPECT_EQ(tperrno, TPEBADDESC);
  EXPECT_EQ(Send(2), cd);  // the lowest free descriptor
}

TEST_F(AtmiAsyncCalls, FailedServiceDeliversItsReplyOnReceipt) {
  int cd = Send(1, "REFUSES");
  ASSERT_GT(cd, 0);
  EXPECT_EQ(Receive(&cd), -1);
  EXPECT_EQ(tperrno, TPESVCFAIL);
  EXPECT_EQ(tpurcode, 42);
  EXPECT_STREQ(Fvals32(reply_.fbfr(), TextField(), 0), "odmowa");
  int broken = Send(1, "NORETURN");
  EXPECT_EQ(Receive(&broken), -1);
  EXPECT_EQ(tperrno, TPESVCERR);
}

TEST_F(AtmiAsyncCalls, NoReplyMeansNoDescriptor) {
  EXPECT_EQ(Send(1, "COUNTS", TPNOREPLY), 0);
  EXPECT_EQ(gRuns, 1);
  int cd = 0;
  EXPECT_EQ(Receive(&cd, TPGETANY), -1);
  EXPECT_EQ(tperrno, TPEBADDESC);
}

TEST_F(AtmiAsyncCalls, OutstandingRepliesAreLimited) {
  const std::size_t buffers = Atmi::LiveBufferCount();
  for (int i = 0; i < 50; ++i) ASSERT_GT(Send(i), 0) << i;
  EXPECT_EQ(Send(50), -1);
  EXPECT_EQ(tperrno, TPELIMIT);
  EXPECT_EQ(tpcancel(7), 0);
  EXPECT_EQ(tpcancel(7), -1);
  EXPECT_EQ(tperrno, TPEBADDESC);
  EXPECT_EQ(Send(50), 7);
  ASSERT_EQ(tpterm(), 0);  // unreceived replies go with the session
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers);
}

}  // namespace
