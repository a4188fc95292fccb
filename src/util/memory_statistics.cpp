// The memory snapshot: /proc/meminfo and /proc/self/status read without allocating.
#include "util/memory_statistics.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "util/platform.h"

namespace Kavren {

namespace {

// The number after "key:" at the start of a line of `text`, in kB, as bytes.
bool FindKilobytes(const char* text, const char* key, std::uint64_t& bytes) {
  if (text == nullptr) return false;
  const std::size_t keyLength = std::strlen(key);
  for (const char* line = text; *line != '\0';) {
    if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') {
      const char* p = line + keyLength + 1;
      while (*p == ' ' || *p == '\t') ++p;
      if (*p < '0' || *p > '9') return false;
      std::uint64_t kilobytes = 0;
      for (; *p >= '0' && *p <= '9'; ++p) {
        kilobytes = kilobytes * 10 + static_cast<std::uint64_t>(*p - '0');
      }
      bytes = kilobytes * 1024;
      return true;
    }
    const char* end = std::strchr(line, '\n');
    if (end == nullptr) break;
    line = end + 1;
  }
  return false;
}

std::uint64_t Kilobytes(const char* text, const char* key) {
  std::uint64_t bytes = 0;
  return FindKilobytes(text, key, bytes) ? bytes : 0;
}

// 0 not yet taken, 1 being taken, 2 taken.
std::atomic<int> gMemoryCaptureState{0};
MemoryStatistics gCapturedMemory{};

}  // namespace

void ComputeMemoryStatistics(const MemorySources& sources, MemoryStatistics& statistics) noexcept {
  namespace M = MemoryStatistic;
  statistics.fill(0);
  const std::uint64_t total = Kilobytes(sources.memInfo, "MemTotal");
  std::uint64_t available = 0;
  if (!FindKilobytes(sources.memInfo, "MemAvailable", available)) {
    available = Kilobytes(sources.memInfo, "MemFree");
  }
  available = std::min(available, total);
  const std::uint64_t swapTotal = Kilobytes(sources.memInfo, "SwapTotal");
  const std::uint64_t swapFree = std::min(Kilobytes(sources.memInfo, "SwapFree"), swapTotal);
  if (total != 0) statistics[M::kMemoryLoad] = (total - available) * 100 / total;
  statistics[M::kTotalPhysical] = total;
  statistics[M::kAvailablePhysical] = available;
  statistics[M::kTotalPageFile] = total + swapTotal;
  statistics[M::kAvailablePageFile] = available + swapFree;

  const char* status = sources.processStatus;
  const std::uint64_t virtualSize = Kilobytes(status, "VmSize");
  statistics[M::kTotalVirtual] = sources.addressSpace;
  statistics[M::kAvailableVirtual] =
      sources.addressSpace > virtualSize ? sources.addressSpace - virtualSize : 0;
  statistics[M::kPageFaultCount] = sources.pageFaults;
  statistics[M::kPeakWorkingSetSize] = Kilobytes(status, "VmHWM");
  statistics[M::kWorkingSetSize] = Kilobytes(status, "VmRSS");
  statistics[M::kPagefileUsage] = virtualSize;
  statistics[M::kPeakPagefileUsage] = Kilobytes(status, "VmPeak");
  statistics[M::kPrivateUsage] = Kilobytes(status, "RssAnon") + Kilobytes(status, "VmSwap");
}

void ReadMemoryStatistics(MemoryStatistics& statistics) noexcept {
  char memInfo[4096];
  char status[8192];
  MemorySources sources;
  if (Platform::ReadFileIntoBuffer("/proc/meminfo", memInfo, sizeof memInfo) > 0) {
    sources.memInfo = memInfo;
  }
  if (Platform::ReadFileIntoBuffer("/proc/self/status", status, sizeof status) > 0) {
    sources.processStatus = status;
  }
  sources.pageFaults = Platform::ProcessPageFaults();
  sources.addressSpace = Platform::AddressSpaceSize();
  ComputeMemoryStatistics(sources, statistics);
}

void CaptureMemoryStatisticsOnce() noexcept {
  int expected = 0;
  if (!gMemoryCaptureState.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
    return;  // taken, or being taken further up this very call chain
  }
  ReadMemoryStatistics(gCapturedMemory);
  gMemoryCaptureState.store(2, std::memory_order_release);
}

bool CapturedMemoryStatistics(MemoryStatistics& statistics) noexcept {
  if (gMemoryCaptureState.load(std::memory_order_acquire) != 2) {
    statistics.fill(0);
    return false;
  }
  statistics = gCapturedMemory;
  return true;
}

}  // namespace Kavren
