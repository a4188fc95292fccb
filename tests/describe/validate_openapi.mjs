// node validate_openapi.mjs HXA_HOST PLUGIN: the document `hxa-host describe` prints for
// PLUGIN must be a valid OpenAPI 3.1 document with the plugin's four operations.
import { execFileSync } from "node:child_process";

import { checkOpenApi } from "./openapi_check.mjs";

const [hostPath, pluginPath] = process.argv.slice(2);
const text = execFileSync(hostPath, ["describe", pluginPath, "--format", "openapi"], {
  encoding: "utf8",
  timeout: 60_000,
});
const document = JSON.parse(text);
const problems = await checkOpenApi(document);

const operations = Object.values(document.paths).flatMap((item) =>
  Object.values(item).map((operation) => operation.operationId),
);
const expected = [
  "DeleteHxaPlayerMessagingV1CelebrationNotificationByIdAcknowledge",
  "DeleteHxaPlayerMessagingV1NotificationByIdAcknowledge",
  "GetHxaPlayerMessagingV1CelebrationNotification",
  "GetHxaPlayerMessagingV1Notification",
];
if (JSON.stringify(operations.sort()) !== JSON.stringify(expected)) {
  problems.push(`operations ${operations.join(", ")}`);
}
if (problems.length > 0) {
  console.error(problems.join("\n"));
  process.exit(1);
}
console.log(`valid OpenAPI ${document.openapi}: ${operations.length} operations`);
