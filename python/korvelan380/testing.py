"""Pytest fixtures with the simulated module, for your own tests.

Installed from the wheel, the package is a pytest plugin: pytest loads them by itself.
Otherwise register them in your ``conftest.py`` (the top-level one)::

    pytest_plugins = ["korvelan380.testing"]

and use them in tests::

    def test_my_ramp(korvelan_module, sim_module):
        my_code.ramp(korvelan_module)        # your code, given a connected korvelan380.Module
        assert sim_module.output_code(0) == 0x8000

Fixtures:

``korvelan_sim``
    The :class:`~korvelan380.sim.Simulator`, activated on first use (once per process, before
    any connect), with no module attached. Around every test every module connected through
    korvelan380 (or attached through the simulator) is disconnected and the simulator reset.
``sim_module``
    The simulated module ``KORVELAN3807`` (deviceId ``"7"``), attached with an ideal
    calibration: a :class:`~korvelan380.sim.SimModule`.
``korvelan_module``
    A :class:`~korvelan380.Module` connected to ``sim_module``, disconnected after the test.

The simulator is found as :func:`korvelan380.sim.activate` finds it; set
``KORVELAN380_SIM_LIBRARY`` (and ``KORVELAN380_LIBRARY``) to point at your build if needed.
"""

from __future__ import annotations

from typing import Iterator

import pytest

from . import _library, module as _module
from .errors import KorvelanError
from .module import Module
from .sim import SERIAL_PREFIX, SimModule, Simulator, activate

__all__ = ["korvelan_sim", "sim_module", "korvelan_module", "clean_simulator"]

#: The deviceId of the ``sim_module`` fixture's module.
DEVICE_ID = "7"


def clean_simulator(simulator: Simulator) -> None:
    """Disconnects every module connected through korvelan380 or attached through
    ``simulator``, then resets the simulator."""
    _module.disconnect_all()
    library = _library.loaded_library()
    if library is not None:
        for serial in simulator.attached_serials():
            if serial.startswith(SERIAL_PREFIX):
                try:
                    library.KORVELAN380_DisConnect(serial[len(SERIAL_PREFIX) :].encode("latin-1"))
                except KorvelanError:
                    pass  # not connected
    simulator.reset()


@pytest.fixture
def korvelan_sim() -> Iterator[Simulator]:
    """The activated simulator, clean before and after the test."""
    simulator = activate()
    clean_simulator(simulator)
    try:
        yield simulator
    finally:
        clean_simulator(simulator)


@pytest.fixture
def sim_module(korvelan_sim: Simulator) -> SimModule:
    """The simulated module "7", attached with an ideal calibration."""
    return korvelan_sim.attach(DEVICE_ID)


@pytest.fixture
def korvelan_module(sim_module: SimModule) -> Iterator[Module]:
    """A Module connected to the simulated module "7"."""
    assert sim_module.device_id is not None
    with Module(sim_module.device_id) as connected:
        yield connected
