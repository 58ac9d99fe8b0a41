#!/usr/bin/env python3
"""Sets an output in volts and reads it back.

    set_volts.py [--sim] [device_id [channel [volts]]]   (default: module "0", channel 0, 3.3 V)

Selects the 0..10 V range on the channel and sets the rawValue nearest to the volts (the library
calibrates it with the module's calibration); reads the output back in volts, as a rawValue and
as the code in the module's output registers. With --sim it runs against the simulated module.
"""

import argparse
import sys

import korvelan380
from korvelan380 import Range, sim


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim", action="store_true", help="use the simulated module")
    parser.add_argument("device_id", nargs="?", default="0")
    parser.add_argument("channel", nargs="?", type=int, default=0)
    parser.add_argument("volts", nargs="?", type=float, default=3.3)
    args = parser.parse_args()

    if args.sim:
        sim.activate().attach(args.device_id)  # before the first connect; ideally calibrated

    try:
        with korvelan380.connect(args.device_id) as module:
            module.set_range(args.channel, Range.UNIPOLAR_10V)
            module.set_volts(args.channel, args.volts)  # outside the range: InvalidArgumentError
            print(
                f"channel {args.channel} ({Range.UNIPOLAR_10V.low:g}..{Range.UNIPOLAR_10V.high:g}"
                f" V): set {args.volts:g} V, reads back {module.get_volts(args.channel):.4f} V"
                f" (raw value {module.get_raw(args.channel)},"
                f" code 0x{module.get_code(args.channel):04x})"
            )
    except korvelan380.KorvelanError as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
