// Heap accounting under concurrent allocation: no update is lost, the peak never goes
// down nor above what was ever allocated, and one thread's uncounted scope is its own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <latch>
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
  std::atomic<bool> peakAboveAllocated{false};

  std::thread reader([&] {
    std::uint64_t last = ReadCounters().peakBytes;
    while (!done.load()) {
      // The peak is read before the totals, so it can never legitimately exceed them.
      const Counters now = ReadCounters();
      if (now.peakBytes < last) peakDropped.store(true);
      if (now.peakBytes > now.allocatedBytes || now.peakBlocks > now.allocations) {
        peakAboveAllocated.store(true);
      }
      last = now.peakBytes;
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
  EXPECT_FALSE(peakAboveAllocated.load());
  EXPECT_GE(after.peakBytes, before.peakBytes);
}

// Two threads that only allocate and free: one thread's free between another's reads of
// the totals must not make the bytes in use wrap into a peak near 2^64 that then stays.
TEST(AccountingConcurrencyTest, PeakNeverWrapsWhileThreadsAllocateAndFree) {
  constexpr int kRounds = 300000;
  std::vector<std::thread> workers;
  for (int thread = 0; thread < 2; ++thread) {
    workers.emplace_back([] {
      for (int round = 0; round < kRounds; ++round) Free(Allocate(4096));
    });
  }
  for (std::thread& worker : workers) worker.join();
  const Counters after = ReadCounters();
  EXPECT_LE(after.peakBytes, after.allocatedBytes);
  EXPECT_LE(after.peakBlocks, after.allocations);
  EXPECT_LE(BytesInUse(), after.allocatedBytes);
}

// An uncounted scope on one thread leaves every other thread's allocations counted.
TEST(AccountingConcurrencyTest, UncountedScopeSilencesOnlyItsOwnThread) {
  std::latch entered(1);
  std::latch counted(1);
  std::thread silent([&] {
    const UncountedScope uncounted;
    entered.count_down();
    counted.wait();
  });
  entered.wait();
  const Counters before = ReadCounters();
  Free(Allocate(100));
  const Counters after = ReadCounters();
  counted.count_down();
  silent.join();
  EXPECT_GE(after.allocations - before.allocations, 1u);
  EXPECT_GE(after.allocatedBytes - before.allocatedBytes, 100u);
  EXPECT_GE(after.frees - before.frees, 1u);
}

}  // namespace
}  // namespace Kavren::Accounting
