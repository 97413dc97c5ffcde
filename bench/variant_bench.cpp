// What a data set does with every cell and every sort key: variant
// comparison, conversion to text and date formatting, each beside the plain
// C++ operation it wraps.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/framework/DateTime.h"
#include "platform/framework/Format.h"
#include "platform/framework/TextCompare.h"
#include "platform/framework/Variant.h"

namespace {

using namespace Tx;

constexpr int Rows = 10000;

std::vector<int> RandomInts() {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> dist(-1000000, 1000000);
  std::vector<int> values(Rows);
  for (int& v : values) v = dist(rng);
  return values;
}

std::vector<AnsiString> RandomWords() {
  std::mt19937 rng(7);
  const char* letters = "abcdefghijklmnopqrstuvwxyz";
  std::vector<AnsiString> words(Rows);
  for (AnsiString& w : words) {
    std::string s(8, ' ');
    for (char& c : s) c = letters[rng() % 26];
    w = AnsiString(s);
  }
  return words;
}

void BM_SortInts_Baseline(benchmark::State& state) {
  const std::vector<int> input = RandomInts();
  for (auto _ : state) {
    std::vector<int> v = input;
    std::sort(v.begin(), v.end());
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * Rows);
}
BENCHMARK(BM_SortInts_Baseline);

void BM_SortIntVariants(benchmark::State& state) {
  const std::vector<int> ints = RandomInts();
  const std::vector<Variant> input(ints.begin(), ints.end());
  for (auto _ : state) {
    std::vector<Variant> v = input;
    std::sort(v.begin(), v.end(), [](const Variant& a, const Variant& b) { return a < b; });
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * Rows);
}
BENCHMARK(BM_SortIntVariants);

void BM_SortWords_AnsiCompareStr_Baseline(benchmark::State& state) {
  const std::vector<AnsiString> input = RandomWords();
  for (auto _ : state) {
    std::vector<AnsiString> v = input;
    std::sort(v.begin(), v.end(),
              [](const AnsiString& a, const AnsiString& b) { return AnsiCompareStr(a, b) < 0; });
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * Rows);
}
BENCHMARK(BM_SortWords_AnsiCompareStr_Baseline);

void BM_SortWordVariants(benchmark::State& state) {
  const std::vector<AnsiString> words = RandomWords();
  const std::vector<Variant> input(words.begin(), words.end());
  for (auto _ : state) {
    std::vector<Variant> v = input;
    std::sort(v.begin(), v.end(), [](const Variant& a, const Variant& b) { return a < b; });
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * Rows);
}
BENCHMARK(BM_SortWordVariants);

void BM_FloatToStr_Baseline(benchmark::State& state) {
  double x = 1234.5678;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FloatToStr(x));
    x += 0.25;
  }
}
BENCHMARK(BM_FloatToStr_Baseline);

void BM_VarToStrDouble(benchmark::State& state) {
  Variant v(1234.5678);
  for (auto _ : state) benchmark::DoNotOptimize(VarToStr(v));
}
BENCHMARK(BM_VarToStrDouble);

void BM_VariantTextToInteger(benchmark::State& state) {
  const Variant v("1234567");
  for (auto _ : state) benchmark::DoNotOptimize(v.AsInteger());
}
BENCHMARK(BM_VariantTextToInteger);

void BM_DateText_Snprintf_Baseline(benchmark::State& state) {
  char buffer[32];
  for (auto _ : state) {
    std::snprintf(buffer, sizeof buffer, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%.3d", 2004, 2, 29, 13, 5, 7, 9);
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_DateText_Snprintf_Baseline);

void BM_FormatDateTimeIso(benchmark::State& state) {
  const TDateTime t = ComposeDateTime(EncodeDate(2004, 2, 29), EncodeTime(13, 5, 7, 9));
  const AnsiString format("yyyy-mm-dd hh:nn:ss.zzz");
  for (auto _ : state) benchmark::DoNotOptimize(FormatDateTime(format, t));
}
BENCHMARK(BM_FormatDateTimeIso);

void BM_EncodeDecodeDateTime(benchmark::State& state) {
  int day = 1;
  for (auto _ : state) {
    const TDateTime t = ComposeDateTime(EncodeDate(2004, 2, day), EncodeTime(13, 5, 7, 9));
    int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, z = 0;
    DecodeDate(t, y, m, d);
    DecodeTime(t, h, n, s, z);
    benchmark::DoNotOptimize(y + m + d + h + n + s + z);
    day = day % 28 + 1;
  }
}
BENCHMARK(BM_EncodeDecodeDateTime);

}  // namespace
