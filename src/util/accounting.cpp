// Counting hooks over the process heap and the dispatch through the installed set.
#include "util/accounting.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "util/platform.h"
#include "util/system_info.h"

namespace Kavren::Accounting {
namespace {

// One record per process, never reset. Each counter is updated atomically on
// its own; readers see the counters one after the other.
struct CounterRecord {
  std::atomic<std::uint64_t> peakBytes{0};
  std::atomic<std::uint64_t> peakBlocks{0};
  std::atomic<std::uint64_t> allocatedBytes{0};
  std::atomic<std::uint64_t> allocations{0};
  std::atomic<std::uint64_t> freedBytes{0};
  std::atomic<std::uint64_t> frees{0};
  // The bytes in use as one counter, so that the peak rule sees a value that really was
  // in use at one moment. The difference of the two totals, read one after the other
  // while other threads allocate and free, can wrap below zero or exceed any real value.
  std::atomic<std::uint64_t> bytesInUse{0};
};

constinit CounterRecord counters;

// The size query reads no block contents; GCC takes a fresh block passed as a
// const pointer for a read of uninitialised memory.
std::size_t SizeOfBlock(const void* block) {
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
  return Platform::HeapBlockSize(block);
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
}

// Returns the bytes in use right after the allocation.
std::uint64_t CountAllocation(std::size_t blockSize) {
  counters.allocatedBytes.fetch_add(blockSize);
  counters.allocations.fetch_add(1);
  return counters.bytesInUse.fetch_add(blockSize) + blockSize;
}

void CountFree(std::size_t blockSize) {
  counters.bytesInUse.fetch_sub(blockSize);
  counters.freedBytes.fetch_add(blockSize);
  counters.frees.fetch_add(1);
}

// Raises the peak when `inUse`, the bytes in use right after an allocation, exceeds it.
// The compare-exchange loop keeps two racing threads from lowering a peak the other one
// just raised. The blocks in use are read frees first: every free counted was preceded
// by its allocation's count, so the difference never wraps.
void ApplyPeakRule(std::uint64_t inUse) {
  std::uint64_t peak = counters.peakBytes.load();
  while (inUse > peak) {
    if (counters.peakBytes.compare_exchange_weak(peak, inUse)) {
      const std::uint64_t frees = counters.frees.load();
      counters.peakBlocks.store(counters.allocations.load() - frees);
      return;
    }
  }
}

// Uncounted scopes: a process-wide count (so the common case costs one relaxed load)
// and the calling thread's depth.
constinit std::atomic<int> uncountedScopes{0};
constinit thread_local int uncountedDepth = 0;

bool Uncounted() noexcept {
  return uncountedScopes.load(std::memory_order_relaxed) != 0 && uncountedDepth > 0;
}

// The memory snapshot is taken on the first counted allocation, before the
// allocation itself; afterwards this costs one relaxed load.
constinit std::atomic<bool> snapshotTaken{false};

void TakeMemorySnapshotOnce() noexcept {
  if (snapshotTaken.load(std::memory_order_relaxed)) return;
  CaptureMemoryStatisticsOnce();
  snapshotTaken.store(true, std::memory_order_relaxed);
}

void* CountingAllocate(void*, std::size_t size) {
  if (Uncounted()) return std::malloc(size);
  TakeMemorySnapshotOnce();
  void* block = std::malloc(size);
  ApplyPeakRule(CountAllocation(SizeOfBlock(block)));
  return block;
}

void CountingFree(void*, void* block) {
  if (block == nullptr) return;
  if (Uncounted()) {
    std::free(block);
    return;
  }
  CountFree(SizeOfBlock(block));
  std::free(block);
}

void* CountingReallocate(void*, void* block, std::size_t size) {
  if (Uncounted()) return std::realloc(block, size);
  if (size == 0 && block != nullptr) {
    // The C library's answer to a zero size varies; make it a plain free.
    CountFree(SizeOfBlock(block));
    std::free(block);
    CountAllocation(0);
    return nullptr;
  }
  TakeMemorySnapshotOnce();
  const std::size_t oldSize = SizeOfBlock(block);
  void* resized = std::realloc(block, size);
  if (resized == nullptr) {
    // The old block is still in use: count a free and an allocation of 0 bytes,
    // so the bytes and blocks in use stay true and a later free of it balances.
    CountFree(0);
    ApplyPeakRule(CountAllocation(0));
    return nullptr;
  }
  CountFree(oldSize);
  ApplyPeakRule(CountAllocation(SizeOfBlock(resized)));
  return resized;
}

char* CountingDuplicateText(void*, const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t length = std::strlen(text) + 1;
  if (Uncounted()) {
    auto* copy = static_cast<char*>(std::malloc(length));
    if (copy != nullptr) std::memcpy(copy, text, length);
    return copy;
  }
  TakeMemorySnapshotOnce();
  auto* copy = static_cast<char*>(std::malloc(length));
  ApplyPeakRule(CountAllocation(SizeOfBlock(copy)));
  if (copy != nullptr) std::memcpy(copy, text, length);
  return copy;
}

std::size_t CountingBlockSize(void*, const void* block) { return Platform::HeapBlockSize(block); }

constexpr Hooks kCountingHooks{CountingAllocate,      CountingFree,      CountingReallocate,
                               CountingDuplicateText, CountingBlockSize, nullptr};

constinit std::atomic<const Hooks*> installed{&kCountingHooks};

}  // namespace

UncountedScope::UncountedScope() noexcept {
  ++uncountedDepth;
  uncountedScopes.fetch_add(1, std::memory_order_relaxed);
}

UncountedScope::~UncountedScope() {
  uncountedScopes.fetch_sub(1, std::memory_order_relaxed);
  --uncountedDepth;
}

void* Allocate(std::size_t size) {
  const Hooks* hooks = installed.load(std::memory_order_acquire);
  return hooks->allocate(hooks->user, size);
}

void Free(void* block) {
  if (block == nullptr) return;
  const Hooks* hooks = installed.load(std::memory_order_acquire);
  hooks->free(hooks->user, block);
}

void* Reallocate(void* block, std::size_t size) {
  const Hooks* hooks = installed.load(std::memory_order_acquire);
  return hooks->reallocate(hooks->user, block, size);
}

char* DuplicateText(const char* text) {
  const Hooks* hooks = installed.load(std::memory_order_acquire);
  return hooks->duplicateText(hooks->user, text);
}

std::size_t BlockSize(const void* block) {
  const Hooks* hooks = installed.load(std::memory_order_acquire);
  return hooks->blockSize(hooks->user, block);
}

const Hooks& CountingHooks() { return kCountingHooks; }

const Hooks* InstallHooks(const Hooks* hooks) {
  return installed.exchange(hooks != nullptr ? hooks : &kCountingHooks, std::memory_order_acq_rel);
}

Counters ReadCounters() {
  Counters result{};
  result.peakBytes = counters.peakBytes.load();
  result.peakBlocks = counters.peakBlocks.load();
  result.allocatedBytes = counters.allocatedBytes.load();
  result.allocations = counters.allocations.load();
  result.freedBytes = counters.freedBytes.load();
  result.frees = counters.frees.load();
  return result;
}

std::uint64_t BytesInUse() { return counters.bytesInUse.load(); }

}  // namespace Kavren::Accounting
