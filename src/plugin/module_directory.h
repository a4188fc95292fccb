// The process-wide directory of live modules: every context the host holds (event
// callbacks, jobs, endpoint registrations, the function table's context) is checked
// against it before anything of a module is touched.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/endpoint_table.h"

namespace Kavren {

class EventLayer;

/// One module's place in the directory. Lives inside the module, so entering and
/// leaving the directory allocates nothing. Only the directory touches its fields.
struct ModuleLifetime {
  EventLayer* module = nullptr;
  /// Destroys the module and returns its memory; called once, by the last unpin after
  /// Stop began.
  void (*destroy)(EventLayer* module) = nullptr;
  /// The address the host knows the module by (the function table's context).
  const void* context = nullptr;
  /// Counts from 1 and is never reused in the process: a stale context cannot reach a
  /// module loaded later.
  std::uintptr_t id = 0;
  /// Calls currently inside the module (host entries, and Stop itself while it runs).
  std::uint32_t pins = 0;
  /// Set when Stop begins: from then on no new call gets in.
  bool stopping = false;
  ModuleLifetime* next = nullptr;
};

/// Keeps a module alive while a call runs inside it. A module whose Stop began is
/// destroyed when the last pin goes, on the thread that drops it.
class ModulePin {
 public:
  ModulePin() = default;
  explicit ModulePin(ModuleLifetime* lifetime) : lifetime_(lifetime) {}
  ModulePin(const ModulePin&) = delete;
  ModulePin& operator=(const ModulePin&) = delete;
  ModulePin(ModulePin&& other) noexcept : lifetime_(other.lifetime_) { other.lifetime_ = nullptr; }
  ModulePin& operator=(ModulePin&& other) noexcept;
  ~ModulePin() { Release(); }

  explicit operator bool() const { return lifetime_ != nullptr; }
  [[nodiscard]] EventLayer* Module() const { return lifetime_->module; }
  [[nodiscard]] ModuleLifetime* Lifetime() const { return lifetime_; }
  /// Drops the pin now (destroying a stopped module when it was the last).
  void Release() noexcept;

 private:
  ModuleLifetime* lifetime_ = nullptr;
};

/// [thread-safe] The live modules. One mutex guards the list and every entry's pins and
/// stopping flag; nothing of a module runs while it is held, except the lookups of its
/// job and endpoint tables, which take only their own locks.
namespace ModuleDirectory {

/// [at the end of load] Enters `lifetime` (whose module, destroy and context are set, and
/// whose module is complete) and gives it its id.
void Enter(ModuleLifetime& lifetime) noexcept;
/// [at destruction of a module that never stopped] Takes it out of the directory.
void Leave(ModuleLifetime& lifetime) noexcept;

/// A pin of the running module whose id is `id`; empty when none (gone or stopping).
[[nodiscard]] ModulePin PinById(std::uintptr_t id) noexcept;
/// A pin of the running module at `module` (the function table's context); empty when
/// no live module is there. The address is compared, never followed.
[[nodiscard]] ModulePin PinByAddress(const void* module) noexcept;
/// A pin of the running module whose job table holds `ticket`; empty when none.
[[nodiscard]] ModulePin PinByJob(std::uintptr_t ticket) noexcept;
/// A pin of the running module that handed out the endpoint registration `ticket`, and
/// that endpoint as it was found under the directory's lock.
struct PinnedEndpoint {
  ModulePin pin;
  EndpointTable::Endpoint endpoint{};
};
/// Empty pin when no running module holds `ticket`.
[[nodiscard]] PinnedEndpoint PinByEndpoint(std::uintptr_t ticket) noexcept;

/// Begins the Stop of the running module at `module`: no new call gets in from now on.
/// The pin returned is Stop's own: dropping it destroys the module unless calls are
/// still inside, whose last one does. Empty when there is no such running module (never
/// loaded, or stopped already).
[[nodiscard]] ModulePin BeginStop(const void* module) noexcept;

/// Pins of every running module, in the directory's order (the latest first).
[[nodiscard]] std::vector<ModulePin> PinAllRunning();

/// A number for a job or an endpoint registration that no other one in the process
/// gets (never 0); it fits the host's pointer-sized context.
[[nodiscard]] std::uintptr_t NextTicket() noexcept;

}  // namespace ModuleDirectory

}  // namespace Kavren
