// The plugin core's fixed texts: names, tags, log and report messages.
#pragma once

namespace Kavren::PluginText {

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

/// Logged at level 0 when the module has started: %1 the short name, %2 the user agent.
inline constexpr const char kStarted[] = "%1 started as %2";

/// Level-2 reports of failures that stop at the host boundary: the host call,
/// then what went wrong. A printf format, so that reporting allocates nothing.
inline constexpr const char kHostCallFailed[] = "%s failed: %s";
inline constexpr const char kUnknownException[] = "unknown exception";
inline constexpr const char kModuleNotCreated[] = "the module could not be created";
inline constexpr const char kNoHostInterface[] = "no host interface";

}  // namespace Kavren::PluginText
