# SPDX-License-Identifier: Apache-2.0
"""Runs a Windows test program under Wine with a COM port that leads to a
pseudo-terminal this script holds, and plays the other end of the line.

Run as: com_peer.py [--ixon] PORTS_DIR COM_NUMBER PROGRAM [ARGS...]
(--ixon: the line starts with software flow control on, as another program
may have left it)

PORTS_DIR/comN is the path the Wine prefix maps COMn to (set up once before
the tests); it is pointed at a fresh pty here. The peer echoes what it reads,
except for commands that start with byte 0x01:
  0x01 "BAUD?"   answers the line's input rate in decimal and a newline
  0x01 "HANGUP"  closes the pty's master side (the device goes away)
The program's status is this script's status. Every wait is bounded."""

import os
import select
import subprocess
import sys
import termios
import threading
import time
import tty

RATES = {getattr(termios, "B" + str(r)): r for r in (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 500000)}


def serve(master, stop):
    deadline = time.monotonic() + 120
    while not stop.is_set() and time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 0.1)
        if not ready:
            continue
        try:
            data = os.read(master, 4096)
        except OSError:
            continue  # nobody holds the other side yet
        if not data:
            continue
        if data.startswith(b"\x01BAUD?"):
            speed = termios.tcgetattr(master)[4]
            os.write(master, b"%d\n" % RATES.get(speed, 0))
        elif data.startswith(b"\x01HANGUP"):
            os.close(master)
            return
        else:
            os.write(master, data)
    os.close(master)


def main():
    args = sys.argv[1:]
    ixon = args[0] == "--ixon"
    if ixon:
        args = args[1:]
    ports, number, program = args[0], args[1], args[2:]
    master, slave = os.openpty()
    tty.setraw(master)
    if ixon:
        attrs = termios.tcgetattr(slave)
        attrs[0] |= termios.IXON | termios.IXOFF
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
    link = os.path.join(ports, "com" + number)
    os.makedirs(ports, exist_ok=True)
    tmp = link + ".new"
    if os.path.lexists(tmp):
        os.unlink(tmp)
    os.symlink(os.ttyname(slave), tmp)
    os.replace(tmp, link)
    # The slave stays open here until the program has the port: a pty whose
    # every slave holder closed reads as hung up.
    stop = threading.Event()
    peer = threading.Thread(target=serve, args=(master, stop), daemon=True)
    peer.start()
    env = dict(os.environ, LMSVIEW_TEST_COM="\\\\.\\COM" + number)
    try:
        status = subprocess.run(["wine"] + program, env=env, timeout=180).returncode
    except subprocess.TimeoutExpired:
        print("com_peer: the program did not end within 180 s", file=sys.stderr)
        status = 1
    stop.set()
    peer.join(5)
    os.close(slave)
    sys.exit(status)


if __name__ == "__main__":
    main()
