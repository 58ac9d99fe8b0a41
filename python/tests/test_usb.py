"""Without a USB bus FTDI's driver crashes opening a module: connecting must raise instead.
Any libftd2xx.so that is not our simulated module stands in for FTDI's here."""

import os
from pathlib import Path

import pytest

from test_sim import PYTHON_DIR, run_python

BUILD = Path(os.environ.get("KORVELAN380_BUILD_DIR", PYTHON_DIR.parent / "build"))
OTHER_DRIVER = BUILD / "tests" / "other_driver"

CONNECT = """
    import korvelan380
    try:
        korvelan380.connect("7")
        print("connected")
    except korvelan380.OpenFailedError as e:
        print(type(e).__name__, e.status, e.device, "|", e.detail)
"""


@pytest.mark.skipif(os.path.exists("/dev/bus/usb"), reason="this machine has a USB bus")
class TestNoUsbBus:
    def test_connect_raises_open_failed_before_the_driver_opens(self):
        if not (OTHER_DRIVER / "libftd2xx.so").exists():
            pytest.skip("the test driver is built with the C++ tests")
        result = run_python(CONNECT, LD_LIBRARY_PATH=str(OTHER_DRIVER))
        kind, _, detail = result.stdout.strip().partition(" | ")
        assert kind == "OpenFailedError 4 7", result.stderr
        assert detail.startswith(
            "no USB bus is visible here (/dev/bus/usb does not exist): a container or virtual "
            "machine without USB passthrough?"
        )

    def test_no_driver_at_all_is_the_librarys_own_failure(self):
        result = run_python(CONNECT, LD_LIBRARY_PATH="/nonexistent", KORVELAN380_DRIVER="vendor")
        kind, _, detail = result.stdout.strip().partition(" | ")
        assert kind == "OpenFailedError 4 7", result.stderr
        assert detail.startswith("no driver library serves"), detail

    def test_the_open_backend_needs_no_bus_even_with_ftdis_driver_there(self):
        if not (OTHER_DRIVER / "libftd2xx.so").exists():
            pytest.skip("the test driver is built with the C++ tests")
        result = run_python(CONNECT, LD_LIBRARY_PATH=str(OTHER_DRIVER), KORVELAN380_DRIVER="open")
        kind, _, detail = result.stdout.strip().partition(" | ")
        assert kind == "OpenFailedError 4 7", result.stderr
        assert "USB bus" not in detail, detail

    def test_the_simulated_module_needs_no_bus(self, korvelan_sim):
        korvelan_sim.attach("7")
        import korvelan380

        with korvelan380.connect("7") as m:
            assert m.read_dio_input() == 0
