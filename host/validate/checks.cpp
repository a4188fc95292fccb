// The checks' table and what each runs.
#include "host/validate/checks.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "host/core/document.h"
#include "host/validate/alloc.h"
#include "host/validate/model_host.h"

namespace Kavren::Host {
namespace {

// What a check learns from one quiet cycle before it builds its traces.
struct Probe {
  std::vector<std::string> endpoints;
  std::size_t subscriptions = 0;
  /// Host functions the plugin calls during Start.
  std::uint64_t startCalls = 0;
  std::vector<std::string> subscribedNames;
  std::vector<Finding> findings;
};

Probe ProbePlugin(const CheckContext& context) {
  Probe probe;
  Oracle oracle;
  {
    HostPolicy policy;
    policy.sampleMemory = false;
    ModelHost host(context.load, policy, context.seed, oracle, context.dictionary);
    if (host.Load(0)) {
      if (const ApiModel* model = host.Model()) {
        for (const ApiEndpoint& endpoint : model->Endpoints()) {
          probe.endpoints.push_back(endpoint.name);
        }
      }
      probe.subscribedNames = host.SubscribedNames();
      probe.subscriptions = probe.subscribedNames.size();
    }
    probe.startCalls = host.Counts().callsDuringStart;
    host.Finish();
  }
  probe.findings = oracle.Findings();
  return probe;
}

const char* const kVariants[] = {"valid", "malformed", "out-of-range"};

class TraceBuilder {
 public:
  TraceBuilder(const CheckContext& context, const std::string& id, int threads)
      : random_(context.seed) {
    trace_.check = id;
    trace_.seed = context.seed;
    trace_.threads = threads;
  }
  Trace& Get() { return trace_; }
  Random& Rng() { return random_; }

  void Call(int thread, const std::string& endpoint, const char* variant = "valid",
            int module = 0) {
    TraceOp op = Op(thread, OpKind::kCall, module);
    op.endpoint = endpoint;
    op.variant = variant;
    trace_.ops.push_back(op);
  }
  void Event(int thread, int subscription, const char* variant = "valid") {
    TraceOp op = Op(thread, OpKind::kEvent, 0);
    op.subscription = subscription;
    op.variant = variant;
    trace_.ops.push_back(op);
  }
  void Plain(int thread, OpKind kind, int module = 0) {
    trace_.ops.push_back(Op(thread, kind, module));
  }
  // Every endpoint and every subscription once, then a few jobs, on `thread`.
  void Traffic(const Probe& probe, int thread, int rounds = 1) {
    for (int round = 0; round < rounds; ++round) {
      for (const std::string& endpoint : probe.endpoints) Call(thread, endpoint);
      for (std::size_t index = 0; index < probe.subscriptions; ++index) {
        Event(thread, static_cast<int>(index));
      }
      for (int job = 0; job < 4; ++job) Plain(thread, OpKind::kJob);
    }
  }

 private:
  TraceOp Op(int thread, OpKind kind, int module) {
    TraceOp op;
    op.thread = thread;
    op.kind = kind;
    op.module = module;
    op.seed = random_();
    return op;
  }
  Random random_;
  Trace trace_;
};

// A random trace for a round: which operations, on which threads, weighted by `mix`.
struct Mix {
  int call = 40;
  int event = 25;
  int job = 15;
  int stats = 5;
  int load = 3;
  int stop = 2;
};

Trace RandomTrace(const Probe& probe, const CheckContext& context, const std::string& id,
                  std::uint64_t seed, const Mix& mix, const HostPolicy& policy) {
  CheckContext roundContext = context;
  roundContext.seed = seed;
  TraceBuilder builder(roundContext, id, context.threads);
  builder.Get().policy = policy;
  Random& random = builder.Rng();
  const int count = 20 + static_cast<int>(random() % 100);
  const int total = mix.call + mix.event + mix.job + mix.stats + mix.load + mix.stop;
  for (int index = 0; index < count; ++index) {
    const int thread = static_cast<int>(random() % static_cast<std::uint64_t>(context.threads));
    int roll = static_cast<int>(random() % static_cast<std::uint64_t>(total));
    const char* variant = random() % 10 < 7 ? "valid" : kVariants[1 + random() % 2];
    if ((roll -= mix.call) < 0) {
      if (probe.endpoints.empty()) continue;
      if (random() % 10 == 0) variant = "unbindable";
      // Module 1 gets calls too, when it has been loaded.
      builder.Call(thread, probe.endpoints[random() % probe.endpoints.size()], variant,
                   random() % 4 == 0 ? 1 : 0);
    } else if ((roll -= mix.event) < 0) {
      builder.Event(thread, static_cast<int>(random() % 64), variant);
    } else if ((roll -= mix.job) < 0) {
      builder.Plain(thread, OpKind::kJob);
    } else if ((roll -= mix.stats) < 0) {
      builder.Plain(thread, OpKind::kStats);
    } else if ((roll -= mix.load) < 0) {
      builder.Plain(thread, OpKind::kLoad, 1);
    } else {
      // Module 0 stops mid-run now and then; module 1 more often.
      builder.Plain(thread, OpKind::kStop, random() % 8 == 0 ? 0 : 1);
    }
  }
  return builder.Get();
}

void KeepPending(const CheckContext& context, const Trace& trace) {
  if (!context.pendingTracePath.empty()) {
    const MaybeType<Failure> saved = SaveTraceFile(trace, context.pendingTracePath);
    (void)saved;
  }
}

CheckBodyResult Fail(std::vector<Finding> findings, const Trace* trace) {
  CheckBodyResult result;
  result.status = "fail";
  result.findings = std::move(findings);
  if (!result.findings.empty()) {
    result.message = result.findings.front().kind + ": " + result.findings.front().message;
  }
  if (trace != nullptr) result.trace = *trace;
  return result;
}

CheckBodyResult Skip(const std::string& why) {
  CheckBodyResult result;
  result.status = "skip";
  result.message = why;
  return result;
}

// Runs the traces in turn; the first that fails is the check's failure.
CheckBodyResult RunTraces(const CheckContext& context, const std::vector<Trace>& traces,
                          RunCounts* counts = nullptr) {
  CheckBodyResult result;
  for (const Trace& trace : traces) {
    KeepPending(context, trace);
    const TraceOutcome outcome = RunTrace(context.load, trace, context.dictionary);
    ++result.rounds;
    result.ops += outcome.counts.ops;
    if (counts != nullptr) {
      counts->callsDuringStop += outcome.counts.callsDuringStop;
      counts->resourcesCompared += outcome.counts.resourcesCompared;
      counts->events += outcome.counts.events;
      counts->stoppedDuringStart += outcome.counts.stoppedDuringStart;
      counts->resourceEvents += outcome.counts.resourceEvents;
      if (counts->unservedResource.empty()) {
        counts->unservedResource = outcome.counts.unservedResource;
      }
    }
    if (!outcome.findings.empty()) {
      CheckBodyResult failed = Fail(outcome.findings, &trace);
      failed.rounds = result.rounds;
      failed.ops = result.ops;
      return failed;
    }
  }
  return result;
}

// Load, start, the same traffic on one thread, and stop; the bytes in use afterwards.
std::uint64_t Cycle(const CheckContext& context, const Trace& traffic, Oracle& oracle) {
  Abi::PluginMemoryStats stats{};
  {
    ModelHost host(context.load, traffic.policy, traffic.seed, oracle, context.dictionary);
    if (host.Load(0)) {
      for (const TraceOp& op : traffic.ops) host.Execute(op);
      host.Quiesce();
    }
    host.Finish();
    stats = host.Stats();
  }
  return InUse(stats);
}

CheckBodyResult MemoryCycles(const CheckContext& context, const Probe& probe, int cycles) {
  TraceBuilder builder(context, "memory", 1);
  builder.Get().policy.sampleMemory = false;
  builder.Traffic(probe, 0);
  Oracle oracle;
  // The first cycle creates what lives for the process; the second is the baseline.
  Cycle(context, builder.Get(), oracle);
  const std::uint64_t baseline = Cycle(context, builder.Get(), oracle);
  std::uint64_t last = baseline;
  for (int cycle = 0; cycle < cycles && !oracle.Failed(); ++cycle) {
    last = Cycle(context, builder.Get(), oracle);
  }
  if (!oracle.Failed() && last != baseline) {
    oracle.Report(FindingKind::kMemoryBaseline,
                  "bytes in use after Stop moved from " + std::to_string(baseline) + " to " +
                      std::to_string(last) + " over " + std::to_string(cycles) +
                      " more Start/Stop cycles");
  }
  CheckBodyResult result;
  result.rounds = static_cast<std::uint64_t>(cycles) + 2;
  if (oracle.Failed()) result = Fail(oracle.Findings(), nullptr);
  return result;
}

// The "id" of announced data, when it holds a whole number other than 0.
std::optional<std::int64_t> IdOf(const std::string& json) {
  rapidjson::Document document;
  if (ParseJsonText(json, document).Failed() || !document.IsObject()) return std::nullopt;
  const auto id = document.FindMember("id");
  if (id == document.MemberEnd() || !id->value.IsInt64() || id->value.GetInt64() == 0) {
    return std::nullopt;
  }
  return id->value.GetInt64();
}

// The path on which `endpoint` acts on the resource at `uri` that holds `id`: the template
// when it is `uri`, or `uri` and the rest of the template with each capture set to `id`;
// empty when the endpoint is about something else.
std::string PathAbout(const ApiEndpoint& endpoint, const std::string& uri,
                      std::optional<std::int64_t> id) {
  const std::string& pattern = endpoint.urlTemplate;
  if (pattern == uri) return uri;
  if (!id || !pattern.starts_with(uri + "/") ||
      pattern.find('{', uri.size()) == std::string::npos) {
    return "";
  }
  std::string path = uri;
  std::size_t at = uri.size();
  for (std::size_t open = pattern.find('{', at); open != std::string::npos;
       open = pattern.find('{', at)) {
    const std::size_t close = pattern.find('}', open);
    if (close == std::string::npos) return "";
    path.append(pattern, at, open - at).append(std::to_string(*id));
    at = close + 1;
  }
  return path.append(pattern, at);
}

// Acknowledges what traffic added since the announcements `before`: each resource whose
// announcement changed is deleted by every DELETE endpoint about it, with the announced
// id, once per id. False when there was nothing left to acknowledge.
bool Acknowledge(ModelHost& host, const std::map<std::string, std::string>& before,
                 std::set<std::pair<std::string, std::int64_t>>& done) {
  const ApiModel* model = host.Model();
  if (model == nullptr) return false;
  bool called = false;
  for (const auto& [uri, json] : host.Announcements(0)) {
    const auto was = before.find(uri);
    if (was != before.end() && was->second == json) continue;
    const std::optional<std::int64_t> id = IdOf(json);
    if (!done.emplace(uri, id.value_or(0)).second) continue;
    for (const ApiEndpoint& endpoint : model->Endpoints()) {
      const std::string path = PathAbout(endpoint, uri, id);
      if (endpoint.method != Abi::kHttpMethodDelete || path.empty()) continue;
      host.CallEndpointAt(0, endpoint.name, path);
      called = true;
    }
  }
  host.Quiesce();
  return called;
}

// Traffic cycles on one module: each subscribed event pushed once (the same payloads every
// cycle), its jobs run, what it added acknowledged. After two cycles that warm up what
// lives as long as the module, each cycle that is undone (every announced resource serves
// what it served before) must leave the bytes in use where it found them.
CheckBodyResult TrafficCycles(const CheckContext& context, const Probe& probe) {
  if (probe.subscriptions == 0) return Skip("the plugin subscribes to no event: nothing to push");
  constexpr int kWarmCycles = 2;
  constexpr int kCycles = kWarmCycles + 4;
  TraceBuilder builder(context, "memory.traffic", 1);
  for (std::size_t index = 0; index < probe.subscriptions; ++index) {
    builder.Event(0, static_cast<int>(index));
  }
  HostPolicy policy;
  policy.sampleMemory = false;
  policy.checkResources = false;
  Oracle oracle;
  int undone = 0;
  {
    ModelHost host(context.load, policy, context.seed, oracle, context.dictionary);
    if (host.Load(0)) {
      for (int cycle = 0; cycle < kCycles && !oracle.Failed(); ++cycle) {
        host.Quiesce();
        const std::map<std::string, std::string> served = host.ServeAnnounced(0);
        const std::map<std::string, std::string> announced = host.Announcements(0);
        const std::uint64_t before = InUse(host.Stats());
        for (const TraceOp& op : builder.Get().ops) {
          host.Execute(op);
          host.Quiesce();
        }
        std::set<std::pair<std::string, std::int64_t>> acknowledged;
        for (int round = 0; round < 4 && Acknowledge(host, announced, acknowledged); ++round) {
        }
        const std::uint64_t after = InUse(host.Stats());
        if (cycle < kWarmCycles || host.ServeAnnounced(0) != served) continue;
        ++undone;
        if (after != before) {
          oracle.Report(FindingKind::kMemoryTraffic,
                        "a traffic cycle that was undone (each subscribed event pushed once, its "
                        "jobs run, what it added acknowledged) moved the bytes in use from " +
                            std::to_string(before) + " to " + std::to_string(after) + " (cycle " +
                            std::to_string(cycle + 1) + ")");
        }
      }
    }
    host.Finish();
  }
  if (oracle.Failed()) return Fail(oracle.Findings(), nullptr);
  if (undone == 0) {
    return Skip(
        "no traffic cycle could be undone: what the pushes added is still served after "
        "every DELETE endpoint about it ran");
  }
  CheckBodyResult result;
  result.rounds = kCycles;
  return result;
}

CheckBodyResult ExploreRandom(const CheckContext& context, const Probe& probe,
                              const std::string& id, const Mix& mix, const HostPolicy& policy) {
  const Trace trace =
      RandomTrace(probe, context, id, MixSeed(context.seed + context.round), mix, policy);
  return RunTraces(context, {trace});
}

// ---- alloc.*: the plugin's allocations refused -----------------------------------------

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

CheckBodyResult AllocSweep(const CheckSpec& check, const CheckContext& context) {
  const std::string id = check.id;
  const Probe probe = ProbePlugin(context);
  if (!probe.findings.empty()) return Fail(probe.findings, nullptr);
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

// Random orderings with a share of the plugin's allocations refused: from 0.1% to 20%,
// spread evenly over the decades, one share per round; refused during the operations, and
// in one round of four from the load to the end (where most rounds end at the load).
CheckBodyResult AllocRandom(const CheckSpec& check, const CheckContext& context) {
  const Probe probe = ProbePlugin(context);
  if (!probe.findings.empty()) return Fail(probe.findings, nullptr);
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

}  // namespace

const std::vector<CheckSpec>& AllChecks() {
  static const std::vector<CheckSpec> checks = {
      {"load.export", "the export fills the host record; load, start and stop", 20, false},
      {"api.block", "the API block's records are well formed and refer to described types", 20,
       false},
      {"load.second-module", "a second module loaded, served and stopped beside the first", 30,
       false},
      {"load.concurrent-load",
       "endpoint calls on several threads while another loads and stops a second module", 40,
       false},
      {"lifecycle.stop",
       "no host call after Stop returned, also from jobs Stop scheduled; subscriptions "
       "balanced",
       20, false},
      {"lifecycle.jobs-after-stop", "jobs held until after Stop do nothing", 20, false},
      {"lifecycle.stop-mid-run", "Stop while other threads keep calling (each call before it)", 30,
       false},
      {"lifecycle.stop-during-start",
       "the host stops the module from inside each host function its Start calls; Start answers "
       "false",
       30, false},
      {"reentry.publish", "an endpoint called from inside each PublishEvent", 20, false},
      {"reentry.jobs", "an endpoint called from inside host functions a job calls", 20, false},
      {"reentry.during-stop",
       "an endpoint called from inside host functions Stop calls is refused and has no effect", 20,
       false},
      {"endpoints.arguments",
       "every endpoint with valid, malformed and out-of-range arguments; replies well formed", 30,
       false},
      {"endpoints.binding",
       "requests whose arguments cannot bind answer the binding failure, and their handlers never "
       "run",
       30, false},
      {"events.payloads", "valid and broken payloads to every subscription", 30, false},
      {"wire.host-answers",
       "Calls answered with success, a failure status, a null value or late; every response "
       "released once",
       30, false},
      {"wire.announcements", "every announcement converts to its event's payload type", 20, false},
      {"wire.resource-get",
       "after each changing call (also one made while an announcement goes out) and at the end, "
       "a GET of each announced resource serves the last announced data",
       30, false},
      {"wire.mirrors",
       "every resource event is published again under OnJsonApiEvent with the same payload", 20,
       false},
      {"memory.peak",
       "memory counters never decrease and the peak never exceeds what was allocated, with "
       "several threads delivering events",
       30, false},
      {"memory.baseline", "a second cycle leaves the bytes in use where the first left them", 30,
       false},
      {"memory.cycles", "no growth over 100 Start/Stop cycles", 90, false},
      {"memory.traffic",
       "a push, its jobs and the acknowledgement of what it added return the bytes in use to "
       "where they were",
       30, false},
      {"threads.random", "random orderings of everything a host may do, on --threads threads", 30,
       true},
      {"threads.second-module", "random orderings with a second module loaded and stopped", 30,
       true},
      {"threads.pushes", "random event deliveries from every thread at once", 30, true},
      {"alloc.load",
       "each allocation of the export refused in turn: a failed load or a module that keeps "
       "the contract",
       60, false, true, AllocSweep},
      {"alloc.start",
       "each allocation of Start refused in turn: nothing held after a false Start, logs "
       "reach the host after a true one",
       60, false, true, AllocSweep},
      {"alloc.stop",
       "each allocation of Stop refused in turn: every subscription released, nothing held", 60,
       false, true, AllocSweep},
      {"alloc.endpoints",
       "each allocation of every endpoint's call refused in turn: failed replies with a text "
       "and a status, nothing held",
       90, false, true, AllocSweep},
      {"alloc.events",
       "each allocation of every event's delivery and its jobs refused in turn: labelled "
       "jobs, nothing held",
       90, false, true, AllocSweep},
      {"alloc.random",
       "random orderings with 0.1% to 20% of the plugin's allocations refused: no crash, hang "
       "or leak",
       30, true, true, AllocRandom},
  };
  return checks;
}

const CheckSpec* FindCheck(const std::string& id) {
  for (const CheckSpec& check : AllChecks()) {
    if (id == check.id) return &check;
  }
  return nullptr;
}

namespace {

bool Glob(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') {
    for (const char* rest = text;; ++rest) {
      if (Glob(pattern + 1, rest)) return true;
      if (*rest == '\0') return false;
    }
  }
  return *pattern == *text && *text != '\0' && Glob(pattern + 1, text + 1);
}

}  // namespace

bool MatchesAny(const std::string& id, const std::string& patterns) {
  std::istringstream list(patterns);
  std::string pattern;
  while (std::getline(list, pattern, ',')) {
    if (pattern.empty()) continue;
    if (Glob(pattern.c_str(), id.c_str())) return true;
    if (pattern.find_first_of("*.") == std::string::npos && id.starts_with(pattern + ".")) {
      return true;
    }
  }
  return false;
}

std::vector<const CheckSpec*> SelectChecks(const std::string& only, const std::string& skip) {
  std::vector<const CheckSpec*> selected;
  for (const CheckSpec& check : AllChecks()) {
    if (!only.empty() && !MatchesAny(check.id, only)) continue;
    if (!skip.empty() && MatchesAny(check.id, skip)) continue;
    selected.push_back(&check);
  }
  return selected;
}

std::uint64_t MixSeed(std::uint64_t value) {
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

std::uint64_t CheckSeed(std::uint64_t master, const std::string& id) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : id) hash = (hash ^ c) * 0x100000001b3ull;
  return MixSeed(master ^ hash);
}

std::vector<Finding> RunTraceFindings(const CheckContext& context, const Trace& trace) {
  return RunTrace(context.load, trace, context.dictionary).findings;
}

CheckBodyResult RunCheckBody(const CheckSpec& check, const CheckContext& context) {
  if (check.body != nullptr) return check.body(check, context);
  const std::string id = check.id;
  const Probe probe = ProbePlugin(context);
  if (!probe.findings.empty()) return Fail(probe.findings, nullptr);
  const int threads = std::max(2, context.threads);
  TraceBuilder builder(context, id, 1);
  Trace& trace = builder.Get();
  // The directed checks look only for what they are about: no resource comparison
  // unless asked, events from one thread unless asked.
  trace.policy.checkResources = false;

  if (id == "load.export") return RunTraces(context, {trace});
  if (id == "api.block") {
    Oracle oracle;
    {
      HostPolicy policy;
      ModelHost host(context.load, policy, context.seed, oracle, context.dictionary);
      if (host.Load(0) && host.Model() != nullptr) {
        const ApiModel& model = *host.Model();
        for (const ApiEndpoint& endpoint : model.Endpoints()) {
          if (endpoint.urlTemplate.empty() || endpoint.urlTemplate[0] != '/') {
            oracle.Report(FindingKind::kApiBlock,
                          endpoint.name + " has the URL template \"" + endpoint.urlTemplate + "\"");
          }
          if (model.FindEndpoint(endpoint.name) != &endpoint) {
            oracle.Report(FindingKind::kApiBlock, "two endpoints are named " + endpoint.name);
          }
        }
        for (const ApiEvent& event : model.Events()) {
          if (!event.payloadTypeName.empty() && model.FindType(event.payloadTypeName) == nullptr) {
            oracle.Report(FindingKind::kApiBlock, "event " + event.name +
                                                      " names the undescribed payload type " +
                                                      event.payloadTypeName);
          }
        }
      }
      host.Finish();
    }
    if (oracle.Failed()) return Fail(oracle.Findings(), nullptr);
    return {};
  }
  if (id == "load.second-module") {
    builder.Traffic(probe, 0);
    builder.Plain(0, OpKind::kLoad, 1);
    for (const std::string& endpoint : probe.endpoints) {
      builder.Call(0, endpoint, "valid", 1);
      builder.Call(0, endpoint, "valid", 0);
    }
    builder.Traffic(probe, 0);
    builder.Plain(0, OpKind::kStop, 1);
    builder.Plain(0, OpKind::kLoad, 1);
    builder.Traffic(probe, 0);
    builder.Plain(0, OpKind::kStop, 0);
    for (const std::string& endpoint : probe.endpoints) builder.Call(0, endpoint, "valid", 1);
    return RunTraces(context, {trace});
  }
  if (id == "load.concurrent-load") {
    if (probe.endpoints.empty()) return Skip("the plugin has no endpoint");
    trace.threads = threads;
    trace.policy.sampleMemory = false;
    for (int cycle = 0; cycle < 40; ++cycle) {
      builder.Plain(0, OpKind::kLoad, 1);
      builder.Plain(0, OpKind::kStop, 1);
    }
    for (int thread = 1; thread < threads; ++thread) {
      for (int call = 0; call < 400; ++call) {
        builder.Call(thread,
                     probe.endpoints[static_cast<std::size_t>(call) % probe.endpoints.size()]);
      }
    }
    return RunTraces(context, {trace});
  }
  if (id == "lifecycle.stop") {
    trace.policy.runJobsScheduledByStop = true;
    builder.Traffic(probe, 0, 2);
    return RunTraces(context, {trace});
  }
  if (id == "lifecycle.jobs-after-stop") {
    trace.policy.holdJobs = 1000;
    builder.Traffic(probe, 0, 3);
    return RunTraces(context, {trace});
  }
  if (id == "lifecycle.stop-mid-run") {
    if (probe.endpoints.empty()) return Skip("the plugin has no endpoint");
    trace.threads = threads;
    builder.Traffic(probe, 0, 2);
    builder.Plain(0, OpKind::kStop, 0);
    for (int thread = 1; thread < threads; ++thread) {
      for (int call = 0; call < 60; ++call) {
        builder.Call(thread,
                     probe.endpoints[static_cast<std::size_t>(call) % probe.endpoints.size()]);
      }
    }
    return RunTraces(context, {trace});
  }
  if (id == "lifecycle.stop-during-start") {
    if (probe.startCalls == 0) {
      return Skip("Start calls no host function, from inside which a host could stop it");
    }
    // One run per host function Start calls (the first 16), each stopping it there.
    std::vector<Trace> traces;
    for (std::uint64_t call = 1; call <= std::min<std::uint64_t>(probe.startCalls, 16); ++call) {
      TraceBuilder each(context, id, 1);
      each.Get().policy.checkResources = false;
      each.Get().policy.stopDuringStart = static_cast<int>(call);
      each.Traffic(probe, 0);
      traces.push_back(each.Get());
    }
    RunCounts counts;
    CheckBodyResult result = RunTraces(context, traces, &counts);
    if (result.status == "pass" && counts.stoppedDuringStart == 0) {
      return Skip("Start called fewer host functions than it did when probed: never stopped");
    }
    return result;
  }
  if (id == "reentry.publish") {
    trace.policy.reenterPublish = 1000;
    builder.Traffic(probe, 0, 3);
    return RunTraces(context, {trace});
  }
  if (id == "reentry.jobs") {
    trace.policy.reenterJobs = 1000;
    builder.Traffic(probe, 0, 3);
    return RunTraces(context, {trace});
  }
  if (id == "reentry.during-stop") {
    trace.policy.reenterDuringStop = true;
    builder.Traffic(probe, 0);
    RunCounts counts;
    CheckBodyResult result = RunTraces(context, {trace}, &counts);
    if (result.status == "pass" && counts.callsDuringStop == 0) {
      return Skip("the plugin calls no host function during Stop");
    }
    return result;
  }
  if (id == "endpoints.arguments") {
    if (probe.endpoints.empty()) return Skip("the plugin has no endpoint");
    for (int repeat = 0; repeat < 8; ++repeat) {
      for (const std::string& endpoint : probe.endpoints) {
        for (const char* variant : kVariants) builder.Call(0, endpoint, variant);
      }
    }
    return RunTraces(context, {trace});
  }
  if (id == "endpoints.binding") {
    if (probe.endpoints.empty()) return Skip("the plugin has no endpoint");
    // Valid traffic first, so that a handler that runs has something to change.
    builder.Traffic(probe, 0);
    for (int repeat = 0; repeat < 6; ++repeat) {
      for (const std::string& endpoint : probe.endpoints) builder.Call(0, endpoint, "unbindable");
    }
    return RunTraces(context, {trace});
  }
  if (id == "events.payloads") {
    if (probe.subscriptions == 0) return Skip("the plugin subscribes to no event");
    for (int repeat = 0; repeat < 8; ++repeat) {
      for (std::size_t index = 0; index < probe.subscriptions; ++index) {
        for (const char* variant : kVariants) builder.Event(0, static_cast<int>(index), variant);
      }
      builder.Plain(0, OpKind::kJob);
      builder.Plain(0, OpKind::kJob);
    }
    return RunTraces(context, {trace});
  }
  if (id == "wire.host-answers") {
    trace.policy.failAnswers = 350;
    trace.policy.nullAnswers = 200;
    trace.policy.lateAnswers = 200;
    builder.Traffic(probe, 0, 6);
    return RunTraces(context, {trace});
  }
  if (id == "wire.announcements") {
    builder.Traffic(probe, 0, 4);
    return RunTraces(context, {trace});
  }
  if (id == "wire.resource-get") {
    // Several runs, each its own random order of calls and events, each compared at its
    // end: which change comes last differs from run to run.
    std::vector<Trace> traces;
    for (int run = 0; run < 12; ++run) {
      CheckContext runContext = context;
      runContext.seed = MixSeed(context.seed + static_cast<std::uint64_t>(run));
      TraceBuilder shuffled(runContext, id, 1);
      shuffled.Get().policy.checkResources = true;
      shuffled.Get().policy.compareAfterCalls = true;
      shuffled.Get().policy.changeDuringPublish = 500;
      Random& random = shuffled.Rng();
      for (int op = 0; op < 24; ++op) {
        if (probe.subscriptions > 0 && random() % 3 == 0) {
          shuffled.Event(0, static_cast<int>(random() % probe.subscriptions));
        } else if (random() % 4 == 0) {
          shuffled.Plain(0, OpKind::kJob);
        } else if (!probe.endpoints.empty()) {
          shuffled.Call(0, probe.endpoints[random() % probe.endpoints.size()]);
        }
      }
      traces.push_back(shuffled.Get());
    }
    RunCounts counts;
    CheckBodyResult result = RunTraces(context, traces, &counts);
    if (result.status == "pass" && counts.resourcesCompared == 0) {
      if (counts.resourceEvents == 0) return Skip("the plugin announced no resource");
      // It announced resources that no GET serves: the check could not run, by its fault.
      CheckBodyResult broken =
          Fail({Finding{FindingKind::kPrecondition,
                        "the plugin announced resources (" + counts.unservedResource +
                            ", ...) but no GET endpoint serves any of them"}},
               nullptr);
      broken.rounds = result.rounds;
      broken.ops = result.ops;
      return broken;
    }
    return result;
  }
  if (id == "wire.mirrors") {
    trace.policy.checkMirrors = true;
    builder.Traffic(probe, 0, 4);
    RunCounts counts;
    CheckBodyResult result = RunTraces(context, {trace}, &counts);
    if (result.status == "pass" && counts.resourceEvents == 0) {
      return Skip("the plugin published no resource event");
    }
    return result;
  }
  if (id == "memory.peak") {
    trace.threads = threads;
    for (int thread = 0; thread < threads; ++thread) {
      for (int round = 0; round < 150; ++round) {
        if (probe.subscriptions > 0) {
          builder.Event(thread,
                        static_cast<int>(static_cast<std::size_t>(round) % probe.subscriptions));
        } else if (!probe.endpoints.empty()) {
          builder.Call(thread,
                       probe.endpoints[static_cast<std::size_t>(round) % probe.endpoints.size()]);
        }
        if (round % 10 == 0) builder.Plain(thread, OpKind::kJob);
      }
    }
    // A torn read of two counters needs another thread between the reads: the same
    // run again, for about two seconds, unless it fails first.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    CheckBodyResult result;
    for (int run = 0; run < 50 && std::chrono::steady_clock::now() < until; ++run) {
      const CheckBodyResult once = RunTraces(context, {trace});
      result.rounds += once.rounds;
      result.ops += once.ops;
      if (once.status != "pass") {
        CheckBodyResult failed = once;
        failed.rounds = result.rounds;
        failed.ops = result.ops;
        return failed;
      }
    }
    return result;
  }
  if (id == "memory.baseline") return MemoryCycles(context, probe, 1);
  if (id == "memory.cycles") return MemoryCycles(context, probe, 100);
  if (id == "memory.traffic") return TrafficCycles(context, probe);

  HostPolicy policy;
  policy.checkResources = true;
  policy.checkMirrors = true;
  Mix mix;
  if (id == "threads.random") {
    policy.failAnswers = 100;
    policy.nullAnswers = 50;
    policy.lateAnswers = 50;
    policy.reenterPublish = 100;
    policy.reenterJobs = 100;
    policy.holdJobs = 100;
  } else if (id == "threads.second-module") {
    mix = Mix{50, 10, 10, 2, 15, 13};
    policy.holdJobs = 50;
  } else if (id == "threads.pushes") {
    mix = Mix{5, 80, 10, 5, 0, 0};
  }
  CheckContext random = context;
  random.threads = threads;
  return ExploreRandom(random, probe, id, mix, policy);
}

std::string BodyResultToJson(const CheckBodyResult& result) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("status");
  writer.String(result.status.c_str());
  writer.Key("message");
  writer.String(result.message.c_str());
  writer.Key("rounds");
  writer.Uint64(result.rounds);
  writer.Key("ops");
  writer.Uint64(result.ops);
  writer.Key("findings");
  writer.StartArray();
  for (const Finding& finding : result.findings) {
    writer.StartObject();
    writer.Key("kind");
    writer.String(finding.kind.c_str());
    writer.Key("message");
    writer.String(finding.message.c_str());
    writer.EndObject();
  }
  writer.EndArray();
  writer.Key("trace");
  if (result.trace) {
    const std::string trace = TraceToJson(*result.trace);
    writer.String(trace.c_str(), static_cast<rapidjson::SizeType>(trace.size()));
  } else {
    writer.Null();
  }
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

std::optional<CheckBodyResult> BodyResultFromJson(const std::string& json) {
  rapidjson::Document document;
  if (ParseJsonText(json, document).Failed() || !document.IsObject()) return std::nullopt;
  CheckBodyResult result;
  const auto text = [&](const char* name) {
    const auto found = document.FindMember(name);
    return found != document.MemberEnd() && found->value.IsString()
               ? std::string(found->value.GetString(), found->value.GetStringLength())
               : std::string();
  };
  const auto number = [&](const char* name) {
    const auto found = document.FindMember(name);
    return found != document.MemberEnd() && found->value.IsUint64() ? found->value.GetUint64() : 0;
  };
  result.status = text("status");
  result.message = text("message");
  result.rounds = number("rounds");
  result.ops = number("ops");
  const auto findings = document.FindMember("findings");
  if (findings != document.MemberEnd() && findings->value.IsArray()) {
    for (const auto& item : findings->value.GetArray()) {
      if (!item.IsObject() || !item.HasMember("kind") || !item.HasMember("message")) continue;
      result.findings.push_back(Finding{item["kind"].GetString(), item["message"].GetString()});
    }
  }
  const std::string trace = text("trace");
  if (!trace.empty()) {
    MaybeType<Failure, Trace> parsed = TraceFromJson(trace);
    if (parsed.Succeeded()) result.trace = parsed.Value();
  }
  return result;
}

}  // namespace Kavren::Host
