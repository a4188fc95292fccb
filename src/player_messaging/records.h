// The player-messaging records: login data, notifications and the server's transfer objects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/type_identity.h"

namespace Kavren {
class BindingRegistry;
class ServerClassTable;
}  // namespace Kavren

namespace Kavren::Client::PlayerMessaging {

/// Server classes of the two transfer objects.
inline constexpr char kSimpleDialogMessageClass[] =
    "com.kavrengames.platform.messaging.persistence.SimpleDialogMessage";
inline constexpr char kSimpleDialogMessageResponseClass[] =
    "com.kavrengames.platform.messaging.persistence.SimpleDialogMessageResponse";

namespace Api {

/// One message waiting in the login data packet.
struct SimpleMessage {
  std::uint64_t accountId = 0;
  std::string msgId;
  std::string type;
  std::string titleCode;
  std::string bodyCode;
  std::vector<std::string> params;

  bool operator==(const SimpleMessage&) const = default;
};

/// The player's account identifiers.
struct Velkin {
  std::uint64_t acctId = 0;
  std::uint64_t velId = 0;

  bool operator==(const Velkin&) const = default;
};

struct AllVelkinData {
  Velkin velkin;

  bool operator==(const AllVelkinData&) const = default;
};

/// The part of the host's login data resource that the plugin reads.
struct LoginDataPacket {
  AllVelkinData allVelkinData;
  std::vector<SimpleMessage> simpleMessages;

  bool operator==(const LoginDataPacket&) const = default;
};

/// What every notification record starts with: its number in its store, and the server
/// message it came from (empty for none), which its acknowledgement names.
struct NotificationIds {
  std::int32_t id = 0;
  std::string msgId;

  bool operator==(const NotificationIds&) const = default;
};

/// One player-message notification. The default record (id 0, status 0) is the empty one.
struct PlayerMessagingNotificationResource : NotificationIds {
  std::string title;
  std::string body;
  std::int32_t status = 0;

  bool operator==(const PlayerMessagingNotificationResource&) const = default;
};

/// One celebration notice: an item granted to the player. The default record is the
/// empty one.
struct DynamicCelebrationMessagingNotificationResource : NotificationIds {
  std::string celebrationTitle;
  std::string celebrationBody;
  std::string celebrationMessage;
  std::string inventoryType;
  std::string itemId;
  std::string itemQuantity;
  std::string celebrationType;
  std::int32_t status = 0;

  bool operator==(const DynamicCelebrationMessagingNotificationResource&) const = default;
};

}  // namespace Api

/// The records of the two notification stores.
using Notification = Api::PlayerMessagingNotificationResource;
using Celebration = Api::DynamicCelebrationMessagingNotificationResource;

namespace Qrms {

/// A message pushed by the server: the fields of Api::SimpleMessage, registered under a
/// name and a server class of its own. It adds no member, so each field sits at the offset
/// it has in Api::SimpleMessage.
struct SimpleDialogMessage : Api::SimpleMessage {
  bool operator==(const SimpleDialogMessage&) const = default;
};

/// The plugin's answer to a message ("command" is "ack").
struct SimpleDialogMessageResponse {
  std::uint64_t accountId = 0;
  std::string msgId;
  std::string command;

  bool operator==(const SimpleDialogMessageResponse&) const = default;
};

}  // namespace Qrms

/// [at load] Registers the eight records under their wire names, leaves first, each with
/// `apiTags` and empty help texts, and associates the two server records with their
/// server classes in `serverClasses` (by registered name and by type identity). Names
/// registered before keep their first registration.
void RegisterRecords(BindingRegistry& registry, const std::vector<std::string>& apiTags,
                     ServerClassTable& serverClasses);

}  // namespace Kavren::Client::PlayerMessaging

HXA_BINDING_STRUCT(Kavren::Client::PlayerMessaging::Api::LoginDataPacket);
HXA_BINDING_STRUCT(Kavren::Client::PlayerMessaging::Api::PlayerMessagingNotificationResource);
HXA_BINDING_STRUCT(
    Kavren::Client::PlayerMessaging::Api::DynamicCelebrationMessagingNotificationResource);
HXA_BINDING_STRUCT(Kavren::Client::PlayerMessaging::Api::SimpleMessage);
HXA_BINDING_STRUCT(Kavren::Client::PlayerMessaging::Api::Velkin);
HXA_BINDING_STRUCT(Kavren::Client::PlayerMessaging::Api::AllVelkinData);
HXA_BINDING_STRUCT(Kavren::Client::PlayerMessaging::Qrms::SimpleDialogMessage);
HXA_BINDING_STRUCT(Kavren::Client::PlayerMessaging::Qrms::SimpleDialogMessageResponse);

// The plugin's named types: their identities come from the name signature, so every
// file that names one of them must see these lines (this header declares the records).
HXA_NAMED_TYPE(Kavren::Client::PlayerMessaging::Api::LoginDataPacket);
HXA_NAMED_TYPE(Kavren::RemotingTypedResult<
               Kavren::Client::PlayerMessaging::Api::PlayerMessagingNotificationResource>);
HXA_NAMED_TYPE(
    Kavren::RemotingTypedResult<
        Kavren::Client::PlayerMessaging::Api::DynamicCelebrationMessagingNotificationResource>);
