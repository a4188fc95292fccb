// Reading the host's JSON and YAML input (scenario and packet files) into a JSON document.
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "host/core/maybe.h"

namespace Kavren::Host {

/// Parses JSON text into `document`; fails with "JSON error at offset N: ..." when it is
/// not JSON.
[[nodiscard]] MaybeType<Failure> ParseJsonText(const std::string& text,
                                               rapidjson::Document& document);
/// Parses the first YAML document of `text`: mappings become objects (keys as texts),
/// sequences arrays; plain scalars null, true/false, integers and decimal numbers
/// where they read as such, every other scalar a text. Aliases and nesting deeper
/// than kMaxValueDepth are refused. Fails with "YAML error at line L, column C: ...".
[[nodiscard]] MaybeType<Failure> ParseYamlText(const std::string& text,
                                               rapidjson::Document& document);
/// Reads a file as YAML when its name ends in ".yaml" or ".yml", else as JSON. Fails with
/// "cannot read PATH", or with PATH, ": " and the parser's message.
[[nodiscard]] MaybeType<Failure> LoadDocumentFile(const std::string& path,
                                                  rapidjson::Document& document);

}  // namespace Kavren::Host
