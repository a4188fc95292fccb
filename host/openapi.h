// The plugin's API as an OpenAPI 3.1 document, generated from its API block.
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "abi/host.h"
#include "host/api_description.h"

namespace Kavren::Host {

/// The document's "info".
struct OpenApiInfo {
  std::string title;
  std::string version;
};

/// The document: one operation per endpoint (its URL template as the path, its method,
/// the function name as `operationId`, path, query and header parameters with their
/// schemas, the body argument as the request body, the result's schema: 200 with the
/// result, 204 without one, and the development server's failure body), one component
/// schema per registered record (properties in field order) and enumeration (names in
/// value order), the endpoints' tags, and the events as the root extension "x-events"
/// and as a table in the info's description. Endpoints without a standard method (custom
/// methods) are kept beside the path item as "x-method-<METHOD>".
void BuildOpenApi(const ApiDescription& api, const OpenApiInfo& info, rapidjson::Document& out);

/// The document as JSON text.
[[nodiscard]] std::string OpenApiDocument(const ApiDescription& api, const OpenApiInfo& info);

/// The document of a loaded plugin: its API block, titled with the plugin's name and
/// versioned with its plugin-API version. Valid (with no operations) when the record
/// has no API block.
[[nodiscard]] std::string OpenApiDocument(const Abi::PluginHostRecord& record);

}  // namespace Kavren::Host
