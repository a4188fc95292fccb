// Test helper: the heap bytes a piece of code holds at its peak, as the accounting counts.
#pragma once

#include <cstddef>

#include "util/accounting.h"

namespace Kavren::Testing {

/// While it exists, every allocation of the accounting (and, in the formats tests, every
/// operator new) is counted by this scope; Peak is the most bytes held at once since it
/// was made, over what was held when it was made. Blocks allocated in the scope should be
/// freed in it. One thread at a time.
class HeapPeak {
 public:
  HeapPeak();
  ~HeapPeak();
  HeapPeak(const HeapPeak&) = delete;
  HeapPeak& operator=(const HeapPeak&) = delete;

  [[nodiscard]] std::size_t Peak() const;

 private:
  const Accounting::Hooks* previous_;
};

/// The bound every reader keeps for an input of `bytes` bytes: 48 per byte plus 1 MiB.
[[nodiscard]] constexpr std::size_t ReadPeakBound(std::size_t bytes) {
  return 48 * bytes + (std::size_t{1} << 20);
}

}  // namespace Kavren::Testing
