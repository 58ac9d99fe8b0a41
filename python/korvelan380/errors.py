"""Exceptions raised by the korvelan380 package.

Every failed call on a module raises a :class:`KorvelanError` subclass chosen by the status the
library returned; no method returns a status to check.
"""

from __future__ import annotations

from typing import Dict, Optional, Tuple, Type

__all__ = [
    "KorvelanError",
    "InvalidArgumentError",
    "NotConnectedError",
    "OpenFailedError",
    "TransferFailedError",
    "AlreadyConnectedError",
    "LibraryNotFoundError",
    "ReadingRefusedError",
    "SimulatorError",
    "error_for_status",
]


class KorvelanError(Exception):
    """A call on a module failed.

    Attributes:
        status: the library's status code (1, 2, 4, 5 or 6).
        export: the name of the library function that failed, e.g. ``"KORVELAN380_DacValSet"``.
        device: the module's deviceId (``"7"`` for the module ``KORVELAN3807``), or None.
    """

    #: The status code this class stands for; the base class covers codes without a subclass.
    code: Optional[int] = None
    meaning = "failed"

    def __init__(
        self, status: int, export: str, device: Optional[str], detail: Optional[str] = None
    ) -> None:
        self.status = status
        self.export = export
        self.device = device
        self.detail = detail
        where = f" on module {device!r}" if device is not None else ""
        message = f"{export}{where}: {self.meaning} (status {status})"
        if detail:
            message += f": {detail}"
        super().__init__(message)

    def __reduce__(self) -> Tuple[type, Tuple[int, str, Optional[str], Optional[str]]]:
        # The attributes survive pickling, e.g. to another process.
        return (type(self), (self.status, self.export, self.device, self.detail))


class InvalidArgumentError(KorvelanError, ValueError):
    """Status 1: an argument outside its accepted values; nothing was sent to the module.

    Also raised, before the library is called, for values that the library's C types cannot
    hold (a channel of 300, a raw value above 0x3FFF, volts outside the range). It is a
    ``ValueError`` too.
    """

    code = 1
    meaning = "invalid argument"


class ReadingRefusedError(InvalidArgumentError):
    """A reading given to a guided calibration was refused by the library; the calibration
    was abandoned and the record as it was before restored.

    Attributes, beside those of :class:`KorvelanError`:
        refusal: the library's reason code (``KORVELAN380_ADJUST_*``, 1 to 5).
        reason: what it means, e.g. ``"outside the range's output limits"``.
        channel, output_range, point: the point whose reading it was (point 0 to 2).
        volts: the reading refused.
    """

    #: The library's reason codes and what each says of a reading.
    REASONS: Dict[int, str] = {
        1: "not a number",
        2: "outside the range's output limits",
        3: "the two readings give no slope",
        4: "the fit's gain would be negative",
        5: "the fit gives a gain or offset no module has",
    }

    def __init__(
        self,
        device: Optional[str],
        refusal: int,
        channel: int,
        output_range: int,
        point: int,
        volts: float,
    ) -> None:
        self.refusal = refusal
        self.reason = self.REASONS.get(refusal, f"reason {refusal}")
        self.channel = channel
        self.output_range = output_range
        self.point = point
        self.volts = volts
        detail = (
            f"channel {channel}, range {output_range}, point {point}: reading {volts!r} V "
            f"refused: {self.reason}; the calibration was restored"
        )
        super().__init__(self.code or 1, "KORVELAN380_CalibAdjustReading", device, detail)

    def __reduce__(self) -> Tuple[type, Tuple[object, ...]]:  # type: ignore[override]
        args = (self.device, self.refusal, self.channel, self.output_range, self.point, self.volts)
        return (type(self), args)


class NotConnectedError(KorvelanError):
    """Status 2: the module is not connected (or was disconnected)."""

    code = 2
    meaning = "not connected"


class OpenFailedError(KorvelanError):
    """Status 4: the driver is missing or could not open the module (connect only)."""

    code = 4
    meaning = "open failed"


class TransferFailedError(KorvelanError):
    """Status 5: a transfer with the module failed part-way.

    What the call already wrote to the module stays written.
    """

    code = 5
    meaning = "transfer failed"


class AlreadyConnectedError(KorvelanError):
    """Status 6: the module is already connected in this process (connect only)."""

    code = 6
    meaning = "already connected"


_BY_STATUS: Dict[int, Type[KorvelanError]] = {
    cls.code: cls
    for cls in (
        InvalidArgumentError,
        NotConnectedError,
        OpenFailedError,
        TransferFailedError,
        AlreadyConnectedError,
    )
    if cls.code is not None
}


def error_for_status(
    status: int, export: str, device: Optional[str], detail: Optional[str] = None
) -> KorvelanError:
    """The exception for a nonzero status: its subclass, or the base class for any other code."""
    return _BY_STATUS.get(status, KorvelanError)(status, export, device, detail)


class LibraryNotFoundError(OSError):
    """``libkorvelan380.so`` (or the simulator's ``libftd2xx.so``) could not be found or loaded.

    The message lists every place that was tried.
    """


class SimulatorError(RuntimeError):
    """The simulated module cannot be activated in this process, e.g. because the library has
    already bound another ``libftd2xx.so``."""
