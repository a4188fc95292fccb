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

void InstallPluginLogTarget(Abi::HostFunctions* host,
                            std::unique_ptr<PluginLogTarget>& moduleTarget) noexcept {
  const LogApi& api = GetLogApi();
  if (api.FindTarget(detail::kPluginLogTargetName) != nullptr) return;

  for (LogTargetEntry* builtIn : {api.StdOutTarget(), api.StdErrTarget(), api.DebuggerTarget()}) {
    builtIn->Detach(builtIn);
  }
  api.SetMinimumLevel(kLogLevelOkay);
  api.SetExcludedGroups(kLogGroupXtr);

  std::unique_ptr<PluginLogTarget> target(new (std::nothrow) PluginLogTarget(host));
  if (target == nullptr) return;
  moduleTarget = std::move(target);

  LogTargetSettings settings;
  settings.level = api.GetMinimumLevel();
  try {
    settings.pattern = detail::kDefaultPattern;
  } catch (...) {
    return;
  }
  Configure(*moduleTarget, settings);
}

}  // namespace Kavren
