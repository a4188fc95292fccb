// Processor identification and the topology providers.
#include "util/system_info.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "util/accounting.h"

namespace Kavren {
namespace {

constexpr char kUnknown[] = "UNKNOWN";
constexpr char kSysCpu[] = "/sys/devices/system/cpu/";
constexpr char kSysNode[] = "/sys/devices/system/node/";
constexpr std::uint32_t kMaxProcessorBits = 64;
constexpr std::uint32_t kMaxCacheIndex = 16;

// Putting an affinity back is best effort: if it fails there is nothing more to do.
void IgnoreResult(bool succeeded) { (void)succeeded; }

std::string Trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// A decimal number at the start of `text`; `suffix` receives what follows it.
bool ParseUnsigned(const std::string& text, std::uint64_t& value, std::string* suffix = nullptr) {
  std::string trimmed = Trim(text);
  std::size_t i = 0;
  value = 0;
  for (; i < trimmed.size() && trimmed[i] >= '0' && trimmed[i] <= '9'; ++i) {
    value = value * 10 + static_cast<std::uint64_t>(trimmed[i] - '0');
  }
  if (suffix != nullptr) *suffix = trimmed.substr(i);
  return i > 0;
}

class MachineBackend final : public SystemInfoBackend {
 public:
  bool Cpuid(std::uint32_t leaf, std::uint32_t subleaf, CpuidResult& result) override {
    std::uint32_t registers[4] = {};
    if (!Platform::Cpuid(leaf, subleaf, registers)) return false;
    result = CpuidResult{registers[0], registers[1], registers[2], registers[3]};
    return true;
  }
  bool ReadTextFile(const std::string& path, std::string& text) override {
    char buffer[4096];
    long length = Platform::ReadFileIntoBuffer(path.c_str(), buffer, sizeof buffer);
    if (length < 0) return false;
    text.assign(buffer, static_cast<std::size_t>(length));
    return true;
  }
  bool GetAffinityMasks(ProcessorMask& process, ProcessorMask& system) override {
    std::uint32_t count = std::min(Platform::ConfiguredProcessorCount(), kMaxProcessorBits);
    system = count >= 64 ? ~ProcessorMask{0} : (ProcessorMask{1} << count) - 1;
    return Platform::GetThreadAffinityMask(process) && process != 0;
  }
  bool SetProcessAffinity(ProcessorMask mask) override {
    return Platform::SetThreadAffinityMask(mask);
  }
  bool GetThreadAffinity(ProcessorMask& mask) override {
    return Platform::GetThreadAffinityMask(mask);
  }
  bool SetThreadAffinity(ProcessorMask mask) override {
    return Platform::SetThreadAffinityMask(mask);
  }
  void YieldProcessor() override { Platform::YieldThread(); }
};

std::string VendorOf(SystemInfoBackend& backend) {
  CpuidResult leaf0;
  if (!backend.Cpuid(0, 0, leaf0)) return kUnknown;
  char vendor[13] = {};
  std::memcpy(vendor, &leaf0.ebx, 4);
  std::memcpy(vendor + 4, &leaf0.edx, 4);
  std::memcpy(vendor + 8, &leaf0.ecx, 4);
  std::string text = Trim(vendor);
  return text.empty() ? kUnknown : text;
}

std::string BrandOf(SystemInfoBackend& backend) {
  CpuidResult extended;
  if (!backend.Cpuid(0x80000000u, 0, extended) || extended.eax < 0x80000004u) return kUnknown;
  char brand[49] = {};
  for (std::uint32_t i = 0; i < 3; ++i) {
    CpuidResult part;
    if (!backend.Cpuid(0x80000002u + i, 0, part)) return kUnknown;
    std::memcpy(brand + std::size_t{16} * i, &part, 16);
  }
  std::string text = Trim(brand);
  return text.empty() ? kUnknown : text;
}

// ---- Logical-processor provider over /sys ----

void AddEntry(std::vector<LogicalProcessorEntry>& entries, const LogicalProcessorEntry& entry) {
  if (entry.processorMask == 0) return;
  for (const LogicalProcessorEntry& known : entries) {
    if (known == entry) return;
  }
  entries.push_back(entry);
}

bool ReadMask(SystemInfoBackend& backend, const std::string& path, ProcessorMask& mask) {
  std::string text;
  if (!backend.ReadTextFile(path, text)) return false;
  mask = detail::ParseProcessorList(text);
  return mask != 0;
}

void AddCaches(SystemInfoBackend& backend, const std::string& cpuPath,
               std::vector<LogicalProcessorEntry>& entries) {
  for (std::uint32_t index = 0; index < kMaxCacheIndex; ++index) {
    const std::string path = cpuPath + "cache/index" + std::to_string(index) + "/";
    LogicalProcessorEntry entry;
    entry.relationship = ProcessorRelationship::kCache;
    std::string text;
    std::uint64_t number = 0;
    if (!ReadMask(backend, path + "shared_cpu_list", entry.processorMask)) break;
    if (backend.ReadTextFile(path + "level", text) && ParseUnsigned(text, number)) {
      entry.cacheLevel = static_cast<std::uint32_t>(number);
    }
    if (backend.ReadTextFile(path + "coherency_line_size", text) && ParseUnsigned(text, number)) {
      entry.cacheLineSize = static_cast<std::uint32_t>(number);
    }
    std::string unit;
    if (backend.ReadTextFile(path + "size", text) && ParseUnsigned(text, number, &unit)) {
      std::uint64_t scale = unit == "K" ? 1024 : unit == "M" ? 1024 * 1024 : 1;
      entry.cacheSize = number * scale;
    }
    if (backend.ReadTextFile(path + "type", text)) {
      std::string type = Trim(text);
      entry.cacheType = type == "Data"          ? CacheType::kData
                        : type == "Instruction" ? CacheType::kInstruction
                                                : CacheType::kUnified;
    }
    AddEntry(entries, entry);
  }
}

std::vector<LogicalProcessorEntry> ReadLogicalProcessors(SystemInfoBackend& backend) {
  std::vector<LogicalProcessorEntry> entries;
  ProcessorMask online = 0;
  if (!ReadMask(backend, std::string(kSysCpu) + "online", online)) return entries;
  for (std::uint32_t cpu = 0; cpu < kMaxProcessorBits; ++cpu) {
    if (((online >> cpu) & 1) == 0) continue;
    const std::string cpuPath = std::string(kSysCpu) + "cpu" + std::to_string(cpu) + "/";
    LogicalProcessorEntry core;
    if (!ReadMask(backend, cpuPath + "topology/thread_siblings_list", core.processorMask)) {
      continue;
    }
    core.sharedCore = std::popcount(core.processorMask) > 1;
    AddEntry(entries, core);
    LogicalProcessorEntry package;
    package.relationship = ProcessorRelationship::kProcessorPackage;
    if (ReadMask(backend, cpuPath + "topology/core_siblings_list", package.processorMask)) {
      AddEntry(entries, package);
    }
    AddCaches(backend, cpuPath, entries);
  }
  ProcessorMask nodes = 0;
  std::string nodesText;
  if (backend.ReadTextFile(std::string(kSysNode) + "online", nodesText)) {
    nodes = detail::ParseProcessorList(nodesText);
  }
  for (std::uint32_t node = 0; node < kMaxProcessorBits; ++node) {
    if (((nodes >> node) & 1) == 0) continue;
    LogicalProcessorEntry entry;
    entry.relationship = ProcessorRelationship::kNumaNode;
    entry.nodeNumber = node;
    if (ReadMask(backend, std::string(kSysNode) + "node" + std::to_string(node) + "/cpulist",
                 entry.processorMask)) {
      AddEntry(entries, entry);
    }
  }
  bool hasCore = false;
  for (const LogicalProcessorEntry& entry : entries) {
    hasCore = hasCore || entry.relationship == ProcessorRelationship::kProcessorCore;
  }
  if (!hasCore) entries.clear();
  return entries;
}

// ---- APIC provider ----

// True when the process and thread affinity can be changed and put back.
bool AffinityIsChangeable(SystemInfoBackend& backend, ProcessorMask& process,
                          ProcessorMask& system) {
  if (!backend.GetAffinityMasks(process, system)) return false;
  if (process != system) {
    if (!backend.SetProcessAffinity(system)) return false;
    if (!backend.SetProcessAffinity(process)) return false;
  }
  if (std::popcount(process) > 1) {
    ProcessorMask previous = 0;
    if (!backend.GetThreadAffinity(previous)) return false;
    if (!backend.SetThreadAffinity(process)) return false;
    if (!backend.SetThreadAffinity(previous)) return false;
  }
  return true;
}

std::uint32_t CoresPerPackage(SystemInfoBackend& backend, const std::string& vendor,
                              const CpuidResult& leaf1) {
  if (((leaf1.edx >> 28) & 1) == 0) return 1;  // no hyper-threading feature
  CpuidResult result;
  if (vendor == "GenuineIntel") {
    CpuidResult leaf0;
    if (backend.Cpuid(0, 0, leaf0) && leaf0.eax >= 4 && backend.Cpuid(4, 0, result)) {
      return (result.eax >> 26) + 1;
    }
    return 1;
  }
  CpuidResult extended;
  if (backend.Cpuid(0x80000000u, 0, extended) && extended.eax >= 0x80000008u &&
      backend.Cpuid(0x80000008u, 0, result)) {
    std::uint32_t shift = (result.ecx >> 12) & 0xF;
    return shift != 0 ? (1u << shift) : (result.ecx & 0xFF) + 1;
  }
  return 1;
}

std::unique_ptr<ProcessorTopology> EnumerateApicIds(SystemInfoBackend& backend,
                                                    const std::string& vendor,
                                                    ProcessorMask process, ProcessorMask system) {
  CpuidResult leaf1;
  const bool hasLeaf1 = backend.Cpuid(1, 0, leaf1);
  const std::uint32_t coresPerPackage = hasLeaf1 ? CoresPerPackage(backend, vendor, leaf1) : 1;
  const std::uint32_t logicalPerPackage =
      hasLeaf1 && ((leaf1.edx >> 28) & 1) != 0 ? (leaf1.ebx >> 16) & 0xFF : 1;
  std::array<std::uint8_t, ApicTopology::kMaxProcessors> ids{};
  std::array<ProcessorMask, ApicTopology::kMaxProcessors> processors{};
  std::uint32_t count = 0;
  if (system == 1) {
    processors[0] = 1;
    return std::make_unique<ApicTopology>(ids, processors, 1, coresPerPackage, logicalPerPackage);
  }
  ProcessorMask previousThread = process;
  const bool threadKnown = backend.GetThreadAffinity(previousThread);
  const bool processChanged = process != system && backend.SetProcessAffinity(system);
  for (std::uint32_t bit = 0; bit < kMaxProcessorBits && count < ApicTopology::kMaxProcessors;
       ++bit) {
    const ProcessorMask processor = ProcessorMask{1} << bit;
    if ((system & processor) == 0) continue;
    if (!backend.SetThreadAffinity(processor)) continue;
    backend.YieldProcessor();
    CpuidResult result;
    if (!backend.Cpuid(1, 0, result)) continue;
    ids[count] = static_cast<std::uint8_t>(result.ebx >> 24);
    processors[count] = processor;
    ++count;
  }
  // Put everything back, whatever happened above.
  if (processChanged) IgnoreResult(backend.SetProcessAffinity(process));
  IgnoreResult(backend.SetThreadAffinity(threadKnown ? previousThread : process));
  backend.YieldProcessor();
  return std::make_unique<ApicTopology>(ids, processors, count, coresPerPackage, logicalPerPackage);
}

}  // namespace

// ---- Providers ----

LogicalProcessorTopology::LogicalProcessorTopology(std::vector<LogicalProcessorEntry> entries)
    : entries_(std::move(entries)) {}

std::uint32_t LogicalProcessorTopology::CoreCount() const {
  std::uint32_t count = 0;
  for (const LogicalProcessorEntry& entry : entries_) {
    if (entry.relationship == ProcessorRelationship::kProcessorCore) ++count;
  }
  return count;
}

std::uint32_t LogicalProcessorTopology::LogicalProcessorCount() const {
  ProcessorMask all = 0;
  for (const LogicalProcessorEntry& entry : entries_) {
    if (entry.relationship == ProcessorRelationship::kProcessorCore) all |= entry.processorMask;
  }
  return static_cast<std::uint32_t>(std::popcount(all));
}

ProcessorMask LogicalProcessorTopology::CoreMask(std::uint32_t core) const {
  for (const LogicalProcessorEntry& entry : entries_) {
    if (entry.relationship == ProcessorRelationship::kProcessorCore && --core == 0) {
      return entry.processorMask;
    }
  }
  return 0;
}

ApicTopology::ApicTopology(const std::array<std::uint8_t, kMaxProcessors>& apicIds,
                           const std::array<ProcessorMask, kMaxProcessors>& processors,
                           std::uint32_t count, std::uint32_t coresPerPackage,
                           std::uint32_t logicalPerPackage)
    : apicIds_(apicIds),
      processors_(processors),
      count_(std::min<std::uint32_t>(count, kMaxProcessors)),
      coresPerPackage_(coresPerPackage == 0 ? 1 : coresPerPackage),
      logicalPerPackage_(logicalPerPackage == 0 ? 1 : logicalPerPackage) {}

std::uint32_t ApicTopology::CoreShift() const {
  // Threads per core, rounded up to a power of two, is the width of the thread field.
  std::uint32_t threads = logicalPerPackage_ / coresPerPackage_;
  return threads <= 1 ? 0 : static_cast<std::uint32_t>(std::bit_width(threads - 1));
}

bool ApicTopology::FirstOfItsCore(std::uint32_t index) const {
  for (std::uint32_t j = 0; j < index; ++j) {
    if ((apicIds_[j] >> CoreShift()) == (apicIds_[index] >> CoreShift())) return false;
  }
  return true;
}

std::uint32_t ApicTopology::CoreCount() const {
  std::uint32_t cores = 0;
  for (std::uint32_t i = 0; i < count_; ++i) cores += FirstOfItsCore(i) ? 1 : 0;
  return cores;
}

ProcessorMask ApicTopology::CoreMask(std::uint32_t core) const {
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (!FirstOfItsCore(i) || --core != 0) continue;
    ProcessorMask mask = 0;
    for (std::uint32_t j = i; j < count_; ++j) {
      if ((apicIds_[j] >> CoreShift()) == (apicIds_[i] >> CoreShift())) mask |= processors_[j];
    }
    return mask;
  }
  return 0;
}

namespace detail {

ProcessorMask ParseProcessorList(const std::string& text) {
  ProcessorMask mask = 0;
  std::size_t i = 0;
  auto number = [&](std::uint64_t& value) {
    std::size_t start = i;
    value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      value =
          std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(text[i] - '0'), 1u << 20);
    }
    return i > start;
  };
  while (i < text.size()) {
    std::uint64_t first = 0;
    if (!number(first)) {
      ++i;  // separators and the final newline
      continue;
    }
    std::uint64_t last = first;
    if (i < text.size() && text[i] == '-') {
      ++i;
      if (!number(last)) last = first;
    }
    for (std::uint64_t cpu = first; cpu <= last && cpu < kMaxProcessorBits; ++cpu) {
      mask |= ProcessorMask{1} << cpu;
    }
  }
  return mask;
}

std::unique_ptr<ProcessorTopology> BuildTopology(SystemInfoBackend& backend,
                                                 const std::string& vendor) {
  std::vector<LogicalProcessorEntry> entries = ReadLogicalProcessors(backend);
  if (!entries.empty()) return std::make_unique<LogicalProcessorTopology>(std::move(entries));
  ProcessorMask process = 0;
  ProcessorMask system = 0;
  if ((vendor == "GenuineIntel" || vendor == "AuthenticAMD") &&
      AffinityIsChangeable(backend, process, system)) {
    return EnumerateApicIds(backend, vendor, process, system);
  }
  if (process == 0) {
    ProcessorMask ignored = 0;
    if (!backend.GetAffinityMasks(process, ignored) || process == 0) process = 1;
  }
  return std::make_unique<SingleProcessorTopology>(process);
}

}  // namespace detail

SystemInfoBackend& MachineSystemInfoBackend() {
  static MachineBackend backend;
  return backend;
}

SystemInfo::SystemInfo(SystemInfoBackend& backend) noexcept {
  // The snapshot is diagnostics only: nothing here may fail the load.
  try {
    cpuVendor_ = VendorOf(backend);
    cpuBrand_ = BrandOf(backend);
    topology_ = detail::BuildTopology(backend, cpuVendor_);
  } catch (...) {
    topology_.reset();
  }
}

std::string SystemInfo::CpuVendor() const {
  std::lock_guard<Platform::CriticalSection> guard(lock_);
  return cpuVendor_.empty() ? kUnknown : cpuVendor_;
}

std::string SystemInfo::CpuBrand() const {
  std::lock_guard<Platform::CriticalSection> guard(lock_);
  return cpuBrand_.empty() ? kUnknown : cpuBrand_;
}

const ProcessorTopology& SystemInfo::Topology() const {
  static const SingleProcessorTopology kFallback(1);
  std::lock_guard<Platform::CriticalSection> guard(lock_);
  if (topology_ == nullptr) return kFallback;
  return *topology_;
}

namespace {

// Built in static storage under an uncounted scope, so the snapshot never shows in the
// module's heap accounting; released the same way when the library goes away.
struct ProcessSystemInfoHolder {
  ProcessSystemInfoHolder() {
    Accounting::UncountedScope uncounted;
    info = new (storage) SystemInfo();
  }
  ~ProcessSystemInfoHolder() {
    Accounting::UncountedScope uncounted;
    info->~SystemInfo();
  }
  alignas(SystemInfo) unsigned char storage[sizeof(SystemInfo)];
  SystemInfo* info = nullptr;
};

}  // namespace

const SystemInfo& ProcessSystemInfo() {
  static ProcessSystemInfoHolder holder;
  return *holder.info;
}

}  // namespace Kavren
