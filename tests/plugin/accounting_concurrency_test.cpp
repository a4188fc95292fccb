// Heap accounting under concurrent allocation: no update is lost and the peak
// never goes down.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "util/accounting.h"

namespace Kavren::Accounting {
namespace {

TEST(AccountingConcurrencyTest, CountersBalanceAndPeakNeverDrops) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  const Counters before = ReadCounters();
  std::atomic<bool> done{false};
  std::atomic<bool> peakDropped{false};

  std::thread reader([&] {
    std::uint64_t last = ReadCounters().peakBytes;
    while (!done.load()) {
      const std::uint64_t peak = ReadCounters().peakBytes;
      if (peak < last) peakDropped.store(true);
      last = peak;
    }
  });
  std::vector<std::thread> workers;
  for (int thread = 0; thread < kThreads; ++thread) {
    workers.emplace_back([thread] {
      for (int round = 0; round < kRounds; ++round) {
        void* block = Allocate(16 + static_cast<std::size_t>((round * 7 + thread) % 512));
        block = Reallocate(block, 600);
        Free(block);
        Free(DuplicateText("text"));
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  done.store(true);
  reader.join();

  const Counters after = ReadCounters();
  constexpr std::uint64_t kCycles = std::uint64_t{kThreads} * kRounds;
  EXPECT_EQ(after.allocations - before.allocations, 3 * kCycles);
  EXPECT_EQ(after.frees - before.frees, 3 * kCycles);
  EXPECT_EQ(after.allocatedBytes - before.allocatedBytes, after.freedBytes - before.freedBytes);
  EXPECT_FALSE(peakDropped.load());
  EXPECT_GE(after.peakBytes, before.peakBytes);
}

}  // namespace
}  // namespace Kavren::Accounting
