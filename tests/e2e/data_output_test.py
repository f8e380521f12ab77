# SPDX-License-Identifier: Apache-2.0
"""lmsview's data output against lmssim, end to end: CSV and JSON Lines parse
with Python's own readers and hold exactly the scans the emulator sent;
--count, --seconds and --interval; --record then lmssim --replay; bad options.

Run as: data_output_test.py LMSVIEW LMSSIM [unittest names]. Only loopback
addresses 127.0.6.x are used (one per test, so tests run in parallel)."""

import csv
import io
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

import emulator
from emulator import SimsPerTest

LMSVIEW = LMSSIM = None
MASK = 0x1FFF


def lmsview(*args, timeout=30, stdin=subprocess.DEVNULL):
    t0 = time.monotonic()
    p = subprocess.run([LMSVIEW, *args], stdin=stdin, capture_output=True, text=True, timeout=timeout)
    return p, time.monotonic() - t0


def valid_words(sim):
    return [w for (_, fate, w) in sim.sent() if fate in ("sent", "flipped-byte", "oversize")]


class DataOutput(SimsPerTest):
    def test_csv_holds_exactly_the_scans_sent_and_nothing_else(self):
        sim = self.sim("127.0.6.1")
        p, _ = lmsview("--format", "csv", "--count", "3", "--interval", "300", "IP", "127.0.6.1", "LMS")
        self.assertEqual(p.returncode, 0, p.stderr)
        rows = list(csv.reader(io.StringIO(p.stdout)))
        header, data = rows[0], rows[1:]
        self.assertEqual(header[:3], ["seq", "time_utc", "time_ns"])
        self.assertEqual(header[3], "r_000_0deg_cm")
        self.assertEqual(header[4], "r_000_5deg_cm")
        self.assertEqual(header[-1], "r_180_0deg_cm")
        self.assertEqual(len(header), 3 + 361)
        self.assertEqual(len(data), 3)
        sent = valid_words(sim)
        for i, row in enumerate(data):
            self.assertEqual(int(row[0]), i)
            self.assertTrue(row[1].endswith("Z") and "T" in row[1], row[1])
            self.assertEqual([float(v) for v in row[3:]], [(w & MASK) / 10 for w in sent[i]])
        stamps = [int(r[2]) for r in data]
        self.assertEqual(stamps, sorted(stamps))
        self.assertLess(abs(stamps[0] / 1e9 - time.time()), 60)
        # Every message went to standard error.
        self.assertIn("Comunicacion IP", p.stderr)
        self.assertIn("DataThread", p.stderr)

    def test_jsonl_is_one_valid_laser_scan_per_line(self):
        sim = self.sim("127.0.6.2")
        p, _ = lmsview("IP", "127.0.6.2", "LMS", "--format", "jsonl", "--count", "2", "--interval", "300",
                       "--frame-id", 'front "laser"')
        self.assertEqual(p.returncode, 0, p.stderr)
        lines = p.stdout.splitlines()
        self.assertEqual(len(lines), 2)
        sent = valid_words(sim)
        previous = None
        for i, line in enumerate(lines):
            scan = json.loads(line)
            self.assertEqual(scan["seq"], i)
            self.assertEqual(scan["frame_id"], 'front "laser"')
            self.assertEqual(scan["angle_min"], -3.141592653589793 / 2)  # angle 0 straight ahead
            self.assertAlmostEqual(scan["angle_max"], 3.141592653589793 / 2)
            self.assertAlmostEqual(scan["angle_increment"], 3.141592653589793 / 360)
            # A range outside [range_min, range_max] is not a distance: no echo (0) or a code.
            self.assertEqual((scan["range_min"], scan["range_max"]), (0.01, 8.18))
            for r, w in zip(scan["ranges"], sent[i]):
                measured = 10 <= (w & MASK) <= 8180
                self.assertEqual(scan["range_min"] <= r <= scan["range_max"], measured, (r, w))
            self.assertEqual(len(scan["ranges"]), 361)
            self.assertEqual(scan["ranges"], [(w & MASK) / 1000 for w in sent[i]])
            stamp = scan["stamp"]["sec"] + scan["stamp"]["nanosec"] / 1e9
            self.assertTrue(0 <= scan["stamp"]["nanosec"] < 1_000_000_000)
            if previous is not None:
                self.assertGreater(stamp, previous)
            previous = stamp
        self.assertNotIn("Press any key", p.stdout)

    def test_count_ends_the_run_and_empty_input_does_not(self):
        self.sim("127.0.6.3")
        p, took = lmsview("--count", "3", "--interval", "200", "IP", "127.0.6.3", "LMS")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(p.stdout.count("muestra: "), 3)
        self.assertLess(took, 10)

    def test_seconds_ends_the_run(self):
        self.sim("127.0.6.4")
        p, took = lmsview("--seconds", "1.5", "--format", "jsonl", "IP", "127.0.6.4", "LMS")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertGreaterEqual(took, 1.4)
        self.assertLess(took, 8)
        self.assertGreaterEqual(len(p.stdout.splitlines()), 1)

    def test_interval_sets_the_pace_over_tcp(self):
        self.sim("127.0.6.5")
        p, _ = lmsview("--seconds", "2.2", "--interval", "200", "--format", "jsonl", "IP", "127.0.6.5", "LMS")
        self.assertEqual(p.returncode, 0, p.stderr)
        # About five scans a second where the default gives one.
        self.assertGreaterEqual(len(p.stdout.splitlines()), 7)

    def test_interval_zero_is_limited_by_a_9600_baud_line(self):
        sim = self.sim()
        p, _ = lmsview("--seconds", "3", "--interval", "0", "--format", "jsonl", "COM", sim.device, "LMS")
        self.assertEqual(p.returncode, 0, p.stderr)
        shown = len(p.stdout.splitlines())
        # A reply takes about 0.76 s on the line: at most four in three seconds.
        self.assertGreaterEqual(shown, 2)
        self.assertLessEqual(shown, 4)
        self.assertNotIn("readScan", p.stderr)

    def test_a_recording_replays_exactly(self):
        sim = self.sim("127.0.6.6")
        with tempfile.TemporaryDirectory() as d:
            record = os.path.join(d, "scans.jsonl")
            p, _ = lmsview("--count", "3", "--interval", "200", "--record", record, "IP", "127.0.6.6", "LMS")
            self.assertEqual(p.returncode, 0, p.stderr)
            with open(record) as f:
                recorded = [json.loads(line) for line in f]
            # Every valid scan received, in order, flag bits included.
            self.assertGreaterEqual(len(recorded), 3)
            self.assertEqual([r["words"] for r in recorded], valid_words(sim)[:len(recorded)])
            self.assertEqual([r["seq"] for r in recorded], list(range(len(recorded))))
            # An existing file is kept unless --force.
            p, _ = lmsview("--count", "1", "--record", record, "IP", "127.0.6.6", "LMS")
            self.assertEqual(p.returncode, 2)
            self.assertIn("exists", p.stderr)
            self.assertEqual(len(p.stderr.splitlines()), 1)
            sim.stop()
            self.sims.remove(sim)

            self.sim("127.0.6.7", ["--replay", record])
            # A pace the display keeps up with at the start too (the display shows the
            # newest scan when two come before it looks; the recording keeps them all).
            p, _ = lmsview("--count", "3", "--interval", "400", "--format", "jsonl", "IP", "127.0.6.7", "LMS")
            self.assertEqual(p.returncode, 0, p.stderr)
            replayed = [json.loads(line)["ranges"] for line in p.stdout.splitlines()]
            self.assertEqual(replayed, [r["ranges"] for r in recorded[:3]])

    def test_replay_once_ends_after_the_last_scan(self):
        with tempfile.TemporaryDirectory() as d:
            plain = os.path.join(d, "two.txt")
            with open(plain, "w") as f:
                f.write("010 0x10 20\n30 40\n")
            self.sim("127.0.6.8", ["--replay", plain, "--once"])
            # A pace the display keeps up with from the start (see test_a_recording_replays_exactly).
            p, _ = lmsview("--seconds", "20", "--interval", "400", "--format", "csv", "IP", "127.0.6.8", "LMS")
            rows = list(csv.reader(io.StringIO(p.stdout)))[1:]
            self.assertEqual([r[3:6] for r in rows], [["1.0", "1.6", "2.0"], ["3.0", "4.0", "0.0"]])
            self.assertEqual(p.returncode, 1)  # the emulator went away after its last scan
            self.assertIn("connection to the scanner lost", p.stderr)

    def test_bad_options_end_with_status_2_and_connect_nowhere(self):
        for args in (["--bogus", "IP", "127.0.6.9", "LMS"],
                     ["--format", "xml", "IP", "127.0.6.9", "LMS"],
                     ["--count"],
                     ["--count", "0", "IP", "127.0.6.9", "LMS"],
                     ["--count", "2", "--count", "3", "IP", "127.0.6.9", "LMS"],
                     ["--seconds", "nan", "IP", "127.0.6.9", "LMS"],
                     ["--interval", "-5", "IP", "127.0.6.9", "LMS"],
                     # A typo'd option with two positional arguments must not become the default mode.
                     ["--formt", "csv", "IP", "127.0.6.9"],
                     # Nor a forgotten value or a short option (two or four link words left).
                     ["--svg", "IP", "192.0.2.40", "LMS"],
                     ["--frame-id", "IP", "192.0.2.40", "LMS"],
                     ["--svg", "--count", "1", "IP", "192.0.2.40", "LMS"],
                     ["-c", "1", "IP", "192.0.2.40", "LMS"],
                     ["-v", "IP", "192.0.2.40", "LMS"]):
            p, took = lmsview(*args, timeout=5)
            self.assertEqual(p.returncode, 2, args)
            self.assertEqual(p.stdout, "", args)
            self.assertEqual(len(p.stderr.splitlines()), 1, (args, p.stderr))
            self.assertNotIn("trying to connect", p.stderr)
            self.assertNotIn("Modo Default", p.stderr)
            self.assertLess(took, 2, args)


if __name__ == "__main__":
    LMSVIEW, LMSSIM = sys.argv[1], sys.argv[2]
    emulator.LMSSIM = LMSSIM
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
