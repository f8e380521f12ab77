# SPDX-License-Identifier: Apache-2.0
"""lmsview as scripts, shells and service managers start it, end to end:
what it does with its standard input, stops while its output takes
nothing, the files it writes, and lmssim replaying a recording cut short.

Run as: unattended_test.py LMSVIEW LMSSIM [unittest names]. Only loopback
addresses 127.0.11.x are used (one per test)."""

import fcntl
import os
import pty
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest

import emulator
from emulator import SimsPerTest

LMSVIEW = LMSSIM = None


def lmsview(*args, stdin=subprocess.DEVNULL, timeout=30):
    return subprocess.run([LMSVIEW, *args], stdin=stdin, capture_output=True, text=True, timeout=timeout)


class Input(SimsPerTest):
    """The rules for standard input: read only when it may end the run."""

    def test_each_kind_of_input(self):
        self.sim("127.0.11.1")
        link = ["IP", "127.0.11.1", "LMS"]
        # A loop's input is its own: a bounded run reads none of it.
        loop = subprocess.run(["bash", "-c", f'while read x; do "{LMSVIEW}" --count 1 --format csv {" ".join(link)}'
                               ' > /dev/null 2>&1; echo "got $x"; done'],
                              input="a\nb\n", capture_output=True, text=True, timeout=30)
        self.assertEqual(loop.stdout, "got a\ngot b\n")
        # nohup's unreadable input is not a key: the run goes on to its bound.
        unreadable = os.open("/dev/null", os.O_WRONLY)
        try:
            t0 = time.monotonic()
            p = lmsview("--seconds", "1.5", "--format", "jsonl", "--interval", "100", *link, stdin=unreadable)
            took = time.monotonic() - t0
        finally:
            os.close(unreadable)
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertGreaterEqual(took, 1.4)
        self.assertGreater(len(p.stdout.splitlines()), 3)
        # A monitor started with no input runs until a signal.
        r = subprocess.Popen([LMSVIEW, "--reconnect", "--format", "jsonl", *link], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(1.5)  # the time it keeps running with no input: the thing under test
            self.assertIsNone(r.poll())
            r.terminate()
            self.assertEqual(r.wait(5), 143)
        finally:
            if r.poll() is None:
                r.kill()
                r.wait()

    def test_a_background_job_leaves_the_terminal_alone(self):
        self.sim("127.0.11.2")
        master, slave = pty.openpty()
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "scans.csv")
            # As a shell with job control starts `lmsview ... > f &`: the terminal's
            # foreground group is another one; a stop (SIGTTOU, SIGTTIN) is reported.
            job = f"""
import fcntl, os, sys, termios
os.setsid()
fcntl.ioctl(0, termios.TIOCSCTTY, 0)
pid = os.fork()
if pid == 0:
    os.setpgid(0, 0)
    fd = os.open({out!r}, os.O_WRONLY | os.O_CREAT)
    os.dup2(fd, 1)
    os.execv({LMSVIEW!r}, ["lmsview", "--seconds", "2", "--format", "csv", "IP", "127.0.11.2", "LMS"])
_, st = os.waitpid(pid, os.WUNTRACED)
if os.WIFSTOPPED(st):
    os.kill(pid, 9)
print("stopped" if os.WIFSTOPPED(st) else "status=%d" % os.waitstatus_to_exitcode(st), flush=True)
"""
            try:
                p = subprocess.run([sys.executable, "-c", job], stdin=slave, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True, timeout=20)
            finally:
                os.close(master)
                os.close(slave)
            self.assertEqual(p.stdout.strip(), "status=0")
            with open(out) as f:
                self.assertGreaterEqual(len(f.read().splitlines()), 2)  # the header and a scan


class Stop(SimsPerTest):
    def test_a_stop_acts_while_the_output_takes_nothing(self):
        self.sim("127.0.11.3")
        r, w = os.pipe()  # nobody reads it
        p = subprocess.Popen([LMSVIEW, "--interval", "0", "IP", "127.0.11.3", "LMS"], stdin=subprocess.PIPE,
                             stdout=w, stderr=subprocess.DEVNULL)
        os.close(w)
        try:
            # The pipe is full when what it holds stops growing (a writer blocked in write).
            held, same = 0, 0
            end = time.monotonic() + 10
            while same < 10 and time.monotonic() < end:
                now = struct.unpack("i", fcntl.ioctl(r, termios.FIONREAD, b"\0\0\0\0"))[0]
                same = same + 1 if now == held and now > 16384 else 0
                held = now
                time.sleep(0.05)
            self.assertEqual(same, 10, held)
            t0 = time.monotonic()
            p.terminate()
            self.assertEqual(p.wait(8), 143)
            self.assertLess(time.monotonic() - t0, 6.5)
        finally:
            if p.poll() is None:
                p.kill()
                p.wait()
            os.close(r)
            p.stdin.close()

    def test_a_failed_first_open_is_reported_even_when_input_ends_at_once(self):
        p = lmsview("IP", "127.0.11.4", "LMS")  # nothing listens; the input is empty
        self.assertEqual(p.returncode, 1, p.stderr)
        self.assertIn("lmsview: cannot connect to 127.0.11.4 port 10002", p.stderr)
        self.assertIn("lmsview: hint:", p.stderr)


class Files(SimsPerTest):
    def test_svg_targets(self):
        self.sim("127.0.11.5")
        link = ["IP", "127.0.11.5", "LMS"]
        with tempfile.TemporaryDirectory() as d:
            fifo = os.path.join(d, "fifo")
            os.mkfifo(fifo)
            to_null = os.path.join(d, "null.svg")
            os.symlink("/dev/null", to_null)
            # Refused at start, before any link: a device, a pipe, a link to one, a folder, a missing folder.
            for target, why in ((fifo, "not a regular file"), (to_null, "not a regular file"), (d, "folder"),
                                (os.path.join(d, "no", "x.svg"), "folder does not exist")):
                p = lmsview("--svg", target, *link, timeout=5)
                self.assertEqual(p.returncode, 2, target)
                self.assertIn(why, p.stderr)
                self.assertNotIn("trying to connect", p.stderr + p.stdout)
            self.assertTrue(os.path.islink(to_null) and os.path.exists("/dev/null"))
            p = lmsview("--record", d, *link, timeout=5)
            self.assertEqual(p.returncode, 2)
            self.assertIn("it is a folder", p.stderr)
            # A FIFO with no reader (and a device) is no recording, with or without --force: refused at once.
            for args in (["--record", fifo], ["--record", fifo, "--force"], ["--record", "/dev/null", "--force"]):
                p = lmsview(*args, *link, timeout=5)
                self.assertEqual(p.returncode, 2, (args, p.stderr))
                self.assertIn("not a regular file", p.stderr)
            # A name planted beside the picture redirects nothing; a name up to the system's limit works.
            victim = os.path.join(d, "victim")
            open(victim, "w").close()
            os.symlink(victim, os.path.join(d, ".pic.svg.tmp"))
            for name in ("pic.svg", "s" * 251 + ".svg"):
                p = lmsview("--count", "2", "--interval", "100", "--svg", os.path.join(d, name), *link)
                self.assertEqual(p.returncode, 0, p.stderr)
                with open(os.path.join(d, name)) as f:
                    self.assertIn("<svg", f.read())
            self.assertEqual(os.path.getsize(victim), 0)
            self.assertEqual([n for n in os.listdir(d) if n.startswith(".lmsview")], [])
            # A picture that cannot replace its file is said once and tried again at the next scan.
            target = os.path.join(d, "live.svg")
            errors = os.path.join(d, "errors")
            with open(errors, "w") as err_file:
                v = subprocess.Popen([LMSVIEW, "--seconds", "4", "--interval", "100", "--format", "csv", "--svg",
                                      target, *link], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=err_file)
            said = lambda: open(errors).read()  # noqa: E731
            end = time.monotonic() + 10
            while not os.path.exists(target) and time.monotonic() < end:
                time.sleep(0.05)
            os.unlink(target)
            os.mkdir(target)  # rename cannot put a file there
            while "cannot replace the picture" not in said() and time.monotonic() < end:
                time.sleep(0.05)
            time.sleep(0.5)  # a few more scans fail: said once all the same
            os.rmdir(target)
            v.wait(15)
            err = said()
            self.assertEqual(v.returncode, 0, err)
            self.assertEqual(err.count("cannot replace the picture"), 1, err)
            with open(target) as f:
                self.assertIn("<svg", f.read())
            # A run in which no picture could be written at all is no success.
            self.sim("127.0.11.8", ["--silent-after", "0", "--silent-for", "3000"])  # no scan for 3 s
            never = os.path.join(d, "never.svg")
            v = subprocess.Popen([LMSVIEW, "--count", "2", "--interval", "100", "--format", "csv", "--svg", never,
                                  "IP", "127.0.11.8", "LMS"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, text=True)
            # The run has started once it asks for the key (the threads' own lines may come first).
            started = []
            while len(started) < 12 and "Press any key to continue . . .\n" not in started:
                started.append(v.stderr.readline())
            self.assertIn("Press any key to continue . . .\n", started)
            os.mkdir(never)  # checked at the start, taken before the first picture
            err = v.communicate(timeout=30)[1]
            self.assertEqual(v.returncode, 1, err)
            self.assertIn("lmsview: --svg " + never + ": no picture could be written (", err)
            os.rmdir(never)

    def test_a_recording_that_stops_early_ends_the_run_with_1(self):
        """A recording whose file cannot grow (here a file size limit) stops,
        is said once, and the run ends with 1 and a line naming it."""
        import resource
        self.sim("127.0.11.7")

        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (20000, 20000))

        with tempfile.TemporaryDirectory() as d:
            for name in ("scans.jsonl", "scans.mcap"):
                rec = os.path.join(d, name)
                p = subprocess.run([LMSVIEW, "--count", "12", "--interval", "50", "--format", "csv", "--record", rec,
                                    "IP", "127.0.11.7", "LMS"], stdin=subprocess.DEVNULL, capture_output=True,
                                   text=True, timeout=30, preexec_fn=small_files, restore_signals=False)
                self.assertEqual(p.returncode, 1, p.stderr)
                self.assertEqual(p.stderr.count("stopped: File too large"), 1, p.stderr)
                self.assertRegex(p.stderr.splitlines()[-1], r"^lmsview: --record .* stopped early: it holds \d+ scans$")
                self.assertEqual(len(p.stdout.splitlines()), 13)  # the run went on: header and every scan

    def test_a_recording_cut_short_replays(self):
        with tempfile.TemporaryDirectory() as d:
            rec = os.path.join(d, "cut.jsonl")
            words = ",".join(["1000"] * 361)
            line = ('{"seq":0,"stamp":{"sec":1,"nanosec":0},"frame_id":"laser","ranges":[],"intensities":[],'
                    f'"words":[{words}]}}\n')
            with open(rec, "w") as f:
                f.write(line + line + line[:200])  # a run killed in the middle of a line
            s = subprocess.run([LMSSIM, "--replay", rec, "--max-seconds", "0.5", "--address", "127.0.11.6"],
                               capture_output=True, text=True, timeout=10)
            self.assertEqual(s.returncode, 0, s.stderr)
            self.assertIn(":3: left out: a recorded line cut short", s.stderr)
            self.assertNotIn("lmsview --record", s.stderr)
            # A folder, and a file of many tiny lines, are refused with the reason.
            for path, text, why in ((d, None, "is a folder"), (os.path.join(d, "many"), "1\n" * 70000,
                                                               "holds more than 65536 scans")):
                if text:
                    with open(path, "w") as f:
                        f.write(text)
                s = subprocess.run([LMSSIM, "--replay", path], capture_output=True, text=True, timeout=10)
                self.assertEqual(s.returncode, 2)
                self.assertIn(why, s.stderr)


class Messages(unittest.TestCase):
    def test_text_for_an_output_that_takes_nothing(self):
        for args in (["--help"], ["--version"], ["--list-ports"]):
            with open("/dev/full", "w") as full:
                p = subprocess.run([LMSVIEW, *args], stdout=full, stderr=subprocess.PIPE, text=True, timeout=5)
            self.assertEqual(p.returncode, 1, args)
            self.assertIn("cannot write to standard output", p.stderr)
            r, w = os.pipe()
            os.close(r)
            p = subprocess.run([LMSVIEW, *args], stdout=w, stderr=subprocess.PIPE, text=True, timeout=5)
            os.close(w)
            self.assertEqual(p.returncode, 141, args)

    def test_user_text_in_error_lines_is_printable(self):
        p = lmsview("--seconds", "1", "IP", "127.0.11.9\x1b[2J", "LMS", timeout=10)
        self.assertEqual(p.returncode, 1)
        self.assertNotIn("\x1b", p.stderr + p.stdout)
        self.assertIn("127.0.11.9\\x1B[2J", p.stderr)


if __name__ == "__main__":
    LMSVIEW, LMSSIM = sys.argv[1], sys.argv[2]
    emulator.LMSSIM = LMSSIM
    unittest.main(argv=[sys.argv[0], *sys.argv[3:]], verbosity=2)
