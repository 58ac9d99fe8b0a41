"""The version check at load: the exports' prototypes are the package's version's, so a library
of another version is refused rather than called with the wrong ones."""

from __future__ import annotations

from pathlib import Path

from ._install import package_version
from ._native import file_version
from ._search import PACKAGE_DIR
from .errors import LibraryNotFoundError

__all__ = ["check_version"]


def check_version(path: str, origin: str, package_dir: Path = PACKAGE_DIR) -> None:
    """Refuses a library file whose version is not the package's. A version that cannot be
    told (a library built without its version note, under a plain name) is not held against
    it."""
    expected = package_version(package_dir)
    found = file_version(path)
    if found is None or expected == "unknown" or found == expected:
        return
    raise LibraryNotFoundError(
        f"{path} (from {origin}) is korvelan380 {found}, but the Python package {package_dir} "
        f"is korvelan380 {expected}: use the library of the package's version (a wheel carries "
        "its own), or the package of the library's"
    )
