#!/usr/bin/env bash
# The whole test suite, in stages:
#   1. the build with the tests, and every test (ctest), the slow ones included: among them the
#      examples, the API reference (Doxygen), an install into a temporary prefix and the .deb
#      (left in build/packages/), each checked by building and running programs against it, and
#      the Python wheel, installed into a fresh venv and used there;
#   2. the same suite under AddressSanitizer and UndefinedBehaviorSanitizer (slow ones left out);
#   3. the tests that use threads, and the soak, under ThreadSanitizer;
#   4. the libFuzzer targets (clang): their corpora and saved crashes as tests, then a short run
#      of each (KORVELAN380_FUZZ_SECONDS, 60 by default);
#   5. the Windows DLL, cross-built with MinGW-w64 and its tests run under Wine
#      (scripts/test-windows.sh; KORVELAN380_SKIP_WINDOWS=1 skips it).
# KORVELAN380_QUICK=1 runs stage 1 only.
source "$(dirname "$0")/lib.sh"
need_packages "${BASE_PACKAGES[@]}" clang libclang-rt-14-dev
# The formatting check.
need_packages clang-format
# The Python package's tests: pytest, and numpy for its numpy cases.
need_packages python3 python3-pytest python3-numpy
# The wheel's test: built offline with Debian's build tools, installed with pip into a venv.
need_packages python3-venv python3-build python3-setuptools python3-wheel python3-pip
# The panel's test in a real browser: headless Chromium driven through Selenium.
need_packages chromium chromium-driver python3-selenium
# The API reference; pkg-config and dpkg-shlibdeps for the installed copy and the .deb.
need_packages doxygen pkgconf dpkg-dev

run_ctest() {
  local dir="$1"
  shift
  ctest --test-dir "$dir" -j "$JOBS" --output-on-failure --timeout 900 "$@"
}

# sanitized_build DIR COMPILE_FLAGS LINK_FLAGS [cmake options...]
sanitized_build() {
  local dir="$1" compile="-O1 -g -fno-omit-frame-pointer $2" link="$3"
  shift 3
  configure_and_build "$dir" -DCMAKE_BUILD_TYPE=Debug -DKORVELAN380_BUILD_EXAMPLES=OFF \
    "-DCMAKE_C_FLAGS=$compile" "-DCMAKE_CXX_FLAGS=$compile" \
    "-DCMAKE_EXE_LINKER_FLAGS=$link" "-DCMAKE_SHARED_LINKER_FLAGS=$link" "$@"
}

stage "1/5 tests"
# Installed under /usr, as the .deb is: Debian's multiarch libdir (lib/x86_64-linux-gnu).
configure_and_build "$BUILD" -DKORVELAN380_BUILD_TESTS=ON -DCMAKE_INSTALL_PREFIX=/usr
run_ctest "$BUILD"
[ "${KORVELAN380_QUICK:-0}" = 1 ] && exit 0

stage "2/5 address and undefined-behaviour sanitizers"
ub="-fsanitize=address,undefined -fno-sanitize-recover=all"
sanitized_build "$BUILD-asan" "$ub" "$ub" -DKORVELAN380_BUILD_TESTS=ON
# FTDI's driver (the vendor label) is not built with the sanitizers, and what it leaves allocated
# at exit is not ours to answer for.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest "$BUILD-asan" -LE "slow|python|vendor|style"

stage "3/5 thread sanitizer"
sanitized_build "$BUILD-tsan" "-fsanitize=thread" "-fsanitize=thread" -DKORVELAN380_BUILD_TESTS=ON
# die_after_fork=0: a test forks, and its child starts a thread, as a forked worker would.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0" \
  run_ctest "$BUILD-tsan" -R '^(Threads|Fork|RegisterLink|SimTest|Soak|Connection)\.'

stage "4/5 fuzzers"
sanitized_build "$BUILD-fuzz" "-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all" \
  "$ub" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKORVELAN380_BUILD_TESTS=OFF \
  -DKORVELAN380_BUILD_FUZZERS=ON -DKORVELAN380_BUILD_TOOLS=OFF
run_ctest "$BUILD-fuzz"
mkdir -p "$BUILD-fuzz/crashes"
for target in reply calibration frames; do
  mkdir -p "$BUILD-fuzz/corpus-$target"
  if ! "$BUILD-fuzz/tests/fuzz/fuzz_$target" -max_total_time="${KORVELAN380_FUZZ_SECONDS:-60}" \
      -print_final_stats=1 -artifact_prefix="$BUILD-fuzz/crashes/$target-" \
      "$BUILD-fuzz/corpus-$target" "$ROOT/tests/fuzz/corpus/$target" >"$BUILD-fuzz/$target.log" 2>&1; then
    tail -40 "$BUILD-fuzz/$target.log" >&2
    echo "fuzz_$target found a crash: keep the input from $BUILD-fuzz/crashes in tests/fuzz/regressions/$target" >&2
    exit 1
  fi
  grep -E "^stat::number_of_executed_units" "$BUILD-fuzz/$target.log" | sed "s/^/fuzz_$target: /"
done

stage "5/5 Windows DLL under Wine"
[ -n "${KORVELAN380_SKIP_WINDOWS:-}" ] || "$ROOT/scripts/test-windows.sh"
echo "all stages passed"
