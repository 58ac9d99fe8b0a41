#!/usr/bin/env bash
# The Windows ZIP as a user gets it: cpack makes it from the build, its files are exactly the
# list below, the import library for Microsoft's linker imports every export of the DLL by its
# exact name, and programs built against the unpacked ZIP alone run on the simulated module.
#   check_zip.sh BUILD_DIR VERSION MINGW_CC EXPORT_LIST WINE_RUN
set -euo pipefail
# shellcheck source=SCRIPTDIR/../../support/check_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../support/check_lib.sh"
build="$1"
version="$2"
mingw_cc="$3"
export_list="$4"
wine_run="$5"
here="$(cd "$(dirname "$0")" && pwd)"
work="$build/tests/windows/zip"
rm -rf "$work"
mkdir -p "$work"

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log"
top="korvelan380-$version-win64"
zip="$work/$top.zip"
[ -f "$zip" ] || { cat "$work/cpack.log" >&2; fail "cpack made no $top.zip"; }
(cd "$work" && cmake -E tar xf "$zip")
root="$work/$top"

# The files, outside the examples' and the Python package's folders exactly these; the
# simulated FTD2XX.dll nowhere but in sim\, the recording shim's nowhere but in capture\.
export LC_ALL=C
files="$(cd "$root" && find . -type f | sed 's|^\./||' | sort)"
expected="$(printf '%s\n' LICENSE README.md bin/korvelan380.dll bin/korvelan380.exe \
  capture/FTD2XX.dll include/korvelan380.h \
  lib/korvelan380.lib lib/libkorvelan380.dll.a sim/FTD2XX.dll | sort)"
expect_lines "the ZIP's files and the list" "$expected" \
  "$(grep -v -e '^examples/' -e '^python/' <<<"$files")"
for f in examples/c/sim_session.c examples/cpp/set_volts.cpp examples/python/set_volts.py \
  python/korvelan380/__init__.py python/korvelan380/_install.json; do
  grep -qx "$f" <<<"$files" || problem "the ZIP lacks $f"
done
grep -i 'ftd2xx' <<<"$files" | grep -vx -e 'sim/FTD2XX.dll' -e 'capture/FTD2XX.dll' &&
  problem "a driver outside sim/ and capture/"
grep -q '"library_dir": "../../bin"' "$root/python/korvelan380/_install.json" ||
  problem "the Python package's record does not point at bin/"

# The import library: one import by name per export, the decorated one under its own name.
want="$({ grep -v '^_Z' "$export_list"
          echo '?KORVELAN380_DacValSet_NoCalibed_R@@YAKPEBDEPEAG@Z'; } | sort)"
members="$(llvm-readobj "$root/lib/korvelan380.lib")"
imported="$(sed -n 's/^Symbol: __imp_//p' <<<"$members" | sort)"
expect_lines "korvelan380.lib's imports and the exports" "$want" "$imported"
exports="$(grep -c . <<<"$want")"
[ "$(grep -c '^Name type: name$' <<<"$members")" = "$exports" ] ||
  problem "korvelan380.lib does not import all $exports by their exact names"
grep -q '^Symbol: KORVELAN380_Connect$' <<<"$members" || problem "korvelan380.lib has no call thunks"

# The programs find the library in bin\ and the simulated driver in sim\ through the search
# path of this run alone: the ZIP itself is left as it is.
export WINEPATH="$(winepath -w "$root/bin");$(winepath -w "$root/sim")"

"$mingw_cc" -std=c11 -Wall -Wextra -Werror -static -I"$root/include" \
  -o "$work/mingw_consumer.exe" "$here/mingw_consumer.c" "$root/lib/libkorvelan380.dll.a"
out="$("$wine_run" "$work/mingw_consumer.exe" | tr -d '\r')" || problem "mingw_consumer failed"
echo "$out"
grep -qx 'driver: sim\\FTD2XX.dll' <<<"$out" || problem "the driver was not sim\\FTD2XX.dll"

# Microsoft's ABI, without Microsoft's libraries: kernel32's import library is made here.
printf 'LIBRARY kernel32.dll\nEXPORTS\nExitProcess\nGetModuleHandleA\nGetProcAddress\n' \
  >"$work/kernel32.def"
llvm-dlltool -m i386:x86-64 -d "$work/kernel32.def" -l "$work/kernel32.lib"
clang --target=x86_64-pc-windows-msvc -std=c++17 -O1 -Wall -Werror -fno-exceptions \
  -I"$root/include" -c "$here/msvc_consumer.cpp" -o "$work/msvc_consumer.obj"
lld-link -nologo -entry:Start -subsystem:console -nodefaultlib -out:"$work/msvc_consumer.exe" \
  "$work/msvc_consumer.obj" "$root/lib/korvelan380.lib" "$work/kernel32.lib"
"$wine_run" "$work/msvc_consumer.exe" || problem "msvc_consumer exited with $?"

# The tool, unpacked, on no driver at all: it says what to install, and does not crash.
unset WINEPATH
tool="$root/bin/korvelan380.exe"
state="$(winepath -w "$work/state.json")"
out="$("$wine_run" "$tool" info 2>&1 | tr -d '\r')" && problem "info without a driver succeeded"
grep -q "korvelan380.dll does not load" <<<"$out" || problem "info without a driver: $out"
out="$("$wine_run" "$tool" doctor 2>&1 | tr -d '\r')" && problem "doctor without a driver found nothing"
grep -q "FTD2XX.dll does not load" <<<"$out" || problem "doctor without a driver: $out"

# With --sim: the simulated module from sim\, its state under %LOCALAPPDATA%\korvelan380\.
out="$("$wine_run" "$tool" --sim doctor | tr -d '\r')" || problem "--sim doctor failed: $out"
grep -q 'driver: the simulated module from .*\\sim\\FTD2XX.dll' <<<"$out" ||
  problem "--sim doctor did not find sim\\FTD2XX.dll: $out"
local_app_data="$("$wine_run" cmd /c echo %LOCALAPPDATA% | tr -d '\r')"
[ -f "$(winepath -u "$local_app_data\\korvelan380\\sim-state.json")" ] ||
  problem "no state file in $local_app_data\\korvelan380"

# --capture finds the shim in capture\, which forwards to sim\FTD2XX.dll; the replay of the
# capture prints what the recorded run printed.
capture="$(winepath -w "$work/session.jsonl")"
recorded="$("$wine_run" "$tool" --sim --sim-state "$(winepath -w "$work/capture-state.json")" \
  --capture "$capture" read 0 | tr -d '\r')" || problem "--sim --capture read 0 failed: $recorded"
grep -q '"driver":".*\\\\sim\\\\FTD2XX.dll"' "$work/session.jsonl" ||
  problem "the capture does not name sim\\FTD2XX.dll as its driver: $(head -1 "$work/session.jsonl")"
replayed="$("$wine_run" "$tool" --replay "$capture" read 0 | tr -d '\r')" ||
  problem "--replay failed: $replayed"
[ "$replayed" = "$recorded" ] || problem "the replay printed $replayed, the recorded run $recorded"

# The same commands as on Linux, with the same output (line endings aside).
commands=("demo" "info" "out 0 2.5V" "read 0" "range 1 3" "read 1 --json" "dio dir 0x0F"
  "gate 0 on" "fifo" "exio" "calib show")
for command in "${commands[@]}"; do
  # shellcheck disable=SC2086
  windows="$("$wine_run" "$tool" --sim --sim-state "$state" $command 2>&1 | tr -d '\r')" ||
    problem "korvelan380 --sim $command failed: $windows"
  [ -n "${KORVELAN380_LINUX_TOOL:-}" ] || continue
  # shellcheck disable=SC2086
  linux="$("$KORVELAN380_LINUX_TOOL" --sim --sim-state "$work/linux-state.json" $command 2>&1)"
  # The state file's path is each system's own.
  windows="${windows//"$state"/STATE}"
  linux="${linux//"$work/linux-state.json"/STATE}"
  diff <(echo "$linux") <(echo "$windows") ||
    problem "korvelan380 --sim $command: the Windows tool's output (>) differs from Linux's (<)"
done
[ -n "${KORVELAN380_LINUX_TOOL:-}" ] || echo "no KORVELAN380_LINUX_TOOL: outputs not compared"

finish
