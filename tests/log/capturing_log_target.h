// A log target for tests that keeps every record it receives and its rendered line.
#pragma once

#include <string>
#include <vector>

#include "log/log_target.h"

namespace Kavren::testing {

struct CapturedRecord {
  std::int32_t level;
  std::uint64_t groups;
  std::string message;
  std::string line;
};

class CapturingLogTarget final : public LogTarget {
 public:
  ~CapturingLogTarget() override { Detach(); }

  const char* GetName() const noexcept override { return "CapturingLogTarget"; }

  std::vector<CapturedRecord> Records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }

  std::vector<std::string> Messages() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> messages;
    for (const CapturedRecord& record : records_) messages.push_back(record.message);
    return messages;
  }

 protected:
  bool DoWrite(const LogRecord& record) override {
    char line[kLogBufferSize];
    RenderLine(record, line, sizeof line);
    records_.push_back({record.level, record.groups, record.message, line});
    return true;
  }

 private:
  std::vector<CapturedRecord> records_;  // guarded by the target's lock
};

}  // namespace Kavren::testing
