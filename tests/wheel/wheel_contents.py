"""A wheel's files and metadata, as each of the two wheels must have them:
    wheel_contents.py WHEEL VERSION TAG LIBRARY DRIVER [METADATA_LINE...]
LIBRARY is the library's file (libkorvelan380.so, korvelan380.dll), with the files beside it after
commas (the open driver, libkorvelan380-ftdi.so), and DRIVER the simulated module's and the
recording shim's (libftd2xx.so, FTD2XX.dll): the wheel's only native files.
METADATA_LINE: a line METADATA must hold beyond those of every wheel. Prints the files."""
import sys
import zipfile

wheel, version, tag, library, driver, *more_metadata = sys.argv[1:]
lib = "korvelan380/_lib"
with zipfile.ZipFile(wheel) as z:
    names = set(z.namelist())
    info = f"korvelan380-{version}.dist-info"
    native = sorted(n for n in names if n.endswith((".dll", ".so", ".pyd", ".exe")))
    metadata = z.read(f"{info}/METADATA").decode().splitlines()
    wheel_info = z.read(f"{info}/WHEEL").decode().splitlines()
    entry_points = z.read(f"{info}/entry_points.txt").decode()
for need in ["korvelan380/__init__.py", "korvelan380/testing.py", "korvelan380/py.typed",
             "korvelan380/_install.json", "korvelan380/d2xx_functions.inc"]:
    assert need in names, f"no {need} in the wheel"
beside = [f"{lib}/{name}" for name in library.split(",")]
expected = sorted([*beside, f"{lib}/sim/{driver}", f"{lib}/capture/{driver}"])
assert native == expected, f"the native files are {native}, not {expected}"
for line in [f"Version: {version}", "Requires-Python: >=3.9", "Provides-Extra: numpy",
             "License: MIT", *more_metadata]:
    assert line in metadata, f"METADATA lacks {line!r}"
for line in ["Root-Is-Purelib: false", f"Tag: {tag}"]:
    assert line in wheel_info, f"WHEEL lacks {line!r}"
assert "[pytest11]" in entry_points and "korvelan380.testing" in entry_points, entry_points
if tag.endswith("win_amd64"):
    assert not [line for line in metadata if "POSIX" in line], "a Windows wheel classified as POSIX"
for name in sorted(names):
    print(" ", name)
