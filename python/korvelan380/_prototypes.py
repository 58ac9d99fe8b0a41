"""The C library's exports as ctypes sees them: the structs of the public header and every
export's parameters, by its name in the header."""

from __future__ import annotations

import ctypes
import sys
from ctypes import (
    POINTER,
    c_char_p,
    c_double,
    c_float,
    c_int32,
    c_uint8,
    c_uint16,
    c_uint32,
    c_void_p,
)
from typing import Dict, Tuple

from .values import CALIBRATION_ENTRIES

__all__ = [
    "CalibAdjustStruct",
    "CalibrationGainsStruct",
    "CalibrationOffsetsStruct",
    "DacChannelSettingsStruct",
    "OPTIONAL_EXPORTS",
    "PROTOTYPES",
    "symbol",
]


class DacChannelSettingsStruct(ctypes.Structure):
    """The C struct DacChannelSettings (12 bytes)."""

    _fields_ = [
        ("mode", c_uint8),
        ("selectA", c_uint8),
        ("selectB", c_uint8),
        ("switchA", c_uint8),
        ("switchB", c_uint8),
        ("reserved", c_uint8),
        ("presetEnable", c_uint8),
        ("presetValue", c_uint16),
        ("modeParameter", c_uint16),
    ]


class CalibrationGainsStruct(ctypes.Structure):
    _fields_ = [("gain", ctypes.c_float * CALIBRATION_ENTRIES)]


class CalibrationOffsetsStruct(ctypes.Structure):
    _fields_ = [("offset", c_uint16 * CALIBRATION_ENTRIES)]


class CalibAdjustStruct(ctypes.Structure):
    """The C struct KORVELAN380_CALIB_ADJUST (128 bytes): a two-point calibration in progress."""

    _fields_ = [
        ("expectedVolts", c_double * 3),
        ("readings", c_double * 3),
        ("errorMillivolts", c_double * 3),
        ("errorLsb", c_double * 3),
        ("oldGain", c_float),
        ("gain", c_float),
        ("rawCodes", c_uint16 * 3),
        ("sentCodes", c_uint16 * 3),
        ("oldOffset", c_uint16),
        ("offset", c_uint16),
        ("channel", c_uint8),
        ("rangeIndex", c_uint8),
        ("step", c_uint8),
        ("refusal", c_uint8),
        ("reserved", c_uint8 * 4),
    ]


assert ctypes.sizeof(CalibAdjustStruct) == 128

_P8 = POINTER(c_uint8)
_P16 = POINTER(c_uint16)
_P32 = POINTER(c_uint32)
_S = c_char_p  # deviceId

#: Every export's parameters, by its name in the header. All return a 32-bit status.
PROTOTYPES: Dict[str, Tuple[object, ...]] = {
    "KORVELAN380_Connect": (_S,),
    "KORVELAN380_DisConnect": (_S,),
    "KORVELAN380_LatencySet": (_S, c_uint32),
    "KORVELAN380_Calib_Val_Set": (
        _S,
        POINTER(CalibrationOffsetsStruct),
        POINTER(CalibrationGainsStruct),
        c_uint8,
    ),
    "KORVELAN380_Calib_Val_Get": (
        _S,
        POINTER(CalibrationOffsetsStruct),
        POINTER(CalibrationGainsStruct),
    ),
    "KORVELANGetCalibedVal": (_S, c_uint8, c_uint8, c_uint16, _P16),
    "KORVELANGetRawValFromCalibed": (_S, c_uint8, c_uint8, c_uint16, _P16),
    "KORVELAN380_Dio_Dir": (_S, c_uint8),
    "KORVELAN380_Dio_Dir_R": (_S, _P8),
    "KORVELAN380_Dio_Out": (_S, c_uint8),
    "KORVELAN380_Dio_Out_R": (_S, _P8),
    "KORVELAN380_Dio_In": (_S, _P8),
    "KORVELAN380_DacChSet": (_S, c_uint8, POINTER(DacChannelSettingsStruct)),
    "KORVELAN380_DacChSet_R": (_S, c_uint8, POINTER(DacChannelSettingsStruct)),
    "KORVELAN380_RangeSet": (_S, c_uint8, c_uint8),
    "KORVELAN380_RangeSet_R": (_S, c_uint8, _P8),
    "KORVELAN380_DacValSet": (_S, c_uint8, c_uint16),
    "KORVELAN380_DacValSet_R": (_S, c_uint8, _P16),
    "KORVELAN380_DacValSet_NoCalibed": (_S, c_uint8, c_uint16),
    "KORVELAN380_DacValSet_NoCalibed_R": (_S, c_uint8, _P16),
    "KORVELAN380_WavImgSet": (_S, c_uint8, c_void_p, c_int32),
    "KORVELAN380_Fifo_ImgSet": (_S, c_uint8, c_void_p, c_int32),
    "KORVELAN380_Fifo_Clr": (_S, c_uint8),
    "KORVELAN380_Fifo_Status": (_S, _P8, _P8, _P32),
    "KORVELAN380_Trigger": (_S, c_uint8, c_uint8),
    "KORVELAN380_Trigger_Stat": (_S, c_uint8, _P8),
    "KORVELAN380_GateSet": (_S, c_uint8, c_uint8),
    "KORVELAN380_GateSet_R": (_S, c_uint8, _P8),
    "KORVELAN380_Exs_Sel": (_S, c_uint8, c_uint8),
    "KORVELAN380_Exs_Sel_R": (_S, _P8, _P8),
    "KORVELAN380_Clock_Gen": (_S, c_uint8, c_uint32),
    "KORVELAN380_EXIO_Sel": (_S, c_uint8, c_uint8),
    "KORVELAN380_EXIO_Sel_R": (_S, _P8, _P8),
    "KORVELAN380_EXIO_In": (_S, _P8),
    "KORVELAN380_CalibAdjustBegin": (_S, c_uint8, c_uint8, POINTER(CalibAdjustStruct)),
    "KORVELAN380_CalibAdjustReading": (_S, POINTER(CalibAdjustStruct), c_double),
}

#: The exports a library may lack: one from before the latency timer could be set leaves the
#: chip's own setting, as a driver without FT_SetLatencyTimer does; one from before the
#: two-point calibration cannot run it.
OPTIONAL_EXPORTS = frozenset(
    {"KORVELAN380_LatencySet", "KORVELAN380_CalibAdjustBegin", "KORVELAN380_CalibAdjustReading"}
)

# The one export with C++ linkage: its symbol is its mangled name, not its header name.
if sys.platform == "win32":
    _NO_CALIBED_R_SYMBOL = "?KORVELAN380_DacValSet_NoCalibed_R@@YAKPEBDEPEAG@Z"
else:
    _NO_CALIBED_R_SYMBOL = "_Z33KORVELAN380_DacValSet_NoCalibed_RPKchPt"
_SYMBOLS = {"KORVELAN380_DacValSet_NoCalibed_R": _NO_CALIBED_R_SYMBOL}


def symbol(export: str) -> str:
    """The name the library file gives ``export``."""
    return _SYMBOLS.get(export, export)
