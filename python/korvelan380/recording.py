"""Capture and replay: every driver call of this process recorded in a capture file, and the
simulated module answering from one.

The capture file's format is described in ``docs/capture-format.md``; ``korvelan380 trace FILE``
decodes one.
"""

import ctypes
import os
import sys
from pathlib import Path
from typing import TYPE_CHECKING, List, Mapping, Optional, Tuple

from ._install import install_record
from ._library import (
    PACKAGE_DIR,
    SIM_FILE,
    _repo_build_dir,
    choose,
    platform_files,
    sim_candidates,
)
from .errors import SimulatorError

if TYPE_CHECKING:
    from .sim import Simulator

__all__ = ["capture", "capture_candidates", "replay_departure", "start_replay"]

SHIM_FILE = SIM_FILE  # the shim stands in for the driver under the driver's own name


def capture_candidates(
    environ: Mapping[str, str] = os.environ,
    package_dir: Path = PACKAGE_DIR,
    platform: str = sys.platform,
) -> List[Tuple[str, str]]:
    """The places the recording shim is looked for, in order: ``KORVELAN380_CAPTURE_LIBRARY``
    (only it); ``_lib/capture/`` inside the package; ``<libdir>/korvelan380/capture/`` of the
    installation (the ZIP's ``capture\\``); the build tree's ``capture/``. On Windows the file is
    ``FTD2XX.dll``."""
    from_env = environ.get("KORVELAN380_CAPTURE_LIBRARY")
    if from_env:
        return [("KORVELAN380_CAPTURE_LIBRARY", from_env)]
    shim_file = platform_files(platform).sim  # under the driver's own name
    candidates = [("package", str(package_dir / "_lib" / "capture" / shim_file))]
    record = install_record(package_dir)
    if record is not None:
        candidates.append(("install prefix", str(record.sim_dir.parent / "capture" / shim_file)))
    build = _repo_build_dir(package_dir, environ) / "capture" / shim_file
    candidates.append(("build tree", str(build)))
    return candidates


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
        SimulatorError: a ``libftd2xx.so`` (``FTD2XX.dll``) is already loaded in this process,
            so the library has bound it or will; or ``sim`` on Windows, where it is not
            available.
        LibraryNotFoundError: the shim was not found.
    """
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
    from .sim import _load_as_driver, _loaded_driver

    if _loaded_driver() is not None:
        raise SimulatorError(
            f"a {SHIM_FILE} is already loaded in this process: call capture() before the first "
            "connect and before korvelan380.sim.activate(), in a fresh process"
        )
    _, shim = choose(capture_candidates(), f"the recording shim {SHIM_FILE}")
    if sim:
        _, driver = choose(sim_candidates(), f"the simulated module's {SIM_FILE}")
    os.environ["KORVELAN380_CAPTURE_FILE"] = os.path.abspath(path)
    if limit is not None:
        os.environ["KORVELAN380_CAPTURE_LIMIT"] = str(limit)
    if driver is not None:
        os.environ["KORVELAN380_CAPTURE_DRIVER"] = os.path.abspath(driver)
    # Loaded as the simulated module is, so that the library, loaded later, binds it.
    _load_as_driver(shim)
    return shim


def start_replay(sim: "Simulator", path: str) -> None:
    """Has the simulated module answer from the capture ``path`` from now on (what
    ``korvelan380.sim.activate(replay=path)`` does).

    Raises:
        SimulatorError: the capture cannot be replayed; the message says why.
    """
    cdll = sim._c
    error = ctypes.create_string_buffer(1024)
    start = cdll.ksim_replay_start
    start.restype = ctypes.c_int
    start.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]
    if start(os.fsencode(path), error, len(error)) != 1:
        raise SimulatorError(error.value.decode("utf-8", "replace"))


def replay_departure(sim: "Simulator", at_end: bool = True) -> Optional[str]:
    """The replay's first departure from its capture ("call 12 departs from the capture ...:
    expected ..., came ..."), or None. With ``at_end``, recorded calls never made count as one:
    ask once the session is over."""
    cdll = sim._c
    departure = cdll.ksim_replay_departure
    departure.restype = ctypes.c_size_t
    departure.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t]
    text = ctypes.create_string_buffer(2048)
    if departure(1 if at_end else 0, text, len(text)) == 0:
        return None
    return text.value.decode("utf-8", "replace")
