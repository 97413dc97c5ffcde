// The reply cache: what a request key holds and how it matches, replacement,
// the discarding order under the limit, permanent services, hits and failed
// copies. Execute's use of the cache is tested with the service component.
#include "service/TxServiceCache.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/framework/Dialogs.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "service/TxServic.h"

namespace Tx {
namespace {

const FLDID32 A = Fmkfldid32(FLD_LONG, 301), B = Fmkfldid32(FLD_STRING, 302),
              EXTRA = Fmkfldid32(FLD_LONG, 303), REPLY = Fmkfldid32(FLD_LONG, 304);
using Values = std::vector<std::pair<FLDID32, Variant>>;

void Request(TTxService& svc, const Values& values) {
  svc.GetSendData()->Clear();
  for (const auto& [id, value] : values) svc.GetSendData()->AppendOcc(id, value);
}

class Cache : public ::testing::Test {
 protected:
  // A service named Name whose request contract holds Fields (none: no contract).
  TTxService& Service(const char* Name, const std::vector<FLDID32>& Fields = {A, B}) {
    auto& svc = FServices.emplace_back(std::make_unique<TTxService>(nullptr));
    svc->SetServiceName(Name);
    Contract(*svc, Fields);
    return *svc;
  }
  TTxService& BigService(const char* Name) {  // 300,000 bytes a call
    TTxService& svc = Service(Name);
    svc.GetSendData()->SetFbfrSize(150000);
    svc.GetRecvData()->SetFbfrSize(150000);
    return svc;
  }
  static void Contract(TTxService& svc, const std::vector<FLDID32>& Fields) {
    TTxFbfrDef contract(nullptr);
    for (const FLDID32 id : Fields) contract.AddFldDef(id);
    svc.SetSendContract(&contract);
  }
  // Stores the reply `reply` (tpurcode reply / 10) to the request {A: a}.
  void Store(TTxService& svc, const Values& request, long reply) {
    Request(svc, request);
    svc.GetRecvData()->Clear();
    svc.GetRecvData()->AppendOcc(REPLY, reply);
    svc.LastUrcode = reply / 10;
    cache.UpdateCachedCall(&svc);
  }
  void Store(TTxService& svc, long a, long reply) { Store(svc, {{A, a}}, reply); }
  std::vector<long> KeysOf(const char* name) {
    std::vector<long> keys;
    for (const TTxCachedCall& call : cache.FindService(name)->Calls)
      keys.push_back(call.Key.at(0).Values.at(0).AsInteger());
    return keys;
  }

  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
  std::vector<std::unique_ptr<TTxService>> FServices;
  TTxServiceCache cache;
};

TEST_F(Cache, RepeatedRequestReplacesItsCallAtTheEndAndAHitRestoresTheReply) {
  TTxService& svc = Service("S");
  Store(svc, 1, 10);
  Store(svc, 2, 20);
  Store(svc, 1, 30);
  EXPECT_EQ(KeysOf("S"), (std::vector<long>{2, 1}));
  EXPECT_EQ(cache.GetBufferSize(false), 2 * 8192);

  Request(svc, {{A, 1}});
  svc.GetRecvData()->Clear();
  tpurcode = 99;
  ui.Clear();
  ASSERT_TRUE(cache.CheckCache(&svc));
  EXPECT_EQ(Fvall32(svc.GetRecvData()->GetFbfrP(), REPLY, 0), 30);
  EXPECT_EQ(svc.LastUrcode, 3);
  EXPECT_EQ(tpurcode, 99);
  tpurcode = 0;
  EXPECT_EQ(svc.GetRecvData()->FindFieldId(AnsiString(REPLY)), REPLY);
  EXPECT_EQ(ui.DebugLines(), (std::vector<AnsiString>{"Cache hit: S (Buffer sizes: normal=16384 "
                                                      "limited to:5242880, permanent=0)"}));
  Request(svc, {{A, 2}});
  EXPECT_EQ(cache.InvalidateCachedCall(&svc), 8192);
  EXPECT_FALSE(cache.IsCachedCall(&svc));
  EXPECT_EQ(cache.InvalidateCachedCall(&svc), 0);
  EXPECT_EQ(cache.GetBufferSize(false), 8192);
}

TEST_F(Cache, OnlyKeyFieldsCountAndTextsMatchByteForByte) {
  // The framework's variants call these texts equal; a request key may not.
  const AnsiString control("x\x01", 2);
  ASSERT_TRUE(Variant(control) == Variant("x"));
  const std::vector<FLDID32> none, ab{A, B}, wider{A, B, EXTRA};
  struct Case {
    std::vector<FLDID32> storedUnder, askedUnder;  // the contracts
    Values stored, asked;
    bool hit;
  };
  const Case cases[] = {
      {ab, ab, {{A, 1}, {B, "x"}, {EXTRA, 5}}, {{A, 1}, {B, "x"}, {EXTRA, 6}}, true},
      {ab, ab, {{A, 1}, {B, "x"}}, {{A, 1}, {A, 1}, {B, "x"}}, false},
      {ab, ab, {{A, 1}, {B, "x"}}, {{A, 1}, {B, control}}, false},
      {ab, ab, {{A, 1}}, {{A, 1}, {B, ""}}, false},
      // A key of other definitions is held against the buffer itself.
      {ab, wider, {{A, 1}, {B, "x"}}, {{A, 1}, {B, "x"}, {EXTRA, 7}}, true},
      {ab, wider, {{A, 1}, {B, "x"}}, {{A, 2}, {B, "x"}, {EXTRA, 7}}, false},
      {ab, wider, {{A, 1}, {B, "x"}}, {{A, 1}, {B, control}, {EXTRA, 7}}, false},
      // Without a contract the key is the fields the request holds.
      {none, none, {{A, 1}}, {{A, 1}}, true},
      {none, none, {{A, 1}}, {{A, 1}, {B, "y"}}, false},
      {none, ab, {{A, 1}}, {{A, 1}}, true},
      {none, ab, {{A, 1}}, {{A, 1}, {EXTRA, 1}}, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    TTxService& svc = Service(("S" + std::to_string(++n)).c_str(), c.storedUnder);
    Store(svc, c.stored, 10);
    Contract(svc, c.askedUnder);
    Request(svc, c.asked);
    EXPECT_EQ(cache.IsCachedCall(&svc), c.hit) << "case " << n;
  }
}

TEST_F(Cache, OldestCallIsDiscardedFirstAndPermanentOnesNever) {
  EXPECT_EQ(cache.GetBufferLimit(), 5242880);
  cache.SetBufferLimit(0);
  EXPECT_EQ(cache.GetBufferLimit(), 1048576);
  TTxService& s1 = BigService("S1");
  TTxService& s2 = BigService("S2");
  const auto storeThenWait = [&](TTxService& svc, long a) {
    Store(svc, a, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  };
  storeThenWait(s1, 1);
  storeThenWait(s2, 1);
  Request(s1, {{A, 1}});
  cache.InvalidateCachedCall(&s1);  // S1 now starts later than S2, though listed first
  storeThenWait(s1, 3);
  storeThenWait(s1, 4);
  const AnsiString added = TimeToStr(cache.FindService("S2")->Calls.front().Added);
  ui.Clear();
  Store(s1, 5, 10);  // the fourth
  EXPECT_TRUE(cache.FindService("S2")->Calls.empty());
  EXPECT_EQ(KeysOf("S1"), (std::vector<long>{3, 4, 5}));
  EXPECT_EQ(ui.DebugLines(),
            (std::vector<AnsiString>{
                "Discarding service call: S2, added=" + added +
                    ", size=300000 (Buffer sizes: normal=600000 limited to:1048576, permanent=0)",
                "Adding/updating service call: S1, size=300000 (Buffer sizes: "
                "normal=900000 limited to:1048576, permanent=0)"}));

  cache.SetServicePermanent("S1");
  EXPECT_EQ(cache.GetBufferSize(true), 900000);
  EXPECT_EQ(cache.GetBufferSize(false), 0);
  for (long a = 1; a <= 4; ++a) Store(s2, a, 10);
  Store(s1, 6, 10);
  EXPECT_EQ(KeysOf("S2"), (std::vector<long>{2, 3, 4}));
  EXPECT_EQ(KeysOf("S1"), (std::vector<long>{3, 4, 5, 6}));
  EXPECT_EQ(cache.GetBufferSize(true), 1200000);

  cache.ClearService("S1");  // keeps the record and the mark
  EXPECT_EQ(cache.GetBufferSize(true), 0);
  EXPECT_TRUE(cache.IsServicePermanent("S1"));
  EXPECT_FALSE(cache.IsServicePermanent("s1"));
  EXPECT_FALSE(cache.IsServicePermanent("P"));
  cache.SetServicePermanent("P");
  EXPECT_TRUE(cache.IsServicePermanent("P"));
}

TEST_F(Cache, WithinOneMillisecondTheServiceCachedFirstLosesFirst) {
  cache.SetBufferLimit(0);
  TTxService& t1 = BigService("T1");
  TTxService& t2 = BigService("T2");
  TTxService& t3 = BigService("T3");
  Store(t1, 0, 10);  // T1 is known first
  do {
    for (const char* name : {"T1", "T2"}) cache.ClearService(name);
    Store(t2, 1, 10);
    Store(t1, 1, 10);
  } while (cache.FindService("T1")->Calls[0].Added != cache.FindService("T2")->Calls[0].Added);
  Store(t3, 1, 10);
  Store(t3, 2, 10);  // the fourth
  EXPECT_TRUE(cache.FindService("T1")->Calls.empty());
  EXPECT_EQ(cache.FindService("T2")->Calls.size(), 1U);
}

TEST_F(Cache, CopiesThatCannotBeAllocated) {
  AtmiBuiltin::ScopedDomain domain;
  TTxService& svc = Service("S");
  Store(svc, 1, 10);
  svc.GetRecvData()->AppendOcc(REPLY, 77);
  svc.LastUrcode = 4;
  const FBFR32* before = svc.GetRecvData()->GetFbfrP();
  AtmiBuiltin::FailNextAllocation(TPEOS);
  ui.Clear();
  EXPECT_FALSE(cache.CheckCache(&svc));  // left to the service instead
  EXPECT_EQ(svc.GetRecvData()->GetFbfrP(), before);
  EXPECT_EQ(svc.GetRecvData()->OccCount(REPLY), 2);
  EXPECT_EQ(svc.LastUrcode, 4);
  EXPECT_TRUE(ui.DebugLines().empty());
  EXPECT_EQ(tperrno, 0);

  Request(svc, {{A, 2}});
  AtmiBuiltin::FailNextAllocation(TPEOS);
  cache.UpdateCachedCall(&svc);  // stored without its reply
  EXPECT_TRUE(cache.CheckCache(&svc));
  EXPECT_EQ(svc.GetRecvData()->OccCount(REPLY), 0);
}

}  // namespace
}  // namespace Tx
