# SPDX-License-Identifier: Apache-2.0
"""lmsview.exe under Wine against the Linux lmssim, end to end: over loopback
TCP and over COM ports that the Wine prefix maps to the emulator's
pseudo-terminal. Scans shown are the scans sent; a key, the end of input and
Ctrl-C end the run; a refused or lost link ends it with 1 and bad arguments
with 2; piped output holds no carriage return; the requests on the wire are
the Linux build's, byte for byte.

Run as: lmsview_exe_test.py LMSVIEW_EXE LMSSIM LMSVIEW PORTS_DIR [unittest names]
(LMSVIEW is the Linux build, for the wire comparison). Only loopback
addresses 127.0.10.x are used, one per test, and COM7, COM8, COM27, COM28 and COM29."""

import fcntl
import json
import os
import pty
import select
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import emulator  # noqa: E402  (the shared emulator helper, beside the Linux end-to-end tests)
from emulator import SimsPerTest  # noqa: E402

LMSVIEW_EXE = LMSSIM = LMSVIEW = PORTS = None
MASK = 0x1FFF


def wine(*args):
    return ["wine", LMSVIEW_EXE, *args]


def map_com(number, device):
    """Points COM`number` of the prefix at `device`."""
    link = os.path.join(PORTS, "com%d" % number)
    tmp = link + ".new"
    if os.path.lexists(tmp):
        os.unlink(tmp)
    os.symlink(device, tmp)
    os.replace(tmp, link)


tables = emulator.tables


def read_until(fd, out, done, seconds):
    """Reads the pty master into `out` until done(out) or the time is up."""
    deadline = time.monotonic() + seconds
    while not done(out) and time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.2)
        if ready:
            try:
                out += os.read(fd, 65536)
            except OSError:
                break
    return out


class WindowsBuild(SimsPerTest):
    def run_exe(self, *args, timeout=60):
        return subprocess.run(wine(*args), stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)

    def assert_scans_sent(self, shown, sim):
        sent = [words for (_, fate, words) in sim.sent() if fate == "sent"]
        self.assertGreaterEqual(len(sent), len(shown))
        for ranges, words in zip(shown, sent):
            self.assertEqual(len(ranges), 361)
            for r, w in zip(ranges, words):
                self.assertAlmostEqual(r, (w & MASK) / 10, delta=0.006)

    def test_tcp_tables_are_the_scans_sent_and_piped_output_has_no_cr(self):
        sim = self.sim("127.0.10.1")
        p = self.run_exe("--count", "2", "--interval", "300", "IP", "127.0.10.1", "LMS")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertNotIn(b"\r", p.stdout)
        self.assertNotIn(b"\r", p.stderr)
        self.assertTrue(p.stdout.startswith(b"Comunicacion IP: 127.0.10.1 Tipo de laser LMS\n\n"))
        shown = tables(p.stdout)
        self.assertEqual(len(shown), 2)
        self.assert_scans_sent(shown, sim)

    def test_a_robot_of_two_emulators_as_tables_and_json_lines(self):
        """--config with two emulators: each table and line says whose it is,
        and what each sent is what is shown."""
        sims = {"front": self.sim("127.0.10.20"), "rear": self.sim("127.0.10.21", ["--seed", "3"])}
        with tempfile.TemporaryDirectory() as d:
            toml = os.path.join(d, "robot.toml")
            with open(toml, "w") as f:
                f.write('[scanner.front]\nlink = "tcp://127.0.10.20"\ninterval = 200\n'
                        '[scanner.rear]\nlink = "tcp://127.0.10.21"\ninterval = 200\n'
                        'pose = { x = -0.3, y = 0, yaw_deg = 180 }\n')
            table = self.run_exe("--config", toml, "--count", "4")
            lines = self.run_exe("--config", toml, "--count", "4", "--format", "jsonl")
        for p in (table, lines):
            self.assertEqual(p.returncode, 0, p.stderr)
            self.assertNotIn(b"\r", p.stdout)
        self.assertEqual(table.stdout.count(b"[front_laser]\n") + table.stdout.count(b"[rear_laser]\n"), 4)
        scans = [json.loads(line) for line in lines.stdout.splitlines()]
        self.assertEqual({s["frame_id"] for s in scans}, {"front_laser", "rear_laser"})
        for name, sim in sims.items():
            mine = [s["ranges"] for s in scans if s["frame_id"] == name + "_laser"]
            sent = {tuple(w & MASK for w in words) for (_, fate, words) in sim.sent() if fate == "sent"}
            self.assertTrue(mine)
            for ranges in mine:  # each one a scan this emulator sent, in millimetres
                self.assertIn(tuple(round(r * 1000) for r in ranges), sent)

    def test_jsonl_over_com_7_mapped_to_the_emulators_line(self):
        sim = self.sim()
        map_com(7, sim.device)
        p = self.run_exe("--count", "2", "--format", "jsonl", "COM", "7", "LMS")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn(b"Serial Conection ( Port: COM7 , Baud : 9600 )is open", p.stderr)
        lines = p.stdout.split(b"\n")
        self.assertEqual(lines[-1], b"")
        scans = [json.loads(line) for line in lines[:-1]]
        self.assertEqual([s["seq"] for s in scans], [0, 1])
        self.assert_scans_sent([[r * 100 for r in s["ranges"]] for s in scans], sim)
        # Windows names devices in any case: so does the library.
        for name in ("serial://com7", "serial://Com7"):
            p = subprocess.run(["wine", os.environ["LMSVIEW_NEAREST_C"], name, "1"], stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=60)
            self.assertEqual(p.returncode, 0, (name, p.stderr))

    def test_a_device_path_names_a_port_above_10(self):
        sim = self.sim()
        map_com(27, sim.device)
        p = self.run_exe("--count", "1", "--format", "csv", "COM", "\\\\.\\COM27", "LMS")
        self.assertEqual(p.returncode, 0, p.stderr)
        self.assertIn(b"Comunicacion serial: \\\\.\\COM27 Tipo de laser LMS", p.stderr)
        self.assertNotIn(b"\r", p.stdout)
        self.assertEqual(len(p.stdout.split(b"\n")), 3)  # header, one scan, end

    def test_a_byte_or_the_end_of_a_piped_input_ends_the_run_with_0(self):
        self.sim("127.0.10.2")
        for ending in (b"k", b""):
            proc = subprocess.Popen(wine("IP", "127.0.10.2", "LMS"), stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            out = b""
            deadline = time.monotonic() + 20
            while b"360 180.00" not in out and time.monotonic() < deadline:
                chunk = proc.stdout.read1(65536)
                if not chunk:
                    break
                out += chunk
            self.assertIn(b"360 180.00", out)
            if ending:
                proc.stdin.write(ending)
            proc.stdin.close()
            t0 = time.monotonic()
            self.assertEqual(proc.wait(10), 0, ending)
            self.assertLess(time.monotonic() - t0, 3)
            proc.stdout.close()

    def test_sigint_ends_a_piped_run_with_130(self):
        self.sim("127.0.10.3")
        for _ in range(3):
            proc = subprocess.Popen(wine("--format", "jsonl", "IP", "127.0.10.3", "LMS"), stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            self.assertTrue(proc.stdout.readline().startswith(b'{"seq":0,'))
            proc.send_signal(signal.SIGINT)
            self.assertEqual(proc.wait(10), 130)
            proc.stdin.close()
            proc.stdout.close()

    def test_on_a_console_a_key_ends_with_0_and_ctrl_c_with_130(self):
        self.sim("127.0.10.4")

        def own_terminal():
            # The pty is the controlling terminal, as a shell's window would be.
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        for key, status in ((b"q", 0), (b"\x03", 130)):
            master, slave = pty.openpty()
            proc = subprocess.Popen(wine("IP", "127.0.10.4", "LMS"), stdin=slave, stdout=slave, stderr=slave,
                                    preexec_fn=own_terminal)
            os.close(slave)
            try:
                out = read_until(master, b"", lambda o: b"360 180.00" in o, 20)
                self.assertIn(b"360 180.00", out)
                os.write(master, key)
                deadline = time.monotonic() + 10
                while proc.poll() is None and time.monotonic() < deadline:
                    read_until(master, b"", lambda o: False, 0.2)
                self.assertEqual(proc.poll(), status, key)
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait(5)
                os.close(master)

    def test_a_refused_connection_ends_with_1_and_one_clear_line(self):
        p = self.run_exe("--seconds", "30", "IP", "127.0.10.5", "LMS")  # nobody listens there
        self.assertEqual(p.returncode, 1)
        self.assertIn(b"lmsview: cannot connect to 127.0.10.5 port 10002: Connection refused\n", p.stderr)
        self.assertIn(b"lmsview: hint: nothing listens on port 10002", p.stderr)

    def test_a_missing_com_port_ends_with_1_and_names_the_ports_there(self):
        p = self.run_exe("--seconds", "30", "COM", "\\\\.\\COM99", "LMS")
        self.assertEqual(p.returncode, 1, p.stderr)
        self.assertIn(b"lmsview: cannot open serial port \\\\.\\COM99: No such file or directory\n", p.stderr)
        self.assertIn(b"lmsview: hint: serial devices here: ", p.stderr)
        self.assertIn(b"\\\\.\\COM7", p.stderr)

    def test_a_lost_link_ends_with_1(self):
        self.sim("127.0.10.6", ["--close-after", "2"])
        p = self.run_exe("--seconds", "30", "IP", "127.0.10.6", "LMS")
        self.assertEqual(p.returncode, 1, p.stderr)
        self.assertIn(b"the scanner closed the connection", p.stderr)
        self.assertEqual(len(tables(p.stdout)), 2)

        sim = self.sim()
        map_com(28, sim.device)
        proc = subprocess.Popen(wine("--seconds", "30", "--format", "jsonl", "COM", "\\\\.\\COM28", "LMS"),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertTrue(proc.stdout.readline().startswith(b'{"seq":0,'))
        sim.proc.kill()  # the line goes away
        t0 = time.monotonic()
        self.assertEqual(proc.wait(15), 1)
        self.assertLess(time.monotonic() - t0, 8)
        err = proc.stderr.read()
        self.assertIn(b"lmsview: connection to the scanner lost: serial device \\\\.\\COM28 is gone\n", err)
        proc.stdout.close()
        proc.stderr.close()

    def test_reconnect_carries_on_when_the_line_comes_back(self):
        first = self.sim()
        map_com(29, first.device)
        proc = subprocess.Popen(wine("--reconnect", "--seconds", "40", "--format", "jsonl", "COM", "\\\\.\\COM29",
                                     "LMS"), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        try:
            self.assertTrue(proc.stdout.readline().startswith(b'{"seq":0,'))
            first.proc.kill()  # the line goes away ...
            time.sleep(1.5)  # ... for a while (the outage is the thing under test) ...
            second = self.sim()  # ... and comes back, behind the same COM port
            map_com(29, second.device)
            seqs = []
            deadline = time.monotonic() + 20
            while len(seqs) < 2 and time.monotonic() < deadline:
                line = proc.stdout.readline()
                if not line:
                    break
                seqs.append(json.loads(line)["seq"])
            self.assertEqual(len(seqs), 2)
            self.assertGreaterEqual(seqs[0], 1)  # numbering goes on
            self.assertGreater(len(second.sent()), 0)
        finally:
            proc.kill()
            proc.wait(5)
            err = proc.stderr.read()
            proc.stdout.close()
            proc.stderr.close()
        self.assertIn(b"lmsview: reconnecting to", err)

    def test_bad_arguments_end_with_2_before_any_link(self):
        with socket.socket() as listener:
            listener.bind(("127.0.10.7", 10002))
            listener.listen(4)
            listener.setblocking(False)
            for args in (["TCP", "127.0.10.7", "LMS"], ["--colour", "IP", "127.0.10.7", "LMS"],
                         ["--baud", "9600", "IP", "127.0.10.7", "LMS"], ["COM", "11", "LMS"],
                         ["--svg", "IP", "127.0.10.7", "LMS"], ["-c", "1", "IP", "127.0.10.7", "LMS"]):
                p = self.run_exe(*args)
                self.assertEqual(p.returncode, 2, args)
                self.assertEqual(p.stderr.count(b"\n"), 1, p.stderr)
            # A Windows user's ways of asking for help print it.
            for word in ("/?", "-?", "/h"):
                p = self.run_exe(word)
                self.assertEqual(p.returncode, 0, word)
                self.assertIn(b"usage: lmsview", p.stdout)
            with self.assertRaises(BlockingIOError):
                listener.accept()  # no connection was ever made

    def test_files_under_non_ascii_names_and_a_closed_pipe(self):
        self.sim("127.0.10.9")
        with tempfile.TemporaryDirectory() as d:
            folder = os.path.join(d, "Jos\u00e9")
            os.mkdir(folder)
            target = os.path.join(folder, "sc\u00e4n.svg")
            windows_path = subprocess.run(["winepath", "-w", target], capture_output=True, text=True,
                                          timeout=30).stdout.strip()
            p = self.run_exe("--count", "2", "--interval", "200", "--svg", windows_path, "IP", "127.0.10.9", "LMS")
            self.assertEqual(p.returncode, 0, p.stderr)
            self.assertEqual(os.listdir(folder), ["sc\u00e4n.svg"])  # and no temporary file left
            # The Windows build writes MCAP recordings too: the Linux emulator replays one.
            record = os.path.join(folder, "r\u00e9c.mcap")
            p = self.run_exe("--count", "2", "--interval", "200", "--format", "csv", "--record",
                             subprocess.run(["winepath", "-w", record], capture_output=True, text=True,
                                            timeout=30).stdout.strip(), "IP", "127.0.10.9", "LMS")
            self.assertEqual(p.returncode, 0, p.stderr)
            replay = subprocess.run([LMSSIM, "--replay", record, "--max-seconds", "0.2", "--address", "127.0.10.10"],
                                    capture_output=True, text=True, timeout=30)
            self.assertEqual(replay.returncode, 0, replay.stderr)
            self.assertEqual(replay.stderr, "")  # whole, with its summary: nothing cut short
            # lmsview.dll opens a recording under a UTF-8 name that is not plain ASCII, whatever the
            # program's code page: a C program reads its scans through the DLL.
            p = subprocess.run(["wine", os.environ["LMSVIEW_NEAREST_UTF8"], "file:" + subprocess.run(
                ["winepath", "-w", record], capture_output=True, text=True, timeout=30).stdout.strip(), "2"],
                stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
            self.assertEqual(p.returncode, 0, p.stderr)
            self.assertEqual(p.stdout.replace(b"\r", b"").decode().count("nearest"), 2, p.stdout)
            # A message names a file as its user wrote it, in any script.
            missing = subprocess.run(["winepath", "-w", os.path.join(folder, "n\u00e4", "x.jsonl")],
                                     capture_output=True, text=True, timeout=30).stdout.strip()
            p = self.run_exe("--record", missing, "IP", "127.0.10.9", "LMS")
            self.assertEqual(p.returncode, 2, p.stderr)
            self.assertIn("Jos\u00e9\\n\u00e4\\x.jsonl".encode(), p.stderr)
            # A folder with the read-only attribute (as Explorer leaves its
            # customised ones) takes a picture: only a real refusal counts.
            # Wine shows a folder without write permission as read-only, and
            # root may write there all the same.
            if os.geteuid() == 0:
                shown = os.path.join(d, "Shown")
                os.mkdir(shown, 0o555)
                windows_shown = subprocess.run(["winepath", "-w", shown], capture_output=True, text=True,
                                               timeout=30).stdout.strip()
                p = self.run_exe("--count", "1", "--svg", windows_shown + "\\pic.svg", "IP", "127.0.10.9", "LMS")
                self.assertEqual(p.returncode, 0, p.stderr)
                self.assertTrue(os.path.exists(os.path.join(shown, "pic.svg")))
            # A path past the classic 260 characters.
            parts = ["a-folder-of-forty-characters-is-long-enough"] * 8
            deep = os.path.join(folder, *parts)
            os.makedirs(deep)
            windows_folder = subprocess.run(["winepath", "-w", folder], capture_output=True, text=True,
                                            timeout=30).stdout.strip()
            long_path = "\\".join([windows_folder, *parts, "scans.jsonl"])
            self.assertGreater(len(long_path), 300)
            p = self.run_exe("--count", "1", "--record", long_path, "IP", "127.0.10.9", "LMS")
            self.assertEqual(p.returncode, 0, p.stderr)
            self.assertTrue(os.path.getsize(os.path.join(deep, "scans.jsonl")) > 0)
            # Devices by their reserved names, in any folder and with any extension, are refused at the start.
            for name in ("CON.mcap", "aux", "com3.jsonl", "nul.svg", "CONOUT$", "conin$.svg"):
                target = subprocess.run(["winepath", "-w", os.path.join(folder, name)], capture_output=True,
                                        text=True, timeout=30).stdout.strip()
                option = "--svg" if name.endswith(".svg") else "--record"
                p = self.run_exe(option, target, "--force", "IP", "127.0.10.9", "LMS")
                self.assertEqual(p.returncode, 2, (name, p.stderr))
                self.assertIn(b"not a regular file", p.stderr)
        # A pipe whose reader has gone ends the run as on Linux (an emulator
        # of its own: the first may have reached its time limit).
        self.sim("127.0.10.13")
        r, w = os.pipe()
        os.close(r)
        proc = subprocess.run(wine("--count", "3", "--format", "csv", "IP", "127.0.10.13", "LMS"),
                              stdin=subprocess.PIPE, stdout=w, stderr=subprocess.DEVNULL, timeout=60)
        os.close(w)
        self.assertEqual(proc.returncode, 141)

    def test_a_c_program_reads_scans_through_lmsview_dll(self):
        self.sim("127.0.10.11")
        p = subprocess.run(["wine", os.environ["LMSVIEW_NEAREST_C"], "tcp://127.0.10.11", "2"],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        self.assertEqual(p.returncode, 0, p.stderr)
        lines = p.stdout.replace(b"\r", b"").decode().splitlines()
        self.assertEqual([line.split(":")[0] for line in lines], ["scan 0", "scan 1"])
        self.assertIn("nearest", lines[1])

    def test_serve_gives_the_page_and_the_scans_over_winsock(self):
        self.sim("127.0.10.12")
        proc = subprocess.Popen(wine("--serve", "127.0.10.12:8765", "--seconds", "20", "--interval", "200",
                                     "--format", "csv", "IP", "127.0.10.12", "LMS"),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            deadline = time.monotonic() + 15
            while True:  # Wine starts slowly: the port is there once the program runs
                try:
                    s = socket.create_connection(("127.0.10.12", 8765), timeout=5)
                    break
                except OSError:
                    self.assertLess(time.monotonic(), deadline, "lmsview.exe never listened")
                    time.sleep(0.2)
            s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.10.12:8765\r\n\r\n")
            page = b""
            while chunk := s.recv(65536):
                page += chunk
            s.close()
            self.assertTrue(page.startswith(b"HTTP/1.1 200 OK"))
            self.assertIn(b"<canvas", page)
            s = socket.create_connection(("127.0.10.12", 8765), timeout=10)
            s.sendall(b"GET / HTTP/1.1\r\nHost: localhost\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      b"Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                      b"Sec-WebSocket-Protocol: foxglove.websocket.v1\r\n\r\n")
            subscribe = b'{"op":"subscribe","subscriptions":[{"id":3,"channelId":1}]}'
            s.sendall(bytes([0x81, 0x80 | len(subscribe), 0, 0, 0, 0]) + subscribe)  # a zero mask
            got = b""
            while b'"ranges":[' not in got and len(got) < 1 << 20:  # a scan's message frame
                chunk = s.recv(65536)
                if not chunk:
                    break
                got += chunk
            s.close()
            self.assertIn(b"s3pPLMBiTxaQ9kYGzzhZRbK+xOo=", got)
            self.assertIn(b'"op":"advertise"', got)
            self.assertIn(b'"ranges":[', got)
        finally:
            proc.terminate()
            proc.communicate(timeout=30)

    def test_list_ports_names_the_mapped_ports_in_order(self):
        p = self.run_exe("--list-ports")
        self.assertEqual(p.returncode, 0, p.stderr)
        paths = [line.split()[0] for line in p.stdout.decode().splitlines()]
        self.assertIn("\\\\.\\COM7", paths)
        self.assertLess(paths.index("\\\\.\\COM7"), paths.index("\\\\.\\COM21"))

    def test_the_requests_on_the_wire_are_the_linux_builds(self):
        def first_bytes(command):
            with socket.socket() as listener:
                listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                listener.bind(("127.0.10.8", 10002))
                listener.listen(1)
                listener.settimeout(20)
                proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
                conn, _ = listener.accept()
                conn.settimeout(0.5)
                got = b""
                deadline = time.monotonic() + 3
                while time.monotonic() < deadline and len(got) < 64:
                    try:
                        chunk = conn.recv(4096)
                    except socket.timeout:
                        continue
                    if not chunk:
                        break
                    got += chunk
                conn.close()
                proc.stdin.close()
                proc.wait(15)
                return got

        def first_serial_bytes(command):
            master, slave = os.openpty()
            tty_path = os.ttyname(slave)
            map_com(8, tty_path)
            proc = subprocess.Popen([c.replace("@", tty_path) for c in command], stdin=subprocess.PIPE,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            got = read_until(master, b"", lambda o: len(o) >= 4 and len(o) >= 6 + (o[2] | o[3] << 8), 5)
            proc.stdin.close()
            proc.wait(15)
            os.close(slave)
            os.close(master)
            return got

        def first_telegram(data):
            self.assertGreaterEqual(len(data), 8)
            return data[:4 + (data[2] | data[3] << 8) + 2]  # header, data, checksum

        linux = first_bytes([LMSVIEW, "IP", "127.0.10.8", "LMS"])
        windows = first_bytes(wine("IP", "127.0.10.8", "LMS"))
        self.assertEqual(first_telegram(windows), first_telegram(linux))
        linux = first_serial_bytes([LMSVIEW, "COM", "@", "LMS"])
        windows = first_serial_bytes(wine("COM", "8", "LMS"))
        self.assertEqual(first_telegram(windows), first_telegram(linux))

if __name__ == "__main__":
    LMSVIEW_EXE, LMSSIM, LMSVIEW, PORTS = sys.argv[1:5]
    emulator.LMSSIM = LMSSIM
    unittest.main(argv=[sys.argv[0], *sys.argv[5:]], verbosity=2)
