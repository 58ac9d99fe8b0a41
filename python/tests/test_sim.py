"""The simulated module's control from Python: state, faults, the trace, and activation."""

import os
import subprocess
import sys
import textwrap
import time
from pathlib import Path

import pytest

import korvelan380
from korvelan380 import TransferFailedError, sim
from korvelan380.sim import Fn

PYTHON_DIR = Path(__file__).resolve().parents[1]


def run_python(code: str, **env: str) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter (the driver is bound once per process)."""
    environment = dict(os.environ, PYTHONPATH=str(PYTHON_DIR), **env)
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=environment,
        capture_output=True,
        text=True,
        timeout=60,
    )


class TestModules:
    def test_attach_gives_an_ideal_calibration_unless_asked_not_to(self, korvelan_sim):
        calibrated = korvelan_sim.attach("1")
        blank = korvelan_sim.attach("2", eeprom_size=96, ideal_calibration=False)
        assert calibrated.eeprom()[0] == 0x55
        assert blank.eeprom() == b"\xff" * 96
        assert korvelan_sim.attached_serials() == ["KORVELAN3801", "KORVELAN3802"]

    def test_a_serial_attaches_once(self, korvelan_sim, sim_module):
        with pytest.raises(ValueError):
            korvelan_sim.attach("7")
        assert korvelan_sim.module("7").serial == sim_module.serial
        with pytest.raises(KeyError):
            korvelan_sim.module("8")

    def test_detach_and_reset_remove_modules(self, korvelan_sim, sim_module):
        other = korvelan_sim.attach_serial("SOMETHING")
        assert other.device_id is None
        korvelan_sim.detach("7")
        assert not sim_module.attached and other.attached
        korvelan_sim.reset()
        assert not other.attached and korvelan_sim.attached_serials() == []

    def test_registers_and_eeprom_are_set_and_read(self, sim_module):
        sim_module.set_register(200, 0x42)
        registers = sim_module.registers()
        assert len(registers) == 256 and registers[200] == 0x42 == sim_module.register(200)
        sim_module.set_eeprom(b"\x01\x02\x03")
        assert sim_module.eeprom() == b"\x01\x02\x03"
        with pytest.raises(ValueError):
            sim_module.set_register(256, 0)

    def test_the_receive_queue(self, korvelan_module, sim_module):
        sim_module.queue_receive(b"\x02R\x11\x03")
        assert sim_module.pending_receive() == 4
        # EXIO input takes waiting bytes as the start of its reply.
        assert korvelan_module.read_exio() == 0x11

    def test_no_stream_received_yet(self, sim_module):
        assert len(sim_module.stream_samples(0)) == 0
        assert sim_module.stream_count(1) == 0


class TestFaults:
    @pytest.mark.parametrize("fn", [Fn.READ, "read", 2])
    def test_a_failed_call_fails_the_method_once(self, korvelan_module, sim_module, fn):
        sim_module.fail_call(fn)
        with pytest.raises(TransferFailedError):
            korvelan_module.read_dio_input()
        korvelan_module.read_dio_input()

    def test_the_nth_call_is_counted_from_now(self, korvelan_module, sim_module):
        sim_module.fail_call(Fn.WRITE, nth=2)
        korvelan_module.set_code(0, 1)  # one write
        sim_module.simulator.clear_trace()
        with pytest.raises(TransferFailedError):
            korvelan_module.set_code(0, 1)
        assert [(c.fn, c.status) for c in sim_module.trace()] == [(Fn.WRITE, 4)]

    def test_a_corrupt_reply_fails_the_read(self, korvelan_module, sim_module):
        # (A withheld reply fails only after the library's ten-second wait; see test_threads.)
        sim_module.corrupt_next_reply(0)
        with pytest.raises(TransferFailedError):
            korvelan_module.get_dio_output()
        korvelan_module.get_dio_output()

    def test_reads_in_small_chunks_still_assemble_the_reply(self, korvelan_module, sim_module):
        sim_module.set_read_chunk(1)
        sim_module.set_register(8, 0x99)
        sim_module.simulator.clear_trace()
        assert korvelan_module.get_dio_output() == 0x99
        assert [len(c.data) for c in sim_module.trace() if c.fn == Fn.READ and c.data] == [1] * 4

    def test_surplus_after_a_reply_is_discarded_before_the_next_selection_read(
        self, korvelan_module, sim_module
    ):
        sim_module.set_register(0, 0x21)
        sim_module.add_surplus_to_next_reply(b"\x02R\x77\x03")
        korvelan_module.get_dio_output()
        assert korvelan_module.get_external_select() == (1, 2)

    def test_a_busy_transmitter_delays_a_write(self, korvelan_module, sim_module):
        sim_module.set_transmit_busy(3)
        sim_module.simulator.clear_trace()
        korvelan_module.set_dio_output(1)
        assert [c.fn for c in sim_module.trace()].count(Fn.GET_STATUS) >= 4


class TestTiming:
    def test_a_reply_is_readable_only_after_the_reply_latency(self, korvelan_module, sim_module):
        sim_module.set_reply_latency(30_000)
        start = time.monotonic()
        korvelan_module.read_dio_input()
        assert time.monotonic() - start >= 0.03
        sim_module.set_reply_latency(0)
        start = time.monotonic()
        korvelan_module.read_dio_input()
        assert time.monotonic() - start < 0.03

    def test_with_a_read_timeout_one_driver_read_waits_for_a_late_reply(
        self, korvelan_module, sim_module
    ):
        def driver_reads():
            sim_module.simulator.clear_trace()
            korvelan_module.get_dio_output()
            return [c.fn for c in sim_module.trace()].count(Fn.READ)

        sim_module.set_reply_latency(20_000)
        sim_module.set_read_timeout(0)
        polled = driver_reads()
        sim_module.set_read_timeout(100)
        assert driver_reads() == 1 < polled

    def test_values_beyond_32_bits_are_refused(self, sim_module):
        with pytest.raises(ValueError):
            sim_module.set_reply_latency(-1)
        with pytest.raises(ValueError):
            sim_module.set_read_timeout(2**32)


class TestTrace:
    def test_a_connect_is_traced_call_by_call(self, korvelan_sim, sim_module):
        with korvelan380.connect("7"):
            pass
        calls = korvelan_sim.trace()
        assert calls[0].fn == Fn.OPEN_EX and calls[0].device_id == "7"
        assert calls[-1].fn == Fn.CLOSE
        assert all(c.serial == "KORVELAN3807" for c in calls)
        reads = [c for c in calls if c.fn == Fn.EE_UA_READ]
        assert reads and reads[0].data[0] == 0x55

    def test_trace_per_module_clear_and_off(self, korvelan_sim):
        korvelan_sim.attach("1")
        korvelan_sim.attach("2")
        with korvelan380.connect("1"), korvelan380.connect("2") as two:
            korvelan_sim.clear_trace()
            two.set_dio_output(3)
            assert korvelan_sim.trace("1") == []
            assert korvelan_sim.trace("KORVELAN3802") == korvelan_sim.trace()
            korvelan_sim.set_tracing(False)
            two.set_dio_output(4)
            korvelan_sim.set_tracing(True)
            assert len(korvelan_sim.trace()) == len(korvelan_sim.trace("2"))
            assert [c.data for c in korvelan_sim.trace() if c.fn == Fn.WRITE] == [b"\x02W0803\x03"]


class TestActivation:
    def test_activation_is_once_per_process(self, korvelan_sim):
        assert sim.activate() is korvelan_sim is sim.active()
        with pytest.raises(korvelan380.SimulatorError):
            sim.activate("/elsewhere/libftd2xx.so")

    def test_activation_after_a_connect_that_found_no_driver_still_works(self):
        result = run_python(
            """
            import korvelan380
            from korvelan380 import sim
            try:
                korvelan380.connect("7")
            except korvelan380.OpenFailedError:
                print("no driver")
            sim.activate().attach("7")
            with korvelan380.connect("7") as m:
                print("connected", m.read_dio_input())
            """,
            LD_LIBRARY_PATH="/nonexistent",
            # FTDI's driver alone: the open driver beside the library would be bound for good.
            KORVELAN380_DRIVER="vendor",
        )
        assert result.stdout.split("\n")[:2] == ["no driver", "connected 0"], result.stderr

    def test_activation_when_another_driver_is_loaded_raises(self):
        build = Path(os.environ.get("KORVELAN380_BUILD_DIR", PYTHON_DIR.parent / "build"))
        other = build / "tests" / "partial_driver" / "libftd2xx.so"
        if not other.exists():
            pytest.skip("the test driver is built with the C++ tests")
        result = run_python(
            f"""
            import ctypes, os
            from korvelan380 import sim, SimulatorError
            ctypes.CDLL({str(other)!r}, mode=os.RTLD_GLOBAL)
            try:
                sim.activate()
            except SimulatorError as error:
                print("refused:", error)
            """
        )
        assert result.stdout.startswith("refused: another libftd2xx.so"), result.stderr

    def test_a_missing_simulator_is_named(self):
        result = run_python(
            """
            from korvelan380 import sim, LibraryNotFoundError
            try:
                sim.activate()
            except LibraryNotFoundError as error:
                print(error)
            """,
            KORVELAN380_SIM_LIBRARY="/nonexistent/libftd2xx.so",
        )
        assert "/nonexistent/libftd2xx.so" in result.stdout, result.stderr
