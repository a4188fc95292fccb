// The memory.* checks.
#include "host/validate/checks_memory.h"

#include <chrono>
#include <map>
#include <optional>
#include <set>

#include "host/core/document.h"

namespace Kavren::Host::detail {
namespace {

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

// Start/Stop cycles with the same traffic: after `cycles` more of them the bytes in use
// must be where the baseline cycle left them.
CheckBodyResult StartStopCycles(const CheckContext& context, const Probe& probe, int cycles) {
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

}  // namespace

CheckBodyResult MemoryPeak(const CheckSpec& check, const CheckContext& context,
                           const Probe& probe) {
  const int threads = SeveralThreads(context);
  TraceBuilder builder = DirectedTrace(context, check.id);
  Trace& trace = builder.Get();
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

CheckBodyResult MemoryBaseline(const CheckSpec& /*check*/, const CheckContext& context,
                               const Probe& probe) {
  return StartStopCycles(context, probe, 1);
}

CheckBodyResult MemoryCycles(const CheckSpec& /*check*/, const CheckContext& context,
                             const Probe& probe) {
  return StartStopCycles(context, probe, 100);
}

CheckBodyResult MemoryTraffic(const CheckSpec& /*check*/, const CheckContext& context,
                              const Probe& probe) {
  return TrafficCycles(context, probe);
}

}  // namespace Kavren::Host::detail
