#!/usr/bin/env python3
"""Loads a waveform into a channel's memory and starts it.

    waveform.py [--sim] [device_id [channel]]   (default: module "0", channel 1)

Two periods of a sine, 2000 samples from 1 V to 4 V, in the 0..5 V range, given in volts: each
becomes the nearest rawValue, which the library calibrates for the range and streams in one
transfer. A clock setting for the channel and the trigger then start it. With --sim it runs
against the simulated module, and shows how many samples reached it.
"""

import argparse
import math
import sys

import korvelan380
from korvelan380 import Range, sim

SAMPLES = 2000


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim", action="store_true", help="use the simulated module")
    parser.add_argument("device_id", nargs="?", default="0")
    parser.add_argument("channel", nargs="?", type=int, default=1)
    args = parser.parse_args()

    simulated = sim.activate().attach(args.device_id) if args.sim else None
    volts = [2.5 + 1.5 * math.sin(4 * math.pi * i / SAMPLES) for i in range(SAMPLES)]

    try:
        with korvelan380.connect(args.device_id) as module:
            module.set_range(args.channel, Range.UNIPOLAR_5V)
            module.load_waveform_volts(args.channel, volts)
            module.set_clock(args.channel, 1000)  # a clock setting of at least 99
            module.start(args.channel)
            print(f"channel {args.channel}: loaded {SAMPLES} samples, 1 V to 4 V; started")
            print(f"trigger status: {int(module.trigger_status(args.channel))}")
    except korvelan380.KorvelanError as error:
        print(error, file=sys.stderr)
        return 1
    if simulated is not None:
        received = simulated.stream_samples(args.channel)
        print(f"the simulated module received {len(received)} samples")
    return 0


if __name__ == "__main__":
    sys.exit(main())
