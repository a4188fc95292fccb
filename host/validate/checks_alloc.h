// The alloc.* checks: the plugin's allocations refused (in a child with the allocation
// interposer preloaded), each in turn or a random share of them.
#pragma once

#include "host/validate/check_support.h"

namespace Kavren::Host::detail {

/// alloc.load, alloc.start, alloc.stop, alloc.endpoints and alloc.events (by the check's
/// id): each allocation of the subject's phase refused in turn, for every subject (the
/// lifecycle phase; each endpoint; each subscribed event). The first refused run with a
/// finding fails the check; the message says what the host got from the refused runs.
[[nodiscard]] CheckBodyResult AllocSweep(const CheckSpec& check, const CheckContext& context,
                                         const Probe& probe);
/// alloc.random: random orderings with a share of the plugin's allocations refused: from
/// 0.1% to 20%, spread evenly over the decades, one share per round; refused during the
/// operations, and in one round of four from the load to the end (where most rounds end
/// at the load).
[[nodiscard]] CheckBodyResult AllocRandom(const CheckSpec& check, const CheckContext& context,
                                          const Probe& probe);

}  // namespace Kavren::Host::detail
