"""Fixtures that run qmx71-sim, the simulated programmer, for the binding to talk to."""
from __future__ import annotations

import os
import shutil
import subprocess
from collections.abc import Callable, Iterator
from pathlib import Path

import pytest

import qmx71a


def _simulator_program() -> str:
    path = os.environ.get("QMX71_SIM") or shutil.which("qmx71-sim")
    if not path:
        pytest.skip("qmx71-sim not found: set QMX71_SIM to its path")
    return path


class Simulator:
    """One qmx71-sim process holding one part; the library finds it through
    QMX71_PORT, and discovery sees an empty sysfs instead of real devices."""

    def __init__(self, program: str, workdir: Path, part: str, contents: bytes | None, model: str) -> None:
        self.saved = workdir / "saved.bin"
        link = workdir / "port"
        args = [program, "--model", model, "--link", str(link), "--part", part, "--save", str(self.saved)]
        if contents is not None:
            loaded = workdir / "loaded.bin"
            loaded.write_bytes(contents)
            args += ["--load", str(loaded)]
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        assert self.process.stdout is not None
        # The first line, the port, comes once the port and the link exist.
        if not self.process.stdout.readline():
            _, err = self.process.communicate(timeout=5)
            raise RuntimeError(f"qmx71-sim did not start: {err}")
        self.port = str(link)

    def stop(self) -> bytes:
        """Ends the simulator; the part's contents as it saved them on exit."""
        if self.process.poll() is None:
            self.process.terminate()
            self.process.communicate(timeout=5)
        return self.saved.read_bytes()


@pytest.fixture
def library() -> qmx71a.Library:
    try:
        return qmx71a.default_library()
    except qmx71a.LibraryNotFoundError as e:
        pytest.skip(str(e))


@pytest.fixture
def simulator(library: qmx71a.Library, tmp_path: Path,
              monkeypatch: pytest.MonkeyPatch) -> Iterator[Callable[..., Simulator]]:
    """Starts a simulator: simulator(part, contents=None, model="QMX-71C")."""
    program = _simulator_program()
    sysfs = tmp_path / "sysfs"
    sysfs.mkdir()
    monkeypatch.setenv("QMX71_SYSFS_ROOT", str(sysfs))
    started: list[Simulator] = []

    def start(part: str, contents: bytes | None = None, model: str = "QMX-71C") -> Simulator:
        workdir = tmp_path / f"sim{len(started)}"
        workdir.mkdir()
        sim = Simulator(program, workdir, part, contents, model)
        started.append(sim)
        monkeypatch.setenv("QMX71_PORT", sim.port)
        return sim

    yield start
    for sim in started:
        if sim.process.poll() is None:
            sim.process.kill()
            sim.process.wait()
