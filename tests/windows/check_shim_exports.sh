#!/usr/bin/env bash
# The recording shim's FTD2XX.dll exports exactly the twelve driver functions, each under its name
# and at the ordinal the .def gives it, which is where the simulated FTD2XX.dll has it too: a
# program that imports by ordinal gets the same function from either.
#   check_shim_exports.sh OBJDUMP SHIM_DLL SIM_DLL DEF
set -euo pipefail
# shellcheck source=SCRIPTDIR/../support/check_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/check_lib.sh"
objdump="$1" shim="$2" sim="$3" def="$4"
export LC_ALL=C

# "ordinal name" for each export by name: the name table numbers them from the ordinal base.
exports() {
  "$objdump" -p "$1" | awk '
    /^Ordinal Base/ {base = $3}
    /^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
    on && NF == 0 {on = 0}
    on {line = $0; sub(/^[ \t]*\[ */, "", line); split(line, f, /\] /); print f[1] + base, f[2]}' |
    sort
}

expected="$(sed -n 's/^\(FT_[A-Za-z_]*\) @\([0-9]*\).*/\2 \1/p' "$def" | sort)"
[ "$(wc -l <<<"$expected")" = 12 ] || problem "$def does not list twelve functions"
expect_lines "$shim's exports and $def's" "$expected" "$(exports "$shim")"
expect_lines "$sim's driver functions and $def's" "$expected" "$(exports "$sim" | grep ' FT_')"
finish
