// The wire.* checks: what crosses the host boundary besides calls and events: the host's
// answers to Call, announcements, the resources they announce, and their mirrors.
#pragma once

#include "host/validate/check_support.h"

namespace Kavren::Host::detail {

/// wire.host-answers: traffic whose Calls the host answers with failures, nulls or late.
[[nodiscard]] CheckBodyResult WireHostAnswers(const CheckSpec& check, const CheckContext& context,
                                              const Probe& probe);
/// wire.announcements: traffic whose announcements must convert to their payload types.
[[nodiscard]] CheckBodyResult WireAnnouncements(const CheckSpec& check, const CheckContext& context,
                                                const Probe& probe);
/// wire.resource-get: twelve runs of random calls and events, each announced resource
/// compared with its GET after each changing call and at the end. Fails when resources
/// were announced but no GET serves any of them.
[[nodiscard]] CheckBodyResult WireResourceGet(const CheckSpec& check, const CheckContext& context,
                                              const Probe& probe);
/// wire.mirrors: every resource event must be published again under OnJsonApiEvent.
[[nodiscard]] CheckBodyResult WireMirrors(const CheckSpec& check, const CheckContext& context,
                                          const Probe& probe);

}  // namespace Kavren::Host::detail
