// node api_page_browser.mjs HXA_HOST PLUGIN PACKET [SERVE_ARGS..]: starts
// `HXA_HOST serve --port 0 --packet PACKET PLUGIN` on 127.0.0.1, opens its API page in
// Debian's headless Chromium and checks that the four operations render, that "Try it
// out" on the notification GET answers the head of the store, that the events panel
// shows the announcement of an acknowledgement, and that /openapi.json is valid.
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { createInterface } from "node:readline";

import { chromium } from "playwright-core";

import { checkOpenApi } from "./openapi_check.mjs";

const kTimeoutMs = 90_000;
const kOperations = [
  "DeleteHxaPlayerMessagingV1CelebrationNotificationByIdAcknowledge",
  "DeleteHxaPlayerMessagingV1NotificationByIdAcknowledge",
  "GetHxaPlayerMessagingV1CelebrationNotification",
  "GetHxaPlayerMessagingV1Notification",
];

const [hostPath, pluginPath, packetPath, ...serveArgs] = process.argv.slice(2);

// The server's first stdout line names its address.
function startServer() {
  const server = spawn(
    hostPath,
    ["serve", "--port", "0", "--packet", packetPath, ...serveArgs, pluginPath],
    { stdio: ["ignore", "pipe", "inherit"] },
  );
  const address = new Promise((resolve, reject) => {
    const lines = createInterface({ input: server.stdout });
    lines.once("line", (line) => {
      const match = /^listening on (http:\/\/\S+)/.exec(line);
      if (match) resolve(match[1]);
      else reject(new Error(`unexpected first line: ${line}`));
      lines.on("line", () => {});
    });
    server.once("exit", (code) => reject(new Error(`server exited with ${code}`)));
  });
  return { server, address };
}

async function check(baseUrl, profile) {
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: [
      "--no-sandbox",
      "--disable-gpu",
      "--disable-quic",
      "--no-first-run",
      "--disable-background-networking",
      "--disable-component-update",
      "--disable-sync",
    ],
  });
  try {
    const page = context.pages()[0] ?? (await context.newPage());
    page.setDefaultTimeout(30_000);
    await page.goto(`${baseUrl}/`);

    // The four operations, each once.
    await page.waitForFunction(() => document.querySelectorAll(".opblock").length >= 4);
    const shown = await page.locator(".opblock .opblock-summary-operation-id").allTextContents();
    if (JSON.stringify(shown.map((text) => text.trim()).sort()) !== JSON.stringify(kOperations)) {
      throw new Error(`operations shown: ${shown.join(", ")}`);
    }

    // "Try it out" on the GET answers the head of the store.
    const get = page.locator(".opblock").filter({ hasText: "GetHxaPlayerMessagingV1Notification" });
    await get.locator(".opblock-summary").click();
    await get.locator(".try-out__btn").click();
    await get.locator(".execute").click();
    const response = get.locator(".live-responses-table tr.response").first();
    const status = response.locator(".response-col_status");
    await status.waitFor();
    if ((await status.textContent()).trim() !== "200") {
      throw new Error(`GET answered ${await status.textContent()}`);
    }
    const bodyText = await response.locator(".response-col_description pre").first().textContent();
    const head = JSON.parse(bodyText);
    if (head.id !== 1 || head.title !== "Welcome back" || head.status !== 1) {
      throw new Error(`GET answered ${bodyText}`);
    }

    // The events panel shows the announcement an acknowledgement makes.
    const acknowledged = await page.evaluate(async () => {
      const response = await fetch("/hxa-player-messaging/v1/notification/1/acknowledge", {
        method: "DELETE",
      });
      return response.status;
    });
    if (acknowledged >= 300) throw new Error(`DELETE answered ${acknowledged}`);
    await page.locator("#events-list li .name", { hasText: "OnJsonApiEvent" }).first().waitFor();

    // The document the page was built from is valid.
    const document = await (await fetch(`${baseUrl}/openapi.json`)).json();
    const problems = await checkOpenApi(document);
    if (problems.length > 0) throw new Error(problems.join("\n"));
  } finally {
    await context.close();
  }
}

const { server, address } = startServer();
const profile = mkdtempSync(join(tmpdir(), "hxa-chromium-"));
const timer = setTimeout(() => {
  console.error(`no result within ${kTimeoutMs} ms`);
  server.kill("SIGKILL");
  process.exit(1);
}, kTimeoutMs);
let failed = false;
try {
  await check(await address, profile);
  console.log("API page: four operations, GET answered the head, the events panel updated");
} catch (error) {
  console.error(error.stack ?? String(error));
  failed = true;
} finally {
  clearTimeout(timer);
  server.kill("SIGTERM");
  rmSync(profile, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
