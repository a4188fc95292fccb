// hxa-host validate proves it can fail: each fixture plugin's planted fault trips exactly
// its check (the allocation faults with the finding of their rule), the sound fixture
// passes everything, the shrinker brings a planted three-call fault down to those three
// calls, a shrunk refusal trace replays its fault, and the exit codes say what happened.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/core/document.h"
#include "host/core/plugin_library.h"
#include "host/validate/check_table.h"
#include "host/validate/checks.h"
#include "host/validate/isolation.h"
#include "host/validate/oracle.h"
#include "host/validate/report.h"
#include "host/validate/trace.h"
#include "host/validate/types.h"

namespace Kavren::Host {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string Fixture(const std::string& name) {
  return std::string(HXA_FIXTURE_DIR) + "/hxa-validate-fixture-" + name + ".so";
}

// A directory of the running test's own: ctest runs these tests side by side, and two
// hxa-host runs sharing one log or trace folder overwrite each other.
std::string Scratch(const std::string& name) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path folder = std::filesystem::path(HXA_BINARY_DIR) / "tests" /
                                       "validate" / test->test_suite_name() / test->name();
  std::filesystem::create_directories(folder);
  return (folder / name).string();
}

// Runs hxa-host with `arguments`; its exit status.
int RunHost(const std::string& arguments) {
  const std::string command =
      std::string(HXA_HOST_PATH) + " " + arguments + " >" + Scratch("last-run.log") + " 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `validate` on a fixture with the report at `report`; the report, and the exit
// status in `exitCode`.
rapidjson::Document Validate(const std::string& fixture, const std::string& options,
                             const std::string& report, int& exitCode) {
  exitCode = RunHost("validate " + Fixture(fixture) + " " + options + " --seed 11 " +
                     "--timeout-factor 0.3 --trace-dir " + Scratch("traces") + " --json " + report);
  std::ifstream in(report);
  std::stringstream text;
  text << in.rdbuf();
  rapidjson::Document document;
  if (ParseJsonText(text.str(), document).Failed() || !document.IsObject()) document.SetNull();
  return document;
}

struct PlantedFault {
  const char* fixture;
  /// Empty for the sound fixture: nothing may fail.
  const char* check;
  /// The checks left out: random ones may find any fault; the allocation checks find the
  /// older faults too (a leak is a leak under refusals).
  const char* skip;
  /// The kind of the check's first finding; null: any.
  const char* kind = nullptr;
};

class PlantedFaultTest : public ::testing::TestWithParam<PlantedFault> {};

TEST_P(PlantedFaultTest, TripsExactlyItsCheck) {
  const PlantedFault& fault = GetParam();
  int exitCode = 0;
  const rapidjson::Document document =
      Validate(fault.fixture, std::string("--skip ") + fault.skip + " --seconds 3 --no-shrink",
               Scratch(std::string(fault.fixture) + ".json"), exitCode);
  ASSERT_TRUE(document.IsObject()) << "no report; exit " << exitCode;
  ASSERT_EQ(document["schema"].GetString(), std::string("hxa-validate-report"));
  std::vector<std::string> failing;
  for (const auto& check : document["checks"].GetArray()) {
    const std::string status = check["status"].GetString();
    if (status != "pass" && status != "skip") {
      failing.push_back(check["id"].GetString());
      EXPECT_THAT(check["command"].GetString(), ::testing::HasSubstr("--seed 11"));
      if (fault.kind != nullptr && check["findings"].Size() > 0) {
        EXPECT_EQ(check["findings"][0]["kind"].GetString(), std::string(fault.kind));
      }
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

constexpr char kDirected[] = "threads,alloc";
constexpr char kDirectedAndAlloc[] = "threads,alloc.random";

INSTANTIATE_TEST_SUITE_P(
    Fixtures, PlantedFaultTest,
    ::testing::Values(
        PlantedFault{"sound", "", "threads"},
        PlantedFault{"listed-early", "load.concurrent-load", kDirected},
        PlantedFault{"wrapping-peak", "memory.peak", kDirected},
        PlantedFault{"job-after-stop", "lifecycle.jobs-after-stop", kDirected},
        PlantedFault{"release-twice", "wire.host-answers", kDirected},
        PlantedFault{"call-after-stop", "lifecycle.stop", kDirected},
        PlantedFault{"deadlock", "reentry.publish", kDirected},
        PlantedFault{"leak", "memory.cycles", kDirected},
        PlantedFault{"stale-get", "wire.resource-get", kDirected},
        PlantedFault{"stop-admits-calls", "reentry.during-stop", kDirected},
        PlantedFault{"start-ignores-stop", "lifecycle.stop-during-start", kDirected},
        PlantedFault{"unbound-handler", "endpoints.binding", kDirected},
        PlantedFault{"unannounced-ack", "wire.resource-get", kDirected},
        PlantedFault{"lost-change", "wire.resource-get", kDirected},
        PlantedFault{"no-mirror", "wire.mirrors", kDirected},
        PlantedFault{"traffic-leak", "memory.traffic", kDirected},
        PlantedFault{"unserved-resource", "wire.resource-get", kDirected},
        PlantedFault{"null-failure-text", "alloc.endpoints", kDirectedAndAlloc,
                     FindingKind::kMalformedReply},
        PlantedFault{"stop-keeps-subscription", "alloc.stop", kDirectedAndAlloc,
                     FindingKind::kSubscriptions},
        PlantedFault{"start-failure-leak", "alloc.start", kDirectedAndAlloc,
                     FindingKind::kMemoryBlocks},
        PlantedFault{"lost-log-target", "alloc.start", kDirectedAndAlloc, FindingKind::kLogTarget},
        PlantedFault{"empty-job-label", "alloc.start", kDirectedAndAlloc, FindingKind::kJobLabel}),
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

// A refusal trace keeps its plan through shrinking and replays the fault it found, in a
// process that hxa-host starts again with the interposer; the sound fixture passes it.
TEST(ValidateRefusalTraceTest, ShrunkTraceReplaysItsFault) {
  int exitCode = 0;
  const rapidjson::Document document =
      Validate("start-failure-leak", "--only alloc.start", Scratch("refusal.json"), exitCode);
  ASSERT_TRUE(document.IsObject()) << "no report; exit " << exitCode;
  const auto& check = document["checks"][0];
  const std::string shrunk = check["shrunkTracePath"].GetString();
  ASSERT_FALSE(shrunk.empty()) << check["message"].GetString();
  const MaybeType<Failure, Trace> trace = LoadTraceFile(shrunk);
  ASSERT_TRUE(trace.Succeeded());
  EXPECT_EQ(trace.Value().refusals.phase, RunPhase::kStart);
  EXPECT_THAT(trace.Value().refusals.numbers, ElementsAre(2));
  EXPECT_THAT(trace.Value().refusals.refused, ElementsAre(2));
  EXPECT_EQ(RunHost("validate " + Fixture("start-failure-leak") + " --replay " + shrunk), 1);
  std::ifstream log(Scratch("last-run.log"));
  std::stringstream replayed;
  replayed << log.rdbuf();
  EXPECT_THAT(replayed.str(),
              ::testing::HasSubstr("finding memory-blocks: after Stop the plugin holds"));
  EXPECT_EQ(RunHost("validate " + Fixture("sound") + " --replay " + shrunk), 0);
}

TEST(ValidateTraceTest, RefusalPlansRoundTripAndOldTracesReadAsBefore) {
  Trace trace;
  trace.refusals.phase = RunPhase::kTraffic;
  trace.refusals.numbers = {3, 17};
  trace.refusals.ratePerMillion = 2500;
  trace.refusals.seed = 18446744073709551615ull;
  trace.refusals.refused = {3, 9, 17};
  const MaybeType<Failure, Trace> read = TraceFromJson(TraceToJson(trace));
  ASSERT_TRUE(read.Succeeded()) << read.GetFailure().message;
  const RefusalPlan& plan = read.Value().refusals;
  EXPECT_EQ(plan.phase, RunPhase::kTraffic);
  EXPECT_THAT(plan.numbers, ElementsAre(3, 17));
  EXPECT_EQ(plan.ratePerMillion, 2500u);
  EXPECT_EQ(plan.seed, trace.refusals.seed);
  EXPECT_THAT(plan.refused, ElementsAre(3, 9, 17));
  // A trace without refusals writes none and reads back without a plan.
  const std::string plain = TraceToJson(Trace{});
  EXPECT_THAT(plain, ::testing::Not(::testing::HasSubstr("refusals")));
  EXPECT_FALSE(TraceFromJson(plain).Value().refusals.Active());
  const struct {
    const char* refusals;
    const char* failure;
  } broken[] = {
      {R"({"phase": "later"})", "refusals: unknown phase \"later\""},
      {R"({"phase": "stop", "numbers": 3})", "refusals: numbers is no array"},
      {R"({"phase": "stop", "refused": ["x"]})", "refusals: refused holds a non-number"},
      {R"({"phase": "run", "ratePerMillion": 1000001})",
       "refusals: ratePerMillion must be 0 to 1000000"},
  };
  for (const auto& row : broken) {
    const MaybeType<Failure, Trace> failed = TraceFromJson(
        std::string(R"({"version": 1, "ops": [], "refusals": )") + row.refusals + "}");
    ASSERT_TRUE(failed.Failed()) << row.refusals;
    EXPECT_EQ(failed.GetFailure().message, row.failure);
  }
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
