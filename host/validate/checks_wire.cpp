// The wire.* checks.
#include "host/validate/checks_wire.h"

namespace Kavren::Host::detail {
namespace {

// A run of 24 calls, events and jobs in an order of its own, with the resources compared
// after each changing call.
Trace ShuffledResourceRun(const CheckContext& context, const std::string& id, const Probe& probe,
                          int run) {
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
  return shuffled.Get();
}

}  // namespace

CheckBodyResult WireHostAnswers(const CheckSpec& check, const CheckContext& context,
                                const Probe& probe) {
  return RunDirectedTraffic(check, context, probe, 6, [](HostPolicy& policy) {
    policy.failAnswers = 350;
    policy.nullAnswers = 200;
    policy.lateAnswers = 200;
  });
}

CheckBodyResult WireAnnouncements(const CheckSpec& check, const CheckContext& context,
                                  const Probe& probe) {
  return RunDirectedTraffic(check, context, probe, 4, [](HostPolicy& /*policy*/) {});
}

CheckBodyResult WireResourceGet(const CheckSpec& check, const CheckContext& context,
                                const Probe& probe) {
  // Several runs, each its own random order of calls and events, each compared at its
  // end: which change comes last differs from run to run.
  constexpr int kRuns = 12;
  std::vector<Trace> traces;
  traces.reserve(kRuns);
  for (int run = 0; run < kRuns; ++run) {
    traces.push_back(ShuffledResourceRun(context, check.id, probe, run));
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

CheckBodyResult WireMirrors(const CheckSpec& check, const CheckContext& context,
                            const Probe& probe) {
  RunCounts counts;
  CheckBodyResult result = RunDirectedTraffic(
      check, context, probe, 4, [](HostPolicy& policy) { policy.checkMirrors = true; }, &counts);
  if (result.status == "pass" && counts.resourceEvents == 0) {
    return Skip("the plugin published no resource event");
  }
  return result;
}

}  // namespace Kavren::Host::detail
