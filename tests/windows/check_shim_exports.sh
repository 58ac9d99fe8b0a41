#!/usr/bin/env bash
# The recording shim's FTD2XX.dll exports exactly the ten driver functions, each under its name
# and at the ordinal the .def gives it, which is where the simulated FTD2XX.dll has it too: a
# program that imports by ordinal gets the same function from either.
#   check_shim_exports.sh OBJDUMP SHIM_DLL SIM_DLL DEF
set -euo pipefail
objdump="$1"
shim="$2"
sim="$3"
def="$4"
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
failed=0
[ "$(wc -l <<<"$expected")" = 10 ] || { echo "$def does not list ten functions" >&2; failed=1; }
if ! diff <(echo "$expected") <(exports "$shim"); then
  echo "$shim's exports differ from $def's (< expected, > actual)" >&2
  failed=1
fi
if ! diff <(echo "$expected") <(exports "$sim" | grep ' FT_'); then
  echo "$sim's driver functions differ from $def's (< expected, > actual)" >&2
  failed=1
fi
exit "$failed"
