// The player-messaging module: the plugin's own layer over the application module.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "player_messaging/records.h"
#include "plugin/app_module.h"
#include "plugin/entry.h"
#include "util/failure.h"

namespace Kavren::Client::PlayerMessaging {

/// The plugin's short name; its full name is qdx-be-hxa-player-messaging.
inline constexpr const char kShortName[] = "hxa-player-messaging";

/// Registers the plugin's records and endpoints at load and starts its work at
/// Start. Holds the two notification stores, served by four endpoints and filled from
/// the login data packet and from server pushes.
/// [thread-safe] The stores, the account and the counters are guarded by one mutex that
/// is never held while calling the host. Announcements of a store are made one at a
/// time, by one thread, and the last one always carries the store's current head; a
/// change made while the store is being announced (on another thread, or from inside
/// the announcement on the same one) is announced by the announcing thread once its
/// current announcement returns.
class PlayerMessagingModule : public AppModule {
 public:
  using Notification = Api::PlayerMessagingNotificationResource;
  using Celebration = Api::DynamicCelebrationMessagingNotificationResource;

  PlayerMessagingModule();
  /// Empties the two notification stores before the application module goes.
  ~PlayerMessagingModule() override;

  /// [at load] The records, then the two read and the two acknowledge endpoints.
  void RegisterEndpoints() override;
  /// [host thread, at Start] Observes the login data packet (read and handled at once)
  /// and handles pushed messages; true.
  [[nodiscard]] bool OnStart() override;

  // The notification service.

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
  /// Empties both stores without announcing; the counters keep counting.
  void ClearStores();
  /// Increments the player-message counter and answers its new value.
  [[nodiscard]] std::int32_t NextNotificationId();
  /// Increments the celebration counter and answers its new value.
  [[nodiscard]] std::int32_t NextCelebrationId();
  /// The account of the last login data packet; 0 before one.
  [[nodiscard]] std::uint64_t AccountId() const;
  /// Copies of the two stores, oldest first.
  [[nodiscard]] std::vector<Notification> Notifications() const;
  [[nodiscard]] std::vector<Celebration> Celebrations() const;

  // The message intake.

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
  void ApplyMessage(const std::string& type, const std::string& msgId, const std::string& titleCode,
                    const std::string& bodyCode, const std::vector<std::string>& params);
  // Reads the parameters of a player message: the texts of the last one that reads as
  // JSON go into `record`; answers how many read (each of them takes an id).
  std::size_t ReadNotificationParams(const std::vector<std::string>& params,
                                     Notification& record) const;
  // Fills `record` from exactly five parameters; otherwise logs the parameter error and
  // answers false.
  bool ReadCelebrationParams(const std::vector<std::string>& params, Celebration& record) const;
  // Whether a store is being announced, and whether it changed since the head being
  // announced was read. Guarded by stateLock_.
  struct Announcement {
    bool running = false;
    bool changed = false;
  };
  void AnnounceNotifications();
  void AnnounceCelebrations();
  // Publishes the head that `readHead` reads (under stateLock_) as the resource `uri`,
  // again and again while the store changes meanwhile; returns at once when another
  // announcement of the store is running, which then carries this change.
  template <class ReadHead>
  void Announce(Announcement& announcement, const char* uri, ReadHead readHead);
  // The outcome of acknowledging the element that was removed (`msgId`, none when no
  // element had the id): 404, success without a server call, or the server's answer.
  [[nodiscard]] MaybeType<Failure, void> AcknowledgeRemoved(const std::optional<std::string>& msgId,
                                                            std::uint64_t accountId);
  // Tells the server that `msgId` was seen: success, or 500 with the call's message.
  [[nodiscard]] MaybeType<Failure, void> SendAcknowledgement(std::uint64_t accountId,
                                                             const std::string& msgId);

  // Guards the account, the stores and the counters; never held while calling the host.
  mutable std::mutex stateLock_;
  std::uint64_t accountId_ = 0;
  std::vector<Notification> notifications_;
  std::vector<Celebration> celebrations_;
  std::int32_t lastNotificationId_ = 0;
  std::int32_t lastCelebrationId_ = 0;
  Announcement notificationAnnouncement_;
  Announcement celebrationAnnouncement_;
};

/// The definition the plugin's export loads: a backend plugin of this module.
[[nodiscard]] PluginDefinition PlayerMessagingPlugin();

}  // namespace Kavren::Client::PlayerMessaging
