// The memory table computed from /proc texts, captured once, read into bounded buffers.
#include "util/memory_statistics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "util/platform.h"

namespace Kavren {
namespace {

TEST(MemoryStatistics, ComputedFromProcTexts) {
  MemorySources sources;
  sources.memInfo =
      "MemTotal:       16000000 kB\nMemFree:         1000000 kB\n"
      "MemAvailable:    4000000 kB\nSwapTotal:       2000000 kB\nSwapFree:        500000 kB\n";
  sources.processStatus =
      "Name:\ttest\nVmPeak:\t  300000 kB\nVmSize:\t  200000 kB\nVmHWM:\t   50000 kB\n"
      "VmRSS:\t   40000 kB\nRssAnon:\t   30000 kB\nVmSwap:\t       8 kB\n";
  sources.pageFaults = 1234;
  sources.addressSpace = std::uint64_t{1} << 32;
  MemoryStatistics table;
  ComputeMemoryStatistics(sources, table);
  const std::uint64_t k = 1024;
  const MemoryStatistics expected = {75,
                                     16000000 * k,
                                     4000000 * k,
                                     18000000 * k,
                                     4500000 * k,
                                     std::uint64_t{1} << 32,
                                     (std::uint64_t{1} << 32) - 200000 * k,
                                     0,
                                     1234,
                                     50000 * k,
                                     40000 * k,
                                     0,
                                     0,
                                     0,
                                     0,
                                     200000 * k,
                                     300000 * k,
                                     30008 * k};
  EXPECT_EQ(table, expected);

  // Unreadable sources leave zeros; a missing MemAvailable falls back to MemFree.
  MemorySources sparse;
  sparse.memInfo = "MemTotal: 100 kB\nMemFree: 25 kB\n";
  ComputeMemoryStatistics(sparse, table);
  EXPECT_EQ(table[MemoryStatistic::kMemoryLoad], 75u);
  EXPECT_EQ(table[MemoryStatistic::kWorkingSetSize], 0u);
  EXPECT_EQ(table[MemoryStatistic::kAvailableVirtual], 0u);
}

TEST(MemoryStatistics, CapturedOnceAndKept) {
  MemoryStatistics captured;
  CaptureMemoryStatisticsOnce();
  ASSERT_TRUE(CapturedMemoryStatistics(captured));
  EXPECT_GT(captured[MemoryStatistic::kTotalPhysical], 0u);
  EXPECT_GT(captured[MemoryStatistic::kWorkingSetSize], 0u);
  EXPECT_GT(captured[MemoryStatistic::kTotalVirtual], 0u);
  EXPECT_LE(captured[MemoryStatistic::kMemoryLoad], 100u);

  std::vector<char> touched(8 << 20, 1);  // new page faults, a bigger working set
  CaptureMemoryStatisticsOnce();
  MemoryStatistics again;
  ASSERT_TRUE(CapturedMemoryStatistics(again));
  EXPECT_EQ(again, captured);
  MemoryStatistics now;
  ReadMemoryStatistics(now);
  EXPECT_GT(now[MemoryStatistic::kPageFaultCount], captured[MemoryStatistic::kPageFaultCount]);
}

TEST(MemoryStatistics, FilesAreReadIntoBoundedBuffers) {
  char buffer[16];
  EXPECT_EQ(Platform::ReadFileIntoBuffer("/proc/self/status", buffer, sizeof buffer), 15);
  EXPECT_EQ(std::strlen(buffer), 15u);
  EXPECT_EQ(std::strncmp(buffer, "Name:", 5), 0);
  EXPECT_EQ(Platform::ReadFileIntoBuffer("/nonexistent/file", buffer, sizeof buffer), -1);
}

}  // namespace
}  // namespace Kavren
