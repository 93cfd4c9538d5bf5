"""The catalogue of parts, by name, with the library's device numbers."""
from __future__ import annotations

from dataclasses import dataclass
from enum import IntEnum
from typing import Literal

from .errors import UnknownPartError


class Family(IntEnum):
    """Bus families as QmxOpen and QmxMode number them."""

    MICROWIRE = 0
    I2C = 1
    SPI = 2


@dataclass(frozen=True)
class Part:
    """One way of addressing a catalogued part through the library."""

    name: str
    family: Family
    device: int  # the library's device number within the family
    size: int  # bytes
    variant: int = 0  # Microwire: 1 for the Series90 protocol
    word_organised: bool = False  # ranges start (and writes end) on even addresses

    def __str__(self) -> str:
        if self.family == Family.MICROWIRE and self.variant == 0:
            return f"{self.name} (x{16 if self.word_organised else 8})"
        return self.name


# Rows in the library's order: a row's position is its device number.
_MICROWIRE = [("93C06", 32), ("93C46", 128), ("93C56", 256), ("93C57", 256),
              ("93C66", 512), ("93C76", 1024), ("93C86", 2048)]
_SERIES90 = [("9010", 128), ("9020", 256), ("9040", 512), ("9080", 1024), ("9016", 2048)]
_I2C = [("24C00", 16), ("24C01", 128), ("24C02", 256), ("24C04", 512),
        ("24C08", 1024), ("24C16", 2048), ("24C32", 4096), ("24C64", 8192)]
_SPI = [("25C010", 128), ("25C020", 256), ("25C040", 512), ("25C080", 1024),
        ("25C160", 2048), ("25C320", 4096), ("25C640", 8192)]

# Microwire numbers: row in x16, 100 + row in x8, 200 + n for the n-th Series90 part.
_X8_BASE = 100
_SERIES90_BASE = 200

Organisation = Literal["x8", "x16"]


def _catalogue() -> dict[str, dict[str, Part]]:
    parts: dict[str, dict[str, Part]] = {}
    for row, (name, size) in enumerate(_MICROWIRE):
        parts[name] = {
            "x16": Part(name, Family.MICROWIRE, row, size, word_organised=True),
            "x8": Part(name, Family.MICROWIRE, _X8_BASE + row, size),
        }
    for n, (name, size) in enumerate(_SERIES90):
        parts[name] = {"x16": Part(name, Family.MICROWIRE, _SERIES90_BASE + n, size, 1, True)}
    for family, rows in ((Family.I2C, _I2C), (Family.SPI, _SPI)):
        for row, (name, size) in enumerate(rows):
            parts[name] = {"x8": Part(name, family, row, size)}
    return parts


_PARTS = _catalogue()

#: Every part by name, Microwire parts in their default (x16) organisation.
PARTS: dict[str, Part] = {name: ways.get("x16") or ways["x8"] for name, ways in _PARTS.items()}


def find_part(name: str, org: Organisation | None = None) -> Part:
    """The part called `name` (any case). Standard Microwire parts default to
    x16 and take org="x8"; Series90 parts are x16 only, the others x8."""
    ways = _PARTS.get(name.strip().upper())
    if ways is None:
        raise UnknownPartError(f"unknown part {name!r}; known parts: {', '.join(_PARTS)}")
    if org is None:
        return PARTS[name.strip().upper()]
    if org not in ways:
        raise UnknownPartError(f"{name.upper()} has no {org} organisation (only {', '.join(ways)})")
    return ways[org]


def find_device(family: Family | int, device: int) -> Part:
    """The part the library's `device` number stands for within `family`."""
    for ways in _PARTS.values():
        for part in ways.values():
            if part.family == family and part.device == device:
                return part
    raise UnknownPartError(f"no device number {device} in the {Family(family).name} family")
