// Descriptions of registered native types: kinds, type references, fields and enumerators.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "abi/type_kind.h"
#include "binding/type_identity.h"

namespace Kavren {

class BindingProperty;
class BindingRegistry;
struct BindingResult;
struct FieldDescriptor;
struct TypeDescriptor;

/// The kind of a native type: the API block's type-kind codes. Unknown numbers (0, or
/// above 19) print as the empty text.
using Abi::TypeKind;
using Abi::TypeKindName;

/// How a field, argument or element refers to its type. `descriptor` is set for enum and
/// struct kinds and for vectors or maps of them, and null when that type was not
/// registered before the reference was made.
struct TypeRef {
  TypeKind kind = TypeKind::kNone;
  TypeKind elementKind = TypeKind::kNone;
  const TypeDescriptor* descriptor = nullptr;
};

/// The type text of a reference as help output shows it: the kind's name, or the
/// registered name of an enum or struct ("enum" / "struct" without a descriptor).
std::string TypeRefText(const TypeRef& type);
/// The element type text: for "vector" and "map" the text of the element, otherwise empty.
std::string TypeRefElementText(const TypeRef& type);

/// Field flag: leave the member out when the field's value is empty (native to value).
inline constexpr std::uint32_t kFieldOmitEmpty = 1;
/// Field flag: a missing or empty member is an error (value to native).
inline constexpr std::uint32_t kFieldRequired = 2;

/// Converts one native field whose conversion the registry does not handle directly.
/// Created by the typed field adder of the field's native type; destroyed with its field.
class FieldAccessor {
 public:
  virtual ~FieldAccessor() = default;

  /// Converts `input` into the native field at `field`; failures go into `status`.
  virtual void ToNative(BindingResult& status, void* field, const BindingProperty& input,
                        const char* name, const FieldDescriptor& descriptor,
                        const BindingRegistry& registry) const = 0;
  /// Converts the native field at `field` into `output`, which is `status.value` or a
  /// value inside it; a failure is reported with status.Fail (and `output` is then gone).
  virtual void ToValue(BindingResult& status, BindingProperty& output, const void* field,
                       const FieldDescriptor& descriptor,
                       const BindingRegistry& registry) const = 0;
};

/// One field of a registered record, in registration order.
struct FieldDescriptor {
  std::string name;
  std::uint32_t nameHash = 0;
  std::string description;
  const TypeIdentity* identity = nullptr;
  std::uint32_t offset = 0;
  TypeRef type;
  /// Kept when its kind is not kNone; nothing reads it.
  TypeRef auxType;
  /// kFieldOmitEmpty, kFieldRequired.
  std::uint32_t flags = 0;
  std::unique_ptr<FieldAccessor> accessor;
  const TypeDescriptor* owner = nullptr;
  /// The native field is an optional wrapper: every conversion goes through `accessor`.
  bool optional = false;
};

/// One enumerator; names are unique within their enumeration.
struct EnumValueDescriptor {
  std::string name;
  std::int32_t value = 0;
  std::string description;
  const TypeDescriptor* owner = nullptr;
};

/// One registered record or enumeration, owned by its registry and never copied.
struct TypeDescriptor {
  TypeDescriptor() = default;
  TypeDescriptor(const TypeDescriptor&) = delete;
  TypeDescriptor& operator=(const TypeDescriptor&) = delete;

  /// Records: the whole native size; enumerations: the native width (1, 2, 4 or 8).
  std::uint32_t size = 0;
  bool isEnum = false;
  std::string name;
  std::uint32_t hashCode = 0;
  const TypeIdentity* identity = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
  /// Records only, in registration order.
  std::vector<FieldDescriptor> fields;
  /// Enumerations only, ordered byte-wise by name.
  std::map<std::string, EnumValueDescriptor> values;
  BindingRegistry* registry = nullptr;
};

}  // namespace Kavren
