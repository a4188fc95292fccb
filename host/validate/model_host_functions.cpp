// The validator's host model: the ten host functions a module calls, as the model answers
// them (Call, PublishEvent, Subscribe, ScheduleJob...), with what each checks of the
// plugin, re-entry into the plugin from inside them, and the mirrors of resource events.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

#include "host/core/event_bus.h"
#include "host/core/host_value.h"
#include "host/validate/model_host.h"
#include "host/validate/model_host_thread.h"

namespace Kavren::Host {
namespace {

constexpr char kJsonApiEvent[] = "OnJsonApiEvent";

// How long PublishEvent waits for a change made meanwhile on another thread: a plugin that
// holds a lock across PublishEvent is slowed down, not hung.
constexpr auto kMeanwhileWait = std::chrono::milliseconds(25);

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

}  // namespace

using detail::ChangesState;
using detail::currentHost;
using detail::insideJobOf;
using detail::PendingMirror;
using detail::pendingMirrors;
using detail::reentryDepth;
using detail::startingModule;
using detail::stoppingModule;
using detail::TextOrEmpty;
using detail::threadRandom;
using detail::watchedCall;

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

}  // namespace Kavren::Host
