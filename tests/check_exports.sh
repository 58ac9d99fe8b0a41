#!/usr/bin/env bash
# The shared library's dynamic symbol table holds the exports and nothing else.
set -euo pipefail
library="$1"
expected="$2"
actual="$(nm -D --defined-only "$library" | awk '{print $3}' | sort)"
if ! diff <(sort "$expected") <(echo "$actual"); then
  echo "exported symbols differ from $expected (< expected, > actual)" >&2
  exit 1
fi
