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
  // The ids are taken and the record appended in one step under the state lock: the
  // host runs pushes on several threads, and a store must stay in id order.
  if (type == Text::kPlayerMessageType) {
    Notification notification;
    const std::size_t idsTaken = ReadNotificationParams(params, notification);
    if (idsTaken == 0) return;
    notification.msgId = msgId;
    notification.status = 1;
    {
      std::lock_guard<std::mutex> guard(stateLock_);
      lastNotificationId_ += static_cast<std::int32_t>(idsTaken);
      notification.id = lastNotificationId_;
      notifications_.push_back(std::move(notification));
    }
    AnnounceNotifications();
  } else if (type == Text::kCelebrationType) {
    Celebration celebration;
    if (!ReadCelebrationParams(params, celebration)) return;
    celebration.msgId = msgId;
    celebration.celebrationTitle = titleCode;
    celebration.celebrationBody = bodyCode;
    celebration.status = 1;
    {
      std::lock_guard<std::mutex> guard(stateLock_);
      celebration.id = ++lastCelebrationId_;
      celebrations_.push_back(std::move(celebration));
    }
    AnnounceCelebrations();
  }
}

std::size_t PlayerMessagingModule::ReadNotificationParams(const std::vector<std::string>& params,
                                                          Notification& record) const {
  std::size_t read = 0;
  for (const std::string& param : params) {
    const BindingResult document = ReadJson(param);
    if (!document.ok) continue;
    ++read;
    record.title = StringMember(document.value, Text::kTitleMember);
    record.body = StringMember(document.value, Text::kMessageMember);
  }
  return read;
}

bool PlayerMessagingModule::ReadCelebrationParams(const std::vector<std::string>& params,
                                                  Celebration& record) const {
  if (params.size() != 5) {
    LogPrintf(kLogLevelError, static_cast<std::uint32_t>(kLogGroupDbg), 0, "%s",
              Text::kCelebrationParameterError);
    return false;
  }
  record.celebrationType = params[0];
  record.celebrationMessage = params[1];
  record.inventoryType = params[2];
  record.itemId = params[3];
  record.itemQuantity = params[4];
  return true;
}

PlayerMessagingModule::Notification PlayerMessagingModule::NotificationFromParams(
    const std::vector<std::string>& params) {
  Notification record;
  const std::size_t read = ReadNotificationParams(params, record);
  for (std::size_t index = 0; index < read; ++index) record.id = NextNotificationId();
  if (read > 0) record.status = 1;
  return record;
}

PlayerMessagingModule::Celebration PlayerMessagingModule::CelebrationFromParams(
    const std::vector<std::string>& params) {
  Celebration record;
  if (!ReadCelebrationParams(params, record)) return Celebration{};
  record.id = NextCelebrationId();
  record.status = 1;
  return record;
}

}  // namespace Kavren::Client::PlayerMessaging
