// The cursor engine on a table of 5 integer and 5 string (20 characters)
// columns at 1,000, 10,000 and 100,000 rows: appending rows, a full scan,
// building a 2-key index, posting and deleting in a sorted table and moving
// by bookmark. Each case has a raw FML32 baseline beside it doing the same
// buffer work with Fadd32/Ffind32/Fchg32/Fdel32, so the engine's own share
// reads as a ratio in one run. "per_row" and "per_cell" are times per unit.
#include <fml32.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dataset/TxMti.h"

namespace {

using Tx::TTxMti;

constexpr int kColumns = 10;
constexpr int kTextSize = 20;

FLDID32 ColumnId(int column) {
  return Fmkfldid32(column < 5 ? FLD_LONG : FLD_STRING, static_cast<FLDID32>(2000 + column));
}

// Deterministic cell values: integers spread over the rows, texts with a varying head.
std::int32_t IntValue(long row, int column) { return static_cast<std::int32_t>((row * 7919 + column * 104729) % 1000003); }
std::string TextValue(long row, int column) {
  char text[kTextSize + 1];
  std::snprintf(text, sizeof text, "%c%c name %06ld c%d", 'a' + static_cast<int>((row * 31 + column) % 26),
                'a' + static_cast<int>((row * 17) % 26), (row * 7919) % 1000000, column);
  return text;
}

// A contracted buffer, presized for the rows so that growth is not measured
// here (BM_MtiAppendGrowing measures it).
struct Table {
  explicit Table(long rows, bool presized = true)
      : buffer(nullptr, presized ? static_cast<int>(rows * 320 + 4096) : 4096) {
    buffer.Contract = &contract;
    for (int column = 0; column < kColumns; ++column) {
      Tx::TTxFbfrFldDef* def = contract.AddFldDef(ColumnId(column));
      def->SetTxFldName(Tx::AnsiString((column < 5 ? "I" : "S") + std::to_string(column % 5 + 1)));
      if (column >= 5) def->SetMaxSize(kTextSize);
    }
    mti.SetTxFbfr(&buffer);
    mti.Open();
    Tx::CURProps props;
    mti.GetCursorProps(&props);
    record.assign(static_cast<std::size_t>(props.iRecBufSize), 0);
    texts.reserve(static_cast<std::size_t>(rows) * 5);
    for (long row = 0; row < rows; ++row)
      for (int column = 5; column < kColumns; ++column) texts.push_back(TextValue(row, column));
  }
  void FillRecord(long row) {
    for (int column = 0; column < kColumns; ++column) {
      if (column < 5) {
        const std::int32_t value = IntValue(row, column);
        mti.PutField(column + 1, record.data(), &value);
      } else {
        char text[kTextSize + 1] = {};
        const std::string& value = Text(row, column);
        std::memcpy(text, value.data(), value.size());
        mti.PutField(column + 1, record.data(), text);
      }
    }
  }
  // The texts of the first rows are made before the clock runs.
  const std::string& Text(long row, int column) {
    const auto at = static_cast<std::size_t>(row * 5 + column - 5);
    if (at < texts.size()) return texts[at];
    scratch = TextValue(row, column);
    return scratch;
  }
  std::vector<std::string> texts;
  std::string scratch;
  void Fill(long rows) {
    for (long row = 0; row < rows; ++row) {
      FillRecord(row);
      mti.AppendRecord(record.data());
    }
  }
  Tx::TTxFbfrDef contract{nullptr};
  Tx::TTxFbfr buffer;
  TTxMti mti;
  std::vector<unsigned char> record;
};

void RawAddRow(FBFR32* fbfr, long row, const std::vector<std::string>& texts) {
  for (int column = 0; column < kColumns; ++column) {
    int rc;
    if (column < 5) {
      std::int32_t value = IntValue(row, column);
      long wide = value;
      rc = Fadd32(fbfr, ColumnId(column), reinterpret_cast<char*>(&wide), 0);
    } else {
      rc = Fadd32(fbfr, ColumnId(column), const_cast<char*>(texts[static_cast<std::size_t>(column)].c_str()), 0);
    }
    if (rc == -1) {
      std::fprintf(stderr, "Fadd32: %s\n", Fstrerror32(Ferror32));
      std::abort();
    }
  }
}

struct FreeFbfr {
  void operator()(FBFR32* fbfr) const { Ffree32(fbfr); }
};
using Fbfr = std::unique_ptr<FBFR32, FreeFbfr>;

Fbfr RawTable(long rows) {
  Fbfr fbfr(Falloc32(static_cast<FLDOCC32>(rows * kColumns + 16), static_cast<FLDLEN32>(rows * 320 + 4096)));
  std::vector<std::string> texts(kColumns);
  for (long row = 0; row < rows; ++row) {
    for (int column = 5; column < kColumns; ++column) texts[static_cast<std::size_t>(column)] = TextValue(row, column);
    RawAddRow(fbfr.get(), row, texts);
  }
  return fbfr;
}

void PerUnit(benchmark::State& state, const char* name, double units) {
  state.counters[name] =
      benchmark::Counter(units, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// ---- Appending ------------------------------------------------------------------------

void BM_MtiAppend(benchmark::State& state) {
  const long rows = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<Table>(rows);
    state.ResumeTiming();
    table->Fill(rows);
    benchmark::DoNotOptimize(table->buffer.GetFbfrP());
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerUnit(state, "per_row", static_cast<double>(rows));
}

void BM_RawAppend(benchmark::State& state) {
  const long rows = state.range(0);
  std::vector<std::vector<std::string>> texts(static_cast<std::size_t>(rows), std::vector<std::string>(kColumns));
  for (long row = 0; row < rows; ++row)
    for (int column = 5; column < kColumns; ++column)
      texts[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = TextValue(row, column);
  for (auto _ : state) {
    state.PauseTiming();
    Fbfr fbfr(Falloc32(static_cast<FLDOCC32>(rows * kColumns + 16), static_cast<FLDLEN32>(rows * 320 + 4096)));
    state.ResumeTiming();
    for (long row = 0; row < rows; ++row) RawAddRow(fbfr.get(), row, texts[static_cast<std::size_t>(row)]);
    benchmark::DoNotOptimize(fbfr.get());
  }
  PerUnit(state, "per_row", static_cast<double>(rows));
}

// The buffer object's own appends (AppendOcc with a variant per cell), on
// which the engine's append rests.
void BM_FbfrAppend(benchmark::State& state) {
  const long rows = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<Table>(rows);
    state.ResumeTiming();
    for (long row = 0; row < rows; ++row) {
      for (int column = 0; column < kColumns; ++column) {
        if (column < 5) {
          table->buffer.AppendOcc(ColumnId(column), Tx::Variant(static_cast<int>(IntValue(row, column))));
        } else {
          table->buffer.AppendOcc(ColumnId(column), Tx::Variant(Tx::AnsiString(table->Text(row, column))));
        }
      }
    }
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerUnit(state, "per_row", static_cast<double>(rows));
}

// From a 4 KB buffer, growing through the buffer object.
void BM_MtiAppendGrowing(benchmark::State& state) {
  const long rows = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto table = std::make_unique<Table>(rows, false);
    state.ResumeTiming();
    table->Fill(rows);
    state.PauseTiming();
    table.reset();
    state.ResumeTiming();
  }
  PerUnit(state, "per_row", static_cast<double>(rows));
}

// ---- Scanning ----------------------------------------------------------------------------

void BM_MtiScan(benchmark::State& state) {
  const long rows = state.range(0);
  Table table(rows);
  table.Fill(rows);
  for (auto _ : state) {
    table.mti.SetToBegin();
    while (table.mti.GetNextRecord(Tx::dbiNOLOCK, table.record.data(), nullptr) == Tx::DBIERR_NONE)
      benchmark::DoNotOptimize(table.record.data());
  }
  PerUnit(state, "per_cell", static_cast<double>(rows * kColumns));
}

void BM_RawScan(benchmark::State& state) {
  const long rows = state.range(0);
  Fbfr fbfr = RawTable(rows);
  std::vector<unsigned char> record(4 + 5 * 5 + 5 * 22);
  for (auto _ : state) {
    for (long row = 0; row < rows; ++row) {
      unsigned char* slot = record.data() + 4;
      for (int column = 0; column < kColumns; ++column) {
        FLDLEN32 length = 0;
        const char* value = Ffind32(fbfr.get(), ColumnId(column), static_cast<FLDOCC32>(row), &length);
        if (!value) std::abort();
        const std::size_t size = column < 5 ? 4 : 21;
        std::memcpy(slot + 1, value, std::min<std::size_t>(size, length));
        slot += size + 1;
      }
      benchmark::DoNotOptimize(record.data());
    }
  }
  PerUnit(state, "per_cell", static_cast<double>(rows * kColumns));
}

// ---- Indexes ------------------------------------------------------------------------------

void BM_MtiBuildIndex(benchmark::State& state) {
  const long rows = state.range(0);
  Table table(rows);
  table.Fill(rows);
  for (auto _ : state) {
    table.mti.MakeIndex("S1,\\I1");
    state.PauseTiming();
    table.mti.MakeIndex("");
    state.ResumeTiming();
  }
  PerUnit(state, "per_row", static_cast<double>(rows));
}

// Reads both keys of every row and sorts by plain byte comparison.
void BM_RawBuildIndex(benchmark::State& state) {
  const long rows = state.range(0);
  Fbfr fbfr = RawTable(rows);
  for (auto _ : state) {
    std::vector<std::pair<std::string, std::int32_t>> keys(static_cast<std::size_t>(rows));
    for (long row = 0; row < rows; ++row) {
      keys[static_cast<std::size_t>(row)].first = Ffind32(fbfr.get(), ColumnId(5), static_cast<FLDOCC32>(row), nullptr);
      keys[static_cast<std::size_t>(row)].second =
          static_cast<std::int32_t>(*reinterpret_cast<long*>(Ffind32(fbfr.get(), ColumnId(0), static_cast<FLDOCC32>(row), nullptr)));
    }
    std::vector<int> order(static_cast<std::size_t>(rows));
    for (long row = 0; row < rows; ++row) order[static_cast<std::size_t>(row)] = static_cast<int>(row);
    std::sort(order.begin(), order.end(), [&](int a, int b) {
      const auto& ka = keys[static_cast<std::size_t>(a)];
      const auto& kb = keys[static_cast<std::size_t>(b)];
      if (ka.first != kb.first) return ka.first < kb.first;
      return ka.second > kb.second;
    });
    benchmark::DoNotOptimize(order.data());
  }
  PerUnit(state, "per_row", static_cast<double>(rows));
}

// ---- Posting and deleting in a sorted table ------------------------------------------------

// Each post gives a random record a new first key, so it moves in the order.
void BM_MtiPostSorted(benchmark::State& state) {
  const long rows = state.range(0);
  Table table(rows);
  table.Fill(rows);
  table.mti.MakeIndex("S1,\\I1");
  long step = rows;
  for (auto _ : state) {
    const int recNo = 1 + static_cast<int>((step * 7919) % rows);
    table.mti.SetToSeqNo(recNo);
    table.mti.GetRecord(Tx::dbiNOLOCK, table.record.data(), nullptr);
    char text[kTextSize + 1] = {};
    const std::string value = TextValue(step++, 5);
    std::memcpy(text, value.data(), value.size());
    table.mti.PutField(6, table.record.data(), text);
    table.mti.ModifyRecord(table.record.data(), true);
  }
}

// The same post in natural order: the difference is the order's upkeep.
void BM_MtiPostNatural(benchmark::State& state) {
  const long rows = state.range(0);
  Table table(rows);
  table.Fill(rows);
  long step = rows;
  for (auto _ : state) {
    const int recNo = 1 + static_cast<int>((step * 7919) % rows);
    table.mti.SetToSeqNo(recNo);
    table.mti.GetRecord(Tx::dbiNOLOCK, table.record.data(), nullptr);
    char text[kTextSize + 1] = {};
    const std::string value = TextValue(step++, 5);
    std::memcpy(text, value.data(), value.size());
    table.mti.PutField(6, table.record.data(), text);
    table.mti.ModifyRecord(table.record.data(), true);
  }
}

// Raw: Fchg32 of the ten cells of one occurrence.
void BM_RawPost(benchmark::State& state) {
  const long rows = state.range(0);
  Fbfr fbfr = RawTable(rows);
  long step = rows;
  for (auto _ : state) {
    const auto occ = static_cast<FLDOCC32>((step * 7919) % rows);
    for (int column = 0; column < kColumns; ++column) {
      if (column < 5) {
        long value = IntValue(occ, column);
        Fchg32(fbfr.get(), ColumnId(column), occ, reinterpret_cast<char*>(&value), 0);
      } else {
        const std::string value = TextValue(column == 5 ? step : occ, column);
        Fchg32(fbfr.get(), ColumnId(column), occ, const_cast<char*>(value.c_str()), 0);
      }
    }
    ++step;
  }
}

// A delete and an append per iteration, so the table keeps its size.
void BM_MtiDeleteAppendSorted(benchmark::State& state) {
  const long rows = state.range(0);
  Table table(rows);
  table.Fill(rows);
  table.mti.MakeIndex("S1,\\I1");
  long step = rows;
  for (auto _ : state) {
    table.mti.SetToSeqNo(1 + static_cast<int>((step * 7919) % rows));
    table.mti.DeleteRecord(table.record.data());
    table.FillRecord(step++);
    table.mti.AppendRecord(table.record.data());
  }
}

void BM_MtiDeleteAppendNatural(benchmark::State& state) {
  const long rows = state.range(0);
  Table table(rows);
  table.Fill(rows);
  long step = rows;
  for (auto _ : state) {
    table.mti.SetToSeqNo(1 + static_cast<int>((step * 7919) % rows));
    table.mti.DeleteRecord(table.record.data());
    table.FillRecord(step++);
    table.mti.AppendRecord(table.record.data());
  }
}

void BM_RawDeleteAppend(benchmark::State& state) {
  const long rows = state.range(0);
  Fbfr fbfr = RawTable(rows);
  std::vector<std::string> texts(kColumns);
  long step = rows;
  for (auto _ : state) {
    const auto occ = static_cast<FLDOCC32>((step * 7919) % rows);
    for (int column = 0; column < kColumns; ++column) Fdel32(fbfr.get(), ColumnId(column), occ);
    for (int column = 5; column < kColumns; ++column) texts[static_cast<std::size_t>(column)] = TextValue(step, column);
    RawAddRow(fbfr.get(), step++, texts);
  }
}

// ---- Bookmarks ----------------------------------------------------------------------------

// A bookmark taken and moved to, in a sorted set: while no row has been
// deleted since the index was made, and after a hundred deletes.
void BookmarkMoves(benchmark::State& state, int deletes) {
  const long rows = state.range(0);
  Table table(rows);
  table.Fill(rows);
  table.mti.MakeIndex("S1,\\I1");
  for (int i = 0; i < deletes; ++i) {
    table.mti.SetToSeqNo(1 + static_cast<int>((i * 7919L) % (rows - i)));
    table.mti.DeleteRecord(table.record.data());
  }
  const long present = rows - deletes;
  long step = 0;
  for (auto _ : state) {
    std::int32_t bookmark = static_cast<std::int32_t>((step++ * 7919) % present);
    benchmark::DoNotOptimize(table.mti.SetToBookMark(&bookmark));
    benchmark::DoNotOptimize(table.mti.GetBookMark(&bookmark));
  }
}

void BM_MtiBookmarkSorted(benchmark::State& state) { BookmarkMoves(state, 0); }
void BM_MtiBookmarkSortedAfterDeletes(benchmark::State& state) { BookmarkMoves(state, 100); }

// Record count under an active filter after a pass over the table.
short AcceptHalf(void*, int recNo) { return recNo % 2 == 0 ? 1 : 0; }
struct HalfFilter {
  short Accept(void* buffer, int recNo) { return AcceptHalf(buffer, recNo); }
};

void BM_MtiFilteredCount(benchmark::State& state) {
  const long rows = state.range(0);
  Table table(rows);
  table.Fill(rows);
  HalfFilter filter;
  int handle = 0;
  table.mti.AddFilter(Tx::TTxRecordFilter(&filter, &HalfFilter::Accept), handle);
  table.mti.ActivateFilter(handle);
  table.mti.SetToBegin();
  while (table.mti.GetNextRecord(Tx::dbiNOLOCK, table.record.data(), nullptr) == Tx::DBIERR_NONE) {
  }
  if (table.mti.GetFilteredRecordCount() != rows / 2) std::abort();
  for (auto _ : state) benchmark::DoNotOptimize(table.mti.GetFilteredRecordCount());
}

#define TABLE_SIZES ->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond)

BENCHMARK(BM_MtiAppend) TABLE_SIZES;
BENCHMARK(BM_RawAppend) TABLE_SIZES;
BENCHMARK(BM_FbfrAppend) TABLE_SIZES;
BENCHMARK(BM_MtiAppendGrowing)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MtiScan) TABLE_SIZES;
BENCHMARK(BM_RawScan) TABLE_SIZES;
BENCHMARK(BM_MtiBuildIndex) TABLE_SIZES;
BENCHMARK(BM_RawBuildIndex) TABLE_SIZES;
BENCHMARK(BM_MtiPostSorted) TABLE_SIZES;
BENCHMARK(BM_MtiPostNatural) TABLE_SIZES;
BENCHMARK(BM_RawPost) TABLE_SIZES;
BENCHMARK(BM_MtiDeleteAppendSorted) TABLE_SIZES;
BENCHMARK(BM_MtiDeleteAppendNatural) TABLE_SIZES;
BENCHMARK(BM_RawDeleteAppend) TABLE_SIZES;
BENCHMARK(BM_MtiBookmarkSorted) TABLE_SIZES;
BENCHMARK(BM_MtiBookmarkSortedAfterDeletes) TABLE_SIZES;
BENCHMARK(BM_MtiFilteredCount) TABLE_SIZES;

}  // namespace
