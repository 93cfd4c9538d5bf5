"""ctypes binding of libqmx71a, and a small reader: python3 qmx71a.py OUT DEVICE START LENGTH [FAMILY [VARIANT]]

The library is loaded from $QMX71A_LIBRARY when set, else by its SONAME."""
import ctypes
import os
import sys

_lib = ctypes.CDLL(os.environ.get("QMX71A_LIBRARY", "libqmx71a.so.1"))

_i32 = ctypes.c_int32
_buf = ctypes.POINTER(ctypes.c_uint8)


def _bind(name, restype, *argtypes):
    fn = getattr(_lib, name)
    fn.restype = restype
    fn.argtypes = list(argtypes)
    return fn


QmxOpen = _bind("QmxOpen", _i32, _i32, _i32, _i32, _i32)
QmxClose = _bind("QmxClose", None)
QmxMode = _bind("QmxMode", _i32, _i32, _i32, _i32)
QmxCheck = _bind("QmxCheck", _i32)
QmxRead = _bind("QmxRead", _i32, _i32, _i32, _buf, _i32, _i32)
QmxCompare = _bind("QmxCompare", _i32, _i32, _i32, _buf, _i32, _i32)
QmxBlankChk = _bind("QmxBlankChk", _i32, _i32, _i32, _buf, _i32, _i32)
QmxChecksum = _bind("QmxChecksum", _i32, _i32, _i32, _buf, _i32, _i32)
QmxWrite = _bind("QmxWrite", _i32, _i32, _i32, _buf, _i32, _i32)
QmxErase = _bind("QmxErase", _i32, _i32, _i32, _buf, _i32, _i32)
QmxDllVer = _bind("QmxDllVer", _i32)
QmxFrmVer = _bind("QmxFrmVer", _i32)
QmxSetFreq = _bind("QmxSetFreq", _i32, _i32)
QmxGetFreq = _bind("QmxGetFreq", _i32)
QmxGetSwitch = _bind("QmxGetSwitch", _i32)
QmxSetEvent = _bind("QmxSetEvent", ctypes.c_ssize_t, ctypes.c_ssize_t)
QmxReset = _bind("QmxReset", _i32)
QmxVpp = _bind("QmxVpp", _i32)
QmxDWrite = _bind("QmxDWrite", _i32, _i32, _buf, _i32)
QmxDRead = _bind("QmxDRead", _i32, _i32, _buf, _i32)


def read(device, start, length, block=0):
    """The range as bytes, or None when the read failed."""
    buf = (ctypes.c_uint8 * length)()
    if not QmxRead(device, start, buf, length, block):
        return None
    return bytes(buf)


def main(argv):
    if len(argv) < 5:
        print(__doc__, file=sys.stderr)
        return 2
    out, device, start, length = argv[1], int(argv[2], 0), int(argv[3], 0), int(argv[4], 0)
    family = int(argv[5], 0) if len(argv) > 5 else 0
    variant = int(argv[6], 0) if len(argv) > 6 else 0
    if not QmxOpen(family, variant, 50, 0):
        print("programmer not connected or family refused", file=sys.stderr)
        QmxClose()
        return 1
    try:
        data = read(device, start, length)
    finally:
        QmxClose()
    if data is None:
        print("read failed", file=sys.stderr)
        return 1
    with open(out, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
