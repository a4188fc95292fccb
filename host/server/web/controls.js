// The host controls as forms: push a server message, fail the next server call,
// redeliver or delete the login data packet, wait for the queued jobs.

// Calls a host control; answers its JSON (null for none) or throws "STATUS: message".
export async function hostControl(method, route, body) {
  const init = { method };
  if (body !== undefined) {
    init.headers = { "Content-Type": "application/json" };
    init.body = JSON.stringify(body);
  }
  const response = await fetch(`/_host/${route}`, init);
  const text = await response.text();
  if (!response.ok) {
    let message = text;
    try {
      message = JSON.parse(text).message;
    } catch {
      // Not the server's failure body: shown as it came.
    }
    throw new Error(`${response.status}: ${message}`);
  }
  return text ? JSON.parse(text) : null;
}

// Shows what `action` answered (through `describe`) or why it failed.
async function report(output, action, describe) {
  output.className = "";
  output.textContent = "...";
  try {
    output.textContent = describe(await action());
  } catch (error) {
    output.className = "failed";
    output.textContent = error.message;
  }
}

function parseJson(textarea, what) {
  try {
    return JSON.parse(textarea.value);
  } catch (error) {
    throw new Error(`the ${what} is not JSON: ${error.message}`, { cause: error });
  }
}

// Each push gets a message id of its own, so that the store takes it as new.
let pushNumber = 0;
function freshId(message, base) {
  if (message && typeof message === "object" && "msgId" in message) {
    pushNumber += 1;
    message.msgId = `${base}-${Date.now().toString(36)}-${pushNumber}`;
  }
  return message;
}

async function startPush(templates) {
  const select = document.getElementById("push-template");
  const body = document.getElementById("push-body");
  for (const name of Object.keys(templates)) select.append(new Option(name, name));
  const fill = () => {
    const template = structuredClone(templates[select.value]);
    body.value = JSON.stringify(freshId(template, template.msgId), null, 2);
  };
  select.addEventListener("change", fill);
  fill();
  document.getElementById("push-send").addEventListener("click", () =>
    report(
      document.getElementById("push-result"),
      async () => {
        const message = parseJson(body, "message");
        const answer = await hostControl("POST", "server-messages", { body: message });
        const base = templates[select.value]?.msgId ?? "page";
        body.value = JSON.stringify(freshId(message, base), null, 2);
        return answer;
      },
      (answer) => `delivered to ${answer.delivered} subscription(s)`,
    ),
  );
}

function startFailure() {
  document.getElementById("failure-arm").addEventListener("click", () =>
    report(
      document.getElementById("failure-result"),
      () =>
        hostControl("POST", "invoke-failures", {
          status: Number(document.getElementById("failure-status").value),
          errorText: document.getElementById("failure-text").value,
        }),
      () => "the next server call fails",
    ),
  );
}

function startPacket() {
  const body = document.getElementById("packet-body");
  const output = document.getElementById("packet-result");
  const reload = () =>
    report(
      output,
      async () => {
        const packet = await hostControl("GET", "login-data-packet");
        body.value = packet === null ? "" : JSON.stringify(packet, null, 2);
        return packet;
      },
      (packet) => (packet === null ? "no packet is set" : "packet read"),
    );
  document.getElementById("packet-reload").addEventListener("click", reload);
  document.getElementById("packet-redeliver").addEventListener("click", () =>
    report(
      output,
      () => hostControl("PUT", "login-data-packet", parseJson(body, "packet")),
      () => "packet delivered",
    ),
  );
  document.getElementById("packet-delete").addEventListener("click", () =>
    report(output, () => hostControl("DELETE", "login-data-packet"), () => "packet deleted"),
  );
  document.getElementById("jobs-wait").addEventListener("click", () =>
    report(
      output,
      () => hostControl("POST", "wait-for-jobs"),
      (answer) => (answer.done ? "every job ran" : "jobs still queued"),
    ),
  );
  reload();
}

export async function startControls() {
  const response = await fetch("/page/push-templates.json");
  await startPush(await response.json());
  startFailure();
  startPacket();
}
