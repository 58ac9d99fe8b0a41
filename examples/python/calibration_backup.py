#!/usr/bin/env python3
"""Backs a module's calibration up to a JSON file, and restores it from one.

    calibration_backup.py [--sim] [device_id] backup FILE
    calibration_backup.py [--sim] [device_id] restore FILE

The file holds the 14 offsets and gains (entry channel * 7 + range); gains are kept as their
32-bit patterns too, so that a restore is bit-exact. A restore replaces the module's working
calibration and stores it in the EEPROM (when it differs from what the EEPROM held at connect).
With --sim it runs against the simulated module.
"""

import argparse
import json
import struct
import sys

import korvelan380
from korvelan380 import Calibration, sim


def to_json(calibration: Calibration) -> dict:
    bits = struct.unpack("<14I", struct.pack("<14f", *calibration.gains))
    return {
        "offsets": list(calibration.offsets),
        "gains": list(calibration.gains),  # for reading; the restore uses gain_bits
        "gain_bits": [f"0x{b:08x}" for b in bits],
    }


def from_json(data: dict) -> Calibration:
    bits = [int(b, 16) for b in data["gain_bits"]]
    gains = struct.unpack("<14f", struct.pack("<14I", *bits))
    return Calibration(tuple(data["offsets"]), gains)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim", action="store_true", help="use the simulated module")
    parser.add_argument("device_id", nargs="?", default="0")
    parser.add_argument("action", choices=["backup", "restore"])
    parser.add_argument("file")
    args = parser.parse_args()

    if args.sim:
        sim.activate().attach(args.device_id)  # ideally calibrated

    try:
        with korvelan380.connect(args.device_id) as module:
            if args.action == "backup":
                with open(args.file, "w", encoding="utf-8") as file:
                    json.dump(to_json(module.get_calibration()), file, indent=1)
                print(f"backed up the calibration to {args.file}")
            else:
                with open(args.file, encoding="utf-8") as file:
                    wanted = from_json(json.load(file))
                module.store_calibration(wanted)
                if module.get_calibration() != wanted:
                    print("the restore did not take", file=sys.stderr)
                    return 1
                print(f"restored the calibration from {args.file}; the EEPROM holds it")
    except (korvelan380.KorvelanError, OSError, ValueError, KeyError, struct.error) as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
