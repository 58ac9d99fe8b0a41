"""The D2XX driver in this process: which one is loaded, and loading one so that the library
binds it.

The library binds a driver once per process: on Linux whatever is loaded under the driver's file
name, else its open driver over libftdi (or what KORVELAN380_DRIVER names). The simulated module
and the recording shim are drivers of that name too, so activating the one and capturing with the
other both load through here, and the checks before a connect look here at what the library will
bind, or has bound.
"""

from __future__ import annotations

import ctypes
import os
import re
import sys
from pathlib import Path
from typing import List, Optional, Tuple

from ._native import loaded_path
from ._search import DRIVER_FILE, LIBRARY_FILE

__all__ = [
    "DRIVER_FILE",
    "DRIVER_FUNCTIONS",
    "OPEN_BACKEND_FILE",
    "REQUIRED_FUNCTIONS",
    "SERIAL_PREFIX",
    "bound_driver",
    "describe_driver",
    "driver_request",
    "forwarded_driver",
    "is_open_backend",
    "is_simulator",
    "load_as_driver",
    "loaded_driver",
    "missing_functions",
    "open_backend_path",
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
#: The library's open driver over libftdi, installed beside it (Linux only).
OPEN_BACKEND_FILE = "libkorvelan380-ftdi.so"


def driver_request() -> str:
    """What KORVELAN380_DRIVER asks of the library: "" (libftd2xx.so, else the open driver),
    "vendor" (libftd2xx.so only), "open" (the open driver only), or a library's path. On
    Windows the library imports its driver, and no variable changes which."""
    return "" if sys.platform == "win32" else os.environ.get("KORVELAN380_DRIVER", "")


class _PhdrInfo(ctypes.Structure):
    # The start of glibc's struct dl_phdr_info: all that is read of it.
    _fields_ = [("addr", ctypes.c_void_p), ("name", ctypes.c_char_p)]


_PHDR_CALLBACK = ctypes.CFUNCTYPE(
    ctypes.c_int, ctypes.POINTER(_PhdrInfo), ctypes.c_size_t, ctypes.c_void_p
)


def _loaded_files() -> List[str]:
    """The files of the libraries this process has loaded, in the order they were loaded."""
    names: List[str] = []

    def collect(info: "ctypes._Pointer[_PhdrInfo]", _size: int, _data: object) -> int:
        if info.contents.name:
            names.append(os.fsdecode(info.contents.name))
        return 0

    try:
        ctypes.CDLL(None).dl_iterate_phdr(_PHDR_CALLBACK(collect), None)
    except AttributeError:
        pass
    return names


def bound_driver() -> Optional[ctypes.CDLL]:
    """The driver this process has loaded: the library's, after its first connect, or the one
    loaded for it (the simulated module, the recording shim). Found among the loaded libraries
    rather than by searching again as the library does; with several, the shim, else the last:
    the library loads its own at its first connect, after anything loaded for it."""
    if sys.platform == "win32" or not hasattr(os, "RTLD_NOLOAD"):
        return loaded_driver()
    drivers = []
    for name in _loaded_files():
        try:
            cdll = ctypes.CDLL(name, mode=os.RTLD_NOLOAD | os.RTLD_NOW)
        except OSError:
            continue
        if hasattr(cdll, "FT_OpenEx"):
            drivers.append(cdll)
    shims = [cdll for cdll in drivers if hasattr(cdll, "kcap_forwarded_driver")]
    return (shims or drivers or [None])[-1]


def open_backend_path() -> Optional[str]:
    """Where the library looks for its open driver first: beside itself. None on Windows."""
    if sys.platform == "win32":
        return None
    for name in _loaded_files():
        if os.path.basename(name).startswith(LIBRARY_FILE):
            return os.path.join(os.path.dirname(name), OPEN_BACKEND_FILE)
    return OPEN_BACKEND_FILE


def is_open_backend(cdll: ctypes.CDLL) -> bool:
    """Whether ``cdll`` is the library's open driver, known by its file's name."""
    return os.path.basename(loaded_path(cdll) or "").startswith(OPEN_BACKEND_FILE)


def describe_driver(cdll: ctypes.CDLL) -> str:
    """The driver in the words of the command-line tool's doctor."""
    if is_simulator(cdll):
        kind = "the simulated module"
    elif is_open_backend(cdll):
        kind = "the open driver (libftdi1)"
    elif driver_request() in ("", "vendor"):
        kind = "FTDI's D2XX driver"
    else:
        kind = "the driver"
    return f"{kind} from {loaded_path(cdll) or DRIVER_FILE}"


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
