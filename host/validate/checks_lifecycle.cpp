// The lifecycle.* checks.
#include "host/validate/checks_lifecycle.h"

#include <algorithm>

namespace Kavren::Host::detail {

CheckBodyResult LifecycleStop(const CheckSpec& check, const CheckContext& context,
                              const Probe& probe) {
  return RunDirectedTraffic(check, context, probe, 2,
                            [](HostPolicy& policy) { policy.runJobsScheduledByStop = true; });
}

CheckBodyResult LifecycleJobsAfterStop(const CheckSpec& check, const CheckContext& context,
                                       const Probe& probe) {
  return RunDirectedTraffic(check, context, probe, 3,
                            [](HostPolicy& policy) { policy.holdJobs = 1000; });
}

CheckBodyResult LifecycleStopMidRun(const CheckSpec& check, const CheckContext& context,
                                    const Probe& probe) {
  if (probe.endpoints.empty()) return Skip("the plugin has no endpoint");
  const int threads = SeveralThreads(context);
  TraceBuilder builder = DirectedTrace(context, check.id);
  builder.Get().threads = threads;
  builder.Traffic(probe, 0, 2);
  builder.Plain(0, OpKind::kStop, 0);
  for (int thread = 1; thread < threads; ++thread) {
    for (int call = 0; call < 60; ++call) {
      builder.Call(thread,
                   probe.endpoints[static_cast<std::size_t>(call) % probe.endpoints.size()]);
    }
  }
  return RunTraces(context, {builder.Get()});
}

CheckBodyResult LifecycleStopDuringStart(const CheckSpec& check, const CheckContext& context,
                                         const Probe& probe) {
  if (probe.startCalls == 0) {
    return Skip("Start calls no host function, from inside which a host could stop it");
  }
  std::vector<Trace> traces;
  for (std::uint64_t call = 1; call <= std::min<std::uint64_t>(probe.startCalls, 16); ++call) {
    TraceBuilder each = DirectedTrace(context, check.id);
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

}  // namespace Kavren::Host::detail
