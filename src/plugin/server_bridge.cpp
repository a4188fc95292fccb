// The server bridge of the event layer: server-message handlers and waiters, the
// session invoke of server methods, and observed host resources.
#include <cstring>
#include <utility>

#include "plugin/event_layer.h"
#include "plugin/event_names.h"

namespace Kavren {
namespace {

// Zeroed on construction; released through its own release entry when done.
class CallResponse {
 public:
  CallResponse() { std::memset(static_cast<void*>(&response_), 0, sizeof(response_)); }
  CallResponse(const CallResponse&) = delete;
  CallResponse& operator=(const CallResponse&) = delete;
  ~CallResponse() {
    if (response_.stream != nullptr && response_.streamRelease != nullptr) {
      response_.streamRelease(response_.stream);
    }
    if (response_.release != nullptr) response_.release(&response_);
  }

  Abi::HttpResponseRecord& Record() { return response_; }

 private:
  Abi::HttpResponseRecord response_;
};

}  // namespace

void EventLayer::SetQrmsHandler(const std::string& serverClass, QrmsEventHandler handler) {
  {
    std::lock_guard<std::mutex> guard(handlersLock_);
    qrmsHandlers_.insert_or_assign(serverClass,
                                   std::make_shared<QrmsEventHandler>(std::move(handler)));
  }
  const std::string eventName = QrmsEventName(serverClass);
  DebugTrace(PluginText::kTraceSubscribingQrms, eventName.c_str());
  RegisterEventHandler<PluginQrmsEvent>(
      eventName, [this](const PluginQrmsEvent& event) { OnQrmsEvent(event); }, 1);
}

void EventLayer::AddQrmsWaiter(const std::string& typeName, QrmsEventHandler waiter) {
  std::lock_guard<std::mutex> guard(handlersLock_);
  qrmsWaiters_.insert_or_assign(typeName, std::move(waiter));
}

void EventLayer::OnQrmsEvent(const PluginQrmsEvent& event) {
  QrmsEventHandler waiter;
  bool hasHandler = false;
  {
    std::lock_guard<std::mutex> guard(handlersLock_);
    const auto found = qrmsWaiters_.find(event.typeName);
    if (found != qrmsWaiters_.end()) {
      waiter = std::move(found->second);
      qrmsWaiters_.erase(found);
    } else {
      hasHandler = qrmsHandlers_.find(event.typeName) != qrmsHandlers_.end();
    }
  }
  if (waiter) {
    waiter(event);
    return;
  }
  if (!hasHandler) return;
  ScheduleJob(
      Format(PluginText::kQrmsJobLabel, event.typeName), [this, event] { RunQrmsJob(event); },
      NowNanoseconds());
}

void EventLayer::RunQrmsJob(const PluginQrmsEvent& event) {
  std::shared_ptr<QrmsEventHandler> handler;
  {
    // Looked up again: a handler replaced since the event arrived is the one that runs.
    std::lock_guard<std::mutex> guard(handlersLock_);
    const auto found = qrmsHandlers_.find(event.typeName);
    if (found == qrmsHandlers_.end()) return;
    handler = found->second;
  }
  (*handler)(event);
}

FailureFuture EventLayer::InvokeQrmsValue(const std::string& service, const std::string& method,
                                          BindingResult parameter, const TypeRef& parameterType) {
  std::promise<MaybeType<Failure, void>> promise;
  FailureFuture future = promise.get_future();
  if (!parameter.ok) {
    promise.set_value(
        Failure{0, Format(PluginText::kQrmsParametersNotConverted, parameter.ErrorText())});
    return future;
  }
  TagServerClass(parameter.value, parameterType, serverClasses_);
  BindingProperty arguments;
  arguments.MakeCollection();
  arguments.Append().MoveFrom(parameter.value);

  CallResponse response;
  MaybeType<Failure, void> outcome =
      Kavren::Call(Remoting(), response.Record(), HttpMethod::Post, PluginText::kSessionInvokePath,
                   service, method, arguments);
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
