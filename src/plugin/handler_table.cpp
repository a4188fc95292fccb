// The module's event handlers.
#include "plugin/handler_table.h"

#include "plugin/event_names.h"

namespace Kavren {

void HandlerTable::SetEventHandler(const std::string& eventName, Slot slot) {
  std::lock_guard<std::mutex> guard(lock_);
  eventHandlers_.insert_or_assign(eventName, std::move(slot));
}

HandlerTable::Slot HandlerTable::FindEventHandler(std::string_view eventName) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = eventHandlers_.find(eventName);
  return found != eventHandlers_.end() ? found->second : nullptr;
}

void HandlerTable::RemoveEventHandler(const std::string& eventName) {
  Slot removed;
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = eventHandlers_.find(eventName);
  if (found == eventHandlers_.end()) return;
  removed = std::move(found->second);
  eventHandlers_.erase(found);
}

HandlerTable::EventHandlerMap HandlerTable::TakeEventHandlers() noexcept {
  EventHandlerMap taken;
  std::lock_guard<std::mutex> guard(lock_);
  taken.swap(eventHandlers_);
  return taken;
}

void HandlerTable::SetResourceHandler(const std::string& pathOrPattern,
                                      ResourceEventHandler handler) {
  auto shared = std::make_shared<ResourceEventHandler>(std::move(handler));
  std::lock_guard<std::mutex> guard(lock_);
  if (pathOrPattern.find('*') == std::string::npos) {
    exactResources_[pathOrPattern].swap(shared);
    return;
  }
  for (auto& [pattern, existing] : patternResources_) {
    if (pattern == pathOrPattern) {
      existing.swap(shared);
      return;
    }
  }
  patternResources_.emplace_back(pathOrPattern, std::move(shared));
}

std::vector<std::shared_ptr<ResourceEventHandler>> HandlerTable::ResourceHandlers(
    const std::string& path) const {
  std::vector<std::shared_ptr<ResourceEventHandler>> handlers;
  std::lock_guard<std::mutex> guard(lock_);
  const auto exact = exactResources_.find(path);
  if (exact != exactResources_.end()) handlers.push_back(exact->second);
  for (const auto& [pattern, handler] : patternResources_) {
    if (ResourcePathMatches(pattern, path)) handlers.push_back(handler);
  }
  return handlers;
}

void HandlerTable::SetQrmsHandler(const std::string& serverClass, QrmsEventHandler handler) {
  auto shared = std::make_shared<QrmsEventHandler>(std::move(handler));
  std::lock_guard<std::mutex> guard(lock_);
  qrmsHandlers_[serverClass].swap(shared);
}

std::shared_ptr<QrmsEventHandler> HandlerTable::FindQrmsHandler(
    const std::string& serverClass) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = qrmsHandlers_.find(serverClass);
  return found != qrmsHandlers_.end() ? found->second : nullptr;
}

void HandlerTable::AddQrmsWaiter(const std::string& typeName, QrmsEventHandler waiter) {
  std::lock_guard<std::mutex> guard(lock_);
  qrmsWaiters_[typeName].swap(waiter);
}

QrmsEventHandler HandlerTable::TakeQrmsWaiter(const std::string& typeName) {
  QrmsEventHandler waiter;
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = qrmsWaiters_.find(typeName);
  if (found == qrmsWaiters_.end()) return waiter;
  waiter.swap(found->second);
  qrmsWaiters_.erase(found);
  return waiter;
}

void HandlerTable::Clear() {
  decltype(eventHandlers_) eventHandlers;
  decltype(exactResources_) exactResources;
  decltype(patternResources_) patternResources;
  decltype(qrmsHandlers_) qrmsHandlers;
  decltype(qrmsWaiters_) qrmsWaiters;
  std::lock_guard<std::mutex> guard(lock_);
  eventHandlers.swap(eventHandlers_);
  exactResources.swap(exactResources_);
  patternResources.swap(patternResources_);
  qrmsHandlers.swap(qrmsHandlers_);
  qrmsWaiters.swap(qrmsWaiters_);
}

}  // namespace Kavren
