// Costs of the framework text layer on what the library does most: sorting
// rows by text keys (locale comparison), building messages (Format) and
// turning numbers into text. Each user-facing operation has a baseline from
// the C++ standard library in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "platform/framework/Format.h"
#include "platform/framework/TextCompare.h"

using namespace Tx;

namespace {

// Polish-looking words of 4 to 16 letters, the shape of names in data sets.
std::vector<AnsiString> Words(std::size_t count) {
  static const AnsiString letters = "aąbcćdeęfghijklłmnńoóprsśtuwyzźżAĄBCĆDEĘŁŃÓŚŹŻ-"_ansi;
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> length(4, 16);
  std::uniform_int_distribution<int> letter(1, letters.Length());
  std::vector<AnsiString> words;
  words.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    AnsiString w;
    const int n = length(random);
    for (int k = 0; k < n; ++k) w += letters[letter(random)];
    words.push_back(w);
  }
  return words;
}

void BM_AnsiCompareText(benchmark::State& state) {
  SetCollationLocale("pl_PL");
  const auto words = Words(1024);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(AnsiCompareText(words[i & 1023], words[(i + 1) & 1023]));
    ++i;
  }
}
BENCHMARK(BM_AnsiCompareText);

void BM_CompareStringA_StringSort(benchmark::State& state) {
  SetCollationLocale("pl_PL");
  const auto words = Words(1024);
  std::size_t i = 0;
  for (auto _ : state) {
    const AnsiString& a = words[i & 1023];
    const AnsiString& b = words[(i + 1) & 1023];
    benchmark::DoNotOptimize(
        CompareStringA(LOCALE_USER_DEFAULT, SORT_STRINGSORT, a.data(), a.Length(), b.data(), b.Length()));
    ++i;
  }
}
BENCHMARK(BM_CompareStringA_StringSort);

void BM_Baseline_ByteCompare(benchmark::State& state) {
  const auto words = Words(1024);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(words[i & 1023].str().compare(words[(i + 1) & 1023].str()));
    ++i;
  }
}
BENCHMARK(BM_Baseline_ByteCompare);

void BM_SortTenThousandRows_AnsiCompareText(benchmark::State& state) {
  SetCollationLocale("pl_PL");
  const auto words = Words(10000);
  for (auto _ : state) {
    auto copy = words;
    std::sort(copy.begin(), copy.end(),
              [](const AnsiString& a, const AnsiString& b) { return AnsiCompareText(a, b) < 0; });
    benchmark::DoNotOptimize(copy.data());
  }
}
BENCHMARK(BM_SortTenThousandRows_AnsiCompareText)->Unit(benchmark::kMillisecond);

void BM_SortTenThousandRows_Baseline_Bytes(benchmark::State& state) {
  const auto words = Words(10000);
  for (auto _ : state) {
    auto copy = words;
    std::sort(copy.begin(), copy.end());
    benchmark::DoNotOptimize(copy.data());
  }
}
BENCHMARK(BM_SortTenThousandRows_Baseline_Bytes)->Unit(benchmark::kMillisecond);

void BM_Format_OperationLabel(benchmark::State& state) {
  const AnsiString op = "Rozpoczęcie transakcji"_ansi;
  const AnsiString file = "TxGlobal.cpp";
  for (auto _ : state) benchmark::DoNotOptimize(Format("%s [%s.%d]", {op, file, 412}));
}
BENCHMARK(BM_Format_OperationLabel);

void BM_Baseline_Snprintf_OperationLabel(benchmark::State& state) {
  const std::string op = "Rozpoczecie transakcji";
  const std::string file = "TxGlobal.cpp";
  char buf[128];
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, "%s [%s.%d]", op.c_str(), file.c_str(), 412);
    benchmark::DoNotOptimize(std::string(buf));
  }
}
BENCHMARK(BM_Baseline_Snprintf_OperationLabel);

void BM_FloatToStr(benchmark::State& state) {
  double v = 1234.5678;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FloatToStr(v));
    v += 0.001;
  }
}
BENCHMARK(BM_FloatToStr);

void BM_Baseline_Snprintf_G15(benchmark::State& state) {
  double v = 1234.5678;
  char buf[64];
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, "%.15g", v);
    benchmark::DoNotOptimize(std::string(buf));
    v += 0.001;
  }
}
BENCHMARK(BM_Baseline_Snprintf_G15);

void BM_Utf8ToAnsi(benchmark::State& state) {
  const std::string text = "Przekroczona maksymalna liczba wystąpień pola <167772161> (kontrakt).";
  for (auto _ : state) benchmark::DoNotOptimize(Utf8ToAnsi(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf8ToAnsi);

}  // namespace
