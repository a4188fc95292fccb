// Test helpers of the plugin core: a log target that keeps what it receives.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "log/log_target.h"

namespace Kavren::Testing {

/// One record as a target received it.
struct CapturedRecord {
  std::int32_t level;
  std::uint64_t groups;
  std::string message;
};

/// Attached with level 0 and no group filters while it lives; holds the log
/// manager so that a module's release cannot destroy it under the target.
class CaptureLogTarget final : public LogTarget {
 public:
  CaptureLogTarget();
  ~CaptureLogTarget() override;

  [[nodiscard]] const char* GetName() const noexcept override { return "CaptureLogTarget"; }
  [[nodiscard]] std::vector<CapturedRecord> Records() const;
  /// The messages of the records at `level`.
  [[nodiscard]] std::vector<std::string> Messages(std::int32_t level) const;

 protected:
  bool DoWrite(const LogRecord& record) override;

 private:
  mutable std::mutex mutex_;  // guards records_
  std::vector<CapturedRecord> records_;
};

}  // namespace Kavren::Testing
