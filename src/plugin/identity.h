// A plugin's identity: its full name, short name and type, and the full-name rule.
#pragma once

#include <string>

#include "util/version.h"

namespace Kavren {

/// The names under which the host knows a plugin.
struct PluginIdentity {
  std::string fullName;  // e.g. qdx-be-hxa-player-messaging
  std::string shortName;
  PluginType type;
};

/// The two predefined plugin types: ("backend", "") and ("frontend", "").
[[nodiscard]] PluginType BackendPluginType();
[[nodiscard]] PluginType FrontendPluginType();

/// "qdx-be-", "qdx-fe-" or "qdx-xx-" by the type's name (exact, case-sensitive),
/// followed by `shortName`. Any other type name logs the unknown-type message
/// at level 2; it is not an error.
[[nodiscard]] std::string GetFullNameFromShortNameAndType(const std::string& shortName,
                                                          const PluginType& type);

}  // namespace Kavren
