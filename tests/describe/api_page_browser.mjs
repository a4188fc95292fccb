// node api_page_browser.mjs HXA_HOST PLUGIN PACKET ARTIFACT_DIR: starts
// `HXA_HOST serve --port 0 --packet PACKET PLUGIN` on 127.0.0.1 and opens its page in
// Debian's headless Chromium: the plugin's four operations and the host controls render;
// "Try it out" reads the head; a push from the playground's form shows its announcement in
// the timeline (filterable, its payload expandable) and changes the head; "Try it out"
// acknowledges the new head; the memory chart draws points; the console stays free of
// errors; /openapi.json is valid. Screenshots are saved in ARTIFACT_DIR.

import { mkdirSync, mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

import { chromium } from "playwright-core";

import { checkOpenApi } from "./openapi_check.mjs";
import { checkAgainstServer } from "./serve_process.mjs";

const kTimeoutMs = 240_000;
const kOperations = [
  "DeleteHxaPlayerMessagingV1CelebrationNotificationByIdAcknowledge",
  "DeleteHxaPlayerMessagingV1NotificationByIdAcknowledge",
  "GetHxaPlayerMessagingV1CelebrationNotification",
  "GetHxaPlayerMessagingV1Notification",
];
const kHostControls = [
  "HostDeleteLoginDataPacket",
  "HostFailNextServerCall",
  "HostGetLoginDataPacket",
  "HostPushServerMessage",
  "HostReadInvokes",
  "HostReadLog",
  "HostReadMemory",
  "HostSetLoginDataPacket",
  "HostStreamEvents",
  "HostWaitForJobs",
];
const kNotificationEvent = "OnJsonApiEvent_hxa-player-messaging_v1_notification";
const kNotificationHead = "GetHxaPlayerMessagingV1Notification";

const [hostPath, pluginPath, packetPath, artifactDir, ...serveArgs] = process.argv.slice(2);


// The JSON a head card of the playground shows.
async function headOf(page, operationId) {
  return JSON.parse(await page.locator(`.head[data-operation="${operationId}"] pre`).textContent());
}

// Waits until the notification head the playground shows contains `text` (or, with
// `present` false, no longer does).
async function waitForHead(page, text, present = true) {
  await page.waitForFunction(
    ([operation, wanted, shown]) => {
      const head = document.querySelector(`.head[data-operation="${operation}"] pre`)?.textContent;
      return head !== undefined && head.includes(wanted) === shown;
    },
    [kNotificationHead, text, present],
  );
}

// "Try it out" on one operation, with its parameters; answers the status and body shown.
async function tryItOut(page, operationId, parameters = {}) {
  const block = page.locator(`.opblock[id$="-${operationId}"]`);
  if (!(await block.evaluate((element) => element.classList.contains("is-open")))) {
    await block.locator(".opblock-summary").click();
  }
  const tryOut = block.locator(".try-out__btn");
  if ((await tryOut.textContent()).includes("Try it out")) await tryOut.click();
  for (const [name, value] of Object.entries(parameters)) {
    await block.locator(`tr[data-param-name="${name}"] input`).fill(String(value));
  }
  await block.locator(".execute").click();
  const response = block.locator(".live-responses-table tr.response").first();
  await response.locator(".response-col_status").waitFor();
  const status = (await response.locator(".response-col_status").textContent()).trim();
  const body = await response.locator(".response-col_description pre").first().textContent();
  return { status, body };
}

async function acknowledge(page, id) {
  const answer = await tryItOut(page, "DeleteHxaPlayerMessagingV1NotificationByIdAcknowledge", { id });
  if (answer.status !== "204") throw new Error(`DELETE of ${id} answered ${answer.status}`);
}

async function check(baseUrl, profile) {
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    viewport: { width: 1400, height: 1000 },
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
    page.setDefaultTimeout(60_000);
    const consoleErrors = [];
    page.on("console", (message) => {
      if (message.type() === "error") consoleErrors.push(message.text());
    });
    page.on("pageerror", (error) => consoleErrors.push(String(error)));
    // A loaded machine may take long over the first load (Swagger UI's bundle is large).
    const started = Date.now();
    await page.goto(`${baseUrl}/`, { waitUntil: "domcontentloaded", timeout: 90_000 });
    console.log(`page loaded in ${Date.now() - started} ms`);

    // The plugin's four operations and the host controls, each once.
    const expected = [...kOperations, ...kHostControls].sort();
    await page.waitForFunction((count) => document.querySelectorAll(".opblock").length >= count, expected.length);
    const shown = await page.locator(".opblock .opblock-summary-operation-id").allTextContents();
    if (JSON.stringify(shown.map((text) => text.trim()).sort()) !== JSON.stringify(expected)) {
      throw new Error(`operations shown: ${shown.join(", ")}`);
    }

    // "Try it out" on the GET answers the head of the store, as the playground shows it.
    const read = await tryItOut(page, kNotificationHead);
    const first = JSON.parse(read.body);
    if (read.status !== "200" || first.id !== 1 || first.title !== "Welcome back") {
      throw new Error(`GET answered ${read.status} ${read.body}`);
    }
    await waitForHead(page, "Welcome back");

    // "Try it out" acknowledges the head; the playground shows the store emptied.
    await acknowledge(page, first.id);
    await waitForHead(page, "Welcome back", false);

    // A push from the prefilled form: its announcement reaches the timeline and the head
    // changes to the pushed message.
    await page.locator("#push-template").selectOption("notification");
    await page.locator("#push-send").click();
    await page.locator("#push-result", { hasText: "delivered to 1" }).waitFor();
    await waitForHead(page, "Hello from the page");
    const pushed = await headOf(page, kNotificationHead);
    if (pushed.id !== 2) throw new Error(`head after the push: ${JSON.stringify(pushed)}`);
    const announced = page
      .locator(`#timeline-list li[data-name="${kNotificationEvent}"]`)
      .filter({ has: page.locator("summary") })
      .first();
    await announced.waitFor();
    // Its payload opens, and a filter by another name hides it.
    await announced.locator("summary").click();
    await announced.locator("pre", { hasText: "Hello from the page" }).waitFor();
    await page.locator("#timeline-filter").fill("celebration");
    if (await announced.isVisible()) throw new Error("the filter kept a notification event");
    await page.locator("#timeline-filter").fill("");

    // The pushed head is acknowledged with "Try it out" in turn.
    await acknowledge(page, pushed.id);
    await waitForHead(page, "Hello from the page", false);
    if ((await headOf(page, kNotificationHead)).id !== 0) throw new Error("the head was not acknowledged");

    // The chart draws a point a second, the plugin's bytes in use among them.
    await page.waitForFunction(() => {
      const data = window.hxaPage?.chart?.data;
      return data && data[0].length >= 3 && data[1].every((value) => value > 0);
    });
    await page.locator("#chart-plot canvas").waitFor();

    mkdirSync(artifactDir, { recursive: true });
    await page.screenshot({ path: join(artifactDir, "api-page.png") });
    await page.locator("#playground").screenshot({ path: join(artifactDir, "playground.png") });
    if (consoleErrors.length > 0) throw new Error(`console errors:\n${consoleErrors.join("\n")}`);

    // The document the page was built from is valid.
    const document = await (await fetch(`${baseUrl}/openapi.json`)).json();
    const problems = await checkOpenApi(document);
    if (problems.length > 0) throw new Error(problems.join("\n"));
  } catch (error) {
    // What the page showed when it failed.
    mkdirSync(artifactDir, { recursive: true });
    await context.pages()[0]?.screenshot({ path: join(artifactDir, "failed.png"), fullPage: true });
    throw error;
  } finally {
    await context.close();
  }
}

const profile = mkdtempSync(join(tmpdir(), "hxa-chromium-"));
await checkAgainstServer(
  {
    hostPath,
    pluginPath,
    packetPath,
    args: serveArgs,
    timeoutMs: kTimeoutMs,
    cleanup: () => rmSync(profile, { recursive: true, force: true }),
  },
  async (baseUrl) => {
    await check(baseUrl, profile);
    return `API page: operations, Try it out, push, timeline, heads and chart; screenshots in ${artifactDir}`;
  },
);
