// The development host: plays the host application for one loaded plugin.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "abi/host.h"
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

/// Drives one plugin through its export and function table and offers it the
/// ten host functions. The functions record what they receive; Pump runs one
/// due scheduled job. Thread-safe for the plugin's calls; the driving calls
/// (Load, Start, Stop) come from one thread.
class DevelopmentHost {
 public:
  explicit DevelopmentHost(std::uint32_t cookie = 0x484F5354);
  /// Stops a plugin that is still loaded.
  ~DevelopmentHost();
  DevelopmentHost(const DevelopmentHost&) = delete;
  DevelopmentHost& operator=(const DevelopmentHost&) = delete;

  /// Calls the library's export with `version`; false when the library is not
  /// open, a plugin is still loaded, or the record comes back without a function table.
  [[nodiscard]] bool Load(const PluginLibrary& library, CoreVersion version);
  /// The host record as the export left it.
  [[nodiscard]] const Abi::PluginHostRecord& Record() const { return record_; }
  [[nodiscard]] bool IsLoaded() const { return loaded_; }

  /// Calls Start with the host interface; false when not loaded or the plugin refuses.
  [[nodiscard]] bool Start();
  /// Calls GetMemoryStats (its context is unused, so this also works after Stop);
  /// all zero before the first load.
  [[nodiscard]] Abi::PluginMemoryStats MemoryStats() const;
  /// Calls Stop; the plugin's context is gone afterwards.
  void Stop();

  /// Called for every Log line as it arrives (on the plugin's thread).
  void SetLogListener(std::function<void(const LogLine&)> listener);
  [[nodiscard]] std::vector<LogLine> LogLines() const;
  [[nodiscard]] std::vector<Subscription> Subscriptions() const;
  [[nodiscard]] std::vector<std::string> WaitLabels() const;
  [[nodiscard]] std::vector<std::string> JobLabels() const;
  [[nodiscard]] HostCallCounts CallCounts() const;
  /// Runs every scheduled job, due or not, on the calling thread; answers how many ran.
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
  std::function<void(const LogLine&)> logListener_;
  std::vector<LogLine> logLines_;
  std::vector<Subscription> subscriptions_;
  std::vector<std::string> waitLabels_;
  std::vector<std::string> jobLabels_;
  std::deque<Job> jobs_;
  HostCallCounts counts_;
};

}  // namespace Kavren::Host
