// The readers' allocator calls per read, counted by the heap accounting (this program has
// the plugin's operator new), and the pool pages they take, on the corpora of the speed
// benchmarks. Its own program, so that the counting costs the peers' figures nothing.
#include <benchmark/benchmark.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "binding/value_pool.h"
#include "formats/json.h"
#include "formats/msgpack.h"
#include "formats/yaml.h"
#include "util/accounting.h"

namespace {

const char* const kJsonCorpora[] = {"canada.json", "citm_catalog.json", "twitter.json"};
const char* const kYamlCorpora[] = {
    "appveyor.yml", "travis.yml", "style_maps_blck_outer1000_inner100.yml",
    "style_maps_flow_outer1000_inner100.yml", "style_seqs_blck_outer1000_inner100.yml"};

std::string Load(const std::string& path) {
  std::ifstream file(std::string(HXA_DATA_DIR) + "/corpora/" + path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// Runs `read` per iteration and reports the heap allocations and the pool pages taken per
// read (the first read, which fills process-wide caches, not counted).
template <class Read>
void CountPerRead(benchmark::State& state, const char* label, Read&& read) {
  read();
  const std::uint64_t allocationsBefore = Kavren::Accounting::ReadCounters().allocations;
  const std::uint64_t pagesBefore = Kavren::PageProvider::Instance().PagesTaken();
  for (auto _ : state) read();
  const auto reads = static_cast<double>(state.iterations());
  state.counters["allocations"] =
      static_cast<double>(Kavren::Accounting::ReadCounters().allocations - allocationsBefore) /
      reads;
  state.counters["pages"] =
      static_cast<double>(Kavren::PageProvider::Instance().PagesTaken() - pagesBefore) / reads;
  state.SetLabel(label);
}

void BM_ReadJsonAllocations(benchmark::State& state) {
  const std::string text = Load(kJsonCorpora[state.range(0)]);
  CountPerRead(state, kJsonCorpora[state.range(0)], [&] {
    Kavren::BindingResult result = Kavren::ReadJson(text);
    benchmark::DoNotOptimize(result.ok);
  });
}

void BM_ReadMessagePackAllocations(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes =
      nlohmann::json::to_msgpack(nlohmann::json::parse(Load(kJsonCorpora[state.range(0)])));
  CountPerRead(state, kJsonCorpora[state.range(0)], [&] {
    std::size_t consumed = 0;
    Kavren::BindingResult result = Kavren::ReadMessagePack(bytes.data(), bytes.size(), consumed);
    benchmark::DoNotOptimize(result.ok);
  });
}

void BM_ReadYamlAllocations(benchmark::State& state) {
  const std::string text = Load(std::string("yaml/") + kYamlCorpora[state.range(0)]);
  CountPerRead(state, kYamlCorpora[state.range(0)], [&] {
    Kavren::BindingResult result = Kavren::ReadYaml(text);
    benchmark::DoNotOptimize(result.ok);
  });
}

BENCHMARK(BM_ReadJsonAllocations)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadMessagePackAllocations)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadYamlAllocations)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
