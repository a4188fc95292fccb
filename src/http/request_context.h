// The request as an endpoint handler sees it, built by the router for handlers that ask.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "abi/http.h"
#include "http/message.h"

namespace Kavren {

class BindingProperty;

/// The current time as the request context records it: 100-nanosecond ticks since
/// 1601-01-01 UTC, the epoch of the reference platform's file times.
[[nodiscard]] std::uint64_t RequestTimeNow();

class HttpBaseTransport {
 public:
  /// The request context of an endpoint call; lives for the handler's call only.
  struct Request {
    /// The request record's `context`, passed through unchanged.
    Abi::HostWord context = 0;
    /// When the request was taken on, in 100-nanosecond ticks (RequestTimeNow).
    std::uint64_t time = 0;
    HttpMethod method = HttpMethod::None;
    /// The method text when `method` is Custom, else empty.
    std::string customMethod;
    /// The path as the host sent it, query included.
    std::string path;
    HttpHeaderMap headers;
    /// The arguments bound to the handler's parameters, in parameter order; owned
    /// by the router's call state.
    const std::vector<BindingProperty>* arguments = nullptr;
  };

  /// Builds the context of `record`: context, time now, method (codes 1 to 8 kept,
  /// anything else None), custom method text for code 8, path and headers (a later
  /// header of the same name replaces an earlier one). Null texts read as empty.
  [[nodiscard]] static Request MakeRequest(const Abi::HttpRequestRecord& record,
                                           const std::vector<BindingProperty>* arguments);
};

/// Accepted by the router as the same request context; the router builds this
/// one, which binds to handlers that ask for either type.
struct RemotingRequest : HttpBaseTransport::Request {
  RemotingRequest() = default;
  explicit RemotingRequest(HttpBaseTransport::Request request)
      : HttpBaseTransport::Request(std::move(request)) {}
};

}  // namespace Kavren
