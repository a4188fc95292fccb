// The converters between native values and binding values, one per native kind.
//
// Into native form, every converter takes a `status`: when its `ok` is false on entry the
// converter does nothing; a failure is reported with status.Fail and later conversions are
// skipped. `name` is the text the messages quote. A scalar conversion that fails still
// stores false, 0, 0.0 or the empty text/bytes in its target.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/descriptors.h"
#include "binding/value.h"

namespace Kavren {

/// A signed integer in [minimum, maximum]; `kindName` ("int8" .. "int64", or an
/// enumeration's name) is quoted by the messages.
void ConvertSigned(BindingResult& status, std::int64_t& target, const BindingProperty& input,
                   const char* name, std::int64_t minimum, std::int64_t maximum,
                   const char* kindName);
/// An unsigned integer in [0, maximum].
void ConvertUnsigned(BindingResult& status, std::uint64_t& target, const BindingProperty& input,
                     const char* name, std::uint64_t maximum, const char* kindName);
/// A floating-point number in [minimum, maximum] ("float" or "double").
void ConvertFloating(BindingResult& status, double& target, const BindingProperty& input,
                     const char* name, double minimum, double maximum, const char* kindName);
void ConvertBool(BindingResult& status, bool& target, const BindingProperty& input,
                 const char* name);
/// Strings are copied; an enumeration value gives its enumerator's name, looked up in
/// `registry` (may be null: then no name is found).
void ConvertString(BindingResult& status, std::string& target, const BindingProperty& input,
                   const char* name, const BindingRegistry* registry);
/// Blobs are copied; texts are decoded as base64.
void ConvertBlob(BindingResult& status, std::vector<std::uint8_t>& target,
                 const BindingProperty& input, const char* name);
/// The target becomes a copy of the input, whatever its kind (never fails).
void ConvertObject(BindingResult& status, BindingProperty& target, const BindingProperty& input);
/// The native enumeration at `target`, `descriptor->size` bytes wide. A null descriptor
/// fails with the unregistered-structure message.
void ConvertEnum(BindingResult& status, void* target, const BindingProperty& input,
                 const char* name, const TypeDescriptor* descriptor);
/// The native record at `target`, field by field in registration order.
void ConvertRecord(BindingResult& status, void* target, const BindingProperty& input,
                   const char* name, const TypeDescriptor* descriptor,
                   const BindingRegistry& registry);

/// Writes the native enumeration at `native` into `output` (width from the descriptor);
/// a null descriptor fails `status`.
void EnumToValue(BindingResult& status, BindingProperty& output, const void* native,
                 const TypeDescriptor* descriptor);
/// Writes the native record at `native` into `output` as a structure. A failure is
/// reported with status.Fail, which resets status.value: `output` must be status.value
/// or inside it, and is not touched afterwards.
void RecordToValue(BindingResult& status, BindingProperty& output, const void* native,
                   const TypeDescriptor* descriptor, const BindingRegistry& registry);

/// Converts `input` into the field at `field` (the field's own address, not the
/// record's), by the field's kind or through its accessor.
void FieldToNative(BindingResult& status, void* field, const BindingProperty& input,
                   const FieldDescriptor& descriptor, const BindingRegistry& registry);
/// Converts the field at `field` into `output` (same rule as RecordToValue).
void FieldToValue(BindingResult& status, BindingProperty& output, const void* field,
                  const FieldDescriptor& descriptor, const BindingRegistry& registry);
/// Converts the field into `output.value` (whose `ok` is expected to be true).
void FieldToValue(BindingResult& output, const void* field, const FieldDescriptor& descriptor,
                  const BindingRegistry& registry);

namespace detail {
/// The registry's lookup by code, callable where the registry is still incomplete.
const TypeDescriptor* FindDescriptor(const BindingRegistry& registry, const TypeIdentity* identity);
}  // namespace detail

}  // namespace Kavren
