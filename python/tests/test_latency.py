"""The USB chip's latency timer that connect sets: 2 ms by default and best-effort, a value
asked for or else an error, or the chip's own."""

import pytest

import korvelan380
from korvelan380 import InvalidArgumentError, OpenFailedError, TransferFailedError


def timer_settings(sim_module):
    """The settings the driver's FT_SetLatencyTimer was given, in order."""
    return [c.arg for c in sim_module.trace() if c.fn.name == "SET_LATENCY_TIMER"]


@pytest.fixture(params=["driver", "library"])
def no_way_to_set(request, monkeypatch, korvelan_sim):
    """A library that cannot set the timer: its driver has no FT_SetLatencyTimer (status 4),
    or the library lacks the export."""
    library = korvelan380.load_library()
    if request.param == "driver":

        def refuse(device_id, _milliseconds):
            raise OpenFailedError(4, "KORVELAN380_LatencySet", device_id.decode())

        monkeypatch.setattr(library, "KORVELAN380_LatencySet", refuse, raising=False)
    else:
        monkeypatch.delattr(library, "KORVELAN380_LatencySet", raising=False)


def assert_left_disconnected(sim_module):
    assert not sim_module.is_open
    assert korvelan380.connected_modules() == []


class TestDefault:
    def test_connect_sets_two_milliseconds(self, sim_module):
        with korvelan380.connect("7") as module:
            assert module.latency_ms == 2
        assert timer_settings(sim_module) == [2]

    def test_where_it_cannot_be_set_the_chip_keeps_its_own(self, sim_module, no_way_to_set):
        with korvelan380.connect("7") as module:
            assert module.latency_ms is None
            module.set_dio_output(0x5A)  # connected, and working
        assert sim_module.register(8) == 0x5A

    def test_the_environments_setting_outranks_it(self, sim_module, monkeypatch):
        monkeypatch.setenv("KORVELAN380_LATENCY_MS", "7")
        with korvelan380.connect("7") as module:
            assert module.latency_ms is None
        assert timer_settings(sim_module) == [7]  # the library's, at connect

    def test_a_driver_that_refuses_it_fails_the_connect(self, sim_module):
        sim_module.fail_call("SET_LATENCY_TIMER")
        with pytest.raises(TransferFailedError):
            korvelan380.connect("7")
        assert_left_disconnected(sim_module)


class TestAskedFor:
    @pytest.mark.parametrize("milliseconds", [0, 256, -1])
    def test_outside_1_to_255_is_refused_before_connecting(self, sim_module, milliseconds):
        with pytest.raises(InvalidArgumentError) as caught:
            korvelan380.connect("7", latency_ms=milliseconds)
        assert caught.value.export == "KORVELAN380_LatencySet"
        assert sim_module.trace() == []

    @pytest.mark.parametrize("value", ["2", 2.0])
    def test_not_an_integer_is_a_type_error(self, sim_module, value):
        with pytest.raises(TypeError):
            korvelan380.connect("7", latency_ms=value)
        assert sim_module.trace() == []

    def test_a_value_is_set_and_reported(self, sim_module):
        with korvelan380.Module("7", latency_ms=1) as module:
            assert module.latency_ms == 1
        assert timer_settings(sim_module) == [1]

    def test_none_keeps_the_chips_own_and_makes_no_call(self, sim_module):
        with korvelan380.connect("7", latency_ms=None) as module:
            assert module.latency_ms is None
        assert timer_settings(sim_module) == []

    def test_one_that_cannot_be_set_fails_the_connect(self, sim_module, no_way_to_set):
        # 2 asked for is not the default: it must be met.
        with pytest.raises(OpenFailedError) as caught:
            korvelan380.connect("7", latency_ms=2)
        assert caught.value.export == "KORVELAN380_LatencySet"
        assert_left_disconnected(sim_module)
        with korvelan380.connect("7", latency_ms=None):
            pass  # a retry starts afresh
