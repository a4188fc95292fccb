// Where the host calls in: failures are logged here and never thrown further.
#pragma once

namespace Kavren {

/// Logs at level 2 (group DBG) that the host call `call` failed for `reason`.
/// Allocates nothing, so it can report an allocation failure.
void ReportHostCallFailure(const char* call, const char* reason) noexcept;

/// Logs the exception in flight (call from a catch block) as ReportHostCallFailure does.
void ReportCurrentException(const char* call) noexcept;

}  // namespace Kavren
