// A log target that keeps every record it receives, attached while it lives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log/log_target.h"

namespace Kavren::Testing {

class LogCapture final : public LogTarget {
 public:
  struct Entry {
    std::int32_t level;
    std::uint64_t groups;
    std::string message;
  };

  LogCapture();
  ~LogCapture() override;

  /// The records received so far (read after the logging code has returned).
  std::vector<Entry> entries;

 protected:
  bool DoWrite(const LogRecord& record) override;
};

}  // namespace Kavren::Testing
