// The notification service: the two stores, their four endpoints and their announcements.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "player_messaging/notification_store.h"
#include "player_messaging/records.h"
#include "util/failure.h"

namespace Kavren {
class AppModule;
class Router;
}  // namespace Kavren

namespace Kavren::Client::PlayerMessaging {

/// The player's notifications in two stores, player messages and celebrations, each read
/// at its head and acknowledged by id; every change of a store is announced as a resource
/// update of its URI. The player's account, taken from the login data packet, goes with
/// every acknowledgement sent to the server.
/// [thread-safe] The stores and the account are guarded by one lock that is never held
/// while calling the host (see NotificationStore for the announcements).
class NotificationService {
 public:
  /// Publishes and calls the server through `module`, which outlives the service.
  explicit NotificationService(AppModule& module);

  /// [at load] Each store's read endpoint, then its acknowledge endpoint; player messages
  /// first.
  void RegisterEndpoints(Router& router);

  /// The head of the player-message store (a copy), or the empty record.
  [[nodiscard]] Notification HeadNotification() const;
  /// The head of the celebration store (a copy), or the empty record.
  [[nodiscard]] Celebration HeadCelebration() const;
  /// [host thread] Removes the player message `id` and, when it came from the server,
  /// acknowledges it there; announces the store in every case. 404 "Not found" when no
  /// such id is stored; 500 with the server call's message when the call failed (the
  /// notification stays removed).
  [[nodiscard]] MaybeType<Failure, void> AcknowledgeNotification(std::int32_t id);
  /// As above for the celebration store.
  [[nodiscard]] MaybeType<Failure, void> AcknowledgeCelebration(std::int32_t id);
  /// Appends `record` to the player-message store and announces the store.
  void AddNotification(const Notification& record);
  /// Appends `record` to the celebration store and announces the store.
  void AddCelebration(const Celebration& record);
  /// Takes `idsTaken` ids and appends `record` numbered with the last of them in one
  /// step, then announces the player-message store.
  void AddNumberedNotification(Notification record, std::int32_t idsTaken);
  /// Takes one id and appends `record` numbered with it in one step, then announces the
  /// celebration store.
  void AddNumberedCelebration(Celebration record);
  /// Empties both stores without announcing; the counters keep counting.
  void ClearStores();
  /// Increments the player-message counter and answers its new value.
  [[nodiscard]] std::int32_t NextNotificationId();
  /// Increments the celebration counter and answers its new value.
  [[nodiscard]] std::int32_t NextCelebrationId();
  /// The account of the last login data packet; 0 before one.
  [[nodiscard]] std::uint64_t AccountId() const;
  /// Takes the account of a new login data packet.
  void SetAccountId(std::uint64_t accountId);
  /// Copies of the two stores, oldest first.
  [[nodiscard]] std::vector<Notification> Notifications() const;
  [[nodiscard]] std::vector<Celebration> Celebrations() const;

 private:
  // The read endpoint of `store` at its URI and its acknowledge endpoint at
  // `acknowledgeUri`.
  template <class Record>
  void RegisterStoreEndpoints(Router& router, NotificationStore<Record>& store,
                              const char* acknowledgeUri);
  template <class Record>
  [[nodiscard]] MaybeType<Failure, void> Acknowledge(NotificationStore<Record>& store,
                                                     std::int32_t id);
  template <class Record>
  void Announce(NotificationStore<Record>& store);
  // The outcome of acknowledging the record that was removed (`msgId`, none when no
  // record had the id): 404, success without a server call, or the server's answer.
  [[nodiscard]] MaybeType<Failure, void> AcknowledgeRemoved(const std::optional<std::string>& msgId,
                                                            std::uint64_t accountId);
  // Tells the server that `msgId` was seen: success, or 500 with the call's message.
  [[nodiscard]] MaybeType<Failure, void> SendAcknowledgement(std::uint64_t accountId,
                                                             const std::string& msgId);

  AppModule& module_;
  // Guards the account and both stores; never held while calling the host.
  mutable std::mutex stateLock_;
  std::uint64_t accountId_ = 0;
  NotificationStore<Notification> notifications_;
  NotificationStore<Celebration> celebrations_;
};

}  // namespace Kavren::Client::PlayerMessaging
