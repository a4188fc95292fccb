// The load.* checks and api.block: what the export, the API block and a second module
// beside the first must do.
#pragma once

#include "host/validate/check_support.h"

namespace Kavren::Host::detail {

/// load.export: one module loaded, started and stopped with no traffic.
[[nodiscard]] CheckBodyResult LoadExport(const CheckSpec& check, const CheckContext& context,
                                         const Probe& probe);
/// api.block: every endpoint's URL template is a path, no two endpoints share a name, and
/// every event's payload type is described.
[[nodiscard]] CheckBodyResult ApiBlock(const CheckSpec& check, const CheckContext& context,
                                       const Probe& probe);
/// load.second-module: a second module loaded, called, stopped and loaded again beside
/// the first, which stops before the second's last calls.
[[nodiscard]] CheckBodyResult LoadSecondModule(const CheckSpec& check, const CheckContext& context,
                                               const Probe& probe);
/// load.concurrent-load: endpoint calls on several threads while thread 0 loads and stops
/// a second module forty times.
[[nodiscard]] CheckBodyResult LoadConcurrentLoad(const CheckSpec& check,
                                                 const CheckContext& context, const Probe& probe);

}  // namespace Kavren::Host::detail
