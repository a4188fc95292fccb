// The log manager: lifetime by reference count, filters, dispatch to targets.
#include "log/log_manager.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "log/log_groups.h"
#include "log/log_line.h"
#include "log/messages.h"

namespace Kavren {
namespace {

// The manager's lock. It outlives the manager, so it also guards making and
// destroying it: gInstance, gReferences, and every member of the manager
// (the entry list and the record counts). Recursive, because a target may log
// while a record is being dispatched. Lock order: this lock, then a target's.
std::recursive_mutex& ManagerMutex() noexcept {
  static std::recursive_mutex mutex;
  return mutex;
}

// The manager lives in static storage: making it never fails.
alignas(LogManager) unsigned char gStorage[sizeof(LogManager)];
std::atomic<LogManager*> gInstance{nullptr};
std::int64_t gReferences = 0;  // guarded by the manager's lock

// The manager's filter settings. Written only under the manager's lock, read
// without it by the pre-filter of every log call, so a dropped record costs
// only these tests.
std::atomic<bool> gSuspended{false};
std::atomic<std::int32_t> gMinimumLevel{kLogLevelWarn};
std::atomic<std::uint64_t> gExcludedGroups{kLogGroupXtr};

// The built-in patterns fit the string's inline buffer, so setting them cannot fail.
void SetBuiltInPattern(LogTarget& target, const char* pattern) noexcept {
  const bool set = target.SetPattern(pattern);
  static_cast<void>(set);
}

void RemoveAll(std::vector<LogTargetEntry*>& entries, LogTargetEntry* entry) noexcept {
  std::erase(entries, entry);
}

}  // namespace

LogManager::LogManager() noexcept {
  gSuspended.store(false);
  gMinimumLevel.store(kLogLevelWarn);
  gExcludedGroups.store(kLogGroupXtr);

  SetBuiltInPattern(stdErr_, detail::kConsolePattern);
  stdErr_.SetLevel(kLogLevelWarn);
  stdErr_.SetGroups(kLogGroupDbg, kLogGroupGen);
  SetBuiltInPattern(stdOut_, detail::kStdOutPattern);
  stdOut_.SetLevel(kLogLevelWarn);
  stdOut_.SetGroups(kLogGroupGen, kLogGroupDbg);
  SetBuiltInPattern(debugger_, detail::kConsolePattern);
  debugger_.SetLevel(kLogLevelWarn);
  debugger_.SetGroups(kLogGroupDbg, 0);

  CaptureLogProcessName();

  // The manager is not published yet, so attach directly rather than through
  // AttachTarget. Capacity for a few targets, so that attaching rarely allocates.
  try {
    entries_.reserve(4);
    for (LogTarget* target :
         {static_cast<LogTarget*>(&stdErr_), static_cast<LogTarget*>(&debugger_)}) {
      if (!target->attached_.load()) {
        entries_.push_back(target->Entry());
        target->attached_.store(true);
      }
    }
  } catch (...) {
    // Out of memory: the manager starts with fewer built-in targets attached.
  }
}

LogManager::~LogManager() {
  while (!entries_.empty()) {
    LogTargetEntry* entry = entries_.back();
    entry->Detach(entry);
    RemoveAll(entries_, entry);
  }
}

LogManager& LogManager::Locked() noexcept {
  LogManager* manager = gInstance.load(std::memory_order_relaxed);
  if (manager == nullptr) {
    manager = new (gStorage) LogManager();
    gInstance.store(manager, std::memory_order_release);
  }
  return *manager;
}

void LogManager::Acquire() noexcept {
  std::lock_guard lock(ManagerMutex());
  ++gReferences;
  Locked();
}

void LogManager::Release() noexcept {
  std::lock_guard lock(ManagerMutex());
  if (gReferences == 0) return;
  if (--gReferences > 0) return;
  LogManager* manager = gInstance.load(std::memory_order_relaxed);
  if (manager == nullptr) return;
  // The instance stays published while it is torn down, so that targets
  // detaching themselves find it.
  manager->~LogManager();
  gInstance.store(nullptr, std::memory_order_release);
}

void LogManager::EnsureExists() noexcept {
  if (gInstance.load(std::memory_order_acquire) != nullptr) return;
  std::lock_guard lock(ManagerMutex());
  Locked();
}

bool LogManager::Exists() noexcept { return gInstance.load(std::memory_order_acquire) != nullptr; }

void LogManager::SetMinimumLevel(std::int32_t level) noexcept {
  std::lock_guard lock(ManagerMutex());
  Locked();
  gMinimumLevel.store(level);
}

std::int32_t LogManager::GetMinimumLevel() noexcept {
  std::lock_guard lock(ManagerMutex());
  Locked();
  return gMinimumLevel.load();
}

void LogManager::SetExcludedGroups(std::uint64_t groups) noexcept {
  std::lock_guard lock(ManagerMutex());
  Locked();
  gExcludedGroups.store(groups);
}

std::uint64_t LogManager::GetExcludedGroups() noexcept {
  std::lock_guard lock(ManagerMutex());
  Locked();
  return gExcludedGroups.load();
}

void LogManager::Suspend() noexcept {
  std::lock_guard lock(ManagerMutex());
  Locked();
  gSuspended.store(true);
}

void LogManager::Resume() noexcept {
  std::lock_guard lock(ManagerMutex());
  Locked();
  gSuspended.store(false);
}

bool LogManager::IsSuspended() noexcept {
  std::lock_guard lock(ManagerMutex());
  Locked();
  return gSuspended.load();
}

void LogManager::AttachEntry(LogTargetEntry* entry) noexcept {
  if (entry == nullptr) return;
  std::lock_guard lock(ManagerMutex());
  try {
    Locked().entries_.push_back(entry);
  } catch (...) {
    // Out of memory: the entry stays off the list.
  }
}

void LogManager::DetachEntry(LogTargetEntry* entry) noexcept {
  std::lock_guard lock(ManagerMutex());
  if (LogManager* manager = gInstance.load(std::memory_order_relaxed)) {
    RemoveAll(manager->entries_, entry);
  }
}

LogTargetEntry* LogManager::FindTarget(const char* name) noexcept {
  if (name == nullptr) return nullptr;
  std::lock_guard lock(ManagerMutex());
  for (LogTargetEntry* entry : Locked().entries_) {
    const char* entryName = entry->GetName(entry);
    if (entryName != nullptr && std::strcmp(entryName, name) == 0) return entry;
  }
  return nullptr;
}

LogTargetEntry* LogManager::StdOutTarget() noexcept {
  std::lock_guard lock(ManagerMutex());
  return Locked().stdOut_.Entry();
}

LogTargetEntry* LogManager::StdErrTarget() noexcept {
  std::lock_guard lock(ManagerMutex());
  return Locked().stdErr_.Entry();
}

LogTargetEntry* LogManager::DebuggerTarget() noexcept {
  std::lock_guard lock(ManagerMutex());
  return Locked().debugger_.Entry();
}

LogRecordCounts LogManager::RecordCounts() noexcept {
  std::lock_guard lock(ManagerMutex());
  return Locked().counts_;
}

void LogManager::AttachTarget(LogTarget& target) noexcept {
  std::lock_guard lock(ManagerMutex());
  LogManager& manager = Locked();
  if (target.attached_.load()) return;
  try {
    manager.entries_.push_back(target.Entry());
    target.attached_.store(true, std::memory_order_release);
  } catch (...) {
    // Out of memory: the target stays detached.
  }
}

void LogManager::DetachTarget(LogTarget& target) noexcept {
  std::lock_guard lock(ManagerMutex());
  target.attached_.store(false, std::memory_order_release);
  // Occurrences are removed even when the flag is off: an entry attached
  // through the raw list operation must not outlive its target.
  if (LogManager* manager = gInstance.load(std::memory_order_relaxed)) {
    RemoveAll(manager->entries_, target.Entry());
  }
}

void LogManager::LogV(std::int32_t level, std::uint64_t groups, const char* format,
                      std::va_list arguments) noexcept {
  EnsureExists();
  // Filters come before formatting, so a dropped record costs only these tests.
  if (gSuspended.load(std::memory_order_relaxed)) return;
  if (level < gMinimumLevel.load(std::memory_order_relaxed)) return;
  if ((groups & gExcludedGroups.load(std::memory_order_relaxed)) != 0) return;

  LogRecord record;
  if (format == nullptr) {
    record.message[0] = '\0';
  } else {
    const int written = std::vsnprintf(record.message, sizeof record.message, format, arguments);
    if (written < 0) record.message[0] = '\0';
  }
  record.time = Platform::CaptureLocalTime();
  record.level = level;
  record.groups = groups;

  std::lock_guard lock(ManagerMutex());
  Locked().Dispatch(record);
}

void LogManager::Dispatch(const LogRecord& record) noexcept {
  if (record.level == kLogLevelWarn) ++counts_.warnings;
  if (record.level == kLogLevelError) ++counts_.errors;
  // By index: a target that logs or detaches while writing changes the list.
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    LogTargetEntry* entry = entries_[i];
    if (record.level < entry->GetLevel(entry)) continue;
    if (record.groups != 0) {
      if ((record.groups & entry->GetExcludedGroups(entry)) != 0) continue;
      const std::uint64_t included = entry->GetIncludedGroups(entry);
      if (included != 0 && (record.groups & included) == 0) continue;
    }
    entry->Write(entry, &record);
  }
}

namespace {

std::int32_t ApiInterfaceVersion() { return 1; }
void ApiAcquire() { LogManager::Acquire(); }
void ApiRelease() { LogManager::Release(); }
void ApiSetMinimumLevel(std::int32_t level) { LogManager::SetMinimumLevel(level); }
std::int32_t ApiGetMinimumLevel() { return LogManager::GetMinimumLevel(); }
void ApiSetExcludedGroups(std::uint64_t groups) { LogManager::SetExcludedGroups(groups); }
std::uint64_t ApiGetExcludedGroups() { return LogManager::GetExcludedGroups(); }
void ApiSuspend() { LogManager::Suspend(); }
void ApiResume() { LogManager::Resume(); }
void ApiAttachEntry(LogTargetEntry* entry) { LogManager::AttachEntry(entry); }
void ApiDetachEntry(LogTargetEntry* entry) { LogManager::DetachEntry(entry); }
LogTargetEntry* ApiFindTarget(const char* name) { return LogManager::FindTarget(name); }
LogTargetEntry* ApiStdOutTarget() { return LogManager::StdOutTarget(); }
LogTargetEntry* ApiStdErrTarget() { return LogManager::StdErrTarget(); }
LogTargetEntry* ApiDebuggerTarget() { return LogManager::DebuggerTarget(); }
std::uint64_t ApiRegisterGroup(const char* tag) { return RegisterLogGroup(tag); }
std::size_t ApiGroupsToText(std::uint64_t mask, char* out, std::size_t capacity) {
  return LogGroupsToText(mask, out, capacity);
}
std::size_t ApiRenderLine(const char* pattern, const LogRecord* record, char* out,
                          std::size_t capacity) {
  if (record == nullptr) {
    if (out != nullptr && capacity > 0) out[0] = '\0';
    return 0;
  }
  return RenderLogLine(pattern, *record, out, capacity);
}
const char* ApiLevelTag(std::int32_t level) { return LogLevelTag(level); }
const char* ApiProcessName() { return LogProcessName(); }
void ApiCaptureLocalTime(LogTime* time) {
  if (time != nullptr) *time = Platform::CaptureLocalTime();
}
std::size_t ApiFormatTime(const LogTime* time, char* out, std::size_t capacity) {
  return time == nullptr ? 0 : FormatLogTime(*time, out, capacity);
}
std::size_t ApiFormatTimeForFileName(const LogTime* time, char* out, std::size_t capacity) {
  return time == nullptr ? 0 : FormatLogTimeForFileName(*time, out, capacity);
}
void ApiLogV(std::int32_t level, std::uint64_t groups, const char* format, std::va_list arguments) {
  LogManager::LogV(level, groups, format, arguments);
}

constexpr LogApi kLogApi{
    ApiInterfaceVersion,
    ApiAcquire,
    ApiRelease,
    ApiSetMinimumLevel,
    ApiGetMinimumLevel,
    ApiSetExcludedGroups,
    ApiGetExcludedGroups,
    ApiSuspend,
    ApiResume,
    ApiAttachEntry,
    ApiDetachEntry,
    ApiFindTarget,
    ApiStdOutTarget,
    ApiStdErrTarget,
    ApiDebuggerTarget,
    ApiRegisterGroup,
    ApiGroupsToText,
    ApiRenderLine,
    ApiLevelTag,
    ApiProcessName,
    ApiCaptureLocalTime,
    ApiFormatTime,
    ApiFormatTimeForFileName,
    ApiLogV,
};

}  // namespace

const LogApi& GetLogApi() noexcept { return kLogApi; }

void LogVPrintf(std::int32_t level, std::uint64_t groups, const char* format,
                std::va_list arguments) noexcept {
  LogManager::LogV(level, groups, format, arguments);
}

void LogPrintf(std::int32_t level, std::uint32_t groupsLow, std::uint32_t groupsHigh,
               const char* format, ...) noexcept {
  std::va_list arguments;
  va_start(arguments, format);
  LogManager::LogV(level, (static_cast<std::uint64_t>(groupsHigh) << 32) | groupsLow, format,
                   arguments);
  va_end(arguments);
}

}  // namespace Kavren
