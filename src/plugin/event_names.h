// Host event names of resource paths and server classes, and resource path patterns.
#pragma once

#include <string>
#include <string_view>

namespace Kavren {

/// The host event every resource change is also published under.
inline constexpr char kJsonApiEventName[] = "OnJsonApiEvent";
/// The host event of server-platform messages; also the prefix of the per-class events.
inline constexpr char kQrmsEventName[] = "OnQrmsEvent";
/// The first path segment whose resource events keep six name parts instead of four.
inline constexpr char kPlatformConfigSegment[] = "hxa-platform-config";

/// The host event of a resource path: "OnJsonApiEvent" and the path's non-empty segments,
/// joined by "_" and cut to four parts (six under "hxa-platform-config"). So
/// "/hxa-login/v1/session/x" gives "OnJsonApiEvent_hxa-login_v1_session", and a path
/// without segments gives "OnJsonApiEvent".
[[nodiscard]] std::string EventNameForUri(std::string_view path);

/// True when `path` matches `pattern`: "*" stands for any run (possibly empty) of
/// characters other than "/", every other character stands for itself, and both texts
/// must end together.
[[nodiscard]] bool ResourcePathMatches(std::string_view pattern, std::string_view path);

/// The host event of a server class: "OnQrmsEvent_" and the class name, with every "."
/// replaced by "_".
[[nodiscard]] std::string QrmsEventName(std::string_view serverClass);

}  // namespace Kavren
