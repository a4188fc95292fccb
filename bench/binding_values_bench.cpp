// Value pool against malloc/free, and building and searching large structures.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "binding/value.h"
#include "binding/value_pool.h"

namespace {

using Kavren::BindingProperty;
using Kavren::ValuePool;

constexpr int kBatch = 512;

// A batch of blocks of one size taken and then given back, as a tree is built and reset.
void PoolAllocateFree(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  ValuePool pool;
  std::vector<void*> blocks(kBatch);
  for (auto _ : state) {
    for (void*& block : blocks) block = pool.Allocate(size);
    benchmark::DoNotOptimize(blocks.data());
    for (void* block : blocks) pool.Free(block, size);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

// The same with one page of the provider's region held elsewhere for the whole run, as
// the other trees of a running plugin do: the region stays mapped between rounds.
void PoolAllocateFreeWarmRegion(benchmark::State& state) {
  void* resident = Kavren::PageProvider::Instance().TakePage();
  PoolAllocateFree(state);
  Kavren::PageProvider::Instance().ReturnPage(resident);
}

// Blocks taken and given back one at a time: the pool's steady state inside one page.
void PoolAllocateFreeOneByOne(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  ValuePool pool;
  void* keep = pool.Allocate(size);  // keeps the class's inline page from being reused
  for (auto _ : state) {
    void* block = pool.Allocate(size);
    benchmark::DoNotOptimize(block);
    pool.Free(block, size);
  }
  pool.Free(keep, size);
  state.SetItemsProcessed(state.iterations());
}

void MallocFreeOneByOne(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    void* block = std::malloc(size);
    benchmark::DoNotOptimize(block);
    std::free(block);
  }
  state.SetItemsProcessed(state.iterations());
}

void MallocFree(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  std::vector<void*> blocks(kBatch);
  for (auto _ : state) {
    for (void*& block : blocks) block = std::malloc(size);
    benchmark::DoNotOptimize(blocks.data());
    for (void* block : blocks) std::free(block);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

BENCHMARK(PoolAllocateFree)->Arg(4)->Arg(8)->Arg(16)->Arg(24)->Arg(32)->Arg(48)->Arg(64)->Arg(72);
BENCHMARK(PoolAllocateFreeWarmRegion)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16)
    ->Arg(24)
    ->Arg(32)
    ->Arg(48)
    ->Arg(64)
    ->Arg(72);
BENCHMARK(MallocFree)->Arg(4)->Arg(8)->Arg(16)->Arg(24)->Arg(32)->Arg(48)->Arg(64)->Arg(72);
BENCHMARK(PoolAllocateFreeOneByOne)->Arg(4)->Arg(24)->Arg(72);
BENCHMARK(MallocFreeOneByOne)->Arg(4)->Arg(24)->Arg(72);

std::vector<std::string> Keys(int count) {
  std::vector<std::string> keys;
  for (int i = 0; i < count; ++i) keys.push_back("member" + std::to_string(i * 7919 % count));
  return keys;
}

// A fresh standalone structure of N members each round (pool set-up included).
void BuildStructure(benchmark::State& state) {
  const std::vector<std::string> keys = Keys(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    BindingProperty root;
    std::int64_t i = 0;
    for (const std::string& key : keys) root.Member(key).SetSigned(i++);
    benchmark::DoNotOptimize(root.Size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void LookUpEveryMember(benchmark::State& state) {
  const std::vector<std::string> keys = Keys(static_cast<int>(state.range(0)));
  BindingProperty root;
  std::int64_t i = 0;
  for (const std::string& key : keys) root.Member(key).SetSigned(i++);
  for (auto _ : state) {
    std::int64_t sum = 0;
    for (const std::string& key : keys) sum += root.Find(key).GetSigned();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A collection of records sharing their keys and some texts, copied whole.
void CopyTree(benchmark::State& state) {
  BindingProperty root;
  for (int i = 0; i < 1000; ++i) {
    BindingProperty& item = root.Append();
    item.Member("id").SetSigned(i);
    item.Member("type").SetString("pss-player-message");
    item.Member("title").SetString("title " + std::to_string(i));
  }
  for (auto _ : state) {
    BindingProperty copy(root);
    benchmark::DoNotOptimize(copy.Size());
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}

BENCHMARK(BuildStructure)->Arg(1000);
BENCHMARK(LookUpEveryMember)->Arg(1000);
BENCHMARK(CopyTree);

}  // namespace

BENCHMARK_MAIN();
