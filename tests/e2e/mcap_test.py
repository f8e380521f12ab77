# SPDX-License-Identifier: Apache-2.0
"""MCAP recordings end to end, read by the format's reference reader (the
TypeScript one, run with node from tests/npm): recordings made over TCP and
over a pseudo-terminal hold every scan sent as a ROS 2 LaserScan and as a
point cloud without the ranges that have no distance; a killed
run leaves its finished chunks; lmssim --replay of a recording reproduces
the raw words; the library plays a recording as a "file:" link.

Run as: mcap_test.py LMSVIEW LMSSIM NPM_DIR [unittest names]. Only loopback
addresses 127.0.14.x are used."""

import json
import math
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import emulator
from emulator import SimsPerTest, f32, lmsview

MASK = 0x1FFF
read = emulator.read_mcap


class Mcap(SimsPerTest):
    def test_recordings_over_tcp_and_a_pty_hold_every_scan_sent(self):
        for address in ("127.0.14.1", None):
            sim = self.sim(address)
            link = ["IP", address] if address else ["COM", sim.device]
            with tempfile.TemporaryDirectory() as d:
                path = os.path.join(d, "run.mcap")
                p = lmsview("--count", "3", "--interval", "200" if address else "0", "--format", "csv",
                            "--frame-id", "front", "--record", path, *link, "LMS")
                self.assertEqual(p.returncode, 0, p.stderr)
                got = read(path)
            sent = [w for (_, fate, w) in sim.sent() if fate == "sent"]
            self.assertEqual(got["header"], {"profile": "ros2", "library": subprocess.run([emulator.LMSVIEW, "--version"], capture_output=True, text=True).stdout.strip()})
            self.assertTrue(got["dataCrcOk"])
            self.assertEqual(got["summaryOffsets"], 4)
            self.assertEqual(got["chunkIndexes"], got["statistics"]["chunkCount"])
            schemas = {s["name"]: s for s in got["schemas"]}
            self.assertEqual(schemas["sensor_msgs/msg/LaserScan"]["encoding"], "ros2msg")
            self.assertIn("MSG: builtin_interfaces/Time", schemas["sensor_msgs/msg/LaserScan"]["data"])
            channels = {c["topic"]: c for c in got["channels"]}
            self.assertEqual(channels["/scan"]["messageEncoding"], "cdr")
            self.assertIn("reliability: 1", channels["/scan"]["metadata"]["offered_qos_profiles"])
            self.assertEqual(channels["/scan/raw"]["messageEncoding"], "json")
            self.assertEqual(channels["/scan/points"]["messageEncoding"], "cdr")
            self.assertEqual(schemas["sensor_msgs/msg/PointCloud2"]["encoding"], "ros2msg")
            scans = got["scans"]
            self.assertGreaterEqual(len(scans), 3)
            self.assertEqual(got["statistics"]["messageCount"], 3 * len(scans))
            self.assertEqual([c["fields"] for c in got["points"]],
                             [[{"name": n, "offset": 4 * k, "datatype": 7, "count": 1}
                               for k, n in enumerate("xyz")]] * len(scans))
            self.assertEqual({c["frame_id"] for c in got["points"]}, {"front"})
            for i, s in enumerate(scans):
                self.assertEqual(s["frame_id"], "front")
                self.assertEqual(s["ranges"], [f32((w & MASK) / 1000) for w in sent[i]])
                self.assertEqual(s["intensities"], [])
                self.assertEqual((s["angle_min"], s["angle_max"]), (f32(-3.141592653589793 / 2),
                                                                    f32(3.141592653589793 / 2)))
                self.assertEqual(s["logTime"], str(s["sec"] * 1_000_000_000 + s["nanosec"]))
                self.assertEqual(got["raw"][i]["words"], sent[i])  # flag bits included
            stamps = [int(s["logTime"]) for s in scans]
            self.assertEqual(stamps, sorted(stamps))

    def test_a_killed_run_leaves_its_finished_chunks(self):
        self.sim("127.0.14.2")
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "killed.mcap")
            v = subprocess.Popen([emulator.LMSVIEW, "--interval", "100", "--format", "csv", "--record", path, "IP",
                                  "127.0.14.2", "LMS"], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
            end = time.monotonic() + 15
            while (not os.path.exists(path) or os.path.getsize(path) < 30000) and time.monotonic() < end:
                time.sleep(0.1)  # two chunks or more: a chunk closes every second
            v.send_signal(signal.SIGKILL)
            v.wait(5)
            v.stdin.close()
            got = read(path, stream=True)
        self.assertFalse(got["done"])  # no summary: the run never ended
        self.assertGreaterEqual(len(got["scans"]), 5)

    def test_a_replayed_recording_gives_the_raw_words_again(self):
        self.sim("127.0.14.3")
        with tempfile.TemporaryDirectory() as d:
            first = os.path.join(d, "first.mcap")
            p = lmsview("--count", "3", "--interval", "200", "--format", "csv", "--record", first,
                        "--record-points", "off", "IP", "127.0.14.3", "LMS")
            self.assertEqual(p.returncode, 0, p.stderr)
            got = read(first)
            self.assertNotIn("/scan/points", [c["topic"] for c in got["channels"]])
            words = [r["words"] for r in got["raw"]]
            self.sim("127.0.14.4", ["--replay", first, "--once"])
            again = os.path.join(d, "again.jsonl")
            p = lmsview("--seconds", "20", "--interval", "300", "--format", "csv", "--record", again, "IP",
                        "127.0.14.4", "LMS")
            with open(again) as f:
                replayed = [json.loads(line)["words"] for line in f]
        self.assertEqual(replayed, words)

    def test_points_without_a_distance_are_left_out(self):
        with tempfile.TemporaryDirectory() as d:
            words = os.path.join(d, "words.txt")
            with open(words, "w") as f:  # no echo, a dazzle code, then 2 m everywhere
                f.write(" ".join(["0", str(0x1FFF)] + ["2000"] * 359) + "\n")
            self.sim("127.0.14.8", ["--replay", words])
            path = os.path.join(d, "codes.mcap")
            p = lmsview("--count", "1", "--format", "csv", "--record", path, "IP", "127.0.14.8", "LMS")
            self.assertEqual(p.returncode, 0, p.stderr)
            cloud = read(path)["points"][0]
        self.assertEqual((cloud["width"], cloud["row_step"], cloud["is_dense"]), (359, 359 * 12, True))
        first = cloud["points"][0]  # the third range, 1° right of the right-hand end
        self.assertAlmostEqual(first["x"], 2 * math.cos(math.radians(-89)), places=5)
        self.assertAlmostEqual(first["y"], 2 * math.sin(math.radians(-89)), places=5)

    def test_zstd_chunks_read_the_same_and_replay(self):
        sim = self.sim("127.0.14.6")
        with tempfile.TemporaryDirectory() as d:
            plain, packed = os.path.join(d, "plain.mcap"), os.path.join(d, "packed.mcap")
            for path, extra in ((plain, []), (packed, ["--record-compression", "zstd"])):
                p = lmsview("--count", "3", "--interval", "100", "--format", "csv", "--record", path, *extra, "IP",
                            "127.0.14.6", "LMS")
                self.assertEqual(p.returncode, 0, p.stderr)
            got = read(packed)
            self.assertEqual(got["compression"], ["zstd"])
            self.assertTrue(got["dataCrcOk"])
            sent = [w for (_, fate, w) in sim.sent() if fate == "sent"]
            self.assertEqual([r["words"] for r in got["raw"]], sent[len(sent) - len(got["raw"]):])
            self.assertLess(os.path.getsize(packed), os.path.getsize(plain))
            replay = subprocess.run([emulator.LMSSIM, "--replay", packed, "--max-seconds", "0.2", "--address",
                                     "127.0.14.7"], capture_output=True, text=True, timeout=30)
            self.assertEqual((replay.returncode, replay.stderr), (0, ""))

    def test_bad_record_options_end_with_2(self):
        for args in (["--record-format", "bag"], ["--topic", "scan"], ["--topic", "/a//b"], ["--topic", "/9a"],
                     ["--record-compression", "lz4"], ["--record-points", "yes"]):
            p = lmsview(*args, "--record", "x.mcap", "IP", "127.0.14.5", "LMS", timeout=10)
            self.assertEqual(p.returncode, 2, args)
            self.assertNotIn("trying to connect", p.stderr + p.stdout)


if __name__ == "__main__":
    emulator.LMSVIEW, emulator.LMSSIM, emulator.NPM = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=[sys.argv[0], *sys.argv[4:]], verbosity=2)
