// The processor snapshot for diagnostics: identification and topology, taken at load.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/platform.h"

namespace Kavren {

/// A set of processors, one bit per processor (the first 64 processors).
using ProcessorMask = std::uint64_t;

struct CpuidResult {
  std::uint32_t eax = 0;
  std::uint32_t ebx = 0;
  std::uint32_t ecx = 0;
  std::uint32_t edx = 0;
};

/// The processor and operating-system calls behind the topology snapshot, so that
/// tests can replace them. On Linux affinity belongs to threads: the "process" mask
/// is the calling thread's allowed set, the "system" mask every configured processor.
class SystemInfoBackend {
 public:
  virtual ~SystemInfoBackend() = default;
  /// CPUID `leaf`/`subleaf`; false when the processor has no such leaf.
  virtual bool Cpuid(std::uint32_t leaf, std::uint32_t subleaf, CpuidResult& result) = 0;
  /// The whole text of a small file (a /sys entry); false when it cannot be read.
  virtual bool ReadTextFile(const std::string& path, std::string& text) = 0;
  virtual bool GetAffinityMasks(ProcessorMask& process, ProcessorMask& system) = 0;
  virtual bool SetProcessAffinity(ProcessorMask mask) = 0;
  virtual bool GetThreadAffinity(ProcessorMask& mask) = 0;
  virtual bool SetThreadAffinity(ProcessorMask mask) = 0;
  /// Gives up the rest of the time slice, so that a new affinity takes effect.
  virtual void YieldProcessor() = 0;
};

/// The backend over this machine: CPUID, /sys/devices/system, sched_getaffinity and
/// sched_setaffinity. One process-wide instance.
SystemInfoBackend& MachineSystemInfoBackend();

enum class TopologyKind { kLogicalProcessor, kApic, kSingleProcessor };

/// Which processors share what, as one provider found it.
class ProcessorTopology {
 public:
  virtual ~ProcessorTopology() = default;
  virtual TopologyKind Kind() const = 0;
  virtual std::uint32_t CoreCount() const = 0;
  virtual std::uint32_t LogicalProcessorCount() const = 0;
  /// The processors of the `core`-th core, counted from 1; 0 when there is none.
  virtual ProcessorMask CoreMask(std::uint32_t core) const = 0;
};

enum class ProcessorRelationship { kProcessorCore, kNumaNode, kCache, kProcessorPackage };
enum class CacheType { kUnified, kInstruction, kData, kTrace };

/// One entry of the logical-processor table: a set of processors and what they share.
struct LogicalProcessorEntry {
  ProcessorMask processorMask = 0;
  ProcessorRelationship relationship = ProcessorRelationship::kProcessorCore;
  bool sharedCore = false;       // core: more than one logical processor
  std::uint32_t nodeNumber = 0;  // NUMA node
  std::uint32_t cacheLevel = 0;  // cache: 1, 2, 3
  std::uint32_t cacheLineSize = 0;
  std::uint64_t cacheSize = 0;  // bytes
  CacheType cacheType = CacheType::kUnified;

  friend bool operator==(const LogicalProcessorEntry&, const LogicalProcessorEntry&) = default;
};

/// The operating system's own table of cores, packages, caches and NUMA nodes.
class LogicalProcessorTopology final : public ProcessorTopology {
 public:
  explicit LogicalProcessorTopology(std::vector<LogicalProcessorEntry> entries);
  TopologyKind Kind() const override { return TopologyKind::kLogicalProcessor; }
  std::uint32_t CoreCount() const override;
  std::uint32_t LogicalProcessorCount() const override;
  ProcessorMask CoreMask(std::uint32_t core) const override;
  const std::vector<LogicalProcessorEntry>& Entries() const { return entries_; }

 private:
  std::vector<LogicalProcessorEntry> entries_;
};

/// Initial APIC identifiers read with the thread pinned to each processor in turn.
class ApicTopology final : public ProcessorTopology {
 public:
  static constexpr std::size_t kMaxProcessors = 32;
  /// `processors[i]` is the mask of the processor whose identifier is `apicIds[i]`.
  ApicTopology(const std::array<std::uint8_t, kMaxProcessors>& apicIds,
               const std::array<ProcessorMask, kMaxProcessors>& processors, std::uint32_t count,
               std::uint32_t coresPerPackage, std::uint32_t logicalPerPackage);
  TopologyKind Kind() const override { return TopologyKind::kApic; }
  std::uint32_t CoreCount() const override;
  std::uint32_t LogicalProcessorCount() const override { return count_; }
  ProcessorMask CoreMask(std::uint32_t core) const override;
  std::uint32_t CoresPerPackage() const { return coresPerPackage_; }
  std::uint8_t ApicId(std::uint32_t index) const { return apicIds_[index]; }

 private:
  // Logical processors of one core share every identifier bit above this shift.
  std::uint32_t CoreShift() const;
  // True when no earlier processor shares the core of processor `index`.
  bool FirstOfItsCore(std::uint32_t index) const;

  std::array<std::uint8_t, kMaxProcessors> apicIds_;
  std::array<ProcessorMask, kMaxProcessors> processors_;
  std::uint32_t count_;
  std::uint32_t coresPerPackage_;
  std::uint32_t logicalPerPackage_;
};

/// Nothing known: one processor, the process's allowed set.
class SingleProcessorTopology final : public ProcessorTopology {
 public:
  explicit SingleProcessorTopology(ProcessorMask processMask) : processMask_(processMask) {}
  TopologyKind Kind() const override { return TopologyKind::kSingleProcessor; }
  std::uint32_t CoreCount() const override { return 1; }
  std::uint32_t LogicalProcessorCount() const override { return 1; }
  ProcessorMask CoreMask(std::uint32_t core) const override { return core == 1 ? processMask_ : 0; }

 private:
  ProcessorMask processMask_;
};

/// The module-wide processor snapshot: vendor and brand from CPUID ("UNKNOWN" when
/// not available) and the topology of the first provider that works: the operating
/// system's table (/sys), then APIC identifiers (GenuineIntel or AuthenticAMD with
/// changeable affinity), then a single processor. Any affinity it changes is
/// restored before the constructor returns. Never throws.
class SystemInfo {
 public:
  explicit SystemInfo(SystemInfoBackend& backend = MachineSystemInfoBackend()) noexcept;
  SystemInfo(const SystemInfo&) = delete;
  SystemInfo& operator=(const SystemInfo&) = delete;

  std::string CpuVendor() const;
  std::string CpuBrand() const;
  /// The topology provider; valid as long as this object.
  const ProcessorTopology& Topology() const;

 private:
  mutable Platform::CriticalSection lock_;  // guards the three fields below
  std::string cpuVendor_;
  std::string cpuBrand_;
  std::unique_ptr<ProcessorTopology> topology_;
};

/// [thread-safe] The process's snapshot of this machine, built on the first call (the
/// plugin makes it at load) and released when the library is unloaded. Its memory is
/// never counted as the module's.
const SystemInfo& ProcessSystemInfo();

namespace detail {
/// Chooses and builds the topology provider (see SystemInfo).
std::unique_ptr<ProcessorTopology> BuildTopology(SystemInfoBackend& backend,
                                                 const std::string& vendor);
/// A /sys processor list such as "0-3,8,10-11" as a mask (processors above 63 dropped).
ProcessorMask ParseProcessorList(const std::string& text);
}  // namespace detail

}  // namespace Kavren
