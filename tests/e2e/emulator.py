"""lmssim as a process for the end-to-end tests, on a loopback address or a
pseudo-terminal, with a scan log; and a test-case base that stops every
emulator a test started. Set LMSSIM to the emulator's path before use."""

import os
import subprocess
import tempfile
import time
import unittest

LMSSIM = None


class Sim:
    def __init__(self, address=None, extra=()):
        self.log = tempfile.NamedTemporaryFile(prefix="scanlog", delete=False)
        self.log.close()
        args = [LMSSIM, "--scan-log", self.log.name, "--max-seconds", "60", *extra]
        args += ["--address", address] if address else ["--serial"]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.device = None
        if address:
            time.sleep(0.3)
        else:
            line = self.proc.stdout.readline()
            self.device = line.split()[-1]
        if self.proc.poll() is not None:
            raise RuntimeError("lmssim did not start: " + self.proc.stderr.read())

    def sent(self):
        """The measurement replies sent: (number, fate, words)."""
        scans = []
        with open(self.log.name) as f:
            for line in f:
                parts = line.split()
                scans.append((int(parts[0]), parts[1], [int(w) for w in parts[2:]]))
        return scans

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(5)
        self.proc.stdout.close()
        self.proc.stderr.close()
        os.unlink(self.log.name)


class SimsPerTest(unittest.TestCase):
    """Each test's emulators are stopped when it ends."""

    def setUp(self):
        self.sims = []

    def tearDown(self):
        for s in self.sims:
            s.stop()

    def sim(self, address=None, extra=()):
        s = Sim(address, extra)
        self.sims.append(s)
        return s
