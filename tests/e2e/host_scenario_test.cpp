// The demo scenario run by the development host against the built plugin.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/cli/scenario.h"
#include "host/core/document.h"
#include "host/core/plugin_library.h"
#include "support/built_plugin.h"
#include "support/host_outcome.h"

namespace Kavren::Host {
namespace {

constexpr char kAckClass[] =
    "com.kavrengames.platform.messaging.persistence.SimpleDialogMessageResponse";

class HostScenarioTest : public Testing::BuiltPluginTest {
 protected:
  // Runs the demo and parses every printed line.
  void RunDemo() {
    rapidjson::Document scenario;
    ASSERT_TRUE(
        Succeeded(LoadDocumentFile(HXA_SOURCE_DIR "/examples/demo-scenario.yaml", scenario)));
    std::vector<std::string> lines;
    ASSERT_TRUE(Succeeded(RunScenario(scenario, Library().Export(), ScenarioSettings{},
                                      [&](const std::string& line) { lines.push_back(line); })));
    for (const std::string& line : lines) {
      effects_.emplace_back();
      ASSERT_TRUE(Succeeded(ParseJsonText(line, effects_.back()))) << line;
      ASSERT_TRUE(effects_.back().IsObject() && effects_.back().HasMember("effect")) << line;
    }
  }

  std::vector<const rapidjson::Value*> Of(const char* kind) const {
    std::vector<const rapidjson::Value*> found;
    for (const auto& effect : effects_) {
      if (effect["effect"] == kind) found.push_back(&effect);
    }
    return found;
  }

  std::vector<rapidjson::Document> effects_;
};

TEST_F(HostScenarioTest, DemoRunsFromLoadToStop) {
  RunDemo();
  ASSERT_EQ(Of("loaded").size(), 1u);
  EXPECT_EQ(std::string((*Of("loaded")[0])["name"].GetString()), "hxa-player-messaging");
  ASSERT_EQ(Of("started").size(), 1u);
  EXPECT_TRUE((*Of("started")[0])["ok"].GetBool());
  EXPECT_EQ(Of("step").size(), 14u);
  EXPECT_EQ(Of("reply").size(), 9u);
  EXPECT_EQ(std::string(effects_.back()["effect"].GetString()), "stopped");
}

// RapidJSON 1.1's comparisons with plain numbers and texts recurse forever under
// C++20, so values are compared through these.
std::string Text(const rapidjson::Value& value) {
  return value.IsString() ? std::string(value.GetString(), value.GetStringLength()) : "<not text>";
}
std::int64_t Number(const rapidjson::Value& value) {
  return value.IsInt64()    ? value.GetInt64()
         : value.IsUint64() ? static_cast<std::int64_t>(value.GetUint64())
                            : -999999;
}

// The whole flow through the plugin's four endpoints.
TEST_F(HostScenarioTest, DemoShowsReadsAcknowledgesAFailureAndARelogin) {
  RunDemo();
  const auto loaded = Of("loaded");
  ASSERT_EQ(loaded.size(), 1u);
  std::vector<std::string> endpoints;
  for (const auto& endpoint : (*loaded[0])["endpoints"].GetArray()) {
    endpoints.push_back(Text(endpoint));
  }
  ASSERT_THAT(endpoints,
              ::testing::IsSupersetOf(
                  {"GET /hxa-player-messaging/v1/notification",
                   "DELETE /hxa-player-messaging/v1/notification/{id}/acknowledge",
                   "GET /hxa-player-messaging/v1/celebration/notification",
                   "DELETE /hxa-player-messaging/v1/celebration/notification/{id}/acknowledge"}));
  const auto replies = Of("reply");
  ASSERT_EQ(replies.size(), 9u);
  auto value = [&](std::size_t index) -> const rapidjson::Value& {
    return (*replies[index])["value"];
  };
  for (std::size_t index : {0u, 1u, 2u, 3u, 4u, 6u, 7u, 8u}) {
    SCOPED_TRACE(index);
    EXPECT_TRUE((*replies[index])["found"].GetBool());
    EXPECT_FALSE((*replies[index])["failed"].GetBool());
  }
  EXPECT_EQ(Number(value(0)["id"]), 1);
  EXPECT_EQ(Text(value(0)["title"]), "Welcome back");
  EXPECT_EQ(Text(value(0)["body"]), "Your squad misses you.");
  EXPECT_EQ(Number(value(1)["id"]), 1);
  EXPECT_EQ(Text(value(1)["celebrationTitle"]), "Reward unlocked");
  EXPECT_EQ(Text(value(1)["celebrationType"]), "season-reward");
  EXPECT_EQ(Text(value(1)["itemId"]), "98231");
  EXPECT_EQ(Number(value(4)["id"]), 2);  // the pushed message
  EXPECT_EQ(Text(value(4)["title"]), "Maintenance");
  // The failed acknowledgement still removed the notification.
  EXPECT_EQ(Number((*replies[5])["status"]), 500);
  EXPECT_EQ(Text((*replies[5])["errorText"]),
            "Error response for POST /hxa-login/v1/session/invoke: Service unavailable: "
            "persistence messaging is down");
  EXPECT_EQ(Number(value(6)["id"]), 0);
  // After the re-login the ids go on counting.
  EXPECT_EQ(Number(value(7)["id"]), 3);
  EXPECT_EQ(Text(value(7)["title"]), "Patch notes");
  EXPECT_EQ(Number(value(8)["id"]), 2);
  EXPECT_EQ(Text(value(8)["celebrationType"]), "level-up");

  const auto invokes = Of("invoke");
  ASSERT_EQ(invokes.size(), 3u);
  const char* acknowledged[] = {"msg-dialog-1", "msg-celebration-1", "msg-dialog-2"};
  for (std::size_t index = 0; index < 3; ++index) {
    SCOPED_TRACE(index);
    const rapidjson::Value& invoke = *invokes[index];
    EXPECT_EQ(Text(invoke["service"]), "clientFacadeService");
    EXPECT_EQ(Text(invoke["method"]), "callPersistenceMessaging");
    ASSERT_EQ(invoke["arguments"].Size(), 1u);
    const rapidjson::Value& response = invoke["arguments"][0];
    EXPECT_EQ(Number(response["accountId"]), 700123);
    EXPECT_EQ(Text(response["msgId"]), acknowledged[index]);
    EXPECT_EQ(Text(response["command"]), "ack");
    EXPECT_EQ(Text(response["__class"]), kAckClass);
    EXPECT_EQ(Number(invoke["status"]), index == 2 ? 503 : 200);
  }
  bool announced = false;
  for (const rapidjson::Value* event : Of("event")) {
    if (Text((*event)["name"]) == "OnJsonApiEvent_hxa-player-messaging_v1_notification") {
      announced = true;
    }
  }
  EXPECT_TRUE(announced);
}

}  // namespace
}  // namespace Kavren::Host
