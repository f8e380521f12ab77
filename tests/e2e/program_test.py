# SPDX-License-Identifier: Apache-2.0
"""lmsview as a user runs it: a child process against the emulator on
loopback or a pseudo-terminal, ended by a key on its standard input; and the
fault matrix, one fault injected per case: which scans were shown against
what the emulator sent, the messages the user sees, the key still ending the
run in time with the right status, and a silent link costing next to no CPU.

Run as: program_test.py LMSVIEW LMSSIM CASE. Only loopback addresses
127.0.4.x and 127.0.5.x are used."""

import signal
import sys
import time
import unittest

import emulator
from emulator import Program, shown_tables, table_rows

# The key ends the program as soon as the loop has returned; a few seconds
# cover a cycle in progress even under the sanitizers.
EXIT_WITHIN = 4.0


def lmsview(*args):
    return Program([emulator.LMSVIEW, *args])


class Runs(emulator.SimsPerTest):
    def expect_tables_are_scans_sent(self, out, sim, shown=None):
        """Every table is one of the scans sent whole, in order, numbered 0,
        1, 2 ...; returns how many there were."""
        sent = sim.sent()
        at = 0
        tables = shown_tables(out)
        for t, (sample, rows) in enumerate(tables):
            self.assertEqual(sample, t)
            while at < len(sent) and table_rows(sent[at][2]) != rows:
                at += 1
            self.assertLess(at, len(sent), f"table {t} is no scan that was sent")
            self.assertIn(sent[at][1], ("sent", "flipped-byte"))
            at += 1
        return len(tables)

    def test_over_tcp_every_scan_sent_is_shown_and_a_key_ends_it(self):
        sim = self.sim("127.0.4.1", ["--seed", "21"])
        run = lmsview("IP", "127.0.4.1", "LMS")
        self.assertTrue(run.wait_for("muestra: 2\n", 10), run.out())
        key = time.monotonic()
        run.key()
        self.assertTrue(run.wait(EXIT_WITHIN + 2))
        self.assertLess(time.monotonic() - key, EXIT_WITHIN)
        self.assertEqual(run.returncode, 0)
        out = run.out()
        shown = self.expect_tables_are_scans_sent(out, sim)
        self.assertIn(len(sim.sent()) - shown, (0, 1))  # the reply under way at the key may not show
        self.assertTrue(out.startswith("Comunicacion IP: 127.0.4.1 Tipo de laser LMS\n\n"))
        self.assertIn("Press any key to continue . . .\n", out)
        self.assertNotIn("\x1b", out)
        self.assertEqual(run.err(), "")

    def test_over_a_pseudo_terminal_every_scan_sent_is_shown(self):
        sim = self.sim(None, ["--seed", "22"])
        run = lmsview("COM", sim.device, "LMS")
        self.assertTrue(run.wait_for("muestra: 1\n", 10), run.out())
        run.key()
        self.assertTrue(run.wait(EXIT_WITHIN + 2))
        self.assertEqual(run.returncode, 0)
        self.assertIn(len(sim.sent()) - self.expect_tables_are_scans_sent(run.out(), sim), (0, 1))

    def test_a_refused_connection_a_missing_device_and_no_address_end_with_1(self):
        for args, first_lines in (
                (["IP", "127.0.4.5", "LMS"], "lmsview: cannot connect to 127.0.4.5 port 10002: Connection refused\n"
                                            "lmsview: hint: nothing listens on port 10002"),
                (["COM", "/dev/lmsview-no-such-device", "LMS"],
                 "lmsview: cannot open serial port /dev/lmsview-no-such-device: No such file or directory\n"
                 "lmsview: hint: "),
                (["IP", "999.1.2.3", "LMS"], "lmsview: not a dotted IPv4 address: 999.1.2.3\n")):
            run = lmsview(*args)
            self.assertTrue(run.wait(10))
            self.assertEqual(run.returncode, 1, args)
            self.assertTrue(run.err().startswith(first_lines), run.err())
            self.assertLessEqual(run.err().count("\n"), 2, run.err())
            if args[0] == "IP" and args[1] != "999.1.2.3":
                self.assertIn("trying to connect 1\n", run.out())

    def test_bad_arguments_print_one_line_on_standard_error_only(self):
        for args in (["com", "3", "LMS"], ["COM", "11", "LMS"], ["COM", "abc", "PLS"]):
            run = lmsview(*args)
            self.assertTrue(run.wait(5))
            self.assertEqual((run.returncode, run.out(), run.err().count("\n")), (2, "", 1), args)

    def test_help_and_version_send_no_traffic(self):
        for args, starts in ((["--help"], "usage: lmsview"), (["--version"], "lmsview ")):
            run = lmsview(*args)
            self.assertTrue(run.wait(5))
            self.assertEqual(run.returncode, 0)
            self.assertTrue(run.out().startswith(starts), run.out())

    def test_term_int_and_the_end_of_input_end_the_run_cleanly(self):
        self.sim("127.0.4.6")
        for end, status in ((signal.SIGTERM, 143), (signal.SIGINT, 130), (None, 0)):
            run = lmsview("IP", "127.0.4.6", "LMS")
            self.assertTrue(run.wait_for("muestra: 0\n", 10), run.out())
            if end is None:
                run.close_stdin()
            else:
                run.signal(end)
            self.assertTrue(run.wait(EXIT_WITHIN + 2))
            self.assertEqual(run.returncode, status)


class Case:
    def __init__(self, name, faults=(), serial=False, run=3.3, ends_by_itself=False, status=0, should_show=None,
                 check=None, sim_gone_after=None):
        self.name, self.faults, self.serial, self.run = name, list(faults), serial, run
        self.ends_by_itself, self.status, self.should_show = ends_by_itself, status, should_show
        self.check, self.sim_gone_after = check, sim_gone_after


def fates(sent, fate):
    return sum(1 for s in sent if s[1] == fate)


CASES = [
    Case("CleanBurst"),
    Case("CleanSerial", serial=True),
    Case("NakEveryOther", ["--nak-every", "2"], run=4.3,
         check=lambda t, r: t.assertNotIn("readScan", r.out)),  # a refusal is not an error line
    Case("SilenceThenRecovery", ["--silent-after", "1", "--silent-for", "2500"], run=6.5,
         check=lambda t, r: (t.assertGreaterEqual(r.out.count("requestScan - no answer from LMS\n"), 1),
                             t.assertGreaterEqual(len(r.sent), 2))),  # it came back
    # Waiting on a silent link costs next to nothing: far below a spinning core even under the sanitizers.
    Case("SilenceForEver", ["--silent-after", "0"], run=4.5,
         check=lambda t, r: (t.assertGreaterEqual(r.out.count("requestScan - no answer from LMS\n"), 2),
                             t.assertLess(r.cpu, 0.2 * r.lifetime))),
    Case("SilenceForEverSerial", ["--silent-after", "0"], serial=True, run=4.5,
         check=lambda t, r: (t.assertGreaterEqual(r.out.count("requestScan - no answer from LMS\n"), 2),
                             t.assertLess(r.cpu, 0.2 * r.lifetime))),
    Case("CorruptChecksum", ["--corrupt-crc-every", "2"],
         check=lambda t, r: t.assertIn(r.out.count("readScan - checksum mismatch\n") -
                                       fates(r.sent, "corrupt-checksum"), (-1, 0))),
    Case("CorruptChecksumSerial", ["--corrupt-crc-every", "2"], serial=True),
    Case("FlippedByteValidChecksum", ["--flip-byte-every", "2"]),
    Case("ShortReply", ["--short-every", "2"],
         check=lambda t, r: t.assertIn(r.out.count("readScan - reply too short (400 of 732 bytes)\n") -
                                       fates(r.sent, "short"), (-1, 0))),
    Case("ShortReplySerial", ["--short-every", "2"], serial=True),
    # An acknowledge with nothing behind it: the scanner said yes and sent no
    # reply (the one awaited when the key came is not judged).
    Case("AckWithoutReply", ["--short-every", "2", "--short-length", "0"], run=4.3,
         check=lambda t, r: (t.assertGreaterEqual(fates(r.sent, "short"), 1),
                             t.assertIn(r.out.count("readScan - no reply from LMS\n") - fates(r.sent, "short"),
                                        (-1, 0)))),
    Case("SmallChunksCloserThan50ms", ["--chunk", "60", "--chunk-gap", "20"]),
    Case("ChunksFurtherApartThan50ms", ["--chunk", "200", "--chunk-gap", "80"]),
    Case("GapBetweenAckAndReply", ["--ack-gap", "300"]),
    # The verdict is the first byte: an answer that starts with garbage is a
    # refusal, and the user sees what came.
    Case("GarbageBeforeEveryOtherAck", ["--garbage", "3", "--garbage-every", "2"], run=4.3,
         should_show=lambda i: (i + 1) % 2 != 0,
         check=lambda t, r: t.assertTrue(1 <= r.out.count(
             "requestScan - unexpected answer 0xA5 0xA4 0xA7 0x06 0x02 0x80 0xD6 0x02 ... "
             "(is the baud rate right?)\n") <= len(r.sent), r.out)),
    Case("OversizeBurst", ["--oversize-every", "2"]),
    # An orderly close is not a reset; the one line on standard error says why.
    Case("ConnectionClosedAfterThree", ["--close-after", "3"], run=10, ends_by_itself=True, status=1,
         check=lambda t, r: (t.assertEqual(len(r.tables), 3),
                             t.assertIn("run - connection to LMS lost: the scanner closed the connection\n", r.out),
                             t.assertTrue(r.err.startswith("lmsview: connection to the scanner lost"), r.err),
                             t.assertEqual(r.err.count("\n"), 1))),
    Case("SerialDeviceGone", serial=True, run=10, ends_by_itself=True, status=1, sim_gone_after=2.5,
         check=lambda t, r: (t.assertGreaterEqual(len(r.tables), 1),
                             t.assertIn("run - connection to LMS lost: serial device", r.out),
                             t.assertTrue(r.err.startswith("lmsview: connection to the scanner lost"), r.err))),
]


class Result:
    pass


class FaultMatrix(emulator.SimsPerTest):
    """Only good scans are shown, what went wrong is said, and the run stops in time."""

    def run_case(self, index):
        case = CASES[index]
        address = None if case.serial else f"127.0.5.{index + 1}"
        sim = self.sim(address, ["--seed", "31", *case.faults])
        run = lmsview("COM", sim.device, "LMS") if case.serial else lmsview("IP", address, "LMS")
        if case.sim_gone_after:
            self.assertFalse(run.wait(case.sim_gone_after))
            sim.proc.terminate()
            sim.proc.wait(10)
        if case.ends_by_itself:
            self.assertTrue(run.wait(case.run), run.out())
        else:
            self.assertFalse(run.wait(case.run), "ended before the key: " + run.err())
            key = time.monotonic()
            run.key()
            self.assertTrue(run.wait(EXIT_WITHIN + 3))
            self.assertLess(time.monotonic() - key, EXIT_WITHIN, "the key did not end the run in time")
        r = Result()
        r.out, r.err, r.cpu, r.lifetime = run.out(), run.err(), run.cpu_seconds, run.lifetime
        r.sent = sim.sent()
        r.tables = shown_tables(r.out)
        self.assertEqual(run.returncode, case.status, r.err)
        # Nothing invented or corrupted: every table is a valid scan that was
        # sent, in order, numbered 0, 1, 2 ...; nothing good lost: every scan
        # that should show did, but for the reply under way when the key came
        # or the emulator went.
        expected = [s for i, s in enumerate(r.sent) if (case.should_show is None or case.should_show(i)) and
                    s[1] in ("sent", "flipped-byte", "oversize")]
        if expected and len(r.tables) + 1 == len(expected):
            expected.pop()
        self.assertEqual(len(r.tables), len(expected), r.out[:2000])
        for t, ((sample, rows), scan) in enumerate(zip(r.tables, expected)):
            self.assertEqual(sample, t)
            self.assertEqual(rows, table_rows(scan[2]), f"table {t} is not scan {scan[0]}")
        if case.status == 0:
            # Nothing on standard error but, on a silent line, the one hint.
            self.assertEqual(r.err.replace(
                "lmsview: hint: the scanner may be set to another rate: try --baud auto\n", ""), "")
        if case.check:
            case.check(self, r)


for _i, _case in enumerate(CASES):
    setattr(FaultMatrix, "test_" + _case.name, lambda self, i=_i: self.run_case(i))


if __name__ == "__main__":
    emulator.LMSVIEW, emulator.LMSSIM = sys.argv[1:3]
    name = sys.argv[3]
    test = f"FaultMatrix.test_{name}" if hasattr(FaultMatrix, "test_" + name) else f"Runs.test_{name}"
    unittest.main(argv=[sys.argv[0], test], verbosity=2)
