"""korvelan380: control KORVELAN380 USB analog-output modules from Python.

A thin layer over the C library ``libkorvelan380.so`` (through ctypes; standard library only,
numpy optional)::

    import korvelan380
    with korvelan380.connect("7") as m:      # the module with USB serial KORVELAN3807
        m.set_range(0, korvelan380.Range.BIPOLAR_10V)
        m.set_volts(0, 2.5)

Every failure raises a :class:`KorvelanError` subclass. :mod:`korvelan380.sim` runs the same
code against a simulated module, and :mod:`korvelan380.testing` offers pytest fixtures.

The library is loaded at the first connect (or :func:`load_library`) from, in order: the path
given; ``$KORVELAN380_LIBRARY``; ``_lib/`` inside this package; the libdir of the installation
this package belongs to; the build tree (``$KORVELAN380_BUILD_DIR/lib`` or the repository's
``build/lib``); the system loader.
"""

from pathlib import Path as _Path

from ._install import package_version
from ._library import Library, load_library, loaded_library
from ._search import library_candidates
from .recording import capture
from .calibration import calibrate
from .errors import (
    AlreadyConnectedError,
    InvalidArgumentError,
    KorvelanError,
    LibraryNotFoundError,
    NotConnectedError,
    OpenFailedError,
    ReadingRefusedError,
    SimulatorError,
    TransferFailedError,
)
from .module import MAX_SAMPLES, Module, connect, connected_modules, disconnect_all
from .values import (
    CALIBRATION_ENTRIES,
    RAW_MAX,
    RAW_STEPS,
    Calibration,
    DacChannelSettings,
    FifoChannelStatus,
    FifoStatus,
    PairCalibration,
    Range,
    Selection,
)

#: The project's version: recorded at install, or the source tree's.
__version__ = package_version(_Path(__file__).resolve().parent)

__all__ = [
    "AlreadyConnectedError",
    "CALIBRATION_ENTRIES",
    "Calibration",
    "DacChannelSettings",
    "FifoChannelStatus",
    "FifoStatus",
    "InvalidArgumentError",
    "KorvelanError",
    "Library",
    "LibraryNotFoundError",
    "MAX_SAMPLES",
    "Module",
    "NotConnectedError",
    "OpenFailedError",
    "PairCalibration",
    "RAW_MAX",
    "RAW_STEPS",
    "Range",
    "ReadingRefusedError",
    "Selection",
    "SimulatorError",
    "TransferFailedError",
    "calibrate",
    "capture",
    "connect",
    "connected_modules",
    "disconnect_all",
    "library_candidates",
    "load_library",
    "loaded_library",
]
