// FML32 engine: a ten-field table built row by row and read cell by cell,
// at 1,000 and 100,000 rows, so that the per-cell cost of both sizes can be
// compared in one run ("per_cell"); plus Foccur32, a full Fnext32 walk and
// a plain std::vector table as the baseline.
//
// The fixed cost of one call is measured beside what plain data structures
// pay for the same work ("Baseline..." cases, same sizes): Fadd32 of a long
// against a vector append, Fget32 of a cell against reading per-field
// vectors, Foccur32 against a vector's size, an Fnext32 walk against a walk
// over the vectors. Deleting early occurrences of one field of 1,000 to
// 1,000,000 occurrences shows whether a delete stays cheap at scale
// ("per_delete").
#include <fml32.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kFields = 10;

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};
using Fbfr = std::unique_ptr<FBFR32, FreeFbfr>;

// Four long, three string and three double columns, interleaved.
FLDID32 Column(int field) {
  const int types[kFields] = {FLD_LONG, FLD_STRING, FLD_DOUBLE, FLD_LONG, FLD_STRING,
                              FLD_DOUBLE, FLD_LONG, FLD_STRING, FLD_DOUBLE, FLD_LONG};
  return Fmkfldid32(types[field], static_cast<FLDID32>(1000 + field));
}

std::string CellText(long row, int field) { return "row " + std::to_string(row) + " col " + std::to_string(field); }

Fbfr AllocTable(long rows) {
  const auto cells = static_cast<FLDOCC32>(rows * kFields);
  return Fbfr(Falloc32(cells, static_cast<FLDLEN32>(cells * 24)));
}

void AddRow(FBFR32* fbfr, long row, const std::vector<std::string>& texts) {
  for (int field = 0; field < kFields; ++field) {
    const FLDID32 id = Column(field);
    int rc = 0;
    switch (Fldtype32(id)) {
      case FLD_LONG: {
        long value = row * kFields + field;
        rc = Fadd32(fbfr, id, reinterpret_cast<char*>(&value), 0);
        break;
      }
      case FLD_DOUBLE: {
        double value = static_cast<double>(row) + field / 10.0;
        rc = Fadd32(fbfr, id, reinterpret_cast<char*>(&value), 0);
        break;
      }
      default:
        rc = Fadd32(fbfr, id, const_cast<char*>(texts[static_cast<std::size_t>(field)].c_str()), 0);
        break;
    }
    if (rc != 1) {
      std::fprintf(stderr, "Fadd32 failed: %s\n", Fstrerror32(Ferror32));
      std::abort();
    }
  }
}

Fbfr BuildTable(long rows) {
  Fbfr fbfr = AllocTable(rows);
  std::vector<std::string> texts(kFields);
  for (long row = 0; row < rows; ++row) {
    for (int field = 0; field < kFields; ++field) texts[static_cast<std::size_t>(field)] = CellText(row, field);
    AddRow(fbfr.get(), row, texts);
  }
  return fbfr;
}

void CountCells(benchmark::State& state, long cells) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * cells);
  state.counters["per_cell"] = benchmark::Counter(static_cast<double>(cells),
                                                  benchmark::Counter::kIsIterationInvariantRate |
                                                      benchmark::Counter::kInvert);
}

void BM_BuildTableRowByRow(benchmark::State& state) {
  const long rows = state.range(0);
  // The texts are prepared outside the measured loop; only Fadd32 is timed.
  std::vector<std::vector<std::string>> texts(static_cast<std::size_t>(rows), std::vector<std::string>(kFields));
  for (long row = 0; row < rows; ++row) {
    for (int field = 0; field < kFields; ++field) {
      texts[static_cast<std::size_t>(row)][static_cast<std::size_t>(field)] = CellText(row, field);
    }
  }
  for (auto _ : state) {
    state.PauseTiming();
    Fbfr fbfr = AllocTable(rows);
    state.ResumeTiming();
    for (long row = 0; row < rows; ++row) AddRow(fbfr.get(), row, texts[static_cast<std::size_t>(row)]);
    benchmark::DoNotOptimize(fbfr.get());
    state.PauseTiming();
    fbfr.reset();
    state.ResumeTiming();
  }
  CountCells(state, rows * kFields);
}

void BM_ReadCellsWithFget(benchmark::State& state) {
  const long rows = state.range(0);
  Fbfr fbfr = BuildTable(rows);
  char value[64];
  for (auto _ : state) {
    for (long row = 0; row < rows; ++row) {
      for (int field = 0; field < kFields; ++field) {
        FLDLEN32 len = sizeof value;
        if (Fget32(fbfr.get(), Column(field), static_cast<FLDOCC32>(row), value, &len) != 1) std::abort();
        benchmark::DoNotOptimize(value);
      }
    }
  }
  CountCells(state, rows * kFields);
}

void BM_ReadCellsWithFfind(benchmark::State& state) {
  const long rows = state.range(0);
  Fbfr fbfr = BuildTable(rows);
  for (auto _ : state) {
    for (long row = 0; row < rows; ++row) {
      for (int field = 0; field < kFields; ++field) {
        FLDLEN32 len = 0;
        const char* value = Ffind32(fbfr.get(), Column(field), static_cast<FLDOCC32>(row), &len);
        if (value == nullptr) std::abort();
        benchmark::DoNotOptimize(value);
      }
    }
  }
  CountCells(state, rows * kFields);
}

// A random row at a time: the cost of finding any occurrence.
void BM_ReadRandomCells(benchmark::State& state) {
  const long rows = state.range(0);
  Fbfr fbfr = BuildTable(rows);
  unsigned seed = 12345;
  for (auto _ : state) {
    seed = seed * 1103515245u + 12345u;
    const auto row = static_cast<FLDOCC32>((seed >> 8) % static_cast<unsigned>(rows));
    const char* value = Ffind32(fbfr.get(), Column(static_cast<int>(seed % kFields)), row, nullptr);
    benchmark::DoNotOptimize(value);
  }
}

void BM_FoccurAllColumns(benchmark::State& state) {
  const long rows = state.range(0);
  Fbfr fbfr = BuildTable(rows);
  for (auto _ : state) {
    for (int field = 0; field < kFields; ++field) benchmark::DoNotOptimize(Foccur32(fbfr.get(), Column(field)));
  }
}

void BM_FnextWalk(benchmark::State& state) {
  const long rows = state.range(0);
  Fbfr fbfr = BuildTable(rows);
  for (auto _ : state) {
    FLDID32 id = FIRSTFLDID;
    FLDOCC32 oc = 0;
    long seen = 0;
    while (Fnext32(fbfr.get(), &id, &oc, nullptr, nullptr) == 1) ++seen;
    if (seen != rows * kFields) std::abort();
  }
  CountCells(state, rows * kFields);
}

// Baseline: the same table as a vector of rows, built and read the same way.
struct Row {
  long longs[4];
  std::string texts[3];
  double doubles[3];
};

void BM_BaselineVectorTable(benchmark::State& state) {
  const long rows = state.range(0);
  for (auto _ : state) {
    std::vector<Row> table;
    for (long row = 0; row < rows; ++row) {
      Row r{};
      for (int i = 0; i < 4; ++i) r.longs[i] = row + i;
      for (int i = 0; i < 3; ++i) r.texts[i] = "row text";
      for (int i = 0; i < 3; ++i) r.doubles[i] = static_cast<double>(row) + i;
      table.push_back(std::move(r));
    }
    double sum = 0;
    for (const Row& r : table) sum += static_cast<double>(r.longs[0] + r.longs[3]) + r.doubles[2] + r.texts[1].size();
    benchmark::DoNotOptimize(sum);
  }
  CountCells(state, rows * kFields * 2);
}

// --- Fixed cost per call, each beside its plain baseline --------------------

// One long field, `count` values appended into a buffer emptied by Finit32.
void BM_FaddLong(benchmark::State& state) {
  const long count = state.range(0);
  Fbfr fbfr(Falloc32(static_cast<FLDOCC32>(count), static_cast<FLDLEN32>(count * sizeof(long))));
  const FLDID32 id = Column(0);
  const auto size = static_cast<FLDLEN32>(Fsizeof32(fbfr.get()));
  for (auto _ : state) {
    Finit32(fbfr.get(), size);
    for (long i = 0; i < count; ++i) {
      if (Fadd32(fbfr.get(), id, reinterpret_cast<char*>(&i), 0) != 1) std::abort();
    }
  }
  CountCells(state, count);
}

void BM_BaselineVectorAppend(benchmark::State& state) {
  const long count = state.range(0);
  std::vector<long> values;
  values.reserve(static_cast<std::size_t>(count));
  for (auto _ : state) {
    values.clear();
    for (long i = 0; i < count; ++i) values.push_back(i);
    benchmark::DoNotOptimize(values.data());
    benchmark::ClobberMemory();
  }
  CountCells(state, count);
}

// The table as ten per-field vectors: what Fget32, Foccur32 and Fnext32
// are compared with.
struct ColumnTable {
  std::vector<long> longs[4];
  std::vector<std::string> texts[3];
  std::vector<double> doubles[3];
};

ColumnTable BuildColumns(long rows) {
  ColumnTable table;
  for (long row = 0; row < rows; ++row) {
    for (int i = 0; i < 4; ++i) table.longs[i].push_back(row * kFields + i);
    for (int i = 0; i < 3; ++i) table.texts[i].push_back(CellText(row, i));
    for (int i = 0; i < 3; ++i) table.doubles[i].push_back(static_cast<double>(row) + i);
  }
  return table;
}

// Copies one cell out, as Fget32 does: numbers by value, texts by bytes.
void BM_BaselineReadCells(benchmark::State& state) {
  const long rows = state.range(0);
  const ColumnTable table = BuildColumns(rows);
  char value[64];
  for (auto _ : state) {
    for (long row = 0; row < rows; ++row) {
      const auto at = static_cast<std::size_t>(row);
      for (int i = 0; i < 4; ++i) {
        std::memcpy(value, &table.longs[i][at], sizeof(long));
        benchmark::DoNotOptimize(value);
      }
      for (int i = 0; i < 3; ++i) {
        const std::string& text = table.texts[i][at];
        std::memcpy(value, text.c_str(), text.size() + 1);
        benchmark::DoNotOptimize(value);
      }
      for (int i = 0; i < 3; ++i) {
        std::memcpy(value, &table.doubles[i][at], sizeof(double));
        benchmark::DoNotOptimize(value);
      }
    }
  }
  CountCells(state, rows * kFields);
}

void BM_BaselineVectorSizes(benchmark::State& state) {
  const long rows = state.range(0);
  const ColumnTable table = BuildColumns(rows);
  for (auto _ : state) {
    for (int i = 0; i < 4; ++i) benchmark::DoNotOptimize(table.longs[i].size());
    for (int i = 0; i < 3; ++i) benchmark::DoNotOptimize(table.texts[i].size());
    for (int i = 0; i < 3; ++i) benchmark::DoNotOptimize(table.doubles[i].size());
  }
}

void BM_BaselineWalk(benchmark::State& state) {
  const long rows = state.range(0);
  const ColumnTable table = BuildColumns(rows);
  for (auto _ : state) {
    long seen = 0;
    for (int i = 0; i < 4; ++i) {
      for (const long& value : table.longs[i]) {
        benchmark::DoNotOptimize(&value);
        ++seen;
      }
    }
    for (int i = 0; i < 3; ++i) {
      for (const std::string& value : table.texts[i]) {
        benchmark::DoNotOptimize(&value);
        ++seen;
      }
    }
    for (int i = 0; i < 3; ++i) {
      for (const double& value : table.doubles[i]) {
        benchmark::DoNotOptimize(&value);
        ++seen;
      }
    }
    if (seen != rows * kFields) std::abort();
  }
  CountCells(state, rows * kFields);
}

// --- Deletes at scale ------------------------------------------------------

// A field of `count` longs; each round deletes 1,000 occurrences (or a
// quarter of a smaller field) at random positions among the first
// `window`. Once the field is down to three quarters of its size it is
// filled up again at the end, untimed.
void DeleteOccurrences(benchmark::State& state, long count, long window) {
  const long perRound = std::min(count / 4, 1000L);
  Fbfr fbfr(Falloc32(static_cast<FLDOCC32>(count), static_cast<FLDLEN32>(count * sizeof(long))));
  const FLDID32 id = Column(0);
  const auto fill = [&] {
    for (long i = Foccur32(fbfr.get(), id); i < count; ++i) {
      if (Fadd32(fbfr.get(), id, reinterpret_cast<char*>(&i), 0) != 1) std::abort();
    }
  };
  fill();
  unsigned seed = 7;
  for (auto _ : state) {
    const long present = Foccur32(fbfr.get(), id);
    for (long i = 0; i < perRound; ++i) {
      seed = seed * 1103515245u + 12345u;
      const auto positions = static_cast<unsigned>(std::min(window, present - i));
      if (Fdel32(fbfr.get(), id, static_cast<FLDOCC32>((seed >> 8) % positions)) != 1) std::abort();
    }
    if (present - perRound <= count * 3 / 4) {
      state.PauseTiming();
      fill();
      state.ResumeTiming();
    }
  }
  state.counters["per_delete"] = benchmark::Counter(static_cast<double>(perRound),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

// Early occurrences: among the first tenth, at most the first 1,000.
void BM_DeleteEarlyOccurrences(benchmark::State& state) {
  DeleteOccurrences(state, state.range(0), std::min(state.range(0) / 10, 1000L));
}

// Anywhere in the field: at a million occurrences each delete also pays
// for reaching memory that no cache holds.
void BM_DeleteAnywhere(benchmark::State& state) { DeleteOccurrences(state, state.range(0), state.range(0)); }

BENCHMARK(BM_FaddLong)->Arg(1000);
BENCHMARK(BM_BaselineVectorAppend)->Arg(1000);
BENCHMARK(BM_BaselineReadCells)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineVectorSizes)->Arg(1000);
BENCHMARK(BM_BaselineWalk)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteEarlyOccurrences)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeleteAnywhere)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_BuildTableRowByRow)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCellsWithFget)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCellsWithFfind)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRandomCells)->Arg(1000)->Arg(100000);
BENCHMARK(BM_FoccurAllColumns)->Arg(1000)->Arg(100000);
BENCHMARK(BM_FnextWalk)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BaselineVectorTable)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
