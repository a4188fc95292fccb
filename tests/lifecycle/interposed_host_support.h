// A host that drives the plugin loaded by a DevelopmentHost through a table of its own:
// each host function forwards to the development host's, except where a test takes it
// over, so tests can play host orderings the development host never produces.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "abi/api_block.h"
#include "abi/host.h"
#include "abi/plugin.h"
#include "host/core/development_host.h"

namespace Kavren::Host {

/// One ScheduleJob the interposed host kept instead of queuing it.
struct HeldJob {
  std::string label;
  Abi::HostJobCallback callback;
  void* context;
};

/// [thread-safe] Start and Stop go through the function table copied at construction,
/// so they can be called again after Stop the way a careless host would.
class InterposedHost {
 public:
  /// Answers a Call instead of the development host: true when it filled `response`.
  using CallHandler =
      std::function<bool(Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord& request)>;
  /// Told of each PublishEvent before it is forwarded.
  using PublishHandler = std::function<void(const Abi::HostEventRecord& event)>;
  /// Told of each Unsubscribe (the plugin's Stop makes them) before it is forwarded.
  using UnsubscribeHandler = std::function<void(const char* name)>;

  /// `host` must have loaded the plugin.
  explicit InterposedHost(DevelopmentHost& host);
  InterposedHost(const InterposedHost&) = delete;
  InterposedHost& operator=(const InterposedHost&) = delete;

  void OnCall(CallHandler handler);
  void OnPublish(PublishHandler handler);
  void OnUnsubscribe(UnsubscribeHandler handler);
  /// From now on ScheduleJob keeps the jobs here instead of queuing them.
  void HoldJobs();
  [[nodiscard]] std::vector<HeldJob> TakeHeldJobs();

  [[nodiscard]] bool Start();
  void Stop();
  /// How many host functions the plugin called since the last Stop returned (all of
  /// them before the first).
  [[nodiscard]] std::uint32_t CallsSinceStop() const { return callsSinceStop_.load(); }

  /// An endpoint's request entry and registration, as a host may keep them.
  struct Endpoint {
    Abi::ApiRequestEntry entry;
    Abi::ApiEndpointRegistration* registration;
  };
  /// The endpoint of `method` and `urlTemplate` in the API block as it is now.
  [[nodiscard]] Endpoint FindEndpoint(std::int32_t method, const std::string& urlTemplate) const;
  /// Calls `endpoint` with `path`: status, error text ("-" for none) and the value as JSON.
  [[nodiscard]] static std::string CallEndpoint(const Endpoint& endpoint, std::int32_t method,
                                                const std::string& path);

 private:
  struct Table {
    Abi::HostFunctions functions;
    InterposedHost* owner;
  };
  static InterposedHost& Owner(Abi::HostFunctions* self);
  Abi::HostFunctions* Forward() { return host_.Functions(); }

  Table table_{};
  Abi::HostInterface interface_{};
  DevelopmentHost& host_;
  Abi::PluginFunctionTable functions_{};
  void* context_ = nullptr;
  std::atomic<std::uint32_t> callsSinceStop_{0};
  mutable std::mutex lock_;  // guards the handlers and the held jobs
  CallHandler callHandler_;
  PublishHandler publishHandler_;
  UnsubscribeHandler unsubscribeHandler_;
  bool holdJobs_ = false;
  std::vector<HeldJob> heldJobs_;
};

}  // namespace Kavren::Host
