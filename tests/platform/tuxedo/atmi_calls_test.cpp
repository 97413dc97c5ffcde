// Service calls in the builtin domain: synchronous and asynchronous calls,
// how services end (tpreturn, TPFAIL, no return, exceptions, tpforward),
// nested calls, and how replies reach the caller's buffer; typed buffers:
// sizes, types, resizing, and refusal of pointers that no tpalloc returned.
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

// Calls the service named in TARGET with its own request and passes the
// outcome on, as a routing service does.
void Router(TPSVCINFO* request) {
  long length = 0;
  const int result = tpcall(Fvals32(Fbfr(request->data), kTarget, 0), request->data, 0,
                            &request->data, &length, 0);
  tpreturn(result == 0 ? TPSUCCESS : TPFAIL, tpurcode, request->data, length, 0);
}

class AtmiCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    gRanAfterReturn = false;
    const std::pair<const char*, void (*)(TPSVCINFO*)> services[] = {
        {"ECHO", [](TPSVCINFO* r) { tpreturn(TPSUCCESS, 0, r->data, r->len, 0); }},
        {"ADDONE",  // OUT = IN + 1 in the request buffer itself; rcode 5
         [](TPSVCINFO* r) {
           Ferror32 = FNOTPRES;  // none of the caller's business
           tpalloc(Text("NOSUCH"), nullptr, 0);
           SetLong(Fbfr(r->data), kOut, Fvall32(Fbfr(r->data), kIn, 0) + 1);
           tpreturn(TPSUCCESS, 5, r->data, 0, 0);
         }},
        {"REFUSES",  // rcode 42 and an explanation in the reply
         [](TPSVCINFO* r) {
           Fchg32(Fbfr(r->data), kText, 0, Text("odmowa"), 0);
           try {
             tpreturn(TPFAIL, 42, r->data, 0, 0);
           } catch (const std::exception&) {  // the unwinding of tpreturn is no std::exception
           }
           gRanAfterReturn = true;
         }},
        {"NORETURN", [](TPSVCINFO*) {}},
        {"THROWS", [](TPSVCINFO*) { throw std::runtime_error("bug in the service"); }},
        {"FOREIGN", [](TPSVCINFO*) { static char s[8] = "hi"; tpreturn(TPSUCCESS, 0, s, 3, 0); }},
        {"NOWHERE", [](TPSVCINFO* r) { tpforward(Text("NOSUCH"), r->data, 0, 0); }},
        {"FORWARD",
         [](TPSVCINFO* r) {
           tpforward(Text("ADDONE"), r->data, 0, 0);
           gRanAfterReturn = true;
         }},
        {"ROUTER", Router},
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
  Ferror32 = FBADFLD;
  tperrno = TPEBLOCK;
  ASSERT_EQ(Call("ADDONE", TPNOTIME), 0);
  EXPECT_EQ(Ferror32, FBADFLD);  // the service's errors are not the caller's
  EXPECT_EQ(tperrno, TPEBLOCK);
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
  EXPECT_FALSE(gRanAfterReturn);
  EXPECT_EQ(tpurcode, 42);
  EXPECT_STREQ(Fvals32(reply_.fbfr(), kText, 0), "odmowa");
  EXPECT_EQ(Fvall32(reply_.fbfr(), kIn, 0), 41);
  for (const char* service : {"NORETURN", "THROWS", "FOREIGN", "NOWHERE"}) {
    tpurcode = -5;
    ExpectTperrno(Call(service), TPESVCERR, service);
    EXPECT_EQ(tpurcode, -5) << service;
    EXPECT_EQ(Fnum32(reply_.fbfr()), 2) << service;  // the reply buffer as it was
  }
  Atmi::SetServiceFault("ECHO", Atmi::ServiceFault::ServiceTimeout);
  ExpectTperrno(Call("ECHO"), TPESVCERR, "killed by its time-out");
  EXPECT_EQ(tperrordetail(0), TPED_SVCTIMEOUT);
}

TEST_F(AtmiCalls, NestedCallsAndForwardsPassTheOutcomeOn) {
  ASSERT_EQ(Call("FORWARD"), 0);
  EXPECT_FALSE(gRanAfterReturn);
  EXPECT_EQ(Fvall32(reply_.fbfr(), kOut, 0), 42);
  ASSERT_NE(Fchg32(request_.fbfr(), kTarget, 0, Text("ADDONE"), 0), -1);
  ASSERT_EQ(Call("ROUTER"), 0);
  EXPECT_EQ(Fvall32(reply_.fbfr(), kOut, 0), 42);
  EXPECT_EQ(tpurcode, 5);
  ASSERT_NE(Fchg32(request_.fbfr(), kTarget, 0, Text("REFUSES"), 0), -1);
  ExpectTperrno(Call("ROUTER"), TPESVCFAIL, "ROUTER to REFUSES");
  EXPECT_EQ(tpurcode, 42);
  EXPECT_STREQ(Fvals32(reply_.fbfr(), kText, 0), "odmowa");
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
  tpreturn(TPSUCCESS, 0, request_.get(), 0, 0);  // outside a service: returns
  EXPECT_EQ(tperrno, TPEPROTO);
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
  EXPECT_EQ(receive(&failing), -TPESVCFAIL);
  EXPECT_EQ(tpurcode, 42);
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

// ---- typed buffers --------------------------------------------------------------

using AtmiBuffers = AtmiCalls;  // with its check that no buffer is lost

// tprealloc that keeps `buffer` owning the result; false when it failed.
bool Resize(TpBuffer& buffer, long size) {
  char* resized = tprealloc(buffer.get(), size);
  if (resized != nullptr) buffer.release(), buffer.reset(resized);
  return resized != nullptr;
}

TEST_F(AtmiBuffers, EachTypeAppliesItsSizeRules) {
  const struct {
    const char* type;
    long asked, given;
  } cases[] = {
      {"FML32", 1023, 1024}, {"FML32", 1024, 1024},         {"FML32", 1031, 1031},
      {"STRING", 511, 512},  {"STRING", 600, 600},           {"CARRAY", 1, 1},
      {"X_OCTET", 10, 10},   {"TPINIT", 0, sizeof(TPINIT)},
      {"TPINIT", TPINITNEED(100), sizeof(TPINIT) - sizeof(long) + 100},
  };
  for (const auto& c : cases) {
    TpBuffer buffer(c.type, c.asked);
    char type[9] = {};
    char subtype[17] = "garbage";
    EXPECT_EQ(tptypes(buffer.get(), type, subtype), c.given) << c.type << " " << c.asked;
    EXPECT_STREQ(type, c.type);
    EXPECT_STREQ(subtype, "");
    if (std::string(c.type) == "FML32") {
      EXPECT_EQ(Fsizeof32(buffer.fbfr()), c.given);
      EXPECT_EQ(Fused32(buffer.fbfr()), Fneeded32(0, 0));
    }
  }
  for (const char* type : {"FML", "VIEW32", "", "STRINGXYZ"}) {
    ExpectTperrno(tpalloc(Text(type), nullptr, 100), TPENOENT, type);
  }
  ExpectTperrno(tpalloc(nullptr, nullptr, 100), TPEINVAL, "no type");
  ExpectTperrno(tpalloc(Text("FML32"), nullptr, -1), TPEINVAL, "size -1");
  ExpectTperrno(tpalloc(Text("STRING"), nullptr, 2147483648L), TPEINVAL, "2 GB");
  ExpectTperrno(tpalloc(Text("CARRAY"), nullptr, 0), TPEINVAL, "CARRAY 0");
}

TEST_F(AtmiBuffers, ResizingKeepsTheContentsOrFailsWithoutHarm) {
  TpBuffer buffer("FML32", 1024);
  ASSERT_EQ(Fadd32(buffer.fbfr(), kText, Text("Kowalski"), 0), 1);
  ASSERT_TRUE(Resize(buffer, 8192));
  ASSERT_TRUE(Resize(buffer, 0));  // back to the minimum size of tpalloc
  EXPECT_EQ(Fsizeof32(buffer.fbfr()), 1024);
  EXPECT_STREQ(Fvals32(buffer.fbfr(), kText, 0), "Kowalski");
  // Shrinking below the contents.
  const std::string text(3000, 'x');
  ASSERT_TRUE(Resize(buffer, 8192));
  ASSERT_EQ(Fchg32(buffer.fbfr(), kText, 0, Text(text.c_str()), 0), 1);
  Ferror32 = FNOTPRES;
  EXPECT_FALSE(Resize(buffer, 2048));
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(Ferror32, FNOTPRES);  // the caller's FML32 state is not ours to change
  EXPECT_EQ(Fvals32(buffer.fbfr(), kText, 0), text);

  TpBuffer bytes("CARRAY", 4);
  std::memcpy(bytes.get(), "\x01\x00\x02\x03", 4);
  ASSERT_TRUE(Resize(bytes, 6));
  EXPECT_FALSE(Resize(bytes, 0));  // the minimum sizes of tpalloc
  EXPECT_EQ(tperrno, TPEINVAL);
  Atmi::FailNextAllocation(TPESYSTEM);
  EXPECT_FALSE(Resize(bytes, 4096));
  EXPECT_EQ(tperrno, TPESYSTEM);
  EXPECT_EQ(std::string(bytes.get(), 4), std::string("\x01\x00\x02\x03", 4));
}

// Big blocks freed are kept for reuse; what the next buffer gets must still
// be a zeroed block of the size asked for, of the new type, whatever the
// freed block held.
TEST_F(AtmiBuffers, BigBuffersFreedAndAllocatedAgainComeBackEmpty) {
  constexpr long kBig = 512 * 1024;
  for (int round = 0; round < 3; ++round) {
    {
      TpBuffer bytes("CARRAY", kBig);
      std::memset(bytes.get(), 0xA5, kBig);
      TpBuffer fml("FML32", kBig);
      const std::string text(kBig / 2, 'x');
      ASSERT_EQ(Fadd32(fml.fbfr(), kText, Text(text.c_str()), 0), 1);
    }
    TpBuffer fml("FML32", kBig - 1000);  // may reuse either block
    EXPECT_EQ(Fsizeof32(fml.fbfr()), kBig - 1000);
    EXPECT_EQ(Fused32(fml.fbfr()), Fneeded32(0, 0));
    EXPECT_EQ(Foccur32(fml.fbfr(), kText), 0);
    TpBuffer bytes("X_OCTET", kBig);
    char type[9] = {};
    EXPECT_EQ(tptypes(bytes.get(), type, nullptr), kBig);
    EXPECT_STREQ(type, "X_OCTET");
    const std::string zeros(kBig, '\0');
    EXPECT_EQ(std::memcmp(bytes.get(), zeros.data(), kBig), 0) << "round " << round;
  }
}

TEST_F(AtmiBuffers, ForeignPointersAreRefusedWithoutHarm) {
  char onStack[64] = {};
  void* fromMalloc = std::malloc(64);
  TpBuffer real("STRING", 0);
  std::strcpy(real.get(), "survives");
  char* freed = tpalloc(Text("STRING"), nullptr, 0);
  tpfree(freed);
  for (char* foreign : {onStack, static_cast<char*>(fromMalloc), real.get() + 8, freed}) {
    ExpectTperrno(tptypes(foreign, nullptr, nullptr), TPEINVAL, "tptypes");
    ExpectTperrno(tprealloc(foreign, 4096), TPEINVAL, "tprealloc");
    tpfree(foreign);
    EXPECT_EQ(tperrno, TPEINVAL);
  }
  std::free(fromMalloc);
  tperrno = 0;
  tpfree(nullptr);
  EXPECT_EQ(tperrno, 0);
  EXPECT_STREQ(real.get(), "survives");
}

}  // namespace
