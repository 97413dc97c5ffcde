// The FML data set on a table of 5 integer and 5 string (20 characters)
// columns at 1,000, 10,000 and 100,000 rows, beside the cursor engine under
// it doing the same work: a full scan (Next and FieldByName(...)->AsString
// for every column, against the engine's GetNextRecord), Locate with a
// case-insensitive partial text key, edit-and-post and delete in a sorted
// set (against the engine's ModifyRecord and DeleteRecord), RecordCount and
// RecNo. "per_row" and "per_cell" are times per unit.
#include <fml32.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dataset/TxFbDset.h"

namespace {

using namespace Tx;

constexpr int kColumns = 10;
constexpr int kTextSize = 20;
const char* const kNames[kColumns] = {"I1", "I2", "I3", "I4", "I5", "S1", "S2", "S3", "S4", "S5"};

FLDID32 ColumnId(int column) {
  return Fmkfldid32(column < 5 ? FLD_LONG : FLD_STRING, static_cast<FLDID32>(3000 + column));
}

std::int32_t IntValue(long row, int column) {
  return static_cast<std::int32_t>((row * 7919 + column * 104729) % 1000003);
}
std::string TextValue(long row, int column) {
  char text[kTextSize + 1];
  std::snprintf(text, sizeof text, "%c%c name %06ld c%d", 'a' + static_cast<int>((row * 31 + column) % 26),
                'a' + static_cast<int>((row * 17) % 26), (row * 7919) % 1000000, column);
  return text;
}

// A contracted buffer of Rows rows, with an engine and a data set over it.
struct Table {
  explicit Table(long rows) : buffer(nullptr, static_cast<int>(rows * 320 + 4096)) {
    TTxGlobalClient::SetTranslateType(txttWindows);
    buffer.Contract = &contract;
    for (int column = 0; column < kColumns; ++column) {
      TTxFbfrFldDef* def = contract.AddFldDef(ColumnId(column));
      def->SetTxFldName(kNames[column]);
      if (column >= 5) def->SetMaxSize(kTextSize);
    }
    FBFR32* fbfr = buffer.GetFbfrP();
    for (long row = 0; row < rows; ++row) {
      for (int column = 0; column < kColumns; ++column) {
        if (column < 5) {
          long value = IntValue(row, column);
          Fadd32(fbfr, ColumnId(column), reinterpret_cast<char*>(&value), 0);
        } else {
          const std::string text = TextValue(row, column);
          Fadd32(fbfr, ColumnId(column), const_cast<char*>(text.c_str()), 0);
        }
      }
    }
    mti.SetTxFbfr(&buffer);
    mti.Open();
    CURProps props;
    mti.GetCursorProps(&props);
    record.assign(static_cast<std::size_t>(props.iRecBufSize), 0);
    ds.SetTxFbfr(&buffer);
  }
  TTxFbfrDef contract{nullptr};
  TTxFbfr buffer;
  TTxMti mti;
  std::vector<unsigned char> record;
  TTxFbfrDSet ds{nullptr};
};

void PerUnit(benchmark::State& state, const char* name, double units) {
  state.counters[name] =
      benchmark::Counter(units, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// ---- Full scan ----------------------------------------------------------------------

void BM_EngineScan(benchmark::State& state) {
  Table table(state.range(0));
  for (auto _ : state) {
    table.mti.SetToBegin();
    while (table.mti.GetNextRecord(dbiNOLOCK, table.record.data(), nullptr) == DBIERR_NONE)
      benchmark::DoNotOptimize(table.record.data());
  }
  PerUnit(state, "per_cell", static_cast<double>(state.range(0) * kColumns));
}

void BM_DataSetScan(benchmark::State& state) {
  Table table(state.range(0));
  TTxFbfrDSet& ds = table.ds;
  ds.Open();
  for (auto _ : state) {
    for (ds.First(); !ds.Eof(); ds.Next())
      for (const char* name : kNames) benchmark::DoNotOptimize(ds.FieldByName(name)->AsString());
  }
  PerUnit(state, "per_cell", static_cast<double>(state.range(0) * kColumns));
}

// The same scan split in two: moving only, and reading the fields found once.
void BM_DataSetScanMovesOnly(benchmark::State& state) {
  Table table(state.range(0));
  TTxFbfrDSet& ds = table.ds;
  ds.Open();
  for (auto _ : state)
    for (ds.First(); !ds.Eof(); ds.Next()) benchmark::DoNotOptimize(ds.ActiveBuffer());
  PerUnit(state, "per_cell", static_cast<double>(state.range(0) * kColumns));
}

void BM_DataSetScanFieldsKept(benchmark::State& state) {
  Table table(state.range(0));
  TTxFbfrDSet& ds = table.ds;
  ds.Open();
  std::vector<TField*> fields;
  for (const char* name : kNames) fields.push_back(ds.FieldByName(name));
  for (auto _ : state) {
    for (ds.First(); !ds.Eof(); ds.Next())
      for (TField* field : fields) benchmark::DoNotOptimize(field->AsString());
  }
  PerUnit(state, "per_cell", static_cast<double>(state.range(0) * kColumns));
}

// ---- Locate ----------------------------------------------------------------------------

// The key is the upper-cased head of a text near the end, so most rows are read.
void BM_DataSetLocate(benchmark::State& state) {
  const long rows = state.range(0);
  Table table(rows);
  TTxFbfrDSet& ds = table.ds;
  ds.Open();
  std::string key = TextValue(rows - 3, 5).substr(0, 14);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const Variant value{AnsiString(key)};
  for (auto _ : state) {
    if (!ds.Locate("S1", value, TLocateOptions{loCaseInsensitive, loPartialKey})) state.SkipWithError("not found");
    ds.First();
  }
  PerUnit(state, "per_row", static_cast<double>(rows));
}

// The same rows read through the engine, the key column compared as text.
void BM_EngineLocateBaseline(benchmark::State& state) {
  const long rows = state.range(0);
  Table table(rows);
  const std::string key = TextValue(rows - 3, 5).substr(0, 14);
  const int offset = table.mti.FldBufOffset(6) + 1;
  for (auto _ : state) {
    table.mti.SetToBegin();
    while (table.mti.GetNextRecord(dbiNOLOCK, table.record.data(), nullptr) == DBIERR_NONE)
      if (std::strncmp(reinterpret_cast<const char*>(table.record.data()) + offset, key.c_str(), key.size()) == 0)
        break;
  }
  PerUnit(state, "per_row", static_cast<double>(rows));
}

// ---- Changes in a sorted set ------------------------------------------------------------

constexpr const char* kIndex = "I2,S2";

// Edits two columns of the active row (one of them a sort key) and posts;
// the data set follows the row to its new place.
void BM_DataSetEditPost(benchmark::State& state) {
  Table table(state.range(0));
  TTxFbfrDSet& ds = table.ds;
  ds.SetIndexExpr(kIndex);
  ds.Open();
  ds.SetRecNo(static_cast<int>(state.range(0) / 2));
  int value = 0;
  for (auto _ : state) {
    ds.Edit();
    ds.FieldByName("I2")->SetAsInteger(++value * 7 % 1000003);
    ds.FieldByName("S3")->SetAsString("changed");
    ds.Post();
  }
}

void BM_EngineModifySorted(benchmark::State& state) {
  Table table(state.range(0));
  table.mti.MakeIndex(kIndex);
  table.mti.SetToSeqNo(static_cast<int>(state.range(0) / 2));
  table.mti.GetRecord(dbiNOLOCK, table.record.data(), nullptr);
  int value = 0;
  for (auto _ : state) {
    const std::int32_t key = ++value * 7 % 1000003;
    table.mti.PutField(2, table.record.data(), &key);
    table.mti.ModifyRecord(table.record.data(), true);
    table.mti.GetRecord(dbiNOLOCK, table.record.data(), nullptr);
  }
}

void BM_DataSetDelete(benchmark::State& state) {
  Table table(state.range(0));
  TTxFbfrDSet& ds = table.ds;
  ds.SetIndexExpr(kIndex);
  ds.Open();
  ds.SetRecNo(static_cast<int>(state.range(0) / 2));
  for (auto _ : state) ds.Delete();
}

void BM_EngineDeleteSorted(benchmark::State& state) {
  Table table(state.range(0));
  table.mti.MakeIndex(kIndex);
  table.mti.SetToSeqNo(static_cast<int>(state.range(0) / 2));
  for (auto _ : state) {
    table.mti.DeleteRecord(table.record.data());
    table.mti.GetRecord(dbiNOLOCK, table.record.data(), nullptr);
  }
}

// ---- Counting -----------------------------------------------------------------------------

void BM_DataSetRecordCountRecNo(benchmark::State& state) {
  Table table(state.range(0));
  TTxFbfrDSet& ds = table.ds;
  ds.SetIndexExpr(kIndex);
  ds.Open();
  ds.SetRecNo(static_cast<int>(state.range(0) / 2));
  for (auto _ : state) {
    benchmark::DoNotOptimize(ds.RecordCount());
    benchmark::DoNotOptimize(ds.RecNo());
  }
}

}  // namespace

#define TABLE_SIZES ->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond)
// Deletes shrink the table: a fixed number of them keeps each size about the same.
#define DELETES ->Arg(1000)->Arg(10000)->Arg(100000)->Iterations(500)->Unit(benchmark::kMicrosecond)

BENCHMARK(BM_EngineScan) TABLE_SIZES;
BENCHMARK(BM_DataSetScan) TABLE_SIZES;
BENCHMARK(BM_DataSetScanMovesOnly) TABLE_SIZES;
BENCHMARK(BM_DataSetScanFieldsKept) TABLE_SIZES;
BENCHMARK(BM_EngineLocateBaseline) TABLE_SIZES;
BENCHMARK(BM_DataSetLocate) TABLE_SIZES;
BENCHMARK(BM_EngineModifySorted) TABLE_SIZES;
BENCHMARK(BM_DataSetEditPost) TABLE_SIZES;
BENCHMARK(BM_EngineDeleteSorted) DELETES;
BENCHMARK(BM_DataSetDelete) DELETES;
BENCHMARK(BM_DataSetRecordCountRecNo) TABLE_SIZES;

BENCHMARK_MAIN();
