// The OpenAPI 3.1 document of a plugin from its API block: its info, servers and tags,
// the operations and schemas (openapi_operations.h, openapi_schemas.h), and the events.
#include "host/describe/openapi.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <vector>

#include "host/describe/api_help.h"
#include "host/describe/openapi_operations.h"
#include "host/describe/openapi_schemas.h"

namespace Kavren::Host {
namespace {

using detail::AddText;
using detail::Allocator;
using detail::kSchemaPrefix;
using detail::String;
using rapidjson::Value;

constexpr const char kOpenApiVersion[] = "3.1.0";
constexpr const char kContactName[] = "The plugin's developers";
constexpr const char kServerDescription[] =
    "The development server that serves this document (hxa-host serve; "
    "http://127.0.0.1:8080 by default)";

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

Value Info(const ApiDescription& api, const OpenApiInfo& info, Allocator& allocator) {
  Value infoValue(rapidjson::kObjectType);
  AddText(infoValue, "title", info.title.empty() ? "Plugin API" : info.title, allocator);
  AddText(infoValue, "version", info.version.empty() ? "0.0.0" : info.version, allocator);
  AddText(infoValue, "description", InfoDescription(api), allocator);
  Value contact(rapidjson::kObjectType);
  AddText(contact, "name", kContactName, allocator);
  infoValue.AddMember("contact", contact, allocator);
  return infoValue;
}

Value Servers(Allocator& allocator) {
  Value server(rapidjson::kObjectType);
  server.AddMember("url", "/", allocator);
  AddText(server, "description", kServerDescription, allocator);
  Value servers(rapidjson::kArrayType);
  servers.PushBack(server, allocator);
  return servers;
}

// Tags in the order the endpoints first name them.
Value Tags(const ApiDescription& api, Allocator& allocator) {
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
  return tags;
}

// The component schema of every registered type (the first of a component name), then
// the input forms of the records requests refer to, and of the records those refer to.
Value ComponentSchemas(const ApiDescription& api, detail::SchemaWriter& writer,
                       Allocator& allocator) {
  Value schemas(rapidjson::kObjectType);
  for (const ApiType& type : api.types) {
    const std::string name = ComponentName(type.name);
    if (schemas.HasMember(name.c_str())) continue;
    schemas.AddMember(String(name, allocator), writer.TypeSchema(type), allocator);
  }
  std::set<std::string> written;
  for (bool more = true; more;) {
    more = false;
    for (const ApiType& type : api.types) {
      if (writer.InputTypes().count(type.name) == 0 || !written.insert(type.name).second) {
        continue;
      }
      const std::string name = ComponentName(type.name) + detail::kInputSuffix;
      if (!schemas.HasMember(name.c_str())) {
        schemas.AddMember(String(name, allocator), writer.TypeSchema(type, true), allocator);
      }
      more = true;
    }
  }
  return schemas;
}

// The root extension "x-events": each event's name, name space, description, payload
// schema and tags.
Value Events(const ApiDescription& api, detail::SchemaWriter& writer, Allocator& allocator) {
  Value events(rapidjson::kArrayType);
  for (const ApiEvent& event : api.events) {
    Value entry(rapidjson::kObjectType);
    AddText(entry, "name", event.name, allocator);
    if (!event.nameSpace.empty()) AddText(entry, "nameSpace", event.nameSpace, allocator);
    AddText(entry, "description", event.description, allocator);
    if (!event.payloadTypeName.empty()) {
      entry.AddMember(
          "payload",
          writer.Schema(ApiTypeReference{ApiKind::kStruct, ApiKind::kNone, event.payloadTypeName}),
          allocator);
    }
    entry.AddMember("tags", detail::Texts(event.tags, allocator), allocator);
    events.PushBack(entry, allocator);
  }
  return events;
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
  detail::SchemaWriter schemas(api, allocator);
  out.AddMember("openapi", kOpenApiVersion, allocator);
  out.AddMember("info", Info(api, info, allocator), allocator);
  out.AddMember("servers", Servers(allocator), allocator);
  out.AddMember("tags", Tags(api, allocator), allocator);
  // The operations first: the component schemas add the input forms they refer to.
  out.AddMember("paths", detail::Paths(api, schemas, allocator), allocator);
  Value components(rapidjson::kObjectType);
  components.AddMember("schemas", ComponentSchemas(api, schemas, allocator), allocator);
  components.AddMember("responses", detail::FailureResponses(allocator), allocator);
  out.AddMember("components", components, allocator);
  out.AddMember("x-events", Events(api, schemas, allocator), allocator);
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
