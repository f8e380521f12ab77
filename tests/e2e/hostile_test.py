# SPDX-License-Identifier: Apache-2.0
"""lmsview around its protocol path, end to end: signals on a terminal,
closed and full outputs, closed standard descriptors, one write per table,
a peer that never pauses, a line that takes nothing.

Run as: hostile_test.py LMSVIEW LMSSIM [unittest names]. Only loopback
addresses 127.0.7.x are used (one per test)."""

import fcntl
import os
import pty
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

import emulator

LMSVIEW = LMSSIM = None


def Sim(address):
    return emulator.Sim(address, scan_log=False)


def key_mode_on(fd):
    lflag = termios.tcgetattr(fd)[3]
    return not (lflag & termios.ICANON) and not (lflag & termios.ECHO)


class OnATerminal(unittest.TestCase):
    """lmsview with a pseudo-terminal as its controlling terminal (the shared
    harness); what it writes there is read all along."""

    def setUp(self):
        self.sim = Sim(self.address)
        self.term = emulator.Pty([LMSVIEW, "IP", self.address, "LMS"])
        self.master, self.slave, self.proc = self.term.master, self.term.slave, self.term.proc
        self.wait_for_output("connected to LMS", 10)

    @property
    def out(self):
        return self.term.text()

    def wait_for_output(self, text, timeout):
        return self.term.wait_for(text, timeout)

    def tearDown(self):
        self.term.close()
        self.sim.stop()


class Signals(OnATerminal):
    address = "127.0.7.1"

    def test_every_ending_signal_restores_the_terminal(self):
        self.assertTrue(key_mode_on(self.slave), self.out)
        # The messages after the prompt start on a line of their own.
        self.assertTrue(self.wait_for_output("Press any key to continue . . .\r\n", 5), self.out)
        self.proc.send_signal(signal.SIGQUIT)
        self.assertEqual(self.proc.wait(5), -signal.SIGQUIT)  # ended as the signal ends a process
        self.assertFalse(key_mode_on(self.slave))

    def test_hangup_user_and_alarm_signals_too(self):
        for sig in (signal.SIGHUP, signal.SIGUSR1, signal.SIGALRM):
            if self.proc.poll() is not None:
                self.tearDown()
                self.setUp()
            self.assertTrue(key_mode_on(self.slave))
            self.proc.send_signal(sig)
            self.assertEqual(self.proc.wait(5), -sig)
            self.assertFalse(key_mode_on(self.slave), sig)
            self.tearDown()
            self.setUp()

    def test_a_stop_restores_and_a_continue_brings_key_mode_back(self):
        # (Started this way the process group has no parent in its session,
        # so the kernel does not carry out the stop itself; what lmsview does
        # around it is the same.)
        self.assertTrue(key_mode_on(self.slave))
        os.killpg(self.proc.pid, signal.SIGTSTP)
        deadline = time.monotonic() + 5
        while key_mode_on(self.slave) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertFalse(key_mode_on(self.slave))  # the shell gets its terminal back
        os.killpg(self.proc.pid, signal.SIGCONT)
        deadline = time.monotonic() + 5
        while not key_mode_on(self.slave) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertTrue(key_mode_on(self.slave))
        os.write(self.master, b"k")  # one key, no Enter, still ends the run
        self.assertEqual(self.proc.wait(5), 0)
        self.assertFalse(key_mode_on(self.slave))

    def test_ctrl_c_ends_with_130(self):
        os.write(self.master, b"\x03")
        self.assertEqual(self.proc.wait(8), 130)
        self.assertFalse(key_mode_on(self.slave))


class Outputs(unittest.TestCase):
    def setUp(self):
        self.sim = Sim(self.address)

    def tearDown(self):
        self.sim.stop()


class FullOutput(Outputs):
    address = "127.0.7.2"

    def test_a_full_output_is_said_once_and_ends_with_1(self):
        with open("/dev/full", "w") as full:
            p = subprocess.run([LMSVIEW, "--seconds", "20", "IP", self.address, "LMS"], stdin=subprocess.DEVNULL,
                               stdout=full, stderr=subprocess.PIPE, text=True, timeout=30)
        self.assertEqual(p.returncode, 1)
        self.assertEqual(p.stderr.count("lmsview: cannot write to standard output: No space left on device\n"), 1)


class ClosedPipe(Outputs):
    address = "127.0.7.3"

    def test_a_reader_that_goes_away_ends_the_run_quietly_with_141(self):
        p = subprocess.Popen([LMSVIEW, "--seconds", "30", "IP", self.address, "LMS"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        head = p.stdout.read(200)  # like `| head -c 200`
        self.assertTrue(head.startswith(b"Comunicacion IP"))
        p.stdout.close()
        t0 = time.monotonic()
        self.assertEqual(p.wait(10), 141)
        self.assertLess(time.monotonic() - t0, 4)
        self.assertEqual(p.stderr.read(), b"")
        p.stderr.close()


class OneWrite(Outputs):
    address = "127.0.7.4"

    @unittest.skipUnless(shutil.which("strace"), "strace is not installed")
    def test_each_table_goes_out_in_one_write(self):
        # The leak checker cannot run under a tracer; the other checks still do.
        env = dict(os.environ)
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        with tempfile.TemporaryDirectory() as d:
            trace = os.path.join(d, "trace")
            p = subprocess.run(["strace", "-f", "-qq", "-e", "trace=write", "-e", "signal=none", "-o", trace,
                                LMSVIEW, "--count", "3", "--interval", "300", "IP", self.address, "LMS"],
                               stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30, env=env)
            if "Operation not permitted" in p.stderr:
                self.skipTest("ptrace is not allowed here")
            self.assertEqual(p.returncode, 0, p.stderr)
            with open(trace) as f:
                writes = [line for line in f if "write(1," in line]
        tables = [w for w in writes if "muestra: " in w]
        self.assertEqual(len(tables), 3, writes)
        for w in tables:
            size = int(w.rsplit("=", 1)[1])
            self.assertGreater(size, 5000)  # the whole table: header and 361 rows
        self.assertEqual(p.stdout.count("\n360 "), 3)


class ClosedDescriptors(Outputs):
    address = "127.0.7.5"

    def test_closed_standard_descriptors_do_not_end_the_run(self):
        t0 = time.monotonic()
        p = subprocess.run(f'exec "{LMSVIEW}" --seconds 1.5 IP {self.address} LMS <&- >&- 2>&-', shell=True,
                           timeout=20)
        self.assertEqual(p.returncode, 0)
        self.assertGreaterEqual(time.monotonic() - t0, 1.4)


class Chatter(unittest.TestCase):
    def test_a_peer_that_never_pauses_is_named(self):
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.7.6", 10002))
        listener.listen(1)
        stop = threading.Event()

        def chatter():
            conn, _ = listener.accept()
            with conn:
                while not stop.is_set():
                    try:
                        conn.send(b"AT+" * 4)
                    except OSError:
                        return
                    time.sleep(0.002)  # the peer never pauses for anything near 50 ms

        t = threading.Thread(target=chatter)
        t.start()
        try:
            p = subprocess.run([LMSVIEW, "--seconds", "4", "IP", "127.0.7.6", "LMS"], stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=20)
        finally:
            stop.set()
            t.join()
            listener.close()
        # Its bytes are taken as they come then: none is a scan, and a run that
        # read nothing but garbled answers is no success.
        self.assertEqual(p.returncode, 1, p.stderr)
        self.assertIn("requestScan - data arrives without the pauses that end a message\n", p.stdout)
        self.assertIn("lmsview: no scan came: every answer was garbled", p.stderr)
        self.assertNotIn("no answer from LMS", p.stdout)


class LineTakesNothing(unittest.TestCase):
    def test_a_request_that_cannot_be_sent_is_named_and_a_key_still_acts(self):
        master, slave = pty.openpty()
        path = os.ttyname(slave)
        # Fill the line's output queue: nobody reads the other end.
        flags = fcntl.fcntl(slave, fcntl.F_GETFL)
        fcntl.fcntl(slave, fcntl.F_SETFL, flags | os.O_NONBLOCK)
        attrs = termios.tcgetattr(slave)
        attrs[3] &= ~(termios.ICANON | termios.ECHO)
        attrs[1] &= ~termios.OPOST
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
        # The kernel moves queued bytes on in the background: fill until the
        # queue stays full.
        refused = 0
        while refused < 5:
            try:
                os.write(slave, b"x" * 512)
                refused = 0
            except BlockingIOError:
                refused += 1
                time.sleep(0.05)
        p = subprocess.Popen([LMSVIEW, "COM", path, "LMS"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
        out = ""
        end = time.monotonic() + 8
        while "could not be sent" not in out and time.monotonic() < end:
            r, _, _ = select.select([p.stdout], [], [], 0.2)
            if r:
                out += os.read(p.stdout.fileno(), 65536).decode()
        try:
            self.assertIn("requestScan - the request could not be sent (the line took nothing for 1000 ms)\n", out)
            self.assertNotIn("no answer", out)
            t0 = time.monotonic()
            p.stdin.write("k")
            p.stdin.flush()
            self.assertEqual(p.wait(10), 0)
            self.assertLess(time.monotonic() - t0, 2.5)  # within the cycle's bound, not four seconds
        finally:
            if p.poll() is None:
                p.kill()
            p.wait()
            for f in (p.stdin, p.stdout, p.stderr):
                f.close()
            os.close(master)
            os.close(slave)


if __name__ == "__main__":
    LMSVIEW, LMSSIM = sys.argv[1], sys.argv[2]
    emulator.LMSSIM = LMSSIM
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
