// Conversion between native records, binding values and the host's value records.
#pragma once

#include <cstddef>
#include <type_traits>

#include "abi/value.h"
#include "binding/converters.h"
#include "binding/native_field.h"
#include "binding/registry.h"
#include "binding/value.h"
#include "util/failure.h"

namespace Kavren {

/// Host values nested deeper than this many containers are refused by HostToValue.
inline constexpr std::size_t kMaxHostValueDepth = 512;

/// Converts `native` into `output` (whose `ok` should be true on entry). A record type
/// that is not registered fails with the unregistered-structure message.
template <class T>
void ToValue(BindingResult& output, const T& native, const BindingRegistry& registry) {
  if (!output.ok) return;
  detail::NativeField<T>::ToValue(output, output.value, native, nullptr, registry);
}

/// Converts `native` into `output`. Returns false and leaves `output` untouched when T
/// is a record that is not registered or the conversion fails.
template <class T>
[[nodiscard]] bool ToValue(BindingProperty& output, const T& native,
                           const BindingRegistry& registry) {
  if constexpr (detail::NativeField<T>::kKind == TypeKind::kStruct) {
    if (registry.FindType(StaticType::HashCode<T>()) == nullptr) return false;
  }
  BindingResult converted;
  ToValue(converted, native, registry);
  if (!converted.ok) return false;
  output.MoveFrom(converted.value);
  return true;
}

/// Converts `input` into `native`. An empty input fails with "A value for '%1' is
/// required." for records and scalars; vectors and maps report that it is not a
/// collection or structure (a vector of bool: required), an object or optional target
/// becomes empty. Does nothing when `status.ok` is false on entry.
template <class T>
void FromValue(BindingResult& status, T& native, const BindingProperty& input, const char* name,
               const BindingRegistry& registry) {
  if (!status.ok) return;
  if (detail::NativeField<T>::kKind == TypeKind::kStruct && !detail::NativeField<T>::kOptional &&
      input.Is(ValueKind::kEmpty)) {
    detail::FailRequired(status, name);
    return;
  }
  detail::NativeField<T>::ToNative(status, native, input, name, nullptr, registry);
}

/// Converts a host value record into `output`. On failure the message goes into `error`
/// (replacing what it held) and the result is false; `output` then holds what was
/// converted before the failure. Inputs nested deeper than kMaxHostValueDepth
/// containers are refused.
[[nodiscard]] bool HostToValue(MaybeType<Failure, void>& error, BindingProperty& output,
                               const Abi::HostValue& input, const char* name);

/// Writes `value` into the host record `output` (overwritten, not released). Texts, bytes
/// and keys are owned copies made through the heap accounting. Enumeration values become
/// their enumerator's name when `registry` is given and knows one, otherwise the number.
void ValueToHost(Abi::HostValue& output, const BindingProperty& value,
                 const BindingRegistry* registry);

namespace detail {

/// The binding type of a native T (references and qualifiers ignored): its kind and,
/// for described types, its descriptor in `registry` (null when not registered).
template <class T>
TypeRef NativeTypeRef(const BindingRegistry& registry) {
  using Native = NativeField<std::decay_t<T>>;
  TypeRef type{Native::kKind, Native::kElementKind, nullptr};
  if constexpr (!std::is_void_v<typename Native::Described>) {
    type.descriptor = registry.FindType(StaticType::HashCode<typename Native::Described>());
  }
  return type;
}

}  // namespace detail
}  // namespace Kavren
