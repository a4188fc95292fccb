// The telemetry sender's one call.
#include "plugin/telemetry_sender.h"

#include <cstring>
#include <future>
#include <utility>

#include "http/remoting.h"
#include "plugin/call_response.h"
#include "plugin/event_layer.h"
#include "plugin/messages.h"

namespace Kavren {

FailureFuture TelemetrySender::Send(const std::string& eventName, const BindingProperty& payload) {
  std::promise<MaybeType<Failure, void>> promise;
  FailureFuture future = promise.get_future();
  Abi::HttpResponseRecord response;
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  MaybeType<Failure, void> outcome =
      Kavren::Call(layer_.Remoting(), response, HttpMethod::Post,
                   PluginMessages::kTelemetryPathPrefix + eventName, payload);
  ReleaseCallResponse(response);
  promise.set_value(std::move(outcome));
  return future;
}

}  // namespace Kavren
