// The telemetry sender: telemetry events as outgoing calls of the host's REST API.
#pragma once

#include <string>

#include "binding/value.h"
#include "http/future.h"

namespace Kavren {

class EventLayer;

/// Sends telemetry events to the host: one outgoing POST of "/telemetry/v1/events/"
/// followed by the event name, with the payload as its argument.
class TelemetrySender {
 public:
  explicit TelemetrySender(EventLayer& layer) : layer_(layer) {}

  /// [calling host thread] Sends synchronously; the returned future is already
  /// fulfilled with the call's outcome.
  [[nodiscard]] FailureFuture Send(const std::string& eventName, const BindingProperty& payload);

 private:
  EventLayer& layer_;
};

}  // namespace Kavren
