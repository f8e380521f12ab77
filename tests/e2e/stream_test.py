# SPDX-License-Identifier: Apache-2.0
"""Continuous output end to end, over the emulator's pseudo-terminal: a run
ended by a key leaves the scanner quiet; a run killed while streaming is
followed by one that reads scans again, with and without --stream; noise and
telegrams cut short never make a scan; --find names two emulators at their
rates; every scan streamed reaches the library's next().

Run as: stream_test.py LMSVIEW LMSSIM CASE. Only loopback addresses
127.0.37.x are used."""

import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import emulator

MASK = 0x1FFF


def wait_for(condition, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.02)
    return condition()


class Stream(unittest.TestCase):
    def setUp(self):
        self.sims = []
        self.views = []

    def tearDown(self):
        for v in self.views:
            if v.poll() is None:
                v.kill()
                v.communicate(timeout=10)
        for s in self.sims:
            s.stop()

    def emulator(self, *extra):
        """lmssim on a pseudo-terminal with its scan log."""
        s = emulator.Sim(None, extra, max_seconds=120)
        self.sims.append(s)
        return s

    def view(self, *args):
        """lmsview as a process, its scans as JSON lines on standard output."""
        v = subprocess.Popen([emulator.LMSVIEW, "--format", "jsonl", *args], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.views.append(v)
        return v

    def test_stop(self):
        """A key ends the stream: the scanner acknowledges the stop and sends
        nothing after it, and the line is back at its rate. Said for the stop
        after the telegram under way, late acknowledge included."""
        for extra in ([], ["--late-stop-ack"]):
            sim = self.emulator(*extra)
            v = self.view("--scanner-baud", "500000", "--stream", "COM", sim.device, "LMS")
            self.assertTrue(wait_for(lambda: sim.count() >= 20, 30), v.stderr.read() if v.poll() else "")
            key = time.monotonic_ns()
            out, err = v.communicate("k", timeout=30)
            self.assertEqual(v.returncode, 0, err)
            notes = sim.stop()
            stopped = re.search(r"operating mode 0x25: end of continuous output \(monotonic (\d+) ns\)", notes)
            ended = re.search(r"continuous output ended \(monotonic (\d+) ns\)", notes)
            self.assertTrue(stopped and ended, notes)
            self.assertIn("operating mode 0x42", notes[ended.end():])  # back at 9600 baud
            self.assertNotIn("not acknowledge", err)
            print(f"stop{' (late acknowledge)' if extra else ''}: quiet {(int(ended[1]) - key) / 1e6:.1f} ms "
                  "after the key")

    def test_killed_then_restarted(self):
        """lmsview killed while streaming at 500000 baud: the next run on the
        same device looks for the scanner there first and reads scans, with
        --stream from its stream, without it after stopping the stream."""
        sim = self.emulator()
        line = ["--scanner-baud", "500000", "COM", sim.device, "LMS"]
        first = self.view("--stream", *line)
        self.assertTrue(wait_for(lambda: sim.count() >= 10, 30))
        first.send_signal(signal.SIGKILL)
        first.communicate(timeout=10)
        for again in (["--stream"], []):
            started = time.monotonic()
            v = self.view("--count", "3", *again, *line)
            out, err = v.communicate("", timeout=60)
            self.assertEqual(v.returncode, 0, err)
            self.assertEqual(len(out.splitlines()), 3, err)
            self.assertIn("lmsview: the scanner answered at 500000 baud\n", err)
            print(f"restarted {'with' if again else 'without'} --stream: 3 scans in "
                  f"{time.monotonic() - started:.2f} s")
            if again:
                # Killed once more, so the next run finds it streaming too.
                self.assertIn("lmsview: the scanner was already streaming: reading its stream\n", err)
                # That run put the scanner back at 9600; one more, killed, leaves it streaming at 500000.
                third = self.view("--stream", *line)
                self.assertTrue(wait_for(lambda: third.stdout.readline() != "", 30))
                third.send_signal(signal.SIGKILL)
                third.communicate(timeout=10)
            else:
                self.assertIn("lmsview: the scanner was streaming: its stream is stopped\n", err)
        notes = sim.stop()
        self.assertTrue(notes.rstrip().splitlines()[-1].startswith("lmssim: operating mode 0x42"), notes)

    def test_noise(self):
        """Garbage between telegrams and telegrams cut short: every scan
        recorded is one the emulator sent whole, none is lost but those, and
        the bytes thrown away are counted by the library."""
        sim = self.emulator("--baud", "500000", "--streaming", "--stream-garbage-every", "3",
                            "--stream-cut-every", "4")
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "scans.jsonl")
            v = self.view("--baud", "500000", "--stream", "--record", path, "--count", "40", "COM", sim.device,
                          "LMS")
            out, err = v.communicate("", timeout=60)
            self.assertEqual(v.returncode, 0, err)
            with open(path) as f:
                recorded = [json.loads(line) for line in f]
        sent = {n: (fate, words) for n, fate, words in sim.sent()}
        whole = [n for n, (fate, _) in sorted(sent.items()) if fate == "sent"]
        self.assertGreaterEqual(len(recorded), 30)
        # The emulator streams before lmsview opens the line: the recording
        # starts at some whole scan sent, and from there holds every whole
        # one sent, in order.
        words = [sent[n][1] for n in whole]
        self.assertIn(recorded[0]["words"], words)
        first = words.index(recorded[0]["words"])
        self.assertEqual([r["words"] for r in recorded], words[first:first + len(recorded)])

    def test_find(self):
        """Two emulators at different rates, one streaming: --find names each
        with its rate, variant, unit and the command that reads it, and
        changes nothing on them."""
        polled = self.emulator("--baud", "38400", "--variant", "180/1")
        streaming = self.emulator("--baud", "500000", "--streaming", "--units", "cm", "--variant", "100/0.25")
        lines = []
        for sim in (polled, streaming):
            started = time.monotonic()
            p = emulator.lmsview("--find", "COM", sim.device)
            self.assertEqual(p.returncode, 0, p.stderr)
            lines.append(p.stdout)
            print(f"--find: {p.stdout.strip()} ({time.monotonic() - started:.1f} s)")
        self.assertEqual(lines[0], f"COM {polled.device}: LMS at 38400 baud, 180/1, mm, polled: "
                                   f"lmsview --baud 38400 COM {polled.device} LMS\n")
        self.assertEqual(lines[1], f"COM {streaming.device}: LMS at 500000 baud, 100/0.25, cm, streaming: "
                                   f"lmsview --baud 500000 --units cm --stream COM {streaming.device} LMS\n")
        self.assertNotIn("operating mode", polled.stop() + streaming.stop())
        nothing = emulator.lmsview("--find", "IP", "127.0.37.1")
        self.assertEqual(nothing.returncode, 1)
        self.assertIn("IP 127.0.37.1: cannot look: Connection refused\n", nothing.stdout)


if __name__ == "__main__":
    emulator.LMSVIEW, emulator.LMSSIM = sys.argv[1:3]
    unittest.main(argv=[sys.argv[0], "Stream.test_" + sys.argv[3]], verbosity=2)
