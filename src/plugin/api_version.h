// The plugin's own plugin-API version and the compatibility test against the core's.
#pragma once

#include <cstdint>

#include "util/version.h"

namespace Kavren {

/// The plugin API this plugin is built for: 18.0.0.
inline constexpr std::uint32_t kPluginApiMajor = 18;
inline constexpr std::uint32_t kPluginApiMinor = 0;
inline constexpr std::uint32_t kPluginApiPatch = 0;

/// 18.0.0 with empty labels.
[[nodiscard]] PluginApiVersion OwnPluginApiVersion();

/// True when the core's major equals the plugin's and the core's (minor, patch)
/// is not lower than the plugin's; the labels play no part.
[[nodiscard]] bool IsCompatible(const PluginApiVersion& plugin, const PluginApiVersion& core);

}  // namespace Kavren
