"""The programmer as a context manager over the library's one connection."""
from __future__ import annotations

import ctypes
from types import TracebackType
from typing import Any, Callable

from ._binding import Library, default_library
from .errors import NotConnectedError, OperationError, QmxError, RangeError, VerifyError
from .parts import Family, Part, find_part

PartLike = Part | str
Bytes = bytes | bytearray | memoryview

# Reads have no page to respect: the largest block saves round trips (the
# library takes at most 256, and on I2C at most 128).
READ_BLOCK = 256


def _as_part(part: PartLike) -> Part:
    return part if isinstance(part, Part) else find_part(part)


def _span(part: Part, start: int, length: int) -> str:
    if length <= 0:
        return f"{part} at 0x{start:04X} (empty)"
    return f"{part} 0x{start:04X}..0x{start + length - 1:04X}"


def _check_range(part: Part, start: int, length: int, whole_words: bool) -> None:
    if start < 0 or length < 0 or start + length > part.size:
        raise RangeError(
            f"{length} bytes from 0x{start:04X} do not fit {part} (0x0000..0x{part.size - 1:04X})"
        )
    if part.word_organised and (start % 2 or (whole_words and length % 2)):
        what = "start and length" if whole_words else "start"
        raise RangeError(f"{part} takes whole 16-bit words: {what} must be even, "
                         f"not {_span(part, start, length)}")


def _as_bytes(data: Bytes) -> bytes:
    # memoryview refuses an int, where bytes(n) would make n zero bytes.
    return memoryview(data).cast("B").tobytes()


def library_version(library: Library | None = None) -> str:
    """The library's version, e.g. "1.00"."""
    return _version_text((library or default_library()).QmxDllVer())


def _version_text(number: int) -> str:
    return f"{number >> 8:X}.{number & 0xFF:02X}"


class Programmer:
    """The programmer, connected for a family. Operations on a part of another
    family (or Microwire variant) switch the programmer's mode first.

    The library keeps one connection per process: only one Programmer may be
    open at a time."""

    _open: Programmer | None = None

    def __init__(self, family: Family | int | PartLike = Family.MICROWIRE, *, variant: int = 0,
                 write_time_ms: int = 50, keep_supply: bool = False, library: Library | None = None) -> None:
        if isinstance(family, (Part, str)):
            part = _as_part(family)
            family, variant = part.family, part.variant
        if not 0 <= write_time_ms <= 255:
            raise ValueError(f"write time must be 0..255 ms, not {write_time_ms}")
        self.family = Family(family)
        self.variant = variant
        self.write_time_ms = write_time_ms
        self._lib = library or default_library()
        if Programmer._open is not None:
            raise QmxError("a programmer connection is already open in this process: close it first")
        if not self._lib.QmxOpen(self.family, variant, write_time_ms, 1 if keep_supply else 0):
            answers = self._lib.QmxFrmVer() != 0
            # A refused open may leave the port held; only QmxClose lets it go.
            self._lib.QmxClose()
            if answers:
                raise NotConnectedError(f"the programmer does not take {self.family.name} parts")
            raise NotConnectedError("no programmer answers (plug it in, or name its port in QMX71_PORT)")
        Programmer._open = self

    def close(self) -> None:
        """Switches the part's supply off and releases the port."""
        if Programmer._open is self:
            self._lib.QmxClose()
            Programmer._open = None

    def __enter__(self) -> Programmer:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.close()

    @property
    def is_open(self) -> bool:
        return Programmer._open is self

    def _connected(self) -> Library:
        if not self.is_open:
            raise QmxError("the programmer is closed")
        return self._lib

    def _select(self, part: Part) -> Library:
        lib = self._connected()
        if (part.family, part.variant) != (self.family, self.variant):
            if not lib.QmxMode(part.family, part.variant, self.write_time_ms):
                self.variant = -1  # the library's mode is unknown now: select again next time
                raise NotConnectedError(f"the programmer refused the {part.family.name} mode for {part}")
            self.family, self.variant = part.family, part.variant
        return lib

    def _run(self, call: Callable[[int, int, Any, int, int], int], what: str, part: Part, start: int,
             length: int, buffer: Any, block_size: int) -> int:
        result = call(part.device, start, buffer, length, block_size)
        if not result:
            raise OperationError(f"{what} of {_span(part, start, length)} failed "
                                 "(no part, no answer or refused)")
        return result

    def _confirm(self, what: str, part: Part, start: int, length: int) -> None:
        # Pages are streamed and carried out at the programmer's pace; an
        # answer to a later query comes only once the last one is done.
        if not self._lib.QmxFrmVer():
            raise OperationError(f"{what} of {_span(part, start, length)} failed: "
                                 "the programmer did not confirm the last page")

    def _prepare(self, part: PartLike, start: int, length: int | None, *,
                 whole_words: bool) -> tuple[Part, int, Library]:
        """The part, the length (to the part's end by default), checked, and the
        library with the part's family selected."""
        p = _as_part(part)
        length = p.size - start if length is None else length
        _check_range(p, start, length, whole_words=whole_words)
        return p, length, self._select(p)

    def read(self, part: PartLike, start: int = 0, length: int | None = None, *,
             block_size: int = READ_BLOCK) -> bytes:
        """`length` bytes of the part from `start` (to its end by default)."""
        p, length, lib = self._prepare(part, start, length, whole_words=False)
        if length == 0:
            return b""
        buffer = (ctypes.c_uint8 * length)()
        self._run(lib.QmxRead, "read", p, start, length, buffer, block_size)
        return bytes(buffer)

    def write(self, part: PartLike, data: Bytes, start: int = 0, *, block_size: int = 0) -> None:
        """Sends `data` to the part from `start`. The library only knows that
        every page went out: :meth:`verify` tells whether they were stored.
        `block_size` above the part's real page size would wrap inside a page."""
        p = _as_part(part)
        raw = _as_bytes(data)
        _check_range(p, start, len(raw), whole_words=True)
        lib = self._select(p)
        if raw:
            buffer = (ctypes.c_uint8 * len(raw)).from_buffer_copy(raw)
            self._run(lib.QmxWrite, "write", p, start, len(raw), buffer, block_size)
            self._confirm("write", p, start, len(raw))

    def verify(self, part: PartLike, data: Bytes, start: int = 0, *, block_size: int = READ_BLOCK) -> None:
        """Raises VerifyError naming the first address where the part differs."""
        p = _as_part(part)
        raw = _as_bytes(data)
        _check_range(p, start, len(raw), whole_words=False)
        lib = self._select(p)
        if not raw:
            return
        buffer = (ctypes.c_uint8 * len(raw)).from_buffer_copy(raw)
        if lib.QmxCompare(p.device, start, buffer, len(raw), block_size):
            return
        # The library only says "different or failed": reading back tells which, and where.
        actual = self.read(p, start, len(raw), block_size=block_size)
        for offset, (want, got) in enumerate(zip(raw, actual)):
            if want != got:
                address = start + offset
                raise VerifyError(
                    f"verify of {_span(p, start, len(raw))} failed: 0x{address:04X} holds 0x{got:02X}, "
                    f"expected 0x{want:02X}", address, want, got)
        raise OperationError(f"compare of {_span(p, start, len(raw))} failed, yet the part reads back equal")

    def erase(self, part: PartLike, start: int = 0, length: int | None = None, *,
              block_size: int = 0) -> None:
        """Fills the range (the whole part by default) with 0xFF."""
        p, length, lib = self._prepare(part, start, length, whole_words=True)
        if length:
            self._run(lib.QmxErase, "erase", p, start, length, None, block_size)
            self._confirm("erase", p, start, length)

    def is_blank(self, part: PartLike, start: int = 0, length: int | None = None, *,
                 block_size: int = READ_BLOCK) -> bool:
        """True when every byte of the range is 0xFF."""
        p, length, lib = self._prepare(part, start, length, whole_words=False)
        if length == 0 or lib.QmxBlankChk(p.device, start, None, length, block_size):
            return True
        # 0 is both "not blank" and "failed": a read raises for the latter.
        if all(b == 0xFF for b in self.read(p, start, length, block_size=block_size)):
            raise OperationError(f"blank check of {_span(p, start, length)} failed, "
                                 "yet the part reads back blank")
        return False

    def checksum(self, part: PartLike, start: int = 0, length: int | None = None, *,
                 block_size: int = READ_BLOCK) -> int:
        """Sum of the range's bytes."""
        p, length, lib = self._prepare(part, start, length, whole_words=False)
        total = lib.QmxChecksum(p.device, start, None, length, block_size) if length else 0
        # A range of zeros sums to 0 too, the library's failure value.
        return total or sum(self.read(p, start, length, block_size=block_size))

    def check(self) -> int:
        """0 without a part in the socket; otherwise 1, or for Microwire the
        address bits the part reports."""
        return self._connected().QmxCheck()

    @property
    def firmware_version(self) -> str:
        """The firmware's version, e.g. "1.00"."""
        number = self._connected().QmxFrmVer()
        if not number:
            raise OperationError("the programmer did not tell its firmware version")
        return _version_text(number)

    @property
    def supply_voltage(self) -> float:
        """The part's supply in volts."""
        centivolts = self._connected().QmxVpp()
        if not centivolts:
            raise OperationError("the programmer did not tell its supply voltage")
        return centivolts / 100

    @property
    def clock_hz(self) -> int:
        """The bus clock in Hz."""
        hz = self._connected().QmxGetFreq()
        if not hz:
            raise OperationError("the programmer did not tell its bus clock")
        return hz

    @clock_hz.setter
    def clock_hz(self, hz: int) -> None:
        if hz <= 0:
            raise ValueError(f"bus clock must be positive, not {hz}")
        if not self._connected().QmxSetFreq(hz):
            raise OperationError(f"setting the bus clock to {hz} Hz failed")

    @property
    def switch_pressed(self) -> bool:
        """The push switch as the programmer last reported it."""
        return bool(self._connected().QmxGetSwitch())

    def notify_switch(self, fd: int) -> None:
        """Has every switch press written an 8-byte 1 to `fd` (an eventfd, or
        a non-blocking pipe's write end); 0 stops it. `fd` stays the caller's."""
        self._connected().QmxSetEvent(fd)

    def reset(self) -> None:
        """Pulses DTR off and on."""
        if not self._connected().QmxReset():
            raise OperationError("the port refused the DTR pulse")
