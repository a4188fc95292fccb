// The host controls and the event stream as OpenAPI operations.
#include "host/server/host_controls_api.h"

#include "host/core/command.h"
#include "host/describe/api_help.h"
#include "host/describe/openapi.h"
#include "host/describe/openapi_schemas.h"

namespace Kavren::Host {
namespace {

using Allocator = rapidjson::Document::AllocatorType;
using detail::JsonContent;
using rapidjson::Value;

// One route: its operation's texts, its body's schema and its success answer. Schemas
// are JSON texts; "" for none.
struct Control {
  CommandKind kind;
  const char* operationId;
  const char* summary;
  const char* description;
  const char* requestSchema;
  bool bodyRequired;
  int status;
  const char* responseSchema;
};

constexpr const char kPacket[] =
    R"({"type":"object","description":"The login data packet, as the host serves it to the plugin at GET /hxa-login/v1/login-data-packet."})";

constexpr Control kControls[] = {
    {CommandKind::kSetPacket, "HostSetLoginDataPacket", "Set (or redeliver) the login data packet",
     "Sets the packet the host serves and, when one was set before, sends its resource event "
     "(Update; Create for the first), as a re-login does.",
     kPacket, true, 204, ""},
    {CommandKind::kReadPacket, "HostGetLoginDataPacket", "The login data packet",
     "The packet set last, or null when none is set.", "", false, 200,
     R"({"oneOf":[{"$ref":"#/components/schemas/Host.LoginDataPacket"},{"type":"null"}]})"},
    {CommandKind::kClearPacket, "HostDeleteLoginDataPacket", "Delete the login data packet",
     "Forgets the packet (the plugin's GET answers 404 again) and sends a Delete resource event, "
     "as a logout does.",
     "", false, 204, ""},
    {CommandKind::kPushServerMessage, "HostPushServerMessage", "Push a server message",
     "Sends a server message event to the plugin, as the server's push channel does.",
     R"({"$ref":"#/components/schemas/Host.ServerMessage"})", true, 200,
     R"({"$ref":"#/components/schemas/Host.Delivered"})"},
    {CommandKind::kFailNextInvoke, "HostFailNextServerCall", "Fail the next server call",
     "The plugin's next session invoke answers this status and text instead of success.",
     R"({"$ref":"#/components/schemas/Host.InvokeFailure"})", false, 204, ""},
    {CommandKind::kWaitForJobs, "HostWaitForJobs", "Wait for the queued jobs",
     "Waits until every job the plugin scheduled has run (at most the server's limit).",
     R"({"$ref":"#/components/schemas/Host.JobWait"})", false, 200,
     R"({"$ref":"#/components/schemas/Host.JobsDone"})"},
    {CommandKind::kReadInvokes, "HostReadInvokes", "The server calls so far",
     "Every session invoke of the plugin and the host's answer, oldest first.", "", false, 200,
     R"({"type":"array","items":{"$ref":"#/components/schemas/Host.Invocation"}})"},
    {CommandKind::kReadLog, "HostReadLog", "The plugin's log so far",
     "Every line the plugin logged through the host, oldest first.", "", false, 200,
     R"({"type":"array","items":{"$ref":"#/components/schemas/Host.LogLine"}})"},
    {CommandKind::kReadMemory, "HostReadMemory", "The plugin's memory statistics",
     "The heap counters of the plugin's accounting allocator.", "", false, 200,
     R"({"$ref":"#/components/schemas/Host.MemoryStats"})"},
};

constexpr const char* kSchemas[][2] = {
    {"Host.LoginDataPacket", kPacket},
    {"Host.ServerMessage",
     R"({"type":"object","required":["body"],"properties":{)"
     R"("body":{"type":"object","description":"The message as the server sends it."},)"
     R"("typeName":{"type":"string","description":"Its class; the simple dialog message's by default."},)"
     R"("clientId":{"type":"string","description":"\"dev-client\" by default."},)"
     R"("subtopic":{"type":"string","description":"Empty by default."}}})"},
    {"Host.Delivered",
     R"({"type":"object","required":["delivered"],"properties":{)"
     R"("delivered":{"type":"integer","minimum":0,"description":"The subscriptions that received it."}}})"},
    {"Host.InvokeFailure",
     R"({"type":"object","properties":{)"
     R"("status":{"type":"integer","description":"503 by default."},)"
     R"("errorText":{"type":"string","description":"The failure text the call answers."}}})"},
    {"Host.JobWait",
     R"({"type":"object","properties":{)"
     R"("timeoutMs":{"type":"integer","minimum":0,"description":"The longest wait in milliseconds."}}})"},
    {"Host.JobsDone",
     R"({"type":"object","required":["done"],"properties":{)"
     R"("done":{"type":"boolean","description":"False when jobs were still queued at the end of the wait."}}})"},
    {"Host.Invocation",
     R"({"type":"object","required":["service","method","arguments","status"],"properties":{)"
     R"("service":{"type":"string"},"method":{"type":"string"},)"
     R"("arguments":{"type":"array","items":{}},)"
     R"("status":{"type":"integer","description":"200 on success, else the chosen status."},)"
     R"("errorText":{"type":"string"}}})"},
    {"Host.LogLine",
     R"({"type":"object","required":["level","message"],"properties":{)"
     R"("level":{"type":"integer","description":"0 okay, 1 warning, 2 error, 3 always."},)"
     R"("message":{"type":"string"}}})"},
    {"Host.MemoryStats",
     R"({"type":"object","required":["peakBytes","peakBlocks","allocatedBytes","allocations",)"
     R"("freedBytes","frees","bytesInUse"],"properties":{)"
     R"("peakBytes":{"type":"integer","minimum":0},"peakBlocks":{"type":"integer","minimum":0},)"
     R"("allocatedBytes":{"type":"integer","minimum":0},"allocations":{"type":"integer","minimum":0},)"
     R"("freedBytes":{"type":"integer","minimum":0},"frees":{"type":"integer","minimum":0},)"
     R"("bytesInUse":{"type":"integer","minimum":0}}})"},
};

Value Parsed(const char* json, Allocator& allocator) {
  rapidjson::Document parsed;
  parsed.Parse(json);
  Value value;
  value.CopyFrom(parsed, allocator);
  return value;
}

Value Ref(const char* target, Allocator& allocator) {
  Value ref(rapidjson::kObjectType);
  ref.AddMember("$ref", rapidjson::StringRef(target), allocator);
  return ref;
}

Value Tags(Allocator& allocator) {
  Value tags(rapidjson::kArrayType);
  tags.PushBack(rapidjson::StringRef(kDevelopmentHostTag), allocator);
  return tags;
}

Value Operation(const Control& control, Allocator& allocator) {
  Value operation(rapidjson::kObjectType);
  operation.AddMember("tags", Tags(allocator), allocator);
  operation.AddMember("summary", rapidjson::StringRef(control.summary), allocator);
  operation.AddMember("description", rapidjson::StringRef(control.description), allocator);
  operation.AddMember("operationId", rapidjson::StringRef(control.operationId), allocator);
  Value responses(rapidjson::kObjectType);
  if (control.requestSchema[0] != '\0') {
    Value body(rapidjson::kObjectType);
    body.AddMember("content", JsonContent(Parsed(control.requestSchema, allocator), allocator),
                   allocator);
    body.AddMember("required", control.bodyRequired, allocator);
    operation.AddMember("requestBody", body, allocator);
  }
  Value success(rapidjson::kObjectType);
  if (control.status == 204) {
    success.AddMember("description", "Done; no content", allocator);
  } else {
    success.AddMember("description", "The result", allocator);
    success.AddMember("content", JsonContent(Parsed(control.responseSchema, allocator), allocator),
                      allocator);
  }
  responses.AddMember(Value(std::to_string(control.status).c_str(), allocator), success, allocator);
  if (control.requestSchema[0] != '\0') {
    responses.AddMember("400", Ref("#/components/responses/BadRequest", allocator), allocator);
  }
  responses.AddMember("default", Ref("#/components/responses/Failure", allocator), allocator);
  operation.AddMember("responses", responses, allocator);
  return operation;
}

// GET /events: its messages are described by /asyncapi.json.
Value EventsOperation(Allocator& allocator) {
  Value operation(rapidjson::kObjectType);
  operation.AddMember("tags", Tags(allocator), allocator);
  operation.AddMember("summary", "The plugin's events as Server-Sent Events", allocator);
  operation.AddMember(
      "description",
      "Streams every event the plugin publishes until the server stops: the event's name as "
      "the SSE event name, its payload as JSON in the data line. /asyncapi.json describes each "
      "event. At most 16 streams are open at once (503 beyond).",
      allocator);
  operation.AddMember("operationId", "HostStreamEvents", allocator);
  Value name(rapidjson::kObjectType);
  name.AddMember("name", "name", allocator);
  name.AddMember("in", "query", allocator);
  name.AddMember("description", "Keeps only the events of this name (repeatable).", allocator);
  name.AddMember("required", false, allocator);
  name.AddMember("schema", Parsed(R"({"type":"array","items":{"type":"string"}})", allocator),
                 allocator);
  name.AddMember("explode", true, allocator);
  Value parameters(rapidjson::kArrayType);
  parameters.PushBack(name, allocator);
  operation.AddMember("parameters", parameters, allocator);
  Value media(rapidjson::kObjectType);
  media.AddMember("schema", Parsed(R"({"type":"string"})", allocator), allocator);
  Value content(rapidjson::kObjectType);
  content.AddMember("text/event-stream", media, allocator);
  Value success(rapidjson::kObjectType);
  success.AddMember("description", "The stream, open until the server stops", allocator);
  success.AddMember("content", content, allocator);
  Value responses(rapidjson::kObjectType);
  responses.AddMember("200", success, allocator);
  responses.AddMember("default", Ref("#/components/responses/Failure", allocator), allocator);
  operation.AddMember("responses", responses, allocator);
  return operation;
}

const char* MethodKey(const char* method) {
  const std::string text = method;
  if (text == "GET") return "get";
  if (text == "PUT") return "put";
  if (text == "DELETE") return "delete";
  return "post";
}

}  // namespace

void AddHostControls(rapidjson::Document& openApi) {
  Allocator& allocator = openApi.GetAllocator();
  Value tag(rapidjson::kObjectType);
  tag.AddMember("name", rapidjson::StringRef(kDevelopmentHostTag), allocator);
  tag.AddMember("description",
                "The development server's own routes: host controls under /_host/ (the "
                "scenario steps over HTTP) and the event stream.",
                allocator);
  openApi["tags"].PushBack(tag, allocator);

  Value& paths = openApi["paths"];
  for (const Control& control : kControls) {
    const CommandName* name = nullptr;
    for (const CommandName& candidate : kCommandNames) {
      if (candidate.kind == control.kind) name = &candidate;
    }
    const std::string path = std::string("/_host/") + name->route;
    if (!paths.HasMember(path.c_str())) {
      paths.AddMember(Value(path.c_str(), allocator), Value(rapidjson::kObjectType), allocator);
    }
    paths[path.c_str()].AddMember(rapidjson::StringRef(MethodKey(name->method)),
                                  Operation(control, allocator), allocator);
  }
  Value events(rapidjson::kObjectType);
  events.AddMember("get", EventsOperation(allocator), allocator);
  paths.AddMember("/events", events, allocator);

  Value& schemas = openApi["components"]["schemas"];
  for (const auto& [schemaName, json] : kSchemas) {
    schemas.RemoveMember(schemaName);
    schemas.AddMember(rapidjson::StringRef(schemaName), Parsed(json, allocator), allocator);
  }
}

std::string DevelopmentServerOpenApi(const Abi::PluginHostRecord& record) {
  rapidjson::Document document;
  BuildOpenApi(ReadApiDescription(record.api), OpenApiInfoOf(record), document);
  AddHostControls(document);
  return JsonText(document);
}

}  // namespace Kavren::Host
