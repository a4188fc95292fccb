// The log target that forwards each record's level and message to the host.
#pragma once

#include <memory>

#include "abi/host.h"
#include "log/log_target.h"

namespace Kavren {

/// Passes each record's level and plain message (not the rendered line) to
/// the host's `Log` function. The host table must outlive the target.
class PluginLogTarget final : public LogTarget {
 public:
  explicit PluginLogTarget(Abi::HostFunctions* host) noexcept;
  ~PluginLogTarget() override;

  [[nodiscard]] const char* GetName() const noexcept override;
  [[nodiscard]] Abi::HostFunctions* Host() const noexcept { return host_; }

 protected:
  /// Always reports success; a host table without a `Log` entry writes nothing.
  bool DoWrite(const LogRecord& record) override;

 private:
  Abi::HostFunctions* const host_;
};

/// The plugin log target set-up, run when the application module starts.
/// When a target named "PluginLogTarget" is attached already, nothing changes.
/// Otherwise a new PluginLogTarget on `host`, configured with level 0, no groups and
/// the pattern "#D| #L| #G| #M", is attached; then the built-in standard-output,
/// standard-error and debugger targets are detached, the manager's minimum level
/// becomes 0 and its excluded groups "XTR" only, and the new target replaces (and
/// destroys) `moduleTarget`'s previous one. True when the logs reach a plugin log
/// target. Never throws; when the target cannot be made or attached nothing changes
/// (the console targets keep the logs) and the answer is false.
[[nodiscard]] bool InstallPluginLogTarget(Abi::HostFunctions* host,
                                          std::unique_ptr<PluginLogTarget>& moduleTarget) noexcept;

}  // namespace Kavren
