// Growth of a TTxFbfr: appending through EnsureSpace + Fchg32 grows the
// buffer by at least 4 KB at a time, so a run of small appends copies the
// buffer about once per 4 KB of new data. Compared with the same appends
// into a buffer that is large enough from the start.
#include <benchmark/benchmark.h>

#include <atmi.h>
#include <fml32.h>

#include "buffer/TxFbfr.h"

namespace {

const FLDID32 kValue = Fmkfldid32(FLD_LONG, 301);

void AppendThroughEnsureSpace(benchmark::State& state) {
  const long count = state.range(0);
  long growths = 0;
  long finalSize = 0;
  for (auto _ : state) {
    Tx::TTxFbfr buffer(nullptr, 4096);
    growths = 0;
    long size = buffer.GetFbfrSize();
    for (long i = 0; i < count; ++i) {
      buffer.EnsureSpace(kValue, -1, sizeof(long));
      Fchg32(buffer.GetFbfrP(), kValue, -1, reinterpret_cast<char*>(&i), 0);
      const long now = buffer.GetFbfrSize();
      if (now != size) ++growths;
      size = now;
    }
    finalSize = size;
    benchmark::DoNotOptimize(buffer.GetFbfrP());
  }
  state.counters["growths"] = static_cast<double>(growths);
  state.counters["final_KB"] = static_cast<double>(finalSize) / 1024.0;
  state.counters["KB_per_growth"] = static_cast<double>(finalSize - 4096) / 1024.0 /
                                    static_cast<double>(growths > 0 ? growths : 1);
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(AppendThroughEnsureSpace)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Baseline: the same appends into a buffer allocated at its final size.
void AppendIntoPresizedBuffer(benchmark::State& state) {
  const long count = state.range(0);
  const long size = Fneeded32(static_cast<FLDOCC32>(count), sizeof(long)) + 4096;
  for (auto _ : state) {
    Tx::TTxFbfr buffer(nullptr, static_cast<int>(size));
    for (long i = 0; i < count; ++i)
      Fchg32(buffer.GetFbfrP(), kValue, -1, reinterpret_cast<char*>(&i), 0);
    benchmark::DoNotOptimize(buffer.GetFbfrP());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(AppendIntoPresizedBuffer)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
