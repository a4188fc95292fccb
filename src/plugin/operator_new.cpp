// Routes every operator new/delete of the plugin through the accounting allocator.
//
// Linked into the shared library only: with the C++ runtime linked in
// statically, containers and strings of the runtime itself are counted too.
#include <cstddef>
#include <cstdint>
#include <new>

#include "util/accounting.h"

namespace {

// The standard loop: retry through the new-handler, throw when there is none.
void* NewBlock(std::size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    void* block = Kavren::Accounting::Allocate(size);
    if (block != nullptr) return block;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

void* NewBlockNoThrow(std::size_t size) noexcept {
  try {
    return NewBlock(size);
  } catch (...) {
    return nullptr;
  }
}

bool NeedsOwnAlignment(std::align_val_t alignment) {
  return static_cast<std::size_t>(alignment) > __STDCPP_DEFAULT_NEW_ALIGNMENT__;
}

// Over-aligned blocks: take a larger heap block, place the object at the first
// aligned address that leaves room for one pointer before it, and keep the heap
// block's address in that pointer.
void* NewAlignedBlock(std::size_t size, std::align_val_t alignment) {
  if (!NeedsOwnAlignment(alignment)) return NewBlock(size);
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t extra = align + sizeof(void*);
  if (size > static_cast<std::size_t>(-1) - extra) throw std::bad_alloc();
  void* heapBlock = NewBlock(size + extra);
  const auto start = reinterpret_cast<std::uintptr_t>(heapBlock) + sizeof(void*);
  const std::uintptr_t aligned = (start + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
  reinterpret_cast<void**>(aligned)[-1] = heapBlock;
  return reinterpret_cast<void*>(aligned);
}

void* NewAlignedBlockNoThrow(std::size_t size, std::align_val_t alignment) noexcept {
  try {
    return NewAlignedBlock(size, alignment);
  } catch (...) {
    return nullptr;
  }
}

void DeleteBlock(void* block) noexcept { Kavren::Accounting::Free(block); }

void DeleteAlignedBlock(void* block, std::align_val_t alignment) noexcept {
  if (block == nullptr) return;
  if (!NeedsOwnAlignment(alignment)) return DeleteBlock(block);
  DeleteBlock(static_cast<void**>(block)[-1]);
}

}  // namespace

void* operator new(std::size_t size) { return NewBlock(size); }
void* operator new[](std::size_t size) { return NewBlock(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return NewBlockNoThrow(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return NewBlockNoThrow(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return NewAlignedBlock(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return NewAlignedBlock(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return NewAlignedBlockNoThrow(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return NewAlignedBlockNoThrow(size, alignment);
}

void operator delete(void* block) noexcept { DeleteBlock(block); }
void operator delete[](void* block) noexcept { DeleteBlock(block); }
void operator delete(void* block, std::size_t) noexcept { DeleteBlock(block); }
void operator delete[](void* block, std::size_t) noexcept { DeleteBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { DeleteBlock(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { DeleteBlock(block); }
void operator delete(void* block, std::align_val_t alignment) noexcept {
  DeleteAlignedBlock(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment) noexcept {
  DeleteAlignedBlock(block, alignment);
}
void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept {
  DeleteAlignedBlock(block, alignment);
}
void operator delete[](void* block, std::size_t, std::align_val_t alignment) noexcept {
  DeleteAlignedBlock(block, alignment);
}
void operator delete(void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  DeleteAlignedBlock(block, alignment);
}
void operator delete[](void* block, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  DeleteAlignedBlock(block, alignment);
}
