// The host-forwarding log target and its installation at module start.
#include "log/plugin_log_target.h"

#include <new>

#include "log/log_manager.h"
#include "log/messages.h"

namespace Kavren {

PluginLogTarget::PluginLogTarget(Abi::HostFunctions* host) noexcept : host_(host) {}

PluginLogTarget::~PluginLogTarget() { Detach(); }

const char* PluginLogTarget::GetName() const noexcept { return detail::kPluginLogTargetName; }

bool PluginLogTarget::DoWrite(const LogRecord& record) {
  if (host_ != nullptr && host_->Log != nullptr) host_->Log(host_, record.level, record.message);
  return true;
}

bool InstallPluginLogTarget(Abi::HostFunctions* host,
                            std::unique_ptr<PluginLogTarget>& moduleTarget) noexcept {
  const LogApi& api = GetLogApi();
  if (api.FindTarget(detail::kPluginLogTargetName) != nullptr) return true;

  // The new target is made and attached before anything else changes: when the heap
  // refuses, the console targets still have the logs and nothing needs undoing.
  std::unique_ptr<PluginLogTarget> target(new (std::nothrow) PluginLogTarget(host));
  if (target == nullptr) return false;
  LogTargetSettings settings;
  settings.level = kLogLevelOkay;
  try {
    settings.pattern = detail::kDefaultPattern;
  } catch (...) {
    return false;
  }
  Configure(*target, settings);
  if (!target->IsAttached()) return false;

  for (LogTargetEntry* builtIn : {api.StdOutTarget(), api.StdErrTarget(), api.DebuggerTarget()}) {
    builtIn->Detach(builtIn);
  }
  api.SetMinimumLevel(kLogLevelOkay);
  api.SetExcludedGroups(kLogGroupXtr);
  moduleTarget = std::move(target);
  return true;
}

}  // namespace Kavren
