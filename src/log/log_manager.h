// The process-wide log manager and the log interface table that drives it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "log/console_log_target.h"
#include "log/log.h"
#include "log/log_target.h"

namespace Kavren {

/// The log interface table: the manager's operations in their fixed order.
/// Every operation is safe from any thread and never throws; the ones that
/// need the manager make it when none exists.
struct LogApi {
  std::int32_t (*InterfaceVersion)();
  void (*Acquire)();
  void (*Release)();
  void (*SetMinimumLevel)(std::int32_t level);
  std::int32_t (*GetMinimumLevel)();
  void (*SetExcludedGroups)(std::uint64_t groups);
  std::uint64_t (*GetExcludedGroups)();
  void (*Suspend)();
  void (*Resume)();
  void (*AttachEntry)(LogTargetEntry* entry);
  void (*DetachEntry)(LogTargetEntry* entry);
  LogTargetEntry* (*FindTarget)(const char* name);
  LogTargetEntry* (*StdOutTarget)();
  LogTargetEntry* (*StdErrTarget)();
  LogTargetEntry* (*DebuggerTarget)();
  std::uint64_t (*RegisterGroup)(const char* tag);
  std::size_t (*GroupsToText)(std::uint64_t mask, char* out, std::size_t capacity);
  std::size_t (*RenderLine)(const char* pattern, const LogRecord* record, char* out,
                            std::size_t capacity);
  const char* (*LevelTag)(std::int32_t level);
  const char* (*ProcessName)();
  void (*CaptureLocalTime)(LogTime* time);
  std::size_t (*FormatTime)(const LogTime* time, char* out, std::size_t capacity);
  std::size_t (*FormatTimeForFileName)(const LogTime* time, char* out, std::size_t capacity);
  void (*LogV)(std::int32_t level, std::uint64_t groups, const char* format,
               std::va_list arguments);
};

/// The log interface table of this process.
[[nodiscard]] const LogApi& GetLogApi() noexcept;

/// The records logged at level 1 and at level 2 since the manager was made.
struct LogRecordCounts {
  std::uint64_t warnings = 0;
  std::uint64_t errors = 0;
};

/// One per process, made by the first acquire or the first log call and
/// destroyed by the last release. All state is reached through the static
/// operations below, which take the manager's lock.
class LogManager {
 public:
  LogManager(const LogManager&) = delete;
  LogManager& operator=(const LogManager&) = delete;

  /// Counts a hold on the manager; the first hold makes it.
  static void Acquire() noexcept;
  /// Drops a hold; the last one destroys the manager. A release without a
  /// hold is ignored.
  static void Release() noexcept;
  /// Makes the manager unless it exists; made exactly once under races.
  static void EnsureExists() noexcept;
  [[nodiscard]] static bool Exists() noexcept;

  static void SetMinimumLevel(std::int32_t level) noexcept;
  [[nodiscard]] static std::int32_t GetMinimumLevel() noexcept;
  static void SetExcludedGroups(std::uint64_t groups) noexcept;
  [[nodiscard]] static std::uint64_t GetExcludedGroups() noexcept;
  static void Suspend() noexcept;
  static void Resume() noexcept;
  [[nodiscard]] static bool IsSuspended() noexcept;

  /// Appends the entry to the list (a raw list operation: the target's
  /// attached flag is the caller's business).
  static void AttachEntry(LogTargetEntry* entry) noexcept;
  /// Removes every occurrence of the entry from the list.
  static void DetachEntry(LogTargetEntry* entry) noexcept;
  /// The first attached entry whose name equals `name` exactly, or null.
  [[nodiscard]] static LogTargetEntry* FindTarget(const char* name) noexcept;
  [[nodiscard]] static LogTargetEntry* StdOutTarget() noexcept;
  [[nodiscard]] static LogTargetEntry* StdErrTarget() noexcept;
  [[nodiscard]] static LogTargetEntry* DebuggerTarget() noexcept;
  [[nodiscard]] static LogRecordCounts RecordCounts() noexcept;

  /// Filters, formats and dispatches one message (the work of LogPrintf).
  static void LogV(std::int32_t level, std::uint64_t groups, const char* format,
                   std::va_list arguments) noexcept;

 private:
  friend class LogTarget;
  friend void Configure(LogTarget& target, const LogTargetSettings& settings) noexcept;

  LogManager() noexcept;
  ~LogManager();

  /// The manager, made if needed; the caller holds the lock.
  static LogManager& Locked() noexcept;
  /// Attaches a target: flag and list change together under the lock.
  static void AttachTarget(LogTarget& target) noexcept;
  static void DetachTarget(LogTarget& target) noexcept;
  void Dispatch(const LogRecord& record) noexcept;

  // Guarded by the manager's lock (see log_manager.cpp).
  std::vector<LogTargetEntry*> entries_;
  LogRecordCounts counts_;
  StdErrLogTarget stdErr_;
  StdOutLogTarget stdOut_;
  DebuggerConsoleLogTarget debugger_;
};

/// One hold on the log manager for the life of its owner: acquired on construction,
/// released on destruction. As a member declared before anything that may fail, it is
/// released also when a later member or the constructor's body throws.
class LogManagerHold {
 public:
  LogManagerHold() noexcept { LogManager::Acquire(); }
  ~LogManagerHold() { LogManager::Release(); }
  LogManagerHold(const LogManagerHold&) = delete;
  LogManagerHold& operator=(const LogManagerHold&) = delete;
};

}  // namespace Kavren
