// Sessions of the builtin ATMI: joining and leaving, protocol errors without
// a session, per-thread sessions and error state, disconnection, error texts,
// and authentication through AUTHSVC.
#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

void Echo(TPSVCINFO* request) { tpreturn(TPSUCCESS, 0, request->data, request->len, 0); }
void AppKey(TPSVCINFO* request) { tpreturn(TPSUCCESS, request->appkey, nullptr, 0, 0); }

// Calls `service` without data; its rcode is then in tpurcode.
int Call(const char* service) {
  TpBuffer reply("FML32", 0);
  long length = 0;
  return tpcall(Text(service), nullptr, 0, reply.out(), &length, 0);
}

// A TPINIT buffer filled as a client would.
TpBuffer MakeInit(const char* user, const char* password, const std::string& data = {}) {
  TpBuffer init("TPINIT", TPINITNEED(static_cast<long>(data.size())));
  auto* info = reinterpret_cast<TPINIT*>(init.get());
  std::strcpy(info->usrname, user);
  std::strcpy(info->cltname, "kasa 3");
  std::strcpy(info->passwd, password);
  info->datalen = static_cast<long>(data.size());
  std::memcpy(&info->data, data.data(), data.size());
  return init;
}
TPINIT* Info(const TpBuffer& init) { return reinterpret_cast<TPINIT*>(init.get()); }

class AtmiSessions : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(tpadvertise(Text("ECHO"), Echo), 0);
    ASSERT_EQ(tpadvertise(Text("APPKEY"), AppKey), 0);
  }
  Atmi::ScopedDomain domain_;
};

TEST_F(AtmiSessions, CallsWithoutASessionAreProtocolErrors) {
  TpBuffer buffer("STRING", 0);
  long length = 0;
  int cd = 1;
  CLIENTID nobody{};
  ExpectTperrno(Call("ECHO"), TPEPROTO, "tpcall");
  ExpectTperrno(tpacall(Text("ECHO"), nullptr, 0, 0), TPEPROTO, "tpacall");
  ExpectTperrno(tpgetrply(&cd, buffer.out(), &length, 0), TPEPROTO, "tpgetrply");
  ExpectTperrno(tpbegin(10, 0), TPEPROTO, "tpbegin");
  ExpectTperrno(tpchkunsol(), TPEPROTO, "tpchkunsol");
  ExpectTperrno(tpbroadcast(nullptr, nullptr, nullptr, nullptr, 0, 0), TPEPROTO, "tpbroadcast");
  ExpectTperrno(tpnotify(&nobody, nullptr, 0, 0), TPEPROTO, "tpnotify");
  ExpectTperrno(tpcancel(1), TPEPROTO, "tpcancel");
}

TEST_F(AtmiSessions, TpinitTakesATpinitBufferAndJoinsOnceLeavingRollsBack) {
  TPINIT onStack{};
  TpBuffer first = MakeInit("anna", "", "abc");
  Info(first)->datalen = 1000;
  ExpectTperrno(tpinit(&onStack), TPEINVAL, "not a typed buffer");
  ExpectTperrno(tpinit(Info(first)), TPEINVAL, "datalen beyond the buffer");
  EXPECT_EQ(Atmi::JoinedClientCount(), 0u);
  Info(first)->datalen = 3;
  ASSERT_EQ(tpinit(Info(first)), 0);
  ASSERT_EQ(tpbegin(0, 0), 0);
  EXPECT_EQ(tpinit(Info(MakeInit("bob", ""))), 0);
  EXPECT_EQ(Atmi::JoinedClientCount(), 1u);
  EXPECT_EQ(tpgetlev(), 1);  // still the same session, transaction and all
  EXPECT_EQ(tpterm(), 0);
  EXPECT_EQ(Atmi::JoinedClientCount(), 0u);
  EXPECT_EQ(Atmi::CompletedTransactions().aborts, 1u);
  ExpectTperrno(Call("ECHO"), TPEPROTO, "after tpterm");
  EXPECT_EQ(tpterm(), 0);  // leaving twice is harmless
}

TEST_F(AtmiSessions, EveryThreadHasItsOwnSessionAndErrorState) {
  ASSERT_EQ(tpinit(nullptr), 0);
  tperrno = TPESVCERR;
  tpurcode = LONG_MAX;
  {
    ClientThread other;
    EXPECT_TRUE(other.Run([] { return tperrno == 0 && tpurcode == 0; }));
    EXPECT_TRUE(other.Run([] { return Call("ECHO") == -1 && tperrno == TPEPROTO; }));
    EXPECT_TRUE(other.Run([] { return tpinit(nullptr) == 0 && tpbegin(0, 0) == 0; }));
    EXPECT_EQ(Atmi::JoinedClientCount(), 2u);
    EXPECT_EQ(tpgetlev(), 0);  // the other thread's transaction is not ours
  }
  EXPECT_EQ(tperrno, TPESVCERR);  // success leaves tperrno alone
  EXPECT_EQ(tpurcode, LONG_MAX);
  // The thread's end ended its session and rolled back its transaction.
  EXPECT_EQ(Atmi::JoinedClientCount(), 1u);
  EXPECT_EQ(Atmi::CompletedTransactions().aborts, 1u);
  EXPECT_EQ(Call("ECHO"), 0);
}

TEST_F(AtmiSessions, DisconnectedClientLearnsItAtItsNextCall) {
  ASSERT_EQ(tpinit(nullptr), 0);
  Atmi::DisconnectClients();
  TpBuffer reply("FML32", 0);
  long length = 0;
  ExpectTperrno(tpcall(Text("ECHO"), nullptr, 0, reply.out(), &length, 0), TPESYSTEM, "cut off");
  EXPECT_EQ(tperrordetail(0), TPED_TERM);
  EXPECT_EQ(tperrordetail(0), TPED_TERM);  // asking does not clear it
  tpfree(nullptr);                          // but any other call does
  EXPECT_EQ(tperrordetail(0), 0);
  ExpectTperrno(Call("ECHO"), TPEPROTO, "no longer joined");
  EXPECT_EQ(tpinit(nullptr), 0);
  EXPECT_EQ(Call("ECHO"), 0);
}

TEST(AtmiErrors, EveryNumberAndDetailHasATextNamedAfterIt) {
  // A shifted table shows at the first, a middle and the last number.
  for (const auto& [error, name] :
       {std::pair{TPEABORT, "TPEABORT: "}, {TPESVCFAIL, "TPESVCFAIL: "}, {TPEMIB, "TPEMIB: "}}) {
    EXPECT_EQ(std::string(tpstrerror(error)).rfind(name, 0), 0u) << error;
  }
  for (int detail = TPED_SVCTIMEOUT; detail < TPED_MAXVAL; ++detail) {
    EXPECT_EQ(std::string(tpstrerrordetail(detail, 0)).rfind("TPED_", 0), 0u) << detail;
  }
  for (const int error : {TPMINVAL, -1, TPMAXVAL}) EXPECT_NE(std::string(tpstrerror(error)), "");
  EXPECT_NE(std::string(tpstrerrordetail(TPED_MAXVAL, 0)), "");
  ExpectTperrno(tpstrerrordetail(TPED_TERM, 1), TPEINVAL, "detail text flags");
  ExpectTperrno(tperrordetail(1), TPEINVAL, "tperrordetail flags");
}

// ---- authentication --------------------------------------------------------

std::string gSeen;  // what AUTHSVC last saw, in one line

// Admits "anna" with password "tajne" and grants her key 77.
void CheckPassword(TPSVCINFO* request) {
  char type[9] = {};
  tptypes(request->data, type, nullptr);
  const auto* init = reinterpret_cast<const TPINIT*>(request->data);
  gSeen = std::string(type) + " " + std::to_string(request->len) + " " + init->usrname + " " +
          init->cltname + " " + init->passwd + " " + init->grpname + "|" +
          std::string(reinterpret_cast<const char*>(&init->data), init->datalen);
  const bool admitted =
      std::strcmp(init->usrname, "anna") == 0 && std::strcmp(init->passwd, "tajne") == 0;
  tpreturn(admitted ? TPSUCCESS : TPFAIL, admitted ? 77 : 0, nullptr, 0, 0);
}

TEST_F(AtmiSessions, AuthsvcSeesTheWholeTpinitAndGrantsTheKeyOrRefuses) {
  EXPECT_EQ(tpchkauth(), TPNOAUTH);
  ASSERT_EQ(tpinit(nullptr), 0);
  ASSERT_EQ(Call("APPKEY"), 0);
  EXPECT_EQ(tpurcode, -1);  // without AUTHSVC
  ASSERT_EQ(tpterm(), 0);
  ASSERT_EQ(tpadvertise(Text("AUTHSVC"), CheckPassword), 0);
  EXPECT_EQ(tpchkauth(), TPAPPAUTH);
  TpBuffer init = MakeInit("anna", "zgadywane");
  ExpectTperrno(tpinit(Info(init)), TPEPERM, "wrong password");
  EXPECT_EQ(tperrordetail(0), TPED_PERM);
  EXPECT_EQ(Atmi::JoinedClientCount(), 0u);
  ExpectTperrno(tpgetlev(), TPEPROTO, "tpgetlev after the refusal");
  // Joining without a TPINIT is checked too, with everything empty.
  ExpectTperrno(tpinit(nullptr), TPEPERM, "tpinit(NULL)");
  EXPECT_EQ(gSeen, "TPINIT " + std::to_string(TPINITNEED(0)) + "    |");
  ASSERT_EQ(tpinit(Info(MakeInit("anna", "tajne", std::string("x\0y", 3)))), 0);
  EXPECT_EQ(gSeen, "TPINIT " + std::to_string(TPINITNEED(3)) + " anna kasa 3 tajne |" +
                       std::string("x\0y", 3));
  ASSERT_EQ(Call("APPKEY"), 0);
  EXPECT_EQ(tpurcode, 77);
  ASSERT_EQ(tpterm(), 0);
  // An AUTHSVC that fails refuses everyone, and the copy it got is freed.
  ASSERT_EQ(tpunadvertise(Text("AUTHSVC")), 0);
  ASSERT_EQ(tpadvertise(Text("AUTHSVC"), [](TPSVCINFO*) {}), 0);
  init = MakeInit("anna", "tajne");
  const std::size_t buffers = Atmi::LiveBufferCount();
  ExpectTperrno(tpinit(Info(init)), TPEPERM, "AUTHSVC without tpreturn");
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers);
}

}  // namespace
