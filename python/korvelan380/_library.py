"""Loading libkorvelan380: found as :mod:`._search` says, its version checked, every export's
prototype set, once per process."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
from ctypes import c_uint32
from typing import TYPE_CHECKING, Callable, Optional, Sequence

from ._diagnosis import open_failed_detail
from ._native import loaded_path
from ._once import LoadedOnce
from ._prototypes import OPTIONAL_EXPORTS, PROTOTYPES, symbol
from ._search import LIBRARY_FILE, Candidates, choose, dll_directories, library_candidates
from ._version import check_version
from .errors import LibraryNotFoundError, OpenFailedError, error_for_status

__all__ = ["Library", "load_library", "loaded_library"]


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
    returns 0 or raises the :class:`~korvelan380.KorvelanError` for its status. An export of
    ``OPTIONAL_EXPORTS`` that the file lacks is no attribute. Calls release
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
        missing = [
            export
            for export in PROTOTYPES
            if not self._bind(export) and export not in OPTIONAL_EXPORTS
        ]
        if missing:
            raise LibraryNotFoundError(
                f"{path} is not a usable korvelan380 library: it lacks {', '.join(missing)}"
            )

    def _bind(self, export: str) -> bool:
        """Sets ``export`` up as an attribute; False when the file lacks it."""
        try:
            function = getattr(self._cdll, symbol(export))
        except AttributeError:
            return False
        function.argtypes = PROTOTYPES[export]
        function.restype = c_uint32
        function.errcheck = _status_check(export)
        setattr(self, export, function)
        return True

    def __repr__(self) -> str:
        return f"<korvelan380.Library {self.path!r} ({self.origin})>"

    if TYPE_CHECKING:  # the exports, set in __init__

        def __getattr__(self, export: str) -> Callable[..., int]:
            ...


def _load_from_system(candidates: Candidates) -> Library:
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


def _load(path: Optional[str]) -> Library:
    candidates = library_candidates(path)
    origin, chosen = choose(candidates, LIBRARY_FILE)
    if origin != "system":
        check_version(chosen, origin)
        return Library(chosen, origin)
    # A name for the loader: which file it is shows only once loaded.
    library = _load_from_system(candidates)
    check_version(loaded_path(library._cdll) or library.path, origin)
    return library


def _another_library(loaded: str) -> Exception:
    return RuntimeError(f"korvelan380 already loaded {loaded}; one library serves a process")


_library: LoadedOnce[Library] = LoadedOnce()


def load_library(path: Optional[str] = None) -> Library:
    """Loads libkorvelan380 once per process and returns it.

    ``path`` names the file to load; without it the places of
    :func:`~korvelan380.library_candidates` are tried in order. Once loaded, later calls return
    the same library; asking for another file then raises ``RuntimeError``. A library of
    another version than the package's raises :class:`LibraryNotFoundError`.
    """
    return _library.get(path, lambda: _load(path), _another_library)


def loaded_library() -> Optional[Library]:
    """The library if it has been loaded in this process, else None."""
    return _library.value
