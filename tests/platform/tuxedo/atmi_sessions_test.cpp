// Sessions of the builtin ATMI: joining and leaving, protocol errors without
// a session, per-thread sessions, disconnection, and authentication through
// AUTHSVC.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../../../platform/tuxedo/builtin/atmi_control.h"
#include "../../../platform/tuxedo/builtin/atmi_testing.h"

namespace {

namespace Atmi = Tx::AtmiBuiltin;
using Atmi::ClientThread;
using Atmi::TpBuffer;

class AtmiSessions : public ::testing::Test {
 protected:
  Atmi::ScopedDomain domain_;
};

char* Name(const char* name) { return const_cast<char*>(name); }

void Echo(TPSVCINFO* request) { tpreturn(TPSUCCESS, 0, request->data, request->len, 0); }

int CallEcho() {
  TpBuffer reply("FML32", 0);
  long length = 0;
  return tpcall(Name("ECHO"), nullptr, 0, reply.out(), &length, TPNOTIME);
}

// Fills a TPINIT buffer as a client would.
TpBuffer MakeInit(const char* user, const char* client, const char* password,
                  const std::string& data = {}, long flags = 0) {
  TpBuffer init("TPINIT", TPINITNEED(static_cast<long>(data.size())));
  auto* info = reinterpret_cast<TPINIT*>(init.get());
  std::strcpy(info->usrname, user);
  std::strcpy(info->cltname, client);
  std::strcpy(info->passwd, password);
  info->flags = flags;
  info->datalen = static_cast<long>(data.size());
  std::memcpy(&info->data, data.data(), data.size());
  return init;
}

TEST_F(AtmiSessions, CallsWithoutASessionAreProtocolErrors) {
  ASSERT_EQ(tpadvertise(Name("ECHO"), Echo), 0);
  TpBuffer buffer("STRING", 0);
  long length = 0;
  int cd = 1;
  CLIENTID nobody{};
  const auto expectProto = [](int result, const char* what) {
    EXPECT_EQ(result, -1) << what;
    EXPECT_EQ(tperrno, TPEPROTO) << what;
    tperrno = 0;
  };
  expectProto(CallEcho(), "tpcall");
  expectProto(tpacall(Name("ECHO"), nullptr, 0, 0), "tpacall");
  expectProto(tpgetrply(&cd, buffer.out(), &length, 0), "tpgetrply");
  expectProto(tpbegin(10, 0), "tpbegin");
  expectProto(tpcommit(0), "tpcommit");
  expectProto(tpabort(0), "tpabort");
  expectProto(tpgetlev(), "tpgetlev");
  expectProto(tpchkunsol(), "tpchkunsol");
  expectProto(tpbroadcast(nullptr, nullptr, nullptr, nullptr, 0, 0), "tpbroadcast");
  expectProto(tpnotify(&nobody, nullptr, 0, 0), "tpnotify");
  expectProto(tpcancel(1), "tpcancel");
}

TEST_F(AtmiSessions, JoinedClientCallsAndLeaves) {
  ASSERT_EQ(tpadvertise(Name("ECHO"), Echo), 0);
  ASSERT_EQ(tpinit(nullptr), 0);
  EXPECT_EQ(Atmi::JoinedClientCount(), 1u);
  EXPECT_EQ(tpgetlev(), 0);
  EXPECT_EQ(CallEcho(), 0);
  EXPECT_EQ(tpterm(), 0);
  EXPECT_EQ(Atmi::JoinedClientCount(), 0u);
  EXPECT_EQ(CallEcho(), -1);
  EXPECT_EQ(tperrno, TPEPROTO);
  EXPECT_EQ(tpterm(), 0);  // leaving twice is harmless
}

TEST_F(AtmiSessions, SecondTpinitWhileJoinedChangesNothing) {
  TpBuffer first = MakeInit("anna", "kasa", "");
  ASSERT_EQ(tpinit(reinterpret_cast<TPINIT*>(first.get())), 0);
  ASSERT_EQ(tpbegin(0, 0), 0);
  TpBuffer second = MakeInit("bob", "biuro", "");
  EXPECT_EQ(tpinit(reinterpret_cast<TPINIT*>(second.get())), 0);
  EXPECT_EQ(Atmi::JoinedClientCount(), 1u);
  EXPECT_EQ(tpgetlev(), 1);  // still the same session, transaction and all
}

TEST_F(AtmiSessions, TpinitTakesOnlyAProperTpinitBuffer) {
  TPINIT onStack{};
  tperrno = 0;
  EXPECT_EQ(tpinit(&onStack), -1);
  EXPECT_EQ(tperrno, TPEINVAL);

  TpBuffer fielded("FML32", 0);
  tperrno = 0;
  EXPECT_EQ(tpinit(reinterpret_cast<TPINIT*>(fielded.get())), -1);
  EXPECT_EQ(tperrno, TPEINVAL);

  TpBuffer tooMuchData = MakeInit("anna", "", "", "abc");
  reinterpret_cast<TPINIT*>(tooMuchData.get())->datalen = 1000;
  tperrno = 0;
  EXPECT_EQ(tpinit(reinterpret_cast<TPINIT*>(tooMuchData.get())), -1);
  EXPECT_EQ(tperrno, TPEINVAL);

  TpBuffer twoModes = MakeInit("anna", "", "", "", TPU_DIP | TPU_IGN);
  tperrno = 0;
  EXPECT_EQ(tpinit(reinterpret_cast<TPINIT*>(twoModes.get())), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(Atmi::JoinedClientCount(), 0u);
}

TEST_F(AtmiSessions, LeavingRollsBackTheOpenTransaction) {
  ASSERT_EQ(tpinit(nullptr), 0);
  ASSERT_EQ(tpbegin(30, 0), 0);
  ASSERT_EQ(tpterm(), 0);
  EXPECT_EQ(Atmi::CompletedTransactions().aborts, 1u);
  ASSERT_EQ(tpinit(nullptr), 0);
  EXPECT_EQ(tpgetlev(), 0);
}

void TriesToManageSessions(TPSVCINFO* request) {
  long codes = 0;
  if (tpinit(nullptr) == -1 && tperrno == TPEPROTO) codes += 1;
  if (tpterm() == -1 && tperrno == TPEPROTO) codes += 10;
  if (tpchkunsol() == -1 && tperrno == TPEPROTO) codes += 100;
  tpreturn(TPSUCCESS, codes, request->data, 0, 0);
}

TEST_F(AtmiSessions, ServicesCannotJoinOrLeave) {
  ASSERT_EQ(tpadvertise(Name("SESSIONS"), TriesToManageSessions), 0);
  ASSERT_EQ(tpinit(nullptr), 0);
  TpBuffer reply("FML32", 0);
  long length = 0;
  ASSERT_EQ(tpcall(Name("SESSIONS"), nullptr, 0, reply.out(), &length, 0), 0);
  EXPECT_EQ(tpurcode, 111);
  EXPECT_EQ(Atmi::JoinedClientCount(), 1u);
}

TEST_F(AtmiSessions, EveryThreadHasItsOwnSession) {
  ASSERT_EQ(tpadvertise(Name("ECHO"), Echo), 0);
  ASSERT_EQ(tpinit(nullptr), 0);
  {
    ClientThread other;
    EXPECT_EQ(other.Run([] { return CallEcho() == -1 && tperrno == TPEPROTO; }), true);
    EXPECT_EQ(other.Run([] { return tpinit(nullptr); }), 0);
    EXPECT_EQ(Atmi::JoinedClientCount(), 2u);
    EXPECT_EQ(other.Run([] { return tpbegin(0, 0); }), 0);
    EXPECT_EQ(tpgetlev(), 0);  // the other thread's transaction is not ours
  }
  // The thread's end ended its session and rolled back its transaction.
  EXPECT_EQ(Atmi::JoinedClientCount(), 1u);
  EXPECT_EQ(Atmi::CompletedTransactions().aborts, 1u);
  EXPECT_EQ(CallEcho(), 0);
}

TEST_F(AtmiSessions, DomainResetEndsEveryThreadsSession) {
  ASSERT_EQ(tpadvertise(Name("ECHO"), Echo), 0);
  ClientThread other;
  ASSERT_EQ(other.Run([] { return tpinit(nullptr); }), 0);
  Atmi::ResetDomain();
  EXPECT_EQ(Atmi::JoinedClientCount(), 0u);
  EXPECT_EQ(other.Run([] { return tpgetlev() == -1 && tperrno == TPEPROTO; }), true);
}

TEST_F(AtmiSessions, DisconnectedClientLearnsItAtItsNextCall) {
  ASSERT_EQ(tpadvertise(Name("ECHO"), Echo), 0);
  ASSERT_EQ(tpinit(nullptr), 0);
  Atmi::DisconnectClients();
  TpBuffer reply("FML32", 0);
  long length = 0;
  EXPECT_EQ(tpcall(Name("ECHO"), nullptr, 0, reply.out(), &length, 0), -1);
  EXPECT_EQ(tperrno, TPESYSTEM);
  EXPECT_EQ(tperrordetail(0), TPED_TERM);
  EXPECT_EQ(CallEcho(), -1);
  EXPECT_EQ(tperrno, TPEPROTO);
  EXPECT_EQ(tpinit(nullptr), 0);
  EXPECT_EQ(CallEcho(), 0);
}

// ---- authentication --------------------------------------------------------

struct SeenByAuth {
  std::string type;
  long len = 0;
  std::string usrname, cltname, passwd, grpname, data;
  int calls = 0;
};
SeenByAuth gSeen;

// Admits "anna" with password "tajne" and grants her key 77.
void CheckPassword(TPSVCINFO* request) {
  char type[9] = {};
  tptypes(request->data, type, nullptr);
  const auto* init = reinterpret_cast<const TPINIT*>(request->data);
  ++gSeen.calls;
  gSeen.type = type;
  gSeen.len = request->len;
  gSeen.usrname = init->usrname;
  gSeen.cltname = init->cltname;
  gSeen.passwd = init->passwd;
  gSeen.grpname = init->grpname;
  gSeen.data.assign(reinterpret_cast<const char*>(&init->data),
                    static_cast<std::size_t>(init->datalen));
  const bool admitted =
      std::strcmp(init->usrname, "anna") == 0 && std::strcmp(init->passwd, "tajne") == 0;
  tpreturn(admitted ? TPSUCCESS : TPFAIL, admitted ? 77 : 0, nullptr, 0, 0);
}

void ReportAppkey(TPSVCINFO* request) { tpreturn(TPSUCCESS, request->appkey, nullptr, 0, 0); }

long AppkeySeenByServices() {
  TpBuffer reply("FML32", 0);
  long length = 0;
  EXPECT_EQ(tpcall(Name("APPKEY"), nullptr, 0, reply.out(), &length, 0), 0);
  return tpurcode;
}

class AtmiAuthentication : public AtmiSessions {
 protected:
  void SetUp() override {
    gSeen = SeenByAuth{};
    ASSERT_EQ(tpadvertise(Name("APPKEY"), ReportAppkey), 0);
  }
};

TEST_F(AtmiAuthentication, WithoutAuthsvcEveryoneJoinsWithoutAKey) {
  EXPECT_EQ(tpchkauth(), TPNOAUTH);
  ASSERT_EQ(tpinit(nullptr), 0);
  EXPECT_EQ(AppkeySeenByServices(), -1);
}

TEST_F(AtmiAuthentication, AuthsvcSeesTheWholeTpinitAndGrantsTheKey) {
  ASSERT_EQ(tpadvertise(Name("AUTHSVC"), CheckPassword), 0);
  EXPECT_EQ(tpchkauth(), TPAPPAUTH);
  TpBuffer init = MakeInit("anna", "kasa 3", "tajne", std::string("x\0y", 3));
  std::strcpy(reinterpret_cast<TPINIT*>(init.get())->grpname, "");
  ASSERT_EQ(tpinit(reinterpret_cast<TPINIT*>(init.get())), 0);

  EXPECT_EQ(gSeen.calls, 1);
  EXPECT_EQ(gSeen.type, "TPINIT");
  EXPECT_EQ(gSeen.len, TPINITNEED(3));
  EXPECT_EQ(gSeen.usrname, "anna");
  EXPECT_EQ(gSeen.cltname, "kasa 3");
  EXPECT_EQ(gSeen.passwd, "tajne");
  EXPECT_EQ(gSeen.grpname, "");
  EXPECT_EQ(gSeen.data, std::string("x\0y", 3));
  EXPECT_EQ(AppkeySeenByServices(), 77);
}

TEST_F(AtmiAuthentication, RefusedClientIsNotJoined) {
  ASSERT_EQ(tpadvertise(Name("AUTHSVC"), CheckPassword), 0);
  TpBuffer init = MakeInit("anna", "kasa", "zgadywane");
  tperrno = 0;
  EXPECT_EQ(tpinit(reinterpret_cast<TPINIT*>(init.get())), -1);
  EXPECT_EQ(tperrno, TPEPERM);
  EXPECT_EQ(tperrordetail(0), TPED_PERM);
  EXPECT_EQ(Atmi::JoinedClientCount(), 0u);
  EXPECT_EQ(tpgetlev(), -1);
  EXPECT_EQ(tperrno, TPEPROTO);
}

TEST_F(AtmiAuthentication, JoiningWithoutTpinitIsAuthenticatedToo) {
  ASSERT_EQ(tpadvertise(Name("AUTHSVC"), CheckPassword), 0);
  tperrno = 0;
  EXPECT_EQ(tpinit(nullptr), -1);
  EXPECT_EQ(tperrno, TPEPERM);
  EXPECT_EQ(gSeen.calls, 1);
  EXPECT_EQ(gSeen.usrname, "");
  EXPECT_EQ(gSeen.len, TPINITNEED(0));
}

void ForgetsToReturn(TPSVCINFO*) {}

TEST_F(AtmiAuthentication, BrokenAuthsvcRefusesEveryone) {
  ASSERT_EQ(tpadvertise(Name("AUTHSVC"), ForgetsToReturn), 0);
  TpBuffer init = MakeInit("anna", "kasa", "tajne");
  const std::size_t buffers = Atmi::LiveBufferCount();
  EXPECT_EQ(tpinit(reinterpret_cast<TPINIT*>(init.get())), -1);
  EXPECT_EQ(tperrno, TPEPERM);
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers);  // the copy it got is freed
}

}  // namespace
