#!/usr/bin/env python3
"""A session with a simulated KORVELAN380 module, from Python.

Connects the simulated module "7", sets its digital port and an output in volts, loads a sine
wave into channel 1's waveform memory, reads things back, and prints the driver calls the
simulated module saw. Run it from the repository after building (scripts/main.sh or
scripts/test.sh):

    PYTHONPATH=python /usr/bin/python3 python/examples/sim_session.py

With real hardware, leave out the two simulator lines: the same code drives the module.
"""

import math
import os
import sys
from collections import Counter

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

import korvelan380  # noqa: E402
from korvelan380 import Range, sim  # noqa: E402


def main() -> int:
    simulator = sim.activate()  # before the first connect
    simulated = simulator.attach("7")  # the module KORVELAN3807, ideally calibrated
    simulated.set_dio_input(0xA5)  # what its digital inputs see

    with korvelan380.connect("7") as m:
        m.set_dio_direction(0x0F)
        m.set_dio_output(0x05)
        print(f"digital inputs: 0x{m.read_dio_input():02x}")

        m.set_range(0, Range.BIPOLAR_10V)
        m.set_volts(0, 2.5)
        print(f"channel 0: {m.get_volts(0):+.4f} V (raw 0x{m.get_raw(0):04x})")

        m.set_range(1, Range.UNIPOLAR_5V)
        wave = [2.5 + 2.5 * math.sin(2 * math.pi * k / 1000) for k in range(1000)]
        m.load_waveform_volts(1, wave)
        samples = simulated.stream_samples(1)
        print(f"channel 1: {len(samples)} waveform samples, first {list(samples[:4])}")

        try:
            m.set_volts(1, 7.0)  # outside 0..5 V
        except korvelan380.InvalidArgumentError as error:
            print(f"refused: {error}")

        print(f"FIFO status: {m.fifo_status()}")

    calls = Counter(call.fn.name for call in simulator.trace())
    print("driver calls seen by the simulated module:")
    for name, count in sorted(calls.items()):
        print(f"  {name:<16} {count}")
    # Bits 1-0 of every streamed code arrive clear.
    expected = [Range.UNIPOLAR_5V.from_volts(v) & 0xFFFC for v in wave]
    return 0 if list(samples) == expected else 1


if __name__ == "__main__":
    sys.exit(main())
