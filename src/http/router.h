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
#include "http/message.h"
#include "http/request_context.h"
#include "http/response.h"
#include "http/route.h"
#include "http/typed_result.h"
#include "util/failure.h"

HXA_BINDING_STRUCT(Kavren::HttpBaseTransport::Request);
HXA_BINDING_STRUCT(Kavren::RemotingRequest);

namespace Kavren {

class ApiExportTables;

/// The state of one endpoint call: the bound arguments (in parameter order), the response
/// settings the handler fills, and the call's outcome: a binding or preparation failure
/// (code 0), or a result that could not be converted (code 400, see FailResult).
struct EndpointCall {
  std::vector<BindingProperty> arguments;
  HttpResponseSettings settings;
  MaybeType<Failure, void> outcome;
};

/// How the router calls an endpoint: Prepare, then Invoke (only while the call is ok),
/// then Release when Prepare issued a token (also after a failure).
class EndpointHandler {
 public:
  using Token = std::uintptr_t;
  virtual ~EndpointHandler() = default;

  /// Converts `call.arguments` to the native arguments; a failure goes into
  /// `call.outcome`. Answers a token for Invoke and Release, or 0.
  virtual Token Prepare(EndpointCall& call, Abi::HostWord context) = 0;
  /// The identity of the request context the handler takes, or null for none.
  [[nodiscard]] virtual const TypeIdentity* RequestContextType() const { return nullptr; }
  /// Calls the endpoint's function and copies its result into `call.settings`.
  virtual void Invoke(EndpointCall& call, const HttpBaseTransport::Request* request, Token token,
                      Abi::HostWord context) = 0;
  /// Frees what Prepare allocated for `token` (never 0).
  virtual void Release(Token token) noexcept = 0;
};

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

namespace detail {

template <class T>
inline constexpr bool kIsRequestContext =
    std::is_same_v<std::decay_t<T>, HttpBaseTransport::Request> ||
    std::is_same_v<std::decay_t<T>, RemotingRequest>;

/// Fails the call because its result could not be converted: the reply carries the
/// conversion's message with status 400 and no value.
void FailResult(EndpointCall& call, std::string message);

/// Converts `value` into the call's result value; an unconvertible value fails the call.
template <class T>
void StoreResultValue(EndpointCall& call, const T& value, const BindingRegistry& registry) {
  BindingResult converted;
  ToValue(converted, value, registry);
  if (!converted.ok) return FailResult(call, converted.ErrorText());
  call.settings.value.MoveFrom(converted.value);
}

/// The result type of a handler as the function record describes it, and the copy of
/// a returned result into the call's response settings.
template <class Result>
struct EndpointResult {
  static TypeRef Type(const BindingRegistry& registry) { return NativeTypeRef<Result>(registry); }
  static void Copy(EndpointCall& call, Result&& result, const BindingRegistry& registry) {
    StoreResultValue(call, result, registry);
  }
};

template <>
struct EndpointResult<void> {
  static TypeRef Type(const BindingRegistry&) { return {}; }
};

/// A failed outcome becomes the reply's failure, its code the status.
template <>
struct EndpointResult<MaybeType<Failure, void>> {
  static TypeRef Type(const BindingRegistry&) { return {}; }
  static void Copy(EndpointCall& call, MaybeType<Failure, void>&& result, const BindingRegistry&) {
    if (result.Failed()) call.settings.status = result.GetFailure().code;
    call.settings.result = std::move(result);
  }
};

/// The value (or the failure message), then the response settings the result carries.
template <class T>
struct EndpointResult<RemotingTypedResult<T>> {
  static TypeRef Type(const BindingRegistry& registry) { return NativeTypeRef<T>(registry); }
  static void Copy(EndpointCall& call, RemotingTypedResult<T>&& result,
                   const BindingRegistry& registry) {
    if (CopyResultToSettings(std::move(result), call.settings, registry)) return;
    // Only the value was read by the copy; converting it again (on this failure path
    // only) recovers the conversion's message for the reply.
    BindingResult converted;
    ToValue(converted, result.value, registry);
    FailResult(call, converted.ErrorText());
  }
};

/// The function type of a handler: the bound arguments, after the context if there is one.
template <class Result, class Context, class... Bound>
struct HandlerSignature {
  using Type = std::function<Result(Context, Bound...)>;
};
template <class Result, class... Bound>
struct HandlerSignature<Result, void, Bound...> {
  using Type = std::function<Result(Bound...)>;
};

/// A handler over a function of native arguments, optionally preceded by the request
/// context (`const HttpBaseTransport::Request&` or `const RemotingRequest&`).
template <class Result, class Context, class... Bound>
class FunctionEndpointHandler final : public EndpointHandler {
 public:
  using Function = typename HandlerSignature<Result, Context, Bound...>::Type;
  using Values = std::tuple<std::decay_t<Bound>...>;

  FunctionEndpointHandler(Function function, const BindingRegistry& registry,
                          const FunctionRecord& record)
      : function_(std::move(function)), registry_(registry), record_(record) {}

  Token Prepare(EndpointCall& call, Abi::HostWord) override {
    if constexpr (sizeof...(Bound) == 0) {
      return 0;
    } else {
      auto values = std::make_unique<Values>();
      BindingResult status;
      Convert(status, *values, call.arguments, std::index_sequence_for<Bound...>{});
      if (!status.ok) call.outcome = Failure{0, FailureMessage(status.ErrorText())};
      return reinterpret_cast<Token>(values.release());
    }
  }

  [[nodiscard]] const TypeIdentity* RequestContextType() const override {
    if constexpr (std::is_void_v<Context>) {
      return nullptr;
    } else {
      return StaticType::HashCode<std::decay_t<Context>>();
    }
  }

  void Invoke(EndpointCall& call, const HttpBaseTransport::Request* request, Token token,
              Abi::HostWord) override {
    static Values empty;
    Values& values = token != 0 ? *reinterpret_cast<Values*>(token) : empty;
    auto run = [&](auto&... native) -> Result {
      if constexpr (std::is_void_v<Context>) {
        return function_(std::forward<Bound>(native)...);
      } else {
        // The router builds a RemotingRequest, which binds to either context type.
        const RemotingRequest fallback;
        const auto& context =
            request != nullptr ? static_cast<const RemotingRequest&>(*request) : fallback;
        return function_(context, std::forward<Bound>(native)...);
      }
    };
    if constexpr (std::is_void_v<Result>) {
      std::apply(run, values);
    } else {
      EndpointResult<Result>::Copy(call, std::apply(run, values), registry_);
    }
  }

  void Release(Token token) noexcept override { delete reinterpret_cast<Values*>(token); }

 private:
  template <std::size_t... I>
  void Convert(BindingResult& status, Values& values, const std::vector<BindingProperty>& input,
               std::index_sequence<I...>) {
    (FromValue(status, std::get<I>(values), input[I], record_.arguments[I].name.c_str(), registry_),
     ...);
  }

  Function function_;
  const BindingRegistry& registry_;
  const FunctionRecord& record_;
};

template <class Result, class... Args>
struct HandlerFor;
template <class Result>
struct HandlerFor<Result> {
  using Type = FunctionEndpointHandler<Result, void>;
};
template <class Result, class First, class... Rest>
struct HandlerFor<Result, First, Rest...> {
  using Type =
      std::conditional_t<kIsRequestContext<First>, FunctionEndpointHandler<Result, First, Rest...>,
                         FunctionEndpointHandler<Result, void, First, Rest...>>;
};

/// The native argument types a handler binds (the request context left out).
template <class... Args>
struct BoundTypes {
  static std::vector<TypeRef> Refs(const BindingRegistry& registry) {
    return {NativeTypeRef<Args>(registry)...};
  }
  static std::vector<bool> Optional() { return {NativeField<std::decay_t<Args>>::kOptional...}; }
};
template <class First, class... Rest>
requires kIsRequestContext<First>
struct BoundTypes<First, Rest...> : BoundTypes<Rest...> {
};

}  // namespace detail

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
