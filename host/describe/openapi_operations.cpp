// The OpenAPI document's operations: how each endpoint is called and what it answers.
#include "host/describe/openapi_operations.h"

#include <cstdint>
#include <set>
#include <string>
#include <utility>

namespace Kavren::Host::detail {
namespace {

using rapidjson::Value;

constexpr const char kFailureResponse[] = "#/components/responses/Failure";
constexpr const char kBadRequestResponse[] = "#/components/responses/BadRequest";
// The body formats the router decodes, JSON first: the page sends its first one.
constexpr const char* kBodyContentTypes[] = {"application/json", "text/x-yaml",
                                             "application/x-msgpack"};

// Lower-case method keys of a path item, by method code 1 to 7.
const char* OperationKey(std::int32_t method) {
  static constexpr const char* kKeys[] = {"",        "delete", "get",  "head",
                                          "options", "patch",  "post", "put"};
  return method >= 1 && method <= 7 ? kKeys[method] : "";
}

// The path item's key of an endpoint's operation: its method, "post" for one that takes
// every method, "x-method-<METHOD>" for a custom method.
std::string MethodKey(const ApiEndpoint& endpoint) {
  std::string key = OperationKey(endpoint.method);
  if (endpoint.method == 0) key = "post";
  if (endpoint.method == 8 || key.empty()) key = "x-method-" + endpoint.customMethod;
  return key;
}

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

bool Structured(const ApiTypeReference& type) {
  return type.kind == ApiKind::kVector || type.kind == ApiKind::kStruct ||
         type.kind == ApiKind::kObject || type.kind == ApiKind::kMap;
}

// Only the first body argument receives the body.
const ApiArgument* BodyArgument(const ApiEndpoint& endpoint) {
  for (const ApiArgument& argument : endpoint.arguments) {
    if (argument.location == kLocationBody) return &argument;
  }
  return nullptr;
}

// Every operation is described: by its help, else by its summary, else by its function.
std::string OperationDescription(const ApiEndpoint& endpoint) {
  std::string description = endpoint.help;
  if (endpoint.method == 0) {
    description += (description.empty() ? "" : "\n\n");
    description += "Accepts every method.";
  }
  if (description.empty()) description = endpoint.description;
  if (description.empty()) description = "Calls the plugin's function " + endpoint.name + ".";
  return description;
}

// Writes the operations of one document.
class OperationWriter {
 public:
  OperationWriter(SchemaWriter& schemas, Allocator& allocator)
      : schemas_(schemas), allocator_(allocator) {}

  Value Operation(const ApiEndpoint& endpoint, const std::set<std::string>& placeholders) {
    Value operation(rapidjson::kObjectType);
    if (!endpoint.tags.empty()) {
      operation.AddMember("tags", Texts(endpoint.tags, allocator_), allocator_);
    }
    if (!endpoint.description.empty()) {
      AddText(operation, "summary", endpoint.description, allocator_);
    }
    AddText(operation, "description", OperationDescription(endpoint), allocator_);
    AddText(operation, "operationId", endpoint.name, allocator_);
    Value parameters = Parameters(endpoint, placeholders);
    const bool hasParameters = !parameters.Empty();
    if (hasParameters) operation.AddMember("parameters", parameters, allocator_);
    const ApiArgument* body = BodyArgument(endpoint);
    if (body != nullptr) operation.AddMember("requestBody", RequestBody(*body), allocator_);
    operation.AddMember("responses", Responses(endpoint, hasParameters || body != nullptr),
                        allocator_);
    if (!endpoint.nameSpace.empty()) {
      AddText(operation, "x-name-space", endpoint.nameSpace, allocator_);
    }
    if (endpoint.threadSafe) operation.AddMember("x-thread-safe", true, allocator_);
    if (!endpoint.asyncResultType.empty()) {
      AddText(operation, "x-async-result", endpoint.asyncResultType, allocator_);
    }
    return operation;
  }

 private:
  // The path, query and header parameters: each argument once, by its location (one
  // that may come from anywhere is a path parameter when the path names it, else a
  // query parameter), then every placeholder of the path that no argument binds.
  Value Parameters(const ApiEndpoint& endpoint, const std::set<std::string>& placeholders) {
    Value parameters(rapidjson::kArrayType);
    std::set<std::string> declared;
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
    return parameters;
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
      parameter.AddMember("content", JsonContent(schemas_.RequestSchema(type), allocator_),
                          allocator_);
    } else {
      parameter.AddMember("schema", schemas_.RequestSchema(type), allocator_);
    }
    return parameter;
  }

  // The body argument's schema in each body format the router decodes.
  Value RequestBody(const ApiArgument& body) {
    Value requestBody(rapidjson::kObjectType);
    if (!body.description.empty())
      AddText(requestBody, "description", body.description, allocator_);
    Value content(rapidjson::kObjectType);
    for (const char* contentType : kBodyContentTypes) {
      Value media(rapidjson::kObjectType);
      media.AddMember("schema", schemas_.RequestSchema(body.type), allocator_);
      content.AddMember(rapidjson::StringRef(contentType), media, allocator_);
    }
    requestBody.AddMember("content", content, allocator_);
    requestBody.AddMember("required", !body.optional, allocator_);
    return requestBody;
  }

  // 200 with the result, 204 without one; 400 for an operation that takes arguments;
  // the development server's failure body for the rest.
  Value Responses(const ApiEndpoint& endpoint, bool takesArguments) {
    Value responses(rapidjson::kObjectType);
    if (endpoint.returns.kind != ApiKind::kNone) {
      Value ok(rapidjson::kObjectType);
      ok.AddMember("description", "The result", allocator_);
      ok.AddMember("content", JsonContent(schemas_.Schema(endpoint.returns), allocator_),
                   allocator_);
      responses.AddMember("200", ok, allocator_);
    } else {
      Value none(rapidjson::kObjectType);
      none.AddMember("description", "Done; no content", allocator_);
      responses.AddMember("204", none, allocator_);
    }
    if (takesArguments) {
      // An argument that cannot be bound (a malformed value) is the request's fault.
      Value badRequest(rapidjson::kObjectType);
      AddText(badRequest, "$ref", kBadRequestResponse, allocator_);
      responses.AddMember("400", badRequest, allocator_);
    }
    Value failure(rapidjson::kObjectType);
    AddText(failure, "$ref", kFailureResponse, allocator_);
    responses.AddMember("default", failure, allocator_);
    return responses;
  }

  SchemaWriter& schemas_;
  Allocator& allocator_;
};

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
  Value failure(rapidjson::kObjectType);
  failure.AddMember("description", rapidjson::StringRef(description), allocator);
  failure.AddMember("content", JsonContent(std::move(schema), allocator), allocator);
  return failure;
}

}  // namespace

Value Paths(const ApiDescription& api, SchemaWriter& schemas, Allocator& allocator) {
  OperationWriter writer(schemas, allocator);
  Value paths(rapidjson::kObjectType);
  std::set<std::string> operationIds;
  for (const ApiEndpoint& endpoint : api.endpoints) {
    // Operation ids are unique in a document: a repeated function name keeps the first.
    if (!operationIds.insert(endpoint.name).second) continue;
    std::set<std::string> placeholders;
    const std::string path = PathOf(endpoint, placeholders);
    const std::string key = MethodKey(endpoint);
    auto item = paths.FindMember(path.c_str());
    if (item == paths.MemberEnd()) {
      paths.AddMember(String(path, allocator), Value(rapidjson::kObjectType), allocator);
      item = paths.FindMember(path.c_str());
    }
    if (item->value.HasMember(key.c_str())) continue;
    item->value.AddMember(String(key, allocator), writer.Operation(endpoint, placeholders),
                          allocator);
  }
  return paths;
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

}  // namespace Kavren::Host::detail
