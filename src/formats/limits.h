// Bounds shared by the data-format readers.
#pragma once

#include <cstddef>

namespace Kavren {

/// The deepest container nesting any reader accepts; deeper input is refused, so
/// the recursive operations on values (reset, copy, visit, write) stay shallow.
inline constexpr std::size_t kMaxNestingDepth = 512;

}  // namespace Kavren
