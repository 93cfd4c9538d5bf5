"""Reads a part, or a range of it, into a file with the qmx71a package.

usage: python3 qmx71a.py OUT PART [START [LENGTH [FAMILY]]]

PART is a name such as 24C64, or the library's device number within FAMILY
(0 Microwire, 1 I2C, 2 SPI). The library is $QMX71A_LIBRARY when set."""
import os
import sys

# This file bears the package's name: keep its own folder off the path, and
# take the source tree's package when none is installed.
_here = os.path.dirname(os.path.realpath(__file__))
sys.path = [p for p in sys.path if os.path.realpath(p or os.curdir) != _here]
sys.path.append(os.path.join(_here, os.pardir, os.pardir, "python"))

import qmx71a  # noqa: E402


def main(argv: list[str]) -> int:
    if not 3 <= len(argv) <= 6:
        print(__doc__, file=sys.stderr)
        return 2
    out, name = argv[1], argv[2]
    start = int(argv[3], 0) if len(argv) > 3 else 0
    length = int(argv[4], 0) if len(argv) > 4 else None
    try:
        if name.isdigit():
            family = int(argv[5], 0) if len(argv) > 5 else qmx71a.Family.MICROWIRE
            part = qmx71a.find_device(family, int(name))
        else:
            part = qmx71a.find_part(name)
        with qmx71a.Programmer(part) as programmer:
            data = programmer.read(part, start, length)
    except qmx71a.QmxError as e:
        print(f"qmx71a.py: {e}", file=sys.stderr)
        return 1
    with open(out, "wb") as f:
        f.write(data)
    print(f"{part}: {len(data)} bytes from 0x{start:04X} to {out}, sum 0x{sum(data) & 0xFFFF:04X}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
