// The development server's API page: Swagger UI over /openapi.json and a live events panel.
#pragma once

#include <httplib.h>

#include <functional>
#include <string>

namespace Kavren::Host {

/// Mounts on `server`, which must route them before any catch-all route:
/// - GET /: the API page. Swagger UI renders /openapi.json (each operation shown once,
///   under its last tag), "Try it out" calls the server the page came from, and a
///   panel lists the events that arrive on /events (through EventSource, listening to
///   the events the document lists).
/// - GET /openapi.json: `openApiJson()`, called per request on the server's threads.
/// - GET /swagger-ui/<file>: the Swagger UI files the page needs, from `swaggerUiDir`.
/// Without Swagger UI (`swaggerUiDir` empty or lacking its files) the page says how to
/// install it and still shows the events panel and the document's link.
void MountApiPage(httplib::Server& server, std::function<std::string()> openApiJson,
                  const std::string& swaggerUiDir);

/// The swagger-ui-dist folder: $HXA_SWAGGER_UI_DIST when set and not empty, else the one
/// `./x setup` installs in the checkout's node_modules.
[[nodiscard]] std::string FindSwaggerUiDist();

/// The page's HTML.
[[nodiscard]] const std::string& ApiPageHtml();

}  // namespace Kavren::Host
