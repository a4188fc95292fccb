// The page's start: Swagger UI over /openapi.json, and the playground beside it.
import { startChart } from "./chart.js";
import { startControls } from "./controls.js";
import { watchEvents } from "./events.js";
import { headOperations, startHeads } from "./heads.js";
import { startTimeline } from "./timeline.js";

// Each operation is shown once, under its most specific (last) tag, and tags left without
// operations are not shown; the document itself keeps all of them.
function oneTagEach(spec) {
  const shown = structuredClone(spec);
  const used = new Set();
  for (const item of Object.values(shown.paths ?? {})) {
    for (const operation of Object.values(item)) {
      if (operation && Array.isArray(operation.tags) && operation.tags.length > 0) {
        operation.tags = [operation.tags[operation.tags.length - 1]];
        used.add(operation.tags[0]);
      }
    }
  }
  shown.tags = (shown.tags ?? []).filter((tag) => used.has(tag.name));
  return shown;
}

function setState(text) {
  const state = document.getElementById("events-state");
  state.textContent = text;
  state.className = text === "connected" ? "connected" : "waiting";
}

async function start() {
  const spec = await (await fetch("/openapi.json")).json();
  document.title = `${spec.info?.title ? `${spec.info.title} ` : ""}API`;
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

  const heads = startHeads(document.getElementById("heads-list"), headOperations(spec));
  const timeline = startTimeline({
    list: document.getElementById("timeline-list"),
    filter: document.getElementById("timeline-filter"),
    clear: document.getElementById("timeline-clear"),
  });
  let eventCount = 0;
  const chart =
    typeof uPlot === "function"
      ? startChart(document.getElementById("chart-plot"), () => {
          const counted = eventCount;
          eventCount = 0;
          return counted;
        })
      : null;
  // Tests and the console reach the page's parts here.
  window.hxaPage = { spec, chart };
  startControls().catch((error) => console.error("host controls:", error));
  watchEvents((name, data) => {
    eventCount += 1;
    timeline.add(name, data);
    heads.refresh();
  }, setState);
}

start().catch((error) => setState(`failed: ${error}`));
