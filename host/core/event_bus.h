// The development host's event bus: the plugin's subscriptions, and host-side
// listeners (the event stream, the scenario output) that see every event.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "abi/event.h"
#include "host/core/recorder.h"

namespace Kavren::Host {

/// One live Subscribe of the plugin.
struct Subscription {
  std::string eventName;
  std::uint32_t cookie;
  Abi::HostEventCallback callback;
  void* context;
  std::int32_t flag;
};

/// Calls one subscription's callback with an event, as a host delivers it: the record
/// lives for the call only.
void CallSubscriber(Abi::HostEventCallback callback, void* context, const std::string& name,
                    const Abi::HostValue& payload, std::int32_t flag);

/// Delivers events to the plugin's subscriptions and tells host-side listeners.
/// Thread-safe; nothing is called with the bus's lock held, so receivers may
/// publish, subscribe or add listeners.
class EventBus {
 public:
  /// Told of each event on the thread that sent it; must be thread-safe.
  using Listener = std::function<void(const PublishedEvent&)>;
  using ListenerId = std::uint64_t;

  explicit EventBus(Recorder& recorder) : recorder_(recorder) {}

  void Subscribe(const Subscription& subscription);
  /// Removes the subscriptions of `name` made with `cookie`.
  void Unsubscribe(const std::string& name, std::uint32_t cookie);
  /// Forgets every subscription (the plugin stopped).
  void Clear();
  [[nodiscard]] std::vector<Subscription> Subscriptions() const;
  [[nodiscard]] std::size_t SubscriptionCount(const std::string& name) const;

  /// Records the event, tells the listeners, then calls every subscription of
  /// `name`; answers how many subscriptions received it. `origin` is "plugin"
  /// or "host".
  std::size_t Deliver(const char* origin, const std::string& name, const Abi::HostValue& payload,
                      std::int32_t flag);

  [[nodiscard]] ListenerId AddListener(Listener listener);
  /// After this returns the listener is not called again (a call already
  /// running on another thread may still finish).
  void RemoveListener(ListenerId id);

 private:
  Recorder& recorder_;
  // Guards the subscriptions and the listeners.
  mutable std::mutex mutex_;
  std::vector<Subscription> subscriptions_;
  std::map<ListenerId, Listener> listeners_;
  ListenerId nextListener_ = 1;
};

}  // namespace Kavren::Host
