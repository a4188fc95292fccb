// The directory of live modules and the pins that keep a module alive during a call.
#include "plugin/module_directory.h"

#include <atomic>
#include <mutex>

#include "plugin/event_layer.h"

namespace Kavren {
namespace {

// Guards the list, the ids and every entry's pins and stopping flag.
std::mutex& DirectoryLock() {
  static std::mutex lock;
  return lock;
}

ModuleLifetime* first = nullptr;
std::uintptr_t lastId = 0;
std::atomic<std::uintptr_t> lastTicket{0};

// Under the lock: takes `lifetime` out of the list.
void UnlinkLocked(ModuleLifetime& lifetime) {
  for (ModuleLifetime** link = &first; *link != nullptr; link = &(*link)->next) {
    if (*link == &lifetime) {
      *link = lifetime.next;
      lifetime.next = nullptr;
      return;
    }
  }
}

// Under the lock: a pin of the first running module for which `matches` holds.
template <class Matches>
ModulePin PinLocked(Matches matches) {
  for (ModuleLifetime* entry = first; entry != nullptr; entry = entry->next) {
    if (entry->stopping || !matches(*entry)) continue;
    ++entry->pins;
    return ModulePin(entry);
  }
  return ModulePin();
}

template <class Matches>
ModulePin Pin(Matches matches) noexcept {
  std::lock_guard<std::mutex> guard(DirectoryLock());
  return PinLocked(matches);
}

}  // namespace

ModulePin& ModulePin::operator=(ModulePin&& other) noexcept {
  if (this != &other) {
    Release();
    lifetime_ = other.lifetime_;
    other.lifetime_ = nullptr;
  }
  return *this;
}

void ModulePin::Release() noexcept {
  if (lifetime_ == nullptr) return;
  ModuleLifetime* lifetime = lifetime_;
  lifetime_ = nullptr;
  {
    std::lock_guard<std::mutex> guard(DirectoryLock());
    if (--lifetime->pins != 0 || !lifetime->stopping) return;
    UnlinkLocked(*lifetime);
  }
  // The last call out of a stopped module: nothing can pin it any more.
  lifetime->destroy(lifetime->module);
}

namespace ModuleDirectory {

void Enter(ModuleLifetime& lifetime) noexcept {
  std::lock_guard<std::mutex> guard(DirectoryLock());
  lifetime.id = ++lastId;
  lifetime.pins = 0;
  lifetime.stopping = false;
  lifetime.next = first;
  first = &lifetime;
}

void Leave(ModuleLifetime& lifetime) noexcept {
  std::lock_guard<std::mutex> guard(DirectoryLock());
  UnlinkLocked(lifetime);
}

ModulePin PinById(std::uintptr_t id) noexcept {
  if (id == 0) return ModulePin();
  return Pin([id](const ModuleLifetime& entry) { return entry.id == id; });
}

ModulePin PinByAddress(const void* module) noexcept {
  if (module == nullptr) return ModulePin();
  return Pin([module](const ModuleLifetime& entry) { return entry.context == module; });
}

ModulePin PinByJob(std::uintptr_t ticket) noexcept {
  if (ticket == 0) return ModulePin();
  return Pin([ticket](const ModuleLifetime& entry) { return entry.module->Jobs().Holds(ticket); });
}

PinnedEndpoint PinByEndpoint(std::uintptr_t ticket) noexcept {
  PinnedEndpoint found;
  if (ticket == 0) return found;
  found.pin = Pin([ticket, &found](const ModuleLifetime& entry) {
    const EndpointTable::Endpoint* endpoint = entry.module->Endpoints().Find(ticket);
    if (endpoint == nullptr) return false;
    found.endpoint = *endpoint;
    return true;
  });
  return found;
}

ModulePin BeginStop(const void* module) noexcept {
  if (module == nullptr) return ModulePin();
  std::lock_guard<std::mutex> guard(DirectoryLock());
  ModulePin pin =
      PinLocked([module](const ModuleLifetime& entry) { return entry.context == module; });
  // Set under the same lock as the pin: no other Stop and no new call can get in.
  if (pin) pin.Lifetime()->stopping = true;
  return pin;
}

std::vector<ModulePin> PinAllRunning() {
  std::vector<ModulePin> pins;
  std::lock_guard<std::mutex> guard(DirectoryLock());
  for (ModuleLifetime* entry = first; entry != nullptr; entry = entry->next) {
    if (entry->stopping) continue;
    ++entry->pins;
    pins.emplace_back(entry);
  }
  return pins;
}

std::uintptr_t NextTicket() noexcept {
  std::uintptr_t ticket = lastTicket.fetch_add(1, std::memory_order_relaxed) + 1;
  // A pointer-sized counter wraps only after as many tickets as the address space has
  // bytes; 0 stays "no ticket".
  if (ticket == 0) ticket = lastTicket.fetch_add(1, std::memory_order_relaxed) + 1;
  return ticket;
}

}  // namespace ModuleDirectory
}  // namespace Kavren
