// Reporting failures that stop at the host boundary.
#include "plugin/boundary.h"

#include <exception>

#include "log/log.h"
#include "plugin/messages.h"

namespace Kavren {

void ReportHostCallFailure(const char* call, const char* reason) noexcept {
  LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0,
            PluginMessages::kHostCallFailed, call, reason);
}

void ReportCurrentException(const char* call) noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    ReportHostCallFailure(call, error.what());
  } catch (...) {
    ReportHostCallFailure(call, PluginMessages::kUnknownException);
  }
}

}  // namespace Kavren
