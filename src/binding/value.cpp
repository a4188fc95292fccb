// BindingProperty and BindingResult: the dynamic value over its tree's pool.
#include "binding/value.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>

#include "binding/value_operations.h"
#include "binding/value_storage.h"
#include "log/assertion.h"

namespace Kavren {

namespace {

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

using detail::ValueOperations;
using detail::ValueStorage;

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
  ValueStorage::MakeCollectionStorage(*this);
  return *this;
}

BindingProperty& BindingProperty::MakeStructure() {
  if (kind() == ValueKind::kStructure) return *this;
  Reset();
  ValueStorage::MakeStructureStorage(*this);
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

std::size_t BindingProperty::Capacity() const noexcept {
  return kind() == ValueKind::kCollection ? payload_.collection->Capacity() : 0;
}

std::size_t BindingProperty::CapacityAfterGrow(std::size_t index) const noexcept {
  const std::size_t capacity = Capacity();
  if (index < capacity) return capacity;
  return std::max(index + 1, std::min(capacity * 2, detail::kMaxElements));
}

BindingProperty& BindingProperty::AtGrow(std::size_t index) {
  MakeCollection();
  if (index >= detail::kMaxElements) throw ValueLimitError(ValueLimitMessages::kElements);
  detail::CollectionStorage* storage = payload_.collection;
  if (index < storage->Size()) return storage->begin[index];
  if (index >= storage->Capacity()) {
    storage = &ValueStorage::GrowCollection(*this, CapacityAfterGrow(index));
  }
  while (storage->Size() <= index) ValueStorage::AppendElement(*this);
  return storage->begin[index];
}

BindingProperty& BindingProperty::AppendSlowly() {
  MakeCollection();
  return ValueStorage::AppendElement(*this);
}

void BindingProperty::Reserve(std::size_t count) {
  if (kind() != ValueKind::kCollection) return;
  ValueStorage::GrowCollection(*this, count);
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
  const std::uint32_t position = ValueStorage::LowerBound(members, name);
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
  const std::uint32_t position = ValueStorage::LowerBound(members, name);
  if (position != members.size && members.slots[position].key->text() == name) {
    return *members.slots[position].value;
  }
  return ValueStorage::InsertMember(members, position, pool()->Intern(name), pool());
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
