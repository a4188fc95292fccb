// The notification service: the two stores, their endpoints and announcements.
#include "player_messaging/notification_service.h"

#include <exception>
#include <utility>

#include "http/router.h"
#include "player_messaging/messages.h"
#include "plugin/app_module.h"
#include "plugin/server_bridge.h"
#include "plugin/typed_events.h"

namespace Kavren::Client::PlayerMessaging {

NotificationService::NotificationService(AppModule& module)
    : module_(module),
      notifications_(stateLock_, PlayerMessagingMessages::kNotificationUri),
      celebrations_(stateLock_, PlayerMessagingMessages::kCelebrationUri) {}

void NotificationService::RegisterEndpoints(Router& router) {
  RegisterStoreEndpoints(router, notifications_,
                         PlayerMessagingMessages::kNotificationAcknowledgeUri);
  RegisterStoreEndpoints(router, celebrations_,
                         PlayerMessagingMessages::kCelebrationAcknowledgeUri);
}

template <class Record>
void NotificationService::RegisterStoreEndpoints(Router& router, NotificationStore<Record>& store,
                                                 const char* acknowledgeUri) {
  router.RegisterEndpoint(HttpMethod::Get, store.Uri(),
                          [&store]() -> Record { return store.Head(); });
  router.RegisterEndpoint(HttpMethod::Delete, acknowledgeUri,
                          [this, &store](std::int32_t id) -> MaybeType<Failure, void> {
                            return Acknowledge(store, id);
                          },
                          {PathArgument(PlayerMessagingMessages::kIdArgument)});
}

Notification NotificationService::HeadNotification() const { return notifications_.Head(); }

Celebration NotificationService::HeadCelebration() const { return celebrations_.Head(); }

MaybeType<Failure, void> NotificationService::AcknowledgeNotification(std::int32_t id) {
  return Acknowledge(notifications_, id);
}

MaybeType<Failure, void> NotificationService::AcknowledgeCelebration(std::int32_t id) {
  return Acknowledge(celebrations_, id);
}

template <class Record>
MaybeType<Failure, void> NotificationService::Acknowledge(NotificationStore<Record>& store,
                                                          std::int32_t id) {
  std::uint64_t account = 0;
  const std::optional<std::string> msgId = store.Remove(id, [&] { account = accountId_; });
  MaybeType<Failure, void> result = AcknowledgeRemoved(msgId, account);
  Announce(store);
  return result;
}

MaybeType<Failure, void> NotificationService::AcknowledgeRemoved(
    const std::optional<std::string>& msgId, std::uint64_t accountId) {
  if (!msgId) return Failure{404, FailureMessage::Constant(PlayerMessagingMessages::kNotFound)};
  if (msgId->empty()) return {};
  return SendAcknowledgement(accountId, *msgId);
}

MaybeType<Failure, void> NotificationService::SendAcknowledgement(std::uint64_t accountId,
                                                                  const std::string& msgId) {
  const Qrms::SimpleDialogMessageResponse response{accountId, msgId,
                                                   PlayerMessagingMessages::kAckCommand};
  MaybeType<Failure, void> outcome;
  try {
    FailureFuture future = module_.InvokeQrms(PlayerMessagingMessages::kAckService,
                                              PlayerMessagingMessages::kAckMethod, response);
    outcome = module_.Await(future);
  } catch (const std::exception&) {
    // A broken future is already reported by the await; the store must still be
    // announced, so it ends here as a server error.
    outcome = Failure{500, FailureMessage{}};
  }
  if (outcome.Succeeded()) return outcome;
  const FailureMessage& message = outcome.GetFailure().message;
  if (message.View().empty())
    return Failure{500, FailureMessage::Constant(PlayerMessagingMessages::kInternalServerError)};
  return Failure{500, message};
}

void NotificationService::AddNotification(const Notification& record) {
  notifications_.Append(record);
  Announce(notifications_);
}

void NotificationService::AddCelebration(const Celebration& record) {
  celebrations_.Append(record);
  Announce(celebrations_);
}

void NotificationService::AddNumberedNotification(Notification record, std::int32_t idsTaken) {
  notifications_.AppendNumbered(std::move(record), idsTaken);
  Announce(notifications_);
}

void NotificationService::AddNumberedCelebration(Celebration record) {
  celebrations_.AppendNumbered(std::move(record), 1);
  Announce(celebrations_);
}

void NotificationService::ClearStores() {
  notifications_.Clear();
  celebrations_.Clear();
}

std::int32_t NotificationService::NextNotificationId() { return notifications_.NextId(); }

std::int32_t NotificationService::NextCelebrationId() { return celebrations_.NextId(); }

std::uint64_t NotificationService::AccountId() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return accountId_;
}

void NotificationService::SetAccountId(std::uint64_t accountId) {
  std::lock_guard<std::mutex> guard(stateLock_);
  accountId_ = accountId;
}

std::vector<Notification> NotificationService::Notifications() const {
  return notifications_.Records();
}

std::vector<Celebration> NotificationService::Celebrations() const {
  return celebrations_.Records();
}

template <class Record>
void NotificationService::Announce(NotificationStore<Record>& store) {
  store.Announce([this](const char* uri, const Record& head) {
    IgnoreOutcome(module_.PublishResource(PluginResourceEventType::kUpdate, uri, head));
  });
}

}  // namespace Kavren::Client::PlayerMessaging
