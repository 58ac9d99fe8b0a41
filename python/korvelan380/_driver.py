"""Why a connect found no module: the library returns the same status when no driver library
loads and when the driver cannot open the module; the message tells them apart and says what
to do next."""

from __future__ import annotations

import ctypes
import os
import sys
from typing import List, Optional

from ._native import loaded_path

__all__ = ["DRIVER_FILE", "open_failed_detail"]

DRIVER_FILE = "FTD2XX.dll" if sys.platform == "win32" else "libftd2xx.so"
#: The driver functions the library binds; a driver lacking one is not used.
DRIVER_FUNCTIONS = (
    "FT_OpenEx",
    "FT_Close",
    "FT_Read",
    "FT_Write",
    "FT_Purge",
    "FT_GetQueueStatus",
    "FT_GetStatus",
    "FT_EE_UASize",
    "FT_EE_UARead",
    "FT_EE_UAWrite",
)
_SERIAL_PREFIX = "KORVELAN380"
_USE_SIMULATOR = (
    "or, to use the simulated module, call korvelan380.sim.activate() before the first connect"
)


def _missing_functions(cdll: ctypes.CDLL) -> List[str]:
    return [name for name in DRIVER_FUNCTIONS if not hasattr(cdll, name)]


def _already_loaded() -> Optional[ctypes.CDLL]:
    """The driver the library bound in this process, if any (without loading one)."""
    no_load = getattr(os, "RTLD_NOLOAD", None)
    if no_load is None:
        return None
    try:
        return ctypes.CDLL(DRIVER_FILE, mode=no_load | os.RTLD_NOW)
    except OSError:
        return None


def _unload(cdll: ctypes.CDLL) -> None:
    # Let go of a driver loaded only to look at it, so that a later sim.activate() still works.
    try:
        import _ctypes

        _ctypes.dlclose(cdll._handle)  # type: ignore[attr-defined]
    except (ImportError, AttributeError, OSError):
        pass


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
    missing = _missing_functions(cdll)
    _unload(cdll)
    if missing:
        return (
            f"the driver library {where} loads but lacks {', '.join(missing)}, so it is not "
            f"used: install the vendor's D2XX driver in its place, {_USE_SIMULATOR}"
        )
    return (
        f"the driver library {where} loads now but was not bound; check the serial number "
        f"({serial}) and run {doctor}"
    )


def open_failed_detail(device_id: Optional[str]) -> str:
    """Why connecting ``device_id`` failed with status 4, and the next step."""
    device = device_id or ""
    serial = _SERIAL_PREFIX + device
    doctor = f"`korvelan380 -d {device} doctor`" if device else "`korvelan380 doctor`"
    try:
        bound = _already_loaded()
        if bound is None:
            return _no_driver_loaded(serial, doctor)
        if hasattr(bound, "ksim_is_attached"):
            bound.ksim_is_attached.argtypes = (ctypes.c_char_p,)
            if not bound.ksim_is_attached(serial.encode("latin-1")):
                return (
                    f"the simulated module is active but no module {serial} is attached: "
                    f'korvelan380.sim.active().attach("{device}") attaches one'
                )
            return f"the simulated module {serial} refused to open (a fault set by fail_call?)"
        where = loaded_path(bound) or DRIVER_FILE
        return (
            f"the driver ({where}) loads but cannot open a module with the serial number "
            f"{serial}: check that the module is plugged in, that its serial number is {serial} "
            f"and that no other program has it open; {doctor} (the command-line tool) looks into it"
        )
    except Exception as error:  # the diagnosis must never hide the failure it explains
        return f"the driver could not be examined ({error})"
