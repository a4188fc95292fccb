// A recording host for plugin tests: a host function table that records what the plugin
// asks of it, answers its calls through a responder, delivers events to its callbacks and
// runs its jobs on demand.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "abi/event.h"
#include "abi/host.h"
#include "abi/http.h"
#include "plugin/app_module.h"

namespace Kavren::Testing {

/// One Subscribe call of the plugin.
struct HostSubscription {
  std::string name;
  std::uint32_t cookie;
  Abi::HostEventCallback callback;
  void* context;
  std::int32_t flag;
};

/// One ScheduleJob call of the plugin.
struct HostJob {
  std::string label;
  Abi::HostJobCallback callback;
  void* context;
  double delaySeconds;
  std::int32_t flags;
};

/// One Call of the plugin: method, path, cookie and the arguments written as JSON.
struct HostCall {
  std::int32_t method;
  std::string path;
  std::uint32_t cookie;
  std::vector<std::string> arguments;
};

/// The host functions over recorded state. [thread-safe] Every entry takes the lock;
/// callbacks and jobs are called outside it.
class FakeEventHost {
 public:
  /// Fills the response of a Call; the default answers success with no value.
  using Responder = std::function<void(Abi::HttpResponseRecord& response, const HostCall& call)>;

  FakeEventHost();
  FakeEventHost(const FakeEventHost&) = delete;
  FakeEventHost& operator=(const FakeEventHost&) = delete;

  Abi::HostInterface* Interface() { return &interface_; }
  void SetResponder(Responder responder);

  /// "Subscribe <name> <flag>", "Unsubscribe <name>", "Publish <name> <flag> <payload JSON>",
  /// "Schedule <label> <delay>", "Call <method> <path>", in order.
  [[nodiscard]] std::vector<std::string> Calls() const;
  /// Forgets the calls and the log lines so far.
  void ClearCalls();
  [[nodiscard]] std::vector<HostSubscription> Subscriptions() const;
  [[nodiscard]] std::vector<HostCall> HostCalls() const;
  [[nodiscard]] std::vector<HostJob> Jobs() const;
  /// Level and message of every line the plugin logged through the host.
  [[nodiscard]] std::vector<std::pair<std::int32_t, std::string>> Logs() const;

  /// Calls the callback of the live subscription of `name` (the last Subscribe not
  /// followed by an Unsubscribe) with the payload read from JSON. False when none.
  bool Deliver(const std::string& name, const std::string& payloadJson, std::int32_t flag = 0);
  /// Runs the job of the index'th ScheduleJob call.
  void RunJob(std::size_t index);

  /// Fills a response with a success whose value is the JSON text's value.
  static void ReplyJson(Abi::HttpResponseRecord& response, const std::string& json);
  /// Fills a response with an error text and a status.
  static void ReplyError(Abi::HttpResponseRecord& response, std::int32_t status,
                         const char* errorText);

 private:
  void Record(std::string call);

  // The table must come first: each entry finds the host from its `self`.
  Abi::HostFunctions table_{};
  Abi::HostInterface interface_{&table_, 77};
  mutable std::mutex lock_;  // guards everything below
  Responder responder_;
  std::vector<std::string> calls_;
  std::vector<HostSubscription> subscriptions_;
  std::vector<std::string> liveNames_;
  std::vector<HostJob> jobs_;
  std::vector<HostCall> hostCalls_;
  std::vector<std::pair<std::int32_t, std::string>> logs_;
};

}  // namespace Kavren::Testing
