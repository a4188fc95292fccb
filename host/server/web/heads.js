// The heads of the plugin's stores: every GET operation of the plugin that needs no
// argument, read at start and again after the plugin's events.
const kHostTag = "Development host";
const kRefreshDelayMs = 100;

// The operations whose answers are shown: {path, operationId}.
export function headOperations(spec) {
  const operations = [];
  for (const [path, item] of Object.entries(spec.paths ?? {})) {
    const get = item.get;
    if (!get || (get.tags ?? []).includes(kHostTag)) continue;
    if ((get.parameters ?? []).some((parameter) => parameter.required)) continue;
    operations.push({ path, operationId: get.operationId });
  }
  return operations;
}

export function startHeads(container, operations) {
  const cards = operations.map(({ path, operationId }) => {
    const card = document.createElement("div");
    card.className = "head";
    card.dataset.operation = operationId;
    const label = document.createElement("div");
    label.className = "path";
    label.textContent = `GET ${path}`;
    const body = document.createElement("pre");
    card.append(label, body);
    container.append(card);
    return { path, card, body };
  });

  async function readOne({ path, card, body }) {
    let text;
    try {
      const response = await fetch(path);
      const answer = await response.text();
      text = response.ok ? JSON.stringify(JSON.parse(answer), null, 2) : `${response.status} ${answer}`;
    } catch (error) {
      text = `failed: ${error.message}`;
    }
    if (text === body.textContent) return;
    body.textContent = text;
    // Restarts the highlight of a changed head.
    card.classList.remove("changed");
    void card.offsetWidth;
    card.classList.add("changed");
  }

  let timer = null;
  // Reads every head again shortly; bursts of events cause one read.
  function refresh() {
    if (timer !== null) return;
    timer = setTimeout(() => {
      timer = null;
      for (const card of cards) readOne(card);
    }, kRefreshDelayMs);
  }
  refresh();
  return { refresh };
}
