# SPDX-License-Identifier: Apache-2.0
"""Scans of a laser range scanner of the LMS (or PLS) family, as numpy arrays.

    import lmsview
    with lmsview.open("tcp://192.0.2.40") as scanner:
        for scan in scanner:
            print(scan.seq, scan.stamp, scan.ranges.min())

Ranges are in metres, angles in radians, times in seconds (timeouts, the
interval between requests) or nanoseconds since the epoch (stamp_ns).
"""

from ._lmsview import (  # noqa: F401
    AlreadyOpen,
    BadArgument,
    BadDomain,
    BadLinkName,
    BadRecording,
    BadTopic,
    Closed,
    DdsFailed,
    DeviceBusy,
    EndOfRecording,
    Error,
    Event,
    LinkFailed,
    LinkLost,
    LinkRefused,
    NoSuchDevice,
    PermissionDenied,
    Scan,
    Scanner,
    Timeout,
    Unreachable,
    WrongSize,
    __version__,
    list_ports,
    merge,
    open,
    version,
)
