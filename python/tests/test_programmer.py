"""The binding against the simulated programmer."""
from __future__ import annotations

import random

import pytest

import qmx71a
from qmx71a import Family, RangeError, find_part

# One part per way of addressing: Microwire in words, bytes and the Series90
# protocol, I2C with one and two address bytes, SPI with address bit 8 in the
# instruction and with two address bytes.
PARTS = [("93C46", None), ("93C46", "x8"), ("9016", None), ("24C02", None), ("24C64", None),
         ("25C040", None), ("25C640", None)]


def _random(n: int, seed: int) -> bytes:
    return random.Random(seed).randbytes(n)


@pytest.mark.parametrize("name,org", PARTS)
def test_write_reads_back_verifies_and_leaves_the_rest(simulator, name, org):
    part = find_part(name, org)
    before = _random(part.size, 1)
    sim = simulator(name, before)
    start, data = part.size // 4, _random(part.size // 2, 2)
    expected = before[:start] + data + before[start + len(data):]
    # Opened for another family, so the operations must switch the mode themselves.
    with qmx71a.Programmer(Family.SPI if part.family == Family.I2C else Family.I2C) as prog:
        prog.write(part, data, start)
        prog.verify(part, data, start)
        assert prog.read(part) == expected
        assert prog.read(part, start + 2, 6) == data[2:8]
        assert prog.checksum(part) == sum(expected)
    assert sim.stop() == expected


@pytest.mark.parametrize("name", ["93C46", "24C02", "25C640"])
def test_erase_blanks_only_its_range(simulator, name):
    part = find_part(name)
    before = _random(part.size, 3)
    sim = simulator(name, before)
    with qmx71a.Programmer(part) as prog:
        assert not prog.is_blank(part)
        prog.erase(part, 2, 8)
        assert prog.is_blank(part, 2, 8)
        assert not prog.is_blank(part, 0, 10)
    assert sim.stop() == before[:2] + b"\xff" * 8 + before[10:]


@pytest.mark.parametrize("name,start,offset", [("24C02", 0, 0), ("24C02", 16, 100), ("93C86", 2, 2045),
                                               ("25C320", 4000, 95)])
def test_verify_names_the_first_difference(simulator, name, start, offset):
    part = find_part(name)
    contents = _random(part.size, 4)
    simulator(name, contents)
    wanted = bytearray(contents[start:])
    wanted[offset] ^= 0x5A
    wanted[-1] ^= 0x01  # a later difference must not be the one reported
    with qmx71a.Programmer(part) as prog, pytest.raises(qmx71a.VerifyError) as caught:
        prog.verify(part, wanted, start)
    address = start + offset
    assert (caught.value.address, caught.value.expected, caught.value.actual) == (
        address, wanted[offset], contents[address])
    assert f"0x{address:04X}" in str(caught.value) and name in str(caught.value)


@pytest.mark.parametrize("call", [
    lambda prog: prog.read("24C02", 0, 257),
    lambda prog: prog.read("24C02", 256, 1),
    lambda prog: prog.read("24C02", -1, 2),
    lambda prog: prog.write("24C02", b"ab", 255),
    lambda prog: prog.erase("24C02", 200, 57),
    lambda prog: prog.write("93C46", b"ab", 1),  # x16: whole words only
    lambda prog: prog.write("93C46", b"abc", 0),
    lambda prog: prog.erase("93C46", 0, 3),
    lambda prog: prog.read("93C46", 3, 2),
], ids=["past-end", "start-at-end", "negative", "write-past-end", "erase-past-end", "x16-odd-start",
        "x16-odd-length", "x16-odd-erase", "x16-odd-read"])
def test_bad_range_raises_and_leaves_the_part(simulator, call):
    contents = _random(256, 5)
    sim = simulator("24C02", contents)
    with qmx71a.Programmer(Family.I2C) as prog:
        with pytest.raises(RangeError, match=r"24C02|93C46"):
            call(prog)
    assert sim.stop() == contents


@pytest.mark.parametrize("name,org", [("24C03", None), ("", None), ("9016", "x8"), ("24C02", "x16")])
def test_unknown_part_or_organisation(name, org):
    with pytest.raises(qmx71a.UnknownPartError, match=name or "''"):
        find_part(name, org)


def test_one_connection_per_process(simulator):
    simulator("24C02", _random(256, 6))
    with qmx71a.Programmer(Family.I2C) as prog:
        with pytest.raises(qmx71a.QmxError, match="already open"):
            qmx71a.Programmer(Family.MICROWIRE)
        # The refused second open must not have switched the first one's mode.
        assert prog.read("24C02", 0, 4) == _random(256, 6)[:4]
    with qmx71a.Programmer(Family.I2C) as prog:
        assert prog.firmware_version == "1.00"


@pytest.mark.parametrize("model,family,message", [
    ("QMX-71A", Family.SPI, "does not take SPI"),
    (None, Family.I2C, "no programmer answers"),
])
def test_refused_open(simulator, monkeypatch, tmp_path, model, family, message):
    sim = simulator("25C640", model=model or "QMX-71C")
    if model is None:
        monkeypatch.setenv("QMX71_PORT", str(tmp_path / "nothing-here"))
    with pytest.raises(qmx71a.NotConnectedError, match=message):
        qmx71a.Programmer(family)
    # Nothing of the refused open stays behind to block the next one.
    monkeypatch.setenv("QMX71_PORT", sim.port)
    with qmx71a.Programmer(Family.I2C) as prog:
        assert prog.firmware_version == "1.00"
