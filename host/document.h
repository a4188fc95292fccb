// Reading the host's JSON and YAML input (scenario and packet files) into a JSON document.
#pragma once

#include <rapidjson/document.h>

#include <string>

namespace Kavren::Host {

/// Parses JSON text; false with `error` ("JSON error at offset N: ...") when it is not JSON.
[[nodiscard]] bool ParseJsonText(const std::string& text, rapidjson::Document& document,
                                 std::string& error);
/// Parses the first YAML document of `text`: mappings become objects (keys as texts),
/// sequences arrays; plain scalars null, true/false, integers and decimal numbers
/// where they read as such, every other scalar a text. Aliases and nesting deeper
/// than kMaxValueDepth are refused. False with `error` ("YAML error at line L,
/// column C: ...") on failure.
[[nodiscard]] bool ParseYamlText(const std::string& text, rapidjson::Document& document,
                                 std::string& error);
/// Reads a file as YAML when its name ends in ".yaml" or ".yml", else as JSON.
[[nodiscard]] bool LoadDocumentFile(const std::string& path, rapidjson::Document& document,
                                    std::string& error);

}  // namespace Kavren::Host
