// The player-messaging module: registration and start-up.
#include "player_messaging/module.h"

#include <functional>

#include "player_messaging/messages.h"
#include "player_messaging/records.h"
#include "plugin/messages.h"

namespace Kavren::Client::PlayerMessaging {

PlayerMessagingModule::PlayerMessagingModule() = default;

PlayerMessagingModule::~PlayerMessagingModule() { ClearStores(); }

void PlayerMessagingModule::RegisterEndpoints() {
  RegisterRecords(Registry(), ApiTags(), ServerClasses());
  Router& router = EndpointRouter();
  router.RegisterEndpoint(HttpMethod::Get, Text::kNotificationUri,
                          [this]() -> Notification { return HeadNotification(); });
  router.RegisterEndpoint(
      HttpMethod::Delete, Text::kNotificationAcknowledgeUri,
      [this](std::int32_t id) -> MaybeType<Failure, void> { return AcknowledgeNotification(id); },
      {PathArgument(Text::kIdArgument)});
  router.RegisterEndpoint(HttpMethod::Get, Text::kCelebrationUri,
                          [this]() -> Celebration { return HeadCelebration(); });
  router.RegisterEndpoint(
      HttpMethod::Delete, Text::kCelebrationAcknowledgeUri,
      [this](std::int32_t id) -> MaybeType<Failure, void> { return AcknowledgeCelebration(id); },
      {PathArgument(Text::kIdArgument)});
}

bool PlayerMessagingModule::OnStart() {
  ObserveResource<Api::LoginDataPacket>(
      Text::kLoginDataPacketUri,
      [this](const std::string& uri, const Api::LoginDataPacket& packet) {
        HandleLoginDataPacket(uri, packet);
      });
  RegisterQrmsHandler<Qrms::SimpleDialogMessage>(
      kSimpleDialogMessageClass,
      [this](const Qrms::SimpleDialogMessage& message) { HandleServerMessage(message); });
  return true;
}

PluginDefinition PlayerMessagingPlugin() {
  return DefinePlugin<PlayerMessagingModule>(kShortName, PluginText::kBackendTypeName);
}

}  // namespace Kavren::Client::PlayerMessaging
