// The memory.* checks: the plugin's memory counters under traffic, and the bytes in use
// across Start/Stop cycles and across traffic that was undone.
#pragma once

#include "host/validate/check_support.h"

namespace Kavren::Host::detail {

/// memory.peak: events (or calls) from several threads at once, the counters sampled
/// throughout; run again for about two seconds unless it fails first.
[[nodiscard]] CheckBodyResult MemoryPeak(const CheckSpec& check, const CheckContext& context,
                                         const Probe& probe);
/// memory.baseline: a third Start/Stop cycle leaves the bytes in use where the second did.
[[nodiscard]] CheckBodyResult MemoryBaseline(const CheckSpec& check, const CheckContext& context,
                                             const Probe& probe);
/// memory.cycles: no growth of the bytes in use over 100 more Start/Stop cycles.
[[nodiscard]] CheckBodyResult MemoryCycles(const CheckSpec& check, const CheckContext& context,
                                           const Probe& probe);
/// memory.traffic: each traffic cycle that was undone (pushes, their jobs, what they added
/// acknowledged) leaves the bytes in use where it found them.
[[nodiscard]] CheckBodyResult MemoryTraffic(const CheckSpec& check, const CheckContext& context,
                                            const Probe& probe);

}  // namespace Kavren::Host::detail
