#!/usr/bin/env bash
# The tool's commands (doctor included) and the Python package's quick start on a driver, FTDI's
# or the library's open driver, with the emulated chips (an FT232H, the module's own) preloaded.
#   tool_and_python.sh vendor TOOL EMULATOR DRIVER_DIR PYTHON_DIR   FTDI's libftd2xx.so in DRIVER_DIR
#   tool_and_python.sh open TOOL EMULATOR LIBUSB_DIR PYTHON_DIR     the open driver, over the libusb
#                                                                   without udev in LIBUSB_DIR
set -euo pipefail
# shellcheck source=SCRIPTDIR/../support/check_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/check_lib.sh"
driver="$1" tool="$2" emulator="$3" lib_dir="$4" python_dir="$5"
case "$driver" in
  vendor) needed=libftd2xx.so named="FTDI's D2XX driver from $lib_dir/libftd2xx.so" ;;
  open) needed=libusb-1.0.so.0 named="the open driver (libftdi1) from " ;;
  *) fail "the driver is vendor or open, not $driver" ;;
esac
if [ ! -f "$lib_dir/$needed" ]; then
  echo "skipped: no $needed in $lib_dir (fetched by the tests' fixtures)"
  exit 77
fi
export LD_PRELOAD="$emulator" LD_LIBRARY_PATH="$lib_dir" KORVELAN380_EMULATED_CHIPS=7
export KORVELAN380_DRIVER="$driver" XDG_STATE_HOME="$work"

doctor="$("$tool" -d 7 doctor 2>&1)" && status=0 || status=$?
expect "doctor finds nothing wrong" 0 "$status"
expect "doctor's verdict" "no problems found" "$(tail -1 <<<"$doctor")"
grep -q "module 7 opens and answers" <<<"$doctor" || problem "doctor: $doctor"
grep -qF "driver: $named" <<<"$doctor" || problem "doctor names another driver: $doctor"

# Each run is a fresh process, and so a freshly plugged-in chip: what a command shows is what it
# read back from the module within its run.
expect "dio out, read back" "DIO output: 0x5A (0b01011010, 90)" "$("$tool" -d 7 dio out 0x5A 2>&1)"
"$tool" -d 7 info >/dev/null 2>&1 && status=0 || status=$?
expect "info" 0 "$status"
"$tool" -d 9 info >/dev/null 2>&1 && status=0 || status=$?
expect "info on a module that is not there" 1 "$status"

quick_start="$(PYTHONPATH="$python_dir" python3 - <<'PY'
import ctypes
import korvelan380
with korvelan380.connect("7") as m:      # the module with USB serial number KORVELAN3807
    m.set_volts(0, 2.5)
    m.set_dio_output(0xC3)
chip = ctypes.CDLL(None)
chip.kft_register.restype = ctypes.c_uint8
print(chip.kft_register(b"7", 8), chip.kft_register(b"7", 12))
PY
)"
expect "the Python quick start" "195 1" "$quick_start"

# The calibration through the driver's EEPROM user area. The chip's EEPROM now outlives each
# process, as a real one does from one program to the next.
export KORVELAN380_EMULATED_EEPROMS="$work/eeproms"
mkdir -p "$KORVELAN380_EMULATED_EEPROMS"
"$tool" -d 7 calib export "$work/ideal.json" >/dev/null
expect "a new FT232H holds the ideal record" "0x3AA00000" \
  "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["entries"][0]["gain_bits"])' \
    "$work/ideal.json")"
python3 - "$work/ideal.json" "$work/changed.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
doc["entries"][0]["gain_bits"] = "0x3AA1CEF2"
doc["entries"][0]["gain"] = 0.0012345
doc["entries"][9]["offset"] = 8200
json.dump(doc, open(sys.argv[2], "w"))
PY
"$tool" -d 7 calib import "$work/changed.json" --save >/dev/null 2>&1 && status=0 || status=$?
expect "calib import --save" 0 "$status"
shown="$("$tool" -d 7 calib show 2>&1)"
grep -Eq "^ +0 .*0x3AA1CEF2 +8192" <<<"$shown" || problem "the stored gain, in a new process: $shown"
grep -Eq "^ +9 .*8200 \(0x2008\)" <<<"$shown" || problem "the stored offset, in a new process: $shown"

stored="$(PYTHONPATH="$python_dir" python3 - <<'PY'
import dataclasses
import struct
import korvelan380
with korvelan380.connect("7") as m:
    cal = m.get_calibration()
    gains = list(cal.gains)
    gains[7] = struct.unpack(">f", bytes.fromhex("3a9d4952"))[0]  # channel 1, -10..10 V
    m.store_calibration(dataclasses.replace(cal, gains=tuple(gains)))
with korvelan380.connect("7") as m:
    print(struct.pack(">f", m.get_calibration().gains[7]).hex(), m.get_calibration().offsets[9])
PY
)"
expect "Python stores the calibration through the driver" "3a9d4952 8200" "$stored"

finish
