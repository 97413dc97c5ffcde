// Unsolicited messages in the builtin domain: queueing and delivery by
// tpchkunsol, broadcast filters, notification of the calling client, and
// messages without data.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <barrier>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../../../platform/tuxedo/builtin/atmi_control.h"
#include "../../../platform/tuxedo/builtin/atmi_testing.h"

namespace {

namespace Atmi = Tx::AtmiBuiltin;
using Atmi::ClientThread;
using Atmi::TpBuffer;

char* Name(const char* name) { return const_cast<char*>(name); }

struct Received {
  std::string type;  // empty: no data
  long len = 0;
  std::string text;  // STRING data
  long flags = -1;
};

// Per thread, like the clients that receive them.
thread_local std::vector<Received> tReceived;

void Collect(char* data, long len, long flags) {
  Received message;
  message.len = len;
  message.flags = flags;
  if (data != nullptr) {
    char type[9] = {};
    tptypes(data, type, nullptr);
    message.type = type;
    if (message.type == "STRING") message.text = data;
  }
  tReceived.push_back(message);
}

void Ignore(char*, long, long) {}

TpBuffer Text(const char* text) {
  TpBuffer buffer("STRING", 0);
  std::strcpy(buffer.get(), text);
  return buffer;
}

int Broadcast(const char* lmid, const char* usrname, const char* cltname, const char* text) {
  TpBuffer data = Text(text);
  return tpbroadcast(const_cast<char*>(lmid), const_cast<char*>(usrname),
                     const_cast<char*>(cltname), data.get(), 0, 0);
}

// Joins the calling thread as a named client that collects its messages.
int Join(const char* user, const char* client, long flags = 0) {
  TpBuffer init("TPINIT", TPINITNEED(0));
  auto* info = reinterpret_cast<TPINIT*>(init.get());
  std::strcpy(info->usrname, user);
  std::strcpy(info->cltname, client);
  info->flags = flags;
  tpsetunsol(Collect);
  return tpinit(info);
}

// The texts a client thread has received after checking for messages.
std::vector<std::string> CheckOn(ClientThread& client) {
  return client.Run([] {
    tReceived.clear();
    EXPECT_GE(tpchkunsol(), 0);
    std::vector<std::string> texts;
    for (const Received& message : tReceived) texts.push_back(message.text);
    return texts;
  });
}

class AtmiUnsolicited : public ::testing::Test {
 protected:
  void SetUp() override { tReceived.clear(); }
  Atmi::ScopedDomain domain_;
};

TEST_F(AtmiUnsolicited, MessagesWaitForTheCheckAndArriveInOrder) {
  ASSERT_EQ(Join("anna", "kasa"), 0);
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "pierwszy"), 0);
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "drugi"), 0);
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "trzeci"), 0);
  EXPECT_TRUE(tReceived.empty());
  EXPECT_EQ(Atmi::QueuedMessageCount(), 3u);

  EXPECT_EQ(tpchkunsol(), 3);
  ASSERT_EQ(tReceived.size(), 3u);
  EXPECT_EQ(tReceived[0].text, "pierwszy");
  EXPECT_EQ(tReceived[1].text, "drugi");
  EXPECT_EQ(tReceived[2].text, "trzeci");
  EXPECT_EQ(tReceived[0].type, "STRING");
  EXPECT_EQ(tReceived[0].len, 9);
  EXPECT_EQ(tReceived[0].flags, 0);
  EXPECT_EQ(tpchkunsol(), 0);
}

TEST_F(AtmiUnsolicited, BroadcastReachesTheClientsItsFiltersName) {
  ClientThread anna;
  ClientThread bob;
  ClientThread anonymous;
  ASSERT_EQ(anna.Run([] { return Join("anna", "kasa"); }), 0);
  ASSERT_EQ(bob.Run([] { return Join("bob", "biuro"); }), 0);
  ASSERT_EQ(anonymous.Run([] {
    tpsetunsol(Collect);
    return tpinit(nullptr);
  }), 0);
  ASSERT_EQ(tpinit(nullptr), 0);  // the sender, without a handler

  ASSERT_EQ(Broadcast(nullptr, "anna", nullptr, "do anny"), 0);
  ASSERT_EQ(Broadcast(nullptr, nullptr, "biuro", "do biura"), 0);
  ASSERT_EQ(Broadcast("SITE1", "bob", "kasa", "nikt"), 0);
  ASSERT_EQ(Broadcast("SITE2", nullptr, nullptr, "inna maszyna"), 0);
  ASSERT_EQ(Broadcast(nullptr, "", nullptr, "bez nazwy"), 0);
  ASSERT_EQ(Broadcast("SITE1", nullptr, nullptr, "wszyscy"), 0);

  EXPECT_EQ(CheckOn(anna), (std::vector<std::string>{"do anny", "wszyscy"}));
  EXPECT_EQ(CheckOn(bob), (std::vector<std::string>{"do biura", "wszyscy"}));
  EXPECT_EQ(CheckOn(anonymous), (std::vector<std::string>{"bez nazwy", "wszyscy"}));
  EXPECT_EQ(tpchkunsol(), 0);  // no handler: its messages were discarded
  EXPECT_EQ(Atmi::QueuedMessageCount(), 0u);
}

TEST_F(AtmiUnsolicited, ClientThatIgnoresMessagesGetsNone) {
  ASSERT_EQ(Join("anna", "kasa", TPU_IGN), 0);
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "hej"), 0);
  EXPECT_EQ(Atmi::QueuedMessageCount(), 0u);
  EXPECT_EQ(tpchkunsol(), 0);
}

TEST_F(AtmiUnsolicited, MessagesWithoutDataReachTheHandlerAsNull) {
  ASSERT_EQ(Join("anna", "kasa"), 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
  TpBuffer empty("CARRAY", 10);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, empty.get(), 0, 0), 0);
  TpBuffer fielded("FML32", 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, fielded.get(), 0, 0), 0);
  ASSERT_EQ(tpchkunsol(), 3);
  EXPECT_EQ(tReceived[0].type, "");
  EXPECT_EQ(tReceived[0].len, 0);
  EXPECT_EQ(tReceived[1].type, "");
  EXPECT_EQ(tReceived[1].len, 0);
  EXPECT_EQ(tReceived[2].type, "FML32");  // an empty fielded buffer is still data
  EXPECT_EQ(tReceived[2].len, Fneeded32(0, 0));
}

TEST_F(AtmiUnsolicited, HandlerIsTheOneInForceAtTheCheck) {
  EXPECT_EQ(tpsetunsol(Ignore), nullptr);  // before joining
  ASSERT_EQ(tpinit(nullptr), 0);
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "a"), 0);
  EXPECT_EQ(tpsetunsol(Collect), Ignore);
  ASSERT_EQ(tpchkunsol(), 1);
  EXPECT_EQ(tReceived.size(), 1u);
  EXPECT_EQ(tpsetunsol(nullptr), Collect);
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "b"), 0);
  EXPECT_EQ(tpchkunsol(), 0);
  EXPECT_EQ(Atmi::QueuedMessageCount(), 0u);
}

TEST_F(AtmiUnsolicited, DeliveredDataIsFreedByTheDomain) {
  ASSERT_EQ(Join("anna", "kasa"), 0);
  const std::size_t buffers = Atmi::LiveBufferCount();
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "x"), 0);
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers + 1);  // the queued copy
  ASSERT_EQ(tpchkunsol(), 1);
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers);
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "y"), 0);
  ASSERT_EQ(tpterm(), 0);  // leaving drops what was queued
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers);
}

TEST_F(AtmiUnsolicited, ConcurrentBroadcastsAllArrive) {
  constexpr int kClients = 4;
  constexpr int kEach = 50;
  std::barrier joined(kClients);
  std::barrier sent(kClients);
  std::vector<std::size_t> received(kClients, 0);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      tpsetunsol(Collect);
      const bool member = tpinit(nullptr) == 0;
      joined.arrive_and_wait();  // everyone arrives, or the others would wait forever
      for (int i = 0; member && i < kEach; ++i) Broadcast(nullptr, nullptr, nullptr, "x");
      sent.arrive_and_wait();
      if (member && tpchkunsol() == kClients * kEach) received[c] = tReceived.size();
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(received, std::vector<std::size_t>(kClients, kClients * kEach));
}

void NotifiesCaller(TPSVCINFO* request) {
  char* note = tpalloc(Name("STRING"), nullptr, 0);
  std::strcpy(note, "przypomnienie");
  const int result = tpnotify(&request->cltid, note, 0, 0);
  tpfree(note);
  tpreturn(result == 0 ? TPSUCCESS : TPFAIL, tperrno, nullptr, 0, 0);
}

TEST_F(AtmiUnsolicited, ServiceNotifiesTheClientThatCalledIt) {
  ASSERT_EQ(tpadvertise(Name("NOTIFY"), NotifiesCaller), 0);
  ClientThread other;
  ASSERT_EQ(other.Run([] { return Join("bob", "biuro"); }), 0);
  ASSERT_EQ(Join("anna", "kasa"), 0);
  TpBuffer reply("FML32", 0);
  long length = 0;
  ASSERT_EQ(tpcall(Name("NOTIFY"), nullptr, 0, reply.out(), &length, 0), 0);
  ASSERT_EQ(tpchkunsol(), 1);
  EXPECT_EQ(tReceived[0].text, "przypomnienie");
  EXPECT_TRUE(CheckOn(other).empty());
}

TEST_F(AtmiUnsolicited, NotifyingAClientThatIsGoneFails) {
  CLIENTID gone{};
  {
    ClientThread other;
    ASSERT_EQ(other.Run([] { return Join("bob", "biuro"); }), 0);
    ASSERT_EQ(tpadvertise(Name("WHO"),
                          [](TPSVCINFO* request) {
                            std::memcpy(request->data, &request->cltid, sizeof(CLIENTID));
                            tpreturn(TPSUCCESS, 0, request->data, sizeof(CLIENTID), 0);
                          }),
              0);
    gone = other.Run([] {
      TpBuffer request("CARRAY", sizeof(CLIENTID));
      TpBuffer reply("CARRAY", sizeof(CLIENTID));
      long length = 0;
      EXPECT_EQ(tpcall(Name("WHO"), request.get(), sizeof(CLIENTID), reply.out(), &length, 0), 0);
      CLIENTID id;
      std::memcpy(&id, reply.get(), sizeof id);
      return id;
    });
  }
  ASSERT_EQ(tpinit(nullptr), 0);
  EXPECT_EQ(tpnotify(&gone, nullptr, 0, 0), -1);
  EXPECT_EQ(tperrno, TPENOENT);
  EXPECT_EQ(tperrordetail(0), TPED_NOCLIENT);
}

void NotifiesWithAck(TPSVCINFO* request) {
  const int result = tpnotify(&request->cltid, nullptr, 0, TPACK);
  tpreturn(TPSUCCESS, result == 0 ? 0 : tperrno * 100 + tperrordetail(0), nullptr, 0, 0);
}

TEST_F(AtmiUnsolicited, AcknowledgedNotifyNeedsAHandler) {
  ASSERT_EQ(tpadvertise(Name("ACK"), NotifiesWithAck), 0);
  ASSERT_EQ(tpinit(nullptr), 0);
  TpBuffer reply("FML32", 0);
  long length = 0;
  ASSERT_EQ(tpcall(Name("ACK"), nullptr, 0, reply.out(), &length, 0), 0);
  EXPECT_EQ(tpurcode, TPENOENT * 100 + TPED_NOUNSOLHANDLER);
  tpsetunsol(Collect);
  ASSERT_EQ(tpcall(Name("ACK"), nullptr, 0, reply.out(), &length, 0), 0);
  EXPECT_EQ(tpurcode, 0);
  EXPECT_EQ(tpchkunsol(), 1);
}

void SetsHandler(TPSVCINFO* request) {
  const bool refused = tpsetunsol(Collect) == TPUNSOLERR && tperrno == TPEPROTO;
  tpreturn(TPSUCCESS, refused ? 1 : 0, request->data, 0, 0);
}

TEST_F(AtmiUnsolicited, ArgumentsAndContextsAreChecked) {
  ASSERT_EQ(tpadvertise(Name("SETS"), SetsHandler), 0);
  ASSERT_EQ(tpinit(nullptr), 0);
  EXPECT_EQ(Broadcast(nullptr, "a_user_name_longer_than_thirty_", nullptr, "x"), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(tpbroadcast(nullptr, nullptr, nullptr, nullptr, 0, TPACK), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
  char notABuffer[4] = "abc";
  EXPECT_EQ(tpbroadcast(nullptr, nullptr, nullptr, notABuffer, 3, 0), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
  EXPECT_EQ(tpnotify(nullptr, nullptr, 0, 0), -1);
  EXPECT_EQ(tperrno, TPEINVAL);
  TpBuffer reply("FML32", 0);
  long length = 0;
  ASSERT_EQ(tpcall(Name("SETS"), nullptr, 0, reply.out(), &length, 0), 0);
  EXPECT_EQ(tpurcode, 1);
}

}  // namespace
