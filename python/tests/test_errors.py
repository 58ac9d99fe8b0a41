"""Failures become exceptions that carry the status, the export and the device."""

import os
import pickle
from pathlib import Path

import pytest

import korvelan380
from korvelan380 import (
    AlreadyConnectedError,
    InvalidArgumentError,
    KorvelanError,
    NotConnectedError,
    OpenFailedError,
    TransferFailedError,
)
from korvelan380.sim import Fn
from test_sim import PYTHON_DIR, run_python


def build_dir():
    return Path(os.environ.get("KORVELAN380_BUILD_DIR") or PYTHON_DIR.parent / "build")


def test_each_status_has_its_exception(korvelan_module, sim_module):
    lib = korvelan380.loaded_library()
    cases = []
    with pytest.raises(InvalidArgumentError) as caught:
        korvelan_module.set_range(0, 7)
    cases.append((caught.value, 1, "KORVELAN380_RangeSet", "7"))
    with pytest.raises(AlreadyConnectedError) as caught:
        korvelan380.connect("7")
    cases.append((caught.value, 6, "KORVELAN380_Connect", "7"))
    with pytest.raises(OpenFailedError) as caught:
        korvelan380.connect("8")  # no such module attached
    cases.append((caught.value, 4, "KORVELAN380_Connect", "8"))
    sim_module.fail_call(Fn.READ)
    with pytest.raises(TransferFailedError) as caught:
        korvelan_module.get_dio_output()
    cases.append((caught.value, 5, "KORVELAN380_Dio_Out_R", "7"))
    lib.KORVELAN380_DisConnect(b"7")  # the library forgets it; the Module does not know
    with pytest.raises(NotConnectedError) as caught:
        korvelan_module.read_exio()
    cases.append((caught.value, 2, "KORVELAN380_EXIO_In", "7"))

    for error, status, export, device in cases:
        assert isinstance(error, KorvelanError)
        assert (error.status, error.export, error.device) == (status, export, device)
        assert type(error).code == status
        assert export in str(error) and f"status {status}" in str(error)


def test_invalid_argument_is_also_a_value_error(korvelan_module):
    with pytest.raises(ValueError):
        korvelan_module.set_raw(0, 0x4000)


def test_arguments_that_a_c_type_cannot_hold_are_refused_not_wrapped(korvelan_module, sim_module):
    sim_module.simulator.clear_trace()
    with pytest.raises(InvalidArgumentError) as caught:
        korvelan_module.set_raw(256, 0)  # as a uint8_t this would be channel 0
    assert "channel 256" in str(caught.value)
    with pytest.raises(TypeError):
        korvelan_module.set_raw(0, 1.5)
    assert sim_module.trace() == []


def test_a_closed_module_refuses_calls_without_calling_the_library(korvelan_sim, sim_module):
    module = korvelan380.connect("7")
    module.close()
    korvelan_sim.clear_trace()
    with pytest.raises(NotConnectedError) as caught:
        module.set_dio_output(1)
    assert caught.value.export == "KORVELAN380_Dio_Out"
    assert korvelan_sim.trace() == []


def test_an_unplugged_module_fails_its_transfers(korvelan_module, sim_module):
    sim_module.detach()
    with pytest.raises(TransferFailedError):
        korvelan_module.set_raw(0, 1)


@pytest.mark.parametrize("device_id", ["123456789", "é", "a\0b"])
def test_device_ids_that_cannot_name_a_module(korvelan_sim, device_id):
    with pytest.raises(InvalidArgumentError):
        korvelan380.connect(device_id)


def test_exceptions_survive_pickling():
    error = TransferFailedError(5, "KORVELAN380_WavImgSet", "7", "stream")
    copy = pickle.loads(pickle.dumps(error))
    assert type(copy) is TransferFailedError
    assert (copy.status, copy.export, copy.device, str(copy)) == (
        5,
        "KORVELAN380_WavImgSet",
        "7",
        str(error),
    )


class TestOpenFailedSaysWhy:
    """Status 4 means no driver, or a driver that cannot open the module: the message tells
    which, and the next step."""

    CONNECT = """
        import korvelan380
        from korvelan380 import sim
        try:
            korvelan380.connect("7")
        except korvelan380.OpenFailedError as error:
            print(error)
        simulator = sim.activate()  # the look at the driver left none loaded
        simulator.attach("7")
        korvelan380.connect("7").close()
        print("then the simulator connects")
        """

    def test_no_driver_library_at_all(self):
        # FTDI's driver alone: otherwise the open driver beside the library would serve.
        result = run_python(
            self.CONNECT, LD_LIBRARY_PATH="/nonexistent", KORVELAN380_DRIVER="vendor"
        )
        message, after = result.stdout.splitlines()[:2] or ["", ""]
        assert "no driver library loads" in message, result.stderr
        assert "install the vendor's D2XX driver" in message
        assert "korvelan380.sim.activate()" in message
        assert after == "then the simulator connects"

    def test_a_driver_that_lacks_functions_is_named_with_its_path(self):
        partial = build_dir() / "tests" / "partial_driver"
        if not (partial / "libftd2xx.so").exists():
            pytest.skip("the test driver is built with the C++ tests")
        result = run_python(
            self.CONNECT, LD_LIBRARY_PATH=str(partial), KORVELAN380_DRIVER="vendor"
        )
        message, after = result.stdout.splitlines()[:2] or ["", ""]
        assert f"{partial}/libftd2xx.so loads but lacks FT_EE_UAWrite" in message, result.stderr
        assert after == "then the simulator connects"

    def test_the_simulator_without_that_module_or_with_a_fault(self, korvelan_sim, sim_module):
        with pytest.raises(OpenFailedError, match="no module KORVELAN3808 is attached") as caught:
            korvelan380.connect("8")
        assert 'korvelan380.sim.active().attach("8")' in str(caught.value)
        sim_module.fail_call(Fn.OPEN_EX)
        with pytest.raises(OpenFailedError, match="KORVELAN3807 refused to open"):
            korvelan380.connect("7")
