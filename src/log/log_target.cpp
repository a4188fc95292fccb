// The base log target: settings under its lock, the operation table, Configure.
#include "log/log_target.h"

#include "log/log_line.h"
#include "log/log_manager.h"
#include "log/messages.h"

namespace Kavren {
namespace {

LogTarget& TargetOf(LogTargetEntry* self) noexcept { return *self->target; }

std::int32_t EntryInterfaceVersion(LogTargetEntry*) { return 1; }
void EntrySetLevel(LogTargetEntry* self, std::int32_t level) { TargetOf(self).SetLevel(level); }
std::int32_t EntryGetLevel(LogTargetEntry* self) { return TargetOf(self).GetLevel(); }
void EntrySetGroups(LogTargetEntry* self, std::uint64_t included, std::uint64_t excluded) {
  TargetOf(self).SetGroups(included, excluded);
}
std::uint64_t EntryGetIncludedGroups(LogTargetEntry* self) {
  return TargetOf(self).GetIncludedGroups();
}
std::uint64_t EntryGetExcludedGroups(LogTargetEntry* self) {
  return TargetOf(self).GetExcludedGroups();
}
const char* EntryGetName(LogTargetEntry* self) { return TargetOf(self).GetName(); }
const char* EntryGetPattern(LogTargetEntry* self) { return TargetOf(self).GetPattern(); }
void EntryAttach(LogTargetEntry* self) { TargetOf(self).Attach(); }
void EntryDetach(LogTargetEntry* self) { TargetOf(self).Detach(); }
bool EntryIsAttached(LogTargetEntry* self) { return TargetOf(self).IsAttached(); }
bool EntryWrite(LogTargetEntry* self, const LogRecord* record) {
  return record != nullptr && TargetOf(self).Write(*record);
}

}  // namespace

LogTarget::LogTarget() noexcept
    : entry_{EntryInterfaceVersion,
             EntrySetLevel,
             EntryGetLevel,
             EntrySetGroups,
             EntryGetIncludedGroups,
             EntryGetExcludedGroups,
             EntryGetName,
             EntryGetPattern,
             EntryAttach,
             EntryDetach,
             EntryIsAttached,
             EntryWrite,
             this},
      pattern_(detail::kDefaultPattern) {}

// The lock is not held while detaching: detaching takes the manager's lock,
// and holding both here would invert the dispatch order (manager, target).
LogTarget::~LogTarget() { Detach(); }

const char* LogTarget::GetName() const noexcept { return detail::kLogTargetName; }

void LogTarget::SetLevel(std::int32_t level) noexcept {
  std::lock_guard lock(mutex_);
  level_ = level;
}

std::int32_t LogTarget::GetLevel() const noexcept {
  std::lock_guard lock(mutex_);
  return level_;
}

void LogTarget::SetGroups(std::uint64_t included, std::uint64_t excluded) noexcept {
  std::lock_guard lock(mutex_);
  includedGroups_ = included & ~excluded;
  excludedGroups_ = excluded;
}

std::uint64_t LogTarget::GetIncludedGroups() const noexcept {
  std::lock_guard lock(mutex_);
  return includedGroups_;
}

std::uint64_t LogTarget::GetExcludedGroups() const noexcept {
  std::lock_guard lock(mutex_);
  return excludedGroups_;
}

bool LogTarget::SetPattern(const char* pattern) noexcept {
  std::lock_guard lock(mutex_);
  try {
    pattern_ = pattern == nullptr ? "" : pattern;
    return true;
  } catch (...) {
    return false;
  }
}

const char* LogTarget::GetPattern() const noexcept {
  std::lock_guard lock(mutex_);
  return pattern_.c_str();
}

void LogTarget::Attach() noexcept { LogManager::AttachTarget(*this); }

void LogTarget::Detach() noexcept { LogManager::DetachTarget(*this); }

bool LogTarget::IsAttached() const noexcept { return attached_.load(std::memory_order_acquire); }

bool LogTarget::Write(const LogRecord& record) noexcept {
  std::lock_guard lock(mutex_);
  try {
    return DoWrite(record);
  } catch (...) {
    return false;
  }
}

std::size_t LogTarget::RenderLine(const LogRecord& record, char* out,
                                  std::size_t capacity) const noexcept {
  return RenderLogLine(pattern_.c_str(), record, out, capacity);
}

void Configure(LogTarget& target, const LogTargetSettings& settings) noexcept {
  LogManager::DetachTarget(target);
  {
    std::lock_guard lock(target.mutex_);
    target.level_ = settings.level;
    target.includedGroups_ = settings.includedGroups & ~settings.excludedGroups;
    target.excludedGroups_ = settings.excludedGroups;
    try {
      target.pattern_ = settings.pattern;
    } catch (...) {
      // Out of memory: the previous pattern stays.
    }
  }
  LogManager::AttachTarget(target);
}

}  // namespace Kavren
