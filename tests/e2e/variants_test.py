# SPDX-License-Identifier: Apache-2.0
"""Every configuration of the scanner end to end: for each of the five
fields and resolutions and both range units, over TCP and a pseudo-terminal,
the scans lmsview prints as JSON Lines, records as MCAP (read by the format's
reference reader) and publishes over DDS hold the emulator's ranges at the
emulator's angles, and the recorded point clouds are those ranges at those
angles; --variant switches the scanner; stamps are taken when a
reply begins to arrive; recordings keep their geometry.

Run as: variants_test.py LMSVIEW LMSSIM NPM_DIR [ROS2_LISTEN] CASE. Only
loopback addresses 127.0.18.x are used."""

import json
import math
import os
import struct
import subprocess
import sys
import tempfile
import unittest

import emulator
from emulator import SimsPerTest, f32, lmsview, read_mcap

LISTEN = None
MASK = 0x1FFF
# name: (points, field in degrees)
VARIANTS = {"100/1": (101, 100), "180/1": (181, 180), "100/0.5": (201, 100), "180/0.5": (361, 180),
            "100/0.25": (401, 100)}


def cdr_fields(cdr):
    """angle_min, angle_max, range_max and the ranges of a LaserScan in CDR."""
    at = 4 + 8
    (name_length,) = struct.unpack_from("<I", cdr, at)
    at += 4 + name_length
    at += -(at - 4) % 4
    floats = struct.unpack_from("<7f", cdr, at)
    (count,) = struct.unpack_from("<I", cdr, at + 28)
    return floats[0], floats[1], floats[6], list(struct.unpack_from("<%df" % count, cdr, at + 32))


class Variants(SimsPerTest):
    def expect_geometry(self, scan, name, units, where):
        points, field = VARIANTS[name]
        half = math.radians(field) / 2
        self.assertEqual(len(scan["ranges"]), points, where)
        self.assertAlmostEqual(scan["angle_min"], -half, places=5, msg=where)
        self.assertAlmostEqual(scan["angle_max"], half, places=5, msg=where)
        self.assertAlmostEqual(scan["range_max"], {"mm": 8.18, "cm": 81.8, "dm": 818}[units], places=4, msg=where)

    def expect_points(self, scan, cloud, where):
        """The point cloud is the scan's ranges with a distance, at their angles."""
        expected = []
        for i, r in enumerate(scan["ranges"]):
            if 0 < r <= scan["range_max"] and r >= scan["range_min"]:
                a = scan["angle_min"] + i * scan["angle_increment"]
                expected.append((r * math.cos(a), r * math.sin(a)))
        self.assertEqual((cloud["height"], cloud["width"], cloud["is_dense"]), (1, len(expected), True), where)
        self.assertEqual(cloud["logTime"], scan["logTime"], where)
        for p, (x, y) in zip(cloud["points"], expected):
            self.assertAlmostEqual(p["x"], x, delta=1e-4, msg=where)
            self.assertAlmostEqual(p["y"], y, delta=1e-4, msg=where)
            self.assertEqual(p["z"], 0, where)

    def test_outputs(self):
        """The scans of each variant and unit, as printed, recorded and published."""
        env = emulator.DDS_ENV
        domain = 200
        for name in VARIANTS:
            for units in ("mm", "cm"):
                per_metre = 1000 if units == "mm" else 100
                for tcp in (True, False):
                    where = f"{name} {units} {'TCP' if tcp else 'pty'}"
                    address = "127.0.18.1" if tcp else None
                    sim = self.sim(address, ["--variant", name, "--units", units] + ([] if tcp else ["--baud", "38400"]))
                    link = ["IP", address] if tcp else ["--baud", "38400", "COM", sim.device]
                    listener = None
                    extra = []
                    if tcp and LISTEN:
                        domain += 1
                        listener = emulator.Listener(LISTEN, domain, 2, 30)
                        extra = ["--ros2", "--ros2-domain", str(domain)]
                    with tempfile.TemporaryDirectory() as d:
                        path = os.path.join(d, "scans.mcap")
                        p = lmsview("--format", "jsonl", "--units", units, "--record", path, *extra, "--count",
                                    "6" if listener else "2", "--interval", "100" if tcp else "0", *link, "LMS",
                                    env=env)
                        self.assertEqual(p.returncode, 0, where + ": " + p.stderr)
                        recorded = read_mcap(path)
                    published = listener.finish() if listener else []
                    sent = {n: words for (n, fate, words) in sim.sent() if fate == "sent"}
                    printed = [json.loads(line) for line in p.stdout.splitlines()]
                    self.assertGreaterEqual(len(printed), 2, where)
                    for scan in printed + recorded["scans"]:
                        self.expect_geometry(scan, name, units, where)
                    for scan in printed:
                        self.assertEqual([f32(r) for r in scan["ranges"]],
                                         [f32((w & MASK) / per_metre) for w in sent[scan["seq"]]], where)
                    self.assertEqual(len(recorded["points"]), len(recorded["scans"]), where)
                    for i, scan in enumerate(recorded["scans"]):
                        self.assertEqual(scan["ranges"], [f32((w & MASK) / per_metre) for w in sent[i]], where)
                        self.expect_points(scan, recorded["points"][i], where)
                    if listener:
                        samples = [bytes.fromhex(x["cdr"]) for x in published if x.get("reader") == "reliable"]
                        self.assertTrue(samples, where)
                        for cdr in samples:
                            angle_min, angle_max, range_max, ranges = cdr_fields(cdr)
                            self.expect_geometry({"ranges": ranges, "angle_min": angle_min,
                                                  "angle_max": angle_max, "range_max": range_max},
                                                 name, units, where)
                            self.assertIn(ranges, [[f32((w & MASK) / per_metre) for w in words]
                                                   for words in sent.values()], where)
                    for s in self.sims:
                        s.stop()
                    self.sims.clear()

    def test_stream(self):
        """Each variant streamed (its unit from each reply): every scan reaches
        the recording, JSON Lines and MCAP alike, numbered without a gap and
        holding what the emulator sent, and DDS carries them."""
        env = emulator.DDS_ENV
        for i, name in enumerate(VARIANTS):
            units = ("mm", "cm", "dm")[i % 3]
            per_metre = {"mm": 1000, "cm": 100, "dm": 10}[units]
            for kind in ("jsonl", "mcap"):
                where = f"{name} {units} {kind}"
                sim = self.sim("127.0.18.6", ["--variant", name, "--units", units])
                listener, extra = None, []
                if LISTEN and kind == "mcap":
                    listener = emulator.Listener(LISTEN, 220 + i, 2, 30)
                    extra = ["--ros2", "--ros2-domain", str(220 + i)]
                with tempfile.TemporaryDirectory() as d:
                    path = os.path.join(d, "scans." + kind)
                    p = lmsview("--stream", "--format", "jsonl", "--record", path, *extra, "--count", "12", "IP",
                                "127.0.18.6", "LMS", env=env)
                    self.assertEqual(p.returncode, 0, where + ": " + p.stderr)
                    if kind == "mcap":
                        recorded = read_mcap(path)["scans"]
                    else:
                        with open(path) as f:
                            recorded = [json.loads(line) for line in f]
                sent = {n: words for (n, fate, words) in sim.sent() if fate == "sent"}
                self.assertGreaterEqual(len(recorded), 12, where)
                if kind == "jsonl":
                    self.assertEqual([r["seq"] for r in recorded], list(range(len(recorded))), where)
                for n, scan in enumerate(recorded):
                    self.expect_geometry(scan, name, units, where)
                    self.assertEqual([f32(r) for r in scan["ranges"]], [f32((w & MASK) / per_metre) for w in sent[n]],
                                     where)
                if listener:
                    samples = [bytes.fromhex(x["cdr"]) for x in listener.finish() if x.get("reader") == "reliable"]
                    self.assertTrue(samples, where)
                    for cdr in samples:
                        self.assertIn(cdr_fields(cdr)[3], [[f32((w & MASK) / per_metre) for w in words]
                                                           for words in sent.values()], where)
                for s in self.sims:
                    s.stop()
                self.sims.clear()

    def test_switch(self):
        """--variant sends the telegram and the replies after it follow; a
        refused switch is said once and the run goes on."""
        self.sim("127.0.18.2")
        p = lmsview("--variant", "100/0.25", "--format", "jsonl", "--count", "2", "--interval", "50", "IP",
                     "127.0.18.2", "LMS")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn("lmsview: scanner set to 100° at 0.25°\n", p.stderr)
        self.assertEqual([len(json.loads(line)["ranges"]) for line in p.stdout.splitlines()], [401, 401])
        self.sim("127.0.18.3", ["--variant", "180/1", "--refuse-variant"])
        p = lmsview("--variant", "100/1", "--format", "jsonl", "--count", "2", "--interval", "50", "IP",
                    "127.0.18.3", "LMS")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stderr.count("lmsview: the scanner did not take 100° at 1° (refused): going on with "
                                        "the scans it sends\n"), 1, p.stderr)
        self.assertEqual([len(json.loads(line)["ranges"]) for line in p.stdout.splitlines()], [181, 181])

    def test_stamps(self):
        """At 9600 baud each stamp is when the reply began to arrive, and
        received_ns is about the reply's time on the line later."""
        with tempfile.NamedTemporaryFile(prefix="timing", delete=False) as log:
            timing = log.name
        try:
            sim = self.sim(None, ["--timing-log", timing])
            p = lmsview("--format", "jsonl", "--count", "3", "--interval", "0", "COM", sim.device, "LMS")
            self.assertEqual(p.returncode, 0, p.stderr)
            sim.stop()
            with open(timing) as f:
                began = {int(n): int(first) for (n, _, first, _) in (line.split() for line in f)}
        finally:
            os.unlink(timing)
        line_ns = 732 * 10 / 9600 * 1e9
        for line in p.stdout.splitlines():
            scan = json.loads(line)
            stamp = scan["stamp"]["sec"] * 10**9 + scan["stamp"]["nanosec"]
            self.assertLess(abs(stamp - began[scan["seq"]]), 30e6, scan["seq"])
            self.assertLess(abs(scan["received_ns"] - stamp - line_ns), 100e6, scan["seq"])

    def test_first_stamps(self):
        """The first scan of a TCP connection, the first one after a
        reconnect too, is stamped when its reply came, not when the
        receiver's start-up pauses ended (200 ms later). The bound leaves a
        busy machine its scheduling delays; the fault was ten times it."""
        with tempfile.NamedTemporaryFile(prefix="timing", delete=False) as log:
            timing = log.name
        try:
            sim = self.sim("127.0.18.7", ["--timing-log", timing, "--close-after", "2"])
            p = lmsview("--reconnect", "--format", "jsonl", "--count", "4", "--interval", "100", "IP", "127.0.18.7",
                        "LMS")
            self.assertEqual(p.returncode, 0, p.stderr)
            sim.stop()
            with open(timing) as f:
                began = {int(n): int(first) for (n, _, first, _) in (line.split() for line in f)}
        finally:
            os.unlink(timing)
        scans = {s["seq"]: s for s in map(json.loads, p.stdout.splitlines())}
        for seq in (0, 2):  # the first of each connection
            stamp = scans[seq]["stamp"]["sec"] * 10**9 + scans[seq]["stamp"]["nanosec"]
            self.assertLess(abs(stamp - began[seq]), 25e6, seq)

    def test_replay(self):
        """A recording of version 1 (361 points, no range unit) replays; a
        401-point MCAP recording replays with its geometry."""
        self.sim("127.0.18.4", ["--variant", "100/0.25"])
        with tempfile.TemporaryDirectory() as d:
            old = os.path.join(d, "old.jsonl")
            with open(old, "w") as f:
                f.write(json.dumps({"seq": 0, "frame_id": "laser", "angle_min": 0, "angle_max": math.pi,
                                    "range_min": 0.01, "range_max": 8.18, "ranges": [0.5] * 361,
                                    "words": [500 + i for i in range(361)]}, separators=(",", ":")) + "\n")
            recording = os.path.join(d, "wide.mcap")
            p = lmsview("--format", "csv", "--record", recording, "--count", "2", "--interval", "50", "IP",
                        "127.0.18.4", "LMS")
            self.assertEqual(p.returncode, 0, p.stderr)
            for path, points, field in ((old, 361, 180), (recording, 401, 100)):
                sim = emulator.Sim("127.0.18.5", ["--replay", path, "--once"])
                try:
                    p = lmsview("--format", "jsonl", "--count", "1", "IP", "127.0.18.5", "LMS")
                finally:
                    sim.stop()
                self.assertEqual(p.returncode, 0, p.stderr)
                scan = json.loads(p.stdout.splitlines()[0])
                self.assertEqual(len(scan["ranges"]), points, path)
                self.assertAlmostEqual(scan["angle_max"], math.radians(field) / 2, places=9)


if __name__ == "__main__":
    emulator.LMSVIEW, emulator.LMSSIM, emulator.NPM = sys.argv[1:4]
    LISTEN = sys.argv[4] if len(sys.argv) > 5 else None
    unittest.main(argv=[sys.argv[0], "Variants.test_" + sys.argv[-1].lower()], verbosity=2)
