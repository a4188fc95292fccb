// How the router calls an endpoint (EndpointCall, EndpointHandler), and the adapters
// that make an EndpointHandler of a native handler function.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "abi/http.h"
#include "binding/convert.h"
#include "binding/registry.h"
#include "binding/value.h"
#include "http/message.h"
#include "http/request_context.h"
#include "http/response.h"
#include "http/typed_result.h"
#include "util/failure.h"

HXA_BINDING_STRUCT(Kavren::HttpBaseTransport::Request);
HXA_BINDING_STRUCT(Kavren::RemotingRequest);

namespace Kavren {

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

}  // namespace Kavren
