# SPDX-License-Identifier: Apache-2.0
"""The Python module against lmssim (pytest, with the interpreter the module
is built for). LMSSIM names the emulator and LMSVIEW_BUILD_DIR the build folder;
only loopback addresses 127.0.15.x are used."""

import glob
import os
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np
import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import emulator  # noqa: E402

import lmsview  # noqa: E402

emulator.LMSSIM = os.environ["LMSSIM"]


@pytest.fixture
def sims():
    started = []

    def start(address=None, *extra):
        s = emulator.Sim(address, extra)
        started.append(s)
        return s

    yield start
    for s in started:
        s.stop()


def sent_words(sim):
    return [w for (_, fate, w) in sim.sent() if fate == "sent"]


def test_scans_are_what_the_emulator_sent(sims):
    for address in ("127.0.15.1", None):
        sim = sims(address)
        link = f"tcp://{address}" if address else f"serial://{sim.device}"
        with lmsview.open(link, interval=0.0 if not address else 0.05) as scanner:
            scans = [scanner.next(timeout=5.0) for _ in range(3)]
        sent = sent_words(sim)
        assert [s.seq for s in scans] == [0, 1, 2]
        assert [s.stamp_ns for s in scans] == sorted(s.stamp_ns for s in scans)
        for s in scans:
            words = np.array(sent[s.seq], dtype=np.uint16)
            assert s.ranges.dtype == np.float32 and not s.ranges.flags.writeable
            assert np.array_equal(s.words, words)
            assert np.array_equal(s.ranges, ((words & 0x1FFF) / 1000).astype(np.float32))
            assert s.stamp.tzinfo is not None
            xy = s.to_cartesian()
            assert xy.shape == (361, 2)
            assert np.isnan(xy[s.ranges == 0]).all()


def test_two_scanners_timeouts_and_errors(sims):
    sims("127.0.15.2")
    sims("127.0.15.3", "--seed", "7", "--silent-after", "0")
    with lmsview.open("tcp://127.0.15.2", interval=0.05) as a, lmsview.open("tcp://127.0.15.3") as quiet:
        assert a.next(timeout=5.0).seq == 0
        t0 = time.monotonic()
        assert quiet.next(timeout=0.3) is None
        assert time.monotonic() - t0 < 1.5
    with pytest.raises(ConnectionRefusedError) as refused:
        lmsview.open("tcp://127.0.15.4")  # nobody listens there
    assert isinstance(refused.value, lmsview.Error)
    assert "refused" in str(refused.value)
    with pytest.raises(ValueError):
        lmsview.open("udp://127.0.15.2")


def test_ctrl_c_ends_the_loop_promptly_and_closes_the_scanner(sims):
    sims("127.0.15.5", "--silent-after", "1")  # one scan, then nothing: the loop waits
    child = subprocess.Popen(
        [sys.executable, "-c",
         "import lmsview\n"
         "with lmsview.open('tcp://127.0.15.5', interval=0.05) as s:\n"
         "    try:\n"
         "        for scan in s:\n"
         "            print('scan', scan.seq, flush=True)\n"
         "    except KeyboardInterrupt:\n"
         "        print('interrupted', flush=True)\n"
         "try:\n"
         "    s.next(timeout=0.1)\n"
         "except lmsview.Closed:\n"
         "    print('closed', flush=True)\n"],
        stdout=subprocess.PIPE, text=True, env=dict(os.environ))
    assert child.stdout.readline().startswith("scan 0")
    t0 = time.monotonic()
    child.send_signal(signal.SIGINT)
    assert child.stdout.readline() == "interrupted\n"
    assert time.monotonic() - t0 < 0.5  # the wait wakes for Ctrl-C every 100 ms
    out, _ = child.communicate(timeout=10)  # the with block closes the scanner (within a cycle's bound)
    assert out == "closed\n"


def test_a_thousand_scans_leave_memory_flat(sims):
    sims("127.0.15.6")

    def rss_kib():
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) for line in f if line.startswith("VmRSS"))

    with lmsview.open("tcp://127.0.15.6", interval=0.0, queue=64) as scanner:
        for _ in range(200):
            scanner.next(timeout=5.0).ranges.sum()
        before = rss_kib()
        for _ in range(1000):
            scanner.next(timeout=5.0).ranges.sum()
        after = rss_kib()
    assert after - before < 2048, (before, after)


def test_it_imports_from_an_installed_prefix(sims):
    sims("127.0.15.7")
    with tempfile.TemporaryDirectory() as d:
        subprocess.run(["cmake", "--install", os.environ["LMSVIEW_BUILD_DIR"], "--prefix", d, "--component", "python"],
                       check=True, capture_output=True, timeout=120)
        # Debian's lib/python3/dist-packages, or the interpreter's site-packages elsewhere.
        (init,) = glob.glob(os.path.join(d, "lib", "python3*", "*-packages", "lmsview", "__init__.py"))
        env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(init)))
        p = subprocess.run([sys.executable, "-c",
                            "import lmsview\n"
                            "print(lmsview.__file__)\n"
                            "with lmsview.open('tcp://127.0.15.7', interval=0.05) as s:\n"
                            "    print([next(s).seq for _ in range(2)])\n"],
                           capture_output=True, text=True, env=env, timeout=60)
        assert p.returncode == 0, p.stderr
        assert p.stdout.splitlines()[0].startswith(d)
        assert p.stdout.splitlines()[1] == "[0, 1]"


def test_every_error_of_the_contract_is_an_exception_with_its_reason(tmp_path):
    import builtins
    for value, c_name, name, base, message in lmsview._lmsview._error_contract():
        cls = getattr(lmsview, name)
        assert issubclass(cls, lmsview.Error), name
        if base:
            assert issubclass(cls, getattr(lmsview, base, None) or getattr(builtins, base)), (name, base)
        assert cls.__doc__.startswith(message), name
    recording = tmp_path / "two.jsonl"
    recording.write_text("10 20\n30\n")
    with lmsview.open(f"file:{recording}", interval=0.0) as s:
        assert [scan.words[0] for scan in s] == [10, 30]  # iteration ends with the recording
        with pytest.raises(lmsview.EndOfRecording):
            s.next(timeout=1.0)
    with pytest.raises(lmsview.BadRecording) as bad:
        lmsview.open(f"file:{tmp_path}/missing.jsonl")
    assert "No such file or directory" in str(bad.value)
    with pytest.raises(lmsview.LinkFailed) as failed:
        lmsview.open("serial:///dev/null")
    assert "/dev/null" in str(failed.value)


def test_waits_take_what_python_gives_and_with_blocks_in_a_row_each_get_the_link(sims):
    import math
    import threading
    sims("127.0.15.8", "--silent-after", "2")
    for _ in range(2):  # the emulator serves one client: the second block has it because the first let go
        with lmsview.open("tcp://127.0.15.8", interval=0.05) as s:
            assert s.next(timeout=math.inf) is not None
    with lmsview.open("tcp://127.0.15.8", interval=0.05) as s:
        for bad in (math.nan, -1.0):
            with pytest.raises(ValueError):
                s.next(timeout=bad)
        threading.Timer(0.3, s.close).start()
        t0 = time.monotonic()
        with pytest.raises(lmsview.Closed):
            s.next(timeout=1e12)  # past any clock's reach: waits, until the close
        assert time.monotonic() - t0 > 0.2
    for bad in (math.nan, 1e300, -1.0):
        with pytest.raises(ValueError):
            lmsview.open("tcp://127.0.15.8", interval=bad)
    with pytest.raises(lmsview.BadArgument):
        lmsview.open("tcp://127.0.15.8", family="pls")


def test_a_program_ends_quietly_while_a_daemon_thread_waits_for_a_scan(sims):
    sims("127.0.15.9", "--silent-after", "0")
    script = ("import threading, time, lmsview\n"
              "s = lmsview.open('tcp://127.0.15.9')\n"
              "threading.Thread(target=s.next, daemon=True).start()\n"
              "time.sleep(0.3)\n"
              "print('done', flush=True)\n")
    for _ in range(3):
        p = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=30)
        assert (p.returncode, p.stdout) == (0, "done\n"), p.stderr
        assert "terminate" not in p.stderr


def test_a_stream_gives_every_scan_and_counts_the_noise(sims):
    """Continuous output over TCP: every scan streamed reaches next() in
    order, the unit each reply states wins over the one expected, and the
    bytes noise brought are counted."""
    sim = sims("127.0.15.9", "--streaming", "--units", "dm", "--stream-garbage-every", "2")
    with lmsview.open("tcp://127.0.15.9", stream=True, queue=200) as scanner:
        scans = [scanner.next(timeout=5.0) for _ in range(40)]
        stats = scanner.stats
    assert [s.seq for s in scans] == list(range(40))
    assert all(s.range_unit == pytest.approx(0.1) for s in scans)
    assert stats["discarded_bytes"] >= 13 * 19
    sent = sent_words(sim)
    assert all(np.array_equal(s.words, np.array(sent[s.seq], dtype=np.uint16)) for s in scans)


def test_events_say_what_happened_with_their_fields(sims, tmp_path):
    """A lost link, its reconnecting and a recording cut short and ended
    come as events with the C++ fields; none is lost before the first
    next_event()."""
    sim = sims("127.0.15.10", "--close-after", "2")
    with lmsview.open("tcp://127.0.15.10", reconnect=True, interval=0.05) as scanner:
        kinds = []
        for event in scanner.events():
            kinds.append(event.kind)
            if event.kind == "reconnecting":
                assert isinstance(event, lmsview.Event)
                assert event.where == "127.0.15.10 port 10002" and event.delay > 0 and event.attempt == 2
                break
    assert kinds[0] == "opened" and "lost" in kinds
    recording = tmp_path / "cut.jsonl"
    recording.write_text("10 20 30\n40 50 60\n{\"seq\":2,\"frame_id\":\"laser\",\"words\":[7,")
    with lmsview.open(f"file:{recording}", interval=0.0) as s:
        said = [s.next_event(timeout=5.0) for _ in range(3)]
        assert s.next_event(timeout=0.01) is None
    assert [e.kind for e in said] == ["opened", "recording_cut", "recording_ended"]
    assert "cut short" in said[1].text and said[1].reason == "none" and said[1].error is None


def test_a_filter_and_the_merge_as_in_cpp(sims):
    sims("127.0.15.9")
    with lmsview.open("tcp://127.0.15.9", interval=0.05, crop_deg=(-45, 45), mask_deg=[(-10, 10)],
                      range_m=(0.05, 8.0)) as scanner:
        scan = scanner.next(timeout=5.0)
    assert len(scan.ranges) == 181 and abs(np.degrees(scan.angle_min) + 45) < 1e-9
    assert np.isnan(scan.ranges[70:111]).all() and np.isnan(scan.to_cartesian()[70:111]).all()
    with pytest.raises(lmsview.BadArgument, match="empty"):
        lmsview.open("tcp://127.0.15.9", crop_deg=(10, -10))
    points, scanners, merged = lmsview.merge([scan, scan], [(0.0, 0.0, 0.0), (1.0, 0.0, np.pi)])
    kept = int(np.count_nonzero(~np.isnan(scan.to_cartesian()[:, 0])))
    assert points.shape == (2 * kept, 3) and list(np.bincount(scanners)) == [kept, kept]
    # The second scanner faces back from 1 m ahead: its points mirror the first's about x = 0.5.
    assert np.allclose(points[kept:, 0], 1.0 - points[:kept, 0], atol=1e-5)
    assert len(merged.ranges) == 720 and merged.seq == scan.seq
