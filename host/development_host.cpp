// The development host's ten host functions and its driving of the plugin.
#include "host/development_host.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace Kavren::Host {
namespace {

std::string TextOrEmpty(const char* text) { return text != nullptr ? std::string(text) : ""; }

}  // namespace

std::optional<CoreVersion> ParseCoreVersion(std::string_view text) {
  std::uint32_t numbers[3] = {};
  const char* position = text.data();
  const char* end = text.data() + text.size();
  for (int index = 0; index < 3; ++index) {
    if (index > 0) {
      if (position == end || *position != '.') return std::nullopt;
      ++position;
    }
    if (position == end || *position < '0' || *position > '9') return std::nullopt;
    auto [next, error] = std::from_chars(position, end, numbers[index]);
    if (error != std::errc()) return std::nullopt;
    position = next;
  }
  if (position != end) return std::nullopt;
  return CoreVersion{numbers[0], numbers[1], numbers[2]};
}

DevelopmentHost::DevelopmentHost(std::uint32_t cookie) {
  table_.functions =
      Abi::HostFunctions{OnCall,        OnReserved, OnPublishEvent, OnSubscribe, OnUnsubscribe,
                         OnScheduleJob, OnPump,     OnBeginWait,    OnEndWait,   OnLog};
  table_.owner = this;
  interface_.functions = &table_.functions;
  interface_.cookie = cookie;
}

DevelopmentHost::~DevelopmentHost() {
  if (loaded_) Stop();
}

bool DevelopmentHost::Load(const PluginLibrary& library, CoreVersion version) {
  if (!library.IsOpen() || loaded_) return false;
  record_ = Abi::PluginHostRecord{};
  record_.major = version.major;
  record_.minor = version.minor;
  record_.patch = version.patch;
  library.Export()(&record_);
  loaded_ = record_.functions != nullptr;
  // The table lives in the module, the function in the library: keep the
  // function so the counters stay readable after Stop.
  getMemoryStats_ = loaded_ ? record_.functions->GetMemoryStats : nullptr;
  started_ = false;
  return loaded_;
}

bool DevelopmentHost::Start() {
  if (!loaded_ || started_) return false;
  started_ = record_.functions->Start(record_.context, &interface_);
  return started_;
}

Abi::PluginMemoryStats DevelopmentHost::MemoryStats() const {
  Abi::PluginMemoryStats stats{};
  if (getMemoryStats_ != nullptr) getMemoryStats_(nullptr, &stats);
  return stats;
}

void DevelopmentHost::Stop() {
  if (!loaded_) return;
  record_.functions->Stop(record_.context);
  loaded_ = false;
  started_ = false;
  std::lock_guard lock(mutex_);
  subscriptions_.clear();
  jobs_.clear();
}

void DevelopmentHost::SetLogListener(std::function<void(const LogLine&)> listener) {
  std::lock_guard lock(mutex_);
  logListener_ = std::move(listener);
}

std::vector<LogLine> DevelopmentHost::LogLines() const {
  std::lock_guard lock(mutex_);
  return logLines_;
}

std::vector<Subscription> DevelopmentHost::Subscriptions() const {
  std::lock_guard lock(mutex_);
  return subscriptions_;
}

std::vector<std::string> DevelopmentHost::WaitLabels() const {
  std::lock_guard lock(mutex_);
  return waitLabels_;
}

std::vector<std::string> DevelopmentHost::JobLabels() const {
  std::lock_guard lock(mutex_);
  return jobLabels_;
}

HostCallCounts DevelopmentHost::CallCounts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

std::size_t DevelopmentHost::RunPendingJobs() {
  std::size_t ran = 0;
  for (;;) {
    Job job;
    {
      std::lock_guard lock(mutex_);
      if (jobs_.empty()) return ran;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job.job(job.context);
    ++ran;
  }
}

DevelopmentHost& DevelopmentHost::Owner(Abi::HostFunctions* self) {
  return *reinterpret_cast<Table*>(self)->owner;
}

// The request and response layouts belong to the HTTP model; this host answers
// no REST resource yet and leaves the response as the plugin prepared it.
void DevelopmentHost::OnCall(Abi::HostFunctions* self, Abi::HttpResponseRecord*,
                             const Abi::HttpRequestRecord*) {
  DevelopmentHost& host = Owner(self);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.call;
}

void DevelopmentHost::OnReserved(Abi::HostFunctions* self, Abi::HostWord, Abi::HostWord) {
  DevelopmentHost& host = Owner(self);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.reserved;
}

void DevelopmentHost::OnPublishEvent(Abi::HostFunctions* self, const Abi::HostEventRecord*) {
  DevelopmentHost& host = Owner(self);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.publishEvent;
}

void DevelopmentHost::OnSubscribe(Abi::HostFunctions* self, const char* eventName,
                                  std::uint32_t cookie, Abi::HostEventCallback callback,
                                  void* context, std::int32_t flag) {
  DevelopmentHost& host = Owner(self);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.subscribe;
  host.subscriptions_.push_back(
      Subscription{TextOrEmpty(eventName), cookie, callback, context, flag});
}

void DevelopmentHost::OnUnsubscribe(Abi::HostFunctions* self, const char* eventName,
                                    std::uint32_t cookie) {
  DevelopmentHost& host = Owner(self);
  const std::string name = TextOrEmpty(eventName);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.unsubscribe;
  std::erase_if(host.subscriptions_, [&](const Subscription& subscription) {
    return subscription.eventName == name && subscription.cookie == cookie;
  });
}

void DevelopmentHost::OnScheduleJob(Abi::HostFunctions* self, const char* label,
                                    Abi::HostJobCallback job, void* context, double delaySeconds,
                                    std::int32_t) {
  DevelopmentHost& host = Owner(self);
  const auto delay = std::chrono::duration<double>(delaySeconds > 0 ? delaySeconds : 0);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.scheduleJob;
  host.jobLabels_.push_back(TextOrEmpty(label));
  if (job != nullptr) {
    host.jobs_.push_back(Job{TextOrEmpty(label), job, context,
                             std::chrono::steady_clock::now() +
                                 std::chrono::duration_cast<std::chrono::nanoseconds>(delay)});
  }
}

void DevelopmentHost::OnPump(Abi::HostFunctions* self) {
  DevelopmentHost& host = Owner(self);
  Job job;
  {
    std::lock_guard lock(host.mutex_);
    ++host.counts_.pump;
    const auto now = std::chrono::steady_clock::now();
    auto due = std::find_if(host.jobs_.begin(), host.jobs_.end(),
                            [&](const Job& pending) { return pending.due <= now; });
    if (due == host.jobs_.end()) return;
    job = std::move(*due);
    host.jobs_.erase(due);
  }
  job.job(job.context);
}

void DevelopmentHost::OnBeginWait(Abi::HostFunctions* self, const char* label, std::int32_t) {
  DevelopmentHost& host = Owner(self);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.beginWait;
  host.waitLabels_.push_back(TextOrEmpty(label));
}

void DevelopmentHost::OnEndWait(Abi::HostFunctions* self) {
  DevelopmentHost& host = Owner(self);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.endWait;
}

void DevelopmentHost::OnLog(Abi::HostFunctions* self, std::int32_t level, const char* message) {
  DevelopmentHost& host = Owner(self);
  LogLine line{level, TextOrEmpty(message)};
  std::function<void(const LogLine&)> listener;
  {
    std::lock_guard lock(host.mutex_);
    ++host.counts_.log;
    host.logLines_.push_back(line);
    listener = host.logListener_;
  }
  if (listener) listener(line);
}

}  // namespace Kavren::Host
