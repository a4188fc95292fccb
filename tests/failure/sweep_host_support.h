// Test helper: a host for the allocation-failure sweeps, whose own work is never refused
// and whose records can be freed whole between runs, and the plugin loaded into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "abi/event.h"
#include "abi/host.h"
#include "abi/http.h"
#include "player_messaging/module.h"

namespace Kavren::Testing {

/// The host functions for a sweep. Every function runs its own work in a HostScope, so
/// that the failing heap refuses only the plugin's allocations. It serves the login data
/// packet (404 "Not found" when none is set) and answers every session invoke with
/// success.
class SweepHost {
  // The table must come first: each entry finds the host from its `self`.
  Abi::HostFunctions table_{};
  Abi::HostInterface interface_{&table_, 77};

 public:
  SweepHost();
  SweepHost(const SweepHost&) = delete;
  SweepHost& operator=(const SweepHost&) = delete;

  [[nodiscard]] Abi::HostInterface* Interface() { return &interface_; }
  /// The packet served, as JSON; nothing: 404.
  void SetPacket(std::optional<std::string> json) { packet_ = std::move(json); }
  /// Runs when the host has answered a read of the packet, still inside the plugin's call.
  std::function<void()> afterPacket;

  /// Frees what the host recorded (the subscriptions stay).
  void Forget() { records_ = Records{}; }
  [[nodiscard]] std::size_t LiveSubscriptions() const;
  [[nodiscard]] std::size_t Invokes() const { return records_.invokes; }
  [[nodiscard]] std::size_t Publications() const { return records_.publications; }
  /// The messages the plugin logged at level 2, oldest first.
  [[nodiscard]] const std::vector<std::string>& Errors() const { return records_.errors; }

  /// Delivers the event `name` with the payload read from JSON to its live subscriber;
  /// false when there is none.
  bool Deliver(const char* name, const std::string& payloadJson);
  /// Runs the job scheduled last, once; false when there is none.
  bool RunJob();
  /// Jobs the plugin scheduled with a null or empty label.
  [[nodiscard]] std::size_t UnlabelledJobs() const { return records_.unlabelledJobs; }

 private:
  struct Subscription {
    std::string name;
    Abi::HostEventCallback callback;
    void* context;
    bool live;
  };
  struct Records {
    std::size_t invokes = 0;
    std::size_t publications = 0;
    std::vector<std::string> errors;
    Abi::HostJobCallback job = nullptr;
    void* jobContext = nullptr;
    std::size_t unlabelledJobs = 0;
  };

  static SweepHost& Of(Abi::HostFunctions* self);

  std::optional<std::string> packet_;
  std::vector<Subscription> subscriptions_;
  Records records_;
};

/// An endpoint's answer as the host reads it: status, failure text, the value as JSON.
struct EndpointAnswer {
  bool failed = false;
  std::int32_t status = 0;
  std::string errorText;
  std::string json;
};

/// The player-messaging plugin loaded through the plugin entry (not started).
class SweepPlugin {
 public:
  SweepPlugin();
  ~SweepPlugin() { Stop(); }
  SweepPlugin(const SweepPlugin&) = delete;
  SweepPlugin& operator=(const SweepPlugin&) = delete;

  [[nodiscard]] bool Loaded() const { return module_ != nullptr; }
  [[nodiscard]] Client::PlayerMessaging::PlayerMessagingModule& Module() { return *module_; }
  bool Start(SweepHost& host);
  void Stop();

  /// Calls the endpoint named `function` with `method` and `path` through its request
  /// entry; the response is read and released as the host does, in a HostScope.
  EndpointAnswer Request(const char* function, std::int32_t method, const std::string& path);

 private:
  Abi::PluginHostRecord record_{};
  Client::PlayerMessaging::PlayerMessagingModule* module_ = nullptr;
};

}  // namespace Kavren::Testing
