// The player-messaging module: the plugin's own layer over the application module.
#pragma once

#include "player_messaging/intake.h"
#include "player_messaging/notification_service.h"
#include "plugin/app_module.h"
#include "plugin/entry.h"

namespace Kavren::Client::PlayerMessaging {

/// The plugin's short name; its full name is qdx-be-hxa-player-messaging.
inline constexpr const char kShortName[] = "hxa-player-messaging";

/// Registers the plugin's records and endpoints at load and starts its work at Start.
/// Holds the notification service, whose two stores are served by four endpoints, and
/// the message intake, which fills them from the login data packet and from server
/// pushes.
class PlayerMessagingModule : public AppModule {
 public:
  PlayerMessagingModule();

  /// [at load] The records, then the two read and the two acknowledge endpoints.
  void RegisterEndpoints() override;
  /// [host thread, at Start] Observes the login data packet (read and handled at once)
  /// and handles pushed messages; true.
  [[nodiscard]] bool OnStart() override;

  [[nodiscard]] NotificationService& Service() { return service_; }
  [[nodiscard]] MessageIntake& Intake() { return intake_; }

 private:
  // Both go before the application module: the stores are emptied while the event
  // layer and the registry still stand.
  NotificationService service_;
  MessageIntake intake_;
};

/// The definition the plugin's export loads: a backend plugin of this module.
[[nodiscard]] PluginDefinition PlayerMessagingPlugin();

}  // namespace Kavren::Client::PlayerMessaging
