// The plugin entry and the application module, driven the way a host drives
// them: load, the function table, the host operations' forwarding.
#include "plugin/app_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "log/log.h"
#include "plugin/entry.h"
#include "plugin/module_directory.h"
#include "support/capturing_log_target.h"
#include "util/accounting.h"

namespace Kavren {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using LogEntry = std::pair<std::int32_t, std::string>;

// Drops a load result the test does not look at.
void IgnoreResult(std::int32_t) {}

// What the test module and the fake host saw, in order.
std::vector<std::string> events;

class TestModule : public AppModule {
 public:
  static inline bool startResult = true;
  ~TestModule() override { events.push_back("~TestModule"); }
  void Shutdown() override {
    events.push_back("Shutdown");
    AppModule::Shutdown();
  }
  // A module still loading must not be reachable by the host's calls.
  void RegisterEndpoints() override {
    const bool reachable = static_cast<bool>(ModuleDirectory::PinByAddress(this));
    events.push_back(reachable ? "RegisterEndpoints while reachable" : "RegisterEndpoints");
  }
  bool OnStart() override {
    events.push_back("OnStart cookie " + std::to_string(Cookie()) + " agent " + UserAgent());
    return startResult;
  }
};

class ThrowingModule : public AppModule {
 public:
  ThrowingModule() { throw std::runtime_error("no module today"); }
};

const PluginDefinition kTestPlugin = DefinePlugin<TestModule>("test-plugin", "backend");

std::string Word(const void* pointer) {
  return std::to_string(reinterpret_cast<std::uintptr_t>(pointer));
}

// A host table whose functions record their arguments; `self` must be the table.
struct FakeHost {
  Abi::HostFunctions table{};
  Abi::HostInterface interface { &table, 77 };
  std::vector<LogEntry> logs;

  FakeHost() {
    table.Call = [](Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
                    const Abi::HttpRequestRecord* request) {
      Record(self, "Call " + Word(response) + " " + Word(request));
    };
    table.Reserved = [](Abi::HostFunctions* self, Abi::HostWord first, Abi::HostWord second) {
      Record(self, "Reserved " + std::to_string(first) + " " + std::to_string(second));
    };
    table.PublishEvent = [](Abi::HostFunctions* self, const Abi::HostEventRecord* event) {
      Record(self, "PublishEvent " + Word(event));
    };
    table.Subscribe = [](Abi::HostFunctions* self, const char* name, std::uint32_t cookie,
                         Abi::HostEventCallback callback, void* context, std::int32_t flag) {
      Record(self, std::string("Subscribe ") + name + " " + std::to_string(cookie) + " " +
                       Word(reinterpret_cast<const void*>(callback)) + " " + Word(context) + " " +
                       std::to_string(flag));
    };
    table.Unsubscribe = [](Abi::HostFunctions* self, const char* name, std::uint32_t cookie) {
      Record(self, std::string("Unsubscribe ") + name + " " + std::to_string(cookie));
    };
    table.ScheduleJob = [](Abi::HostFunctions* self, const char* label, Abi::HostJobCallback job,
                           void* context, double delay, std::int32_t flags) {
      Record(self, std::string("ScheduleJob ") + label + " " +
                       Word(reinterpret_cast<const void*>(job)) + " " + Word(context) + " " +
                       std::to_string(delay) + " " + std::to_string(flags));
    };
    table.Pump = [](Abi::HostFunctions* self) { Record(self, "Pump"); };
    table.BeginWait = [](Abi::HostFunctions* self, const char* label, std::int32_t reserved) {
      Record(self, std::string("BeginWait ") + label + " " + std::to_string(reserved));
    };
    table.EndWait = [](Abi::HostFunctions* self) { Record(self, "EndWait"); };
    table.Log = [](Abi::HostFunctions* self, std::int32_t level, const char* message) {
      reinterpret_cast<FakeHost*>(self)->logs.emplace_back(level, message);
    };
  }

  static void Record(Abi::HostFunctions* self, std::string call) {
    // Every entry must receive the table's own address first.
    events.push_back((self == active ? "" : "WRONG SELF ") + call);
  }
  static inline Abi::HostFunctions* active = nullptr;
};

class AppModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    events.clear();
    TestModule::startResult = true;
    FakeHost::active = &host_.table;
  }

  // Loads the test module with a core version; the module of the record.
  TestModule* Load(std::uint32_t major, std::uint32_t minor, std::uint32_t patch) {
    record_ = Abi::PluginHostRecord{major, minor, patch, nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(LoadPlugin(&record_, kTestPlugin), kLoadSucceeded);
    return static_cast<TestModule*>(record_.context);
  }

  // The record's fields, unpacked: the packed record's pointers are not
  // aligned on 64-bit builds, so assertions must not bind references to them.
  struct RecordView {
    std::uint32_t major, minor, patch;
    Abi::PluginFunctionTable* functions;
    void* context;
    const char* name;
    Abi::PluginApiBlock* api;
  };
  RecordView View() const {
    return RecordView{record_.major,   record_.minor, record_.patch, record_.functions,
                      record_.context, record_.name,  record_.api};
  }

  Testing::CapturingLogTarget capture_{Testing::CapturingLogTarget::EveryRecord()};
  FakeHost host_;
  Abi::PluginHostRecord record_{};
};

TEST_F(AppModuleTest, LoadFillsTheRecordWithThePluginsOwnVersion) {
  const std::uint64_t inUse = Accounting::BytesInUse();
  TestModule* module = Load(19, 2, 3);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(View().major, 18u);
  EXPECT_EQ(View().minor, 0u);
  EXPECT_EQ(View().patch, 0u);
  EXPECT_EQ(View().functions, module->FunctionTable());
  EXPECT_STREQ(View().name, "test-plugin");
  EXPECT_EQ(View().name, module->Identity().shortName.c_str());
  EXPECT_EQ(View().api, module->ApiBlock());
  EXPECT_EQ(module->CoreApiVersion(), (PluginApiVersion{19, 2, 3, {}, {}}));
  EXPECT_EQ(module->Identity().fullName, "qdx-be-test-plugin");
  EXPECT_EQ(module->Identity().type, (PluginType{"backend", ""}));
  EXPECT_THAT(module->ApiTags(), ElementsAre("Plugins", "Plugin test-plugin"));
  EXPECT_THAT(events, ElementsAre("RegisterEndpoints"));
  // The module's block is the only counted allocation of a load in this process.
  EXPECT_GE(Accounting::BytesInUse() - inUse, sizeof(TestModule));

  const auto errors = capture_.Messages(kLogLevelError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THAT(errors[0], HasSubstr("ALE-EECF0606"));
  EXPECT_THAT(errors[0], HasSubstr("test-plugin which supports plugin API 18.0.0 is not "
                                   "compatible with core's plugin API 19.2.3"));

  record_.functions->Stop(record_.context);
  EXPECT_THAT(events, ElementsAre("RegisterEndpoints", "Shutdown", "~TestModule"));
  EXPECT_EQ(Accounting::BytesInUse(), inUse);
}

TEST_F(AppModuleTest, CompatibleCoreReportsNothing) {
  for (auto [minor, patch] : {std::pair{0u, 0u}, {0u, 5u}, {4u, 0u}}) {
    Load(18, minor, patch);
    EXPECT_TRUE(capture_.Messages(kLogLevelError).empty());
    record_.functions->Stop(record_.context);
  }
}

TEST_F(AppModuleTest, LoadFailuresLeaveARecordWithoutModule) {
  const std::uint64_t inUse = Accounting::BytesInUse();
  PluginDefinition huge = kTestPlugin;
  huge.moduleSize = static_cast<std::size_t>(-1) - 4096;  // refused by the heap
  record_ = Abi::PluginHostRecord{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
  EXPECT_EQ(LoadPlugin(&record_, huge), kLoadFailed);
  EXPECT_EQ(View().major, 18u);
  EXPECT_EQ(View().functions, nullptr);
  EXPECT_EQ(View().context, nullptr);
  EXPECT_EQ(View().api, nullptr);
  EXPECT_STREQ(View().name, "test-plugin");
  EXPECT_THAT(capture_.Messages(kLogLevelError),
              ElementsAre("load_hxa_player_messaging failed: the module could not be created"));

  const PluginDefinition throwing = DefinePlugin<ThrowingModule>("test-plugin", "backend");
  EXPECT_THROW(IgnoreResult(LoadPlugin(&record_, throwing)), std::runtime_error);
  EXPECT_EQ(View().functions, nullptr);
  EXPECT_EQ(Accounting::BytesInUse(), inUse);
  EXPECT_EQ(LoadPlugin(nullptr, kTestPlugin), kLoadFailed);
}

TEST_F(AppModuleTest, StartInstallsTheLogTargetAndBuildsTheUserAgent) {
  TestModule* module = Load(18, 0, 7);
  ASSERT_TRUE(record_.functions->Start(record_.context, &host_.interface));
  EXPECT_EQ(module->Host(), &host_.interface);
  EXPECT_EQ(module->Cookie(), 77u);
  EXPECT_EQ(module->UserAgent(), "KavrenClient/18.0.7 (test-plugin)");
  // The three service-proxy events are subscribed (flag 1, the module's id as context)
  // before the plugin's own start.
  const std::string contextAndFlag =
      " " + Word(reinterpret_cast<const void*>(module->ModuleId())) + " 1";
  EXPECT_THAT(
      events,
      ElementsAre(
          "RegisterEndpoints",
          AllOf(StartsWith("Subscribe OnServiceProxyUuidEvent 77 "), EndsWith(contextAndFlag)),
          AllOf(StartsWith("Subscribe OnServiceProxyMethodEvent 77 "), EndsWith(contextAndFlag)),
          AllOf(StartsWith("Subscribe OnServiceProxyAsyncEvent 77 "), EndsWith(contextAndFlag)),
          "OnStart cookie 77 agent KavrenClient/18.0.7 (test-plugin)"));
  // Start itself logs nothing; from now on records reach the host's Log as level and
  // plain message.
  EXPECT_THAT(host_.logs, ElementsAre());
  LogPrintf(kLogLevelOkay, static_cast<std::uint32_t>(kLogGroupDbg), 0, "plain %d", 5);
  EXPECT_THAT(host_.logs, ElementsAre(LogEntry{0, "plain 5"}));
  record_.functions->Stop(record_.context);
}

TEST_F(AppModuleTest, StartFailures) {
  TestModule::startResult = false;
  Load(18, 0, 0);
  EXPECT_FALSE(record_.functions->Start(record_.context, &host_.interface));
  record_.functions->Stop(record_.context);

  Load(18, 0, 0);
  events.clear();
  Abi::HostInterface noFunctions{nullptr, 1};
  EXPECT_FALSE(record_.functions->Start(record_.context, &noFunctions));
  EXPECT_FALSE(record_.functions->Start(record_.context, nullptr));
  EXPECT_TRUE(events.empty());
  EXPECT_THAT(capture_.Messages(kLogLevelError),
              ElementsAre("Start failed: no host interface", "Start failed: no host interface"));
  record_.functions->Stop(record_.context);
}

TEST_F(AppModuleTest, HostOperationsForwardToTheHostTable) {
  auto* response = reinterpret_cast<Abi::HttpResponseRecord*>(0x10);
  auto* request = reinterpret_cast<const Abi::HttpRequestRecord*>(0x20);
  auto* event = reinterpret_cast<const Abi::HostEventRecord*>(0x30);
  auto callback = reinterpret_cast<Abi::HostEventCallback>(0x40);
  auto job = reinterpret_cast<Abi::HostJobCallback>(0x50);
  void* context = reinterpret_cast<void*>(0x60);
  const std::pair<std::function<void(AppModule&)>, std::string> slots[] = {
      {[&](AppModule& m) { m.Call(response, request); }, "Call 16 32"},
      {[&](AppModule& m) { m.Reserved(3, 4); }, "Reserved 3 4"},
      {[&](AppModule& m) { m.PublishEvent(event); }, "PublishEvent 48"},
      {[&](AppModule& m) { m.SubscribeWithHost("OnX", 9, callback, context, 1); },
       "Subscribe OnX 9 64 96 1"},
      {[&](AppModule& m) { m.UnsubscribeWithHost("OnX", 9); }, "Unsubscribe OnX 9"},
      {[&](AppModule& m) { m.ScheduleJob("Event: OnQrmsEvent (T)", job, context, 1.5, 0); },
       "ScheduleJob Event: OnQrmsEvent (T) 80 96 1.500000 0"},
      {[&](AppModule& m) { m.Pump(); }, "Pump"},
      {[&](AppModule& m) { m.BeginWait(std::string("Wait: yield")); }, "BeginWait Wait: yield 0"},
      {[&](AppModule& m) { m.EndWait(); }, "EndWait"},
  };
  TestModule* module = Load(18, 0, 0);
  // Before Start there is no host to forward to.
  for (const auto& [invoke, expected] : slots) invoke(*module);
  EXPECT_THAT(events, ElementsAre("RegisterEndpoints"));

  ASSERT_TRUE(record_.functions->Start(record_.context, &host_.interface));
  for (const auto& [invoke, expected] : slots) {
    events.clear();
    invoke(*module);
    EXPECT_THAT(events, ElementsAre(expected));
  }
  record_.functions->Stop(record_.context);
}

TEST_F(AppModuleTest, GetMemoryStatsCopiesTheCounters) {
  Load(18, 0, 0);
  Abi::PluginMemoryStats stats;
  std::memset(&stats, 0xFF, sizeof stats);
  record_.functions->GetMemoryStats(nullptr, &stats);
  const Accounting::Counters counters = Accounting::ReadCounters();
  EXPECT_EQ(stats.peakBytes, counters.peakBytes);
  EXPECT_EQ(stats.peakBlocks, counters.peakBlocks);
  EXPECT_EQ(stats.allocatedBytes, counters.allocatedBytes);
  EXPECT_EQ(stats.allocations, counters.allocations);
  EXPECT_EQ(stats.freedBytes, counters.freedBytes);
  EXPECT_EQ(stats.frees, counters.frees);
  EXPECT_EQ(stats.reserved0, 0u);
  EXPECT_EQ(stats.reserved1, 0u);
  EXPECT_GE(stats.peakBytes, sizeof(TestModule));
  record_.functions->GetMemoryStats(nullptr, nullptr);  // ignored
  record_.functions->Stop(record_.context);
}

// Function-table calls whose context is no running module, or that come once too often:
// each is refused with a level-2 report and touches no module memory (AddressSanitizer
// watches the freed module).
TEST_F(AppModuleTest, FunctionTableCallsOutOfOrderAreRefusedAndReported) {
  int stackObject = 0;
  const struct {
    const char* name;
    std::function<void(Abi::PluginFunctionTable&, void* context)> misuse;
    const char* report;
  } cases[] = {
      {"Stop twice", [](auto& table, void* context) { table.Stop(context); },
       "Stop failed: no running module"},
      {"Start after Stop",
       [this](auto& table, void* context) { EXPECT_FALSE(table.Start(context, &host_.interface)); },
       "Start failed: no running module"},
      {"Stop of no module", [](auto& table, void*) { table.Stop(nullptr); },
       "Stop failed: no running module"},
      {"Start of what never was a module",
       [&](auto& table, void*) { EXPECT_FALSE(table.Start(&stackObject, &host_.interface)); },
       "Start failed: no running module"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Load(18, 0, 0);
    ASSERT_TRUE(record_.functions->Start(record_.context, &host_.interface));
    // The table outlives the module: a host may read it again after Stop.
    Abi::PluginFunctionTable* table = record_.functions;
    void* context = record_.context;
    table->Stop(context);
    const auto before = capture_.Messages(kLogLevelError).size();
    row.misuse(*table, context);
    const auto errors = capture_.Messages(kLogLevelError);
    ASSERT_EQ(errors.size(), before + 1);
    EXPECT_EQ(errors.back(), row.report);
  }

  Load(18, 0, 0);
  ASSERT_TRUE(record_.functions->Start(record_.context, &host_.interface));
  EXPECT_FALSE(record_.functions->Start(record_.context, &host_.interface));
  EXPECT_EQ(capture_.Messages(kLogLevelError).back(),
            "Start failed: the module has started already");
  record_.functions->Stop(record_.context);
}

}  // namespace
}  // namespace Kavren
