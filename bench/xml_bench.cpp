// Export and import of a buffer as an XML document, for a buffer of about
// 1 MB and one of about 50 MB, beside a plain libxml2 parse of the same
// document text in the same run. Every benchmark counts the document's
// bytes, so the MB/s figures compare directly.
#include <benchmark/benchmark.h>
#include <fml32.h>
#include <libxml/parser.h>

#include <map>
#include <memory>
#include <string>

#include "platform/framework/Com.h"
#include "xml/TxFMLXML.h"

namespace {

using Tx::AnsiString;
using Tx::TTxFbfr;
using Tx::operator""_ansi;

const FLDID32 kName = Fmkfldid32(FLD_STRING, 401);
const FLDID32 kCity = Fmkfldid32(FLD_STRING, 402);
const FLDID32 kNumber = Fmkfldid32(FLD_LONG, 403);
const FLDID32 kAmount = Fmkfldid32(FLD_DOUBLE, 404);
const FLDID32 kCount = Fmkfldid32(FLD_SHORT, 405);
const FLDID32 kKind = Fmkfldid32(FLD_CHAR, 406);
const FLDID32 kPhoto = Fmkfldid32(FLD_CARRAY, 407);

constexpr long kMegabyte = 1024 * 1024;

template <class T>
void AddValue(FBFR32* fbfr, FLDID32 id, T value) {
  Fadd32(fbfr, id, reinterpret_cast<char*>(&value), 0);
}

// A buffer of rows of seven fields, Polish letters in the texts and 200
// bytes of binary data per row, filled until Fused32 reaches bytes.
std::unique_ptr<TTxFbfr> MakeBuffer(long bytes) {
  auto buffer = std::make_unique<TTxFbfr>(nullptr, static_cast<int>(bytes + bytes / 8 + 65536));
  FBFR32* fbfr = buffer->GetFbfrP();
  std::string photo(200, '\0');
  for (int i = 0; i < 200; ++i) photo[static_cast<std::size_t>(i)] = static_cast<char>(i * 7);
  const AnsiString city = "Łódź, ul. Żwirki i Wigury"_ansi;
  for (long row = 0; Fused32(fbfr) < bytes; ++row) {
    const AnsiString name = "Zażółć gęślą jaźń nr "_ansi + AnsiString(row);
    Fadd32(fbfr, kName, const_cast<char*>(name.c_str()), 0);
    Fadd32(fbfr, kCity, const_cast<char*>(city.c_str()), 0);
    AddValue<long>(fbfr, kNumber, row);
    AddValue<double>(fbfr, kAmount, static_cast<double>(row) * 1.25);
    AddValue<short>(fbfr, kCount, static_cast<short>(row % 1000));
    AddValue<char>(fbfr, kKind, static_cast<char>('A' + row % 26));
    Fadd32(fbfr, kPhoto, photo.data(), static_cast<FLDLEN32>(photo.size()));
  }
  return buffer;
}

struct Sample {
  std::unique_ptr<TTxFbfr> Buffer;
  AnsiString Document;
};

// One sample per size, made once.
const Sample& SampleOf(long megabytes) {
  static const bool comStarted = Tx::SUCCEEDED(Tx::CoInitialize(nullptr));
  (void)comStarted;
  static std::map<long, Sample> samples;
  Sample& sample = samples[megabytes];
  if (!sample.Buffer) {
    sample.Buffer = MakeBuffer(megabytes * kMegabyte);
    sample.Document = Tx::ExportFMLToXML(sample.Buffer.get());
  }
  return sample;
}

void Report(benchmark::State& state, const Sample& sample) {
  state.SetBytesProcessed(state.iterations() * sample.Document.Length());
  state.counters["buffer_MB"] = static_cast<double>(Fused32(sample.Buffer->GetFbfrP())) / kMegabyte;
  state.counters["document_MB"] = static_cast<double>(sample.Document.Length()) / kMegabyte;
}

void ExportToXml(benchmark::State& state) {
  const Sample& sample = SampleOf(state.range(0));
  for (auto _ : state) {
    AnsiString document = Tx::ExportFMLToXML(sample.Buffer.get());
    benchmark::DoNotOptimize(document);
  }
  Report(state, sample);
}

void ImportFromXml(benchmark::State& state) {
  const Sample& sample = SampleOf(state.range(0));
  for (auto _ : state) {
    TTxFbfr target(nullptr, 4096);
    Tx::ImportFMLFromXML(&target, sample.Document);
    benchmark::DoNotOptimize(target.GetFbfrP());
  }
  Report(state, sample);
}

// Baseline: libxml2 parses the same text into a tree and frees it.
void PlainLibxml2Parse(benchmark::State& state) {
  const Sample& sample = SampleOf(state.range(0));
  for (auto _ : state) {
    xmlDoc* doc = xmlReadMemory(sample.Document.data(), sample.Document.Length(), nullptr, nullptr,
                                XML_PARSE_NONET);
    benchmark::DoNotOptimize(doc);
    xmlFreeDoc(doc);
  }
  Report(state, sample);
}

BENCHMARK(ExportToXml)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ImportFromXml)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainLibxml2Parse)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ExportToXml)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(ImportFromXml)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(PlainLibxml2Parse)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
