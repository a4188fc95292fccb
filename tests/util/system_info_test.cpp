// Processor snapshot with a fake machine.
#include "util/system_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Kavren {
namespace {

// A machine whose files, CPUID leaves and affinity calls the test decides. CPUID leaf 1
// answers the APIC identifier of the processor the thread is pinned to.
class FakeMachine : public SystemInfoBackend {
 public:
  std::map<std::string, std::string> files;
  std::map<std::uint32_t, CpuidResult> leaves;
  std::map<int, std::uint8_t> apicIdOfProcessor;  // bit index -> APIC id
  ProcessorMask processMask = 0b1111;
  ProcessorMask systemMask = 0b1111;
  ProcessorMask threadMask = 0b1111;
  bool canSetThread = true;
  bool canSetProcess = true;
  int failPinOfBit = -1;
  int yields = 0;
  std::vector<ProcessorMask> threadPins;

  void SetVendor(const char* vendor, std::uint32_t maxLeaf) {
    CpuidResult leaf0{maxLeaf, 0, 0, 0};
    std::memcpy(&leaf0.ebx, vendor, 4);
    std::memcpy(&leaf0.edx, vendor + 4, 4);
    std::memcpy(&leaf0.ecx, vendor + 8, 4);
    leaves[0] = leaf0;
  }

  bool Cpuid(std::uint32_t leaf, std::uint32_t, CpuidResult& result) override {
    auto found = leaves.find(leaf);
    if (found == leaves.end()) return false;
    result = found->second;
    if (leaf == 1 && std::popcount(threadMask) == 1) {
      result.ebx = (result.ebx & 0x00FFFFFFu) |
                   (std::uint32_t{apicIdOfProcessor[std::countr_zero(threadMask)]} << 24);
    }
    return true;
  }
  bool ReadTextFile(const std::string& path, std::string& text) override {
    auto found = files.find(path);
    if (found == files.end()) return false;
    text = found->second;
    return true;
  }
  bool GetAffinityMasks(ProcessorMask& process, ProcessorMask& system) override {
    process = processMask;
    system = systemMask;
    return true;
  }
  bool SetProcessAffinity(ProcessorMask mask) override {
    if (!canSetProcess) return false;
    processMask = mask;
    return true;
  }
  bool GetThreadAffinity(ProcessorMask& mask) override {
    mask = threadMask;
    return true;
  }
  bool SetThreadAffinity(ProcessorMask mask) override {
    if (!canSetThread) return false;
    if (failPinOfBit >= 0 && mask == (ProcessorMask{1} << failPinOfBit)) return false;
    threadMask = mask;
    threadPins.push_back(mask);
    return true;
  }
  void YieldProcessor() override { ++yields; }
};

TEST(SystemInfo, VendorAndBrandFromCpuid) {
  FakeMachine machine;
  machine.SetVendor("GenuineIntel", 4);
  machine.leaves[0x80000000u] = {0x80000004u, 0, 0, 0};
  const char brand[49] = "  Example(R) Processor 9000 @ 3.00GHz";
  for (std::uint32_t i = 0; i < 3; ++i) {
    CpuidResult part;
    std::memcpy(&part, brand + 16 * i, 16);
    machine.leaves[0x80000002u + i] = part;
  }
  SystemInfo info(machine);
  EXPECT_EQ(info.CpuVendor(), "GenuineIntel");
  EXPECT_EQ(info.CpuBrand(), "Example(R) Processor 9000 @ 3.00GHz");

  FakeMachine bare;  // no CPUID at all, no /sys: the single-processor provider
  bare.processMask = 0b0110;
  SystemInfo unknown(bare);
  EXPECT_EQ(unknown.CpuVendor(), "UNKNOWN");
  EXPECT_EQ(unknown.CpuBrand(), "UNKNOWN");
  EXPECT_EQ(unknown.Topology().Kind(), TopologyKind::kSingleProcessor);
  EXPECT_EQ(unknown.Topology().CoreCount(), 1u);
  EXPECT_EQ(unknown.Topology().LogicalProcessorCount(), 1u);
  EXPECT_EQ(unknown.Topology().CoreMask(1), 0b0110u);
  EXPECT_EQ(unknown.Topology().CoreMask(2), 0u);
}

TEST(SystemInfo, LogicalProcessorTableFromSys) {
  FakeMachine machine;
  machine.SetVendor("GenuineIntel", 4);
  const std::string cpu = "/sys/devices/system/cpu/";
  machine.files[cpu + "online"] = "0-3\n";
  for (int i = 0; i < 4; ++i) {
    const std::string base = cpu + "cpu" + std::to_string(i) + "/";
    machine.files[base + "topology/thread_siblings_list"] = i < 2 ? "0-1\n" : "2-3\n";
    machine.files[base + "topology/core_siblings_list"] = "0-3\n";
    machine.files[base + "cache/index0/shared_cpu_list"] = i < 2 ? "0-1\n" : "2-3\n";
    machine.files[base + "cache/index0/level"] = "1\n";
    machine.files[base + "cache/index0/type"] = "Data\n";
    machine.files[base + "cache/index0/size"] = "48K\n";
    machine.files[base + "cache/index0/coherency_line_size"] = "64\n";
    machine.files[base + "cache/index1/shared_cpu_list"] = "0-3\n";
    machine.files[base + "cache/index1/level"] = "3\n";
    machine.files[base + "cache/index1/type"] = "Unified\n";
    machine.files[base + "cache/index1/size"] = "8M\n";
  }
  machine.files["/sys/devices/system/node/online"] = "0\n";
  machine.files["/sys/devices/system/node/node0/cpulist"] = "0-3\n";

  SystemInfo info(machine);
  const auto& topology = info.Topology();
  ASSERT_EQ(topology.Kind(), TopologyKind::kLogicalProcessor);
  EXPECT_EQ(topology.CoreCount(), 2u);
  EXPECT_EQ(topology.LogicalProcessorCount(), 4u);
  EXPECT_EQ(topology.CoreMask(1), 0b0011u);
  EXPECT_EQ(topology.CoreMask(2), 0b1100u);
  EXPECT_EQ(topology.CoreMask(3), 0u);

  const auto& entries = static_cast<const LogicalProcessorTopology&>(topology).Entries();
  // In order of discovery: core 0-1, package, L1 0-1, L3, core 2-3, L1 2-3, node;
  // the entries the other processors repeat are not added twice.
  ASSERT_EQ(entries.size(), 7u);
  EXPECT_TRUE(entries[0].sharedCore);
  LogicalProcessorEntry l3;
  l3.processorMask = 0b1111;
  l3.relationship = ProcessorRelationship::kCache;
  l3.cacheLevel = 3;
  l3.cacheSize = 8u * 1024 * 1024;
  EXPECT_EQ(entries[3], l3);
  EXPECT_EQ(entries[2].cacheSize, 48u * 1024);
  EXPECT_EQ(entries[2].cacheType, CacheType::kData);
  EXPECT_EQ(entries[2].cacheLineSize, 64u);
  EXPECT_EQ(entries[6].relationship, ProcessorRelationship::kNumaNode);
  // The table needs no affinity changes.
  EXPECT_TRUE(machine.threadPins.empty());
}

TEST(SystemInfo, ApicProviderPinsEachProcessorAndRestoresAffinity) {
  FakeMachine machine;
  machine.SetVendor("GenuineIntel", 4);
  machine.leaves[1] = {0, 0x00040000u, 0, 1u << 28};  // hyper-threading, 4 per package
  machine.leaves[4] = {(1u << 26), 0, 0, 0};          // 2 cores per package
  machine.apicIdOfProcessor = {{0, 0}, {1, 1}, {2, 2}, {3, 3}};
  machine.systemMask = 0b1111;
  machine.processMask = 0b0101;
  machine.threadMask = 0b0100;

  SystemInfo info(machine);
  ASSERT_EQ(info.Topology().Kind(), TopologyKind::kApic);
  const auto& apic = static_cast<const ApicTopology&>(info.Topology());
  EXPECT_EQ(apic.CoresPerPackage(), 2u);
  ASSERT_EQ(apic.LogicalProcessorCount(), 4u);
  for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(apic.ApicId(i), i);
  EXPECT_EQ(apic.CoreCount(), 2u);
  EXPECT_EQ(apic.CoreMask(1), 0b0011u);
  EXPECT_EQ(apic.CoreMask(2), 0b1100u);
  // Every processor of the system was visited, and the masks are as before.
  const std::vector<ProcessorMask> expectedPins = {0b0101, 0b0100,  // changeability test
                                                   0b0001, 0b0010, 0b0100, 0b1000, 0b0100};
  EXPECT_EQ(machine.threadPins, expectedPins);
  EXPECT_EQ(machine.processMask, 0b0101u);
  EXPECT_EQ(machine.threadMask, 0b0100u);
  EXPECT_EQ(machine.yields, 5);
}

TEST(SystemInfo, ApicWalkRestoresAffinityWhenAPinFails) {
  FakeMachine machine;
  machine.SetVendor("AuthenticAMD", 1);
  machine.leaves[1] = {0, 0x00080000u, 0, 1u << 28};
  machine.leaves[0x80000000u] = {0x80000008u, 0, 0, 0};
  machine.leaves[0x80000008u] = {0, 0, 0x3007u, 0};  // 2^3 cores per package
  machine.apicIdOfProcessor = {{0, 16}, {2, 18}};
  machine.failPinOfBit = 1;
  machine.threadMask = 0b1000;

  SystemInfo info(machine);
  ASSERT_EQ(info.Topology().Kind(), TopologyKind::kApic);
  const auto& apic = static_cast<const ApicTopology&>(info.Topology());
  EXPECT_EQ(apic.CoresPerPackage(), 8u);
  ASSERT_EQ(apic.LogicalProcessorCount(), 3u);
  EXPECT_EQ(apic.ApicId(0), 16);
  EXPECT_EQ(apic.ApicId(1), 18);
  EXPECT_EQ(machine.processMask, 0b1111u);
  EXPECT_EQ(machine.threadMask, 0b1000u);
}

TEST(SystemInfo, ApicCoresPerPackageFromExtendedLeafCount) {
  FakeMachine machine;
  machine.SetVendor("AuthenticAMD", 1);
  machine.leaves[1] = {0, 0, 0, 1u << 28};
  machine.leaves[0x80000000u] = {0x80000008u, 0, 0, 0};
  machine.leaves[0x80000008u] = {0, 0, 0x0005u, 0};  // no shift: ECX[7:0] + 1
  machine.systemMask = machine.processMask = machine.threadMask = 1;
  SystemInfo info(machine);
  ASSERT_EQ(info.Topology().Kind(), TopologyKind::kApic);
  const auto& apic = static_cast<const ApicTopology&>(info.Topology());
  EXPECT_EQ(apic.CoresPerPackage(), 6u);
  EXPECT_EQ(apic.LogicalProcessorCount(), 1u);
  EXPECT_EQ(apic.ApicId(0), 0);
  EXPECT_TRUE(machine.threadPins.empty());  // one processor: nothing to pin
}

TEST(SystemInfo, SingleProcessorWhenVendorOrAffinityDoesNotAllowApic) {
  FakeMachine otherVendor;
  otherVendor.SetVendor("CentaurHauls", 1);
  SystemInfo first(otherVendor);
  EXPECT_EQ(first.Topology().Kind(), TopologyKind::kSingleProcessor);
  EXPECT_EQ(first.Topology().CoreMask(1), 0b1111u);

  FakeMachine pinned;
  pinned.SetVendor("GenuineIntel", 1);
  pinned.canSetThread = false;
  SystemInfo second(pinned);
  EXPECT_EQ(second.Topology().Kind(), TopologyKind::kSingleProcessor);

  FakeMachine fixedProcess;
  fixedProcess.SetVendor("GenuineIntel", 1);
  fixedProcess.processMask = 0b0011;
  fixedProcess.canSetProcess = false;
  SystemInfo third(fixedProcess);
  EXPECT_EQ(third.Topology().Kind(), TopologyKind::kSingleProcessor);
  EXPECT_EQ(fixedProcess.processMask, 0b0011u);
  EXPECT_EQ(fixedProcess.threadMask, 0b1111u);
}

TEST(SystemInfo, ProcessorLists) {
  EXPECT_EQ(detail::ParseProcessorList("0-3,8,10-11\n"), 0b110100001111u);
  EXPECT_EQ(detail::ParseProcessorList("5"), 0b100000u);
  EXPECT_EQ(detail::ParseProcessorList("62-70"), 0xC000000000000000u);
  EXPECT_EQ(detail::ParseProcessorList("\n"), 0u);
}

TEST(SystemInfo, ThisMachineGivesASnapshotAndKeepsAffinity) {
  ProcessorMask before = 0;
  ASSERT_TRUE(Platform::GetThreadAffinityMask(before));
  SystemInfo info;
  EXPECT_FALSE(info.CpuVendor().empty());
  EXPECT_GE(info.Topology().LogicalProcessorCount(), 1u);
  ProcessorMask after = 0;
  ASSERT_TRUE(Platform::GetThreadAffinityMask(after));
  EXPECT_EQ(after, before);
}

// This machine without its /sys table: the APIC walk (on x86) pins the thread for real.
class MachineWithoutSys : public SystemInfoBackend {
 public:
  bool Cpuid(std::uint32_t leaf, std::uint32_t subleaf, CpuidResult& result) override {
    return real_.Cpuid(leaf, subleaf, result);
  }
  bool ReadTextFile(const std::string&, std::string&) override { return false; }
  bool GetAffinityMasks(ProcessorMask& process, ProcessorMask& system) override {
    return real_.GetAffinityMasks(process, system);
  }
  bool SetProcessAffinity(ProcessorMask mask) override { return real_.SetProcessAffinity(mask); }
  bool GetThreadAffinity(ProcessorMask& mask) override { return real_.GetThreadAffinity(mask); }
  bool SetThreadAffinity(ProcessorMask mask) override { return real_.SetThreadAffinity(mask); }
  void YieldProcessor() override { real_.YieldProcessor(); }

 private:
  SystemInfoBackend& real_ = MachineSystemInfoBackend();
};

TEST(SystemInfo, ThisMachineApicWalkKeepsAffinity) {
  ProcessorMask before = 0;
  ASSERT_TRUE(Platform::GetThreadAffinityMask(before));
  MachineWithoutSys machine;
  SystemInfo info(machine);
  EXPECT_NE(info.Topology().Kind(), TopologyKind::kLogicalProcessor);
  EXPECT_GE(info.Topology().LogicalProcessorCount(), 1u);
  ProcessorMask after = 0;
  ASSERT_TRUE(Platform::GetThreadAffinityMask(after));
  EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace Kavren
