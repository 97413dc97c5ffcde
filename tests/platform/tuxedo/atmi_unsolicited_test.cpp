// Unsolicited messages in the builtin domain: queueing and delivery by
// tpchkunsol, broadcast filters, notification of the calling client, and
// messages without data.
#include "tuxedo_test_support.h"

namespace {

using namespace TuxTest;

// Per thread, like the clients that receive them: "<type>:<STRING text>:<len>"
// per message, the type empty for a message without data.
thread_local std::vector<std::string> tReceived;

void Collect(char* data, long len, long flags) {
  char type[9] = {};
  if (data != nullptr) tptypes(data, type, nullptr);
  const bool text = std::strcmp(type, "STRING") == 0;
  tReceived.push_back(std::string(type) + ":" + (text ? data : "") + ":" + std::to_string(len) +
                      (flags != 0 ? " flags" : ""));
}

int Broadcast(const char* lmid, const char* usrname, const char* cltname, const char* text) {
  TpBuffer data("STRING", 0);
  std::strcpy(data.get(), text);
  return tpbroadcast(Text(lmid), Text(usrname), Text(cltname), data.get(), 0, 0);
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

using Messages = std::vector<std::string>;

// What a client thread receives when it checks for messages.
Messages CheckOn(ClientThread& client) {
  return client.Run([] {
    tReceived.clear();
    tpchkunsol();
    return tReceived;
  });
}

class AtmiUnsolicited : public ::testing::Test {
 protected:
  void SetUp() override { tReceived.clear(); }
  Atmi::ScopedDomain domain_;
};

TEST_F(AtmiUnsolicited, MessagesWaitForTheCheckAndArriveInOrderToTheHandlerThen) {
  EXPECT_EQ(tpsetunsol(Collect), nullptr);  // before joining
  ASSERT_EQ(tpinit(nullptr), 0);
  TpBuffer empty("CARRAY", 10);
  TpBuffer fielded("FML32", 0);
  const std::size_t buffers = Atmi::LiveBufferCount();
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "pierwszy"), 0);
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "drugi"), 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, empty.get(), 0, 0), 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, fielded.get(), 0, 0), 0);
  EXPECT_TRUE(tReceived.empty());
  EXPECT_EQ(Atmi::QueuedMessageCount(), 5u);
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers + 3);  // copies of the messages with data

  EXPECT_EQ(tpchkunsol(), 5);
  // Messages without data arrive as NULL, an empty fielded buffer is data.
  const std::string emptyFml32 = "FML32::" + std::to_string(Fneeded32(0, 0));
  EXPECT_EQ(tReceived,
            (Messages{"STRING:pierwszy:9", "STRING:drugi:6", "::0", "::0", emptyFml32}));
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers);  // freed by the domain
  EXPECT_EQ(tpchkunsol(), 0);

  // The handler in force at the check gets them; without one they are dropped.
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "a"), 0);
  EXPECT_EQ(tpsetunsol(nullptr), Collect);
  EXPECT_EQ(tpchkunsol(), 0);
  EXPECT_EQ(Atmi::QueuedMessageCount(), 0u);
  ASSERT_EQ(Broadcast(nullptr, nullptr, nullptr, "b"), 0);
  ASSERT_EQ(tpterm(), 0);  // leaving drops what was queued
  EXPECT_EQ(Atmi::LiveBufferCount(), buffers);
}

TEST_F(AtmiUnsolicited, BroadcastReachesTheClientsItsFiltersName) {
  ClientThread anna;
  ClientThread bob;
  ClientThread anonymous;
  ClientThread ignoring;
  ASSERT_EQ(anna.Run([] { return Join("anna", "kasa"); }), 0);
  ASSERT_EQ(bob.Run([] { return Join("bob", "biuro"); }), 0);
  ASSERT_EQ(anonymous.Run([] {
    tpsetunsol(Collect);
    return tpinit(nullptr);
  }), 0);
  ASSERT_EQ(ignoring.Run([] { return Join("anna", "kasa", TPU_IGN); }), 0);
  ASSERT_EQ(tpinit(nullptr), 0);  // the sender, without a handler

  ASSERT_EQ(Broadcast(nullptr, "anna", nullptr, "do anny"), 0);
  ASSERT_EQ(Broadcast(nullptr, nullptr, "biuro", "do biura"), 0);
  ASSERT_EQ(Broadcast("SITE1", "bob", "kasa", "nikt"), 0);
  ASSERT_EQ(Broadcast("SITE2", nullptr, nullptr, "inna maszyna"), 0);
  ASSERT_EQ(Broadcast(nullptr, "", nullptr, "bez nazwy"), 0);
  ASSERT_EQ(Broadcast("SITE1", nullptr, nullptr, "wszyscy"), 0);

  EXPECT_EQ(CheckOn(anna), (Messages{"STRING:do anny:8", "STRING:wszyscy:8"}));
  EXPECT_EQ(CheckOn(bob), (Messages{"STRING:do biura:9", "STRING:wszyscy:8"}));
  EXPECT_EQ(CheckOn(anonymous), (Messages{"STRING:bez nazwy:10", "STRING:wszyscy:8"}));
  EXPECT_EQ(ignoring.Run([] { return Atmi::QueuedMessageCount(); }), 0u);
  EXPECT_EQ(CheckOn(ignoring), Messages{});
  EXPECT_EQ(tpchkunsol(), 0);  // no handler: its messages were discarded
  EXPECT_EQ(Atmi::QueuedMessageCount(), 0u);
}

// Notifies its caller with TPACK and no data, then with a text. rcode:
// tperrno * 100 + detail of the first, 0 when it was acknowledged. Replies
// with the caller's CLIENTID.
void Notify(TPSVCINFO* r) {
  const int result = tpnotify(&r->cltid, nullptr, 0, TPACK);
  const long acked = result == 0 ? 0 : tperrno * 100L + tperrordetail(0);
  TpBuffer note("STRING", 0);
  std::strcpy(note.get(), "przypomnienie");
  tpnotify(&r->cltid, note.get(), 0, 0);
  std::memcpy(r->data, &r->cltid, sizeof(CLIENTID));
  tpreturn(TPSUCCESS, acked, r->data, sizeof(CLIENTID), 0);
}

CLIENTID CallNotify() {
  TpBuffer reply("CARRAY", sizeof(CLIENTID));
  long length = 0;
  EXPECT_EQ(tpcall(Text("NOTIFY"), reply.get(), sizeof(CLIENTID), reply.out(), &length, 0), 0);
  CLIENTID id;
  std::memcpy(&id, reply.get(), sizeof id);
  return id;
}

TEST_F(AtmiUnsolicited, ServicesNotifyTheClientThatCalledThem) {
  ASSERT_EQ(tpadvertise(Text("NOTIFY"), Notify), 0);
  CLIENTID gone{};
  {
    ClientThread other;
    ASSERT_EQ(other.Run([] { return Join("bob", "biuro"); }), 0);
    gone = other.Run(CallNotify);
    ASSERT_EQ(tpinit(nullptr), 0);
    CallNotify();
    EXPECT_EQ(tpurcode, TPENOENT * 100 + TPED_NOUNSOLHANDLER);
    EXPECT_EQ(tpchkunsol(), 0);  // no handler: the text is dropped
    tpsetunsol(Collect);
    CallNotify();
    EXPECT_EQ(tpurcode, 0);
    EXPECT_EQ(tpchkunsol(), 2);
    EXPECT_EQ(tReceived, (Messages{"::0", "STRING:przypomnienie:14"}));
    EXPECT_EQ(CheckOn(other), tReceived);  // its own only
  }
  ExpectTperrno(tpnotify(&gone, nullptr, 0, 0), TPENOENT, "client gone");
  EXPECT_EQ(tperrordetail(0), TPED_NOCLIENT);
  ExpectTperrno(tpnotify(nullptr, nullptr, 0, 0), TPEINVAL, "no client");
  ExpectTperrno(Broadcast(nullptr, "a_user_name_longer_than_thirty_", nullptr, "x"), TPEINVAL,
                "user name of 31 characters");
}

}  // namespace
