"""Calibrating a module against a meter: the guided two-point calibration of
:meth:`Module.adjust_calibration`, over as many channels and ranges as asked, with the record as
it was stored or restored at the end."""

from __future__ import annotations

from typing import List, Optional, Sequence, Tuple, Union

from .errors import InvalidArgumentError
from .module import Measure, Module
from .values import PairCalibration, Range

__all__ = ["calibrate"]


def _choices(given: Union[int, None], every: Sequence[int], what: str, device: str) -> List[int]:
    if given is None:
        return list(every)
    if isinstance(given, bool) or not isinstance(given, int) or given not in every:
        raise InvalidArgumentError(
            1,
            "KORVELAN380_CalibAdjustBegin",
            device,
            f"{what} {given!r} is not one of {', '.join(map(str, every))} (or None for all)",
        )
    return [int(given)]


def _pairs(
    channel: Optional[int], output_range: Union[int, Range, None], device: str
) -> List[Tuple[int, Range]]:
    channels = _choices(channel, (0, 1), "channel", device)
    ranges = _choices(output_range, tuple(Range), "range", device)
    return [(c, Range(r)) for c in channels for r in ranges]


def calibrate(
    module: Module,
    channel: Optional[int] = None,
    output_range: Union[int, Range, None] = None,
    *,
    measure: Measure,
    save: bool = False,
) -> List[PairCalibration]:
    """Calibrates ``channel`` (0 or 1) in ``output_range`` against readings from ``measure``;
    None for either means every one, so ``calibrate(m, measure=meter)`` runs all 14 pairs.
    Returns one :class:`~korvelan380.PairCalibration` a pair, channel by channel, range by range.

    ``measure(channel, output_range, point, expected_volts)`` returns the volts a meter reads on
    the channel's output while the module holds point 0, 1 or 2 there (see
    :meth:`Module.adjust_calibration`).

    With ``save`` the calibration found is stored in the EEPROM at the end; without it the
    record as it was before is set again, and the EEPROM is left alone. A reading the library
    refuses raises :class:`~korvelan380.ReadingRefusedError` (a ``ValueError``) naming the
    reason, and whatever ``measure`` raises goes through; either way the record as it was is
    restored first. Each channel is left in the last range calibrated, at its last point.
    """
    pairs = _pairs(channel, output_range, module.device_id)
    before = module.get_calibration()
    try:
        results = [module.adjust_calibration(c, r, measure) for c, r in pairs]
    except BaseException:
        module.set_calibration(before, force=True)
        raise
    if save:
        module.store_calibration()
    else:
        module.set_calibration(before, force=True)
    return results
