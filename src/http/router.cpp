// The router: endpoint registration, request matching, binding, invoking and the response.
#include "http/router.h"

#include <cctype>
#include <cstring>

#include "formats/help.h"
#include "http/api_block.h"
#include "http/router_messages.h"
#include "log/log.h"
#include "util/format.h"

namespace Kavren {
namespace {

using Outcome = MaybeType<Failure, void>;

constexpr const char kBuiltinNameSpace[] = "$builtin";
constexpr const char kBuiltinHelp[] = "Help";

// Runs the handler's release for an issued token however the call ends.
class TokenRelease {
 public:
  explicit TokenRelease(EndpointHandler* handler) : handler_(handler) {}
  TokenRelease(const TokenRelease&) = delete;
  TokenRelease& operator=(const TokenRelease&) = delete;
  ~TokenRelease() {
    if (handler_ != nullptr && token != 0) handler_->Release(token);
  }
  EndpointHandler::Token token = 0;

 private:
  EndpointHandler* handler_;
};

bool MethodFits(const EndpointFunction& function, const Abi::HttpRequestRecord& request) {
  if (function.method == 0) return true;
  if (function.method != request.method) return false;
  if (function.method != Abi::kHttpMethodCustom) return true;
  const char* custom = request.customMethod != nullptr ? request.customMethod : "";
  return function.customMethod == custom;
}

bool WantsRequestContext(const EndpointHandler& handler) {
  const TypeIdentity* wanted = handler.RequestContextType();
  return wanted != nullptr &&
         (SameType(wanted, StaticType::HashCode<HttpBaseTransport::Request>()) ||
          SameType(wanted, StaticType::HashCode<RemotingRequest>()));
}

// A failure the router answers itself, with the response's usual fields.
void FillFailure(Abi::HttpResponseRecord& response, const char* message, std::int32_t status,
                 const BindingRegistry* registry) {
  HttpResponseSettings settings;
  settings.result = Failure{status, FailureMessage::Constant(message)};
  settings.status = status;
  FillResponseRecord(settings, registry, response);
}

// The last resort once something was thrown: whatever the response holds is released
// by its own release, then only the failure is written, with the constant text, so
// nothing here allocates.
void FillInternalError(Abi::HttpResponseRecord& response) noexcept {
  if (response.release != nullptr) {
    response.release(&response);
  } else {
    ReleaseResponse(&response);
  }
  std::memset(static_cast<void*>(&response), 0, sizeof(response));
  response.release = &ReleaseResponse;
  response.contentType = kResponseEmptyText;
  response.status = 500;
  response.errorText = kResponseFallbackErrorText;
  response.failed = 1;
}

}  // namespace

namespace detail {

void FailResult(EndpointCall& call, std::string message) {
  // The reply must not look like a success with an empty body.
  call.settings.value.Reset();
  call.settings.status = 400;
  call.outcome = Failure{400, FailureMessage(std::move(message))};
}

}  // namespace detail

std::string EndpointFunctionName(HttpMethod method, std::string_view urlTemplate) {
  const std::string_view methodText = MethodText(method);
  std::string lowerRest;
  for (std::size_t i = 1; i < methodText.size(); ++i) {
    lowerRest.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(methodText[i]))));
  }
  const std::string joined =
      Format("%1%2/%3", methodText.substr(0, methodText.empty() ? 0 : 1), lowerRest, urlTemplate);
  std::string name;
  bool capitalise = true;
  for (const char c : joined) {
    switch (c) {
      case '!':
      case '+':
      case '-':
      case '.':
      case '/':
      case '_':
        capitalise = true;
        break;
      case '{':
        name += "By";
        capitalise = true;
        break;
      case '}':
        break;
      default:
        if (capitalise) {
          name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
          capitalise = false;
        } else {
          name.push_back(c);
        }
    }
  }
  return name;
}

Router::Router(BindingRegistry& registry)
    : registry_(registry),
      // The "$builtin" namespace answers "Help" with the native description of
      // everything registered; a module may replace it.
      builtinHelp_([&registry] { return BindingHelpProvider::DescribeRegistry(registry); }) {}

Router::~Router() = default;

TypeBuilder Router::Tagged(TypeBuilder builder) {
  for (const std::string& tag : apiTags_) builder.AddTag(tag.c_str());
  return builder;
}

bool Router::DescribeEndpoint(EndpointFunction& record, HttpMethod method,
                              std::string_view urlTemplate, std::vector<EndpointArgument> arguments,
                              std::vector<TypeRef> types, std::vector<bool> optional,
                              std::string_view description) {
  const auto code = static_cast<std::int32_t>(method);
  const std::string name = EndpointFunctionName(method, urlTemplate);
  if (code < Abi::kHttpMethodDelete || code > Abi::kHttpMethodPut) {
    LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0,
              RouterMessages::kLogBadMethod, name.c_str(), code);
    return false;
  }
  if (arguments.size() != types.size()) {
    const std::string reason =
        Format("%1 parameters declared for a handler of %2", arguments.size(), types.size());
    LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0,
              RouterMessages::kLogRefused, name.c_str(), reason.c_str());
    return false;
  }
  record.name = name;
  record.urlTemplate = std::string(urlTemplate);
  record.method = code;
  record.description = std::string(description);
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    FunctionArgument argument;
    argument.name = std::move(arguments[i].name);
    argument.description = std::move(arguments[i].description);
    argument.type = types[i];
    argument.optional = arguments[i].optional || optional[i];
    argument.location = arguments[i].location;
    record.arguments.push_back(std::move(argument));
  }
  return true;
}

EndpointFunction* Router::AddEndpoint(std::unique_ptr<EndpointFunction> function) {
  if (function == nullptr) return nullptr;
  MaybeType<Failure, Route> route =
      Route::Compile(function->urlTemplate.empty() ? function->name : function->urlTemplate);
  if (route.Failed()) {
    LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0,
              RouterMessages::kLogRefused, function->name.c_str(),
              route.GetFailure().message.CStr());
    return nullptr;
  }
  function->route = std::move(route).Value();
  for (const std::string& tag : apiTags_) function->tags.push_back(tag);
  EndpointFunction* added = function.get();
  // The registry owns the record; a record of the same name is replaced in both places.
  registry_.AddFunction(std::move(function));
  endpoints_.insert_or_assign(added->name, added);
  return added;
}

const EndpointFunction* Router::Match(std::span<const EndpointFunction* const> routes,
                                      const Abi::HttpRequestRecord& request,
                                      RouteCaptures& captures, std::size_t& captureCount) {
  const std::string_view path = request.path != nullptr ? request.path : "";
  const EndpointFunction* chosen = nullptr;
  std::size_t chosenLength = 0;
  captures.clear();
  captureCount = 0;
  for (const EndpointFunction* function : routes) {
    if (function == nullptr || !MethodFits(*function, request)) continue;
    RouteCaptures found;
    std::size_t length = 0;
    if (!function->route.Match(path, found, length)) continue;
    if (chosen == nullptr || length < chosenLength) {
      chosen = function;
      chosenLength = length;
      captures = std::move(found);
      captureCount = function->route.Placeholders().size();
      if (captureCount == 0) break;
    }
  }
  return chosen;
}

void Router::CallBuiltin(std::string_view name, HttpResponseSettings& settings) const {
  if (name == kBuiltinHelp && builtinHelp_) {
    BindingResult help = builtinHelp_();
    if (help.ok) {
      settings.value.MoveFrom(help.value);
      return;
    }
    settings.result = Failure{0, FailureMessage(help.ErrorText())};
    return;
  }
  settings.result = Failure{0, FailureMessage::Constant(RouterMessages::kUnsupportedBuiltin)};
}

void Router::HandleRequestOrThrow(Abi::HttpResponseRecord& response,
                                  const Abi::HttpRequestRecord& request,
                                  const EndpointFunction& function) {
  RouteCaptures captures;
  std::size_t captureCount = 0;
  const EndpointFunction* const routes[] = {&function};
  if (Match(routes, request, captures, captureCount) == nullptr) {
    FillFailure(response, RouterMessages::kInvalidFunction, 404, &registry_);
    return;
  }

  EndpointCall call;
  call.outcome = BindRequestArguments(function, request, captures, captureCount, call.arguments);
  EndpointHandler* handler = function.handler.get();
  TokenRelease release(handler);
  if (call.outcome.Succeeded()) {
    if (function.nameSpace == kBuiltinNameSpace) {
      // The host entry never supplies the built-in context; kept for the help provider.
      CallBuiltin(function.name, call.settings);
    } else if (handler != nullptr) {
      release.token = handler->Prepare(call, request.context);
      if (call.outcome.Succeeded()) {
        if (WantsRequestContext(*handler)) {
          const RemotingRequest context(HttpBaseTransport::MakeRequest(request, &call.arguments));
          handler->Invoke(call, &context, release.token, request.context);
        } else {
          handler->Invoke(call, nullptr, release.token, request.context);
        }
      }
    }
  }
  if (call.outcome.Failed()) call.settings.result = call.outcome;
  FillResponseRecord(call.settings, &registry_, response);
}

void Router::HandleRequest(Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord& request,
                           const EndpointFunction& function) noexcept {
  try {
    HandleRequestOrThrow(response, request, function);
  } catch (...) {
    FillInternalError(response);
  }
}

Abi::PluginApiBlock Router::BuildApiBlock() {
  if (exports_ == nullptr) exports_ = std::make_unique<ApiExportTables>();
  return exports_->Build(registry_, endpoints_, this, &RouterRequestEntry);
}

const ApiExportTables& Router::Exports() {
  if (exports_ == nullptr) exports_ = std::make_unique<ApiExportTables>();
  return *exports_;
}

void HXA_CDECL RouterRequestEntry(Abi::HttpResponseRecord* response,
                                  const Abi::HttpRequestRecord* request) noexcept {
  if (response == nullptr) return;
  std::memset(static_cast<void*>(response), 0, sizeof(*response));
  try {
    const auto* registration =
        request != nullptr ? static_cast<const Abi::ApiEndpointRegistration*>(request->endpoint)
                           : nullptr;
    if (registration == nullptr || registration->router == nullptr ||
        registration->function == nullptr) {
      FillFailure(*response, RouterMessages::kInvalidFunction, 404, nullptr);
      return;
    }
    auto* router = static_cast<Router*>(registration->router);
    const auto* function = static_cast<const EndpointFunction*>(registration->function);
    router->HandleRequest(*response, *request, *function);
  } catch (...) {
    FillInternalError(*response);
  }
}

}  // namespace Kavren
