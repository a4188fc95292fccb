// How each native field type is described (its TypeRef) and converted (its accessor).
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/converters.h"
#include "binding/descriptors.h"
#include "binding/type_identity.h"
#include "binding/value.h"

namespace Kavren::detail {

/// The native conversions of field type F. Every specialisation provides:
///   kKind, kElementKind, kOptional, `Described` (the enum or record type whose descriptor
///   the field's TypeRef carries, or void),
///   ToNative(status, F& target, input, name, descriptor, registry),
///   ToValue(status, BindingProperty& output, const F& native, descriptor, registry).
/// `descriptor` is the TypeRef's descriptor; enum and record leaves look their type up by
/// code when it is null (element types nested below another container).
template <class F, class Enable = void>
struct NativeField;

template <class F>
const TypeDescriptor* LeafDescriptor(const TypeDescriptor* hint, const BindingRegistry& registry) {
  return hint != nullptr ? hint : FindDescriptor(registry, StaticType::HashCode<F>());
}

template <>
struct NativeField<bool> {
  static constexpr TypeKind kKind = TypeKind::kBool;
  static constexpr TypeKind kElementKind = TypeKind::kNone;
  static constexpr bool kOptional = false;
  using Described = void;
  static void ToNative(BindingResult& status, bool& target, const BindingProperty& input,
                       const char* name, const TypeDescriptor*, const BindingRegistry&) {
    ConvertBool(status, target, input, name);
  }
  static void ToValue(BindingResult&, BindingProperty& output, bool native, const TypeDescriptor*,
                      const BindingRegistry&) {
    output.SetBool(native);
  }
};

template <class T>
constexpr TypeKind IntegerKind() {
  constexpr bool kSigned = std::is_signed_v<T>;
  switch (sizeof(T)) {
    case 1:
      return kSigned ? TypeKind::kInt8 : TypeKind::kUint8;
    case 2:
      return kSigned ? TypeKind::kInt16 : TypeKind::kUint16;
    case 4:
      return kSigned ? TypeKind::kInt32 : TypeKind::kUint32;
    default:
      return kSigned ? TypeKind::kInt64 : TypeKind::kUint64;
  }
}

template <class F>
struct NativeField<F, std::enable_if_t<std::is_integral_v<F> && !std::is_same_v<F, bool> &&
                                       !std::is_same_v<F, char>>> {
  static constexpr TypeKind kKind = IntegerKind<F>();
  static constexpr TypeKind kElementKind = TypeKind::kNone;
  static constexpr bool kOptional = false;
  using Described = void;
  static void ToNative(BindingResult& status, F& target, const BindingProperty& input,
                       const char* name, const TypeDescriptor*, const BindingRegistry&) {
    if (!status.ok) return;
    if constexpr (std::is_signed_v<F>) {
      std::int64_t number = 0;
      ConvertSigned(status, number, input, name, std::numeric_limits<F>::min(),
                    std::numeric_limits<F>::max(), TypeKindName(kKind));
      target = static_cast<F>(number);
    } else {
      std::uint64_t number = 0;
      ConvertUnsigned(status, number, input, name, std::numeric_limits<F>::max(),
                      TypeKindName(kKind));
      target = static_cast<F>(number);
    }
  }
  static void ToValue(BindingResult&, BindingProperty& output, F native, const TypeDescriptor*,
                      const BindingRegistry&) {
    if constexpr (std::is_signed_v<F>) {
      output.SetSigned(native);
    } else {
      output.SetUnsigned(native);
    }
  }
};

template <class F>
struct NativeField<F, std::enable_if_t<std::is_floating_point_v<F>>> {
  static_assert(std::is_same_v<F, float> || std::is_same_v<F, double>);
  static constexpr TypeKind kKind = std::is_same_v<F, float> ? TypeKind::kFloat : TypeKind::kDouble;
  static constexpr TypeKind kElementKind = TypeKind::kNone;
  static constexpr bool kOptional = false;
  using Described = void;
  static void ToNative(BindingResult& status, F& target, const BindingProperty& input,
                       const char* name, const TypeDescriptor*, const BindingRegistry&) {
    if (!status.ok) return;
    double number = 0.0;
    ConvertFloating(status, number, input, name,
                    -static_cast<double>(std::numeric_limits<F>::max()),
                    static_cast<double>(std::numeric_limits<F>::max()), TypeKindName(kKind));
    target = static_cast<F>(number);
  }
  static void ToValue(BindingResult&, BindingProperty& output, F native, const TypeDescriptor*,
                      const BindingRegistry&) {
    output.SetFloat(static_cast<double>(native));
  }
};

template <>
struct NativeField<std::string> {
  static constexpr TypeKind kKind = TypeKind::kString;
  static constexpr TypeKind kElementKind = TypeKind::kNone;
  static constexpr bool kOptional = false;
  using Described = void;
  static void ToNative(BindingResult& status, std::string& target, const BindingProperty& input,
                       const char* name, const TypeDescriptor*, const BindingRegistry& registry) {
    ConvertString(status, target, input, name, &registry);
  }
  static void ToValue(BindingResult&, BindingProperty& output, const std::string& native,
                      const TypeDescriptor*, const BindingRegistry&) {
    output.SetString(std::string_view(native));
  }
};

template <>
struct NativeField<BindingProperty> {
  static constexpr TypeKind kKind = TypeKind::kObject;
  static constexpr TypeKind kElementKind = TypeKind::kNone;
  static constexpr bool kOptional = false;
  using Described = void;
  static void ToNative(BindingResult& status, BindingProperty& target, const BindingProperty& input,
                       const char*, const TypeDescriptor*, const BindingRegistry&) {
    ConvertObject(status, target, input);
  }
  static void ToValue(BindingResult&, BindingProperty& output, const BindingProperty& native,
                      const TypeDescriptor*, const BindingRegistry&) {
    output.CopyFrom(native);
  }
};

template <>
struct NativeField<std::vector<std::uint8_t>> {
  static constexpr TypeKind kKind = TypeKind::kBlob;
  static constexpr TypeKind kElementKind = TypeKind::kNone;
  static constexpr bool kOptional = false;
  using Described = void;
  static void ToNative(BindingResult& status, std::vector<std::uint8_t>& target,
                       const BindingProperty& input, const char* name, const TypeDescriptor*,
                       const BindingRegistry&) {
    ConvertBlob(status, target, input, name);
  }
  static void ToValue(BindingResult&, BindingProperty& output,
                      const std::vector<std::uint8_t>& native, const TypeDescriptor*,
                      const BindingRegistry&) {
    output.SetBlobCopy(native);
  }
};

template <class F>
struct NativeField<F, std::enable_if_t<std::is_enum_v<F>>> {
  static_assert(sizeof(F) == 1 || sizeof(F) == 2 || sizeof(F) == 4 || sizeof(F) == 8);
  static constexpr TypeKind kKind = TypeKind::kEnum;
  static constexpr TypeKind kElementKind = TypeKind::kNone;
  static constexpr bool kOptional = false;
  using Described = F;
  static void ToNative(BindingResult& status, F& target, const BindingProperty& input,
                       const char* name, const TypeDescriptor* descriptor,
                       const BindingRegistry& registry) {
    ConvertEnum(status, &target, input, name, LeafDescriptor<F>(descriptor, registry));
  }
  static void ToValue(BindingResult& status, BindingProperty& output, const F& native,
                      const TypeDescriptor* descriptor, const BindingRegistry& registry) {
    EnumToValue(status, output, &native, LeafDescriptor<F>(descriptor, registry));
  }
};

template <class F>
struct IsVector : std::false_type {};
template <class X>
struct IsVector<std::vector<X>> : std::true_type {};
template <class F>
struct IsStringMap : std::false_type {};
template <class X>
struct IsStringMap<std::unordered_map<std::string, X>> : std::true_type {};
template <class F>
struct IsOptional : std::false_type {};
template <class X>
struct IsOptional<std::optional<X>> : std::true_type {};

/// Any other class is a registered record.
template <class F>
struct NativeField<
    F, std::enable_if_t<std::is_class_v<F> && !IsVector<F>::value && !IsStringMap<F>::value &&
                        !IsOptional<F>::value && !std::is_same_v<F, std::string> &&
                        !std::is_same_v<F, BindingProperty>>> {
  static constexpr TypeKind kKind = TypeKind::kStruct;
  static constexpr TypeKind kElementKind = TypeKind::kNone;
  static constexpr bool kOptional = false;
  using Described = F;
  static void ToNative(BindingResult& status, F& target, const BindingProperty& input,
                       const char* name, const TypeDescriptor* descriptor,
                       const BindingRegistry& registry) {
    ConvertRecord(status, &target, input, name, LeafDescriptor<F>(descriptor, registry), registry);
  }
  static void ToValue(BindingResult& status, BindingProperty& output, const F& native,
                      const TypeDescriptor* descriptor, const BindingRegistry& registry) {
    RecordToValue(status, output, &native, LeafDescriptor<F>(descriptor, registry), registry);
  }
};

template <class X>
using ElementDescribed = std::conditional_t<NativeField<X>::kKind == TypeKind::kEnum ||
                                                NativeField<X>::kKind == TypeKind::kStruct,
                                            typename NativeField<X>::Described, void>;

void FailNotCollection(BindingResult& status, const char* name);
void FailRequired(BindingResult& status, const char* name);
void FailNotMapStructure(BindingResult& status, const char* name);

template <class X>
struct NativeField<std::vector<X>, std::enable_if_t<!std::is_same_v<X, std::uint8_t>>> {
  static_assert(!IsOptional<X>::value, "vectors of optional values are not supported");
  static constexpr TypeKind kKind = TypeKind::kVector;
  static constexpr TypeKind kElementKind = NativeField<X>::kKind;
  static constexpr bool kOptional = false;
  using Described = ElementDescribed<X>;
  static void ToNative(BindingResult& status, std::vector<X>& target, const BindingProperty& input,
                       const char* name, const TypeDescriptor* descriptor,
                       const BindingRegistry& registry) {
    if (!status.ok) return;
    if (!input.Is(ValueKind::kCollection)) {
      if (std::is_same_v<X, bool> && input.Is(ValueKind::kEmpty)) {
        FailRequired(status, name);
      } else {
        FailNotCollection(status, name);
      }
      return;
    }
    std::span<const BindingProperty> elements = input.Elements();
    target.clear();
    target.resize(elements.size());
    for (std::size_t index = 0; index < elements.size() && status.ok; ++index) {
      const BindingProperty& element = elements[index];
      if (element.IsEmpty()) continue;
      if constexpr (std::is_same_v<X, bool>) {
        bool bit = false;
        ConvertBool(status, bit, element, name);
        target[index] = bit;
      } else {
        NativeField<X>::ToNative(status, target[index], element, name, descriptor, registry);
      }
    }
  }
  static void ToValue(BindingResult& status, BindingProperty& output, const std::vector<X>& native,
                      const TypeDescriptor* descriptor, const BindingRegistry& registry) {
    output.MakeCollection();
    output.Reserve(native.size());
    for (std::size_t index = 0; index < native.size(); ++index) {
      BindingProperty& element = output.Append();
      if constexpr (std::is_same_v<X, bool>) {
        element.SetBool(native[index]);
      } else {
        NativeField<X>::ToValue(status, element, native[index], descriptor, registry);
        if (!status.ok) return;
      }
    }
  }
};

template <class X>
struct NativeField<std::unordered_map<std::string, X>> {
  static_assert(!IsOptional<X>::value, "maps of optional values are not supported");
  static constexpr TypeKind kKind = TypeKind::kMap;
  static constexpr TypeKind kElementKind = NativeField<X>::kKind;
  static constexpr bool kOptional = false;
  using Described = ElementDescribed<X>;
  static void ToNative(BindingResult& status, std::unordered_map<std::string, X>& target,
                       const BindingProperty& input, const char* name,
                       const TypeDescriptor* descriptor, const BindingRegistry& registry) {
    if (!status.ok) return;
    if (!input.Is(ValueKind::kStructure)) {
      FailNotMapStructure(status, name);
      return;
    }
    target.clear();
    target.reserve(input.Size());
    input.ForEachMember([&](std::string_view key, const BindingProperty& value) {
      if (value.IsEmpty()) return true;
      X& slot = target[std::string(key)];
      NativeField<X>::ToNative(status, slot, value, name, descriptor, registry);
      return status.ok;
    });
  }
  static void ToValue(BindingResult& status, BindingProperty& output,
                      const std::unordered_map<std::string, X>& native,
                      const TypeDescriptor* descriptor, const BindingRegistry& registry) {
    output.MakeStructure();
    for (const auto& [key, value] : native) {
      NativeField<X>::ToValue(status, output.Member(key), value, descriptor, registry);
      if (!status.ok) return;
    }
  }
};

/// An optional wrapper: absent is the empty value, and an empty input makes it absent.
template <class X>
struct NativeField<std::optional<X>> {
  static_assert(!IsOptional<X>::value, "nested optional values are not supported");
  static constexpr TypeKind kKind = NativeField<X>::kKind;
  static constexpr TypeKind kElementKind = NativeField<X>::kElementKind;
  static constexpr bool kOptional = true;
  using Described = typename NativeField<X>::Described;
  static void ToNative(BindingResult& status, std::optional<X>& target,
                       const BindingProperty& input, const char* name,
                       const TypeDescriptor* descriptor, const BindingRegistry& registry) {
    if (!status.ok) return;
    if (input.Is(ValueKind::kEmpty)) {
      target.reset();
      return;
    }
    NativeField<X>::ToNative(status, target.emplace(), input, name, descriptor, registry);
  }
  static void ToValue(BindingResult& status, BindingProperty& output,
                      const std::optional<X>& native, const TypeDescriptor* descriptor,
                      const BindingRegistry& registry) {
    if (!native.has_value()) {
      output.Reset();
      return;
    }
    NativeField<X>::ToValue(status, output, *native, descriptor, registry);
  }
};

/// The accessor that the typed field adder creates for a field of native type F.
template <class F>
class NativeFieldAccessor final : public FieldAccessor {
 public:
  void ToNative(BindingResult& status, void* field, const BindingProperty& input, const char* name,
                const FieldDescriptor& descriptor, const BindingRegistry& registry) const override {
    NativeField<F>::ToNative(status, *static_cast<F*>(field), input, name,
                             descriptor.type.descriptor, registry);
  }
  void ToValue(BindingResult& status, BindingProperty& output, const void* field,
               const FieldDescriptor& descriptor, const BindingRegistry& registry) const override {
    NativeField<F>::ToValue(status, output, *static_cast<const F*>(field),
                            descriptor.type.descriptor, registry);
  }
};

}  // namespace Kavren::detail
