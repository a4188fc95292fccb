// The development server's own routes (host controls, the event stream) in its OpenAPI
// document, beside the plugin's operations.
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "abi/host.h"

namespace Kavren::Host {

/// The tag of the server's own operations.
inline constexpr char kDevelopmentHostTag[] = "Development host";

/// Adds to an OpenAPI document (as BuildOpenApi makes it) the tag "Development host", an
/// operation for each host control under /_host/ and for GET /events, and their schemas
/// (named "Host.*"), so that Swagger UI can try them and clients can be generated for them.
void AddHostControls(rapidjson::Document& openApi);

/// The document /openapi.json serves: the plugin's API and the host controls.
[[nodiscard]] std::string DevelopmentServerOpenApi(const Abi::PluginHostRecord& record);

}  // namespace Kavren::Host
