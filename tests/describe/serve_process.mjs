// `hxa-host serve --port 0` as a child process for the node tests, on 127.0.0.1.
import { spawn } from "node:child_process";
import { createInterface } from "node:readline";

// Starts `HOST serve --port 0 --packet PACKET ...ARGS PLUGIN`; answers the process and a
// promise of its address, which the server's first stdout line names.
export function startServer(hostPath, pluginPath, packetPath, args = []) {
  const server = spawn(hostPath, ["serve", "--port", "0", "--packet", packetPath, ...args, pluginPath], {
    stdio: ["ignore", "pipe", "inherit"],
  });
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

// Starts the server, runs `check(baseUrl)` against it within `timeoutMs`, prints what the
// check answers (or why it failed), stops the server, runs `cleanup` and ends the process:
// status 0 when the check passed.
export async function checkAgainstServer({ hostPath, pluginPath, packetPath, args, timeoutMs, cleanup }, check) {
  const { server, address } = startServer(hostPath, pluginPath, packetPath, args);
  const timer = setTimeout(() => {
    console.error(`no result within ${timeoutMs} ms`);
    server.kill("SIGKILL");
    process.exit(1);
  }, timeoutMs);
  let failed = false;
  try {
    console.log(await check(await address));
  } catch (error) {
    console.error(error.stack ?? String(error));
    failed = true;
  } finally {
    clearTimeout(timer);
    server.kill("SIGTERM");
    cleanup?.();
  }
  process.exit(failed ? 1 : 0);
}
