// The development host's ten host functions, its REST resources, events, jobs and
// its driving of the plugin.
#include "host/development_host.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "abi/api_block.h"
#include "host/document.h"
#include "host/host_value.h"
#include "host/messages.h"

namespace Kavren::Host {
namespace {

std::string TextOrEmpty(const char* text) { return text != nullptr ? std::string(text) : ""; }

const char* MethodText(std::int32_t method) {
  static constexpr const char* kTexts[] = {"",        "DELETE", "GET",  "HEAD",
                                           "OPTIONS", "PATCH",  "POST", "PUT"};
  return method >= 0 && method < 8 ? kTexts[method] : "";
}

std::string PathWithoutQuery(const std::string& path) { return path.substr(0, path.find('?')); }

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
// "{name}" capture of a non-empty segment.
bool TemplateMatches(const std::string& urlTemplate, const std::string& path) {
  const auto pattern = Segments(urlTemplate);
  const auto actual = Segments(PathWithoutQuery(path));
  if (pattern.size() != actual.size()) return false;
  for (std::size_t index = 0; index < pattern.size(); ++index) {
    const std::string& segment = pattern[index];
    const bool capture = segment.size() >= 2 && segment.front() == '{' && segment.back() == '}';
    if (capture ? actual[index].empty() : segment != actual[index]) return false;
  }
  return true;
}

// Frees what the host put into a response it filled, then zeroes all of it.
void HXA_CDECL ReleaseHostResponse(Abi::HttpResponseRecord* response) {
  if (response == nullptr) return;
  Abi::HostValue value = response->value;
  FreeHostValue(value);
  std::free(const_cast<char*>(response->errorText));
  std::free(const_cast<char*>(response->contentType));
  std::memset(static_cast<void*>(response), 0, sizeof *response);
}

void FillResponse(Abi::HttpResponseRecord& response, std::int32_t status,
                  const std::string* errorText, const Abi::HostValue& value) {
  std::memset(static_cast<void*>(&response), 0, sizeof response);
  response.value = value;
  response.status = status;
  if (errorText != nullptr) {
    response.errorText = DuplicateHostText(*errorText);
    response.failed = 1;
  } else {
    response.format = Abi::kBodyFormatJson;
  }
  response.contentType = DuplicateHostText(errorText != nullptr ? "" : "application/json");
  response.release = ReleaseHostResponse;
}

void FailResponse(Abi::HttpResponseRecord& response, std::int32_t status,
                  const std::string& errorText) {
  FillResponse(response, status, &errorText, Abi::HostValue{});
}

std::string QrmsEventName(const std::string& typeName) {
  std::string name = "OnQrmsEvent_" + typeName;
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

// The text of a string host value, or nothing for any other type.
std::optional<std::string> StringOf(const Abi::HostValue& value) {
  if (value.type != Abi::kHostValueBorrowedString && value.type != Abi::kHostValueOwnedString) {
    return std::nullopt;
  }
  return TextOrEmpty(reinterpret_cast<const char*>(value.data));
}

// The descriptors of an API block, walked by `next` and bounded by its count.
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

}  // namespace

std::optional<CoreVersion> ParseCoreVersion(std::string_view text) {
  std::uint32_t numbers[3] = {};
  const char* position = text.data();
  const char* end = text.data() + text.size();
  for (int index = 0; index < 3; ++index) {
    if (index > 0) {
      if (position == end || *position != '.') return std::nullopt;
      ++position;
    }
    if (position == end || *position < '0' || *position > '9') return std::nullopt;
    auto [next, error] = std::from_chars(position, end, numbers[index]);
    if (error != std::errc()) return std::nullopt;
    position = next;
  }
  if (position != end) return std::nullopt;
  return CoreVersion{numbers[0], numbers[1], numbers[2]};
}

DevelopmentHost::DevelopmentHost(std::uint32_t cookie, unsigned workerThreads) {
  table_.functions =
      Abi::HostFunctions{OnCall,        OnReserved, OnPublishEvent, OnSubscribe, OnUnsubscribe,
                         OnScheduleJob, OnPump,     OnBeginWait,    OnEndWait,   OnLog};
  table_.owner = this;
  interface_.functions = &table_.functions;
  interface_.cookie = cookie;
  for (unsigned index = 0; index < workerThreads; ++index) {
    workers_.emplace_back([this] { WorkerLoop(); });
  }
}

DevelopmentHost::~DevelopmentHost() {
  if (loaded_) Stop();
  {
    std::lock_guard lock(mutex_);
    endWorkers_ = true;
  }
  jobsChanged_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

bool DevelopmentHost::Load(const PluginLibrary& library, CoreVersion version) {
  return library.IsOpen() && Load(library.Export(), version);
}

bool DevelopmentHost::Load(Abi::PluginLoadFunction load, CoreVersion version) {
  if (load == nullptr || loaded_) return false;
  record_ = Abi::PluginHostRecord{};
  record_.major = version.major;
  record_.minor = version.minor;
  record_.patch = version.patch;
  load(&record_);
  loaded_ = record_.functions != nullptr;
  // The table lives in the module, the function in the library: keep the
  // function so the counters stay readable after Stop.
  getMemoryStats_ = loaded_ ? record_.functions->GetMemoryStats : nullptr;
  started_ = false;
  return loaded_;
}

bool DevelopmentHost::Start() {
  if (!loaded_ || started_) return false;
  started_ = record_.functions->Start(record_.context, &interface_);
  return started_;
}

Abi::PluginMemoryStats DevelopmentHost::MemoryStats() const {
  Abi::PluginMemoryStats stats{};
  if (getMemoryStats_ != nullptr) getMemoryStats_(nullptr, &stats);
  return stats;
}

void DevelopmentHost::Stop() {
  if (!loaded_) return;
  // The plugin must not be stopped while one of its jobs runs; the jobs that
  // never ran belong to the module, which frees them in its shut-down.
  {
    std::unique_lock lock(mutex_);
    jobsHeld_ = true;
    jobsChanged_.wait(lock, [this] { return runningJobs_ == 0; });
    jobs_.clear();
  }
  record_.functions->Stop(record_.context);
  loaded_ = false;
  started_ = false;
  std::lock_guard lock(mutex_);
  subscriptions_.clear();
  jobs_.clear();
  jobsHeld_ = false;
}

void DevelopmentHost::SetLogListener(std::function<void(const LogLine&)> listener) {
  std::lock_guard lock(mutex_);
  logListener_ = std::move(listener);
}

void DevelopmentHost::SetObserver(HostObserver* observer) {
  std::lock_guard lock(mutex_);
  observer_ = observer;
}

void DevelopmentHost::Notify(const std::function<void(HostObserver&)>& tell) const {
  HostObserver* observer;
  {
    std::lock_guard lock(mutex_);
    observer = observer_;
  }
  if (observer != nullptr) tell(*observer);
}

std::vector<LogLine> DevelopmentHost::LogLines() const {
  std::lock_guard lock(mutex_);
  return logLines_;
}

std::vector<Subscription> DevelopmentHost::Subscriptions() const {
  std::lock_guard lock(mutex_);
  return subscriptions_;
}

std::size_t DevelopmentHost::SubscriptionCount(const std::string& name) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(
      subscriptions_.begin(), subscriptions_.end(),
      [&](const Subscription& subscription) { return subscription.eventName == name; }));
}

std::vector<std::string> DevelopmentHost::WaitLabels() const {
  std::lock_guard lock(mutex_);
  return waitLabels_;
}

std::vector<std::string> DevelopmentHost::JobLabels() const {
  std::lock_guard lock(mutex_);
  return jobLabels_;
}

HostCallCounts DevelopmentHost::CallCounts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

std::vector<Invocation> DevelopmentHost::Invocations() const {
  std::lock_guard lock(mutex_);
  return invocations_;
}

std::vector<PublishedEvent> DevelopmentHost::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

// ---- Jobs ----------------------------------------------------------------

std::optional<DevelopmentHost::Job> DevelopmentHost::TakeDueJob(
    std::chrono::steady_clock::time_point now) {
  if (jobsHeld_) return std::nullopt;
  // The earliest due job first; among equal due times, the first scheduled.
  auto earliest = std::min_element(jobs_.begin(), jobs_.end(),
                                   [](const Job& a, const Job& b) { return a.due < b.due; });
  if (earliest == jobs_.end() || earliest->due > now) return std::nullopt;
  Job job = std::move(*earliest);
  jobs_.erase(earliest);
  ++runningJobs_;
  return job;
}

void DevelopmentHost::RunJob(const Job& job) {
  job.job(job.context);
  {
    std::lock_guard lock(mutex_);
    --runningJobs_;
  }
  jobsChanged_.notify_all();
}

void DevelopmentHost::WorkerLoop() {
  std::unique_lock lock(mutex_);
  while (!endWorkers_) {
    if (auto job = TakeDueJob(std::chrono::steady_clock::now())) {
      lock.unlock();
      RunJob(*job);
      lock.lock();
      continue;
    }
    if (jobs_.empty() || jobsHeld_) {
      jobsChanged_.wait(lock);
    } else {
      const auto earliest = std::min_element(
          jobs_.begin(), jobs_.end(), [](const Job& a, const Job& b) { return a.due < b.due; });
      jobsChanged_.wait_until(lock, earliest->due);
    }
  }
}

std::size_t DevelopmentHost::RunPendingJobs() {
  std::size_t ran = 0;
  for (;;) {
    std::optional<Job> job;
    {
      std::lock_guard lock(mutex_);
      if (!jobs_.empty() && !jobsHeld_) {
        job = std::move(jobs_.front());
        jobs_.pop_front();
        ++runningJobs_;
      }
    }
    if (!job) break;
    RunJob(*job);
    ++ran;
  }
  std::unique_lock lock(mutex_);
  jobsChanged_.wait(lock, [this] { return runningJobs_ == 0; });
  return ran;
}

bool DevelopmentHost::WaitForJobs(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (workers_.empty()) {
    // Nobody else runs them: run the due ones here.
    lock.unlock();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      lock.lock();
      if (jobs_.empty() && runningJobs_ == 0) return true;
      auto job = TakeDueJob(std::chrono::steady_clock::now());
      lock.unlock();
      if (job) {
        RunJob(*job);
      } else if (std::chrono::steady_clock::now() >= deadline) {
        return false;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }
  return jobsChanged_.wait_for(lock, timeout,
                               [this] { return jobs_.empty() && runningJobs_ == 0; });
}

// ---- Events and resources ----------------------------------------------

std::size_t DevelopmentHost::SendEvent(const std::string& name, const Abi::HostValue& payload,
                                       std::int32_t flag) {
  return Deliver("host", name, payload, flag);
}

std::size_t DevelopmentHost::Deliver(const char* origin, const std::string& name,
                                     const Abi::HostValue& payload, std::int32_t flag) {
  // Receivers are called outside the lock: they may publish, subscribe or call back.
  std::vector<Subscription> receivers;
  {
    std::lock_guard lock(mutex_);
    for (const Subscription& subscription : subscriptions_) {
      if (subscription.eventName == name) receivers.push_back(subscription);
    }
  }
  PublishedEvent published{origin, name, HostValueToJson(payload), flag, receivers.size()};
  {
    std::lock_guard lock(mutex_);
    events_.push_back(published);
  }
  Notify([&](HostObserver& observer) { observer.OnEvent(published); });
  for (const Subscription& subscription : receivers) {
    if (subscription.callback == nullptr) continue;
    Abi::HostEventRecord record{};
    record.name = name.c_str();
    record.payload = payload;
    record.flag = flag;
    record.context = subscription.context;
    subscription.callback(&record);
  }
  return receivers.size();
}

void DevelopmentHost::SendPacketEvent(std::int32_t eventType, const std::string* packetJson) {
  static constexpr const char* kEventTypes[] = {"Create", "Update", "Delete"};
  rapidjson::Document event;
  event.SetObject();
  auto& allocator = event.GetAllocator();
  event.AddMember("uri", rapidjson::StringRef(Messages::kLoginDataPacketPath), allocator);
  // The plugin's converter takes an enumeration by its name or its number.
  event.AddMember("eventType", rapidjson::StringRef(kEventTypes[eventType]), allocator);
  rapidjson::Document data(&allocator);
  std::string error;
  if (packetJson != nullptr && ParseJsonText(*packetJson, data, error)) {
    event.AddMember("data", static_cast<rapidjson::Value&>(data), allocator);
  } else {
    event.AddMember("data", rapidjson::Value(), allocator);
  }
  Abi::HostValue payload{};
  if (!HostValueFromJson(event, payload, error)) return;
  SendEvent(Messages::kLoginDataPacketEvent, payload);
  FreeHostValue(payload);
}

bool DevelopmentHost::SetLoginDataPacket(const rapidjson::Value& packet, std::string& error) {
  // Served packets must convert: check once here rather than at every read.
  Abi::HostValue probe{};
  if (!HostValueFromJson(packet, probe, error)) return false;
  FreeHostValue(probe);
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  packet.Accept(writer);
  std::string json(buffer.GetString(), buffer.GetSize());
  bool hadPacket;
  {
    std::lock_guard lock(mutex_);
    hadPacket = packetJson_.has_value();
    packetJson_ = json;
  }
  SendPacketEvent(hadPacket ? 1 : 0, &json);
  return true;
}

void DevelopmentHost::ClearLoginDataPacket() {
  {
    std::lock_guard lock(mutex_);
    packetJson_.reset();
  }
  SendPacketEvent(2, nullptr);
}

std::size_t DevelopmentHost::PushServerMessage(const rapidjson::Value& body, std::string& error,
                                               const std::string& typeName,
                                               const std::string& clientId,
                                               const std::string& subtopic) {
  rapidjson::Document event;
  event.SetObject();
  auto& allocator = event.GetAllocator();
  event.AddMember("clientId", rapidjson::Value(clientId.c_str(), allocator), allocator);
  event.AddMember("subtopic", rapidjson::Value(subtopic.c_str(), allocator), allocator);
  event.AddMember("typeName", rapidjson::Value(typeName.c_str(), allocator), allocator);
  event.AddMember("body", rapidjson::Value(body, allocator), allocator);
  Abi::HostValue payload{};
  if (!HostValueFromJson(event, payload, error)) return 0;
  const std::size_t delivered = SendEvent(QrmsEventName(typeName), payload);
  FreeHostValue(payload);
  return delivered;
}

void DevelopmentHost::FailNextInvoke(std::int32_t status, std::string errorText) {
  std::lock_guard lock(mutex_);
  nextInvokeFailure_.emplace(status, std::move(errorText));
}

// ---- REST resources ------------------------------------------------------

void DevelopmentHost::ServeCall(Abi::HttpResponseRecord& response,
                                const Abi::HttpRequestRecord& request) {
  const std::int32_t method = request.method;
  const std::string path = PathWithoutQuery(TextOrEmpty(request.path));
  if (method == Abi::kHttpMethodGet && path == Messages::kLoginDataPacketPath) {
    std::optional<std::string> packet;
    {
      std::lock_guard lock(mutex_);
      packet = packetJson_;
    }
    rapidjson::Document document;
    Abi::HostValue value{};
    std::string error;
    if (!packet) {
      FailResponse(response, 404, Messages::kNoLoginDataPacket);
    } else if (!ParseJsonText(*packet, document, error) ||
               !HostValueFromJson(document, value, error)) {
      FailResponse(response, 500, error);
    } else {
      FillResponse(response, 200, nullptr, value);
    }
    return;
  }
  if (method == Abi::kHttpMethodPost && path == Messages::kSessionInvokePath) {
    ServeInvoke(response, request);
    return;
  }
  FailResponse(response, 404,
               std::string(Messages::kNoSuchResource) + MethodText(method) + " " + path);
}

void DevelopmentHost::ServeInvoke(Abi::HttpResponseRecord& response,
                                  const Abi::HttpRequestRecord& request) {
  const Abi::HttpArgumentEntry* arguments = request.arguments;
  const std::uint32_t count = request.argumentCount;
  std::optional<std::string> service;
  std::optional<std::string> method;
  std::string argumentsJson;
  if (arguments != nullptr && count == 3 && arguments[0].name == nullptr &&
      arguments[1].name == nullptr && arguments[2].name == nullptr) {
    const Abi::HostValue first = arguments[0].value;
    const Abi::HostValue second = arguments[1].value;
    const Abi::HostValue third = arguments[2].value;
    service = StringOf(first);
    method = StringOf(second);
    if (third.type == Abi::kHostValueCollection) argumentsJson = HostValueToJson(third);
  }
  if (!service || !method || argumentsJson.empty()) {
    FailResponse(response, 400, Messages::kInvokeArguments);
    return;
  }
  Invocation invocation{*service, *method, argumentsJson, 200, ""};
  {
    std::lock_guard lock(mutex_);
    if (nextInvokeFailure_) {
      invocation.status = nextInvokeFailure_->first;
      invocation.errorText = nextInvokeFailure_->second.empty() ? Messages::kDefaultInvokeFailure
                                                                : nextInvokeFailure_->second;
      nextInvokeFailure_.reset();
    }
    invocations_.push_back(invocation);
  }
  Notify([&](HostObserver& observer) { observer.OnInvoke(invocation); });
  if (invocation.errorText.empty()) {
    FillResponse(response, 200, nullptr, Abi::HostValue{});
  } else {
    FailResponse(response, invocation.status, invocation.errorText);
  }
}

// ---- Endpoints -------------------------------------------------------------

std::vector<EndpointInfo> DevelopmentHost::Endpoints() const {
  std::vector<EndpointInfo> endpoints;
  if (!loaded_) return endpoints;
  for (const Abi::ApiEndpointDescriptor* descriptor : Descriptors(record_.api)) {
    endpoints.push_back(EndpointInfo{TextOrEmpty(descriptor->function.name), descriptor->method,
                                     TextOrEmpty(descriptor->urlTemplate)});
  }
  return endpoints;
}

EndpointReply DevelopmentHost::CallEndpoint(const EndpointCall& call) {
  EndpointReply reply;
  if (!loaded_) {
    reply.errorText = Messages::kNotLoaded;
    return reply;
  }
  const Abi::ApiEndpointDescriptor* found = nullptr;
  for (const Abi::ApiEndpointDescriptor* descriptor : Descriptors(record_.api)) {
    const bool matches = !call.function.empty()
                             ? TextOrEmpty(descriptor->function.name) == call.function
                             : descriptor->method == call.method &&
                                   TemplateMatches(TextOrEmpty(descriptor->urlTemplate), call.path);
    if (matches && descriptor->requestEntry != nullptr) {
      found = descriptor;
      break;
    }
  }
  if (found == nullptr) {
    reply.errorText =
        std::string(Messages::kNoSuchEndpoint) +
        (call.function.empty() ? std::string(MethodText(call.method)) + " " + call.path
                               : call.function);
    return reply;
  }
  reply.found = true;
  reply.functionName = TextOrEmpty(found->function.name);
  const std::string path = call.path.empty() ? TextOrEmpty(found->urlTemplate) : call.path;

  // Argument values live until the call returns and are freed by the host.
  std::vector<Abi::HttpArgumentEntry> entries;
  for (const auto& [name, json] : call.arguments) {
    rapidjson::Document document;
    Abi::HttpArgumentEntry entry{};
    entry.name = name.empty() ? nullptr : name.c_str();
    std::string error;
    Abi::HostValue value{};
    if (ParseJsonText(json, document, error) && HostValueFromJson(document, value, error)) {
      entry.value = value;
    } else {
      entry.value.type = Abi::kHostValueBorrowedString;
      entry.value.data = reinterpret_cast<Abi::HostWord>(json.c_str());
    }
    entries.push_back(entry);
  }
  Abi::HttpRequestRecord request{};
  request.method = call.function.empty() ? call.method : found->method;
  reply.method = request.method;
  request.path = path.c_str();
  request.arguments = entries.empty() ? nullptr : entries.data();
  request.argumentCount = static_cast<std::uint32_t>(entries.size());
  request.endpoint = found->function.registration;
  if (call.body) {
    request.contentType = call.contentType.c_str();
    request.body = call.body->data();
    request.bodyLength = static_cast<std::uint32_t>(call.body->size());
  }
  {
    std::lock_guard lock(mutex_);
    request.context = ++requestNumber_;
  }

  Abi::HttpResponseRecord response;
  std::memset(static_cast<void*>(&response), 0, sizeof response);
  found->requestEntry(&response, &request);

  reply.valueJson = HostValueToJson(response.value);
  reply.failed = response.failed != 0 || response.errorText != nullptr;
  reply.errorText = TextOrEmpty(response.errorText);
  reply.status = response.status;
  reply.format = response.format;
  reply.contentType = TextOrEmpty(response.contentType);
  bool streamFailed = false;
  reply.streamBody = ReadStream(response, streamFailed);
  if (streamFailed) {
    reply.failed = true;
    reply.errorText = Messages::kStreamReadFailed;
  }
  if (const Abi::HttpResponseRelease release = response.release) {
    release(&response);
  } else if (reply.errorText.empty()) {
    // The plugin keeps what it filled in: nothing here may free it.
    reply.failed = true;
    reply.errorText = Messages::kNoResponseRelease;
  }
  for (Abi::HttpArgumentEntry& entry : entries) {
    if (entry.value.type != Abi::kHostValueBorrowedString) {
      Abi::HostValue value = entry.value;
      FreeHostValue(value);
    }
  }
  return reply;
}

// ---- The host functions --------------------------------------------------

DevelopmentHost& DevelopmentHost::Owner(Abi::HostFunctions* self) {
  return *reinterpret_cast<Table*>(self)->owner;
}

void DevelopmentHost::OnCall(Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
                             const Abi::HttpRequestRecord* request) {
  DevelopmentHost& host = Owner(self);
  {
    std::lock_guard lock(host.mutex_);
    ++host.counts_.call;
  }
  if (response == nullptr) return;
  if (request == nullptr) {
    FailResponse(*response, 400, std::string(Messages::kNoSuchResource));
    return;
  }
  host.ServeCall(*response, *request);
}

void DevelopmentHost::OnReserved(Abi::HostFunctions* self, Abi::HostWord, Abi::HostWord) {
  DevelopmentHost& host = Owner(self);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.reserved;
}

void DevelopmentHost::OnPublishEvent(Abi::HostFunctions* self, const Abi::HostEventRecord* event) {
  DevelopmentHost& host = Owner(self);
  {
    std::lock_guard lock(host.mutex_);
    ++host.counts_.publishEvent;
  }
  if (event == nullptr) return;
  // Only the first three fields: a published record need not carry a context.
  const Abi::HostValue payload = event->payload;
  host.Deliver("plugin", TextOrEmpty(event->name), payload, event->flag);
}

void DevelopmentHost::OnSubscribe(Abi::HostFunctions* self, const char* eventName,
                                  std::uint32_t cookie, Abi::HostEventCallback callback,
                                  void* context, std::int32_t flag) {
  DevelopmentHost& host = Owner(self);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.subscribe;
  host.subscriptions_.push_back(
      Subscription{TextOrEmpty(eventName), cookie, callback, context, flag});
}

void DevelopmentHost::OnUnsubscribe(Abi::HostFunctions* self, const char* eventName,
                                    std::uint32_t cookie) {
  DevelopmentHost& host = Owner(self);
  const std::string name = TextOrEmpty(eventName);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.unsubscribe;
  std::erase_if(host.subscriptions_, [&](const Subscription& subscription) {
    return subscription.eventName == name && subscription.cookie == cookie;
  });
}

void DevelopmentHost::OnScheduleJob(Abi::HostFunctions* self, const char* label,
                                    Abi::HostJobCallback job, void* context, double delaySeconds,
                                    std::int32_t) {
  DevelopmentHost& host = Owner(self);
  // Not-a-number and negative delays are due now; absurdly long ones wait a day.
  const double seconds = delaySeconds > 0 ? std::min(delaySeconds, 86400.0) : 0.0;
  const auto delay = std::chrono::duration<double>(seconds);
  const std::string text = TextOrEmpty(label);
  {
    std::lock_guard lock(host.mutex_);
    ++host.counts_.scheduleJob;
    host.jobLabels_.push_back(text);
    if (job != nullptr) {
      host.jobs_.push_back(Job{text, job, context,
                               std::chrono::steady_clock::now() +
                                   std::chrono::duration_cast<std::chrono::nanoseconds>(delay)});
    }
  }
  host.jobsChanged_.notify_all();
  host.Notify([&](HostObserver& observer) { observer.OnJobScheduled(text); });
}

void DevelopmentHost::OnPump(Abi::HostFunctions* self) {
  DevelopmentHost& host = Owner(self);
  std::optional<Job> job;
  {
    std::lock_guard lock(host.mutex_);
    ++host.counts_.pump;
    job = host.TakeDueJob(std::chrono::steady_clock::now());
  }
  if (job) host.RunJob(*job);
}

void DevelopmentHost::OnBeginWait(Abi::HostFunctions* self, const char* label, std::int32_t) {
  DevelopmentHost& host = Owner(self);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.beginWait;
  host.waitLabels_.push_back(TextOrEmpty(label));
}

void DevelopmentHost::OnEndWait(Abi::HostFunctions* self) {
  DevelopmentHost& host = Owner(self);
  std::lock_guard lock(host.mutex_);
  ++host.counts_.endWait;
}

void DevelopmentHost::OnLog(Abi::HostFunctions* self, std::int32_t level, const char* message) {
  DevelopmentHost& host = Owner(self);
  LogLine line{level, TextOrEmpty(message)};
  std::function<void(const LogLine&)> listener;
  {
    std::lock_guard lock(host.mutex_);
    ++host.counts_.log;
    host.logLines_.push_back(line);
    listener = host.logListener_;
  }
  if (listener) listener(line);
  host.Notify([&](HostObserver& observer) { observer.OnLog(line); });
}

}  // namespace Kavren::Host
