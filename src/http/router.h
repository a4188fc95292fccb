// The router: endpoint registration, request matching, binding, invoking and the response.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "abi/api_block.h"
#include "abi/http.h"
#include "binding/convert.h"
#include "binding/registry.h"
#include "binding/value.h"
#include "http/binding.h"
#include "http/endpoint_handler.h"
#include "http/message.h"
#include "http/request_context.h"
#include "http/response.h"
#include "http/route.h"
#include "http/typed_result.h"
#include "util/failure.h"

namespace Kavren {

class ApiExportTables;

/// A registered endpoint: the function record the registry keeps, with what routing
/// needs. Read-only once the plugin has started.
struct EndpointFunction : FunctionRecord {
  std::string urlTemplate;
  /// 0 fits every method; 8 compares `customMethod`.
  std::int32_t method = 0;
  std::string customMethod;
  /// The registration's flag, handed to the host in the endpoint descriptor.
  std::uint8_t flag = 0;
  /// The handler registration's text lists, handed to the host in the endpoint descriptor.
  std::vector<std::vector<std::string>> textLists;
  /// Compiled once at registration from `urlTemplate` (or the name when it is empty).
  Route route;
  std::unique_ptr<EndpointHandler> handler;
};

/// One parameter of an endpoint as its registration declares it.
struct EndpointArgument {
  std::string name;
  std::string description;
  std::int32_t location = kLocationAny;
  bool optional = false;
};

/// A parameter that only a path placeholder may bind.
[[nodiscard]] inline EndpointArgument PathArgument(std::string name, std::string description = {}) {
  return EndpointArgument{std::move(name), std::move(description), kLocationPath, false};
}

/// The function name of an endpoint: method text and template walked so that "!+-./_"
/// are dropped and capitalise the next character, "{" becomes "By" (capitalising the
/// next), "}" is dropped: GET /a-b/{id} gives GetABById.
[[nodiscard]] std::string EndpointFunctionName(HttpMethod method, std::string_view urlTemplate);

/// The endpoints of one application module. Registration happens at load, before host
/// threads call in; afterwards the registrations are read-only and requests on any
/// number of host threads share nothing else.
class Router {
 public:
  explicit Router(BindingRegistry& registry);
  ~Router();
  Router(const Router&) = delete;
  Router& operator=(const Router&) = delete;

  [[nodiscard]] BindingRegistry& Registry() const { return registry_; }

  /// The module's API tags, appended to the tags of every type and endpoint registered
  /// through the router from now on.
  void SetApiTags(std::vector<std::string> tags) { apiTags_ = std::move(tags); }
  [[nodiscard]] const std::vector<std::string>& ApiTags() const { return apiTags_; }

  /// Registers record T with the module's API tags.
  template <class T>
  TypeBuilder RegisterStruct(const char* name) {
    return Tagged(registry_.RegisterStruct<T>(name));
  }
  /// Registers enumeration T with the module's API tags.
  template <class T>
  TypeBuilder RegisterEnum(const char* name) {
    return Tagged(registry_.RegisterEnum<T>(name));
  }

  /// Registers `function` as the endpoint `method` (codes 1 to 7) `urlTemplate`, named by
  /// EndpointFunctionName. `arguments` declares the function's parameters in order (the
  /// request context parameter, if any, excluded). Answers the registered record, owned
  /// by the registry, or null (logged) when the method code, the argument count or the
  /// template is refused.
  template <class F>
  EndpointFunction* RegisterEndpoint(HttpMethod method, std::string_view urlTemplate, F&& function,
                                     std::vector<EndpointArgument> arguments = {},
                                     std::string_view description = {}) {
    return RegisterFunction(method, urlTemplate, std::function(std::forward<F>(function)),
                            std::move(arguments), description);
  }

  /// Enters a prepared record (name, arguments, handler set) in the registry and the
  /// router: the route is compiled and the API tags appended. Null when refused.
  EndpointFunction* AddEndpoint(std::unique_ptr<EndpointFunction> function);

  /// The endpoint registrations by function name (byte-wise ascending).
  [[nodiscard]] const std::map<std::string, EndpointFunction*>& Endpoints() const {
    return endpoints_;
  }

  /// The route among `routes` that fits the request's path and method: the first fit,
  /// replaced by a later one only when its captured texts are shorter in total; a fit
  /// without captures ends the search. Null when none fits.
  [[nodiscard]] static const EndpointFunction* Match(
      std::span<const EndpointFunction* const> routes, const Abi::HttpRequestRecord& request,
      RouteCaptures& captures, std::size_t& captureCount);

  /// [any host thread] Matches, binds, prepares, invokes and fills `response` (zeroed on
  /// entry). Never throws: anything thrown becomes "Internal server error", status 500.
  void HandleRequest(Abi::HttpResponseRecord& response, const Abi::HttpRequestRecord& request,
                     const EndpointFunction& function) noexcept;

  /// Builds the API block from the registry's snapshots and the endpoint registrations.
  /// The arrays belong to the router and stay valid until the router is destroyed or the
  /// block is built again.
  [[nodiscard]] Abi::PluginApiBlock BuildApiBlock();
  /// The tables behind the last block built (empty before the first build).
  [[nodiscard]] const ApiExportTables& Exports();

  /// The answer of the built-in function "Help" of the "$builtin" name space; unset until
  /// the help provider exists.
  using BuiltinHelp = std::function<BindingResult()>;
  void SetBuiltinHelp(BuiltinHelp help) { builtinHelp_ = std::move(help); }
  /// Answers a call of the built-in name space into `settings`: "Help" through the help
  /// provider, any other name (or no provider) "Unsupported builtin function".
  void CallBuiltin(std::string_view name, HttpResponseSettings& settings) const;

 private:
  template <class Result, class... Args>
  EndpointFunction* RegisterFunction(HttpMethod method, std::string_view urlTemplate,
                                     std::function<Result(Args...)> function,
                                     std::vector<EndpointArgument> arguments,
                                     std::string_view description);

  /// Fills the record's name, method, template and arguments; false (logged) when refused.
  bool DescribeEndpoint(EndpointFunction& record, HttpMethod method, std::string_view urlTemplate,
                        std::vector<EndpointArgument> arguments, std::vector<TypeRef> types,
                        std::vector<bool> optional, std::string_view description);
  TypeBuilder Tagged(TypeBuilder builder);
  void HandleRequestOrThrow(Abi::HttpResponseRecord& response,
                            const Abi::HttpRequestRecord& request,
                            const EndpointFunction& function);

  BindingRegistry& registry_;
  std::vector<std::string> apiTags_;
  std::map<std::string, EndpointFunction*> endpoints_;
  BuiltinHelp builtinHelp_;
  std::unique_ptr<ApiExportTables> exports_;
};

// `arguments` is moved on below; clang-tidy 14 misses a move inside a dependent call.
// NOLINTBEGIN(performance-unnecessary-value-param)
template <class Result, class... Args>
EndpointFunction* Router::RegisterFunction(HttpMethod method, std::string_view urlTemplate,
                                           std::function<Result(Args...)> function,
                                           std::vector<EndpointArgument> arguments,
                                           std::string_view description) {
  // NOLINTEND(performance-unnecessary-value-param)
  auto record = std::make_unique<EndpointFunction>();
  if (!DescribeEndpoint(*record, method, urlTemplate, std::move(arguments),
                        detail::BoundTypes<Args...>::Refs(registry_),
                        detail::BoundTypes<Args...>::Optional(), description)) {
    return nullptr;
  }
  record->returnType = detail::EndpointResult<Result>::Type(registry_);
  using Handler = typename detail::HandlerFor<Result, Args...>::Type;
  record->handler = std::make_unique<Handler>(typename Handler::Function(std::move(function)),
                                              registry_, *record);
  return AddEndpoint(std::move(record));
}

/// [any host thread] The request entry of every endpoint descriptor: finds the router and
/// the endpoint through the request's `endpoint` registration and lets the router answer
/// into `response`. Never throws; a request without a registration is "Invalid function",
/// status 404.
void HXA_CDECL RouterRequestEntry(Abi::HttpResponseRecord* response,
                                  const Abi::HttpRequestRecord* request) noexcept;

}  // namespace Kavren
