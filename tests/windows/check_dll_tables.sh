#!/usr/bin/env bash
# korvelan380.dll's export table holds exactly the exports, the C++ one under its decorated name
# only; its import table names only system DLLs and FTD2XX.dll, whose twelve functions it takes
# by ordinal alone.
#   check_dll_tables.sh OBJDUMP DLL EXPORT_LIST
set -euo pipefail
# shellcheck source=SCRIPTDIR/../support/check_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/check_lib.sh"
objdump="$1"
dll="$2"
export_list="$3"
tables="$("$objdump" -p "$dll")"

# The export names, in the order of the [Ordinal/Name Pointer] table. Windows looks a name up
# there by binary search, so the table must be in byte order.
export LC_ALL=C
name_table="$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                   on && NF == 0 {on = 0}
                   on {print $NF}' <<<"$tables")"
[ "$name_table" = "$(sort <<<"$name_table")" ] ||
  problem "the export name table of $dll is not in byte order: look-ups by name will miss"
expected_exports="$({ grep -v '^_Z' "$export_list"
                      echo '?KORVELAN380_DacValSet_NoCalibed_R@@YAKPEBDEPEAG@Z'; } | sort)"
expect_lines "the exports of $dll and the expected ones" "$expected_exports" \
  "$(sort <<<"$name_table")"

# Each imported function as "DLL<TAB>hint-or-ordinal<TAB>name" ("<none>" when by ordinal).
imports="$(awk '/^\tDLL Name: / {dll = $3; next}
                dll != "" && /^\tvma:/ {next}
                dll != "" && NF == 0 {dll = ""}
                dll != "" {print dll "\t" $2 "\t" $3}' <<<"$tables")"
dlls="$(cut -f1 <<<"$imports" | sort -u)"
while read -r name; do
  case "${name,,}" in
    kernel32.dll | msvcrt.dll | ftd2xx.dll) ;;
    *) problem "$dll imports from $name, neither a system DLL nor FTD2XX.dll" ;;
  esac
done <<<"$dlls"
grep -qix 'ftd2xx.dll' <<<"$dlls" || problem "$dll does not import FTD2XX.dll"

# From FTD2XX.dll, by ordinal only (objdump prints an ordinal import's number in hex).
ftd2xx="$(awk -F'\t' 'tolower($1) == "ftd2xx.dll"' <<<"$imports")"
if awk -F'\t' '$3 != "<none>"' <<<"$ftd2xx" | grep -q .; then
  problem "$dll imports functions of FTD2XX.dll by name:" \
    "$(awk -F'\t' '$3 != "<none>" {print $3}' <<<"$ftd2xx")"
fi
actual_ordinals="$(while IFS=$'\t' read -r _ hex _; do
  [ -n "$hex" ] && echo $((16#$hex))
done <<<"$ftd2xx" | sort -n)"
expected_ordinals="$(printf '%s\n' 2 3 4 16 17 18 21 27 29 39 40 41)"
expect_lines "the ordinals imported from FTD2XX.dll" "$expected_ordinals" "$actual_ordinals"
finish
