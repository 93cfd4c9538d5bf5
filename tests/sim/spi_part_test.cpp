// SPI parts: instructions, write-enable latch, page writes, sequential reads.
#include <gtest/gtest.h>

#include "part_bench.h"
#include "sim/part_table.h"

namespace qmx::sim {
namespace {

using test::Bytes;
using test::PartBench;
using test::RandomBytes;

class SpiHost {
 public:
  SpiHost(PartBench& bench, const PartRow& row) : bench_(bench), spec_(row) {}

  Bytes Header(std::uint8_t instruction, std::size_t a) const {
    if (spec_.a8InInstruction && ((a >> 8) & 1)) instruction |= 0x08;
    Bytes out = {instruction};
    if (spec_.addressBytes == 2) out.push_back(static_cast<std::uint8_t>(a >> 8));
    out.push_back(static_cast<std::uint8_t>(a));
    return out;
  }
  void Single(std::uint8_t instruction) { Framed({instruction}); }
  void Framed(const Bytes& frame) {
    bench_.Ctrl(kCtrlChipSelectLow);
    bench_.Done(frame);
    bench_.Ctrl(kCtrlChipSelectHigh);
  }
  void WriteNoEnable(std::size_t a, const Bytes& page) {
    Bytes frame = Header(0x02, a);
    frame.insert(frame.end(), page.begin(), page.end());
    Framed(frame);
  }
  void Write(std::size_t a, const Bytes& page) {
    Single(0x06);
    WriteNoEnable(a, page);
  }
  Bytes Read(std::size_t a, std::uint8_t count) {
    bench_.Ctrl(kCtrlChipSelectLow);
    for (std::uint8_t b : Header(0x03, a)) bench_.Data({b});
    Bytes out = bench_.Read(count);
    bench_.Ctrl(kCtrlChipSelectHigh);
    return out;
  }
  std::uint8_t Status() {
    bench_.Ctrl(kCtrlChipSelectLow);
    bench_.Data({0x05});
    const Bytes s = bench_.Read(1);
    bench_.Ctrl(kCtrlChipSelectHigh);
    return s.empty() ? 0xEE : s[0];
  }

 private:
  PartBench& bench_;
  const PartRow& spec_;
};

struct SpiFixture {
  explicit SpiFixture(const char* name) : row(*FindPartRow(name)), bench(name), host(bench, row) {
    bench.SetUp(kFamilySpi);
  }
  const PartRow& row;
  PartBench bench;
  SpiHost host;
};

TEST(SpiPart, WritesPagesAndReadsBackEveryPart) {
  for (const PartRow& row : PartRows()) {
    if (row.bus != PartBus::Spi) continue;
    SpiFixture f(row.name);
    const Bytes data = RandomBytes(row.size, 71);
    const auto page = static_cast<std::size_t>(row.pageSize);
    for (std::size_t a = 0; a < row.size; a += page) f.host.Write(a, Bytes(data.begin() + a, data.begin() + a + page));
    EXPECT_EQ(f.bench.Contents(), data) << row.name;
    Bytes back;
    for (std::size_t a = 0; a < row.size; a += 16) {
      const Bytes block = f.host.Read(a, 16);
      back.insert(back.end(), block.begin(), block.end());
    }
    EXPECT_EQ(back, data) << row.name;
  }
}

TEST(SpiPart, AddressBitEightRidesInTheInstructionOf25C040) {
  SpiFixture f("25C040");
  EXPECT_EQ(f.host.Header(0x03, 0x1FF), (Bytes{0x0B, 0xFF}));
  f.host.Write(0x100, {0xA1, 0xA2});
  f.host.Write(0x000, {0xB1, 0xB2});
  EXPECT_EQ(f.bench.Contents()[0x100], 0xA1);
  EXPECT_EQ(f.bench.Contents()[0x101], 0xA2);
  EXPECT_EQ(f.bench.Contents()[0x000], 0xB1);
  EXPECT_EQ(f.host.Read(0x100, 2), (Bytes{0xA1, 0xA2}));
  EXPECT_EQ(f.host.Read(0x000, 2), (Bytes{0xB1, 0xB2}));
  // The read runs on from the upper half's end into the lower half.
  EXPECT_EQ(f.host.Read(0x1FF, 2), (Bytes{0xFF, 0xB1}));
}

TEST(SpiPart, OtherPartsDoNotKnowTheUpperHalfInstructions) {
  SpiFixture f("25C020");
  const Bytes before = RandomBytes(256, 73);
  f.bench.Fill(before);
  f.host.Single(0x06);
  f.host.Framed({0x0A, 0x10, 0x55});
  f.bench.Ctrl(kCtrlChipSelectLow);
  f.bench.Data({0x0B, 0x10});
  EXPECT_EQ(f.bench.Read(1), (Bytes{0xFF}));
  f.bench.Ctrl(kCtrlChipSelectHigh);
  EXPECT_EQ(f.bench.Contents(), before);
}

TEST(SpiPart, WriteEnableLatchGuardsAndIsClearedByAWrite) {
  SpiFixture f("25C160");
  const Bytes before = RandomBytes(2048, 79);
  f.bench.Fill(before);
  EXPECT_EQ(f.host.Status() & 0x02, 0);
  f.host.WriteNoEnable(0x40, {0x01, 0x02});
  EXPECT_EQ(f.bench.Contents(), before);
  f.host.Single(0x06);
  f.host.Single(0x04);  // WRDI
  f.host.WriteNoEnable(0x40, {0x01, 0x02});
  EXPECT_EQ(f.bench.Contents(), before);
  f.host.Single(0x06);
  EXPECT_EQ(f.host.Status(), 0x02);
  f.host.WriteNoEnable(0x40, {0x01, 0x02});
  EXPECT_EQ(f.host.Status(), 0x00);
  f.host.WriteNoEnable(0x50, {0x03});  // the first write used up the enable
  Bytes expected = before;
  expected[0x40] = 0x01;
  expected[0x41] = 0x02;
  EXPECT_EQ(f.bench.Contents(), expected);
}

TEST(SpiPart, PageWriteRollsOverInsideThePage) {
  SpiFixture f("25C080");
  const Bytes before = RandomBytes(1024, 83);
  f.bench.Fill(before);
  const Bytes twenty = RandomBytes(20, 89);
  f.host.Write(0x128, twenty);  // offset 8 of the page 0x120..0x12F
  Bytes expected = before;
  for (std::size_t i = 0; i < twenty.size(); ++i) expected[0x120 + (8 + i) % 16] = twenty[i];
  EXPECT_EQ(f.bench.Contents(), expected);
  EXPECT_EQ(f.bench.Contents()[0x130], before[0x130]);  // the next page is untouched
}

TEST(SpiPart, TruncatedTrafficAndMissingSupplyChangeNothing) {
  SpiFixture f("25C640");
  const Bytes before = RandomBytes(8192, 97);
  f.bench.Fill(before);
  f.host.Single(0x06);
  f.host.Framed({0x02, 0x12});  // chip select rises inside the address
  f.host.Single(0x06);
  f.bench.Done({0x02, 0x00, 0x00, 0x77});  // never selected
  f.bench.Ctrl(kCtrlChipSelectHigh);
  EXPECT_EQ(f.bench.Contents(), before);
  f.bench.Ctrl(kCtrlSupplyOff);
  f.host.Write(0x0000, {0x77});
  EXPECT_EQ(f.host.Read(0x0000, 2), (Bytes{0xFF, 0xFF}));
  f.bench.Ctrl(kCtrlSupplyOn);
  EXPECT_EQ(f.host.Status(), 0x00);  // the latch comes up cleared
  EXPECT_EQ(f.bench.Contents(), before);
}

}  // namespace
}  // namespace qmx::sim
