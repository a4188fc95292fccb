// RemotingTypedResult: the outcome of a typed host call and the result of endpoint handlers.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "http/message.h"
#include "http/messages.h"
#include "util/failure.h"

namespace Kavren {

/// A value of type T, or the reason there is none, with the response settings a
/// handler may ask for. Default-constructed it holds a valid default value.
template <class T>
class RemotingTypedResult {
 public:
  RemotingTypedResult() = default;
  /// A successful result holding `result`.
  // NOLINTNEXTLINE(google-explicit-constructor): a handler returns its value as it is.
  RemotingTypedResult(T result) : value(std::move(result)) {}

  /// Status 404 with `message`, or "Not found" when it is empty.
  [[nodiscard]] static RemotingTypedResult NotFound(std::string message = {}) {
    RemotingTypedResult result;
    result.SetFailure(404, message.empty() ? HttpMessages::kNotFound : std::move(message));
    return result;
  }
  /// Status 500 with `message`, or "Internal server error" when it is empty.
  [[nodiscard]] static RemotingTypedResult InternalError(std::string message = {}) {
    RemotingTypedResult result;
    result.SetFailure(500,
                      message.empty() ? HttpMessages::kInternalServerError : std::move(message));
    return result;
  }
  /// The failure's message with its code as the status.
  [[nodiscard]] static RemotingTypedResult FromFailure(const Failure& failure) {
    RemotingTypedResult result;
    result.SetFailure(failure.code, failure.message.Str());
    return result;
  }

  /// Resets the whole result, then stores `message` and `status` and clears `ok`.
  void SetFailure(std::int32_t failureStatus, std::string message) {
    *this = RemotingTypedResult();
    errorText = std::move(message);
    status = failureStatus;
    ok = false;
  }

  /// Success, or Failure{status, errorText} when the result is not ok.
  [[nodiscard]] MaybeType<Failure, void> Outcome() const {
    if (ok) return MaybeType<Failure, void>::Success();
    return Failure{status, FailureMessage(errorText)};
  }

  T value{};
  /// Why there is no value; empty while `ok`.
  std::string errorText;
  std::uint8_t formatFlag = 0;
  /// Body format asked for (BodyFormat); 1 to 3 reach the response, anything else 0.
  std::int32_t format = 0;
  std::int32_t status = 0;
  std::string contentType;
  HttpHeaderMap headers;
  /// True when `value` is valid.
  bool ok = true;
};

}  // namespace Kavren
