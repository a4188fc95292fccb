// Texts the development host answers and reports with, in one place.
#pragma once

namespace Kavren::Host::HostMessages {

inline constexpr char kLoginDataPacketPath[] = "/hxa-login/v1/login-data-packet";
inline constexpr char kSessionInvokePath[] = "/hxa-login/v1/session/invoke";
/// The resource event name of the login data packet's path.
inline constexpr char kLoginDataPacketEvent[] = "OnJsonApiEvent_hxa-login_v1_login-data-packet";
inline constexpr char kSimpleDialogMessageClass[] =
    "com.kavrengames.platform.messaging.persistence.SimpleDialogMessage";

inline constexpr char kNoLoginDataPacket[] = "No login data packet has been set";
/// Followed by the method text, a blank and the path.
inline constexpr char kNoSuchResource[] = "No such resource: ";
inline constexpr char kInvokeArguments[] =
    "Session invoke expects three positional arguments: service name (text), method name "
    "(text) and argument list (collection)";
inline constexpr char kDefaultInvokeFailure[] = "Service unavailable";
/// Followed by the method text, a blank and the path.
inline constexpr char kNoSuchEndpoint[] = "No endpoint for ";
inline constexpr char kNotLoaded[] = "No plugin is loaded";
inline constexpr char kNoResponseRelease[] = "The response has no release function";
inline constexpr char kStreamReadFailed[] = "Stream read error";

// The HTTP server's own answers.
inline constexpr char kBodyTooLarge[] = "Request body is larger than 64 MiB";
inline constexpr char kTooManyStreams[] = "Too many event streams are open";
/// Followed by the method text, a blank and the path.
inline constexpr char kNoSuchHostControl[] = "No host control for ";
inline constexpr char kServerFailure[] = "Internal server error";

// hxa-host's command line.
/// What `serve` answers in a build without the development server: a line of its own, with
/// exit status 2.
inline constexpr char kNoDevelopmentServer[] =
    "hxa-host was built without the development server; use the x64 build";
/// A printf format: the numeric address.
inline constexpr char kReachableBindWarning[] =
    "hxa-host: warning: %s is not a loopback address: anyone who can reach it can drive the "
    "host (its /_host/ controls push messages, fail server calls and replace the login data)\n";

}  // namespace Kavren::Host::HostMessages
