"""Where the package looks for its native files: the library, the simulated module and the
recording shim, in the package, in the installation it belongs to and in the build tree.

Each search gives (origin, path) pairs in order; :func:`choose` takes the one to load. Nothing
here loads a file.
"""

from __future__ import annotations

import ntpath
import os
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import List, Mapping, Optional, Tuple

from ._install import install_record
from .errors import LibraryNotFoundError

__all__ = [
    "PACKAGE_DIR",
    "LIBRARY_FILE",
    "DRIVER_FILE",
    "PlatformFiles",
    "platform_files",
    "dll_directories",
    "library_candidates",
    "sim_candidates",
    "capture_candidates",
    "choose",
]

PACKAGE_DIR = Path(__file__).resolve().parent

Candidates = List[Tuple[str, str]]


@dataclass(frozen=True)
class PlatformFiles:
    """What the library and the driver are called on a platform, and where a build tree keeps
    them. The simulated module and the recording shim take the driver's name, so that the
    library binds them in its place."""

    library: str
    driver: str
    build_library_dir: str  #: below the build folder
    build_sim_dir: str
    path_separator: str  #: between the folders of PATH


_WINDOWS = PlatformFiles("korvelan380.dll", "FTD2XX.dll", "bin", "bin", ";")
_POSIX = PlatformFiles("libkorvelan380.so", "libftd2xx.so", "lib", "sim", ":")


def platform_files(platform: str = sys.platform) -> PlatformFiles:
    return _WINDOWS if platform == "win32" else _POSIX


LIBRARY_FILE = platform_files().library
DRIVER_FILE = platform_files().driver


def dll_directories(path: str, platform: str = sys.platform) -> List[str]:
    """The folders to add to Windows' search for the imports of the DLL at ``path``: its own
    folder, where FTD2XX.dll may have been put beside it. None for a bare name, which the
    loader looks for itself, and none outside Windows."""
    if platform != "win32" or not ntpath.isabs(path):
        return []
    return [ntpath.dirname(path)]


def _install_lib_dir(package_dir: Path, platform: str) -> Optional[Path]:
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


def _build_dir(package_dir: Path, environ: Mapping[str, str]) -> Path:
    build = environ.get("KORVELAN380_BUILD_DIR")
    if build:
        return Path(os.path.abspath(build))
    return package_dir.parent.parent / "build"  # python/korvelan380 -> the repository


def _given(path: Optional[str], environ: Mapping[str, str], variable: str) -> Candidates:
    """The one file a caller named, by argument or else by environment variable: when there is
    one, it is the only candidate."""
    if path is not None:
        return [("argument", os.fspath(path))]
    from_env = environ.get(variable)
    return [(variable, from_env)] if from_env else []


def library_candidates(
    path: Optional[str] = None,
    environ: Mapping[str, str] = os.environ,
    package_dir: Path = PACKAGE_DIR,
    platform: str = sys.platform,
) -> Candidates:
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
    given = _given(path, environ, "KORVELAN380_LIBRARY")
    if given:
        return given
    files = platform_files(platform)
    candidates = [("package", str(package_dir / "_lib" / files.library))]
    lib_dir = _install_lib_dir(package_dir, platform)
    if lib_dir is not None and lib_dir != package_dir / "_lib":  # a wheel records its _lib
        candidates.append(("install prefix", str(lib_dir / files.library)))
    build = _build_dir(package_dir, environ)
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
) -> Candidates:
    """The places the simulated module's ``libftd2xx.so`` is looked for, in order.

    ``path``; ``KORVELAN380_SIM_LIBRARY``; ``_lib/sim/`` inside the package; where
    ``cmake --install`` put it (``<libdir>/korvelan380/sim/``, from the package's
    ``_install.json``), else ``<prefix>/lib/korvelan380/sim/``; the build tree's ``sim/``. Never
    the system loader, which would find the vendor's driver. On Windows the file is
    ``FTD2XX.dll``: in ``_lib\\sim\\``, in the installation's ``sim\\`` as recorded, and in the
    build tree's ``bin\\``; never on ``PATH``.
    """
    given = _given(path, environ, "KORVELAN380_SIM_LIBRARY")
    if given:
        return given
    files = platform_files(platform)
    candidates = [("package", str(package_dir / "_lib" / "sim" / files.driver))]
    record = install_record(package_dir)
    if record is not None:
        if record.sim_dir != package_dir / "_lib" / "sim":
            candidates.append(("install prefix", str(record.sim_dir / files.driver)))
    else:
        # Copied by hand: the layout cmake --install gives by default.
        lib_dir = _install_lib_dir(package_dir, platform)
        if lib_dir is not None:
            sim_file = lib_dir / "korvelan380" / "sim" / files.driver
            candidates.append(("install prefix", str(sim_file)))
    build = _build_dir(package_dir, environ)
    candidates.append(("build tree", str(build / files.build_sim_dir / files.driver)))
    return candidates


def capture_candidates(
    environ: Mapping[str, str] = os.environ,
    package_dir: Path = PACKAGE_DIR,
    platform: str = sys.platform,
) -> Candidates:
    """The places the recording shim is looked for, in order: ``KORVELAN380_CAPTURE_LIBRARY``
    (only it); ``_lib/capture/`` inside the package; ``<libdir>/korvelan380/capture/`` of the
    installation (the ZIP's ``capture\\``); the build tree's ``capture/``. On Windows the file is
    ``FTD2XX.dll``."""
    given = _given(None, environ, "KORVELAN380_CAPTURE_LIBRARY")
    if given:
        return given
    shim_file = platform_files(platform).driver
    candidates = [("package", str(package_dir / "_lib" / "capture" / shim_file))]
    record = install_record(package_dir)
    if record is not None:
        candidates.append(("install prefix", str(record.sim_dir.parent / "capture" / shim_file)))
    build = _build_dir(package_dir, environ) / "capture" / shim_file
    candidates.append(("build tree", str(build)))
    return candidates


#: The origins of a search's own places, as against a file the caller named.
_SEARCHED = ("package", "install prefix", "build tree", "PATH", "system")


def choose(candidates: Candidates, what: str) -> Tuple[str, str]:
    """The first candidate to load: an explicit one as it is, otherwise the first file that
    exists, otherwise the first name for the system loader."""
    origin, first = candidates[0]
    if origin not in _SEARCHED:
        if not os.path.exists(first):
            raise LibraryNotFoundError(f"{what} not found: {first} (from {origin})")
        return origin, first
    for origin, candidate in candidates:
        if origin == "system" or os.path.exists(candidate):
            return origin, candidate
    tried = "; ".join(f"{c} ({o})" for o, c in candidates)
    raise LibraryNotFoundError(f"{what} not found; tried {tried}")
