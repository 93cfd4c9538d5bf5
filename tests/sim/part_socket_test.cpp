// The simulator's catalogue, the socket on the programmer, and write-cycle timing.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>

#include "part_bench.h"
#include "sim/eeprom_part.h"
#include "sim/part_table.h"

namespace qmx::sim {
namespace {

using test::Bytes;
using test::PartBench;
using test::RandomBytes;
using Clock = std::chrono::steady_clock;

TEST(PartTable, RowsAreConsistentAndEveryRowMakesItsPart) {
  std::set<std::string> names;
  for (const PartRow& row : PartRows()) {
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
    ASSERT_GT(row.size, 0U) << row.name;
    switch (row.bus) {
      case PartBus::Microwire:
      case PartBus::Series90:
        // The word address must reach every word, and not much more than that.
        EXPECT_LE(row.size / 2, std::size_t{1} << row.addressBits) << row.name;
        EXPECT_GT(row.size / 2 * 8, std::size_t{1} << row.addressBits) << row.name;
        break;
      case PartBus::I2c:
      case PartBus::Spi: {
        const int a8 = row.a8InInstruction ? 1 : 0;
        EXPECT_GE(std::size_t{1} << (8 * row.addressBytes + row.blockBits + a8), row.size) << row.name;
        EXPECT_EQ(row.size % static_cast<std::size_t>(row.pageSize), 0U) << row.name;
        break;
      }
    }
    const auto part = MakePart(row.name);
    ASSERT_NE(part, nullptr) << row.name;
    EXPECT_EQ(part->Name(), row.name);
    EXPECT_EQ(part->Contents(), Bytes(row.size, 0xFF)) << row.name;
  }
  EXPECT_EQ(names.size(), 27U);
  EXPECT_EQ(MakePart("24C128"), nullptr);
  EXPECT_EQ(MakePart(""), nullptr);
}

TEST(Socket, InsertRemoveAndContents) {
  Programmer p;
  EXPECT_FALSE(p.InsertPart("93C47"));
  EXPECT_EQ(p.PartName(), "");
  EXPECT_FALSE(p.SetPartContents(Bytes(128, 0xCC)));
  ASSERT_TRUE(p.InsertPart("24C01"));
  EXPECT_EQ(p.PartName(), "24C01");
  EXPECT_FALSE(p.SetPartContents(Bytes(127, 0xCC)));
  EXPECT_FALSE(p.SetPartContents(Bytes(256, 0xCC)));
  const Bytes data = RandomBytes(128, 101);
  EXPECT_TRUE(p.SetPartContents(data));
  EXPECT_EQ(p.PartContents(), data);
  p.RemovePart();
  EXPECT_EQ(p.PartName(), "");
  EXPECT_TRUE(p.PartContents().empty());
}

TEST(Socket, CheckDeviceAnswersFromThePart) {
  PartBench bench("93C76");
  bench.SetUp(kFamilyMicrowire, kVariantStandard, 0x02);
  EXPECT_EQ(bench.CheckDevice(), (std::array<std::uint8_t, 2>{1, 10}));
  bench.Send(WR_GPIO, {0x00});
  EXPECT_EQ(bench.CheckDevice(), (std::array<std::uint8_t, 2>{1, 11}));
  bench.programmer.RemovePart();
  EXPECT_EQ(bench.CheckDevice()[0], 0);
  // A part inserted later takes on the GPIO levels already set.
  bench.Send(WR_GPIO, {0x02});
  ASSERT_TRUE(bench.programmer.InsertPart("93C57"));
  EXPECT_EQ(bench.CheckDevice(), (std::array<std::uint8_t, 2>{1, 7}));
  ASSERT_TRUE(bench.programmer.InsertPart("25C320"));
  EXPECT_EQ(bench.CheckDevice(), (std::array<std::uint8_t, 2>{1, 1}));
  // Without a part the old presence setting still answers.
  bench.programmer.RemovePart();
  bench.programmer.SetPartPresent(true, 9);
  EXPECT_EQ(bench.CheckDevice(), (std::array<std::uint8_t, 2>{1, 9}));
}

TEST(Socket, PartInsertedUnderSupplyWorksAtOnce) {
  PartBench bench("24C02");
  bench.SetUp(kFamilyI2c);
  ASSERT_TRUE(bench.programmer.InsertPart("24C04"));  // swapped with the supply on
  bench.Ctrl(kCtrlI2cStart);
  bench.Data({0xA2, 0x07});
  bench.Done({0x42});
  bench.Ctrl(kCtrlI2cStop);
  EXPECT_EQ(bench.programmer.PartName(), "24C04");
  EXPECT_EQ(bench.Contents()[0x107], 0x42);
}

TEST(Socket, ExternalSupplyPowersThePartWithoutDevCtrl) {
  Options o;
  o.externalSupply = true;
  PartBench bench("25C010", o);
  bench.Send(SET_MODE, {kFamilySpi, 0, 50});
  bench.Ctrl(kCtrlSupplyOff);
  bench.Ctrl(kCtrlChipSelectLow);
  bench.Done({0x06});
  bench.Ctrl(kCtrlChipSelectHigh);
  bench.Ctrl(kCtrlChipSelectLow);
  bench.Done({0x02, 0x05, 0x42});
  bench.Ctrl(kCtrlChipSelectHigh);
  EXPECT_EQ(bench.Contents()[5], 0x42);
}

void SpiWrite(PartBench& bench, std::uint8_t address, std::uint8_t value) {
  bench.Ctrl(kCtrlChipSelectLow);
  bench.Data({0x06});
  bench.Ctrl(kCtrlChipSelectHigh);
  bench.Ctrl(kCtrlChipSelectLow);
  bench.Done({0x02, address, value});
  bench.Ctrl(kCtrlChipSelectHigh);
}

TEST(WriteCycle, FirmwareWaitsForEachWrite) {
  Options o;
  o.writeCycle = std::chrono::milliseconds(5);
  PartBench bench("25C020", o);
  bench.SetUp(kFamilySpi, 0, 10);
  const auto start = Clock::now();
  SpiWrite(bench, 0x10, 0x11);
  SpiWrite(bench, 0x20, 0x22);
  // The waits run on the firmware's clock: a later query is answered after both.
  std::vector<Answer> answers;
  bench.programmer.Receive(EncodeFrame(Bytes{GET_VERSION}), answers);
  ASSERT_EQ(answers.size(), 1U);
  EXPECT_GE(answers[0].due - start, std::chrono::milliseconds(10));
  EXPECT_EQ(bench.programmer.Account().writeCycles, std::chrono::milliseconds(10));
  EXPECT_EQ(bench.Contents()[0x10], 0x11);
  EXPECT_EQ(bench.Contents()[0x20], 0x22);
  EXPECT_EQ(bench.LastError(), ERROR_NONE);
}

TEST(WriteCycle, LongerThanTheMaximumWriteTimeTimesOut) {
  Options o;
  o.writeCycle = std::chrono::milliseconds(300);
  PartBench bench("24C02", o);
  bench.SetUp(kFamilyI2c, kVariantStandard, 0, 2);
  const auto start = Clock::now();
  bench.Ctrl(kCtrlI2cStart);
  bench.Data({0xA0, 0x00});
  bench.Done({0x5A});
  bench.Ctrl(kCtrlI2cStop);
  EXPECT_EQ(bench.LastError(), WAIT_TIMEOUT_ERROR);
  EXPECT_EQ(bench.programmer.Account().writeCycles, std::chrono::milliseconds(2));
  // The firmware gave up after 2 ms; the part, still busy, does not acknowledge.
  bench.Ctrl(kCtrlI2cStart);
  bench.Data({0xA0});
  bench.Ctrl(kCtrlI2cStop);
  EXPECT_EQ(bench.LastError(), NO_ACK_ERROR);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_EQ(bench.Contents()[0], 0x5A);
}

}  // namespace
}  // namespace qmx::sim
