#!/usr/bin/env python3
"""Every benchmark in one run, printed as one table.

Micro-benchmarks (Google Benchmark), then whole processes on loopback: lmsview
against lmssim over TCP and over a pseudo-terminal for a fixed number of
scans, the same for a plain baseline reader, and lmsview on a silent link.

  scripts/bench.py [--scans 30] [--silent-seconds 30] [--markdown FILE]

Latency is from the emulator's last reply byte (its --timing-log) to the
moment the table's last row reaches our end of lmsview's standard output.
CPU and context switches come from the process's own accounting in /proc,
summed over its threads.
"""
import argparse
import json
import os
import select
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "release")


def sh(cmd):
    subprocess.run(cmd, cwd=ROOT, check=True, stdout=subprocess.DEVNULL)


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
    sim = subprocess.Popen(cmd, stdout=subprocess.PIPE, text=True)
    if serial:
        device = sim.stdout.readline().split()[-1]
        return sim, timing.name, ["COM", device]
    time.sleep(0.3)
    return sim, timing.name, ["IP", address]


def run_reader(program, serial, address, scans, sim_extra=(), duration=None):
    sim, timing_path, link = start_sim(serial, address, list(sim_extra))
    if program == "lmsview":
        cmd = [os.path.join(BUILD, "app", "lmsview")] + link + ["LMS"]
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
    rss = peak_rss_kib(proc.pid)
    if program == "lmsview":
        proc.stdin.write(b"k")
        proc.stdin.flush()
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        proc.kill()
    sim.terminate()
    sim.wait(timeout=10)
    with open(timing_path) as f:
        sent = [int(line.split()[1]) for line in f if line.strip()]
    os.unlink(timing_path)
    latencies = [(t - s) / 1e6 for s, t in zip(sent, table_ends)]
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
    }


def fmt(v, unit=""):
    if v is None:
        return "-"
    return f"{v:.2f}{unit}" if isinstance(v, float) else f"{v}{unit}"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--scans", type=int, default=30)
    ap.add_argument("--silent-seconds", type=int, default=30)
    ap.add_argument("--markdown", help="also write the tables to this file")
    args = ap.parse_args()

    sh(["scripts/setup.sh"])
    sh(["cmake", "--preset", "release"])
    sh(["cmake", "--build", "--preset", "release", "--target", "lmsview", "lmssim", "micro_bench", "baseline_reader"])

    lines = []

    def out(text=""):
        print(text)
        lines.append(text)

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
    tcp, base_tcp = runs[0][1], runs[1][1]
    if tcp["cpu_ms_per_scan"] and base_tcp["cpu_ms_per_scan"]:
        out(f"Ratios lmsview / baseline over TCP: CPU per scan {tcp['cpu_ms_per_scan'] / base_tcp['cpu_ms_per_scan']:.2f}, "
            f"peak RSS {tcp['peak_rss_kib'] / max(base_tcp['peak_rss_kib'], 1):.2f}, "
            f"voluntary switches {tcp['vol_per_s'] / max(base_tcp['vol_per_s'], 0.01):.2f}")
    if silent["seconds"]:
        out(f"Silent link: {100 * silent['cpu_ms'] / 1000 / silent['seconds']:.4f}% of one core, "
            f"{silent['vol_per_s']:.1f} wake-ups/s (voluntary switches) over {silent['seconds']:.0f} s")
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
