# SPDX-License-Identifier: Apache-2.0
"""Type stubs for lmsview, so editors complete the names.

Units: ranges in metres, angles in radians, timeouts and the interval
between requests in seconds, stamps in nanoseconds since the epoch (UTC)."""

import datetime
from types import TracebackType
from typing import Iterator, Optional, Sequence

import numpy as np
import numpy.typing as npt

__version__: str

class Error(Exception): ...
class Timeout(Error, TimeoutError): ...
class Closed(Error): ...
class LinkRefused(Error, ConnectionRefusedError): ...
class LinkLost(Error, ConnectionError): ...
class DeviceBusy(Error, ConnectionError): ...
class PermissionDenied(Error, PermissionError): ...
class NoSuchDevice(Error, FileNotFoundError): ...
class BadLinkName(Error, ValueError): ...
class Unreachable(Error, ConnectionError): ...
class AlreadyOpen(Error, RuntimeError): ...
class LinkFailed(Error, ConnectionError): ...
class BadArgument(Error, ValueError): ...
class EndOfRecording(Closed): ...
class BadRecording(Error, OSError): ...
class BadTopic(Error, ValueError): ...
class BadDomain(Error, ValueError): ...
class DdsFailed(Error, ConnectionError): ...
class WrongSize(Error, ValueError): ...

class Scan:
    @property
    def seq(self) -> int: ...
    @property
    def stamp_ns(self) -> int:
        """Nanoseconds since the epoch (UTC) when the reply began to arrive: the time of the scan."""
    @property
    def received_ns(self) -> int:
        """Nanoseconds since the epoch (UTC) when the reply was whole."""
    @property
    def stamp(self) -> datetime.datetime: ...
    @property
    def count(self) -> int: ...
    @property
    def ranges(self) -> npt.NDArray[np.float32]:
        """Metres, shape (count,)."""
    @property
    def words(self) -> npt.NDArray[np.uint16]: ...
    @property
    def angles(self) -> npt.NDArray[np.float32]:
        """Radians, shape (count,): 0 straight ahead, counter-clockwise."""
    @property
    def angle_min(self) -> float: ...
    @property
    def angle_max(self) -> float: ...
    @property
    def angle_increment(self) -> float: ...
    @property
    def range_min(self) -> float:
        """Metres."""
    @property
    def range_max(self) -> float:
        """Metres."""
    @property
    def range_unit(self) -> float:
        """Metres per count of a raw word."""
    @property
    def geometry(self) -> dict[str, float]: ...
    def to_cartesian(self) -> npt.NDArray[np.float64]:
        """Metres, shape (count, 2): x straight ahead, y to the left."""

class Event:
    """One event, with the fields of the C++ lmsview::Event."""

    kind: str  # "opened", "lost", "reconnecting", "reply_rejected", "stream_found", "recording_ended" ...
    text: str
    delay: float  # seconds
    attempt: int
    baud: int
    from_baud: int
    points: int
    reason: str  # "none", "refused", "unanswered", "checksum" ...
    every_rate_tried: bool
    where: str
    error: Optional[str]
    units: str
    streaming: bool

class Scanner:
    def next(self, timeout: Optional[float] = None) -> Optional[Scan]:
        """timeout in seconds; None or math.inf waits without end."""
    def __iter__(self) -> Iterator[Scan]: ...
    def __next__(self) -> Scan: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Scanner": ...
    def __exit__(self, t: Optional[type], v: Optional[BaseException], tb: Optional[TracebackType]) -> bool: ...
    @property
    def stats(self) -> dict[str, int]: ...
    def next_event(self, timeout: Optional[float] = None) -> Optional[Event]:
        """What happened on the link, oldest first; None on timeout or once closed."""
    def events(self) -> Iterator[Event]:
        """The events as they come, until close()."""

def open(
    link: str,
    family: str = "LMS",
    reconnect: bool = False,
    interval: float = 1.0,
    queue: int = 4,
    baud: int = 9600,
    scanner_baud: int = 0,
    variant: Optional[str] = None,
    units: str = "mm",
    stream: bool = False,
    crop_deg: Optional[tuple[float, float]] = None,
    mask_deg: Sequence[tuple[float, float]] = (),
    range_m: Optional[tuple[float, float]] = None,
) -> Scanner:
    """interval: seconds from one request to the next; variant: a field and
    resolution as lmsview --variant names them (None: leave the scanner as it
    is); units: 'mm', 'cm' or 'dm', the unit the scanner is expected to
    report in (each reply states its own, which wins); stream: continuous
    output, every scan as it is measured."""

def list_ports() -> list[dict[str, object]]: ...
def merge(
    scans: Sequence[Scan], poses: Sequence[tuple[float, float, float]]
) -> tuple[npt.NDArray[np.float32], npt.NDArray[np.uint32], Scan]:
    """Scans of several scanners in the robot's frame: (points, scanners,
    scan), poses (x, y, yaw) in metres and radians."""
def version() -> str: ...
