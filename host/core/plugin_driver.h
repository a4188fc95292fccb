// Driving one plugin through its export and function table, and the ten host
// functions handed to it.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "abi/api_block.h"
#include "abi/event.h"
#include "abi/host.h"
#include "abi/http.h"

namespace Kavren::Host {

/// The plugin-API version the host announces in the host record.
struct CoreVersion {
  std::uint32_t major = 18;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
};

/// "MAJOR.MINOR.PATCH" with decimal numbers; nothing else is accepted.
[[nodiscard]] std::optional<CoreVersion> ParseCoreVersion(std::string_view text);

/// What the ten host functions do. Called on the plugin's threads; every
/// implementation may throw, the driver's trampolines catch it.
class HostServices {
 public:
  virtual ~HostServices() = default;
  /// `request` may be null (a malformed call).
  virtual void Call(Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord* request) = 0;
  /// A Call without a response record to fill: only counted.
  virtual void CallWithoutResponse() = 0;
  virtual void Reserved() = 0;
  virtual void PublishEvent(const std::string& name, const Abi::HostValue& payload,
                            std::int32_t flag) = 0;
  /// A PublishEvent without an event record: only counted.
  virtual void PublishWithoutEvent() = 0;
  virtual void Subscribe(const std::string& name, std::uint32_t cookie,
                         Abi::HostEventCallback callback, void* context, std::int32_t flag) = 0;
  virtual void Unsubscribe(const std::string& name, std::uint32_t cookie) = 0;
  virtual void ScheduleJob(const std::string& label, Abi::HostJobCallback job, void* context,
                           double delaySeconds) = 0;
  virtual void Pump() = 0;
  virtual void BeginWait(const std::string& label) = 0;
  virtual void EndWait() = 0;
  virtual void Log(std::int32_t level, const std::string& message) = 0;
  /// Told when a trampoline caught an exception: the plugin saw nothing of it.
  virtual void Failed(const char* function, const char* what) noexcept = 0;
};

/// Loads, starts and stops one plugin, and owns the host function table whose
/// trampolines forward to `services`. The trampolines are noexcept and catch
/// everything, so nothing the host does can throw into plugin frames. Load,
/// Start and Stop come from one driving thread.
class PluginDriver {
 public:
  PluginDriver(HostServices& services, std::uint32_t cookie);
  PluginDriver(const PluginDriver&) = delete;
  PluginDriver& operator=(const PluginDriver&) = delete;

  /// Calls the export with `version`; false when it is null, a plugin is still
  /// loaded, or the record comes back without a function table.
  [[nodiscard]] bool Load(Abi::PluginLoadFunction load, CoreVersion version);
  /// Calls Start with the host interface; false when not loaded, already started
  /// or the plugin refuses.
  [[nodiscard]] bool Start();
  /// Calls Stop; the plugin's context is gone afterwards.
  void Stop();
  /// Calls GetMemoryStats (its context is unused, so this also works after Stop);
  /// all zero before the first load.
  [[nodiscard]] Abi::PluginMemoryStats MemoryStats() const;

  [[nodiscard]] bool IsLoaded() const { return loaded_.load(); }
  [[nodiscard]] bool IsStarted() const { return started_.load(); }
  /// The host record as the export left it.
  [[nodiscard]] const Abi::PluginHostRecord& Record() const { return record_; }
  [[nodiscard]] Abi::HostFunctions* Functions() { return &table_.functions; }
  [[nodiscard]] std::uint32_t Cookie() const { return interface_.cookie; }

 private:
  // The table handed to the plugin, followed by the way back to its host.
  struct Table {
    Abi::HostFunctions functions;
    HostServices* services;
  };

  static HostServices& ServicesOf(Abi::HostFunctions* self);
  static void HXA_CDECL OnCall(Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
                               const Abi::HttpRequestRecord* request) noexcept;
  static void HXA_CDECL OnReserved(Abi::HostFunctions* self, Abi::HostWord first,
                                   Abi::HostWord second) noexcept;
  static void HXA_CDECL OnPublishEvent(Abi::HostFunctions* self,
                                       const Abi::HostEventRecord* event) noexcept;
  static void HXA_CDECL OnSubscribe(Abi::HostFunctions* self, const char* eventName,
                                    std::uint32_t cookie, Abi::HostEventCallback callback,
                                    void* context, std::int32_t flag) noexcept;
  static void HXA_CDECL OnUnsubscribe(Abi::HostFunctions* self, const char* eventName,
                                      std::uint32_t cookie) noexcept;
  static void HXA_CDECL OnScheduleJob(Abi::HostFunctions* self, const char* label,
                                      Abi::HostJobCallback job, void* context, double delaySeconds,
                                      std::int32_t flags) noexcept;
  static void HXA_CDECL OnPump(Abi::HostFunctions* self) noexcept;
  static void HXA_CDECL OnBeginWait(Abi::HostFunctions* self, const char* label,
                                    std::int32_t reserved) noexcept;
  static void HXA_CDECL OnEndWait(Abi::HostFunctions* self) noexcept;
  static void HXA_CDECL OnLog(Abi::HostFunctions* self, std::int32_t level,
                              const char* message) noexcept;

  Table table_{};
  Abi::HostInterface interface_{};
  Abi::PluginHostRecord record_{};
  decltype(Abi::PluginFunctionTable::GetMemoryStats) getMemoryStats_ = nullptr;
  std::atomic<bool> loaded_{false};
  std::atomic<bool> started_{false};
};

}  // namespace Kavren::Host
