// Growing collections and structures in their tree's pool.
#include "binding/value_storage.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

namespace Kavren::detail {

namespace {

// Byte-wise key order over all bytes ("B" < "a" < "ab").
bool KeyLess(const InternedText* left, const InternedText* right) noexcept {
  return left != right && TextLess(*left, *right);
}

}  // namespace

std::size_t NextCapacity(std::size_t size, std::size_t first) {
  if (size >= kMaxElements) throw ValueLimitError(ValueLimitMessages::kElements);
  const std::size_t next = size < first ? first : size * 2;
  return next > kMaxElements ? kMaxElements : next;
}

CollectionStorage* CollectionStorage::Grow(ValuePool* pool, std::size_t wanted) {
  if (wanted > kMaxElements) throw ValueLimitError(ValueLimitMessages::kElements);
  if (wanted <= capacity) return this;
  const bool empty = this == Empty();
  if (empty && wanted <= kInlineCells) return CreateInline(*pool);
  BindingProperty* cells = AllocateArray<BindingProperty>(pool, wanted);
  CollectionStorage* target = this;
  if (empty || IsInline()) {
    try {
      target = CreatePlain(*pool);
    } catch (...) {
      FreeArray(pool, cells, wanted);
      throw;
    }
  }
  if (size != 0) {
    std::memcpy(static_cast<void*>(cells), static_cast<const void*>(begin),
                size * sizeof(BindingProperty));
  }
  const std::uint32_t count = size;
  if (IsInline()) {
    pool->Free(this, InlineBlockSize());
  } else if (!empty) {
    FreeArray(pool, begin, capacity);
  }
  target->begin = cells;
  target->size = count;
  target->capacity = static_cast<std::uint32_t>(wanted);
  return target;
}

static_assert(CollectionStorage::InlineBlockSize() <= ValuePool::kLargestBlock);
static_assert(std::is_standard_layout_v<CollectionStorage>,
              "BindingProperty::Append reads a header through its CollectionCells");

static_assert(sizeof(StructureStorage) <= ValuePool::kLargestBlock);
static_assert(sizeof(std::vector<std::uint8_t>) <= ValuePool::kLargestBlock);
static_assert(sizeof(BindingEnumValue) <= ValuePool::kLargestBlock);
static_assert(sizeof(BindingProperty) == 16, "a cell is an 8-byte payload and 8 bytes more");
static_assert(alignof(ValuePool) >= 32, "a pool's address leaves five bits for kind and flag");
static_assert(alignof(BindingProperty) >= 2, "a cell's address leaves its low bit for a flag");

CollectionStorage& ValueStorage::GrowCollection(BindingProperty& value, std::size_t wanted) {
  CollectionStorage* storage = value.payload_.collection->Grow(&value.EnsurePool(), wanted);
  value.payload_.collection = storage;
  return *storage;
}

BindingProperty& ValueStorage::AppendElement(BindingProperty& value) {
  CollectionStorage* storage = value.payload_.collection;
  if (storage->size == storage->capacity) {
    storage = &GrowCollection(value, NextCapacity(storage->size, kFirstCapacity));
  }
  BindingProperty* cell = storage->begin + storage->size;
  cell->InitMember(value.pool());
  ++storage->size;
  return *cell;
}

StructureStorage& ValueStorage::MakeStructureStorage(BindingProperty& value) {
  ValuePool& pool = value.EnsurePool();
  auto* members = static_cast<StructureStorage*>(pool.Allocate(sizeof(StructureStorage)));
  members->slots = nullptr;
  members->size = members->capacity = members->unsorted = 0;
  value.setKind(ValueKind::kStructure);
  value.payload_.structure = members;
  return *members;
}

BindingProperty& ValueStorage::InsertMember(StructureStorage& members, std::uint32_t position,
                                            const InternedText* key, ValuePool* pool) {
  BindingProperty* cell;
  try {
    if (members.size == members.capacity) {
      const std::size_t wanted = NextCapacity(members.size, kFirstMemberCapacity);
      members.slots = Regrow(pool, members.slots, members.size, members.capacity, wanted);
      members.capacity = static_cast<std::uint32_t>(wanted);
    }
    cell = static_cast<BindingProperty*>(pool->Allocate(sizeof(BindingProperty)));
  } catch (...) {
    pool->Release(key);
    throw;
  }
  cell->InitMember(pool);
  MemberSlot* slot = members.slots + position;
  if (position < members.size) {
    std::memmove(static_cast<void*>(slot + 1), static_cast<const void*>(slot),
                 (members.size - position) * sizeof(MemberSlot));
  }
  *slot = MemberSlot{key, cell};
  ++members.size;
  return *cell;
}

StructureStorage& MemberSlots::Of(BindingProperty& structure) noexcept {
  return *structure.payload_.structure;
}

const StructureStorage& MemberSlots::Of(const BindingProperty& structure) noexcept {
  return *structure.payload_.structure;
}

BindingProperty& MemberSlots::AppendUnordered(BindingProperty& structure, const InternedText* key) {
  StructureStorage& members = *structure.payload_.structure;
  BindingProperty& member =
      ValueStorage::InsertMember(members, members.size, key, structure.pool());
  ++members.unsorted;
  return member;
}

void MemberSlots::PutInOrder(StructureStorage& members) noexcept {
  if (members.unsorted == 0) return;
  MemberSlot* begin = members.slots;
  MemberSlot* middle = begin + (members.size - members.unsorted);
  MemberSlot* end = begin + members.size;
  members.unsorted = 0;
  const auto less = [](const MemberSlot& left, const MemberSlot& right) {
    return KeyLess(left.key, right.key);
  };
  // Documents often list members in order already.
  if (!std::is_sorted(middle, end, less)) std::sort(middle, end, less);
  // A structure filled again after it was in order: one merge of the two runs (its
  // buffer, if the heap gives one, holds the shorter run).
  if (middle != begin && less(*middle, *(middle - 1))) {
    std::inplace_merge(begin, middle, end, less);
  }
}

}  // namespace Kavren::detail
