// Host value records: builders over the heap accounting, readers, and the release.
#include "binding/host_value.h"

#include <cstring>
#include <new>
#include <vector>

#include "util/accounting.h"

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

// Frees an owned text or bytes, or queues an owned array.
void ReleaseOrQueue(const HostValue& value, std::vector<HostValue>& work) {
  switch (value.type) {
    case Abi::kHostValueOwnedString:
    case Abi::kHostValueOwnedBlob:
      Accounting::Free(reinterpret_cast<void*>(value.data));
      break;
    case Abi::kHostValueCollection:
    case Abi::kHostValueStructure:
      if (value.data != 0) work.push_back(value);
      break;
    default:
      break;
  }
}

}  // namespace

const char* HostValueTypeName(HostWord type) {
  return type < std::size(kTypeNames) ? kTypeNames[type] : "";
}

void ReleaseHostValue(HostValue& value) noexcept {
  // A work list instead of recursion, so that no nesting depth can exhaust the stack.
  // Running out of memory for the list ends the process (noexcept).
  std::vector<HostValue> work;
  ReleaseOrQueue(value, work);
  value = {};
  while (!work.empty()) {
    const HostValue item = work.back();
    work.pop_back();
    const std::size_t count = static_cast<std::size_t>(item.extra);
    if (item.type == Abi::kHostValueCollection) {
      auto* elements = reinterpret_cast<HostValue*>(item.data);
      for (std::size_t i = 0; i < count; ++i) ReleaseOrQueue(elements[i], work);
    } else {
      auto* members = reinterpret_cast<HostStructMember*>(item.data);
      for (std::size_t i = 0; i < count; ++i) {
        const HostStructMember member = members[i];
        if (member.keyOwned != 0) Accounting::Free(const_cast<char*>(member.key));
        ReleaseOrQueue(member.value, work);
      }
    }
    Accounting::Free(reinterpret_cast<void*>(item.data));
  }
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

}  // namespace Kavren
