// The in-process fake plugin of the development host's tests.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "abi/api_block.h"
#include "abi/plugin.h"
#include "fake_plugin.h"
#include "host/core/document.h"
#include "host/core/host_value.h"
#include "host/core/messages.h"

namespace Kavren::Host::Testing {
namespace {

// The fake's inputs are the tests' own well-formed texts.
void IgnoreFailure(const MaybeType<Failure>&) {}

std::string Text(const char* text) { return text != nullptr ? text : "(null)"; }

void HXA_CDECL OnEvent(const Abi::HostEventRecord* event) {
  if (event->context != &Fake()) return;
  const Abi::HostValue payload = event->payload;
  Fake().Record(Fake().events, Text(event->name) + "|" + std::to_string(event->flag) + "|" +
                                   HostValueToJson(payload));
}

bool HXA_CDECL Start(void* context, Abi::HostInterface* host) {
  auto* plugin = static_cast<FakePlugin*>(context);
  plugin->host = host;
  Abi::HostFunctions* functions = host->functions;
  functions->Subscribe(functions, HostMessages::kLoginDataPacketEvent, host->cookie, OnEvent,
                       plugin, 0);
  functions->Subscribe(functions,
                       "OnQrmsEvent_com_kavrengames_platform_messaging_persistence_"
                       "SimpleDialogMessage",
                       host->cookie, OnEvent, plugin, 1);
  return true;
}

void HXA_CDECL Stop(void* context) {
  static_cast<FakePlugin*>(context)->Record(Fake().order, "stop");
}

void HXA_CDECL Stats(void*, Abi::PluginMemoryStats* stats) {
  *stats = Abi::PluginMemoryStats{};
  stats->allocations = 7;
}

Abi::PluginFunctionTable table{Start, Stop, Stats};

void HXA_CDECL ReleaseResponse(Abi::HttpResponseRecord* response) {
  Abi::HostValue value = response->value;
  FreeHostValue(value);
  std::free(const_cast<char*>(response->errorText));
  std::free(const_cast<char*>(response->contentType));
  std::memset(static_cast<void*>(response), 0, sizeof *response);
  std::lock_guard lock(Fake().mutex);
  ++Fake().releases;
}

// A stream of 4096 + 4096 + 10 bytes ('a', 'b', 'c'), or one that fails its second read.
struct FakeStream {
  int reads = 0;
  bool failing = false;
};

bool HXA_CDECL ReadFakeStream(void* stream, char* buffer, std::uint32_t* length, bool* more) {
  auto* fake = static_cast<FakeStream*>(stream);
  const int read = fake->reads++;
  if (fake->failing && read == 1) return false;
  const std::uint32_t size = read < 2 ? 4096 : 10;
  std::memset(buffer, 'a' + read, std::min(size, *length));
  *length = size;
  *more = read < 2;
  return true;
}

void HXA_CDECL ReleaseFakeStream(void* stream) {
  delete static_cast<FakeStream*>(stream);
  Fake().Record(Fake().order, "stream released");
}

Abi::ApiEndpointRegistration registrations[2] = {{&table, "get"}, {&table, "delete"}};

void HXA_CDECL RequestEntry(Abi::HttpResponseRecord* response,
                            const Abi::HttpRequestRecord* request) {
  const auto* registration = static_cast<const Abi::ApiEndpointRegistration*>(request->endpoint);
  std::string args;
  for (std::uint32_t index = 0; index < request->argumentCount; ++index) {
    const Abi::HostValue value = request->arguments[index].value;
    args += (index > 0 ? "," : "") + Text(request->arguments[index].name) + "=" +
            HostValueToJson(value);
  }
  const std::string body =
      request->body != nullptr
          ? std::string(static_cast<const char*>(request->body), request->bodyLength)
          : "(none)";
  std::string headers;
  for (std::uint32_t index = 0; index < request->headerCount; ++index) {
    headers += Text(request->headers[index].name) + "=" + Text(request->headers[index].value) + ";";
  }
  Fake().Record(Fake().headers, headers + " " + Text(request->customMethod));
  Fake().Record(Fake().requests, std::to_string(request->method) + " " + Text(request->path) + " " +
                                     static_cast<const char*>(registration->function) + " " +
                                     std::to_string(request->context) + " [" + args + "] " +
                                     Text(request->contentType) + " " + body);
  std::memset(static_cast<void*>(response), 0, sizeof *response);
  response->release = ReleaseResponse;
  response->contentType = DuplicateHostText("");
  if (registration == &registrations[1]) {
    response->errorText = DuplicateHostText("Not found");
    response->failed = 1;
    response->status = 404;
    return;
  }
  // Paths of the GET endpoint choose other reply shapes.
  const std::string shape = request->path;
  if (shape.ends_with("/empty")) return;
  if (shape.ends_with("/failed-unset") || shape.ends_with("/failed-200")) {
    response->errorText = DuplicateHostText("Broken");
    response->failed = 1;
    response->status = shape.ends_with("/failed-200") ? 200 : 0;
    return;
  }
  rapidjson::Document document;
  IgnoreFailure(ParseJsonText("{\"path\":\"" + std::string(request->path) + "\",\"n\":[1,-2,2.5]}",
                              document));
  Abi::HostValue value{};
  IgnoreFailure(HostValueFromJson(document, value));
  response->value = value;
  response->status = 200;
  const std::string path = request->path;
  if (path.find("stream") != std::string::npos) {
    response->streamRead = ReadFakeStream;
    response->streamRelease = ReleaseFakeStream;
    response->stream = new FakeStream{0, path.find("broken") != std::string::npos};
  }
}

Abi::ApiEndpointDescriptor descriptors[2];
Abi::PluginApiBlock block{};

void BuildBlock() {
  const char* names[2] = {"DeleteFakeV1ItemsById", "GetFakeV1ItemsById"};
  const std::int32_t methods[2] = {Abi::kHttpMethodDelete, Abi::kHttpMethodGet};
  for (int index = 0; index < 2; ++index) {
    Abi::ApiEndpointDescriptor& descriptor = descriptors[index];
    std::memset(static_cast<void*>(&descriptor), 0, sizeof descriptor);
    descriptor.next = index == 0 ? &descriptors[1] : nullptr;
    descriptor.function.name = names[index];
    descriptor.function.registration = &registrations[index == 0 ? 1 : 0];
    descriptor.requestEntry = RequestEntry;
    descriptor.urlTemplate = kItemTemplate;
    descriptor.method = methods[index];
  }
  block.descriptors = descriptors;
  block.count = 2;
}

struct JobContext {
  std::function<void()> job;
};

void HXA_CDECL RunJob(void* context) {
  std::unique_ptr<JobContext> owned(static_cast<JobContext*>(context));
  owned->job();
}

}  // namespace

void FakePlugin::Reset() {
  std::lock_guard lock(mutex);
  host = nullptr;
  events.clear();
  requests.clear();
  headers.clear();
  order.clear();
  releases = 0;
}

void FakePlugin::Record(std::vector<std::string>& list, std::string entry) {
  std::lock_guard lock(mutex);
  list.push_back(std::move(entry));
}

std::vector<std::string> FakePlugin::Copy(const std::vector<std::string>& list) {
  std::lock_guard lock(mutex);
  return list;
}

FakePlugin& Fake() {
  static FakePlugin plugin;
  return plugin;
}

std::int32_t HXA_CDECL FakeLoad(Abi::PluginHostRecord* record) {
  BuildBlock();
  record->major = 18;
  record->minor = 0;
  record->patch = 0;
  record->functions = &table;
  record->context = &Fake();
  record->name = "fake-plugin";
  record->api = &block;
  return 0;
}

HostReply CallHost(std::int32_t method, const char* path,
                   const std::vector<std::string>& positionalJson) {
  Abi::HostInterface* host = Fake().host;
  std::vector<Abi::HttpArgumentEntry> arguments;
  for (const std::string& json : positionalJson) {
    rapidjson::Document document;
    Abi::HttpArgumentEntry entry{};
    if (ParseJsonText(json, document).Succeeded()) {
      Abi::HostValue value{};
      IgnoreFailure(HostValueFromJson(document, value));
      entry.value = value;
    }
    arguments.push_back(entry);
  }
  Abi::HttpRequestRecord request{};
  request.method = method;
  request.path = path;
  request.arguments = arguments.empty() ? nullptr : arguments.data();
  request.argumentCount = static_cast<std::uint32_t>(arguments.size());
  request.context = host->cookie;
  Abi::HttpResponseRecord response;
  std::memset(static_cast<void*>(&response), 0xAB, sizeof response);
  host->functions->Call(host->functions, &response, &request);
  HostReply reply{response.status, response.failed != 0, Text(response.errorText),
                  HostValueToJson(response.value), false};
  if (response.release != nullptr) response.release(&response);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&response);
  reply.zeroedByRelease = true;
  for (std::size_t index = 0; index < sizeof response; ++index) {
    if (bytes[index] != 0) reply.zeroedByRelease = false;
  }
  for (Abi::HttpArgumentEntry& entry : arguments) {
    Abi::HostValue value = entry.value;
    FreeHostValue(value);
  }
  return reply;
}

void Publish(const char* name, const std::string& payloadJson, std::int32_t flag) {
  rapidjson::Document document;
  IgnoreFailure(ParseJsonText(payloadJson, document));
  Abi::HostEventRecord event{};
  event.name = name;
  Abi::HostValue value{};
  IgnoreFailure(HostValueFromJson(document, value));
  event.payload = value;
  event.flag = flag;
  Abi::HostFunctions* functions = Fake().host->functions;
  functions->PublishEvent(functions, &event);
  FreeHostValue(value);
}

void Schedule(const char* label, std::function<void()> job, double delaySeconds) {
  Abi::HostFunctions* functions = Fake().host->functions;
  functions->ScheduleJob(functions, label, RunJob, new JobContext{std::move(job)}, delaySeconds, 0);
}

}  // namespace Kavren::Host::Testing
