// The capturing log target of the http tests.
#include "http/log_capture.h"

namespace Kavren::Testing {

LogCapture::LogCapture() {
  LogTargetSettings settings;
  settings.level = kLogLevelOkay;
  Configure(*this, settings);
}

LogCapture::~LogCapture() { Detach(); }

bool LogCapture::DoWrite(const LogRecord& record) {
  entries.push_back({record.level, record.groups, record.message});
  return true;
}

}  // namespace Kavren::Testing
