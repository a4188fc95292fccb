// Calls of the host's REST API: building the request, reading the response.
#include "http/remoting.h"

#include <cstring>
#include <string>
#include <vector>

#include "binding/host_value.h"
#include "formats/json.h"

namespace Kavren {
namespace {

// The chunk size of streamed responses.
constexpr std::uint32_t kStreamChunkSize = 4096;

// The argument entries of one request; their host values are released with them.
class ArgumentEntries {
 public:
  explicit ArgumentEntries(std::size_t count) : entries_(count) {}
  ArgumentEntries(const ArgumentEntries&) = delete;
  ArgumentEntries& operator=(const ArgumentEntries&) = delete;
  ~ArgumentEntries() {
    for (Abi::HttpArgumentEntry& entry : entries_) ReleaseHostValue(entry.value);
  }

  std::vector<Abi::HttpArgumentEntry>& Entries() { return entries_; }

 private:
  std::vector<Abi::HttpArgumentEntry> entries_;
};

// Calls the response's release (and the stream's, for a streamed body) however the
// reading of a typed call ends.
class ResponseScope {
 public:
  ResponseScope() { std::memset(static_cast<void*>(&response_), 0, sizeof(response_)); }
  ResponseScope(const ResponseScope&) = delete;
  ResponseScope& operator=(const ResponseScope&) = delete;
  ~ResponseScope() {
    // The reader owns the stream once it has the response: release it first, as the
    // response's own release leaves the stream alone.
    if (response_.stream != nullptr && response_.streamRelease != nullptr) {
      response_.streamRelease(response_.stream);
    }
    response_.stream = nullptr;
    if (response_.release != nullptr) response_.release(&response_);
  }

  Abi::HttpResponseRecord& Record() { return response_; }

 private:
  Abi::HttpResponseRecord response_;
};

// Reads the whole stream into `bytes`; false on a read error.
bool ReadStream(const RemotingContext& context, const Abi::HttpResponseRecord& response,
                std::string& bytes) {
  HostTableWaiting hostWaiting(context.functions);
  HostWaiting& waiting = context.waiting != nullptr ? *context.waiting : hostWaiting;
  char buffer[kStreamChunkSize];
  for (;;) {
    std::uint32_t length = kStreamChunkSize;
    bool more = false;
    if (!response.streamRead(response.stream, buffer, &length, &more)) return false;
    // A reader that claims more than the buffer holds is not trusted.
    if (length > kStreamChunkSize) return false;
    bytes.append(buffer, length);
    if (!more) return true;
    if (length < kStreamChunkSize) Yield(waiting);
  }
}

}  // namespace

const BindingRegistry& RemotingRegistry(const RemotingContext& context) {
  static const BindingRegistry empty;
  return context.registry != nullptr ? *context.registry : empty;
}

BindingResult RemotingParameter(const BindingProperty& parameter, const BindingRegistry&) {
  BindingResult result;
  result.value.CopyFrom(parameter);
  return result;
}

BindingResult RemotingParameter(std::string_view parameter, const BindingRegistry&) {
  BindingResult result;
  result.value.SetString(parameter);
  return result;
}

MaybeType<Failure, void> CallWithValues(const RemotingContext& context,
                                        Abi::HttpResponseRecord& response, HttpMethod method,
                                        std::string_view path,
                                        std::span<const BindingResult> parameters) {
  for (const BindingResult& parameter : parameters) {
    if (!parameter.ok) {
      return Failure{400, Format(HttpMessages::kParametersNotConverted, MethodText(method), path,
                                 parameter.ErrorText())};
    }
  }
  if (context.functions == nullptr || context.functions->Call == nullptr) {
    return Failure{0, Format(HttpMessages::kNoHost, MethodText(method), path)};
  }

  ArgumentEntries arguments(parameters.size());
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    ValueToHost(arguments.Entries()[i].value, parameters[i].value, context.registry);
  }
  const std::string pathText(path);

  Abi::HttpRequestRecord request;
  std::memset(static_cast<void*>(&request), 0, sizeof(request));
  request.method = static_cast<std::int32_t>(method);
  request.path = pathText.c_str();
  request.arguments = arguments.Entries().empty() ? nullptr : arguments.Entries().data();
  request.argumentCount = static_cast<std::uint32_t>(arguments.Entries().size());
  request.context = context.cookie;

  context.functions->Call(context.functions, &response, &request);

  if (response.errorText != nullptr || response.failed != 0) {
    const char* errorText = response.errorText != nullptr ? response.errorText : "";
    return Failure{response.status,
                   Format(HttpMessages::kErrorResponse, MethodText(method), path, errorText)};
  }
  return MaybeType<Failure, void>::Success();
}

RemotingResponseValue CallForValue(const RemotingContext& context, HttpMethod method,
                                   std::string_view path,
                                   std::span<const BindingResult> parameters) {
  RemotingResponseValue result;
  ResponseScope scope;
  Abi::HttpResponseRecord& response = scope.Record();
  result.outcome = CallWithValues(context, response, method, path, parameters);
  if (result.outcome.Failed()) return result;

  if (response.streamRead != nullptr) {
    std::string bytes;
    if (!ReadStream(context, response, bytes)) {
      result.outcome = Failure{0, Format(HttpMessages::kStreamedResponseNotRead, MethodText(method),
                                         path, HttpMessages::kStreamReadError)};
      return result;
    }
    BindingResult parsed = ReadJson(bytes);
    if (!parsed.ok) {
      result.outcome = Failure{0, Format(HttpMessages::kStreamedResponseNotRead, MethodText(method),
                                         path, parsed.ErrorText())};
      return result;
    }
    result.value.MoveFrom(parsed.value);
    return result;
  }

  const MaybeType<Failure, void> error =
      HostToValue(result.value, response.value, HttpMessages::kResultName);
  if (error.Failed()) {
    result.outcome = Failure{0, Format(HttpMessages::kResponseNotConverted, MethodText(method),
                                       path, error.GetFailure().message)};
  }
  return result;
}

}  // namespace Kavren
