// The development host: plays the host application for one loaded plugin, put
// together from a plugin driver, a job runner, an event bus, the host resources,
// an endpoint client and a recorder.
#pragma once

#include <rapidjson/document.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "abi/event.h"
#include "abi/host.h"
#include "abi/http.h"
#include "host/core/endpoint_client.h"
#include "host/core/event_bus.h"
#include "host/core/host_resources.h"
#include "host/core/job_runner.h"
#include "host/core/maybe.h"
#include "host/core/plugin_driver.h"
#include "host/core/plugin_library.h"
#include "host/core/recorder.h"

namespace Kavren::Host {

/// Told of logs, invokes and scheduled jobs as they happen, on the thread that
/// caused them: implementations must be thread-safe. Called without any host
/// lock held. Events are seen through the event bus's listeners.
class HostObserver {
 public:
  virtual ~HostObserver() = default;
  virtual void OnLog(const LogLine&) {}
  virtual void OnInvoke(const Invocation&) {}
  virtual void OnJobScheduled(const std::string& /*label*/) {}
};

/// How a development host is set up.
struct HostSettings {
  std::uint32_t cookie = 0x484F5354;
  /// Job workers (0: jobs run only in Pump, RunPendingJobs and WaitForJobs' caller).
  unsigned workerThreads = 2;
  /// Entries each recorded history keeps.
  std::size_t historyLimit = Recorder::kDefaultLimit;
};

/// Drives one plugin through its export and function table and offers it the
/// ten host functions. `Call` serves the login data packet and the session
/// invoke; events are delivered to their subscribers; scheduled jobs run on the
/// host's worker threads when due, and in Pump. Thread-safe for the plugin's
/// calls and for endpoint calls; the driving calls (Load, Start, Stop) come from
/// one thread, and no endpoint call may run while Stop does.
class DevelopmentHost : private HostServices {
 public:
  explicit DevelopmentHost(std::uint32_t cookie = 0x484F5354, unsigned workerThreads = 2);
  explicit DevelopmentHost(const HostSettings& settings);
  /// Stops a plugin that is still loaded, then ends the workers.
  ~DevelopmentHost() override;
  DevelopmentHost(const DevelopmentHost&) = delete;
  DevelopmentHost& operator=(const DevelopmentHost&) = delete;

  /// Calls the library's export with `version`; false when the library is not
  /// open, a plugin is still loaded, or the record comes back without a function table.
  [[nodiscard]] bool Load(const PluginLibrary& library, CoreVersion version);
  /// The same with the export itself (an in-process plugin); false when it is null.
  [[nodiscard]] bool Load(Abi::PluginLoadFunction load, CoreVersion version);
  [[nodiscard]] const Abi::PluginHostRecord& Record() const { return driver_.Record(); }
  [[nodiscard]] bool IsLoaded() const { return driver_.IsLoaded(); }
  /// Calls Start with the host interface; false when not loaded or the plugin refuses.
  [[nodiscard]] bool Start();
  [[nodiscard]] Abi::PluginMemoryStats MemoryStats() const { return driver_.MemoryStats(); }
  /// Holds the job workers, waits for running jobs, drops the pending ones and
  /// calls Stop (the plugin unsubscribes); the plugin's context is gone afterwards.
  void Stop();

  /// Logs, invokes and jobs are also told to `observer` (null: none); it must
  /// outlive the host or be unset first.
  void SetObserver(HostObserver* observer);
  /// Called for every Log line as it arrives (on the plugin's thread).
  void SetLogListener(std::function<void(const LogLine&)> listener);

  // The login data packet served at GET /hxa-login/v1/login-data-packet.
  /// Sets the packet and, when one was set before, sends its resource event
  /// (Update, or Create for the first one) to the subscribers. Fails when the
  /// packet is nested too deeply to serve.
  [[nodiscard]] MaybeType<Failure> SetLoginDataPacket(const rapidjson::Value& packet) {
    return resources_.SetLoginDataPacket(packet);
  }
  /// Forgets the packet (GET answers 404 again) and sends a Delete resource event.
  void ClearLoginDataPacket() { resources_.ClearLoginDataPacket(); }
  /// The packet set last, as compact JSON; none after a clear.
  [[nodiscard]] std::optional<std::string> LoginDataPacketJson() {
    return resources_.LoginDataPacketJson();
  }
  /// The next session invoke answers `status` with `errorText` instead of success.
  void FailNextInvoke(std::int32_t status, std::string errorText) {
    resources_.FailNextInvoke(status, std::move(errorText));
  }
  /// Sends a server message: an event named "OnQrmsEvent_" + `typeName` (dots as
  /// underscores) whose payload is the record {"clientId","subtopic","typeName","body"}.
  /// Answers how many subscriptions received it; fails, sending nothing, when the
  /// body is nested too deeply.
  [[nodiscard]] MaybeType<Failure, std::size_t> PushServerMessage(
      const rapidjson::Value& body, const std::string& typeName,
      const std::string& clientId = "dev-client", const std::string& subtopic = "") {
    return resources_.PushServerMessage(body, typeName, clientId, subtopic);
  }
  /// Sends an event to the plugin's subscriptions of `name`, on the calling
  /// thread; answers how many received it.
  std::size_t SendEvent(const std::string& name, const Abi::HostValue& payload,
                        std::int32_t flag = 0) {
    return bus_.Deliver("host", name, payload, flag);
  }

  /// The endpoints described by the loaded plugin's API block, in block order.
  [[nodiscard]] std::vector<EndpointInfo> Endpoints() const { return endpoints_.Endpoints(); }
  /// Calls one endpoint through its descriptor's request entry on the calling thread;
  /// fails when no plugin is loaded or no endpoint matches.
  [[nodiscard]] MaybeType<Failure, EndpointReply> CallEndpoint(const EndpointCall& call) {
    return endpoints_.Call(call);
  }

  /// Waits until no job is pending or running; false when `timeout` passed first.
  [[nodiscard]] bool WaitForJobs(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return jobs_.WaitForJobs(timeout);
  }
  /// Runs every scheduled job, due or not, on the calling thread, then waits for
  /// jobs still running on the workers; answers how many ran here.
  std::size_t RunPendingJobs() { return jobs_.RunPending(); }

  [[nodiscard]] std::size_t SubscriptionCount(const std::string& name) const {
    return bus_.SubscriptionCount(name);
  }
  [[nodiscard]] std::vector<Subscription> Subscriptions() const { return bus_.Subscriptions(); }
  [[nodiscard]] std::vector<PublishedEvent> Events() const { return recorder_.Events(); }
  [[nodiscard]] std::vector<Invocation> Invocations() const { return recorder_.Invocations(); }
  [[nodiscard]] std::vector<LogLine> LogLines() const { return recorder_.LogLines(); }
  [[nodiscard]] std::vector<std::string> WaitLabels() const { return recorder_.WaitLabels(); }
  [[nodiscard]] std::vector<std::string> JobLabels() const { return recorder_.JobLabels(); }
  [[nodiscard]] HostCallCounts CallCounts() const { return recorder_.CallCounts(); }

  [[nodiscard]] EventBus& Bus() { return bus_; }
  [[nodiscard]] EndpointClient& Client() { return endpoints_; }
  [[nodiscard]] Abi::HostFunctions* Functions() { return driver_.Functions(); }
  [[nodiscard]] std::uint32_t Cookie() const { return driver_.Cookie(); }

 private:
  // HostServices: what the ten host functions do.
  void Call(Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord* request) override;
  void CallWithoutResponse() override;
  void Reserved() override;
  void PublishEvent(const std::string& name, const Abi::HostValue& payload,
                    std::int32_t flag) override;
  void PublishWithoutEvent() override;
  void Subscribe(const std::string& name, std::uint32_t cookie, Abi::HostEventCallback callback,
                 void* context, std::int32_t flag) override;
  void Unsubscribe(const std::string& name, std::uint32_t cookie) override;
  void ScheduleJob(const std::string& label, Abi::HostJobCallback job, void* context,
                   double delaySeconds) override;
  void Pump() override;
  void BeginWait(const std::string& label) override;
  void EndWait() override;
  void Log(std::int32_t level, const std::string& message) override;
  void Failed(const char* function, const char* what) noexcept override;

  HostObserver* Observer() const;

  Recorder recorder_;
  EventBus bus_{recorder_};
  HostResources resources_{bus_, recorder_};
  EndpointClient endpoints_;
  PluginDriver driver_;
  // Guards the observer and the log listener.
  mutable std::mutex listenersMutex_;
  HostObserver* observer_ = nullptr;
  std::function<void(const LogLine&)> logListener_;
  // Last member: its workers start after everything they use exists, and end first.
  JobRunner jobs_;
};

}  // namespace Kavren::Host
