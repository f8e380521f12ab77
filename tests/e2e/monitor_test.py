# SPDX-License-Identifier: Apache-2.0
"""lmsview as a monitor that keeps running, end to end: --reconnect over TCP
and over a serial path, --baud auto and --baud checks, --list-ports, and the
hint after each common failure.

Run as: monitor_test.py LMSVIEW LMSSIM [unittest names]. Only loopback
addresses 127.0.8.x are used (one per test)."""

import json
import os
import pty
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import emulator

LMSVIEW = LMSSIM = None


def start_sim(*args, serial=False):
    p, where = emulator.launch(["--max-seconds", "60", *args, *(["--serial"] if serial else [])])
    return p, where if serial else None


stop = emulator.stop


def view(*args):
    return emulator.Program([LMSVIEW, *args])


def second_connect_then_key(r, scans):
    """Waits for the link to come back and `scans` more scans, presses a key; the status."""
    if not r.wait_until(lambda: r.err().count("connected to LMS") >= 2, 15):
        return None
    r.wait_lines(r.out().count("\n") + scans, 10)
    r.key()
    return r.returncode if r.wait(10) else None


class Reconnect(unittest.TestCase):
    def test_tcp_scanner_restarted_on_the_same_address(self):
        sim, _ = start_sim("--address", "127.0.8.1")
        r = view("--reconnect", "--format", "jsonl", "--interval", "200", "IP", "127.0.8.1",
                   "LMS")
        try:
            self.assertTrue(r.wait_lines(3, 10))
            stop(sim)
            self.assertTrue(r.wait_for("reconnecting to 127.0.8.1 port 10002 in", 5, err=True), r.err())
            sim, _ = start_sim("--address", "127.0.8.1", "--seed", "9")
            self.assertEqual(second_connect_then_key(r, 3), 0, r.err())
        finally:
            stop(sim)
            r.stop()
        seqs = [json.loads(line)["seq"] for line in r.out().splitlines()]
        self.assertEqual(seqs, list(range(len(seqs))))  # sequence numbers kept counting
        self.assertGreaterEqual(len(seqs), 6)
        self.assertIn("run - connection to LMS lost: the scanner closed the connection", r.err())

    def test_serial_device_that_comes_back_on_its_path(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "scanner")
            sim, device = start_sim(serial=True)
            os.symlink(device, path)
            r = view("--reconnect", "--format", "jsonl", "COM", path, "LMS")
            try:
                self.assertTrue(r.wait_for("connected to LMS", 5, err=True))
                self.assertTrue(r.wait_lines(1, 10))
                stop(sim)  # the device goes away
                self.assertTrue(r.wait_for("reconnecting to " + path, 8, err=True), r.err())
                sim, device = start_sim(serial=True)  # and comes back, on another pty behind the same path
                os.unlink(path)
                os.symlink(device, path)
                self.assertEqual(second_connect_then_key(r, 2), 0, r.err())
            finally:
                stop(sim)
                r.stop()
        seqs = [json.loads(line)["seq"] for line in r.out().splitlines()]
        self.assertEqual(seqs, list(range(len(seqs))))
        self.assertGreaterEqual(len(seqs), 2)

    def test_the_rate_found_is_kept_after_a_reconnect(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "scanner")
            sim, device = start_sim("--baud", "19200", serial=True)
            os.symlink(device, path)
            r = view("--reconnect", "--baud", "auto", "--format", "jsonl", "--interval", "200",
                       "COM", path, "LMS")
            try:
                self.assertTrue(r.wait_for("the scanner answered at 19200 baud", 8, err=True), r.err())
                stop(sim)
                self.assertTrue(r.wait_for("reconnecting to " + path, 8, err=True), r.err())
                sim, device = start_sim("--baud", "19200", serial=True)
                os.unlink(path)
                os.symlink(device, path)
                shown = r.out().count("\n")
                self.assertEqual(second_connect_then_key(r, 4), 0, r.err())
            finally:
                stop(sim)
                r.stop()
        self.assertGreaterEqual(r.out().count("\n"), shown + 4)  # scans again, at the rate found
        self.assertEqual(r.err().count("answered at 19200"), 1)  # kept, not looked for again

    def test_a_key_during_the_back_off_ends_the_run_at_once(self):
        r = view("--reconnect", "IP", "127.0.8.3", "LMS")  # nobody listens there
        try:
            self.assertTrue(r.wait_for("in 2 s (attempt 4)", 10, err=True), r.err())
            time.sleep(0.2)  # well inside the two seconds
            t0 = time.monotonic()
            r.key()
            self.assertTrue(r.wait(10))
            self.assertEqual(r.returncode, 0)
            took = time.monotonic() - t0
        finally:
            r.stop()
        self.assertLess(took, 0.3)  # the run ends within about 100 ms; the rest is the process starting up and going


class Rate(unittest.TestCase):
    def test_auto_finds_a_scanner_at_38400(self):
        sim, device = start_sim("--baud", "38400", serial=True)
        try:
            p = subprocess.run([LMSVIEW, "--baud", "auto", "--count", "2", "--format", "jsonl", "COM", device, "LMS"],
                               stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30)
        finally:
            stop(sim)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn("lmsview: the scanner answered at 38400 baud\n", p.stderr)
        self.assertEqual(len(p.stdout.splitlines()), 2)

    def test_scanner_baud_moves_the_scanner_and_back_at_every_ending(self):
        for ending, extra in (("count", ["--count", "6"]), ("sigterm", ["--seconds", "30"]),
                              ("keep", ["--count", "3", "--keep-scanner-baud"]), ("refused", ["--count", "2"])):
            scan_log = tempfile.NamedTemporaryFile(prefix="scanlog", delete=False)
            scan_log.close()
            sim_args = ["-v", "--scan-log", scan_log.name] + (["--refuse-rate"] if ending == "refused" else [])
            sim, device = start_sim(*sim_args, serial=True)
            try:
                v = subprocess.Popen([LMSVIEW, "--scanner-baud", "38400", "--interval", "0", "--format", "jsonl",
                                      *extra, "COM", device, "LMS"], stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                if ending == "sigterm":
                    first = v.stdout.readline()  # a scan at the new rate, then the signal
                    self.assertTrue(first.startswith('{"seq":0,'), first)
                    v.terminate()
                out, err = v.communicate(timeout=30)
            finally:
                sim.terminate()
                log, _ = sim.communicate(timeout=10)
                stop(sim)
                with open(scan_log.name) as f:
                    sent = [[int(w) & 0x1FFF for w in line.split()[2:]] for line in f]
                os.unlink(scan_log.name)
            self.assertEqual(v.returncode, 143 if ending == "sigterm" else 0, (ending, err))
            # The scans shown, at either rate, are scans sent, in order (the display shows the newest).
            sent_ranges = [[w / 1000 for w in words] for words in sent]
            at = 0
            for line in out.splitlines():
                ranges = json.loads(line)["ranges"]
                while at < len(sent_ranges) and sent_ranges[at] != ranges:
                    at += 1
                self.assertLess(at, len(sent_ranges), ending)
            moves = [line.split("line now at ")[1] for line in log.splitlines() if "line now at" in line]
            if ending == "refused":
                self.assertEqual(moves, [])
                self.assertIn("the scanner did not switch to 38400 baud (refused): going on at 9600 baud", err)
                self.assertEqual(len(out.splitlines()), 2)  # polling goes on at 9600
                continue
            self.assertIn("lmsview: scanner switched to 38400 baud\n", err)
            back = ending != "keep"
            self.assertEqual(moves, ["38400 baud", "9600 baud"] if back else ["38400 baud"], ending)
            self.assertEqual("lmsview: scanner switched back to 9600 baud\n" in err, back)

    def test_a_rate_the_scanner_does_not_know_is_a_usage_error(self):
        for args in (["--baud", "12345", "COM", "/dev/null", "LMS"], ["--baud", "9600", "IP", "127.0.8.4", "LMS"],
                     ["--scanner-baud", "38400", "IP", "127.0.8.4", "LMS"],
                     ["--scanner-baud", "57600", "COM", "/dev/null", "LMS"],
                     ["--keep-scanner-baud", "COM", "/dev/null", "LMS"]):
            p = subprocess.run([LMSVIEW, *args], stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=5)
            self.assertEqual(p.returncode, 2, args)
            self.assertEqual(len(p.stderr.splitlines()), 1)
            self.assertEqual(p.stdout, "")


class ListPorts(unittest.TestCase):
    def test_lists_what_is_here_and_opens_nothing(self):
        p = subprocess.run([LMSVIEW, "--list-ports"], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           timeout=10)
        self.assertEqual(p.returncode, 0)
        lines = p.stdout.splitlines()
        self.assertGreaterEqual(len(lines), 1)
        for line in lines:
            if line == "no serial device found":
                continue
            path = line.split()[0]
            self.assertTrue(os.path.exists(path), line)  # every device named is there


class Hints(unittest.TestCase):
    def run_view(self, *args, user=None):
        # A bound, so the empty standard input does not end the run before the link fails.
        cmd = [LMSVIEW, "--seconds", "15", *args]
        if user:
            cmd = ["setpriv", "--reuid=" + user, "--regid=nogroup", "--clear-groups", *cmd]
        return subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=20)

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"), "needs root and setpriv to act as nobody")
    def test_permission_denied_names_the_group_and_the_command(self):
        master, slave = pty.openpty()
        try:
            device = os.ttyname(slave)
            os.chmod(device, 0o660)
            p = self.run_view("COM", device, "LMS", user="nobody")
        finally:
            os.close(master)
            os.close(slave)
        self.assertEqual(p.returncode, 1, p.stderr)
        self.assertIn("Permission denied", p.stderr)
        self.assertRegex(p.stderr, r"lmsview: hint: /dev/pts/\d+ belongs to group \w+: add yourself with "
                                   r"`sudo usermod -aG \w+ \$USER`, then log out and in again\n")

    def test_a_device_in_use_names_who_holds_it(self):
        sim, device = start_sim(serial=True)
        first = view("COM", device, "LMS")
        try:
            self.assertTrue(first.wait_for("connected to LMS", 5))  # it has the device
            p = self.run_view("COM", device, "LMS")
        finally:
            first.key()
            first.wait(10)
            first.stop()
            stop(sim)
        self.assertEqual(p.returncode, 1)
        self.assertIn("in use by another program", p.stderr)
        self.assertIn(f"lmsview (pid {first.proc.pid})", p.stderr)
        self.assertIn("close it, or end it", p.stderr)

    def test_a_missing_device_lists_the_ones_here(self):
        p = self.run_view("COM", "/dev/ttyNOSUCHDEVICE", "LMS")
        self.assertEqual(p.returncode, 1)
        self.assertRegex(p.stderr, r"lmsview: hint: (serial devices here: .*|there is no serial device here.*)\n")

    def test_a_refused_connection_says_what_to_check(self):
        p = self.run_view("IP", "127.0.8.5", "LMS")
        self.assertEqual(p.returncode, 1)
        self.assertIn("lmsview: hint: nothing listens on port 10002 at that address", p.stderr)

    def test_a_silent_line_suggests_another_rate(self):
        sim, device = start_sim("--silent-after", "0", serial=True)
        try:
            p = subprocess.run([LMSVIEW, "--seconds", "2.5", "COM", device, "LMS"], stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=20)
        finally:
            stop(sim)
        self.assertEqual(p.returncode, 0)
        self.assertIn("requestScan - no answer from LMS", p.stdout)
        self.assertEqual(p.stderr.count("lmsview: hint: the scanner may be set to another rate: try --baud auto\n"), 1)
        # After --baud auto tried every rate, another rate is not the advice.
        sim, device = start_sim("--silent-after", "0", serial=True)
        try:
            p = subprocess.run([LMSVIEW, "--seconds", "4", "--baud", "auto", "COM", device, "LMS"],
                               stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=20)
        finally:
            stop(sim)
        self.assertNotIn("try --baud auto", p.stderr)
        self.assertIn("lmsview: hint: no rate gets an answer", p.stderr)


if __name__ == "__main__":
    LMSVIEW, LMSSIM = sys.argv[1], sys.argv[2]
    emulator.LMSSIM = LMSSIM
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
