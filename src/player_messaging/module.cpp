// The player-messaging module.
#include "player_messaging/module.h"

#include "plugin/messages.h"

namespace Kavren::Client::PlayerMessaging {

// The notification stores, the records and the endpoints arrive with the
// notification service; until then the module adds nothing to its base.
PlayerMessagingModule::PlayerMessagingModule() = default;

PlayerMessagingModule::~PlayerMessagingModule() = default;

void PlayerMessagingModule::RegisterEndpoints() {}

bool PlayerMessagingModule::OnStart() { return true; }

PluginDefinition PlayerMessagingPlugin() {
  return DefinePlugin<PlayerMessagingModule>(kShortName, PluginText::kBackendTypeName);
}

}  // namespace Kavren::Client::PlayerMessaging
