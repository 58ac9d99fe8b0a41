"""Whether a USB bus is visible. FTDI's driver crashes opening a module where it is not (a
container or virtual machine without USB passthrough), so the package looks before it connects."""

from __future__ import annotations

import ctypes
import os
import sys
from typing import Optional

from .errors import OpenFailedError

__all__ = ["usb_bus_problem", "require_usb_bus", "USB_BUS_DIR"]

#: Where libusb, inside FTDI's driver, finds the devices.
USB_BUS_DIR = "/dev/bus/usb"
_DRIVER_FILE = "libftd2xx.so"


def _driver() -> Optional[ctypes.CDLL]:
    """The libftd2xx.so the library will bind: the one already loaded, else the loader's."""
    for mode in (os.RTLD_NOLOAD | os.RTLD_NOW, os.RTLD_LAZY):
        try:
            return ctypes.CDLL(_DRIVER_FILE, mode=mode)
        except OSError:
            continue
    return None


def usb_bus_problem() -> Optional[str]:
    """What to tell the user when FTDI's driver would open a module with no USB bus visible."""
    if not sys.platform.startswith("linux") or os.path.exists(USB_BUS_DIR):
        return None
    driver = _driver()
    # Without a driver the library's own status says what is wrong; our simulated module, told
    # apart by its control interface, needs no bus.
    if driver is None or hasattr(driver, "ksim_reset"):
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
