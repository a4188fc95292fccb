// node contract_check.mjs HXA_HOST PLUGIN PACKET WORK_DIR: the development server's API
// contract as generated clients meet it. The OpenAPI and AsyncAPI documents, from
// `hxa-host describe` and from a live `hxa-host serve` on 127.0.0.1, must be valid (the
// OpenAPI validator, @asyncapi/parser) and Spectral-clean (.spectral.yaml); TypeScript
// types generated from the served /openapi.json by openapi-typescript must type a small
// openapi-fetch client under `tsc --strict`, and that client must run against the server.
import { execFileSync } from "node:child_process";
import { copyFileSync, mkdirSync, rmSync, symlinkSync, writeFileSync } from "node:fs";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

import { Parser } from "@asyncapi/parser";
import openapiTS, { astToString } from "openapi-typescript";

import { checkOpenApi } from "./openapi_check.mjs";
import { checkAgainstServer } from "./serve_process.mjs";

const kTimeoutMs = 240_000;
const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, "../..");
const [hostPath, pluginPath, packetPath, workDir] = process.argv.slice(2);

function describe(format) {
  return execFileSync(hostPath, ["describe", pluginPath, "--format", format], {
    encoding: "utf8",
    timeout: 60_000,
  });
}


async function checkAsyncApi(text, where) {
  const diagnostics = await new Parser().validate(text);
  // Severity 0 is an error, 1 a warning.
  return diagnostics
    .filter((diagnostic) => diagnostic.severity <= 1)
    .map((diagnostic) => `${where}: ${diagnostic.code} ${diagnostic.message} at ${diagnostic.path.join(".")}`);
}

function spectral(files) {
  try {
    execFileSync(
      process.execPath,
      [join(root, "node_modules/@stoplight/spectral-cli/dist/index.js"), "lint", "--ruleset",
        join(root, ".spectral.yaml"), "--fail-severity", "hint", ...files],
      { encoding: "utf8", timeout: 120_000 },
    );
    return [];
  } catch (error) {
    return [`spectral:\n${error.stdout ?? ""}${error.stderr ?? ""}`];
  }
}

async function typedClient(baseUrl, openApiText) {
  const clientDir = join(workDir, "typed-client");
  rmSync(clientDir, { recursive: true, force: true });
  mkdirSync(clientDir, { recursive: true });
  const types = await openapiTS(openApiText);
  writeFileSync(join(clientDir, "api.d.ts"), astToString(types));
  copyFileSync(join(here, "typed_client.ts"), join(clientDir, "typed_client.ts"));
  writeFileSync(join(clientDir, "package.json"), JSON.stringify({ type: "module" }));
  symlinkSync(join(root, "node_modules"), join(clientDir, "node_modules"), "dir");
  writeFileSync(
    join(clientDir, "tsconfig.json"),
    JSON.stringify({
      compilerOptions: {
        strict: true,
        target: "es2022",
        module: "es2022",
        moduleResolution: "bundler",
        lib: ["es2022", "dom"],
        noUncheckedIndexedAccess: true,
      },
      files: ["typed_client.ts"],
    }),
  );
  try {
    execFileSync(process.execPath, [join(root, "node_modules/typescript/bin/tsc"), "-p", clientDir], {
      encoding: "utf8",
      timeout: 120_000,
    });
  } catch (error) {
    return [`tsc:\n${error.stdout ?? ""}${error.stderr ?? ""}`];
  }
  const output = execFileSync(process.execPath, [join(clientDir, "typed_client.js"), baseUrl], {
    encoding: "utf8",
    timeout: 30_000,
  });
  const result = JSON.parse(output);
  const expected = { id: 1, title: "Welcome back", acknowledged: 204, malformed: 400, bytesInUse: true };
  return JSON.stringify(result) === JSON.stringify(expected)
    ? []
    : [`typed client: ${output.trim()}, expected ${JSON.stringify(expected)}`];
}

async function check(baseUrl) {
  mkdirSync(workDir, { recursive: true });
  const problems = [];
  const documents = {
    "describe-openapi.json": describe("openapi"),
    "describe-asyncapi.json": describe("asyncapi"),
    "served-openapi.json": await (await fetch(`${baseUrl}/openapi.json`)).text(),
    "served-asyncapi.json": await (await fetch(`${baseUrl}/asyncapi.json`)).text(),
  };
  for (const [name, text] of Object.entries(documents)) {
    writeFileSync(join(workDir, name), text);
    if (name.endsWith("openapi.json")) {
      problems.push(...(await checkOpenApi(JSON.parse(text))).map((problem) => `${name}: ${problem}`));
    } else {
      problems.push(...(await checkAsyncApi(text, name)));
    }
  }
  problems.push(...spectral(Object.keys(documents).map((name) => join(workDir, name))));
  problems.push(...(await typedClient(baseUrl, documents["served-openapi.json"])));
  return problems;
}

await checkAgainstServer({ hostPath, pluginPath, packetPath, timeoutMs: kTimeoutMs }, async (baseUrl) => {
  const problems = await check(baseUrl);
  if (problems.length > 0) throw new Error(problems.join("\n"));
  return "contract: both documents valid and Spectral-clean; the typed client compiled and ran";
});
