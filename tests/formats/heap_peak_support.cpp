// Test helper: counting hooks for the accounting that keep their own peak.
#include "formats/heap_peak_support.h"

#include <malloc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace Kavren::Testing {
namespace {

// Signed: blocks allocated before the scope may be freed inside it.
std::int64_t held = 0;
std::int64_t peak = 0;

void Count(void* block) {
  held += static_cast<std::int64_t>(malloc_usable_size(block));
  if (held > peak) peak = held;
}

void* Allocate(void*, std::size_t size) {
  void* block = std::malloc(size);
  if (block != nullptr) Count(block);
  return block;
}

void Free(void*, void* block) {
  if (block == nullptr) return;
  held -= static_cast<std::int64_t>(malloc_usable_size(block));
  std::free(block);
}

void* Reallocate(void*, void* block, std::size_t size) {
  const std::size_t old = block != nullptr ? malloc_usable_size(block) : 0;
  void* resized = std::realloc(block, size);
  if (resized == nullptr) return nullptr;
  held -= static_cast<std::int64_t>(old);
  Count(resized);
  return resized;
}

char* DuplicateText(void*, const char* text) {
  if (text == nullptr) return nullptr;
  const std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(Allocate(nullptr, size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

std::size_t BlockSize(void*, const void* block) {
  return block != nullptr ? malloc_usable_size(const_cast<void*>(block)) : 0;
}

const Accounting::Hooks kPeakHooks{Allocate, Free, Reallocate, DuplicateText, BlockSize, nullptr};

}  // namespace

HeapPeak::HeapPeak() : previous_(Accounting::InstallHooks(&kPeakHooks)) {
  held = 0;
  peak = 0;
}

HeapPeak::~HeapPeak() { Accounting::InstallHooks(previous_); }

std::size_t HeapPeak::Peak() const { return static_cast<std::size_t>(peak); }

}  // namespace Kavren::Testing
