"""The simulated KORVELAN380 module, from Python.

The simulated module is a ``libftd2xx.so`` of its own that offers the driver functions the
library uses, backed by a model of the module. :func:`activate` loads it into the process
(globally, under its soname ``libftd2xx.so``) so that the library binds it instead of the
vendor's driver. The library binds its driver once per process, at the first connect that finds
one: activate the simulator before that, typically at the top of a test session::

    from korvelan380 import sim
    simulator = sim.activate()
    module = simulator.attach("7")      # the module KORVELAN3807, ideally calibrated
    module.set_dio_input(0xA5)          # what the digital inputs see
    with korvelan380.connect("7") as m:
        assert m.read_dio_input() == 0xA5

The simulator is found, in order, at: the path given to :func:`activate`; the environment
variable ``KORVELAN380_SIM_LIBRARY``; ``_lib/sim/libftd2xx.so`` inside the package; for an
installed package, ``<libdir>/korvelan380/sim/libftd2xx.so`` of its installation; the build
tree's ``sim/libftd2xx.so`` (``$KORVELAN380_BUILD_DIR`` or the repository's ``build/``).

On Windows the simulator is ``FTD2XX.dll``, loaded by its full path before the library (from
``_lib\\sim\\``, the ZIP's ``sim\\`` or the build tree's ``bin\\``), so that the library's
imports of ``FTD2XX.dll`` resolve to it. That path has not yet been run on Windows itself.
"""

from __future__ import annotations

import ctypes
import enum
import math
import os
import sys
import threading
from array import array
from ctypes import (
    POINTER,
    c_char_p,
    c_double,
    c_int,
    c_size_t,
    c_uint8,
    c_uint16,
    c_uint32,
    c_void_p,
)
from dataclasses import dataclass
from typing import Any, Callable, List, Optional, Set, Tuple, Union

from ._driver import (
    DRIVER_FILE,
    SERIAL_PREFIX,
    forwarded_driver,
    is_simulator,
    load_as_driver,
    loaded_driver,
)
from ._once import LoadedOnce
from ._search import choose, sim_candidates
from .errors import LibraryNotFoundError, SimulatorError

__all__ = [
    "SERIAL_PREFIX",
    "Fn",
    "Call",
    "SimModule",
    "Simulator",
    "activate",
    "active",
    "serial_of",
]

#: FT_IO_ERROR, the status an injected fault returns by default.
FT_IO_ERROR = 4

# Registers with a meaning the simulator's users often need.
_DIO_INPUT = 9
_EXIO_INPUT = 10
_OUTPUT_VALUE = (42, 44)  # two registers each, high byte first


def serial_of(device_id: str) -> str:
    """The USB serial number of the module ``device_id``: ``"7"`` -> ``"KORVELAN3807"``."""
    return SERIAL_PREFIX + device_id


def _serial(device_id_or_serial: str) -> str:
    # A deviceId has at most 8 characters, so it never starts with the 11-character prefix.
    if device_id_or_serial.startswith(SERIAL_PREFIX):
        return device_id_or_serial
    return serial_of(device_id_or_serial)


class Fn(enum.IntEnum):
    """The driver functions, in the numbering of the trace and of fault injection: the order
    of internal/d2xx/d2xx_functions.inc, which a test holds this to."""

    OPEN_EX = 0
    CLOSE = 1
    READ = 2
    WRITE = 3
    PURGE = 4
    GET_QUEUE_STATUS = 5
    GET_STATUS = 6
    EE_UA_SIZE = 7
    EE_UA_READ = 8
    EE_UA_WRITE = 9
    SET_TIMEOUTS = 10
    SET_LATENCY_TIMER = 11
    ANY = 12  #: in fault injection: count calls of every function


@dataclass(frozen=True)
class Call:
    """One driver call as the simulated module saw it."""

    fn: Fn
    serial: str  #: module addressed (OPEN_EX: the serial asked for; "" if unknown)
    arg: int  #: OPEN_EX: flags; PURGE: mask; READ, WRITE, EE_UA_*: length
    data: bytes  #: WRITE, EE_UA_WRITE: bytes given; READ, EE_UA_READ: bytes delivered
    status: int  #: the FT_STATUS returned

    @property
    def device_id(self) -> Optional[str]:
        """The deviceId of the module addressed, when its serial is a KORVELAN380 one."""
        return self.serial[len(SERIAL_PREFIX) :] if self.serial.startswith(SERIAL_PREFIX) else None


_SIGNATURES = {
    "ksim_reset": (None, ()),
    "ksim_attach": (c_int, (c_char_p, c_size_t)),
    "ksim_detach": (c_int, (c_char_p,)),
    "ksim_is_attached": (c_int, (c_char_p,)),
    "ksim_is_open": (c_int, (c_char_p,)),
    "ksim_set_register": (None, (c_char_p, c_uint8, c_uint8)),
    "ksim_register": (c_uint8, (c_char_p, c_uint8)),
    "ksim_registers": (None, (c_char_p, c_void_p)),
    "ksim_set_eeprom": (None, (c_char_p, c_char_p, c_size_t)),
    "ksim_eeprom": (c_size_t, (c_char_p, c_void_p, c_size_t)),
    "ksim_set_ideal_calibration": (None, (c_char_p,)),
    "ksim_stream_samples": (c_size_t, (c_char_p, c_uint8, c_void_p, c_size_t)),
    "ksim_stream_count": (c_uint32, (c_char_p, c_uint8)),
    "ksim_pending_receive": (c_size_t, (c_char_p,)),
    "ksim_queue_receive": (None, (c_char_p, c_char_p, c_size_t)),
    "ksim_fail_call": (None, (c_char_p, c_int, c_uint32, c_uint32)),
    "ksim_set_read_chunk": (None, (c_char_p, c_uint32)),
    "ksim_withhold_replies": (None, (c_char_p, c_uint32)),
    "ksim_corrupt_next_reply": (None, (c_char_p, c_uint32)),
    "ksim_add_surplus_to_next_reply": (None, (c_char_p, c_char_p, c_size_t)),
    "ksim_set_transmit_busy": (None, (c_char_p, c_uint32)),
    "ksim_set_reply_latency_us": (None, (c_char_p, c_uint32)),
    "ksim_set_read_timeout_ms": (None, (c_char_p, c_uint32)),
    "ksim_measure": (c_int, (c_char_p, c_uint8, POINTER(c_double))),
    "ksim_set_output_error": (c_int, (c_char_p, c_uint8, c_uint8, c_double, c_double)),
    "ksim_output_error": (
        c_int,
        (c_char_p, c_uint8, c_uint8, POINTER(c_double), POINTER(c_double)),
    ),
    "ksim_trace_count": (c_size_t, (c_char_p,)),
    "ksim_trace_fn": (c_int, (c_size_t,)),
    "ksim_trace_arg": (c_uint32, (c_size_t,)),
    "ksim_trace_status": (c_uint32, (c_size_t,)),
    "ksim_trace_serial": (c_size_t, (c_size_t, c_void_p, c_size_t)),
    "ksim_trace_data": (c_size_t, (c_size_t, c_void_p, c_size_t)),
    "ksim_clear_trace": (None, ()),
    "ksim_set_tracing": (None, (c_int,)),
    "ksim_replay_start": (c_int, (c_char_p, c_char_p, c_size_t)),
    "ksim_replay_departure": (c_size_t, (c_int, c_char_p, c_size_t)),
}


def _byte(value: int, what: str) -> int:
    if not 0 <= value <= 0xFF:
        raise ValueError(f"{what} {value} is outside 0..255")
    return value


def _choice(value: int, highest: int, what: str) -> int:
    if not 0 <= value <= highest:
        raise ValueError(f"{what} {value} is outside 0..{highest}")
    return value


def _finite(value: float, what: str) -> float:
    if not math.isfinite(value):
        raise ValueError(f"{what} {value} is not a finite number")
    return float(value)


def _u32(value: int, what: str) -> int:
    if not 0 <= value <= 0xFFFFFFFF:
        raise ValueError(f"{what} {value} is outside 0..2**32-1")
    return value


def _read_all(read: Callable[[Any, int], int], item: Any = c_uint8) -> bytes:
    """All that a control function gives which copies up to ``size`` items into a buffer and
    returns how many it has: it is asked how many first, and again should that have grown
    meanwhile."""
    size = read(None, 0)
    while True:
        out = (item * size)()
        got = read(out if size else None, size)
        if got <= size:
            return bytes(out)[: got * ctypes.sizeof(item)]
        size = got


def _read_text(read: Callable[[Any, int], int]) -> str:
    """The text a control function copies into a buffer, NUL-terminated, asked its length
    first (the trace's snapshot does not change in between)."""
    out = ctypes.create_string_buffer(read(None, 0) + 1)
    read(out, len(out))
    return out.value.decode("latin-1")


class SimModule:
    """One simulated module, named by its serial number. Obtained from
    :meth:`Simulator.attach` or :meth:`Simulator.module`."""

    def __init__(self, simulator: "Simulator", serial: str) -> None:
        self.simulator = simulator
        self.serial = serial
        self._s = serial.encode("latin-1")
        self._c = simulator._c

    @property
    def device_id(self) -> Optional[str]:
        """The deviceId that connects this module (None for a serial without the prefix)."""
        if self.serial.startswith(SERIAL_PREFIX):
            return self.serial[len(SERIAL_PREFIX) :]
        return None

    def __repr__(self) -> str:
        return f"<korvelan380.sim.SimModule {self.serial!r}>"

    # ---- State -----------------------------------------------------------------------------

    @property
    def attached(self) -> bool:
        """True while the module is attached."""
        return bool(self._c.ksim_is_attached(self._s))

    @property
    def is_open(self) -> bool:
        """True while the driver has the module open (between connect and disconnect)."""
        return bool(self._c.ksim_is_open(self._s))

    def detach(self) -> None:
        """Detaches the module, as if unplugged: an open connection fails every later call."""
        self.simulator.detach(self.serial)

    # ---- Registers -------------------------------------------------------------------------

    def set_register(self, register: int, value: int) -> None:
        """Sets a register. Registers 9 (digital input) and 10 (EXIO input) are inputs: only
        this changes them."""
        self._c.ksim_set_register(self._s, _byte(register, "register"), _byte(value, "value"))

    def register(self, register: int) -> int:
        """A register's value."""
        return int(self._c.ksim_register(self._s, _byte(register, "register")))

    def registers(self) -> bytes:
        """All 256 registers."""
        out = (c_uint8 * 256)()
        self._c.ksim_registers(self._s, out)
        return bytes(out)

    def set_dio_input(self, value: int) -> None:
        """What the module's digital inputs see (register 9)."""
        self.set_register(_DIO_INPUT, value)

    def set_exio_input(self, value: int) -> None:
        """What the module's EXIO inputs see (register 10)."""
        self.set_register(_EXIO_INPUT, value)

    def output_code(self, channel: int) -> int:
        """The 16-bit code in channel 0's or 1's output registers."""
        first = _OUTPUT_VALUE[channel]
        return self.register(first) << 8 | self.register(first + 1)

    # ---- EEPROM ----------------------------------------------------------------------------

    def set_eeprom(self, content: bytes) -> None:
        """Replaces the EEPROM user area; its size becomes ``len(content)``."""
        data = bytes(content)
        self._c.ksim_set_eeprom(self._s, data, len(data))

    def eeprom(self) -> bytes:
        """The EEPROM user area."""
        return _read_all(lambda out, size: self._c.ksim_eeprom(self._s, out, size))

    def set_ideal_calibration(self) -> None:
        """Writes a calibration record to the EEPROM that makes every calibrated code equal
        its nominal code (read by the library at the next connect)."""
        self._c.ksim_set_ideal_calibration(self._s)

    # ---- Streams ---------------------------------------------------------------------------

    def stream_samples(self, channel: int) -> "array[int]":
        """The samples of the last complete waveform stream to channel 0 or 1, as received."""
        ch = _byte(channel, "channel")
        samples = _read_all(
            lambda out, size: self._c.ksim_stream_samples(self._s, ch, out, size), c_uint16
        )
        return array("H", samples)

    def stream_count(self, channel: int) -> int:
        """How many complete waveform streams channel 0 or 1 has received."""
        return int(self._c.ksim_stream_count(self._s, _byte(channel, "channel")))

    # ---- Receive queue ---------------------------------------------------------------------

    def pending_receive(self) -> int:
        """Bytes waiting for the driver's next read."""
        return int(self._c.ksim_pending_receive(self._s))

    def queue_receive(self, data: bytes) -> None:
        """Puts bytes in the receive queue, as if stale."""
        data = bytes(data)
        self._c.ksim_queue_receive(self._s, data, len(data))

    # ---- Faults ----------------------------------------------------------------------------

    def fail_call(self, fn: Union[Fn, int, str], nth: int = 1, status: int = FT_IO_ERROR) -> None:
        """The ``nth`` call (1: the next) of ``fn`` on this module, counted from now, returns
        ``status`` instead of doing its work; ``Fn.ANY`` counts every function. One pending
        fault per module: a new one replaces it. ``fn`` may be given by name (``"READ"``)."""
        function = Fn[fn.upper()] if isinstance(fn, str) else Fn(fn)
        self._c.ksim_fail_call(self._s, int(function), _u32(nth, "nth"), _u32(status, "status"))

    def set_read_chunk(self, max_bytes_per_read: int) -> None:
        """Each driver read delivers at most this many bytes (0: no limit)."""
        self._c.ksim_set_read_chunk(self._s, _u32(max_bytes_per_read, "bytes"))

    def withhold_replies(self, count: int) -> None:
        """The next ``count`` register reads get no reply at all."""
        self._c.ksim_withhold_replies(self._s, _u32(count, "count"))

    def corrupt_next_reply(self, record: int = 0) -> None:
        """The reply to the next register read is damaged in record ``record``."""
        self._c.ksim_corrupt_next_reply(self._s, _u32(record, "record"))

    def add_surplus_to_next_reply(self, data: bytes) -> None:
        """These bytes follow the reply to the next register read."""
        data = bytes(data)
        self._c.ksim_add_surplus_to_next_reply(self._s, data, len(data))

    def set_transmit_busy(self, calls: int) -> None:
        """The driver reports bytes still to transmit for the next ``calls`` status calls
        (0xFFFFFFFF: always)."""
        self._c.ksim_set_transmit_busy(self._s, _u32(calls, "calls"))

    # ---- Timing ----------------------------------------------------------------------------

    def set_reply_latency(self, microseconds: int) -> None:
        """A reply becomes readable this long after its frame, as the USB chip's latency timer
        makes it (0, the default: at once). The driver's FT_SetLatencyTimer sets it too."""
        self._c.ksim_set_reply_latency_us(self._s, _u32(microseconds, "microseconds"))

    def set_read_timeout(self, milliseconds: int) -> None:
        """A driver read waits up to this long for all the bytes it asks for, as FTDI's driver
        does once timeouts are set (0, the default: it returns what is there)."""
        self._c.ksim_set_read_timeout_ms(self._s, _u32(milliseconds, "milliseconds"))

    # ---- Outputs ---------------------------------------------------------------------------

    def measure(self, channel: int) -> float:
        """The volts channel 0 or 1 puts out now (see :meth:`Simulator.measure`)."""
        return self.simulator.measure(self.serial, channel)

    def set_output_error(
        self, channel: int, range: int, gain_error: float, offset_error: float
    ) -> None:
        """Replaces the converter's errors of a channel and range (see
        :meth:`Simulator.set_output_error`)."""
        self.simulator.set_output_error(self.serial, channel, range, gain_error, offset_error)

    def output_error(self, channel: int, range: int) -> Tuple[float, float]:
        """The converter's ``(gain_error, offset_error)`` of a channel and range."""
        return self.simulator.output_error(self.serial, channel, range)

    # ---- Trace -----------------------------------------------------------------------------

    def trace(self) -> List[Call]:
        """This module's driver calls since the last reset or clear."""
        return self.simulator.trace(self.serial)


class Simulator:
    """The simulated module's control interface: one per process, from :func:`activate`."""

    def __init__(self, cdll: ctypes.CDLL, path: str) -> None:
        self.path = path
        self._c = cdll
        for name, (restype, argtypes) in _SIGNATURES.items():
            function = getattr(cdll, name)
            function.restype = restype
            function.argtypes = argtypes
        self._trace_lock = threading.Lock()  # the C layer's trace snapshot is process-wide
        self._attached_lock = threading.Lock()
        self._attached: Set[str] = set()

    def __repr__(self) -> str:
        return f"<korvelan380.sim.Simulator {self.path!r}>"

    def reset(self) -> None:
        """Detaches every module, clears the trace and every fault, stops a replay, and
        restores defaults.

        Disconnect the modules first: a module detached while connected stays in the
        library's table (see :func:`korvelan380.disconnect_all`).
        """
        self._c.ksim_reset()
        with self._attached_lock:
            self._attached.clear()

    def attach(
        self,
        device_id: str,
        *,
        eeprom_size: int = 128,
        ideal_calibration: bool = True,
    ) -> SimModule:
        """Attaches the module ``KORVELAN380<device_id>``: registers all 0 and an EEPROM user
        area of ``eeprom_size`` bytes, blank (0xFF) unless ``ideal_calibration`` writes a
        calibration record with which every calibrated code equals its nominal one.

        Raises ``ValueError`` when a module with that serial is already attached.
        """
        module = self.attach_serial(serial_of(device_id), eeprom_size=eeprom_size)
        if ideal_calibration:
            module.set_ideal_calibration()
        return module

    def attach_serial(self, serial: str, *, eeprom_size: int = 128) -> SimModule:
        """Attaches a module by its full serial number, with a blank EEPROM."""
        if not self._c.ksim_attach(serial.encode("latin-1"), eeprom_size):
            raise ValueError(f"a module {serial!r} is already attached")
        with self._attached_lock:
            self._attached.add(serial)
        return SimModule(self, serial)

    def module(self, device_id: str) -> SimModule:
        """The attached module ``KORVELAN380<device_id>`` (or given by its serial)."""
        serial = _serial(device_id)
        if not self._c.ksim_is_attached(serial.encode("latin-1")):
            raise KeyError(f"no module {serial!r} is attached")
        return SimModule(self, serial)

    def detach(self, device_id_or_serial: str) -> None:
        """Detaches a module (by deviceId or serial), as if unplugged."""
        serial = _serial(device_id_or_serial)
        if not self._c.ksim_detach(serial.encode("latin-1")):
            raise KeyError(f"no module {serial!r} is attached")
        with self._attached_lock:
            self._attached.discard(serial)

    def attached_serials(self) -> List[str]:
        """The serials of the modules attached through this object and not detached."""
        with self._attached_lock:
            return sorted(self._attached)

    def measure(self, device_id_or_serial: str, channel: int) -> float:
        """The volts channel 0 or 1 of a module (by deviceId or serial) puts out now, for the
        code in its output registers and the range in its range register, with the errors of
        its converter (:meth:`output_error`): what a voltmeter on the output would read.

        Raises ``ValueError`` for a channel other than 0 or 1, ``KeyError`` when no such
        module is attached.
        """
        ch = _choice(channel, 1, "channel")
        serial = _serial(device_id_or_serial)
        volts = c_double()
        if self._c.ksim_measure(serial.encode("latin-1"), ch, ctypes.byref(volts)) != 0:
            raise KeyError(f"no module {serial!r} is attached")
        return volts.value

    def set_output_error(
        self,
        device_id_or_serial: str,
        channel: int,
        range: int,
        gain_error: float,
        offset_error: float,
    ) -> None:
        """Replaces the converter's errors of channel 0 or 1 in range 0 to 6: its gain error
        (relative: 0.001 puts out 0.1 % too much) and its offset error in codes. Each module
        starts with errors derived from its serial number (a gain error within +-0.4 %, an
        offset error of 2 to 6 codes), the same every time.

        Raises ``ValueError`` for a channel, range or value out of bounds (not finite),
        ``KeyError`` when no such module is attached; either way nothing changes.
        """
        ch = _choice(channel, 1, "channel")
        index = _choice(range, 6, "range")
        gain = _finite(gain_error, "gain_error")
        offset = _finite(offset_error, "offset_error")
        serial = _serial(device_id_or_serial)
        if self._c.ksim_set_output_error(serial.encode("latin-1"), ch, index, gain, offset) != 0:
            raise KeyError(f"no module {serial!r} is attached")

    def output_error(
        self, device_id_or_serial: str, channel: int, range: int
    ) -> Tuple[float, float]:
        """The converter's ``(gain_error, offset_error)`` of channel 0 or 1 in range 0 to 6.

        Raises ``ValueError`` for a channel or range out of bounds, ``KeyError`` when no such
        module is attached.
        """
        ch = _choice(channel, 1, "channel")
        index = _choice(range, 6, "range")
        serial = _serial(device_id_or_serial)
        gain, offset = c_double(), c_double()
        key = serial.encode("latin-1")
        if self._c.ksim_output_error(key, ch, index, ctypes.byref(gain), ctypes.byref(offset)):
            raise KeyError(f"no module {serial!r} is attached")
        return gain.value, offset.value

    def trace(self, serial: Optional[str] = None) -> List[Call]:
        """Every driver call since the last reset or clear, in order; with ``serial`` (a
        serial number or a deviceId), only that module's."""
        key = _serial(serial).encode("latin-1") if serial is not None else None
        with self._trace_lock:
            # The count takes the snapshot that the calls by index then read.
            return [self._traced_call(i) for i in range(self._c.ksim_trace_count(key))]

    def _traced_call(self, index: int) -> Call:
        c = self._c
        return Call(
            fn=Fn(c.ksim_trace_fn(index)),
            serial=_read_text(lambda out, size: c.ksim_trace_serial(index, out, size)),
            arg=c.ksim_trace_arg(index),
            data=_read_all(lambda out, size: c.ksim_trace_data(index, out, size)),
            status=c.ksim_trace_status(index),
        )

    def start_replay(self, path: str) -> None:
        """Has the simulated module answer every driver call from the capture ``path`` from now
        on, until :meth:`reset` (what ``activate(replay=path)`` does).

        Raises:
            SimulatorError: the capture cannot be replayed; the message says why.
        """
        error = ctypes.create_string_buffer(1024)
        if self._c.ksim_replay_start(os.fsencode(path), error, len(error)) != 1:
            raise SimulatorError(error.value.decode("utf-8", "replace"))

    def replay_departure(self, at_end: bool = True) -> Optional[str]:
        """The replay's first departure from its capture ("call 12 departs from the capture
        ...: expected ..., came ..."), or None. With ``at_end``, recorded calls never made
        count as one: ask once the session is over."""
        text = ctypes.create_string_buffer(2048)
        if self._c.ksim_replay_departure(1 if at_end else 0, text, len(text)) == 0:
            return None
        return text.value.decode("utf-8", "replace")

    def clear_trace(self) -> None:
        """Forgets the calls traced so far."""
        self._c.ksim_clear_trace()

    def set_tracing(self, on: bool) -> None:
        """Turns tracing on (the default) or off, e.g. for long runs."""
        self._c.ksim_set_tracing(1 if on else 0)


def _simulator_in_process(driver: ctypes.CDLL) -> Optional[ctypes.CDLL]:
    """The simulated module already loaded as the driver, or behind the recording shim that is
    (``korvelan380.capture(path, sim=True)``; the shim stays the library's driver)."""
    if is_simulator(driver):
        return driver
    forwarded = forwarded_driver(driver)
    return forwarded if forwarded is not None and is_simulator(forwarded) else None


def _use_loaded(loaded: ctypes.CDLL, path: Optional[str]) -> Simulator:
    control = _simulator_in_process(loaded)
    if control is None:
        raise SimulatorError(
            f"another {DRIVER_FILE} (not the simulated module) is already loaded in this "
            "process, and the library binds its driver once per process: activate the "
            "simulator before the first connect, in a fresh process (to record the "
            "simulated module, korvelan380.capture(path, sim=True) first)"
        )
    return Simulator(control, path or control._name)


def _load(path: Optional[str]) -> Simulator:
    """Loads the simulated module as the driver the library will bind."""
    origin, chosen = choose(sim_candidates(path), f"the simulated module's {DRIVER_FILE}")
    try:
        cdll = load_as_driver(chosen)
    except OSError as error:
        raise LibraryNotFoundError(f"{chosen} (from {origin}) could not be loaded: {error}")
    if not is_simulator(cdll):
        raise SimulatorError(f"{chosen} is not the simulated module (it has no ksim_reset)")
    bound = loaded_driver()
    if bound is None or not is_simulator(bound):
        raise SimulatorError(
            f"{chosen} was loaded but not under the soname {DRIVER_FILE}: the library would "
            "not bind it"
        )
    return Simulator(cdll, chosen)


def _first_activation(path: Optional[str]) -> Simulator:
    if sys.platform != "win32" and not hasattr(os, "RTLD_NOLOAD"):
        raise SimulatorError("the simulated module works on Linux and Windows only")
    loaded = loaded_driver()
    return _use_loaded(loaded, path) if loaded is not None else _load(path)


def _another_simulator(active_path: str) -> Exception:
    return SimulatorError(
        f"the simulated module is already active from {active_path}; "
        "one simulator serves a process"
    )


_simulator: LoadedOnce[Simulator] = LoadedOnce()


def activate(path: Optional[str] = None, replay: Optional[str] = None) -> Simulator:
    """Makes the simulated module the driver of this process and returns its control.

    With ``replay``, the simulated module answers every driver call from that capture file
    instead (see :meth:`Simulator.start_replay`; :meth:`Simulator.replay_departure` tells where
    the session departed from the recording).

    Call it before the library's first successful connect. Calling it again returns the same
    :class:`Simulator`. When the process already has the simulator loaded (e.g. through
    ``LD_PRELOAD``, or behind the recording shim of ``korvelan380.capture(path, sim=True)``),
    that one is used.

    Raises:
        LibraryNotFoundError: the simulator's ``libftd2xx.so`` was not found.
        SimulatorError: another ``libftd2xx.so`` (the vendor's driver) is already loaded,
            so the library has bound it or will; or the platform has no simulator; or the
            capture to replay cannot be replayed.
    """
    simulator = _simulator.get(path, lambda: _first_activation(path), _another_simulator)
    if replay is not None:
        simulator.start_replay(os.fspath(replay))
    return simulator


def active() -> Optional[Simulator]:
    """The simulator if :func:`activate` has been called in this process, else None."""
    return _simulator.value
