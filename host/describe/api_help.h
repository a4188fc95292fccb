// The plugin's API help in its two forms, rebuilt on the host's side from the API block.
//
// The plugin answers help only through the built-in "Help" function of the "$builtin"
// name space, which no endpoint descriptor leads to; the API block is the flat image
// of the same registry, so the host renders both forms from it.
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "host/describe/api_description.h"

namespace Kavren::Host {

/// The native form: {"functions": [...], "types": [...], "events": [...]}, one help record
/// per item, each list sorted by name (byte-wise); a list without items is null.
void NativeHelp(const ApiDescription& api, rapidjson::Document& out);

/// The epytext form: the same three members, each a structure with one text per item
/// named after the item; a list without items is null.
void EpytextHelp(const ApiDescription& api, rapidjson::Document& out);

/// One item's epytext text; every line ends with "\r\n".
[[nodiscard]] std::string EpytextEndpointText(const ApiEndpoint& endpoint);
[[nodiscard]] std::string EpytextTypeText(const ApiType& type);
[[nodiscard]] std::string EpytextEventText(const ApiEvent& event);

/// `value` as JSON text, indented by two blanks when `pretty`.
[[nodiscard]] std::string JsonText(const rapidjson::Value& value, bool pretty = true);

}  // namespace Kavren::Host
