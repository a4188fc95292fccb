// A client typed by the types openapi-typescript generates from /openapi.json (./api.d.ts
// beside it once generated): reads the head of the store, acknowledges it and reads the
// plugin's memory, each through openapi-fetch. Prints what it read as one JSON line.
import createClient from "openapi-fetch";

import type { paths } from "./api";

declare const process: { argv: string[] };

const client = createClient<paths>({ baseUrl: process.argv[2] });

const head = await client.GET("/hxa-player-messaging/v1/notification");
if (head.data === undefined) throw new Error(`GET answered ${head.response.status}`);
// Both fields are required in the reply's schema: no optional chaining is needed.
const id: number = head.data.id;
const title: string = head.data.title;

const acknowledged = await client.DELETE("/hxa-player-messaging/v1/notification/{id}/acknowledge", {
  params: { path: { id } },
});
const malformed = await fetch(`${process.argv[2]}/hxa-player-messaging/v1/notification/x/acknowledge`, {
  method: "DELETE",
});

const memory = await client.GET("/_host/memory");
if (memory.data === undefined) throw new Error(`GET /_host/memory answered ${memory.response.status}`);
const bytesInUse: number = memory.data.bytesInUse;

console.log(
  JSON.stringify({
    id,
    title,
    acknowledged: acknowledged.response.status,
    malformed: malformed.status,
    bytesInUse: bytesInUse > 0,
  }),
);
