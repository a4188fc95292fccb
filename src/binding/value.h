// The dynamic value of the binding layer (BindingProperty), its visitor and BindingResult.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/value_pool.h"

namespace Kavren {

struct TypeIdentity;
class BindingProperty;

/// The kind of a value. Numbers 10 and above never occur in values built through this
/// interface; where they are met they print as "" and count as empty.
enum class ValueKind : std::uint8_t {
  kEmpty = 0,
  kBool = 1,
  kSigned = 2,
  kUnsigned = 3,
  kFloat = 4,
  kString = 5,
  kBlob = 6,
  kEnum = 7,
  kCollection = 8,
  kStructure = 9,
};

/// "empty", "bool", "signed", "unsigned", "float", "string", "blob", "enum",
/// "collection", "structure"; "" for any other number.
[[nodiscard]] const char* ValueKindName(ValueKind kind);

/// An enumeration value: the enumerator's number and the enumeration's identity (may be
/// null).
struct BindingEnumValue {
  std::int32_t value = 0;
  const TypeIdentity* identity = nullptr;
};

/// Receives a value tree from BindingProperty::Visit, depth first: a collection as
/// BeginCollection, then per element BeginItem, the element, EndItem, then EndCollection;
/// a structure likewise with its members in key order. Every operation defaults to doing
/// nothing. Texts and bytes passed in are valid during the call only.
class BindingVisitor {
 public:
  virtual ~BindingVisitor() = default;
  virtual void VisitEmpty() {}
  virtual void VisitBool(bool) {}
  virtual void VisitSigned(std::int64_t) {}
  virtual void VisitUnsigned(std::uint64_t) {}
  virtual void VisitFloat(double) {}
  virtual void VisitString(std::string_view) {}
  virtual void VisitBlob(std::span<const std::uint8_t>) {}
  virtual void VisitEnum(BindingEnumValue) {}
  virtual void BeginCollection(std::size_t /*count*/) {}
  virtual void BeginItem(std::size_t /*index*/) {}
  virtual void EndItem(std::size_t /*index*/) {}
  virtual void EndCollection() {}
  virtual void BeginStructure(std::size_t /*count*/) {}
  virtual void BeginMember(std::string_view /*key*/) {}
  virtual void EndMember(std::string_view /*key*/) {}
  virtual void EndStructure() {}
};

namespace detail {

/// One member of a structure: its interned key and its value. Each member value is a
/// pooled cell of its own, so references to it survive insertions of other members.
struct MemberSlot {
  const InternedText* key;
  BindingProperty* value;
};

/// The pooled header of a structure: its members in key order. While a reader's
/// StructureBuilder fills the structure, its last `unsorted` members are in the order they
/// were added (0 otherwise).
struct StructureStorage {
  MemberSlot* slots;
  std::uint32_t size;
  std::uint32_t capacity;
  std::uint32_t unsorted;
};

/// The fields of a collection's pooled header (see CollectionStorage in value_storage.h), so that
/// appending where there is room needs no call.
struct CollectionCells {
  BindingProperty* begin;
  std::uint32_t size;
  std::uint32_t capacity;
};

struct CollectionStorage;
struct ValueOperations;
struct ValueStorage;

/// Member-array operations for the readers' StructureBuilder: appending without keeping
/// key order, and restoring the order afterwards.
struct MemberSlots {
  /// The members of `structure`, a value of kind structure.
  static StructureStorage& Of(BindingProperty& structure) noexcept;
  static const StructureStorage& Of(const BindingProperty& structure) noexcept;
  /// Appends an empty member under `key` (already counted for this use) at the end of the
  /// structure `structure`, whatever the key order, and counts it as unsorted. On failure
  /// the key's count is dropped.
  static BindingProperty& AppendUnordered(BindingProperty& structure, const InternedText* key);
  /// Puts the unsorted members into key order and merges them with the members before
  /// them; all keys must be distinct. Costs nothing when no member is unsorted.
  static void PutInOrder(StructureStorage& members) noexcept;
};

}  // namespace detail

/// The dynamic value: one small cell (an 8-byte payload, a pool pointer, the kind and an
/// ownership flag). Everything that does not fit inline lives in the ValuePool of the
/// tree's root, created on the root's first pooled allocation; texts and keys are interned
/// per pool.
///
/// A value made with the default constructor is a standalone root: it owns its pool and
/// destroys it with itself. Elements and members share their container's pool; they and
/// everything inside a tree must not outlive the tree's root. A tree is used by one thread
/// at a time.
///
/// References to elements (At, AtGrow, Append, Elements) stay valid until the collection
/// holding them grows or is reset; references to members (Find, Member, ForEachMember)
/// stay valid until that member's structure is reset.
class BindingProperty {
 public:
  /// An empty standalone value.
  BindingProperty() noexcept = default;
  ~BindingProperty();
  /// A standalone deep copy of `other`.
  BindingProperty(const BindingProperty& other);
  /// A standalone value holding `other`'s content; `other` is left empty (see MoveFrom).
  /// Moves may throw: a move between two pools copies, which allocates.
  // NOLINTNEXTLINE(performance-noexcept-move-constructor,bugprone-exception-escape)
  BindingProperty(BindingProperty&& other);
  /// CopyFrom(other).
  BindingProperty& operator=(const BindingProperty& other);
  /// MoveFrom(other).
  // NOLINTNEXTLINE(performance-noexcept-move-constructor,bugprone-exception-escape)
  BindingProperty& operator=(BindingProperty&& other);

  /// The shared, never-modified empty value that read-only lookups return when they find
  /// nothing.
  [[nodiscard]] static const BindingProperty& EmptySentinel() noexcept;

  [[nodiscard]] ValueKind Kind() const noexcept { return kind(); }
  [[nodiscard]] bool Is(ValueKind kind) const noexcept { return this->kind() == kind; }
  /// True for a standalone value (it owns its pool).
  [[nodiscard]] bool OwnsPool() const noexcept { return owns(); }
  /// The tree's pool; null until something needed pooled memory.
  [[nodiscard]] ValuePool* Pool() const noexcept { return pool(); }

  // Setting. Each setter first resets the value (see Reset), then stores the new content.

  void SetBool(bool value) noexcept {
    Reset();
    payload_.unsignedNumber = 0;
    payload_.boolean = value;
    setKind(ValueKind::kBool);
  }
  void SetSigned(std::int64_t value) noexcept {
    Reset();
    payload_.signedNumber = value;
    setKind(ValueKind::kSigned);
  }
  void SetUnsigned(std::uint64_t value) noexcept {
    Reset();
    payload_.unsignedNumber = value;
    setKind(ValueKind::kUnsigned);
  }
  void SetFloat(double value) noexcept {
    Reset();
    payload_.floating = value;
    setKind(ValueKind::kFloat);
  }
  /// Interns the text in the tree's pool; all of its bytes count, zero bytes included.
  void SetString(std::string_view text);
  /// As above for a zero-terminated text; null is the empty text.
  void SetString(const char* text);
  /// As above for a text hashed already (the readers').
  void SetString(const detail::HashedText& text);
  /// Takes the bytes over without copying them.
  void SetBlob(std::vector<std::uint8_t>&& bytes);
  /// Copies the bytes.
  void SetBlobCopy(std::span<const std::uint8_t> bytes);
  void SetEnum(std::int32_t value, const TypeIdentity* identity);
  /// Makes the value an empty collection; a collection is left as it is.
  BindingProperty& MakeCollection();
  /// Makes the value an empty structure; a structure is left as it is.
  BindingProperty& MakeStructure();
  /// Releases the content (texts drop one reference, containers release everything
  /// inside them, at any depth) and makes the value empty. The pool stays. Never
  /// allocates, whatever the depth.
  void Reset() noexcept {
    if (kind() <= ValueKind::kFloat) {
      setKind(ValueKind::kEmpty);
      payload_.unsignedNumber = 0;
    } else {
      ReleaseContent();
    }
  }

  // Reading. A getter returns its default unless the kind matches exactly: nothing is
  // converted.

  [[nodiscard]] bool GetBool(bool defaultValue = false) const noexcept;
  [[nodiscard]] std::int64_t GetSigned(std::int64_t defaultValue = 0) const noexcept;
  [[nodiscard]] std::uint64_t GetUnsigned(std::uint64_t defaultValue = 0) const noexcept;
  [[nodiscard]] double GetFloat(double defaultValue = 0.0) const noexcept;
  /// The text, valid while the value is unchanged (and the tree alive).
  [[nodiscard]] std::string_view GetString(std::string_view defaultValue = {}) const noexcept;
  /// The bytes, valid while the value is unchanged (and the tree alive).
  [[nodiscard]] std::span<const std::uint8_t> GetBlob(
      std::span<const std::uint8_t> defaultValue = {}) const noexcept;
  [[nodiscard]] BindingEnumValue GetEnum(BindingEnumValue defaultValue = {}) const noexcept;

  /// empty: 0; string: bytes; blob: bytes; collection: elements; structure: members;
  /// bool, signed, unsigned, float, enum: 1.
  [[nodiscard]] std::size_t Size() const noexcept;
  /// The elements a collection has room for (0 for any other kind).
  [[nodiscard]] std::size_t Capacity() const noexcept;
  /// The room AtGrow(index) leaves: the capacity now when the index fits, else the larger
  /// of index + 1 and twice the capacity.
  [[nodiscard]] std::size_t CapacityAfterGrow(std::size_t index) const noexcept;
  /// True for empty, false bool, zero numbers (0.0 and -0.0, not NaN), enumerator 0, and
  /// a string, blob, collection or structure of Size 0.
  [[nodiscard]] bool IsEmpty() const noexcept;

  // Collections.

  /// The element at `index`, or the empty sentinel when this is not a collection or the
  /// index is out of range.
  [[nodiscard]] const BindingProperty& At(std::size_t index) const noexcept;
  /// Makes this a collection if it is not one (discarding the old content), appends empty
  /// elements until `index` exists, and returns that element.
  BindingProperty& AtGrow(std::size_t index);
  /// Makes this a collection if it is not one, appends one empty element and returns it.
  BindingProperty& Append() {
    if (kind() == ValueKind::kCollection) {
      // CollectionStorage starts with these fields (standard layout).
      auto* cells = reinterpret_cast<detail::CollectionCells*>(payload_.collection);
      if (cells->size < cells->capacity) {
        BindingProperty* cell = cells->begin + cells->size++;
        cell->InitMember(pool());
        return *cell;
      }
    }
    return AppendSlowly();
  }
  /// For a collection, makes room for `count` elements; other kinds are left alone.
  /// More than 0x0FFFFFFF elements throws ValueLimitError (a std::length_error).
  void Reserve(std::size_t count);
  /// The elements; empty unless this is a collection.
  [[nodiscard]] std::span<const BindingProperty> Elements() const noexcept;
  [[nodiscard]] std::span<BindingProperty> Elements() noexcept;

  // Structures. Keys are compared byte-wise over all of their bytes.

  /// The member `name`, or the empty sentinel when this is not a structure or has no such
  /// member. Copies nothing.
  [[nodiscard]] const BindingProperty& Find(std::string_view name) const noexcept;
  /// Makes this a structure if it is not one (discarding the old content) and returns the
  /// member `name`, inserting an empty one under an interned key when absent.
  BindingProperty& Member(std::string_view name);
  /// True when this is a structure with the member `name`.
  [[nodiscard]] bool Has(std::string_view name) const noexcept;
  /// Calls `visit(std::string_view key, const BindingProperty& value)` for each member in
  /// key order (nothing unless this is a structure). When `visit` returns bool, false
  /// stops the walk; the result is false when it was stopped.
  template <class Callback>
  bool ForEachMember(Callback&& visit) const;
  /// As above with a mutable value: `visit(std::string_view key, BindingProperty& value)`.
  template <class Callback>
  bool ForEachMember(Callback&& visit);

  // Whole values.

  /// Makes this a deep copy of `other` (texts re-interned in this tree's pool). `other`
  /// may be anywhere, even inside this tree or an ancestor of this value.
  void CopyFrom(const BindingProperty& other);
  /// Takes `other`'s content and leaves `other` empty. When both are standalone the cells
  /// are exchanged (no copy); otherwise this becomes a deep copy. A move of a container
  /// into a value inside it is refused: both stay as they are and an assertion report
  /// ("ALE-3271836A") is logged.
  void MoveFrom(BindingProperty& other);
  /// Walks the value depth first (see BindingVisitor); works at any depth without
  /// recursion.
  void Visit(BindingVisitor& visitor) const;

 private:
  friend struct detail::ValueOperations;
  friend struct detail::ValueStorage;
  friend struct detail::CollectionStorage;
  friend struct detail::MemberSlots;

  ValuePool& EnsurePool();
  [[nodiscard]] std::span<const detail::MemberSlot> Slots() const noexcept;
  // Reset for the kinds that hold pooled content.
  void ReleaseContent() noexcept;
  // Append when the value is no collection yet or has no room.
  BindingProperty& AppendSlowly();

  union Payload {
    bool boolean;
    std::int64_t signedNumber;
    std::uint64_t unsignedNumber;
    double floating;
    const detail::InternedText* text;
    std::vector<std::uint8_t>* blob;
    BindingEnumValue* enumeration;
    detail::CollectionStorage* collection;
    detail::StructureStorage* structure;
  };

#if UINTPTR_MAX > 0xFFFFFFFFu
  // On 64-bit platforms the pool pointer, the kind and the ownership flag share one word,
  // so that a cell is 16 bytes as on the reference platform. Pools are aligned to 32
  // bytes, which leaves the pointer's low five bits free: bit 0 holds the flag, bits 1 to
  // 4 the kind (every kind a value can hold is below 16). The word still points into the
  // pool, so leak checkers see the pool as referenced.
  static constexpr std::uint64_t kOwnsBit = 1;
  static constexpr unsigned kKindShift = 1;
  static constexpr std::uint64_t kKindMask = std::uint64_t{0xF} << kKindShift;
  static constexpr std::uint64_t kPoolMask = ~std::uint64_t{0x1F};

  [[nodiscard]] ValueKind kind() const noexcept {
    return static_cast<ValueKind>((word_ & kKindMask) >> kKindShift);
  }
  void setKind(ValueKind kind) noexcept {
    word_ = (word_ & ~kKindMask) |
            (std::uint64_t{static_cast<std::uint8_t>(kind)} << kKindShift & kKindMask);
  }
  [[nodiscard]] ValuePool* pool() const noexcept {
    return reinterpret_cast<ValuePool*>(static_cast<std::uintptr_t>(word_ & kPoolMask));
  }
  void setPool(ValuePool* pool) noexcept {
    word_ =
        (word_ & ~kPoolMask) | static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pool));
  }
  [[nodiscard]] bool owns() const noexcept { return (word_ & kOwnsBit) != 0; }
  void setOwns(bool owns) noexcept { word_ = (word_ & ~kOwnsBit) | (owns ? kOwnsBit : 0); }
  // A member or element cell: empty, sharing `pool`.
  void InitMember(ValuePool* pool) noexcept {
    payload_.unsignedNumber = 0;
    word_ = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pool));
  }
  // While its tree is released, a container cell holds the way back up in its word.
  [[nodiscard]] std::uintptr_t walkLink() const noexcept {
    return static_cast<std::uintptr_t>(word_);
  }
  void setWalkLink(std::uintptr_t link) noexcept { word_ = link; }

  Payload payload_{.unsignedNumber = 0};
  std::uint64_t word_ = kOwnsBit;
#else
  [[nodiscard]] ValueKind kind() const noexcept { return kind_; }
  void setKind(ValueKind kind) noexcept { kind_ = kind; }
  [[nodiscard]] ValuePool* pool() const noexcept { return pool_; }
  void setPool(ValuePool* pool) noexcept { pool_ = pool; }
  [[nodiscard]] bool owns() const noexcept { return ownsPool_ != 0; }
  void setOwns(bool owns) noexcept { ownsPool_ = owns ? 1 : 0; }
  void InitMember(ValuePool* pool) noexcept {
    payload_.unsignedNumber = 0;
    pool_ = pool;
    kind_ = ValueKind::kEmpty;
    ownsPool_ = 0;
  }
  [[nodiscard]] std::uintptr_t walkLink() const noexcept {
    return reinterpret_cast<std::uintptr_t>(pool_);
  }
  void setWalkLink(std::uintptr_t link) noexcept { pool_ = reinterpret_cast<ValuePool*>(link); }

  Payload payload_{.unsignedNumber = 0};
  ValuePool* pool_ = nullptr;
  ValueKind kind_ = ValueKind::kEmpty;
  std::uint8_t ownsPool_ = 1;
#endif
};

template <class Callback>
bool BindingProperty::ForEachMember(Callback&& visit) const {
  for (const detail::MemberSlot& slot : Slots()) {
    const BindingProperty& value = *slot.value;
    if constexpr (std::is_same_v<
                      std::invoke_result_t<Callback&, std::string_view, const BindingProperty&>,
                      bool>) {
      if (!visit(slot.key->text(), value)) return false;
    } else {
      visit(slot.key->text(), value);
    }
  }
  return true;
}

template <class Callback>
bool BindingProperty::ForEachMember(Callback&& visit) {
  for (const detail::MemberSlot& slot : Slots()) {
    BindingProperty& value = *slot.value;
    if constexpr (std::is_same_v<
                      std::invoke_result_t<Callback&, std::string_view, BindingProperty&>, bool>) {
      if (!visit(slot.key->text(), value)) return false;
    } else {
      visit(slot.key->text(), value);
    }
  }
  return true;
}

/// The outcome of a conversion or a reader: a value and a success flag. A failure is the
/// structure {"error": message}.
struct BindingResult {
  BindingProperty value;
  bool ok = true;

  /// Resets the value, sets `ok` false and member "error" to `message`.
  void Fail(std::string_view message);
  /// "" when `ok`; otherwise the string of member "error", or "" when that member is
  /// missing or not a string.
  [[nodiscard]] std::string ErrorText() const;
};

}  // namespace Kavren
