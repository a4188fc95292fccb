// The validator's host model: the operations it performs on the plugin (a trace's
// operation, endpoint calls with generated paths and arguments, GETs of announced
// resources compared with their announcements).
#include <cstring>

#include "host/core/document.h"
#include "host/core/host_value.h"
#include "host/validate/model_host.h"
#include "host/validate/model_host_thread.h"

namespace Kavren::Host {
namespace {

// Whether `text` names a path captured from the URL template (a "{name}").
bool IsCapture(const std::string& urlTemplate, const std::string& name) {
  return urlTemplate.find("{" + name + "}") != std::string::npos ||
         urlTemplate.find("{+" + name + "}") != std::string::npos;
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

// The argument entries of a call, and the names they point into.
struct CallArguments {
  std::vector<std::string> names;
  std::vector<Abi::HttpArgumentEntry> entries;
};

// Adds the entry `brokenEntry` (when named) holding kUnbindableText, then, unless
// `pathOnly`, the arguments that are not path captures, each now and then, as named
// entries.
void AddArguments(const ApiModel& model, const ApiEndpoint& endpoint, ValueVariant variant,
                  Random& random, const std::string& brokenEntry, bool pathOnly,
                  CallArguments& arguments) {
  if (!brokenEntry.empty()) {
    rapidjson::Document json;
    json.SetString(rapidjson::StringRef(kUnbindableText));
    Abi::HostValue value{};
    if (HostValueFromJson(json, value).Succeeded()) {
      arguments.names.push_back(brokenEntry);
      arguments.entries.push_back(Abi::HttpArgumentEntry{nullptr, value});
    }
  }
  for (const ApiArgument& argument : endpoint.arguments) {
    if (pathOnly || argument.location == kLocationPath ||
        IsCapture(endpoint.urlTemplate, argument.name) || random() % 2 == 0) {
      continue;
    }
    rapidjson::Document json;
    model.Generate(argument.type, variant, endpoint.urlTemplate, random, json, json.GetAllocator());
    Abi::HostValue value{};
    if (HostValueFromJson(json, value).Failed()) continue;
    arguments.names.push_back(argument.name);
    arguments.entries.push_back(Abi::HttpArgumentEntry{nullptr, value});
  }
}

// The request record of a call of `endpoint` on `path`; it points into `path` and
// `arguments`, which must outlive it.
Abi::HttpRequestRecord MakeRequest(const ApiEndpoint& endpoint,
                                   Abi::ApiEndpointRegistration* registration,
                                   const std::string& path, CallArguments& arguments,
                                   Random& random) {
  for (std::size_t index = 0; index < arguments.entries.size(); ++index) {
    arguments.entries[index].name = arguments.names[index].c_str();
  }
  Abi::HttpRequestRecord request{};
  request.method = endpoint.method == 0 ? Abi::kHttpMethodGet : endpoint.method;
  request.path = path.c_str();
  request.arguments = arguments.entries.empty() ? nullptr : arguments.entries.data();
  request.argumentCount = static_cast<std::uint32_t>(arguments.entries.size());
  request.endpoint = registration;
  request.customMethod = endpoint.method == 8 ? endpoint.customMethod.c_str() : nullptr;
  request.context = static_cast<Abi::HostWord>(random() & 0xffff);
  return request;
}

}  // namespace

using detail::ChangesState;
using detail::pendingMirrors;
using detail::threadRandom;
using detail::watchedCall;

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
  const ApiEndpoint* endpoint = model_ ? model_->FindEndpoint(functionName) : nullptr;
  const auto entry = module.endpoints.find(functionName);
  if (endpoint == nullptr || entry == module.endpoints.end()) return {};
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
  CallArguments arguments;
  AddArguments(*model_, *endpoint, variant, random, brokenEntry, fixed != nullptr || unbindable,
               arguments);
  const Abi::HttpRequestRecord request =
      MakeRequest(*endpoint, entry->second.registration, path, arguments, random);
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
  for (Abi::HttpArgumentEntry& argument : arguments.entries) FreeHostValue(argument.value);

  const std::string where = functionName + " (" + path + ")";
  CheckCallReply(response, where, stopBegan, watched);
  if (unbindable) {
    CheckUnbindableReply(response, where, *endpoint,
                         brokenCapture.empty() ? brokenEntry : brokenCapture, watched);
  }
  return TakeReply(response, where);
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

}  // namespace Kavren::Host
