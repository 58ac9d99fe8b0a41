#!/usr/bin/env bash
# The shared library's dynamic symbol table holds the exports and nothing else.
set -euo pipefail
# shellcheck source=SCRIPTDIR/support/check_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/support/check_lib.sh"
library="$1"
expected="$2"
actual="$(nm -D --defined-only "$library" | awk '{print $3}' | sort)"
expect_lines "exported symbols and $expected" "$(sort "$expected")" "$actual"
finish
