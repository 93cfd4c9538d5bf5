"""Finding and binding libqmx71a itself."""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

from qmx71a._binding import PROTOTYPES

HEADER = Path(__file__).resolve().parents[2] / "library" / "qmx71a.h"
C_TYPES = {"int32_t": ctypes.c_int32, "void": None, "intptr_t": ctypes.c_ssize_t,
           "uint8_t*": ctypes.POINTER(ctypes.c_uint8)}


def _c_type(declaration: str):
    """The ctypes type of a C declaration such as "const uint8_t* buffer"."""
    words = re.sub(r"\s*\*\s*", "* ", declaration.replace("const", "")).split()
    return C_TYPES[words[0]]


@pytest.mark.skipif(not HEADER.exists(), reason="needs the source tree's qmx71a.h")
def test_prototypes_match_the_header():
    header = HEADER.read_text()
    declared = {}
    for restype, name, params in re.findall(r"QMX_EXPORT\s+(\w+\**)\s+(\w+)\(([^)]*)\);", header):
        types = () if params.strip() == "void" else tuple(_c_type(p) for p in params.split(","))
        declared[name] = (C_TYPES[restype], types)
    assert len(declared) == 20
    assert PROTOTYPES == declared


def _not_a_library(tmp_path: Path) -> str:
    path = tmp_path / "libqmx71a.so.1"
    path.write_text("not an ELF file\n")
    return str(path)


@pytest.mark.parametrize("where,message", [
    (lambda tmp: str(tmp / "missing" / "libqmx71a.so.1"), "no such file"),
    (_not_a_library, "cannot load"),
    (lambda tmp: ctypes.util.find_library("c"), "no QmxOpen"),
], ids=["missing", "not-elf", "other-library"])
def test_library_not_found(tmp_path, where, message):
    path = where(tmp_path)
    # A fresh interpreter: the library loads once per process, at first use.
    script = ("import qmx71a\n"
              "try:\n"
              "    qmx71a.Programmer()\n"
              "except qmx71a.LibraryNotFoundError as e:\n"
              "    print(e)\n")
    env = dict(os.environ, QMX71A_LIBRARY=path, PYTHONPATH=str(Path(__file__).resolve().parents[1]))
    result = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True,
                            timeout=30)
    assert result.returncode == 0, result.stderr
    assert path in result.stdout and message in result.stdout
