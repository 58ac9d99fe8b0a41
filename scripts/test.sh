#!/usr/bin/env bash
# The whole test suite: build with the tests and run them with ctest.
source "$(dirname "$0")/lib.sh"
need_packages "${BASE_PACKAGES[@]}"
# The Python package's tests: pytest, and numpy for its numpy cases.
need_packages python3 python3-pytest python3-numpy
configure_and_build "$BUILD" -DKORVELAN380_BUILD_TESTS=ON
ctest --test-dir "$BUILD" -j "$JOBS" --output-on-failure --timeout 300
