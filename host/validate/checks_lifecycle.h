// The lifecycle.* checks: what a module must do around its Start and Stop.
#pragma once

#include "host/validate/check_support.h"

namespace Kavren::Host::detail {

/// lifecycle.stop: traffic, then Stop with the jobs it schedules run afterwards.
[[nodiscard]] CheckBodyResult LifecycleStop(const CheckSpec& check, const CheckContext& context,
                                            const Probe& probe);
/// lifecycle.jobs-after-stop: traffic whose jobs are all held until after Stop.
[[nodiscard]] CheckBodyResult LifecycleJobsAfterStop(const CheckSpec& check,
                                                     const CheckContext& context,
                                                     const Probe& probe);
/// lifecycle.stop-mid-run: Stop on thread 0 while the other threads keep calling.
[[nodiscard]] CheckBodyResult LifecycleStopMidRun(const CheckSpec& check,
                                                  const CheckContext& context, const Probe& probe);
/// lifecycle.stop-during-start: one run per host function Start calls (the first 16),
/// each stopping the module from inside it.
[[nodiscard]] CheckBodyResult LifecycleStopDuringStart(const CheckSpec& check,
                                                       const CheckContext& context,
                                                       const Probe& probe);

}  // namespace Kavren::Host::detail
