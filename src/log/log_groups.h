// The process-wide table of 64 three-letter group tags behind the group bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Kavren {

inline constexpr std::int32_t kLogGroupSlots = 64;

/// Returns the bit of `tag` (compared on its first three characters,
/// case-sensitively), taking a new slot when no slot in use has it. Returns 0
/// for an empty tag or when all 64 slots are taken. Thread-safe.
[[nodiscard]] std::uint64_t RegisterLogGroup(const char* tag) noexcept;

/// The index of the last slot in use (7 in a fresh process).
[[nodiscard]] std::int32_t LastLogGroupInUse() noexcept;

/// The tag of slot `index`; "???" for a slot not in use or out of range.
[[nodiscard]] const char* LogGroupTag(std::int32_t index) noexcept;

/// Writes the tags of `mask`, lowest bit first, separated by ";", into `out`
/// (always terminated when `capacity` > 0, cut when full). Returns the length.
std::size_t LogGroupsToText(std::uint64_t mask, char* out, std::size_t capacity) noexcept;

}  // namespace Kavren
