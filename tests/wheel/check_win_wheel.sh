#!/usr/bin/env bash
# The Windows wheel, cross-built with MinGW-w64:
#   check_win_wheel.sh PYTHON SOURCE_DIR VERSION OBJDUMP
# builds it with the README's command (its own CMake build, from scratch), checks its name,
# contents and metadata, the DLLs' imports, and, on the wheel's files as pip would lay them out,
# that the package's Windows lookup chooses the wheel's own DLLs and refuses a korvelan380.dll
# of another version. There is no Windows Python here to install it into.
set -euo pipefail
python="$1" source="$(cd "$2" && pwd)" version="$3" objdump="$4"
# shellcheck source=SCRIPTDIR/../support/check_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/check_lib.sh"
unset KORVELAN380_LIBRARY KORVELAN380_SIM_LIBRARY KORVELAN380_BUILD_DIR KORVELAN380_WHEEL_CMAKE_DIR
export PYTHONDONTWRITEBYTECODE=1

step "KORVELAN380_WHEEL_PLATFORM=win_amd64 python3 -m build --no-isolation --wheel python/"
KORVELAN380_WHEEL_PLATFORM=win_amd64 KORVELAN380_WHEEL_BUILD_DIR="$work/build" \
  "$python" -m build --no-isolation --wheel --outdir "$work/dist" "$source/python" \
  >"$work/build.log" 2>&1 || { tail -40 "$work/build.log" >&2; fail "the wheel's build"; }
wheel="$work/dist/korvelan380-$version-py3-none-win_amd64.whl"
[ -f "$wheel" ] || fail "no $(basename "$wheel"); built: $(ls "$work/dist")"

step "its contents and metadata"
"$python" "$(dirname "${BASH_SOURCE[0]}")/wheel_contents.py" "$wheel" "$version" \
  py3-none-win_amd64 korvelan380.dll FTD2XX.dll "Classifier: Operating System :: Microsoft :: Windows"

step "the DLLs need only Windows' own DLLs (and the library FTD2XX.dll)"
mkdir "$work/site"
(cd "$work/site" && "$python" -m zipfile -e "$wheel" .)
imports() { "$objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' '; }
[ "$(imports "$work/site/korvelan380/_lib/korvelan380.dll")" = "ftd2xx.dll kernel32.dll msvcrt.dll " ] ||
  fail "korvelan380.dll imports $(imports "$work/site/korvelan380/_lib/korvelan380.dll")"
for dll in sim/FTD2XX.dll capture/FTD2XX.dll; do
  [ "$(imports "$work/site/korvelan380/_lib/$dll")" = "kernel32.dll msvcrt.dll " ] ||
    fail "$dll imports $(imports "$work/site/korvelan380/_lib/$dll")"
done

step "the package's Windows lookup takes the wheel's DLLs, and refuses another version's"
cd "$work" # not the source tree, whose python/ folder holds the package too
PYTHONPATH="$work/site" "$python" - "$work/site/korvelan380" "$version" <<'PY'
import struct, sys
from pathlib import Path
from korvelan380 import _search, _version
from korvelan380.errors import LibraryNotFoundError

package, version = Path(sys.argv[1]), sys.argv[2]
environ = {"PATH": r"C:\Windows\system32;C:\elsewhere"}
origin, chosen = _search.choose(
    _search.library_candidates(environ=environ, package_dir=package, platform="win32"), "dll")
assert (origin, chosen) == ("package", str(package / "_lib" / "korvelan380.dll")), chosen
origin, sim = _search.choose(
    _search.sim_candidates(environ=environ, package_dir=package, platform="win32"), "sim")
assert (origin, sim) == ("package", str(package / "_lib" / "sim" / "FTD2XX.dll")), sim
from korvelan380 import recording
origin, shim = _search.choose(recording.capture_candidates({}, package, "win32"), "shim")
assert (origin, shim) == ("package", str(package / "_lib" / "capture" / "FTD2XX.dll")), shim
_version.check_version(chosen, origin, package_dir=package)  # the wheel's own: accepted

# The same DLL with the version resource of another release: the resource starts three 16-bit
# fields before its key; the fixed part, after the key, holds the signature and then the
# file version.
major, minor, patch = (int(part) for part in version.split("."))
data = bytearray(Path(chosen).read_bytes())
start = data.find("VS_VERSION_INFO".encode("utf-16-le")) - 6
fixed = start + 40
assert start >= 0 and data[fixed:fixed + 4] == bytes.fromhex("bd04effe"), "no version resource"
assert data[fixed + 8:fixed + 16] == struct.pack("<II", major << 16 | minor, patch << 16)
other = f"{major + 1}.{minor}.{patch}"
data[fixed + 8:fixed + 12] = struct.pack("<I", (major + 1) << 16 | minor)
stale = package / "_lib" / "stale" / "korvelan380.dll"
stale.parent.mkdir()
stale.write_bytes(bytes(data))
try:
    _version.check_version(str(stale), "KORVELAN380_LIBRARY", package_dir=package)
except LibraryNotFoundError as error:
    message = str(error)
else:
    sys.exit("a korvelan380.dll of another version was accepted")
for part in [str(stale), other, version, str(package)]:
    assert part in message, f"{part!r} not in: {message}"
print("refused:", message)
PY
echo "the Windows wheel passed"
