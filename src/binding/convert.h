// Conversion between native records and binding values.
#pragma once

#include <type_traits>
#include <utility>

#include "binding/converters.h"
#include "binding/messages.h"
#include "binding/native_field.h"
#include "binding/registry.h"
#include "binding/value.h"
#include "util/failure.h"

namespace Kavren {

/// Converts `native` into `output` (whose `ok` should be true on entry). A record type
/// that is not registered fails with the unregistered-structure message.
template <class T>
void ToValue(BindingResult& output, const T& native, const BindingRegistry& registry) {
  if (!output.ok) return;
  detail::NativeField<T>::ToValue(output, output.value, native, nullptr, registry);
}

/// `native` as a standalone value. Fails (code 0) when T is a record that is not
/// registered or the conversion fails.
template <class T>
[[nodiscard]] MaybeType<Failure, BindingProperty> ToValue(const T& native,
                                                          const BindingRegistry& registry) {
  if constexpr (detail::NativeField<T>::kKind == TypeKind::kStruct) {
    if (registry.FindType(StaticType::HashCode<T>()) == nullptr) {
      return Failure{0, FailureMessage::Constant(ConvertMessages::kUnregisteredNative)};
    }
  }
  BindingResult converted;
  ToValue(converted, native, registry);
  if (!converted.ok) return Failure{0, converted.ErrorText()};
  return std::move(converted.value);
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
