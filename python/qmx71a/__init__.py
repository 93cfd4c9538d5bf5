"""Drive the serial EEPROM programmer through libqmx71a.

    with Programmer(Family.I2C) as prog:
        data = prog.read("24C02")
"""
from ._binding import ENV_VARIABLE, Library, default_library, library_path, load_library
from .errors import (LibraryNotFoundError, NotConnectedError, OperationError, QmxError, RangeError,
                     UnknownPartError, VerifyError)
from .parts import PARTS, Family, Part, find_device, find_part
from .programmer import Programmer, library_version

__version__ = "1.0.0"

__all__ = [
    "ENV_VARIABLE", "PARTS", "Family", "Library", "LibraryNotFoundError", "NotConnectedError",
    "OperationError", "Part", "Programmer", "QmxError", "RangeError", "UnknownPartError", "VerifyError",
    "default_library", "find_device", "find_part", "library_path", "library_version", "load_library",
]
