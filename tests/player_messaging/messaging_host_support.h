// Test helpers of the player-messaging module: a host table that records what the plugin
// asks of it, delivers events to the plugin's callbacks and runs its jobs on demand.
#pragma once

#include "player_messaging/module.h"
#include "support/fake_event_host.h"

namespace Kavren::Testing {

/// The player-messaging module loaded through the plugin entry and started with `host`
/// (whose responder answers the initial read of the login data packet); stopped (shut
/// down and destroyed) with this holder. The host's calls are kept.
class StartedMessagingModule {
 public:
  explicit StartedMessagingModule(FakeEventHost& host);
  ~StartedMessagingModule();
  StartedMessagingModule(const StartedMessagingModule&) = delete;
  StartedMessagingModule& operator=(const StartedMessagingModule&) = delete;

  [[nodiscard]] Client::PlayerMessaging::PlayerMessagingModule* Get() const { return module_; }
  Client::PlayerMessaging::PlayerMessagingModule& operator*() const { return *module_; }
  Client::PlayerMessaging::PlayerMessagingModule* operator->() const { return module_; }

 private:
  Abi::PluginHostRecord record_{};
  Client::PlayerMessaging::PlayerMessagingModule* module_ = nullptr;
};

}  // namespace Kavren::Testing
