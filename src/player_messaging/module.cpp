// The player-messaging module: registration and start-up.
#include "player_messaging/module.h"

#include "player_messaging/messages.h"
#include "player_messaging/records.h"
#include "plugin/messages.h"
#include "plugin/server_bridge.h"

namespace Kavren::Client::PlayerMessaging {

PlayerMessagingModule::PlayerMessagingModule() : service_(*this), intake_(service_) {}

void PlayerMessagingModule::RegisterEndpoints() {
  RegisterRecords(Registry(), ApiTags(), ServerClasses());
  service_.RegisterEndpoints(EndpointRouter());
}

bool PlayerMessagingModule::OnStart() {
  ObserveResource<Api::LoginDataPacket>(
      PlayerMessagingMessages::kLoginDataPacketUri,
      [this](const std::string& uri, const Api::LoginDataPacket& packet) {
        intake_.HandleLoginDataPacket(uri, packet);
      });
  RegisterQrmsHandler<Qrms::SimpleDialogMessage>(
      kSimpleDialogMessageClass,
      [this](const Qrms::SimpleDialogMessage& message) { intake_.HandleServerMessage(message); });
  return true;
}

PluginDefinition PlayerMessagingPlugin() {
  return DefinePlugin<PlayerMessagingModule>(kShortName, PluginMessages::kBackendTypeName);
}

}  // namespace Kavren::Client::PlayerMessaging
