// The application module: the framework's object for one plugin inside the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "abi/api_block.h"
#include "abi/host.h"
#include "binding/registry.h"
#include "http/future.h"
#include "http/router.h"
#include "log/log_manager.h"
#include "log/plugin_log_target.h"
#include "plugin/event_layer.h"
#include "plugin/identity.h"
#include "util/version.h"

namespace Kavren {

/// Owns the plugin's names, the core's plugin-API version, its log target, the
/// host interface, and the function table and API block handed to the host.
/// Created only by the plugin entry (on zeroed accounting memory) and destroyed
/// only by the function table's Stop. Slots after the event layer's:
/// RegisterEndpoints, OnStart.
class AppModule : public EventLayer {
 public:
  AppModule();
  ~AppModule() override;

  // The host operations: each passes the host table first and its arguments
  // unchanged. Before Start (no host interface) they do nothing.
  void Call(Abi::HttpResponseRecord* response, const Abi::HttpRequestRecord* request) override;
  void Reserved(Abi::HostWord first, Abi::HostWord second) override;
  void PublishEvent(const Abi::HostEventRecord* event) override;
  void SubscribeWithHost(const char* eventName, std::uint32_t cookie,
                         Abi::HostEventCallback callback, void* context,
                         std::int32_t flag) override;
  void UnsubscribeWithHost(const char* eventName, std::uint32_t cookie) override;
  void ScheduleJob(const char* label, Abi::HostJobCallback job, void* context, double delaySeconds,
                   std::int32_t flags) override;
  void Pump() override;
  void BeginWait(const std::string& label) override;
  void EndWait() override;
  // The event layer's job scheduling stays visible beside the host operation.
  using EventLayer::ScheduleJob;

  /// [at load] Registers the plugin's record types and endpoints; here nothing.
  virtual void RegisterEndpoints();
  /// [host thread, at Start] Starts the plugin's work; true when it started.
  [[nodiscard]] virtual bool OnStart();

  /// [at load] The core's version as the host record gave it (labels empty).
  void SetCoreApiVersion(const PluginApiVersion& version);
  /// [at load] Names the module: the full name follows the full-name rule.
  void SetIdentity(const std::string& shortName, const PluginType& type);
  /// [at load] "Plugins" and "Plugin <short name>"; call after SetIdentity.
  void SetApiTagsFromIdentity();
  /// [at load] Re-initialises the module's registry with the built-in types, then
  /// registers the framework's "zclient" types and events with the module's API tags.
  void RegisterFrameworkTypes();
  /// [at load] Copies the description of the registered API into the API block.
  void BuildApiBlock();

  /// [host thread] The start sequence: keeps `host`, installs the plugin log
  /// target, builds the user agent, begins the event layer's host session and
  /// runs OnStart. False when `host` has no function table or OnStart fails.
  [[nodiscard]] bool StartWithHost(Abi::HostInterface* host);
  /// [host thread, at Stop] Runs Shutdown, then closes the module to the host: no host
  /// function is called afterwards, and the plugin log target goes; when the target was
  /// this module's, another running module that has started takes over with its own.
  void EndHostSession() noexcept;
  /// [any host thread] Installs a plugin log target on this module's host when it has
  /// started, has not stopped and no module holds one; true when it did.
  bool AdoptLogTarget() noexcept;

  /// [calling host thread] The future's value, pumping the host until it is ready
  /// (see Kavren::Await); hold no lock that other plugin work takes.
  [[nodiscard]] MaybeType<Failure, void> Await(FailureFuture& future);
  /// [calling host thread] One turn of the host's pending work.
  void Yield();

  [[nodiscard]] const PluginApiVersion& CoreApiVersion() const { return coreApiVersion_; }
  [[nodiscard]] const PluginIdentity& Identity() const { return identity_; }
  [[nodiscard]] const std::vector<std::string>& ApiTags() const { return apiTags_; }
  [[nodiscard]] Abi::HostInterface* Host() const { return host_.load(); }
  /// The function table handed to the host; one for every module, living as long as the
  /// library, so that a host may still read it after Stop.
  [[nodiscard]] static Abi::PluginFunctionTable* FunctionTable();
  [[nodiscard]] Abi::PluginApiBlock* ApiBlock() { return &apiBlock_; }
  /// The module's router: its endpoints, built on the module's registry.
  [[nodiscard]] Router& EndpointRouter() { return *router_; }

 private:
  /// The host's function table, or null before Start.
  [[nodiscard]] Abi::HostFunctions* HostTable() const;

  // The module's hold on the log manager: the first member, so that it is released
  // whichever later member or step of the constructor fails, and released last.
  LogManagerHold logManagerHold_;
  PluginApiVersion coreApiVersion_;
  // Guards logTarget_ and host_ while they change: another module's Stop may hand its
  // log target over to this one.
  std::mutex logTargetLock_;
  std::unique_ptr<PluginLogTarget> logTarget_;
  PluginIdentity identity_;
  std::vector<std::string> apiTags_;
  // Atomic: a host may call an endpoint on one thread while Start runs on another.
  std::atomic<Abi::HostInterface*> host_{nullptr};
  // Packed, but kept at a pointer-aligned address: hosts read its fields in place.
  alignas(alignof(void*)) Abi::PluginApiBlock apiBlock_{};
  // The module's types, functions and events; attached to the event layer.
  BindingRegistry registry_;
  // Endpoints and the texts of the API block; refers to registry_, so it is
  // declared after it and destroyed first.
  std::unique_ptr<Router> router_;
  // Set once Start has begun: a second Start is refused.
  std::atomic<bool> started_{false};
};

/// Runs Shutdown, destroys `module` and returns its memory to the accounting
/// allocator; the module must have been constructed in a block of it.
void DestroyModule(AppModule* module) noexcept;

}  // namespace Kavren
