// The validator's host model and the trace runner.
#include "host/validate/model_host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <set>
#include <thread>

#include "host/core/document.h"
#include "host/core/event_bus.h"
#include "host/core/host_value.h"
#include "host/validate/alloc.h"

namespace Kavren::Host {
namespace {

// The host whose responses are out: a response's release reaches it through here.
std::atomic<ModelHost*> currentHost{nullptr};

// What the calling thread is doing for the model.
thread_local Random* threadRandom = nullptr;
thread_local const void* insideJobOf = nullptr;
thread_local const void* stoppingModule = nullptr;
thread_local const void* startingModule = nullptr;
thread_local int reentryDepth = 0;
// The host functions (other than Log) the plugin called on this thread while a call that
// must have no effect ran; null when no such call runs.
thread_local std::vector<std::string>* watchedCall = nullptr;

// A resource event waiting for its copy under "OnJsonApiEvent" from the same call into
// the plugin, on this thread.
struct PendingMirror {
  const void* module;
  std::string name;
  std::string uri;
  std::string payload;
};
thread_local std::vector<PendingMirror> pendingMirrors;

constexpr char kJsonApiEvent[] = "OnJsonApiEvent";

constexpr std::size_t kMaxStreamBytes = 1u << 20;
// How long PublishEvent waits for a change made meanwhile on another thread: a plugin that
// holds a lock across PublishEvent is slowed down, not hung.
constexpr auto kMeanwhileWait = std::chrono::milliseconds(25);
constexpr int kMaxQuiesceJobs = 20000;

std::string TextOrEmpty(const char* text) { return text != nullptr ? std::string(text) : ""; }

// Whether `text` names a path captured from the URL template (a "{name}").
bool IsCapture(const std::string& urlTemplate, const std::string& name) {
  return urlTemplate.find("{" + name + "}") != std::string::npos ||
         urlTemplate.find("{+" + name + "}") != std::string::npos;
}

bool AllZero(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  return std::all_of(bytes, bytes + size, [](unsigned char byte) { return byte == 0; });
}

// The "uri" and "data" of a resource event's payload, when it has both.
bool ResourceOf(const Abi::HostValue& payload, std::string& uri, Abi::HostValue& data) {
  if (payload.type != Abi::kHostValueStructure || payload.data == 0) return false;
  const auto* members = reinterpret_cast<const Abi::HostStructMember*>(payload.data);
  bool haveUri = false;
  bool haveData = false;
  for (Abi::HostWord index = 0; index < payload.extra && index < 64; ++index) {
    const Abi::HostStructMember member = members[index];
    if (member.key == nullptr) continue;
    if (std::strcmp(member.key, "uri") == 0 &&
        (member.value.type == Abi::kHostValueBorrowedString ||
         member.value.type == Abi::kHostValueOwnedString) &&
        member.value.data != 0) {
      uri = reinterpret_cast<const char*>(member.value.data);
      haveUri = true;
    } else if (std::strcmp(member.key, "data") == 0) {
      data = member.value;
      haveData = true;
    }
  }
  if (haveUri && !uri.empty() && uri[0] != '/') uri = "/" + uri;
  return haveUri && haveData;
}

// Picks what makes a request unbindable: an argument whose kind no text reads (given as
// kUnbindableText in the path when it is a capture, else as an argument entry), or an
// entry of a name the endpoint does not have. Sets `capture` or `entry` to its name.
void ChooseUnbindable(const ApiEndpoint& endpoint, Random& random, std::string& capture,
                      std::string& entry) {
  std::vector<std::pair<std::string, bool>> candidates{{kUnknownArgumentName, false}};
  for (const ApiArgument& argument : endpoint.arguments) {
    const ApiKind kind = argument.type.kind;
    const bool inPath = IsCapture(endpoint.urlTemplate, argument.name);
    const bool scalar =
        (kind >= ApiKind::kBool && kind <= ApiKind::kDouble) || kind == ApiKind::kEnum;
    const bool composite =
        kind == ApiKind::kVector || kind == ApiKind::kStruct || kind == ApiKind::kMap;
    if (scalar || (composite && !inPath)) candidates.emplace_back(argument.name, inPath);
  }
  const auto& [name, inPath] = candidates[random() % candidates.size()];
  (inPath ? capture : entry) = name;
}

bool ChangesState(const ApiEndpoint& endpoint) { return endpoint.method != Abi::kHttpMethodGet; }

// Every module any run loaded, for the life of the process (see ModelHost::modules_).
std::vector<void*>& KeptModules() {
  static auto* kept = new std::vector<void*>();
  return *kept;
}

}  // namespace

ModelHost::ModelHost(Abi::PluginLoadFunction load, const HostPolicy& policy, std::uint64_t seed,
                     Oracle& oracle, std::vector<std::string> dictionary)
    : load_(load),
      policy_(policy),
      oracle_(oracle),
      dictionary_(std::move(dictionary)),
      setupRandom_(seed ^ 0x5e7u) {
  currentHost.store(this);
}

ModelHost::~ModelHost() {
  JoinHelpers();
  for (Module* module : modules_) module->host.store(nullptr);
  currentHost.store(nullptr);
  for (char* text : responseTexts_) std::free(text);
}

ModelHost* ModelHost::HostOf(Abi::HostFunctions* self, const char* function) {
  ModelHost* host = reinterpret_cast<Table*>(self)->module->host.load();
  if (host == nullptr) {
    if (ModelHost* current = currentHost.load()) {
      current->oracle_.Report(FindingKind::kAfterStop,
                              std::string("host function ") + function +
                                  " called through the table of a module an earlier run "
                                  "stopped");
    }
  }
  return host;
}

void ModelHost::Count(std::uint64_t RunCounts::*counter) {
  std::lock_guard lock(mutex_);
  ++(counts_.*counter);
}

RunCounts ModelHost::Counts() {
  std::lock_guard lock(mutex_);
  return counts_;
}

Random& ModelHost::ThreadRandom() {
  if (threadRandom != nullptr) return *threadRandom;
  // Threads without an operation of their own (the plugin's Start, the final stops)
  // share the set-up source.
  return setupRandom_;
}

bool ModelHost::Chance(int perMille) {
  if (perMille <= 0) return false;
  if (threadRandom != nullptr) return static_cast<int>((*threadRandom)() % 1000) < perMille;
  std::lock_guard lock(mutex_);
  return static_cast<int>(setupRandom_() % 1000) < perMille;
}

ModelHost::Module* ModelHost::Current(int slot) {
  std::lock_guard lock(mutex_);
  return slot >= 0 && slot < 2 ? slots_[slot] : nullptr;
}

bool ModelHost::IsRunning(int slot) {
  std::lock_guard lock(mutex_);
  return slot >= 0 && slot < 2 && slots_[slot] != nullptr && slots_[slot]->state == State::kRunning;
}

bool ModelHost::Enter(Module& module) {
  std::lock_guard lock(mutex_);
  if (module.state != State::kRunning) return false;
  ++module.inside;
  return true;
}

void ModelHost::Leave(Module& module) {
  {
    std::lock_guard lock(mutex_);
    --module.inside;
  }
  changed_.notify_all();
}

bool ModelHost::Load(int slot) {
  {
    std::lock_guard lock(mutex_);
    if (slots_[slot] != nullptr && slots_[slot]->state != State::kStopped) return true;
    modules_.push_back(new Module());
    KeptModules().push_back(modules_.back());
    Module& module = *modules_.back();
    module.host.store(this);
    module.slot = slot;
    module.cookie = 0x48530000u + static_cast<std::uint32_t>(modules_.size());
    module.table.module = &module;
    module.table.functions =
        Abi::HostFunctions{OnCall,        OnReserved, OnPublishEvent, OnSubscribe, OnUnsubscribe,
                           OnScheduleJob, OnPump,     OnBeginWait,    OnEndWait,   OnLog};
    module.interface.functions = &module.table.functions;
    module.interface.cookie = module.cookie;
    module.record.major = 18;
    // The slot is taken at once, so a second Load of it waits for its Stop; nothing
    // reaches the module until it is started.
    module.state = State::kLoading;
    slots_[slot] = &module;
    ++counts_.loads;
  }
  Module& module = *slots_[slot];
  PhaseBegins(RunPhase::kExport);
  load_(&module.record);
  const Abi::PluginHostRecord& record = module.record;
  const bool complete = record.functions != nullptr && record.functions->Start != nullptr &&
                        record.functions->Stop != nullptr &&
                        record.functions->GetMemoryStats != nullptr;
  PhaseEnds(RunPhase::kExport, complete && record.name != nullptr && record.api != nullptr);
  if (!complete) {
    LoadFailed(FindingKind::kLoad, "the export left no complete function table");
    Abandon(module);
    return false;
  }
  if (record.name == nullptr || record.api == nullptr) {
    LoadFailed(FindingKind::kLoad, "the export left no name or no API block");
    Abandon(module);
    return false;
  }
  if (getMemoryStats_ == nullptr) getMemoryStats_ = record.functions->GetMemoryStats;
  std::string problem;
  std::optional<ApiModel> model = ApiModel::FromBlock(record.api, problem);
  if (!model) {
    oracle_.Report(FindingKind::kApiBlock, problem);
    Abandon(module);
    return false;
  }
  const Abi::ApiEndpointDescriptor* descriptor = record.api->descriptors;
  for (std::uint32_t index = 0; index < record.api->count && descriptor != nullptr; ++index) {
    module.endpoints[TextOrEmpty(descriptor->function.name)] =
        EndpointEntry{descriptor->requestEntry, descriptor->function.registration};
    descriptor = descriptor->next;
  }
  {
    std::lock_guard lock(mutex_);
    if (!model_) {
      model_ = std::move(model);
      model_->AddTexts(dictionary_);
    }
    module.state = State::kRunning;
    ++module.inside;
    if (counts_.loads == 1) module.stopAtStartCall = policy_.stopDuringStart;
  }
  const void* outerStarting = startingModule;
  startingModule = &module;
  const std::size_t mark = pendingMirrors.size();
  PhaseBegins(RunPhase::kStart);
  const bool started = record.functions->Start(record.context, &module.interface);
  PhaseEnds(RunPhase::kStart, started);
  EndMirrorScope(mark);
  startingModule = outerStarting;
  Leave(module);
  std::string stoppedInside;
  {
    std::lock_guard lock(mutex_);
    stoppedInside = module.stoppedInside;
  }
  if (!stoppedInside.empty()) {
    if (started) {
      oracle_.Report(FindingKind::kStartStopped,
                     "Start answered true although the host stopped the module from inside "
                     "its " +
                         stoppedInside + " call");
    }
    return false;
  }
  if (!started) {
    LoadFailed(FindingKind::kLoad, "Start returned false");
    Stop(slot);
    return false;
  }
  return true;
}

void ModelHost::PhaseBegins(RunPhase phase) {
  if (observer_ != nullptr) observer_->Begin(*this, oracle_, phase);
}

void ModelHost::PhaseEnds(RunPhase phase, bool succeeded) {
  if (observer_ != nullptr) observer_->End(*this, oracle_, phase, succeeded);
}

void ModelHost::LoadFailed(const char* kind, const std::string& message) {
  if (observer_ == nullptr || !observer_->Refused()) oracle_.Report(kind, message);
}

void ModelHost::Abandon(Module& module) {
  std::lock_guard lock(mutex_);
  module.state = State::kStopped;
}

void ModelHost::SampleStats() {
  std::lock_guard lock(statsMutex_);
  oracle_.Sample(Stats());
}

void ModelHost::Stop(int slot) {
  Module* module = nullptr;
  {
    std::unique_lock lock(mutex_);
    module = slots_[slot];
    if (module == nullptr || module->state != State::kRunning) return;
    module->state = State::kStopping;
    // The ABI: no Stop while another thread is inside one of the module's callbacks.
    changed_.wait(lock, [&] { return module->inside == 0; });
    // Jobs that were not held are dropped, as a host drops a stopped module's work.
    std::erase_if(jobs_, [&](const Job& job) { return job.module == module && !job.held; });
    ++counts_.stops;
  }
  FinishStop(*module);
}

void ModelHost::StopInside(Module& module, const char* function) {
  {
    std::lock_guard lock(mutex_);
    if (module.state != State::kRunning) return;
    // Start is the only call inside: nothing else runs while a module starts.
    module.state = State::kStopping;
    module.stoppedInside = function;
    std::erase_if(jobs_, [&](const Job& job) { return job.module == &module && !job.held; });
    ++counts_.stops;
    ++counts_.stoppedDuringStart;
  }
  FinishStop(module);
}

void ModelHost::FinishStop(Module& module) {
  {
    std::lock_guard lock(mutex_);
    module.stopCalled = true;
  }
  const void* outerStopping = stoppingModule;
  stoppingModule = &module;
  const std::size_t mark = pendingMirrors.size();
  PhaseBegins(RunPhase::kStop);
  module.record.functions->Stop(module.record.context);
  PhaseEnds(RunPhase::kStop, true);
  EndMirrorScope(mark);
  stoppingModule = outerStopping;
  std::vector<std::string> left;
  {
    std::lock_guard lock(mutex_);
    module.stopReturned = true;
    module.state = State::kStopped;
    for (const Subscription& subscription : module.subscriptions) {
      left.push_back(subscription.name);
    }
    module.subscriptions.clear();
  }
  if (!left.empty()) {
    std::string names;
    for (const std::string& name : left) names += (names.empty() ? "" : ", ") + name;
    oracle_.Report(FindingKind::kSubscriptions, "subscriptions left after Stop: " + names);
  }
}

void ModelHost::HostCalled(Module& module, const char* function) {
  if (watchedCall != nullptr && std::strcmp(function, "Log") != 0) {
    watchedCall->push_back(function);
  }
  bool afterStop;
  bool stopNow = false;
  {
    std::lock_guard lock(mutex_);
    afterStop = module.stopReturned;
    if (stoppingModule == &module) ++counts_.callsDuringStop;
    if (startingModule == &module && !afterStop) {
      ++counts_.callsDuringStart;
      stopNow = ++module.startCalls == module.stopAtStartCall;
    }
  }
  if (afterStop) {
    oracle_.Report(FindingKind::kAfterStop,
                   std::string("host function ") + function + " called after Stop returned");
    return;
  }
  if (stopNow) {
    StopInside(module, function);
    return;
  }
  // From PublishEvent the publish policy decides, whoever publishes.
  const bool duringStop = stoppingModule == &module && policy_.reenterDuringStop;
  const bool fromJob = insideJobOf == &module && std::strcmp(function, "PublishEvent") != 0 &&
                       Chance(policy_.reenterJobs);
  if (duringStop || fromJob) Reenter(module, function);
}

void ModelHost::Reenter(Module& module, const char* /*why*/) {
  if (reentryDepth > 0 || !model_ || model_->Endpoints().empty()) return;
  ++reentryDepth;
  Random& random = ThreadRandom();
  const auto& endpoints = model_->Endpoints();
  // A user interface re-reads what was announced: GETs are the usual re-entry.
  std::vector<const ApiEndpoint*> gets;
  for (const ApiEndpoint& endpoint : endpoints) {
    if (endpoint.method == Abi::kHttpMethodGet) gets.push_back(&endpoint);
  }
  const ApiEndpoint& chosen = !gets.empty() && random() % 2 == 0
                                  ? *gets[random() % gets.size()]
                                  : endpoints[random() % endpoints.size()];
  CallModule(module, chosen.name, ValueVariant::kValid, random);
  --reentryDepth;
}

// ---- Endpoint calls -------------------------------------------------------------------

ModelReply ModelHost::CallEndpoint(int slot, const std::string& functionName, ValueVariant variant,
                                   Random& random) {
  Module* module = Current(slot);
  if (module == nullptr || !Enter(*module)) return {};
  ModelReply reply = CallModule(*module, functionName, variant, random);
  Leave(*module);
  return reply;
}

ModelReply ModelHost::CallEndpointAt(int slot, const std::string& functionName,
                                     const std::string& path) {
  Module* module = Current(slot);
  if (module == nullptr || !Enter(*module)) return {};
  ModelReply reply = CallModule(*module, functionName, ValueVariant::kValid, setupRandom_, &path);
  Leave(*module);
  return reply;
}

ModelReply ModelHost::CallModule(Module& module, const std::string& functionName,
                                 ValueVariant variant, Random& random, const std::string* fixed) {
  ModelReply reply;
  const ApiEndpoint* endpoint = model_ ? model_->FindEndpoint(functionName) : nullptr;
  const auto entry = module.endpoints.find(functionName);
  if (endpoint == nullptr || entry == module.endpoints.end()) return reply;
  Count(&RunCounts::calls);
  bool stopBegan;
  {
    std::lock_guard lock(mutex_);
    stopBegan = module.stopCalled;
  }
  const bool unbindable = variant == ValueVariant::kUnbindable && fixed == nullptr;
  std::string brokenCapture;
  std::string brokenEntry;
  if (unbindable) ChooseUnbindable(*endpoint, random, brokenCapture, brokenEntry);
  const std::string path =
      fixed != nullptr ? *fixed : model_->GeneratePath(*endpoint, variant, random, brokenCapture);
  // Arguments that are not path captures travel as named entries, now and then.
  std::vector<std::string> names;
  std::vector<Abi::HttpArgumentEntry> entries;
  if (!brokenEntry.empty()) {
    rapidjson::Document json;
    json.SetString(rapidjson::StringRef(kUnbindableText));
    Abi::HostValue value{};
    if (HostValueFromJson(json, value).Succeeded()) {
      names.push_back(brokenEntry);
      entries.push_back(Abi::HttpArgumentEntry{nullptr, value});
    }
  }
  for (const ApiArgument& argument : endpoint->arguments) {
    if (fixed != nullptr || unbindable || argument.location == kLocationPath ||
        IsCapture(endpoint->urlTemplate, argument.name) || random() % 2 == 0) {
      continue;
    }
    rapidjson::Document json;
    model_->Generate(argument.type, variant, endpoint->urlTemplate, random, json,
                     json.GetAllocator());
    Abi::HostValue value{};
    if (HostValueFromJson(json, value).Failed()) continue;
    names.push_back(argument.name);
    entries.push_back(Abi::HttpArgumentEntry{nullptr, value});
  }
  for (std::size_t index = 0; index < entries.size(); ++index) {
    entries[index].name = names[index].c_str();
  }
  Abi::HttpRequestRecord request{};
  request.method = endpoint->method == 0 ? Abi::kHttpMethodGet : endpoint->method;
  request.path = path.c_str();
  request.arguments = entries.empty() ? nullptr : entries.data();
  request.argumentCount = static_cast<std::uint32_t>(entries.size());
  request.endpoint = entry->second.registration;
  request.customMethod = endpoint->method == 8 ? endpoint->customMethod.c_str() : nullptr;
  request.context = static_cast<Abi::HostWord>(random() & 0xffff);
  Abi::HttpResponseRecord response;
  std::memset(static_cast<void*>(&response), 0, sizeof response);
  // A call after Stop began and an unbindable one must have no effect: the host
  // functions they call are watched.
  std::vector<std::string> watched;
  std::vector<std::string>* outerWatch = watchedCall;
  watchedCall = stopBegan || unbindable ? &watched : nullptr;
  const std::size_t mark = pendingMirrors.size();
  entry->second.entry(&response, &request);
  EndMirrorScope(mark);
  watchedCall = outerWatch;
  for (Abi::HttpArgumentEntry& argument : entries) FreeHostValue(argument.value);

  const std::string where = functionName + " (" + path + ")";
  const std::string problem = CheckReply(response);
  if (!problem.empty()) oracle_.Report(FindingKind::kMalformedReply, where + ": " + problem);
  if (stopBegan && response.failed == 0) {
    oracle_.Report(FindingKind::kStoppingCall,
                   where + " entered after Stop began and answered a success (status " +
                       std::to_string(response.status) + ") instead of a refusal");
  } else if (stopBegan && !watched.empty()) {
    oracle_.Report(FindingKind::kStoppingCall, where +
                                                   " entered after Stop began and called the "
                                                   "host's " +
                                                   watched.front() + " while it ran");
  }
  if (unbindable) {
    std::vector<std::string> arguments{kUnknownArgumentName};
    for (const ApiArgument& argument : endpoint->arguments) arguments.push_back(argument.name);
    const std::string broken = brokenCapture.empty() ? brokenEntry : brokenCapture;
    const std::string answered = CheckBindingFailure(response, arguments);
    // Once the allocator has refused the plugin, the binding failure's own text may not
    // be made: any failed reply (whose text the reply check holds to the ABI) may stand
    // in for it; the handler must still not run.
    const bool refusedInstead =
        response.failed != 0 && observer_ != nullptr && observer_->Refused();
    if (!answered.empty() && !refusedInstead) {
      oracle_.Report(FindingKind::kBinding, where + ": argument '" + broken +
                                                "' cannot bind, yet the call " + answered +
                                                " instead of its binding failure");
    } else if (!watched.empty()) {
      oracle_.Report(FindingKind::kBinding, where + ": argument '" + broken +
                                                "' cannot bind, yet the handler ran: it "
                                                "called the host's " +
                                                watched.front());
    }
  }
  reply.called = true;
  reply.status = response.status;
  reply.failed = response.failed != 0;
  if (reply.failed) Count(&RunCounts::failedReplies);
  if (response.value.type <= Abi::kHostValueStructure) {
    reply.valueJson = HostValueToJson(response.value);
  }
  if (response.streamRead != nullptr) {
    char buffer[4096];
    std::size_t total = 0;
    bool more = true;
    while (more && total < kMaxStreamBytes) {
      std::uint32_t length = sizeof buffer;
      more = false;
      if (!response.streamRead(response.stream, buffer, &length, &more)) break;
      total += std::min<std::size_t>(length, sizeof buffer);
    }
    if (response.streamRelease != nullptr) response.streamRelease(response.stream);
  }
  if (response.release != nullptr) {
    response.release(&response);
    if (!AllZero(&response, sizeof response)) {
      oracle_.Report(FindingKind::kMalformedReply, where + ": the release left the record set");
    }
  }
  return reply;
}

// ---- Host functions -------------------------------------------------------------------

void ModelHost::OnCall(Abi::HostFunctions* self, Abi::HttpResponseRecord* response,
                       const Abi::HttpRequestRecord* request) noexcept {
  ModelHost* live = HostOf(self, "Call");
  if (live == nullptr) return;
  ModelHost& host = *live;
  Module& module = *reinterpret_cast<Table*>(self)->module;
  host.HostCalled(module, "Call");
  if (response == nullptr) return;
  std::memset(static_cast<void*>(response), 0, sizeof *response);
  if (request == nullptr) {
    host.oracle_.Report(FindingKind::kResponseRelease, "Call without a request record");
    return;
  }
  try {
    host.Answer(module, *response, *request);
  } catch (...) {
    std::memset(static_cast<void*>(response), 0, sizeof *response);
  }
}

void ModelHost::Answer(Module& module, Abi::HttpResponseRecord& response,
                       const Abi::HttpRequestRecord& request) {
  if (request.context != module.cookie) {
    oracle_.Report(
        FindingKind::kResponseRelease,
        "Call with context " + std::to_string(request.context) + ", not the host's cookie");
  }
  Random& random = ThreadRandom();
  const std::string path = TextOrEmpty(request.path);
  const int roll = static_cast<int>(random() % 1000);
  const int failUpTo = policy_.failAnswers;
  const int nullUpTo = failUpTo + policy_.nullAnswers;
  const int lateUpTo = nullUpTo + policy_.lateAnswers;
  if (roll >= nullUpTo && roll < lateUpTo) {
    std::this_thread::sleep_for(std::chrono::microseconds(200 + random() % 3000));
  }
  Abi::HostValue value{};
  std::string errorText;
  std::int32_t status = 200;
  if (roll < failUpTo) {
    static constexpr std::int32_t kStatuses[] = {400, 401, 404, 409, 500, 503};
    status = kStatuses[random() % std::size(kStatuses)];
    errorText = random() % 4 == 0 ? "" : "Host answer " + std::to_string(status);
  } else if (roll >= nullUpTo || !model_) {
    if (model_) {
      rapidjson::Document json;
      model_->Generate(ApiTypeReference{ApiKind::kObject, ApiKind::kNone, ""}, ValueVariant::kValid,
                       path, random, json, json.GetAllocator());
      if (HostValueFromJson(json, value).Failed()) value = Abi::HostValue{};
    }
  }
  char* contentType =
      DuplicateHostText(errorText.empty() && status == 200 ? "application/json" : "");
  response.value = value;
  response.status = status;
  if (status != 200) {
    response.failed = 1;
    response.errorText = DuplicateHostText(errorText);
  } else {
    response.format = Abi::kBodyFormatJson;
  }
  response.contentType = contentType;
  response.release = ReleaseResponse;
  std::lock_guard lock(mutex_);
  responses_[contentType] = false;
  responseTexts_.push_back(contentType);
}

void ModelHost::ReleaseResponse(Abi::HttpResponseRecord* response) noexcept {
  ModelHost* host = currentHost.load();
  if (host == nullptr || response == nullptr) return;
  const void* key = response->contentType;
  bool twice = false;
  bool unknown = false;
  {
    std::lock_guard lock(host->mutex_);
    const auto found = host->responses_.find(key);
    if (found == host->responses_.end()) {
      unknown = true;
    } else if (found->second) {
      twice = true;
    } else {
      found->second = true;
    }
  }
  if (unknown || twice) {
    host->oracle_.Report(FindingKind::kResponseRelease,
                         unknown ? "a response released that the host never handed out "
                                   "(or released again after its record was zeroed)"
                                 : "a response released twice");
    return;
  }
  Abi::HostValue value = response->value;
  FreeHostValue(value);
  std::free(const_cast<char*>(response->errorText));
  std::memset(static_cast<void*>(response), 0, sizeof *response);
}

void ModelHost::OnReserved(Abi::HostFunctions* self, Abi::HostWord, Abi::HostWord) noexcept {
  ModelHost* host = HostOf(self, "Reserved");
  if (host == nullptr) return;
  Module& module = *reinterpret_cast<Table*>(self)->module;
  host->HostCalled(module, "Reserved");
}

void ModelHost::OnPublishEvent(Abi::HostFunctions* self,
                               const Abi::HostEventRecord* event) noexcept {
  ModelHost* live = HostOf(self, "PublishEvent");
  if (live == nullptr) return;
  ModelHost& host = *live;
  Module& module = *reinterpret_cast<Table*>(self)->module;
  host.HostCalled(module, "PublishEvent");
  if (event == nullptr || event->name == nullptr) {
    host.oracle_.Report(FindingKind::kAnnouncement, "PublishEvent without an event or a name");
    return;
  }
  try {
    host.Publish(module, *event);
  } catch (...) {
  }
}

void ModelHost::Publish(Module& module, const Abi::HostEventRecord& event) {
  const std::string name = event.name;
  const Abi::HostValue payload = event.payload;
  if (model_) {
    const ApiEvent* described = model_->EventFor(name);
    if (described == nullptr) {
      oracle_.Report(FindingKind::kAnnouncement, "event " + name + " is not described");
    } else if (model_->FindType(described->payloadTypeName) != nullptr) {
      const std::string problem = model_->Conforms(
          payload, ApiTypeReference{ApiKind::kStruct, ApiKind::kNone, described->payloadTypeName});
      if (!problem.empty()) {
        oracle_.Report(FindingKind::kAnnouncement, "event " + name + " does not convert to " +
                                                       described->payloadTypeName + ": " + problem);
      }
    }
  }
  std::string uri;
  Abi::HostValue data{};
  if (ResourceOf(payload, uri, data)) {
    const std::string json = HostValueToJson(data);
    {
      std::lock_guard lock(mutex_);
      module.announced[uri] = json;
      ++counts_.resourceEvents;
    }
    if (policy_.checkMirrors) NoteMirror(module, name, uri, payload);
  }
  Deliver(name, payload, event.flag);
  if (Chance(policy_.reenterPublish)) Reenter(module, "PublishEvent");
  if (Chance(policy_.changeDuringPublish)) ChangeMeanwhile(module);
}

void ModelHost::ChangeMeanwhile(Module& module) {
  // Not while the module starts: a host calls no endpoint before Start returned.
  if (reentryDepth > 0 || !model_ || startingModule == &module) return;
  std::vector<std::string> changing;
  for (const ApiEndpoint& endpoint : model_->Endpoints()) {
    if (ChangesState(endpoint)) changing.push_back(endpoint.name);
  }
  if (changing.empty() || !Enter(module)) return;
  Random& random = ThreadRandom();
  const std::string name = changing[random() % changing.size()];
  const std::uint64_t seed = random();
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread helper;
  try {
    helper = std::thread([this, &module, name, seed, done] {
      Random own(seed);
      threadRandom = &own;
      // Its own publications neither re-enter nor change meanwhile in turn.
      ++reentryDepth;
      CallModule(module, name, ValueVariant::kValid, own);
      --reentryDepth;
      threadRandom = nullptr;
      Leave(module);
      done->set_value();
    });
  } catch (...) {
    Leave(module);
    return;
  }
  try {
    std::lock_guard lock(mutex_);
    helpers_.push_back(std::move(helper));
  } catch (...) {
    helper.join();
    return;
  }
  finished.wait_for(kMeanwhileWait);
}

void ModelHost::JoinHelpers() {
  for (;;) {
    std::vector<std::thread> helpers;
    {
      std::lock_guard lock(mutex_);
      helpers.swap(helpers_);
    }
    if (helpers.empty()) return;
    for (std::thread& helper : helpers) helper.join();
  }
}

void ModelHost::NoteMirror(Module& module, const std::string& name, const std::string& uri,
                           const Abi::HostValue& payload) {
  const std::string whole = HostValueToJson(payload);
  if (name == kJsonApiEvent) {
    // The copy of the latest matching event of this module on this thread.
    for (auto pending = pendingMirrors.rbegin(); pending != pendingMirrors.rend(); ++pending) {
      if (pending->module == &module && pending->payload == whole) {
        pendingMirrors.erase(std::next(pending).base());
        return;
      }
    }
  } else if (name.starts_with(std::string(kJsonApiEvent) + "_")) {
    pendingMirrors.push_back(PendingMirror{&module, name, uri, whole});
  }
}

void ModelHost::EndMirrorScope(std::size_t mark) {
  if (pendingMirrors.size() <= mark) return;
  for (std::size_t index = mark; index < pendingMirrors.size(); ++index) {
    const PendingMirror& pending = pendingMirrors[index];
    oracle_.Report(FindingKind::kMirror,
                   "resource event " + pending.name + " of " + pending.uri +
                       " was never published again under " + kJsonApiEvent +
                       " (same payload, same call into the plugin): " + pending.payload);
  }
  pendingMirrors.erase(pendingMirrors.begin() + static_cast<std::ptrdiff_t>(mark),
                       pendingMirrors.end());
}

void ModelHost::Deliver(const std::string& name, const Abi::HostValue& payload, std::int32_t flag) {
  std::vector<std::pair<Module*, Subscription>> receivers;
  {
    std::lock_guard lock(mutex_);
    for (Module* module : slots_) {
      if (module == nullptr || module->state != State::kRunning) continue;
      for (const Subscription& subscription : module->subscriptions) {
        if (subscription.name == name) receivers.emplace_back(module, subscription);
      }
    }
  }
  for (auto& [module, subscription] : receivers) {
    if (subscription.callback == nullptr || !Enter(*module)) continue;
    const std::size_t mark = pendingMirrors.size();
    CallSubscriber(subscription.callback, subscription.context, name, payload, flag);
    EndMirrorScope(mark);
    Leave(*module);
  }
}

void ModelHost::OnSubscribe(Abi::HostFunctions* self, const char* name, std::uint32_t cookie,
                            Abi::HostEventCallback callback, void* context, std::int32_t) noexcept {
  ModelHost* live = HostOf(self, "Subscribe");
  if (live == nullptr) return;
  ModelHost& host = *live;
  Module& module = *reinterpret_cast<Table*>(self)->module;
  host.HostCalled(module, "Subscribe");
  if (name == nullptr || callback == nullptr || cookie != module.cookie) {
    host.oracle_.Report(FindingKind::kSubscriptions,
                        "Subscribe without a name or callback, or with another cookie");
    return;
  }
  try {
    std::lock_guard lock(host.mutex_);
    if (module.stopReturned) return;
    module.subscriptions.push_back(Subscription{name, callback, context});
  } catch (...) {
  }
}

void ModelHost::OnUnsubscribe(Abi::HostFunctions* self, const char* name,
                              std::uint32_t cookie) noexcept {
  ModelHost* live = HostOf(self, "Unsubscribe");
  if (live == nullptr) return;
  ModelHost& host = *live;
  Module& module = *reinterpret_cast<Table*>(self)->module;
  host.HostCalled(module, "Unsubscribe");
  if (name == nullptr || cookie != module.cookie) {
    host.oracle_.Report(FindingKind::kSubscriptions,
                        "Unsubscribe without a name, or with another cookie");
    return;
  }
  std::lock_guard lock(host.mutex_);
  // The host stops every callback of that name.
  std::erase_if(module.subscriptions,
                [&](const Subscription& subscription) { return subscription.name == name; });
}

void ModelHost::OnScheduleJob(Abi::HostFunctions* self, const char* label, Abi::HostJobCallback job,
                              void* context, double, std::int32_t) noexcept {
  ModelHost* live = HostOf(self, "ScheduleJob");
  if (live == nullptr) return;
  ModelHost& host = *live;
  Module& module = *reinterpret_cast<Table*>(self)->module;
  host.HostCalled(module, "ScheduleJob");
  if (label == nullptr || label[0] == '\0') {
    host.oracle_.Report(FindingKind::kJobLabel, "a job scheduled with an empty label");
  }
  if (job == nullptr) return;
  const bool held = host.Chance(host.policy_.holdJobs);
  try {
    std::lock_guard lock(host.mutex_);
    if (module.stopReturned) return;
    host.jobs_.push_back(Job{&module, job, context, held, stoppingModule == &module});
  } catch (...) {
  }
}

void ModelHost::OnPump(Abi::HostFunctions* self) noexcept {
  ModelHost* host = HostOf(self, "Pump");
  if (host == nullptr) return;
  Module& module = *reinterpret_cast<Table*>(self)->module;
  host->HostCalled(module, "Pump");
  if (stoppingModule != nullptr) return;
  host->RunOneJob(true);
}

void ModelHost::OnBeginWait(Abi::HostFunctions* self, const char*, std::int32_t) noexcept {
  ModelHost* host = HostOf(self, "BeginWait");
  if (host == nullptr) return;
  Module& module = *reinterpret_cast<Table*>(self)->module;
  host->HostCalled(module, "BeginWait");
}

void ModelHost::OnEndWait(Abi::HostFunctions* self) noexcept {
  ModelHost* host = HostOf(self, "EndWait");
  if (host == nullptr) return;
  Module& module = *reinterpret_cast<Table*>(self)->module;
  host->HostCalled(module, "EndWait");
}

void ModelHost::OnLog(Abi::HostFunctions* self, std::int32_t, const char*) noexcept {
  ModelHost* host = HostOf(self, "Log");
  if (host == nullptr) return;
  Module& module = *reinterpret_cast<Table*>(self)->module;
  host->HostCalled(module, "Log");
  host->Count(&RunCounts::logLines);
}

// ---- Jobs, events, operations ---------------------------------------------------------

bool ModelHost::RunOneJob(bool fromPump) {
  std::optional<Job> job;
  {
    std::lock_guard lock(mutex_);
    std::vector<std::size_t> runnable;
    for (std::size_t index = 0; index < jobs_.size(); ++index) {
      const Job& candidate = jobs_[index];
      if (!candidate.held && candidate.module->state == State::kRunning) {
        runnable.push_back(index);
      }
    }
    if (runnable.empty()) return false;
    // Jobs run in random order; Pump takes the oldest, as a host's queue would.
    Random& random = threadRandom != nullptr ? *threadRandom : setupRandom_;
    const std::size_t index = fromPump ? runnable.front() : runnable[random() % runnable.size()];
    job = jobs_[index];
    jobs_.erase(jobs_.begin() + static_cast<std::ptrdiff_t>(index));
    ++job->module->inside;
    ++counts_.jobs;
  }
  const void* outer = insideJobOf;
  insideJobOf = job->module;
  const std::size_t mark = pendingMirrors.size();
  job->callback(job->context);
  EndMirrorScope(mark);
  insideJobOf = outer;
  Leave(*job->module);
  return true;
}

void ModelHost::RunJob(const Job& job, bool afterStop) {
  Count(&RunCounts::jobs);
  const void* outer = insideJobOf;
  insideJobOf = afterStop ? nullptr : job.module;
  job.callback(job.context);
  insideJobOf = outer;
}

void ModelHost::Execute(const TraceOp& op) {
  Random random(op.seed);
  threadRandom = &random;
  Count(&RunCounts::ops);
  const ValueVariant variant = ParseVariant(op.variant).value_or(ValueVariant::kValid);
  switch (op.kind) {
    case OpKind::kCall:
      if (policy_.compareAfterCalls) {
        CallAndCompare(op, variant, random);
      } else {
        CallEndpoint(op.module, op.endpoint, variant, random);
      }
      break;
    case OpKind::kEvent: {
      const std::vector<std::string> names = SubscribedNames();
      if (names.empty() || !model_) break;
      const std::string& name = names[static_cast<std::size_t>(op.subscription) % names.size()];
      rapidjson::Document json;
      model_->GeneratePayload(name, variant, random, json);
      Abi::HostValue payload{};
      if (HostValueFromJson(json, payload).Failed()) break;
      Count(&RunCounts::events);
      Deliver(name, payload, 0);
      FreeHostValue(payload);
      break;
    }
    case OpKind::kJob:
      RunOneJob(false);
      break;
    case OpKind::kLoad:
      Load(op.module);
      break;
    case OpKind::kStop:
      Stop(op.module);
      break;
    case OpKind::kStats:
      SampleStats();
      break;
  }
  threadRandom = nullptr;
}

std::vector<std::string> ModelHost::SubscribedNames() {
  std::set<std::string> names;
  std::lock_guard lock(mutex_);
  for (Module* module : slots_) {
    if (module == nullptr || module->state != State::kRunning) continue;
    for (const Subscription& subscription : module->subscriptions) {
      names.insert(subscription.name);
    }
  }
  return {names.begin(), names.end()};
}

Abi::PluginMemoryStats ModelHost::Stats() {
  Abi::PluginMemoryStats stats{};
  if (getMemoryStats_ != nullptr) getMemoryStats_(nullptr, &stats);
  return stats;
}

void ModelHost::Quiesce() {
  for (int ran = 0; ran < kMaxQuiesceJobs; ++ran) {
    JoinHelpers();
    if (!RunOneJob(true)) break;
  }
  JoinHelpers();
}

ModelHost::Served ModelHost::Serve(Module& module, Random& random) {
  Served result;
  {
    std::lock_guard lock(mutex_);
    result.announced = module.announced;
  }
  if (!model_) return result;
  for (const auto& [uri, data] : result.announced) {
    const ApiEndpoint* get = model_->FindGet(uri);
    if (get == nullptr) {
      std::lock_guard lock(mutex_);
      if (counts_.unservedResource.empty()) counts_.unservedResource = uri;
      continue;
    }
    const ModelReply reply = CallModule(module, get->name, ValueVariant::kValid, random, &uri);
    Count(&RunCounts::resourcesCompared);
    if (reply.called && !reply.failed) result.served[uri] = reply.valueJson;
  }
  return result;
}

std::map<std::string, std::string> ModelHost::Announcements(int slot) {
  std::lock_guard lock(mutex_);
  Module* module = slot >= 0 && slot < 2 ? slots_[slot] : nullptr;
  return module != nullptr ? module->announced : std::map<std::string, std::string>{};
}

std::map<std::string, std::string> ModelHost::ServeAnnounced(int slot) {
  Module* module = Current(slot);
  if (module == nullptr || !Enter(*module)) return {};
  Served served = Serve(*module, setupRandom_);
  Leave(*module);
  return std::move(served.served);
}

void ModelHost::CallAndCompare(const TraceOp& op, ValueVariant variant, Random& random) {
  const ApiEndpoint* endpoint = model_ ? model_->FindEndpoint(op.endpoint) : nullptr;
  Module* module = Current(op.module);
  if (endpoint == nullptr || module == nullptr || !ChangesState(*endpoint)) {
    CallEndpoint(op.module, op.endpoint, variant, random);
    return;
  }
  Quiesce();
  if (!Enter(*module)) return;
  const Served before = Serve(*module, random);
  Leave(*module);
  CallEndpoint(op.module, op.endpoint, variant, random);
  Quiesce();
  if (Current(op.module) != module || !Enter(*module)) return;
  const Served after = Serve(*module, random);
  Leave(*module);
  for (const auto& [uri, json] : after.served) {
    const auto was = before.served.find(uri);
    if (was != before.served.end() && was->second == json) continue;
    const auto announced = after.announced.find(uri);
    if (announced == after.announced.end() || announced->second == json) continue;
    oracle_.Report(FindingKind::kUnannouncedChange,
                   op.endpoint + " changed " + uri + " (at quiescence after the call GET serves " +
                       json + ") but its last announcement was " + announced->second);
  }
}

void ModelHost::CheckResources() {
  if (!model_) return;
  for (int slot = 0; slot < 2; ++slot) {
    Module* module = Current(slot);
    if (module == nullptr || !Enter(*module)) continue;
    const Served now = Serve(*module, setupRandom_);
    Leave(*module);
    for (const auto& [uri, json] : now.served) {
      const std::string& data = now.announced.at(uri);
      // The plugin may empty a resource without announcing it (a new login does).
      if (json != data && !IsEmptyJson(json)) {
        oracle_.Report(FindingKind::kResourceGet,
                       "GET " + uri + " serves " + json + " but the last announcement was " + data);
      }
    }
  }
}

void ModelHost::Finish() {
  JoinHelpers();
  Stop(0);
  Stop(1);
  JoinHelpers();
  // The jobs held past Stop run now, on this thread; they must not reach the host.
  std::deque<Job> remaining;
  {
    std::lock_guard lock(mutex_);
    remaining.swap(jobs_);
  }
  for (const Job& job : remaining) {
    if (job.scheduledByStop && !policy_.runJobsScheduledByStop) continue;
    RunJob(job, true);
  }
  std::size_t unreleased = 0;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [key, released] : responses_) {
      if (!released) ++unreleased;
    }
  }
  if (unreleased > 0) {
    oracle_.Report(FindingKind::kResponseRelease,
                   std::to_string(unreleased) + " response(s) the host handed out never released");
  }
  SampleStats();
}

TraceOutcome RunTrace(Abi::PluginLoadFunction load, const Trace& trace,
                      const std::vector<std::string>& dictionary) {
  if (trace.refusals.Active()) return RunRefusedTrace(load, trace, dictionary).outcome;
  return RunObservedTrace(load, trace, dictionary, nullptr);
}

TraceOutcome RunObservedTrace(Abi::PluginLoadFunction load, const Trace& trace,
                              const std::vector<std::string>& dictionary, RunObserver* observer) {
  Oracle oracle;
  TraceOutcome outcome;
  {
    ModelHost host(load, trace.policy, trace.seed, oracle, dictionary);
    host.SetObserver(observer);
    if (observer != nullptr) observer->Begin(host, oracle, RunPhase::kRun);
    // A module the host stopped during its Start is replaced, so that the operations run.
    const bool loaded = host.Load(0) || (trace.policy.stopDuringStart > 0 && host.Load(0));
    if (loaded) {
      std::atomic<bool> done{false};
      std::thread sampler;
      if (trace.policy.sampleMemory) {
        sampler = std::thread([&] {
          while (!done.load()) {
            host.SampleStats();
            std::this_thread::sleep_for(std::chrono::microseconds(500));
          }
        });
      }
      if (observer != nullptr) observer->Begin(host, oracle, RunPhase::kTraffic);
      std::vector<std::thread> threads;
      threads.reserve(static_cast<std::size_t>(trace.threads));
      for (int thread = 0; thread < trace.threads; ++thread) {
        threads.emplace_back([&, thread] {
          for (const TraceOp& op : trace.ops) {
            if (op.thread == thread) host.Execute(op);
          }
        });
      }
      for (std::thread& thread : threads) thread.join();
      host.Quiesce();
      if (observer != nullptr) observer->End(host, oracle, RunPhase::kTraffic, true);
      if (trace.policy.checkResources) host.CheckResources();
      done = true;
      if (sampler.joinable()) sampler.join();
      host.Finish();
    } else if (observer != nullptr) {
      host.Finish();
    }
    if (observer != nullptr) observer->End(host, oracle, RunPhase::kRun, loaded);
    outcome.counts = host.Counts();
  }
  outcome.findings = oracle.Findings();
  return outcome;
}

}  // namespace Kavren::Host
