"""What ``cmake --install`` recorded about an installed copy of the package, and its version.

An installed package holds ``_install.json`` beside its files: the project's version, and
where the library and the simulated module were installed, relative to the package's folder,
so the record holds for any prefix the copy ends up under. The package in the source tree has
no record; its version is then the project's, read from the repository's CMakeLists.txt.
"""

from __future__ import annotations

import json
import os
import re
from dataclasses import dataclass
from pathlib import Path
from typing import Optional

RECORD_FILE = "_install.json"


@dataclass(frozen=True)
class InstallRecord:
    version: str
    library_dir: Path  #: the folder of libkorvelan380.so
    sim_dir: Path  #: the folder of the simulated module's libftd2xx.so


def _resolve(package_dir: Path, relative: str) -> Path:
    return Path(os.path.normpath(package_dir / relative))


def install_record(package_dir: Path) -> Optional[InstallRecord]:
    """The record beside the package's files, or None when there is none (or it is not one)."""
    try:
        data = json.loads((package_dir / RECORD_FILE).read_text(encoding="utf-8"))
        return InstallRecord(
            str(data["version"]),
            _resolve(package_dir, data["library_dir"]),
            _resolve(package_dir, data["sim_dir"]),
        )
    except (OSError, ValueError, KeyError, TypeError):
        return None


def package_version(package_dir: Path) -> str:
    """The installed copy's recorded version; in the source tree, the project's."""
    record = install_record(package_dir)
    if record is not None:
        return record.version
    try:
        cmake = (package_dir.parent.parent / "CMakeLists.txt").read_text(encoding="utf-8")
    except OSError:
        return "unknown"
    match = re.search(r"project\(korvelan380\s+VERSION\s+([0-9.]+)", cmake)
    return match.group(1) if match else "unknown"
