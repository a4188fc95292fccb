// The message intake: notifications from the login data packet and from server pushes.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "player_messaging/notification_service.h"
#include "player_messaging/records.h"

namespace Kavren::Client::PlayerMessaging {

/// Turns the messages of the login data packet and the server's pushes into
/// notifications of the service: "pss-player-message" into player messages,
/// "dynamic-celebration" into celebrations; every other type is ignored.
/// [thread-safe] As the service: pushes arrive in jobs on several host threads.
class MessageIntake {
 public:
  /// Adds to `service`, which outlives the intake.
  explicit MessageIntake(NotificationService& service);

  /// Replaces both stores with what the packet's messages yield and takes its account.
  void HandleLoginDataPacket(const std::string& uri, const Api::LoginDataPacket& packet);
  /// Adds what a pushed message yields; the stores and the account stay otherwise.
  void HandleServerMessage(const Qrms::SimpleDialogMessage& message);
  /// A notification from a message's parameters: every parameter that reads as JSON takes
  /// a new id and sets the texts from its string members "title" and "message"; status 1
  /// when one did, else the empty record.
  [[nodiscard]] Notification NotificationFromParams(const std::vector<std::string>& params);
  /// A celebration from exactly five parameters (type, message, inventory type, item,
  /// quantity), with a new id and status 1; otherwise logs the parameter error and
  /// answers the empty record.
  [[nodiscard]] Celebration CelebrationFromParams(const std::vector<std::string>& params);

 private:
  // Applies the message rule to one message of either source.
  void ApplyMessage(const Api::SimpleMessage& message);
  // Reads the parameters of a player message: the texts of the last one that reads as
  // JSON go into `record`; answers how many read (each of them takes an id).
  static std::size_t ReadNotificationParams(const std::vector<std::string>& params,
                                            Notification& record);
  // Fills `record` from exactly five parameters; otherwise logs the parameter error and
  // answers false.
  static bool ReadCelebrationParams(const std::vector<std::string>& params, Celebration& record);

  NotificationService& service_;
};

}  // namespace Kavren::Client::PlayerMessaging
