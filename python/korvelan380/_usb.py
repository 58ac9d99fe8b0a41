"""Whether a USB bus is visible. FTDI's driver crashes opening a module where it is not (a
container or virtual machine without USB passthrough), so the package looks before it connects."""

from __future__ import annotations

import ctypes
import os
import sys
from typing import Optional

from ._driver import (
    DRIVER_FILE,
    driver_request,
    forwarded_driver,
    is_open_backend,
    is_simulator,
    loaded_driver,
    missing_functions,
    unload,
)
from .errors import OpenFailedError

__all__ = ["usb_bus_problem", "require_usb_bus", "USB_BUS_DIR"]

#: Where libusb, inside FTDI's driver, finds the devices.
USB_BUS_DIR = "/dev/bus/usb"


def _driver_would_open() -> bool:
    """Whether the driver the library will bind is a complete one that needs a USB bus: not our
    simulated module, and not the open driver, whose libusb finds no device without a bus
    rather than crash. That is the libftd2xx.so already loaded, else the loader's, or the library
    KORVELAN380_DRIVER names. A driver loaded only to look at it, and found to be neither, is
    let go again, so that the simulated module can still be activated."""
    request = driver_request()
    if request == "open":
        return False
    bound = loaded_driver() if request in ("", "vendor") else None
    if bound is not None:
        return _complete_driver(bound)
    try:
        name = DRIVER_FILE if request in ("", "vendor") else request
        driver = ctypes.CDLL(name, mode=os.RTLD_LAZY)
    except OSError:
        return False  # the library's own status says what is wrong
    if _complete_driver(driver):
        return True
    unload(driver)
    return False


def _complete_driver(driver: ctypes.CDLL) -> bool:
    if hasattr(driver, "kcap_forwarded_driver"):
        # The recording shim: what matters is the driver it forwards to, which it has loaded
        # (none: the library's own status says so).
        forwarded = forwarded_driver(driver)
        if forwarded is None:
            return False
        driver = forwarded
    return (
        not is_simulator(driver) and not is_open_backend(driver) and not missing_functions(driver)
    )


def usb_bus_problem() -> Optional[str]:
    """What to tell the user when FTDI's driver would open a module with no USB bus visible."""
    if not sys.platform.startswith("linux") or os.path.exists(USB_BUS_DIR):
        return None
    if not _driver_would_open():
        return None
    return (
        f"no USB bus is visible here ({USB_BUS_DIR} does not exist): a container or virtual "
        "machine without USB passthrough? Run where the module is attached, pass the USB "
        "device through, or use the simulated module (korvelan380.sim)"
    )


def require_usb_bus(device: str) -> None:
    """Raises OpenFailedError when :func:`usb_bus_problem` finds one."""
    problem = usb_bus_problem()
    if problem is not None:
        raise OpenFailedError(OpenFailedError.code or 4, "KORVELAN380_Connect", device, problem)
