#!/usr/bin/env bash
# The wheel, as its users meet it:
#   check_wheel.sh PYTHON SOURCE_DIR VERSION
# builds it with the README's command (its own CMake build, from scratch), checks its name,
# contents and metadata, installs it with pip --no-index into a fresh venv, and there runs the
# quick start with the bundled simulated module, a user's test suite that gets the fixtures from
# the plugin alone, and a library of another version, which must be refused.
set -euo pipefail
python="$1" source="$(cd "$2" && pwd)" version="$3"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=SCRIPTDIR/../support/check_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/check_lib.sh"
# Nothing from the caller's environment may point at the build tree.
unset KORVELAN380_LIBRARY KORVELAN380_SIM_LIBRARY KORVELAN380_BUILD_DIR LD_LIBRARY_PATH PYTHONPATH \
  KORVELAN380_WHEEL_CMAKE_DIR PYTEST_DISABLE_PLUGIN_AUTOLOAD PYTEST_PLUGINS
export PYTHONDONTWRITEBYTECODE=1 PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1

untracked() {
  git -C "$source" status --porcelain --ignored -- python 2>/dev/null | grep -E '^(\?\?|!!)' |
    grep -v __pycache__ || true
}
before="$(untracked)"

step "python3 -m build --no-isolation --wheel python/"
KORVELAN380_WHEEL_BUILD_DIR="$work/build" \
  "$python" -m build --no-isolation --wheel --outdir "$work/dist" "$source/python" \
  >"$work/build.log" 2>&1 || { tail -40 "$work/build.log" >&2; fail "the wheel's build"; }
wheel="$work/dist/korvelan380-$version-py3-none-linux_x86_64.whl"
[ -f "$wheel" ] || fail "no $(basename "$wheel"); built: $(ls "$work/dist")"
[ "$(untracked)" = "$before" ] || fail "the build left files in the source tree: $(untracked)"

step "its contents and metadata"
# The open driver beside the library, where libftdi1 was there to build it.
libraries=libkorvelan380.so
if pkg-config --exists libftdi1; then libraries+=,libkorvelan380-ftdi.so; fi
"$python" "$here/wheel_contents.py" "$wheel" "$version" py3-none-linux_x86_64 "$libraries" \
  libftd2xx.so

step "pip install --no-index into a fresh venv"
# Debian's pytest and numpy from the system's packages; korvelan380 only from the wheel.
"$python" -m venv --system-site-packages "$work/venv"
venv="$work/venv/bin/python"
"$venv" -m pip install -q --no-index "$wheel" || fail "pip install"
cd "$work" # not the source tree, whose python/ folder holds the package too

step "the quick start, with the bundled simulated module"
"$venv" - "$work/venv" "$version" <<'PY'
import sys
import korvelan380
from korvelan380 import sim

venv, version = sys.argv[1:]
simulator = sim.activate()
module = simulator.attach("7")
module.set_dio_input(0xA5)
with korvelan380.connect("7") as m:
    m.set_range(0, korvelan380.Range.UNIPOLAR_10V)
    m.set_volts(0, 2.5)
    assert m.read_dio_input() == 0xA5
    assert m.get_volts(0) == 2.5, m.get_volts(0)
assert module.output_code(0) == 0x1000, hex(module.output_code(0))
library = korvelan380.loaded_library()
for what, path in [("package", korvelan380.__file__), ("library", library.path),
                   ("simulator", simulator.path)]:
    assert path.startswith(venv + "/"), f"the {what} comes from {path}, not the venv"
assert korvelan380.__version__ == version, korvelan380.__version__
print("connected, set and read back:", library)
PY

if [[ "$libraries" == *ftdi* ]]; then
  step "without FTDI's driver, the library takes the wheel's open driver"
  # No chip here: the open driver finds no module, and the failure names it.
  KORVELAN380_DRIVER= "$venv" - "$work/venv" <<'PY'
import sys
import korvelan380

venv = sys.argv[1]
try:
    korvelan380.connect("7")
except korvelan380.OpenFailedError as error:
    message = str(error)
else:
    sys.exit("connected to a module that is not there")
assert "the open driver (libftdi1) from " + venv + "/" in message, message
assert "/korvelan380/_lib/libkorvelan380-ftdi.so loads but cannot open" in message, message
print("the open driver answered:", message.split(": ", 2)[-1][:90], "...")
PY
fi

step "the wheel's copies win over the build tree and the loader's path"
fake="$work/elsewhere"
mkdir -p "$fake/lib" "$fake/sim"
: >"$fake/lib/libkorvelan380.so"
: >"$fake/sim/libftd2xx.so"
KORVELAN380_BUILD_DIR="$fake" LD_LIBRARY_PATH="$fake/lib:$fake/sim" "$venv" - <<'PY'
import korvelan380
from korvelan380 import sim
simulator = sim.activate()
simulator.attach("7")
korvelan380.connect("7").close()
assert "/site-packages/korvelan380/_lib/" in korvelan380.loaded_library().path
assert "/site-packages/korvelan380/_lib/sim/" in simulator.path
PY

step "a capture of the bundled simulated module, through the bundled recording shim"
"$venv" - "$work/venv" "$work/session.jsonl" <<'PY'
import json, sys
import korvelan380
from korvelan380 import sim

venv, path = sys.argv[1:]
shim = korvelan380.capture(path, sim=True)
assert shim.startswith(venv + "/"), f"the shim comes from {shim}, not the venv"
sim.activate().attach("7")
with korvelan380.connect("7") as m:
    m.set_volts(0, 2.5)
with open(path) as file:
    lines = [json.loads(line) for line in file]
assert lines[0]["driver"].startswith(venv + "/"), lines[0]
assert [line["fn"] for line in lines[1:]][0] == "FT_OpenEx" and lines[-1]["fn"] == "FT_Close"
print(len(lines) - 1, "calls recorded")
PY

step "a user's test suite, the fixtures from the plugin alone"
cp -r "$here/user_suite" "$work/suite"
[ ! -e "$work/suite/conftest.py" ] || fail "the user's suite must not have a conftest.py"
(cd "$work/suite" && "$venv" -m pytest -q -p no:cacheprovider .) || fail "the user's suite"
# A conftest.py that still lists the plugin, as before the wheel, loads it once, not twice.
echo 'pytest_plugins = ["korvelan380.testing"]' >"$work/suite/conftest.py"
(cd "$work/suite" && "$venv" -m pytest -q -p no:cacheprovider .) ||
  fail "the user's suite with pytest_plugins in conftest.py"

step "a library of another version is refused"
"$venv" - "$version" <<'PY'
import re, sys
from pathlib import Path
import korvelan380

version = sys.argv[1]
other = re.sub(r"\d", "9", version) if version != re.sub(r"\d", "9", version) else "8" + version[1:]
library = Path(korvelan380.__file__).parent / "_lib" / "libkorvelan380.so"
data = library.read_bytes()
note = f'{{"korvelan380":"{version}"}}'.encode()
assert data.count(note) == 1, "the library carries no version note"
library.write_bytes(data.replace(note, f'{{"korvelan380":"{other}"}}'.encode()))
try:
    korvelan380.connect("7")
except korvelan380.LibraryNotFoundError as error:
    message = str(error)
else:
    sys.exit("a library of another version was loaded")
for part in [str(library), other, version, str(library.parent.parent)]:
    assert part in message, f"{part!r} not in: {message}"
assert korvelan380.loaded_library() is None
print("refused:", message)
PY
echo "the wheel passed"
