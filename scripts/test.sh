#!/usr/bin/env bash
# The whole test suite: build with the tests and run them with ctest; then the Windows DLL,
# cross-built and tested under Wine (scripts/test-windows.sh; KORVELAN380_SKIP_WINDOWS=1 skips it).
source "$(dirname "$0")/lib.sh"
need_packages "${BASE_PACKAGES[@]}"
configure_and_build "$BUILD" -DKORVELAN380_BUILD_TESTS=ON
ctest --test-dir "$BUILD" -j "$JOBS" --output-on-failure --timeout 300
[ -n "${KORVELAN380_SKIP_WINDOWS:-}" ] || "$ROOT/scripts/test-windows.sh"
