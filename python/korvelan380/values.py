"""The values the module's methods take and return: output ranges, channel settings, the
calibration, the FIFO status and the selections."""

from __future__ import annotations

import enum
import math
from dataclasses import dataclass
from typing import NamedTuple, Tuple

__all__ = [
    "RAW_MAX",
    "RAW_STEPS",
    "CALIBRATION_ENTRIES",
    "Range",
    "DacChannelSettings",
    "Calibration",
    "PairCalibration",
    "FifoChannelStatus",
    "FifoStatus",
    "Selection",
]

#: The largest rawValue: outputs are 14 bits.
RAW_MAX = 0x3FFF
#: The number of rawValues; one step is the range's span divided by this.
RAW_STEPS = 0x4000
#: Entries of the calibration tables: entry ``channel * 7 + range``.
CALIBRATION_ENTRIES = 14


class Range(enum.IntEnum):
    """A DAC output range. The value is the library's rangeIndex.

    A rawValue ``r`` (0 to 0x3FFF) stands for ``low + r * span / 16384`` volts: raw 0 is the
    bottom of the range, 0x2000 the middle, and 0x3FFF one step below the top.
    """

    BIPOLAR_10V = 0
    BIPOLAR_5V = 1
    BIPOLAR_2_5V = 2
    BIPOLAR_1_25V = 3
    UNIPOLAR_10V = 4
    UNIPOLAR_5V = 5
    UNIPOLAR_2_5V = 6

    @property
    def low(self) -> float:
        """The bottom of the range in volts."""
        return _LIMITS[self][0]

    @property
    def high(self) -> float:
        """The top of the range in volts (one step above the highest output)."""
        return _LIMITS[self][1]

    @property
    def span(self) -> float:
        """``high - low`` in volts."""
        return _LIMITS[self][1] - _LIMITS[self][0]

    @property
    def bipolar(self) -> bool:
        """True for the ranges centred on 0 V."""
        return _LIMITS[self][0] < 0

    @property
    def step(self) -> float:
        """Volts per rawValue step: ``span / 16384``."""
        return self.span / RAW_STEPS

    def to_volts(self, raw: int) -> float:
        """The volts that rawValue ``raw`` (0 to 0x3FFF) stands for in this range."""
        if not 0 <= raw <= RAW_MAX:
            raise ValueError(f"raw value {raw} is outside 0..0x3FFF")
        return self.low + raw * self.span / RAW_STEPS

    def from_volts(self, volts: float) -> int:
        """The nearest rawValue for ``volts``, which must lie within ``low..high``.

        Halfway values round up; volts in the top half step (up to ``high`` itself) give
        0x3FFF. Raises ``ValueError`` outside the range or for NaN.
        """
        low, high = _LIMITS[self]
        if not low <= volts <= high:  # also refuses NaN
            raise ValueError(f"{volts} V is outside the range {self.name} ({low}..{high} V)")
        raw = math.floor((volts - low) * RAW_STEPS / (high - low) + 0.5)
        return RAW_MAX if raw > RAW_MAX else raw


_LIMITS = {
    Range.BIPOLAR_10V: (-10.0, 10.0),
    Range.BIPOLAR_5V: (-5.0, 5.0),
    Range.BIPOLAR_2_5V: (-2.5, 2.5),
    Range.BIPOLAR_1_25V: (-1.25, 1.25),
    Range.UNIPOLAR_10V: (0.0, 10.0),
    Range.UNIPOLAR_5V: (0.0, 5.0),
    Range.UNIPOLAR_2_5V: (0.0, 2.5),
}


@dataclass
class DacChannelSettings:
    """A DAC channel's configuration, as the C struct ``DacChannelSettings``.

    Which fields count depends on ``mode`` (0 to 3): mode 1 uses both selectors (0 to 2) and
    both switches; mode 2 the selectors and ``switch_b``, and sends ``mode_parameter``; mode 3
    the selectors (0 or 1). With ``preset_enable`` 1 the channel's preset code is loaded with
    ``preset_value`` (a rawValue) calibrated for the channel's current range.

    Read back, the selectors and switches come from one control bit each, and
    ``preset_enable`` is the register's whole byte.
    """

    mode: int = 0
    select_a: int = 0
    select_b: int = 0
    switch_a: int = 0
    switch_b: int = 0
    preset_enable: int = 0
    preset_value: int = 0
    mode_parameter: int = 0


@dataclass(frozen=True)
class Calibration:
    """A module's calibration: 14 offsets (16-bit) and 14 gains (single-precision floats),
    entry ``channel * 7 + range`` each."""

    offsets: Tuple[int, ...] = (0,) * CALIBRATION_ENTRIES
    gains: Tuple[float, ...] = (0.0,) * CALIBRATION_ENTRIES

    def __post_init__(self) -> None:
        offsets = tuple(int(o) for o in self.offsets)
        gains = tuple(float(g) for g in self.gains)
        if len(offsets) != CALIBRATION_ENTRIES or len(gains) != CALIBRATION_ENTRIES:
            raise ValueError(f"a calibration has {CALIBRATION_ENTRIES} offsets and gains")
        if any(not 0 <= o <= 0xFFFF for o in offsets):
            raise ValueError("calibration offsets are 16-bit: 0..65535")
        object.__setattr__(self, "offsets", offsets)
        object.__setattr__(self, "gains", gains)

    @staticmethod
    def index(channel: int, output_range: int) -> int:
        """The table entry of a channel (0 or 1) and range (0 to 6)."""
        if channel not in (0, 1) or not 0 <= output_range <= 6:
            raise ValueError(f"no calibration entry for channel {channel}, range {output_range}")
        return channel * 7 + int(output_range)

    def entry(self, channel: int, output_range: int) -> Tuple[float, int]:
        """The (gain, offset) of a channel and range."""
        i = self.index(channel, output_range)
        return self.gains[i], self.offsets[i]

    def replace(self, channel: int, output_range: int, gain: float, offset: int) -> "Calibration":
        """A copy with one entry replaced."""
        i = self.index(channel, output_range)
        gains = list(self.gains)
        offsets = list(self.offsets)
        gains[i] = gain
        offsets[i] = offset
        return Calibration(tuple(offsets), tuple(gains))


@dataclass(frozen=True)
class PairCalibration:
    """One channel and range's guided calibration (:meth:`Module.adjust_calibration`), as the
    library fitted and checked it from three readings.

    Points 0 and 1 (near 10 % and 90 % of the range) are output uncalibrated and fit the entry;
    point 2, the middle code 0x2000, is output through the fit to check it. ``errors_mv`` and
    ``errors_lsb`` are, at points 0 and 1, each reading's distance from what the fit predicts,
    and at point 2 the reading's distance from ``expected_volts``; an LSB is the range's span /
    16384.
    """

    channel: int
    output_range: Range
    old_gain: float
    old_offset: int
    gain: float
    offset: int
    expected_volts: Tuple[float, float, float]  #: what an ideal module puts out at each point
    readings: Tuple[float, float, float]
    errors_mv: Tuple[float, float, float]
    errors_lsb: Tuple[float, float, float]
    raw_codes: Tuple[int, int, int]  #: each point's nominal code
    sent_codes: Tuple[int, int, int]  #: the codes written: 0 and 1 as is, 2 through the fit


class FifoChannelStatus(NamedTuple):
    """One channel's FIFO status."""

    flag7: bool  #: bit 7 of the channel's status register
    flag6: bool  #: bit 6 of the channel's status register
    counter: int  #: the 20-bit counter


class FifoStatus(NamedTuple):
    """Both channels' FIFO status; ``status[0]`` is channel 0's."""

    channel0: FifoChannelStatus
    channel1: FifoChannelStatus


class Selection(NamedTuple):
    """A selection register's two nibbles."""

    low: int
    high: int
