// Heap accounting: the counters of each operation, the peak rule, refused
// requests and replaceable hooks.
#include "util/accounting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "util/memory_statistics.h"
#include "util/system_info.h"

namespace Kavren::Accounting {
namespace {

// The heap refuses this size (beyond any object size the C library allows).
constexpr std::size_t kRefusedSize = static_cast<std::size_t>(-1) - 4096;

Counters Delta(const Counters& before, const Counters& after) {
  return Counters{
      after.peakBytes - before.peakBytes,           after.peakBlocks - before.peakBlocks,
      after.allocatedBytes - before.allocatedBytes, after.allocations - before.allocations,
      after.freedBytes - before.freedBytes,         after.frees - before.frees};
}

struct Moves {
  std::uint64_t allocatedBytes, allocations, freedBytes, frees;
};

void ExpectMoves(const Counters& before, const Moves& expected) {
  const Counters delta = Delta(before, ReadCounters());
  EXPECT_EQ(delta.allocatedBytes, expected.allocatedBytes);
  EXPECT_EQ(delta.allocations, expected.allocations);
  EXPECT_EQ(delta.freedBytes, expected.freedBytes);
  EXPECT_EQ(delta.frees, expected.frees);
}

TEST(AccountingTest, FirstCountedAllocationTakesTheMemorySnapshot) {
  void* block = Allocate(16);
  ASSERT_NE(block, nullptr);
  Free(block);
  MemoryStatistics statistics{};
  ASSERT_TRUE(CapturedMemoryStatistics(statistics));
  EXPECT_GT(statistics[MemoryStatistic::kTotalPhysical], 0u);
}

TEST(AccountingTest, UncountedScopeLeavesEveryCounterAlone) {
  const Counters before = ReadCounters();
  {
    UncountedScope uncounted;
    void* block = Allocate(100);
    ASSERT_NE(block, nullptr);
    block = Reallocate(block, 300);
    Free(block);
    Free(DuplicateText("text"));
    // The process snapshot is built uncounted as well.
    EXPECT_NE(ProcessSystemInfo().CpuVendor(), "");
  }
  const Counters after = ReadCounters();
  EXPECT_EQ(after.allocatedBytes, before.allocatedBytes);
  EXPECT_EQ(after.allocations, before.allocations);
  EXPECT_EQ(after.freedBytes, before.freedBytes);
  EXPECT_EQ(after.frees, before.frees);
  // Outside the scope counting goes on.
  Free(Allocate(8));
  EXPECT_EQ(ReadCounters().allocations, before.allocations + 1);
}

TEST(AccountingTest, AllocateAndFreeCountBlockSizes) {
  Counters before = ReadCounters();
  void* block = Allocate(100);
  ASSERT_NE(block, nullptr);
  const std::size_t size = BlockSize(block);
  EXPECT_GE(size, 100u);
  ExpectMoves(before, {size, 1, 0, 0});

  before = ReadCounters();
  Free(block);
  ExpectMoves(before, {0, 0, size, 1});
}

TEST(AccountingTest, FreeingNullChangesNothing) {
  const Counters before = ReadCounters();
  Free(nullptr);
  const Counters after = ReadCounters();
  EXPECT_EQ(std::memcmp(&before, &after, sizeof(Counters)), 0);
}

TEST(AccountingTest, ReallocateCountsOneFreeAndOneAllocation) {
  Counters before = ReadCounters();
  void* block = Reallocate(nullptr, 40);  // a null block is a free of 0 bytes
  ASSERT_NE(block, nullptr);
  const std::size_t first = BlockSize(block);
  ExpectMoves(before, {first, 1, 0, 1});

  std::memset(block, 7, 40);
  before = ReadCounters();
  void* grown = Reallocate(block, 4000);
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(grown)[39], 7);
  const std::size_t second = BlockSize(grown);
  ExpectMoves(before, {second, 1, first, 1});

  before = ReadCounters();
  EXPECT_EQ(Reallocate(grown, 0), nullptr);  // a zero size frees the block
  ExpectMoves(before, {0, 1, second, 1});
}

TEST(AccountingTest, DuplicateTextCopiesAndCounts) {
  const Counters before = ReadCounters();
  char* copy = DuplicateText("player message");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "player message");
  ExpectMoves(before, {BlockSize(copy), 1, 0, 0});
  Free(copy);

  const Counters nullBefore = ReadCounters();
  EXPECT_EQ(DuplicateText(nullptr), nullptr);
  ExpectMoves(nullBefore, {0, 0, 0, 0});
}

TEST(AccountingTest, RefusedRequestsCountZeroBytesAndKeepTheBlock) {
  Counters before = ReadCounters();
  EXPECT_EQ(Allocate(kRefusedSize), nullptr);
  ExpectMoves(before, {0, 1, 0, 0});

  void* block = Allocate(64);
  ASSERT_NE(block, nullptr);
  std::memset(block, 3, 64);
  const std::size_t size = BlockSize(block);
  before = ReadCounters();
  // The old block stays the caller's: its bytes must still count as in use.
  EXPECT_EQ(Reallocate(block, kRefusedSize), nullptr);
  ExpectMoves(before, {0, 1, 0, 1});
  EXPECT_EQ(static_cast<unsigned char*>(block)[63], 3);

  before = ReadCounters();
  Free(block);
  ExpectMoves(before, {0, 0, size, 1});
}

TEST(AccountingTest, PeakFollowsBytesInUseAndNeverDrops) {
  // Rise above whatever peak earlier tests left.
  const Counters start = ReadCounters();
  const std::uint64_t inUse = start.allocatedBytes - start.freedBytes;
  const std::size_t above =
      static_cast<std::size_t>(start.peakBytes - std::min(start.peakBytes, inUse)) + 100;
  void* big = Allocate(above);
  ASSERT_NE(big, nullptr);
  const Counters raised = ReadCounters();
  EXPECT_EQ(raised.peakBytes, raised.allocatedBytes - raised.freedBytes);
  EXPECT_EQ(raised.peakBlocks, raised.allocations - raised.frees);

  Free(big);
  void* small = Allocate(50);
  ASSERT_NE(small, nullptr);
  const Counters later = ReadCounters();
  EXPECT_EQ(later.peakBytes, raised.peakBytes);
  EXPECT_EQ(later.peakBlocks, raised.peakBlocks);
  EXPECT_LT(later.allocatedBytes - later.freedBytes, later.peakBytes);
  Free(small);
  EXPECT_EQ(ReadCounters().peakBytes, raised.peakBytes);
}

// Hooks that record each operation with its user pointer and delegate to the
// counting hooks.
struct Recorder {
  std::vector<std::string> calls;
};

Recorder& RecorderOf(void* user) { return *static_cast<Recorder*>(user); }

const Hooks kRecordingHooks{
    [](void* user, std::size_t size) {
      RecorderOf(user).calls.push_back("allocate " + std::to_string(size));
      return CountingHooks().allocate(nullptr, size);
    },
    [](void* user, void* block) {
      RecorderOf(user).calls.push_back("free");
      CountingHooks().free(nullptr, block);
    },
    [](void* user, void* block, std::size_t size) {
      RecorderOf(user).calls.push_back("reallocate " + std::to_string(size));
      return CountingHooks().reallocate(nullptr, block, size);
    },
    [](void* user, const char* text) {
      RecorderOf(user).calls.push_back(std::string("duplicate ") + text);
      return CountingHooks().duplicateText(nullptr, text);
    },
    [](void* user, const void* block) {
      RecorderOf(user).calls.push_back("size");
      return CountingHooks().blockSize(nullptr, block);
    },
    nullptr};

TEST(AccountingTest, InstalledHooksReplaceAllFiveOperations) {
  Recorder recorder;
  Hooks hooks = kRecordingHooks;
  hooks.user = &recorder;
  const Hooks* previous = InstallHooks(&hooks);
  EXPECT_EQ(previous, &CountingHooks());

  void* block = Allocate(8);
  block = Reallocate(block, 16);
  (void)BlockSize(block);
  Free(block);
  Free(DuplicateText("x"));
  Free(nullptr);  // never reaches the hooks

  EXPECT_EQ(InstallHooks(nullptr), &hooks);
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{"allocate 8", "reallocate 16", "size", "free",
                                                      "duplicate x", "free"}));
  void* counted = Allocate(8);
  Free(counted);
  EXPECT_EQ(recorder.calls.size(), 6u);
}

TEST(AccountingTest, AllocatorCountsContainers) {
  const Counters before = ReadCounters();
  {
    std::vector<int, Allocator<int>> numbers(1000, 1);
    EXPECT_EQ(Delta(before, ReadCounters()).allocations, 1u);
  }
  const Counters after = ReadCounters();
  EXPECT_EQ(after.allocatedBytes - before.allocatedBytes, after.freedBytes - before.freedBytes);
  Allocator<int> allocator;
  int* refused = nullptr;
  EXPECT_THROW(refused = allocator.allocate(kRefusedSize), std::bad_alloc);
  EXPECT_EQ(refused, nullptr);
}

}  // namespace
}  // namespace Kavren::Accounting
