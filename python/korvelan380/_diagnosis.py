"""Why a connect found no module: the library returns the same status when no driver library
loads and when the driver cannot open the module; the message tells them apart and says what
to do next."""

from __future__ import annotations

import ctypes
from typing import Optional

from ._driver import (
    DRIVER_FILE,
    SERIAL_PREFIX,
    is_simulator,
    loaded_driver,
    missing_functions,
    unload,
)
from ._native import loaded_path

__all__ = ["open_failed_detail"]

_USE_SIMULATOR = (
    "or, to use the simulated module, call korvelan380.sim.activate() before the first connect"
)


def _no_driver_loaded(serial: str, doctor: str) -> str:
    """The library holds no driver: it found none, or found one it could not use."""
    try:
        cdll = ctypes.CDLL(DRIVER_FILE)
    except OSError as error:
        return (
            f"no driver library loads ({error}): install the vendor's D2XX driver, so that the "
            f"system loader finds {DRIVER_FILE}, {_USE_SIMULATOR}"
        )
    where = loaded_path(cdll) or DRIVER_FILE
    missing = missing_functions(cdll)
    unload(cdll)
    if missing:
        return (
            f"the driver library {where} loads but lacks {', '.join(missing)}, so it is not "
            f"used: install the vendor's D2XX driver in its place, {_USE_SIMULATOR}"
        )
    return (
        f"the driver library {where} loads now but was not bound; check the serial number "
        f"({serial}) and run {doctor}"
    )


def _simulator_refused(simulator: ctypes.CDLL, serial: str, device: str) -> str:
    """The simulated module is the driver: the module is not attached, or a fault refused it."""
    simulator.ksim_is_attached.argtypes = (ctypes.c_char_p,)
    if not simulator.ksim_is_attached(serial.encode("latin-1")):
        return (
            f"the simulated module is active but no module {serial} is attached: "
            f'korvelan380.sim.active().attach("{device}") attaches one'
        )
    return f"the simulated module {serial} refused to open (a fault set by fail_call?)"


def _driver_refused(driver: ctypes.CDLL, serial: str, doctor: str) -> str:
    where = loaded_path(driver) or DRIVER_FILE
    return (
        f"the driver ({where}) loads but cannot open a module with the serial number "
        f"{serial}: check that the module is plugged in, that its serial number is {serial} "
        f"and that no other program has it open; {doctor} (the command-line tool) looks into it"
    )


def open_failed_detail(device_id: Optional[str]) -> str:
    """Why connecting ``device_id`` failed with status 4, and the next step."""
    device = device_id or ""
    serial = SERIAL_PREFIX + device
    doctor = f"`korvelan380 -d {device} doctor`" if device else "`korvelan380 doctor`"
    try:
        bound = loaded_driver()
        if bound is None:
            return _no_driver_loaded(serial, doctor)
        if is_simulator(bound):
            return _simulator_refused(bound, serial, device)
        return _driver_refused(bound, serial, doctor)
    except Exception as error:  # the diagnosis must never hide the failure it explains
        return f"the driver could not be examined ({error})"
