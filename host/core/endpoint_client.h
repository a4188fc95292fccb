// Calling the plugin's endpoints through the descriptors of its API block, as the
// host application does.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "abi/api_block.h"
#include "abi/plugin.h"
#include "host/core/maybe.h"

namespace Kavren::Host {

/// One endpoint of the plugin's API block.
struct EndpointInfo {
  std::string functionName;
  std::int32_t method;
  std::string urlTemplate;
  /// The method text of a custom-method endpoint (code 8), else empty.
  std::string customMethod;
};

/// A call of one of the plugin's endpoints. The endpoint is found by `function`
/// (its function name) when that is set, else by `method` and `path` against the
/// URL templates.
struct EndpointCall {
  std::int32_t method = Abi::kHttpMethodGet;
  /// The method text when `method` is 8 (a custom method).
  std::string customMethod;
  /// May carry a query; when empty and `function` is set, the endpoint's template.
  std::string path;
  std::string function;
  /// Argument entries: name ("" for a positional entry) and value as JSON text
  /// (a text that is not JSON travels as a borrowed string).
  std::vector<std::pair<std::string, std::string>> arguments;
  /// Header entries: name and value, as given.
  std::vector<std::pair<std::string, std::string>> headers;
  /// Body bytes, sent with `contentType`, when set.
  std::optional<std::string> body;
  /// Null in the request when unset.
  std::optional<std::string> contentType = "application/json";
};

/// What the endpoint answered.
struct EndpointReply {
  std::string functionName;
  /// The method code the request carried.
  std::int32_t method = 0;
  std::int32_t status = 0;
  /// The response's failure: its `errorText` (empty when the response set `failed`
  /// without a text) with `status` as the code; or the host's own when the stream could
  /// not be read or the response came without its release.
  MaybeType<Failure> outcome;
  /// The response value as compact JSON; "null" for an empty value.
  std::string valueJson = "null";
  /// The response value was the empty value.
  bool emptyValue = true;
  std::string contentType;
  std::int32_t format = 0;
  /// The response's header entries.
  std::vector<std::pair<std::string, std::string>> headers;
  /// The bytes of a streamed body, when the response carried a stream.
  std::optional<std::string> streamBody;
};

/// The descriptors of an API block, walked by `next` and bounded by its count.
[[nodiscard]] std::vector<const Abi::ApiEndpointDescriptor*> Descriptors(
    const Abi::PluginApiBlock* block);

/// Calls endpoints of one API block. Thread-safe; the block must stay valid while
/// calls run (the plugin is not stopped under them).
class EndpointClient {
 public:
  /// Sets the block the calls use; null: no plugin, every call is refused.
  void SetApiBlock(const Abi::PluginApiBlock* block) { block_.store(block); }
  [[nodiscard]] const Abi::PluginApiBlock* ApiBlock() const { return block_.load(); }

  /// The endpoints described by the block, in block order.
  [[nodiscard]] std::vector<EndpointInfo> Endpoints() const;
  /// Calls one endpoint through its descriptor's request entry on the calling
  /// thread, reads the response and releases it with the response's release. Fails,
  /// calling nothing, when no plugin is loaded or no endpoint matches (code 404).
  [[nodiscard]] MaybeType<Failure, EndpointReply> Call(const EndpointCall& call);

 private:
  std::atomic<const Abi::PluginApiBlock*> block_{nullptr};
  std::atomic<std::uint32_t> requestNumber_{0};
};

}  // namespace Kavren::Host
