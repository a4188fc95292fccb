// The development server's page: Swagger UI over /openapi.json beside a playground that
// drives the host controls, and the API documents it is built on.
#pragma once

// Only builds with the server compile and link cpp-httplib; a test of the server belongs
// in tests/CMakeLists.txt's HXA_SERVER_TEST_SOURCES.
#if !HXA_HOST_SERVER
#error "the development server is not part of this build (HXA_HOST_SERVER is OFF)"
#endif

#include <httplib.h>

#include <functional>
#include <string>

namespace Kavren::Host {

/// The documents the page is built on, made per request on the server's threads.
struct ApiDocuments {
  std::function<std::string()> openApi;
  std::function<std::string()> asyncApi;
};

/// Where the page's files are: its own (index.html and the scripts and styles beside it),
/// and the npm packages it loads.
struct ApiPageFiles {
  std::string page;
  std::string swaggerUi;
  std::string uplot;
};

/// Mounts on `server`, which must route them before any catch-all route:
/// - GET /: the page (`files.page`/index.html), and GET /page/NAME its other files (names
///   of lower-case letters, digits, "-" and "_", ending in .js, .css or .json);
/// - GET /openapi.json and GET /asyncapi.json: the documents;
/// - GET /swagger-ui/<file> and GET /uplot/<file>: the few files of Swagger UI and uPlot
///   the page loads, and nothing else of their folders.
/// A file that cannot be read answers 404 saying what to install; without Swagger UI the
/// page says how to install it and still shows the playground.
void MountApiPage(httplib::Server& server, ApiDocuments documents, const ApiPageFiles& files);

/// The page's folder in the checkout, and the packages `./x setup` installs in its
/// node_modules; $HXA_SWAGGER_UI_DIST, when set and not empty, names Swagger UI's folder.
[[nodiscard]] ApiPageFiles FindApiPageFiles();

}  // namespace Kavren::Host
