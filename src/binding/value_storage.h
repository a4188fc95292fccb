// The pooled storage of a value's containers: element arrays, collection headers and the
// member operations of structures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "binding/value.h"

namespace Kavren::detail {

// The largest collection: the reference platform's vector limit for 16-byte cells.
inline constexpr std::size_t kMaxElements = 0x0FFFFFFF;
// Two elements first: pairs and short lists are the common case, and their arrays fit a
// pool block.
inline constexpr std::size_t kFirstCapacity = 2;
// Two members first, as for elements: small records and pairs are the common structures
// of documents, and their slot arrays then have no spare room.
inline constexpr std::size_t kFirstMemberCapacity = 2;

// Arrays of at most kLargestBlock bytes come from the tree's pool (most collections and
// structures read from documents are short), longer ones from the general heap through the
// pool (AllocateLarge), which frees them with the pool; the capacity tells which.
template <class T>
bool PooledArray(std::size_t count) {
  return count * sizeof(T) <= ValuePool::kLargestBlock;
}

template <class T>
T* AllocateArray(ValuePool* pool, std::size_t count) {
  const std::size_t bytes = count * sizeof(T);
  return static_cast<T*>(PooledArray<T>(count) ? pool->Allocate(bytes)
                                               : pool->AllocateLarge(bytes));
}

template <class T>
void FreeArray(ValuePool* pool, T* array, std::size_t count) noexcept {
  if (count == 0) return;
  if (PooledArray<T>(count)) {
    pool->Free(array, count * sizeof(T));
  } else {
    pool->FreeLarge(array);
  }
}

// Moves `size` entries into a new array of `wanted` entries. Cells and slots hold no
// pointers into themselves, so they move byte-wise.
template <class T>
T* Regrow(ValuePool* pool, T* array, std::size_t size, std::size_t capacity, std::size_t wanted) {
  T* grown = AllocateArray<T>(pool, wanted);
  if (size != 0) {
    std::memcpy(static_cast<void*>(grown), static_cast<const void*>(array), size * sizeof(T));
  }
  FreeArray(pool, array, capacity);
  return grown;
}

/// The capacity after `size` when an array of at least `first` entries is full; throws
/// ValueLimitError at kMaxElements.
std::size_t NextCapacity(std::size_t size, std::size_t first);

// The pooled header of a collection: the elements, contiguous, in order. A header is
// plain (its elements, if any, in an array of their own) or has room for kInlineCells
// elements right behind it in the same block: a collection's first elements go there, so
// a short collection (pairs and the like) takes one block while an empty one stays small.
// Growing past the inline room moves the collection to a plain header and an array.
// An empty collection shares one static header without room (Empty) and takes no block.
struct CollectionStorage : CollectionCells {
  static constexpr std::size_t kInlineCells = 2;

  /// The header of every collection that never had room for an element; never written.
  static CollectionStorage* Empty() {
    static CollectionStorage empty{{nullptr, 0, 0}};
    return &empty;
  }

  static constexpr std::size_t InlineBlockSize() {
    return sizeof(CollectionStorage) + kInlineCells * sizeof(BindingProperty);
  }

  // A plain header; its array is the caller's to set.
  static CollectionStorage* CreatePlain(ValuePool& pool) {
    return static_cast<CollectionStorage*>(pool.Allocate(sizeof(CollectionStorage)));
  }
  static CollectionStorage* CreateInline(ValuePool& pool) {
    auto* storage = static_cast<CollectionStorage*>(pool.Allocate(InlineBlockSize()));
    storage->begin = storage->InlineCells();
    storage->size = 0;
    storage->capacity = kInlineCells;
    return storage;
  }

  BindingProperty* InlineCells() { return reinterpret_cast<BindingProperty*>(this + 1); }
  // Arrays of their own always hold three cells or more, so they never come from the
  // headers' size class and cannot start right behind a plain header (Empty's is null):
  // that address lies inside the header's block when the header borrowed a larger one,
  // and is never a block's start otherwise.
  bool IsInline() { return begin == InlineCells(); }
  std::size_t Size() const { return size; }
  std::size_t Capacity() const { return capacity; }
  BindingProperty* end() const { return begin + size; }

  /// Releases the element array and the header (the cells must hold nothing that needs
  /// releasing).
  void Destroy(ValuePool* pool) noexcept {
    if (this == Empty()) return;
    if (IsInline()) {
      pool->Free(this, InlineBlockSize());
      return;
    }
    FreeArray(pool, begin, capacity);
    pool->Free(this, sizeof(CollectionStorage));
  }

  /// Makes room for `wanted` elements; the collection may move to another header, which
  /// is returned (the caller stores it in the collection's cell).
  CollectionStorage* Grow(ValuePool* pool, std::size_t wanted);
};

// Building containers: making them, making room and adding elements and members.
struct ValueStorage {
  static CollectionStorage& MakeCollectionStorage(BindingProperty& value) {
    CollectionStorage* storage = CollectionStorage::Empty();
    value.setKind(ValueKind::kCollection);
    value.payload_.collection = storage;
    return *storage;
  }

  // Makes room for `wanted` elements in the collection `value`.
  static CollectionStorage& GrowCollection(BindingProperty& value, std::size_t wanted);

  // Appends an empty element to the collection `value`.
  static BindingProperty& AppendElement(BindingProperty& value);

  static StructureStorage& MakeStructureStorage(BindingProperty& value);

  // The first member whose key does not sort before `name`.
  static std::uint32_t LowerBound(const StructureStorage& members, std::string_view name) {
    const std::uintptr_t prefix = TextPrefix(name);
    std::uint32_t low = 0;
    std::uint32_t count = members.size;
    while (count > 0) {
      const std::uint32_t half = count / 2;
      const InternedText& key = *members.slots[low + half].key;
      if (key.prefix != prefix ? key.prefix < prefix : key.text() < name) {
        low += half + 1;
        count -= half + 1;
      } else {
        count = half;
      }
    }
    return low;
  }

  // Adds an empty member under an already counted key at `position`. On failure the
  // key's count is dropped again and the structure is unchanged.
  static BindingProperty& InsertMember(StructureStorage& members, std::uint32_t position,
                                       const InternedText* key, ValuePool* pool);
};

}  // namespace Kavren::detail
