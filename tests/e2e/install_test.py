# SPDX-License-Identifier: Apache-2.0
"""liblmsview as a user installs it: `cmake --install` into a temporary
prefix, the examples built against that prefix alone (the CMake package, and
pkg-config for the C example), each run against lmssim.

Run as: install_test.py BUILD_DIR SOURCE_DIR LMSSIM. Only loopback addresses
127.0.12.x are used."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import emulator
from emulator import SimsPerTest

BUILD = SOURCE = None


def run(*args, env=None, timeout=300):
    p = subprocess.run(args, capture_output=True, text=True, env=env, timeout=timeout)
    if p.returncode != 0:
        raise AssertionError(f"{' '.join(args)}: {p.returncode}\n{p.stdout}\n{p.stderr}")
    return p.stdout


class Installed(SimsPerTest):
    def test_the_examples_read_scans_through_the_installed_package(self):
        self.sim("127.0.12.1")
        self.sim("127.0.12.2", ["--seed", "5"])
        with tempfile.TemporaryDirectory() as d:
            prefix = os.path.join(d, "prefix")
            run("cmake", "--install", BUILD, "--prefix", prefix)
            self.assertFalse(os.path.exists(os.path.join(prefix, "include", "lms")))  # public headers only
            libdir = os.path.join(prefix, "lib")
            out = os.path.join(d, "examples")
            run("cmake", "-S", os.path.join(SOURCE, "examples"), "-B", out, "-DCMAKE_PREFIX_PATH=" + prefix,
                "-DCMAKE_BUILD_TYPE=Release")
            run("cmake", "--build", out)
            env = dict(os.environ, PKG_CONFIG_PATH=os.path.join(libdir, "pkgconfig"), LD_LIBRARY_PATH=libdir)
            flags = run("pkg-config", "--cflags", "--libs", "lmsview", env=env).split()
            by_pc = os.path.join(d, "nearest_pc")
            run("cc", "-o", by_pc, os.path.join(SOURCE, "examples", "nearest.c"), *flags, env=env)
            for program in (os.path.join(out, "nearest"), os.path.join(out, "nearest_c"), by_pc):
                lines = run(program, "tcp://127.0.12.1", "3", env=env, timeout=60).splitlines()
                self.assertEqual(len(lines), 3, program)
                self.assertRegex(lines[2], r"^scan 2: nearest \d+\.\d{3} m at -?\d+\.\d deg$")
            both = run(os.path.join(out, "two_scanners"), "tcp://127.0.12.1", "tcp://127.0.12.2", "2", env=env,
                       timeout=60)
            self.assertRegex(both, r"^front \d+ scans, rear \d+ scans\n$")
            ros2 = os.path.join(out, "ros2_two_scanners")
            if os.path.exists(ros2):  # the package has lmsview::ros2
                dds = dict(env, CYCLONEDDS_URI="file://" + os.path.join(SOURCE, "docs", "cyclonedds-loopback.xml"),
                           ROS_DOMAIN_ID="213")
                both = run(ros2, "tcp://127.0.12.1", "tcp://127.0.12.2", "2", env=dds, timeout=60)
                self.assertRegex(both, r"^/front/scan \d+ published, /rear/scan \d+ published\n$")
            refused = subprocess.run([os.path.join(out, "nearest"), "tcp://127.0.12.3"], capture_output=True,
                                     text=True, timeout=60, env=env)
            self.assertEqual(refused.returncode, 1)
            self.assertIn("connection refused", refused.stderr)


if __name__ == "__main__":
    BUILD, SOURCE, emulator.LMSSIM = sys.argv[1], sys.argv[2], sys.argv[3]
    if not shutil.which("pkg-config"):
        sys.exit("install_test: pkg-config is needed (scripts/setup.sh installs it)")
    unittest.main(argv=[sys.argv[0]], verbosity=2)
