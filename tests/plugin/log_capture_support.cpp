// The capturing log target of the plugin core's tests.
#include "log_capture_support.h"

#include "log/log_manager.h"

namespace Kavren::Testing {

CaptureLogTarget::CaptureLogTarget() {
  LogManager::Acquire();
  LogTargetSettings settings;
  settings.level = kLogLevelOkay;
  settings.pattern = "#M";
  Configure(*this, settings);
}

CaptureLogTarget::~CaptureLogTarget() {
  Detach();
  LogManager::Release();
}

std::vector<CapturedRecord> CaptureLogTarget::Records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

std::vector<std::string> CaptureLogTarget::Messages(std::int32_t level) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> messages;
  for (const CapturedRecord& record : records_) {
    if (record.level == level) messages.push_back(record.message);
  }
  return messages;
}

bool CaptureLogTarget::DoWrite(const LogRecord& record) {
  std::lock_guard lock(mutex_);
  records_.push_back(CapturedRecord{record.level, record.groups, record.message});
  return true;
}

}  // namespace Kavren::Testing
