// The base log target, its operation table (the target entry) and Configure.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "log/log.h"

namespace Kavren {

class LogTarget;

/// The operations through which the manager and other code reach a target,
/// in their fixed order. Every operation takes the entry itself first.
struct LogTargetEntry {
  std::int32_t (*InterfaceVersion)(LogTargetEntry* self);
  void (*SetLevel)(LogTargetEntry* self, std::int32_t level);
  std::int32_t (*GetLevel)(LogTargetEntry* self);
  void (*SetGroups)(LogTargetEntry* self, std::uint64_t included, std::uint64_t excluded);
  std::uint64_t (*GetIncludedGroups)(LogTargetEntry* self);
  std::uint64_t (*GetExcludedGroups)(LogTargetEntry* self);
  const char* (*GetName)(LogTargetEntry* self);
  const char* (*GetPattern)(LogTargetEntry* self);
  void (*Attach)(LogTargetEntry* self);
  void (*Detach)(LogTargetEntry* self);
  bool (*IsAttached)(LogTargetEntry* self);
  bool (*Write)(LogTargetEntry* self, const LogRecord* record);
  /// The target the operations act on.
  LogTarget* target;
};

/// The settings `Configure` gives a target.
struct LogTargetSettings {
  std::int32_t level = kLogLevelWarn;
  std::uint64_t includedGroups = 0;
  std::uint64_t excludedGroups = 0;
  std::string pattern;
};

/// A destination of log records. Public methods are non-virtual and take the
/// target's lock; concrete targets implement the protected hooks, which run
/// with the lock held and never lock themselves.
///
/// A concrete target's destructor must call `Detach()` first, so that no
/// record is dispatched to a half-destroyed object.
class LogTarget {
 public:
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;
  virtual ~LogTarget();

  /// The target's operation table, as the manager's list holds it.
  [[nodiscard]] LogTargetEntry* Entry() noexcept { return &entry_; }

  /// The class's name ("LogTarget", "StdErrLogTarget", ...).
  [[nodiscard]] virtual const char* GetName() const noexcept;

  void SetLevel(std::int32_t level) noexcept;
  [[nodiscard]] std::int32_t GetLevel() const noexcept;
  /// Stores `included` without the bits of `excluded`, and `excluded` as given.
  void SetGroups(std::uint64_t included, std::uint64_t excluded) noexcept;
  [[nodiscard]] std::uint64_t GetIncludedGroups() const noexcept;
  [[nodiscard]] std::uint64_t GetExcludedGroups() const noexcept;
  /// Replaces the line pattern; false (pattern unchanged) when out of memory.
  [[nodiscard]] bool SetPattern(const char* pattern) noexcept;
  /// The line pattern; valid until the pattern is next changed.
  [[nodiscard]] const char* GetPattern() const noexcept;

  /// Appends the target to the manager's list unless it is attached already.
  void Attach() noexcept;
  /// Takes the target off the manager's list (every occurrence). When it
  /// returns, no dispatch to this target is in progress on another thread.
  void Detach() noexcept;
  [[nodiscard]] bool IsAttached() const noexcept;

  /// Writes one record under the target's lock; false when the target did not
  /// write it. Never throws.
  bool Write(const LogRecord& record) noexcept;

 protected:
  /// Level 1, no groups, pattern "#D| #L| #G| #M", detached.
  LogTarget() noexcept;

  /// Writes the record; called with the target's lock held.
  virtual bool DoWrite(const LogRecord& record) = 0;

  /// Renders `record` with this target's pattern into `out` (see RenderLogLine).
  /// For use inside DoWrite, where the lock is held.
  std::size_t RenderLine(const LogRecord& record, char* out, std::size_t capacity) const noexcept;

  /// Guards the settings below and serialises the target's output. Recursive,
  /// as a hook may log again. Lock order: the manager's lock, then this one;
  /// no code of the target takes the manager's lock while holding this one.
  mutable std::recursive_mutex mutex_;

 private:
  friend void Configure(LogTarget& target, const LogTargetSettings& settings) noexcept;
  friend class LogManager;

  LogTargetEntry entry_;
  // Changed only under the manager's lock, together with the manager's list,
  // so the flag and the list always agree.
  std::atomic<bool> attached_{false};
  std::int32_t level_ = kLogLevelWarn;
  std::uint64_t includedGroups_ = 0;
  std::uint64_t excludedGroups_ = 0;
  std::string pattern_;
};

/// Gives `target` the settings and (re-)attaches it at the end of the
/// manager's list; makes the log manager if none exists. The target's lock and
/// the manager's lock are never held together here, so Configure cannot
/// deadlock with a concurrent dispatch (which takes the manager's lock, then
/// the target's).
void Configure(LogTarget& target, const LogTargetSettings& settings) noexcept;

}  // namespace Kavren
