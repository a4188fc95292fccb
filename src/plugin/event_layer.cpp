// The event layer: subscriptions, event dispatch, resource publishing, service-proxy
// replies, scheduled jobs and the host session.
#include "plugin/event_layer.h"

#include <cstring>
#include <utility>

#include "binding/host_value.h"
#include "plugin/event_names.h"

namespace Kavren {

EventLayer::~EventLayer() = default;

RemotingContext EventLayer::Remoting() {
  return RemotingContext{functions_, cookie_, registry_, &waiting_};
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
  DebugTrace(PluginText::kTraceSubscribing, name.c_str());
  bool first = false;
  {
    std::lock_guard<std::mutex> guard(handlersLock_);
    first = ++subscriptionCounts_[name] == 1;
  }
  if (!first) return;
  RegisterEventHandler<PluginResourceEvent>(
      name, [this](const PluginResourceEvent& event) { DispatchResourceEvent(event); }, 0);
}

void EventLayer::Unsubscribe(const std::string& resourcePath) {
  const std::string name = EventNameForUri(resourcePath);
  DebugTrace(PluginText::kTraceUnsubscribing, name.c_str());
  {
    std::lock_guard<std::mutex> guard(handlersLock_);
    const auto found = subscriptionCounts_.find(name);
    // More unsubscriptions than subscriptions would give away a subscription that
    // another caller still counts on: the extra ones are ignored.
    if (found == subscriptionCounts_.end()) return;
    if (--found->second != 0) return;
    subscriptionCounts_.erase(found);
    eventHandlers_.erase(name);
  }
  UnsubscribeWithHost(name.c_str(), cookie_);
}

void EventLayer::SetEventHandler(const std::string& eventName,
                                 std::shared_ptr<detail::EventHandlerSlotBase> slot) {
  std::lock_guard<std::mutex> guard(handlersLock_);
  eventHandlers_.insert_or_assign(eventName, std::move(slot));
}

std::shared_ptr<detail::EventHandlerSlotBase> EventLayer::FindEventHandler(
    std::string_view eventName) const {
  std::lock_guard<std::mutex> guard(handlersLock_);
  const auto found = eventHandlers_.find(eventName);
  return found != eventHandlers_.end() ? found->second : nullptr;
}

// Resource events.

void EventLayer::SetResourceHandler(const std::string& pathOrPattern,
                                    ResourceEventHandler handler) {
  auto shared = std::make_shared<ResourceEventHandler>(std::move(handler));
  std::lock_guard<std::mutex> guard(handlersLock_);
  if (pathOrPattern.find('*') == std::string::npos) {
    exactResources_.insert_or_assign(pathOrPattern, std::move(shared));
    return;
  }
  for (auto& [pattern, existing] : patternResources_) {
    if (pattern == pathOrPattern) {
      existing = std::move(shared);
      return;
    }
  }
  patternResources_.emplace_back(pathOrPattern, std::move(shared));
}

void EventLayer::DispatchResourceEvent(const PluginResourceEvent& event) {
  PluginResourceEvent normalised = event;
  if (normalised.uri.empty() || normalised.uri.front() != '/') normalised.uri.insert(0, 1, '/');

  std::vector<std::shared_ptr<ResourceEventHandler>> handlers;
  {
    std::lock_guard<std::mutex> guard(handlersLock_);
    const auto exact = exactResources_.find(normalised.uri);
    if (exact != exactResources_.end()) handlers.push_back(exact->second);
    for (const auto& [pattern, handler] : patternResources_) {
      if (ResourcePathMatches(pattern, normalised.uri)) handlers.push_back(handler);
    }
  }
  for (const auto& handler : handlers) (*handler)(normalised);
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
  DebugTrace(PluginText::kTraceSendingEvent, name.c_str());
  PublishEvent(&record);
  if (name != kJsonApiEventName) {
    record.name = kJsonApiEventName;
    DebugTrace(PluginText::kTraceSendingEvent, kJsonApiEventName);
    PublishEvent(&record);
  }
  return MaybeType<Failure, void>::Success();
}

// Service-proxy replies.

void EventLayer::AddServiceProxyRequest(const std::string& key, ServiceProxyHandler handler) {
  std::lock_guard<std::mutex> guard(serviceProxyLock_);
  serviceProxyRequests_.insert_or_assign(key, std::move(handler));
  // A reply that came first is handed over at once.
  FulfilServiceProxyRequestLocked();
}

void EventLayer::AddServiceProxyAsyncHandler(const std::string& key, ServiceProxyHandler handler) {
  std::lock_guard<std::mutex> guard(serviceProxyLock_);
  serviceProxyAsyncHandlers_.insert_or_assign(key, std::move(handler));
}

void EventLayer::OnServiceProxyUuidEvent(const PluginServiceProxyResponse& reply) {
  std::lock_guard<std::mutex> guard(serviceProxyLock_);
  serviceProxyReplies_.insert_or_assign(reply.uuid, reply);
  FulfilServiceProxyRequestLocked();
}

void EventLayer::OnServiceProxyMethodEvent(const PluginServiceProxyResponse& reply) {
  const std::string key = Format(PluginText::kServiceProxyKey, reply.serviceName, reply.methodName);
  std::lock_guard<std::mutex> guard(serviceProxyLock_);
  serviceProxyReplies_.insert_or_assign(key, reply);
  FulfilServiceProxyRequestLocked();
}

void EventLayer::OnServiceProxyAsyncEvent(const PluginServiceProxyResponse& reply) {
  const std::string key = Format(PluginText::kServiceProxyKey, reply.serviceName, reply.methodName);
  std::lock_guard<std::mutex> guard(serviceProxyLock_);
  const auto found = serviceProxyAsyncHandlers_.find(key);
  if (found == serviceProxyAsyncHandlers_.end()) {
    LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0,
              PluginText::kNoAsyncServiceProxyHandler, key.c_str());
    return;
  }
  found->second(reply);
}

void EventLayer::FulfilServiceProxyRequestLocked() {
  for (auto reply = serviceProxyReplies_.begin(); reply != serviceProxyReplies_.end(); ++reply) {
    const auto request = serviceProxyRequests_.find(reply->first);
    if (request == serviceProxyRequests_.end()) continue;
    const std::string key = reply->first;
    const PluginServiceProxyResponse copy = reply->second;
    // Both entries leave the tables before the handler runs, so the handler cannot
    // invalidate what is being walked.
    ServiceProxyHandler handler = std::move(request->second);
    serviceProxyRequests_.erase(request);
    serviceProxyReplies_.erase(reply);
    handler(copy);
    LogPrintf(kLogLevelAlways, static_cast<std::uint32_t>(kLogGroupDbg), 0,
              PluginText::kServiceProxyFulfilled, key.c_str());
    return;
  }
}

// Scheduled jobs.

std::int64_t EventLayer::NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::size_t EventLayer::PendingJobCount() const {
  std::lock_guard<std::mutex> guard(jobsLock_);
  return jobs_.size();
}

void EventLayer::ScheduleJob(const std::string& label, ScheduledJob job,
                             std::int64_t dueNanoseconds) {
  const std::int64_t remaining = dueNanoseconds - NowNanoseconds();
  const double delaySeconds = remaining > 0 ? static_cast<double>(remaining) / 1000000000.0 : 0.0;
  auto entry = std::make_shared<JobEntry>(JobEntry{this, 0, label, std::move(job)});
  {
    std::lock_guard<std::mutex> guard(jobsLock_);
    entry->number = nextJobNumber_++;
    jobs_.emplace(entry->number, entry);
  }
  ScheduleJob(entry->label.c_str(), &EventLayer::JobEntryPoint, entry.get(), delaySeconds, 0);
}

void HXA_CDECL EventLayer::JobEntryPoint(void* context) {
  try {
    if (context == nullptr) return;
    const auto* entry = static_cast<const JobEntry*>(context);
    entry->module->RunJob(entry->number);
  } catch (...) {
    ReportCurrentException(PluginText::kJobCallbackCall);
  }
}

void EventLayer::RunJob(std::uint64_t number) {
  std::shared_ptr<JobEntry> entry;
  {
    std::lock_guard<std::mutex> guard(jobsLock_);
    const auto found = jobs_.find(number);
    // Gone when the module shut down after the host took the job.
    if (found == jobs_.end()) return;
    entry = found->second;
  }
  try {
    entry->job();
  } catch (...) {
    ReportCurrentException(PluginText::kJobCallbackCall);
  }
  std::lock_guard<std::mutex> guard(jobsLock_);
  jobs_.erase(number);
}

// Shut-down.

void EventLayer::Shutdown() {
  std::vector<std::string> names;
  {
    std::lock_guard<std::mutex> guard(handlersLock_);
    for (const auto& [name, slot] : eventHandlers_) names.push_back(name);
  }
  for (const std::string& name : names) UnsubscribeWithHost(name.c_str(), cookie_);

  // Handlers leave the tables here but are destroyed after the locks are released, as a
  // handler's captures may themselves lock.
  decltype(eventHandlers_) eventHandlers;
  decltype(exactResources_) exactResources;
  decltype(patternResources_) patternResources;
  decltype(qrmsHandlers_) qrmsHandlers;
  decltype(qrmsWaiters_) qrmsWaiters;
  {
    std::lock_guard<std::mutex> guard(handlersLock_);
    subscriptionCounts_.clear();
    eventHandlers.swap(eventHandlers_);
    exactResources.swap(exactResources_);
    patternResources.swap(patternResources_);
    qrmsHandlers.swap(qrmsHandlers_);
    qrmsWaiters.swap(qrmsWaiters_);
  }
  decltype(serviceProxyRequests_) requests;
  decltype(serviceProxyAsyncHandlers_) asyncHandlers;
  {
    std::lock_guard<std::mutex> guard(serviceProxyLock_);
    serviceProxyReplies_.clear();
    requests.swap(serviceProxyRequests_);
    asyncHandlers.swap(serviceProxyAsyncHandlers_);
  }
  decltype(jobs_) jobs;
  {
    std::lock_guard<std::mutex> guard(jobsLock_);
    jobs.swap(jobs_);
  }
  serverClasses_.Clear();
}

// Telemetry.

FailureFuture TelemetrySender::Send(const std::string& eventName, const BindingProperty& payload) {
  std::promise<MaybeType<Failure, void>> promise;
  FailureFuture future = promise.get_future();
  Abi::HttpResponseRecord response;
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  MaybeType<Failure, void> outcome =
      Kavren::Call(layer_.Remoting(), response, HttpMethod::Post,
                   PluginText::kTelemetryPathPrefix + eventName, payload);
  if (response.release != nullptr) response.release(&response);
  promise.set_value(std::move(outcome));
  return future;
}

}  // namespace Kavren
