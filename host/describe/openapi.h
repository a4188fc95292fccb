// The plugin's API as an OpenAPI 3.1 document, generated from its API block.
#pragma once

#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "abi/host.h"
#include "host/describe/api_description.h"

namespace Kavren::Host {

/// The document's "info".
struct OpenApiInfo {
  std::string title;
  std::string version;
};

/// The document: one operation per endpoint (its URL template as the path, its method,
/// the function name as `operationId`, path, query and header parameters with their
/// schemas, the body argument as the request body, the result's schema: 200 with the
/// result, 204 without one, 400 for one that takes arguments, and the development
/// server's failure body), a component schema for each registered record (properties in
/// field order, the fields that are not optional required; for a record a request refers
/// to also NAME.Input, which requires none) and enumeration (names in value order) that an
/// operation or an event refers to, directly or through another, the endpoints' tags, and the
/// events as the root extension "x-events" and as a table in the info's description. Endpoints
/// without a standard method (custom methods) are kept beside the path item as "x-method-<METHOD>".
void BuildOpenApi(const ApiDescription& api, const OpenApiInfo& info, rapidjson::Document& out);

/// The document as JSON text.
[[nodiscard]] std::string OpenApiDocument(const ApiDescription& api, const OpenApiInfo& info);

/// Adds to `names` the component schemas `node` refers to ("#/components/schemas/NAME"),
/// in document order.
void CollectSchemaRefs(const rapidjson::Value& node, std::vector<std::string>& names);

/// The info of a loaded plugin's documents: its name and its plugin-API version.
[[nodiscard]] OpenApiInfo OpenApiInfoOf(const Abi::PluginHostRecord& record);

/// The document of a loaded plugin: its API block, titled with the plugin's name and
/// versioned with its plugin-API version. Valid (with no operations) when the record
/// has no API block.
[[nodiscard]] std::string OpenApiDocument(const Abi::PluginHostRecord& record);

}  // namespace Kavren::Host
