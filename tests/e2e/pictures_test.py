# SPDX-License-Identifier: Apache-2.0
"""Pictures of a scan, end to end: the live terminal view (--format plot) on
a pseudo-terminal and in a pipe, and the SVG file (--svg).

Run as: pictures_test.py LMSVIEW LMSSIM [unittest names]. Only loopback
addresses 127.0.9.x are used (one per test)."""

import fcntl
import os
import pty
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest
import xml.etree.ElementTree as ET
import zlib

import emulator

LMSVIEW = LMSSIM = None
SVG = "{http://www.w3.org/2000/svg}"


def start_sim(address, *extra):
    s = emulator.Sim(address, extra)
    return s.proc, s.log.name


def set_size(fd, cols, rows):
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))


class OnAPty(unittest.TestCase):
    """lmsview --format plot with a 100 x 30 pseudo-terminal as its terminal."""

    def setUp(self):
        self.sim, self.log = start_sim(self.address)
        self.master, self.slave = pty.openpty()
        set_size(self.slave, 100, 30)

        def own_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.proc = subprocess.Popen([LMSVIEW, "--format", "plot", "IP", self.address, "LMS"], stdin=self.slave,
                                     stdout=self.slave, stderr=self.slave, preexec_fn=own_terminal)
        self.out = b""

    def tearDown(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(5)
        os.close(self.master)
        os.close(self.slave)
        if self.sim.poll() is None:
            self.sim.terminate()
        self.sim.wait(5)
        os.unlink(self.log)

    def read_for(self, seconds, until=None):
        end = time.monotonic() + seconds
        while time.monotonic() < end and (until is None or until not in self.out):
            r, _, _ = select.select([self.master], [], [], 0.1)
            if r:
                try:
                    self.out += os.read(self.master, 65536)
                except OSError:
                    break

    def last_frame(self):
        frame = self.out[self.out.rfind(b"\x1b[H") + 3:]
        return frame[:frame.find(b"\x1b[J")].decode()



class LiveView(OnAPty):
    address = "127.0.9.2"

    def test_redraws_in_place_follows_a_resize_and_gives_the_cursor_back(self):
        self.read_for(4, until=b"muestra 2")
        self.assertIn(b"\x1b[?25l", self.out)  # the cursor is hidden during the run
        self.assertGreaterEqual(self.out.count(b"\x1b[H"), 2)  # each frame from the top, in place
        frame = self.last_frame()
        self.assertRegex(frame, "[\u2801-\u28ff]")  # braille dots
        self.assertIn("points  nearest", frame)
        self.assertIn("1m", frame)
        self.assertEqual(frame.count("\n"), 27)  # 30 rows less three for the messages
        set_size(self.slave, 60, 20)
        os.killpg(self.proc.pid, signal.SIGWINCH)
        before = self.out.count(b"\x1b[H")
        end = time.monotonic() + 4
        while self.out.count(b"\x1b[H") < before + 1 and time.monotonic() < end:
            self.read_for(0.2)
        small = [l.replace("\x1b[K", "").rstrip("\r") for l in self.last_frame().split("\n")]
        self.assertLessEqual(len(small), 18)
        self.assertLessEqual(max(len(l) for l in small[:-2]), 60)
        os.write(self.master, b"k")
        self.assertEqual(self.proc.wait(5), 0)
        self.read_for(0.5)
        self.assertIn(b"\x1b[?25h", self.out[self.out.rfind(b"\x1b[?25l"):])  # and shown again


class LiveViewStops(OnAPty):
    address = "127.0.9.1"

    def test_ctrl_c_gives_the_cursor_back(self):
        self.read_for(3, until=b"muestra 1")
        os.write(self.master, b"\x03")
        self.assertEqual(self.proc.wait(8), 130)
        self.read_for(0.5)
        self.assertIn(b"\x1b[?25h", self.out[self.out.rfind(b"\x1b[?25l"):])

    def test_a_lost_link_gives_the_cursor_back(self):
        self.read_for(3, until=b"muestra 1")
        self.sim.terminate()
        self.assertEqual(self.proc.wait(8), 1)
        self.read_for(0.5)
        self.assertIn(b"\x1b[?25h", self.out[self.out.rfind(b"\x1b[?25l"):])


class PlotInAPipe(unittest.TestCase):
    def test_frames_follow_each_other_without_escape_codes(self):
        sim, log = start_sim("127.0.9.3")
        try:
            p = subprocess.run([LMSVIEW, "--format", "plot", "--count", "2", "--interval", "400", "IP", "127.0.9.3",
                                "LMS"], stdin=subprocess.DEVNULL, capture_output=True, timeout=20)
        finally:
            sim.terminate()
            sim.wait(5)
            os.unlink(log)
        self.assertEqual(p.returncode, 0)
        self.assertNotIn(b"\x1b", p.stdout)
        text = p.stdout.decode()
        self.assertEqual(text.count("muestra "), 2)
        self.assertEqual(len(text.split("\n")), 2 * 22 + 1)  # two 80 x 24 frames, each ended by an empty line


def png_pixels(path):
    """The decompressed image data of a PNG (filter bytes included)."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, idat = 8, b""
    while at < len(data):
        length = struct.unpack(">I", data[at:at + 4])[0]
        kind = data[at + 4:at + 8]
        if kind == b"IDAT":
            idat += data[at + 8:at + 8 + length]
        at += 12 + length
    return zlib.decompress(idat)


class SvgPicture(unittest.TestCase):
    def test_one_scan_as_a_well_formed_picture_of_its_points(self):
        sim, log = start_sim("127.0.9.4")
        with tempfile.TemporaryDirectory() as d:
            svg = os.path.join(d, "scan.svg")
            try:
                p = subprocess.run([LMSVIEW, "--svg", svg, "--count", "1", "--format", "jsonl", "IP", "127.0.9.4",
                                    "LMS"], stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=20)
            finally:
                sim.terminate()
                sim.wait(5)
            self.assertEqual(p.returncode, 0, p.stderr)
            root = ET.parse(svg).getroot()  # well-formed XML
            self.assertEqual(root.tag, SVG + "svg")
            self.assertIn("lmsview muestra 0", root.find(SVG + "title").text)
            with open(log) as f:
                words = [int(w) & 0x1FFF for w in f.readline().split()[2:]]
            os.unlink(log)
            valid = [w for w in words if 1 <= w <= 8180]
            points = [c for c in root.iter(SVG + "circle") if c.get("class") == "point"]
            self.assertEqual(len(points), len(valid))
            self.assertLess(os.path.getsize(svg), 64 * 1024)
            self.assertEqual([f for f in os.listdir(d)], ["scan.svg"])  # no temporary file left
            if shutil.which("rsvg-convert"):
                png = os.path.join(d, "scan.png")
                subprocess.run(["rsvg-convert", svg, "-o", png], check=True, timeout=30)
                self.assertGreater(len(set(png_pixels(png))), 3)  # not blank

    def test_a_folder_that_does_not_exist_is_refused_at_the_start(self):
        sim, log = start_sim("127.0.9.5")
        try:
            p = subprocess.run([LMSVIEW, "--svg", "/nonexistent-dir/scan.svg", "--count", "3", "--interval", "300",
                                "--format", "jsonl", "IP", "127.0.9.5", "LMS"], stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=20)
        finally:
            sim.terminate()
            sim.wait(5)
            os.unlink(log)
        # Said once, before any link (a write error during the run is said once and the run goes on).
        self.assertEqual(p.returncode, 2)
        self.assertEqual(p.stderr, "lmsview: --svg /nonexistent-dir/scan.svg: its folder does not exist\n")
        self.assertEqual(p.stdout, "")


if __name__ == "__main__":
    LMSVIEW, LMSSIM = sys.argv[1], sys.argv[2]
    emulator.LMSSIM = LMSSIM
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
