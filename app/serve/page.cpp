// SPDX-License-Identifier: Apache-2.0
// The page served at "/": one document with its style and script, nothing
// loaded from anywhere else. It connects back over WebSocket in the same
// protocol the robotics viewers speak, subscribes to /scan and draws each
// scan top-down as it arrives. A robot's stream (several /NAME/scan and
// /tf) is drawn in the robot's frame, round its origin, each scanner in a
// colour of its own, with one status line a scanner.

#include "app/serve/server.h"

namespace app::serve {

std::string_view pageHtml() {
  return R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>lmsview</title>
<style>
  html, body { margin: 0; height: 100%; background: #111418; color: #d8dde3;
               font: 14px/1.4 system-ui, sans-serif; }
  #status { position: fixed; left: 0; right: 0; top: 0; padding: 6px 10px; background: #1c2127;
            white-space: normal; overflow-wrap: anywhere; }
  #status .lost { color: #ff8a65; }
  #status .open { color: #81c784; }
  #status .stale { color: #ffd54f; }
  #hover { position: fixed; right: 10px; bottom: 8px; color: #9aa5b1; }
  #status .scanner { display: block; }
  canvas { display: block; width: 100%; height: 100%; cursor: crosshair; }
</style>
</head>
<body>
<div id="status">connecting…</div>
<div id="hover"></div>
<canvas id="view"></canvas>
<script>
"use strict";
const canvas = document.getElementById("view");
const statusLine = document.getElementById("status");
const hover = document.getElementById("hover");
const ctx = canvas.getContext("2d");
// Two states, shown apart: whether this page reaches lmsview, and whether
// lmsview reaches the scanner (as lmsview last said).
let scan = null, samples = 0, page = "connecting", link = "", linkUp = false, zoom = 1, mouse = null;
let lastArrival = 0;
const arrivals = [];

function resize() {
  const r = window.devicePixelRatio || 1;
  canvas.width = Math.round(canvas.clientWidth * r);
  canvas.height = Math.round(canvas.clientHeight * r);
  draw();
}

// Metres to pixels: the farthest distance fills the view at zoom 1.
function geometry() {
  const r = window.devicePixelRatio || 1;
  const w = canvas.width, h = canvas.height, top = 40 * r, margin = 20 * r;
  let far = 1;
  if (scan) for (const v of scan.ranges) if (valid(v) && v > far) far = v;
  const scale = Math.min((w / 2 - margin) / far, (h - top - 2 * margin) / far) * zoom;
  return { r, w, h, cx: w / 2, cy: h - margin, scale };
}

// A range is a distance inside the bounds the scan carries; 0 is no echo.
function valid(v) {
  return v >= scan.range_min && v <= scan.range_max;
}

// Point i's angle as the stream gives it: 0 straight ahead (up on the
// page), growing counter-clockwise (to the left).
function angle(i) {
  return scan.start_angle + (scan.end_angle - scan.start_angle) * i / Math.max(scan.ranges.length - 1, 1);
}

// "+17.0° (0° ahead, + left)": the angle as the page draws it, said so.
function angleText(a) {
  const deg = a * 180 / Math.PI;
  return `${deg >= 0.05 ? "+" : ""}${deg.toFixed(1)}° (0° ahead, + left)`;
}

function point(g, i) {
  const v = scan.ranges[i];
  if (!valid(v)) return null;
  const a = angle(i);
  return { x: g.cx - Math.sin(a) * v * g.scale, y: g.cy - Math.cos(a) * v * g.scale, v, a };
}

// A robot: each scanner's newest scan (by frame) and where it sits.
const robot = { scans: {}, poses: {}, lines: "", level: 0 };
const colours = ["#4fc3f7", "#ffb74d", "#aed581", "#f06292", "#ba68c8", "#4db6ac"];
function isRobot() { return Object.keys(robot.poses).length > 0; }

// A robot's scans in its frame: x ahead (up on the page), y to the left.
function drawRobot() {
  const r = window.devicePixelRatio || 1, w = canvas.width, h = canvas.height;
  ctx.fillStyle = "#111418";
  ctx.fillRect(0, 0, w, h);
  const frames = Object.keys(robot.poses);
  const points = {};
  let far = 1;
  for (const f of frames) {
    const s = robot.scans[f], p = robot.poses[f];
    points[f] = [];
    if (!s) continue;
    const n = s.ranges.length;
    for (let i = 0; i < n; i++) {
      const v = s.ranges[i];
      if (!(v >= s.range_min && v <= s.range_max)) continue;
      const a = p.yaw + s.start_angle + (s.end_angle - s.start_angle) * i / Math.max(n - 1, 1);
      const x = p.x + v * Math.cos(a), y = p.y + v * Math.sin(a);
      points[f].push([x, y]);
      far = Math.max(far, Math.hypot(x, y));
    }
  }
  const scale = Math.min(w, h - 40 * r) / 2 / far * zoom * 0.95, cx = w / 2, cy = 40 * r + (h - 40 * r) / 2;
  const at = (x, y) => [cx - y * scale, cy - x * scale];
  // Rings round the origin, dashed and dim.
  ctx.strokeStyle = "#2b333c";
  ctx.lineWidth = r;
  ctx.setLineDash([2 * r, 6 * r]);
  const step = [0.5, 1, 2, 5, 10].find((s) => s * scale > 60 * r) || 10;
  for (let m = step; m * scale < Math.max(w, h); m += step) {
    ctx.beginPath();
    ctx.arc(cx, cy, m * scale, 0, 2 * Math.PI);
    ctx.stroke();
  }
  ctx.setLineDash([]);
  // The robot's origin: a cross, its x axis ahead.
  ctx.strokeStyle = "#d8dde3";
  ctx.beginPath();
  ctx.moveTo(cx - 8 * r, cy); ctx.lineTo(cx + 8 * r, cy);
  ctx.moveTo(cx, cy + 8 * r); ctx.lineTo(cx, cy - 14 * r);
  ctx.stroke();
  const drawn = {};
  frames.forEach((f, k) => {
    const colour = colours[k % colours.length], p = robot.poses[f];
    ctx.fillStyle = colour;
    for (const [x, y] of points[f]) {
      const [u, v] = at(x, y);
      ctx.fillRect(u - 1.5 * r, v - 1.5 * r, 3 * r, 3 * r);
    }
    // The scanner itself, and which way it looks.
    const [u, v] = at(p.x, p.y);
    ctx.beginPath();
    ctx.arc(u, v, 5 * r, 0, 2 * Math.PI);
    ctx.fill();
    const [u2, v2] = at(p.x + 0.3 * Math.cos(p.yaw) * far / 4, p.y + 0.3 * Math.sin(p.yaw) * far / 4);
    ctx.strokeStyle = colour;
    ctx.beginPath();
    ctx.moveTo(u, v); ctx.lineTo(u2, v2);
    ctx.stroke();
    ctx.font = `${12 * r}px system-ui, sans-serif`;
    ctx.fillText(f, u + 8 * r, v - 8 * r);
    drawn[f] = points[f].length;
  });
  window.robotDrawn = drawn;  // the points drawn of each scanner, for whoever checks the page
}

function draw() {
  if (isRobot()) return drawRobot();
  const g = geometry();
  ctx.fillStyle = "#111418";
  ctx.fillRect(0, 0, g.w, g.h);
  // Range rings every 1, 2 or 5 metres, labelled.
  const steps = [0.5, 1, 2, 5, 10];
  const step = steps.find(s => s * g.scale > 60 * g.r) || 10;
  // Dashed and dim, so a ring is never taken for a surface the scanner saw.
  ctx.strokeStyle = "#2b333c";
  ctx.fillStyle = "#6b7785";
  ctx.font = `${11 * g.r}px system-ui, sans-serif`;
  ctx.lineWidth = g.r;
  ctx.setLineDash([2 * g.r, 6 * g.r]);
  let labelEnd = g.cx;  // the first x free for a label
  const labels = [];    // where each label went, for whoever checks the page
  for (let m = step; m * g.scale < Math.max(g.w, g.h) * 1.5; m += step) {
    ctx.beginPath();
    ctx.arc(g.cx, g.cy, m * g.scale, Math.PI, 2 * Math.PI);
    ctx.stroke();
    // Only a label that fits is drawn: none past the edge, none over another.
    const label = `${m} m`, x = g.cx + m * g.scale + 3 * g.r, width = ctx.measureText(label).width;
    if (x >= labelEnd && x + width <= g.w - 3 * g.r) {
      ctx.fillText(label, x, g.cy - 3 * g.r);
      labelEnd = x + width + 6 * g.r;
      labels.push({ x, width, right: g.w });
    }
  }
  ctx.setLineDash([]);
  window.ringLabels = labels;
  // The scanner, at the bottom centre, looking up.
  ctx.fillStyle = "#4fc3f7";
  ctx.beginPath();
  ctx.arc(g.cx, g.cy, 5 * g.r, 0, 2 * Math.PI);
  ctx.fill();
  if (!scan) return;
  // The outline, broken where there is no distance and where the range
  // jumps (one surface ends, another begins behind it).
  ctx.strokeStyle = "#6fb7e8";
  ctx.lineWidth = 1.5 * g.r;
  ctx.beginPath();
  let last = null;
  for (let i = 0; i < scan.ranges.length; i++) {
    const p = point(g, i);
    if (p && last && Math.abs(p.v - last.v) < Math.max(0.3, 0.15 * p.v)) ctx.lineTo(p.x, p.y);
    else if (p) ctx.moveTo(p.x, p.y);
    last = p;
  }
  ctx.stroke();
  ctx.fillStyle = "#e6f4ff";
  for (let i = 0; i < scan.ranges.length; i++) {
    const p = point(g, i);
    if (p) ctx.fillRect(p.x - 1.5 * g.r, p.y - 1.5 * g.r, 3 * g.r, 3 * g.r);
  }
  // The point under the pointer.
  hover.textContent = "";
  if (mouse) {
    let best = null;
    for (let i = 0; i < scan.ranges.length; i++) {
      const p = point(g, i);
      if (!p) continue;
      const d = Math.hypot(p.x - mouse.x * g.r, p.y - mouse.y * g.r);
      if (d < 12 * g.r && (!best || d < best.d)) best = { d, p };
    }
    if (best) {
      ctx.strokeStyle = "#ffd54f";
      ctx.beginPath();
      ctx.arc(best.p.x, best.p.y, 6 * g.r, 0, 2 * Math.PI);
      ctx.stroke();
      hover.textContent = `${best.p.v.toFixed(3)} m at ${angleText(best.p.a)}`;
    }
  }
}

function escape(text) {
  return text.replace(/[&<>"]/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;" })[c]);
}

// The figures age: the rate counts the scans of the last five seconds, so it
// falls to 0 when they stop, and the time since the last scan is shown.
function showStatus() {
  const now = performance.now();
  if (isRobot()) {
    // One line a scanner, as lmsview last said each one's health.
    let text = `<span class="${page === "connected" ? "open" : "lost"}">lmsview: ${page}</span>` +
               ` · robot: ${Object.keys(robot.poses).length} scanners · ${samples} scans`;
    for (const line of robot.lines.split("\n").filter((l) => l))
      text += `<span class="scanner ${/stale|lost|cannot/.test(line) ? "stale" : "open"}">${escape(line)}</span>`;
    statusLine.innerHTML = text;
    return;
  }
  while (arrivals.length && now - arrivals[0] > 5000) arrivals.shift();
  const rate = arrivals.length > 1 ? (arrivals.length - 1) * 1000 / Math.max(now - arrivals[0], 1) : 0;
  let text = `<span class="${page === "connected" ? "open" : "lost"}">lmsview: ${page}</span>` +
             ` · <span class="${linkUp ? "open" : "lost"}">scanner: ${escape(link || "not known yet")}</span>`;
  if (scan) {
    let near = null, at = 0, points = 0;
    scan.ranges.forEach((v, i) => {
      if (!valid(v)) return;
      points++;
      if (near === null || v < near) { near = v; at = i; }
    });
    const t = new Date(scan.timestamp.sec * 1000 + scan.timestamp.nsec / 1e6);
    const age = (now - lastArrival) / 1000;
    text += ` · sample ${samples} · ${t.toLocaleTimeString()}` +
            (age >= 2 ? ` <span class="stale">(${age.toFixed(0)} s ago)</span>` : "") + ` · ${points} points` +
            (near === null ? "" : ` · nearest ${near.toFixed(3)} m at ${angleText(angle(at))}`) +
            ` · ${rate.toFixed(1)} scans/s`;
  }
  statusLine.innerHTML = text;
}

function connect() {
  const ws = new WebSocket(`ws://${location.host}/`, "foxglove.websocket.v1");
  ws.binaryType = "arraybuffer";
  ws.onopen = () => { page = "connected"; showStatus(); };
  ws.onmessage = (e) => {
    if (typeof e.data === "string") {
      const m = JSON.parse(e.data);
      if (m.op === "advertise") {
        // One scanner's /scan, or a robot's scanners and where they sit (the
        // merged cloud and scan are for other viewers).
        const robotStream = m.channels.some((c) => c.schemaName === "foxglove.FrameTransforms");
        for (const c of m.channels)
          if (c.topic === "/scan" || (robotStream && !c.topic.startsWith("/scan/")))
            ws.send(JSON.stringify({ op: "subscribe", subscriptions: [{ id: c.id, channelId: c.id }] }));
      } else if (m.op === "status" && m.id === "robot") {
        robot.lines = m.message;
        robot.level = m.level;
      } else if (m.op === "status") {
        linkUp = m.level === 0;
        link = m.message;
      }
      showStatus();
      return;
    }
    const view = new DataView(e.data);
    if (view.getUint8(0) !== 1) return;
    const message = JSON.parse(new TextDecoder().decode(new Uint8Array(e.data, 13)));
    if (message.transforms) {
      for (const t of message.transforms)
        robot.poses[t.child_frame_id] = { x: t.translation.x, y: t.translation.y,
                                          yaw: 2 * Math.atan2(t.rotation.z, t.rotation.w) };
      draw();
      return;
    }
    if (isRobot() || message.frame_id in robot.poses) robot.scans[message.frame_id] = message;
    scan = message;
    samples++;
    lastArrival = performance.now();
    arrivals.push(lastArrival);
    draw();
    showStatus();
  };
  ws.onclose = () => {
    page = "reconnecting";
    link = "";
    linkUp = false;
    showStatus();
    setTimeout(connect, 1000);
  };
}

canvas.addEventListener("wheel", (e) => {
  e.preventDefault();
  zoom = Math.min(50, Math.max(0.2, zoom * (e.deltaY < 0 ? 1.15 : 1 / 1.15)));
  draw();
}, { passive: false });
canvas.addEventListener("mousemove", (e) => { mouse = { x: e.clientX, y: e.clientY }; draw(); });
canvas.addEventListener("mouseleave", () => { mouse = null; draw(); });
window.addEventListener("resize", resize);
setInterval(showStatus, 500);
resize();
connect();
</script>
</body>
</html>
)PAGE";
}

}  // namespace app::serve
