"""16-bit sample buffers handed to the library without copying, and volts turned into
rawValues (with numpy when the samples come as a numpy array)."""

from __future__ import annotations

import ctypes
import sys
from array import array
from contextlib import contextmanager
from typing import Any, Iterator, Tuple

from .values import RAW_MAX, RAW_STEPS, Range

_UINT16_FORMATS = ("H", "@H", "=H", "<H" if sys.byteorder == "little" else ">H")
_BYTE_FORMATS = ("B", "b", "c")


class _PyBuffer(ctypes.Structure):
    """CPython's Py_buffer."""

    _fields_ = [
        ("buf", ctypes.c_void_p),
        ("obj", ctypes.c_void_p),
        ("len", ctypes.c_ssize_t),
        ("itemsize", ctypes.c_ssize_t),
        ("readonly", ctypes.c_int),
        ("ndim", ctypes.c_int),
        ("format", ctypes.c_char_p),
        ("shape", ctypes.c_void_p),
        ("strides", ctypes.c_void_p),
        ("suboffsets", ctypes.c_void_p),
        ("internal", ctypes.c_void_p),
    ]


_PyBUF_SIMPLE = 0  # contiguous bytes, read-only accepted
_get_buffer = ctypes.pythonapi.PyObject_GetBuffer
_get_buffer.argtypes = (ctypes.py_object, ctypes.POINTER(_PyBuffer), ctypes.c_int)
_get_buffer.restype = ctypes.c_int
_release_buffer = ctypes.pythonapi.PyBuffer_Release
_release_buffer.argtypes = (ctypes.POINTER(_PyBuffer),)
_release_buffer.restype = None


def _is_numpy_array(obj: object) -> bool:
    return type(obj).__module__ == "numpy" and type(obj).__name__ == "ndarray"


def _numpy_uint16(samples: Any) -> Any:
    """A C-contiguous native uint16 array with the samples: the array itself when it is one."""
    import numpy as np

    if samples.dtype == np.uint16 and samples.dtype.isnative:
        return samples if samples.flags.c_contiguous else np.ascontiguousarray(samples)
    if samples.dtype.kind in "ui":
        if samples.size and (samples.min() < 0 or samples.max() > 0xFFFF):
            raise ValueError("samples must be 16-bit unsigned values, 0..65535")
        return np.ascontiguousarray(samples, dtype=np.uint16)
    raise TypeError(
        f"samples must be an integer array, not {samples.dtype}; "
        "load volts with load_waveform_volts"
    )


def as_uint16_source(samples: Any) -> Any:
    """An object exporting the samples as contiguous native 16-bit values.

    Numpy ``uint16`` arrays, ``array('H')``, ``bytes``, ``bytearray`` and memoryviews of 16-bit
    or byte data are returned as they are when contiguous (bytes are taken two at a time, in
    the machine's byte order); other integer arrays and iterables of ints are converted.
    """
    if _is_numpy_array(samples):
        return _numpy_uint16(samples)
    try:
        view = memoryview(samples)
    except TypeError:
        try:
            return array("H", samples)
        except OverflowError:
            raise ValueError("samples must be 16-bit unsigned values, 0..65535") from None
    with view:
        if view.format in _UINT16_FORMATS and view.itemsize == 2:
            return samples if view.c_contiguous else array("H", view.tobytes())
        if view.format in _BYTE_FORMATS and view.itemsize == 1:
            if view.nbytes % 2:
                raise ValueError(f"a byte buffer of samples has an even length, not {view.nbytes}")
            return samples if view.c_contiguous else view.tobytes()
        raise TypeError(f"samples must be 16-bit unsigned values, not format {view.format!r}")


@contextmanager
def pinned_uint16(samples: Any) -> Iterator[Tuple[int, int]]:
    """The address and count of the samples' 16-bit values, valid inside the ``with``.

    The buffer is held (a ``bytearray`` cannot be resized meanwhile) and not copied when it is
    already contiguous native uint16 data.
    """
    source = as_uint16_source(samples)
    view = _PyBuffer()
    _get_buffer(source, ctypes.byref(view), _PyBUF_SIMPLE)
    try:
        yield (view.buf or 0), view.len // 2
    finally:
        _release_buffer(ctypes.byref(view))


def raw_from_volts(output_range: Range, volts: Any) -> Any:
    """The rawValues for a sequence of volts in ``output_range``, rounded as
    :meth:`Range.from_volts` rounds: a numpy uint16 array for a numpy array, else
    ``array('H')``. Raises ``ValueError`` for volts outside the range or NaN."""
    low, high = output_range.low, output_range.high
    span = high - low
    if _is_numpy_array(volts):
        import numpy as np

        values = np.asarray(volts, dtype=np.float64).ravel()
        inside = (values >= low) & (values <= high)  # NaN is outside
        if not inside.all():
            bad = values[~inside][0]
            raise ValueError(f"{bad} V is outside the range {output_range.name} ({low}..{high} V)")
        raw = np.floor((values - low) * RAW_STEPS / span + 0.5)
        return np.minimum(raw, RAW_MAX).astype(np.uint16)
    return array("H", (output_range.from_volts(float(v)) for v in volts))
