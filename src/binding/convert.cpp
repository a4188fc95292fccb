// The converters between native values and binding values.
#include "binding/convert.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_map>

#include "binding/messages.h"
#include "util/format.h"

namespace Kavren {

namespace detail {

void FailRequired(BindingResult& status, const char* name) {
  status.Fail(Format(ConvertMessages::kRequired, name));
}

void FailNotCollection(BindingResult& status, const char* name) {
  status.Fail(Format(ConvertMessages::kNotCollection, name));
}

void FailNotMapStructure(BindingResult& status, const char* name) {
  status.Fail(Format(ConvertMessages::kNotMapStructure, name));
}

}  // namespace detail

namespace {

const char* KindName(const BindingProperty& input) { return ValueKindName(input.Kind()); }

// Fails with the out-of-range message, quoting the input by its own kind.
void FailOutOfRange(BindingResult& status, const BindingProperty& input, const char* name,
                    const char* kindName) {
  switch (input.Kind()) {
    case ValueKind::kSigned:
      status.Fail(Format(ConvertMessages::kOutOfRange, input.GetSigned(), name, kindName));
      break;
    case ValueKind::kUnsigned:
      status.Fail(Format(ConvertMessages::kOutOfRange, input.GetUnsigned(), name, kindName));
      break;
    case ValueKind::kFloat:
      status.Fail(Format(ConvertMessages::kOutOfRange, input.GetFloat(), name, kindName));
      break;
    case ValueKind::kEnum:
      status.Fail(Format(ConvertMessages::kOutOfRange, input.GetEnum().value, name, kindName));
      break;
    default:
      status.Fail(Format(ConvertMessages::kOutOfRange, input.GetString(), name, kindName));
      break;
  }
}

// The outcome of reading a number from a text.
enum class ParseOutcome { kOk, kFormat, kRange };

// The strto* functions need a zero-terminated text and stop at an embedded zero, which
// then counts as a character left over: the text is copied, and nothing past its end
// is ever read.
template <class Number, class Parse>
ParseOutcome ParseNumber(std::string_view text, Number& number, Parse parse) {
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  number = parse(copy.c_str(), &end);
  const bool overflow = errno == ERANGE;
  errno = 0;
  if (static_cast<std::size_t>(end - copy.c_str()) != copy.size()) return ParseOutcome::kFormat;
  return overflow ? ParseOutcome::kRange : ParseOutcome::kOk;
}

ParseOutcome ParseSigned(std::string_view text, std::int64_t& number) {
  long long parsed = 0;
  ParseOutcome outcome = ParseNumber(
      text, parsed, [](const char* begin, char** end) { return std::strtoll(begin, end, 0); });
  number = parsed;
  return outcome;
}

// True when the text's first character other than leading white space is "-": such a
// text is never an unsigned number (strtoull would wrap it around).
bool StartsNegative(std::string_view text) {
  std::size_t index = 0;
  while (index < text.size() && std::strchr(" \t\n\v\f\r", text[index]) != nullptr &&
         text[index] != '\0') {
    ++index;
  }
  return index < text.size() && text[index] == '-';
}

// 2^63 and 2^64 as doubles: the first values that no longer fit the 64-bit integers.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

const EnumValueDescriptor* FindEnumerator(const TypeDescriptor& descriptor, std::int32_t value) {
  for (const auto& [name, enumerator] : descriptor.values) {
    if (enumerator.value == value) return &enumerator;
  }
  return nullptr;
}

void StoreEnum(void* target, std::uint32_t width, std::int32_t value) {
  switch (width) {
    case 1: {
      const std::int8_t narrow = static_cast<std::int8_t>(value);
      std::memcpy(target, &narrow, 1);
      break;
    }
    case 2: {
      const std::int16_t narrow = static_cast<std::int16_t>(value);
      std::memcpy(target, &narrow, 2);
      break;
    }
    case 4:
      std::memcpy(target, &value, 4);
      break;
    case 8: {
      const std::int64_t wide = value;
      std::memcpy(target, &wide, 8);
      break;
    }
    default:
      break;
  }
}

std::int32_t LoadEnum(const void* native, std::uint32_t width) {
  switch (width) {
    case 1: {
      std::int8_t narrow;
      std::memcpy(&narrow, native, 1);
      return narrow;
    }
    case 2: {
      std::int16_t narrow;
      std::memcpy(&narrow, native, 2);
      return narrow;
    }
    case 4: {
      std::int32_t value;
      std::memcpy(&value, native, 4);
      return value;
    }
    case 8: {
      std::int64_t wide;
      std::memcpy(&wide, native, 8);
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(wide));
    }
    default:
      return 0;
  }
}

bool IsBase64Character(char character) {
  return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') ||
         (character >= '0' && character <= '9') || character == '+' || character == '/' ||
         character == '=';
}

int Base64Digit(char character) {
  if (character >= 'A' && character <= 'Z') return character - 'A';
  if (character >= 'a' && character <= 'z') return character - 'a' + 26;
  if (character >= '0' && character <= '9') return character - '0' + 52;
  return character == '+' ? 62 : 63;
}

// Decodes up to the first "="; a final group of 2 or 3 digits gives 1 or 2 bytes.
void DecodeBase64(std::string_view text, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  bytes.reserve(text.size() / 4 * 3 + 2);
  std::uint32_t group = 0;
  int digits = 0;
  for (char character : text) {
    if (character == '=') break;
    group = (group << 6) | static_cast<std::uint32_t>(Base64Digit(character));
    if (++digits == 4) {
      bytes.push_back(static_cast<std::uint8_t>(group >> 16));
      bytes.push_back(static_cast<std::uint8_t>(group >> 8));
      bytes.push_back(static_cast<std::uint8_t>(group));
      group = 0;
      digits = 0;
    }
  }
  if (digits == 2) {
    bytes.push_back(static_cast<std::uint8_t>(group >> 4));
  } else if (digits == 3) {
    bytes.push_back(static_cast<std::uint8_t>(group >> 10));
    bytes.push_back(static_cast<std::uint8_t>(group >> 2));
  }
}

// Converts a vector field of element kind 1..14 with the native vector type of that kind.
template <class Element>
void VectorToNative(BindingResult& status, void* field, const BindingProperty& input,
                    const char* name, const FieldDescriptor& descriptor,
                    const BindingRegistry& registry) {
  detail::NativeField<std::vector<Element>>::ToNative(
      status, *static_cast<std::vector<Element>*>(field), input, name, descriptor.type.descriptor,
      registry);
}

template <class Element>
void MapToNative(BindingResult& status, void* field, const BindingProperty& input, const char* name,
                 const FieldDescriptor& descriptor, const BindingRegistry& registry) {
  detail::NativeField<std::unordered_map<std::string, Element>>::ToNative(
      status, *static_cast<std::unordered_map<std::string, Element>*>(field), input, name,
      descriptor.type.descriptor, registry);
}

template <class Element>
void VectorToValue(BindingResult& status, BindingProperty& output, const void* field,
                   const FieldDescriptor& descriptor, const BindingRegistry& registry) {
  detail::NativeField<std::vector<Element>>::ToValue(
      status, output, *static_cast<const std::vector<Element>*>(field), descriptor.type.descriptor,
      registry);
}

template <class Element>
void MapToValue(BindingResult& status, BindingProperty& output, const void* field,
                const FieldDescriptor& descriptor, const BindingRegistry& registry) {
  detail::NativeField<std::unordered_map<std::string, Element>>::ToValue(
      status, output, *static_cast<const std::unordered_map<std::string, Element>*>(field),
      descriptor.type.descriptor, registry);
}

// Calls Visit.template operator()<Element>() with the native type of an element kind
// 1..14; false for other kinds.
template <class Visit>
bool WithElementType(TypeKind kind, Visit&& visit) {
  switch (kind) {
    case TypeKind::kBool:
      visit.template operator()<bool>();
      return true;
    case TypeKind::kInt8:
      visit.template operator()<std::int8_t>();
      return true;
    case TypeKind::kUint8:
      visit.template operator()<std::uint8_t>();
      return true;
    case TypeKind::kInt16:
      visit.template operator()<std::int16_t>();
      return true;
    case TypeKind::kUint16:
      visit.template operator()<std::uint16_t>();
      return true;
    case TypeKind::kInt32:
      visit.template operator()<std::int32_t>();
      return true;
    case TypeKind::kUint32:
      visit.template operator()<std::uint32_t>();
      return true;
    case TypeKind::kInt64:
      visit.template operator()<std::int64_t>();
      return true;
    case TypeKind::kUint64:
      visit.template operator()<std::uint64_t>();
      return true;
    case TypeKind::kFloat:
      visit.template operator()<float>();
      return true;
    case TypeKind::kDouble:
      visit.template operator()<double>();
      return true;
    case TypeKind::kString:
      visit.template operator()<std::string>();
      return true;
    case TypeKind::kObject:
      visit.template operator()<BindingProperty>();
      return true;
    case TypeKind::kBlob:
      visit.template operator()<std::vector<std::uint8_t>>();
      return true;
    default:
      return false;
  }
}

// Calls Visit.template operator()<Native>() with the native type of a scalar field kind
// 1..13; false for other kinds.
template <class Visit>
bool WithScalarType(TypeKind kind, Visit&& visit) {
  return kind != TypeKind::kBlob && WithElementType(kind, std::forward<Visit>(visit));
}

}  // namespace

void ConvertSigned(BindingResult& status, std::int64_t& target, const BindingProperty& input,
                   const char* name, std::int64_t minimum, std::int64_t maximum,
                   const char* kindName) {
  if (!status.ok) return;
  target = 0;
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      detail::FailRequired(status, name);
      return;
    case ValueKind::kSigned: {
      const std::int64_t value = input.GetSigned();
      if (value < minimum || value > maximum) return FailOutOfRange(status, input, name, kindName);
      target = value;
      return;
    }
    case ValueKind::kUnsigned: {
      const std::uint64_t value = input.GetUnsigned();
      if (maximum < 0 || value > static_cast<std::uint64_t>(maximum)) {
        return FailOutOfRange(status, input, name, kindName);
      }
      target = static_cast<std::int64_t>(value);
      return;
    }
    case ValueKind::kFloat: {
      // NaN and 2^63 (the double nearest the 64-bit maximum) do not fit any target.
      const double value = input.GetFloat();
      if (std::isnan(value) || value < static_cast<double>(minimum) ||
          value > static_cast<double>(maximum) || value >= kTwoTo63) {
        return FailOutOfRange(status, input, name, kindName);
      }
      target = static_cast<std::int64_t>(value);
      return;
    }
    case ValueKind::kString: {
      std::int64_t value = 0;
      const std::string_view text = input.GetString();
      const ParseOutcome outcome = ParseSigned(text, value);
      if (outcome == ParseOutcome::kFormat) {
        status.Fail(Format(ConvertMessages::kIncorrectFormat, text, name, kindName));
        return;
      }
      if (outcome == ParseOutcome::kRange || value < minimum || value > maximum) {
        return FailOutOfRange(status, input, name, kindName);
      }
      target = value;
      return;
    }
    case ValueKind::kEnum: {
      const std::int64_t value = input.GetEnum().value;
      if (value < minimum || value > maximum) return FailOutOfRange(status, input, name, kindName);
      target = value;
      return;
    }
    default:
      status.Fail(Format(ConvertMessages::kInvalidNumberType, name, kindName, KindName(input)));
      return;
  }
}

void ConvertUnsigned(BindingResult& status, std::uint64_t& target, const BindingProperty& input,
                     const char* name, std::uint64_t maximum, const char* kindName) {
  if (!status.ok) return;
  target = 0;
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      detail::FailRequired(status, name);
      return;
    case ValueKind::kSigned: {
      const std::int64_t value = input.GetSigned();
      if (value < 0 || static_cast<std::uint64_t>(value) > maximum) {
        return FailOutOfRange(status, input, name, kindName);
      }
      target = static_cast<std::uint64_t>(value);
      return;
    }
    case ValueKind::kUnsigned: {
      const std::uint64_t value = input.GetUnsigned();
      if (value > maximum) return FailOutOfRange(status, input, name, kindName);
      target = value;
      return;
    }
    case ValueKind::kFloat: {
      const double value = input.GetFloat();
      if (std::isnan(value) || value < 0 || value > static_cast<double>(maximum) ||
          value >= kTwoTo64) {
        return FailOutOfRange(status, input, name, kindName);
      }
      target = static_cast<std::uint64_t>(value);
      return;
    }
    case ValueKind::kString: {
      const std::string_view text = input.GetString();
      unsigned long long value = 0;
      const ParseOutcome outcome = ParseNumber(
          text, value, [](const char* begin, char** end) { return std::strtoull(begin, end, 0); });
      if (outcome == ParseOutcome::kFormat) {
        status.Fail(Format(ConvertMessages::kIncorrectFormat, text, name, kindName));
        return;
      }
      if (outcome == ParseOutcome::kRange || StartsNegative(text) || value > maximum) {
        return FailOutOfRange(status, input, name, kindName);
      }
      target = value;
      return;
    }
    case ValueKind::kEnum: {
      const std::int32_t value = input.GetEnum().value;
      if (value < 0 || static_cast<std::uint64_t>(value) > maximum) {
        return FailOutOfRange(status, input, name, kindName);
      }
      target = static_cast<std::uint64_t>(value);
      return;
    }
    default:
      status.Fail(Format(ConvertMessages::kInvalidNumberType, name, kindName, KindName(input)));
      return;
  }
}

void ConvertFloating(BindingResult& status, double& target, const BindingProperty& input,
                     const char* name, double minimum, double maximum, const char* kindName) {
  if (!status.ok) return;
  target = 0.0;
  double value = 0.0;
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      detail::FailRequired(status, name);
      return;
    case ValueKind::kSigned:
      value = static_cast<double>(input.GetSigned());
      break;
    case ValueKind::kUnsigned:
      value = static_cast<double>(input.GetUnsigned());
      break;
    case ValueKind::kFloat:
      value = input.GetFloat();
      break;
    case ValueKind::kEnum:
      value = input.GetEnum().value;
      break;
    case ValueKind::kString: {
      const std::string_view text = input.GetString();
      const ParseOutcome outcome = ParseNumber(
          text, value, [](const char* begin, char** end) { return std::strtod(begin, end); });
      if (outcome == ParseOutcome::kFormat) {
        status.Fail(Format(ConvertMessages::kIncorrectFormat, text, name, kindName));
        return;
      }
      if (outcome == ParseOutcome::kRange) return FailOutOfRange(status, input, name, kindName);
      break;
    }
    default:
      status.Fail(Format(ConvertMessages::kInvalidNumberType, name, kindName, KindName(input)));
      return;
  }
  // A NaN passes: it compares false both ways.
  if (value < minimum || value > maximum) return FailOutOfRange(status, input, name, kindName);
  target = value;
}

void ConvertBool(BindingResult& status, bool& target, const BindingProperty& input,
                 const char* name) {
  if (!status.ok) return;
  target = false;
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      detail::FailRequired(status, name);
      return;
    case ValueKind::kBool:
      target = input.GetBool();
      return;
    case ValueKind::kString: {
      const std::string_view text = input.GetString();
      if (text == "1" || text == "true") {
        target = true;
      } else if (!(text == "0" || text == "false")) {
        status.Fail(Format(ConvertMessages::kBoolFormat, text, name));
      }
      return;
    }
    default:
      status.Fail(Format(ConvertMessages::kBoolInvalidType, name, KindName(input)));
      return;
  }
}

void ConvertString(BindingResult& status, std::string& target, const BindingProperty& input,
                   const char* name, const BindingRegistry* registry) {
  if (!status.ok) return;
  target.clear();
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      detail::FailRequired(status, name);
      return;
    case ValueKind::kString:
      target.assign(input.GetString());
      return;
    case ValueKind::kEnum: {
      const BindingEnumValue value = input.GetEnum();
      const char* enumerator = registry != nullptr && value.identity != nullptr
                                   ? registry->EnumValueName(value.identity, value.value)
                                   : nullptr;
      if (enumerator == nullptr) {
        status.Fail(Format(ConvertMessages::kNoEnumName, value.value, name));
        return;
      }
      target.assign(enumerator);
      return;
    }
    default:
      status.Fail(Format(ConvertMessages::kNotString, name));
      return;
  }
}

void ConvertBlob(BindingResult& status, std::vector<std::uint8_t>& target,
                 const BindingProperty& input, const char* name) {
  if (!status.ok) return;
  target.clear();
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      detail::FailRequired(status, name);
      return;
    case ValueKind::kBlob: {
      const std::span<const std::uint8_t> bytes = input.GetBlob();
      target.assign(bytes.begin(), bytes.end());
      return;
    }
    case ValueKind::kString: {
      const std::string_view text = input.GetString();
      for (char character : text) {
        if (!IsBase64Character(character)) {
          status.Fail(Format(ConvertMessages::kInvalidBase64, name));
          return;
        }
      }
      DecodeBase64(text, target);
      return;
    }
    default:
      status.Fail(Format(ConvertMessages::kNotBlob, name));
      return;
  }
}

void ConvertObject(BindingResult& status, BindingProperty& target, const BindingProperty& input) {
  if (!status.ok) return;
  // No reset first: the input may lie inside the target, and CopyFrom copies before it
  // releases the old content.
  target.CopyFrom(input);
}

void ConvertEnum(BindingResult& status, void* target, const BindingProperty& input,
                 const char* name, const TypeDescriptor* descriptor) {
  if (!status.ok) return;
  if (descriptor == nullptr) {
    status.Fail(Format(ConvertMessages::kUnregisteredTarget, name));
    return;
  }
  const std::uint32_t width = descriptor->size;
  StoreEnum(target, width, 0);
  std::int32_t value = 0;
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      detail::FailRequired(status, name);
      return;
    case ValueKind::kSigned:
    case ValueKind::kUnsigned: {
      const std::uint64_t bits = input.Is(ValueKind::kSigned)
                                     ? static_cast<std::uint64_t>(input.GetSigned())
                                     : input.GetUnsigned();
      value = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
      if (FindEnumerator(*descriptor, value) == nullptr) {
        if (input.Is(ValueKind::kSigned)) {
          status.Fail(
              Format(ConvertMessages::kNotEnumValue, input.GetSigned(), descriptor->name, name));
        } else {
          status.Fail(
              Format(ConvertMessages::kNotEnumValue, input.GetUnsigned(), descriptor->name, name));
        }
        return;
      }
      break;
    }
    case ValueKind::kString: {
      const std::string_view text = input.GetString();
      const auto named = descriptor->values.find(std::string(text));
      if (named != descriptor->values.end()) {
        value = named->second.value;
        break;
      }
      BindingResult parse;
      std::int64_t number = 0;
      ConvertSigned(parse, number, input, name, std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max(), descriptor->name.c_str());
      value = static_cast<std::int32_t>(number);
      if (!parse.ok || FindEnumerator(*descriptor, value) == nullptr) {
        status.Fail(Format(ConvertMessages::kNotEnumValue, text, descriptor->name, name));
        return;
      }
      break;
    }
    case ValueKind::kEnum:
      value = input.GetEnum().value;
      if (FindEnumerator(*descriptor, value) == nullptr) {
        status.Fail(Format(ConvertMessages::kNotEnumValue, value, descriptor->name, name));
        return;
      }
      break;
    default:
      status.Fail(Format(ConvertMessages::kEnumInvalidType, name, KindName(input)));
      return;
  }
  StoreEnum(target, width, value);
}

void ConvertRecord(BindingResult& status, void* target, const BindingProperty& input,
                   const char* name, const TypeDescriptor* descriptor,
                   const BindingRegistry& registry) {
  if (!status.ok) return;
  if (descriptor == nullptr) {
    status.Fail(Format(ConvertMessages::kUnregisteredTarget, name));
    return;
  }
  if (!input.Is(ValueKind::kStructure)) {
    status.Fail(Format(ConvertMessages::kNotStructure, name, descriptor->name));
    return;
  }
  auto* record = static_cast<unsigned char*>(target);
  for (const FieldDescriptor& field : descriptor->fields) {
    if (!status.ok) return;
    const BindingProperty& member = input.Find(field.name);
    if (!member.IsEmpty()) {
      FieldToNative(status, record + field.offset, member, field, registry);
    } else if ((field.flags & kFieldRequired) != 0) {
      status.Fail(
          Format(ConvertMessages::kMissingRequiredField, name, descriptor->name, field.name));
    }
  }
}

void EnumToValue(BindingResult& status, BindingProperty& output, const void* native,
                 const TypeDescriptor* descriptor) {
  if (descriptor == nullptr) {
    status.Fail(ConvertMessages::kUnregisteredNative);
    return;
  }
  output.SetEnum(LoadEnum(native, descriptor->size), descriptor->identity);
}

void RecordToValue(BindingResult& status, BindingProperty& output, const void* native,
                   const TypeDescriptor* descriptor, const BindingRegistry& registry) {
  if (descriptor == nullptr) {
    status.Fail(ConvertMessages::kUnregisteredNative);
    return;
  }
  output.MakeStructure();
  const auto* record = static_cast<const unsigned char*>(native);
  for (const FieldDescriptor& field : descriptor->fields) {
    const void* address = record + field.offset;
    if ((field.flags & kFieldOmitEmpty) == 0) {
      FieldToValue(status, output.Member(field.name), address, field, registry);
      if (!status.ok) return;
      continue;
    }
    // Omitted when empty: converted apart first, so that no member is made for it.
    BindingResult converted;
    FieldToValue(converted, address, field, registry);
    if (!converted.ok) {
      status.Fail(converted.ErrorText());
      return;
    }
    if (!converted.value.IsEmpty()) output.Member(field.name).MoveFrom(converted.value);
  }
}

void FieldToNative(BindingResult& status, void* field, const BindingProperty& input,
                   const FieldDescriptor& descriptor, const BindingRegistry& registry) {
  if (!status.ok) return;
  const char* name = descriptor.name.c_str();
  const TypeKind kind = descriptor.type.kind;
  if (!descriptor.optional) {
    auto scalar = [&]<class Native>() {
      detail::NativeField<Native>::ToNative(status, *static_cast<Native*>(field), input, name,
                                            nullptr, registry);
    };
    if (WithScalarType(kind, scalar)) return;
    switch (kind) {
      case TypeKind::kEnum:
        ConvertEnum(status, field, input, name, descriptor.type.descriptor);
        return;
      case TypeKind::kStruct:
        ConvertRecord(status, field, input, name, descriptor.type.descriptor, registry);
        return;
      case TypeKind::kVector: {
        auto vector = [&]<class Element>() {
          VectorToNative<Element>(status, field, input, name, descriptor, registry);
        };
        if (WithElementType(descriptor.type.elementKind, vector)) return;
        break;
      }
      case TypeKind::kMap: {
        auto map = [&]<class Element>() {
          MapToNative<Element>(status, field, input, name, descriptor, registry);
        };
        if (WithElementType(descriptor.type.elementKind, map)) return;
        break;
      }
      default:
        break;
    }
  }
  if (descriptor.accessor != nullptr) {
    descriptor.accessor->ToNative(status, field, input, name, descriptor, registry);
  }
}

void FieldToValue(BindingResult& status, BindingProperty& output, const void* field,
                  const FieldDescriptor& descriptor, const BindingRegistry& registry) {
  if (!status.ok) return;
  const TypeKind kind = descriptor.type.kind;
  if (!descriptor.optional) {
    auto scalar = [&]<class Native>() {
      detail::NativeField<Native>::ToValue(status, output, *static_cast<const Native*>(field),
                                           nullptr, registry);
    };
    // Blobs too: their conversion into value form is a plain copy of the bytes.
    if (WithElementType(kind, scalar)) return;
    switch (kind) {
      case TypeKind::kEnum:
        EnumToValue(status, output, field, descriptor.type.descriptor);
        return;
      case TypeKind::kStruct:
        RecordToValue(status, output, field, descriptor.type.descriptor, registry);
        return;
      case TypeKind::kVector: {
        auto vector = [&]<class Element>() {
          VectorToValue<Element>(status, output, field, descriptor, registry);
        };
        if (WithElementType(descriptor.type.elementKind, vector)) return;
        break;
      }
      case TypeKind::kMap: {
        auto map = [&]<class Element>() {
          MapToValue<Element>(status, output, field, descriptor, registry);
        };
        if (WithElementType(descriptor.type.elementKind, map)) return;
        break;
      }
      default:
        break;
    }
  }
  if (descriptor.accessor != nullptr) {
    descriptor.accessor->ToValue(status, output, field, descriptor, registry);
  }
}

void FieldToValue(BindingResult& output, const void* field, const FieldDescriptor& descriptor,
                  const BindingRegistry& registry) {
  FieldToValue(output, output.value, field, descriptor, registry);
}

}  // namespace Kavren
