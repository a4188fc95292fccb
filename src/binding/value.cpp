// BindingProperty and BindingResult: the dynamic value over its tree's pool.
#include "binding/value.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "log/assertion.h"

namespace Kavren {

namespace {

// The largest collection: the reference platform's vector limit for 16-byte cells.
constexpr std::size_t kMaxElements = 0x0FFFFFFF;
// Two elements first: pairs and short lists are the common case, and their arrays fit a
// pool block.
constexpr std::size_t kFirstCapacity = 2;
// Two members first, as for elements: small records and pairs are the common structures
// of documents, and their slot arrays then have no spare room.
constexpr std::size_t kFirstMemberCapacity = 2;

constexpr const char* kKindNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                      "string", "blob", "enum",   "collection", "structure"};

constexpr char kErrorMember[] = "error";
// The assertion report of a move of a container into a value inside it.
constexpr char kMoveIntoOwnPartExpression[] = "ALE-3271836A";
constexpr char kMoveIntoOwnPart[] =
    "A value cannot be moved into one of its own elements or members.";

}  // namespace

const char* ValueKindName(ValueKind kind) {
  const auto index = static_cast<std::size_t>(kind);
  return index < std::size(kKindNames) ? kKindNames[index] : "";
}

namespace detail {

namespace {

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

std::size_t NextCapacity(std::size_t size, std::size_t first) {
  if (size >= kMaxElements) throw ValueLimitError(ValueLimitText::kElements);
  const std::size_t next = size < first ? first : size * 2;
  return next > kMaxElements ? kMaxElements : next;
}

// Byte-wise key order over all bytes ("B" < "a" < "ab").
bool KeyLess(const InternedText* left, const InternedText* right) noexcept {
  return left != right && TextLess(*left, *right);
}

}  // namespace

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
  CollectionStorage* Grow(ValuePool* pool, std::size_t wanted) {
    if (wanted > kMaxElements) throw ValueLimitError(ValueLimitText::kElements);
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
};

static_assert(CollectionStorage::InlineBlockSize() <= ValuePool::kLargestBlock);
static_assert(std::is_standard_layout_v<CollectionStorage>,
              "BindingProperty::Append reads a header through its CollectionCells");

static_assert(sizeof(StructureStorage) <= ValuePool::kLargestBlock);
static_assert(sizeof(std::vector<std::uint8_t>) <= ValuePool::kLargestBlock);
static_assert(sizeof(BindingEnumValue) <= ValuePool::kLargestBlock);
static_assert(sizeof(BindingProperty) == 16, "a cell is an 8-byte payload and 8 bytes more");
static_assert(alignof(ValuePool) >= 32, "a pool's address leaves five bits for kind and flag");
static_assert(alignof(BindingProperty) >= 2, "a cell's address leaves its low bit for a flag");

// The tree-wide operations, written as loops over explicit work lists so that no depth
// of nesting can exhaust the stack.
struct ValueOperations {
  using Payload = BindingProperty::Payload;

  struct Pending {
    ValueKind kind;
    Payload payload;
  };

  static bool IsContainer(ValueKind kind) {
    return kind == ValueKind::kCollection || kind == ValueKind::kStructure;
  }

  // Takes the content out of a cell without releasing it; the cell becomes empty.
  static Pending Detach(BindingProperty& cell) noexcept {
    Pending taken{cell.kind(), cell.payload_};
    cell.setKind(ValueKind::kEmpty);
    cell.payload_.unsignedNumber = 0;
    return taken;
  }

  static void Install(BindingProperty& cell, const Pending& content) noexcept {
    cell.setKind(content.kind);
    cell.payload_ = content.payload;
  }

  // Releases a payload that holds no further values. A tree released whole (kWhole) goes
  // with its pool, so only what lives outside the pool's reach is freed: blob bytes.
  template <bool kWhole>
  static void ReleaseLeaf(ValuePool* pool, ValueKind kind, Payload payload) noexcept {
    switch (kind) {
      case ValueKind::kString:
        if (!kWhole && pool != nullptr) pool->Release(payload.text);
        break;
      case ValueKind::kBlob:
        payload.blob->~vector();
        pool->CountBlob(-1);
        if (!kWhole) pool->Free(payload.blob, sizeof(std::vector<std::uint8_t>));
        break;
      case ValueKind::kEnum:
        if (!kWhole) pool->Free(payload.enumeration, sizeof(BindingEnumValue));
        break;
      default:
        break;
    }
  }

  // Releases the last member of a structure after its value: the key and the cell.
  template <bool kWhole>
  static void DropLastMember(ValuePool* pool, StructureStorage& members) noexcept {
    const MemberSlot& slot = members.slots[--members.size];
    if (kWhole) return;
    pool->Release(slot.key);
    pool->Free(slot.value, sizeof(BindingProperty));
  }

  // Frees a container's storage once its children are released. A tree released whole
  // leaves all of it to its pool.
  template <bool kWhole>
  static void FreeStorage(ValuePool* pool, ValueKind kind, Payload payload) noexcept {
    if (kWhole) return;
    if (kind == ValueKind::kCollection) {
      payload.collection->Destroy(pool);
    } else {
      StructureStorage* members = payload.structure;
      FreeArray(pool, members->slots, members->capacity);
      pool->Free(members, sizeof(StructureStorage));
    }
  }

  // While a tree is released, the cell of each container on the way down holds, in place
  // of its pool word, the cell of its parent container (null for the root's content) and,
  // in the low bit, whether that parent is a structure. Cells are at least 4-byte aligned.
  static void SetWayBack(BindingProperty& cell, BindingProperty* parent, bool parentIsStructure) {
    cell.setWalkLink(reinterpret_cast<std::uintptr_t>(parent) | (parentIsStructure ? 1u : 0u));
  }
  static BindingProperty* WayBack(const BindingProperty& cell, bool& parentIsStructure) {
    const std::uintptr_t link = cell.walkLink();
    parentIsStructure = (link & 1u) != 0;
    return reinterpret_cast<BindingProperty*>(link & ~static_cast<std::uintptr_t>(1));
  }

  // Releases the content of `root` and leaves it empty, at any depth and without
  // allocating, so that releasing never fails. Children are released from the last one
  // back: a container's size counts the children still to release. The walk descends
  // into the last child that is a container; coming back up, that child is dropped from
  // its parent, whose storage and cell the way back (SetWayBack) leads to. The storage of
  // the containers being walked stays in place until they are finished, so the way back
  // lives in the tree itself. With kWhole the tree goes with its pool afterwards and must
  // not be used again: only blob bytes are freed (the pool frees everything else), and
  // each container is read once.
  template <bool kWhole>
  static void Release(BindingProperty& root) noexcept {
    ValuePool* pool = root.pool();
    const Pending top = Detach(root);
    if (!IsContainer(top.kind)) {
      ReleaseLeaf<kWhole>(pool, top.kind, top.payload);
      return;
    }
    BindingProperty* cell = nullptr;  // the container being released; null: the root's
    ValueKind kind = top.kind;
    Payload payload = top.payload;
    for (;;) {
      BindingProperty* child = nullptr;
      if (kind == ValueKind::kCollection) {
        CollectionStorage& elements = *payload.collection;
        while (elements.size != 0) {
          BindingProperty& last = elements.begin[elements.size - 1];
          if (IsContainer(last.kind())) {
            child = &last;
            break;
          }
          // The cells go with their array and are never destroyed one by one, so their
          // content is taken as it stands, without clearing each cell.
          ReleaseLeaf<kWhole>(pool, last.kind(), last.payload_);
          --elements.size;
        }
      } else {
        StructureStorage& members = *payload.structure;
        while (members.size != 0) {
          BindingProperty& last = *members.slots[members.size - 1].value;
          if (IsContainer(last.kind())) {
            child = &last;
            break;
          }
          ReleaseLeaf<kWhole>(pool, last.kind(), last.payload_);
          DropLastMember<kWhole>(pool, members);
        }
      }
      if (child != nullptr) {
        const ValueKind childKind = child->kind();
        SetWayBack(*child, cell, kind == ValueKind::kStructure);
        cell = child;
        kind = childKind;
        payload = child->payload_;
        continue;
      }
      FreeStorage<kWhole>(pool, kind, payload);
      if (cell == nullptr) return;
      // Back up: the container just finished is its parent's last child.
      bool parentIsStructure = false;
      BindingProperty* parent = WayBack(*cell, parentIsStructure);
      kind = parentIsStructure ? ValueKind::kStructure : ValueKind::kCollection;
      payload = parent != nullptr ? parent->payload_ : top.payload;
      if (parentIsStructure) {
        DropLastMember<kWhole>(pool, *payload.structure);
      } else {
        --payload.collection->size;
      }
      cell = parent;
    }
  }

  static CollectionStorage& MakeCollectionStorage(BindingProperty& value) {
    CollectionStorage* storage = CollectionStorage::Empty();
    value.setKind(ValueKind::kCollection);
    value.payload_.collection = storage;
    return *storage;
  }

  // Makes room for `wanted` elements in the collection `value`.
  static CollectionStorage& GrowCollection(BindingProperty& value, std::size_t wanted) {
    CollectionStorage* storage = value.payload_.collection->Grow(&value.EnsurePool(), wanted);
    value.payload_.collection = storage;
    return *storage;
  }

  // Appends an empty element to the collection `value`.
  static BindingProperty& AppendElement(BindingProperty& value) {
    CollectionStorage* storage = value.payload_.collection;
    if (storage->size == storage->capacity) {
      storage = &GrowCollection(value, NextCapacity(storage->size, kFirstCapacity));
    }
    BindingProperty* cell = storage->begin + storage->size;
    cell->InitMember(value.pool());
    ++storage->size;
    return *cell;
  }

  static StructureStorage& MakeStructureStorage(BindingProperty& value) {
    ValuePool& pool = value.EnsurePool();
    auto* members = static_cast<StructureStorage*>(pool.Allocate(sizeof(StructureStorage)));
    members->slots = nullptr;
    members->size = members->capacity = members->unsorted = 0;
    value.setKind(ValueKind::kStructure);
    value.payload_.structure = members;
    return *members;
  }

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

  // The entry for `entry`'s text in `pool`, counted: shared when the pool is the entry's own.
  static const InternedText* Reintern(ValuePool& pool, ValuePool* sourcePool,
                                      const InternedText* entry) {
    if (sourcePool == &pool || entry == EmptyText()) {
      ValuePool::AddReference(entry);
      return entry;
    }
    return pool.Intern(entry->text());
  }

  // True when `cell` lies inside `container` (at any depth below it).
  static bool Encloses(const BindingProperty& container, const BindingProperty& cell) {
    std::vector<const BindingProperty*> work;
    if (IsContainer(container.kind())) work.push_back(&container);
    while (!work.empty()) {
      const BindingProperty& value = *work.back();
      work.pop_back();
      if (value.kind() == ValueKind::kCollection) {
        const CollectionStorage& elements = *value.payload_.collection;
        for (const BindingProperty* element = elements.begin; element != elements.end();
             ++element) {
          if (element == &cell) return true;
          if (IsContainer(element->kind())) work.push_back(element);
        }
      } else {
        const StructureStorage& members = *value.payload_.structure;
        for (std::uint32_t i = 0; i < members.size; ++i) {
          const BindingProperty* member = members.slots[i].value;
          if (member == &cell) return true;
          if (IsContainer(member->kind())) work.push_back(member);
        }
      }
    }
    return false;
  }

  // Deep copy of `source` into the empty cell `target`.
  static void CopyInto(BindingProperty& target, const BindingProperty& source) {
    struct Job {
      BindingProperty* target;
      const BindingProperty* source;
    };
    std::vector<Job> work;
    work.push_back({&target, &source});
    while (!work.empty()) {
      const Job job = work.back();
      work.pop_back();
      BindingProperty& to = *job.target;
      const BindingProperty& from = *job.source;
      switch (from.kind()) {
        case ValueKind::kBool:
        case ValueKind::kSigned:
        case ValueKind::kUnsigned:
        case ValueKind::kFloat:
          to.setKind(from.kind());
          to.payload_ = from.payload_;
          break;
        case ValueKind::kString:
          if (from.payload_.text == EmptyText()) {
            to.setKind(ValueKind::kString);
            to.payload_.text = EmptyText();
          } else {
            to.payload_.text = Reintern(to.EnsurePool(), from.pool(), from.payload_.text);
            to.setKind(ValueKind::kString);
          }
          break;
        case ValueKind::kBlob:
          to.SetBlobCopy(from.GetBlob());
          break;
        case ValueKind::kEnum:
          to.SetEnum(from.payload_.enumeration->value, from.payload_.enumeration->identity);
          break;
        case ValueKind::kCollection: {
          const CollectionStorage& elements = *from.payload_.collection;
          MakeCollectionStorage(to);
          GrowCollection(to, elements.Size());
          // Every element is appended before any is filled, so the cells queued below
          // never move.
          for (const BindingProperty* cell = elements.begin; cell != elements.end(); ++cell) {
            BindingProperty& copy = AppendElement(to);
            if (cell->kind() != ValueKind::kEmpty) work.push_back({&copy, cell});
          }
          break;
        }
        case ValueKind::kStructure: {
          const StructureStorage& source = *from.payload_.structure;
          StructureStorage& members = MakeStructureStorage(to);
          // The source is in key order, so each member goes to the end.
          for (std::uint32_t i = 0; i < source.size; ++i) {
            const MemberSlot& slot = source.slots[i];
            const InternedText* copiedKey = Reintern(*to.pool(), from.pool(), slot.key);
            BindingProperty& copy = InsertMember(members, members.size, copiedKey, to.pool());
            if (slot.value->kind() != ValueKind::kEmpty) work.push_back({&copy, slot.value});
          }
          break;
        }
        default:
          break;
      }
    }
  }

  static void Visit(const BindingProperty& root, BindingVisitor& visitor) {
    // One open container: its elements or member slots, and the next one to visit.
    struct Frame {
      bool isCollection;
      const BindingProperty* elements;
      const MemberSlot* slots;
      std::size_t count;
      std::size_t index;
    };
    std::vector<Frame> frames;
    const BindingProperty* next = &root;
    for (;;) {
      // Report a scalar, or open a container (a new frame). The one place where values
      // are entered, so that it is compiled inline.
      if (next != nullptr) {
        const BindingProperty& value = *next;
        next = nullptr;
        switch (value.kind()) {
          case ValueKind::kEmpty:
            visitor.VisitEmpty();
            break;
          case ValueKind::kBool:
            visitor.VisitBool(value.payload_.boolean);
            break;
          case ValueKind::kSigned:
            visitor.VisitSigned(value.payload_.signedNumber);
            break;
          case ValueKind::kUnsigned:
            visitor.VisitUnsigned(value.payload_.unsignedNumber);
            break;
          case ValueKind::kFloat:
            visitor.VisitFloat(value.payload_.floating);
            break;
          case ValueKind::kString:
            visitor.VisitString(value.payload_.text->text());
            break;
          case ValueKind::kBlob:
            visitor.VisitBlob(value.GetBlob());
            break;
          case ValueKind::kEnum:
            visitor.VisitEnum(*value.payload_.enumeration);
            break;
          case ValueKind::kCollection: {
            const CollectionStorage& elements = *value.payload_.collection;
            visitor.BeginCollection(elements.Size());
            frames.push_back({true, elements.begin, nullptr, elements.Size(), 0});
            break;
          }
          case ValueKind::kStructure: {
            const StructureStorage& members = *value.payload_.structure;
            visitor.BeginStructure(members.size);
            frames.push_back({false, nullptr, members.slots, members.size, 0});
            break;
          }
          default:
            break;
        }
      }
      if (frames.empty()) return;
      Frame& frame = frames.back();
      // Close the child visited last, then enter the next one or close the container.
      if (frame.isCollection) {
        if (frame.index != 0) visitor.EndItem(frame.index - 1);
        if (frame.index < frame.count) {
          visitor.BeginItem(frame.index);
          next = &frame.elements[frame.index++];
        } else {
          visitor.EndCollection();
          frames.pop_back();
        }
      } else {
        if (frame.index != 0) visitor.EndMember(frame.slots[frame.index - 1].key->text());
        if (frame.index < frame.count) {
          const MemberSlot& slot = frame.slots[frame.index++];
          visitor.BeginMember(slot.key->text());
          next = slot.value;
        } else {
          visitor.EndStructure();
          frames.pop_back();
        }
      }
    }
  }
};

StructureStorage& MemberSlots::Of(BindingProperty& structure) noexcept {
  return *structure.payload_.structure;
}

const StructureStorage& MemberSlots::Of(const BindingProperty& structure) noexcept {
  return *structure.payload_.structure;
}

BindingProperty& MemberSlots::AppendUnordered(BindingProperty& structure, const InternedText* key) {
  StructureStorage& members = *structure.payload_.structure;
  BindingProperty& member =
      ValueOperations::InsertMember(members, members.size, key, structure.pool());
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

}  // namespace detail

using detail::ValueOperations;

// ---------------------------------------------------------------------------------------
// Life cycle

BindingProperty::~BindingProperty() {
  if (owns() && pool() != nullptr) {
    // The whole tree goes with its pool: nothing is released block by block, and the tree
    // is walked only to free the bytes of its blobs.
    if (pool()->HoldsBlobs()) ValueOperations::Release<true>(*this);
    delete pool();
    return;
  }
  Reset();
}

// Both delegate to the default constructor: once it has run the value is complete, so a
// copy that throws part way is destroyed with the pool it had made.
BindingProperty::BindingProperty(const BindingProperty& other) : BindingProperty() {
  CopyFrom(other);
}

// Moves may throw: a move between two pools copies, which allocates.
// NOLINTNEXTLINE(performance-noexcept-move-constructor,bugprone-exception-escape)
BindingProperty::BindingProperty(BindingProperty&& other) : BindingProperty() { MoveFrom(other); }

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  CopyFrom(other);
  return *this;
}

// NOLINTNEXTLINE(performance-noexcept-move-constructor,bugprone-exception-escape)
BindingProperty& BindingProperty::operator=(BindingProperty&& other) {
  MoveFrom(other);
  return *this;
}

const BindingProperty& BindingProperty::EmptySentinel() noexcept {
  // Built in static storage and never destroyed, so lookups during exit still find it.
  alignas(BindingProperty) static unsigned char storage[sizeof(BindingProperty)];
  static const BindingProperty* const sentinel = new (storage) BindingProperty();
  return *sentinel;
}

ValuePool& BindingProperty::EnsurePool() {
  // Only a root can be without a pool: members and elements get their container's.
  if (pool() == nullptr) setPool(new ValuePool());
  return *pool();
}

// ---------------------------------------------------------------------------------------
// Setting

void BindingProperty::ReleaseContent() noexcept { ValueOperations::Release<false>(*this); }

void BindingProperty::SetString(std::string_view text) {
  // Interned before the reset: `text` may be this value's own current text.
  const detail::InternedText* entry =
      text.empty() ? detail::EmptyText() : EnsurePool().Intern(text);
  Reset();
  payload_.text = entry;
  setKind(ValueKind::kString);
}

void BindingProperty::SetString(const detail::HashedText& text) {
  const detail::InternedText* entry =
      text.text.empty() ? detail::EmptyText() : EnsurePool().Intern(text);
  Reset();
  payload_.text = entry;
  setKind(ValueKind::kString);
}

void BindingProperty::SetString(const char* text) {
  SetString(text == nullptr ? std::string_view() : std::string_view(text));
}

void BindingProperty::SetBlob(std::vector<std::uint8_t>&& bytes) {
  ValuePool& pool = EnsurePool();
  void* block = pool.Allocate(sizeof(std::vector<std::uint8_t>));
  // The block is taken before the reset, so a failure leaves the value as it was.
  Reset();
  payload_.blob = new (block) std::vector<std::uint8_t>(std::move(bytes));
  pool.CountBlob(1);
  setKind(ValueKind::kBlob);
}

void BindingProperty::SetBlobCopy(std::span<const std::uint8_t> bytes) {
  // Copied before the reset: `bytes` may be this value's own blob.
  SetBlob(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

void BindingProperty::SetEnum(std::int32_t value, const TypeIdentity* identity) {
  ValuePool& pool = EnsurePool();
  void* block = pool.Allocate(sizeof(BindingEnumValue));
  Reset();
  payload_.enumeration = new (block) BindingEnumValue{value, identity};
  setKind(ValueKind::kEnum);
}

BindingProperty& BindingProperty::MakeCollection() {
  if (kind() == ValueKind::kCollection) return *this;
  Reset();
  ValueOperations::MakeCollectionStorage(*this);
  return *this;
}

BindingProperty& BindingProperty::MakeStructure() {
  if (kind() == ValueKind::kStructure) return *this;
  Reset();
  ValueOperations::MakeStructureStorage(*this);
  return *this;
}

// ---------------------------------------------------------------------------------------
// Reading

bool BindingProperty::GetBool(bool defaultValue) const noexcept {
  return kind() == ValueKind::kBool ? payload_.boolean : defaultValue;
}

std::int64_t BindingProperty::GetSigned(std::int64_t defaultValue) const noexcept {
  return kind() == ValueKind::kSigned ? payload_.signedNumber : defaultValue;
}

std::uint64_t BindingProperty::GetUnsigned(std::uint64_t defaultValue) const noexcept {
  return kind() == ValueKind::kUnsigned ? payload_.unsignedNumber : defaultValue;
}

double BindingProperty::GetFloat(double defaultValue) const noexcept {
  return kind() == ValueKind::kFloat ? payload_.floating : defaultValue;
}

std::string_view BindingProperty::GetString(std::string_view defaultValue) const noexcept {
  return kind() == ValueKind::kString ? payload_.text->text() : defaultValue;
}

std::span<const std::uint8_t> BindingProperty::GetBlob(
    std::span<const std::uint8_t> defaultValue) const noexcept {
  if (kind() != ValueKind::kBlob) return defaultValue;
  return {payload_.blob->data(), payload_.blob->size()};
}

BindingEnumValue BindingProperty::GetEnum(BindingEnumValue defaultValue) const noexcept {
  return kind() == ValueKind::kEnum ? *payload_.enumeration : defaultValue;
}

std::size_t BindingProperty::Size() const noexcept {
  switch (kind()) {
    case ValueKind::kBool:
    case ValueKind::kSigned:
    case ValueKind::kUnsigned:
    case ValueKind::kFloat:
    case ValueKind::kEnum:
      return 1;
    case ValueKind::kString:
      return payload_.text->text().size();
    case ValueKind::kBlob:
      return payload_.blob->size();
    case ValueKind::kCollection:
      return payload_.collection->Size();
    case ValueKind::kStructure:
      return payload_.structure->size;
    default:
      return 0;
  }
}

bool BindingProperty::IsEmpty() const noexcept {
  switch (kind()) {
    case ValueKind::kBool:
      return !payload_.boolean;
    case ValueKind::kSigned:
      return payload_.signedNumber == 0;
    case ValueKind::kUnsigned:
      return payload_.unsignedNumber == 0;
    case ValueKind::kFloat:
      return payload_.floating == 0.0;
    case ValueKind::kEnum:
      return payload_.enumeration->value == 0;
    case ValueKind::kString:
    case ValueKind::kBlob:
    case ValueKind::kCollection:
    case ValueKind::kStructure:
      return Size() == 0;
    default:
      return true;
  }
}

// ---------------------------------------------------------------------------------------
// Collections

const BindingProperty& BindingProperty::At(std::size_t index) const noexcept {
  if (kind() != ValueKind::kCollection || index >= payload_.collection->Size()) {
    return EmptySentinel();
  }
  return payload_.collection->begin[index];
}

BindingProperty& BindingProperty::AtGrow(std::size_t index) {
  MakeCollection();
  if (index >= kMaxElements) throw ValueLimitError(ValueLimitText::kElements);
  detail::CollectionStorage* storage = payload_.collection;
  if (index < storage->Size()) return storage->begin[index];
  if (index >= storage->Capacity()) {
    storage = &ValueOperations::GrowCollection(
        *this, std::max(index + 1, std::min(storage->Capacity() * 2, kMaxElements)));
  }
  while (storage->Size() <= index) ValueOperations::AppendElement(*this);
  return storage->begin[index];
}

BindingProperty& BindingProperty::AppendSlowly() {
  MakeCollection();
  return ValueOperations::AppendElement(*this);
}

void BindingProperty::Reserve(std::size_t count) {
  if (kind() != ValueKind::kCollection) return;
  ValueOperations::GrowCollection(*this, count);
}

std::span<const BindingProperty> BindingProperty::Elements() const noexcept {
  if (kind() != ValueKind::kCollection) return {};
  return {payload_.collection->begin, payload_.collection->Size()};
}

std::span<BindingProperty> BindingProperty::Elements() noexcept {
  if (kind() != ValueKind::kCollection) return {};
  return {payload_.collection->begin, payload_.collection->Size()};
}

// ---------------------------------------------------------------------------------------
// Structures

std::span<const detail::MemberSlot> BindingProperty::Slots() const noexcept {
  if (kind() != ValueKind::kStructure) return {};
  return {payload_.structure->slots, payload_.structure->size};
}

const BindingProperty& BindingProperty::Find(std::string_view name) const noexcept {
  if (kind() != ValueKind::kStructure) return EmptySentinel();
  const detail::StructureStorage& members = *payload_.structure;
  const std::uint32_t position = ValueOperations::LowerBound(members, name);
  if (position == members.size || members.slots[position].key->text() != name) {
    return EmptySentinel();
  }
  return *members.slots[position].value;
}

bool BindingProperty::Has(std::string_view name) const noexcept {
  return &Find(name) != &EmptySentinel();
}

BindingProperty& BindingProperty::Member(std::string_view name) {
  if (kind() != ValueKind::kStructure) {
    // `name` may be this value's own text, which the reset below releases.
    const std::string kept(name);
    MakeStructure();
    return Member(kept);
  }
  detail::StructureStorage& members = *payload_.structure;
  const std::uint32_t position = ValueOperations::LowerBound(members, name);
  if (position != members.size && members.slots[position].key->text() == name) {
    return *members.slots[position].value;
  }
  return ValueOperations::InsertMember(members, position, pool()->Intern(name), pool());
}

// ---------------------------------------------------------------------------------------
// Whole values

void BindingProperty::CopyFrom(const BindingProperty& other) {
  if (&other == this) return;
  if (other.pool() != nullptr && other.pool() == pool()) {
    // The same tree: `other` may lie inside this value, or this inside `other`, so the
    // copy is made aside first and put in place afterwards.
    BindingProperty aside;
    aside.InitMember(pool());
    ValueOperations::CopyInto(aside, other);
    Reset();
    ValueOperations::Install(*this, ValueOperations::Detach(aside));
    return;
  }
  Reset();
  ValueOperations::CopyInto(*this, other);
}

void BindingProperty::MoveFrom(BindingProperty& other) {
  if (&other == this) return;
  if (owns() && other.owns()) {
    // Both flags are set, so exchanging whole cells keeps them.
    std::swap(payload_, other.payload_);
#if UINTPTR_MAX > 0xFFFFFFFFu
    std::swap(word_, other.word_);
#else
    std::swap(pool_, other.pool_);
    std::swap(kind_, other.kind_);
#endif
    other.Reset();
    return;
  }
  if (other.pool() != nullptr && other.pool() == pool()) {
    // The same tree. A value cannot take in a container it lies in: it would end up
    // inside itself, a cycle no release could end. Such a move is refused and reported,
    // and both values stay as they are.
    if (!owns() && ValueOperations::Encloses(other, *this)) {
      ReportAssertion(kMoveIntoOwnPartExpression, kMoveIntoOwnPart, "", 0, "");
      return;
    }
    // Otherwise the content changes places without a copy.
    const ValueOperations::Pending taken = ValueOperations::Detach(other);
    Reset();
    ValueOperations::Install(*this, taken);
    return;
  }
  CopyFrom(other);
  other.Reset();
}

void BindingProperty::Visit(BindingVisitor& visitor) const {
  ValueOperations::Visit(*this, visitor);
}

// ---------------------------------------------------------------------------------------
// BindingResult

void BindingResult::Fail(std::string_view message) {
  // Copied first: `message` may be this result's own text.
  const std::string kept(message);
  value.Reset();
  ok = false;
  value.Member(kErrorMember).SetString(kept);
}

std::string BindingResult::ErrorText() const {
  if (ok) return std::string();
  return std::string(value.Find(kErrorMember).GetString());
}

}  // namespace Kavren
