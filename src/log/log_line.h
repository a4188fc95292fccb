// Rendering a record into a line by pattern, and the pieces a line is made of.
#pragma once

#include <cstddef>
#include <cstdint>

#include "log/log.h"

namespace Kavren {

/// The six-character tag of a level; "  ????" for a level outside 0 to 3.
[[nodiscard]] const char* LogLevelTag(std::int32_t level) noexcept;

/// Writes the time as "YYYY-MM-DDThh:mm:ss.mmm"; returns the length (cut to fit).
std::size_t FormatLogTime(const LogTime& time, char* out, std::size_t capacity) noexcept;
/// Writes the time as "YYYY-MM-DDThh-mm-ss", usable in a file name.
std::size_t FormatLogTimeForFileName(const LogTime& time, char* out, std::size_t capacity) noexcept;

/// The executable's file name, read once when the log manager is first made;
/// "<unknown>" until then. The text lives for the whole process.
[[nodiscard]] const char* LogProcessName() noexcept;
/// Reads the process name from the executable's path (once per process).
void CaptureLogProcessName() noexcept;

/// Renders `record` by `pattern` into `out` and returns the line's length.
/// Tokens: #D time, #L level tag, #G group tags, #M message, #E process name,
/// #T thread id, #H seconds of the high-resolution clock; "#x" gives x and a
/// lone "#" at the end ends the line. The line always ends with one newline
/// (none added when it already ends with one) and is cut to `capacity` - 2
/// characters before that. `capacity` must be at least 3.
std::size_t RenderLogLine(const char* pattern, const LogRecord& record, char* out,
                          std::size_t capacity) noexcept;

}  // namespace Kavren
