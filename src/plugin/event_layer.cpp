// The event layer: subscriptions, event dispatch, resource publishing, service-proxy
// replies, scheduled jobs and the host session.
#include "plugin/event_layer.h"

#include <chrono>
#include <cstring>
#include <utility>

#include "binding/convert.h"
#include "binding/host_value.h"
#include "log/log.h"
#include "plugin/boundary.h"
#include "plugin/call_response.h"
#include "plugin/event_names.h"
#include "plugin/messages.h"
#include "plugin/typed_events.h"
#include "util/format.h"

namespace Kavren {

EventLayer::EventLayer() { lifetime_.module = this; }

// A module destroyed by the directory has left it already; one that never reached the
// host (a failed load) leaves here, if it was ever listed.
EventLayer::~EventLayer() { ModuleDirectory::Leave(lifetime_); }

void EventLayer::OpenToHost() noexcept { ModuleDirectory::Enter(lifetime_); }

RemotingContext EventLayer::Remoting() {
  // After Stop a call fails at once instead of reaching a host that has stopped.
  return RemotingContext{HostClosed() ? nullptr : functions_, cookie_, registry_, &waiting_};
}

void EventLayer::BeginHostSession(Abi::HostFunctions* functions, std::uint32_t cookie,
                                  std::string userAgent) {
  functions_ = functions;
  cookie_ = cookie;
  userAgent_ = std::move(userAgent);
  telemetry_ = std::make_unique<TelemetrySender>(*this);
  RegisterEventHandler<PluginServiceProxyResponse>(
      kServiceProxyUuidEventName,
      [this](const PluginServiceProxyResponse& reply) { OnServiceProxyUuidEvent(reply); }, 1);
  RegisterEventHandler<PluginServiceProxyResponse>(
      kServiceProxyMethodEventName,
      [this](const PluginServiceProxyResponse& reply) { OnServiceProxyMethodEvent(reply); }, 1);
  RegisterEventHandler<PluginServiceProxyResponse>(
      kServiceProxyAsyncEventName,
      [this](const PluginServiceProxyResponse& reply) { OnServiceProxyAsyncEvent(reply); }, 1);
}

// Subscriptions and typed handlers.

void EventLayer::Subscribe(const std::string& resourcePath) {
  const std::string name = EventNameForUri(resourcePath);
  DebugTrace(PluginMessages::kTraceSubscribing, name.c_str());
  if (!subscriptions_.Add(name)) return;
  RegisterEventHandler<PluginResourceEvent>(
      name, [this](const PluginResourceEvent& event) { DispatchResourceEvent(event); }, 0);
}

void EventLayer::Unsubscribe(const std::string& resourcePath) {
  const std::string name = EventNameForUri(resourcePath);
  DebugTrace(PluginMessages::kTraceUnsubscribing, name.c_str());
  if (!subscriptions_.Remove(name)) return;
  handlers_.RemoveEventHandler(name);
  UnsubscribeWithHost(name.c_str(), cookie_);
}

// Resource events.

void EventLayer::SetResourceHandler(const std::string& pathOrPattern,
                                    ResourceEventHandler handler) {
  handlers_.SetResourceHandler(pathOrPattern, std::move(handler));
}

void EventLayer::DispatchResourceEvent(const PluginResourceEvent& event) {
  PluginResourceEvent normalised = event;
  if (normalised.uri.empty() || normalised.uri.front() != '/') normalised.uri.insert(0, 1, '/');
  for (const auto& handler : handlers_.ResourceHandlers(normalised.uri)) (*handler)(normalised);
}

MaybeType<Failure, void> EventLayer::PublishResourceValue(PluginResourceEventType eventType,
                                                          const std::string& path,
                                                          const BindingProperty& data) {
  PluginResourceEvent event;
  event.uri = path;
  event.eventType = eventType;
  event.data.CopyFrom(data);

  BindingResult value;
  ToValue(value, event, Registry());
  if (!value.ok) return Failure{0, value.ErrorText()};
  HostValueHolder payload;
  ValueToHost(payload.value(), value.value, registry_);

  const std::string name = EventNameForUri(path);
  Abi::HostEventRecord record;
  std::memset(static_cast<void*>(&record), 0, sizeof(record));
  record.name = name.c_str();
  record.payload = payload.value();
  record.flag = 0;
  DebugTrace(PluginMessages::kTraceSendingEvent, name.c_str());
  PublishEvent(&record);
  if (name != kJsonApiEventName) {
    record.name = kJsonApiEventName;
    DebugTrace(PluginMessages::kTraceSendingEvent, kJsonApiEventName);
    PublishEvent(&record);
  }
  return MaybeType<Failure, void>::Success();
}

// Service-proxy replies.

void EventLayer::AddServiceProxyRequest(const std::string& key, ServiceProxyHandler handler) {
  serviceProxies_.AddRequest(key, std::move(handler));
}

void EventLayer::AddServiceProxyAsyncHandler(const std::string& key, ServiceProxyHandler handler) {
  serviceProxies_.AddAsyncHandler(key, std::move(handler));
}

void EventLayer::OnServiceProxyUuidEvent(const PluginServiceProxyResponse& reply) {
  serviceProxies_.StoreReply(reply.uuid, reply);
}

void EventLayer::OnServiceProxyMethodEvent(const PluginServiceProxyResponse& reply) {
  serviceProxies_.StoreReply(
      Format(PluginMessages::kServiceProxyKey, reply.serviceName, reply.methodName), reply);
}

void EventLayer::OnServiceProxyAsyncEvent(const PluginServiceProxyResponse& reply) {
  const std::string key =
      Format(PluginMessages::kServiceProxyKey, reply.serviceName, reply.methodName);
  if (serviceProxies_.DeliverAsync(key, reply)) return;
  LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0,
            PluginMessages::kNoAsyncServiceProxyHandler, key.c_str());
}

// Scheduled jobs.

std::int64_t EventLayer::NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::size_t EventLayer::PendingJobCount() const { return jobs_.Size(); }

void EventLayer::ScheduleJob(const std::string& label, ScheduledJob job,
                             std::int64_t dueNanoseconds) {
  const std::int64_t remaining = dueNanoseconds - NowNanoseconds();
  const double delaySeconds = remaining > 0 ? static_cast<double>(remaining) / 1000000000.0 : 0.0;
  const std::shared_ptr<const JobTable::Entry> entry = jobs_.Add(label, std::move(job));
  // The host gets the ticket, never the entry: it may run the job after the entry is gone.
  ScheduleJob(entry->label.c_str(), &EventLayer::JobEntryPoint,
              reinterpret_cast<void*>(entry->ticket), delaySeconds, 0);
}

void HXA_CDECL EventLayer::JobEntryPoint(void* context) {
  try {
    const auto ticket = reinterpret_cast<std::uintptr_t>(context);
    // A job of a module that stopped (or is stopping) finds no module and does nothing.
    const ModulePin pin = ModuleDirectory::PinByJob(ticket);
    if (!pin) return;
    pin.Module()->RunJob(ticket);
  } catch (...) {
    ReportCurrentException(PluginMessages::kJobCallbackCall);
  }
}

void EventLayer::RunJob(std::uintptr_t ticket) {
  // Taken before it runs: a host that runs the same job twice runs it once.
  const std::shared_ptr<JobTable::Entry> entry = jobs_.Take(ticket);
  if (entry == nullptr) return;
  entry->job();
}

// Shut-down.

void EventLayer::Shutdown() {
  // The subscribed names leave the table whole, without a copy: nothing here allocates,
  // so every subscription is released even when the heap refuses everything. The
  // handlers go once the host has been told.
  const HandlerTable::EventHandlerMap subscribed = handlers_.TakeEventHandlers();
  for (const auto& [name, slot] : subscribed) UnsubscribeWithHost(name.c_str(), cookie_);
  subscriptions_.Clear();
  handlers_.Clear();
  serviceProxies_.Clear();
  jobs_.Clear();
  serverClasses_.Clear();
}

}  // namespace Kavren
