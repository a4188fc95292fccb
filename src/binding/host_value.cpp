// Host value records: builders over the heap accounting, readers, the release, and the
// conversion to and from binding values.
#include "binding/host_value.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "binding/messages.h"
#include "binding/registry.h"
#include "binding/structure_builder.h"
#include "binding/value.h"
#include "util/accounting.h"
#include "util/format.h"

namespace Kavren {

namespace {

using Abi::HostStructMember;
using Abi::HostValue;
using Abi::HostWord;

constexpr std::uint64_t kLowWord = 0xFFFFFFFFu;

constexpr const char* kTypeNames[] = {"",      "bool",       "signed",   "unsigned",
                                      "float", "string",     "string",   "blob",
                                      "blob",  "collection", "structure"};

void* AllocateOrThrow(std::size_t size) {
  void* block = Accounting::Allocate(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void SetWords(HostValue& value, HostWord type, std::uint64_t bits) {
  value.type = type;
  value.data = static_cast<HostWord>(bits & kLowWord);
  value.extra = static_cast<HostWord>((bits >> 32) & kLowWord);
}

std::uint64_t JoinWords(const HostValue& value) {
  return (static_cast<std::uint64_t>(value.extra) & kLowWord) << 32 |
         (static_cast<std::uint64_t>(value.data) & kLowWord);
}

// True for a collection or structure whose array has entries to walk.
bool HasEntries(const HostValue& value) {
  return (value.type == Abi::kHostValueCollection || value.type == Abi::kHostValueStructure) &&
         value.data != 0 && value.extra != 0;
}

// Frees what a record owns when it has no entries to walk: owned texts and bytes, and the
// array of an empty collection or structure.
void ReleaseFlat(const HostValue& value) {
  switch (value.type) {
    case Abi::kHostValueOwnedString:
    case Abi::kHostValueOwnedBlob:
    case Abi::kHostValueCollection:
    case Abi::kHostValueStructure:
      Accounting::Free(reinterpret_cast<void*>(value.data));
      break;
    default:
      break;
  }
}

// The entry `index` of a container's array: an element, or a member's value.
HostValue& EntryValue(HostWord type, HostWord array, std::size_t index) {
  if (type == Abi::kHostValueCollection) return reinterpret_cast<HostValue*>(array)[index];
  return reinterpret_cast<HostStructMember*>(array)[index].value;
}

// The array that holds `entry` as its entry `index` (EntryValue backwards).
HostWord ArrayOfEntry(HostWord type, const HostValue& entry, std::size_t index) {
  const auto address = reinterpret_cast<std::uintptr_t>(&entry);
  if (type == Abi::kHostValueCollection) {
    return static_cast<HostWord>(address - index * sizeof(HostValue));
  }
  return static_cast<HostWord>(address - offsetof(HostStructMember, value) -
                               index * sizeof(HostStructMember));
}

}  // namespace

const char* HostValueTypeName(HostWord type) {
  return type < std::size(kTypeNames) ? kTypeNames[type] : "";
}

void ReleaseHostValue(HostValue& value) noexcept {
  // Walks the tree with nothing but the records themselves, so that releasing needs no
  // memory and no depth can exhaust the stack. Entries are released from the last one
  // back: a container's `extra` counts the entries still to release, and the entry being
  // walked is always its last one. Going down into an entry, the container's `data`
  // takes the way back to its own container; its array is found again from the entry's
  // address when the walk comes back up.
  if (!HasEntries(value)) {
    ReleaseFlat(value);
    value = {};
    return;
  }
  HostValue* container = &value;
  HostValue* outer = nullptr;  // the container of `container`; null for the root
  HostWord array = value.data;
  for (;;) {
    HostValue* inner = nullptr;
    while (container->extra != 0) {
      const std::size_t last = static_cast<std::size_t>(container->extra) - 1;
      if (container->type == Abi::kHostValueStructure) {
        HostStructMember& member = reinterpret_cast<HostStructMember*>(array)[last];
        if (member.keyOwned != 0) Accounting::Free(const_cast<char*>(member.key));
        member.keyOwned = 0;
      }
      HostValue& entry = EntryValue(container->type, array, last);
      if (HasEntries(entry)) {
        inner = &entry;
        break;
      }
      ReleaseFlat(entry);
      container->extra = static_cast<HostWord>(last);
    }
    if (inner != nullptr) {
      container->data = reinterpret_cast<HostWord>(outer);
      outer = container;
      container = inner;
      array = inner->data;
      continue;
    }
    Accounting::Free(reinterpret_cast<void*>(array));
    if (outer == nullptr) break;
    // Back up: the container just finished is the last entry of `outer`.
    const HostValue& finished = *container;
    container = outer;
    outer = reinterpret_cast<HostValue*>(container->data);
    const std::size_t last = static_cast<std::size_t>(container->extra) - 1;
    array = ArrayOfEntry(container->type, finished, last);
    container->extra = static_cast<HostWord>(last);
  }
  value = {};
}

void SetHostEmpty(HostValue& value) noexcept { value = {}; }

void SetHostBool(HostValue& value, bool boolean) noexcept {
  value = {Abi::kHostValueBool, boolean ? 1u : 0u, 0};
}

void SetHostSigned(HostValue& value, std::int64_t number) noexcept {
  SetWords(value, Abi::kHostValueSigned, static_cast<std::uint64_t>(number));
}

void SetHostUnsigned(HostValue& value, std::uint64_t number) noexcept {
  SetWords(value, Abi::kHostValueUnsigned, number);
}

void SetHostFloat(HostValue& value, double number) noexcept {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &number, sizeof bits);
  SetWords(value, Abi::kHostValueFloat, bits);
}

void SetHostBorrowedString(HostValue& value, const char* text) noexcept {
  value = {Abi::kHostValueBorrowedString, reinterpret_cast<HostWord>(text), 0};
}

void SetHostOwnedString(HostValue& value, std::string_view text) {
  auto* copy = static_cast<char*>(AllocateOrThrow(text.size() + 1));
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  value = {Abi::kHostValueOwnedString, reinterpret_cast<HostWord>(copy),
           static_cast<HostWord>(text.size())};
}

void SetHostBorrowedBlob(HostValue& value, std::span<const std::uint8_t> bytes) noexcept {
  value = {Abi::kHostValueBorrowedBlob, reinterpret_cast<HostWord>(bytes.data()),
           static_cast<HostWord>(bytes.size())};
}

void SetHostOwnedBlob(HostValue& value, std::span<const std::uint8_t> bytes) {
  void* copy = AllocateOrThrow(bytes.size());
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  value = {Abi::kHostValueOwnedBlob, reinterpret_cast<HostWord>(copy),
           static_cast<HostWord>(bytes.size())};
}

std::span<HostValue> MakeHostCollection(HostValue& value, std::size_t count) {
  if (count > static_cast<std::size_t>(-1) / sizeof(HostValue)) throw std::bad_alloc();
  auto* elements = static_cast<HostValue*>(AllocateOrThrow(count * sizeof(HostValue)));
  std::memset(static_cast<void*>(elements), 0, count * sizeof(HostValue));
  value = {Abi::kHostValueCollection, reinterpret_cast<HostWord>(elements),
           static_cast<HostWord>(count)};
  return {elements, count};
}

std::span<HostStructMember> MakeHostStructure(HostValue& value, std::size_t count) {
  if (count > static_cast<std::size_t>(-1) / sizeof(HostStructMember)) throw std::bad_alloc();
  auto* members = static_cast<HostStructMember*>(AllocateOrThrow(count * sizeof(HostStructMember)));
  std::memset(static_cast<void*>(members), 0, count * sizeof(HostStructMember));
  value = {Abi::kHostValueStructure, reinterpret_cast<HostWord>(members),
           static_cast<HostWord>(count)};
  return {members, count};
}

void SetHostMemberKey(HostStructMember& member, std::string_view key) {
  auto* copy = static_cast<char*>(AllocateOrThrow(key.size() + 1));
  if (!key.empty()) std::memcpy(copy, key.data(), key.size());
  copy[key.size()] = '\0';
  if (member.keyOwned != 0) Accounting::Free(const_cast<char*>(member.key));
  member.key = copy;
  member.keyOwned = 1;
}

bool HostBool(const HostValue& value) noexcept {
  return value.type == Abi::kHostValueBool && (value.data & 0xFFu) != 0;
}

std::int64_t HostSigned(const HostValue& value) noexcept {
  if (value.type != Abi::kHostValueSigned && value.type != Abi::kHostValueUnsigned) return 0;
  return static_cast<std::int64_t>(JoinWords(value));
}

std::uint64_t HostUnsigned(const HostValue& value) noexcept {
  if (value.type != Abi::kHostValueSigned && value.type != Abi::kHostValueUnsigned) return 0;
  return JoinWords(value);
}

double HostFloat(const HostValue& value) noexcept {
  if (value.type != Abi::kHostValueFloat) return 0.0;
  const std::uint64_t bits = JoinWords(value);
  double number = 0.0;
  std::memcpy(&number, &bits, sizeof number);
  return number;
}

std::string_view HostText(const HostValue& value) noexcept {
  if (value.type != Abi::kHostValueBorrowedString && value.type != Abi::kHostValueOwnedString) {
    return {};
  }
  const auto* text = reinterpret_cast<const char*>(value.data);
  return text == nullptr ? std::string_view() : std::string_view(text);
}

std::span<const std::uint8_t> HostBytes(const HostValue& value) noexcept {
  if (value.type != Abi::kHostValueBorrowedBlob && value.type != Abi::kHostValueOwnedBlob) {
    return {};
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(value.data);
  if (bytes == nullptr) return {};
  return {bytes, static_cast<std::size_t>(value.extra)};
}

std::span<const HostValue> HostElements(const HostValue& value) noexcept {
  if (value.type != Abi::kHostValueCollection || value.data == 0) return {};
  return {reinterpret_cast<const HostValue*>(value.data), static_cast<std::size_t>(value.extra)};
}

std::span<const HostStructMember> HostMembers(const HostValue& value) noexcept {
  if (value.type != Abi::kHostValueStructure || value.data == 0) return {};
  return {reinterpret_cast<const HostStructMember*>(value.data),
          static_cast<std::size_t>(value.extra)};
}

namespace {

// Converts one host record at container depth `depth`. Structures are filled through
// `structures`, so that members in any order cost n log n.
MaybeType<Failure, void> HostToValueAt(BindingProperty& output, const Abi::HostValue& input,
                                       const char* name, std::size_t depth,
                                       StructureBuilder& structures) {
  switch (input.type) {
    case Abi::kHostValueEmpty:
      output.Reset();
      return {};
    case Abi::kHostValueBool:
      output.SetBool(HostBool(input));
      return {};
    case Abi::kHostValueSigned:
      output.SetSigned(HostSigned(input));
      return {};
    case Abi::kHostValueUnsigned:
      output.SetUnsigned(HostUnsigned(input));
      return {};
    case Abi::kHostValueFloat:
      output.SetFloat(HostFloat(input));
      return {};
    case Abi::kHostValueBorrowedString:
    case Abi::kHostValueOwnedString:
      output.SetString(HostText(input));
      return {};
    case Abi::kHostValueBorrowedBlob:
    case Abi::kHostValueOwnedBlob:
      output.SetBlobCopy(HostBytes(input));
      return {};
    case Abi::kHostValueCollection:
    case Abi::kHostValueStructure:
      break;
    default:
      return Failure{
          0, Format(ConvertMessages::kIncompatibleHostType, name, HostValueTypeName(input.type))};
  }
  if (depth >= kMaxHostValueDepth) {
    return Failure{0, Format(ConvertMessages::kHostValueTooDeep, name)};
  }
  // A member met twice (duplicate keys) is replaced, not merged with the earlier one.
  output.Reset();
  if (input.type == Abi::kHostValueCollection) {
    const std::span<const Abi::HostValue> elements = HostElements(input);
    output.MakeCollection();
    output.Reserve(elements.size());
    for (const Abi::HostValue& element : elements) {
      MaybeType<Failure, void> converted =
          HostToValueAt(output.Append(), element, name, depth + 1, structures);
      if (converted.Failed()) return converted;
    }
    return {};
  }
  output.MakeStructure();
  structures.Open(output);
  for (const Abi::HostStructMember& member : HostMembers(input)) {
    const std::string_view key = member.key != nullptr ? member.key : "";
    MaybeType<Failure, void> converted =
        HostToValueAt(structures.Member(key), member.value, name, depth + 1, structures);
    if (converted.Failed()) return converted;  // the caller closes what is still open
  }
  structures.Close();
  return {};
}

}  // namespace

MaybeType<Failure, void> HostToValue(BindingProperty& output, const Abi::HostValue& input,
                                     const char* name) {
  StructureBuilder structures;
  MaybeType<Failure, void> converted;
  try {
    converted = HostToValueAt(output, input, name, 0, structures);
  } catch (const ValueLimitError& limit) {
    converted = Failure{0, Format(ConvertMessages::kHostValueTooLarge, name, limit.what())};
  }
  // What was converted before a failure stays in `output`, in key order.
  structures.CloseAll();
  return converted;
}

void ValueToHost(Abi::HostValue& output, const BindingProperty& value,
                 const BindingRegistry* registry) {
  switch (value.Kind()) {
    case ValueKind::kBool:
      SetHostBool(output, value.GetBool());
      return;
    case ValueKind::kSigned:
      SetHostSigned(output, value.GetSigned());
      return;
    case ValueKind::kUnsigned:
      SetHostUnsigned(output, value.GetUnsigned());
      return;
    case ValueKind::kFloat:
      SetHostFloat(output, value.GetFloat());
      return;
    case ValueKind::kString:
      SetHostOwnedString(output, value.GetString());
      return;
    case ValueKind::kBlob:
      SetHostOwnedBlob(output, value.GetBlob());
      return;
    case ValueKind::kEnum: {
      const BindingEnumValue enumeration = value.GetEnum();
      const char* name = registry != nullptr && enumeration.identity != nullptr
                             ? registry->EnumValueName(enumeration.identity, enumeration.value)
                             : nullptr;
      if (name != nullptr) {
        SetHostOwnedString(output, name);
      } else {
        SetHostSigned(output, enumeration.value);
      }
      return;
    }
    case ValueKind::kCollection: {
      const std::span<const BindingProperty> elements = value.Elements();
      const std::span<Abi::HostValue> records = MakeHostCollection(output, elements.size());
      for (std::size_t index = 0; index < elements.size(); ++index) {
        ValueToHost(records[index], elements[index], registry);
      }
      return;
    }
    case ValueKind::kStructure: {
      const std::span<Abi::HostStructMember> members = MakeHostStructure(output, value.Size());
      std::size_t index = 0;
      value.ForEachMember([&](std::string_view key, const BindingProperty& member) {
        SetHostMemberKey(members[index], key);
        ValueToHost(members[index].value, member, registry);
        ++index;
      });
      return;
    }
    default:
      SetHostEmpty(output);
      return;
  }
}

}  // namespace Kavren
