// The built plugin library, loaded and driven through the development host.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <rapidjson/document.h>

#include <memory>
#include <string>
#include <vector>

#include "host/core/development_host.h"
#include "host/core/host_value.h"
#include "host/core/plugin_library.h"
#include "support/built_plugin.h"
#include "support/host_outcome.h"

namespace Kavren::Host::PluginE2e {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

// Logged at level 2 by the plugin for an asynchronous service-proxy reply that nothing
// waits for.
constexpr char kNoAsyncHandlerLine[] =
    "Could not find registered handler for async service proxy event svc.method";

// The record's fields by value: on 64-bit builds the packed record's pointers
// are not aligned, so assertions must not bind references to them.
struct RecordView {
  std::uint32_t major, minor, patch;
  const void* functions;
  const void* context;
  std::string name;
  const void* api;
};

RecordView View(const Abi::PluginHostRecord& record) {
  return RecordView{record.major,   record.minor,
                    record.patch,   record.functions,
                    record.context, record.name != nullptr ? record.name : "(null)",
                    record.api};
}

std::uint64_t InUse(const Abi::PluginMemoryStats& stats) {
  return stats.allocatedBytes - stats.freedBytes;
}

// The library stays mapped for the whole test program: a reload of the same
// path is the same mapping, and the plugin's process-lived objects stay.
class PluginE2eTest : public Testing::BuiltPluginTest {};

TEST_F(PluginE2eTest, RecordCarriesThePluginsVersionWhateverTheCoreSent) {
  for (CoreVersion version : {CoreVersion{18, 0, 0}, CoreVersion{18, 3, 1}, CoreVersion{17, 9, 9},
                              CoreVersion{19, 0, 0}}) {
    DevelopmentHost host;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(Load(host, version));
    testing::internal::GetCapturedStderr();
    const RecordView record = View(host.Record());
    EXPECT_EQ(record.major, 18u);
    EXPECT_EQ(record.minor, 0u);
    EXPECT_EQ(record.patch, 0u);
    EXPECT_EQ(record.name, "hxa-player-messaging");
    EXPECT_NE(record.functions, nullptr);
    EXPECT_NE(record.context, nullptr);
    EXPECT_NE(record.api, nullptr);
    host.Stop();
  }
}

TEST_F(PluginE2eTest, IncompatibleCoreIsReportedOnTheConsoleBeforeStart) {
  DevelopmentHost host;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Load(host, CoreVersion{19, 0, 0}));
  const std::string console = testing::internal::GetCapturedStderr();
  EXPECT_THAT(console, HasSubstr("Expression: ALE-EECF0606"));
  EXPECT_THAT(console, HasSubstr("hxa-player-messaging which supports plugin API 18.0.0 is not "
                                 "compatible with core's plugin API 19.0.0"));
  EXPECT_TRUE(host.LogLines().empty());  // no host log before Start
  EXPECT_TRUE(host.Start());
  host.Stop();

  // A compatible core gets no report.
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Load(host));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  host.Stop();
}

TEST_F(PluginE2eTest, AfterStartDebugRecordsReachTheHostLog) {
  DevelopmentHost host(1234);
  ASSERT_TRUE(Load(host));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(host.Start());
  // The console targets are detached: everything goes to the host.
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  // Start itself writes no line.
  EXPECT_THAT(host.LogLines(), ::testing::IsEmpty());
  rapidjson::Document reply;
  reply.SetObject();
  reply.AddMember("serviceName", "svc", reply.GetAllocator());
  reply.AddMember("methodName", "method", reply.GetAllocator());
  Abi::HostValue payload{};
  ASSERT_TRUE(Succeeded(HostValueFromJson(reply, payload)));
  EXPECT_EQ(host.SendEvent("OnServiceProxyAsyncEvent", payload), 1u);
  FreeHostValue(payload);
  EXPECT_THAT(host.LogLines(), Contains(LogLine{2, kNoAsyncHandlerLine}));
  host.Stop();
}

TEST_F(PluginE2eTest, MemoryStatsCountThePluginsHeapOnly) {
  DevelopmentHost host;
  ASSERT_TRUE(Load(host));
  // The module lives in a heap block of the plugin's accounting.
  const std::size_t moduleBlock =
      malloc_usable_size(const_cast<void*>(View(host.Record()).context));
  const Abi::PluginMemoryStats loaded = host.MemoryStats();
  EXPECT_GT(moduleBlock, 0u);
  EXPECT_GE(loaded.peakBytes, moduleBlock);
  EXPECT_GE(InUse(loaded), moduleBlock);
  EXPECT_GE(loaded.peakBytes, InUse(loaded));
  EXPECT_GE(loaded.allocations, loaded.frees + 1);
  EXPECT_EQ(loaded.reserved0, 0u);
  EXPECT_EQ(loaded.reserved1, 0u);

  ASSERT_TRUE(host.Start());
  const Abi::PluginMemoryStats started = host.MemoryStats();
  constexpr std::size_t kHostBlock = 16 << 20;
  auto hostBlock = std::make_unique<char[]>(kHostBlock);
  hostBlock[kHostBlock - 1] = 1;
  const Abi::PluginMemoryStats withHostBlock = host.MemoryStats();
  EXPECT_EQ(withHostBlock.allocatedBytes, started.allocatedBytes);
  EXPECT_EQ(withHostBlock.allocations, started.allocations);
  EXPECT_EQ(withHostBlock.peakBytes, started.peakBytes);
  EXPECT_LT(withHostBlock.peakBytes, kHostBlock);
  host.Stop();
}

// Bytes in use right after load, after start and after stop, per cycle.
struct CycleUse {
  std::uint64_t loaded;
  std::uint64_t started;
  std::uint64_t stopped;
};

CycleUse RunCycle(const PluginLibrary& library) {
  DevelopmentHost host;
  EXPECT_TRUE(host.Load(library, CoreVersion{18, 0, 0}));
  const std::uint64_t loaded = InUse(host.MemoryStats());
  EXPECT_TRUE(host.Start());
  host.RunPendingJobs();
  const std::uint64_t started = InUse(host.MemoryStats());
  host.Stop();
  return CycleUse{loaded, started, InUse(host.MemoryStats())};
}

TEST_F(PluginE2eTest, SecondCycleEndsWhereTheFirstEnded) {
  // Objects that live for the whole process are made in the first cycle and
  // never again, so a second load, start and stop cycle returns to exactly the
  // bytes in use that the first cycle's end left.
  const CycleUse first = RunCycle(Library());
  const CycleUse second = RunCycle(Library());
  EXPECT_EQ(second.stopped, first.stopped);
  EXPECT_LT(second.stopped, second.started);
  EXPECT_GT(second.started, 0u);
  const CycleUse third = RunCycle(Library());
  EXPECT_EQ(third.loaded, second.loaded);
  EXPECT_EQ(third.started, second.started);
  EXPECT_EQ(third.stopped, first.stopped);
}

}  // namespace
}  // namespace Kavren::Host::PluginE2e
