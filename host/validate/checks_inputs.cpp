// The endpoints.* and events.* checks.
#include "host/validate/checks_inputs.h"

namespace Kavren::Host::detail {

CheckBodyResult EndpointsArguments(const CheckSpec& check, const CheckContext& context,
                                   const Probe& probe) {
  if (probe.endpoints.empty()) return Skip("the plugin has no endpoint");
  TraceBuilder builder = DirectedTrace(context, check.id);
  for (int repeat = 0; repeat < 8; ++repeat) {
    for (const std::string& endpoint : probe.endpoints) {
      for (const char* variant : kVariants) builder.Call(0, endpoint, variant);
    }
  }
  return RunTraces(context, {builder.Get()});
}

CheckBodyResult EndpointsBinding(const CheckSpec& check, const CheckContext& context,
                                 const Probe& probe) {
  if (probe.endpoints.empty()) return Skip("the plugin has no endpoint");
  TraceBuilder builder = DirectedTrace(context, check.id);
  // Valid traffic first, so that a handler that runs has something to change.
  builder.Traffic(probe, 0);
  for (int repeat = 0; repeat < 6; ++repeat) {
    for (const std::string& endpoint : probe.endpoints) builder.Call(0, endpoint, "unbindable");
  }
  return RunTraces(context, {builder.Get()});
}

CheckBodyResult EventsPayloads(const CheckSpec& check, const CheckContext& context,
                               const Probe& probe) {
  if (probe.subscriptions == 0) return Skip("the plugin subscribes to no event");
  TraceBuilder builder = DirectedTrace(context, check.id);
  for (int repeat = 0; repeat < 8; ++repeat) {
    for (std::size_t index = 0; index < probe.subscriptions; ++index) {
      for (const char* variant : kVariants) builder.Event(0, static_cast<int>(index), variant);
    }
    builder.Plain(0, OpKind::kJob);
    builder.Plain(0, OpKind::kJob);
  }
  return RunTraces(context, {builder.Get()});
}

}  // namespace Kavren::Host::detail
