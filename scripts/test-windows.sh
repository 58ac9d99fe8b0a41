#!/usr/bin/env bash
# The Windows part of the suite: korvelan380.dll, the simulated FTD2XX.dll and the tests,
# cross-built with MinGW-w64 and run under Wine (64-bit, headless) with ctest. The build goes to
# build-windows/ (KORVELAN380_WINDOWS_BUILD_DIR changes that), Wine's prefix inside it.
source "$(dirname "$0")/lib.sh"
# Wine without what it only recommends: no fonts, sound or graphics drivers are needed here.
# The preloader reserves Windows' address ranges before anything else is mapped, so that a
# program never starts with its memory taken. llvm, clang and lld make the import library for
# Microsoft's linker and a program linked against it; the tool takes the header-only CLI11 and
# nlohmann/json and the panel's plotting library from the build machine, and compiles cpp-httplib
# from Debian's source package (dpkg-source unpacks it).
NO_RECOMMENDS=1 need_packages cmake ninja-build googletest g++-mingw-w64-x86-64-posix \
  gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 wine64-preloader \
  llvm clang lld libcli11-dev nlohmann-json3-dev libjs-dygraphs dpkg-dev
# The Windows wheel is built offline with Debian's build tools.
need_packages python3 python3-build python3-setuptools python3-wheel
WINDOWS_BUILD="${KORVELAN380_WINDOWS_BUILD_DIR:-$ROOT/build-windows}"
started=$SECONDS
# The panel's API test is the Linux build's, run against korvelan380.exe: built here (into the
# Linux build, with what it needs) when that build does not have it yet.
need_packages "${BASE_PACKAGES[@]}"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DKORVELAN380_BUILD_TESTS=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target korvelan380_panel_api_test
# Release, as users build it: its optimiser sees what the default build type's does not.
configure_and_build "$WINDOWS_BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DKORVELAN380_BUILD_TESTS=ON \
  -DKORVELAN380_LINUX_PANEL_API_TEST="$BUILD/tests/panel/korvelan380_panel_api_test"

# One prefix and one wineserver for the whole run: made once before the tests start in
# parallel, and kept up between them instead of starting afresh for every test program.
export WINEPREFIX="$WINDOWS_BUILD/wineprefix"
mkdir -p "$WINEPREFIX"
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
"$ROOT/cmake/wine-run.sh" wineboot --init >/dev/null 2>&1
# The Windows tool's output is compared with the Linux tool's, when the Linux build has one.
if [ -x "$BUILD/tools/korvelan380/korvelan380" ]; then
  export KORVELAN380_LINUX_TOOL="$BUILD/tools/korvelan380/korvelan380"
fi
ctest --test-dir "$WINDOWS_BUILD" -j "$JOBS" --output-on-failure --timeout 300
echo "Windows build and tests: $((SECONDS - started)) s"
