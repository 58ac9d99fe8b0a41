#!/usr/bin/env python3
"""Reads the digital inputs.

    digital_inputs.py [--sim] [device_id]   (default: module "0")

Makes all eight lines of the digital port inputs (a clear direction bit), reads them and shows
each line's level; then reads the EXIO input byte. With --sim it runs against the simulated
module, whose inputs are set to 0xA5 and 0x3C first.
"""

import argparse
import sys

import korvelan380
from korvelan380 import sim


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim", action="store_true", help="use the simulated module")
    parser.add_argument("device_id", nargs="?", default="0")
    args = parser.parse_args()

    if args.sim:
        simulated = sim.activate().attach(args.device_id)
        simulated.set_dio_input(0xA5)  # what its digital inputs see
        simulated.set_exio_input(0x3C)

    try:
        with korvelan380.connect(args.device_id) as module:
            module.set_dio_direction(0x00)
            inputs = module.read_dio_input()
            print(f"digital inputs: 0x{inputs:02x}")
            for line in range(7, -1, -1):
                print(f"  line {line}: {'high' if inputs >> line & 1 else 'low'}")
            print(f"EXIO inputs: 0x{module.read_exio():02x}")
    except korvelan380.KorvelanError as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
