"""Ranges and their volts, and the calibration value."""

import pytest

from korvelan380 import Calibration, Range

LIMITS = {
    Range.BIPOLAR_10V: (-10, 10),
    Range.BIPOLAR_5V: (-5, 5),
    Range.BIPOLAR_2_5V: (-2.5, 2.5),
    Range.BIPOLAR_1_25V: (-1.25, 1.25),
    Range.UNIPOLAR_10V: (0, 10),
    Range.UNIPOLAR_5V: (0, 5),
    Range.UNIPOLAR_2_5V: (0, 2.5),
}


class TestRange:
    def test_indices_and_limits_are_the_librarys(self):
        assert [int(r) for r in LIMITS] == list(range(7))
        for r, (low, high) in LIMITS.items():
            assert (r.low, r.high, r.span, r.bipolar) == (low, high, high - low, low < 0)

    @pytest.mark.parametrize("r", list(Range))
    def test_raw_values_are_evenly_spaced_from_the_bottom(self, r):
        assert r.to_volts(0) == r.low
        assert r.to_volts(0x2000) == (r.low + r.high) / 2
        assert r.to_volts(0x3FFF) == r.high - r.span / 16384

    @pytest.mark.parametrize("r", list(Range))
    def test_volts_round_to_the_nearest_step_and_the_top_to_the_last(self, r):
        step = r.span / 16384
        assert r.from_volts(r.low) == 0
        assert r.from_volts(r.low + 0.49 * step) == 0
        assert r.from_volts(r.low + 0.5 * step) == 1
        assert r.from_volts(r.high - step) == 0x3FFF
        assert r.from_volts(r.high - 0.49 * step) == 0x3FFF
        assert r.from_volts(r.high) == 0x3FFF

    @pytest.mark.parametrize("volts", [-10.0000001, 10.0000001, float("nan"), float("inf")])
    def test_volts_outside_the_range_are_refused(self, volts):
        with pytest.raises(ValueError):
            Range.BIPOLAR_10V.from_volts(volts)

    def test_every_raw_value_survives_the_round_trip(self):
        for r in Range:
            assert all(r.from_volts(r.to_volts(raw)) == raw for raw in range(0x4000))


class TestCalibration:
    def test_entries_are_channel_times_seven_plus_range(self):
        c = Calibration().replace(1, Range.BIPOLAR_5V, 0.25, 77)
        assert c.gains[8] == 0.25 and c.offsets[8] == 77
        assert c.entry(1, 1) == (0.25, 77)
        assert c.entry(0, 1) == (0.0, 0)

    @pytest.mark.parametrize(
        "kwargs", [{"offsets": (0,) * 13}, {"gains": (1.0,) * 15}, {"offsets": (0x10000,) * 14}]
    )
    def test_tables_of_the_wrong_size_or_offsets_beyond_16_bits_are_refused(self, kwargs):
        with pytest.raises(ValueError):
            Calibration(**kwargs)

    def test_no_entry_beyond_the_tables(self):
        with pytest.raises(ValueError):
            Calibration().entry(2, 0)
