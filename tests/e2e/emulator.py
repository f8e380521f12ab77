# SPDX-License-Identifier: Apache-2.0
"""lmssim as a process for the end-to-end tests and the scripts, and the
machinery they share: start the emulator and wait for its ready line (the
address it listens on, or its serial device), a pseudo-terminal harness, the
parser of lmsview's tables, lmsview run to its end, and the MCAP reference
reader. Set LMSSIM (and LMSVIEW, NPM where used) before use."""

import fcntl
import json
import os
import pty
import re
import select
import struct
import subprocess
import tempfile
import termios
import threading
import time
import unittest

LMSSIM = LMSVIEW = NPM = None  # the programs, and the folder of the reference readers (tests/npm)
TABLE_ROW = re.compile(r"^(\d+) (\d+\.\d\d) (\d+\.\d\d)$")


def f32(x):
    """x as a float32 holds it."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


def lmsview(*args, env=None, stdin=subprocess.DEVNULL, timeout=60):
    """lmsview run to its end; its output as text."""
    return subprocess.run([LMSVIEW, *args], stdin=stdin, capture_output=True, text=True, timeout=timeout, env=env)


def read_mcap(path, stream=False):
    """What the format's reference reader finds in an MCAP file (indexed, or
    as a stream for a file cut short)."""
    p = subprocess.run(["node", "read_mcap.mjs", *(["--stream"] if stream else []), path], cwd=NPM,
                       capture_output=True, text=True, timeout=60)
    if p.returncode != 0:
        raise AssertionError("the reference reader refused " + path + ":\n" + p.stderr)
    return json.loads(p.stdout)


def launch(args, lmssim=None, **popen):
    """Starts lmssim with `args` and waits for its ready line; returns the
    process and what the line names (the device path, or "ADDRESS:PORT").
    lmssim prints that line, flushed, once it listens or has its device, or
    ends at once with a message: the wait ends either way."""
    popen.setdefault("stderr", subprocess.PIPE)
    proc = subprocess.Popen([lmssim or LMSSIM, *args], stdout=subprocess.PIPE, text=True, **popen)
    line = proc.stdout.readline()
    m = re.match(r"lmssim: (listening on|serial device) (\S+)", line)
    if not m:
        err = proc.stderr.read() if proc.stderr else ""
        proc.wait(5)
        raise RuntimeError("lmssim did not start: " + line + (err or ""))
    return proc, m.group(2)


def stop(proc):
    """Ends an emulator process (bounded) and closes its pipes."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(5)
    for f in (proc.stdout, proc.stderr, proc.stdin):
        if f:
            f.close()


class Sim:
    """One emulator on a loopback address (or a pseudo-terminal when no
    address is given), with a scan log of every measurement reply."""

    def __init__(self, address=None, extra=(), scan_log=True, max_seconds=60):
        self.log = None
        self.notes = None
        args = ["--max-seconds", str(max_seconds), *extra]
        if scan_log:
            log = tempfile.NamedTemporaryFile(prefix="scanlog", delete=False)
            log.close()
            self.log = log
            args += ["--scan-log", log.name]
        args += ["--address", address] if address else ["--serial"]
        self.proc, where = launch(args)
        self.device = None if address else where

    def sent(self):
        """The measurement replies sent: (number, fate, words)."""
        scans = []
        with open(self.log.name) as f:
            for line in f:
                parts = line.split()
                scans.append((int(parts[0]), parts[1], [int(w) for w in parts[2:]]))
        return scans

    def count(self):
        """How many measurement replies were sent so far."""
        with open(self.log.name) as f:
            return sum(1 for _ in f)

    def stop(self):
        """Ends the emulator (bounded); the lines it printed after its ready
        line (what it was told to do)."""
        if self.notes is None:
            if self.proc.poll() is None:
                self.proc.terminate()
            try:
                self.notes = self.proc.communicate(timeout=10)[0] or ""
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.notes = self.proc.communicate(timeout=10)[0] or ""
            if self.log:
                os.unlink(self.log.name)
                self.log = None
        return self.notes


# DDS on loopback only, for the tests' publishers and subscribers.
DDS_ENV = dict(os.environ, CYCLONEDDS_URI="file://" + os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "cyclonedds-loopback.xml"))
DDS_ENV.pop("ROS_DOMAIN_ID", None)


class Program:
    """A program run as a user runs it: both its outputs read as they come
    (a full pipe never holds it), its standard input a pipe (a byte is the
    key), its status and the CPU time it took once it has ended."""

    def __init__(self, args, env=None):
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     env=env)
        self.started = time.monotonic()
        self.lifetime = self.cpu_seconds = None
        self._out, self._err = bytearray(), bytearray()
        self._lock = threading.Lock()
        self._readers = [threading.Thread(target=self._read, args=(f, b), daemon=True)
                         for f, b in ((self.proc.stdout, self._out), (self.proc.stderr, self._err))]
        for t in self._readers:
            t.start()

    def _read(self, f, into):
        for chunk in iter(lambda: os.read(f.fileno(), 65536), b""):
            with self._lock:
                into.extend(chunk)

    def out(self):
        with self._lock:
            return self._out.decode(errors="replace")

    def err(self):
        with self._lock:
            return self._err.decode(errors="replace")

    def wait_until(self, condition, timeout):
        """Whether `condition()` held within `timeout` seconds (or when the program ended)."""
        end = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > end or self.proc.poll() is not None:
                return condition()
            time.sleep(0.02)
        return True

    def wait_for(self, text, timeout, err=False):
        """Whether `text` came on standard output (or error) within `timeout` seconds."""
        return self.wait_until(lambda: text in (self.err() if err else self.out()), timeout)

    def wait_lines(self, lines, timeout):
        """Whether standard output holds `lines` lines within `timeout` seconds."""
        return self.wait_until(lambda: self.out().count("\n") >= lines, timeout)

    def key(self):
        self.proc.stdin.write(b"k")
        self.proc.stdin.flush()

    def close_stdin(self):
        self.proc.stdin.close()

    def signal(self, sig):
        self.proc.send_signal(sig)

    def wait(self, timeout):
        """Whether it ended within `timeout` seconds; its status in
        returncode, its CPU time and lifetime then."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            pid, status, usage = os.wait4(self.proc.pid, os.WNOHANG)
            if pid == self.proc.pid:
                self.lifetime = time.monotonic() - self.started
                self.cpu_seconds = usage.ru_utime + usage.ru_stime
                self.proc.returncode = os.waitstatus_to_exitcode(status)
                for t in self._readers:
                    t.join(10)
                return True
            time.sleep(0.02)
        return False

    @property
    def returncode(self):
        return self.proc.returncode

    def stop(self):
        """Ends it if it still runs (bounded) and closes its pipes."""
        if self.proc.returncode is None and not self.wait(0):
            self.proc.kill()
            self.wait(10)
        for f in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                f.close()
            except OSError:
                pass


class Listener:
    """tests/ros2_listen as a process, its lines read as they come (a full
    pipe would stall it into a reader that takes nothing)."""

    def __init__(self, program, domain, count, seconds, *extra):
        # A topic first among the extra words names it (else /scan).
        topic = extra[0] if extra and extra[0].startswith("/") else "/scan"
        extra = extra[1:] if topic != "/scan" or (extra and extra[0] == "/scan") else extra
        self.proc = subprocess.Popen([program, str(domain), topic, str(count), str(seconds), *extra],
                                     env=DDS_ENV, stdout=subprocess.PIPE, text=True)
        assert self.proc.stdout.readline() == "ready\n"
        self.lines = []
        self.thread = threading.Thread(target=lambda: self.lines.extend(self.proc.stdout))
        self.thread.start()

    def finish(self, stop=False):
        """Its JSON lines, once it has ended (or been stopped)."""
        if stop:
            self.proc.terminate()
        self.proc.wait(timeout=60)
        self.thread.join()
        self.proc.stdout.close()
        return [json.loads(x) for x in self.lines]


class SimsPerTest(unittest.TestCase):
    """Each test's emulators are stopped when it ends."""

    def setUp(self):
        self.sims = []

    def tearDown(self):
        for s in self.sims:
            s.stop()

    def sim(self, address=None, extra=(), **options):
        s = Sim(address, extra, **options)
        self.sims.append(s)
        return s


class Pty:
    """A program with a pseudo-terminal as its controlling terminal (a
    session of its own, as a shell gives a program it starts); what it writes
    there is read all along, as a terminal would show it."""

    def __init__(self, args, cols=None, rows=None):
        self.master, self.slave = pty.openpty()
        if cols:
            self.set_size(cols, rows)

        def own_terminal():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        self.proc = subprocess.Popen(args, stdin=self.slave, stdout=self.slave, stderr=self.slave,
                                     preexec_fn=own_terminal)
        self.out = b""
        self.lock = threading.Lock()
        self.reading = True
        self.reader = threading.Thread(target=self._read_all)
        self.reader.start()

    def set_size(self, cols, rows):
        import struct
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))

    def _read_all(self):
        while self.reading:
            r, _, _ = select.select([self.master], [], [], 0.1)
            if not r:
                continue
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                return
            with self.lock:
                self.out += chunk

    def text(self):
        with self.lock:
            return self.out.decode(errors="replace")

    def wait_for(self, text, timeout):
        """Whether `text` came within `timeout` seconds (checked every 20 ms)."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if text in self.text():
                return True
            time.sleep(0.02)
        return text in self.text()

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait(5)
        self.reading = False
        self.reader.join()
        os.close(self.master)
        os.close(self.slave)


def shown_tables(out):
    """Every table in lmsview's table output (not a terminal: no escape
    codes), as (sample number, its rows "index angle range" as printed).
    A table ends at an empty line or another thread's message."""
    found, rows = [], None
    for line in out.split("\n"):
        if line.startswith("muestra: "):
            rows = []
            found.append((int(line[9:]), rows))
        elif rows is not None and line and line[0].isdigit():
            rows.append(line)
        elif rows is not None and not line.startswith("[") and (line or rows):
            rows = None
    return found


def table_rows(words):
    """The rows lmsview shows for a scan of these words: index, degrees from
    the scanner's right (by the variant) and centimetres, as printf's %2.2f
    writes them."""
    first, field = (0.0, 180.0) if len(words) % 180 == 1 else (40.0, 100.0)
    step = field / (len(words) - 1)
    return ["%d %.2f %.2f" % (i, first + step * i, f32((w & 0x1FFF) / 10.0)) for i, w in enumerate(words)]


def tables(out):
    """Every table in lmsview's table output (bytes or text): one list of
    ranges a scan, from rows "index angle range"."""
    if isinstance(out, bytes):
        out = out.decode(errors="replace")
    found, current = [], []
    for line in out.split("\n"):
        m = TABLE_ROW.match(line.rstrip("\r"))
        if not m:
            continue
        if int(m.group(1)) == 0:
            current = []
        current.append(float(m.group(3)))
        if int(m.group(1)) == 360:
            found.append(current)
    return found
