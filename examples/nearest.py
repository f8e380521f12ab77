# SPDX-License-Identifier: Apache-2.0
"""The nearest point of each scan, for N scans, with the Python module.

    /usr/bin/python3 examples/nearest.py tcp://192.0.2.40 10
"""

import sys

import numpy as np

import lmsview


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: nearest.py LINK [SCANS]")
    scans = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    with lmsview.open(sys.argv[1]) as scanner:
        for scan, _ in zip(scanner, range(scans)):
            valid = (scan.ranges >= scan.range_min) & (scan.ranges <= scan.range_max)
            if not valid.any():
                print(f"scan {scan.seq}: no point")
                continue
            i = np.flatnonzero(valid)[np.argmin(scan.ranges[valid])]
            print(f"scan {scan.seq}: nearest {scan.ranges[i]:.3f} m at {np.degrees(scan.angles[i]):.1f} deg")


if __name__ == "__main__":
    main()
