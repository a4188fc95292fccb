// The application module: host forwarding, start sequence and function table.
#include "plugin/app_module.h"

#include "formats/builtin_types.h"
#include "log/log.h"
#include "log/log_manager.h"
#include "plugin/boundary.h"
#include "plugin/framework_types.h"
#include "plugin/messages.h"
#include "util/accounting.h"
#include "util/format.h"

namespace Kavren {
namespace {

bool HXA_CDECL StartEntry(void* context, Abi::HostInterface* host) {
  try {
    if (context == nullptr) {
      ReportHostCallFailure("Start", PluginText::kModuleNotCreated);
      return false;
    }
    return static_cast<AppModule*>(context)->StartWithHost(host);
  } catch (...) {
    ReportCurrentException("Start");
    return false;
  }
}

void HXA_CDECL StopEntry(void* context) {
  if (context == nullptr) return;
  DestroyModule(static_cast<AppModule*>(context));
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

}  // namespace

AppModule::AppModule() {
  LogManager::Acquire();
  AttachRegistry(registry_);
  router_ = std::make_unique<Router>(registry_);
  functionTable_.Start = StartEntry;
  functionTable_.Stop = StopEntry;
  functionTable_.GetMemoryStats = GetMemoryStatsEntry;
}

AppModule::~AppModule() {
  router_.reset();
  apiTags_.clear();
  identity_ = PluginIdentity{};
  logTarget_.reset();
  coreApiVersion_.prerelease.clear();
  coreApiVersion_.build.clear();
  LogManager::Release();
}

Abi::HostFunctions* AppModule::HostTable() const {
  return host_ != nullptr ? host_->functions : nullptr;
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
  apiTags_ = {PluginText::kPluginsTag, PluginText::kPluginTagPrefix + identity_.shortName};
  router_->SetApiTags(apiTags_);
}

void AppModule::RegisterFrameworkTypes() {
  registry_.Reinitialise(&RegisterBuiltinTypes);
  RegisterPluginManagerTypes(registry_, apiTags_);
}

MaybeType<Failure, void> AppModule::Await(FailureFuture& future) {
  return Kavren::Await(Waiting(), future);
}

void AppModule::Yield() { Kavren::Yield(Waiting()); }

void AppModule::BuildApiBlock() { apiBlock_ = router_->BuildApiBlock(); }

bool AppModule::StartWithHost(Abi::HostInterface* host) {
  if (host == nullptr || host->functions == nullptr) {
    ReportHostCallFailure("Start", PluginText::kNoHostInterface);
    return false;
  }
  host_ = host;
  InstallPluginLogTarget(host->functions, logTarget_);
  std::string userAgent =
      Format(PluginText::kUserAgent, VersionText(coreApiVersion_), identity_.shortName);
  const std::string started = Format(PluginText::kStarted, identity_.shortName, userAgent);
  BeginHostSession(host->functions, host->cookie, std::move(userAgent));
  const bool result = OnStart();
  if (result) {
    LogPrintf(kLogLevelOkay, static_cast<std::uint32_t>(kLogGroupDbg), 0,
              PluginText::kPluginManagerLine, started.c_str());
  }
  return result;
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
