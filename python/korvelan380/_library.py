"""Finding and loading libkorvelan380, with every function's prototype set once at load."""

from __future__ import annotations

import ctypes
import ctypes.util
import ntpath
import os
import sys
import threading
from dataclasses import dataclass
from ctypes import POINTER, c_char_p, c_int32, c_uint8, c_uint16, c_uint32, c_void_p
from pathlib import Path
from typing import TYPE_CHECKING, Callable, Dict, List, Mapping, Optional, Sequence, Tuple

from ._driver import open_failed_detail
from ._install import install_record, package_version
from ._native import file_version, loaded_path
from .errors import LibraryNotFoundError, OpenFailedError, error_for_status

__all__ = ["Library", "load_library", "loaded_library", "library_candidates", "sim_candidates"]

PACKAGE_DIR = Path(__file__).resolve().parent


@dataclass(frozen=True)
class PlatformFiles:
    """What the library and the simulated module are called on a platform, and where a build
    tree keeps the library."""

    library: str
    sim: str
    build_library_dir: str  #: below the build folder
    build_sim_dir: str
    path_separator: str  #: between the folders of PATH


_WINDOWS = PlatformFiles("korvelan380.dll", "FTD2XX.dll", "bin", "bin", ";")
_POSIX = PlatformFiles("libkorvelan380.so", "libftd2xx.so", "lib", "sim", ":")


def platform_files(platform: str = sys.platform) -> PlatformFiles:
    return _WINDOWS if platform == "win32" else _POSIX


LIBRARY_FILE = platform_files().library
SIM_FILE = platform_files().sim
if sys.platform == "win32":
    _NO_CALIBED_R_SYMBOL = "?KORVELAN380_DacValSet_NoCalibed_R@@YAKPEBDEPEAG@Z"
else:
    _NO_CALIBED_R_SYMBOL = "_Z33KORVELAN380_DacValSet_NoCalibed_RPKchPt"

#: Number of entries in the calibration tables: entry channel * 7 + rangeIndex.
CALIBRATION_ENTRIES = 14


class DacChannelSettingsStruct(ctypes.Structure):
    """The C struct DacChannelSettings (12 bytes)."""

    _fields_ = [
        ("mode", c_uint8),
        ("selectA", c_uint8),
        ("selectB", c_uint8),
        ("switchA", c_uint8),
        ("switchB", c_uint8),
        ("reserved", c_uint8),
        ("presetEnable", c_uint8),
        ("presetValue", c_uint16),
        ("modeParameter", c_uint16),
    ]


class CalibrationGainsStruct(ctypes.Structure):
    _fields_ = [("gain", ctypes.c_float * CALIBRATION_ENTRIES)]


class CalibrationOffsetsStruct(ctypes.Structure):
    _fields_ = [("offset", c_uint16 * CALIBRATION_ENTRIES)]


_P8 = POINTER(c_uint8)
_P16 = POINTER(c_uint16)
_P32 = POINTER(c_uint32)
_S = c_char_p  # deviceId

# Every export's parameters, by its name in the header. All return a 32-bit status.
_PROTOTYPES: Dict[str, Tuple[object, ...]] = {
    "KORVELAN380_Connect": (_S,),
    "KORVELAN380_DisConnect": (_S,),
    "KORVELAN380_Calib_Val_Set": (
        _S,
        POINTER(CalibrationOffsetsStruct),
        POINTER(CalibrationGainsStruct),
        c_uint8,
    ),
    "KORVELAN380_Calib_Val_Get": (
        _S,
        POINTER(CalibrationOffsetsStruct),
        POINTER(CalibrationGainsStruct),
    ),
    "KORVELANGetCalibedVal": (_S, c_uint8, c_uint8, c_uint16, _P16),
    "KORVELANGetRawValFromCalibed": (_S, c_uint8, c_uint8, c_uint16, _P16),
    "KORVELAN380_Dio_Dir": (_S, c_uint8),
    "KORVELAN380_Dio_Dir_R": (_S, _P8),
    "KORVELAN380_Dio_Out": (_S, c_uint8),
    "KORVELAN380_Dio_Out_R": (_S, _P8),
    "KORVELAN380_Dio_In": (_S, _P8),
    "KORVELAN380_DacChSet": (_S, c_uint8, POINTER(DacChannelSettingsStruct)),
    "KORVELAN380_DacChSet_R": (_S, c_uint8, POINTER(DacChannelSettingsStruct)),
    "KORVELAN380_RangeSet": (_S, c_uint8, c_uint8),
    "KORVELAN380_RangeSet_R": (_S, c_uint8, _P8),
    "KORVELAN380_DacValSet": (_S, c_uint8, c_uint16),
    "KORVELAN380_DacValSet_R": (_S, c_uint8, _P16),
    "KORVELAN380_DacValSet_NoCalibed": (_S, c_uint8, c_uint16),
    "KORVELAN380_DacValSet_NoCalibed_R": (_S, c_uint8, _P16),
    "KORVELAN380_WavImgSet": (_S, c_uint8, c_void_p, c_int32),
    "KORVELAN380_Fifo_ImgSet": (_S, c_uint8, c_void_p, c_int32),
    "KORVELAN380_Fifo_Clr": (_S, c_uint8),
    "KORVELAN380_Fifo_Status": (_S, _P8, _P8, _P32),
    "KORVELAN380_Trigger": (_S, c_uint8, c_uint8),
    "KORVELAN380_Trigger_Stat": (_S, c_uint8, _P8),
    "KORVELAN380_GateSet": (_S, c_uint8, c_uint8),
    "KORVELAN380_GateSet_R": (_S, c_uint8, _P8),
    "KORVELAN380_Exs_Sel": (_S, c_uint8, c_uint8),
    "KORVELAN380_Exs_Sel_R": (_S, _P8, _P8),
    "KORVELAN380_Clock_Gen": (_S, c_uint8, c_uint32),
    "KORVELAN380_EXIO_Sel": (_S, c_uint8, c_uint8),
    "KORVELAN380_EXIO_Sel_R": (_S, _P8, _P8),
    "KORVELAN380_EXIO_In": (_S, _P8),
}

# Exports whose symbol is not their name: the one with C++ linkage.
_SYMBOLS: Dict[str, str] = {"KORVELAN380_DacValSet_NoCalibed_R": _NO_CALIBED_R_SYMBOL}


def _status_check(export: str) -> Callable[..., int]:
    """The errcheck of one export: a nonzero status becomes its exception."""

    def check(status: int, _function: object, args: Sequence[object]) -> int:
        if status != 0:
            device = args[0]
            name = device.decode("latin-1") if isinstance(device, bytes) else None
            detail = None
            if status == OpenFailedError.code and export == "KORVELAN380_Connect":
                detail = open_failed_detail(name)
            raise error_for_status(status, export, name, detail)
        return status

    return check


class Library:
    """libkorvelan380, loaded, with every export's prototype set.

    Each export is an attribute under its header name (``lib.KORVELAN380_DacValSet``); a call
    returns 0 or raises the :class:`~korvelan380.KorvelanError` for its status. Calls release
    the GIL, so calls from several threads run at once (calls on one module one at a time).
    """

    def __init__(self, path: str, origin: str) -> None:
        self.path = path
        self.origin = origin
        # Windows looks for the DLL's own imports in the folders of dll_directories (kept open
        # while the library is loaded).
        self._dll_directories = [
            os.add_dll_directory(folder)  # type: ignore[attr-defined]
            for folder in dll_directories(path)
        ]
        self._cdll = ctypes.CDLL(path)
        missing = []
        for export, argtypes in _PROTOTYPES.items():
            try:
                function = getattr(self._cdll, _SYMBOLS.get(export, export))
            except AttributeError:
                missing.append(export)
                continue
            function.argtypes = argtypes
            function.restype = c_uint32
            function.errcheck = _status_check(export)
            setattr(self, export, function)
        if missing:
            raise LibraryNotFoundError(
                f"{path} is not a usable korvelan380 library: it lacks {', '.join(missing)}"
            )

    def __repr__(self) -> str:
        return f"<korvelan380.Library {self.path!r} ({self.origin})>"

    if TYPE_CHECKING:  # the exports, set in __init__

        def __getattr__(self, export: str) -> Callable[..., int]:
            ...


def dll_directories(path: str, platform: str = sys.platform) -> List[str]:
    """The folders to add to Windows' search for the imports of the DLL at ``path``: its own
    folder, where FTD2XX.dll may have been put beside it. None for a bare name, which the
    loader looks for itself, and none outside Windows."""
    if platform != "win32" or not ntpath.isabs(path):
        return []
    return [ntpath.dirname(path)]


def _install_lib_dir(package_dir: Path, platform: str = sys.platform) -> Optional[Path]:
    """The libdir of the installation the package belongs to: as ``cmake --install`` recorded
    it; else, outside Windows, for a package copied by hand into
    ``<prefix>/lib/python3.X/site-packages`` (or ``dist-packages``, or ``lib/python3/...``),
    ``<prefix>/lib``."""
    record = install_record(package_dir)
    if record is not None:
        return record.library_dir
    if platform == "win32":
        return None
    packages = package_dir.parent
    if packages.name not in ("site-packages", "dist-packages"):
        return None
    python = packages.parent
    if not python.name.startswith("python"):
        return None
    return python.parent


def _repo_build_dir(package_dir: Path, environ: Mapping[str, str]) -> Path:
    build = environ.get("KORVELAN380_BUILD_DIR")
    if build:
        return Path(os.path.abspath(build))
    return package_dir.parent.parent / "build"  # python/korvelan380 -> the repository


def library_candidates(
    path: Optional[str] = None,
    environ: Mapping[str, str] = os.environ,
    package_dir: Path = PACKAGE_DIR,
    platform: str = sys.platform,
) -> List[Tuple[str, str]]:
    """The places the library is looked for, in order, as (origin, path) pairs.

    1. ``path``, when given (only it is tried);
    2. the environment variable ``KORVELAN380_LIBRARY``, when set (only it is tried);
    3. ``_lib/`` inside the installed package;
    4. where ``cmake --install`` put the library (the package's ``_install.json``: the prefix's
       libdir, ``lib/`` or Debian's ``lib/<multiarch>/``); for a package copied by hand under
       ``<prefix>/lib/python3.X/{site,dist}-packages``, the prefix's ``lib/`` directory;
    5. the build tree: ``$KORVELAN380_BUILD_DIR/lib``, else ``build/lib`` of the repository;
    6. the system loader: the bare file name (``LD_LIBRARY_PATH``, the loader's cache, the
       system directories), then what ``ctypes.util.find_library`` finds.

    The first five are files; the last is a name for the loader (origin "system").

    On Windows (``platform`` "win32") the file is ``korvelan380.dll``; an installation is the
    one ``_install.json`` records (the ZIP's ``bin\\``); the build tree keeps it in ``bin\\``;
    and in place of the system loader, which Python no longer lets search ``PATH``, come the
    folders of ``PATH`` in order (origin "PATH").
    """
    if path is not None:
        return [("argument", os.fspath(path))]
    from_env = environ.get("KORVELAN380_LIBRARY")
    if from_env:
        return [("KORVELAN380_LIBRARY", from_env)]
    files = platform_files(platform)
    candidates = [("package", str(package_dir / "_lib" / files.library))]
    lib_dir = _install_lib_dir(package_dir, platform)
    if lib_dir is not None and lib_dir != package_dir / "_lib":  # a wheel records its _lib
        candidates.append(("install prefix", str(lib_dir / files.library)))
    build = _repo_build_dir(package_dir, environ)
    candidates.append(("build tree", str(build / files.build_library_dir / files.library)))
    if platform != "win32":
        candidates.append(("system", files.library))
        return candidates
    for folder in environ.get("PATH", "").split(files.path_separator):
        if folder.strip():
            candidates.append(("PATH", ntpath.join(folder.strip(), files.library)))
    return candidates


def sim_candidates(
    path: Optional[str] = None,
    environ: Mapping[str, str] = os.environ,
    package_dir: Path = PACKAGE_DIR,
    platform: str = sys.platform,
) -> List[Tuple[str, str]]:
    """The places the simulated module's ``libftd2xx.so`` is looked for, in order.

    ``path``; ``KORVELAN380_SIM_LIBRARY``; ``_lib/sim/`` inside the package; where
    ``cmake --install`` put it (``<libdir>/korvelan380/sim/``, from the package's
    ``_install.json``), else ``<prefix>/lib/korvelan380/sim/``; the build tree's ``sim/``. Never
    the system loader, which would find the vendor's driver. On Windows the file is
    ``FTD2XX.dll``: in ``_lib\\sim\\``, in the installation's ``sim\\`` as recorded, and in the
    build tree's ``bin\\``; never on ``PATH``.
    """
    if path is not None:
        return [("argument", os.fspath(path))]
    from_env = environ.get("KORVELAN380_SIM_LIBRARY")
    if from_env:
        return [("KORVELAN380_SIM_LIBRARY", from_env)]
    files = platform_files(platform)
    candidates = [("package", str(package_dir / "_lib" / "sim" / files.sim))]
    record = install_record(package_dir)
    if record is not None:
        if record.sim_dir != package_dir / "_lib" / "sim":
            candidates.append(("install prefix", str(record.sim_dir / files.sim)))
    else:
        # Copied by hand: the layout cmake --install gives by default.
        lib_dir = _install_lib_dir(package_dir, platform)
        if lib_dir is not None:
            sim_file = lib_dir / "korvelan380" / "sim" / files.sim
            candidates.append(("install prefix", str(sim_file)))
    build = _repo_build_dir(package_dir, environ)
    candidates.append(("build tree", str(build / files.build_sim_dir / files.sim)))
    return candidates


def choose(candidates: List[Tuple[str, str]], what: str) -> Tuple[str, str]:
    """The first candidate to load: an explicit one as it is, otherwise the first file that
    exists, otherwise the first name for the system loader."""
    origin, first = candidates[0]
    if origin not in ("package", "install prefix", "build tree", "PATH", "system"):
        if not os.path.exists(first):
            raise LibraryNotFoundError(f"{what} not found: {first} (from {origin})")
        return origin, first
    for origin, candidate in candidates:
        if origin == "system" or os.path.exists(candidate):
            return origin, candidate
    tried = "; ".join(f"{c} ({o})" for o, c in candidates)
    raise LibraryNotFoundError(f"{what} not found; tried {tried}")


_lock = threading.Lock()
_loaded: Optional[Library] = None


def load_library(path: Optional[str] = None) -> Library:
    """Loads libkorvelan380 once per process and returns it.

    ``path`` names the file to load; without it the places of :func:`library_candidates` are
    tried in order. Once loaded, later calls return the same library; asking for another file
    then raises ``RuntimeError``. A library of another version than the package's raises
    :class:`LibraryNotFoundError` (see :func:`check_version`).
    """
    global _loaded
    with _lock:
        if _loaded is not None:
            if path is not None and os.path.realpath(path) != os.path.realpath(_loaded.path):
                raise RuntimeError(
                    f"korvelan380 already loaded {_loaded.path}; one library serves a process"
                )
            return _loaded
        candidates = library_candidates(path)
        origin, chosen = choose(candidates, LIBRARY_FILE)
        if origin != "system":
            check_version(chosen, origin)
            _loaded = Library(chosen, origin)
            return _loaded
        library = _load_from_system(candidates)
        check_version(loaded_path(library._cdll) or library.path, origin)
        _loaded = library
        return _loaded


def check_version(path: str, origin: str, package_dir: Path = PACKAGE_DIR) -> None:
    """Refuses a library file whose version is not the package's: the exports' prototypes
    are the package's version's. A version that cannot be told (a library built without its
    version note, under a plain name) is not held against it."""
    expected = package_version(package_dir)
    found = file_version(path)
    if found is None or expected == "unknown" or found == expected:
        return
    raise LibraryNotFoundError(
        f"{path} (from {origin}) is korvelan380 {found}, but the Python package {package_dir} "
        f"is korvelan380 {expected}: use the library of the package's version (a wheel carries "
        "its own), or the package of the library's"
    )


def _load_from_system(candidates: List[Tuple[str, str]]) -> Library:
    """The library as the system loader finds it: by its file name, else by find_library."""
    try:
        return Library(LIBRARY_FILE, "system")
    except LibraryNotFoundError:
        raise
    except OSError as error:
        first_error = error
    found = ctypes.util.find_library("korvelan380")
    if found:
        return Library(found, "system")
    tried = "; ".join(f"{c} ({o})" for o, c in candidates)
    raise LibraryNotFoundError(
        f"{LIBRARY_FILE} not found; tried {tried} and find_library"
    ) from first_error


def loaded_library() -> Optional[Library]:
    """The library if it has been loaded in this process, else None."""
    return _loaded
