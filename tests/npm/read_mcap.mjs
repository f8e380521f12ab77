// SPDX-License-Identifier: Apache-2.0
// Reads an MCAP recording with the format's reference TypeScript reader and
// prints what it holds as JSON: the header, schemas, channels, statistics,
// every /scan message decoded as a ROS 2 LaserScan, every point cloud as its
// points' x, y, z read through its own field table (plus the raw words).
//
//   node read_mcap.mjs FILE          indexed: CRCs, summary and indexes checked
//   node read_mcap.mjs --stream FILE  streaming: reads what a file cut short holds

import { readFile, open } from "node:fs/promises";
import { McapIndexedReader, McapStreamReader } from "@mcap/core";
import { FileHandleReadable } from "@mcap/nodejs";
import { parse as parseMessageDefinition } from "@foxglove/rosmsg";
import { MessageReader } from "@foxglove/rosmsg2-serialization";
import { crc32 } from "@foxglove/crc";
import { decompress } from "fzstd";

const decompressHandlers = {
  zstd: (buffer, decompressedSize) => decompress(buffer, new Uint8Array(Number(decompressedSize))),
};

const args = process.argv.slice(2);
const stream = args[0] === "--stream";
const path = stream ? args[1] : args[0];

const out = { schemas: [], channels: [], scans: [], points: [], raw: [], other: [] };

// Any other message as plain JSON (typed arrays as arrays, 64-bit integers as numbers).
function plain(v) {
  if (typeof v === "bigint") return Number(v);
  if (ArrayBuffer.isView(v)) return Array.from(v, plain);
  if (Array.isArray(v)) return v.map(plain);
  if (v && typeof v === "object") return Object.fromEntries(Object.entries(v).map(([k, x]) => [k, plain(x)]));
  return v;
}

// A PointCloud2's points by what its fields say: name, offset and type.
function cloudPoints(m) {
  const view = new DataView(m.data.buffer, m.data.byteOffset, m.data.byteLength);
  const readers = {
    6: (at) => view.getUint32(at, !m.is_bigendian),
    7: (at) => view.getFloat32(at, !m.is_bigendian),
    8: (at) => view.getFloat64(at, !m.is_bigendian),
  };
  const points = [];
  for (let i = 0; i < m.width * m.height; ++i) {
    const p = {};
    for (const f of m.fields) p[f.name] = readers[f.datatype](i * m.point_step + f.offset);
    points.push(p);
  }
  return points;
}
const readers = new Map();

function decode(channel, schema, message) {
  if (channel.messageEncoding === "cdr" && schema.encoding === "ros2msg") {
    if (!readers.has(schema.id)) {
      const text = new TextDecoder().decode(schema.data);
      readers.set(schema.id, new MessageReader(parseMessageDefinition(text, { ros2: true })));
    }
    const m = readers.get(schema.id).readMessage(message.data);
    if (schema.name === "sensor_msgs/msg/PointCloud2") {
      out.points.push({
        topic: channel.topic,
        logTime: message.logTime.toString(),
        frame_id: m.header.frame_id,
        height: m.height,
        width: m.width,
        fields: m.fields.map((f) => ({ name: f.name, offset: f.offset, datatype: f.datatype, count: f.count })),
        point_step: m.point_step,
        row_step: m.row_step,
        is_dense: m.is_dense,
        points: cloudPoints(m),
      });
      return;
    }
    if (schema.name !== "sensor_msgs/msg/LaserScan") {
      out.other.push({ topic: channel.topic, schema: schema.name, logTime: message.logTime.toString(), message: plain(m) });
      return;
    }
    out.scans.push({
      topic: channel.topic,
      logTime: message.logTime.toString(),
      publishTime: message.publishTime.toString(),
      sec: m.header.stamp.sec,
      nanosec: m.header.stamp.nanosec,
      frame_id: m.header.frame_id,
      angle_min: m.angle_min,
      angle_max: m.angle_max,
      angle_increment: m.angle_increment,
      time_increment: m.time_increment,
      scan_time: m.scan_time,
      range_min: m.range_min,
      range_max: m.range_max,
      ranges: Array.from(m.ranges),
      intensities: Array.from(m.intensities),
    });
  } else if (channel.messageEncoding === "json") {
    out.raw.push({ topic: channel.topic, ...JSON.parse(new TextDecoder().decode(message.data)) });
  }
}

if (stream) {
  const reader = new McapStreamReader({ validateCrcs: true, decompressHandlers });
  reader.append(await readFile(path));
  const schemas = new Map();
  const channels = new Map();
  for (let r; (r = reader.nextRecord()); ) {
    if (r.type === "Header") out.header = { profile: r.profile, library: r.library };
    if (r.type === "Schema") schemas.set(r.id, r);
    if (r.type === "Channel") channels.set(r.id, r);
    if (r.type === "Message") {
      const channel = channels.get(r.channelId);
      decode(channel, schemas.get(channel.schemaId), r);
    }
  }
  out.done = reader.done();
} else {
  const bytes = await readFile(path);
  const handle = await open(path, "r");
  const reader = await McapIndexedReader.Initialize({ readable: new FileHandleReadable(handle), decompressHandlers });
  out.header = { profile: reader.header.profile, library: reader.header.library };
  for (const s of reader.schemasById.values())
    out.schemas.push({ id: s.id, name: s.name, encoding: s.encoding, data: new TextDecoder().decode(s.data) });
  for (const c of reader.channelsById.values())
    out.channels.push({
      id: c.id,
      schemaId: c.schemaId,
      topic: c.topic,
      messageEncoding: c.messageEncoding,
      metadata: Object.fromEntries(c.metadata),
    });
  const st = reader.statistics;
  out.statistics = { messageCount: Number(st.messageCount), chunkCount: st.chunkCount };
  out.chunkIndexes = reader.chunkIndexes.length;
  out.compression = [...new Set(reader.chunkIndexes.map((c) => c.compression))];
  out.summaryOffsets = reader.summaryOffsetsByOpcode.size;
  // The data section's CRC, which the reader does not check: every byte
  // before the Data End record (13 bytes long, just before the summary).
  const dataEnd = Number(reader.footer.summaryStart) - 13;
  const stored = Buffer.from(bytes.subarray(dataEnd + 9, dataEnd + 13)).readUInt32LE(0);
  out.dataCrcOk = bytes[dataEnd] === 0x0f && crc32(bytes.subarray(0, dataEnd)) === stored;
  for await (const m of reader.readMessages({ validateCrcs: true })) {
    const channel = reader.channelsById.get(m.channelId);
    decode(channel, reader.schemasById.get(channel.schemaId), m);
  }
  await handle.close();
}
process.stdout.write(JSON.stringify(out) + "\n");
