// The assertion report: a failed internal check becomes one error log record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Kavren {

/// Logs the report of a failed check at level 2 in group "DBG". Any text may
/// be empty or null and `line` 0 for none. Never fails; whether to go on is
/// the caller's decision.
void ReportAssertion(const char* expression, const char* description, const char* file,
                     std::int32_t line, const char* function) noexcept;

/// Builds the report text into `out` (cut to fit, always terminated when
/// `capacity` > 0) and returns its length.
std::size_t FormatAssertionReport(const char* expression, const char* description, const char* file,
                                  std::int32_t line, const char* function, char* out,
                                  std::size_t capacity) noexcept;

}  // namespace Kavren
