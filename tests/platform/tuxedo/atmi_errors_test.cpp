// Error numbers, details and texts of the builtin ATMI, and their per-thread
// state.
#include <set>

#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

TEST(AtmiErrors, EveryNumberAndDetailHasATextOfItsOwnNamedAfterIt) {
  // Distinct texts, each named after its number: a shifted table shows at
  // the first, a middle and the last number.
  std::set<std::string> texts;
  for (int error = TPEABORT; error < TPMAXVAL; ++error) texts.insert(tpstrerror(error));
  for (const auto& [error, name] :
       {std::pair{TPEABORT, "TPEABORT: "}, {TPESVCFAIL, "TPESVCFAIL: "}, {TPEMIB, "TPEMIB: "}}) {
    EXPECT_EQ(std::string(tpstrerror(error)).rfind(name, 0), 0u) << error;
  }
  EXPECT_EQ(texts.size(), static_cast<std::size_t>(TPMAXVAL - 1));
  for (const int error : {TPMINVAL, -1, TPMAXVAL, INT_MAX}) {
    EXPECT_NE(std::string(tpstrerror(error)), "") << error;
  }
  EXPECT_STREQ(tpstrerrordetail(TPED_MINVAL, 0), "");
  for (int detail = TPED_SVCTIMEOUT; detail < TPED_MAXVAL; ++detail) {
    EXPECT_EQ(std::string(tpstrerrordetail(detail, 0)).rfind("TPED_", 0), 0u) << detail;
  }
  EXPECT_NE(std::string(tpstrerrordetail(TPED_MAXVAL, 0)), "");
  ExpectTperrno(tpstrerrordetail(TPED_TERM, 1), TPEINVAL, "detail text flags");
  ExpectTperrno(tperrordetail(1), TPEINVAL, "tperrordetail flags");
}

TEST(AtmiErrors, DetailDescribesTheLastCallAndStateIsPerThread) {
  Atmi::ScopedDomain domain;
  ASSERT_EQ(tpinit(nullptr), 0);
  ASSERT_EQ(tpadvertise(Text("SLOW"), [](TPSVCINFO* r) { tpreturn(TPSUCCESS, 0, r->data, 0, 0); }),
            0);
  Atmi::SetServiceFault("SLOW", Atmi::ServiceFault::ServiceTimeout);
  TpBuffer reply("FML32", 0);
  long length = 0;
  EXPECT_EQ(tpcall(Text("SLOW"), nullptr, 0, reply.out(), &length, 0), -1);
  EXPECT_EQ(tperrordetail(0), TPED_SVCTIMEOUT);
  EXPECT_EQ(tperrordetail(0), TPED_SVCTIMEOUT);  // asking does not clear it
  tpfree(nullptr);                                // but any other call does
  EXPECT_EQ(tperrordetail(0), 0);
  EXPECT_EQ(tperrno, TPESVCERR);  // success leaves tperrno alone

  tpurcode = LONG_MAX;
  ClientThread other;
  other.Run([] {
    EXPECT_EQ(tperrno, 0);
    EXPECT_EQ(tpurcode, 0);
    tperrno = TPEPERM;
    tpurcode = -3;
  });
  EXPECT_EQ(tperrno, TPESVCERR);
  EXPECT_EQ(tpurcode, LONG_MAX);
}

}  // namespace
