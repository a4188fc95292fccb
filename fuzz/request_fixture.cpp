// The in-process plugin behind the request target and the adversarial bench.
#include "request_fixture.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

#include "abi/host.h"
#include "abi/http.h"
#include "binding/value.h"
#include "formats/builtin_types.h"
#include "http/router.h"
#include "player_messaging/module.h"
#include "plugin/entry.h"

namespace Kavren::Fuzz {
namespace {

using Client::PlayerMessaging::PlayerMessagingModule;
using Client::PlayerMessaging::Api::LoginDataPacket;

// The host: every function does nothing; a Call leaves its (zeroed) response a success
// without a value.
Abi::HostFunctions quietFunctions{
    [](Abi::HostFunctions*, Abi::HttpResponseRecord*, const Abi::HttpRequestRecord*) {},
    [](Abi::HostFunctions*, Abi::HostWord, Abi::HostWord) {},
    [](Abi::HostFunctions*, const Abi::HostEventRecord*) {},
    [](Abi::HostFunctions*, const char*, std::uint32_t, Abi::HostEventCallback, void*,
       std::int32_t) {},
    [](Abi::HostFunctions*, const char*, std::uint32_t) {},
    [](Abi::HostFunctions*, const char*, Abi::HostJobCallback, void*, double, std::int32_t) {},
    [](Abi::HostFunctions*) {},
    [](Abi::HostFunctions*, const char*, std::int32_t) {},
    [](Abi::HostFunctions*) {},
    [](Abi::HostFunctions*, std::int32_t, const char*) {},
};
Abi::HostInterface quietHost{&quietFunctions, 1};

// Every argument kind of the binding layer, from every location, dotted keys included. A
// route matches the path with its query, so the query reaches only a route whose last
// placeholder takes the rest of the path: "tail".
BindingProperty EveryKind(std::string, bool, std::int8_t, std::int16_t, std::int32_t, std::int64_t,
                          std::uint8_t, std::uint16_t, std::uint32_t, std::uint64_t, float, double,
                          std::string, BindingProperty p, std::vector<std::uint8_t>,
                          std::vector<std::int64_t>, std::vector<bool>, std::vector<std::string>,
                          BindingAsyncState::Type, LoginDataPacket,
                          std::unordered_map<std::string, std::int32_t>,
                          std::optional<std::int32_t>, BindingProperty body) {
  p.Member("body").MoveFrom(body);
  return p;
}

std::vector<EndpointArgument> EveryKindArguments() {
  const auto any = [](const char* name) { return EndpointArgument{name, {}, kLocationAny, false}; };
  return {PathArgument("tail"),
          any("b"),
          EndpointArgument{"i8", {}, kLocationQuery, false},
          any("i16"),
          any("i32"),
          any("i64"),
          any("u8"),
          any("u16"),
          EndpointArgument{"u32", {}, kLocationHeader, false},
          any("u64"),
          any("f"),
          any("d"),
          any("s"),
          any("p"),
          any("blob"),
          any("v"),
          any("vb"),
          any("vs"),
          any("e"),
          any("st"),
          any("m"),
          EndpointArgument{"o", {}, kLocationAny, true},
          EndpointArgument{"body", {}, kLocationBody, false}};
}

std::int32_t MethodCode(std::string_view text) {
  static constexpr std::string_view kNames[] = {"DELETE", "GET",  "HEAD", "OPTIONS",
                                                "PATCH",  "POST", "PUT"};
  for (std::size_t i = 0; i < std::size(kNames); ++i) {
    if (text == kNames[i]) return static_cast<std::int32_t>(i + 1);
  }
  std::int32_t code = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
  if (error == std::errc() && end == text.data() + text.size() && !text.empty()) return code;
  return Abi::kHttpMethodCustom;
}

bool SameLetters(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(left[i])) !=
        std::tolower(static_cast<unsigned char>(right[i]))) {
      return false;
    }
  }
  return true;
}

// Takes the text up to the next line feed (all of it when there is none).
std::string_view TakeLine(std::string_view& rest, bool& ended) {
  const std::size_t end = rest.find('\n');
  ended = end != std::string_view::npos;
  const std::string_view line = rest.substr(0, end);
  rest.remove_prefix(ended ? end + 1 : rest.size());
  return line;
}

// The decoded request with the storage its record points into.
struct DecodedRequest {
  std::string methodText;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headerTexts;
  std::vector<Abi::HttpHeaderEntry> headers;
  std::optional<std::string> contentType;
  std::optional<std::string> body;
  Abi::HttpRequestRecord record{};
};

void Decode(std::string_view encoded, DecodedRequest& request) {
  bool ended = false;
  const std::string_view first = TakeLine(encoded, ended);
  const std::size_t blank = first.find(' ');
  request.methodText = std::string(first.substr(0, blank));
  if (blank != std::string_view::npos) request.path = std::string(first.substr(blank + 1));
  while (ended) {
    const std::string_view line = TakeLine(encoded, ended);
    if (line.empty() && ended) {
      request.body = std::string(encoded);
      break;
    }
    const std::size_t colon = line.find(':');
    std::string_view name = line.substr(0, colon);
    std::string_view value =
        colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (SameLetters(name, "content-type")) request.contentType = std::string(value);
    request.headerTexts.emplace_back(name, value);
  }
  for (const auto& [name, value] : request.headerTexts) {
    request.headers.push_back({name.c_str(), value.c_str()});
  }
  Abi::HttpRequestRecord& record = request.record;
  record.method = MethodCode(request.methodText);
  record.customMethod =
      record.method == Abi::kHttpMethodCustom ? request.methodText.c_str() : nullptr;
  record.path = request.path.c_str();
  record.headers = request.headers.empty() ? nullptr : request.headers.data();
  record.headerCount = static_cast<std::uint32_t>(request.headers.size());
  record.contentType = request.contentType ? request.contentType->c_str() : nullptr;
  record.body = request.body ? request.body->data() : nullptr;
  record.bodyLength = request.body ? static_cast<std::uint32_t>(request.body->size()) : 0;
}

}  // namespace

RequestFixture::RequestFixture() {
  static Abi::PluginHostRecord record{};
  record.major = 18;
  static const PluginDefinition definition = Client::PlayerMessaging::PlayerMessagingPlugin();
  if (LoadPlugin(&record, definition) != kLoadSucceeded) std::abort();
  auto* module = static_cast<PlayerMessagingModule*>(record.context);
  Router& router = module->EndpointRouter();
  router_ = &router;
  fallback_ =
      router.RegisterEndpoint(HttpMethod::Get, "/fuzz{+tail}", EveryKind, EveryKindArguments());
  router.RegisterEndpoint(HttpMethod::Post, "/fuzz{+tail}", EveryKind, EveryKindArguments());
  router.RegisterEndpoint(HttpMethod::Put, "/fuzz/{id}/{+rest}",
                          [](std::int32_t id, std::string rest, BindingProperty body) {
                            body.Member("id").SetSigned(id);
                            body.Member("rest").SetString(rest);
                            return body;
                          },
                          {PathArgument("id"), PathArgument("rest"),
                           EndpointArgument{"body", {}, kLocationBody, false}});
  if (!record.functions->Start(record.context, &quietHost)) std::abort();
  for (const auto& [name, function] : router.Endpoints()) routes_.push_back(function);
}

RequestFixture& RequestFixture::Instance() {
  static RequestFixture* fixture = new RequestFixture();
  return *fixture;
}

FuzzReply RequestFixture::Send(std::string_view encoded) {
  DecodedRequest request;
  Decode(encoded, request);
  RouteCaptures captures;
  std::size_t captureCount = 0;
  const EndpointFunction* function = Router::Match(routes_, request.record, captures, captureCount);
  if (function == nullptr) function = fallback_;

  Abi::HttpResponseRecord response{};
  router_->HandleRequest(response, request.record, *function);
  FuzzReply reply;
  reply.failed = response.failed != 0;
  reply.status = response.status;
  if (response.errorText != nullptr) reply.errorText = response.errorText;
  if (response.release != nullptr) response.release(&response);
  return reply;
}

}  // namespace Kavren::Fuzz
