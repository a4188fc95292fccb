// The module's event handlers: typed handlers by event name, resource handlers by path
// or pattern, and the server-message handlers and waiters.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/type_identity.h"
#include "plugin/framework_types.h"

namespace Kavren {

/// Handler of resource events (exact paths and patterns).
using ResourceEventHandler = std::function<void(const PluginResourceEvent& event)>;
/// Handler of a server message: the server-class handlers and the one-shot waiters.
using QrmsEventHandler = std::function<void(const PluginQrmsEvent& event)>;

namespace detail {

/// One typed-handler slot: the record type it converts payloads to, and the handler.
struct EventHandlerSlotBase {
  explicit EventHandlerSlotBase(const TypeIdentity* payload) : payloadType(payload) {}
  virtual ~EventHandlerSlotBase() = default;
  const TypeIdentity* payloadType;
};

template <class T>
struct EventHandlerSlot final : EventHandlerSlotBase {
  explicit EventHandlerSlot(std::function<void(const T&)> typed)
      : EventHandlerSlotBase(StaticType::HashCode<T>()), handler(std::move(typed)) {}
  std::function<void(const T&)> handler;
};

}  // namespace detail

/// [thread-safe] Every handler is shared out of the table and called after the lock is
/// released, so a handler may register, replace or remove handlers (its own included)
/// and lives until its call returns.
class HandlerTable {
 public:
  using Slot = std::shared_ptr<detail::EventHandlerSlotBase>;
  using EventHandlerMap = std::map<std::string, Slot, std::less<>>;

  /// Stores the typed handler of `eventName`, replacing an earlier one.
  void SetEventHandler(const std::string& eventName, Slot slot);
  /// The typed handler of `eventName`, or null.
  [[nodiscard]] Slot FindEventHandler(std::string_view eventName) const;
  void RemoveEventHandler(const std::string& eventName);
  /// Takes every typed handler out of the table, with the name it is subscribed under.
  /// Moves the table whole, so it allocates nothing: Stop unsubscribes every name even
  /// when the heap refuses.
  [[nodiscard]] EventHandlerMap TakeEventHandlers() noexcept;

  /// The handler of an exact path, or of a pattern when `pathOrPattern` holds "*";
  /// registering a path or pattern again replaces its handler (a pattern keeps its place).
  void SetResourceHandler(const std::string& pathOrPattern, ResourceEventHandler handler);
  /// The handlers of `path`: the exact one first, then the matching patterns in order.
  [[nodiscard]] std::vector<std::shared_ptr<ResourceEventHandler>> ResourceHandlers(
      const std::string& path) const;

  /// Stores the server-message handler of `serverClass`, replacing an earlier one.
  void SetQrmsHandler(const std::string& serverClass, QrmsEventHandler handler);
  [[nodiscard]] std::shared_ptr<QrmsEventHandler> FindQrmsHandler(
      const std::string& serverClass) const;
  /// A one-shot waiter for the next server message of `typeName`.
  void AddQrmsWaiter(const std::string& typeName, QrmsEventHandler waiter);
  /// Takes the waiter of `typeName` out of the table; empty when none.
  [[nodiscard]] QrmsEventHandler TakeQrmsWaiter(const std::string& typeName);

  /// Forgets every handler; they are destroyed after the lock is released.
  void Clear();

 private:
  // Guards the five tables below.
  mutable std::mutex lock_;
  EventHandlerMap eventHandlers_;
  std::map<std::string, std::shared_ptr<ResourceEventHandler>, std::less<>> exactResources_;
  std::vector<std::pair<std::string, std::shared_ptr<ResourceEventHandler>>> patternResources_;
  std::map<std::string, std::shared_ptr<QrmsEventHandler>, std::less<>> qrmsHandlers_;
  std::map<std::string, QrmsEventHandler, std::less<>> qrmsWaiters_;
};

}  // namespace Kavren
