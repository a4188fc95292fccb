// The reentry.* checks: endpoints called from inside the host functions the plugin calls.
#pragma once

#include "host/validate/check_support.h"

namespace Kavren::Host::detail {

/// reentry.publish: an endpoint called from inside each PublishEvent.
[[nodiscard]] CheckBodyResult ReentryPublish(const CheckSpec& check, const CheckContext& context,
                                             const Probe& probe);
/// reentry.jobs: an endpoint called from inside host functions a job calls.
[[nodiscard]] CheckBodyResult ReentryJobs(const CheckSpec& check, const CheckContext& context,
                                          const Probe& probe);
/// reentry.during-stop: an endpoint called from inside host functions Stop calls; skipped
/// when Stop calls none.
[[nodiscard]] CheckBodyResult ReentryDuringStop(const CheckSpec& check, const CheckContext& context,
                                                const Probe& probe);

}  // namespace Kavren::Host::detail
