// The reply cache: what a request key holds and how it matches, replacement,
// the discarding order under the limit, permanent services, hits and failed
// copies, and the switches of TTxService::Execute.
#include "service/TxServiceCache.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/framework/Dialogs.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "service/TxServic.h"

namespace Tx {
namespace {

const FLDID32 A = Fmkfldid32(FLD_LONG, 301);
const FLDID32 B = Fmkfldid32(FLD_STRING, 302);
const FLDID32 EXTRA = Fmkfldid32(FLD_LONG, 303);
const FLDID32 REPLY = Fmkfldid32(FLD_LONG, 304);

void Request(TTxService& svc, std::vector<std::pair<FLDID32, Variant>> values) {
  svc.GetSendData()->Clear();
  for (const auto& [id, value] : values) svc.GetSendData()->AppendOcc(id, value);
}
void Reply(TTxService& svc, long value, long urcode) {
  svc.GetRecvData()->Clear();
  svc.GetRecvData()->AppendOcc(REPLY, value);
  svc.LastUrcode = urcode;
}
long ReplyOf(TTxService& svc) {
  return svc.GetRecvData()->OccCount(REPLY) > 0 ? Fvall32(svc.GetRecvData()->GetFbfrP(), REPLY, 0)
                                                : -1;
}

class Cache : public ::testing::Test {
 protected:
  // A service named Name whose request contract holds Fields (none: no contract).
  TTxService& Service(const char* Name, std::vector<FLDID32> Fields = {A, B}) {
    auto& svc = FServices.emplace_back(std::make_unique<TTxService>(nullptr));
    svc->SetServiceName(Name);
    TTxFbfrDef contract(nullptr);
    for (const FLDID32 id : Fields) contract.AddFldDef(id);
    svc->SetSendContract(&contract);
    return *svc;
  }
  void Store(TTxService& svc, long a, long reply) {
    Request(svc, {{A, a}});
    Reply(svc, reply, reply / 10);
    cache.UpdateCachedCall(&svc);
  }
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
  EXPECT_EQ(cache.FindService("S")->Calls.back().Key.at(1).Values.size(), 0U);

  Request(svc, {{A, 1}});
  Reply(svc, 0, 0);
  tpurcode = 99;
  ui.Clear();
  ASSERT_TRUE(cache.CheckCache(&svc));
  EXPECT_EQ(ReplyOf(svc), 30);
  EXPECT_EQ(svc.LastUrcode, 3);
  EXPECT_EQ(tpurcode, 99);
  EXPECT_EQ(svc.GetRecvData()->FindFieldId(AnsiString(REPLY)), REPLY);
  EXPECT_EQ(ui.DebugLines(),
            (std::vector<AnsiString>{
                "Cache hit: S (Buffer sizes: normal=16384 limited to:5242880, permanent=0)"}));
  tpurcode = 0;

  Request(svc, {{A, 2}});
  EXPECT_TRUE(cache.IsCachedCall(&svc));
  EXPECT_EQ(cache.InvalidateCachedCall(&svc), 8192);
  EXPECT_FALSE(cache.IsCachedCall(&svc));
  EXPECT_EQ(cache.InvalidateCachedCall(&svc), 0);
  EXPECT_EQ(cache.GetBufferSize(false), 8192);
}

TEST_F(Cache, OnlyKeyFieldsCountAndTextsMatchByteForByte) {
  TTxService& svc = Service("S");
  Request(svc, {{A, 1}, {B, "x"}, {EXTRA, 5}});
  Reply(svc, 10, 0);
  cache.UpdateCachedCall(&svc);
  EXPECT_EQ(cache.FindService("S")->Calls[0].Key.at(1).Values.at(0).Type(), varOleStr);

  Request(svc, {{A, 1}, {B, "x"}, {EXTRA, 6}});  // EXTRA has no definition
  EXPECT_TRUE(cache.IsCachedCall(&svc));
  Request(svc, {{A, 1}, {A, 1}, {B, "x"}});  // one occurrence more
  EXPECT_FALSE(cache.IsCachedCall(&svc));
  // The framework's variants call these texts equal; a request key may not.
  ASSERT_TRUE(Variant(AnsiString("x\x01", 2)) == Variant("x"));
  Request(svc, {{A, 1}, {B, AnsiString("x\x01", 2)}});
  EXPECT_FALSE(cache.IsCachedCall(&svc));
  Request(svc, {{A, 1}, {B, "X"}});
  EXPECT_FALSE(cache.IsCachedCall(&svc));

  // A key stored under another contract is held against the buffer itself.
  TTxFbfrDef wider(nullptr);
  for (const FLDID32 id : {A, B, EXTRA}) wider.AddFldDef(id);
  svc.SetSendContract(&wider);
  Request(svc, {{A, 1}, {B, "x"}, {EXTRA, 7}});
  EXPECT_TRUE(cache.IsCachedCall(&svc));
  Request(svc, {{A, 2}, {B, "x"}, {EXTRA, 7}});
  EXPECT_FALSE(cache.IsCachedCall(&svc));
}

TEST_F(Cache, RequestWithoutContractIsKeyedByTheFieldsItHolds) {
  TTxService& svc = Service("S", {});
  Request(svc, {{A, 1}});  // its definitions are never synchronised
  Reply(svc, 10, 0);
  cache.UpdateCachedCall(&svc);
  Request(svc, {{A, 2}});
  EXPECT_FALSE(cache.IsCachedCall(&svc));
  Request(svc, {{A, 1}, {B, "y"}});
  EXPECT_FALSE(cache.IsCachedCall(&svc));
  Request(svc, {{A, 1}});
  EXPECT_TRUE(cache.IsCachedCall(&svc));
}

TEST_F(Cache, OldestCallIsDiscardedFirstAndPermanentOnesNever) {
  cache.SetBufferLimit(0);
  EXPECT_EQ(cache.GetBufferLimit(), 1048576);
  TTxService& s1 = Service("S1");
  TTxService& s2 = Service("S2");
  for (TTxService* svc : {&s1, &s2}) {  // 300,000 bytes a call
    svc->GetSendData()->SetFbfrSize(150000);
    svc->GetRecvData()->SetFbfrSize(150000);
  }
  const auto later = [] { std::this_thread::sleep_for(std::chrono::milliseconds(3)); };
  Store(s1, 1, 10);
  later();
  Store(s2, 1, 10);
  later();
  Request(s1, {{A, 1}});
  cache.InvalidateCachedCall(&s1);  // S1 now starts later than S2, though listed first
  Store(s1, 3, 10);
  later();
  Store(s1, 4, 10);
  later();
  const AnsiString added = TimeToStr(cache.FindService("S2")->Calls.front().Added);
  ui.Clear();
  Store(s1, 5, 10);  // the fourth
  EXPECT_TRUE(cache.FindService("S2")->Calls.empty());
  EXPECT_EQ(KeysOf("S1"), (std::vector<long>{3, 4, 5}));
  EXPECT_EQ(ui.DebugLines().at(0),
            "Discarding service call: S2, added=" + added +
                ", size=300000 (Buffer sizes: normal=600000 limited to:1048576, permanent=0)");
  EXPECT_EQ(ui.DebugLines().at(1),
            AnsiString("Adding/updating service call: S1, size=300000 (Buffer sizes: "
                       "normal=900000 limited to:1048576, permanent=0)"));

  cache.SetServicePermanent("S1");
  EXPECT_EQ(cache.GetBufferSize(true), 900000);
  EXPECT_EQ(cache.GetBufferSize(false), 0);
  for (long a = 1; a <= 4; ++a) Store(s2, a, 10);
  Store(s1, 6, 10);
  EXPECT_EQ(KeysOf("S2"), (std::vector<long>{2, 3, 4}));
  EXPECT_EQ(KeysOf("S1"), (std::vector<long>{3, 4, 5, 6}));
  EXPECT_EQ(cache.GetBufferSize(true), 1200000);
}

TEST_F(Cache, PermanentMarksAndClearingKeepTheRecord) {
  EXPECT_EQ(cache.GetBufferLimit(), 5242880);
  EXPECT_FALSE(cache.IsServicePermanent("P"));
  cache.SetServicePermanent("P");
  EXPECT_TRUE(cache.IsServicePermanent("P"));
  EXPECT_FALSE(cache.IsServicePermanent("p"));
  TTxService& svc = Service("N");
  Store(svc, 1, 10);
  Store(svc, 2, 10);
  cache.SetServicePermanent("N");
  EXPECT_EQ(cache.GetBufferSize(true), 16384);
  cache.ClearService("N");
  EXPECT_EQ(cache.GetBufferSize(true), 0);
  EXPECT_TRUE(cache.IsServicePermanent("N"));
  ASSERT_EQ(cache.Services().size(), 2U);
  EXPECT_EQ(cache.Services()[1].Size, 0);
}

TEST_F(Cache, CopiesThatCannotBeAllocated) {
  AtmiBuiltin::ScopedDomain domain;
  TTxService& svc = Service("S");
  Store(svc, 1, 10);
  Reply(svc, 77, 4);
  const FBFR32* before = svc.GetRecvData()->GetFbfrP();
  AtmiBuiltin::FailNextAllocation(TPEOS);
  ui.Clear();
  EXPECT_FALSE(cache.CheckCache(&svc));  // left to the service instead
  EXPECT_EQ(svc.GetRecvData()->GetFbfrP(), before);
  EXPECT_EQ(ReplyOf(svc), 77);
  EXPECT_EQ(svc.LastUrcode, 4);
  EXPECT_TRUE(ui.DebugLines().empty());
  EXPECT_EQ(tperrno, 0);

  Request(svc, {{A, 2}});
  AtmiBuiltin::FailNextAllocation(TPEOS);
  cache.UpdateCachedCall(&svc);  // stored without its reply
  EXPECT_TRUE(cache.CheckCache(&svc));
  EXPECT_EQ(svc.GetRecvData()->OccCount(REPLY), 0);
}

// ---- Execute ----------------------------------------------------------------------

int calls = 0;
void CountingService(TPSVCINFO* info) {
  ++calls;
  auto* reply = reinterpret_cast<FBFR32*>(info->data);
  long value = 500 + calls;
  Fchg32(reply, REPLY, 0, reinterpret_cast<char*>(&value), 0);
  tpreturn(Fvall32(reply, A, 0) < 0 ? TPFAIL : TPSUCCESS, 8, info->data, 0, 0);
}

class CachedExecute : public ::testing::Test {
 protected:
  void SetUp() override {
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    for (const char* name : {"CACHED", "KEPT"})
      tpadvertise(const_cast<char*>(name), CountingService);
    calls = 0;
    svc.SetServiceName("CACHED");
    svc.SetCached(true);
    Request(svc, {{A, 1}});
  }
  void TearDown() override {
    for (const char* name : {"CACHED", "KEPT"}) GlobalCacheControl()->ClearService(name);
    unsetenv("QUORCACHEDISABLED");
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
  }
  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
  TTxService svc{nullptr};
};

TEST_F(CachedExecute, SecondCallIsAnsweredWithoutTheSequence) {
  svc.Execute();
  ui.Clear();
  svc.LastUrcode = 0;
  svc.Execute();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ReplyOf(svc), 501);
  EXPECT_EQ(svc.LastUrcode, 8);
  EXPECT_TRUE(ui.CursorChanges().empty());
  EXPECT_FALSE(GlobalCacheControl()->IsServicePermanent("CACHED"));

  Request(svc, {{A, -1}});  // fails: nothing stored
  EXPECT_THROW(svc.Execute(), ETxSvcFail);
  EXPECT_FALSE(svc.IsCachedCall());
}

TEST_F(CachedExecute, SwitchesThatBypassTheCache) {
  svc.Execute();
  const std::vector<std::pair<const char*, int>> settings = {
      {"1", 2}, {"-3", 3}, {"0", 3}, {"nie", 3}, {"", 3}};
  for (const auto& [value, expected] : settings) {
    setenv("QUORCACHEDISABLED", value, 1);
    svc.Execute();
    EXPECT_EQ(calls, expected) << value;
  }
  unsetenv("QUORCACHEDISABLED");
  svc.SetDesigning(true);
  svc.Execute();
  EXPECT_EQ(calls, 4);
  svc.SetDesigning(false);
  svc.SetCached(false);
  svc.Execute();
  EXPECT_EQ(calls, 5);

  svc.SetCached(true);
  svc.SetServiceName("KEPT");
  svc.SetCacheLifetime(txcltPermanent);
  svc.Execute();
  svc.Execute();
  EXPECT_EQ(calls, 6);
  EXPECT_TRUE(GlobalCacheControl()->IsServicePermanent("KEPT"));
}

}  // namespace
}  // namespace Tx
