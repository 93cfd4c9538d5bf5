// Standard and Series90 Microwire parts, driven with host-style frames.
#include <gtest/gtest.h>

#include "part_bench.h"
#include "sim/part_table.h"

namespace qmx::sim {
namespace {

using test::Bytes;
using test::PartBench;
using test::RandomBytes;

constexpr std::uint8_t kOrgWord = 0x02;

// Standard command words as the host builds them (start bit, opcode, address).
std::uint16_t ReadWord(int n, unsigned a) { return static_cast<std::uint16_t>((0b110U << n) + a); }
std::uint16_t WriteWord(int n, unsigned a) { return static_cast<std::uint16_t>((0b101U << n) + a); }
std::uint16_t Ewen(int n) { return static_cast<std::uint16_t>((0b100U << n) | (0b11U << (n - 2))); }
std::uint16_t Ewds(int n) { return static_cast<std::uint16_t>(0b100U << n); }
std::uint16_t Eral(int n) { return static_cast<std::uint16_t>((0b100U << n) | (0b10U << (n - 2))); }
std::uint16_t Wral(int n) { return static_cast<std::uint16_t>((0b100U << n) | (0b01U << (n - 2))); }
Bytes Split(std::uint16_t w) { return {static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w)}; }

class Microwire {
 public:
  Microwire(PartBench& bench, int n) : bench_(bench), n_(n) {}
  void Command(std::uint16_t word) {
    bench_.Ctrl(kCtrlChipSelectHigh);
    bench_.Data(Split(word));
    bench_.Ctrl(kCtrlChipSelectLow);
  }
  void Write(unsigned unit, const Bytes& data) {
    Bytes frame = Split(WriteWord(n_, unit));
    frame.insert(frame.end(), data.begin(), data.end());
    bench_.Ctrl(kCtrlChipSelectHigh);
    bench_.Done(frame);
    bench_.Ctrl(kCtrlChipSelectLow);
  }
  Bytes Read(unsigned unit, std::uint8_t count) {
    bench_.Ctrl(kCtrlChipSelectHigh);
    bench_.Data(Split(ReadWord(n_, unit)));
    Bytes out = bench_.Read(count);
    bench_.Ctrl(kCtrlChipSelectLow);
    return out;
  }
  Bytes ReadAll(std::size_t size, std::size_t unitBytes) {
    Bytes out;
    for (std::size_t off = 0; off < size; off += 16) {
      const Bytes block = Read(static_cast<unsigned>(off / unitBytes), 16);
      out.insert(out.end(), block.begin(), block.end());
    }
    out.resize(size);
    return out;
  }

 private:
  PartBench& bench_;
  int n_;
};

std::vector<const PartRow*> SpecsOf(PartBus bus) {
  std::vector<const PartRow*> out;
  for (const PartRow& s : PartRows()) {
    if (s.bus == bus) out.push_back(&s);
  }
  return out;
}

TEST(MicrowirePart, WordOrganisationWritesAndReadsBackEveryPart) {
  for (const PartRow* row : SpecsOf(PartBus::Microwire)) {
    PartBench bench(row->name);
    bench.SetUp(kFamilyMicrowire, kVariantStandard, kOrgWord);
    Microwire mw(bench, row->addressBits);
    const Bytes data = RandomBytes(row->size, 7);
    mw.Command(Ewen(row->addressBits));
    for (unsigned w = 0; w < row->size / 2; ++w) mw.Write(w, {data[2 * w], data[2 * w + 1]});
    EXPECT_EQ(bench.Contents(), data) << row->name;
    EXPECT_EQ(mw.ReadAll(row->size, 2), data) << row->name;
  }
}

TEST(MicrowirePart, ByteOrganisationNeedsOneAddressBitMore) {
  for (const PartRow* row : SpecsOf(PartBus::Microwire)) {
    PartBench bench(row->name);
    bench.SetUp(kFamilyMicrowire, kVariantStandard, 0x01);  // GP0 high, GP1 (ORG) low
    EXPECT_EQ(bench.CheckDevice()[1], row->addressBits + 1) << row->name;
    const int n = row->addressBits + 1;
    Microwire mw(bench, n);
    const Bytes data = RandomBytes(row->size, 11);
    mw.Command(Ewen(n));
    for (unsigned a = 0; a < row->size; ++a) mw.Write(a, {data[a]});
    EXPECT_EQ(bench.Contents(), data) << row->name;
    EXPECT_EQ(mw.ReadAll(row->size, 1), data) << row->name;
    bench.Send(WR_GPIO, {kOrgWord});
    EXPECT_EQ(bench.CheckDevice()[1], row->addressBits) << row->name;
  }
}

TEST(MicrowirePart, OrganisationDecidesHowAWordCommandLands) {
  PartBench bench("93C46");
  bench.SetUp(kFamilyMicrowire, kVariantStandard, kOrgWord);
  Microwire word(bench, 6);
  word.Command(Ewen(6));
  word.Write(3, {0x5A, 0xC3});  // word 3 = bytes 6 and 7, high byte first
  EXPECT_EQ(bench.Contents()[6], 0x5A);
  EXPECT_EQ(bench.Contents()[7], 0xC3);
  bench.Send(WR_GPIO, {0x00});
  Microwire byte(bench, 7);
  EXPECT_EQ(byte.Read(7, 1), (Bytes{0xC3}));
  byte.Write(6, {0x21});
  bench.Send(WR_GPIO, {kOrgWord});
  EXPECT_EQ(word.Read(3, 2), (Bytes{0x21, 0xC3}));
}

TEST(MicrowirePart, ReadRunsOnAndWrapsAtTheEnd) {
  PartBench bench("93C06");
  const Bytes data = RandomBytes(32, 3);
  bench.Fill(data);
  bench.SetUp(kFamilyMicrowire, kVariantStandard, kOrgWord);
  Microwire mw(bench, 6);
  Bytes expected(data.begin() + 28, data.end());
  expected.insert(expected.end(), data.begin(), data.begin() + 6);
  EXPECT_EQ(mw.Read(14, 10), expected);
}

// As on the chip, a WRITE or WRAL takes one unit; data clocked after it is ignored.
TEST(MicrowirePart, AWriteStoresOneUnitAndIgnoresTheRest) {
  PartBench bench("93C56");
  const Bytes before = RandomBytes(256, 5);
  bench.Fill(before);
  bench.SetUp(kFamilyMicrowire, kVariantStandard, kOrgWord);
  Microwire word(bench, 8);
  word.Command(Ewen(8));
  word.Write(0x7F, {0x12, 0x34, 0x56, 0x78});  // a second unit would wrap to word 0
  Bytes expected = before;
  expected[0xFE] = 0x12;
  expected[0xFF] = 0x34;
  EXPECT_EQ(bench.Contents(), expected);
  bench.Send(WR_GPIO, {0x00});
  Microwire byte(bench, 9);
  byte.Write(0x10, {0x9A, 0xBC});
  expected[0x10] = 0x9A;
  EXPECT_EQ(bench.Contents(), expected);
  Bytes wral = Split(Wral(9));
  wral.insert(wral.end(), {0x5A, 0xA5});
  bench.Ctrl(kCtrlChipSelectHigh);
  bench.Done(wral);
  bench.Ctrl(kCtrlChipSelectLow);
  EXPECT_EQ(bench.Contents(), test::Filled(256, 0x5A));
}

TEST(MicrowirePart, WritesNeedTheEnableLatch) {
  PartBench bench("93C66");
  const Bytes before = RandomBytes(512, 9);
  bench.Fill(before);
  bench.SetUp(kFamilyMicrowire, kVariantStandard, kOrgWord);
  Microwire mw(bench, 8);
  mw.Write(1, {0x11, 0x22});
  mw.Command(Eral(8));
  EXPECT_EQ(bench.Contents(), before);
  mw.Command(Ewen(8));
  mw.Command(Ewds(8));
  mw.Write(1, {0x11, 0x22});
  EXPECT_EQ(bench.Contents(), before);
  // Power cycling forgets an enable.
  mw.Command(Ewen(8));
  bench.Ctrl(kCtrlSupplyOff);
  bench.Ctrl(kCtrlSupplyOn);
  mw.Write(1, {0x11, 0x22});
  EXPECT_EQ(bench.Contents(), before);
  mw.Command(Ewen(8));
  mw.Write(1, {0x11, 0x22});
  EXPECT_EQ(bench.Contents()[2], 0x11);
  mw.Command(Eral(8));
  EXPECT_EQ(bench.Contents(), test::Filled(512, 0xFF));
}

TEST(MicrowirePart, TruncatedOrForeignTrafficChangesNothing) {
  PartBench bench("93C86");
  const Bytes before = RandomBytes(2048, 13);
  bench.Fill(before);
  bench.SetUp(kFamilyMicrowire, kVariantStandard, kOrgWord);
  Microwire mw(bench, 10);
  mw.Command(Ewen(10));
  bench.Ctrl(kCtrlChipSelectHigh);
  bench.Done({0x17, 0x40, 0x12});  // WRITE with the data unit cut short
  bench.Ctrl(kCtrlChipSelectLow);
  bench.Done(Split(WriteWord(10, 4)));  // data without chip select
  bench.Done({0x00, 0xAB, 0xCD});
  bench.Ctrl(kCtrlChipSelectLow);
  bench.Ctrl(kCtrlChipSelectHigh);
  EXPECT_EQ(bench.Read(4), Bytes(4, 0xFF));  // no command: the output floats
  bench.Ctrl(kCtrlChipSelectLow);
  // The same frames with the programmer in I2C mode never reach a Microwire bus.
  bench.Send(SET_MODE, {kFamilyI2c, 0, 50});
  mw.Write(4, {0xAB, 0xCD});
  EXPECT_EQ(bench.Contents(), before);
  EXPECT_EQ(bench.LastError(), ERROR_NONE);
}

TEST(MicrowirePart, WithoutSupplyReadsFloatAndWritesAreLost) {
  PartBench bench("93C46");
  const Bytes before = RandomBytes(128, 17);
  bench.Fill(before);
  bench.SetUp(kFamilyMicrowire, kVariantStandard, kOrgWord);
  bench.Ctrl(kCtrlSupplyOff);
  Microwire mw(bench, 6);
  mw.Command(Ewen(6));
  mw.Write(0, {0x01, 0x02});
  EXPECT_EQ(mw.Read(0, 4), Bytes(4, 0xFF));
  bench.Ctrl(kCtrlSupplyOn);
  EXPECT_EQ(bench.Contents(), before);
  EXPECT_EQ(mw.Read(0, 4), Bytes(before.begin(), before.begin() + 4));
}

// Series90 command: header unchanged, address byte and data bit-reversed.
class Series90Host {
 public:
  Series90Host(PartBench& bench, int n) : bench_(bench), n_(n) {}
  Bytes Command(std::uint8_t base, unsigned w) const {
    std::uint8_t header = base;
    unsigned address = w;
    if (n_ == 9) {
      header |= w & 1;
      address = w >> 1;
    } else if (n_ == 10) {
      header |= ((w & 1) != 0 ? 0x02 : 0) | ((w & 2) != 0 ? 0x01 : 0);
      address = w >> 2;
    }
    return {header, test::Reverse(static_cast<std::uint8_t>(address))};
  }
  void Enable() { Framed({0xA3, 0x00}, false); }
  void Write(unsigned w, std::uint8_t hi, std::uint8_t lo) {
    Bytes frame = Command(0xA4, w);
    frame.push_back(test::Reverse(hi));
    frame.push_back(test::Reverse(lo));
    Framed(frame, true);
  }
  Bytes Read(unsigned w, std::uint8_t count) {
    bench_.Ctrl(kCtrlChipSelectLow);
    bench_.Data(Command(0xA8, w));
    Bytes out = bench_.Read(count);
    bench_.Ctrl(kCtrlChipSelectHigh);
    for (auto& b : out) b = test::Reverse(b);
    return out;
  }

 private:
  void Framed(const Bytes& bytes, bool done) {
    bench_.Ctrl(kCtrlChipSelectLow);
    done ? bench_.Done(bytes) : bench_.Data(bytes);
    bench_.Ctrl(kCtrlChipSelectHigh);
  }
  PartBench& bench_;
  int n_;
};

TEST(Series90Part, WritesAndReadsBackEveryPart) {
  for (const PartRow* row : SpecsOf(PartBus::Series90)) {
    PartBench bench(row->name);
    bench.SetUp(kFamilyMicrowire, kVariantSeries90);
    EXPECT_EQ(bench.CheckDevice(), (std::array<std::uint8_t, 2>{1, 1})) << row->name;
    Series90Host host(bench, row->addressBits);
    const Bytes data = RandomBytes(row->size, 21);
    host.Enable();
    for (unsigned w = 0; w < row->size / 2; ++w) host.Write(w, data[2 * w], data[2 * w + 1]);
    EXPECT_EQ(bench.Contents(), data) << row->name;
    Bytes back;
    for (unsigned w = 0; w < row->size / 2; w += 8) {
      const Bytes block = host.Read(w, 16);
      back.insert(back.end(), block.begin(), block.end());
    }
    EXPECT_EQ(back, data) << row->name;
  }
}

TEST(Series90Part, BitOrderOfAddressAndData) {
  PartBench bench("9080");
  bench.SetUp(kFamilyMicrowire, kVariantSeries90);
  Series90Host host(bench, 9);
  EXPECT_EQ(host.Command(0xA8, 0x101), (Bytes{0xA9, 0x01}));
  host.Enable();
  host.Write(5, 0x12, 0x34);
  EXPECT_EQ(host.Read(5, 2), (Bytes{0x12, 0x34}));
  EXPECT_EQ(bench.Contents()[10], 0x12);
  EXPECT_EQ(bench.Contents()[11], 0x34);
  // On the wire the part answers least significant bit first.
  bench.Ctrl(kCtrlChipSelectLow);
  bench.Data(host.Command(0xA8, 5));
  EXPECT_EQ(bench.Read(2), (Bytes{0x48, 0x2C}));
  bench.Ctrl(kCtrlChipSelectHigh);
}

TEST(Series90Part, WritesNeedTheEnableAndCarryOneWord) {
  PartBench bench("9016");
  const Bytes before = RandomBytes(2048, 23);
  bench.Fill(before);
  bench.SetUp(kFamilyMicrowire, kVariantSeries90);
  Series90Host host(bench, 10);
  host.Write(0x3FF, 0xAA, 0x55);
  EXPECT_EQ(bench.Contents(), before);
  host.Enable();
  bench.Ctrl(kCtrlChipSelectLow);
  bench.Done({0xA4, 0x00, 0x01});  // one data byte short of a word
  bench.Ctrl(kCtrlChipSelectHigh);
  bench.Ctrl(kCtrlChipSelectLow);
  bench.Done({0x54, 0x00, 0x01, 0x02});  // no preamble
  bench.Ctrl(kCtrlChipSelectHigh);
  EXPECT_EQ(bench.Contents(), before);
  Bytes frame = host.Command(0xA4, 0x3FF);
  frame.insert(frame.end(), {test::Reverse(0xAA), test::Reverse(0x55), 0x00, 0x00});
  bench.Ctrl(kCtrlChipSelectLow);
  bench.Done(frame);
  bench.Ctrl(kCtrlChipSelectHigh);
  Bytes expected = before;
  expected[2046] = 0xAA;
  expected[2047] = 0x55;
  EXPECT_EQ(bench.Contents(), expected);  // the bytes past the word went nowhere
}

}  // namespace
}  // namespace qmx::sim
