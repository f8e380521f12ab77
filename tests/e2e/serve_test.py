# SPDX-License-Identifier: Apache-2.0
"""lmsview --serve end to end: the page in headless Chromium, the protocol's
own client library, hostile clients, and refusals before any link.

Run as: serve_test.py LMSVIEW LMSSIM NPM_DIR OUT_DIR CASE. Only loopback
addresses 127.0.17.x are used; pages load nothing from elsewhere."""

import base64
import json
import os
import socket
import struct
import subprocess
import sys
import threading
import time
import unittest

import emulator
from emulator import SimsPerTest, f32

LMSVIEW = NPM = OUT = None
MASK = 0x1FFF


class Served:
    """lmsview --serve ADDRESS:8765 against lmssim, its CSV lines timed as
    they come."""

    def __init__(self, address, *args, lines=2):
        self.proc = subprocess.Popen([LMSVIEW, "--serve", address + ":8765", "--format", "csv", *args, "IP",
                                      address, "LMS"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True)
        self.times = []
        self.reader = threading.Thread(target=self._read)
        self.reader.start()
        self.url = "%s:8765/" % address
        deadline = time.monotonic() + 10
        while len(self.times) < lines and time.monotonic() < deadline:
            time.sleep(0.05)
        while time.monotonic() < deadline:  # the port is bound before the link opens
            try:
                socket.create_connection((address, 8765), timeout=1).close()
                break
            except OSError:
                time.sleep(0.05)

    def _read(self):
        for _ in self.proc.stdout:
            self.times.append(time.monotonic())

    def rss_kib(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            return int(next(x for x in f if x.startswith("VmRSS")).split()[1])

    def finish(self):
        self.proc.wait(timeout=60)
        self.reader.join()
        err = self.proc.stderr.read()
        self.proc.stderr.close()
        return err


def connect(address, rcvbuf=None, port=8765):
    s = socket.socket()
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.settimeout(10)
    s.connect((address, port))
    return s


def read_all(s, limit=1 << 20):
    data = b""
    try:
        while len(data) < limit:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except OSError:
        pass
    return data


def handshake(address, host=None, origin=None, rcvbuf=None, port=8765):
    s = connect(address, rcvbuf, port)
    key = base64.b64encode(os.urandom(16)).decode()
    head = ("GET / HTTP/1.1\r\nHost: %s:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\nSec-WebSocket-Protocol: foxglove.websocket.v1\r\n"
            % (host or address, port, key))
    if origin:
        head += "Origin: %s\r\n" % origin
    s.sendall((head + "\r\n").encode())
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    status, _, rest = data.partition(b"\r\n\r\n")
    return s, status.decode(errors="replace"), rest


def frame(opcode, payload, masked=True, length=None):
    n = len(payload) if length is None else length
    head = bytes([0x80 | opcode])
    bit = 0x80 if masked else 0
    head += bytes([bit | n]) if n < 126 else bytes([bit | 126]) + struct.pack(">H", n) if n < 65536 else \
        bytes([bit | 127]) + struct.pack(">Q", n)
    if not masked:
        return head + payload
    mask = os.urandom(4)
    return head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))


def frames(data):
    """(opcode, payload) of each of the server's whole frames in `data` (unmasked)."""
    at = 0
    while at + 2 <= len(data):
        op, n = data[at] & 0x0F, data[at + 1] & 0x7F
        at += 2
        if n == 126:
            n, at = struct.unpack(">H", data[at:at + 2])[0], at + 2
        elif n == 127:
            n, at = struct.unpack(">Q", data[at:at + 8])[0], at + 8
        if at + n > len(data):
            return
        yield op, data[at:at + n]
        at += n


def text_frames(data):
    """The JSON of the server's whole text frames in `data`."""
    return [json.loads(payload) for op, payload in frames(data) if op == 1]


def close_code(data):
    """The code of the close frame among the server's frames, or None."""
    return next((struct.unpack(">H", payload[:2])[0] for op, payload in frames(data) if op == 8), None)


def node(script, *args):
    p = subprocess.run(["node", script, *args], cwd=NPM, capture_output=True, text=True, timeout=90)
    if p.returncode != 0:
        raise AssertionError(script + " failed:\n" + p.stdout + p.stderr)
    return json.loads(p.stdout)


class Serve(SimsPerTest):
    def test_protocol(self):
        """The protocol's client library gets the channel and scans whose
        ranges are what lmssim sent."""
        sim = self.sim("127.0.17.1")
        run = Served("127.0.17.1", "--count", "12", "--interval", "200", "--frame-id", "front")
        got = node("ws_client.mjs", "ws://" + run.url, "3")
        run.finish()
        self.assertEqual(got["serverInfo"]["name"], subprocess.run([LMSVIEW, "--version"], capture_output=True, text=True).stdout.strip())
        [channel] = got["channels"]
        self.assertEqual((channel["topic"], channel["encoding"], channel["schemaName"], channel["schemaEncoding"]),
                         ("/scan", "json", "foxglove.LaserScan", "jsonschema"))
        self.assertIn("ranges", json.loads(channel["schema"])["properties"])
        sent = [[f32((w & MASK) / 1000) for w in words] for (_, fate, words) in sim.sent() if fate == "sent"]
        self.assertEqual(len(got["scans"]), 3)
        for s in got["scans"]:
            self.assertIn([f32(r) for r in s["ranges"]], sent)
            self.assertEqual((s["frame_id"], s["start_angle"], s["end_angle"], s["intensities"]),
                             ("front", -3.141592653589793 / 2, 3.141592653589793 / 2, []))
            self.assertEqual(s["logTime"], str(s["timestamp"]["sec"] * 10**9 + s["timestamp"]["nsec"]))
            self.assertEqual(s["pose"]["orientation"]["w"], 1)

    def test_page(self):
        """The page in headless Chromium draws live scans, and once the
        scanner stops its figures age; a screenshot is kept."""
        sim = self.sim("127.0.17.2")
        run = Served("127.0.17.2", "--seconds", "120", "--interval", "200", "--reconnect")
        shot = os.path.join(OUT, "serve-page.png")
        try:
            check = subprocess.Popen(["node", "page_check.mjs", "http://" + run.url, shot], cwd=NPM,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            grew = check.stdout.readline()  # once the page has shown the scans come
            sim.stop()
            out, err = check.communicate("stopped\n", timeout=90)
        finally:
            run.proc.terminate()
            run.finish()
        self.assertEqual((grew, check.returncode), ("grew\n", 0), err)
        got = json.loads(out)
        self.assertGreater(got["later"], got["first"])
        self.assertGreater(got["drawn"], 2000)
        # The page's own connection and lmsview's link are two states, shown apart.
        self.assertIn("lmsview: connected", got["status"])
        self.assertIn("scanner: link open", got["status"])
        self.assertRegex(got["stale"], r"\(\d+ s ago\).* 0\.0 scans/s")
        self.assertTrue(got["narrowFits"], got["narrow"])
        # The nearest point's angle as the page draws it, said so.
        self.assertRegex(got["status"], r"nearest \d+\.\d{3} m at [+-]?\d+\.\d° \(0° ahead, \+ left\)")
        labels = got["labels"]
        self.assertTrue(labels)
        for a, b in zip(labels, labels[1:]):
            self.assertLessEqual(a["x"] + a["width"], b["x"], labels)
        self.assertTrue(all(x["x"] + x["width"] <= x["right"] for x in labels), labels)
        self.assertEqual(got["outside"], [])
        self.assertTrue(os.path.getsize(shot) > 10000)

    def test_hostile(self):
        """Each misbehaving client is refused or closed, and the scans on
        standard output never pause; memory stays flat."""
        self.sim("127.0.17.3")
        a = "127.0.17.3"
        run = Served(a, "--count", "700", "--interval", "20")
        rss0 = run.rss_kib()
        # A client that subscribes, then never reads, with a small window.
        stalled, status, _ = handshake(a, rcvbuf=4096)
        self.assertIn("101", status)
        stalled.sendall(frame(1, json.dumps({"op": "subscribe", "subscriptions": [{"id": 7, "channelId": 1}]})
                              .encode()))
        # Host and Origin that are not this machine's.
        s = connect(a)
        s.sendall(b"GET / HTTP/1.1\r\nHost: evil.example\r\n\r\n")
        self.assertTrue(read_all(s).startswith(b"HTTP/1.1 403"))
        s.close()
        s, status, _ = handshake(a, origin="http://evil.example")
        self.assertIn("403", status)
        s.close()
        # Other methods and paths; a head over 8 KiB.
        for request, answer in ((b"POST / HTTP/1.1\r\nHost: localhost\r\n\r\n", b"405"),
                                (b"GET /etc/passwd HTTP/1.1\r\nHost: localhost\r\n\r\n", b"404"),
                                (b"GET / HTTP/1.1\r\nHost: localhost\r\nX: " + b"a" * 9000 + b"\r\n\r\n", b"431"),
                                (b"\x16\x03\x01\x02\x00garbage\r\n\r\n", b"400")):
            s = connect(a)
            s.sendall(request)
            self.assertTrue(read_all(s).startswith(b"HTTP/1.1 " + answer), answer)
            s.close()
        # Frames a server must refuse: garbage, unmasked, oversized, fragmented.
        for data, code in ((b"\xff" * 32, 1002), (frame(1, b"{}", masked=False), 1002),
                           (frame(2, b"", length=100000), 1009), (bytes([0x01, 0x80]) + os.urandom(4), 1008)):
            s, status, rest = handshake(a)
            s.sendall(data)
            self.assertEqual(close_code(rest + read_all(s)), code, data[:8])
            s.close()
        # A ping is answered; a client's close is echoed.
        s, _, rest = handshake(a)
        s.sendall(frame(9, b"hi") + frame(8, struct.pack(">H", 1000)))
        self.assertEqual(close_code(rest + read_all(s)), 1000)
        s.close()
        # Slowloris: the head never ends; closed after 5 s.
        slow = connect(a)
        slow.sendall(b"GET / HTTP/1.1\r\nHost: localhost\r\n")
        t0 = time.monotonic()
        slow.settimeout(0.5)
        closed = False
        while time.monotonic() - t0 < 9 and not closed:
            try:
                slow.send(b"X")
                closed = slow.recv(100) == b""
            except socket.timeout:
                pass
            except OSError:
                closed = True
        self.assertTrue(closed)
        self.assertLess(time.monotonic() - t0, 8)
        # 64 at once: 16 in all are served, the rest hear 503.
        many = [connect(a) for _ in range(64)]
        busy = 0
        for s in many:
            s.settimeout(0.3)
            try:
                busy += s.recv(100).startswith(b"HTTP/1.1 503")
            except OSError:
                pass
        self.assertGreaterEqual(busy, 64 - 16)
        for s in many:
            s.close()
        self.assertIsNone(run.proc.poll(), "the run ended before the hostile clients were done")
        rss1 = run.rss_kib()
        err = run.finish()
        stalled.close()
        self.assertEqual(run.proc.returncode, 0, err)
        gaps = [b - a for a, b in zip(run.times, run.times[1:])]
        self.assertEqual(len(run.times), 701)  # the header and every scan
        self.assertLess(max(gaps), 1.5)
        self.assertLess(rss1, rss0 + 8192)

    def test_conformance(self):
        """What the protocols want of a server: close codes no peer may
        send, text that is not UTF-8, two Host headers and bare LF heads are
        refused at once; a request sent with a half-close is answered; idle
        clients make room; a client that comes while the link is down is
        told so; bound to every address the Origin is still checked."""
        a = "127.0.17.5"
        run = Served(a, "--reconnect", "--seconds", "30", lines=0)  # nobody listens: the link stays down
        s, status, rest = handshake(a)
        s.settimeout(2)
        data = rest
        while len(text_frames(data)) < 3:  # the frames may come in separate pieces
            data += s.recv(65536)
        frames = text_frames(data)
        self.assertEqual([f["op"] for f in frames[:3]], ["serverInfo", "advertise", "status"])
        self.assertEqual(frames[2]["level"], 1, frames)
        s.close()
        for data, code in ((frame(8, struct.pack(">H", 999)), 1002), (frame(8, struct.pack(">H", 1005)), 1002),
                           (frame(8, struct.pack(">H", 5000)), 1002), (frame(8, b"\x03"), 1002),
                           (frame(1, b"\xff\xfe"), 1007)):
            s, status, rest = handshake(a)
            s.sendall(data)
            self.assertEqual(close_code(rest + read_all(s)), code, data)
            s.close()
        for request in (b"GET / HTTP/1.1\r\nHost: localhost\r\nHost: evil.example\r\n\r\n",
                        b"GET / HTTP/1.1\nHost: localhost\n\n"):
            s = connect(a)
            s.sendall(request)
            t0 = time.monotonic()
            self.assertTrue(read_all(s).startswith(b"HTTP/1.1 400"), request)
            self.assertLess(time.monotonic() - t0, 2)
            s.close()
        for _ in range(20):
            s = connect(a)
            s.sendall(b"GET / HTTP/1.1\r\nHost: localhost\r\n\r\n")
            s.shutdown(socket.SHUT_WR)
            self.assertTrue(read_all(s).startswith(b"HTTP/1.1 200"))
            s.close()
        # Sixteen that never subscribe hold no slot from a seventeenth.
        idle = [handshake(a)[0] for _ in range(16)]
        s, status, _ = handshake(a)
        self.assertIn("101", status)
        idle[0].settimeout(2)
        self.assertEqual(read_all(idle[0]).find(b"HTTP"), -1)  # closed: its read ends
        for c in idle + [s]:
            c.close()
        run.proc.terminate()
        run.finish()
        # Every address: the Origin must be the Host asked for (or absent).
        p = subprocess.Popen([LMSVIEW, "--serve", "0.0.0.0:8766", "--reconnect", "--seconds", "20", "--format", "csv", "IP",
                              a, "LMS"],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            line = p.stderr.readline()
            self.assertIn("any address of this machine (here: http://127.0.0.1:8766/)", line)
            for origin, answer in (("http://evil.example", "403"), ("null", "403"), (None, "101"),
                                   ("http://127.0.17.5:8766", "101"), ("http://127.0.17.5:9999", "403")):
                s, status, _ = handshake(a, origin=origin, port=8766)
                self.assertIn(answer, status, origin)
                s.close()
        finally:
            p.terminate()
            p.communicate(timeout=10)

    def test_refusals(self):
        """A port in use or not here, and bad values: status 2 before any link."""
        sim = self.sim("127.0.17.4")
        taken = socket.socket()
        taken.bind(("127.0.17.4", 8765))
        taken.listen()
        for value, why in (("127.0.17.4:8765", "in use"), ("192.0.2.1:8765", "no interface"),
                           ("70000", "PORT"), ("localhost:8765", "PORT"), ("1.2.3:80", "PORT")):
            p = subprocess.run([LMSVIEW, "--serve", value, "IP", "127.0.17.4", "LMS"], stdin=subprocess.DEVNULL,
                               capture_output=True, text=True, timeout=10)
            self.assertEqual(p.returncode, 2, (value, p.stderr))
            self.assertEqual(len(p.stderr.splitlines()), 1, p.stderr)
            self.assertIn(why, p.stderr)
        taken.close()
        self.assertEqual(sim.sent(), [])


if __name__ == "__main__":
    LMSVIEW, emulator.LMSSIM, NPM, OUT = sys.argv[1:5]
    unittest.main(argv=[sys.argv[0], "Serve.test_" + sys.argv[5].lower()], verbosity=2)
