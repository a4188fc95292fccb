// BindingProperty and BindingResult: the dynamic value over its tree's pool.
#include "binding/value.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace Kavren {

namespace {

// The largest collection: the reference platform's vector limit for 16-byte cells.
constexpr std::size_t kMaxElements = 0x0FFFFFFF;
// Two elements first: pairs and short lists are the common case, and their arrays fit a
// pool block.
constexpr std::size_t kFirstCapacity = 2;

constexpr const char* kKindNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                      "string", "blob", "enum",   "collection", "structure"};

constexpr char kErrorMember[] = "error";
constexpr char kCollectionTooLong[] = "collection too long";

using MemberNode = std::pair<const detail::InternedText* const, BindingProperty>;

}  // namespace

const char* ValueKindName(ValueKind kind) {
  const auto index = static_cast<std::size_t>(kind);
  return index < std::size(kKindNames) ? kKindNames[index] : "";
}

namespace detail {

// The pooled header of a collection. Element arrays of at most kLargestBlock bytes come
// from the tree's pool (most collections read from documents are short), longer ones from
// the general heap; the capacity tells which. Cells hold no pointers into themselves, so
// growing moves them byte-wise.
struct CollectionStorage {
  BindingProperty* begin;
  BindingProperty* end;
  BindingProperty* capacity;

  std::size_t Size() const { return static_cast<std::size_t>(end - begin); }
  std::size_t Capacity() const { return static_cast<std::size_t>(capacity - begin); }

  static bool PooledArray(std::size_t cells) {
    return cells * sizeof(BindingProperty) <= ValuePool::kLargestBlock;
  }

  static BindingProperty* AllocateCells(ValuePool* pool, std::size_t cells) {
    const std::size_t bytes = cells * sizeof(BindingProperty);
    return static_cast<BindingProperty*>(PooledArray(cells) ? pool->Allocate(bytes)
                                                            : ::operator new(bytes));
  }

  static void FreeCells(ValuePool* pool, BindingProperty* cells, std::size_t count) noexcept {
    if (count == 0) return;
    if (PooledArray(count)) {
      pool->Free(cells, count * sizeof(BindingProperty));
    } else {
      ::operator delete(cells);
    }
  }

  /// Releases the element array (the cells must hold nothing that needs releasing).
  void FreeArray(ValuePool* pool) noexcept { FreeCells(pool, begin, Capacity()); }

  void Grow(ValuePool* pool, std::size_t wanted) {
    if (wanted > kMaxElements) throw std::length_error(kCollectionTooLong);
    if (wanted <= Capacity()) return;
    BindingProperty* cells = AllocateCells(pool, wanted);
    const std::size_t size = Size();
    if (size != 0) {
      std::memcpy(static_cast<void*>(cells), static_cast<const void*>(begin),
                  size * sizeof(BindingProperty));
    }
    FreeArray(pool);
    begin = cells;
    end = cells + size;
    capacity = cells + wanted;
  }

  BindingProperty& AppendCell(ValuePool* pool) {
    if (end == capacity) {
      const std::size_t size = Size();
      if (size >= kMaxElements) throw std::length_error(kCollectionTooLong);
      std::size_t next = size < kFirstCapacity ? kFirstCapacity : size * 2;
      if (next > kMaxElements) next = kMaxElements;
      Grow(pool, next);
    }
    BindingProperty* cell = new (end) BindingProperty();
    cell->pool_ = pool;
    cell->ownsPool_ = 0;
    ++end;
    return *cell;
  }
};

static_assert(sizeof(CollectionStorage) <= ValuePool::kLargestBlock);
static_assert(sizeof(MemberMap) <= ValuePool::kLargestBlock);
static_assert(sizeof(std::vector<std::uint8_t>) <= ValuePool::kLargestBlock);
static_assert(sizeof(BindingEnumValue) <= ValuePool::kLargestBlock);
static_assert(sizeof(InternedText) <= ValuePool::kLargestBlock);
// A red-black tree node is four words of links and colour plus the member pair.
static_assert(4 * sizeof(void*) + sizeof(MemberNode) <= ValuePool::kLargestBlock,
              "member tree nodes must come from the pool");

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
    Pending taken{cell.kind_, cell.payload_};
    cell.kind_ = ValueKind::kEmpty;
    cell.payload_.unsignedNumber = 0;
    return taken;
  }

  static void Install(BindingProperty& cell, const Pending& content) noexcept {
    cell.kind_ = content.kind;
    cell.payload_ = content.payload;
  }

  // Releases a non-container payload, or queues a container.
  static void ReleaseOrQueue(ValuePool* pool, const Pending& item, std::vector<Pending>& work) {
    switch (item.kind) {
      case ValueKind::kString:
        if (pool != nullptr) pool->Release(item.payload.text);
        break;
      case ValueKind::kBlob:
        item.payload.blob->~vector();
        pool->Free(item.payload.blob, sizeof(std::vector<std::uint8_t>));
        break;
      case ValueKind::kEnum:
        pool->Free(item.payload.enumeration, sizeof(BindingEnumValue));
        break;
      case ValueKind::kCollection:
      case ValueKind::kStructure:
        work.push_back(item);
        break;
      default:
        break;
    }
  }

  static void ReleaseContent(BindingProperty& value) noexcept {
    ValuePool* pool = value.pool_;
    const Pending root = Detach(value);
    if (!IsContainer(root.kind)) {
      std::vector<Pending> none;
      ReleaseOrQueue(pool, root, none);
      return;
    }
    // Running out of memory for the work list here ends the process (noexcept): there is
    // no sound way to continue with a half-released tree.
    std::vector<Pending> work;
    work.push_back(root);
    while (!work.empty()) {
      const Pending item = work.back();
      work.pop_back();
      if (item.kind == ValueKind::kCollection) {
        CollectionStorage* storage = item.payload.collection;
        // The cells go with their array and are never destroyed one by one, so their
        // content is taken as it stands, without clearing each cell.
        for (const BindingProperty* cell = storage->begin; cell != storage->end; ++cell) {
          if (cell->kind_ > ValueKind::kFloat) {
            ReleaseOrQueue(pool, Pending{cell->kind_, cell->payload_}, work);
          }
        }
        storage->FreeArray(pool);
        pool->Free(storage, sizeof(CollectionStorage));
      } else {
        MemberMap* members = item.payload.structure;
        for (auto& [key, member] : *members) {
          pool->Release(key);
          ReleaseOrQueue(pool, Detach(member), work);
        }
        // Every member is empty now, so destroying the map does not recurse.
        members->~MemberMap();
        pool->Free(members, sizeof(MemberMap));
      }
    }
  }

  static CollectionStorage& MakeCollectionStorage(BindingProperty& value) {
    ValuePool& pool = value.EnsurePool();
    auto* storage = static_cast<CollectionStorage*>(pool.Allocate(sizeof(CollectionStorage)));
    storage->begin = storage->end = storage->capacity = nullptr;
    value.kind_ = ValueKind::kCollection;
    value.payload_.collection = storage;
    return *storage;
  }

  static MemberMap& MakeMemberMap(BindingProperty& value) {
    ValuePool& pool = value.EnsurePool();
    void* block = pool.Allocate(sizeof(MemberMap));
    auto* members = new (block) MemberMap(PoolAllocator<MemberNode>(&pool));
    value.kind_ = ValueKind::kStructure;
    value.payload_.structure = members;
    return *members;
  }

  // Adds a member under an already counted key at the end position hint (copies insert in
  // key order). On failure the key's count is dropped again.
  static BindingProperty& InsertMember(MemberMap& members, MemberMap::iterator hint,
                                       const InternedText* key, ValuePool* pool) {
    MemberMap::iterator inserted;
    try {
      inserted = members.emplace_hint(hint, std::piecewise_construct, std::forward_as_tuple(key),
                                      std::forward_as_tuple());
    } catch (...) {
      pool->Release(key);
      throw;
    }
    inserted->second.pool_ = pool;
    inserted->second.ownsPool_ = 0;
    return inserted->second;
  }

  // The entry for `entry`'s text in `pool`, counted: shared when the pool is the entry's own.
  static const InternedText* Reintern(ValuePool& pool, ValuePool* sourcePool,
                                      const InternedText* entry) {
    if (sourcePool == &pool || entry == EmptyText()) {
      ValuePool::AddReference(entry);
      return entry;
    }
    return pool.Intern(entry->text);
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
      switch (from.kind_) {
        case ValueKind::kBool:
        case ValueKind::kSigned:
        case ValueKind::kUnsigned:
        case ValueKind::kFloat:
          to.kind_ = from.kind_;
          to.payload_ = from.payload_;
          break;
        case ValueKind::kString:
          if (from.payload_.text == EmptyText()) {
            to.kind_ = ValueKind::kString;
            to.payload_.text = EmptyText();
          } else {
            to.payload_.text = Reintern(to.EnsurePool(), from.pool_, from.payload_.text);
            to.kind_ = ValueKind::kString;
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
          CollectionStorage& storage = MakeCollectionStorage(to);
          storage.Grow(to.pool_, elements.Size());
          // Every element is appended before any is filled, so the cells queued below
          // never move.
          for (const BindingProperty* cell = elements.begin; cell != elements.end; ++cell) {
            BindingProperty& copy = storage.AppendCell(to.pool_);
            if (cell->kind_ != ValueKind::kEmpty) work.push_back({&copy, cell});
          }
          break;
        }
        case ValueKind::kStructure: {
          MemberMap& members = MakeMemberMap(to);
          for (const auto& [key, member] : *from.payload_.structure) {
            const InternedText* copiedKey = Reintern(*to.pool_, from.pool_, key);
            BindingProperty& copy = InsertMember(members, members.end(), copiedKey, to.pool_);
            if (member.kind_ != ValueKind::kEmpty) work.push_back({&copy, &member});
          }
          break;
        }
        default:
          break;
      }
    }
  }

  static void Visit(const BindingProperty& root, BindingVisitor& visitor) {
    struct Frame {
      const BindingProperty* value;
      std::size_t index;
      MemberMap::const_iterator member;
      bool inChild;
    };
    std::vector<Frame> frames;
    // Reports a scalar, or opens a container (a new frame).
    auto enter = [&](const BindingProperty& value) {
      switch (value.kind_) {
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
          visitor.VisitString(value.payload_.text->text);
          break;
        case ValueKind::kBlob:
          visitor.VisitBlob(value.GetBlob());
          break;
        case ValueKind::kEnum:
          visitor.VisitEnum(*value.payload_.enumeration);
          break;
        case ValueKind::kCollection:
          visitor.BeginCollection(value.payload_.collection->Size());
          frames.push_back({&value, 0, {}, false});
          break;
        case ValueKind::kStructure:
          visitor.BeginStructure(value.payload_.structure->size());
          frames.push_back({&value, 0, value.payload_.structure->begin(), false});
          break;
        default:
          break;
      }
    };
    enter(root);
    while (!frames.empty()) {
      Frame& frame = frames.back();
      const BindingProperty& value = *frame.value;
      if (value.kind_ == ValueKind::kCollection) {
        const CollectionStorage& elements = *value.payload_.collection;
        if (frame.inChild) {
          visitor.EndItem(frame.index);
          ++frame.index;
          frame.inChild = false;
        }
        if (frame.index < elements.Size()) {
          const BindingProperty& element = elements.begin[frame.index];
          visitor.BeginItem(frame.index);
          frame.inChild = true;
          enter(element);  // may add a frame: `frame` is not used after this
        } else {
          visitor.EndCollection();
          frames.pop_back();
        }
      } else {
        if (frame.inChild) {
          visitor.EndMember(frame.member->first->text);
          ++frame.member;
          frame.inChild = false;
        }
        if (frame.member != value.payload_.structure->end()) {
          const auto& [key, member] = *frame.member;
          visitor.BeginMember(key->text);
          frame.inChild = true;
          enter(member);
        } else {
          visitor.EndStructure();
          frames.pop_back();
        }
      }
    }
  }
};

}  // namespace detail

using detail::ValueOperations;

// ---------------------------------------------------------------------------------------
// Life cycle

BindingProperty::~BindingProperty() {
  Reset();
  if (ownsPool_ != 0) delete pool_;
}

BindingProperty::BindingProperty(const BindingProperty& other) { CopyFrom(other); }

BindingProperty::BindingProperty(BindingProperty&& other) { MoveFrom(other); }

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
  CopyFrom(other);
  return *this;
}

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
  if (pool_ == nullptr) pool_ = new ValuePool();
  return *pool_;
}

// ---------------------------------------------------------------------------------------
// Setting

void BindingProperty::Reset() noexcept {
  if (kind_ <= ValueKind::kFloat) {
    kind_ = ValueKind::kEmpty;
    payload_.unsignedNumber = 0;
    return;
  }
  ValueOperations::ReleaseContent(*this);
}

void BindingProperty::SetBool(bool value) {
  Reset();
  payload_.unsignedNumber = 0;
  payload_.boolean = value;
  kind_ = ValueKind::kBool;
}

void BindingProperty::SetSigned(std::int64_t value) {
  Reset();
  payload_.signedNumber = value;
  kind_ = ValueKind::kSigned;
}

void BindingProperty::SetUnsigned(std::uint64_t value) {
  Reset();
  payload_.unsignedNumber = value;
  kind_ = ValueKind::kUnsigned;
}

void BindingProperty::SetFloat(double value) {
  Reset();
  payload_.floating = value;
  kind_ = ValueKind::kFloat;
}

void BindingProperty::SetString(std::string_view text) {
  // Interned before the reset: `text` may be this value's own current text.
  const detail::InternedText* entry =
      text.empty() ? detail::EmptyText() : EnsurePool().Intern(text);
  Reset();
  payload_.text = entry;
  kind_ = ValueKind::kString;
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
  kind_ = ValueKind::kBlob;
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
  kind_ = ValueKind::kEnum;
}

BindingProperty& BindingProperty::MakeCollection() {
  if (kind_ == ValueKind::kCollection) return *this;
  Reset();
  ValueOperations::MakeCollectionStorage(*this);
  return *this;
}

BindingProperty& BindingProperty::MakeStructure() {
  if (kind_ == ValueKind::kStructure) return *this;
  Reset();
  ValueOperations::MakeMemberMap(*this);
  return *this;
}

// ---------------------------------------------------------------------------------------
// Reading

bool BindingProperty::GetBool(bool defaultValue) const noexcept {
  return kind_ == ValueKind::kBool ? payload_.boolean : defaultValue;
}

std::int64_t BindingProperty::GetSigned(std::int64_t defaultValue) const noexcept {
  return kind_ == ValueKind::kSigned ? payload_.signedNumber : defaultValue;
}

std::uint64_t BindingProperty::GetUnsigned(std::uint64_t defaultValue) const noexcept {
  return kind_ == ValueKind::kUnsigned ? payload_.unsignedNumber : defaultValue;
}

double BindingProperty::GetFloat(double defaultValue) const noexcept {
  return kind_ == ValueKind::kFloat ? payload_.floating : defaultValue;
}

std::string_view BindingProperty::GetString(std::string_view defaultValue) const noexcept {
  return kind_ == ValueKind::kString ? std::string_view(payload_.text->text) : defaultValue;
}

std::span<const std::uint8_t> BindingProperty::GetBlob(
    std::span<const std::uint8_t> defaultValue) const noexcept {
  if (kind_ != ValueKind::kBlob) return defaultValue;
  return {payload_.blob->data(), payload_.blob->size()};
}

BindingEnumValue BindingProperty::GetEnum(BindingEnumValue defaultValue) const noexcept {
  return kind_ == ValueKind::kEnum ? *payload_.enumeration : defaultValue;
}

std::size_t BindingProperty::Size() const noexcept {
  switch (kind_) {
    case ValueKind::kBool:
    case ValueKind::kSigned:
    case ValueKind::kUnsigned:
    case ValueKind::kFloat:
    case ValueKind::kEnum:
      return 1;
    case ValueKind::kString:
      return payload_.text->text.size();
    case ValueKind::kBlob:
      return payload_.blob->size();
    case ValueKind::kCollection:
      return payload_.collection->Size();
    case ValueKind::kStructure:
      return payload_.structure->size();
    default:
      return 0;
  }
}

bool BindingProperty::IsEmpty() const noexcept {
  switch (kind_) {
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
  if (kind_ != ValueKind::kCollection || index >= payload_.collection->Size()) {
    return EmptySentinel();
  }
  return payload_.collection->begin[index];
}

BindingProperty& BindingProperty::AtGrow(std::size_t index) {
  MakeCollection();
  detail::CollectionStorage& storage = *payload_.collection;
  if (index >= kMaxElements) throw std::length_error(kCollectionTooLong);
  if (index < storage.Size()) return storage.begin[index];
  if (index >= storage.Capacity()) {
    storage.Grow(pool_, std::max(index + 1, std::min(storage.Capacity() * 2, kMaxElements)));
  }
  while (storage.Size() <= index) storage.AppendCell(pool_);
  return storage.begin[index];
}

BindingProperty& BindingProperty::Append() {
  MakeCollection();
  return payload_.collection->AppendCell(pool_);
}

void BindingProperty::Reserve(std::size_t count) {
  if (kind_ != ValueKind::kCollection) return;
  payload_.collection->Grow(pool_, count);
}

std::span<const BindingProperty> BindingProperty::Elements() const noexcept {
  if (kind_ != ValueKind::kCollection) return {};
  return {payload_.collection->begin, payload_.collection->Size()};
}

std::span<BindingProperty> BindingProperty::Elements() noexcept {
  if (kind_ != ValueKind::kCollection) return {};
  return {payload_.collection->begin, payload_.collection->Size()};
}

// ---------------------------------------------------------------------------------------
// Structures

const detail::MemberMap* BindingProperty::Members() const noexcept {
  return kind_ == ValueKind::kStructure ? payload_.structure : nullptr;
}

detail::MemberMap* BindingProperty::Members() noexcept {
  return kind_ == ValueKind::kStructure ? payload_.structure : nullptr;
}

const BindingProperty& BindingProperty::Find(std::string_view name) const noexcept {
  if (kind_ != ValueKind::kStructure) return EmptySentinel();
  const auto found = payload_.structure->find(name);
  return found == payload_.structure->end() ? EmptySentinel() : found->second;
}

bool BindingProperty::Has(std::string_view name) const noexcept {
  return kind_ == ValueKind::kStructure &&
         payload_.structure->find(name) != payload_.structure->end();
}

BindingProperty& BindingProperty::Member(std::string_view name) {
  if (kind_ != ValueKind::kStructure) {
    // `name` may be this value's own text, which the reset below releases.
    const std::string kept(name);
    MakeStructure();
    return Member(kept);
  }
  detail::MemberMap& members = *payload_.structure;
  const auto position = members.lower_bound(name);
  if (position != members.end() && std::string_view(position->first->text) == name) {
    return position->second;
  }
  return ValueOperations::InsertMember(members, position, pool_->Intern(name), pool_);
}

// ---------------------------------------------------------------------------------------
// Whole values

void BindingProperty::CopyFrom(const BindingProperty& other) {
  if (&other == this) return;
  if (other.pool_ != nullptr && other.pool_ == pool_) {
    // The same tree: `other` may lie inside this value, or this inside `other`, so the
    // copy is made aside first and put in place afterwards.
    BindingProperty aside;
    aside.pool_ = pool_;
    aside.ownsPool_ = 0;
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
  if (ownsPool_ != 0 && other.ownsPool_ != 0) {
    std::swap(payload_, other.payload_);
    std::swap(pool_, other.pool_);
    std::swap(kind_, other.kind_);
    other.Reset();
    return;
  }
  if (other.pool_ != nullptr && other.pool_ == pool_) {
    // The same tree: the content changes places without a copy.
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
