// The texts, URIs and names of the player-messaging module.
#pragma once

namespace Kavren::Client::PlayerMessaging::PlayerMessagingMessages {

inline constexpr char kNotificationUri[] = "/hxa-player-messaging/v1/notification";
inline constexpr char kNotificationAcknowledgeUri[] =
    "/hxa-player-messaging/v1/notification/{id}/acknowledge";
inline constexpr char kCelebrationUri[] = "/hxa-player-messaging/v1/celebration/notification";
inline constexpr char kCelebrationAcknowledgeUri[] =
    "/hxa-player-messaging/v1/celebration/notification/{id}/acknowledge";
inline constexpr char kIdArgument[] = "id";

inline constexpr char kLoginDataPacketUri[] = "/hxa-login/v1/login-data-packet";

inline constexpr char kPlayerMessageType[] = "pss-player-message";
inline constexpr char kCelebrationType[] = "dynamic-celebration";
inline constexpr char kTitleMember[] = "title";
inline constexpr char kMessageMember[] = "message";

inline constexpr char kAckService[] = "clientFacadeService";
inline constexpr char kAckMethod[] = "callPersistenceMessaging";
inline constexpr char kAckCommand[] = "ack";

inline constexpr char kNotFound[] = "Not found";
inline constexpr char kInternalServerError[] = "Internal server error";
inline constexpr char kCelebrationParameterError[] =
    "hxa-player-messaging: Dynamic Celebration parameter error.  Check platform for validation "
    "log";

}  // namespace Kavren::Client::PlayerMessaging::PlayerMessagingMessages
