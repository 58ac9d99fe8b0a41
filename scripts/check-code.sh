#!/usr/bin/env bash
# The checks on the code itself, run by the suite: every C and C++ file git tracks is formatted
# as .clang-format says, and no function outside the tests is longer than 60 lines.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h' '*.hpp')
if ! clang-format --dry-run --Werror "${sources[@]}"; then
  echo "check-code: run clang-format -i on the files above" >&2
  status=1
fi
python3 scripts/function_lengths.py || status=1
exit "$status"
