// The plugin's API version and the compatibility test.
#include "plugin/api_version.h"

#include <tuple>

namespace Kavren {

PluginApiVersion OwnPluginApiVersion() {
  return PluginApiVersion{kPluginApiMajor, kPluginApiMinor, kPluginApiPatch, {}, {}};
}

bool IsCompatible(const PluginApiVersion& plugin, const PluginApiVersion& core) {
  return core.major == plugin.major &&
         std::tie(core.minor, core.patch) >= std::tie(plugin.minor, plugin.patch);
}

}  // namespace Kavren
