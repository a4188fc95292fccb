// The capturing log target shared by the tests of the log, binding, http and plugin layers.
#include <mutex>

#include "log/log_manager.h"
#include "support/capturing_log_target.h"

namespace Kavren::Testing {

CapturingLogTarget::CapturingLogTarget(const LogTargetSettings& settings) : holdsManager_(true) {
  LogManager::Acquire();
  Configure(*this, settings);
}

CapturingLogTarget::~CapturingLogTarget() {
  Detach();
  if (holdsManager_) LogManager::Release();
}

LogTargetSettings CapturingLogTarget::EveryRecord() {
  LogTargetSettings settings;
  settings.level = kLogLevelOkay;
  settings.pattern = "#M";
  return settings;
}

std::vector<CapturedRecord> CapturingLogTarget::Records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::vector<std::string> CapturingLogTarget::Messages() const { return Collect(std::nullopt); }

std::vector<std::string> CapturingLogTarget::Messages(std::int32_t level) const {
  return Collect(level);
}

std::vector<std::string> CapturingLogTarget::Collect(std::optional<std::int32_t> level) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> messages;
  for (const CapturedRecord& record : records_) {
    if (!level || record.level == *level) messages.push_back(record.message);
  }
  return messages;
}

bool CapturingLogTarget::DoWrite(const LogRecord& record) {
  char line[kLogBufferSize];
  RenderLine(record, line, sizeof line);
  records_.push_back(CapturedRecord{record.level, record.groups, record.message, line});
  return true;
}

}  // namespace Kavren::Testing
