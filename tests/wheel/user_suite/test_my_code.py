"""A user's own tests: the fixtures come from the installed wheel's pytest plugin, with nothing
in conftest.py."""

import korvelan380


def ramp(module, channel, to_volts, steps=4):
    """The user's code under test: walks an output up to a voltage."""
    low = module.get_range(channel).low
    for step in range(1, steps + 1):
        module.set_volts(channel, low + (to_volts - low) * step / steps)


def test_ramp_ends_at_five_volts(korvelan_module, sim_module):
    korvelan_module.set_range(0, korvelan380.Range.UNIPOLAR_10V)
    ramp(korvelan_module, 0, 5.0)
    assert sim_module.output_code(0) == 0x2000


def test_each_test_starts_with_a_fresh_module(korvelan_module, sim_module):
    assert sim_module.output_code(0) == 0
    assert korvelan380.connected_modules() == [korvelan_module]
