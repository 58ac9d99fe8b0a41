"""What a native library file says about itself: its korvelan380 version, and where a loaded
library came from."""

from __future__ import annotations

import ctypes
import json
import os
import re
import struct
from typing import Iterator, Optional, Tuple

__all__ = ["file_version", "loaded_path"]

_SHT_NOTE = 7
# The note the linker's --package-metadata writes: owner "FDO", a JSON object as its content.
_FDO_OWNER = b"FDO"
_FDO_PACKAGING_METADATA = 0xCAFE1A7E
_VERSIONED_NAME = re.compile(r"^libkorvelan380\.so\.(\d+\.\d+\.\d+)$")


def _padded(size: int, align: int) -> int:
    return (size + align - 1) // align * align


def _notes(block: bytes, order: str, align: int) -> Iterator[Tuple[bytes, int, bytes]]:
    """The (owner, type, content) of each note in one note section."""
    pos = 0
    while pos + 12 <= len(block):
        name_size, content_size, kind = struct.unpack_from(order + "III", block, pos)
        pos += 12
        owner = block[pos : pos + name_size].rstrip(b"\0")
        pos += _padded(name_size, align)
        yield owner, kind, block[pos : pos + content_size]
        pos += _padded(content_size, align)


def _elf_notes(data: bytes) -> Iterator[Tuple[bytes, int, bytes]]:
    """Every note of an ELF file's note sections; nothing for a file that is not ELF."""
    if data[:4] != b"\x7fELF":
        return
    order = "<" if data[5] == 1 else ">"
    if data[4] == 2:  # 64-bit
        (table,) = struct.unpack_from(order + "Q", data, 0x28)
        entry_size, count = struct.unpack_from(order + "HH", data, 0x3A)
        layout = order + "IIQQQQIIQQ"
    else:
        (table,) = struct.unpack_from(order + "I", data, 0x20)
        entry_size, count = struct.unpack_from(order + "HH", data, 0x2E)
        layout = order + "IIIIIIIIII"
    for index in range(count):
        fields = struct.unpack_from(layout, data, table + index * entry_size)
        if fields[1] != _SHT_NOTE:
            continue
        offset, size, align = fields[4], fields[5], fields[8]
        yield from _notes(data[offset : offset + size], order, max(align, 4))


def _noted_version(path: str) -> Optional[str]:
    try:
        with open(path, "rb") as file:
            data = file.read()
        for owner, kind, content in _elf_notes(data):
            if owner == _FDO_OWNER and kind == _FDO_PACKAGING_METADATA:
                version = json.loads(content.rstrip(b"\0").decode("utf-8")).get("korvelan380")
                if isinstance(version, str):
                    return version
    except (OSError, ValueError, struct.error, AttributeError):
        pass  # unreadable, not ELF, damaged, or a note of another kind
    return None


_VS_VERSION_INFO = "VS_VERSION_INFO\0".encode("utf-16-le")
_VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
_OUR_PRODUCT = "korvelan380\0".encode("utf-16-le")


def _resource_version(path: str) -> Optional[str]:
    """The version a DLL of ours gives in its version resource (the fixed part's file version,
    major.minor.patch); None for a file that is not a DLL of ours or has no such resource."""
    try:
        with open(path, "rb") as file:
            data = file.read()
    except OSError:
        return None
    if data[:2] != b"MZ" or _OUR_PRODUCT not in data:
        return None
    at = data.find(_VS_VERSION_INFO)
    # The key follows three 16-bit fields; the fixed part follows the key, at a 32-bit boundary.
    start = at - 6
    fixed = start + _padded(6 + len(_VS_VERSION_INFO), 4)
    if at < 6 or fixed + 16 > len(data):
        return None
    signature, _, high, low = struct.unpack_from("<IIII", data, fixed)
    if signature != _VS_FIXEDFILEINFO_SIGNATURE:
        return None
    return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}"


def file_version(path: str) -> Optional[str]:
    """The korvelan380 version of a library file: as the file's package note (ELF) or version
    resource (a DLL) records it, else from its name (``libkorvelan380.so.1.2.3``, symbolic
    links followed); None when none of them tells."""
    noted = _noted_version(path) or _resource_version(path)
    if noted is not None:
        return noted
    match = _VERSIONED_NAME.match(os.path.basename(os.path.realpath(path)))
    return match.group(1) if match else None


def loaded_path(cdll: ctypes.CDLL) -> Optional[str]:
    """The file a loaded library came from, as the loader found it (glibc's dlinfo); None
    where that cannot be asked."""
    try:
        dlinfo = ctypes.CDLL(None).dlinfo
    except (AttributeError, OSError):
        return None
    link_map = ctypes.c_void_p()
    rtld_di_linkmap = 2
    if dlinfo(ctypes.c_void_p(cdll._handle), rtld_di_linkmap, ctypes.byref(link_map)) != 0:
        return None
    # struct link_map starts with the load address, then the file name.
    name = ctypes.cast(link_map.value, ctypes.POINTER(ctypes.c_char_p))[1]
    return os.fsdecode(name) if name else None
