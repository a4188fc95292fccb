// The OpenAPI document's schemas: the API's types as JSON Schema, and the small JSON
// builders the document's units (schemas, operations, assembly) share.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "host/describe/api_description.h"

namespace Kavren::Host {

/// A name as a component name (of an OpenAPI or AsyncAPI document): letters, digits, ".",
/// "-" and "_", every other character "_".
[[nodiscard]] std::string ComponentName(const std::string& name);

}  // namespace Kavren::Host

namespace Kavren::Host::detail {

using Allocator = rapidjson::Document::AllocatorType;

/// How a schema refers to a component schema: this prefix and the component's name.
inline constexpr char kSchemaPrefix[] = "#/components/schemas/";
/// Request schemas refer to a record's variant that requires no field: its component
/// name with this suffix.
inline constexpr char kInputSuffix[] = ".Input";

/// `text` as a JSON string copied into `allocator`.
[[nodiscard]] rapidjson::Value String(const std::string& text, Allocator& allocator);

/// Adds `key` with `text` to `object`; `key` must outlive the document (a literal).
void AddText(rapidjson::Value& object, const char* key, const std::string& text,
             Allocator& allocator);

/// Sets `key` to `text`, replacing a value already there: no object repeats a key.
void SetText(rapidjson::Value& object, const char* key, const std::string& text,
             Allocator& allocator);

/// A JSON media type object ("content") whose schema is `schema`.
[[nodiscard]] rapidjson::Value JsonContent(rapidjson::Value schema, Allocator& allocator);

/// `texts` as a JSON array of strings, in their order.
[[nodiscard]] rapidjson::Value Texts(const std::vector<std::string>& texts, Allocator& allocator);

/// Writes the schemas of one document. A registered record or enumeration is referred
/// to as its component schema; a request's records by their input form, and the writer
/// keeps the names of those, so that the document can add their input forms.
class SchemaWriter {
 public:
  SchemaWriter(const ApiDescription& api, Allocator& allocator);

  /// The schema of a value of `type`, as a reply or an event carries it.
  [[nodiscard]] rapidjson::Value Schema(const ApiTypeReference& type);

  /// The schema of a value of `type` in a request (a parameter or a body): its
  /// records are referred to by their input form.
  [[nodiscard]] rapidjson::Value RequestSchema(const ApiTypeReference& type);

  /// The component schema of a registered type. A record's output form requires every
  /// field that is not optional, as the plugin always writes those; its input form
  /// (`input`) requires none, as the conversion fills in what a request leaves out.
  [[nodiscard]] rapidjson::Value TypeSchema(const ApiType& type, bool input = false);

  /// The records request schemas referred to so far.
  [[nodiscard]] const std::set<std::string>& InputTypes() const { return inputTypes_; }

 private:
  [[nodiscard]] rapidjson::Value TypeSchemaIn(const ApiType& type);
  [[nodiscard]] rapidjson::Value EnumSchema(const ApiType& type);
  [[nodiscard]] rapidjson::Value RecordSchema(const ApiType& type);
  void AddNamedSchema(const ApiTypeReference& type, rapidjson::Value& schema);
  void AddScalarSchema(ApiKind kind, rapidjson::Value& schema);
  void AddIntegerSchema(ApiKind kind, rapidjson::Value& schema);
  void Integer(rapidjson::Value& schema, const char* format, std::int64_t minimum,
               std::int64_t maximum);

  Allocator& allocator_;
  std::set<std::string> typeNames_;
  // Request schemas are being written: records are referred to by their input form.
  bool input_ = false;
  std::set<std::string> inputTypes_;
};

}  // namespace Kavren::Host::detail
