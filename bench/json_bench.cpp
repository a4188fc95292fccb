// ReadJson and WriteJson beside RapidJSON (SAX floor, Document) and nlohmann::json.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "binding/value_pool.h"
#include "formats/json.h"

namespace {

const char* const kCorpora[] = {"canada.json", "citm_catalog.json", "twitter.json"};

const std::string& Corpus(std::size_t index) {
  static std::string texts[3];
  if (texts[index].empty()) {
    std::ifstream file(std::string(HXA_DATA_DIR) + "/corpora/" + kCorpora[index], std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    texts[index] = bytes.str();
  }
  return texts[index];
}

void Label(benchmark::State& state, std::size_t index) {
  state.SetLabel(kCorpora[index]);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Corpus(index).size()));
}

// Bytes the heap holds now (every malloc, operator new included).
std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// ---- Reading ----

void BM_ReadJson(benchmark::State& state) {
  const std::string& text = Corpus(state.range(0));
  for (auto _ : state) {
    Kavren::BindingResult result = Kavren::ReadJson(text);
    benchmark::DoNotOptimize(result.ok);
  }
  Label(state, state.range(0));
  // What the read value holds: pool pages plus heap blocks.
  const std::size_t heapBefore = HeapInUse();
  const std::size_t pagesBefore = Kavren::PageProvider::Instance().PagesInUse();
  {
    Kavren::BindingResult result = Kavren::ReadJson(text);
    state.counters["value_bytes"] =
        static_cast<double>(HeapInUse() - heapBefore +
                            (Kavren::PageProvider::Instance().PagesInUse() - pagesBefore) *
                                Kavren::PageProvider::kPageSize);
  }
}

struct NullHandler : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, NullHandler> {};

void BM_RapidJsonSaxNull(benchmark::State& state) {
  const std::string& text = Corpus(state.range(0));
  for (auto _ : state) {
    rapidjson::Reader reader;
    rapidjson::StringStream stream(text.c_str());
    NullHandler handler;
    benchmark::DoNotOptimize(reader.Parse(stream, handler).IsError());
  }
  Label(state, state.range(0));
}

void BM_RapidJsonDocumentParse(benchmark::State& state) {
  const std::string& text = Corpus(state.range(0));
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    benchmark::DoNotOptimize(document.HasParseError());
  }
  Label(state, state.range(0));
  const std::size_t heapBefore = HeapInUse();
  {
    rapidjson::Document document;
    document.Parse(text.c_str());
    state.counters["value_bytes"] = static_cast<double>(HeapInUse() - heapBefore);
  }
}

// The correctly rounded Document: numbers converted as exactly as ReadJson converts them.
void BM_RapidJsonDocumentParseFullPrecision(benchmark::State& state) {
  const std::string& text = Corpus(state.range(0));
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse<rapidjson::kParseFullPrecisionFlag>(text.c_str());
    benchmark::DoNotOptimize(document.HasParseError());
  }
  Label(state, state.range(0));
}

void BM_NlohmannParse(benchmark::State& state) {
  const std::string& text = Corpus(state.range(0));
  for (auto _ : state) {
    nlohmann::json document = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(document.size());
  }
  Label(state, state.range(0));
  const std::size_t heapBefore = HeapInUse();
  {
    nlohmann::json document = nlohmann::json::parse(text);
    state.counters["value_bytes"] = static_cast<double>(HeapInUse() - heapBefore);
  }
}

// ---- Writing (compact) ----

void BM_WriteJson(benchmark::State& state) {
  const Kavren::BindingResult value = Kavren::ReadJson(Corpus(state.range(0)));
  for (auto _ : state) {
    std::string text = Kavren::WriteJson(value.value);
    benchmark::DoNotOptimize(text.data());
  }
  Label(state, state.range(0));
}

// RapidJSON's Writer over a Document read with `kParseFlags`.
template <unsigned kParseFlags>
void RapidJsonWriter(benchmark::State& state) {
  rapidjson::Document document;
  document.Parse<kParseFlags>(Corpus(state.range(0)).c_str());
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document.Accept(writer);
    std::string text(buffer.GetString(), buffer.GetSize());
    benchmark::DoNotOptimize(text.data());
  }
  Label(state, state.range(0));
}

void BM_RapidJsonWriter(benchmark::State& state) {
  RapidJsonWriter<rapidjson::kParseDefaultFlags>(state);
}

// The same Writer over the correctly rounded numbers ReadJson reads: the shortest digits
// of a double depend on the double, so canada's numbers are written like with like.
void BM_RapidJsonWriterFullPrecision(benchmark::State& state) {
  RapidJsonWriter<rapidjson::kParseFullPrecisionFlag>(state);
}

void BM_NlohmannDump(benchmark::State& state) {
  const nlohmann::json document = nlohmann::json::parse(Corpus(state.range(0)));
  for (auto _ : state) {
    std::string text = document.dump();
    benchmark::DoNotOptimize(text.data());
  }
  Label(state, state.range(0));
}

// ---- Growth: one object of n members must read in O(n log n) ----

void BM_ReadJsonWideObject(benchmark::State& state) {
  std::string text = "{";
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    text += (i ? ",\"member" : "\"member") + std::to_string(i * 7919 % 1000003) +
            "\":" + std::to_string(i);
  }
  text += "}";
  for (auto _ : state) {
    Kavren::BindingResult result = Kavren::ReadJson(text);
    benchmark::DoNotOptimize(result.ok);
  }
  state.SetComplexityN(state.range(0));
}

#define HXA_CORPORA DenseRange(0, 2)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_ReadJson)->HXA_CORPORA;
BENCHMARK(BM_RapidJsonSaxNull)->HXA_CORPORA;
BENCHMARK(BM_RapidJsonDocumentParse)->HXA_CORPORA;
BENCHMARK(BM_RapidJsonDocumentParseFullPrecision)->HXA_CORPORA;
BENCHMARK(BM_NlohmannParse)->HXA_CORPORA;
BENCHMARK(BM_WriteJson)->HXA_CORPORA;
BENCHMARK(BM_RapidJsonWriter)->HXA_CORPORA;
BENCHMARK(BM_RapidJsonWriterFullPrecision)->HXA_CORPORA;
BENCHMARK(BM_NlohmannDump)->HXA_CORPORA;
BENCHMARK(BM_ReadJsonWideObject)
    ->RangeMultiplier(10)
    ->Range(100, 100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oNLogN);

}  // namespace

BENCHMARK_MAIN();
