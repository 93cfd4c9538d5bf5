// I2C parts: device byte with block bits, page writes, sequential reads.
#include <gtest/gtest.h>

#include <algorithm>

#include "part_bench.h"
#include "sim/part_table.h"

namespace qmx::sim {
namespace {

using test::Bytes;
using test::PartBench;
using test::RandomBytes;

// The host side of one part: device byte, address bytes, page and block sequences.
class I2cHost {
 public:
  I2cHost(PartBench& bench, const PartRow& row) : bench_(bench), spec_(row) {}

  std::uint8_t DeviceByte(std::size_t a) const {
    std::uint8_t b = 0xA0;
    for (int i = 0; i < spec_.blockBits; ++i) {
      if ((a >> (8 + i)) & 1) b = static_cast<std::uint8_t>(b | (0x02 << i));
    }
    return b;
  }
  void Address(std::uint8_t device, std::size_t a) {
    bench_.Ctrl(kCtrlI2cStart);
    bench_.Data({device});
    if (spec_.addressBytes == 2) bench_.Data({static_cast<std::uint8_t>(a >> 8)});
    bench_.Data({static_cast<std::uint8_t>(a)});
  }
  void Write(std::size_t a, const Bytes& page) {
    Address(DeviceByte(a), a);
    bench_.Done(page);
    bench_.Ctrl(kCtrlI2cStop);
  }
  Bytes Read(std::size_t a, int count) {
    Address(DeviceByte(a), a);
    bench_.Ctrl(kCtrlI2cRestart);
    bench_.Data({static_cast<std::uint8_t>(DeviceByte(a) | 1)});
    Bytes out = bench_.Read(static_cast<std::uint8_t>(256 - count));
    bench_.Ctrl(kCtrlI2cStop);
    return out;
  }

 private:
  PartBench& bench_;
  const PartRow& spec_;
};

struct I2cFixture {
  explicit I2cFixture(const char* name) : row(*FindPartRow(name)), bench(name), host(bench, row) {
    bench.SetUp(kFamilyI2c);
  }
  const PartRow& row;
  PartBench bench;
  I2cHost host;
};

TEST(I2cPart, WritesPagesAndReadsBackEveryPart) {
  for (const PartRow& row : PartRows()) {
    if (row.bus != PartBus::I2c) continue;
    I2cFixture f(row.name);
    const Bytes data = RandomBytes(row.size, 31);
    const auto page = static_cast<std::size_t>(row.pageSize);
    for (std::size_t a = 0; a < row.size; a += page) f.host.Write(a, Bytes(data.begin() + a, data.begin() + a + page));
    EXPECT_EQ(f.bench.Contents(), data) << row.name;
    Bytes back;
    for (std::size_t a = 0; a < row.size; a += 16) {
      const Bytes block = f.host.Read(a, 16);
      back.insert(back.end(), block.begin(), block.end());
    }
    EXPECT_EQ(back, data) << row.name;
    EXPECT_EQ(f.bench.LastError(), ERROR_NONE) << row.name;
  }
}

TEST(I2cPart, BlockBitsSelectTheUpperAddress) {
  I2cFixture f("24C16");
  EXPECT_EQ(f.host.DeviceByte(0x7FF), 0xAE);
  f.host.Write(0x7FF, {0x3C});
  f.host.Write(0x0FF, {0x4D});
  Bytes expected = test::Filled(2048, 0xFF);
  expected[0x7FF] = 0x3C;
  expected[0x0FF] = 0x4D;
  EXPECT_EQ(f.bench.Contents(), expected);
  EXPECT_EQ(f.host.Read(0x7FF, 1), (Bytes{0x3C}));
  // A sequential read runs on across blocks and wraps at the end of memory.
  EXPECT_EQ(f.host.Read(0x0FF, 2), (Bytes{0x4D, 0xFF}));
  EXPECT_EQ(f.host.Read(0x7FF, 2), (Bytes{0x3C, 0xFF}));
}

TEST(I2cPart, DeviceByteThatDoesNotAddressThePartIsNotAcknowledged) {
  I2cFixture f("24C04");
  const Bytes before = RandomBytes(512, 37);
  f.bench.Fill(before);
  for (std::uint8_t wrong : {0xB0, 0xA4, 0xA8, 0x50}) {  // type, or chip-enable pins that are wired low
    f.host.Address(wrong, 0x10);
    f.bench.Done({0x01, 0x02});
    f.bench.Ctrl(kCtrlI2cStop);
    EXPECT_EQ(f.bench.LastError(), NO_ACK_ERROR) << int(wrong);
    EXPECT_EQ(f.bench.LastError(), ERROR_NONE) << int(wrong);  // reading the error clears it
  }
  EXPECT_EQ(f.bench.Contents(), before);
  f.host.Write(0x110, {0x99});  // 0xA2: block bit of the 24C04
  EXPECT_EQ(f.bench.LastError(), ERROR_NONE);
  EXPECT_EQ(f.bench.Contents()[0x110], 0x99);
}

TEST(I2cPart, PageWriteRollsOverInsideThePage) {
  I2cFixture f("24C02");
  const Bytes before = RandomBytes(256, 41);
  f.bench.Fill(before);
  const Bytes ten = RandomBytes(10, 43);
  f.host.Write(0x0C, ten);  // offset 4 of the page 0x08..0x0F
  Bytes expected = before;
  for (std::size_t i = 0; i < ten.size(); ++i) expected[0x08 + (4 + i) % 8] = ten[i];
  EXPECT_EQ(f.bench.Contents(), expected);
  EXPECT_EQ(expected[0x0C], ten[8]);  // the first two bytes were overwritten by the last two
}

TEST(I2cPart, HostPageLargerThanTheRealPageShowsWrapDamage) {
  I2cFixture f("24C32");
  const Bytes data = RandomBytes(4096, 47);
  for (std::size_t a = 0; a < 4096; a += 48) {
    f.host.Write(a, Bytes(data.begin() + a, data.begin() + std::min<std::size_t>(a + 48, 4096)));
  }
  const Bytes got = f.bench.Contents();
  EXPECT_NE(got, data);
  // The first host page: 48 bytes into a 32-byte page, the last 16 land on the first 16.
  EXPECT_TRUE(std::equal(data.begin() + 32, data.begin() + 48, got.begin()));
  EXPECT_TRUE(std::equal(data.begin() + 16, data.begin() + 32, got.begin() + 16));
  // The second host page starts mid-page at 48 and its tail wraps back to 32.
  EXPECT_TRUE(std::equal(data.begin() + 64, data.begin() + 80, got.begin() + 32));
  EXPECT_TRUE(std::equal(data.begin() + 80, data.begin() + 96, got.begin() + 48));
}

TEST(I2cPart, NewStartAbortsAPendingPageWrite) {
  I2cFixture f("24C08");
  const Bytes before = RandomBytes(1024, 53);
  f.bench.Fill(before);
  f.host.Address(f.host.DeviceByte(0x300), 0x300);
  f.bench.Done({0x01, 0x02, 0x03});
  f.host.Address(f.host.DeviceByte(0x300), 0x300);  // START again, no STOP before it
  f.bench.Ctrl(kCtrlI2cStop);
  EXPECT_EQ(f.bench.Contents(), before);
  EXPECT_EQ(f.host.DeviceByte(0x300), 0xA6);
  EXPECT_EQ(f.host.Read(0x300, 3), Bytes(before.begin() + 0x300, before.begin() + 0x303));
}

TEST(I2cPart, PlainCountsReadOnAndTheLastReadEndsTheTransfer) {
  I2cFixture f("24C01");
  const Bytes data = RandomBytes(128, 59);
  f.bench.Fill(data);
  f.host.Address(0xA0, 0x7C);
  f.bench.Ctrl(kCtrlI2cRestart);
  f.bench.Data({0xA1});
  const Bytes first = f.bench.Read(3);    // not the last: the master acknowledges
  const Bytes second = f.bench.Read(0xFD);  // the last three
  EXPECT_EQ(first, Bytes(data.begin() + 0x7C, data.begin() + 0x7F));
  EXPECT_EQ(second, (Bytes{data[0x7F], data[0], data[1]}));
  EXPECT_EQ(f.bench.Read(2), (Bytes{0xFF, 0xFF}));  // the part has let go of the bus
  f.bench.Ctrl(kCtrlI2cStop);
  // A current-address read goes on from the counter.
  f.bench.Ctrl(kCtrlI2cStart);
  f.bench.Data({0xA1});
  EXPECT_EQ(f.bench.Read(0xFF), (Bytes{data[2]}));
  f.bench.Ctrl(kCtrlI2cStop);
}

TEST(I2cPart, WithoutSupplyNothingAnswers) {
  I2cFixture f("24C64");
  const Bytes before = RandomBytes(8192, 61);
  f.bench.Fill(before);
  f.bench.Ctrl(kCtrlSupplyOff);
  f.host.Write(0x1234, {0x01});
  EXPECT_EQ(f.bench.LastError(), NO_ACK_ERROR);
  EXPECT_EQ(f.host.Read(0x1234, 4), Bytes(4, 0xFF));
  EXPECT_EQ(f.bench.Contents(), before);
}

TEST(I2cPart, NonsenseSequencesChangeNothing) {
  I2cFixture f("24C16");
  const Bytes before = RandomBytes(2048, 67);
  f.bench.Fill(before);
  f.bench.Done({0xA0, 0x00, 0x11});  // no START
  f.bench.Ctrl(kCtrlI2cStart);
  f.bench.Data({0xA0});
  f.bench.Ctrl(kCtrlI2cStop);  // address never sent
  f.bench.Ctrl(kCtrlI2cStart);
  f.bench.Data({0xA1});
  f.bench.Done({0x11, 0x22});  // writing into a read
  f.bench.Ctrl(kCtrlI2cStop);
  f.bench.Ctrl(kCtrlI2cStop);
  EXPECT_EQ(f.bench.Read(0x04), Bytes(4, 0xFF));
  EXPECT_EQ(f.bench.Contents(), before);
}

}  // namespace
}  // namespace qmx::sim
