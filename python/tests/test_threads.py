"""Several threads on the package at once."""
import threading
import time
from array import array

import pytest

import korvelan380
from korvelan380 import TransferFailedError
from korvelan380.sim import Fn


def run_all(*targets):
    """Runs each target in its own thread; re-raises the first failure."""
    failures = []

    def guarded(target):
        try:
            target()
        except BaseException as error:  # noqa: B902 - reported to the test below
            failures.append(error)

    threads = [threading.Thread(target=guarded, args=(t,)) for t in targets]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    if failures:
        raise failures[0]


def test_two_threads_on_two_modules_each_see_only_their_own(korvelan_sim):
    sims = {i: korvelan_sim.attach(i) for i in ("1", "2")}
    modules = {i: korvelan380.connect(i) for i in ("1", "2")}
    seen = {}

    def work(device_id, base):
        m = modules[device_id]
        m.set_range(0, korvelan380.Range.UNIPOLAR_10V)
        readings = []
        for i in range(200):
            m.set_raw(0, base + i)
            m.set_dio_output((base + i) & 0xFF)
            readings.append((m.get_raw(0), m.get_dio_output()))
        m.load_waveform(1, array("H", [base + 4 * k for k in range(1000)]))
        seen[device_id] = readings

    run_all(lambda: work("1", 0x1000), lambda: work("2", 0x2000))
    for device_id, base in (("1", 0x1000), ("2", 0x2000)):
        assert seen[device_id] == [(base + i, (base + i) & 0xFF) for i in range(200)]
        assert list(sims[device_id].stream_samples(1)) == [base + 4 * k for k in range(1000)]
        assert sims[device_id].output_code(0) == base + 199


def test_calls_on_two_modules_run_at_once(korvelan_sim):
    # A call on module 1 that waits for a reply which never comes does not hold up module 2:
    # module 2's calls all finish while module 1's call is still waiting.
    waiting = korvelan_sim.attach("1")
    korvelan_sim.attach("2")
    one, two = korvelan380.connect("1"), korvelan380.connect("2")
    waiting.withhold_replies(1)
    outcome = []

    def wait_on_one():
        try:
            one.get_dio_output()
            outcome.append("returned")
        except TransferFailedError:
            outcome.append("transfer failed")

    caller = threading.Thread(target=wait_on_one)
    caller.start()
    while sum(c.fn == Fn.READ for c in waiting.trace()) < 2:
        time.sleep(0.001)
    for k in range(60):
        two.set_dio_output(k)
        assert two.get_dio_output() == k
    assert caller.is_alive() and outcome == []
    one.close()  # ends the wait
    caller.join(timeout=30)
    assert outcome == ["transfer failed"]


def test_closing_a_module_under_a_waiting_call_ends_that_call(korvelan_module, sim_module):
    sim_module.withhold_replies(1)  # the read would otherwise wait ten seconds
    outcome = []

    def call():
        try:
            korvelan_module.get_dio_output()
            outcome.append("returned")
        except TransferFailedError:
            outcome.append("transfer failed")

    caller = threading.Thread(target=call)
    started = time.monotonic()
    caller.start()
    while sum(c.fn == Fn.READ for c in sim_module.trace()) < 2:
        time.sleep(0.001)
    korvelan_module.close()
    caller.join(timeout=30)
    assert outcome == ["transfer failed"]
    assert time.monotonic() - started < 5


class TestRangeChangeAgainstVolts:
    """A set_range from another thread never falls between the range read of a volts method
    and its value call. The first range read of the volts method waits until the racing
    set_range has had its chance to reach the library; the offsets differ per range, so the
    code on the wire tells which range's calibration the value was converted for."""

    READ_RANGE = korvelan380.Range.UNIPOLAR_10V
    RACING_RANGE = korvelan380.Range.UNIPOLAR_5V

    @pytest.fixture
    def m(self, korvelan_module):
        cal = korvelan_module.get_calibration()
        offsets = tuple(o + 40 * i for i, o in enumerate(cal.offsets))
        korvelan_module.set_calibration(korvelan380.Calibration(offsets, cal.gains))
        korvelan_module.set_range(0, self.READ_RANGE)
        return korvelan_module

    def code(self, m, output_range, volts):
        return m.calibrated_from_raw(0, output_range, output_range.from_volts(volts))

    def race(self, monkeypatch, m, volts_call):
        """Runs volts_call with a set_range to RACING_RANGE started while it waits after its
        range read; returns volts_call's result once both are done."""
        lib = m._lib
        range_read, range_set = threading.Event(), threading.Event()
        real_read, real_set = lib.KORVELAN380_RangeSet_R, lib.KORVELAN380_RangeSet

        def read_then_wait(*args):
            status = real_read(*args)
            if not range_read.is_set():
                range_read.set()
                range_set.wait(timeout=0.5)  # long enough for an unlocked set_range to land
            return status

        def set_and_tell(*args):
            status = real_set(*args)
            range_set.set()
            return status

        monkeypatch.setattr(lib, "KORVELAN380_RangeSet_R", read_then_wait)
        monkeypatch.setattr(lib, "KORVELAN380_RangeSet", set_and_tell)
        result = []

        def racer():
            assert range_read.wait(timeout=30)
            m.set_range(0, self.RACING_RANGE)

        run_all(lambda: result.append(volts_call()), racer)
        assert m.get_range(0) == self.RACING_RANGE  # the racing call did land, afterwards
        return result[0]

    def test_set_volts_writes_the_code_of_the_range_it_read(self, monkeypatch, m, sim_module):
        expected = self.code(m, self.READ_RANGE, 7.5)
        assert expected != self.code(m, self.RACING_RANGE, 3.75)  # the test can tell them apart
        self.race(monkeypatch, m, lambda: m.set_volts(0, 7.5))
        assert sim_module.output_code(0) == expected

    def test_get_volts_reads_in_the_range_it_read(self, monkeypatch, m):
        m.set_volts(0, 7.5)
        assert self.race(monkeypatch, m, lambda: m.get_volts(0)) == pytest.approx(7.5)

    def test_load_waveform_volts_streams_codes_of_the_range_it_read(
        self, monkeypatch, m, sim_module
    ):
        volts = [1.25, 7.5, 2.5]
        self.race(monkeypatch, m, lambda: m.load_waveform_volts(0, volts))
        expected = [self.code(m, self.READ_RANGE, v) & ~3 for v in volts]
        assert list(sim_module.stream_samples(0)) == expected

    def test_the_lock_is_per_module(self, monkeypatch, m, korvelan_sim):
        # While module 7's set_volts waits after its range read, module 8's set_range runs.
        korvelan_sim.attach("8")
        other = korvelan380.connect("8")
        lib = m._lib
        real_read = lib.KORVELAN380_RangeSet_R
        range_read, other_done = threading.Event(), threading.Event()

        def read_then_wait(device_id, *args):
            status = real_read(device_id, *args)
            if device_id == b"7":
                range_read.set()
                assert other_done.wait(timeout=5)
            return status

        monkeypatch.setattr(lib, "KORVELAN380_RangeSet_R", read_then_wait)

        def on_other():
            assert range_read.wait(timeout=30)
            other.set_range(0, self.RACING_RANGE)
            other_done.set()

        run_all(lambda: m.set_volts(0, 7.5), on_other)
        assert other.get_range(0) == self.RACING_RANGE
