"""korvelan380.calibrate on the simulated module, whose outputs are off as a real module's are:
the simulator's voltmeter gives the readings, and the outputs are measured again afterwards."""

import math
import struct

import pytest

import korvelan380
from korvelan380 import Range, ReadingRefusedError

ALL_PAIRS = [(c, r) for c in (0, 1) for r in Range]


def imperfect(sim_module):
    """Gives every pair a converter off as a real module's is: its gain by 0.1 to 0.4 % either
    way, its offset by 2 to 6 codes. A unipolar range's offset is one its calibration can take
    out: the record's offsets are codes 0 and up, so its output at code 0 must not be above 0 V."""
    for channel, output_range in ALL_PAIRS:
        sign = -1 if (channel + output_range) % 2 else 1
        gain = sign * 0.001 * (1 + output_range % 4)
        offset = 2 + (channel + output_range) % 5
        sim_module.set_output_error(
            channel, output_range, gain, offset if not output_range.bipolar else sign * offset
        )


def meter(sim_module):
    """The readings as a voltmeter on the output gives them."""
    return lambda channel, output_range, point, expected: sim_module.measure(channel)


def worst_error_lsb(m, sim_module, pairs, codes):
    """The largest distance, in LSB, between what an output puts out and what its raw value
    stands for, over the pairs and raw values given."""
    worst = 0.0
    for channel, output_range in pairs:
        m.set_range(channel, output_range)
        for raw in codes:
            m.set_raw(channel, raw)
            error = sim_module.measure(channel) - output_range.to_volts(raw)
            worst = max(worst, abs(error) / output_range.step)
    return worst


def bits(calibration):
    return struct.pack("<14H14f", *calibration.offsets, *calibration.gains)


class TestClosedLoop:
    def test_every_pair_ends_within_one_lsb_and_survives_a_reconnect(
        self, korvelan_module, sim_module
    ):
        m = korvelan_module
        imperfect(sim_module)
        points = (0x0666, 0x2000, 0x399A)
        # Off by a few codes: uncalibrated, that shows.
        assert worst_error_lsb(m, sim_module, ALL_PAIRS, points) > 1.5

        asked = []

        def reading(channel, output_range, point, expected):
            asked.append((channel, output_range, point, expected))
            return sim_module.measure(channel)

        results = korvelan380.calibrate(m, measure=reading, save=True)
        assert [(r.channel, r.output_range) for r in results] == ALL_PAIRS
        assert [a[:3] for a in asked[:3]] == [(0, Range.BIPOLAR_10V, p) for p in (0, 1, 2)]
        for r in results:
            ideal = [r.output_range.to_volts(c) for c in r.raw_codes]
            assert r.expected_volts == pytest.approx(ideal)
            assert r.raw_codes[2] == 0x2000
            assert all(abs(e) <= 1 for e in r.errors_lsb), r
            step_mv = r.output_range.step * 1000
            assert r.errors_mv == pytest.approx([e * step_mv for e in r.errors_lsb])
        calibrated = m.get_calibration()
        assert calibrated.entry(0, Range.BIPOLAR_10V) == (results[0].gain, results[0].offset)

        codes = {c for r in results for c in r.raw_codes}
        assert worst_error_lsb(m, sim_module, ALL_PAIRS, codes) <= 1
        m.close()
        with korvelan380.connect("7") as again:
            assert bits(again.get_calibration()) == bits(calibrated)
            assert worst_error_lsb(again, sim_module, ALL_PAIRS, codes) <= 1

    def test_one_pair_or_a_channel_without_save_leaves_record_and_eeprom_as_they_were(
        self, korvelan_module, sim_module
    ):
        m = korvelan_module
        imperfect(sim_module)
        # A record of the module's own, not the ideal one, to come back bit for bit.
        gain = Range.UNIPOLAR_5V.step * 1.0031
        m.store_calibration(m.get_calibration().replace(1, Range.UNIPOLAR_5V, gain, 7))
        odd = m.get_calibration()
        eeprom = sim_module.eeprom()
        one = korvelan380.calibrate(m, 1, Range.UNIPOLAR_5V, measure=meter(sim_module))
        assert len(one) == 1 and (one[0].old_gain, one[0].old_offset) == odd.entry(1, 5)
        assert (one[0].gain, one[0].offset) != odd.entry(1, 5)
        channel = korvelan380.calibrate(m, 0, measure=meter(sim_module))
        assert [(r.channel, r.output_range) for r in channel] == ALL_PAIRS[:7]
        assert bits(m.get_calibration()) == bits(odd)
        assert sim_module.eeprom() == eeprom


def refusing(at_pair, at_point, volts):
    """A meter that gives `volts(expected, readings)` at one point of one pair, and what the
    output puts out elsewhere."""

    def make(sim_module):
        state = {"pair": -1, "readings": []}

        def reading(channel, output_range, point, expected):
            if point == 0:
                state["pair"] += 1
                state["readings"] = []
            if (state["pair"], point) == (at_pair, at_point):
                return volts(expected, state["readings"])
            state["readings"].append(sim_module.measure(channel))
            return state["readings"][-1]

        return reading

    return make


class TestRefusedReadings:
    @pytest.mark.parametrize(
        "make, refusal, reason",
        [
            (refusing(0, 0, lambda e, r: math.nan), 1, "not a number"),
            (refusing(0, 1, lambda e, r: 10.5), 2, "outside the range's output limits"),
            (refusing(0, 1, lambda e, r: r[0]), 3, "no slope"),
            (refusing(0, 1, lambda e, r: r[0] - 1.0), 4, "negative"),
            (refusing(0, 1, lambda e, r: r[0] + 0.4 * (e - r[0])), 5, "no module has"),
            # On the third pair: the two pairs fitted before it are undone too.
            (refusing(2, 2, lambda e, r: 11.0), 2, "outside the range's output limits"),
        ],
    )
    def test_refused_reading_raises_naming_the_reason_and_restores_the_record(
        self, korvelan_module, sim_module, make, refusal, reason
    ):
        m = korvelan_module
        before = bits(m.get_calibration())
        eeprom = sim_module.eeprom()
        with pytest.raises(ReadingRefusedError) as raised:
            korvelan380.calibrate(m, 0, measure=make(sim_module), save=True)
        error = raised.value
        assert isinstance(error, ValueError)
        assert error.refusal == refusal and reason in str(error)
        assert error.channel == 0 and error.status == 1
        assert bits(m.get_calibration()) == before
        assert sim_module.eeprom() == eeprom

    def test_a_failing_meter_goes_through_with_the_record_restored(
        self, korvelan_module, sim_module
    ):
        m = korvelan_module
        before = bits(m.get_calibration())
        calls = []

        def broken(channel, output_range, point, expected):
            calls.append(point)
            if len(calls) == 5:  # the second pair's second point: the first pair is fitted
                raise TimeoutError("the meter did not answer")
            return sim_module.measure(channel)

        with pytest.raises(TimeoutError):
            korvelan380.calibrate(m, 1, measure=broken)
        assert bits(m.get_calibration()) == before

    @pytest.mark.parametrize(
        "channel, output_range", [(2, None), (None, 7), (True, 0), (0, "0..5V")]
    )
    def test_no_such_channel_or_range_is_refused_before_anything_is_sent(
        self, korvelan_module, korvelan_sim, channel, output_range
    ):
        korvelan_sim.clear_trace()
        with pytest.raises(korvelan380.InvalidArgumentError):
            korvelan380.calibrate(korvelan_module, channel, output_range, measure=lambda *a: 0.0)
        assert korvelan_sim.trace() == []

    def test_a_library_without_the_guided_calibration_says_so(self, korvelan_module, monkeypatch):
        library = korvelan380.loaded_library()
        monkeypatch.delattr(library, "KORVELAN380_CalibAdjustBegin")
        with pytest.raises(korvelan380.OpenFailedError, match="lacks it"):
            korvelan380.calibrate(korvelan_module, 0, 0, measure=lambda *a: 0.0)
