#!/usr/bin/env bash
# The benchmarks: a Release build, run against a driver that answers at once; prints each
# benchmark and the ratios between them, measured in the same run, beside their targets.
source "$(dirname "$0")/lib.sh"
need_packages "${BASE_PACKAGES[@]}" libbenchmark-dev
BENCH_BUILD="${KORVELAN380_BENCH_DIR:-$ROOT/build-bench}"
configure_and_build "$BENCH_BUILD" -DCMAKE_BUILD_TYPE=Release -DKORVELAN380_BUILD_TESTS=OFF \
  -DKORVELAN380_BUILD_TOOLS=OFF -DKORVELAN380_BUILD_EXAMPLES=OFF \
  -DKORVELAN380_BUILD_BENCHMARKS=ON
# Three repetitions each; the ratios are taken from the medians.
"$BENCH_BUILD/bench/korvelan380_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@"
