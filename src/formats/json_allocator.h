// The allocator RapidJSON's reader stack and string buffers take: the heap accounting.
#pragma once

#include <rapidjson/stringbuffer.h>

#include <cstddef>
#include <new>

#include "util/accounting.h"

namespace Kavren {

/// RapidJSON's allocator concept over the heap accounting, so that the reader's stack and
/// the writer's buffer are counted with the plugin's other memory. RapidJSON does not
/// check for a refused block: a refusal throws std::bad_alloc, and the owners of those
/// buffers (the reader, the string buffer) free what they hold as the exception passes.
class JsonAllocator {
 public:
  static constexpr bool kNeedFree = true;

  void* Malloc(std::size_t size) {
    if (size == 0) return nullptr;
    void* block = Accounting::Allocate(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  void* Realloc(void* block, std::size_t, std::size_t newSize) {
    if (newSize == 0) {
      Accounting::Free(block);
      return nullptr;
    }
    // On a refusal the old block stays with its owner, which frees it.
    void* resized = Accounting::Reallocate(block, newSize);
    if (resized == nullptr) throw std::bad_alloc();
    return resized;
  }
  static void Free(void* block) { Accounting::Free(block); }
};

/// RapidJSON's string buffer over the accounting.
using JsonStringBuffer = rapidjson::GenericStringBuffer<rapidjson::UTF8<>, JsonAllocator>;

}  // namespace Kavren
