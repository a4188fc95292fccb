// The plugin's heap accounting: one allocator whose counters the host reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace Kavren::Accounting {

/// The five heap operations, replaceable together. Each function receives
/// `user` first. `allocate` and `reallocate` answer null when the heap refuses.
struct Hooks {
  void* (*allocate)(void* user, std::size_t size);
  void (*free)(void* user, void* block);
  void* (*reallocate)(void* user, void* block, std::size_t size);
  char* (*duplicateText)(void* user, const char* text);
  std::size_t (*blockSize)(void* user, const void* block);
  void* user;
};

/// The six process-wide counters, in the order of the host's memory statistics.
struct Counters {
  std::uint64_t peakBytes;
  std::uint64_t peakBlocks;
  std::uint64_t allocatedBytes;
  std::uint64_t allocations;
  std::uint64_t freedBytes;
  std::uint64_t frees;
};

/// [any thread] A heap block of at least `size` bytes; null when the heap refuses
/// (counted as an allocation of 0 bytes).
[[nodiscard]] void* Allocate(std::size_t size);
/// [any thread] Returns a block of Allocate, Reallocate or DuplicateText; null is ignored.
void Free(void* block);
/// [any thread] Resizes `block` (null allocates). Null when the heap refuses, in which
/// case `block` stays valid and owned by the caller. A size of 0 frees a non-null
/// `block` and answers null.
[[nodiscard]] void* Reallocate(void* block, std::size_t size);
/// [any thread] A heap copy of the zero-terminated `text`; null when the heap refuses
/// or `text` is null.
[[nodiscard]] char* DuplicateText(const char* text);
/// [any thread] The usable size of a heap block; 0 for null.
[[nodiscard]] std::size_t BlockSize(const void* block);

/// The counting hooks over the process heap, installed from the start.
[[nodiscard]] const Hooks& CountingHooks();
/// Replaces the five operations as a set and answers the set that was in force.
/// `hooks` must stay valid while installed; null restores the counting hooks.
/// Blocks must be freed by the set that allocated them.
const Hooks* InstallHooks(const Hooks* hooks);

/// [any thread] The counters, read one by one (not a single atomic snapshot).
[[nodiscard]] Counters ReadCounters();
/// Bytes in use now: allocatedBytes - freedBytes.
[[nodiscard]] std::uint64_t BytesInUse();

/// [per thread] While one exists on a thread, the counting hooks of that thread allocate
/// and free without counting. For process-lived diagnostics built at load (and released
/// at unload), which are not the module's memory; a block must be freed under the same
/// regime it was allocated in.
class UncountedScope {
 public:
  UncountedScope() noexcept;
  ~UncountedScope();
  UncountedScope(const UncountedScope&) = delete;
  UncountedScope& operator=(const UncountedScope&) = delete;
};

/// A standard allocator over Allocate and Free, for containers that must be
/// counted even where operator new is not replaced.
template <class T>
class Allocator {
 public:
  using value_type = T;

  Allocator() noexcept = default;
  // Implicit: containers convert an allocator to its rebound type.
  template <class U>
  Allocator(const Allocator<U>&) noexcept {}  // NOLINT(google-explicit-constructor)

  [[nodiscard]] T* allocate(std::size_t count) {
    static_assert(alignof(T) <= alignof(std::max_align_t), "heap blocks are not over-aligned");
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    void* block = Allocate(count * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t) noexcept { Free(block); }

  template <class U>
  bool operator==(const Allocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace Kavren::Accounting
