"""The twenty C exports of libqmx71a with their prototypes from qmx71a.h."""
from __future__ import annotations

import ctypes
import ctypes.util
import os
from collections.abc import Callable
from typing import Any

from .errors import LibraryNotFoundError

ENV_VARIABLE = "QMX71A_LIBRARY"
SONAME = "libqmx71a.so.1"

_I32 = ctypes.c_int32
_BYTES = ctypes.POINTER(ctypes.c_uint8)  # uint8_t* and const uint8_t* alike
_INTPTR = ctypes.c_ssize_t  # ctypes has no intptr_t; ssize_t has its width

# name: (restype, argtypes), in the header's order.
PROTOTYPES: dict[str, tuple[Any, tuple[Any, ...]]] = {
    "QmxOpen": (_I32, (_I32, _I32, _I32, _I32)),
    "QmxClose": (None, ()),
    "QmxMode": (_I32, (_I32, _I32, _I32)),
    "QmxCheck": (_I32, ()),
    "QmxRead": (_I32, (_I32, _I32, _BYTES, _I32, _I32)),
    "QmxCompare": (_I32, (_I32, _I32, _BYTES, _I32, _I32)),
    "QmxBlankChk": (_I32, (_I32, _I32, _BYTES, _I32, _I32)),
    "QmxChecksum": (_I32, (_I32, _I32, _BYTES, _I32, _I32)),
    "QmxWrite": (_I32, (_I32, _I32, _BYTES, _I32, _I32)),
    "QmxErase": (_I32, (_I32, _I32, _BYTES, _I32, _I32)),
    "QmxDllVer": (_I32, ()),
    "QmxFrmVer": (_I32, ()),
    "QmxSetFreq": (_I32, (_I32,)),
    "QmxGetFreq": (_I32, ()),
    "QmxGetSwitch": (_I32, ()),
    "QmxSetEvent": (_INTPTR, (_INTPTR,)),
    "QmxReset": (_I32, ()),
    "QmxVpp": (_I32, ()),
    "QmxDWrite": (_I32, (_I32, _BYTES, _I32)),
    "QmxDRead": (_I32, (_I32, _BYTES, _I32)),
}

# A range call: device, start, buffer (a ctypes uint8 array or None), length, blockSize.
_RangeCall = Callable[[int, int, Any, int, int], int]


class Library:
    """libqmx71a loaded, every export bound with its C prototype.

    The library keeps one connection per process, so one Library object is
    all a process needs (see :func:`default_library`)."""

    QmxOpen: Callable[[int, int, int, int], int]
    QmxClose: Callable[[], None]
    QmxMode: Callable[[int, int, int], int]
    QmxCheck: Callable[[], int]
    QmxRead: _RangeCall
    QmxCompare: _RangeCall
    QmxBlankChk: _RangeCall
    QmxChecksum: _RangeCall
    QmxWrite: _RangeCall
    QmxErase: _RangeCall
    QmxDllVer: Callable[[], int]
    QmxFrmVer: Callable[[], int]
    QmxSetFreq: Callable[[int], int]
    QmxGetFreq: Callable[[], int]
    QmxGetSwitch: Callable[[], int]
    QmxSetEvent: Callable[[int], int]
    QmxReset: Callable[[], int]
    QmxVpp: Callable[[], int]
    QmxDWrite: Callable[[int, Any, int], int]
    QmxDRead: Callable[[int, Any, int], int]

    def __init__(self, path: str) -> None:
        try:
            dll = ctypes.CDLL(path)
        except OSError as e:
            raise LibraryNotFoundError(
                f"cannot load libqmx71a from {path!r}: {e} "
                f"(install it, or set {ENV_VARIABLE} to the library's path)"
            ) from e
        for name, (restype, argtypes) in PROTOTYPES.items():
            try:
                function = getattr(dll, name)
            except AttributeError:
                raise LibraryNotFoundError(f"{path!r} is not libqmx71a: it has no {name}") from None
            function.restype = restype
            function.argtypes = argtypes
            setattr(self, name, function)
        self.path = path
        self.dll = dll


def library_path() -> str:
    """Where the library is looked for: $QMX71A_LIBRARY, else the linker's
    search by name, else the SONAME for the dynamic loader to find."""
    return os.environ.get(ENV_VARIABLE) or ctypes.util.find_library("qmx71a") or SONAME


def load_library(path: str | None = None) -> Library:
    """Loads the library from `path`, or from :func:`library_path`."""
    if path is None:
        where = os.environ.get(ENV_VARIABLE)
        # A path given on purpose that does not exist is a mistake to report,
        # not a reason to quietly take another copy.
        if where and os.sep in where and not os.path.exists(where):
            raise LibraryNotFoundError(f"{ENV_VARIABLE}={where!r}: no such file")
        path = library_path()
    return Library(path)


_default: Library | None = None


def default_library() -> Library:
    """The process's library, loaded at first use."""
    global _default
    if _default is None:
        _default = load_library()
    return _default
