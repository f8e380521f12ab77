#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Soak run: lmsview against lmssim with faults drawn at random, for a given
time, then a report of what was sent, shown and rejected, and of the reader's
memory, CPU and open descriptors. Not a CI test.

  scripts/soak.py [--minutes 10] [--chaos 30] [--serial] [--build build/release]
"""
import argparse
import collections
import os
import re
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import emulator  # noqa: E402  (the shared start of the emulator)


def proc_status(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        parts = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(parts[11]) + int(parts[12])) / ticks


def open_fds(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--minutes", type=float, default=10)
    ap.add_argument("--chaos", type=int, default=30, help="share of requests given a random fault, in %%")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--serial", action="store_true", help="over a pseudo-terminal instead of TCP")
    ap.add_argument("--address", default="127.0.0.21")
    ap.add_argument("--build", default="build/release")
    args = ap.parse_args()
    if not args.address.startswith("127."):
        sys.exit("soak: only loopback addresses (127.0.0.0/8) may be used")

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    lmsview = os.path.join(root, args.build, "app", "lmsview")
    lmssim = os.path.join(root, args.build, "sim", "lmssim")
    out = tempfile.TemporaryFile()
    limit = args.minutes * 60 + 30
    sim_cmd = [lmssim, "--chaos", str(args.chaos), "--seed", str(args.seed), "--counts",
               "--max-seconds", str(limit)]
    if args.serial:
        sim_cmd.append("--serial")
    else:
        sim_cmd += ["--address", args.address]
    sim, where = emulator.launch(sim_cmd[1:], lmssim=sim_cmd[0], stderr=None)
    link = ["COM", where] if args.serial else ["IP", args.address]
    view = subprocess.Popen([lmsview] + link + ["LMS"], stdin=subprocess.PIPE, stdout=out,
                            stderr=subprocess.PIPE)
    time.sleep(1)
    fds_start = open_fds(view.pid)
    peak_rss = 0
    rss_first_minute = None
    end = time.monotonic() + args.minutes * 60
    start = time.monotonic()
    while time.monotonic() < end and view.poll() is None:
        st = proc_status(view.pid)
        rss = int(st["VmRSS"].split()[0])
        peak_rss = max(peak_rss, int(st["VmHWM"].split()[0]))
        if rss_first_minute is None and time.monotonic() - start > 60:
            rss_first_minute = rss
        time.sleep(1)
    alive = view.poll() is None
    if alive:
        st = proc_status(view.pid)
        final_rss = int(st["VmRSS"].split()[0])
        peak_rss = max(peak_rss, int(st["VmHWM"].split()[0]))
        cpu = cpu_seconds(view.pid)
        fds_end = open_fds(view.pid)
        threads = int(st["Threads"])
        t0 = time.monotonic()
        view.stdin.write(b"k")
        view.stdin.flush()
        view.wait(timeout=10)
        stop_ms = (time.monotonic() - t0) * 1000
    sim.terminate()
    sim_out, _ = sim.communicate(timeout=10)
    err = view.stderr.read().decode()
    out.seek(0)
    text = out.read().decode(errors="replace")
    shown = len(re.findall(r"^muestra: \d+$", text, re.M))
    reasons = collections.Counter(m.strip() for m in re.findall(r"^((?:readScan|requestScan) - [^(\n]+)", text, re.M))
    counts = re.search(r"requests (\d+), scans (\d+), acks (\d+), naks (\d+), ignored (\d+), bad checksum (\d+), faults (\d+)",
                       sim_out or "")
    print(f"soak: {args.minutes:g} min over {'a pseudo-terminal' if args.serial else 'TCP ' + args.address}, "
          f"chaos {args.chaos}%, seed {args.seed}")
    if counts:
        print(f"  emulator: requests {counts[1]}, scans sent {counts[2]}, NAKs {counts[4]}, "
              f"ignored {counts[5]}, faults {counts[7]}")
    print(f"  lmsview: scans shown {shown}")
    for reason, n in sorted(reasons.items()):
        print(f"    {n:6d}  {reason}")
    if not alive:
        print(f"  lmsview ENDED EARLY with status {view.returncode}: {err.strip()}")
        return 1
    print(f"  RSS: peak {peak_rss} KiB, after the first minute {rss_first_minute} KiB, final {final_rss} KiB")
    print(f"  CPU: {cpu:.2f} s in all, {1000 * cpu / max(shown, 1):.3f} ms per scan shown")
    print(f"  open descriptors: {fds_start} at start, {fds_end} at the end; threads {threads}")
    print(f"  stop: exit status {view.returncode} {stop_ms:.0f} ms after the key")
    return 0 if view.returncode == 0 and fds_end == fds_start else 1


if __name__ == "__main__":
    sys.exit(main())
