// Service calls: a round trip through TTxService::Execute, direct and
// routed through ROUTER, for requests of about 1 KB and 100 KB, next to a
// bare tpcall of the same request as the baseline; and a reply taken from
// the cache with 10, 1,000 and 10,000 calls of the service stored.
#include <atmi.h>
#include <benchmark/benchmark.h>
#include <fml32.h>

#include <string>

#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "service/TxServic.h"
#include "service/TxServiceCache.h"

namespace {

using namespace Tx;

const FLDID32 AMOUNT = Fmkfldid32(FLD_LONG, 201);
const FLDID32 PAYLOAD = Fmkfldid32(FLD_CARRAY, 202);
const FLDID32 REPLY = Fmkfldid32(FLD_LONG, 203);

void Echo(TPSVCINFO* request) { tpreturn(TPSUCCESS, 0, request->data, request->len, 0); }

// A request of one long and a carray of Bytes bytes.
void FillRequest(TTxFbfr& request, long bytes) {
  request.Clear();
  request.AppendOcc(AMOUNT, 100);
  request.AppendOcc(PAYLOAD, AnsiString(std::string(static_cast<std::size_t>(bytes), 'x')));
}

struct EchoDomain {
  explicit EchoDomain(bool router) {
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    for (const char* name : {"ECHO", "ROUTER"}) tpadvertise(const_cast<char*>(name), Echo);
    TTxGlobalClient::GetSession()->put_UseRouter(ToVariantBool(router));
    TTxGlobalClient::Connect();
  }
  ~EchoDomain() {
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
  }
  AtmiBuiltin::ScopedDomain domain;
};

void BM_Execute(benchmark::State& state, bool router) {
  EchoDomain echo(router);
  TTxService service(nullptr);
  service.SetServiceName("ECHO");
  FillRequest(*service.GetSendData(), state.range(0));
  for (auto _ : state) service.Execute();
  state.SetBytesProcessed(state.iterations() * Fused32(service.GetSendData()->GetFbfrP()));
}
void BM_ExecuteDirect(benchmark::State& state) { BM_Execute(state, false); }
void BM_ExecuteRouted(benchmark::State& state) { BM_Execute(state, true); }
BENCHMARK(BM_ExecuteDirect)->Arg(1000)->Arg(100000);
BENCHMARK(BM_ExecuteRouted)->Arg(1000)->Arg(100000);

// Baseline: tpcall of the same request between two buffers of the same sizes.
void BM_Baseline_Tpcall(benchmark::State& state) {
  EchoDomain echo(false);
  TTxFbfr request(nullptr, 4096);
  TTxFbfr reply(nullptr, 4096);
  FillRequest(request, state.range(0));
  long length = 0;
  for (auto _ : state) {
    if (tpcall(const_cast<char*>("ECHO"), reinterpret_cast<char*>(request.GetFbfrP()), 0,
               reinterpret_cast<char**>(reply.GetFbfrPP()), &length, TPNOTIME) != 0) {
      state.SkipWithError("tpcall failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * Fused32(request.GetFbfrP()));
}
BENCHMARK(BM_Baseline_Tpcall)->Arg(1000)->Arg(100000);

// Execute answered from the cache holding N calls of the service; the
// request is that of the newest call, so the walk over the calls is whole.
void BM_CacheHit(benchmark::State& state) {
  const long stored = state.range(0);
  ICacheControl* cache = GlobalCacheControl();
  cache->SetBufferLimit(1 << 30);
  TTxService service(nullptr);
  service.SetServiceName(("HIT" + std::to_string(stored)).c_str());
  service.SetCached(true);
  TTxFbfrDef contract(nullptr);
  contract.AddFldDef(AMOUNT);
  service.SetSendContract(&contract);
  for (long i = 0; i < stored; ++i) {
    service.GetSendData()->Clear();
    service.GetSendData()->AppendOcc(AMOUNT, static_cast<int>(i));
    service.GetRecvData()->Clear();
    service.GetRecvData()->AppendOcc(REPLY, static_cast<int>(i * 2));
    cache->UpdateCachedCall(&service);
  }
  for (auto _ : state) service.Execute();
  if (service.GetRecvData()->OccValue(REPLY, 0).AsInteger() != (stored - 1) * 2) {
    state.SkipWithError("not answered from the cache");
  }
  cache->ClearService(service.GetServiceName());
}
BENCHMARK(BM_CacheHit)->Arg(10)->Arg(1000)->Arg(10000);

// Baseline: a bare copy of the same reply, which is what a hit cannot avoid.
void BM_Baseline_ReplyCopy(benchmark::State& state) {
  TTxFbfr reply(nullptr, 4096);
  reply.AppendOcc(REPLY, 2);
  for (auto _ : state) {
    char* copy = tpalloc(const_cast<char*>("FML32"), nullptr, reply.GetFbfrSize());
    Fcpy32(reinterpret_cast<FBFR32*>(copy), reply.GetFbfrP());
    tpfree(copy);
  }
}
BENCHMARK(BM_Baseline_ReplyCopy);

}  // namespace
