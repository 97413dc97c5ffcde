// Reading and writing cells through the variant layer (GetValues /
// SetValues) against the raw FML32 calls underneath, on a table of 10
// columns (longs, doubles, strings) and 1,000 or 100,000 rows.
#include <benchmark/benchmark.h>

#include <atmi.h>
#include <fml32.h>

#include <array>
#include <memory>
#include <string>

#include "buffer/TxFbfr.h"
#include "platform/tuxedo/FmlCalls.h"

namespace {

constexpr int kColumns = 10;

FLDID32 Column(int c) {
  static const int types[kColumns] = {FLD_LONG,   FLD_STRING, FLD_DOUBLE, FLD_LONG, FLD_STRING,
                                      FLD_DOUBLE, FLD_LONG,   FLD_STRING, FLD_LONG, FLD_DOUBLE};
  return Fmkfldid32(types[c], 401 + c);
}

// A table filled with the raw calls, so both sides read the same buffer.
std::unique_ptr<Tx::TTxFbfr> MakeTable(int rows) {
  auto table = std::make_unique<Tx::TTxFbfr>(nullptr, 4096);
  table->SetFbfrSize(Fneeded32(rows * kColumns, static_cast<FLDLEN32>(rows * kColumns * 16)) + 4096);
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      const FLDID32 id = Column(c);
      long l = r * 10 + c;
      double d = r + c / 10.0;
      const std::string s = "wiersz " + std::to_string(r);
      char* value = Fldtype32(id) == FLD_LONG     ? reinterpret_cast<char*>(&l)
                    : Fldtype32(id) == FLD_DOUBLE ? reinterpret_cast<char*>(&d)
                                                  : const_cast<char*>(s.c_str());
      Fadd32(table->GetFbfrP(), id, value, 0);
    }
  }
  return table;
}

void SetUpSession() {
  static const bool once = [] {
    Tx::TTxGlobalClient::SetTranslateType(Tx::txttWindows);
    return true;
  }();
  (void)once;
}

void GetValuesPerCell(benchmark::State& state) {
  SetUpSession();
  const int rows = static_cast<int>(state.range(0));
  auto table = MakeTable(rows);
  int row = 0;
  for (auto _ : state) {
    for (int c = 0; c < kColumns; ++c) benchmark::DoNotOptimize(table->GetValues(Column(c), row));
    if (++row == rows) row = 0;
  }
  state.SetItemsProcessed(state.iterations() * kColumns);
}
BENCHMARK(GetValuesPerCell)->Arg(1000)->Arg(100000);

// Baseline: what GetValues calls underneath, without variants and checks.
void RawReadPerCell(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  auto table = MakeTable(rows);
  FBFR32* fbfr = table->GetFbfrP();
  int row = 0;
  for (auto _ : state) {
    for (int c = 0; c < kColumns; ++c) {
      const FLDID32 id = Column(c);
      switch (Fldtype32(id)) {
        case FLD_LONG:
          benchmark::DoNotOptimize(Tx::FieldLong(fbfr, id, row));
          break;
        case FLD_DOUBLE: {
          double d;
          benchmark::DoNotOptimize(Fget32(fbfr, id, row, reinterpret_cast<char*>(&d), nullptr));
          break;
        }
        default:
          benchmark::DoNotOptimize(Tx::FieldString(fbfr, id, row));
      }
    }
    if (++row == rows) row = 0;
  }
  state.SetItemsProcessed(state.iterations() * kColumns);
}
BENCHMARK(RawReadPerCell)->Arg(1000)->Arg(100000);

void SetValuesPerCell(benchmark::State& state) {
  SetUpSession();
  const int rows = static_cast<int>(state.range(0));
  auto table = MakeTable(rows);
  const std::array<Tx::Variant, 3> values = {Tx::Variant(12345), Tx::Variant(2.5),
                                             Tx::Variant("wiersz 1")};
  int row = 0;
  for (auto _ : state) {
    for (int c = 0; c < kColumns; ++c) {
      const FLDID32 id = Column(c);
      const int kind = Fldtype32(id) == FLD_LONG ? 0 : Fldtype32(id) == FLD_DOUBLE ? 1 : 2;
      table->SetValues(id, row, values[kind]);
    }
    if (++row == rows) row = 0;
  }
  state.SetItemsProcessed(state.iterations() * kColumns);
}
BENCHMARK(SetValuesPerCell)->Arg(1000)->Arg(100000);

void RawChangePerCell(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  auto table = MakeTable(rows);
  FBFR32* fbfr = table->GetFbfrP();
  long l = 12345;
  double d = 2.5;
  char s[] = "wiersz 1";
  int row = 0;
  for (auto _ : state) {
    for (int c = 0; c < kColumns; ++c) {
      const FLDID32 id = Column(c);
      char* value = Fldtype32(id) == FLD_LONG     ? reinterpret_cast<char*>(&l)
                    : Fldtype32(id) == FLD_DOUBLE ? reinterpret_cast<char*>(&d)
                                                  : s;
      benchmark::DoNotOptimize(Fchg32(fbfr, id, row, value, 0));
    }
    if (++row == rows) row = 0;
  }
  state.SetItemsProcessed(state.iterations() * kColumns);
}
BENCHMARK(RawChangePerCell)->Arg(1000)->Arg(100000);

}  // namespace
