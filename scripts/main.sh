#!/usr/bin/env bash
# The main job: build the library and the command-line tool, and run the tool's demo on the
# simulated module, with a state file of its own so that every run starts from a new module.
source "$(dirname "$0")/lib.sh"
need_packages "${BASE_PACKAGES[@]}"
configure_and_build "$BUILD" -DKORVELAN380_BUILD_TESTS=OFF
state="$(mktemp -d)"
trap 'rm -rf "$state"' EXIT
"$BUILD/tools/korvelan380/korvelan380" --sim --sim-state "$state/sim-state.json" demo
