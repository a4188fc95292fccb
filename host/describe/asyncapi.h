// The plugin's events as an AsyncAPI 3.0 document: the development server's event stream.
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "abi/host.h"
#include "host/describe/api_description.h"
#include "host/describe/openapi.h"

namespace Kavren::Host {

/// The document: one channel, the event stream at /events, received by one operation;
/// one message per event of the API (named after the event, its payload the event's
/// registered record), and as component schemas the payload records and what they refer
/// to, exactly as the OpenAPI document of the same API has them.
void BuildAsyncApi(const ApiDescription& api, const OpenApiInfo& info, rapidjson::Document& out);

/// The document of a loaded plugin, titled and versioned as its OpenAPI document.
[[nodiscard]] std::string AsyncApiDocument(const Abi::PluginHostRecord& record);

}  // namespace Kavren::Host
