// The plugin core's fixed texts: names, tags, log and report messages.
#pragma once

namespace Kavren::PluginMessages {

/// Full-name prefixes by plugin type.
inline constexpr const char kBackendPrefix[] = "qdx-be-";
inline constexpr const char kFrontendPrefix[] = "qdx-fe-";
inline constexpr const char kUnknownPrefix[] = "qdx-xx-";
/// Type names of the two predefined plugin types.
inline constexpr const char kBackendTypeName[] = "backend";
inline constexpr const char kFrontendTypeName[] = "frontend";

/// Logged at level 2 for a plugin type other than the two predefined ones:
/// %1 the short name, %2 the type as "typeName:detail".
inline constexpr const char kUnknownPluginType[] =
    "GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type";
/// The printf line of the plugin manager's log messages (twelve blanks first).
inline constexpr const char kPluginManagerLine[] = "            Plugin Manager| %s";

/// The assertion report of an incompatible plugin API: its expression and its
/// description (%1 short name, %2 the plugin's version, %3 the core's version).
inline constexpr const char kIncompatibleApiExpression[] = "ALE-EECF0606";
inline constexpr const char kIncompatibleApi[] =
    "%1 which supports plugin API %2 is not compatible with core's plugin API %3";

/// The user agent: %1 the core's plugin-API version, %2 the short name.
inline constexpr const char kUserAgent[] = "KavrenClient/%1 (%2)";

/// API tags: the first, and the prefix of the second (followed by the short name).
inline constexpr const char kPluginsTag[] = "Plugins";
inline constexpr const char kPluginTagPrefix[] = "Plugin ";

/// Level-2 reports of failures that stop at the host boundary: the host call,
/// then what went wrong. A printf format, so that reporting allocates nothing.
inline constexpr const char kHostCallFailed[] = "%s failed: %s";
inline constexpr const char kUnknownException[] = "unknown exception";
inline constexpr const char kModuleNotCreated[] = "the module could not be created";
inline constexpr const char kNoHostInterface[] = "no host interface";
/// A host call whose context, job or endpoint belongs to no running module (never
/// loaded, or stopped).
inline constexpr const char kNoRunningModule[] = "no running module";
inline constexpr const char kStartedAlready[] = "the module has started already";
inline constexpr const char kNoLogTarget[] = "the host's log target could not be installed";
/// The host calls named in those reports.
inline constexpr const char kStartCall[] = "Start";
inline constexpr const char kStopCall[] = "Stop";
inline constexpr const char kRequestEntryCall[] = "request entry";

/// The outcome of a host call that returned after Stop: %1 method, %2 path.
inline constexpr const char kStoppedDuringCall[] = "The module stopped during %1 %2";
/// The outcome of an await that Stop ended.
inline constexpr const char kStoppedWhileWaiting[] = "The module stopped while waiting";

/// The event layer's debug traces (printf formats; the traces write nothing).
inline constexpr const char kTraceSubscribing[] = "Subscribing to event: %s";
inline constexpr const char kTraceUnsubscribing[] = "Unsubscribing to event: %s";
inline constexpr const char kTraceHandlingEvent[] = "Handling event %s";
inline constexpr const char kTracePayloadNotConverted[] =
    "Couldn't convert payload %s for event %s: %s";
inline constexpr const char kTraceResourceNotConverted[] =
    "Couldn't convert resource %s for event uri \"%s\"";
inline constexpr const char kTraceSendingEvent[] = "Sending event: %s";

/// The failure of PublishResource when the resource cannot be converted: %1 the
/// resource path, %2 the conversion's message.
inline constexpr const char kResourceNotConverted[] =
    "Couldn't convert resource for event uri \"%1\": %2";

/// Service-proxy replies: the key of a method reply ("%1.%2": service, method) and the
/// two log lines (printf formats, level 2 and level 3, group DBG).
inline constexpr const char kServiceProxyKey[] = "%1.%2";
inline constexpr const char kNoAsyncServiceProxyHandler[] =
    "Could not find registered handler for async service proxy event %s";
inline constexpr const char kServiceProxyFulfilled[] = "Fulfilled service proxy request: %s";

/// Where the host calls in: the names reported when an event or job callback fails.
inline constexpr const char kEventCallbackCall[] = "event callback";
inline constexpr const char kJobCallbackCall[] = "job callback";

/// The telemetry sender's URI prefix, followed by the event name.
inline constexpr const char kTelemetryPathPrefix[] = "/telemetry/v1/events/";

/// The server bridge: the session invoke, job labels, traces and failures.
inline constexpr const char kSessionInvokePath[] = "/hxa-login/v1/session/invoke";
inline constexpr const char kQrmsJobLabel[] = "Event: OnQrmsEvent (%1)";
// The label when the one above cannot be formatted: at most 15 characters, so that a
// std::string holds it without allocating.
inline constexpr const char kQrmsJobFallbackLabel[] = "OnQrmsEvent";
static_assert(sizeof kQrmsJobFallbackLabel <= 16);
inline constexpr const char kTraceSubscribingQrms[] = "Subscribing to QRMS event: %s";
inline constexpr const char kTraceQrmsNotConverted[] =
    "Couldn't convert QRMS DTO %s to C++ from %s";
inline constexpr const char kTraceObservedNotConverted[] =
    "Couldn't convert resource %s to C++ while handling update for URL: %s";
/// %1 the conversion's failure text.
inline constexpr const char kQrmsParametersNotConverted[] =
    "Couldn't convert QRMS call parameters: %1";
/// The top-level name of converted server bodies and observed resources.
inline constexpr const char kValueName[] = "<value>";

}  // namespace Kavren::PluginMessages
