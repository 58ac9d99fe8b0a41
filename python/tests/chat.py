"""Helpers for reading what went over the wire to the simulated module."""

from typing import List

from korvelan380.sim import Call, Fn, SimModule


def W(first: int, *values: int) -> bytes:
    """The write frame of values into registers from `first` on."""
    return b"\x02W" + b"%02x" % first + b"".join(b"%02x" % v for v in values) + b"\x03"


def R(first: int, last: int) -> bytes:
    """The read frame of registers first..last."""
    return b"\x02R" + b"%02x%02x" % (first, last) + b"\x03"


def writes(module: SimModule) -> List[bytes]:
    """The bytes of every driver write to the module since the trace was cleared."""
    return [c.data for c in module.trace() if c.fn == Fn.WRITE]


def register_writes(module: SimModule) -> List[bytes]:
    """The "W" frames among the writes."""
    return [w for w in writes(module) if w.startswith(b"\x02W")]


def functions(calls: List[Call]) -> List[Fn]:
    return [c.fn for c in calls]


def as_received(codes) -> List[int]:
    """Codes as the module receives them in a stream: bits 1-0 clear."""
    return [c & 0xFFFC for c in codes]
