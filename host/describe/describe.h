// hxa-host describe: a plugin's API printed offline, as OpenAPI, AsyncAPI or either help form.
#pragma once

#include <cstdio>
#include <string>

#include "host/core/development_host.h"
#include "host/core/plugin_library.h"

namespace Kavren::Host {

/// Opens the plugin at `pluginPath`, loads it (it is not started), writes its API in
/// `format` to `out` and stops it: "openapi" the OpenAPI 3.1 document, "asyncapi" the AsyncAPI 3.0
/// document of its events, "native" and
/// "epytext" the API help's two forms, each as JSON followed by a line break. Returns 0;
/// on failure writes one line "hxa-host: <reason>" to `err` and returns 2 for an unknown
/// format, 1 when the plugin cannot be loaded.
[[nodiscard]] int RunDescribe(const std::string& pluginPath, const std::string& format,
                              std::FILE* out, std::FILE* err = stderr);
/// The same with the library already open, loaded for the core `version`.
[[nodiscard]] int RunDescribe(const PluginLibrary& library, CoreVersion version,
                              const std::string& format, std::FILE* out, std::FILE* err = stderr);

}  // namespace Kavren::Host
