#!/usr/bin/env bash
# An installed copy, checked as its users meet it:
#   check_install.sh prefix BUILD_DIR SOURCE_DIR VERSION EMULATOR LIBUSB_DIR
#       cmake --install into a temporary prefix
#   check_install.sh deb BUILD_DIR SOURCE_DIR VERSION EMULATOR LIBUSB_DIR
#       the .deb (cpack), its dependencies resolved by apt, unpacked
# then, against that copy: the files and where they are; a consumer project through find_package
# and through pkg-config, compiling the header as C and as C++; the examples, built from the
# copy's own sources and run against its simulated module; the tool; the Python package; and the
# tool's doctor over an emulated chip (EMULATOR, preloaded), which without FTDI's driver finds the
# open driver and the module (through the libusb without udev in LIBUSB_DIR).
set -euo pipefail
# shellcheck source=SCRIPTDIR/../support/check_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/check_lib.sh"
mode="$1" build="$(cd "$2" && pwd)" source="$(cd "$3" && pwd)" version="$4"
emulator="$5" libusb_dir="$6"
# Nothing from the caller's environment may point elsewhere.
unset KORVELAN380_LIBRARY KORVELAN380_SIM_LIBRARY KORVELAN380_BUILD_DIR LD_LIBRARY_PATH PYTHONPATH \
  PKG_CONFIG_PATH CMAKE_PREFIX_PATH KORVELAN380_DRIVER
# The open driver is built (and so installed) where libftdi1-dev is.
open_driver=""
[ ! -f "$build/lib/libkorvelan380-ftdi.so" ] || open_driver=libkorvelan380-ftdi.so
export PYTHONDONTWRITEBYTECODE=1

case "$mode" in
  prefix)
    step "cmake --install into $work/prefix"
    cmake --install "$build" --prefix "$work/prefix" >"$work/install.log"
    prefix="$work/prefix"
    ;;
  deb)
    step "cpack: the .deb, into $build/packages"
    (cd "$build" && cpack -G DEB -B "$build/packages" >"$work/cpack.log" 2>&1) ||
      { cat "$work/cpack.log" >&2; fail "cpack"; }
    arch="$(dpkg --print-architecture)"
    deb="$build/packages/korvelan380_${version}_${arch}.deb"
    [ -f "$deb" ] || fail "no $deb"
    [ "$(dpkg-deb -f "$deb" Package)" = korvelan380 ] || fail "package name"
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
    depends="$(dpkg-deb -f "$deb" Depends)"
    echo "Depends: $depends"
    needs=(libc6 libstdc++6 python3)
    [ -z "$open_driver" ] || needs+=(libftdi1-2)
    for need in "${needs[@]}"; do
      [[ ", $depends," == *", $need"[\ ,]* ]] || fail "Depends lacks $need: $depends"
    done
    # What `apt install ./korvelan380_*.deb` would do, without doing it: this machine is shared.
    apt-get install --simulate "$deb" >"$work/apt.log" 2>&1 ||
      { cat "$work/apt.log" >&2; fail "apt cannot install $deb"; }
    dpkg-deb -x "$deb" "$work/root"
    prefix="$work/root/usr"
    ;;
  *) fail "mode prefix or deb, not $mode" ;;
esac

step "the files"
libfile="$(find "$prefix" -name "libkorvelan380.so.$version" -type f)"
[ -n "$libfile" ] || fail "no libkorvelan380.so.$version"
libdir="$(dirname "$libfile")"
echo "libdir: ${libdir#"$prefix"/}"
soname="$(readelf -d "$libfile" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')"
[ "$soname" = "libkorvelan380.so.${version%%.*}" ] || fail "SONAME $soname"
[ "$(readlink "$libdir/$soname")" = "libkorvelan380.so.$version" ] || fail "$soname link"
[ -L "$libdir/libkorvelan380.so" ] || fail "no libkorvelan380.so link"
"$source/tests/check_exports.sh" "$libfile" "$source/tests/expected_exports.txt"
[ -z "$open_driver" ] || [ -f "$libdir/$open_driver" ] || fail "no $open_driver beside the library"
simdir="$libdir/korvelan380/sim"
[ -f "$simdir/libftd2xx.so" ] || fail "no simulator in $simdir"
capturedir="$libdir/korvelan380/capture"
[ -f "$capturedir/libftd2xx.so" ] || fail "no recording shim in $capturedir"
# The simulator and the shim never where the loader looks for the vendor's driver.
others="$(find "$prefix" -name 'libftd2xx*' -not -path "$simdir/*" -not -path "$capturedir/*")"
[ -z "$others" ] || fail "a libftd2xx outside $simdir: $others"
for f in include/korvelan380.h include/korvelan380/sim/korvelan380_sim.h \
  include/korvelan380/sim/korvelan380_sim.hpp bin/korvelan380 share/doc/korvelan380/README.md \
  share/doc/korvelan380/LICENSE share/doc/korvelan380/examples/CMakeLists.txt; do
  [ -f "$prefix/$f" ] || fail "no $f"
done
cmp -s "$prefix/include/korvelan380.h" "$source/include/korvelan380.h" || fail "header differs"
for f in korvelan380Config.cmake korvelan380ConfigVersion.cmake; do
  [ -f "$libdir/cmake/korvelan380/$f" ] || fail "no $f"
done
rule="$prefix/lib/udev/rules.d/70-korvelan380.rules"
[ -f "$rule" ] || fail "no udev rule"
for word in 'ATTR{idVendor}=="0403"' 'GROUP="plugdev"' 'MODE="0660"' 'TAG+="uaccess"'; do
  grep -v '^#' "$rule" | grep -qF "$word" || fail "the udev rule lacks $word"
done
grep -q "Copyright (c) 2026 the korvelan380 developers" "$prefix/share/doc/korvelan380/LICENSE" ||
  fail "licence"
pydir="$(dirname "$(dirname "$(find "$prefix" -path '*/korvelan380/_install.json')")")"
[ -f "$pydir/korvelan380/__init__.py" ] || fail "no Python package"
echo "Python package: ${pydir#"$prefix"/}"

step "find_package"
cmake -S "$source/tests/install/consumer" -B "$work/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DEXPECTED_VERSION="$version" >"$work/consumer.log" ||
  { cat "$work/consumer.log" >&2; fail "consumer configure"; }
cmake --build "$work/consumer" >"$work/consumer-build.log" ||
  { cat "$work/consumer-build.log" >&2; fail "consumer build"; }
"$work/consumer/consumer_c"
"$work/consumer/consumer_cpp"

step "pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion korvelan380)" = "$version" ] || fail "pkg-config version"
flags=(-Wall -Wextra -Wpedantic -Werror)
rpath="-Wl,-rpath,$(pkg-config --variable=libdir korvelan380)"
# shellcheck disable=SC2046 # the flags are words
cc -std=c11 "${flags[@]}" "$source/tests/install/consumer/consumer.c" -o "$work/pc_c" \
  $(pkg-config --cflags --libs korvelan380-sim) "$rpath"
# shellcheck disable=SC2046
c++ -std=c++17 "${flags[@]}" "$source/tests/install/consumer/consumer.cpp" -o "$work/pc_cpp" \
  $(pkg-config --cflags --libs korvelan380-sim) "$rpath"
"$work/pc_c"
"$work/pc_cpp"
# The library alone: the header as C and as C++, and a link without the simulator.
echo '#include "korvelan380.h"
int main(void) { return KORVELAN380_DisConnect("x") == 2 ? 0 : 1; }' >"$work/alone.c"
cp "$work/alone.c" "$work/alone.cpp"
# shellcheck disable=SC2046
cc -std=c11 "${flags[@]}" "$work/alone.c" -o "$work/alone_c" \
  $(pkg-config --cflags --libs korvelan380) "$rpath"
# shellcheck disable=SC2046
c++ -std=c++11 "${flags[@]}" "$work/alone.cpp" -o "$work/alone_cpp" \
  $(pkg-config --cflags --libs korvelan380) "$rpath"
"$work/alone_c" && "$work/alone_cpp" || fail "the library alone"
unset PKG_CONFIG_PATH

step "the examples, from $prefix/share/doc/korvelan380/examples"
cmake -S "$prefix/share/doc/korvelan380/examples" -B "$work/examples" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="${flags[*]}" -DCMAKE_CXX_FLAGS="${flags[*]}" \
  >"$work/examples.log" || { cat "$work/examples.log" >&2; fail "examples configure"; }
cmake --build "$work/examples" >"$work/examples-build.log" ||
  { cat "$work/examples-build.log" >&2; fail "examples build"; }
ctest --test-dir "$work/examples" --output-on-failure >"$work/examples-test.log" ||
  { cat "$work/examples-test.log" >&2; fail "the examples"; }
tail -1 "$work/examples-test.log"
[ "$(ctest --test-dir "$work/examples" -N | sed -n 's/^Total Tests: //p')" -ge 15 ] ||
  fail "fewer examples than expected"

step "the tool"
tool="$prefix/bin/korvelan380"
[ "$("$tool" --version)" = "korvelan380 $version" ] || fail "korvelan380 --version"
status="$("$tool" --sim --sim-state "$work/sim-state.json" sim status)"
[ "$(echo "$status" | head -1)" = "simulator library: $(realpath "$simdir/libftd2xx.so")" ] ||
  fail "the tool's simulator: $status"
"$tool" --sim --sim-state "$work/sim-state.json" out 0 2.5V
"$tool" --sim --sim-state "$work/sim-state.json" --capture "$work/s.jsonl" read 0 >"$work/read.txt"
"$tool" trace "$work/s.jsonl" | grep -q "read register 34 (range of channel 0)" || fail "trace"
"$tool" --sim-state "$work/sim-state.json" --replay "$work/s.jsonl" read 0 | cmp -s - "$work/read.txt" ||
  fail "the replay of the installed tool's capture"

step "the Python package"
PYTHONPATH="$pydir" python3 - "$version" "$libdir" "$simdir" <<'PY'
import os
import sys

import korvelan380
from korvelan380 import sim

version, libdir, simdir = sys.argv[1:]
same = lambda a, b: os.path.realpath(a) == os.path.realpath(b)
assert korvelan380.__version__ == version, korvelan380.__version__
simulator = sim.activate()
assert same(simulator.path, os.path.join(simdir, "libftd2xx.so")), simulator.path
simulator.attach("7")
with korvelan380.connect("7") as m:
    m.set_range(0, korvelan380.Range.BIPOLAR_10V)
    m.set_volts(0, 2.5)
    assert m.get_raw(0) == 0x2800, m.get_raw(0)
library = korvelan380.loaded_library()
assert library.origin == "install prefix", library
assert same(library.path, os.path.join(libdir, "libkorvelan380.so")), library.path
print(f"korvelan380 {version}: {library.path}, {simulator.path}")
PY
step "the tool's doctor over an emulated chip, without FTDI's driver"
if [ -z "$open_driver" ]; then
  echo "skipped: the open driver is not built here (no libftdi1-dev)"
elif [ ! -f "$libusb_dir/libusb-1.0.so.0" ]; then
  echo "skipped: no libusb without udev in $libusb_dir (ctest -R open_driver_libusb builds it)"
elif ldd "$prefix/bin/korvelan380" | grep -q libasan; then
  echo "skipped: a sanitizer build, before whose runtime the emulator cannot be preloaded"
elif ldconfig -p | grep -q 'libftd2xx\.so '; then
  echo "skipped: this machine has FTDI's driver, which the library would take first"
else
  doctor="$(LD_PRELOAD="$emulator" LD_LIBRARY_PATH="$libusb_dir" KORVELAN380_EMULATED_CHIPS=7 \
    XDG_STATE_HOME="$work" "$prefix/bin/korvelan380" -d 7 doctor 2>&1)" || fail "doctor: $doctor"
  echo "$doctor"
  why=" (no usable libftd2xx.so was found, so the library took its open driver)"
  used="$(grep -F "$why" <<<"$doctor" |
    sed -n 's/^\[ok\] *driver: the open driver (libftdi1) from \(.*\) (no usable .*/\1/p')"
  [ -n "$used" ] && [ "$(realpath "$used")" = "$(realpath "$libdir/$open_driver")" ] ||
    fail "doctor did not find the installed open driver"
  grep -qF "module 7 opens and answers" <<<"$doctor" || fail "doctor did not find the module"
fi

echo "the installed copy ($mode) works"
