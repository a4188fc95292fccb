// The notification service: the two stores, their endpoints and announcements.
#include <exception>
#include <optional>

#include "player_messaging/messages.h"
#include "player_messaging/module.h"

namespace Kavren::Client::PlayerMessaging {
namespace {

// Removes the first element of `store` whose id is `id`, answering its msgId; nothing
// when the store holds no such id.
template <class Record>
std::optional<std::string> RemoveById(std::vector<Record>& store, std::int32_t id) {
  for (auto it = store.begin(); it != store.end(); ++it) {
    if (it->id == id) {
      std::string msgId = std::move(it->msgId);
      store.erase(it);
      return msgId;
    }
  }
  return std::nullopt;
}

template <class Record>
Record HeadOf(const std::vector<Record>& store) {
  return store.empty() ? Record{} : store.front();
}

}  // namespace

PlayerMessagingModule::Notification PlayerMessagingModule::HeadNotification() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return HeadOf(notifications_);
}

PlayerMessagingModule::Celebration PlayerMessagingModule::HeadCelebration() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return HeadOf(celebrations_);
}

MaybeType<Failure, void> PlayerMessagingModule::AcknowledgeNotification(std::int32_t id) {
  std::optional<std::string> msgId;
  std::uint64_t account = 0;
  {
    std::lock_guard<std::mutex> guard(stateLock_);
    msgId = RemoveById(notifications_, id);
    account = accountId_;
  }
  MaybeType<Failure, void> result = AcknowledgeRemoved(msgId, account);
  AnnounceNotifications();
  return result;
}

MaybeType<Failure, void> PlayerMessagingModule::AcknowledgeCelebration(std::int32_t id) {
  std::optional<std::string> msgId;
  std::uint64_t account = 0;
  {
    std::lock_guard<std::mutex> guard(stateLock_);
    msgId = RemoveById(celebrations_, id);
    account = accountId_;
  }
  MaybeType<Failure, void> result = AcknowledgeRemoved(msgId, account);
  AnnounceCelebrations();
  return result;
}

MaybeType<Failure, void> PlayerMessagingModule::AcknowledgeRemoved(
    const std::optional<std::string>& msgId, std::uint64_t accountId) {
  if (!msgId) return Failure{404, FailureMessage::Constant(Text::kNotFound)};
  if (msgId->empty()) return {};
  return SendAcknowledgement(accountId, *msgId);
}

MaybeType<Failure, void> PlayerMessagingModule::SendAcknowledgement(std::uint64_t accountId,
                                                                    const std::string& msgId) {
  const Qrms::SimpleDialogMessageResponse response{accountId, msgId, Text::kAckCommand};
  MaybeType<Failure, void> outcome;
  try {
    FailureFuture future = InvokeQrms(Text::kAckService, Text::kAckMethod, response);
    outcome = Await(future);
  } catch (const std::exception&) {
    // A broken future is already reported by the await; the store must still be
    // announced, so it ends here as a server error.
    outcome = Failure{500, FailureMessage{}};
  }
  if (outcome.Succeeded()) return outcome;
  const FailureMessage& message = outcome.GetFailure().message;
  if (message.View().empty())
    return Failure{500, FailureMessage::Constant(Text::kInternalServerError)};
  return Failure{500, message};
}

void PlayerMessagingModule::AddNotification(const Notification& record) {
  {
    std::lock_guard<std::mutex> guard(stateLock_);
    notifications_.push_back(record);
  }
  AnnounceNotifications();
}

void PlayerMessagingModule::AddCelebration(const Celebration& record) {
  {
    std::lock_guard<std::mutex> guard(stateLock_);
    celebrations_.push_back(record);
  }
  AnnounceCelebrations();
}

void PlayerMessagingModule::ClearStores() {
  std::lock_guard<std::mutex> guard(stateLock_);
  notifications_.clear();
  celebrations_.clear();
}

std::int32_t PlayerMessagingModule::NextNotificationId() {
  std::lock_guard<std::mutex> guard(stateLock_);
  return ++lastNotificationId_;
}

std::int32_t PlayerMessagingModule::NextCelebrationId() {
  std::lock_guard<std::mutex> guard(stateLock_);
  return ++lastCelebrationId_;
}

std::uint64_t PlayerMessagingModule::AccountId() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return accountId_;
}

std::vector<PlayerMessagingModule::Notification> PlayerMessagingModule::Notifications() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return notifications_;
}

std::vector<PlayerMessagingModule::Celebration> PlayerMessagingModule::Celebrations() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return celebrations_;
}

template <class ReadHead>
void PlayerMessagingModule::Announce(Announcement& announcement, const char* uri,
                                     ReadHead readHead) {
  // No lock is held while publishing: a host that delivers the event synchronously may
  // call any endpoint from inside it, on this thread, and that call's own announcement
  // only marks the store changed. Every change is followed by an announcement that
  // either runs itself or marks the running one, which looks at the mark under the same
  // lock before it finishes: so the last announcement carries the current head.
  {
    std::lock_guard<std::mutex> guard(stateLock_);
    if (announcement.running) {
      announcement.changed = true;
      return;
    }
    announcement.running = true;
  }
  try {
    for (;;) {
      decltype(readHead()) head;
      {
        std::lock_guard<std::mutex> guard(stateLock_);
        announcement.changed = false;
        head = readHead();
      }
      IgnoreOutcome(PublishResource(PluginResourceEventType::kUpdate, uri, head));
      std::lock_guard<std::mutex> guard(stateLock_);
      if (!announcement.changed) {
        announcement.running = false;
        return;
      }
    }
  } catch (...) {
    // The store must stay announceable; the failure is reported where the host called.
    std::lock_guard<std::mutex> guard(stateLock_);
    announcement.running = false;
    throw;
  }
}

void PlayerMessagingModule::AnnounceNotifications() {
  Announce(notificationAnnouncement_, Text::kNotificationUri,
           [this] { return HeadOf(notifications_); });
}

void PlayerMessagingModule::AnnounceCelebrations() {
  Announce(celebrationAnnouncement_, Text::kCelebrationUri,
           [this] { return HeadOf(celebrations_); });
}

}  // namespace Kavren::Client::PlayerMessaging
