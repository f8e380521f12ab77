# SPDX-License-Identifier: Apache-2.0
"""lmsview --config: a robot's scanners end to end. Two emulators of one
seed at two poses see one room; their merged cloud must put the same walls
in the same place. Crop and mask counts, /tf_static first in the recording
(read by the format's reference reader), /diagnostics going stale when one
emulator stops and OK when it is back, and the mistakes of a config file.

Run as: robot_test.py LMSVIEW LMSSIM NPM CASE. Only loopback addresses
127.0.41.x are used."""

import base64
import json
import math
import os
import struct
import subprocess
import sys
import tempfile
import unittest

import emulator
from emulator import Program

FRONT = {"x": 0.4, "y": 0.3, "yaw_deg": 20.0}
REAR = {"x": -0.2, "y": -0.5, "yaw_deg": -35.0}


def config(path, front_address, rear_address, rear_extra=""):
    with open(path, "w") as f:
        f.write(f"""base_frame = "base_link"
[scanner.front]
link = "tcp://{front_address}"
interval = 100
pose = {{ x = {FRONT['x']}, y = {FRONT['y']}, yaw_deg = {FRONT['yaw_deg']} }}
crop_deg = [-80, 80]
mask_deg = [[-10, 10]]
[scanner.rear]
link = "tcp://{rear_address}"
interval = 100
pose = {{ x = {REAR['x']}, y = {REAR['y']}, yaw_deg = {REAR['yaw_deg']} }}
{rear_extra}
""")


def pose_arg(p):
    return f"{p['x']},{p['y']},{p['yaw_deg']}"


class Robot(emulator.SimsPerTest):
    def setUp(self):
        super().setUp()
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        super().tearDown()
        self.dir.cleanup()

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def test_merge(self):
        """The merged cloud puts both scanners' walls in one place; crop and
        mask shorten and hide; where each sits comes first in the file."""
        self.sim("127.0.41.1", ["--seed", "5", "--pose", pose_arg(FRONT)])
        self.sim("127.0.41.2", ["--seed", "5", "--pose", pose_arg(REAR)])
        toml, mcap = self.path("robot.toml"), self.path("run.mcap")
        config(toml, "127.0.41.1", "127.0.41.2")
        run = emulator.lmsview("--config", toml, "--format", "jsonl", "--count", "24", "--record", mcap)
        self.assertEqual(run.returncode, 0, run.stderr)
        frames = [line.split('"frame_id":"')[1].split('"')[0] for line in run.stdout.splitlines()]
        self.assertEqual(set(frames), {"front_laser", "rear_laser"})
        d = emulator.read_mcap(mcap)
        tf = [o for o in d["other"] if o["topic"] == "/tf_static"]
        self.assertEqual(len(tf), 1)
        first_log = min(int(o["logTime"]) for o in d["other"] + d["scans"] + d["points"])
        self.assertEqual(int(tf[0]["logTime"]), first_log)
        placed = {t["child_frame_id"]: t for t in tf[0]["message"]["transforms"]}
        for name, pose in (("front_laser", FRONT), ("rear_laser", REAR)):
            t = placed[name]
            self.assertEqual(t["header"]["frame_id"], "base_link")
            self.assertAlmostEqual(t["transform"]["translation"]["x"], pose["x"])
            yaw = 2 * math.atan2(t["transform"]["rotation"]["z"], t["transform"]["rotation"]["w"])
            self.assertAlmostEqual(math.degrees(yaw), pose["yaw_deg"])
        front = [s for s in d["scans"] if s["topic"] == "/front/scan"]
        self.assertTrue(front)
        for s in front:
            self.assertEqual(len(s["ranges"]), 321)  # 361 cropped to -80..80
            self.assertEqual(sum(1 for r in s["ranges"] if r is None), 41)  # -10..10 hidden (NaN)
            self.assertAlmostEqual(s["angle_min"], math.radians(-80), places=5)
        raw = [r for r in d["raw"] if r["topic"] == "/front/scan/raw"]
        self.assertEqual({len(r["words"]) for r in raw}, {361})  # the words as they came
        # Overlap: the rear scanner's points in the front one's kept field lie on what the front one sees.
        clouds = [p for p in d["points"] if p["topic"] == "/scan/merged"]
        self.assertTrue(clouds)
        self.assertEqual([f["name"] for f in clouds[0]["fields"]], ["x", "y", "z", "scanner"])
        near = shared = 0
        for cloud in clouds:
            a = [p for p in cloud["points"] if p["scanner"] == 0]
            for p in (q for q in cloud["points"] if q["scanner"] == 1):
                bearing = math.degrees(math.atan2(p["y"] - FRONT["y"], p["x"] - FRONT["x"])) - FRONT["yaw_deg"]
                if not (-78 <= bearing <= 78) or -12 <= bearing <= 12:
                    continue
                shared += 1
                near += any(math.hypot(p["x"] - q["x"], p["y"] - q["y"]) < 0.05 for q in a)
        self.assertGreater(shared, 500)
        print(f"overlap: {near} of {shared} points ({100 * near / shared:.1f} %) within 5 cm")
        self.assertGreaterEqual(near, 0.8 * shared)
        merged = [s for s in d["scans"] if s["topic"] == "/scan/merged_scan"]
        self.assertEqual({len(s["ranges"]) for s in merged}, {720})
        self.assertEqual({s["frame_id"] for s in merged}, {"base_link"})

    def test_stale(self):
        """One emulator stops: its status goes stale (said once on standard
        error), the other keeps reading; it comes back: OK again."""
        self.sim("127.0.41.3", ["--seed", "5"])
        rear = self.sim("127.0.41.4", ["--seed", "5"])
        toml, mcap = self.path("robot.toml"), self.path("run.mcap")
        config(toml, "127.0.41.3", "127.0.41.4", "reconnect = true")
        run = Program([emulator.LMSVIEW, "--config", toml, "--format", "csv", "--record", mcap])
        try:
            self.assertTrue(run.wait_for("rear_laser,", 10), run.err())
            rear.stop()
            self.assertTrue(run.wait_for("lmsview: rear: stale: no scan for", 10, err=True), run.err())
            shown = run.out().count("front_laser,")
            self.sim("127.0.41.4", ["--seed", "5"])
            self.assertTrue(run.wait_until(lambda: run.err().split("rear: stale")[-1].count("scans/s") > 0, 15),
                            run.err())
            self.assertGreater(run.out().count("front_laser,"), shown)  # the front one went on all along
            run.key()
            self.assertTrue(run.wait(10))
        finally:
            run.stop()
        self.assertEqual(run.returncode, 0, run.err())
        levels = [[s["level"] for s in o["message"]["status"] if s["name"] == "lmsview: rear"][0]
                  for o in emulator.read_mcap(mcap)["other"] if o["topic"] == "/diagnostics"]
        self.assertIn(3, levels)
        self.assertEqual(levels[-1], 0)

    def test_dds(self):
        """--ros2 with a config: each scanner on its own topic, the merged
        cloud and /diagnostics, and /tf_static to a reader that comes late."""
        self.sim("127.0.41.7", ["--seed", "5", "--pose", pose_arg(FRONT)])
        self.sim("127.0.41.8", ["--seed", "5", "--pose", pose_arg(REAR)])
        toml = self.path("robot.toml")
        config(toml, "127.0.41.7", "127.0.41.8")
        run = Program([emulator.LMSVIEW, "--config", toml, "--ros2", "--ros2-domain", "41", "--format", "csv"],
                      env=emulator.DDS_ENV)
        try:
            self.assertTrue(run.wait_for("rear_laser,", 15), run.err())
            listeners = {
                "front": emulator.Listener(LISTEN, 41, 2, 30, "/front/scan"),
                "cloud": emulator.Listener(LISTEN, 41, 2, 30, "/scan/merged", "--type", "cloud"),
                "health": emulator.Listener(LISTEN, 41, 1, 30, "/diagnostics", "--type", "diagnostics"),
                # Written once, long before this reader came: transient-local keeps it.
                "tf": emulator.Listener(LISTEN, 41, 1, 30, "/tf_static", "--type", "tf", "--latched"),
            }
            got = {name: listener.finish() for name, listener in listeners.items()}
            run.key()
            self.assertTrue(run.wait(10))
        finally:
            run.stop()
        self.assertEqual(run.returncode, 0, run.err())
        cdr = {name: [bytes.fromhex(line["cdr"]) for line in lines if "cdr" in line] for name, lines in got.items()}
        self.assertGreaterEqual(len(cdr["front"]), 2)
        self.assertTrue(all(b"front_laser" in c for c in cdr["front"]))
        self.assertGreaterEqual(len(cdr["cloud"]), 2)
        self.assertTrue(all(b"base_link" in c and b"scanner" in c for c in cdr["cloud"]))
        self.assertTrue(cdr["health"] and b"lmsview: rear" in cdr["health"][0])
        self.assertEqual(len(cdr["tf"]), 1)
        self.assertTrue(b"front_laser" in cdr["tf"][0] and b"rear_laser" in cdr["tf"][0])

    def test_page(self):
        """--serve with a config: the page draws both scanners in the robot's
        frame, one status line each; the screenshot is kept."""
        self.sim("127.0.41.10", ["--seed", "5", "--pose", pose_arg(FRONT)])
        self.sim("127.0.41.11", ["--seed", "5", "--pose", pose_arg(REAR)])
        toml = self.path("robot.toml")
        config(toml, "127.0.41.10", "127.0.41.11")
        run = Program([emulator.LMSVIEW, "--config", toml, "--serve", "127.0.41.10:0", "--format", "csv"])
        shot = os.path.join(OUT, "serve-robot.png")
        try:
            self.assertTrue(run.wait_for("serving the live page at http://", 10, err=True), run.err())
            url = run.err().split("serving the live page at ")[1].split()[0]
            check = subprocess.run(["node", "robot_page.mjs", url, shot, "2"], cwd=emulator.NPM,
                                   capture_output=True, text=True, timeout=60)
            # The merged cloud and scan, read by the protocol's own client.
            merged = subprocess.run(["node", "ws_client.mjs", url.replace("http:", "ws:"), "6",
                                     "/scan/merged,/scan/merged_scan"], cwd=emulator.NPM,
                                    capture_output=True, text=True, timeout=60)
            run.key()
            self.assertTrue(run.wait(10))
        finally:
            run.stop()
        self.assertEqual(check.returncode, 0, check.stderr)
        got = json.loads(check.stdout)
        self.assertEqual(sorted(got["drawn"]), ["front_laser", "rear_laser"])
        self.assertEqual(len(got["lines"]), 2)
        self.assertTrue(got["lines"][0].startswith("front: "), got["lines"])
        self.assertEqual(got["outside"], [])
        self.assertGreater(os.path.getsize(shot), 10000)
        self.assertEqual(merged.returncode, 0, merged.stdout + merged.stderr)
        messages = json.loads(merged.stdout)["scans"]
        clouds = [m for m in messages if m["topic"] == "/scan/merged"]
        scans = [m for m in messages if m["topic"] == "/scan/merged_scan"]
        self.assertTrue(clouds and scans, [m["topic"] for m in messages])
        self.assertEqual({m["frame_id"] for m in messages}, {"base_link"})
        self.assertEqual(len(scans[0]["ranges"]), 720)
        cloud = base64.b64decode(clouds[-1]["data"])
        self.assertEqual(clouds[-1]["point_stride"], 16)
        self.assertEqual(len(cloud) % 16, 0)
        self.assertEqual({struct.unpack_from("<I", cloud, i + 12)[0] for i in range(0, len(cloud), 16)}, {0, 1})

    def test_mistakes(self):
        """Each mistake is one line naming its place, status 2, nothing opened."""
        cases = [
            ('[scanner.a]\nlink = "tcp://127.0.41.9"\nintervall = 100\n', "bad.toml:3:1: intervall: is no key"),
            ('[scanner.a]\nlink = "tcp://127.0.41.9"\npose = { x = nan, y = 0, yaw_deg = 0 }\n',
             "pose.x: takes a finite number"),
            ("no toml here\n", ":1:"),
        ]
        for text, says in cases:
            toml = self.path("bad.toml")
            with open(toml, "w") as f:
                f.write(text)
            p = emulator.lmsview("--config", toml, "--count", "1")
            self.assertEqual(p.returncode, 2, p.stderr)
            self.assertTrue(p.stderr.startswith("lmsview: " + toml + ":"), p.stderr)
            self.assertIn(says, p.stderr)
            self.assertEqual(p.stderr.count("\n"), 1)
            self.assertEqual(p.stdout, "")
        for args in (["IP", "127.0.41.9", "LMS"], ["--interval", "50"], ["--frame-id", "x"]):
            p = emulator.lmsview("--config", toml, *args)
            self.assertEqual(p.returncode, 2, args)
            self.assertEqual(p.stderr.count("\n"), 1)

    def test_one_scanner(self):
        """A config of one scanner reads as the three link words do."""
        # Two emulators of one seed: each run reads the same scans.
        self.sim("127.0.41.5", ["--seed", "7"])
        self.sim("127.0.41.6", ["--seed", "7"])
        toml = self.path("one.toml")
        with open(toml, "w") as f:
            f.write('[scanner.only]\nlink = "tcp://127.0.41.6"\ninterval = 100\n')
        runs = [emulator.lmsview(*how, "--format", "csv", "--count", "3", "--interval", "100")
                if how[0] == "IP" else emulator.lmsview("--config", toml, "--format", "csv", "--count", "3")
                for how in (["IP", "127.0.41.5", "LMS"], ["--config"])]
        for r in runs:
            self.assertEqual(r.returncode, 0, r.stderr)
        # The same lines but for the stamps: seq and every range.
        def rows(text):
            return [line.split(",")[:1] + line.split(",")[3:] for line in text.splitlines()]
        self.assertEqual(rows(runs[0].stdout), rows(runs[1].stdout))
        # The same messages but for the banner and the address (the threads' own lines come in any order).
        def said(text):
            return sorted(line.replace("127.0.41.6", "127.0.41.5") for line in text.splitlines()[1:])
        self.assertEqual(said(runs[0].stderr), said(runs[1].stderr))


LISTEN = None
OUT = tempfile.gettempdir()  # where the page's screenshot goes (the build folder under CTest)

if __name__ == "__main__":
    emulator.LMSVIEW, emulator.LMSSIM, emulator.NPM = sys.argv[1:4]
    LISTEN = os.environ.get("LMSVIEW_ROS2_LISTEN")
    OUT = os.environ.get("LMSVIEW_TEST_OUT", OUT)
    unittest.main(argv=[sys.argv[0], f"Robot.test_{sys.argv[4]}"], verbosity=2)
