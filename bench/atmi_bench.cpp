// Builtin ATMI: the cost of a service call round trip through the in-process
// domain (request copy, dispatch, reply copy) for a 20-field FML32 request,
// synchronous and asynchronous, and of tpalloc/tpfree; each next to the bare
// FML32 work it contains as the baseline.
#include <atmi.h>
#include <fml32.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "platform/tuxedo/builtin/atmi_control.h"
#include "platform/tuxedo/builtin/atmi_testing.h"

namespace {

using Tx::AtmiBuiltin::TpBuffer;

void Echo(TPSVCINFO* request) { tpreturn(TPSUCCESS, 0, request->data, request->len, 0); }

// Ten longs and ten strings.
void FillRequest(FBFR32* fbfr) {
  for (int field = 0; field < 10; ++field) {
    long value = field * 1000;
    Fadd32(fbfr, Fmkfldid32(FLD_LONG, 1000 + field), reinterpret_cast<char*>(&value), 0);
    const std::string text = "wartość " + std::to_string(field);
    Fadd32(fbfr, Fmkfldid32(FLD_STRING, 2000 + field), const_cast<char*>(text.c_str()), 0);
  }
}

struct EchoDomain {
  EchoDomain() {
    tpadvertise(const_cast<char*>("ECHO"), Echo);
    tpinit(nullptr);
    FillRequest(request.fbfr());
  }
  Tx::AtmiBuiltin::ScopedDomain domain;
  TpBuffer request{"FML32", 4096};
  TpBuffer reply{"FML32", 4096};
};

void BM_TpcallRoundTrip(benchmark::State& state) {
  EchoDomain echo;
  long length = 0;
  for (auto _ : state) {
    if (tpcall(const_cast<char*>("ECHO"), echo.request.get(), 0, echo.reply.out(), &length,
               TPNOTIME) != 0) {
      state.SkipWithError("tpcall failed");
      break;
    }
    benchmark::DoNotOptimize(length);
  }
}
BENCHMARK(BM_TpcallRoundTrip);

// Ten requests out, then ten replies in; per request.
void BM_TpacallThenGetrply(benchmark::State& state) {
  EchoDomain echo;
  long length = 0;
  for (auto _ : state) {
    for (int i = 0; i < 10; ++i) tpacall(const_cast<char*>("ECHO"), echo.request.get(), 0, 0);
    for (int i = 0; i < 10; ++i) {
      int cd = 0;
      if (tpgetrply(&cd, echo.reply.out(), &length, TPGETANY) != 0) {
        state.SkipWithError("tpgetrply failed");
        return;
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_TpacallThenGetrply);

// Baseline: the two whole-buffer copies a round trip makes, without the domain.
void BM_Baseline_TwoFcpy32(benchmark::State& state) {
  TpBuffer request("FML32", 4096);
  TpBuffer copy("FML32", 4096);
  TpBuffer reply("FML32", 4096);
  FillRequest(request.fbfr());
  for (auto _ : state) {
    Fcpy32(copy.fbfr(), request.fbfr());
    Fcpy32(reply.fbfr(), copy.fbfr());
    benchmark::DoNotOptimize(reply.get());
  }
}
BENCHMARK(BM_Baseline_TwoFcpy32);

void BM_TpallocTpfree(benchmark::State& state) {
  for (auto _ : state) {
    char* buffer = tpalloc(const_cast<char*>("FML32"), nullptr, 4096);
    benchmark::DoNotOptimize(buffer);
    tpfree(buffer);
  }
}
BENCHMARK(BM_TpallocTpfree);

// Baseline: the same block from calloc, made an empty buffer by Finit32.
void BM_Baseline_CallocFinit32(benchmark::State& state) {
  for (auto _ : state) {
    char* block = static_cast<char*>(std::calloc(4096, 1));
    Finit32(reinterpret_cast<FBFR32*>(block), 4096);
    benchmark::DoNotOptimize(block);
    std::free(block);
  }
}
BENCHMARK(BM_Baseline_CallocFinit32);

}  // namespace
