"""What the binding raises instead of the library's bare 0."""
from __future__ import annotations


class QmxError(Exception):
    """Anything the programmer or the library refused."""


class LibraryNotFoundError(QmxError, OSError):
    """libqmx71a could not be found or loaded."""


class NotConnectedError(QmxError):
    """No programmer answers, or it does not take the family asked for."""


class UnknownPartError(QmxError, ValueError):
    """A part name that is not in the catalogue."""


class RangeError(QmxError, ValueError):
    """A range outside the part, or not whole words on a word-organised part."""


class OperationError(QmxError):
    """The library refused or failed a memory operation on the part."""


class VerifyError(OperationError):
    """The part differs from the expected data; `address` is the first difference."""

    def __init__(self, message: str, address: int, expected: int, actual: int) -> None:
        super().__init__(message)
        self.address = address
        self.expected = expected
        self.actual = actual
