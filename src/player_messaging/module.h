// The player-messaging module: the plugin's own layer over the application module.
#pragma once

#include "plugin/app_module.h"
#include "plugin/entry.h"

namespace Kavren::Client::PlayerMessaging {

/// The plugin's short name; its full name is qdx-be-hxa-player-messaging.
inline constexpr const char kShortName[] = "hxa-player-messaging";

/// Registers the plugin's records and endpoints at load and starts its work at
/// Start. Holds the two notification stores.
class PlayerMessagingModule : public AppModule {
 public:
  PlayerMessagingModule();
  /// Empties the two notification stores before the application module goes.
  ~PlayerMessagingModule() override;

  void RegisterEndpoints() override;
  [[nodiscard]] bool OnStart() override;
};

/// The definition the plugin's export loads: a backend plugin of this module.
[[nodiscard]] PluginDefinition PlayerMessagingPlugin();

}  // namespace Kavren::Client::PlayerMessaging
