"""Every Module method against the simulated module: what goes over the wire and what comes back."""

import re
from array import array

import pytest

import korvelan380
from korvelan380 import (
    Calibration,
    DacChannelSettings,
    FifoChannelStatus,
    InvalidArgumentError,
    Range,
    Selection,
    TransferFailedError,
)
from korvelan380.sim import Fn
from chat import R, W, as_received, register_writes, writes


@pytest.fixture
def m(korvelan_module, korvelan_sim):
    """The connected module, with the trace of its connect cleared."""
    korvelan_sim.clear_trace()
    return korvelan_module


class TestConnection:
    def test_with_block_opens_the_module_and_closes_it(self, sim_module):
        with korvelan380.connect("7") as module:
            assert sim_module.is_open
            assert not module.closed
        assert module.closed
        assert not sim_module.is_open
        assert sim_module.trace()[0].fn == Fn.OPEN_EX
        assert sim_module.trace()[0].serial == "KORVELAN3807"

    def test_close_twice_disconnects_once(self, sim_module):
        module = korvelan380.connect("7")
        module.close()
        module.close()
        assert [c.fn for c in sim_module.trace()].count(Fn.CLOSE) == 1

    def test_stale_module_does_not_close_a_later_connection(self, sim_module):
        first = korvelan380.connect("7")
        korvelan380.loaded_library().KORVELAN380_DisConnect(b"7")  # behind its back
        second = korvelan380.connect("7")
        with pytest.raises(korvelan380.NotConnectedError):
            first.get_dio_output()
        first.close()
        assert not second.closed and sim_module.is_open
        assert korvelan380.connected_modules() == [second]
        second.close()

    def test_failed_first_initialisation_leaves_the_module_disconnected(self, sim_module):
        sim_module.fail_call(Fn.WRITE, 1)  # the read of the initialised flag
        with pytest.raises(TransferFailedError):
            korvelan380.connect("7")
        assert not sim_module.is_open
        assert korvelan380.connected_modules() == []
        with korvelan380.connect("7"):  # a retry starts afresh
            assert sim_module.register(12) == 1

    def test_disconnect_all_closes_every_module(self, korvelan_sim):
        sims = [korvelan_sim.attach(i) for i in ("1", "2")]
        modules = [korvelan380.connect(i) for i in ("1", "2")]
        korvelan380.disconnect_all()
        assert all(m.closed for m in modules)
        assert not any(s.is_open for s in sims)


class TestCalibration:
    def test_get_returns_the_record_found_in_the_eeprom(self, m):
        calibration = m.get_calibration()
        assert calibration.entry(0, Range.BIPOLAR_10V) == (20 / 16384, 0x2000)
        assert calibration.entry(1, Range.UNIPOLAR_2_5V) == (2.5 / 16384, 0)

    def test_set_replaces_the_working_copy_without_touching_the_eeprom(self, m, sim_module):
        before = sim_module.eeprom()
        changed = m.get_calibration().replace(0, Range.BIPOLAR_10V, 20 / 16384, 0x2010)
        m.set_calibration(changed)
        assert m.get_calibration() == changed
        assert m.calibrated_from_raw(0, Range.BIPOLAR_10V, 0x1000) == 0x1010
        assert sim_module.eeprom() == before

    def test_store_writes_the_record_to_the_eeprom(self, m, sim_module):
        changed = m.get_calibration().replace(1, Range.UNIPOLAR_5V, 0.5, 0x1234)
        m.store_calibration(changed, force=True)  # 0.5 V per code: far from the ideal
        record = sim_module.eeprom()
        entry = 1 * 7 + 5
        assert record[0] == 0x55
        assert record[60 + 2 * entry : 62 + 2 * entry] == (0x1234).to_bytes(2, "little")
        assert record[4 + 4 * entry : 8 + 4 * entry] == bytes.fromhex("0000003f")  # 0.5f

    def test_failed_store_raises_but_keeps_the_working_copy(self, m, sim_module):
        changed = m.get_calibration().replace(0, 0, 1.0, 1)
        sim_module.fail_call(Fn.EE_UA_WRITE)
        with pytest.raises(TransferFailedError):
            m.set_calibration(changed, save=True, force=True)
        assert m.get_calibration() == changed

    def test_gains_are_kept_in_single_precision(self, m):
        m.set_calibration(Calibration(gains=(0.1,) * 14), force=True)
        assert m.get_calibration().gains[0] == pytest.approx(0.1, rel=1e-7)
        assert m.get_calibration().gains[0] != 0.1


class TestCalibrationChecks:
    """Values no module has are refused, naming the entry, before anything is sent."""

    IDEAL_10V = 20 / 16384

    @pytest.mark.parametrize(
        "gain, offset, entry",
        [
            (float("nan"), 0x2000, "entry 0 (channel 0, BIPOLAR_10V): gain nan"),
            (float("inf"), 0x2000, "entry 0 (channel 0, BIPOLAR_10V): gain inf"),
            (0.0, 0x2000, "entry 0 (channel 0, BIPOLAR_10V): gain 0.0"),
            (-IDEAL_10V, 0x2000, "entry 0 (channel 0, BIPOLAR_10V): gain -0.00122"),
            (3 * IDEAL_10V, 0x2000, "entry 0 (channel 0, BIPOLAR_10V): gain 0.00366"),
            (IDEAL_10V, 0x4000, "entry 0 (channel 0, BIPOLAR_10V): offset 16384"),
        ],
    )
    def test_impossible_values_change_nothing_unless_forced(
        self, m, sim_module, gain, offset, entry
    ):
        before = m.get_calibration()
        eeprom = sim_module.eeprom()
        bad = before.replace(0, Range.BIPOLAR_10V, gain, offset)
        for call in (lambda: m.set_calibration(bad), lambda: m.store_calibration(bad)):
            with pytest.raises(InvalidArgumentError, match=re.escape(entry)) as error:
                call()
            assert "force=True" in str(error.value)
        assert m.get_calibration() == before
        assert sim_module.eeprom() == eeprom
        m.store_calibration(bad, force=True)
        stored = m.get_calibration().entry(0, Range.BIPOLAR_10V)
        assert stored[1] == offset
        assert stored[0] == gain or (gain != gain and stored[0] != stored[0])

    def test_the_bounds_are_taken(self, m):
        # Half and twice the ideal, and the last code, are values a module may have.
        edge = (
            m.get_calibration()
            .replace(0, Range.BIPOLAR_10V, 2 * self.IDEAL_10V, 0x3FFF)
            .replace(1, Range.UNIPOLAR_2_5V, 2.5 / 16384 / 2, 0)
        )
        m.set_calibration(edge)
        assert m.get_calibration() == edge

    def test_a_blank_record_goes_back_only_with_force(self, m):
        blank = Calibration()  # gains 0.0, as a module with an empty EEPROM reports them
        with pytest.raises(InvalidArgumentError, match="entry 0"):
            m.set_calibration(blank)
        m.set_calibration(blank, force=True)
        assert m.get_calibration() == blank
        m.store_calibration()  # the working record, already the module's, is not checked


class TestConversion:
    def test_ideal_calibration_converts_to_the_same_code_and_back(self, m, sim_module):
        assert m.calibrated_from_raw(1, Range.BIPOLAR_5V, 0x1234) == 0x1234
        assert m.raw_from_calibrated(1, Range.BIPOLAR_5V, 0x1234) == 0x1234
        assert sim_module.trace() == []  # no transfer

    def test_a_code_that_stands_for_no_raw_value_is_refused(self, m):
        with pytest.raises(InvalidArgumentError) as caught:
            m.raw_from_calibrated(0, Range.UNIPOLAR_10V, 0xFFFF)
        assert caught.value.export == "KORVELANGetRawValFromCalibed"

    @pytest.mark.parametrize("channel, output_range", [(2, 0), (0, 7)])
    def test_channel_and_range_are_checked(self, m, channel, output_range):
        with pytest.raises(InvalidArgumentError):
            m.calibrated_from_raw(channel, output_range, 0)


class TestDigitalIO:
    def test_direction_and_output_are_written_and_read_back(self, m, sim_module):
        m.set_dio_direction(0x0F)
        m.set_dio_output(0xA5)
        assert register_writes(sim_module) == [W(7, 0x0F), W(8, 0xA5)]
        sim_module.set_register(7, 0x3C)
        sim_module.set_register(8, 0x5A)
        assert m.get_dio_direction() == 0x3C
        assert m.get_dio_output() == 0x5A

    def test_input_reads_what_the_module_sees(self, m, sim_module):
        sim_module.set_dio_input(0x81)
        assert m.read_dio_input() == 0x81

    @pytest.mark.parametrize("value", [-1, 256])
    def test_a_value_beyond_a_byte_is_refused_before_sending(self, m, sim_module, value):
        with pytest.raises(InvalidArgumentError):
            m.set_dio_output(value)
        assert sim_module.trace() == []


class TestChannelAndRange:
    def test_mode_two_sends_the_parameter_and_reads_it_back(self, m, sim_module):
        settings = DacChannelSettings(
            mode=2, select_a=1, select_b=2, switch_b=1, mode_parameter=0xBEEF
        )
        m.set_channel_settings(1, settings)
        assert register_writes(sim_module) == [W(17, 0xA6), W(39, 0), W(32, 0xBE, 0xEF)]
        back = m.get_channel_settings(1)
        assert (back.mode, back.mode_parameter) == (2, 0xBEEF)

    def test_preset_is_calibrated_for_the_range_and_read_back_as_raw(self, m, sim_module):
        m.set_range(0, Range.UNIPOLAR_5V)
        m.set_channel_settings(
            0, DacChannelSettings(mode=3, select_a=1, preset_enable=1, preset_value=0x1234)
        )
        assert (sim_module.register(50), sim_module.register(51)) == (0x12, 0x34)
        assert m.get_channel_settings(0) == DacChannelSettings(
            mode=3, select_a=1, preset_enable=1, preset_value=0x1234
        )

    def test_settings_the_mode_does_not_accept_send_nothing(self, m, sim_module):
        with pytest.raises(InvalidArgumentError):
            m.set_channel_settings(0, DacChannelSettings(mode=3, select_a=2))
        with pytest.raises(InvalidArgumentError):
            m.set_channel_settings(0, DacChannelSettings(preset_value=0x10000))
        assert sim_module.trace() == []

    def test_range_loads_the_calibration_words_then_the_range(self, m, sim_module):
        m.set_range(1, Range.BIPOLAR_1_25V)
        assert register_writes(sim_module) == [W(128, 0, 0), W(130, 0x20, 0x00), W(35, 3)]
        assert m.get_range(1) is Range.BIPOLAR_1_25V

    def test_a_held_value_that_is_no_range_is_returned_as_a_number(self, m, sim_module):
        sim_module.set_register(34, 9)
        assert m.get_range(0) == 9 and not isinstance(m.get_range(0), Range)

    def test_channel_two_takes_a_range_but_has_no_read_back(self, m, sim_module):
        m.set_range(2, Range.UNIPOLAR_10V)
        assert sim_module.register(36) == 4
        with pytest.raises(InvalidArgumentError):
            m.get_range(2)


class TestValues:
    def test_raw_value_is_calibrated_and_read_back(self, m, sim_module):
        m.set_raw(1, 0x2ABC)
        assert sim_module.output_code(1) == 0x2ABC
        assert m.get_raw(1) == 0x2ABC

    def test_raw_values_beyond_fourteen_bits_are_refused(self, m, sim_module):
        with pytest.raises(InvalidArgumentError):
            m.set_raw(0, 0x4000)
        assert sim_module.trace() == []

    def test_code_is_written_and_read_unchanged(self, m, sim_module):
        m.set_code(1, 0xBEEF)
        assert register_writes(sim_module) == [W(44, 0xBE, 0xEF)]
        assert m.get_code(1) == 0xBEEF

    def test_code_read_back_goes_through_the_cxx_linkage_export(self, m):
        with pytest.raises(InvalidArgumentError) as caught:
            m.get_code(2)
        assert caught.value.export == "KORVELAN380_DacValSet_NoCalibed_R"


class TestVolts:
    @pytest.mark.parametrize("output_range", list(Range))
    def test_range_limits_give_the_first_and_last_raw_values(self, m, sim_module, output_range):
        m.set_range(0, output_range)
        m.set_volts(0, output_range.low)
        assert sim_module.output_code(0) == 0
        assert m.get_volts(0) == output_range.low
        m.set_volts(0, output_range.high)
        assert sim_module.output_code(0) == 0x3FFF
        assert m.get_volts(0) == output_range.high - output_range.span / 16384
        m.set_volts(0, (output_range.low + output_range.high) / 2)
        assert sim_module.output_code(0) == 0x2000

    @pytest.mark.parametrize("volts", [10.000001, -10.000001, float("nan")])
    def test_volts_outside_the_range_write_nothing(self, m, sim_module, volts):
        m.set_range(0, Range.BIPOLAR_10V)
        sim_module.simulator.clear_trace()
        with pytest.raises(InvalidArgumentError) as caught:
            m.set_volts(0, volts)
        assert caught.value.export == "KORVELAN380_DacValSet"
        assert register_writes(sim_module) == []

    def test_volts_follow_the_range_the_module_reports(self, m, sim_module):
        sim_module.set_register(35, Range.UNIPOLAR_5V)  # changed behind the Module's back
        m.set_volts(1, 2.5)
        assert sim_module.output_code(1) == 0x2000

    def test_a_reported_value_that_is_no_range_fails_the_transfer(self, m, sim_module):
        sim_module.set_register(34, 7)
        with pytest.raises(TransferFailedError):
            m.set_volts(0, 0.0)


class TestWaveform:
    def test_samples_are_calibrated_and_streamed_after_the_length(self, m, sim_module):
        m.set_range(1, Range.BIPOLAR_5V)
        sim_module.simulator.clear_trace()
        m.load_waveform(1, array("H", [0, 0x1001, 0x3FFF]))
        assert writes(sim_module) == [
            R(35, 35),
            W(61, 0, 0, 2),
            b"\x02X01",
            b"000010003FFC",
            b"\x03",
        ]
        assert list(sim_module.stream_samples(1)) == as_received([0, 0x1001, 0x3FFF])
        assert sim_module.stream_count(1) == 1

    @pytest.mark.parametrize(
        "samples",
        [
            bytes.fromhex("0400 0800 0c00"),
            bytearray(b"\x04\x00\x08\x00\x0c\x00"),
            memoryview(array("H", [9, 4, 9, 8, 9, 12]))[1::2],
            [4, 8, 12],
            range(4, 13, 4),
        ],
        ids=["bytes", "bytearray", "strided-memoryview", "list", "range"],
    )
    def test_any_buffer_or_iterable_of_sixteen_bit_values(self, m, sim_module, samples):
        m.load_waveform(0, samples)
        assert list(sim_module.stream_samples(0)) == [4, 8, 12]

    def test_a_full_numpy_waveform(self, m, sim_module):
        np = pytest.importorskip("numpy")
        samples = (np.arange(korvelan380.MAX_SAMPLES, dtype=np.uint32) * 7 % 0x4000).astype(
            np.uint16
        )
        m.load_waveform(0, samples)
        received = np.frombuffer(sim_module.stream_samples(0), dtype=np.uint16)
        assert received.size == 524288
        assert np.array_equal(received, samples & 0xFFFC)
        assert [sim_module.register(r) for r in (58, 59, 60)] == [0x07, 0xFF, 0xFF]

    def test_numpy_arrays_of_other_integers_and_strides_are_converted(self, m, sim_module):
        np = pytest.importorskip("numpy")
        m.load_waveform(0, np.array([[4, 99], [8, 99]], dtype=np.int64)[:, 0])
        assert list(sim_module.stream_samples(0)) == [4, 8]
        with pytest.raises(InvalidArgumentError):
            m.load_waveform(0, np.array([-1], dtype=np.int32))
        with pytest.raises(TypeError):
            m.load_waveform(0, np.array([1.0]))

    @pytest.mark.parametrize(
        "samples",
        [[], range(korvelan380.MAX_SAMPLES + 1), b"\x01", [0x10000]],
        ids=["empty", "too-many", "odd-bytes", "beyond-16-bits"],
    )
    def test_unacceptable_samples_send_nothing(self, m, sim_module, samples):
        with pytest.raises(InvalidArgumentError) as caught:
            m.load_waveform(0, samples)
        assert caught.value.export == "KORVELAN380_WavImgSet"
        assert sim_module.trace() == []

    def test_volts_become_raw_values_in_the_reported_range(self, m, sim_module):
        m.set_range(0, Range.UNIPOLAR_5V)
        m.load_waveform_volts(0, [0.0, 2.5, 5.0, 1.25])
        assert list(sim_module.stream_samples(0)) == as_received([0, 0x2000, 0x3FFF, 0x1000])

    def test_numpy_volts_convert_like_single_values(self, m, sim_module):
        np = pytest.importorskip("numpy")
        m.set_range(0, Range.BIPOLAR_2_5V)
        volts = np.linspace(-2.5, 2.5, 10001)
        m.load_waveform_volts(0, volts)
        expected = [Range.BIPOLAR_2_5V.from_volts(v) for v in volts.tolist()]
        assert list(sim_module.stream_samples(0)) == as_received(expected)

    def test_a_volt_outside_the_range_sends_nothing(self, m, sim_module):
        m.set_range(0, Range.UNIPOLAR_2_5V)
        sim_module.simulator.clear_trace()
        with pytest.raises(InvalidArgumentError):
            m.load_waveform_volts(0, [1.0, -0.1])
        assert register_writes(sim_module) == []


class TestFifo:
    def test_codes_are_streamed_unchanged(self, m, sim_module):
        m.load_fifo(1, array("H", [0xFFFF, 0x1234]))
        assert list(sim_module.stream_samples(1)) == [0xFFFC, 0x1234]

    def test_channel_two_is_accepted_and_fails_with_nothing_sent(self, m, sim_module):
        with pytest.raises(TransferFailedError):
            m.load_fifo(2, [1])
        assert sim_module.trace() == []

    def test_clear_writes_the_channels_clear_register(self, m, sim_module):
        m.clear_fifo(1)
        m.clear_fifo(2)
        assert register_writes(sim_module) == [W(75, 0), W(67, 0)]

    def test_status_gives_both_channels_flags_and_counters(self, m, sim_module):
        for register, value in {64: 0x8A, 65: 0xBC, 66: 0xDE, 68: 0x45, 69: 0x01, 70: 0x02}.items():
            sim_module.set_register(register, value)
        status = m.fifo_status()
        assert status[0] == FifoChannelStatus(flag7=True, flag6=False, counter=0xABCDE)
        assert status.channel1 == FifoChannelStatus(flag7=False, flag6=True, counter=0x50102)


class TestTriggerAndGate:
    def test_start_and_stop_write_the_trigger_register(self, m, sim_module):
        m.start(0)
        m.stop(1)
        m.start(2)
        assert register_writes(sim_module) == [W(27, 1), W(29, 2), W(6, 1)]

    def test_trigger_status_is_bit_four_channel_two_reading_channel_zero(self, m, sim_module):
        sim_module.set_register(27, 0x10)
        assert m.trigger_status(0) and m.trigger_status(2)
        assert not m.trigger_status(1)

    def test_gate_is_written_and_read_from_its_status_bit(self, m, sim_module):
        m.set_gate(1, True)
        m.set_gate(2, False)
        assert register_writes(sim_module) == [W(28, 1), W(5, 0)]
        assert m.get_gate(1)  # the module reports the gate written in bit 0 in bit 1
        sim_module.set_register(26, 0x02)
        sim_module.set_register(28, 0x01)
        sim_module.set_register(5, 0x01)
        assert m.get_gate(0) and m.get_gate(2)
        assert not m.get_gate(1)

    def test_gate_beyond_one_is_refused(self, m):
        with pytest.raises(InvalidArgumentError):
            m.set_gate(0, 2)


class TestSelectionAndClock:
    def test_external_select_packs_two_nibbles(self, m, sim_module):
        m.set_external_select(3, 4)
        assert sim_module.register(0) == 0x43
        sim_module.set_register(0, 0xF1)
        assert m.get_external_select() == Selection(low=1, high=15)
        with pytest.raises(InvalidArgumentError):
            m.set_external_select(5, 0)

    def test_clock_setting_goes_most_significant_byte_first(self, m, sim_module):
        m.set_clock(1, 0x12345678)
        assert register_writes(sim_module) == [W(22, 0x12, 0x34, 0x56, 0x78)]
        for setting in (98, 1 << 32):
            with pytest.raises(InvalidArgumentError):
                m.set_clock(0, setting)

    def test_exio_select_read_back_prints_the_byte_unless_quiet(self, m, sim_module, capfd):
        m.set_exio_select(6, 2)
        assert sim_module.register(11) == 0x26
        assert m.get_exio_select() == Selection(6, 2)
        assert capfd.readouterr().out == "38"
        assert m.get_exio_select(quiet=True) == Selection(6, 2)
        print("after")
        assert capfd.readouterr().out == "after\n"

    def test_exio_input(self, m, sim_module):
        sim_module.set_exio_input(0x5C)
        assert m.read_exio() == 0x5C
