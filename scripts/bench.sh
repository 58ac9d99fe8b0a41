#!/usr/bin/env bash
# The benchmarks, in a Release build: the library's share of the bus time it drives (against a
# driver that answers at once), and the simulated module answering like a real one (the driver
# calls of a connect and of each export, calls per second of several modules at once). Prints
# the usual benchmark output, then the table of figures, each beside its target. Exits 1 when a
# figure misses its target. Arguments go to both benchmark programs (e.g. --benchmark_filter=...).
# Last, the time per call on FTDI's own driver and on the open backend side by side, over an
# emulated FT232H, at three latency-timer settings (FTDI's driver skipped with a message where npm
# cannot fetch it, the open backend where libftdi1 is missing or Debian's libusb source cannot be
# fetched).
source "$(dirname "$0")/lib.sh"
need_packages "${BASE_PACKAGES[@]}" libbenchmark-dev dpkg-dev
BENCH_BUILD="${KORVELAN380_BENCH_DIR:-$ROOT/build-bench}"
cmake -S "$ROOT" -B "$BENCH_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKORVELAN380_BUILD_TESTS=OFF -DKORVELAN380_BUILD_TOOLS=OFF -DKORVELAN380_BUILD_EXAMPLES=OFF \
  -DKORVELAN380_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$BENCH_BUILD" -j "$JOBS" \
  --target korvelan380_bench korvelan380_module_bench korvelan380_vendor_bench

# Five repetitions each, run in a random order so that a change in the machine's load meets every
# benchmark alike; the figures are taken from the medians. Each program prints its part
# of the table after its benchmark output, from a blank line on; the parts are printed again
# together at the end.
OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT
status=0
for program in korvelan380_bench korvelan380_module_bench; do
  "$BENCH_BUILD/bench/$program" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_enable_random_interleaving=true "$@" | tee "$OUT/$program" || status=1
done

# The drivers' own timing, not the library's, decides what a user pays per call.
vendor="$BENCH_BUILD/vendor-d2xx"
libusb="$BENCH_BUILD/libusb-noudev"
drivers=()
fetch=0
"$ROOT/scripts/fetch-d2xx.sh" "$vendor" || fetch=$?
case "$fetch" in
  0) drivers+=(vendor) ;;
  77) echo "skipped the run on FTDI's driver: npm could not fetch it" ;;
  *) status=1 ;;
esac
fetch=0
if [ -f "$BENCH_BUILD/lib/libkorvelan380-ftdi.so" ]; then
  "$ROOT/scripts/fetch-libusb.sh" "$libusb" || fetch=$?
  case "$fetch" in
    0) drivers+=(open) ;;
    77) echo "skipped the run on the open backend: Debian's libusb source could not be fetched" ;;
    *) status=1 ;;
  esac
else
  echo "skipped the run on the open backend: it was not built (libftdi1-dev is not installed)"
fi
programs=(korvelan380_bench korvelan380_module_bench)
if [ ${#drivers[@]} -gt 0 ]; then
  LD_LIBRARY_PATH="$vendor:$libusb" "$BENCH_BUILD/bench/korvelan380_vendor_bench" "${drivers[@]}" |
    tee "$OUT/korvelan380_vendor_bench" || status=1
  programs+=(korvelan380_vendor_bench)
fi

stage "figures"
for program in "${programs[@]}"; do
  awk '/^$/ { table = 1 } table' "$OUT/$program"
done
exit $status
