// The host's value records (Abi::HostValue): building, reading and releasing them, and
// their conversion to and from binding values.
//
// Everything a record owns (texts, bytes, element and member arrays, owned keys) is
// allocated through the heap accounting and freed by ReleaseHostValue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "abi/value.h"
#include "util/failure.h"

namespace Kavren {

class BindingProperty;
class BindingRegistry;

/// Host values nested deeper than this many containers are refused by HostToValue.
inline constexpr std::size_t kMaxHostValueDepth = 512;

/// The printable name of a host value type: "bool", "signed", "unsigned", "float",
/// "string" (5, 6), "blob" (7, 8), "collection", "structure"; "" for 0 and any other
/// number.
[[nodiscard]] const char* HostValueTypeName(Abi::HostWord type);

/// Frees everything `value` owns, at any depth, and leaves it empty (all words 0).
/// Borrowed texts and bytes are left alone. Needs no memory of its own, so it cannot fail.
void ReleaseHostValue(Abi::HostValue& value) noexcept;

// Builders. Each one overwrites `value` without releasing it: release first when it may
// own something. Throw std::bad_alloc when the heap refuses (nothing is left allocated).

void SetHostEmpty(Abi::HostValue& value) noexcept;
void SetHostBool(Abi::HostValue& value, bool boolean) noexcept;
void SetHostSigned(Abi::HostValue& value, std::int64_t number) noexcept;
void SetHostUnsigned(Abi::HostValue& value, std::uint64_t number) noexcept;
void SetHostFloat(Abi::HostValue& value, double number) noexcept;
/// Type 5: the record points at `text`, which must outlive it.
void SetHostBorrowedString(Abi::HostValue& value, const char* text) noexcept;
/// Type 6: an owned zero-terminated copy of `text`, its length in `extra`.
void SetHostOwnedString(Abi::HostValue& value, std::string_view text);
/// Type 7: the record points at the bytes, which must outlive it.
void SetHostBorrowedBlob(Abi::HostValue& value, std::span<const std::uint8_t> bytes) noexcept;
/// Type 8: an owned copy of the bytes.
void SetHostOwnedBlob(Abi::HostValue& value, std::span<const std::uint8_t> bytes);
/// Type 9 with `count` zeroed (empty) elements, returned for filling.
std::span<Abi::HostValue> MakeHostCollection(Abi::HostValue& value, std::size_t count);
/// Type 10 with `count` zeroed entries (null key, empty value, not owned), returned for
/// filling.
std::span<Abi::HostStructMember> MakeHostStructure(Abi::HostValue& value, std::size_t count);
/// Gives an entry an owned copy of `key` (flag 1). The entry's previous key, if owned, is
/// freed.
void SetHostMemberKey(Abi::HostStructMember& member, std::string_view key);

// Readers. Each returns the default (0, false, "", nothing) when the type does not match.

[[nodiscard]] bool HostBool(const Abi::HostValue& value) noexcept;
/// Types 2 and 3: the 64-bit value from `data` (low) and `extra` (high).
[[nodiscard]] std::int64_t HostSigned(const Abi::HostValue& value) noexcept;
[[nodiscard]] std::uint64_t HostUnsigned(const Abi::HostValue& value) noexcept;
[[nodiscard]] double HostFloat(const Abi::HostValue& value) noexcept;
/// Types 5 and 6: the text up to its terminating zero (a null pointer reads as "").
[[nodiscard]] std::string_view HostText(const Abi::HostValue& value) noexcept;
/// Types 7 and 8: the bytes (a null pointer reads as no bytes).
[[nodiscard]] std::span<const std::uint8_t> HostBytes(const Abi::HostValue& value) noexcept;
/// Type 9: the elements (a null array reads as none).
[[nodiscard]] std::span<const Abi::HostValue> HostElements(const Abi::HostValue& value) noexcept;
/// Type 10: the member entries (a null array reads as none).
[[nodiscard]] std::span<const Abi::HostStructMember> HostMembers(
    const Abi::HostValue& value) noexcept;

// Conversion to and from binding values.

/// Converts a host value record into `output`. On failure `output` holds what was
/// converted before the failure. Inputs nested deeper than kMaxHostValueDepth
/// containers, and inputs that reach a limit of the value tree (ValueLimitError), are
/// refused. Throws std::bad_alloc when the heap refuses.
[[nodiscard]] MaybeType<Failure, void> HostToValue(BindingProperty& output,
                                                   const Abi::HostValue& input, const char* name);

/// Writes `value` into the host record `output` (overwritten, not released). Texts, bytes
/// and keys are owned copies made through the heap accounting. Enumeration values become
/// their enumerator's name when `registry` is given and knows one, otherwise the number.
/// Throws std::bad_alloc when the heap refuses; what was built by then stays in `output`,
/// which ReleaseHostValue frees.
void ValueToHost(Abi::HostValue& output, const BindingProperty& value,
                 const BindingRegistry* registry);

/// Owns one host value record and releases it when destroyed.
class HostValueHolder {
 public:
  HostValueHolder() noexcept = default;
  ~HostValueHolder() { ReleaseHostValue(value_); }
  HostValueHolder(const HostValueHolder&) = delete;
  HostValueHolder& operator=(const HostValueHolder&) = delete;

  [[nodiscard]] Abi::HostValue& value() noexcept { return value_; }
  [[nodiscard]] const Abi::HostValue& value() const noexcept { return value_; }
  /// Hands the record over: the holder is left empty and frees nothing.
  [[nodiscard]] Abi::HostValue Release() noexcept {
    Abi::HostValue taken = value_;
    value_ = {};
    return taken;
  }

 private:
  Abi::HostValue value_{};
};

}  // namespace Kavren
