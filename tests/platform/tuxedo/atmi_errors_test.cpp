// Error numbers, details and texts of the builtin ATMI, and their per-thread
// state.
#include <atmi.h>
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

#include "../../../platform/tuxedo/builtin/atmi_control.h"
#include "../../../platform/tuxedo/builtin/atmi_testing.h"

namespace {

using Tx::AtmiBuiltin::ClientThread;
using Tx::AtmiBuiltin::TpBuffer;

class AtmiErrors : public ::testing::Test {
 protected:
  Tx::AtmiBuiltin::ScopedDomain domain_;
};

void Echo(TPSVCINFO* request) { tpreturn(TPSUCCESS, 0, request->data, request->len, 0); }

TEST_F(AtmiErrors, EveryErrorNumberHasATextOfItsOwnNamedAfterIt) {
  const char* const names[] = {
      "TPEABORT",  "TPEBADDESC",   "TPEBLOCK", "TPEINVAL",   "TPELIMIT",     "TPENOENT",
      "TPEOS",     "TPEPERM",      "TPEPROTO", "TPESVCERR",  "TPESVCFAIL",   "TPESYSTEM",
      "TPETIME",   "TPETRAN",      "TPGOTSIG", "TPERMERR",   "TPEITYPE",     "TPEOTYPE",
      "TPERELEASE", "TPEHAZARD",   "TPEHEURISTIC", "TPEEVENT", "TPEMATCH", "TPEDIAGNOSTIC",
      "TPEMIB"};
  std::set<std::string> texts;
  for (int error = TPEABORT; error < TPMAXVAL; ++error) {
    const std::string text = tpstrerror(error);
    EXPECT_EQ(text.rfind(std::string(names[error - 1]) + ": ", 0), 0u) << text;
    texts.insert(text);
  }
  EXPECT_EQ(texts.size(), static_cast<std::size_t>(TPMAXVAL - 1));
  EXPECT_STREQ(tpstrerror(TPENOENT), "TPENOENT: no such service, buffer type or client");
  EXPECT_STREQ(tpstrerror(TPESVCFAIL), "TPESVCFAIL: the service returned failure");
}

TEST_F(AtmiErrors, NumbersOutsideTheRangeStillGetAText) {
  for (const int error : {TPMINVAL, -1, TPMAXVAL, INT_MAX}) {
    ASSERT_NE(tpstrerror(error), nullptr);
    EXPECT_NE(std::string(tpstrerror(error)), "");
  }
  EXPECT_STREQ(tpstrerror(TPMAXVAL), "unknown ATMI error");
}

TEST_F(AtmiErrors, DetailTexts) {
  EXPECT_STREQ(tpstrerrordetail(TPED_MINVAL, 0), "");
  EXPECT_STREQ(tpstrerrordetail(TPED_SVCTIMEOUT, 0),
               "TPED_SVCTIMEOUT: the server was stopped by its service time-out");
  EXPECT_STREQ(tpstrerrordetail(TPED_TERM, 0),
               "TPED_TERM: the client has been disconnected from the domain");
  for (int detail = TPED_SVCTIMEOUT; detail < TPED_MAXVAL; ++detail) {
    EXPECT_EQ(std::string(tpstrerrordetail(detail, 0)).rfind("TPED_", 0), 0u) << detail;
  }
  EXPECT_STREQ(tpstrerrordetail(TPED_MAXVAL, 0), "unknown ATMI error detail");
}

TEST_F(AtmiErrors, FlagsOfTheDetailFunctionsMustBeZero) {
  tperrno = 0;
  EXPECT_EQ(tpstrerrordetail(TPED_TERM, 1), nullptr);
  EXPECT_EQ(tperrno, TPEINVAL);
  tperrno = 0;
  EXPECT_EQ(tperrordetail(1), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
}

TEST_F(AtmiErrors, DetailDescribesTheLastCallOnly) {
  ASSERT_EQ(tpinit(nullptr), 0);
  ASSERT_EQ(tpadvertise(const_cast<char*>("SLOW"), Echo), 0);
  Tx::AtmiBuiltin::SetServiceFault("SLOW", Tx::AtmiBuiltin::ServiceFault::ServiceTimeout);
  TpBuffer reply("FML32", 0);
  long length = 0;
  EXPECT_EQ(tpcall(const_cast<char*>("SLOW"), nullptr, 0, reply.out(), &length, 0), -1);
  EXPECT_EQ(tperrno, TPESVCERR);
  EXPECT_EQ(tperrordetail(0), TPED_SVCTIMEOUT);
  EXPECT_EQ(tperrordetail(0), TPED_SVCTIMEOUT);  // asking does not clear it

  TpBuffer next("STRING", 0);  // a successful call
  EXPECT_EQ(tperrordetail(0), 0);
  EXPECT_EQ(tperrno, TPESVCERR);  // success leaves tperrno alone
}

TEST_F(AtmiErrors, TperrnoAndTpurcodeAreAssignableAndPerThread) {
  tperrno = TPETIME;
  tpurcode = LONG_MAX;
  ClientThread other;
  other.Run([] {
    EXPECT_EQ(tperrno, 0);
    EXPECT_EQ(tpurcode, 0);
    tperrno = TPEPERM;
    tpurcode = -3;
    EXPECT_EQ(tpalloc(const_cast<char*>("NOSUCH"), nullptr, 0), nullptr);
    EXPECT_EQ(tperrno, TPENOENT);
  });
  EXPECT_EQ(tperrno, TPETIME);
  EXPECT_EQ(tpurcode, LONG_MAX);
  tperrno = 0;
  tpurcode = 0;
  EXPECT_EQ(tperrno, 0);
  EXPECT_EQ(tpurcode, 0);
}

}  // namespace
