"""Sample buffers reach the library in place when they can, and numpy stays optional."""

import ctypes
from array import array

import pytest

from korvelan380._buffers import pinned_uint16
from test_sim import run_python


def test_contiguous_uint16_buffers_are_passed_in_place():
    np = pytest.importorskip("numpy")
    samples = np.arange(1000, dtype=np.uint16)
    with pinned_uint16(samples) as (address, count):
        assert (address, count) == (samples.ctypes.data, 1000)
    readonly = np.frombuffer(bytes(8), dtype=np.uint16)
    with pinned_uint16(readonly) as (address, count):
        assert (address, count) == (readonly.ctypes.data, 4)
    data = array("H", [1, 2, 3])
    with pinned_uint16(data) as (address, count):
        assert (address, count) == (data.buffer_info()[0], 3)
    raw = b"\x01\x00\x02\x00"
    with pinned_uint16(raw) as (address, count):
        assert (address, count) == (ctypes.cast(ctypes.c_char_p(raw), ctypes.c_void_p).value, 2)


def test_strided_arrays_are_copied_in_order():
    np = pytest.importorskip("numpy")
    samples = np.arange(10, dtype=np.uint16)[::3]
    with pinned_uint16(samples) as (address, count):
        assert address != samples.ctypes.data
        assert list((ctypes.c_uint16 * count).from_address(address)) == [0, 3, 6, 9]


def test_a_pinned_buffer_cannot_be_resized():
    data = bytearray(4)
    with pinned_uint16(data):
        with pytest.raises(BufferError):
            data.extend(b"\0\0")
    data.extend(b"\0\0")


def test_signed_or_wide_buffers_are_refused():
    with pytest.raises(TypeError):
        with pinned_uint16(array("h", [1])):
            pass
    with pytest.raises(TypeError):
        with pinned_uint16(array("I", [1])):
            pass


def test_the_package_works_without_numpy(korvelan_sim):
    result = run_python(
        """
        import sys
        sys.modules["numpy"] = None  # importing numpy now fails
        from array import array
        import korvelan380
        from korvelan380 import sim
        s = sim.activate().attach("7")
        with korvelan380.connect("7") as m:
            m.set_range(1, korvelan380.Range.UNIPOLAR_5V)
            m.load_waveform(0, array("H", [4, 8]))
            m.load_waveform_volts(1, [0.0, 5.0])
        print(list(s.stream_samples(0)), list(s.stream_samples(1)))
        """
    )
    assert result.stdout.strip() == "[4, 8] [0, 16380]", result.stderr
