// The server's event stream (/events) read with fetch, so that every event arrives
// whatever its name; the stream is opened again whenever it ends.
const kRetryMs = 1000;

// One Server-Sent Events block ("event:" and "data:" lines) as {name, data}; null for
// a block without data (a comment).
export function parseEventBlock(block) {
  let name = "message";
  const data = [];
  for (const line of block.split("\n")) {
    if (line.startsWith(":")) continue;
    const colon = line.indexOf(":");
    const field = colon < 0 ? line : line.slice(0, colon);
    const value = colon < 0 ? "" : line.slice(colon + 1).replace(/^ /, "");
    if (field === "event") name = value;
    else if (field === "data") data.push(value);
  }
  return data.length === 0 ? null : { name, data: data.join("\n") };
}

async function readStream(onEvent, onState) {
  const response = await fetch("/events", { headers: { Accept: "text/event-stream" } });
  if (!response.ok) throw new Error(`/events answered ${response.status}`);
  onState("connected");
  const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
  let buffer = "";
  for (;;) {
    const { value, done } = await reader.read();
    if (done) return;
    buffer += value.replaceAll("\r\n", "\n");
    for (let end = buffer.indexOf("\n\n"); end >= 0; end = buffer.indexOf("\n\n")) {
      const event = parseEventBlock(buffer.slice(0, end));
      buffer = buffer.slice(end + 2);
      if (event !== null) onEvent(event.name, event.data);
    }
  }
}

// Calls onEvent(name, data) for each event and onState("connected" | "reconnecting")
// as the stream opens and ends.
export async function watchEvents(onEvent, onState) {
  for (;;) {
    try {
      await readStream(onEvent, onState);
    } catch (error) {
      console.warn("event stream:", error.message);
    }
    onState("reconnecting");
    await new Promise((resolve) => setTimeout(resolve, kRetryMs));
  }
}
