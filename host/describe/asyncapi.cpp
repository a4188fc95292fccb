// Generating the AsyncAPI 3.0 document of a plugin's events from its API block.
#include "host/describe/asyncapi.h"

#include <set>
#include <vector>

#include "host/describe/api_help.h"

namespace Kavren::Host {
namespace {

using Allocator = rapidjson::Document::AllocatorType;
using rapidjson::Value;

constexpr const char kAsyncApiVersion[] = "3.0.0";
constexpr const char kSchemaPrefix[] = "#/components/schemas/";
constexpr const char kChannelDescription[] =
    "Server-Sent Events: each event the plugin publishes, the event's name as the SSE event "
    "name and its payload as JSON in the data line. `?name=` (repeatable) keeps only the "
    "events of those names.";

Value String(const std::string& text, Allocator& allocator) {
  return Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

Value Ref(const std::string& target, Allocator& allocator) {
  Value ref(rapidjson::kObjectType);
  ref.AddMember("$ref", String(target, allocator), allocator);
  return ref;
}

}  // namespace

void BuildAsyncApi(const ApiDescription& api, const OpenApiInfo& info, rapidjson::Document& out) {
  // The payload schemas come from the OpenAPI document of the same API.
  rapidjson::Document openApi;
  BuildOpenApi(api, info, openApi);
  out.SetObject();
  Allocator& allocator = out.GetAllocator();
  out.AddMember("asyncapi", kAsyncApiVersion, allocator);
  Value infoValue(rapidjson::kObjectType);
  infoValue.CopyFrom(openApi["info"], allocator);
  infoValue.RemoveMember("description");
  infoValue.AddMember(
      "description",
      "The events the plugin publishes, as the development server streams them at /events.",
      allocator);
  // The info's tags: the events' own, in the order they first name them.
  Value infoTags(rapidjson::kArrayType);
  std::set<std::string> seenTags;
  for (const ApiEvent& event : api.events) {
    for (const std::string& tag : event.tags) {
      if (!seenTags.insert(tag).second) continue;
      Value entry(rapidjson::kObjectType);
      entry.AddMember("name", String(tag, allocator), allocator);
      infoTags.PushBack(entry, allocator);
    }
  }
  if (infoTags.Empty()) {
    Value entry(rapidjson::kObjectType);
    entry.AddMember("name", "Events", allocator);
    infoTags.PushBack(entry, allocator);
  }
  infoValue.AddMember("tags", infoTags, allocator);
  out.AddMember("info", infoValue, allocator);
  out.AddMember("defaultContentType", "application/json", allocator);

  Value server(rapidjson::kObjectType);
  server.AddMember("host", "127.0.0.1:8080", allocator);
  server.AddMember("protocol", "http", allocator);
  server.AddMember("description",
                   "The development server (hxa-host serve; this is its default address)",
                   allocator);
  Value servers(rapidjson::kObjectType);
  servers.AddMember("development", server, allocator);
  out.AddMember("servers", servers, allocator);

  Value messages(rapidjson::kObjectType);
  Value channelMessages(rapidjson::kObjectType);
  Value operationMessages(rapidjson::kArrayType);
  std::vector<std::string> pending;
  for (const ApiEvent& event : api.events) {
    const std::string key = ComponentName(event.name);
    if (messages.HasMember(key.c_str())) continue;
    Value message(rapidjson::kObjectType);
    message.AddMember("name", String(event.name, allocator), allocator);
    message.AddMember("title", String(event.name, allocator), allocator);
    const std::string summary =
        event.description.empty() ? "The event " + event.name + "." : event.description;
    message.AddMember("summary", String(summary, allocator), allocator);
    message.AddMember("contentType", "application/json", allocator);
    if (!event.payloadTypeName.empty()) {
      const std::string component = ComponentName(event.payloadTypeName);
      if (openApi["components"]["schemas"].HasMember(component.c_str())) {
        message.AddMember("payload", Ref(kSchemaPrefix + component, allocator), allocator);
        pending.push_back(component);
      }
    }
    if (!event.tags.empty()) {
      Value tags(rapidjson::kArrayType);
      for (const std::string& tag : event.tags) {
        Value entry(rapidjson::kObjectType);
        entry.AddMember("name", String(tag, allocator), allocator);
        tags.PushBack(entry, allocator);
      }
      message.AddMember("tags", tags, allocator);
    }
    messages.AddMember(String(key, allocator), message, allocator);
    channelMessages.AddMember(String(key, allocator),
                              Ref("#/components/messages/" + key, allocator), allocator);
    operationMessages.PushBack(Ref("#/channels/events/messages/" + key, allocator), allocator);
  }

  Value channel(rapidjson::kObjectType);
  channel.AddMember("address", "/events", allocator);
  channel.AddMember("title", "Event stream", allocator);
  channel.AddMember("description", rapidjson::StringRef(kChannelDescription), allocator);
  channel.AddMember("messages", channelMessages, allocator);
  Value channels(rapidjson::kObjectType);
  channels.AddMember("events", channel, allocator);
  out.AddMember("channels", channels, allocator);

  Value operation(rapidjson::kObjectType);
  operation.AddMember("action", "receive", allocator);
  operation.AddMember("channel", Ref("#/channels/events", allocator), allocator);
  operation.AddMember("summary", "Receive the plugin's events", allocator);
  operation.AddMember("description",
                      "GET /events and read the stream; it stays open until the server stops.",
                      allocator);
  operation.AddMember("messages", operationMessages, allocator);
  Value operations(rapidjson::kObjectType);
  operations.AddMember("receiveEvents", operation, allocator);
  out.AddMember("operations", operations, allocator);

  // The payload records and every schema they refer to, copied as they are.
  Value schemas(rapidjson::kObjectType);
  const Value& openApiSchemas = openApi["components"]["schemas"];
  std::set<std::string> copied;
  while (!pending.empty()) {
    const std::string name = pending.back();
    pending.pop_back();
    if (!copied.insert(name).second || !openApiSchemas.HasMember(name.c_str())) continue;
    Value schema;
    schema.CopyFrom(openApiSchemas[name.c_str()], allocator);
    CollectSchemaRefs(schema, pending);
    schemas.AddMember(String(name, allocator), schema, allocator);
  }
  Value components(rapidjson::kObjectType);
  components.AddMember("messages", messages, allocator);
  components.AddMember("schemas", schemas, allocator);
  out.AddMember("components", components, allocator);
}

std::string AsyncApiDocument(const Abi::PluginHostRecord& record) {
  rapidjson::Document document;
  BuildAsyncApi(ReadApiDescription(record.api), OpenApiInfoOf(record), document);
  return JsonText(document);
}

}  // namespace Kavren::Host
