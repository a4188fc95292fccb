// ReadMessagePack beside msgpack-cxx's unpack and our own ReadJson on the same documents.
#define MSGPACK_NO_BOOST 1
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <fstream>
#include <msgpack.hpp>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "binding/value_pool.h"
#include "formats/json.h"
#include "formats/msgpack.h"

namespace {

const char* const kCorpora[] = {"canada.json", "citm_catalog.json", "twitter.json"};

struct Document {
  std::string json;
  std::vector<std::uint8_t> messagePack;
};

const Document& Corpus(std::size_t index) {
  static Document documents[3];
  Document& document = documents[index];
  if (document.json.empty()) {
    std::ifstream file(std::string(HXA_DATA_DIR) + "/corpora/" + kCorpora[index], std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    document.json = bytes.str();
    document.messagePack = nlohmann::json::to_msgpack(nlohmann::json::parse(document.json));
  }
  return document;
}

void Label(benchmark::State& state, std::size_t bytes) {
  state.SetLabel(kCorpora[state.range(0)]);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

void BM_ReadMessagePack(benchmark::State& state) {
  const auto& bytes = Corpus(state.range(0)).messagePack;
  for (auto _ : state) {
    std::size_t consumed = 0;
    Kavren::BindingResult result = Kavren::ReadMessagePack(bytes.data(), bytes.size(), consumed);
    benchmark::DoNotOptimize(result.ok);
  }
  Label(state, bytes.size());
  const std::size_t heapBefore = HeapInUse();
  const std::size_t pagesBefore = Kavren::PageProvider::Instance().PagesInUse();
  {
    std::size_t consumed = 0;
    Kavren::BindingResult result = Kavren::ReadMessagePack(bytes.data(), bytes.size(), consumed);
    state.counters["value_bytes"] =
        static_cast<double>(HeapInUse() - heapBefore +
                            (Kavren::PageProvider::Instance().PagesInUse() - pagesBefore) *
                                Kavren::PageProvider::kPageSize);
  }
}

void BM_MsgpackCxxUnpack(benchmark::State& state) {
  const auto& bytes = Corpus(state.range(0)).messagePack;
  for (auto _ : state) {
    msgpack::object_handle handle =
        msgpack::unpack(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    benchmark::DoNotOptimize(handle.get().type);
  }
  Label(state, bytes.size());
}

// Our JSON reader on the same documents as JSON text (throughput per document).
void BM_ReadJsonSameDocument(benchmark::State& state) {
  const Document& document = Corpus(state.range(0));
  for (auto _ : state) {
    Kavren::BindingResult result = Kavren::ReadJson(document.json);
    benchmark::DoNotOptimize(result.ok);
  }
  Label(state, document.messagePack.size());
}

BENCHMARK(BM_ReadMessagePack)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MsgpackCxxUnpack)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadJsonSameDocument)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
