# SPDX-License-Identifier: Apache-2.0
"""lmsview --ros2 end to end, on a loopback-only DDS configuration: a
subscriber that knows only ROS 2's conventions (tests/ros2_listen.cpp) gets
the scans lmssim sent, byte for byte as ROS 2 encodes them; a reader that
takes nothing does not slow the console; bad topics and domains are refused
before any link.

Run as: ros2_test.py LMSVIEW LMSSIM ROS2_LISTEN CASE. Only loopback
addresses 127.0.16.x are used; each case has a DDS domain of its own."""

import hashlib
import json
import os
import struct
import subprocess
import sys
import threading
import time
import unittest

import emulator
from emulator import SimsPerTest, f32

LMSVIEW = LISTEN = PLUGIN = None
MASK = 0x1FFF
HERE = os.path.dirname(os.path.abspath(__file__))
ENV = emulator.DDS_ENV
Listener = emulator.Listener


def type_hash():
    """sensor_msgs/msg/LaserScan's RIHS01 hash, from its type description as
    ROS 2 hashes it (field type ids: 1 nested, 6 int32, 7 uint32, 10 float32,
    17 string, +144 an unbounded sequence)."""
    def f(name, type_id, nested=""):
        return {"name": name, "type": {"type_id": type_id, "capacity": 0, "string_capacity": 0,
                                       "nested_type_name": nested}}
    floats = ("angle_min", "angle_max", "angle_increment", "time_increment", "scan_time", "range_min",
              "range_max")
    description = {
        "type_description": {"type_name": "sensor_msgs/msg/LaserScan",
                             "fields": [f("header", 1, "std_msgs/msg/Header")] + [f(n, 10) for n in floats] +
                                       [f("ranges", 154), f("intensities", 154)]},
        "referenced_type_descriptions": [
            {"type_name": "builtin_interfaces/msg/Time", "fields": [f("sec", 6), f("nanosec", 7)]},
            {"type_name": "std_msgs/msg/Header",
             "fields": [f("stamp", 1, "builtin_interfaces/msg/Time"), f("frame_id", 17)]}]}
    text = json.dumps(description, separators=(", ", ": "))
    return "RIHS01_" + hashlib.sha256(text.encode()).hexdigest()


def laser_scan_cdr(sec, nanosec, frame_id, words):
    """A LaserScan in plain little-endian CDR, built field by field."""
    out = bytearray(b"\x00\x01\x00\x00")

    def put(fmt, *v):
        size = struct.calcsize("<" + fmt.lstrip("0123456789")[0])
        while (len(out) - 4) % size:
            out.append(0)
        out.extend(struct.pack("<" + fmt, *v))
    name = frame_id.encode() + b"\x00"
    put("iI", sec, nanosec)
    put("I", len(name))
    out.extend(name)
    # 180 degrees at 0.5, in the robotics convention: angle 0 straight ahead.
    put("7f", -3.141592653589793 / 2, 3.141592653589793 / 2, 3.141592653589793 / 360, 0.0, 0.0, 0.01, 8.18)
    put("I", len(words))
    put("%df" % len(words), *[(w & MASK) / 1000 for w in words])
    put("I", 0)
    return bytes(out)


def lmsview(*args, env=ENV, timeout=60):
    t0 = time.monotonic()
    p = subprocess.run([LMSVIEW, *args], stdin=subprocess.DEVNULL, capture_output=True, text=True, env=env,
                       timeout=timeout)
    return p, time.monotonic() - t0


class Ros2(SimsPerTest):
    def test_receive(self):
        """Every scan from the moment the subscriber is matched reaches it, in
        order, as ROS 2 encodes it. The run lasts until both of its readers
        hold six scans (discovery takes its time on a busy machine)."""
        sim = self.sim("127.0.16.1")
        listener = Listener(LISTEN, 211, 6, 60)  # it ends once each reader has six
        view = subprocess.Popen([LMSVIEW, "--ros2", "--ros2-domain", "211", "--frame-id", "front", "--interval",
                                 "100", "--format", "csv", "IP", "127.0.16.1", "LMS"], stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=ENV)
        lines = listener.finish()
        _, err = view.communicate("k", timeout=30)
        self.assertEqual(view.returncode, 0, err)
        sent = [w for (_, fate, w) in sim.sent() if fate == "sent"]
        for reader in ("reliable", "best_effort"):
            got = [x for x in lines if x.get("reader") == reader]
            self.assertGreaterEqual(len(got), 6, reader)
            # Scans published before discovery ended are not for this reader
            # (volatile); from then on it has every one, in order.
            ranges = [[f32(r) for r in x["ranges"]] for x in got if "ranges" in x]
            first = [[f32((w & MASK) / 1000) for w in words] for words in sent].index(ranges[0]) \
                if reader == "best_effort" else None
            stamps = []
            for i, x in enumerate(got):
                if reader == "reliable":
                    cdr = bytes.fromhex(x["cdr"])
                    sec, nanosec = struct.unpack_from("<iI", cdr, 4)
                    self.assertIn(cdr, [laser_scan_cdr(sec, nanosec, "front", words) for words in sent])
                    if i > 0:
                        self.assertEqual(cdr, laser_scan_cdr(sec, nanosec, "front", sent[previous + 1]))
                    previous = [laser_scan_cdr(sec, nanosec, "front", words) for words in sent].index(cdr)
                else:
                    sec, nanosec = x["sec"], x["nanosec"]
                    self.assertEqual(x["frame_id"], "front")
                    self.assertEqual([f32(r) for r in x["ranges"]],
                                     [f32((w & MASK) / 1000) for w in sent[first + i]])
                    self.assertEqual(x["intensities"], 0)
                stamps.append(sec * 10**9 + nanosec)
            self.assertEqual(stamps, sorted(set(stamps)), reader)
        self.assertIn({"writer_user_data": "typehash=%s;" % type_hash(), "type": "sensor_msgs::msg::dds_::LaserScan_"},
                      lines)
        self.assertIn({"participant_user_data": "enclave=/;"}, lines)

    def test_stalled(self):
        """A reliable reader that takes nothing while 200 scans go out: the
        console gets all 200 at the pace it has without it."""
        self.sim("127.0.16.2")
        args = ["--count", "200", "--interval", "0", "--format", "csv", "IP", "127.0.16.2", "LMS"]
        base, alone = lmsview(*args)
        self.assertEqual(base.returncode, 0, base.stderr)
        listener = Listener(LISTEN, 212, 0, 60, "--stall")
        try:
            p, took = lmsview("--ros2", "--ros2-domain", "212", *args)
        finally:
            listener.finish(stop=True)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(len(p.stdout.splitlines()), len(base.stdout.splitlines()))
        self.assertLess(took, 3 * alone + 2, (took, alone))

    def test_refusals(self):
        sim = self.sim("127.0.16.3")
        link = ["IP", "127.0.16.3", "LMS"]
        for args, env in ((["--ros2=scan"], ENV), (["--ros2", "/1scan"], ENV), (["--ros2", "/scan/"], ENV),
                          (["--ros2", "--ros2-domain", "233"], ENV), (["--ros2-domain", "3"], ENV),
                          (["--ros2"], dict(ENV, ROS_DOMAIN_ID="seven")),
                          (["--ros2"], dict(ENV, CYCLONEDDS_URI="file:///nonexistent/dds.xml"))):
            p, took = lmsview(*args, *link, env=env, timeout=10)
            self.assertEqual(p.returncode, 2, (args, p.stderr))
            # One line, ours: what DDS says goes into it, never on its own.
            self.assertEqual(len(p.stderr.splitlines()), 1, (args, p.stderr))
            self.assertTrue(p.stderr.startswith("lmsview: "), (args, p.stderr))
            self.assertNotIn("trying to connect", p.stderr)
            if "CYCLONEDDS_URI" in env and env["CYCLONEDDS_URI"].startswith("file:///nonexistent"):
                self.assertIn("DDS could not join the domain: ", p.stderr)
        self.assertEqual(sim.sent(), [])

    def test_plugin(self):
        """lmsview links nothing of DDS; without its plug-in --ros2 is one
        line saying what to install, status 2, and no link is opened."""
        needed = subprocess.run(["ldd", LMSVIEW], capture_output=True, text=True, check=True).stdout
        for library in ("ddsc", "ssl", "crypto", "iceoryx"):
            self.assertNotIn(library, needed)
        sim = self.sim("127.0.16.4")
        moved = PLUGIN + ".moved"
        os.rename(PLUGIN, moved)
        try:
            p, _ = lmsview("--ros2", "IP", "127.0.16.4", "LMS", timeout=10)
        finally:
            os.rename(moved, PLUGIN)
        self.assertEqual(p.returncode, 2, p.stderr)
        self.assertEqual(len(p.stderr.splitlines()), 1, p.stderr)
        self.assertIn("--ros2 needs the liblmsview-ros2-2 package", p.stderr)
        self.assertEqual(sim.sent(), [])
        # With it, the run holds one engine: lmsview's own, not liblmsview beside it.
        run = subprocess.Popen([LMSVIEW, "--ros2", "--ros2-domain", "40", "--format", "csv", "IP", "127.0.16.4",
                                "LMS"], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               env=ENV)
        try:
            self.assertTrue(run.stdout.readline().startswith(b"seq,"))
            with open(f"/proc/{run.pid}/maps") as f:
                maps = f.read()
        finally:
            run.communicate(b"k", timeout=30)
        self.assertIn(os.path.basename(PLUGIN), maps)
        self.assertNotIn("liblmsview.so", maps)


if __name__ == "__main__":
    LMSVIEW, emulator.LMSSIM, LISTEN, PLUGIN = sys.argv[1:5]
    unittest.main(argv=[sys.argv[0], "Ros2.test_" + sys.argv[5].lower()], verbosity=2)
