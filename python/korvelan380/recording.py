"""Capture and replay: every driver call of this process recorded in a capture file, and the
simulated module answering from one.

The capture file's format is described in ``docs/capture-format.md``; ``korvelan380 trace FILE``
decodes one.
"""

from __future__ import annotations

import os
import sys
from typing import TYPE_CHECKING, Optional

from ._driver import DRIVER_FILE, bound_driver, is_open_backend, load_as_driver, loaded_driver
from ._search import capture_candidates, choose, sim_candidates
from .errors import SimulatorError

if TYPE_CHECKING:
    from .sim import Simulator

__all__ = ["capture", "capture_candidates", "replay_departure", "start_replay"]

SHIM_FILE = DRIVER_FILE  # the shim stands in for the driver under the driver's own name


def _check_capture_arguments(limit: Optional[int], driver: Optional[str], sim: bool) -> None:
    if limit is not None and limit <= 0:
        raise ValueError(f"limit must be a positive number of bytes, not {limit}")
    if sim and driver is not None:
        raise ValueError("capture() forwards to driver or to the simulated module, not both")
    if sim and sys.platform == "win32":
        # The Windows shim does not say where it forwards, so sim.activate() could not find
        # the simulator behind it.
        raise SimulatorError(
            "capture(sim=True) is not available on Windows: record the simulated module with "
            "'korvelan380.exe --sim --capture FILE COMMAND'"
        )


def capture(
    path: str, limit: Optional[int] = None, driver: Optional[str] = None, sim: bool = False
) -> str:
    """Records every driver call of this process in the capture file ``path``.

    Call it before the first connect: it puts the recording shim in front of the driver, and the
    library binds its driver once per process. The shim forwards to the vendor's driver from its
    usual places (``/usr/local/lib/libftd2xx.so`` and the like; on Windows ``FTD2XX.dll`` in the
    system folder), or to ``driver`` when given.
    ``limit`` keeps the file under that many bytes by dropping the oldest calls. With ``sim``,
    it forwards to the simulated module, found as :func:`korvelan380.sim.activate` finds it;
    ``sim.activate()`` then gives its control, as it does without a capture.

    Returns the shim's path.

    Raises:
        SimulatorError: a ``libftd2xx.so`` (``FTD2XX.dll``), or the open driver, is already
            loaded in this process, so the library has bound it or will; or ``sim`` on Windows,
            where it is not available.
        LibraryNotFoundError: the shim was not found.
    """
    _check_capture_arguments(limit, driver, sim)
    bound = bound_driver()
    if bound is not None and is_open_backend(bound):
        raise SimulatorError(
            "the library has bound its open driver already: call capture() before the first "
            "connect, in a fresh process"
        )
    if loaded_driver() is not None:
        raise SimulatorError(
            f"a {SHIM_FILE} is already loaded in this process: call capture() before the first "
            "connect and before korvelan380.sim.activate(), in a fresh process"
        )
    _, shim = choose(capture_candidates(), f"the recording shim {SHIM_FILE}")
    if sim:
        _, driver = choose(sim_candidates(), f"the simulated module's {DRIVER_FILE}")
    # The shim reads where to write, and where to forward, from the environment when loaded.
    os.environ["KORVELAN380_CAPTURE_FILE"] = os.path.abspath(path)
    if limit is not None:
        os.environ["KORVELAN380_CAPTURE_LIMIT"] = str(limit)
    if driver is not None:
        os.environ["KORVELAN380_CAPTURE_DRIVER"] = os.path.abspath(driver)
    # Loaded as the simulated module is, so that the library, loaded later, binds it.
    load_as_driver(shim)
    return shim


def start_replay(sim: Simulator, path: str) -> None:
    """Has the simulated module answer from the capture ``path`` from now on (what
    ``korvelan380.sim.activate(replay=path)`` does); the same as ``sim.start_replay(path)``.

    Raises:
        SimulatorError: the capture cannot be replayed; the message says why.
    """
    sim.start_replay(path)


def replay_departure(sim: Simulator, at_end: bool = True) -> Optional[str]:
    """The replay's first departure from its capture ("call 12 departs from the capture ...:
    expected ..., came ..."), or None. With ``at_end``, recorded calls never made count as one:
    ask once the session is over. The same as ``sim.replay_departure(at_end)``."""
    return sim.replay_departure(at_end)
