// Generating the AsyncAPI 3.0 document of a plugin's events from its API block.
#include "host/describe/asyncapi.h"

#include <set>
#include <utility>
#include <vector>

#include "host/describe/api_help.h"
#include "host/describe/openapi_schemas.h"

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

// The info: the OpenAPI document's title, version and contact, this document's
// description, and the events' tags in the order they first name them ("Events" when
// they name none).
Value Info(const ApiDescription& api, const Value& openApiInfo, Allocator& allocator) {
  Value infoValue(rapidjson::kObjectType);
  infoValue.CopyFrom(openApiInfo, allocator);
  infoValue.RemoveMember("description");
  infoValue.AddMember(
      "description",
      "The events the plugin publishes, as the development server streams them at /events.",
      allocator);
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
  return infoValue;
}

Value Servers(Allocator& allocator) {
  Value server(rapidjson::kObjectType);
  server.AddMember("host", "127.0.0.1:8080", allocator);
  server.AddMember("protocol", "http", allocator);
  server.AddMember("description",
                   "The development server (hxa-host serve; this is its default address)",
                   allocator);
  Value servers(rapidjson::kObjectType);
  servers.AddMember("development", server, allocator);
  return servers;
}

// One message per event name: the component messages, the channel's references to them,
// the operation's references to the channel's, and the payload schemas they refer to.
struct EventMessages {
  Value messages{rapidjson::kObjectType};
  Value channelMessages{rapidjson::kObjectType};
  Value operationMessages{rapidjson::kArrayType};
  std::vector<std::string> payloads;
};

// An event's message; its payload refers to the event's record when the OpenAPI document
// (`openApiSchemas`) has its schema, which is then added to `payloads`.
Value Message(const ApiEvent& event, const Value& openApiSchemas,
              std::vector<std::string>& payloads, Allocator& allocator) {
  Value message(rapidjson::kObjectType);
  message.AddMember("name", String(event.name, allocator), allocator);
  message.AddMember("title", String(event.name, allocator), allocator);
  const std::string summary =
      event.description.empty() ? "The event " + event.name + "." : event.description;
  message.AddMember("summary", String(summary, allocator), allocator);
  message.AddMember("contentType", "application/json", allocator);
  if (!event.payloadTypeName.empty()) {
    const std::string component = ComponentName(event.payloadTypeName);
    if (openApiSchemas.HasMember(component.c_str())) {
      message.AddMember("payload", Ref(kSchemaPrefix + component, allocator), allocator);
      payloads.push_back(component);
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
  return message;
}

EventMessages Messages(const ApiDescription& api, const Value& openApiSchemas,
                       Allocator& allocator) {
  EventMessages out;
  for (const ApiEvent& event : api.events) {
    const std::string key = ComponentName(event.name);
    if (out.messages.HasMember(key.c_str())) continue;
    out.messages.AddMember(String(key, allocator),
                           Message(event, openApiSchemas, out.payloads, allocator), allocator);
    out.channelMessages.AddMember(String(key, allocator),
                                  Ref("#/components/messages/" + key, allocator), allocator);
    out.operationMessages.PushBack(Ref("#/channels/events/messages/" + key, allocator), allocator);
  }
  return out;
}

// The one channel, the event stream at /events, with every message.
Value Channels(Value& channelMessages, Allocator& allocator) {
  Value channel(rapidjson::kObjectType);
  channel.AddMember("address", "/events", allocator);
  channel.AddMember("title", "Event stream", allocator);
  channel.AddMember("description", rapidjson::StringRef(kChannelDescription), allocator);
  channel.AddMember("messages", channelMessages, allocator);
  Value channels(rapidjson::kObjectType);
  channels.AddMember("events", channel, allocator);
  return channels;
}

// The one operation: receiving the channel's messages.
Value Operations(Value& operationMessages, Allocator& allocator) {
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
  return operations;
}

// The payload records and every schema they refer to, copied as they are.
Value PayloadSchemas(const Value& openApiSchemas, std::vector<std::string> pending,
                     Allocator& allocator) {
  Value schemas(rapidjson::kObjectType);
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
  return schemas;
}

}  // namespace

void BuildAsyncApi(const ApiDescription& api, const OpenApiInfo& info, rapidjson::Document& out) {
  // The payload schemas come from the OpenAPI document of the same API.
  rapidjson::Document openApi;
  BuildOpenApi(api, info, openApi);
  const Value& openApiSchemas = openApi["components"]["schemas"];
  out.SetObject();
  Allocator& allocator = out.GetAllocator();
  out.AddMember("asyncapi", kAsyncApiVersion, allocator);
  out.AddMember("info", Info(api, openApi["info"], allocator), allocator);
  out.AddMember("defaultContentType", "application/json", allocator);
  out.AddMember("servers", Servers(allocator), allocator);
  EventMessages messages = Messages(api, openApiSchemas, allocator);
  out.AddMember("channels", Channels(messages.channelMessages, allocator), allocator);
  out.AddMember("operations", Operations(messages.operationMessages, allocator), allocator);
  Value components(rapidjson::kObjectType);
  components.AddMember("messages", messages.messages, allocator);
  components.AddMember("schemas",
                       PayloadSchemas(openApiSchemas, std::move(messages.payloads), allocator),
                       allocator);
  out.AddMember("components", components, allocator);
}

std::string AsyncApiDocument(const Abi::PluginHostRecord& record) {
  rapidjson::Document document;
  BuildAsyncApi(ReadApiDescription(record.api), OpenApiInfoOf(record), document);
  return JsonText(document);
}

}  // namespace Kavren::Host
