// MessagePack bytes to binding values (reading only).
#pragma once

#include <cstddef>

#include "binding/value.h"

namespace Kavren {

/// Reads the first complete MessagePack value of `data`. `consumed` receives the
/// number of bytes read, less than `size` when bytes follow that value; judging
/// them is the caller's business. Input that ends inside open containers reads
/// as the items seen so far, without failure. Ext and timestamp types are refused,
/// map keys must be strings, and containers nest at most 512 levels deep. A limit of
/// the value tree (ValueLimitError) fails with "Value too large at position N: <limit>.";
/// a refused allocation throws std::bad_alloc.
[[nodiscard]] BindingResult ReadMessagePack(const void* data, std::size_t size,
                                            std::size_t& consumed);

/// True when `size` is not 0 and the first byte starts a container (fixmap,
/// fixarray, array 16/32, map 16/32).
[[nodiscard]] bool IsMessagePackData(const void* data, std::size_t size);

}  // namespace Kavren
