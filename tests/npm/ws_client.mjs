// SPDX-License-Identifier: Apache-2.0
// The protocol's own client library against lmsview --serve: connects with
// the foxglove.websocket.v1 sub-protocol, subscribes to /scan when it is
// advertised (or to the topics named), and prints what it got as one JSON
// object, each message with its topic.
//
//   node ws_client.mjs ws://127.0.0.1:8765/ COUNT [TOPIC,TOPIC...]
import wsProtocol from "@foxglove/ws-protocol";
import { WebSocket } from "ws";

const { FoxgloveClient } = wsProtocol;

const [url, count] = [process.argv[2], Number(process.argv[3] ?? 3)];
const topics = (process.argv[4] ?? "/scan").split(",");
const topicOf = new Map();  // subscription id -> topic
const got = { serverInfo: null, channels: [], scans: [], statuses: [] };
const ws = new WebSocket(url, [FoxgloveClient.SUPPORTED_SUBPROTOCOL]);
const client = new FoxgloveClient({ ws });
const timer = setTimeout(() => finish(1), 20000);

function finish(code) {
  clearTimeout(timer);
  client.close();
  process.stdout.write(JSON.stringify(got) + "\n");
  process.exit(code);
}

client.on("serverInfo", (info) => { got.serverInfo = info; });
client.on("status", (s) => got.statuses.push(s));
client.on("advertise", (channels) => {
  for (const c of channels) {
    got.channels.push(c);
    if (topics.includes(c.topic)) topicOf.set(client.subscribe(c.id), c.topic);
  }
});
client.on("message", ({ subscriptionId, timestamp, data }) => {
  const scan = JSON.parse(new TextDecoder().decode(data));
  got.scans.push({ topic: topicOf.get(subscriptionId), logTime: String(timestamp), ...scan });
  if (got.scans.length >= count) finish(0);
});
client.on("error", (e) => { got.error = String(e?.message ?? e); finish(1); });
