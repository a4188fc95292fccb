// The module's scheduled jobs: what the host's job callback may still reach.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace Kavren {

/// Work run once by a scheduled host job.
using ScheduledJob = std::function<void()>;

/// [thread-safe] Jobs scheduled with the host and not yet run, by ticket. The host holds
/// only the ticket (ModuleDirectory::NextTicket, unique in the process), so a job the
/// host runs after the module stopped, or runs twice, finds nothing and does nothing.
class JobTable {
 public:
  struct Entry {
    std::uintptr_t ticket;
    std::string label;
    ScheduledJob job;
  };

  /// Enters `job` under a new ticket; the entry's label lives as long as the entry.
  [[nodiscard]] std::shared_ptr<const Entry> Add(std::string label, ScheduledJob job);
  /// True while the job of `ticket` has not been taken.
  [[nodiscard]] bool Holds(std::uintptr_t ticket) const;
  /// Takes the job of `ticket` out of the table, so it runs once; null when none.
  [[nodiscard]] std::shared_ptr<Entry> Take(std::uintptr_t ticket);
  [[nodiscard]] std::size_t Size() const;
  /// Forgets every job; the jobs are destroyed after the lock is released, as their
  /// captures may lock.
  void Clear();

 private:
  // Guards the table.
  mutable std::mutex lock_;
  std::map<std::uintptr_t, std::shared_ptr<Entry>> jobs_;
};

}  // namespace Kavren
