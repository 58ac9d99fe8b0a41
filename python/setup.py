"""The wheel's build: CMake builds the library and the simulated module, which go inside the
package as korvelan380/_lib/libkorvelan380.so and korvelan380/_lib/sim/libftd2xx.so; for
Windows (KORVELAN380_WHEEL_PLATFORM=win_amd64, cross-built with MinGW-w64) as
korvelan380/_lib/korvelan380.dll and korvelan380/_lib/sim/FTD2XX.dll. On Linux the open driver
goes beside the library, where the library looks for it, as korvelan380/_lib/libkorvelan380-ftdi.so
(where libftdi1-dev is installed to build it): it needs only Debian's libftdi1-2 at run time, and
without that the library takes FTDI's driver alone.

Environment:
  KORVELAN380_WHEEL_PLATFORM   linux_x86_64 (the default: this machine's) or win_amd64
  KORVELAN380_WHEEL_BUILD_DIR  where the build's files go (default: python/build, or
                               python/build-win_amd64)
  KORVELAN380_WHEEL_CMAKE_DIR  the CMake build to take the two libraries from, configured here
                               if it is not one yet (default: cmake/ in the folder above)
"""

import json
import os
import re
import shutil
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Optional

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

try:
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:  # setuptools before 70.1 has it from the wheel package
    from wheel.bdist_wheel import bdist_wheel

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


@dataclass(frozen=True)
class Platform:
    """What a wheel for one platform carries, and how CMake builds it."""

    tag: Optional[str]  #: the wheel's platform tag; None for this machine's
    library: str  #: the library, below the CMake build, and its name in the package
    library_name: str
    sim: str  #: the simulated module, below the CMake build, and its name in the package
    sim_name: str
    capture: str  #: the recording shim, below the CMake build (named as the driver, sim_name)
    open_driver: Optional[str]  #: the open driver, below the CMake build; None where there is none
    cmake_options: tuple
    classifier: str


PLATFORMS = {
    "linux_x86_64": Platform(
        None, "lib/libkorvelan380.so", "libkorvelan380.so", "sim/libftd2xx.so", "libftd2xx.so",
        "capture/libftd2xx.so", "lib/libkorvelan380-ftdi.so", (),
        "Operating System :: POSIX :: Linux",
    ),
    # Static runtimes (the project's MinGW build links them in): the two DLLs need only
    # Windows' own and, for the library, FTD2XX.dll.
    "win_amd64": Platform(
        "win_amd64", "bin/korvelan380.dll", "korvelan380.dll", "bin/FTD2XX.dll", "FTD2XX.dll",
        "capture/FTD2XX.dll", None,
        (f"-DCMAKE_TOOLCHAIN_FILE={ROOT / 'cmake' / 'mingw-w64-x86_64.cmake'}",),
        "Operating System :: Microsoft :: Windows",
    ),
}  # fmt: skip
PLATFORM_NAME = os.environ.get("KORVELAN380_WHEEL_PLATFORM") or "linux_x86_64"
if PLATFORM_NAME not in PLATFORMS:
    sys.exit(f"KORVELAN380_WHEEL_PLATFORM={PLATFORM_NAME}: not one of {', '.join(PLATFORMS)}")
PLATFORM = PLATFORMS[PLATFORM_NAME]
DEFAULT_BUILD = HERE / ("build" if PLATFORM.tag is None else f"build-{PLATFORM.tag}")
BUILD_DIR = Path(os.environ.get("KORVELAN380_WHEEL_BUILD_DIR") or DEFAULT_BUILD).resolve()
CMAKE_DIR = Path(os.environ.get("KORVELAN380_WHEEL_CMAKE_DIR") or BUILD_DIR / "cmake").resolve()
TARGETS = ("korvelan380", "korvelan380_sim", "korvelan380_capture")


def project_version() -> str:
    if not (ROOT / "src").is_dir():
        sys.exit(
            "the wheel is built from the repository, whose python/ folder this is: "
            "python3 -m build --no-isolation --wheel python/ (there is no sdist)"
        )
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(korvelan380\s+VERSION\s+([0-9.]+)", text)
    if match is None:
        sys.exit(f"no project(korvelan380 VERSION ...) in {ROOT / 'CMakeLists.txt'}")
    return match.group(1)


VERSION = project_version()


def run(*command: str) -> None:
    print("+", " ".join(command), flush=True)
    subprocess.run(command, check=True)


def build_libraries() -> None:
    if not (CMAKE_DIR / "CMakeCache.txt").exists():
        generator = ["-G", "Ninja"] if shutil.which("ninja") else []
        run(
            "cmake", "-S", str(ROOT), "-B", str(CMAKE_DIR), *generator,
            "-DCMAKE_BUILD_TYPE=Release", "-DKORVELAN380_BUILD_TESTS=OFF",
            "-DKORVELAN380_BUILD_EXAMPLES=OFF", "-DKORVELAN380_BUILD_TOOLS=OFF",
            "-DKORVELAN380_BUILD_CAPTURE=ON",
            *PLATFORM.cmake_options,
        )  # fmt: skip
    run("cmake", "--build", str(CMAKE_DIR), "--target", *TARGETS, *open_driver_target())


def open_driver_target() -> tuple:
    """The open driver's target, where the CMake build has one (libftdi1 was found)."""
    cache = (CMAKE_DIR / "CMakeCache.txt").read_text(encoding="utf-8")
    found = PLATFORM.open_driver is not None and "LIBFTDI1_FOUND:INTERNAL=1" in cache
    return ("korvelan380_ftdi",) if found else ()


def file_version(path: Path) -> str:
    """The version the library file carries, read as the package reads it at load."""
    sys.path.insert(0, str(HERE / "korvelan380"))
    try:
        import _native  # the package's own reader, without importing the package
    finally:
        sys.path.pop(0)
    return str(_native.file_version(str(path)))


class BuildWithLibraries(build_py):
    """The package's files, then the two libraries and the record of where they are."""

    def run(self) -> None:
        super().run()
        build_libraries()
        library = (CMAKE_DIR / PLATFORM.library).resolve()
        found = file_version(library)
        if found != VERSION:
            sys.exit(f"{library} is version {found}, not the project's {VERSION}: a stale build?")
        lib = Path(self.build_lib) / "korvelan380" / "_lib"
        (lib / "sim").mkdir(parents=True, exist_ok=True)
        (lib / "capture").mkdir(exist_ok=True)
        # Plain files under plain names: a wheel holds no symbolic links.
        shutil.copyfile(library, lib / PLATFORM.library_name)
        shutil.copyfile(CMAKE_DIR / PLATFORM.sim, lib / "sim" / PLATFORM.sim_name)
        shutil.copyfile(CMAKE_DIR / PLATFORM.capture, lib / "capture" / PLATFORM.sim_name)
        # The driver functions the package checks a driver for: the repository's one list.
        functions = ROOT / "internal" / "d2xx" / "d2xx_functions.inc"
        shutil.copyfile(functions, lib.parent / "d2xx_functions.inc")
        if open_driver_target():
            open_driver = CMAKE_DIR / PLATFORM.open_driver
            shutil.copyfile(open_driver, lib / open_driver.name)
        record = {"version": VERSION, "library_dir": "_lib", "sim_dir": "_lib/sim"}
        (lib.parent / "_install.json").write_text(json.dumps(record) + "\n", encoding="utf-8")


class WithNativeCode(Distribution):
    """Native code inside: the package goes to platlib, the wheel gets a platform tag."""

    def has_ext_modules(self) -> bool:
        return True


class PlatformWheel(bdist_wheel):
    """Any Python 3, no Python ABI (ctypes only), but this platform's native code."""

    def get_tag(self):
        return ("py3", "none", PLATFORM.tag or super().get_tag()[2])


BUILD_DIR.mkdir(parents=True, exist_ok=True)
setup(
    version=VERSION,
    classifiers=[
        "License :: OSI Approved :: MIT License",
        PLATFORM.classifier,
        "Programming Language :: Python :: 3",
        "Framework :: Pytest",
        "Topic :: Scientific/Engineering",
    ],
    packages=["korvelan380"],
    package_data={"korvelan380": ["py.typed"]},
    distclass=WithNativeCode,
    cmdclass={"build_py": BuildWithLibraries, "bdist_wheel": PlatformWheel},
    options={
        "build": {"build_base": str(BUILD_DIR)},
        "egg_info": {"egg_base": str(BUILD_DIR)},
    },
)
