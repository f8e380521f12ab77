#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Every benchmark in one run, printed as one table.

Micro-benchmarks (Google Benchmark), then whole processes on loopback: lmsview
against lmssim over TCP and over a pseudo-terminal for a fixed number of
scans, the same for a plain baseline reader, and lmsview on a silent link.

  scripts/bench.py [--scans 30] [--silent-seconds 30] [--rate-scans 100] [--markdown FILE]

Latency is from the emulator's last reply byte (its --timing-log) to the
moment the table's last row reaches our end of lmsview's standard output.
CPU and context switches come from the process's own accounting in /proc,
summed over its threads.
"""
import argparse
import json

import os
import re
import select
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import emulator  # noqa: E402  (the shared start of the emulator)
from emulator import DDS_ENV, Listener  # noqa: E402  (the DDS subscriber)
import serve_test  # noqa: E402  (the WebSocket client pieces)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
emulator.NPM = os.path.join(ROOT, "tests", "npm")  # the reference readers
BUILD = os.path.join(ROOT, "build", "release")


def sh(cmd, optional=False):
    subprocess.run(cmd, cwd=ROOT, check=not optional, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL if optional else None)


def task_stats(pid):
    """CPU ns and context switches summed over the process's threads."""
    cpu_ns = vol = invol = 0
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                cpu_ns += int(f.read().split()[0])
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        vol += int(line.split()[1])
                    elif line.startswith("nonvoluntary_ctxt_switches"):
                        invol += int(line.split()[1])
        except FileNotFoundError:
            pass  # a thread that just ended
    return cpu_ns, vol, invol


# lmsview's threads in the order it starts them (their ids ascend with it).
THREAD_NAMES = ["main", "DataThread", "AcquisitionThread", "SocketThread", "FramingThread"]


def thread_switches(pid):
    """Voluntary context switches of each thread, by start order."""
    per = []
    for tid in sorted(os.listdir(f"/proc/{pid}/task"), key=int):
        try:
            with open(f"/proc/{pid}/task/{tid}/status") as f:
                for line in f:
                    if line.startswith("voluntary_ctxt_switches"):
                        per.append(int(line.split()[1]))
        except FileNotFoundError:
            per.append(0)
    return per


def peak_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM"):
                return int(line.split()[1])
    return 0


def start_sim(serial, address, extra):
    timing = tempfile.NamedTemporaryFile(prefix="lms-timing-", delete=False)
    timing.close()
    cmd = [os.path.join(BUILD, "sim", "lmssim"), "--timing-log", timing.name, "--max-seconds", "600"] + extra
    if serial:
        cmd.append("--serial")
    else:
        cmd += ["--address", address]
    sim, where = emulator.launch(cmd[1:], lmssim=cmd[0], stderr=None)
    return sim, timing.name, ["COM", where] if serial else ["IP", address]


def run_reader(program, serial, address, scans, sim_extra=(), duration=None, view_extra=()):
    sim, timing_path, link = start_sim(serial, address, list(sim_extra))
    if program == "lmsview":
        cmd = [os.path.join(BUILD, "app", "lmsview"), *view_extra] + link + ["LMS"]
    elif program == "scanner":
        name = f"serial://{link[1]}" if serial else f"tcp://{address}"
        cmd = [os.path.join(BUILD, "bench", "scanner_reader"), name, str(scans + 1)]
    else:
        cmd = [os.path.join(BUILD, "bench", "baseline_reader")] + link + [str(scans + 1)]
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    fd = proc.stdout.fileno()
    table_ends = []  # monotonic ns at which each table's last row arrived
    buf = b""
    deadline = time.monotonic() + (duration if duration else scans * 1.5 + 20)
    begin = None
    started = time.monotonic()
    while time.monotonic() < deadline:
        if duration is not None and begin is None and time.monotonic() - started > 1:
            begin = (time.monotonic(), task_stats(proc.pid))  # after start-up
            threads_begin = thread_switches(proc.pid)
        if duration is None and len(table_ends) >= scans:
            break
        ready, _, _ = select.select([fd], [], [], 0.2)
        if not ready:
            continue
        chunk = os.read(fd, 65536)
        now = time.monotonic_ns()
        if not chunk:
            break
        buf += chunk
        while b"\n360 " in buf:
            at = buf.index(b"\n360 ")
            end = buf.find(b"\n", at + 1)
            if end < 0:
                break
            table_ends.append(now)
            buf = buf[end + 1:]
        if begin is None and table_ends and duration is None:
            begin = (time.monotonic(), task_stats(proc.pid))
    wall_end = time.monotonic()
    end_stats = task_stats(proc.pid)
    threads_end = thread_switches(proc.pid)
    rss = peak_rss_kib(proc.pid)
    if program == "lmsview":
        proc.stdin.write(b"k")
        proc.stdin.flush()
    rest = b""
    try:
        rest = proc.stdout.read()  # the tables shown after we stopped counting
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
    shown_total = len(table_ends) + (buf + rest).count(b"\n360 ")
    sim.terminate()
    sim.wait(timeout=10)
    with open(timing_path) as f:
        sent = [int(line.split()[1]) for line in f if line.strip()]
    os.unlink(timing_path)
    latencies = [(t - s) / 1e6 for s, t in zip(sent, table_ends)]
    per_thread = None
    if duration is not None and begin:
        per_thread = [(e - b) / (wall_end - begin[0]) for b, e in zip(threads_begin, threads_end)]
    shown = len(table_ends)
    if begin:
        t0, (cpu0, v0, i0) = begin
        seconds = wall_end - t0
        cpu_ms = (end_stats[0] - cpu0) / 1e6
        switches = (end_stats[1] - v0, end_stats[2] - i0)
    else:
        seconds, cpu_ms, switches = wall_end - started, end_stats[0] / 1e6, end_stats[1:]
    return {
        "shown": shown,
        "latency_median": statistics.median(latencies) if latencies else None,
        "latency_p99": sorted(latencies)[max(0, int(len(latencies) * 0.99) - 1)] if latencies else None,
        "cpu_ms_per_scan": cpu_ms / max(shown - 1, 1) if duration is None else None,
        "cpu_ms": cpu_ms,
        "seconds": seconds,
        "vol_per_s": switches[0] / seconds if seconds else 0,
        "invol_per_s": switches[1] / seconds if seconds else 0,
        "peak_rss_kib": rss,
        "sent": len(sent),
        "shown_total": shown_total,
        "per_thread": per_thread,
    }


def ros2_rows(out, scans):
    """--ros2 at 10 scans a second: lmsview's CPU per scan with and without
    it, and the time from a reply being whole (the scan's stamp) to a local
    subscriber having it, over loopback-only DDS."""
    listen = os.path.join(BUILD, "tests", "ros2_listen")
    if not os.path.exists(listen):
        out("(no --ros2 rows: this build has no DDS)")
        return None
    os.environ["CYCLONEDDS_URI"] = DDS_ENV["CYCLONEDDS_URI"]  # loopback only, for lmsview too
    listener = Listener(listen, 31, 10 * scans, scans // 10 + 60)
    view = ["--interval", "100"]
    plain = run_reader("lmsview", False, "127.0.0.34", scans, view_extra=view)
    with_ros2 = run_reader("lmsview", False, "127.0.0.34", scans, view_extra=view + ["--ros2", "--ros2-domain", "31"])
    lines = listener.finish()
    latency = {"reliable": [], "best_effort": []}
    for x in lines:
        if "reader" not in x:
            continue
        if x["reader"] == "reliable":
            sec, nanosec = struct.unpack_from("<iI", bytes.fromhex(x["cdr"]), 4)
        else:
            sec, nanosec = x["sec"], x["nanosec"]
        latency[x["reader"]].append((x["wall_ns"] - sec * 10**9 - nanosec) / 1e6)
    out("| --ros2, 10 scans a second | CPU per scan | to a local subscriber, median | p99 | received |")
    out("|---|---|---|---|---|")
    out(f"| lmsview without --ros2 | {fmt(plain['cpu_ms_per_scan'], ' ms')} | | | |")
    for reader, values in latency.items():
        values.sort()
        p99 = values[max(0, int(len(values) * 0.99) - 1)] if values else None
        out(f"| lmsview --ros2, {reader.replace('_', '-')} reader | {fmt(with_ros2['cpu_ms_per_scan'], ' ms')} | "
            f"{fmt(statistics.median(values) if values else None, ' ms')} | {fmt(p99, ' ms')} | "
            f"{len(values)} of {with_ros2['sent']} |")
    out()
    return plain, with_ros2


def serve_rows(out, scans):
    """--serve with 16 clients subscribed to /scan, one of them stalled (a
    small window, never read): the console's latency and lmsview's CPU per
    scan against the same run without it, at 10 scans a second."""
    address = "127.0.0.35"
    clients, stop = [], threading.Event()

    def reader(sock):
        sock.settimeout(0.2)
        while not stop.is_set():
            try:
                if not sock.recv(65536):
                    return
            except OSError:
                pass

    def join_in():
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            try:
                socket.create_connection((address, 8765), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)
        subscribe = serve_test.frame(1, b'{"op":"subscribe","subscriptions":[{"id":1,"channelId":1}]}')
        for i in range(16):
            sock, status, _ = serve_test.handshake(address, rcvbuf=4096 if i == 0 else None)
            sock.sendall(subscribe)
            clients.append(sock)
            if i > 0:
                threading.Thread(target=reader, args=(sock,), daemon=True).start()

    view = ["--interval", "100"]
    plain = run_reader("lmsview", False, address, scans, view_extra=view)
    joiner = threading.Thread(target=join_in)
    joiner.start()
    served = run_reader("lmsview", False, address, scans, view_extra=view + ["--serve", address + ":8765"])
    joiner.join()
    stop.set()
    for sock in clients:
        sock.close()
    out("| --serve, 10 scans a second | latency median | latency p99 | CPU per scan | peak RSS |")
    out("|---|---|---|---|---|")
    for name, r in (("lmsview without --serve", plain), ("lmsview --serve, 16 clients (1 stalled)", served)):
        out(f"| {name} | {fmt(r['latency_median'], ' ms')} | {fmt(r['latency_p99'], ' ms')} | "
            f"{fmt(r['cpu_ms_per_scan'], ' ms')} | {r['peak_rss_kib']} KiB |")
    per_client = (served["cpu_ms_per_scan"] - plain["cpu_ms_per_scan"]) / 15 * 1000
    out(f"Server CPU per scan per reading client: {per_client:.1f} µs ({len(clients)} clients joined)")
    out()
    return plain, served


# The scanner's variants: (name, points).
VARIANTS = (("180/0.5", 361), ("180/1", 181), ("100/1", 101), ("100/0.5", 201), ("100/0.25", 401))


def serial_throughput(rate, seconds, variant="180/0.5", points=361):
    """Scans a second over the pseudo-terminal with --interval 0, the scanner
    moved to `rate` (from 9600) with --scanner-baud and set to `variant`;
    from the emulator's timing log, after the first scan at the new rate."""
    timing = tempfile.NamedTemporaryFile(prefix="lms-timing-", delete=False)
    timing.close()
    sim, device = emulator.launch(["--serial", "--timing-log", timing.name, "--max-seconds", "600", "--variant",
                                   variant], lmssim=os.path.join(BUILD, "sim", "lmssim"), stderr=None)
    extra = ["--scanner-baud", str(rate)] if rate != 9600 else []
    view = subprocess.run([os.path.join(BUILD, "app", "lmsview"), "--interval", "0", "--seconds", str(seconds),
                           "--format", "jsonl", *extra, "COM", device, "LMS"], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=seconds + 30)
    emulator.stop(sim)
    with open(timing.name) as f:
        ends = [int(line.split()[1]) for line in f if line.strip()]
    os.unlink(timing.name)
    ends = ends[1:]  # the first reply may still be at 9600
    measured = (len(ends) - 1) / ((ends[-1] - ends[0]) / 1e9) if len(ends) > 2 else 0.0
    # A cycle carries the request (8 bytes), the acknowledge and the reply
    # (10 + 2 bytes a point), 10 bits a byte.
    limit = rate / (10 * (8 + 1 + 10 + 2 * points))
    return measured, limit, view.returncode


# Scans a second the mirror finishes for each variant: 75 turns a second,
# one scan every 1, 2 or 4 turns by resolution.
MIRROR = {"180/0.5": 37.5, "180/1": 75.0, "100/1": 75.0, "100/0.5": 37.5, "100/0.25": 18.75}


def stream_reader(program, rate, variant, scans):
    """The library's Scanner (a loop over next) or the plain continuous
    reader against the emulator's continuous output over the pty at `rate`:
    scans a second, CPU per scan and the latency from each telegram's last
    byte (the emulator's timing log) to the reader having it, after the
    first five scans; and the reader's peak RSS."""
    timing = tempfile.NamedTemporaryFile(prefix="lms-timing-", delete=False)
    timing.close()
    sim, device = emulator.launch(["--serial", "--baud", str(rate), "--variant", variant, "--timing-log",
                                   timing.name, "--max-seconds", "600"],
                                  lmssim=os.path.join(BUILD, "sim", "lmssim"), stderr=None)
    if program == "scanner":
        cmd = [os.path.join(BUILD, "bench", "scanner_reader"), f"serial://{device}", str(scans), "stream", str(rate)]
    else:
        cmd = [os.path.join(BUILD, "bench", "baseline_reader"), "STREAM", device, str(scans), str(rate)]
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    times, begin, end, rss = [], None, None, 0
    for line in proc.stdout:
        times.append(int(line.split()[1]))
        if len(times) == 5:
            begin = task_stats(proc.pid)[0]
        if len(times) == scans - 1:  # the reader ends after its last scan: measured before it
            end = task_stats(proc.pid)[0]
            rss = peak_rss_kib(proc.pid)
    proc.wait(timeout=30)
    emulator.stop(sim)
    with open(timing.name) as f:
        ends = sorted(int(line.split()[1]) for line in f if line.strip())
    os.unlink(timing.name)
    counted = times[5:scans - 1]
    latencies = []
    for t in counted:
        before = [e for e in ends if e <= t]
        if before:
            latencies.append((t - before[-1]) / 1e6)
    per_second = (len(counted) - 1) / ((counted[-1] - counted[0]) / 1e9) if len(counted) > 2 else 0.0
    return {"per_second": per_second, "cpu_ms_per_scan": (end - begin) / 1e6 / max(len(counted), 1)
            if begin is not None and end is not None else None,
            "latency_median": statistics.median(latencies) if latencies else None, "peak_rss_kib": rss}


def stream_run(seconds, *extra):
    """lmsview --stream at 75 scans a second (180/1 at 500000 baud), with
    `extra` options: its share of one core over `seconds` after the first,
    and its peak RSS."""
    sim, device = emulator.launch(["--serial", "--baud", "500000", "--variant", "180/1", "--max-seconds", "600"],
                                  lmssim=os.path.join(BUILD, "sim", "lmssim"), stderr=None)
    with tempfile.TemporaryDirectory() as d:
        extra = [x.replace("DIR", d) for x in extra]
        proc = subprocess.Popen([os.path.join(BUILD, "app", "lmsview"), "--baud", "500000", "--stream", *extra,
                                 "--seconds", str(seconds + 2), "COM", device, "LMS"],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        t0, cpu0 = time.monotonic(), task_stats(proc.pid)[0]
        time.sleep(seconds)
        t1, cpu1 = time.monotonic(), task_stats(proc.pid)[0]
        rss = peak_rss_kib(proc.pid)
        proc.wait(timeout=30)
    emulator.stop(sim)
    return 100 * (cpu1 - cpu0) / 1e9 / (t1 - t0), rss


def stop_times(rounds):
    """Milliseconds from the key to the end of the stream (the emulator's
    log), for a streaming run at 500000 baud."""
    times = []
    for _ in range(rounds):
        sim, device = emulator.launch(["--serial", "--baud", "500000", "--max-seconds", "600"],
                                      lmssim=os.path.join(BUILD, "sim", "lmssim"), stderr=None)
        proc = subprocess.Popen([os.path.join(BUILD, "app", "lmsview"), "--baud", "500000", "--stream", "--format",
                                 "jsonl", "COM", device, "LMS"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)
        for _ in range(10):
            proc.stdout.readline()
        key = time.monotonic_ns()
        proc.communicate(b"k", timeout=30)
        sim.terminate()
        notes = sim.communicate(timeout=10)[0]
        ended = re.search(r"continuous output ended \(monotonic (\d+) ns\)", notes)
        if ended:
            times.append((int(ended[1]) - key) / 1e6)
    return times


def stream_rows(out, scans):
    """Continuous output over the pseudo-terminal, each variant at 500000 and
    38400 baud: the library's Scanner and the plain continuous reader side by
    side; then lmsview --stream --record at 75 scans a second, and the stop."""
    out("| continuous output over the pty | baud | scans a second (Scanner / plain) | limit min(mirror, line) | "
        "share | CPU per scan (Scanner / plain) | ratio | latency last byte to next(), median |")
    out("|---|---|---|---|---|---|---|---|")
    rows = []
    for rate in (500000, 38400):
        for variant, points in VARIANTS:
            n = scans if rate == 500000 else max(12, scans // 5)
            lib = stream_reader("scanner", rate, variant, n)
            plain = stream_reader("baseline", rate, variant, n)
            limit = min(MIRROR[variant], rate / 10 / (10 + 2 * points))
            ratio = lib["cpu_ms_per_scan"] / plain["cpu_ms_per_scan"] if lib["cpu_ms_per_scan"] and \
                plain["cpu_ms_per_scan"] else None
            rows.append((rate, variant, lib, plain, limit, ratio))
            out(f"| {variant} | {rate} | {lib['per_second']:.2f} / {plain['per_second']:.2f} | {limit:.2f} | "
                f"{100 * lib['per_second'] / limit:.0f}% | {fmt(lib['cpu_ms_per_scan'], ' ms')} / "
                f"{fmt(plain['cpu_ms_per_scan'], ' ms')} | {fmt(ratio)} | {fmt(lib['latency_median'], ' ms')} |")
    out()
    share, recording_rss = stream_run(6, "--record", "DIR/x.mcap")
    _, rss = stream_run(3)
    plain_rss = max(r[3]["peak_rss_kib"] for r in rows)
    out(f"lmsview --stream --record x.mcap at 75 scans a second: {share:.2f}% of one core, peak RSS "
        f"{recording_rss} KiB; lmsview --stream: peak RSS {rss} KiB ({rss / max(plain_rss, 1):.2f} x the plain "
        f"continuous reader's {plain_rss} KiB)")
    stops = stop_times(5)
    if stops:
        out(f"Stop at 500000 baud, from the key to the scanner quiet: median {statistics.median(stops):.1f} ms, "
            f"longest {max(stops):.1f} ms ({len(stops)} runs)")
    out()
    return rows, share, rss, plain_rss, stops


def robot_run(scanners, seconds, d):
    """lmsview --config with `scanners` emulators streaming 180/0.5 at 500000
    baud (37.5 scans a second each), recording MCAP, on DDS and served: its
    share of one core over `seconds` after the first, its peak RSS, the
    recording and what each emulator sent."""
    sims, logs = [], []
    poses = ["0.4,0.3,20", "-0.2,-0.5,-35", "0,0.5,90"]
    toml = os.path.join(d, f"robot{scanners}.toml")
    with open(toml, "w") as f:
        for k in range(scanners):
            log = os.path.join(d, f"scans{scanners}_{k}.log")
            sim, device = emulator.launch(["--serial", "--baud", "500000", "--streaming", "--variant", "180/0.5",
                                           "--seed", "5", "--pose", poses[k], "--scan-log", log,
                                           "--max-seconds", "600"],
                                          lmssim=os.path.join(BUILD, "sim", "lmssim"), stderr=None)
            sims.append(sim)
            logs.append(log)
            x, y, yaw = poses[k].split(",")
            f.write(f'[scanner.s{k}]\nlink = "serial://{device}"\nbaud = 500000\nstream = true\n'
                    f'pose = {{ x = {x}, y = {y}, yaw_deg = {yaw} }}\n')
    mcap = os.path.join(d, f"robot{scanners}.mcap")
    proc = subprocess.Popen([os.path.join(BUILD, "app", "lmsview"), "--config", toml, "--record", mcap, "--ros2",
                             "--ros2-domain", "61", "--serve", "127.0.0.61:0",
                             "--seconds", str(seconds + 2)],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            env=DDS_ENV)
    time.sleep(1)
    t0, cpu0 = time.monotonic(), task_stats(proc.pid)[0]
    time.sleep(seconds)
    t1, cpu1 = time.monotonic(), task_stats(proc.pid)[0]
    rss = peak_rss_kib(proc.pid)
    proc.wait(timeout=60)
    sent = []
    for sim, log in zip(sims, logs):
        emulator.stop(sim)
        with open(log) as f:
            sent.append([tuple(int(w) for w in line.split()[2:]) for line in f if line.split()[1] == "sent"])
    return 100 * (cpu1 - cpu0) / 1e9 / (t1 - t0), rss, mcap, sent


def robot_rows(out):
    """A robot's two scanners streaming at once with every output, against
    one; every scan reaching the recording; how fresh the merge's scans are."""
    with tempfile.TemporaryDirectory() as d:
        one_share, one_rss, _, _ = robot_run(1, 8, d)
        share, rss, mcap, sent = robot_run(2, 8, d)
        got = emulator.read_mcap(mcap)
    recorded = [{tuple(r["words"]) for r in got["raw"] if r["topic"] == f"/s{k}/scan/raw"} for k in range(2)]
    # Every scan sent whole while lmsview read is in the recording: the
    # first and last may fall outside the run.
    missing = [sum(1 for w in s[1:-1] if w not in rec) for s, rec in zip(sent, recorded)]
    out("| two scanners streaming 180/0.5 at 500000 baud, MCAP + --ros2 + --serve | one scanner | two scanners |")
    out("|---|---|---|")
    out(f"| share of one core | {one_share:.2f}% | {share:.2f}% |")
    out(f"| peak RSS | {one_rss} KiB | {rss} KiB ({rss / max(one_rss, 1):.2f} x) |")
    out(f"| scans sent / recorded / missing (each scanner) | | "
        f"{', '.join(f'{len(s)} / {len(r)} / {m}' for s, r, m in zip(sent, recorded, missing))} |")
    # Freshness: each merged cloud's second scanner's points are one of its
    # scans; its stamp against the first scanner's (the cloud's) stamp.
    import math
    yaw = math.radians(-35)

    def placed(s):
        # The scan's distances, placed by its scanner's pose (-0.2, -0.5, -35 degrees).
        out = []
        for i, r in enumerate(s["ranges"]):
            if r is not None and s["range_min"] <= r <= s["range_max"]:
                a = yaw + s["angle_min"] + i * s["angle_increment"]
                out.append((-0.2 + r * math.cos(a), -0.5 + r * math.sin(a)))
        return out
    scans1 = [(int(s["sec"]) * 10**9 + int(s["nanosec"]), placed(s)) for s in got["scans"] if s["topic"] == "/s1/scan"]
    ages = []
    for cloud in (p for p in got["points"] if p["topic"] == "/scan/merged"):
        mine = [(q["x"], q["y"]) for q in cloud["points"] if q["scanner"] == 1]
        if not mine:
            continue
        t = int(cloud["logTime"])
        # The second scanner's scan whose every point is in the cloud (the
        # noise makes each scan's points its own).
        for stamp, points in scans1:
            if len(points) == len(mine) and all(abs(a[0] - b[0]) < 1e-4 and abs(a[1] - b[1]) < 1e-4
                                                for a, b in zip(points, mine)):
                ages.append((t - stamp) / 1e6)
                break
    period = 1000 / 37.5
    if ages:
        out(f"Freshness: the second scanner's newest scan at each merge is {statistics.median(ages):.1f} ms "
            f"(median), {max(ages):.1f} ms (most) older than the first's; its period is {period:.1f} ms, the bound "
            f"{period + 5:.1f} ms ({len(ages)} merges)")
    out()


def version_rss_kib():
    """Peak RSS of `lmsview --version`: the program's cost before any link.
    Measured by GNU time, whose own small process is what the child was forked
    from (a child forked from Python would count Python's pages)."""
    p = subprocess.run(["/usr/bin/time", "-f", "%M", os.path.join(BUILD, "app", "lmsview"), "--version"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
    return int(p.stderr.strip().splitlines()[-1])


def memory_rows(out, scans):
    """Peak RSS side by side: lmsview, the baseline reader and the library's
    Scanner over TCP, and lmsview --version."""
    rows = [(name, run_reader(program, False, "127.0.0.34", scans)["peak_rss_kib"])
            for name, program in (("lmsview over TCP", "lmsview"), ("baseline reader over TCP", "baseline"),
                                  ("liblmsview's Scanner over TCP", "scanner"))]
    rows.append(("lmsview --version", version_rss_kib()))
    out("| peak RSS | KiB |")
    out("|---|---|")
    for name, kib in rows:
        out(f"| {name} | {kib} |")
    out(f"Ratio lmsview / baseline over TCP: {rows[0][1] / max(rows[1][1], 1):.2f}")
    out()
    return rows


def fmt(v, unit=""):
    if v is None:
        return "-"
    return f"{v:.2f}{unit}" if isinstance(v, float) else f"{v}{unit}"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--scans", type=int, default=30)
    ap.add_argument("--silent-seconds", type=int, default=30)
    ap.add_argument("--rate-scans", type=int, default=100, help="scans for each run at 10 and 50 a second")
    ap.add_argument("--markdown", help="also write the tables to this file")
    ap.add_argument("--only", choices=["serial", "memory", "stream", "robot"],
                    help="only the serial throughput rows, the peak-memory rows or the continuous-output rows")
    args = ap.parse_args()

    sh(["scripts/setup.sh"])
    sh(["cmake", "--preset", "release"])
    sh(["cmake", "--build", "--preset", "release", "--target", "lmsview", "lmssim", "micro_bench", "baseline_reader",
        "scanner_reader"])
    sh(["cmake", "--build", "--preset", "release", "--target", "ros2_listen"], optional=True)

    lines = []

    def out(text=""):
        print(text)
        lines.append(text)

    def serial_rows():
        out("| serial line, --interval 0 | scans a second | line's limit | share of the limit |")
        out("|---|---|---|---|")
        for rate in (9600, 19200, 38400):
            measured, limit, status = serial_throughput(rate, 8)
            out(f"| {rate} baud{' (--scanner-baud)' if rate != 9600 else ''} | {measured:.2f} | {limit:.2f} | "
                f"{100 * measured / limit:.0f}%{'' if status == 0 else ' (exit ' + str(status) + ')'} |")
        out()
        out("| variant at 38400 baud, --interval 0 | points | reply bytes | scans a second | line's limit | "
            "share of the limit |")
        out("|---|---|---|---|---|---|")
        for variant, points in VARIANTS:
            measured, limit, status = serial_throughput(38400, 6, variant, points)
            out(f"| {variant} | {points} | {10 + 2 * points} | {measured:.2f} | {limit:.2f} | "
                f"{100 * measured / limit:.0f}%{'' if status == 0 else ' (exit ' + str(status) + ')'} |")
        out()

    if args.only == "serial":
        serial_rows()
        return 0
    if args.only == "memory":
        memory_rows(out, args.scans)
        return 0
    if args.only == "stream":
        stream_rows(out, args.rate_scans)
        return 0
    if args.only == "robot":
        robot_rows(out)
        return 0

    micro_json = subprocess.run([os.path.join(BUILD, "bench", "micro_bench"), "--benchmark_format=json",
                                 "--benchmark_min_time=0.3"], check=True, capture_output=True, text=True).stdout
    out("| micro-benchmark | time per operation |")
    out("|---|---|")
    for b in json.loads(micro_json)["benchmarks"]:
        ns = b["real_time"] if b["time_unit"] == "ns" else b["real_time"] * 1000
        out(f"| {b['name']} | {ns / 1000:.2f} µs |" if ns >= 1000 else f"| {b['name']} | {ns:.1f} ns |")
    out()

    runs = []
    for serial, address in ((False, "127.0.0.31"), (True, None)):
        for program in ("lmsview", "baseline"):
            r = run_reader(program, serial, address, args.scans)
            runs.append((f"{program} over {'pty 9600 baud' if serial else 'TCP'}", r))
    library = run_reader("scanner", False, "127.0.0.31", args.scans)
    runs.append(("liblmsview's Scanner (a C++ loop over next) over TCP", library))
    silent = run_reader("lmsview", False, "127.0.0.32", 0, ["--silent-after", "0"], duration=args.silent_seconds)
    runs.append(("lmsview, TCP link silent", silent))

    out(f"| whole process ({args.scans} scans) | shown | latency median | latency p99 | CPU per scan | "
        f"CPU per minute | voluntary switches/s | involuntary switches/s | peak RSS |")
    out("|---|---|---|---|---|---|---|---|---|")
    for name, r in runs:
        cpu_min = r["cpu_ms"] / r["seconds"] * 60 if r["seconds"] else None
        out(f"| {name} | {r['shown']} | {fmt(r['latency_median'], ' ms')} | {fmt(r['latency_p99'], ' ms')} | "
            f"{fmt(r['cpu_ms_per_scan'], ' ms')} | {fmt(cpu_min, ' ms')} | {r['vol_per_s']:.1f} | "
            f"{r['invol_per_s']:.1f} | {r['peak_rss_kib']} KiB |")
    out()
    tcp, base_tcp, pty, base_pty = runs[0][1], runs[1][1], runs[2][1], runs[3][1]
    if tcp["cpu_ms_per_scan"] and base_tcp["cpu_ms_per_scan"]:
        out(f"Ratios lmsview / baseline over TCP: latency median {tcp['latency_median'] / base_tcp['latency_median']:.2f}, "
            f"p99 {tcp['latency_p99'] / base_tcp['latency_p99']:.2f}, "
            f"CPU per scan {tcp['cpu_ms_per_scan'] / base_tcp['cpu_ms_per_scan']:.2f}, "
            f"peak RSS {tcp['peak_rss_kib'] / max(base_tcp['peak_rss_kib'], 1):.2f}")
    if library["cpu_ms_per_scan"] and base_tcp["cpu_ms_per_scan"]:
        out(f"Ratio liblmsview's Scanner / baseline over TCP: CPU per scan "
            f"{library['cpu_ms_per_scan'] / base_tcp['cpu_ms_per_scan']:.2f}")
    if pty["cpu_ms_per_scan"] and base_pty["cpu_ms_per_scan"]:
        out(f"Ratios lmsview / baseline over the pty: latency median "
            f"{pty['latency_median'] / base_pty['latency_median']:.2f}, "
            f"CPU per scan {pty['cpu_ms_per_scan'] / base_pty['cpu_ms_per_scan']:.2f}")
    if silent["seconds"]:
        out(f"Silent link: {100 * silent['cpu_ms'] / 1000 / silent['seconds']:.4f}% of one core, "
            f"{silent['vol_per_s']:.2f} wake-ups/s (voluntary switches) over {silent['seconds']:.0f} s; by thread: "
            + ", ".join(f"{THREAD_NAMES[i] if i < len(THREAD_NAMES) else i} {v:.2f}/s"
                        for i, v in enumerate(silent["per_thread"] or [])))
    out()

    # Cost as work grows: the same link at 1, 10 and 50 scans a second.
    rates = []
    for per_second, scans in ((1, args.scans), (10, args.rate_scans), (50, args.rate_scans)):
        r = run_reader("lmsview", False, "127.0.0.33", scans, view_extra=["--interval", str(1000 // per_second)])
        rates.append((per_second, r))
    out("| lmsview over TCP | scans shown / sent | CPU per scan | latency median | latency p99 | voluntary switches/s |")
    out("|---|---|---|---|---|---|")
    for per_second, r in rates:
        out(f"| {per_second} a second | {r['shown_total']} / {r['sent']} | {fmt(r['cpu_ms_per_scan'], ' ms')} | "
            f"{fmt(r['latency_median'], ' ms')} | {fmt(r['latency_p99'], ' ms')} | {r['vol_per_s']:.1f} |")
    out()

    serial_rows()
    stream, stream_share, stream_rss, plain_rss, stops = stream_rows(out, args.rate_scans)
    ros2 = ros2_rows(out, args.rate_scans)
    serve_plain, serve = serve_rows(out, args.rate_scans)

    # The budgets, measured in this run.
    micro = {b["name"]: (b["real_time"] if b["time_unit"] == "ns" else b["real_time"] * 1000)
             for b in json.loads(micro_json)["benchmarks"]}
    table_us = micro.get("BM_FormatTable361Rows", 0) / 1000
    plot_us = micro.get("BM_FormatPlotFrame200x60", 0) / 1000
    cpu_at = {per_second: r["cpu_ms_per_scan"] for per_second, r in rates}
    budgets = [
        ("latency over TCP, median", f"{tcp['latency_median']:.3f} ms", tcp["latency_median"] <= 1.0, "≤ 1 ms"),
        ("latency over TCP, p99", f"{tcp['latency_p99']:.3f} ms", tcp["latency_p99"] <= 5.0, "≤ 5 ms"),
        ("latency over the 9600-baud pty, median", f"{pty['latency_median']:.3f} ms", pty["latency_median"] <= 2.0,
         "≤ 2 ms"),
        ("CPU per scan over TCP / baseline", f"{tcp['cpu_ms_per_scan'] / base_tcp['cpu_ms_per_scan']:.2f}",
         tcp["cpu_ms_per_scan"] <= 1.0 * base_tcp["cpu_ms_per_scan"], "≤ 1.0"),
        ("CPU per scan of liblmsview's Scanner over TCP / baseline",
         f"{library['cpu_ms_per_scan'] / base_tcp['cpu_ms_per_scan']:.2f}",
         library["cpu_ms_per_scan"] <= 0.8 * base_tcp["cpu_ms_per_scan"], "≤ 0.8"),
        ("CPU per scan over the pty / baseline", f"{pty['cpu_ms_per_scan'] / base_pty['cpu_ms_per_scan']:.2f}",
         pty["cpu_ms_per_scan"] < base_pty["cpu_ms_per_scan"], "< 1"),
        ("peak RSS", f"{tcp['peak_rss_kib']} KiB", tcp["peak_rss_kib"] <= 4096, "≤ 4096 KiB"),
        ("peak RSS / baseline", f"{tcp['peak_rss_kib'] / max(base_tcp['peak_rss_kib'], 1):.2f}",
         tcp["peak_rss_kib"] <= 1.3 * base_tcp["peak_rss_kib"], "≤ 1.3"),
        ("formatting a 361-row table", f"{table_us:.1f} µs", table_us <= 35, "≤ 35 µs"),
        ("formatting a plot frame at 200 x 60", f"{plot_us:.1f} µs", plot_us < 1000, "well under 1 ms"),
        ("CPU per scan at 50/s vs 1/s", f"{cpu_at[50] / cpu_at[1]:.2f}", cpu_at[50] <= 1.1 * cpu_at[1], "≤ 1.10"),
        ("scans shown at 50/s", f"{rates[2][1]['shown_total']} of {rates[2][1]['sent']}",
         rates[2][1]["shown_total"] >= rates[2][1]["sent"], "all"),
        ("latency over TCP with --serve, 16 clients (1 stalled), median", f"{serve['latency_median']:.3f} ms",
         serve["latency_median"] <= 1.0, "≤ 1 ms"),
        ("latency over TCP with --serve, 16 clients (1 stalled), p99", f"{serve['latency_p99']:.3f} ms",
         serve["latency_p99"] <= 5.0, "≤ 5 ms"),
    ]
    for rate, variant, lib, plain, limit, ratio in stream:
        budgets.append((f"continuous {variant} at {rate} baud, scans a second", f"{lib['per_second']:.2f}",
                        lib["per_second"] >= 0.95 * limit, f"≥ 95% of {limit:.2f}"))
        if rate == 500000:
            budgets.append((f"continuous {variant}: CPU per scan / plain reader", fmt(ratio),
                            ratio is not None and ratio <= 1.0, "≤ 1.0"))
            budgets.append((f"continuous {variant}: last byte to next(), median",
                            fmt(lib["latency_median"], " ms"), (lib["latency_median"] or 99) <= 0.5, "≤ 0.5 ms"))
    budgets.append(("lmsview --stream --record at 75 scans a second", f"{stream_share:.2f}% of a core",
                    stream_share <= 2.0, "≤ 2%"))
    budgets.append(("peak RSS streaming / plain continuous reader", f"{stream_rss / max(plain_rss, 1):.2f}",
                    stream_rss <= 1.3 * plain_rss, "≤ 1.3"))
    if stops:
        budgets.append(("stop: key to the scanner quiet, longest", f"{max(stops):.1f} ms", max(stops) <= 100,
                        "≤ 100 ms"))
    out("| budget | measured | target | met |")
    out("|---|---|---|---|")
    for name, value, met, target in budgets:
        out(f"| {name} | {value} | {target} | {'yes' if met else 'NO'} |")
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
