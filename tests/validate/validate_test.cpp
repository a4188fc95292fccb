// hxa-host validate proves it can fail: each fixture plugin's planted fault trips exactly
// its check, the sound fixture passes everything, the shrinker brings a planted
// three-call fault down to those three calls, and the exit codes say what happened.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/document.h"
#include "host/plugin_library.h"
#include "host/validate_checks.h"
#include "host/validate_isolation.h"
#include "host/validate_oracle.h"
#include "host/validate_report.h"
#include "host/validate_trace.h"
#include "host/validate_types.h"

namespace Kavren::Host {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string Fixture(const std::string& name) {
  return std::string(HXA_FIXTURE_DIR) + "/hxa-validate-fixture-" + name + ".so";
}

std::string Scratch(const std::string& name) {
  return std::string(HXA_BINARY_DIR) + "/tests/validate/" + name;
}

// Runs hxa-host with `arguments`; its exit status.
int RunHost(const std::string& arguments) {
  const std::string command =
      std::string(HXA_HOST_PATH) + " " + arguments + " >" + Scratch("last-run.log") + " 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct PlantedFault {
  const char* fixture;
  /// Empty for the sound fixture: nothing may fail.
  const char* check;
};

class PlantedFaultTest : public ::testing::TestWithParam<PlantedFault> {};

// The directed checks only: the random threads.* checks explore everything and may find
// any fault.
TEST_P(PlantedFaultTest, TripsExactlyItsCheck) {
  const PlantedFault& fault = GetParam();
  const std::string report = Scratch(std::string(fault.fixture) + ".json");
  const int exitCode =
      RunHost("validate " + Fixture(fault.fixture) + " --skip threads --seed 11 --no-shrink " +
              "--timeout-factor 0.3 --trace-dir " + Scratch("traces") + " --json " + report);
  std::ifstream in(report);
  std::stringstream text;
  text << in.rdbuf();
  rapidjson::Document document;
  ASSERT_TRUE(ParseJsonText(text.str(), document).Succeeded()) << "no report; exit " << exitCode;
  ASSERT_EQ(document["schema"].GetString(), std::string("hxa-validate-report"));
  std::vector<std::string> failing;
  for (const auto& check : document["checks"].GetArray()) {
    const std::string status = check["status"].GetString();
    if (status != "pass" && status != "skip") {
      failing.push_back(check["id"].GetString());
      EXPECT_THAT(check["command"].GetString(), ::testing::HasSubstr("--seed 11"));
    }
  }
  if (std::string(fault.check).empty()) {
    EXPECT_THAT(failing, IsEmpty());
    EXPECT_EQ(exitCode, 0);
  } else {
    EXPECT_THAT(failing, ElementsAre(fault.check));
    EXPECT_TRUE(exitCode == 1 || exitCode == 2) << exitCode;
  }
}

// Each fixture with the one directed check its planted fault must trip.
const PlantedFault kPlantedFaults[] = {
    {"sound", ""},
    {"listed-early", "load.concurrent-load"},
    {"wrapping-peak", "memory.peak"},
    {"job-after-stop", "lifecycle.jobs-after-stop"},
    {"release-twice", "wire.host-answers"},
    {"call-after-stop", "lifecycle.stop"},
    {"deadlock", "reentry.publish"},
    {"leak", "memory.cycles"},
    {"stale-get", "wire.resource-get"},
    {"stop-admits-calls", "reentry.during-stop"},
    {"start-ignores-stop", "lifecycle.stop-during-start"},
    {"unbound-handler", "endpoints.binding"},
    {"unannounced-ack", "wire.resource-get"},
    {"lost-change", "wire.resource-get"},
    {"no-mirror", "wire.mirrors"},
    {"traffic-leak", "memory.traffic"},
    {"unserved-resource", "wire.resource-get"},
};

INSTANTIATE_TEST_SUITE_P(Fixtures, PlantedFaultTest, ::testing::ValuesIn(kPlantedFaults),
                         [](const auto& info) {
                           std::string name = info.param.fixture;
                           for (char& c : name) c = c == '-' ? '_' : c;
                           return name;
                         });

TEST(ValidateShrinkTest, ReducesAPlantedThreeCallFaultToThoseThreeCalls) {
  PluginLibrary library;
  ASSERT_TRUE(library.Open(Fixture("sequence")).Succeeded());
  CheckContext context;
  context.load = library.Export();
  Trace trace;
  trace.threads = 3;
  trace.policy.sampleMemory = false;
  const char* const noise[] = {"GetFxV1Item", "PostFxV1ItemById", "DeleteFxV1Item"};
  for (int index = 0; index < 30; ++index) {
    TraceOp op;
    op.thread = index % 3;
    op.seed = static_cast<std::uint64_t>(index) * 7919;
    op.kind = index % 5 == 4 ? OpKind::kEvent : (index % 7 == 6 ? OpKind::kJob : OpKind::kCall);
    op.endpoint = noise[index % 3];
    trace.ops.push_back(op);
  }
  // The fault needs both arms before the fire; all three on one thread keep their order.
  const auto planted = [](const char* endpoint) {
    TraceOp op;
    op.endpoint = endpoint;
    return op;
  };
  trace.ops.insert(trace.ops.begin() + 25, planted("PostFxV1Fire"));
  trace.ops.insert(trace.ops.begin() + 14, planted("PostFxV1Arm2"));
  trace.ops.insert(trace.ops.begin() + 5, planted("PostFxV1Arm1"));
  // A run in a child of its own answers whether the plugin gave a malformed reply.
  const auto malformed = [&](const Trace& candidate) {
    return RunIsolated(
        [&] {
          for (const Finding& finding : RunTraceFindings(context, candidate)) {
            if (finding.kind == FindingKind::kMalformedReply) return std::string("malformed");
          }
          return std::string("well formed");
        },
        30);
  };
  const auto fails = [&](const Trace& candidate) {
    return malformed(candidate).result == "malformed";
  };
  const IsolatedOutcome first = malformed(trace);
  ASSERT_EQ(first.result, "malformed") << first.diagnostics;
  const Trace shrunk = ShrinkTrace(trace, fails);
  std::vector<std::string> endpoints;
  for (const TraceOp& op : shrunk.ops) endpoints.push_back(op.endpoint);
  EXPECT_THAT(endpoints, ElementsAre("PostFxV1Arm1", "PostFxV1Arm2", "PostFxV1Fire"));
  EXPECT_EQ(shrunk.threads, 1);
  // The shrunk trace survives its JSON form.
  const MaybeType<Failure, Trace> read = TraceFromJson(TraceToJson(shrunk));
  ASSERT_TRUE(read.Succeeded());
  EXPECT_EQ(read.Value().ops.size(), 3u);
}

TEST(ValidateCommandTest, ExitCodesSayWhatHappened) {
  // A missing plugin and an unknown check are usage errors, never a success.
  EXPECT_EQ(RunHost("validate " + Scratch("no-such-plugin.so")), 3);
  EXPECT_EQ(RunHost("validate " + Fixture("sound") + " --only no.such-check"), 3);
  EXPECT_EQ(RunHost("validate " + Fixture("sound") + " --threads 0"), 3);
  // Skips are not passes: a run that executed nothing fails.
  RunSummary skipped;
  skipped.checks.push_back(CheckResult{});
  skipped.checks.back().status = CheckStatus::kSkip;
  EXPECT_EQ(ExitCodeOf(skipped), 1);
  EXPECT_THAT(TextReport(skipped), ::testing::HasSubstr("FAILURE: nothing ran"));
  skipped.checks.back().status = CheckStatus::kTimeout;
  EXPECT_EQ(ExitCodeOf(skipped), 2);
  EXPECT_THAT(JunitReport(skipped), ::testing::HasSubstr("<error type=\"timeout\""));
}

TEST(ValidateOracleTest, ABindingFailureIsFailedWithStatus0Or400AndNamesAnArgument) {
  struct Row {
    std::uint8_t failed;
    std::int32_t status;
    const char* text;
    const char* problem;
  };
  const Row rows[] = {
      {1, 0, "Value x for 'id' of type int32 is in an incorrect format", ""},
      {1, 400, "Unknown argument 'extra' for 'GetItem'.", ""},
      // The handler's own answers: another status, a text that names no argument.
      {1, 404, "Value x for 'id' of type int32 is in an incorrect format",
       "answered status 404 \"Value x for 'id' of type int32 is in an incorrect format\""},
      {1, 0, "Not found", "answered status 0 \"Not found\""},
      {1, 0, "Value x for 'other' of type int32 is out of range",
       "answered status 0 \"Value x for 'other' of type int32 is out of range\""},
      {0, 200, nullptr, "answered status 200 as a success"},
  };
  for (const Row& row : rows) {
    Abi::HttpResponseRecord response;
    std::memset(static_cast<void*>(&response), 0, sizeof response);
    response.failed = row.failed;
    response.status = row.status;
    response.errorText = row.text;
    EXPECT_EQ(CheckBindingFailure(response, {"id", "extra"}), row.problem) << row.status;
  }
}

TEST(ValidateTraceTest, ThePolicyAndTheUnbindableVariantSurviveTheJsonForm) {
  Trace trace;
  trace.policy.checkMirrors = true;
  trace.policy.compareAfterCalls = true;
  trace.policy.stopDuringStart = 3;
  trace.policy.changeDuringPublish = 500;
  TraceOp op;
  op.endpoint = "PostFxV1ItemById";
  op.variant = "unbindable";
  trace.ops.push_back(op);
  const MaybeType<Failure, Trace> read = TraceFromJson(TraceToJson(trace));
  ASSERT_TRUE(read.Succeeded());
  const HostPolicy& policy = read.Value().policy;
  EXPECT_TRUE(policy.checkMirrors);
  EXPECT_TRUE(policy.compareAfterCalls);
  EXPECT_EQ(policy.stopDuringStart, 3);
  EXPECT_EQ(policy.changeDuringPublish, 500);
  EXPECT_EQ(ParseVariant(read.Value().ops.at(0).variant), ValueVariant::kUnbindable);
  // A trace saved before these rules existed replays without them.
  const MaybeType<Failure, Trace> old =
      TraceFromJson(R"({"version":1,"threads":1,"policy":{"holdJobs":5},"ops":[]})");
  ASSERT_TRUE(old.Succeeded());
  EXPECT_FALSE(old.Value().policy.checkMirrors);
  EXPECT_FALSE(old.Value().policy.compareAfterCalls);
  EXPECT_EQ(old.Value().policy.stopDuringStart, 0);
}

TEST(ValidateChecksTest, PatternsAndSeeds) {
  EXPECT_TRUE(MatchesAny("threads.random", "threads"));
  EXPECT_TRUE(MatchesAny("memory.peak", "load.*,memory.p*"));
  EXPECT_FALSE(MatchesAny("memory.peak", "memory.cycles,thread"));
  EXPECT_EQ(SelectChecks("threads", "threads.pushes").size(), 2u);
  // A check's seed depends on the master seed and its id only.
  EXPECT_EQ(CheckSeed(5, "api.block"), CheckSeed(5, "api.block"));
  EXPECT_NE(CheckSeed(5, "api.block"), CheckSeed(5, "load.export"));
  EXPECT_NE(CheckSeed(5, "api.block"), CheckSeed(6, "api.block"));
}

}  // namespace
}  // namespace Kavren::Host
