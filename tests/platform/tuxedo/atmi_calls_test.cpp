// Service calls in the builtin domain: synchronous and asynchronous calls,
// how services end (tpreturn, TPFAIL, no return, exceptions, tpforward),
// nested calls, and how replies reach the caller's buffer.
#include <stdexcept>

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

FBFR32* Fbfr(char* data) { return reinterpret_cast<FBFR32*>(data); }

const FLDID32 kIn = Fmkfldid32(FLD_LONG, 1001);
const FLDID32 kOut = Fmkfldid32(FLD_LONG, 1004);
const FLDID32 kText = Fmkfldid32(FLD_STRING, 1002);
const FLDID32 kTarget = Fmkfldid32(FLD_STRING, 1005);
const FLDID32 kBlob = Fmkfldid32(FLD_CARRAY, 1003);

void SetLong(FBFR32* fbfr, FLDID32 field, long value) { Fchg32(fbfr, field, 0, Raw(value), 0); }

bool gRanAfterReturn = false;
bool gCleanedUp = false;

void StopsAtReturn(TPSVCINFO* request) {
  struct Cleanup {
    ~Cleanup() { gCleanedUp = true; }
  } cleanup;
  try {
    tpreturn(TPSUCCESS, 1, request->data, 0, 0);
  } catch (const std::exception&) {  // the unwinding of tpreturn is no std::exception
  }
  gRanAfterReturn = true;
}

// Calls the service named in TARGET with its own request and passes the
// outcome on, as a routing service does.
void Router(TPSVCINFO* request) {
  long length = 0;
  const int result = tpcall(Fvals32(Fbfr(request->data), kTarget, 0), request->data, 0,
                            &request->data, &length, 0);
  tpreturn(result == 0 ? TPSUCCESS : TPFAIL, tpurcode, request->data, length, 0);
}

// Calls itself until the nesting limit refuses; rcode: the depth reached.
void Recurses(TPSVCINFO* request) {
  long length = 0;
  if (tpcall(Text("RECURSES"), request->data, 0, &request->data, &length, 0) == 0) {
    tpreturn(TPSUCCESS, tpurcode + 1, request->data, 0, 0);
  }
  tpreturn(TPSUCCESS, tperrno == TPELIMIT ? 1 : -100, request->data, 0, 0);
}

class AtmiCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    gRanAfterReturn = gCleanedUp = false;
    const std::pair<const char*, void (*)(TPSVCINFO*)> services[] = {
        {"ECHO", [](TPSVCINFO* r) { tpreturn(TPSUCCESS, 0, r->data, r->len, 0); }},
        {"ADDONE",  // OUT = IN + 1 in the request buffer itself; rcode 5
         [](TPSVCINFO* r) {
           SetLong(Fbfr(r->data), kOut, Fvall32(Fbfr(r->data), kIn, 0) + 1);
           tpreturn(TPSUCCESS, 5, r->data, 0, 0);
         }},
        {"REFUSES",  // rcode 42 and an explanation in the reply
         [](TPSVCINFO* r) {
           Fchg32(Fbfr(r->data), kText, 0, Text("odmowa"), 0);
           tpreturn(TPFAIL, 42, r->data, 0, 0);
         }},
        {"NORETURN", [](TPSVCINFO*) {}},
        {"THROWS", [](TPSVCINFO*) { throw std::runtime_error("bug in the service"); }},
        {"FOREIGN",
         [](TPSVCINFO*) {
           static char notABuffer[16] = "hello";
           tpreturn(TPSUCCESS, 0, notABuffer, 6, 0);
         }},
        {"NOWHERE", [](TPSVCINFO* r) { tpforward(Text("NOSUCH"), r->data, 0, 0); }},
        {"STOPS", StopsAtReturn},
        {"FORWARD",
         [](TPSVCINFO* r) {
           tpforward(Text("ADDONE"), r->data, 0, 0);
           gRanAfterReturn = true;
         }},
        {"ROUTER", Router},
        {"RECURSES", Recurses},
        {"BIG",  // more than a default buffer holds
         [](TPSVCINFO* r) {
           char* reply = tprealloc(r->data, 70000);
           Fchg32(Fbfr(reply), kBlob, 0, Text(std::string(60000, 'b').c_str()), 60000);
           tpreturn(TPSUCCESS, 0, reply, 0, 0);
         }},
        {"TEXT",
         [](TPSVCINFO*) {
           char* reply = tpalloc(Text("STRING"), nullptr, 0);
           std::strcpy(reply, "Dzień dobry");
           tpreturn(TPSUCCESS, 0, reply, 0, 0);
         }},
        {"NODATA", [](TPSVCINFO*) { tpreturn(TPSUCCESS, 3, nullptr, 0, 0); }},
        {"DISTURBS",  // a mess in every error variable it can reach
         [](TPSVCINFO* r) {
           Ferror32 = FNOTPRES;
           tpalloc(Text("NOSUCH"), nullptr, 0);
           tpreturn(TPSUCCESS, 1, r->data, 0, 0);
         }},
    };
    for (const auto& [name, function] : services) ASSERT_EQ(tpadvertise(Text(name), function), 0);
    ASSERT_EQ(tpinit(nullptr), 0);
    SetLong(request_.fbfr(), kIn, 41);
    buffers_ = Atmi::LiveBufferCount();
  }
  // Whatever way the services ended, no buffer was lost.
  void TearDown() override { EXPECT_EQ(Atmi::LiveBufferCount(), buffers_); }

  int Call(const char* service, long flags = 0) {
    return tpcall(Text(service), request_.get(), 0, reply_.out(), &length_, flags);
  }

  Atmi::ScopedDomain domain_;
  TpBuffer request_{"FML32", 4096};
  TpBuffer reply_{"FML32", 4096};
  long length_ = -1;
  std::size_t buffers_ = 0;
};

TEST_F(AtmiCalls, ReplyThatFitsIsCopiedIntoTheCallersBuffer) {
  char* const before = reply_.get();
  ASSERT_EQ(Call("ADDONE", TPNOTIME), 0);
  EXPECT_EQ(reply_.get(), before);
  EXPECT_EQ(Fsizeof32(reply_.fbfr()), 4096);
  EXPECT_EQ(Fvall32(reply_.fbfr(), kOut, 0), 42);
  EXPECT_EQ(length_, Fused32(reply_.fbfr()));
  EXPECT_EQ(tpurcode, 5);
  EXPECT_EQ(Fpres32(request_.fbfr(), kOut, 0), 0);  // the service worked on a copy
  // Request and reply in one buffer.
  ASSERT_EQ(tpcall(Text("ADDONE"), request_.get(), 0, request_.out(), &length_, 0), 0);
  EXPECT_EQ(Fvall32(request_.fbfr(), kOut, 0), 42);
}

TEST_F(AtmiCalls, FailedServiceDeliversReplyAndUrcodeAServerErrorNeither) {
  ExpectTperrno(Call("REFUSES"), TPESVCFAIL, "REFUSES");
  EXPECT_EQ(tpurcode, 42);
  EXPECT_STREQ(Fvals32(reply_.fbfr(), kText, 0), "odmowa");
  EXPECT_EQ(Fvall32(reply_.fbfr(), kIn, 0), 41);
  for (const char* service : {"NORETURN", "THROWS", "FOREIGN", "NOWHERE"}) {
    tpurcode = -5;
    ExpectTperrno(Call(service), TPESVCERR, service);
    EXPECT_EQ(tpurcode, -5) << service;
    EXPECT_EQ(Fnum32(reply_.fbfr()), 2) << service;  // the reply buffer as it was
  }
}

TEST_F(AtmiCalls, TpreturnAndTpforwardEndTheServiceAndOnlyIt) {
  ASSERT_EQ(Call("STOPS"), 0);
  EXPECT_FALSE(gRanAfterReturn);
  EXPECT_TRUE(gCleanedUp);
  EXPECT_EQ(tpurcode, 1);
  ASSERT_EQ(Call("FORWARD"), 0);
  EXPECT_FALSE(gRanAfterReturn);
  EXPECT_EQ(Fvall32(reply_.fbfr(), kOut, 0), 42);
  // The caller's error state is its own.
  Ferror32 = FBADFLD;
  tperrno = TPEBLOCK;
  ASSERT_EQ(Call("DISTURBS"), 0);
  EXPECT_EQ(Ferror32, FBADFLD);
  EXPECT_EQ(tperrno, TPEBLOCK);
  // Outside a service tpreturn is a protocol error, and returns.
  tpreturn(TPSUCCESS, 0, request_.get(), 0, 0);
  EXPECT_EQ(tperrno, TPEPROTO);
  EXPECT_EQ(Fvall32(request_.fbfr(), kIn, 0), 41);  // still the caller's
}

TEST_F(AtmiCalls, NestedCallsPassTheirOutcomeOnUpToTheLimit) {
  ASSERT_NE(Fchg32(request_.fbfr(), kTarget, 0, Text("ADDONE"), 0), -1);
  ASSERT_EQ(Call("ROUTER"), 0);
  EXPECT_EQ(Fvall32(reply_.fbfr(), kOut, 0), 42);
  EXPECT_EQ(tpurcode, 5);
  ASSERT_NE(Fchg32(request_.fbfr(), kTarget, 0, Text("REFUSES"), 0), -1);
  ExpectTperrno(Call("ROUTER"), TPESVCFAIL, "ROUTER to REFUSES");
  EXPECT_EQ(tpurcode, 42);
  EXPECT_STREQ(Fvals32(reply_.fbfr(), kText, 0), "odmowa");
  ASSERT_EQ(Call("RECURSES"), 0);
  EXPECT_EQ(tpurcode, 32);
}

TEST_F(AtmiCalls, ReplyTooLargeOrOfAnotherTypeReplacesTheCallersBuffer) {
  ASSERT_EQ(Call("BIG"), 0);
  EXPECT_EQ(Flen32(reply_.fbfr(), kBlob, 0), 60000);
  EXPECT_EQ(length_, Fused32(reply_.fbfr()));
  char* const before = reply_.get();
  ExpectTperrno(Call("TEXT", TPNOCHANGE), TPEOTYPE, "TPNOCHANGE");
  EXPECT_EQ(reply_.get(), before);
  ASSERT_EQ(Call("TEXT"), 0);
  EXPECT_STREQ(reply_.get(), "Dzień dobry");
  EXPECT_EQ(length_, static_cast<long>(std::strlen("Dzień dobry") + 1));
  // No data: the buffer stays as it was.
  char* const kept = reply_.get();
  ASSERT_EQ(Call("NODATA"), 0);
  EXPECT_EQ(length_, 0);
  EXPECT_EQ(reply_.get(), kept);
  EXPECT_STREQ(reply_.get(), "Dzień dobry");
}

TEST_F(AtmiCalls, BadCallsAndAdvertisementsAreRefused) {
  char notABuffer[8] = {};
  TpBuffer bytes("CARRAY", 4);
  ExpectTperrno(Call("NOSUCH"), TPENOENT, "unknown service");
  ExpectTperrno(Call("ECHO", TPNOREPLY), TPEINVAL, "TPNOREPLY");
  ExpectTperrno(tpcall(Text("ECHO"), notABuffer, 0, reply_.out(), &length_, 0), TPEINVAL,
                "foreign request");
  ExpectTperrno(tpcall(Text("ECHO"), bytes.get(), 5, reply_.out(), &length_, 0), TPEINVAL,
                "length beyond the buffer");
  ExpectTperrno(tpadvertise(Text("ECHO"), Router), TPEMATCH, "another function");
  ExpectTperrno(tpadvertise(Text("A_NAME_OF_THIRTY_TWO_CHARACTERS_"), Router), TPEINVAL, "32");
  EXPECT_EQ(tpunadvertise(Text("ECHO")), 0);
  ExpectTperrno(Call("ECHO"), TPENOENT, "unadvertised");
}

// ---- asynchronous calls --------------------------------------------------------

TEST_F(AtmiCalls, RepliesAreReceivedByDescriptorOrInSendingOrder) {
  const auto send = [this](long in, const char* service = "ADDONE") {
    SetLong(request_.fbfr(), kIn, in);
    return tpacall(Text(service), request_.get(), 0, 0);
  };
  const auto receive = [this](int* cd, long flags = 0) {
    const int result = tpgetrply(cd, reply_.out(), &length_, flags);
    return result == 0 ? Fvall32(reply_.fbfr(), kOut, 0) : -tperrno;
  };
  int first = send(1);
  int second = send(2);
  EXPECT_EQ(receive(&second), 3);
  EXPECT_EQ(receive(&first), 2);
  EXPECT_EQ(receive(&first), -TPEBADDESC);
  int failing = send(1, "REFUSES");
  EXPECT_EQ(failing, first);  // the lowest free descriptor
  EXPECT_EQ(receive(&failing), -TPESVCFAIL);
  EXPECT_EQ(tpurcode, 42);
  EXPECT_STREQ(Fvals32(reply_.fbfr(), kText, 0), "odmowa");
  first = send(10);
  second = send(20);
  int cd = -1;
  EXPECT_EQ(receive(&cd, TPGETANY), 11);
  EXPECT_EQ(cd, first);
  EXPECT_EQ(receive(&cd, TPGETANY), 21);
  EXPECT_EQ(cd, second);
  EXPECT_EQ(receive(&cd, TPGETANY), -TPEBADDESC);

  // Up to 50 outstanding; unreceived replies go with the session.
  for (int i = 0; i < 50; ++i) ASSERT_GT(send(i), 0) << i;
  ExpectTperrno(send(50), TPELIMIT, "the 51st");
  EXPECT_EQ(tpcancel(7), 0);
  ExpectTperrno(tpcancel(7), TPEBADDESC, "cancelled twice");
  EXPECT_EQ(send(50), 7);
  ASSERT_EQ(tpterm(), 0);
}

}  // namespace
