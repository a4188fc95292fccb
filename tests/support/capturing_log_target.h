// A log target for tests that keeps every record it receives and its rendered line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "log/log_target.h"

namespace Kavren::Testing {

/// One record as the target received it, with the line its pattern rendered.
struct CapturedRecord {
  std::int32_t level;
  std::uint64_t groups;
  std::string message;
  std::string line;
};

/// Detached by default, for tests that configure it themselves. Given settings, it holds
/// the log manager (so that a module's release cannot destroy the manager under the
/// target) and stays attached with them while it lives. The records are read under the
/// target's lock, so a test may read them while other threads log.
class CapturingLogTarget final : public LogTarget {
 public:
  CapturingLogTarget() = default;
  explicit CapturingLogTarget(const LogTargetSettings& settings);
  ~CapturingLogTarget() override;

  /// Every level and group, each line the message alone.
  [[nodiscard]] static LogTargetSettings EveryRecord();

  [[nodiscard]] const char* GetName() const noexcept override { return "CapturingLogTarget"; }
  [[nodiscard]] std::vector<CapturedRecord> Records() const;
  /// The messages of all records, or of those at `level`.
  [[nodiscard]] std::vector<std::string> Messages() const;
  [[nodiscard]] std::vector<std::string> Messages(std::int32_t level) const;

 protected:
  bool DoWrite(const LogRecord& record) override;

 private:
  [[nodiscard]] std::vector<std::string> Collect(std::optional<std::int32_t> level) const;

  bool holdsManager_ = false;
  std::vector<CapturedRecord> records_;  // guarded by the target's lock
};

}  // namespace Kavren::Testing
