// FML32 whole-buffer operations on a ten-field table of 1,000 and 100,000
// rows: Fupdate32, Fconcat32, Fproj32, Fcmp32, Fchksum32 and a
// Fwrite32/Fread32 round trip, each beside Fcpy32 of the same buffer (the
// least any of them can do). "per_cell" at both sizes shows whether the
// cost stays linear.
#include <fml32.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr int kFields = 10;

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};
using Fbfr = std::unique_ptr<FBFR32, FreeFbfr>;

FLDID32 Column(int field) {
  return Fmkfldid32(field % 2 == 0 ? FLD_LONG : FLD_STRING, static_cast<FLDID32>(2000 + field));
}

Fbfr Table(long rows, int firstField = 0, int lastField = kFields) {
  const auto cells = static_cast<FLDOCC32>(rows * kFields);
  Fbfr fbfr(Falloc32(cells * 3, static_cast<FLDLEN32>(cells * 48)));
  for (long row = 0; row < rows; ++row) {
    for (int field = firstField; field < lastField; ++field) {
      long number = row * kFields + field;
      const std::string text = "row " + std::to_string(row);
      char* value = field % 2 == 0 ? reinterpret_cast<char*>(&number) : const_cast<char*>(text.c_str());
      if (Fadd32(fbfr.get(), Column(field), value, 0) != 1) std::abort();
    }
  }
  return fbfr;
}

void CountCells(benchmark::State& state, long cells) {
  state.counters["per_cell"] = benchmark::Counter(static_cast<double>(cells),
                                                  benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

// Runs `operation` on a fresh copy of `source` each iteration (the copy is
// not timed).
template <typename Operation>
void OnCopies(benchmark::State& state, FBFR32* source, Operation operation) {
  Fbfr work(Falloc32(1, static_cast<FLDLEN32>(Fsizeof32(source))));
  for (auto _ : state) {
    state.PauseTiming();
    if (Fcpy32(work.get(), source) != 1) std::abort();
    state.ResumeTiming();
    if (operation(work.get()) != 1) std::abort();
  }
  CountCells(state, state.range(0) * kFields);
}

void BM_Fcpy(benchmark::State& state) {
  Fbfr table = Table(state.range(0));
  Fbfr work(Falloc32(1, static_cast<FLDLEN32>(Fsizeof32(table.get()))));
  for (auto _ : state) {
    if (Fcpy32(work.get(), table.get()) != 1) std::abort();
  }
  CountCells(state, state.range(0) * kFields);
}

void BM_Fupdate(benchmark::State& state) {
  Fbfr table = Table(state.range(0));
  Fbfr changes = Table(state.range(0), 0, kFields / 2);
  OnCopies(state, table.get(), [&](FBFR32* work) { return Fupdate32(work, changes.get()); });
}

void BM_Fconcat(benchmark::State& state) {
  Fbfr half = Table(state.range(0), 0, kFields / 2);
  Fbfr other = Table(state.range(0), kFields / 2, kFields);
  OnCopies(state, half.get(), [&](FBFR32* work) { return Fconcat32(work, other.get()); });
}

void BM_Fproj(benchmark::State& state) {
  Fbfr table = Table(state.range(0));
  OnCopies(state, table.get(), [](FBFR32* work) {
    FLDID32 keep[] = {Column(1), Column(4), Column(7), BADFLDID};
    return Fproj32(work, keep);
  });
}

void BM_Fcmp(benchmark::State& state) {
  Fbfr one = Table(state.range(0));
  Fbfr two = Table(state.range(0));
  for (auto _ : state) {
    if (Fcmp32(one.get(), two.get()) != 0) std::abort();
  }
  CountCells(state, state.range(0) * kFields);
}

void BM_Fchksum(benchmark::State& state) {
  Fbfr table = Table(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(Fchksum32(table.get()));
  CountCells(state, state.range(0) * kFields);
}

void BM_FwriteFread(benchmark::State& state) {
  Fbfr table = Table(state.range(0));
  Fbfr read(Falloc32(1, static_cast<FLDLEN32>(Fsizeof32(table.get()))));
  for (auto _ : state) {
    FILE* file = std::tmpfile();
    if (Fwrite32(table.get(), file) != 1) std::abort();
    std::rewind(file);
    if (Fread32(read.get(), file) != 1) std::abort();
    std::fclose(file);
  }
  CountCells(state, state.range(0) * kFields);
}

BENCHMARK(BM_Fcpy)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fupdate)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fconcat)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fproj)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fcmp)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fchksum)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FwriteFread)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
