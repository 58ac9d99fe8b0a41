#!/usr/bin/env bash
# The main job: build the library and run a session with a simulated module.
source "$(dirname "$0")/lib.sh"
need_packages "${BASE_PACKAGES[@]}"
configure_and_build "$BUILD" -DKORVELAN380_BUILD_TESTS=OFF
"$BUILD/examples/sim_session"
