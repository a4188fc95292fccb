// Endpoint calls through the API block's descriptors.
#include "host/core/endpoint_client.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cstring>

#include "host/core/document.h"
#include "host/core/host_value.h"
#include "host/core/messages.h"
#include "host/core/method.h"

namespace Kavren::Host {
namespace {

std::string TextOrEmpty(const char* text) { return text != nullptr ? std::string(text) : ""; }

std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    segments.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return segments;
}

// A URL template matches when every segment is equal or the template's segment is a
// "{name}" capture of a non-empty segment; a "{+name}" segment takes the rest of
// the path.
bool TemplateMatches(const std::string& urlTemplate, const std::string& path) {
  const auto pattern = Segments(urlTemplate);
  const auto actual = Segments(path.substr(0, path.find('?')));
  for (std::size_t index = 0; index < pattern.size(); ++index) {
    const std::string& segment = pattern[index];
    if (index >= actual.size()) return false;
    if (segment.size() >= 3 && segment.starts_with("{+") && segment.back() == '}') {
      return index + 1 == pattern.size();
    }
    const bool capture = segment.size() >= 2 && segment.front() == '{' && segment.back() == '}';
    if (capture ? actual[index].empty() : segment != actual[index]) return false;
  }
  return pattern.size() == actual.size();
}

// Endpoints registered for method 0 take every method; a custom method must
// carry the same text.
bool MethodFits(const Abi::ApiEndpointDescriptor& descriptor, const EndpointCall& call) {
  const std::int32_t method = descriptor.method;
  if (method == Abi::kHttpMethodNone) return true;
  if (method != call.method) return false;
  return method != Abi::kHttpMethodCustom ||
         TextOrEmpty(descriptor.customMethod) == call.customMethod;
}

// Reads a response's stream to its end (64 MiB at most), then releases the stream.
// Nothing when the response has no stream; `failed` when a read failed.
std::optional<std::string> ReadStream(const Abi::HttpResponseRecord& response, bool& failed) {
  const Abi::HttpStreamRead read = response.streamRead;
  const Abi::HttpStreamRelease release = response.streamRelease;
  void* stream = response.stream;
  failed = false;
  if (read == nullptr) return std::nullopt;
  constexpr std::size_t kLimit = 64u << 20;
  std::string bytes;
  char buffer[4096];
  bool more = true;
  while (more && bytes.size() < kLimit) {
    std::uint32_t length = sizeof buffer;
    more = false;
    if (!read(stream, buffer, &length, &more)) {
      failed = true;
      break;
    }
    // A stream that claims more than the buffer holds gets the buffer only.
    bytes.append(buffer, std::min<std::size_t>(length, sizeof buffer));
  }
  if (release != nullptr) release(stream);
  return bytes;
}

std::string CallTarget(const EndpointCall& call) {
  if (!call.function.empty()) return call.function;
  const std::string method =
      call.method == Abi::kHttpMethodCustom ? call.customMethod : MethodText(call.method);
  return method + " " + call.path;
}

// The first endpoint the call names (by its function, else by its method and path)
// that has a request entry; null when there is none.
const Abi::ApiEndpointDescriptor* FindEndpoint(const Abi::PluginApiBlock* block,
                                               const EndpointCall& call) {
  for (const Abi::ApiEndpointDescriptor* descriptor : Descriptors(block)) {
    const bool matches = !call.function.empty()
                             ? TextOrEmpty(descriptor->function.name) == call.function
                             : MethodFits(*descriptor, call) &&
                                   TemplateMatches(TextOrEmpty(descriptor->urlTemplate), call.path);
    if (matches && descriptor->requestEntry != nullptr) return descriptor;
  }
  return nullptr;
}

// The call's arguments as the request carries them: each value parsed from its JSON
// into a host value, or the text itself (borrowed from `call`) where that fails.
std::vector<Abi::HttpArgumentEntry> ArgumentEntries(const EndpointCall& call) {
  std::vector<Abi::HttpArgumentEntry> entries;
  for (const auto& [name, json] : call.arguments) {
    rapidjson::Document document;
    Abi::HttpArgumentEntry entry{};
    entry.name = name.empty() ? nullptr : name.c_str();
    Abi::HostValue value{};
    if (ParseJsonText(json, document).Succeeded() &&
        HostValueFromJson(document, value).Succeeded()) {
      entry.value = value;
    } else {
      entry.value.type = Abi::kHostValueBorrowedString;
      entry.value.data = reinterpret_cast<Abi::HostWord>(json.c_str());
    }
    entries.push_back(entry);
  }
  return entries;
}

// Frees the host values ArgumentEntries made; the borrowed texts are the call's.
void FreeArgumentEntries(std::vector<Abi::HttpArgumentEntry>& entries) {
  for (Abi::HttpArgumentEntry& entry : entries) {
    if (entry.value.type != Abi::kHostValueBorrowedString) {
      Abi::HostValue owned = entry.value;
      FreeHostValue(owned);
    }
  }
}

// The request record of a call to `found`; it points into `call`, `path`, `entries` and
// `headers`, which must outlive it. A call by function name takes the endpoint's method.
Abi::HttpRequestRecord RequestRecord(const EndpointCall& call,
                                     const Abi::ApiEndpointDescriptor& found,
                                     const std::string& path,
                                     std::vector<Abi::HttpArgumentEntry>& entries,
                                     std::vector<Abi::HttpHeaderEntry>& headers) {
  Abi::HttpRequestRecord request{};
  request.method = call.function.empty() ? call.method : found.method;
  request.path = path.c_str();
  request.arguments = entries.empty() ? nullptr : entries.data();
  request.argumentCount = static_cast<std::uint32_t>(entries.size());
  request.endpoint = found.function.registration;
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = static_cast<std::uint32_t>(headers.size());
  if (request.method == Abi::kHttpMethodCustom) {
    request.customMethod = call.function.empty() ? call.customMethod.c_str() : found.customMethod;
  }
  if (call.body) {
    request.contentType = call.contentType ? call.contentType->c_str() : nullptr;
    request.body = call.body->data();
    request.bodyLength = static_cast<std::uint32_t>(call.body->size());
  }
  return request;
}

// Copies the plugin's response into `reply`, reads its stream, and releases it.
void TakeResponse(Abi::HttpResponseRecord& response, EndpointReply& reply) {
  const Abi::HostValue value = response.value;
  reply.emptyValue = value.type == Abi::kHostValueEmpty;
  reply.valueJson = HostValueToJson(value);
  reply.status = response.status;
  if (response.failed != 0 || response.errorText != nullptr) {
    reply.outcome = Failure{TextOrEmpty(response.errorText), reply.status};
  }
  reply.format = response.format;
  reply.contentType = TextOrEmpty(response.contentType);
  const Abi::HttpHeaderEntry* responseHeaders = response.headers;
  const std::uint32_t headerCount = response.headerCount;
  for (std::uint32_t index = 0; responseHeaders != nullptr && index < headerCount; ++index) {
    reply.headers.emplace_back(TextOrEmpty(responseHeaders[index].name),
                               TextOrEmpty(responseHeaders[index].value));
  }
  bool streamFailed = false;
  reply.streamBody = ReadStream(response, streamFailed);
  // The host's own failures are the plugin's fault, never the request's: code 500.
  if (streamFailed) reply.outcome = Failure{HostMessages::kStreamReadFailed, 500};
  if (const Abi::HttpResponseRelease release = response.release) {
    release(&response);
  } else if (reply.outcome.GetFailure().message.empty()) {
    // The plugin keeps what it filled in: nothing here may free it.
    reply.outcome = Failure{HostMessages::kNoResponseRelease, 500};
  }
}

}  // namespace

std::vector<const Abi::ApiEndpointDescriptor*> Descriptors(const Abi::PluginApiBlock* block) {
  std::vector<const Abi::ApiEndpointDescriptor*> descriptors;
  if (block == nullptr) return descriptors;
  const Abi::ApiEndpointDescriptor* descriptor = block->descriptors;
  const std::uint32_t count = block->count;
  for (std::uint32_t index = 0; descriptor != nullptr && index < count; ++index) {
    descriptors.push_back(descriptor);
    descriptor = descriptor->next;
  }
  return descriptors;
}

std::vector<EndpointInfo> EndpointClient::Endpoints() const {
  std::vector<EndpointInfo> endpoints;
  for (const Abi::ApiEndpointDescriptor* descriptor : Descriptors(block_.load())) {
    endpoints.push_back(EndpointInfo{
        TextOrEmpty(descriptor->function.name), descriptor->method,
        TextOrEmpty(descriptor->urlTemplate),
        descriptor->method == Abi::kHttpMethodCustom ? TextOrEmpty(descriptor->customMethod) : ""});
  }
  return endpoints;
}

MaybeType<Failure, EndpointReply> EndpointClient::Call(const EndpointCall& call) {
  const Abi::PluginApiBlock* block = block_.load();
  if (block == nullptr) return Failure{HostMessages::kNotLoaded, 404};
  const Abi::ApiEndpointDescriptor* found = FindEndpoint(block, call);
  if (found == nullptr) {
    return Failure{std::string(HostMessages::kNoSuchEndpoint) + CallTarget(call), 404};
  }
  EndpointReply reply;
  reply.functionName = TextOrEmpty(found->function.name);
  const std::string path = call.path.empty() ? TextOrEmpty(found->urlTemplate) : call.path;

  // Argument values live until the call returns and are freed by the host.
  std::vector<Abi::HttpArgumentEntry> entries = ArgumentEntries(call);
  std::vector<Abi::HttpHeaderEntry> headers;
  for (const auto& [name, value] : call.headers) {
    headers.push_back(Abi::HttpHeaderEntry{name.c_str(), value.c_str()});
  }
  Abi::HttpRequestRecord request = RequestRecord(call, *found, path, entries, headers);
  reply.method = request.method;
  request.context = ++requestNumber_;

  Abi::HttpResponseRecord response;
  std::memset(static_cast<void*>(&response), 0, sizeof response);
  found->requestEntry(&response, &request);
  TakeResponse(response, reply);
  FreeArgumentEntries(entries);
  return reply;
}

}  // namespace Kavren::Host
