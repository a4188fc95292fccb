// Log levels, group bits, the log record and the printf-style log call.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "util/platform.h"

namespace Kavren {

// Levels: a record is dropped when its level is below a threshold.
inline constexpr std::int32_t kLogLevelOkay = 0;
inline constexpr std::int32_t kLogLevelWarn = 1;
inline constexpr std::int32_t kLogLevelError = 2;
inline constexpr std::int32_t kLogLevelAlways = 3;

// Group bits of the initial group table (bit i is slot i).
inline constexpr std::uint64_t kLogGroupDbg = 1ULL << 0;
inline constexpr std::uint64_t kLogGroupGen = 1ULL << 1;
inline constexpr std::uint64_t kLogGroupXtr = 1ULL << 2;
inline constexpr std::uint64_t kLogGroupPrf = 1ULL << 3;
inline constexpr std::uint64_t kLogGroupMem = 1ULL << 4;
inline constexpr std::uint64_t kLogGroupDsk = 1ULL << 5;
inline constexpr std::uint64_t kLogGroupNet = 1ULL << 6;
inline constexpr std::uint64_t kLogGroupTst = 1ULL << 7;

/// Size of the message buffer of a record and of a rendered line, NUL included.
inline constexpr std::size_t kLogBufferSize = 4096;

using LogTime = Platform::LocalTime;

/// One log record: made on the caller's stack, never on the heap.
struct LogRecord {
  LogTime time;
  std::int32_t level;
  std::uint64_t groups;
  char message[kLogBufferSize];  // at most 4095 characters, always terminated
};

/// Logs a printf-style message with a level and a group mask given as two
/// 32-bit halves. Makes the log manager if none exists; never fails or throws.
/// Dropped records (suspended, level below the minimum, excluded group) cost
/// no formatting.
[[gnu::format(printf, 4, 5)]] void LogPrintf(std::int32_t level, std::uint32_t groupsLow,
                                             std::uint32_t groupsHigh, const char* format,
                                             ...) noexcept;

/// The same with a 64-bit group mask and an argument list.
void LogVPrintf(std::int32_t level, std::uint64_t groups, const char* format,
                std::va_list arguments) noexcept;

/// The framework's debug trace: called at fixed points, disabled, writes nothing.
[[gnu::format(printf, 1, 2)]] inline void DebugTrace(const char* /*format*/, ...) noexcept {}

}  // namespace Kavren
