// The reentry.* checks.
#include "host/validate/checks_reentry.h"

namespace Kavren::Host::detail {

CheckBodyResult ReentryPublish(const CheckSpec& check, const CheckContext& context,
                               const Probe& probe) {
  return RunDirectedTraffic(check, context, probe, 3,
                            [](HostPolicy& policy) { policy.reenterPublish = 1000; });
}

CheckBodyResult ReentryJobs(const CheckSpec& check, const CheckContext& context,
                            const Probe& probe) {
  return RunDirectedTraffic(check, context, probe, 3,
                            [](HostPolicy& policy) { policy.reenterJobs = 1000; });
}

CheckBodyResult ReentryDuringStop(const CheckSpec& check, const CheckContext& context,
                                  const Probe& probe) {
  RunCounts counts;
  CheckBodyResult result = RunDirectedTraffic(
      check, context, probe, 1, [](HostPolicy& policy) { policy.reenterDuringStop = true; },
      &counts);
  if (result.status == "pass" && counts.callsDuringStop == 0) {
    return Skip("the plugin calls no host function during Stop");
  }
  return result;
}

}  // namespace Kavren::Host::detail
