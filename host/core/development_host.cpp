// The development host: its parts put together, and the ten host functions.
#include "host/core/development_host.h"

#include <cstdio>

#include "host/core/messages.h"

namespace Kavren::Host {

DevelopmentHost::DevelopmentHost(std::uint32_t cookie, unsigned workerThreads)
    : DevelopmentHost(HostSettings{cookie, workerThreads, Recorder::kDefaultLimit}) {}

DevelopmentHost::DevelopmentHost(const HostSettings& settings)
    : recorder_(settings.historyLimit),
      driver_(*this, settings.cookie),
      jobs_(settings.workerThreads) {
  resources_.SetInvokeListener([this](const Invocation& invocation) {
    if (HostObserver* observer = Observer()) observer->OnInvoke(invocation);
  });
}

DevelopmentHost::~DevelopmentHost() {
  if (driver_.IsLoaded()) Stop();
}

bool DevelopmentHost::Load(const PluginLibrary& library, CoreVersion version) {
  return library.IsOpen() && Load(library.Export(), version);
}

bool DevelopmentHost::Load(Abi::PluginLoadFunction load, CoreVersion version) {
  if (!driver_.Load(load, version)) return false;
  endpoints_.SetApiBlock(driver_.Record().api);
  return true;
}

bool DevelopmentHost::Start() { return driver_.Start(); }

void DevelopmentHost::Stop() {
  if (!driver_.IsLoaded()) return;
  endpoints_.SetApiBlock(nullptr);
  // The plugin must not be stopped while one of its jobs runs; the jobs that
  // never ran belong to the module, which frees them in its shut-down.
  jobs_.HoldAndDrop();
  driver_.Stop();
  bus_.Clear();
  jobs_.Release();
}

void DevelopmentHost::SetObserver(HostObserver* observer) {
  std::lock_guard lock(listenersMutex_);
  observer_ = observer;
}

void DevelopmentHost::SetLogListener(std::function<void(const LogLine&)> listener) {
  std::lock_guard lock(listenersMutex_);
  logListener_ = std::move(listener);
}

HostObserver* DevelopmentHost::Observer() const {
  std::lock_guard lock(listenersMutex_);
  return observer_;
}

// ---- The host functions --------------------------------------------------

void DevelopmentHost::Call(Abi::HttpResponseRecord& response,
                           const Abi::HttpRequestRecord* request) {
  recorder_.Count(&HostCallCounts::call);
  if (request == nullptr) {
    const std::string text = HostMessages::kNoSuchResource;
    FillHostResponse(response, 400, &text, Abi::HostValue{});
    return;
  }
  resources_.Serve(response, *request);
}

void DevelopmentHost::CallWithoutResponse() { recorder_.Count(&HostCallCounts::call); }

void DevelopmentHost::Reserved() { recorder_.Count(&HostCallCounts::reserved); }

void DevelopmentHost::PublishEvent(const std::string& name, const Abi::HostValue& payload,
                                   std::int32_t flag) {
  recorder_.Count(&HostCallCounts::publishEvent);
  bus_.Deliver("plugin", name, payload, flag);
}

void DevelopmentHost::PublishWithoutEvent() { recorder_.Count(&HostCallCounts::publishEvent); }

void DevelopmentHost::Subscribe(const std::string& name, std::uint32_t cookie,
                                Abi::HostEventCallback callback, void* context, std::int32_t flag) {
  recorder_.Count(&HostCallCounts::subscribe);
  bus_.Subscribe(Subscription{name, cookie, callback, context, flag});
}

void DevelopmentHost::Unsubscribe(const std::string& name, std::uint32_t cookie) {
  recorder_.Count(&HostCallCounts::unsubscribe);
  bus_.Unsubscribe(name, cookie);
}

void DevelopmentHost::ScheduleJob(const std::string& label, Abi::HostJobCallback job, void* context,
                                  double delaySeconds) {
  recorder_.Count(&HostCallCounts::scheduleJob);
  recorder_.AddJobLabel(label);
  jobs_.Schedule(label, job, context, delaySeconds);
  if (HostObserver* observer = Observer()) observer->OnJobScheduled(label);
}

void DevelopmentHost::Pump() {
  recorder_.Count(&HostCallCounts::pump);
  jobs_.Pump();
}

void DevelopmentHost::BeginWait(const std::string& label) {
  recorder_.Count(&HostCallCounts::beginWait);
  recorder_.AddWaitLabel(label);
}

void DevelopmentHost::EndWait() { recorder_.Count(&HostCallCounts::endWait); }

void DevelopmentHost::Log(std::int32_t level, const std::string& message) {
  const LogLine line{level, message};
  recorder_.Count(&HostCallCounts::log);
  recorder_.AddLog(line);
  std::function<void(const LogLine&)> listener;
  HostObserver* observer;
  {
    std::lock_guard lock(listenersMutex_);
    listener = logListener_;
    observer = observer_;
  }
  if (listener) listener(line);
  if (observer != nullptr) observer->OnLog(line);
}

void DevelopmentHost::Failed(const char* function, const char* what) noexcept {
  // Nothing may escape from here either: the report is best effort.
  std::fprintf(stderr, "hxa-host: host function %s failed: %s\n", function, what);
}

}  // namespace Kavren::Host
