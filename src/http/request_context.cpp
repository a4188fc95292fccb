// Building the request context from the host's request record.
#include "http/request_context.h"

#include <chrono>

namespace Kavren {
namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kFileTimeEpochOffsetSeconds = 11644473600ULL;

std::string TextOrEmpty(const char* text) { return text != nullptr ? text : std::string(); }

}  // namespace

std::uint64_t RequestTimeNow() {
  using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 10'000'000>>;
  const auto sinceUnixEpoch =
      std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch());
  return static_cast<std::uint64_t>(sinceUnixEpoch.count()) +
         kFileTimeEpochOffsetSeconds * 10'000'000ULL;
}

HttpBaseTransport::Request HttpBaseTransport::MakeRequest(
    const Abi::HttpRequestRecord& record, const std::vector<BindingProperty>* arguments) {
  Request request;
  request.context = record.context;
  request.time = RequestTimeNow();
  request.method = MethodFromCode(record.method);
  if (request.method == HttpMethod::Custom) request.customMethod = TextOrEmpty(record.customMethod);
  request.path = TextOrEmpty(record.path);
  if (record.headers != nullptr) {
    for (std::uint32_t i = 0; i < record.headerCount; ++i) {
      const Abi::HttpHeaderEntry& header = record.headers[i];
      if (header.name == nullptr) continue;
      request.headers.insert_or_assign(header.name, TextOrEmpty(header.value));
    }
  }
  request.arguments = arguments;
  return request;
}

}  // namespace Kavren
