// Event delivery of the development host.
#include "host/core/event_bus.h"

#include <algorithm>

#include "host/core/host_value.h"

namespace Kavren::Host {

void CallSubscriber(Abi::HostEventCallback callback, void* context, const std::string& name,
                    const Abi::HostValue& payload, std::int32_t flag) {
  Abi::HostEventRecord record{};
  record.name = name.c_str();
  record.payload = payload;
  record.flag = flag;
  record.context = context;
  callback(&record);
}

void EventBus::Subscribe(const Subscription& subscription) {
  std::lock_guard lock(mutex_);
  subscriptions_.push_back(subscription);
}

void EventBus::Unsubscribe(const std::string& name, std::uint32_t cookie) {
  std::lock_guard lock(mutex_);
  std::erase_if(subscriptions_, [&](const Subscription& subscription) {
    return subscription.eventName == name && subscription.cookie == cookie;
  });
}

void EventBus::Clear() {
  std::lock_guard lock(mutex_);
  subscriptions_.clear();
}

std::vector<Subscription> EventBus::Subscriptions() const {
  std::lock_guard lock(mutex_);
  return subscriptions_;
}

std::size_t EventBus::SubscriptionCount(const std::string& name) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(
      subscriptions_.begin(), subscriptions_.end(),
      [&](const Subscription& subscription) { return subscription.eventName == name; }));
}

std::size_t EventBus::Deliver(const char* origin, const std::string& name,
                              const Abi::HostValue& payload, std::int32_t flag) {
  std::vector<Subscription> receivers;
  std::vector<Listener> listeners;
  {
    std::lock_guard lock(mutex_);
    for (const Subscription& subscription : subscriptions_) {
      if (subscription.eventName == name) receivers.push_back(subscription);
    }
    for (const auto& [id, listener] : listeners_) listeners.push_back(listener);
  }
  const PublishedEvent published{origin, name, HostValueToJson(payload), flag, receivers.size()};
  recorder_.AddEvent(published);
  for (const Listener& listener : listeners) listener(published);
  for (const Subscription& subscription : receivers) {
    if (subscription.callback == nullptr) continue;
    CallSubscriber(subscription.callback, subscription.context, name, payload, flag);
  }
  return receivers.size();
}

EventBus::ListenerId EventBus::AddListener(Listener listener) {
  std::lock_guard lock(mutex_);
  const ListenerId id = nextListener_++;
  listeners_.emplace(id, std::move(listener));
  return id;
}

void EventBus::RemoveListener(ListenerId id) {
  std::lock_guard lock(mutex_);
  listeners_.erase(id);
}

}  // namespace Kavren::Host
