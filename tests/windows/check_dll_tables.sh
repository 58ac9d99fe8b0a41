#!/usr/bin/env bash
# korvelan380.dll's export table holds exactly the exports, the C++ one under its decorated name
# only; its import table names only system DLLs and FTD2XX.dll, whose ten functions it takes by
# ordinal alone.
#   check_dll_tables.sh OBJDUMP DLL EXPORT_LIST
set -euo pipefail
objdump="$1"
dll="$2"
export_list="$3"
tables="$("$objdump" -p "$dll")"
failed=0

# The export names, in the order of the [Ordinal/Name Pointer] table. Windows looks a name up
# there by binary search, so the table must be in byte order.
export LC_ALL=C
name_table="$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                   on && NF == 0 {on = 0}
                   on {print $NF}' <<<"$tables")"
if [ "$name_table" != "$(sort <<<"$name_table")" ]; then
  echo "the export name table of $dll is not in byte order: look-ups by name will miss" >&2
  failed=1
fi
expected_exports="$({ grep -v '^_Z' "$export_list"
                      echo '?KORVELAN380_DacValSet_NoCalibed_R@@YAKPEBDEPEAG@Z'; } | sort)"
if ! diff <(echo "$expected_exports") <(sort <<<"$name_table"); then
  echo "exports of $dll differ from the expected ones (< expected, > actual)" >&2
  failed=1
fi

# Each imported function as "DLL<TAB>hint-or-ordinal<TAB>name" ("<none>" when by ordinal).
imports="$(awk '/^\tDLL Name: / {dll = $3; next}
                dll != "" && /^\tvma:/ {next}
                dll != "" && NF == 0 {dll = ""}
                dll != "" {print dll "\t" $2 "\t" $3}' <<<"$tables")"
dlls="$(cut -f1 <<<"$imports" | sort -u)"
while read -r name; do
  case "${name,,}" in
    kernel32.dll | msvcrt.dll | ftd2xx.dll) ;;
    *)
      echo "$dll imports from $name, neither a system DLL nor FTD2XX.dll" >&2
      failed=1
      ;;
  esac
done <<<"$dlls"
if ! grep -qix 'ftd2xx.dll' <<<"$dlls"; then
  echo "$dll does not import FTD2XX.dll" >&2
  failed=1
fi

# From FTD2XX.dll, by ordinal only (objdump prints an ordinal import's number in hex).
ftd2xx="$(awk -F'\t' 'tolower($1) == "ftd2xx.dll"' <<<"$imports")"
if awk -F'\t' '$3 != "<none>"' <<<"$ftd2xx" | grep -q .; then
  echo "$dll imports functions of FTD2XX.dll by name:" >&2
  awk -F'\t' '$3 != "<none>" {print "  " $3}' <<<"$ftd2xx" >&2
  failed=1
fi
actual_ordinals="$(while IFS=$'\t' read -r _ hex _; do
  [ -n "$hex" ] && echo $((16#$hex))
done <<<"$ftd2xx" | sort -n)"
expected_ordinals="$(printf '%s\n' 2 3 4 16 18 21 27 39 40 41)"
if ! diff <(echo "$expected_ordinals") <(echo "$actual_ordinals"); then
  echo "ordinals imported from FTD2XX.dll differ (< expected, > actual)" >&2
  failed=1
fi
exit "$failed"
