// Generating the OpenAPI 3.1 document of a plugin from its API block.
#include "host/describe/openapi.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "host/describe/api_help.h"

namespace Kavren::Host {
namespace {

using Allocator = rapidjson::Document::AllocatorType;
using rapidjson::Value;

constexpr const char kOpenApiVersion[] = "3.1.0";
constexpr const char kContactName[] = "The plugin's developers";
constexpr const char kServerDescription[] =
    "The development server that serves this document (hxa-host serve; "
    "http://127.0.0.1:8080 by default)";
constexpr const char kSchemaPrefix[] = "#/components/schemas/";
constexpr const char kFailureResponse[] = "#/components/responses/Failure";
constexpr const char kBadRequestResponse[] = "#/components/responses/BadRequest";
// Request schemas refer to a record's variant that requires no field.
constexpr const char kInputSuffix[] = ".Input";
// The body formats the router decodes, JSON first: the page sends its first one.
constexpr const char* kBodyContentTypes[] = {"application/json", "text/x-yaml",
                                             "application/x-msgpack"};

Value String(const std::string& text, Allocator& allocator) {
  return Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

void AddText(Value& object, const char* key, const std::string& text, Allocator& allocator) {
  object.AddMember(rapidjson::StringRef(key), String(text, allocator), allocator);
}

// Sets `key` to `text`, replacing a value already there: no object repeats a key.
void SetText(Value& object, const char* key, const std::string& text, Allocator& allocator) {
  object.RemoveMember(key);
  AddText(object, key, text, allocator);
}

// Lower-case method keys of a path item, by method code 1 to 7.
const char* OperationKey(std::int32_t method) {
  static constexpr const char* kKeys[] = {"",        "delete", "get",  "head",
                                          "options", "patch",  "post", "put"};
  return method >= 1 && method <= 7 ? kKeys[method] : "";
}

class Generator {
 public:
  Generator(const ApiDescription& api, Allocator& allocator) : api_(api), allocator_(allocator) {
    for (const ApiType& type : api.types) typeNames_.insert(type.name);
  }

  Value Schema(const ApiTypeReference& type) {
    Value schema(rapidjson::kObjectType);
    switch (type.kind) {
      case ApiKind::kBool:
        schema.AddMember("type", "boolean", allocator_);
        break;
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
      case ApiKind::kFloat:
      case ApiKind::kDouble:
        schema.AddMember("type", "number", allocator_);
        schema.AddMember("format",
                         rapidjson::StringRef(type.kind == ApiKind::kFloat ? "float" : "double"),
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
        break;
      case ApiKind::kCallback:
        schema.AddMember("description", "A callback handle", allocator_);
        break;
      case ApiKind::kNone:
        break;
    }
    return schema;
  }

  /// The component schema of a registered type. A record's output form requires every
  /// field that is not optional, as the plugin always writes those; its input form
  /// (`input`) requires none, as the conversion fills in what a request leaves out.
  Value TypeSchema(const ApiType& type, bool input = false) {
    const bool wasInput = std::exchange(input_, input);
    Value schema = TypeSchemaIn(type);
    input_ = wasInput;
    return schema;
  }

  /// The records request schemas referred to so far.
  [[nodiscard]] const std::set<std::string>& InputTypes() const { return inputTypes_; }

 private:
  Value TypeSchemaIn(const ApiType& type) {
    Value schema(rapidjson::kObjectType);
    if (type.isEnum) {
      // Enumerations travel as their enumerators' names.
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
    } else {
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
    }
    if (!type.nameSpace.empty()) AddText(schema, "x-name-space", type.nameSpace, allocator_);
    schema.AddMember("x-native-size", type.size, allocator_);
    if (!type.tags.empty()) schema.AddMember("x-tags", Texts(type.tags), allocator_);
    return schema;
  }

 public:
  Value Operation(const ApiEndpoint& endpoint, const std::set<std::string>& placeholders) {
    Value operation(rapidjson::kObjectType);
    if (!endpoint.tags.empty()) operation.AddMember("tags", Texts(endpoint.tags), allocator_);
    if (!endpoint.description.empty()) {
      AddText(operation, "summary", endpoint.description, allocator_);
    }
    std::string description = endpoint.help;
    if (endpoint.method == 0) {
      description += (description.empty() ? "" : "\n\n");
      description += "Accepts every method.";
    }
    // Every operation is described: by its help, else by its summary, else by its function.
    if (description.empty()) description = endpoint.description;
    if (description.empty()) description = "Calls the plugin's function " + endpoint.name + ".";
    AddText(operation, "description", description, allocator_);
    AddText(operation, "operationId", endpoint.name, allocator_);
    input_ = true;

    Value parameters(rapidjson::kArrayType);
    std::set<std::string> declared;
    const ApiArgument* body = nullptr;
    for (const ApiArgument& argument : endpoint.arguments) {
      const char* in = nullptr;
      switch (argument.location) {
        case kLocationPath:
          in = "path";
          break;
        case kLocationQuery:
          in = "query";
          break;
        case kLocationHeader:
          in = "header";
          break;
        case kLocationBody:
          // Only the first body argument receives the body.
          if (body == nullptr) body = &argument;
          break;
        default:
          in = placeholders.count(argument.name) != 0 ? "path" : "query";
      }
      if (in == nullptr || !declared.insert(argument.name).second) continue;
      parameters.PushBack(Parameter(argument.name, in, argument.description, argument.type,
                                    std::string(in) == "path" || !argument.optional),
                          allocator_);
    }
    // Every placeholder of the path must be declared, also one that binds nothing.
    for (const std::string& name : placeholders) {
      if (declared.count(name) != 0) continue;
      parameters.PushBack(
          Parameter(name, "path", "", ApiTypeReference{ApiKind::kString, ApiKind::kNone, ""}, true),
          allocator_);
    }
    if (!parameters.Empty()) operation.AddMember("parameters", parameters, allocator_);

    if (body != nullptr) {
      Value requestBody(rapidjson::kObjectType);
      if (!body->description.empty())
        AddText(requestBody, "description", body->description, allocator_);
      Value content(rapidjson::kObjectType);
      for (const char* contentType : kBodyContentTypes) {
        Value media(rapidjson::kObjectType);
        media.AddMember("schema", Schema(body->type), allocator_);
        content.AddMember(rapidjson::StringRef(contentType), media, allocator_);
      }
      requestBody.AddMember("content", content, allocator_);
      requestBody.AddMember("required", !body->optional, allocator_);
      operation.AddMember("requestBody", requestBody, allocator_);
    }
    input_ = false;

    Value responses(rapidjson::kObjectType);
    if (endpoint.returns.kind != ApiKind::kNone) {
      Value ok(rapidjson::kObjectType);
      ok.AddMember("description", "The result", allocator_);
      Value content(rapidjson::kObjectType);
      Value media(rapidjson::kObjectType);
      media.AddMember("schema", Schema(endpoint.returns), allocator_);
      content.AddMember("application/json", media, allocator_);
      ok.AddMember("content", content, allocator_);
      responses.AddMember("200", ok, allocator_);
    } else {
      Value none(rapidjson::kObjectType);
      none.AddMember("description", "Done; no content", allocator_);
      responses.AddMember("204", none, allocator_);
    }
    if (operation.HasMember("parameters") || body != nullptr) {
      // An argument that cannot be bound (a malformed value) is the request's fault.
      Value badRequest(rapidjson::kObjectType);
      AddText(badRequest, "$ref", kBadRequestResponse, allocator_);
      responses.AddMember("400", badRequest, allocator_);
    }
    Value failure(rapidjson::kObjectType);
    AddText(failure, "$ref", kFailureResponse, allocator_);
    responses.AddMember("default", failure, allocator_);
    operation.AddMember("responses", responses, allocator_);
    if (!endpoint.nameSpace.empty()) {
      AddText(operation, "x-name-space", endpoint.nameSpace, allocator_);
    }
    if (endpoint.threadSafe) operation.AddMember("x-thread-safe", true, allocator_);
    if (!endpoint.asyncResultType.empty()) {
      AddText(operation, "x-async-result", endpoint.asyncResultType, allocator_);
    }
    return operation;
  }

  Value Events() {
    Value events(rapidjson::kArrayType);
    for (const ApiEvent& event : api_.events) {
      Value entry(rapidjson::kObjectType);
      AddText(entry, "name", event.name, allocator_);
      if (!event.nameSpace.empty()) AddText(entry, "nameSpace", event.nameSpace, allocator_);
      AddText(entry, "description", event.description, allocator_);
      if (!event.payloadTypeName.empty()) {
        entry.AddMember(
            "payload",
            Schema(ApiTypeReference{ApiKind::kStruct, ApiKind::kNone, event.payloadTypeName}),
            allocator_);
      }
      entry.AddMember("tags", Texts(event.tags), allocator_);
      events.PushBack(entry, allocator_);
    }
    return events;
  }

  Value Texts(const std::vector<std::string>& texts) {
    Value list(rapidjson::kArrayType);
    for (const std::string& text : texts) list.PushBack(String(text, allocator_), allocator_);
    return list;
  }

 private:
  void Integer(Value& schema, const char* format, std::int64_t minimum, std::int64_t maximum) {
    schema.AddMember("type", "integer", allocator_);
    schema.AddMember("format", rapidjson::StringRef(format), allocator_);
    schema.AddMember("minimum", minimum, allocator_);
    schema.AddMember("maximum", maximum, allocator_);
  }

  static ApiTypeReference Element(const ApiTypeReference& type) {
    return ApiTypeReference{type.elementKind, ApiKind::kNone, type.typeName};
  }

  static bool Structured(const ApiTypeReference& type) {
    return type.kind == ApiKind::kVector || type.kind == ApiKind::kStruct ||
           type.kind == ApiKind::kObject || type.kind == ApiKind::kMap;
  }

  Value Parameter(const std::string& name, const char* in, const std::string& description,
                  const ApiTypeReference& type, bool required) {
    Value parameter(rapidjson::kObjectType);
    AddText(parameter, "name", name, allocator_);
    parameter.AddMember("in", rapidjson::StringRef(in), allocator_);
    if (!description.empty()) AddText(parameter, "description", description, allocator_);
    parameter.AddMember("required", required, allocator_);
    if (Structured(type) && std::string(in) != "path") {
      // The router parses a structured query or header value that starts with "{" or
      // "[" as JSON.
      Value content(rapidjson::kObjectType);
      Value media(rapidjson::kObjectType);
      media.AddMember("schema", Schema(type), allocator_);
      content.AddMember("application/json", media, allocator_);
      parameter.AddMember("content", content, allocator_);
    } else {
      parameter.AddMember("schema", Schema(type), allocator_);
    }
    return parameter;
  }

  const ApiDescription& api_;
  Allocator& allocator_;
  std::set<std::string> typeNames_;
  // Request schemas are being written: records are referred to by their input form.
  bool input_ = false;
  std::set<std::string> inputTypes_;
};

// The OpenAPI path of a URL template and the names of its placeholders. "{+name}" and
// "{#name}" are written as "{name}"; an empty template stands for the function name.
std::string PathOf(const ApiEndpoint& endpoint, std::set<std::string>& placeholders) {
  const std::string& source = endpoint.urlTemplate.empty() ? endpoint.name : endpoint.urlTemplate;
  std::string path = source.empty() || source.front() != '/' ? "/" : "";
  std::string name;
  bool inside = false;
  for (const char c : source) {
    if (!inside) {
      path += c;
      if (c == '{') {
        inside = true;
        name.clear();
      }
    } else if (c == '}') {
      placeholders.insert(name);
      path += name + "}";
      inside = false;
    } else if (!((c == '+' || c == '#') && name.empty())) {
      name += c;
    }
  }
  if (inside) path += name + "}";
  return path;
}

std::string InfoDescription(const ApiDescription& api) {
  std::string text =
      "Generated from the plugin's API description block: its endpoints, and in the schemas "
      "the registered records and enumerations they and the events use. The events are "
      "described in full by the AsyncAPI document (/asyncapi.json).\n\n## Events\n\n";
  if (api.events.empty()) return text + "None.\n";
  text += "| Event | Payload | Description |\n|---|---|---|\n";
  for (const ApiEvent& event : api.events) {
    std::string description = event.description;
    std::replace(description.begin(), description.end(), '\n', ' ');
    std::string escaped;
    for (const char c : description) {
      if (c == '|') escaped += '\\';
      escaped += c;
    }
    text += "| `" + event.name + "` | " +
            (event.payloadTypeName.empty() ? "" : "`" + event.payloadTypeName + "`") + " | " +
            escaped + " |\n";
  }
  return text;
}

// How the development server answers a failure: the status, and the failure text
// ("Invalid function" when no route matched) as JSON.
Value FailureResponse(const char* description, Allocator& allocator) {
  Value properties(rapidjson::kObjectType);
  Value status(rapidjson::kObjectType);
  status.AddMember("type", "integer", allocator);
  properties.AddMember("httpStatus", status, allocator);
  Value message(rapidjson::kObjectType);
  message.AddMember("type", "string", allocator);
  properties.AddMember("message", message, allocator);
  Value schema(rapidjson::kObjectType);
  schema.AddMember("type", "object", allocator);
  schema.AddMember("properties", properties, allocator);
  Value required(rapidjson::kArrayType);
  required.PushBack("httpStatus", allocator).PushBack("message", allocator);
  schema.AddMember("required", required, allocator);
  Value media(rapidjson::kObjectType);
  media.AddMember("schema", schema, allocator);
  Value content(rapidjson::kObjectType);
  content.AddMember("application/json", media, allocator);
  Value failure(rapidjson::kObjectType);
  failure.AddMember("description", rapidjson::StringRef(description), allocator);
  failure.AddMember("content", content, allocator);
  return failure;
}

Value FailureResponses(Allocator& allocator) {
  Value responses(rapidjson::kObjectType);
  responses.AddMember(
      "Failure", FailureResponse("Failed: the status and the failure text", allocator), allocator);
  responses.AddMember(
      "BadRequest",
      FailureResponse("An argument is missing or malformed: status 400 and the failure text",
                      allocator),
      allocator);
  return responses;
}

// Keeps the component schemas that the operations or the events refer to, directly or
// through other schemas; generated clients have no use for the others.
void KeepReferredSchemas(rapidjson::Document& document) {
  std::vector<std::string> pending;
  CollectSchemaRefs(document["paths"], pending);
  CollectSchemaRefs(document["x-events"], pending);
  Value& schemas = document["components"]["schemas"];
  std::set<std::string> kept;
  while (!pending.empty()) {
    const std::string name = pending.back();
    pending.pop_back();
    if (!kept.insert(name).second || !schemas.HasMember(name.c_str())) continue;
    CollectSchemaRefs(schemas[name.c_str()], pending);
  }
  for (auto member = schemas.MemberBegin(); member != schemas.MemberEnd();) {
    if (kept.count(member->name.GetString()) == 0) {
      member = schemas.EraseMember(member);
    } else {
      ++member;
    }
  }
}

}  // namespace

// Component names may hold letters, digits, ".", "-" and "_" only.
std::string ComponentName(const std::string& name) {
  std::string component = name;
  for (char& c : component) {
    const auto byte = static_cast<unsigned char>(c);
    if (!std::isalnum(byte) && c != '.' && c != '-' && c != '_') c = '_';
  }
  return component;
}

void CollectSchemaRefs(const rapidjson::Value& node, std::vector<std::string>& names) {
  if (node.IsArray()) {
    for (const Value& element : node.GetArray()) CollectSchemaRefs(element, names);
  } else if (node.IsObject()) {
    for (auto member = node.MemberBegin(); member != node.MemberEnd(); ++member) {
      if (std::string_view(member->name.GetString()) == "$ref" && member->value.IsString()) {
        const std::string_view target = member->value.GetString();
        if (target.starts_with(kSchemaPrefix)) {
          names.emplace_back(target.substr(sizeof kSchemaPrefix - 1));
        }
      } else {
        CollectSchemaRefs(member->value, names);
      }
    }
  }
}

void BuildOpenApi(const ApiDescription& api, const OpenApiInfo& info, rapidjson::Document& out) {
  out.SetObject();
  Allocator& allocator = out.GetAllocator();
  Generator generator(api, allocator);

  out.AddMember("openapi", kOpenApiVersion, allocator);
  Value infoValue(rapidjson::kObjectType);
  AddText(infoValue, "title", info.title.empty() ? "Plugin API" : info.title, allocator);
  AddText(infoValue, "version", info.version.empty() ? "0.0.0" : info.version, allocator);
  AddText(infoValue, "description", InfoDescription(api), allocator);
  Value contact(rapidjson::kObjectType);
  AddText(contact, "name", kContactName, allocator);
  infoValue.AddMember("contact", contact, allocator);
  out.AddMember("info", infoValue, allocator);
  Value server(rapidjson::kObjectType);
  server.AddMember("url", "/", allocator);
  AddText(server, "description", kServerDescription, allocator);
  Value servers(rapidjson::kArrayType);
  servers.PushBack(server, allocator);
  out.AddMember("servers", servers, allocator);

  // Tags in the order the endpoints first name them.
  Value tags(rapidjson::kArrayType);
  std::set<std::string> seenTags;
  for (const ApiEndpoint& endpoint : api.endpoints) {
    for (const std::string& tag : endpoint.tags) {
      if (!seenTags.insert(tag).second) continue;
      Value entry(rapidjson::kObjectType);
      AddText(entry, "name", tag, allocator);
      tags.PushBack(entry, allocator);
    }
  }
  out.AddMember("tags", tags, allocator);

  Value paths(rapidjson::kObjectType);
  std::set<std::string> operationIds;
  for (const ApiEndpoint& endpoint : api.endpoints) {
    // Operation ids are unique in a document: a repeated function name keeps the first.
    if (!operationIds.insert(endpoint.name).second) continue;
    std::set<std::string> placeholders;
    const std::string path = PathOf(endpoint, placeholders);
    std::string key = OperationKey(endpoint.method);
    if (endpoint.method == 0) key = "post";
    if (endpoint.method == 8 || key.empty()) key = "x-method-" + endpoint.customMethod;
    auto item = paths.FindMember(path.c_str());
    if (item == paths.MemberEnd()) {
      paths.AddMember(String(path, allocator), Value(rapidjson::kObjectType), allocator);
      item = paths.FindMember(path.c_str());
    }
    if (item->value.HasMember(key.c_str())) continue;
    item->value.AddMember(String(key, allocator), generator.Operation(endpoint, placeholders),
                          allocator);
  }
  out.AddMember("paths", paths, allocator);

  Value schemas(rapidjson::kObjectType);
  for (const ApiType& type : api.types) {
    const std::string name = ComponentName(type.name);
    if (schemas.HasMember(name.c_str())) continue;
    schemas.AddMember(String(name, allocator), generator.TypeSchema(type), allocator);
  }
  // The input forms of the records requests refer to, and of the records those refer to.
  std::set<std::string> written;
  for (bool more = true; more;) {
    more = false;
    for (const ApiType& type : api.types) {
      if (generator.InputTypes().count(type.name) == 0 || !written.insert(type.name).second) {
        continue;
      }
      const std::string name = ComponentName(type.name) + kInputSuffix;
      if (!schemas.HasMember(name.c_str())) {
        schemas.AddMember(String(name, allocator), generator.TypeSchema(type, true), allocator);
      }
      more = true;
    }
  }
  Value components(rapidjson::kObjectType);
  components.AddMember("schemas", schemas, allocator);
  components.AddMember("responses", FailureResponses(allocator), allocator);
  out.AddMember("components", components, allocator);
  out.AddMember("x-events", generator.Events(), allocator);
  KeepReferredSchemas(out);
}

std::string OpenApiDocument(const ApiDescription& api, const OpenApiInfo& info) {
  rapidjson::Document document;
  BuildOpenApi(api, info, document);
  return JsonText(document);
}

OpenApiInfo OpenApiInfoOf(const Abi::PluginHostRecord& record) {
  OpenApiInfo info;
  info.title = record.name != nullptr ? record.name : "";
  info.version = std::to_string(record.major) + "." + std::to_string(record.minor) + "." +
                 std::to_string(record.patch);
  return info;
}

std::string OpenApiDocument(const Abi::PluginHostRecord& record) {
  return OpenApiDocument(ReadApiDescription(record.api), OpenApiInfoOf(record));
}

}  // namespace Kavren::Host
