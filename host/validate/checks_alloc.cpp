// The alloc.* checks: the plugin's allocations refused, each in turn or a random share.
#include "host/validate/checks_alloc.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <tuple>

#include "host/validate/alloc.h"

namespace Kavren::Host::detail {
namespace {

// Refusal points swept per subject: each allocation up to this many, else a stride of
// them, offset by the seed so that other seeds refuse others.
constexpr std::uint64_t kSweepPoints = 100;

std::string WhatTheHostGot(RunPhase phase, const RefusedRun& run) {
  if (!run.loaded) return "load failed";
  if (!run.started) return "Start false";
  if (phase == RunPhase::kTraffic) {
    return run.outcome.counts.failedReplies > 0 ? "failed reply" : "completed";
  }
  return phase == RunPhase::kStop ? "stopped" : "started";
}

// Refuses the Nth allocation of `phase` in `trace` for N = 1, 2, ... in turn until a run
// completes the phase without a refusal; the first run with a finding fails the check.
// `result` gets the runs, and in its message the subject's allocations and what the host
// got from the refused runs.
std::optional<CheckBodyResult> SweepSubject(const CheckContext& context, Trace trace,
                                            RunPhase phase, const std::string& subject,
                                            CheckBodyResult& result) {
  trace.refusals.phase = phase;
  const RefusedRun counted = RunRefusedTrace(context.load, trace, context.dictionary);
  if (!counted.outcome.skipped.empty()) return Skip(counted.outcome.skipped);
  const std::uint64_t stride =
      std::max<std::uint64_t>(1, (counted.counted + kSweepPoints - 1) / kSweepPoints);
  std::uint64_t runs = 0;
  std::map<std::string, std::uint64_t> outcomes;
  for (std::uint64_t number = 1 + context.seed % stride; runs < 2 * kSweepPoints;
       number += stride) {
    trace.refusals.numbers = {number};
    KeepPending(context, trace);
    const RefusedRun run = RunRefusedTrace(context.load, trace, context.dictionary);
    ++result.rounds;
    result.ops += run.outcome.counts.ops;
    if (!run.outcome.findings.empty()) {
      trace.refusals.refused = run.refusedNumbers;
      CheckBodyResult failed = Fail(run.outcome.findings, &trace);
      failed.message = subject + " with allocation " + std::to_string(number) + " of " +
                       std::to_string(counted.counted) + " refused: " + failed.message;
      return failed;
    }
    // The phase completed before its Nth allocation.
    if (run.refused == 0) break;
    ++runs;
    ++outcomes[WhatTheHostGot(phase, run)];
  }
  std::string got;
  for (const auto& [outcome, count] : outcomes) {
    got += (got.empty() ? "" : ", ") + outcome + " " + std::to_string(count);
  }
  result.message += (result.message.empty() ? "" : "; ") + subject + ": allocations " +
                    std::to_string(counted.counted) + ", refused " + std::to_string(runs) +
                    (stride > 1 ? " (1 in " + std::to_string(stride) + ")" : std::string()) +
                    (got.empty() ? "" : ": " + got);
  return std::nullopt;
}

}  // namespace

CheckBodyResult AllocSweep(const CheckSpec& check, const CheckContext& context,
                           const Probe& probe) {
  const std::string id = check.id;
  // Each subject: its operations and the phase whose allocations are refused.
  std::vector<std::tuple<std::string, Trace, RunPhase>> subjects;
  // Load, Start and Stop: around every endpoint and event once.
  const std::pair<const char*, RunPhase> lifecycle[] = {{"alloc.load", RunPhase::kExport},
                                                        {"alloc.start", RunPhase::kStart},
                                                        {"alloc.stop", RunPhase::kStop}};
  for (const auto& [lifecycleId, phase] : lifecycle) {
    if (id != lifecycleId) continue;
    TraceBuilder builder(context, id, 1);
    builder.Traffic(probe, 0);
    subjects.emplace_back(RunPhaseName(phase), builder.Get(), phase);
  }
  if (id == "alloc.endpoints") {
    if (probe.endpoints.empty()) return Skip("the plugin has no endpoint");
    // Each endpoint with valid, malformed and out-of-range arguments: failure paths too.
    for (const std::string& endpoint : probe.endpoints) {
      TraceBuilder builder(context, id, 1);
      for (const char* variant : kVariants) builder.Call(0, endpoint, variant);
      subjects.emplace_back(endpoint, builder.Get(), RunPhase::kTraffic);
    }
  }
  if (id == "alloc.events") {
    if (probe.subscriptions == 0) return Skip("the plugin subscribes to no event");
    // Three payloads each: what a delivery does (a job or none) depends on its payload.
    for (std::size_t index = 0; index < probe.subscriptions; ++index) {
      TraceBuilder builder(context, id, 1);
      for (int delivery = 0; delivery < 3; ++delivery) builder.Event(0, static_cast<int>(index));
      subjects.emplace_back(probe.subscribedNames[index], builder.Get(), RunPhase::kTraffic);
    }
  }
  CheckBodyResult result;
  for (auto& [name, trace, phase] : subjects) {
    // Refused runs must not depend on the host's own failures or a racing sampler.
    trace.policy.sampleMemory = false;
    trace.policy.checkResources = false;
    if (auto failed = SweepSubject(context, trace, phase, name, result)) {
      failed->rounds += result.rounds;
      failed->ops += result.ops;
      return *failed;
    }
  }
  return result;
}

CheckBodyResult AllocRandom(const CheckSpec& check, const CheckContext& context,
                            const Probe& probe) {
  CheckContext random = context;
  random.threads = std::max(2, context.threads);
  HostPolicy policy;
  // A GET may serve data whose announcement a refusal dropped.
  policy.checkResources = false;
  policy.failAnswers = 100;
  policy.reenterPublish = 100;
  policy.reenterJobs = 100;
  policy.holdJobs = 100;
  const std::uint64_t seed = MixSeed(context.seed + context.round);
  Trace trace = RandomTrace(probe, random, check.id, seed, Mix{}, policy);
  const double share = 0.001 * std::pow(200.0, static_cast<double>(seed % 1001) / 1000.0);
  trace.refusals.phase = seed % 4 == 0 ? RunPhase::kRun : RunPhase::kTraffic;
  trace.refusals.ratePerMillion = static_cast<std::uint32_t>(share * 1e6);
  trace.refusals.seed = MixSeed(seed);
  KeepPending(context, trace);
  const RefusedRun run = RunRefusedTrace(context.load, trace, context.dictionary);
  if (!run.outcome.skipped.empty()) return Skip(run.outcome.skipped);
  if (!run.outcome.findings.empty()) {
    trace.refusals.refused = run.refusedNumbers;
    CheckBodyResult failed = Fail(run.outcome.findings, &trace);
    failed.message = std::to_string(run.refused) + " of " + std::to_string(run.counted) +
                     " allocations refused: " + failed.message;
    failed.rounds = 1;
    failed.ops = run.outcome.counts.ops;
    return failed;
  }
  CheckBodyResult result;
  result.rounds = 1;
  result.ops = run.outcome.counts.ops;
  return result;
}

}  // namespace Kavren::Host::detail
