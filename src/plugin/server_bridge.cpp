// The server bridge of the event layer: server-message handlers and waiters, the
// session invoke of server methods, and observed host resources.
#include "plugin/server_bridge.h"

#include <future>
#include <utility>

#include "plugin/call_response.h"
#include "plugin/event_names.h"
#include "plugin/messages.h"
#include "util/format.h"

namespace Kavren {

void EventLayer::SetQrmsHandler(const std::string& serverClass, QrmsEventHandler handler) {
  handlers_.SetQrmsHandler(serverClass, std::move(handler));
  const std::string eventName = QrmsEventName(serverClass);
  DebugTrace(PluginMessages::kTraceSubscribingQrms, eventName.c_str());
  RegisterEventHandler<PluginQrmsEvent>(
      eventName, [this](const PluginQrmsEvent& event) { OnQrmsEvent(event); }, 1);
}

void EventLayer::AddQrmsWaiter(const std::string& typeName, QrmsEventHandler waiter) {
  handlers_.AddQrmsWaiter(typeName, std::move(waiter));
}

void EventLayer::OnQrmsEvent(const PluginQrmsEvent& event) {
  if (QrmsEventHandler waiter = handlers_.TakeQrmsWaiter(event.typeName)) {
    waiter(event);
    return;
  }
  if (handlers_.FindQrmsHandler(event.typeName) == nullptr) return;
  // A label that cannot be formatted falls back to the event's name, which is short
  // enough to be kept without allocating: a job never goes to the host unlabelled.
  MaybeType<Failure, std::string> label = TryFormat(PluginMessages::kQrmsJobLabel, event.typeName);
  ScheduleJob(
      label ? std::move(label).Value() : std::string(PluginMessages::kQrmsJobFallbackLabel),
      [this, event] { RunQrmsJob(event); }, NowNanoseconds());
}

void EventLayer::RunQrmsJob(const PluginQrmsEvent& event) {
  // Looked up again: a handler replaced since the event arrived is the one that runs.
  const std::shared_ptr<QrmsEventHandler> handler = handlers_.FindQrmsHandler(event.typeName);
  if (handler != nullptr) (*handler)(event);
}

FailureFuture EventLayer::InvokeQrmsValue(const std::string& service, const std::string& method,
                                          BindingResult parameter, const TypeRef& parameterType) {
  std::promise<MaybeType<Failure, void>> promise;
  FailureFuture future = promise.get_future();
  if (!parameter.ok) {
    promise.set_value(
        Failure{0, Format(PluginMessages::kQrmsParametersNotConverted, parameter.ErrorText())});
    return future;
  }
  TagServerClass(parameter.value, parameterType, serverClasses_);
  BindingProperty arguments;
  arguments.MakeCollection();
  arguments.Append().MoveFrom(parameter.value);

  CallResponse response;
  MaybeType<Failure, void> outcome =
      Kavren::Call(Remoting(), response.Record(), HttpMethod::Post,
                   PluginMessages::kSessionInvokePath, service, method, arguments);
  // The host may answer only once the module has stopped: whatever it answered, the
  // call's caller is told that the module is gone.
  if (HostClosed()) {
    outcome = Failure{0, Format(PluginMessages::kStoppedDuringCall, MethodText(HttpMethod::Post),
                                PluginMessages::kSessionInvokePath)};
  }
  promise.set_value(std::move(outcome));
  return future;
}

void EventLayer::ObserveResourceEvents(const std::string& uri, ResourceEventHandler handler) {
  auto delivery = std::make_shared<ResourceEventHandler>(std::move(handler));
  SetResourceHandler(uri, [delivery](const PluginResourceEvent& event) { (*delivery)(event); });
  Subscribe(uri);
  if (uri.find('*') != std::string::npos) return;

  // The current state at once; a resource that cannot be read arrives with its next change.
  RemotingResponseValue read = CallForValue(Remoting(), HttpMethod::Get, uri, {});
  if (read.outcome.Failed()) return;
  PluginResourceEvent event;
  event.uri = uri;
  event.eventType = PluginResourceEventType::kCreate;
  event.data.MoveFrom(read.value);
  (*delivery)(event);
}

}  // namespace Kavren
