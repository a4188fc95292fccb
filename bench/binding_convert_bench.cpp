// ToValue and FromValue of a record holding a 1,000-element vector of records, and the
// release of that value in host record form beside the release of the value tree.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binding/convert.h"
#include "binding/host_value.h"

namespace Kavren::ConvertBench {
enum class Level : std::int32_t { kLow, kHigh };
struct Entry {
  std::uint64_t id = 0;
  std::string title;
  double weight = 0;
  bool read = false;
  Level level = Level::kLow;
  std::vector<std::string> tags;
};
struct Batch {
  std::string name;
  std::vector<Entry> entries;
};
}  // namespace Kavren::ConvertBench

HXA_BINDING_ENUM(Kavren::ConvertBench::Level);
HXA_BINDING_STRUCT(Kavren::ConvertBench::Entry);
HXA_BINDING_STRUCT(Kavren::ConvertBench::Batch);

namespace {

using namespace Kavren;
using namespace Kavren::ConvertBench;

constexpr std::size_t kEntries = 1000;

void Register(BindingRegistry& registry) {
  registry.RegisterEnum<Level>("Level").AddValue("Low", 0).AddValue("High", 1);
  registry.RegisterStruct<Entry>("Entry")
      .AddField("id", &Entry::id)
      .AddField("title", &Entry::title)
      .AddField("weight", &Entry::weight)
      .AddField("read", &Entry::read)
      .AddField("level", &Entry::level)
      .AddField("tags", &Entry::tags);
  registry.RegisterStruct<Batch>("Batch")
      .AddField("name", &Batch::name)
      .AddField("entries", &Batch::entries);
}

Batch MakeBatch() {
  Batch batch;
  batch.name = "inbox";
  batch.entries.resize(kEntries);
  for (std::size_t index = 0; index < kEntries; ++index) {
    Entry& entry = batch.entries[index];
    entry.id = 1000000 + index;
    entry.title = "message number " + std::to_string(index);
    entry.weight = static_cast<double>(index) / 7.0;
    entry.read = index % 2 == 0;
    entry.level = index % 3 == 0 ? Level::kHigh : Level::kLow;
    entry.tags = {"player", "dialog"};
  }
  return batch;
}

// The batch converted to a value tree once, with the registry that converted it.
struct BatchValue {
  BatchValue() {
    Register(registry);
    ToValue(result, MakeBatch(), registry);
  }
  BindingRegistry registry;
  BindingResult result;
};

void BatchToValue(benchmark::State& state) {
  BindingRegistry registry;
  Register(registry);
  const Batch batch = MakeBatch();
  for (auto _ : state) {
    BindingResult value;
    ToValue(value, batch, registry);
    benchmark::DoNotOptimize(value.value.Size());
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BatchToValue);

void BatchFromValue(benchmark::State& state) {
  const BatchValue converted;
  for (auto _ : state) {
    Batch batch;
    BindingResult status;
    FromValue(status, batch, converted.result.value, "batch", converted.registry);
    benchmark::DoNotOptimize(batch.entries.data());
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BatchFromValue);

// The batch as a host value record, released (the building is not timed).
void BatchHostValueRelease(benchmark::State& state) {
  const BatchValue converted;
  for (auto _ : state) {
    state.PauseTiming();
    Abi::HostValue host{};
    ValueToHost(host, converted.result.value, &converted.registry);
    state.ResumeTiming();
    ReleaseHostValue(host);
    benchmark::DoNotOptimize(host.data);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BatchHostValueRelease);

// The peer: the same batch as a value tree, reset (the copy is not timed).
void BatchValueReset(benchmark::State& state) {
  const BatchValue converted;
  BindingProperty copy;
  for (auto _ : state) {
    state.PauseTiming();
    copy.CopyFrom(converted.result.value);
    state.ResumeTiming();
    copy.Reset();
    benchmark::DoNotOptimize(copy.Size());
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
}
BENCHMARK(BatchValueReset);

}  // namespace

BENCHMARK_MAIN();
