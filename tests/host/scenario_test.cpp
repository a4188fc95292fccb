// Scenario mode: steps read from YAML drive the fake plugin; effects come out as JSON lines.
#include "host/cli/scenario.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fake_plugin.h"
#include "host/core/document.h"

namespace Kavren::Host {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

struct Outcome {
  bool ok;
  std::string error;
  std::vector<std::string> lines;
};

Outcome RunYaml(const std::string& yaml, const ScenarioSettings& settings = {}) {
  Testing::Fake().Reset();
  rapidjson::Document scenario;
  Outcome outcome{false, "", {}};
  MaybeType<Failure> ran = ParseYamlText(yaml, scenario);
  if (ran.Succeeded()) {
    ran = RunScenario(scenario, Testing::FakeLoad, settings,
                      [&](const std::string& line) { outcome.lines.push_back(line); });
  }
  outcome.ok = ran.Succeeded();
  outcome.error = ran.GetFailure().message;
  return outcome;
}

TEST(ScenarioTest, StepsPrintTheirEffectsInOrder) {
  const Outcome outcome = RunYaml(R"(
packet: {simpleMessages: []}
steps:
  - call endpoint: {method: GET, path: /fake/v1/items/5}
  - call endpoint: {function: DeleteFakeV1ItemsById, path: /fake/v1/items/5}
  - push server message: {body: {msgId: m1}, clientId: c}
  - set packet: {simpleMessages: [{msgId: a}]}
  - fail next invoke: {status: 503, errorText: down}
  - wait for jobs:
)");
  ASSERT_TRUE(outcome.ok) << outcome.error;
  const std::string packetEvent =
      R"("name":"OnJsonApiEvent_hxa-login_v1_login-data-packet","flag":0,)";
  EXPECT_THAT(
      outcome.lines,
      ElementsAre(
          R"({"effect":"event","origin":"host",)" + packetEvent +
              R"("delivered":0,"payload":{"uri":"/hxa-login/v1/login-data-packet","eventType":"Create","data":{"simpleMessages":[]}}})",
          R"({"effect":"loaded","name":"fake-plugin","pluginApi":"18.0.0","coreApi":"18.0.0","endpoints":["DELETE /fake/v1/items/{id}","GET /fake/v1/items/{id}"]})",
          R"({"effect":"started","ok":true})",
          R"({"effect":"step","index":1,"step":"call endpoint"})",
          R"({"effect":"reply","method":"GET","path":"/fake/v1/items/5","found":true,"function":"GetFakeV1ItemsById","status":200,"failed":false,"value":{"path":"/fake/v1/items/5","n":[1,-2,2.5]}})",
          R"({"effect":"step","index":2,"step":"call endpoint"})",
          R"({"effect":"reply","method":"DELETE","path":"/fake/v1/items/5","found":true,"function":"DeleteFakeV1ItemsById","status":404,"failed":true,"errorText":"Not found","value":null})",
          R"({"effect":"step","index":3,"step":"push server message"})",
          R"({"effect":"event","origin":"host","name":"OnQrmsEvent_com_kavrengames_platform_messaging_persistence_SimpleDialogMessage","flag":0,"delivered":1,"payload":{"clientId":"c","subtopic":"","typeName":"com.kavrengames.platform.messaging.persistence.SimpleDialogMessage","body":{"msgId":"m1"}}})",
          R"({"effect":"step","index":4,"step":"set packet"})",
          R"({"effect":"event","origin":"host",)" + packetEvent +
              R"("delivered":1,"payload":{"uri":"/hxa-login/v1/login-data-packet","eventType":"Update","data":{"simpleMessages":[{"msgId":"a"}]}}})",
          R"({"effect":"step","index":5,"step":"fail next invoke"})",
          R"({"effect":"step","index":6,"step":"wait for jobs"})",
          R"({"effect":"jobs","done":true})", R"({"effect":"jobs","done":true})",
          R"({"effect":"stopped","bytesInUse":0})"));
}

// A call that finds no endpoint is a reply with the host's reason, not a failed step.
TEST(ScenarioTest, ACallThatFindsNoEndpointPrintsWhy) {
  const Outcome outcome = RunYaml("steps: [{call endpoint: {method: PUT, path: /nowhere}}]");
  ASSERT_TRUE(outcome.ok) << outcome.error;
  EXPECT_THAT(outcome.lines,
              Contains(R"({"effect":"reply","method":"PUT","path":"/nowhere","found":false,)"
                       R"("status":0,"failed":false,"errorText":"No endpoint for PUT /nowhere",)"
                       R"("value":null})"));
}

TEST(ScenarioTest, PacketFilesAreFoundBesideTheScenario) {
  ScenarioSettings settings;
  settings.baseDirectory = HXA_SOURCE_DIR "/examples";
  const Outcome outcome = RunYaml(
      "packet file: login-data-packet.json\nsteps: [{set packet file: login-data-packet.json}]",
      settings);
  ASSERT_TRUE(outcome.ok) << outcome.error;
  const auto events = Testing::Fake().Copy(Testing::Fake().events);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_THAT(events[0], ::testing::HasSubstr(R"("eventType":"Update","data":{"allVelkinData")"));
  EXPECT_THAT(events[0], ::testing::HasSubstr(R"("msgId":"msg-dialog-1")"));
}

TEST(ScenarioTest, MalformedScenariosAreRefusedWithTheReason) {
  struct Case {
    const char* yaml;
    const char* error;
  };
  const Case cases[] = {
      {"[1]", "a scenario is an object with \"steps\""},
      {"steps: {a: 1}", "\"steps\" must be a list"},
      {"steps: [{a: 1, b: 2}]", "each step is an object with exactly one key"},
      {"steps: [{dance: 1}]", "step 1 (dance): unknown step \"dance\""},
      {"steps: [{call endpoint: {method: FETCH, path: /x}}]",
       "step 1 (call endpoint): unknown method \"FETCH\""},
      {"steps: [{call endpoint: {method: GET}}]",
       "step 1 (call endpoint): \"call endpoint\" needs a \"path\" or a \"function\""},
      {"steps: [{push server message: {typeName: x}}]",
       "step 1 (push server message): \"push server message\" needs an object with \"body\""},
      {"steps: [{fail next invoke: {status: x}}]",
       "step 1 (fail next invoke): \"status\" must be an integer"},
      {"steps: [{wait for jobs: {timeoutMs: -1}}]",
       "step 1 (wait for jobs): \"timeoutMs\" must be a non-negative integer"},
      {"steps: [{set packet file: missing.json}]",
       "step 1 (set packet file): cannot read ./missing.json"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.yaml);
    const Outcome outcome = RunYaml(row.yaml);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, row.error);
  }
}

}  // namespace
}  // namespace Kavren::Host
