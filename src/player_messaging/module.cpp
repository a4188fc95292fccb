// The player-messaging module.
#include "player_messaging/module.h"

#include "player_messaging/records.h"
#include "plugin/messages.h"

namespace Kavren::Client::PlayerMessaging {

// The notification stores and the endpoints arrive with the notification service.
PlayerMessagingModule::PlayerMessagingModule() = default;

PlayerMessagingModule::~PlayerMessagingModule() = default;

void PlayerMessagingModule::RegisterEndpoints() {
  RegisterRecords(Registry(), ApiTags(), ServerClasses());
}

bool PlayerMessagingModule::OnStart() { return true; }

PluginDefinition PlayerMessagingPlugin() {
  return DefinePlugin<PlayerMessagingModule>(kShortName, PluginText::kBackendTypeName);
}

}  // namespace Kavren::Client::PlayerMessaging
