// The application module: host forwarding, start sequence and function table.
#include "plugin/app_module.h"

#include <atomic>
#include <cstring>

#include "formats/builtin_types.h"
#include "http/router.h"
#include "log/log.h"
#include "log/log_manager.h"
#include "plugin/boundary.h"
#include "plugin/framework_types.h"
#include "plugin/messages.h"
#include "util/accounting.h"
#include "util/format.h"

namespace Kavren {
namespace {

// The context is checked against the directory before it is followed: a Start after
// Stop (or with a context that never was a module) does nothing.
bool HXA_CDECL StartEntry(void* context, Abi::HostInterface* host) {
  try {
    const ModulePin pin = ModuleDirectory::PinByAddress(context);
    if (!pin) {
      ReportHostCallFailure(PluginMessages::kStartCall, PluginMessages::kNoRunningModule);
      return false;
    }
    return static_cast<AppModule*>(context)->StartWithHost(host);
  } catch (...) {
    ReportCurrentException(PluginMessages::kStartCall);
    return false;
  }
}

// Stop closes the module to the host at once; the module itself goes when the last call
// still inside it (a job, an event, an endpoint call, a Start) returns, or here.
void HXA_CDECL StopEntry(void* context) {
  ModulePin stop = ModuleDirectory::BeginStop(context);
  if (!stop) {
    ReportHostCallFailure(PluginMessages::kStopCall, PluginMessages::kNoRunningModule);
    return;
  }
  static_cast<AppModule*>(context)->EndHostSession();
}

// The request entry of every endpoint descriptor: the descriptor carries a ticket, and
// only a running module that handed it out gets the request, with its registration.
void HXA_CDECL ModuleRequestEntry(Abi::HttpResponseRecord* response,
                                  const Abi::HttpRequestRecord* request) {
  if (response == nullptr) return;
  const auto ticket = request != nullptr ? reinterpret_cast<std::uintptr_t>(request->endpoint) : 0;
  const ModuleDirectory::PinnedEndpoint found = ModuleDirectory::PinByEndpoint(ticket);
  if (!found.pin || found.endpoint.entry == nullptr) {
    ReportHostCallFailure(PluginMessages::kRequestEntryCall, PluginMessages::kNoRunningModule);
    // The router's answer to a request without a registration.
    RouterRequestEntry(response, nullptr);
    return;
  }
  Abi::HttpRequestRecord forwarded;
  std::memcpy(static_cast<void*>(&forwarded), request, sizeof(forwarded));
  forwarded.endpoint = found.endpoint.registration;
  found.endpoint.entry(response, &forwarded);
}

// How the directory destroys a module after Stop.
void DestroyStoppedModule(EventLayer* layer) noexcept {
  auto* module = static_cast<AppModule*>(layer);
  module->~AppModule();
  Accounting::Free(module);
}

void HXA_CDECL GetMemoryStatsEntry(void*, Abi::PluginMemoryStats* stats) {
  if (stats == nullptr) return;
  const Accounting::Counters counters = Accounting::ReadCounters();
  stats->peakBytes = counters.peakBytes;
  stats->peakBlocks = counters.peakBlocks;
  stats->allocatedBytes = counters.allocatedBytes;
  stats->allocations = counters.allocations;
  stats->freedBytes = counters.freedBytes;
  stats->frees = counters.frees;
  stats->reserved0 = 0;
  stats->reserved1 = 0;
}

// Lives as long as the library: a host may read it again after Stop.
Abi::PluginFunctionTable functionTable{StartEntry, StopEntry, GetMemoryStatsEntry};

}  // namespace

AppModule::AppModule() {
  AttachRegistry(registry_);
  router_ = std::make_unique<Router>(registry_);
  SetDestruction(&DestroyStoppedModule, static_cast<const void*>(this));
}

AppModule::~AppModule() {
  router_.reset();
  apiTags_.clear();
  identity_ = PluginIdentity{};
  logTarget_.reset();
  coreApiVersion_.prerelease.clear();
  coreApiVersion_.build.clear();
}

Abi::PluginFunctionTable* AppModule::FunctionTable() { return &functionTable; }

Abi::HostFunctions* AppModule::HostTable() const {
  // After Stop the host's tables may be gone: nothing reaches the host any more.
  if (HostClosed()) return nullptr;
  Abi::HostInterface* host = host_.load();
  return host != nullptr ? host->functions : nullptr;
}

void AppModule::Call(Abi::HttpResponseRecord* response, const Abi::HttpRequestRecord* request) {
  if (Abi::HostFunctions* table = HostTable()) table->Call(table, response, request);
}

void AppModule::Reserved(Abi::HostWord first, Abi::HostWord second) {
  if (Abi::HostFunctions* table = HostTable()) table->Reserved(table, first, second);
}

void AppModule::PublishEvent(const Abi::HostEventRecord* event) {
  if (Abi::HostFunctions* table = HostTable()) table->PublishEvent(table, event);
}

void AppModule::SubscribeWithHost(const char* eventName, std::uint32_t cookie,
                                  Abi::HostEventCallback callback, void* context,
                                  std::int32_t flag) {
  if (Abi::HostFunctions* table = HostTable()) {
    table->Subscribe(table, eventName, cookie, callback, context, flag);
  }
}

void AppModule::UnsubscribeWithHost(const char* eventName, std::uint32_t cookie) {
  if (Abi::HostFunctions* table = HostTable()) table->Unsubscribe(table, eventName, cookie);
}

void AppModule::ScheduleJob(const char* label, Abi::HostJobCallback job, void* context,
                            double delaySeconds, std::int32_t flags) {
  if (Abi::HostFunctions* table = HostTable()) {
    table->ScheduleJob(table, label, job, context, delaySeconds, flags);
  }
}

void AppModule::Pump() {
  if (Abi::HostFunctions* table = HostTable()) table->Pump(table);
}

void AppModule::BeginWait(const std::string& label) {
  if (Abi::HostFunctions* table = HostTable()) table->BeginWait(table, label.c_str(), 0);
}

void AppModule::EndWait() {
  if (Abi::HostFunctions* table = HostTable()) table->EndWait(table);
}

void AppModule::RegisterEndpoints() {}

bool AppModule::OnStart() { return true; }

void AppModule::SetCoreApiVersion(const PluginApiVersion& version) { coreApiVersion_ = version; }

void AppModule::SetIdentity(const std::string& shortName, const PluginType& type) {
  identity_.fullName = GetFullNameFromShortNameAndType(shortName, type);
  identity_.shortName = shortName;
  identity_.type = type;
}

void AppModule::SetApiTagsFromIdentity() {
  apiTags_ = {PluginMessages::kPluginsTag, PluginMessages::kPluginTagPrefix + identity_.shortName};
  router_->SetApiTags(apiTags_);
}

void AppModule::RegisterFrameworkTypes() {
  registry_.Reinitialise(&RegisterBuiltinTypes);
  RegisterPluginManagerTypes(registry_, apiTags_);
}

MaybeType<Failure, void> AppModule::Await(FailureFuture& future) {
  // Once Stop has closed the module nothing pumps the host any more, so nothing may
  // complete the future: the wait ends with a failure instead of spinning for ever.
  class ClosingWaiting final : public HostWaiting {
   public:
    explicit ClosingWaiting(AppModule& module) : module_(module) {}
    void BeginWait(const std::string& label, std::int32_t) override { module_.BeginWait(label); }
    MaybeType<Failure, void> Pump() override {
      if (module_.HostClosed()) {
        return Failure{0, FailureMessage::Constant(PluginMessages::kStoppedWhileWaiting)};
      }
      module_.Pump();
      return MaybeType<Failure, void>::Success();
    }
    void EndWait() override { module_.EndWait(); }

   private:
    AppModule& module_;
  };
  ClosingWaiting waiting(*this);
  return Kavren::Await(waiting, future);
}

void AppModule::Yield() { Kavren::Yield(Waiting()); }

void AppModule::BuildApiBlock() {
  apiBlock_ = router_->BuildApiBlock();
  InstallEndpoints(apiBlock_, &ModuleRequestEntry);
}

bool AppModule::StartWithHost(Abi::HostInterface* host) {
  if (host == nullptr || host->functions == nullptr) {
    ReportHostCallFailure("Start", PluginMessages::kNoHostInterface);
    return false;
  }
  if (started_.exchange(true)) {
    ReportHostCallFailure(PluginMessages::kStartCall, PluginMessages::kStartedAlready);
    return false;
  }
  {
    std::lock_guard<std::mutex> guard(logTargetLock_);
    if (!InstallPluginLogTarget(host->functions, logTarget_)) {
      // Nothing was changed: the console targets keep the logs, and the host may try
      // the start again.
      started_.store(false);
      ReportHostCallFailure(PluginMessages::kStartCall, PluginMessages::kNoLogTarget);
      return false;
    }
    host_.store(host);
  }
  std::string userAgent =
      Format(PluginMessages::kUserAgent, VersionText(coreApiVersion_), identity_.shortName);
  BeginHostSession(host->functions, host->cookie, std::move(userAgent));
  const bool result = OnStart();
  // A Stop from inside the start (the host answering a call by stopping) wins.
  return result && !HostClosed();
}

void AppModule::EndHostSession() noexcept {
  try {
    Shutdown();
  } catch (...) {
    ReportCurrentException(PluginMessages::kStopCall);
  }
  CloseHost();
  // Records of calls still inside go nowhere rather than to a host that has stopped.
  bool heldTarget = false;
  {
    std::lock_guard<std::mutex> guard(logTargetLock_);
    heldTarget = logTarget_ != nullptr;
    logTarget_.reset();
  }
  if (!heldTarget) return;
  // The modules that started after this one found its target and made none: the first
  // that can takes over. No directory lock is held here, as installing takes the log
  // manager's, under which the host may call into the plugin.
  try {
    for (const ModulePin& pin : ModuleDirectory::PinAllRunning()) {
      if (static_cast<AppModule*>(pin.Module())->AdoptLogTarget()) break;
    }
  } catch (...) {
    ReportCurrentException(PluginMessages::kStopCall);
  }
}

bool AppModule::AdoptLogTarget() noexcept {
  std::lock_guard<std::mutex> guard(logTargetLock_);
  // Checked under the lock that EndHostSession takes after closing: a module that has
  // begun to stop never gets a target.
  Abi::HostInterface* host = host_.load();
  if (host == nullptr || host->functions == nullptr || HostClosed()) return false;
  return InstallPluginLogTarget(host->functions, logTarget_) && logTarget_ != nullptr;
}

void DestroyModule(AppModule* module) noexcept {
  if (module == nullptr) return;
  try {
    module->Shutdown();
  } catch (...) {
    ReportCurrentException("Stop");
  }
  module->~AppModule();
  Accounting::Free(module);
}

}  // namespace Kavren
