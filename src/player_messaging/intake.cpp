// The message intake: notifications from the login data packet and from server pushes.
#include "formats/json.h"
#include "log/log.h"
#include "player_messaging/messages.h"
#include "player_messaging/module.h"

namespace Kavren::Client::PlayerMessaging {
namespace {

// The member `name` of `document` when it is a string, else the empty text.
std::string StringMember(const BindingProperty& document, const char* name) {
  const BindingProperty& member = document.Find(name);
  return member.Is(ValueKind::kString) ? std::string(member.GetString()) : std::string();
}

}  // namespace

void PlayerMessagingModule::HandleLoginDataPacket(const std::string& /*uri*/,
                                                  const Api::LoginDataPacket& packet) {
  ClearStores();
  {
    std::lock_guard<std::mutex> guard(stateLock_);
    accountId_ = packet.allVelkinData.velkin.acctId;
  }
  for (const Api::SimpleMessage& message : packet.simpleMessages) {
    ApplyMessage(message.type, message.msgId, message.titleCode, message.bodyCode, message.params);
  }
}

void PlayerMessagingModule::HandleServerMessage(const Qrms::SimpleDialogMessage& message) {
  ApplyMessage(message.type, message.msgId, message.titleCode, message.bodyCode, message.params);
}

void PlayerMessagingModule::ApplyMessage(const std::string& type, const std::string& msgId,
                                         const std::string& titleCode, const std::string& bodyCode,
                                         const std::vector<std::string>& params) {
  if (type == Text::kPlayerMessageType) {
    Notification notification = NotificationFromParams(params);
    if (notification.status != 1) return;
    notification.msgId = msgId;
    AddNotification(notification);
  } else if (type == Text::kCelebrationType) {
    Celebration celebration = CelebrationFromParams(params);
    if (celebration.status != 1) return;
    celebration.msgId = msgId;
    celebration.celebrationTitle = titleCode;
    celebration.celebrationBody = bodyCode;
    AddCelebration(celebration);
  }
}

PlayerMessagingModule::Notification PlayerMessagingModule::NotificationFromParams(
    const std::vector<std::string>& params) {
  Notification record;
  for (const std::string& param : params) {
    const BindingResult document = ReadJson(param);
    if (!document.ok) continue;
    record.id = NextNotificationId();
    record.title = StringMember(document.value, Text::kTitleMember);
    record.body = StringMember(document.value, Text::kMessageMember);
    record.status = 1;
  }
  return record;
}

PlayerMessagingModule::Celebration PlayerMessagingModule::CelebrationFromParams(
    const std::vector<std::string>& params) {
  if (params.size() != 5) {
    LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0, "%s",
              Text::kCelebrationParameterError);
    return Celebration{};
  }
  Celebration record;
  record.id = NextCelebrationId();
  record.celebrationType = params[0];
  record.celebrationMessage = params[1];
  record.inventoryType = params[2];
  record.itemId = params[3];
  record.itemQuantity = params[4];
  record.status = 1;
  return record;
}

}  // namespace Kavren::Client::PlayerMessaging
