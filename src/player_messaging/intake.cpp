// The message intake: notifications from the login data packet and from server pushes.
#include "player_messaging/intake.h"

#include <utility>

#include "formats/json.h"
#include "log/log.h"
#include "player_messaging/messages.h"

namespace Kavren::Client::PlayerMessaging {
namespace {

// The member `name` of `document` when it is a string, else the empty text.
std::string StringMember(const BindingProperty& document, const char* name) {
  const BindingProperty& member = document.Find(name);
  return member.Is(ValueKind::kString) ? std::string(member.GetString()) : std::string();
}

}  // namespace

MessageIntake::MessageIntake(NotificationService& service) : service_(service) {}

void MessageIntake::HandleLoginDataPacket(const std::string& /*uri*/,
                                          const Api::LoginDataPacket& packet) {
  service_.ClearStores();
  service_.SetAccountId(packet.allVelkinData.velkin.acctId);
  for (const Api::SimpleMessage& message : packet.simpleMessages) ApplyMessage(message);
}

void MessageIntake::HandleServerMessage(const Qrms::SimpleDialogMessage& message) {
  ApplyMessage(message);
}

void MessageIntake::ApplyMessage(const Api::SimpleMessage& message) {
  if (message.type == PlayerMessagingMessages::kPlayerMessageType) {
    Notification notification;
    const std::size_t idsTaken = ReadNotificationParams(message.params, notification);
    if (idsTaken == 0) return;
    notification.msgId = message.msgId;
    notification.status = 1;
    service_.AddNumberedNotification(std::move(notification), static_cast<std::int32_t>(idsTaken));
  } else if (message.type == PlayerMessagingMessages::kCelebrationType) {
    Celebration celebration;
    if (!ReadCelebrationParams(message.params, celebration)) return;
    celebration.msgId = message.msgId;
    celebration.celebrationTitle = message.titleCode;
    celebration.celebrationBody = message.bodyCode;
    celebration.status = 1;
    service_.AddNumberedCelebration(std::move(celebration));
  }
}

std::size_t MessageIntake::ReadNotificationParams(const std::vector<std::string>& params,
                                                  Notification& record) {
  std::size_t read = 0;
  for (const std::string& param : params) {
    const BindingResult document = ReadJson(param);
    if (!document.ok) continue;
    ++read;
    record.title = StringMember(document.value, PlayerMessagingMessages::kTitleMember);
    record.body = StringMember(document.value, PlayerMessagingMessages::kMessageMember);
  }
  return read;
}

bool MessageIntake::ReadCelebrationParams(const std::vector<std::string>& params,
                                          Celebration& record) {
  if (params.size() != 5) {
    LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0, "%s",
              PlayerMessagingMessages::kCelebrationParameterError);
    return false;
  }
  record.celebrationType = params[0];
  record.celebrationMessage = params[1];
  record.inventoryType = params[2];
  record.itemId = params[3];
  record.itemQuantity = params[4];
  return true;
}

Notification MessageIntake::NotificationFromParams(const std::vector<std::string>& params) {
  Notification record;
  const std::size_t read = ReadNotificationParams(params, record);
  for (std::size_t index = 0; index < read; ++index) record.id = service_.NextNotificationId();
  if (read > 0) record.status = 1;
  return record;
}

Celebration MessageIntake::CelebrationFromParams(const std::vector<std::string>& params) {
  Celebration record;
  if (!ReadCelebrationParams(params, record)) return Celebration{};
  record.id = service_.NextCelebrationId();
  record.status = 1;
  return record;
}

}  // namespace Kavren::Client::PlayerMessaging
