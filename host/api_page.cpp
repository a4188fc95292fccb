// The API page, the OpenAPI document and the Swagger UI files on the development server.
#include "host/api_page.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#ifndef HXA_SWAGGER_UI_DIST_DEFAULT
#define HXA_SWAGGER_UI_DIST_DEFAULT ""
#endif

namespace Kavren::Host {
namespace {

// The files of swagger-ui-dist the page loads, and their content types; nothing else of
// the folder is served.
struct AssetFile {
  const char* name;
  const char* contentType;
};
constexpr AssetFile kAssets[] = {
    {"swagger-ui.css", "text/css"},
    {"swagger-ui-bundle.js", "application/javascript"},
    {"favicon-32x32.png", "image/png"},
    {"favicon-16x16.png", "image/png"},
};

constexpr const char kPage[] = R"html(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Plugin API</title>
<link rel="icon" type="image/png" href="/swagger-ui/favicon-32x32.png" sizes="32x32">
<link rel="stylesheet" href="/swagger-ui/swagger-ui.css">
<style>
  body { margin: 0; padding-bottom: 42vh; }
  #missing { font-family: sans-serif; margin: 2em; }
  #events { position: fixed; right: 0; bottom: 0; width: 420px; max-height: 40vh;
            display: flex; flex-direction: column; background: #1b1b1b; color: #e8e8e8;
            font: 12px/1.4 monospace; border-top-left-radius: 6px; z-index: 10; }
  #events header { padding: 6px 10px; background: #333; display: flex; gap: 8px;
                   border-top-left-radius: 6px; }
  #events header b { flex: 1; }
  #events-state.connected { color: #7fd67f; }
  #events-state.waiting { color: #e0b050; }
  #events ol { list-style: none; margin: 0; padding: 0; overflow: auto; }
  #events li { padding: 4px 10px; border-top: 1px solid #2c2c2c; word-break: break-all; }
  #events li .name { color: #8cc8ff; }
  #events li time { color: #999; margin-right: 6px; }
</style>
</head>
<body>
<div id="swagger-ui"></div>
<p id="missing" hidden>Swagger UI is not installed here: run <code>./x setup</code>.
  The document is at <a href="/openapi.json">/openapi.json</a>.</p>
<aside id="events" aria-label="Events">
  <header><b>Events</b><span id="events-state" class="waiting">connecting</span>
    <button id="events-clear" type="button">clear</button></header>
  <ol id="events-list"></ol>
</aside>
<script src="/swagger-ui/swagger-ui-bundle.js"></script>
<script>
"use strict";
const kMaxEvents = 50;

function setState(text, className) {
  const state = document.getElementById("events-state");
  state.textContent = text;
  state.className = className;
}

function addEvent(name, data) {
  const list = document.getElementById("events-list");
  const item = document.createElement("li");
  const time = document.createElement("time");
  time.textContent = new Date().toLocaleTimeString();
  const label = document.createElement("span");
  label.className = "name";
  label.textContent = name;
  const payload = document.createElement("div");
  payload.className = "data";
  payload.textContent = data.length > 600 ? data.slice(0, 600) + "..." : data;
  item.append(time, label, payload);
  list.prepend(item);
  while (list.children.length > kMaxEvents) list.lastChild.remove();
}

// EventSource delivers a named event only to listeners of that name: listen to every
// event the document lists (every resource change is also sent as "OnJsonApiEvent") and
// to unnamed messages.
function eventNames(spec) {
  const names = new Set(["message"]);
  for (const event of spec["x-events"] || []) names.add(event.name);
  return names;
}

function watchEvents(spec) {
  const source = new EventSource("/events");
  source.onopen = () => setState("connected", "connected");
  source.onerror = () => setState("reconnecting", "waiting");
  for (const name of eventNames(spec)) {
    source.addEventListener(name, (event) => addEvent(event.type, event.data));
  }
}

// Each operation is shown once, under its most specific (last) tag, and tags left without
// operations are not shown; the document itself keeps all of them.
function oneTagEach(spec) {
  const shown = structuredClone(spec);
  const used = new Set();
  for (const item of Object.values(shown.paths || {})) {
    for (const operation of Object.values(item)) {
      if (operation && Array.isArray(operation.tags) && operation.tags.length > 0) {
        operation.tags = [operation.tags[operation.tags.length - 1]];
        used.add(operation.tags[0]);
      }
    }
  }
  shown.tags = (shown.tags || []).filter((tag) => used.has(tag.name));
  return shown;
}

async function start() {
  document.getElementById("events-clear").onclick = () => {
    document.getElementById("events-list").replaceChildren();
  };
  const response = await fetch("/openapi.json");
  const spec = await response.json();
  document.title = (spec.info && spec.info.title ? spec.info.title + " " : "") + "API";
  if (typeof SwaggerUIBundle === "function") {
    window.ui = SwaggerUIBundle({
      spec: oneTagEach(spec),
      dom_id: "#swagger-ui",
      deepLinking: true,
      displayOperationId: true,
      defaultModelsExpandDepth: 0,
    });
  } else {
    document.getElementById("missing").hidden = false;
  }
  watchEvents(spec);
}

start().catch((error) => setState("failed: " + error, "waiting"));
</script>
</body>
</html>
)html";

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

}  // namespace

const std::string& ApiPageHtml() {
  static const std::string page(kPage);
  return page;
}

std::string FindSwaggerUiDist() {
  const char* configured = std::getenv("HXA_SWAGGER_UI_DIST");
  if (configured != nullptr && configured[0] != '\0') return configured;
  return HXA_SWAGGER_UI_DIST_DEFAULT;
}

void MountApiPage(httplib::Server& server, std::function<std::string()> openApiJson,
                  const std::string& swaggerUiDir) {
  server.Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(ApiPageHtml(), "text/html; charset=utf-8");
  });
  server.Get("/openapi.json", [openApiJson = std::move(openApiJson)](const httplib::Request&,
                                                                     httplib::Response& response) {
    response.set_content(openApiJson(), "application/json");
  });
  for (const AssetFile& asset : kAssets) {
    const std::string path = swaggerUiDir.empty() ? "" : swaggerUiDir + "/" + asset.name;
    server.Get(std::string("/swagger-ui/") + asset.name,
               [path, contentType = asset.contentType](const httplib::Request&,
                                                       httplib::Response& response) {
                 std::string bytes;
                 if (path.empty() || !ReadFile(path, bytes)) {
                   response.status = 404;
                   response.set_content("Swagger UI is not installed: run ./x setup", "text/plain");
                   return;
                 }
                 response.set_content(bytes, contentType);
               });
  }
}

}  // namespace Kavren::Host
