"""The D2XX driver in this process: which one is loaded, and loading one so that the library
binds it.

The library binds whatever is loaded under the driver's file name, once per process. The
simulated module and the recording shim are drivers of that name too, so activating the one and
capturing with the other both load through here, and the checks before a connect look here at
what the library will bind.
"""

from __future__ import annotations

import ctypes
import os
import re
import sys
from pathlib import Path
from typing import List, Optional, Tuple

from ._search import DRIVER_FILE

__all__ = [
    "DRIVER_FILE",
    "DRIVER_FUNCTIONS",
    "REQUIRED_FUNCTIONS",
    "SERIAL_PREFIX",
    "forwarded_driver",
    "is_simulator",
    "load_as_driver",
    "loaded_driver",
    "missing_functions",
    "unload",
]

#: Where the list of driver functions is: the copy installed with the package, else the source
#: tree's.
_FUNCTION_LISTS = (
    Path(__file__).resolve().parent / "d2xx_functions.inc",
    Path(__file__).resolve().parents[2] / "internal" / "d2xx" / "d2xx_functions.inc",
)
_LISTED = re.compile(r"^D2XX_(OPTIONAL_)?FUNCTION\(\s*(\w+)\s*,", re.MULTILINE)


def _listed_functions() -> Tuple[Tuple[str, ...], int]:
    """The driver functions the library binds, in the order of the one list of them
    (d2xx_functions.inc), and how many come first as required."""
    for path in _FUNCTION_LISTS:
        try:
            entries = _LISTED.findall(path.read_text(encoding="utf-8"))
        except OSError:
            continue
        names = tuple(name for _optional, name in entries)
        required = sum(1 for optional, _name in entries if not optional)
        if names:
            return names, required
    raise ImportError(f"the driver function list is in none of {[str(p) for p in _FUNCTION_LISTS]}")


#: The driver functions the library binds, in the list's order. A driver lacking one of the
#: first REQUIRED_FUNCTIONS is not used; the later ones are bound when the driver has them.
DRIVER_FUNCTIONS, REQUIRED_FUNCTIONS = _listed_functions()
#: Every module's USB serial number starts with this; the rest is its deviceId.
SERIAL_PREFIX = "KORVELAN380"


def loaded_driver() -> Optional[ctypes.CDLL]:
    """The driver already loaded in this process under the name the library binds, if any
    (without loading one)."""
    if sys.platform == "win32":
        # A DLL loaded under the name FTD2XX.dll is the one korvelan380.dll's imports resolve to.
        kernel32 = ctypes.WinDLL("kernel32")  # type: ignore[attr-defined]
        kernel32.GetModuleHandleW.restype = ctypes.c_void_p
        kernel32.GetModuleHandleW.argtypes = [ctypes.c_wchar_p]
        handle = kernel32.GetModuleHandleW(DRIVER_FILE)
        return ctypes.CDLL(DRIVER_FILE, handle=handle) if handle else None
    no_load = getattr(os, "RTLD_NOLOAD", None)
    if no_load is None:
        return None
    try:
        return ctypes.CDLL(DRIVER_FILE, mode=no_load | os.RTLD_NOW)
    except OSError:
        return None


def load_as_driver(path: str) -> ctypes.CDLL:
    """Loads ``path`` so that the library, loaded later, binds it: on Windows by its full path
    (the name it is loaded under is FTD2XX.dll), elsewhere globally, under its soname."""
    if sys.platform == "win32":
        return ctypes.CDLL(path)
    return ctypes.CDLL(path, mode=os.RTLD_GLOBAL | os.RTLD_NOW)


def unload(cdll: ctypes.CDLL) -> None:
    """Lets go of a driver loaded only to look at it, so that a later ``sim.activate()`` can
    still put the simulated module in its place."""
    try:
        import _ctypes

        _ctypes.dlclose(cdll._handle)  # type: ignore[attr-defined]
    except (ImportError, AttributeError, OSError):
        pass


def forwarded_driver(driver: ctypes.CDLL) -> Optional[ctypes.CDLL]:
    """The driver that the recording shim ``driver`` forwards to, as the shim loaded it; None
    when ``driver`` is not the shim (or is the Windows shim, which does not say), or forwards
    nowhere."""
    try:
        forwarded = ctypes.CFUNCTYPE(ctypes.c_char_p)(("kcap_forwarded_driver", driver))()
    except AttributeError:
        return None
    if not forwarded:
        return None
    try:
        return ctypes.CDLL(os.fsdecode(forwarded), mode=os.RTLD_NOLOAD | os.RTLD_NOW)
    except OSError:
        return None


def is_simulator(cdll: ctypes.CDLL) -> bool:
    """Whether ``cdll`` is the simulated module (it has the control interface)."""
    return hasattr(cdll, "ksim_reset")


def missing_functions(cdll: ctypes.CDLL) -> List[str]:
    """The required driver functions ``cdll`` lacks: with any missing, the library does not use
    it."""
    return [name for name in DRIVER_FUNCTIONS[:REQUIRED_FUNCTIONS] if not hasattr(cdll, name)]
