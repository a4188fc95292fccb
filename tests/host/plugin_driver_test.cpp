// The core version the host announces, the host functions' trampolines, which keep
// whatever the host throws on the host's side, and the recorder's bounded histories.
#include "host/core/plugin_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <stdexcept>

#include "abi/event.h"
#include "fake_plugin.h"
#include "host/core/development_host.h"

namespace Kavren::Host {
namespace {

TEST(PluginDriverTest, ParseCoreVersionTakesThreeDecimalNumbersOnly) {
  struct Case {
    const char* text;
    std::optional<CoreVersion> expected;
  };
  const Case cases[] = {
      {"18.0.0", CoreVersion{18, 0, 0}},
      {"19.4.12", CoreVersion{19, 4, 12}},
      {"4294967295.0.1", CoreVersion{4294967295u, 0, 1}},
      {"4294967296.0.0", std::nullopt},
      {"18.0", std::nullopt},
      {"18.0.0.1", std::nullopt},
      {"18.0.0-beta", std::nullopt},
      {"18..0", std::nullopt},
      {"-18.0.0", std::nullopt},
      {"+18.0.0", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.text);
    const std::optional<CoreVersion> parsed = ParseCoreVersion(row.text);
    EXPECT_EQ(parsed.has_value(), row.expected.has_value());
    if (!parsed || !row.expected) continue;
    EXPECT_EQ(parsed->major, row.expected->major);
    EXPECT_EQ(parsed->minor, row.expected->minor);
    EXPECT_EQ(parsed->patch, row.expected->patch);
  }
}

class ThrowingServices : public HostServices {
 public:
  void Call(Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord*) override {
    response.status = 200;
    throw std::runtime_error("call");
  }
  void CallWithoutResponse() override { throw std::runtime_error("bare call"); }
  void Reserved() override { throw 42; }
  void PublishEvent(const std::string&, const Abi::HostValue&, std::int32_t) override {
    throw std::runtime_error("publish");
  }
  void PublishWithoutEvent() override { throw std::runtime_error("bare publish"); }
  void Subscribe(const std::string&, std::uint32_t, Abi::HostEventCallback, void*,
                 std::int32_t) override {
    throw std::runtime_error("subscribe");
  }
  void Unsubscribe(const std::string&, std::uint32_t) override {
    throw std::runtime_error("unsubscribe");
  }
  void ScheduleJob(const std::string&, Abi::HostJobCallback, void*, double) override {
    throw std::bad_alloc();
  }
  void Pump() override { throw std::runtime_error("pump"); }
  void BeginWait(const std::string&) override { throw std::runtime_error("begin"); }
  void EndWait() override { throw std::runtime_error("end"); }
  void Log(std::int32_t, const std::string&) override { throw std::runtime_error("log"); }
  void Failed(const char* function, const char* what) noexcept override {
    failures.push_back(std::string(function) + ": " + what);
  }
  std::vector<std::string> failures;
};

TEST(PluginDriverTest, NothingTheHostThrowsReachesThePlugin) {
  ThrowingServices services;
  PluginDriver driver(services, 7);
  Abi::HostFunctions* table = driver.Functions();
  Abi::HttpResponseRecord response;
  std::memset(static_cast<void*>(&response), 0xAB, sizeof response);
  Abi::HttpRequestRecord request{};
  table->Call(table, &response, &request);
  // Packed fields are copied out before they are compared.
  const std::int32_t status = response.status;
  const int failed = response.failed;
  const Abi::HostWord type = response.value.type;
  EXPECT_EQ(status, 500);
  EXPECT_EQ(failed, 1);
  EXPECT_STREQ(response.errorText, "Internal server error");
  EXPECT_EQ(type, Abi::kHostValueEmpty);
  response.release(&response);
  const char* released = response.errorText;
  EXPECT_EQ(released, nullptr);

  table->Call(table, nullptr, &request);
  table->Reserved(table, 1, 2);
  Abi::HostEventRecord event{};
  event.name = "e";
  table->PublishEvent(table, &event);
  table->PublishEvent(table, nullptr);
  table->Subscribe(table, "e", 7, nullptr, nullptr, 0);
  table->Unsubscribe(table, "e", 7);
  table->ScheduleJob(table, "j", nullptr, nullptr, 0, 0);
  table->Pump(table);
  table->BeginWait(table, "w", 0);
  table->EndWait(table);
  table->Log(table, 0, "m");
  EXPECT_THAT(services.failures,
              ::testing::ElementsAre("Call: call", "Call: bare call", "Reserved: unknown exception",
                                     "PublishEvent: publish", "PublishEvent: bare publish",
                                     "Subscribe: subscribe", "Unsubscribe: unsubscribe",
                                     "ScheduleJob: std::bad_alloc", "Pump: pump",
                                     "BeginWait: begin", "EndWait: end", "Log: log"));
}

TEST(RecorderTest, HistoriesKeepTheirLastEntries) {
  Testing::Fake().Reset();
  HostSettings settings;
  settings.historyLimit = 3;
  DevelopmentHost host(settings);
  ASSERT_TRUE(host.Load(Testing::FakeLoad, CoreVersion{}));
  ASSERT_TRUE(host.Start());
  Abi::HostFunctions* functions = host.Functions();
  for (const char* message : {"1", "2", "3", "4", "5"}) functions->Log(functions, 0, message);
  EXPECT_THAT(host.LogLines(),
              ::testing::ElementsAre(LogLine{0, "3"}, LogLine{0, "4"}, LogLine{0, "5"}));
  EXPECT_EQ(host.CallCounts().log, 5u);
  host.Stop();

  BoundedHistory<int> none(0);
  none.Add(1);
  EXPECT_TRUE(none.Copy().empty());
  EXPECT_EQ(none.Dropped(), 1u);
}

}  // namespace
}  // namespace Kavren::Host
