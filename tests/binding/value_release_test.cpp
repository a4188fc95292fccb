// Releasing values when the heap refuses every request: Reset and destruction are
// noexcept, so an allocation inside them would end the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "binding/value.h"

namespace {

// While set, every allocation of this thread through the replaced operators below fails.
thread_local bool refuseAllocations = false;

void* Obtain(std::size_t size, std::size_t alignment) {
  if (refuseAllocations) return nullptr;
  if (size == 0) size = 1;
  if (alignment <= alignof(std::max_align_t)) return std::malloc(size);
  return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

void* ObtainOrThrow(std::size_t size, std::size_t alignment) {
  void* block = Obtain(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

// Refuses allocations for its lifetime.
struct RefusingHeap {
  RefusingHeap() { refuseAllocations = true; }
  ~RefusingHeap() { refuseAllocations = false; }
};

}  // namespace

// This test program's allocation functions, all forms, over malloc and free (which the
// compiler would otherwise take for a mismatch).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) { return ObtainOrThrow(size, 0); }
void* operator new[](std::size_t size) { return ObtainOrThrow(size, 0); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  return ObtainOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return ObtainOrThrow(size, static_cast<std::size_t>(alignment));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Obtain(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Obtain(size, 0); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Obtain(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return Obtain(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  std::free(block);
}
#pragma GCC diagnostic pop

namespace Kavren {
namespace {

// A tree deeper than any reader accepts, with every kind of content that is released
// piece by piece along the way: texts (pooled and on the heap), blobs, enumerations, wide
// collections and structures, spread over many provider pages. A tree without blobs is
// destroyed without a walk.
void Fill(BindingProperty& root, int depth, bool blobs = true) {
  BindingProperty* cursor = &root;
  for (int i = 0; i < depth; ++i) {
    if (i % 100 == 0) {
      BindingProperty& side = cursor->Member("side");
      for (int j = 0; j < 40; ++j) side.Member("k" + std::to_string(j)).SetSigned(j);
      side.Member("long").SetString(std::string(200, 'x'));
      if (blobs) side.Member("blob").SetBlobCopy(std::vector<std::uint8_t>(50, 1));
      for (int j = 0; j < 10; ++j) side.Member("list").Append().SetEnum(j, nullptr);
    }
    cursor = (i % 2 == 0) ? &cursor->Member("m" + std::to_string(i % 7)) : &cursor->AtGrow(1);
  }
  cursor->SetString("leaf");
}

TEST(BindingPropertyRelease, ResetAndDestructionAllocateNothing) {
  PageProvider& provider = PageProvider::Instance();
  const std::size_t pagesBefore = provider.PagesInUse();
  {
    RefusingHeap refusing;
    EXPECT_THROW(static_cast<void>(new int(1)), std::bad_alloc);  // the heap does refuse
  }
  BindingProperty reset;
  Fill(reset, 20000);
  std::optional<BindingProperty> destroyed(std::in_place);
  Fill(*destroyed, 20000);
  std::optional<BindingProperty> destroyedWithoutBlobs(std::in_place);
  Fill(*destroyedWithoutBlobs, 20000, false);
  BindingProperty memberReset;
  Fill(memberReset.Member("inner"), 5000);
  EXPECT_GT(provider.PagesInUse(), pagesBefore);
  {
    RefusingHeap refusing;
    memberReset.Member("inner").Reset();
    reset.Reset();
    destroyed.reset();
    destroyedWithoutBlobs.reset();
  }
  EXPECT_TRUE(reset.Is(ValueKind::kEmpty));
  EXPECT_EQ(reset.Pool()->EntryCount(), 0u);
  EXPECT_EQ(memberReset.Pool()->EntryCount(), 1u);  // the key "inner"
  EXPECT_TRUE(memberReset.Find("inner").Is(ValueKind::kEmpty));
  memberReset.Reset();
  EXPECT_EQ(provider.PagesInUse(), pagesBefore);
}

}  // namespace
}  // namespace Kavren
