// The OpenAPI document's schemas: each kind of value as JSON Schema, and the registered
// records and enumerations as component schemas.
#include "host/describe/openapi_schemas.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <utility>

namespace Kavren::Host {

std::string ComponentName(const std::string& name) {
  std::string component = name;
  for (char& c : component) {
    const auto byte = static_cast<unsigned char>(c);
    if (!std::isalnum(byte) && c != '.' && c != '-' && c != '_') c = '_';
  }
  return component;
}

}  // namespace Kavren::Host

namespace Kavren::Host::detail {
namespace {

using rapidjson::Value;

ApiTypeReference Element(const ApiTypeReference& type) {
  return ApiTypeReference{type.elementKind, ApiKind::kNone, type.typeName};
}

}  // namespace

Value String(const std::string& text, Allocator& allocator) {
  return Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

void AddText(Value& object, const char* key, const std::string& text, Allocator& allocator) {
  object.AddMember(rapidjson::StringRef(key), String(text, allocator), allocator);
}

void SetText(Value& object, const char* key, const std::string& text, Allocator& allocator) {
  object.RemoveMember(key);
  AddText(object, key, text, allocator);
}

Value JsonContent(Value schema, Allocator& allocator) {
  Value media(rapidjson::kObjectType);
  media.AddMember("schema", schema, allocator);
  Value content(rapidjson::kObjectType);
  content.AddMember("application/json", media, allocator);
  return content;
}

Value Texts(const std::vector<std::string>& texts, Allocator& allocator) {
  Value list(rapidjson::kArrayType);
  for (const std::string& text : texts) list.PushBack(String(text, allocator), allocator);
  return list;
}

SchemaWriter::SchemaWriter(const ApiDescription& api, Allocator& allocator)
    : allocator_(allocator) {
  for (const ApiType& type : api.types) typeNames_.insert(type.name);
}

Value SchemaWriter::Schema(const ApiTypeReference& type) {
  Value schema(rapidjson::kObjectType);
  switch (type.kind) {
    case ApiKind::kVector:
      schema.AddMember("type", "array", allocator_);
      schema.AddMember("items", Schema(Element(type)), allocator_);
      break;
    case ApiKind::kMap:
      schema.AddMember("type", "object", allocator_);
      schema.AddMember("additionalProperties", Schema(Element(type)), allocator_);
      break;
    case ApiKind::kEnum:
    case ApiKind::kStruct:
      AddNamedSchema(type, schema);
      break;
    default:
      AddScalarSchema(type.kind, schema);
  }
  return schema;
}

Value SchemaWriter::RequestSchema(const ApiTypeReference& type) {
  const bool wasInput = std::exchange(input_, true);
  Value schema = Schema(type);
  input_ = wasInput;
  return schema;
}

Value SchemaWriter::TypeSchema(const ApiType& type, bool input) {
  const bool wasInput = std::exchange(input_, input);
  Value schema = TypeSchemaIn(type);
  input_ = wasInput;
  return schema;
}

// A registered enumeration or record by its component schema; an unregistered one by
// its kind alone.
void SchemaWriter::AddNamedSchema(const ApiTypeReference& type, Value& schema) {
  if (typeNames_.count(type.typeName) != 0) {
    std::string name = ComponentName(type.typeName);
    if (input_ && type.kind == ApiKind::kStruct) {
      inputTypes_.insert(type.typeName);
      name += kInputSuffix;
    }
    AddText(schema, "$ref", kSchemaPrefix + name, allocator_);
  } else {
    // Not registered: nothing more is known than the kind.
    schema.AddMember("type",
                     rapidjson::StringRef(type.kind == ApiKind::kEnum ? "string" : "object"),
                     allocator_);
  }
}

// The kinds that hold no other value: booleans, numbers, texts, blobs, handles.
void SchemaWriter::AddScalarSchema(ApiKind kind, Value& schema) {
  switch (kind) {
    case ApiKind::kBool:
      schema.AddMember("type", "boolean", allocator_);
      break;
    case ApiKind::kFloat:
    case ApiKind::kDouble:
      schema.AddMember("type", "number", allocator_);
      schema.AddMember("format", rapidjson::StringRef(kind == ApiKind::kFloat ? "float" : "double"),
                       allocator_);
      break;
    case ApiKind::kString:
      schema.AddMember("type", "string", allocator_);
      break;
    case ApiKind::kObject:
      schema.AddMember("description", "Any value", allocator_);
      break;
    case ApiKind::kBlob:
      schema.AddMember("type", "string", allocator_);
      schema.AddMember("contentEncoding", "base64", allocator_);
      break;
    case ApiKind::kCallback:
      schema.AddMember("description", "A callback handle", allocator_);
      break;
    default:
      AddIntegerSchema(kind, schema);
  }
}

// Integers of up to 32 bits carry their range; 64-bit ones only their format (and an
// unsigned one its minimum), as JSON numbers do not hold their whole range exactly.
void SchemaWriter::AddIntegerSchema(ApiKind kind, Value& schema) {
  switch (kind) {
    case ApiKind::kInt8:
      Integer(schema, "int8", std::numeric_limits<std::int8_t>::min(),
              std::numeric_limits<std::int8_t>::max());
      break;
    case ApiKind::kUint8:
      Integer(schema, "uint8", 0, std::numeric_limits<std::uint8_t>::max());
      break;
    case ApiKind::kInt16:
      Integer(schema, "int16", std::numeric_limits<std::int16_t>::min(),
              std::numeric_limits<std::int16_t>::max());
      break;
    case ApiKind::kUint16:
      Integer(schema, "uint16", 0, std::numeric_limits<std::uint16_t>::max());
      break;
    case ApiKind::kInt32:
      Integer(schema, "int32", std::numeric_limits<std::int32_t>::min(),
              std::numeric_limits<std::int32_t>::max());
      break;
    case ApiKind::kUint32:
      Integer(schema, "uint32", 0, std::numeric_limits<std::uint32_t>::max());
      break;
    case ApiKind::kInt64:
      schema.AddMember("type", "integer", allocator_);
      schema.AddMember("format", "int64", allocator_);
      break;
    case ApiKind::kUint64:
      schema.AddMember("type", "integer", allocator_);
      schema.AddMember("format", "uint64", allocator_);
      schema.AddMember("minimum", 0, allocator_);
      break;
    default:
      break;
  }
}

void SchemaWriter::Integer(Value& schema, const char* format, std::int64_t minimum,
                           std::int64_t maximum) {
  schema.AddMember("type", "integer", allocator_);
  schema.AddMember("format", rapidjson::StringRef(format), allocator_);
  schema.AddMember("minimum", minimum, allocator_);
  schema.AddMember("maximum", maximum, allocator_);
}

Value SchemaWriter::TypeSchemaIn(const ApiType& type) {
  Value schema = type.isEnum ? EnumSchema(type) : RecordSchema(type);
  if (!type.nameSpace.empty()) AddText(schema, "x-name-space", type.nameSpace, allocator_);
  schema.AddMember("x-native-size", type.size, allocator_);
  if (!type.tags.empty()) schema.AddMember("x-tags", Texts(type.tags, allocator_), allocator_);
  return schema;
}

// Enumerations travel as their enumerators' names, listed in value order; the
// description lists each with its value and its own description.
Value SchemaWriter::EnumSchema(const ApiType& type) {
  Value schema(rapidjson::kObjectType);
  std::vector<const ApiEnumValue*> byValue;
  for (const ApiEnumValue& value : type.values) byValue.push_back(&value);
  std::stable_sort(byValue.begin(), byValue.end(),
                   [](const ApiEnumValue* left, const ApiEnumValue* right) {
                     return left->value < right->value;
                   });
  std::string description = type.description;
  Value names(rapidjson::kArrayType);
  Value numbers(rapidjson::kArrayType);
  Value descriptions(rapidjson::kArrayType);
  for (const ApiEnumValue* value : byValue) {
    names.PushBack(String(value->name, allocator_), allocator_);
    numbers.PushBack(value->value, allocator_);
    descriptions.PushBack(String(value->description, allocator_), allocator_);
    description += (description.empty() || description.back() == '\n' ? "" : "\n\n");
    description += "- `" + value->name + "` (" + std::to_string(value->value) + ")";
    if (!value->description.empty()) description += ": " + value->description;
    description += "\n";
  }
  schema.AddMember("type", "string", allocator_);
  if (!names.Empty()) schema.AddMember("enum", names, allocator_);
  if (!description.empty()) AddText(schema, "description", description, allocator_);
  schema.AddMember("x-enum-values", numbers, allocator_);
  schema.AddMember("x-enumDescriptions", descriptions, allocator_);
  return schema;
}

// A record's properties in field order; the output form requires the fields that are
// not optional.
Value SchemaWriter::RecordSchema(const ApiType& type) {
  Value schema(rapidjson::kObjectType);
  schema.AddMember("type", "object", allocator_);
  if (!type.description.empty()) AddText(schema, "description", type.description, allocator_);
  Value properties(rapidjson::kObjectType);
  std::set<std::string> required;
  for (const ApiField& field : type.fields) {
    Value property = Schema(field.type);
    if (!field.description.empty()) {
      SetText(property, "description", field.description, allocator_);
    }
    // A later field of the same name is what a reader keeps.
    properties.RemoveMember(field.name.c_str());
    properties.AddMember(String(field.name, allocator_), property, allocator_);
    if (field.optional) {
      required.erase(field.name);
    } else {
      required.insert(field.name);
    }
  }
  schema.AddMember("properties", properties, allocator_);
  if (!input_ && !required.empty()) {
    Value names(rapidjson::kArrayType);
    for (const ApiField& field : type.fields) {
      if (required.erase(field.name) != 0)
        names.PushBack(String(field.name, allocator_), allocator_);
    }
    schema.AddMember("required", names, allocator_);
  }
  return schema;
}

}  // namespace Kavren::Host::detail
