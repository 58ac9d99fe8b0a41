"""Why a connect found no module: the library returns the same status when no driver library
loads and when the driver cannot open the module; the message tells them apart and says what
to do next."""

from __future__ import annotations

import ctypes
from typing import Optional

from ._driver import (
    DRIVER_FILE,
    SERIAL_PREFIX,
    bound_driver,
    describe_driver,
    driver_request,
    is_simulator,
    missing_functions,
    open_backend_path,
    unload,
)
from ._native import loaded_path

__all__ = ["open_failed_detail"]

_USE_SIMULATOR = (
    "or, to use the simulated module, call korvelan380.sim.activate() before the first connect"
)


def _unusable(name: str) -> Optional[str]:
    """Why the library does not use the driver library ``name``: it does not load, or lacks
    functions; None when it loads whole."""
    try:
        cdll = ctypes.CDLL(name)
    except OSError as error:
        return f"{name} does not load ({error})"
    where = loaded_path(cdll) or name
    missing = missing_functions(cdll)
    unload(cdll)
    return f"{where} loads but lacks {', '.join(missing)}" if missing else None


def _no_driver_loaded(serial: str, doctor: str) -> str:
    """The library holds no driver: of those it may take (KORVELAN380_DRIVER says which), it
    found none, or none it could use."""
    request = driver_request()
    open_backend = open_backend_path()
    if request in ("", "vendor", "open"):
        names = [DRIVER_FILE] if request != "open" else []
        if open_backend is not None and request != "vendor":
            names.append(open_backend)
    else:
        names = [request]
    reasons = [reason for reason in map(_unusable, names) if reason is not None]
    if not reasons:
        return (
            f"the driver library loads now but was not bound; check the serial number "
            f"({serial}) and run {doctor}"
        )
    remedy = f"install the vendor's D2XX driver, so that the system loader finds {DRIVER_FILE}"
    if open_backend in names:
        remedy = f"install libftdi1-2, which the open driver needs, or {remedy}"
    return f"no driver library serves: {'; '.join(reasons)}; {remedy}, {_USE_SIMULATOR}"


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
    return (
        f"{describe_driver(driver)} loads but cannot open a module with the serial number "
        f"{serial}: check that the module is plugged in, that its serial number is {serial}, "
        f"that this user may open its USB device (the udev rule 70-korvelan380.rules) and that "
        f"no other program has it open; {doctor} (the command-line tool) looks into it"
    )


def open_failed_detail(device_id: Optional[str]) -> str:
    """Why connecting ``device_id`` failed with status 4, and the next step."""
    device = device_id or ""
    serial = SERIAL_PREFIX + device
    doctor = f"`korvelan380 -d {device} doctor`" if device else "`korvelan380 doctor`"
    try:
        bound = bound_driver()
        if bound is None:
            return _no_driver_loaded(serial, doctor)
        if is_simulator(bound):
            return _simulator_refused(bound, serial, device)
        return _driver_refused(bound, serial, doctor)
    except Exception as error:  # the diagnosis must never hide the failure it explains
        return f"the driver could not be examined ({error})"
