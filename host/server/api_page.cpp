// Serving the development server's page, its documents and the npm files it loads.
#include "host/server/api_page.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

#ifndef HXA_SOURCE_DIR_DEFAULT
#define HXA_SOURCE_DIR_DEFAULT ""
#endif

namespace Kavren::Host {
namespace {

// The files of an npm package the page loads, and their content types; nothing else of
// the package's folder is served.
struct AssetFile {
  const char* name;
  const char* contentType;
};
constexpr AssetFile kSwaggerUiFiles[] = {
    {"swagger-ui.css", "text/css"},
    {"swagger-ui-bundle.js", "application/javascript"},
    {"favicon-32x32.png", "image/png"},
    {"favicon-16x16.png", "image/png"},
};
constexpr AssetFile kUplotFiles[] = {
    {"uPlot.min.css", "text/css"},
    {"uPlot.iife.min.js", "application/javascript"},
};

// The file's bytes; false when it cannot be read.
bool ReadFile(const std::string& path, std::string& bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  if (file.bad()) return false;
  bytes = std::move(content).str();
  return true;
}

void SendFile(const std::string& path, const char* contentType, const char* missing,
              httplib::Response& response) {
  std::string bytes;
  if (path.empty() || !ReadFile(path, bytes)) {
    response.status = 404;
    response.set_content(missing, "text/plain");
    return;
  }
  response.set_content(bytes, contentType);
}

void MountPackage(httplib::Server& server, const char* prefix, const std::string& folder,
                  const char* missing, const auto& files) {
  for (const AssetFile& asset : files) {
    const std::string path = folder.empty() ? "" : folder + "/" + asset.name;
    server.Get(std::string(prefix) + asset.name,
               [path, contentType = asset.contentType, missing](const httplib::Request&,
                                                                httplib::Response& response) {
                 SendFile(path, contentType, missing, response);
               });
  }
}

const char* ContentTypeOf(const std::string& name) {
  if (name.ends_with(".js")) return "application/javascript";
  if (name.ends_with(".css")) return "text/css";
  return "application/json";
}

void MountDocument(httplib::Server& server, const char* path,
                   std::function<std::string()> document) {
  server.Get(
      path, [document = std::move(document)](const httplib::Request&, httplib::Response& response) {
        response.set_content(document ? document() : std::string("{}"), "application/json");
      });
}

}  // namespace

ApiPageFiles FindApiPageFiles() {
  const std::string source = HXA_SOURCE_DIR_DEFAULT;
  ApiPageFiles files;
  if (!source.empty()) {
    files.page = source + "/host/server/web";
    files.swaggerUi = source + "/node_modules/swagger-ui-dist";
    files.uplot = source + "/node_modules/uplot/dist";
  }
  const char* configured = std::getenv("HXA_SWAGGER_UI_DIST");
  if (configured != nullptr && configured[0] != '\0') files.swaggerUi = configured;
  return files;
}

void MountApiPage(httplib::Server& server, ApiDocuments documents, const ApiPageFiles& files) {
  const std::string index = files.page.empty() ? "" : files.page + "/index.html";
  server.Get("/", [index](const httplib::Request&, httplib::Response& response) {
    SendFile(index, "text/html; charset=utf-8", "The page's files are missing from this checkout",
             response);
  });
  // The page's own files, by a name that cannot leave its folder.
  const std::string folder = files.page;
  server.Get(R"(/page/([a-z0-9_-]+\.(?:js|css|json)))",
             [folder](const httplib::Request& request, httplib::Response& response) {
               const std::string name = request.matches[1];
               SendFile(folder.empty() ? "" : folder + "/" + name, ContentTypeOf(name),
                        "No such file of the page", response);
             });
  MountDocument(server, "/openapi.json", std::move(documents.openApi));
  MountDocument(server, "/asyncapi.json", std::move(documents.asyncApi));
  MountPackage(server, "/swagger-ui/", files.swaggerUi,
               "Swagger UI is not installed: run ./x setup", kSwaggerUiFiles);
  MountPackage(server, "/uplot/", files.uplot, "uPlot is not installed: run ./x setup",
               kUplotFiles);
}

}  // namespace Kavren::Host
