// The events as a timeline, newest first: each entry's name and time, its payload
// expandable; a filter keeps the entries whose name contains its text.
const kMaxEntries = 500;

function pretty(data) {
  try {
    return JSON.stringify(JSON.parse(data), null, 2);
  } catch {
    return data;
  }
}

export function startTimeline({ list, filter, clear }) {
  const matches = (name) => name.toLowerCase().includes(filter.value.trim().toLowerCase());
  filter.addEventListener("input", () => {
    for (const item of list.children) item.hidden = !matches(item.dataset.name);
  });
  clear.addEventListener("click", () => list.replaceChildren());

  function add(name, data, origin = "") {
    const item = document.createElement("li");
    item.dataset.name = name;
    const details = document.createElement("details");
    const summary = document.createElement("summary");
    const time = document.createElement("time");
    time.textContent = new Date().toLocaleTimeString();
    const label = document.createElement("span");
    label.className = "name";
    label.textContent = name;
    summary.append(time, label);
    if (origin) {
      const from = document.createElement("span");
      from.className = "origin";
      from.textContent = origin;
      summary.append(from);
    }
    // The payload is laid out when the entry is first opened.
    details.addEventListener(
      "toggle",
      () => {
        const payload = document.createElement("pre");
        payload.textContent = pretty(data);
        details.append(payload);
      },
      { once: true },
    );
    details.append(summary);
    item.append(details);
    item.hidden = !matches(name);
    list.prepend(item);
    while (list.children.length > kMaxEntries) list.lastChild.remove();
  }
  return { add };
}
