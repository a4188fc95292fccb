// The threads.* checks: random orderings of what a host may do, on several threads, one
// round per child.
#pragma once

#include "host/validate/check_support.h"

namespace Kavren::Host::detail {

/// threads.random: everything a host may do, with failed, null and late answers, re-entry
/// and held jobs.
[[nodiscard]] CheckBodyResult ThreadsRandom(const CheckSpec& check, const CheckContext& context,
                                            const Probe& probe);
/// threads.second-module: mostly calls, loads and stops of a second module; jobs held.
[[nodiscard]] CheckBodyResult ThreadsSecondModule(const CheckSpec& check,
                                                  const CheckContext& context, const Probe& probe);
/// threads.pushes: mostly event deliveries, from every thread.
[[nodiscard]] CheckBodyResult ThreadsPushes(const CheckSpec& check, const CheckContext& context,
                                            const Probe& probe);

}  // namespace Kavren::Host::detail
