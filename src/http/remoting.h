// Synchronous calls of the host's REST API and their typed results.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "abi/http.h"
#include "binding/convert.h"
#include "binding/value.h"
#include "http/future.h"
#include "http/message.h"
#include "http/messages.h"
#include "http/typed_result.h"
#include "util/failure.h"
#include "util/format.h"

namespace Kavren {

class BindingRegistry;

/// What a call of the host needs; the application module provides it once started.
struct RemotingContext {
  /// The host's table; calls fail (without calling anything) while it is null.
  Abi::HostFunctions* functions = nullptr;
  /// The host's cookie, sent as every request's `context`.
  std::uint32_t cookie = 0;
  /// Converts parameters and results; null converts with an empty registry (values
  /// and texts only).
  const BindingRegistry* registry = nullptr;
  /// Pumped while a streamed response is read; null pumps `functions` directly.
  HostWaiting* waiting = nullptr;
};

/// The registry of `context`, or an empty one when it has none.
[[nodiscard]] const BindingRegistry& RemotingRegistry(const RemotingContext& context);

/// A parameter in value form, or why it could not be converted. Binding values and
/// texts are taken as they are; anything else is converted as a registered native
/// type (a record that is not registered fails with the unregistered-structure text).
[[nodiscard]] BindingResult RemotingParameter(const BindingProperty& parameter,
                                              const BindingRegistry& registry);
[[nodiscard]] BindingResult RemotingParameter(std::string_view parameter,
                                              const BindingRegistry& registry);
[[nodiscard]] inline BindingResult RemotingParameter(const std::string& parameter,
                                                     const BindingRegistry& registry) {
  return RemotingParameter(std::string_view(parameter), registry);
}
[[nodiscard]] inline BindingResult RemotingParameter(const char* parameter,
                                                     const BindingRegistry& registry) {
  return RemotingParameter(std::string_view(parameter != nullptr ? parameter : ""), registry);
}
template <class T>
[[nodiscard]] BindingResult RemotingParameter(const T& parameter, const BindingRegistry& registry) {
  BindingResult result;
  ToValue(result, parameter, registry);
  return result;
}

/// [calling thread] The call with parameters already in value form (failed results
/// included); see Call.
[[nodiscard]] MaybeType<Failure, void> CallWithValues(const RemotingContext& context,
                                                      Abi::HttpResponseRecord& response,
                                                      HttpMethod method, std::string_view path,
                                                      std::span<const BindingResult> parameters);

/// [calling thread] Calls the host's REST function `method` `path` synchronously.
/// Each parameter becomes one positional argument entry, in order. A parameter that
/// cannot be converted fails with code 400 before the host is called; a response
/// with an error text (or its failed flag) fails with the response's status. The
/// caller owns `response` (expected zeroed) and releases it through its `release`.
template <class... Params>
[[nodiscard]] MaybeType<Failure, void> Call(const RemotingContext& context,
                                            Abi::HttpResponseRecord& response, HttpMethod method,
                                            std::string_view path, const Params&... parameters) {
  const BindingResult values[] = {RemotingParameter(parameters, RemotingRegistry(context))...,
                                  BindingResult()};
  return CallWithValues(context, response, method, path,
                        std::span<const BindingResult>(values, sizeof...(Params)));
}

/// The response of a typed call in value form, before its conversion to T.
struct RemotingResponseValue {
  /// The call's failure, or success with `value` holding the response.
  MaybeType<Failure, void> outcome;
  BindingProperty value;
};

/// [calling thread] Runs the call and turns the response into a value: a streamed
/// body is read in 4096-byte chunks (yielding once after a short chunk that says
/// more follows) and parsed as JSON, any other body converted from the response's
/// host value. The response is released (stream first) before returning.
[[nodiscard]] RemotingResponseValue CallForValue(const RemotingContext& context, HttpMethod method,
                                                 std::string_view path,
                                                 std::span<const BindingResult> parameters);

/// [calling thread] A call whose response is converted to T under the name "<result>".
/// Failures of the call keep their code; reading and conversion failures have code 0.
template <class T, class... Params>
[[nodiscard]] RemotingTypedResult<T> TypedCall(const RemotingContext& context, HttpMethod method,
                                               std::string_view path, const Params&... parameters) {
  const BindingResult values[] = {RemotingParameter(parameters, RemotingRegistry(context))...,
                                  BindingResult()};
  RemotingResponseValue response = CallForValue(
      context, method, path, std::span<const BindingResult>(values, sizeof...(Params)));
  if (response.outcome.Failed()) {
    return RemotingTypedResult<T>::FromFailure(response.outcome.GetFailure());
  }
  RemotingTypedResult<T> result;
  BindingResult status;
  FromValue(status, result.value, response.value, HttpMessages::kResultName,
            RemotingRegistry(context));
  if (!status.ok) {
    result.SetFailure(0, Format(HttpMessages::kResponseNotConverted, MethodText(method), path,
                                status.ErrorText()));
  }
  return result;
}

}  // namespace Kavren
