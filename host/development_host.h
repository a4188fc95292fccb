// The development host: plays the host application for one loaded plugin.
#pragma once

#include <rapidjson/document.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "abi/event.h"
#include "abi/host.h"
#include "abi/http.h"
#include "host/plugin_library.h"

namespace Kavren::Host {

/// The plugin-API version the host announces in the host record.
struct CoreVersion {
  std::uint32_t major = 18;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
};

/// "MAJOR.MINOR.PATCH" with decimal numbers; nothing else is accepted.
[[nodiscard]] std::optional<CoreVersion> ParseCoreVersion(std::string_view text);

/// One call of the host's Log function.
struct LogLine {
  std::int32_t level;
  std::string message;

  friend bool operator==(const LogLine&, const LogLine&) = default;
};

/// One live Subscribe of the plugin.
struct Subscription {
  std::string eventName;
  std::uint32_t cookie;
  Abi::HostEventCallback callback;
  void* context;
  std::int32_t flag;
};

/// How often the plugin called each host function.
struct HostCallCounts {
  std::uint32_t call = 0;
  std::uint32_t reserved = 0;
  std::uint32_t publishEvent = 0;
  std::uint32_t subscribe = 0;
  std::uint32_t unsubscribe = 0;
  std::uint32_t scheduleJob = 0;
  std::uint32_t pump = 0;
  std::uint32_t beginWait = 0;
  std::uint32_t endWait = 0;
  std::uint32_t log = 0;
};

/// One event that went through the host: published by the plugin, or sent to
/// the plugin by the host itself.
struct PublishedEvent {
  /// "plugin" or "host".
  std::string origin;
  std::string name;
  /// The payload as compact JSON.
  std::string payloadJson;
  std::int32_t flag;
  /// How many subscriptions received it.
  std::size_t delivered;
};

/// One session invoke of the plugin and the host's answer.
struct Invocation {
  std::string service;
  std::string method;
  /// The argument list as compact JSON.
  std::string argumentsJson;
  /// 200 on success, else the chosen error status.
  std::int32_t status;
  /// Empty on success.
  std::string errorText;
};

/// One endpoint of the plugin's API block.
struct EndpointInfo {
  std::string functionName;
  std::int32_t method;
  std::string urlTemplate;
};

/// A call of one of the plugin's endpoints. The endpoint is found by `function`
/// (its function name) when that is set, else by `method` and `path` against the
/// URL templates.
struct EndpointCall {
  std::int32_t method = Abi::kHttpMethodGet;
  /// May carry a query; when empty and `function` is set, the endpoint's template.
  std::string path;
  std::string function;
  /// Argument entries: name ("" for a positional entry) and value as JSON text
  /// (a text that is not JSON travels as a borrowed string).
  std::vector<std::pair<std::string, std::string>> arguments;
  /// Body bytes, sent with `contentType`, when set.
  std::optional<std::string> body;
  std::string contentType = "application/json";
};

/// What the endpoint answered. `found` is false when no endpoint matched (or no
/// plugin is loaded); `errorText` then says why and nothing was called.
struct EndpointReply {
  bool found = false;
  std::string functionName;
  /// The method code the request carried.
  std::int32_t method = 0;
  std::int32_t status = 0;
  bool failed = false;
  std::string errorText;
  /// The response value as compact JSON.
  std::string valueJson = "null";
  std::string contentType;
  std::int32_t format = 0;
  /// The bytes of a streamed body, when the response carried a stream.
  std::optional<std::string> streamBody;
};

/// Told of each effect as it happens, on the thread that caused it (the
/// plugin's, a job worker's or the driving thread): implementations must be
/// thread-safe. Called without any host lock held.
class HostObserver {
 public:
  virtual ~HostObserver() = default;
  virtual void OnLog(const LogLine&) {}
  virtual void OnEvent(const PublishedEvent&) {}
  virtual void OnInvoke(const Invocation&) {}
  virtual void OnJobScheduled(const std::string& /*label*/) {}
};

/// Drives one plugin through its export and function table and offers it the
/// ten host functions. The functions record what they receive. `Call` serves the
/// login data packet and the session invoke; events are delivered to their
/// subscribers; scheduled jobs run on the host's worker threads when due, and
/// in Pump. Thread-safe for the plugin's calls; the driving calls (Load, Start,
/// Stop) come from one thread.
class DevelopmentHost {
 public:
  /// `workerThreads` job workers start at once (0: jobs run only in Pump,
  /// RunPendingJobs and WaitForJobs' caller never runs them).
  explicit DevelopmentHost(std::uint32_t cookie = 0x484F5354, unsigned workerThreads = 2);
  /// Stops a plugin that is still loaded, then ends the workers.
  ~DevelopmentHost();
  DevelopmentHost(const DevelopmentHost&) = delete;
  DevelopmentHost& operator=(const DevelopmentHost&) = delete;

  /// Calls the library's export with `version`; false when the library is not
  /// open, a plugin is still loaded, or the record comes back without a function table.
  [[nodiscard]] bool Load(const PluginLibrary& library, CoreVersion version);
  /// The same with the export itself (an in-process plugin); false when it is null.
  [[nodiscard]] bool Load(Abi::PluginLoadFunction load, CoreVersion version);
  /// The host record as the export left it.
  [[nodiscard]] const Abi::PluginHostRecord& Record() const { return record_; }
  [[nodiscard]] bool IsLoaded() const { return loaded_; }

  /// Calls Start with the host interface; false when not loaded or the plugin refuses.
  [[nodiscard]] bool Start();
  /// Calls GetMemoryStats (its context is unused, so this also works after Stop);
  /// all zero before the first load.
  [[nodiscard]] Abi::PluginMemoryStats MemoryStats() const;
  /// Holds the job workers, waits for running jobs, drops the pending ones and
  /// calls Stop; the plugin's context is gone afterwards.
  void Stop();

  /// Every effect is also told to `observer` (null: none); it must outlive the host.
  void SetObserver(HostObserver* observer);

  // The login data packet served at GET /hxa-login/v1/login-data-packet.
  /// Sets the packet and, when one was set before, sends its resource event
  /// (Update, or Create for the first one) to the subscribers. False with
  /// `error` when the packet is nested too deeply to serve.
  [[nodiscard]] bool SetLoginDataPacket(const rapidjson::Value& packet, std::string& error);
  /// Forgets the packet (GET answers 404 again) and sends a Delete resource event.
  void ClearLoginDataPacket();

  /// The next session invoke answers `status` with `errorText` instead of success.
  void FailNextInvoke(std::int32_t status, std::string errorText);
  [[nodiscard]] std::vector<Invocation> Invocations() const;

  /// Sends a server message: an event named "OnQrmsEvent_" + `typeName` (dots as
  /// underscores) whose payload is the record {"clientId","subtopic","typeName","body"}.
  /// Answers how many subscriptions received it; 0 with `error` set when the body
  /// is nested too deeply.
  std::size_t PushServerMessage(const rapidjson::Value& body, std::string& error,
                                const std::string& typeName,
                                const std::string& clientId = "dev-client",
                                const std::string& subtopic = "");
  /// Sends an event to the plugin's subscriptions of `name`, on the calling
  /// thread; answers how many received it.
  std::size_t SendEvent(const std::string& name, const Abi::HostValue& payload,
                        std::int32_t flag = 0);
  [[nodiscard]] std::vector<PublishedEvent> Events() const;

  /// The endpoints described by the loaded plugin's API block, in block order.
  [[nodiscard]] std::vector<EndpointInfo> Endpoints() const;
  /// Calls one endpoint through its descriptor's request entry on the calling
  /// thread, reads the response and releases it with the response's release.
  [[nodiscard]] EndpointReply CallEndpoint(const EndpointCall& call);

  /// Waits until no job is pending or running; false when `timeout` passed first.
  [[nodiscard]] bool WaitForJobs(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  /// The live subscriptions of `name`.
  [[nodiscard]] std::size_t SubscriptionCount(const std::string& name) const;

  /// Called for every Log line as it arrives (on the plugin's thread).
  void SetLogListener(std::function<void(const LogLine&)> listener);
  [[nodiscard]] std::vector<LogLine> LogLines() const;
  [[nodiscard]] std::vector<Subscription> Subscriptions() const;
  [[nodiscard]] std::vector<std::string> WaitLabels() const;
  [[nodiscard]] std::vector<std::string> JobLabels() const;
  [[nodiscard]] HostCallCounts CallCounts() const;
  /// Runs every scheduled job, due or not, on the calling thread, then waits for
  /// jobs still running on the workers; answers how many ran here.
  std::size_t RunPendingJobs();

  [[nodiscard]] Abi::HostFunctions* Functions() { return &table_.functions; }
  [[nodiscard]] std::uint32_t Cookie() const { return interface_.cookie; }

 private:
  // The table handed to the plugin, followed by the way back to its host.
  struct Table {
    Abi::HostFunctions functions;
    DevelopmentHost* owner;
  };
  struct Job {
    std::string label;
    Abi::HostJobCallback job;
    void* context;
    std::chrono::steady_clock::time_point due;
  };

  static DevelopmentHost& Owner(Abi::HostFunctions* self);
  void WorkerLoop();
  // Takes the earliest due job, or none; `mutex_` held.
  std::optional<Job> TakeDueJob(std::chrono::steady_clock::time_point now);
  void RunJob(const Job& job);
  void ServeCall(Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord& request);
  void ServeInvoke(Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord& request);
  std::size_t Deliver(const char* origin, const std::string& name, const Abi::HostValue& payload,
                      std::int32_t flag);
  void SendPacketEvent(std::int32_t eventType, const std::string* packetJson);
  void Notify(const std::function<void(HostObserver&)>& tell) const;
  static void HXA_CDECL OnCall(Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
                               const Abi::HttpRequestRecord* request);
  static void HXA_CDECL OnReserved(Abi::HostFunctions* self, Abi::HostWord first,
                                   Abi::HostWord second);
  static void HXA_CDECL OnPublishEvent(Abi::HostFunctions* self, const Abi::HostEventRecord* event);
  static void HXA_CDECL OnSubscribe(Abi::HostFunctions* self, const char* eventName,
                                    std::uint32_t cookie, Abi::HostEventCallback callback,
                                    void* context, std::int32_t flag);
  static void HXA_CDECL OnUnsubscribe(Abi::HostFunctions* self, const char* eventName,
                                      std::uint32_t cookie);
  static void HXA_CDECL OnScheduleJob(Abi::HostFunctions* self, const char* label,
                                      Abi::HostJobCallback job, void* context, double delaySeconds,
                                      std::int32_t flags);
  static void HXA_CDECL OnPump(Abi::HostFunctions* self);
  static void HXA_CDECL OnBeginWait(Abi::HostFunctions* self, const char* label,
                                    std::int32_t reserved);
  static void HXA_CDECL OnEndWait(Abi::HostFunctions* self);
  static void HXA_CDECL OnLog(Abi::HostFunctions* self, std::int32_t level, const char* message);

  Table table_{};
  Abi::HostInterface interface_{};
  Abi::PluginHostRecord record_{};
  decltype(Abi::PluginFunctionTable::GetMemoryStats) getMemoryStats_ = nullptr;
  bool loaded_ = false;
  bool started_ = false;

  // Guards everything below: the plugin may call in from several threads.
  mutable std::mutex mutex_;
  // Signalled when jobs are added, taken or finished, and when the workers end.
  std::condition_variable jobsChanged_;
  HostObserver* observer_ = nullptr;
  std::optional<std::string> packetJson_;
  std::optional<std::pair<std::int32_t, std::string>> nextInvokeFailure_;
  std::vector<Invocation> invocations_;
  std::vector<PublishedEvent> events_;
  std::size_t runningJobs_ = 0;
  // While set (during Stop) no job starts.
  bool jobsHeld_ = false;
  bool endWorkers_ = false;
  std::uint32_t requestNumber_ = 0;
  std::function<void(const LogLine&)> logListener_;
  std::vector<LogLine> logLines_;
  std::vector<Subscription> subscriptions_;
  std::vector<std::string> waitLabels_;
  std::vector<std::string> jobLabels_;
  std::deque<Job> jobs_;
  HostCallCounts counts_;
  // Last member: the workers start after everything they use exists.
  std::vector<std::thread> workers_;
};

}  // namespace Kavren::Host
