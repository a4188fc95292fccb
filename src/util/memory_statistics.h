// The memory snapshot for diagnostics: eighteen figures of the machine's and the
// process's memory, taken once, on the module's first counted allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace Kavren {

inline constexpr std::size_t kMemoryStatisticCount = 18;
/// Eighteen figures, 0 where the value could not be read or Linux has no counterpart.
using MemoryStatistics = std::array<std::uint64_t, kMemoryStatisticCount>;

/// Positions in MemoryStatistics and their Linux sources (sizes in bytes).
namespace MemoryStatistic {
inline constexpr std::size_t kMemoryLoad = 0;                // percent of physical memory in use
inline constexpr std::size_t kTotalPhysical = 1;             // MemTotal
inline constexpr std::size_t kAvailablePhysical = 2;         // MemAvailable (else MemFree)
inline constexpr std::size_t kTotalPageFile = 3;             // commit limit: MemTotal + SwapTotal
inline constexpr std::size_t kAvailablePageFile = 4;         // available physical + SwapFree
inline constexpr std::size_t kTotalVirtual = 5;              // the process's address space
inline constexpr std::size_t kAvailableVirtual = 6;          // address space - VmSize
inline constexpr std::size_t kAvailableExtendedVirtual = 7;  // always 0
inline constexpr std::size_t kPageFaultCount = 8;            // minor + major faults (getrusage)
inline constexpr std::size_t kPeakWorkingSetSize = 9;        // VmHWM
inline constexpr std::size_t kWorkingSetSize = 10;           // VmRSS
inline constexpr std::size_t kQuotaPeakPagedPoolUsage = 11;  // 0
inline constexpr std::size_t kQuotaPagedPoolUsage = 12;      // 0
inline constexpr std::size_t kQuotaPeakNonPagedPoolUsage = 13;  // 0
inline constexpr std::size_t kQuotaNonPagedPoolUsage = 14;      // 0
inline constexpr std::size_t kPagefileUsage = 15;               // VmSize
inline constexpr std::size_t kPeakPagefileUsage = 16;           // VmPeak
inline constexpr std::size_t kPrivateUsage = 17;                // RssAnon + VmSwap
}  // namespace MemoryStatistic

/// What the memory table is computed from; null texts count as unreadable.
struct MemorySources {
  const char* memInfo = nullptr;        // text of /proc/meminfo
  const char* processStatus = nullptr;  // text of /proc/self/status
  std::uint64_t pageFaults = 0;
  std::uint64_t addressSpace = 0;
};

/// Computes the table from `sources`; never allocates.
void ComputeMemoryStatistics(const MemorySources& sources, MemoryStatistics& statistics) noexcept;

/// Reads the table from this machine now; never allocates (reads /proc with open and
/// read into stack buffers).
void ReadMemoryStatistics(MemoryStatistics& statistics) noexcept;

/// Takes the module's memory snapshot the first time it is called and does nothing
/// afterwards, nor when called again while the first call is still running (the
/// accounting allocator calls it before its first allocation). Never allocates.
void CaptureMemoryStatisticsOnce() noexcept;

/// The snapshot taken by CaptureMemoryStatisticsOnce; false (and zeros) before it.
bool CapturedMemoryStatistics(MemoryStatistics& statistics) noexcept;

}  // namespace Kavren
