"""A connected KORVELAN380 module."""

from __future__ import annotations

import math
import operator
import os
import sys
import threading
from ctypes import byref, c_uint8, c_uint16, c_uint32
from typing import Any, Callable, Dict, List, Optional, Tuple, Union

from . import values
from ._buffers import pinned_uint16, raw_from_volts
from ._library import Library, load_library
from ._prototypes import (
    CalibAdjustStruct,
    CalibrationGainsStruct,
    CalibrationOffsetsStruct,
    DacChannelSettingsStruct,
)
from ._usb import require_usb_bus
from .errors import (
    InvalidArgumentError,
    KorvelanError,
    NotConnectedError,
    OpenFailedError,
    ReadingRefusedError,
    TransferFailedError,
)
from .values import (
    Calibration,
    DacChannelSettings,
    FifoStatus,
    PairCalibration,
    Range,
    Selection,
)

__all__ = [
    "DEFAULT_LATENCY_MS",
    "Measure",
    "Module",
    "connect",
    "disconnect_all",
    "connected_modules",
    "MAX_SAMPLES",
]

#: The most samples one waveform or FIFO load takes.
MAX_SAMPLES = 524288
#: The longest deviceId: the tail of the serial "KORVELAN380<deviceId>".
MAX_DEVICE_ID_LENGTH = 8


class _DefaultLatency(int):
    """The default ``latency_ms``: 2, told apart from a 2 given by the caller, since only a
    setting asked for must be met."""


#: The latency timer a connect sets unless told otherwise, in milliseconds: a short reply then
#: waits at most 2 ms in the USB chip instead of the 16 ms the chip starts with.
DEFAULT_LATENCY_MS: int = _DefaultLatency(2)

# The modules connected through this package, by deviceId, so that each is closed once and a
# stale Module never disconnects a later connection of the same deviceId.
_connections: Dict[bytes, "Module"] = {}
_connections_lock = threading.Lock()
# Serialises the standard-output redirection of quiet EXIO read-backs.
_stdout_lock = threading.Lock()
# One lock per deviceId, held by the methods that read a channel's range and then make a call
# that depends on it, and by set_range, so that no range change of this package falls between
# the two calls. By deviceId, not by Module: the range is the module's, and a Module whose
# connection ended behind its back and the Module that connected the deviceId again both name
# it. Reentrant, so that a locked method may call another. The few entries are never removed.
_module_locks: Dict[bytes, "threading.RLock"] = {}


#: ``measure(channel, output_range, point, expected_volts) -> volts``: what a meter reads on the
#: channel's output while the module holds point 0, 1 or 2 of a guided calibration there;
#: ``expected_volts`` is what an ideal module would put out.
Measure = Callable[[int, Range, int, float], float]

# An argument of an export, to be checked before the call: (what it is, value, bits).
_Field = Tuple[str, Any, int]


def _channel(channel: Any) -> _Field:
    return ("channel", channel, 8)


def _module_lock(device_id: bytes) -> "threading.RLock":
    with _connections_lock:
        return _module_locks.setdefault(device_id, threading.RLock())


def _latency_setting(latency_ms: Any, device_id: str) -> Optional[int]:
    """latency_ms as the milliseconds to set, or None; refused before anything is done."""
    if latency_ms is None:
        return None
    try:
        number = operator.index(latency_ms)
    except TypeError:
        raise TypeError(
            f"latency_ms must be an integer or None, not {type(latency_ms).__name__}"
        ) from None
    if not 1 <= number <= 255:
        raise InvalidArgumentError(
            1, "KORVELAN380_LatencySet", device_id, f"latency_ms {number} is outside 1..255"
        )
    return number


def _check_calibration(calibration: Calibration, device_id: str) -> None:
    """Refuses the first entry whose gain or offset no module has; the library takes any."""
    for entry, (gain, offset) in enumerate(zip(calibration.gains, calibration.offsets)):
        channel, output_range = divmod(entry, 7)
        where = f"entry {entry} (channel {channel}, {Range(output_range).name})"
        ideal = Range(output_range).step
        # Written so that NaN fails it too.
        if not (math.isfinite(gain) and ideal / 2 <= gain <= ideal * 2):
            raise InvalidArgumentError(
                1,
                "KORVELAN380_Calib_Val_Set",
                device_id,
                f"{where}: gain {gain!r} is not between {ideal / 2!r} and {ideal * 2!r} V per "
                f"code (within a factor of 2 of the ideal {ideal!r}); force=True sets it",
            )
        if offset > values.RAW_MAX:
            raise InvalidArgumentError(
                1,
                "KORVELAN380_Calib_Val_Set",
                device_id,
                f"{where}: offset {offset} is not a code 0 to {values.RAW_MAX} (0x3FFF); "
                "force=True sets it",
            )


def _encode_device_id(device_id: Union[str, bytes]) -> bytes:
    if isinstance(device_id, str):
        try:
            encoded = device_id.encode("ascii")
        except UnicodeEncodeError:
            raise InvalidArgumentError(
                1, "KORVELAN380_Connect", device_id, "a deviceId is ASCII"
            ) from None
    elif isinstance(device_id, (bytes, bytearray)):
        encoded = bytes(device_id)
    else:
        raise TypeError(f"deviceId must be str or bytes, not {type(device_id).__name__}")
    if b"\0" in encoded:
        raise InvalidArgumentError(
            1, "KORVELAN380_Connect", encoded.decode("latin-1"), "a deviceId has no NUL"
        )
    return encoded


class Module:
    """A KORVELAN380 module, connected by its deviceId.

    ``Module("7")`` (or :func:`connect`) opens the module whose USB serial number is
    ``KORVELAN3807``; :meth:`close` (or leaving a ``with`` block) disconnects it. Every method
    either succeeds or raises a :class:`~korvelan380.KorvelanError`.

    After connecting, the USB chip's latency timer is set to ``latency_ms`` (2 ms unless told
    otherwise) with ``KORVELAN380_LatencySet``: the chip holds every short reply back until its
    timer runs out, 16 ms as it starts, and each register read waits for that.
    :attr:`latency_ms` tells what was set.

    Channels are 0 and 1; some methods also take 2, which addresses a third register of the
    same kind (see each method). Methods may be called from any thread: calls on one module
    run one at a time, calls on different modules run at once. The methods that read the range
    first (:meth:`set_volts`, :meth:`get_volts`, :meth:`load_waveform_volts`) and
    :meth:`set_range` also run one at a time as a whole, so the range they read is the range
    their value is written or read in.
    """

    def __init__(
        self,
        device_id: Union[str, bytes],
        *,
        library: Optional[str] = None,
        latency_ms: Optional[int] = DEFAULT_LATENCY_MS,
    ) -> None:
        """Connects the module, then sets its latency timer.

        ``latency_ms`` is 1 to 255, or None to keep the chip's own setting. The default, 2, is
        best-effort: where the driver has no way to set the timer (status 4) the chip keeps its
        own, and where ``KORVELAN380_LATENCY_MS`` is set the library's setting from it stands.
        A value given must be set, or the connect fails.

        Raises:
            InvalidArgumentError: the deviceId is longer than 8 characters, or ``latency_ms``
                is outside 1..255 (nothing is done).
            AlreadyConnectedError: the module is already connected in this process.
            OpenFailedError: the driver is missing or could not open the module; or it cannot
                set the ``latency_ms`` given (the module is disconnected again).
            TransferFailedError: setting the outputs' first state, or the latency timer,
                failed; the module has been disconnected again, so a retry starts afresh.
        """
        self._id = _encode_device_id(device_id)
        self.device_id: str = self._id.decode("latin-1")
        latency = _latency_setting(latency_ms, self.device_id)
        self._lib: Library = load_library(library)
        self._lock = _module_lock(self._id)
        self._closed = True
        #: The latency timer set at connect, in milliseconds; None when the chip's own stands.
        self.latency_ms: Optional[int] = None
        require_usb_bus(self.device_id)
        try:
            self._lib.KORVELAN380_Connect(self._id)
        except TransferFailedError:
            # The library keeps a module whose first-connect initialisation failed; undo that
            # so that the caller can simply try again.
            self._drop_connection()
            raise
        if latency is not None:
            try:
                self.latency_ms = self._set_latency(latency, latency_ms is DEFAULT_LATENCY_MS)
            except KorvelanError:
                self._drop_connection()
                raise
        with _connections_lock:
            stale = _connections.get(self._id)
            if stale is not None:
                stale._closed = True  # its connection ended behind its back; this is a new one
            _connections[self._id] = self
            self._closed = False

    def _drop_connection(self) -> None:
        """Disconnects a connect that failed part-way."""
        try:
            self._lib.KORVELAN380_DisConnect(self._id)
        except NotConnectedError:
            pass

    def _set_latency(self, milliseconds: int, best_effort: bool) -> Optional[int]:
        """Sets the latency timer: the milliseconds set, or None where the default gives way."""
        if best_effort and os.environ.get("KORVELAN380_LATENCY_MS"):
            return None  # the library has set the environment's at connect
        set_latency = getattr(self._lib, "KORVELAN380_LatencySet", None)
        try:
            if set_latency is None:
                raise OpenFailedError(
                    4, "KORVELAN380_LatencySet", self.device_id, f"{self._lib.path} lacks it"
                )
            set_latency(self._id, milliseconds)
        except OpenFailedError:
            if best_effort:
                return None
            raise
        return milliseconds

    # ---- Connection ------------------------------------------------------------------------

    def close(self) -> None:
        """Disconnects the module. Closing a closed module does nothing."""
        with _connections_lock:
            if self._closed:
                return
            self._closed = True
            del _connections[self._id]
        try:
            self._lib.KORVELAN380_DisConnect(self._id)
        except NotConnectedError:
            pass  # disconnected behind this object's back: closed all the same

    disconnect = close

    @property
    def closed(self) -> bool:
        """True once :meth:`close` has been called."""
        return self._closed

    def __enter__(self) -> "Module":
        return self

    def __exit__(self, *_exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self._closed else "connected"
        return f"<korvelan380.Module {self.device_id!r} {state}>"

    # ---- Argument checks -------------------------------------------------------------------

    def _live(self, export: str) -> Library:
        if self._closed:
            raise NotConnectedError(2, export, self.device_id, "this Module was closed")
        return self._lib

    def _uint(self, value: Any, bits: int, what: str, export: str) -> int:
        """value as an int that fits the C parameter; InvalidArgumentError otherwise."""
        try:
            number = operator.index(value)
        except TypeError:
            raise TypeError(f"{what} must be an integer, not {type(value).__name__}") from None
        if not 0 <= number < 1 << bits:
            raise InvalidArgumentError(
                1, export, self.device_id, f"{what} {number} is outside 0..{(1 << bits) - 1}"
            )
        return number

    def _u8(self, value: Any, what: str, export: str) -> int:
        return self._uint(value, 8, what, export)

    def _call(self, export: str, *fields: _Field, out: Any = None) -> Any:
        """Calls ``export`` on this module with each field checked to fit its C parameter, in
        order, once the module is known to be connected; then ``out``, the C value the export
        writes, which it gives back."""
        lib = self._live(export)
        args = [self._uint(value, bits, what, export) for what, value, bits in fields]
        getattr(lib, export)(self._id, *args, *(() if out is None else (byref(out),)))
        return out

    def _range_of(self, channel: int, export: str) -> Range:
        """The range the module reports for channel 0 or 1, for a volts conversion."""
        index = self.get_range(channel)
        if not isinstance(index, Range):
            raise TransferFailedError(
                5, export, self.device_id, f"channel {channel} reports range {index}"
            )
        return index

    # ---- Calibration -----------------------------------------------------------------------

    def get_calibration(self) -> Calibration:
        """The module's working calibration (the EEPROM is not read)."""
        lib = self._live("KORVELAN380_Calib_Val_Get")
        offsets = CalibrationOffsetsStruct()
        gains = CalibrationGainsStruct()
        lib.KORVELAN380_Calib_Val_Get(self._id, byref(offsets), byref(gains))
        return Calibration(tuple(offsets.offset), tuple(gains.gain))

    def set_calibration(
        self, calibration: Calibration, *, save: bool = False, force: bool = False
    ) -> None:
        """Replaces the working calibration, used by every conversion from now on.

        With ``save``, values that differ from those found in the EEPROM at connect are also
        stored in the EEPROM; a store that fails raises TransferFailedError (the working
        calibration is replaced all the same). Gains are kept in single precision.

        Values no module has raise InvalidArgumentError, naming the entry, with nothing
        changed: each gain must be finite, positive and within a factor of 2 of its range's
        ideal ``Range.step`` (span / 16384 V per code), each offset a code 0 to 0x3FFF. A blank
        module's record (gains 0.0) is one of them. ``force=True`` sets them as given.
        """
        lib = self._live("KORVELAN380_Calib_Val_Set")
        if not force:
            _check_calibration(calibration, self.device_id)
        offsets = CalibrationOffsetsStruct()
        gains = CalibrationGainsStruct()
        offsets.offset[:] = calibration.offsets
        gains.gain[:] = calibration.gains
        lib.KORVELAN380_Calib_Val_Set(self._id, byref(offsets), byref(gains), 1 if save else 0)

    def store_calibration(
        self, calibration: Optional[Calibration] = None, *, force: bool = False
    ) -> None:
        """Makes ``calibration`` (by default the working one) the working calibration and
        stores it in the EEPROM, unless it equals what the EEPROM held at connect. A given
        calibration is checked as :meth:`set_calibration` checks it; the working one, already
        the module's, is stored as it is."""
        if calibration is None:
            calibration = self.get_calibration()
            force = True
        self.set_calibration(calibration, save=True, force=force)

    def adjust_calibration(
        self, channel: int, output_range: Union[Range, int], measure: Measure
    ) -> PairCalibration:
        """Fits channel 0's or 1's calibration entry for ``output_range`` to a meter's readings:
        the library sets the range and outputs a code near 10 % of it, then one near 90 %, both
        uncalibrated, asking ``measure`` for each; it fits the entry from the two readings and
        sets it in the working calibration (not the EEPROM), then outputs the middle code
        through the fit and asks for a third reading, which checks the fit.

        The entry stays fitted: keep it with :meth:`store_calibration`, or set the calibration
        read before back (:func:`korvelan380.calibrate` does either). A reading the library
        refuses raises :class:`ReadingRefusedError` naming the reason; the entry is then as the
        readings before it left it. A library without the guided calibration raises
        OpenFailedError, as one without ``KORVELAN380_LatencySet`` does for the latency timer.
        """
        export = "KORVELAN380_CalibAdjustBegin"
        lib = self._live(export)
        if not hasattr(lib, export):
            # A library from before the guided calibration, as with KORVELAN380_LatencySet.
            raise OpenFailedError(4, export, self.device_id, f"{lib.path} lacks it")
        adjust = CalibAdjustStruct()
        with self._lock:
            fields = (_channel(channel), ("range", output_range, 8))
            self._call(export, *fields, out=adjust)
            while adjust.step < 3:
                point = adjust.step
                expected = adjust.expectedVolts[point]
                volts = float(measure(channel, Range(output_range), point, expected))
                try:
                    lib.KORVELAN380_CalibAdjustReading(self._id, byref(adjust), volts)
                except InvalidArgumentError:
                    if adjust.refusal == 0:
                        raise
                    raise ReadingRefusedError(
                        self.device_id, adjust.refusal, channel, int(output_range), point, volts
                    ) from None
        return PairCalibration(
            channel=adjust.channel,
            output_range=Range(adjust.rangeIndex),
            old_gain=adjust.oldGain,
            old_offset=adjust.oldOffset,
            gain=adjust.gain,
            offset=adjust.offset,
            expected_volts=tuple(adjust.expectedVolts),
            readings=tuple(adjust.readings),
            errors_mv=tuple(adjust.errorMillivolts),
            errors_lsb=tuple(adjust.errorLsb),
            raw_codes=tuple(adjust.rawCodes),
            sent_codes=tuple(adjust.sentCodes),
        )

    # ---- Conversion ------------------------------------------------------------------------

    def calibrated_from_raw(self, channel: int, output_range: int, raw: int) -> int:
        """The calibrated 16-bit code that rawValue ``raw`` (low 14 bits) becomes on channel
        0 or 1 in ``output_range``, with the module's working calibration. No transfer."""
        fields = (_channel(channel), ("range", output_range, 8), ("raw value", raw, 16))
        return self._call("KORVELANGetCalibedVal", *fields, out=c_uint16()).value

    def raw_from_calibrated(self, channel: int, output_range: int, code: int) -> int:
        """The rawValue (0 to 0x3FFF) that calibrated ``code`` stands for; InvalidArgumentError
        when it stands for none. No transfer."""
        fields = (_channel(channel), ("range", output_range, 8), ("code", code, 16))
        return self._call("KORVELANGetRawValFromCalibed", *fields, out=c_uint16()).value

    # ---- Digital I/O -----------------------------------------------------------------------

    def set_dio_direction(self, direction: int) -> None:
        """Writes the digital port's direction byte."""
        self._call("KORVELAN380_Dio_Dir", ("direction", direction, 8))

    def get_dio_direction(self) -> int:
        """Reads the digital port's direction byte back."""
        return self._call("KORVELAN380_Dio_Dir_R", out=c_uint8()).value

    def set_dio_output(self, value: int) -> None:
        """Writes the digital port's output byte."""
        self._call("KORVELAN380_Dio_Out", ("output", value, 8))

    def get_dio_output(self) -> int:
        """Reads the digital port's output byte back."""
        return self._call("KORVELAN380_Dio_Out_R", out=c_uint8()).value

    def read_dio_input(self) -> int:
        """Reads the digital port's input byte."""
        return self._call("KORVELAN380_Dio_In", out=c_uint8()).value

    # ---- DAC channel and range -------------------------------------------------------------

    def set_channel_settings(self, channel: int, settings: DacChannelSettings) -> None:
        """Configures channel 0 or 1 (see :class:`DacChannelSettings`). Settings that the mode
        does not accept raise InvalidArgumentError with nothing sent."""
        export = "KORVELAN380_DacChSet"
        lib = self._live(export)
        s = DacChannelSettingsStruct(
            self._u8(settings.mode, "mode", export),
            self._u8(settings.select_a, "select_a", export),
            self._u8(settings.select_b, "select_b", export),
            self._u8(settings.switch_a, "switch_a", export),
            self._u8(settings.switch_b, "switch_b", export),
            0,
            self._u8(settings.preset_enable, "preset_enable", export),
            self._uint(settings.preset_value, 16, "preset_value", export),
            self._uint(settings.mode_parameter, 16, "mode_parameter", export),
        )
        lib.KORVELAN380_DacChSet(self._id, self._u8(channel, "channel", export), byref(s))

    def get_channel_settings(self, channel: int) -> DacChannelSettings:
        """Reads channel 0's or 1's configuration back."""
        s = self._call("KORVELAN380_DacChSet_R", _channel(channel), out=DacChannelSettingsStruct())
        return DacChannelSettings(
            mode=s.mode,
            select_a=s.selectA,
            select_b=s.selectB,
            switch_a=s.switchA,
            switch_b=s.switchB,
            preset_enable=s.presetEnable,
            preset_value=s.presetValue,
            mode_parameter=s.modeParameter,
        )

    def set_range(self, channel: int, output_range: Union[Range, int]) -> None:
        """Selects the output range of channel 0, 1 or 2 (channel 2 takes channel 0's
        calibration)."""
        with self._lock:
            self._call("KORVELAN380_RangeSet", _channel(channel), ("range", output_range, 8))

    def get_range(self, channel: int) -> Union[Range, int]:
        """The range channel 0 or 1 holds: a :class:`Range`, or the plain number when the
        module holds one that is not a range."""
        value = self._call("KORVELAN380_RangeSet_R", _channel(channel), out=c_uint8()).value
        try:
            return Range(value)
        except ValueError:
            return value

    # ---- DAC values ------------------------------------------------------------------------

    def set_raw(self, channel: int, raw: int) -> None:
        """Sets channel 0's or 1's output to rawValue ``raw`` (0 to 0x3FFF), calibrated for the
        range the module reports."""
        export = "KORVELAN380_DacValSet"
        lib = self._live(export)
        value = self._uint(raw, 16, "raw value", export)
        if value > values.RAW_MAX:
            raise InvalidArgumentError(
                1, export, self.device_id, f"raw value {value} is outside 0..0x3FFF"
            )
        lib.KORVELAN380_DacValSet(self._id, self._u8(channel, "channel", export), value)

    def get_raw(self, channel: int) -> int:
        """Reads channel 0's or 1's output back as a rawValue."""
        return self._call("KORVELAN380_DacValSet_R", _channel(channel), out=c_uint16()).value

    def set_volts(self, channel: int, volts: float) -> None:
        """Sets channel 0's or 1's output to the rawValue nearest ``volts`` in the range the
        module reports for it (read first; see :meth:`Range.from_volts`). Volts outside the
        range raise InvalidArgumentError with nothing written."""
        export = "KORVELAN380_DacValSet"
        with self._lock:
            output_range = self._range_of(channel, export)
            try:
                raw = output_range.from_volts(float(volts))
            except ValueError as error:
                raise InvalidArgumentError(1, export, self.device_id, str(error)) from None
            self.set_raw(channel, raw)

    def get_volts(self, channel: int) -> float:
        """Channel 0's or 1's output in volts, from its rawValue and range."""
        with self._lock:
            output_range = self._range_of(channel, "KORVELAN380_DacValSet_R")
            return output_range.to_volts(self.get_raw(channel))

    def set_code(self, channel: int, code: int) -> None:
        """Writes a calibrated 16-bit code to channel 0's or 1's output unchanged."""
        self._call("KORVELAN380_DacValSet_NoCalibed", _channel(channel), ("code", code, 16))

    def get_code(self, channel: int) -> int:
        """Reads channel 0's or 1's output code unchanged."""
        code = self._call("KORVELAN380_DacValSet_NoCalibed_R", _channel(channel), out=c_uint16())
        return code.value

    # ---- Waveform and FIFO -----------------------------------------------------------------

    def _stream(self, export: str, channel: int, samples: Any) -> None:
        lib = self._live(export)
        channel = self._u8(channel, "channel", export)
        try:
            with pinned_uint16(samples) as (address, count):
                if not 1 <= count <= MAX_SAMPLES:
                    raise InvalidArgumentError(
                        1, export, self.device_id, f"{count} samples; 1 to {MAX_SAMPLES} fit"
                    )
                getattr(lib, export)(self._id, channel, address, count)
        except ValueError as error:
            if isinstance(error, InvalidArgumentError):
                raise
            raise InvalidArgumentError(1, export, self.device_id, str(error)) from None

    def load_waveform(self, channel: int, samples: Any) -> None:
        """Loads rawValues into channel 0's or 1's waveform memory, each calibrated for the
        range the module reports, in one stream.

        ``samples``: 1 to 524288 16-bit values: a numpy ``uint16`` array (used in place when
        contiguous), ``array('H')``, ``bytes``/``bytearray`` (two bytes per sample, in the
        machine's byte order), a memoryview, or any iterable of ints. Only the low 14 bits of
        each sample count.
        """
        self._stream("KORVELAN380_WavImgSet", channel, samples)

    def load_waveform_volts(self, channel: int, volts: Any) -> None:
        """Loads volts into channel 0's or 1's waveform memory: each becomes the nearest
        rawValue in the range the module reports (read once, first). ``volts``: a numpy array
        (converted with numpy) or any iterable of numbers, all within the range."""
        export = "KORVELAN380_WavImgSet"
        with self._lock:
            output_range = self._range_of(channel, export)
            try:
                raw = raw_from_volts(output_range, volts)
            except ValueError as error:
                raise InvalidArgumentError(1, export, self.device_id, str(error)) from None
            self._stream(export, channel, raw)

    def load_fifo(self, channel: int, codes: Any) -> None:
        """Streams 1 to 524288 calibrated 16-bit codes to channel 0's or 1's FIFO unchanged
        (the same buffers as :meth:`load_waveform`). Channel 2 raises TransferFailedError with
        nothing sent."""
        self._stream("KORVELAN380_Fifo_ImgSet", channel, codes)

    def clear_fifo(self, channel: int) -> None:
        """Clears channel 0's or 1's FIFO (channel 2 clears channel 0's)."""
        self._call("KORVELAN380_Fifo_Clr", _channel(channel))

    def fifo_status(self) -> FifoStatus:
        """Both channels' FIFO status, read in one transaction."""
        lib = self._live("KORVELAN380_Fifo_Status")
        flag7 = (c_uint8 * 2)()
        flag6 = (c_uint8 * 2)()
        counter = (c_uint32 * 2)()
        lib.KORVELAN380_Fifo_Status(self._id, flag7, flag6, counter)
        return FifoStatus(
            *(values.FifoChannelStatus(bool(flag7[c]), bool(flag6[c]), counter[c]) for c in (0, 1))
        )

    # ---- Trigger and gate ------------------------------------------------------------------

    def start(self, channel: int) -> None:
        """Triggers channel 0, 1 or 2 to start."""
        self._call("KORVELAN380_Trigger", _channel(channel), ("start", 1, 8))

    def stop(self, channel: int) -> None:
        """Triggers channel 0, 1 or 2 to stop."""
        self._call("KORVELAN380_Trigger", _channel(channel), ("start", 0, 8))

    def trigger_status(self, channel: int) -> bool:
        """The trigger status of channel 0 or 1 (channel 2 reads channel 0's)."""
        return bool(self._call("KORVELAN380_Trigger_Stat", _channel(channel), out=c_uint8()).value)

    def set_gate(self, channel: int, gate: bool) -> None:
        """Opens (True) or closes (False) the gate of channel 0, 1 or 2."""
        self._call("KORVELAN380_GateSet", _channel(channel), ("gate", gate, 8))

    def get_gate(self, channel: int) -> bool:
        """Reads the gate of channel 0, 1 or 2 back."""
        return bool(self._call("KORVELAN380_GateSet_R", _channel(channel), out=c_uint8()).value)

    # ---- Selection and clock ---------------------------------------------------------------

    def set_external_select(self, low: int, high: int) -> None:
        """Selects the external signals: ``low`` and ``high`` 0 to 4."""
        self._call("KORVELAN380_Exs_Sel", ("low", low, 8), ("high", high, 8))

    def get_external_select(self) -> Selection:
        """Reads the external-signal selection back (any nibbles the module holds)."""
        lib = self._live("KORVELAN380_Exs_Sel_R")
        low, high = c_uint8(), c_uint8()
        lib.KORVELAN380_Exs_Sel_R(self._id, byref(low), byref(high))
        return Selection(low.value, high.value)

    def set_clock(self, channel: int, setting: int) -> None:
        """Loads a clock setting (at least 99, 32 bits) into channel 0's, 1's or 2's clock."""
        self._call("KORVELAN380_Clock_Gen", _channel(channel), ("clock setting", setting, 32))

    def set_exio_select(self, low: int, high: int) -> None:
        """Selects the EXIO signals: ``low`` and ``high`` 0 to 6."""
        self._call("KORVELAN380_EXIO_Sel", ("low", low, 8), ("high", high, 8))

    def get_exio_select(self, *, quiet: bool = False) -> Selection:
        """Reads the EXIO selection back.

        The library also prints the selection byte in decimal to the process's standard
        output (file descriptor 1, no line end). With ``quiet`` that output goes to
        ``/dev/null`` instead: descriptor 1 is redirected for the call's duration, so anything
        other threads write to it meanwhile is lost too.
        """
        lib = self._live("KORVELAN380_EXIO_Sel_R")
        low, high = c_uint8(), c_uint8()
        if quiet:
            with _stdout_lock, _stdout_to_devnull():
                lib.KORVELAN380_EXIO_Sel_R(self._id, byref(low), byref(high))
        else:
            lib.KORVELAN380_EXIO_Sel_R(self._id, byref(low), byref(high))
        return Selection(low.value, high.value)

    def read_exio(self) -> int:
        """Reads the EXIO input byte."""
        return self._call("KORVELAN380_EXIO_In", out=c_uint8()).value


class _stdout_to_devnull:
    """Points file descriptor 1 at /dev/null until exit."""

    def __enter__(self) -> None:
        for stream in (sys.stdout, sys.__stdout__):
            if stream is not None:
                try:
                    stream.flush()
                except (OSError, ValueError):
                    pass
        self._saved = os.dup(1)
        devnull = os.open(os.devnull, os.O_WRONLY)
        try:
            os.dup2(devnull, 1)
        finally:
            os.close(devnull)

    def __exit__(self, *_exc: object) -> None:
        try:
            os.dup2(self._saved, 1)
        finally:
            os.close(self._saved)


def connect(
    device_id: Union[str, bytes],
    *,
    library: Optional[str] = None,
    latency_ms: Optional[int] = DEFAULT_LATENCY_MS,
) -> Module:
    """Connects the module ``KORVELAN380<device_id>``; the same as ``Module(device_id)``.

    ``library`` is the path of libkorvelan380 to load, if it is not loaded yet. ``latency_ms``
    is the USB chip's latency timer to set after connecting: 1 to 255 ms, or None to keep the
    chip's own. The default, 2, is best-effort: a driver that has no way to set it (status 4)
    leaves the chip's own, and ``KORVELAN380_LATENCY_MS``, where set, outranks it. A value
    given must be set: otherwise the connect raises, and the module is left disconnected.
    """
    return Module(device_id, library=library, latency_ms=latency_ms)


def connected_modules() -> List[Module]:
    """The modules connected through this package and not closed yet."""
    with _connections_lock:
        return list(_connections.values())


def disconnect_all() -> None:
    """Closes every module connected through this package."""
    for module in connected_modules():
        module.close()
