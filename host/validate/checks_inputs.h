// The endpoints.* and events.* checks: what the plugin does with the arguments and
// payloads it is given, valid or not.
#pragma once

#include "host/validate/check_support.h"

namespace Kavren::Host::detail {

/// endpoints.arguments: every endpoint with valid, malformed and out-of-range arguments.
[[nodiscard]] CheckBodyResult EndpointsArguments(const CheckSpec& check,
                                                 const CheckContext& context, const Probe& probe);
/// endpoints.binding: after valid traffic, every endpoint with an argument that cannot bind.
[[nodiscard]] CheckBodyResult EndpointsBinding(const CheckSpec& check, const CheckContext& context,
                                               const Probe& probe);
/// events.payloads: valid and broken payloads to every subscription, with jobs between.
[[nodiscard]] CheckBodyResult EventsPayloads(const CheckSpec& check, const CheckContext& context,
                                             const Probe& probe);

}  // namespace Kavren::Host::detail
