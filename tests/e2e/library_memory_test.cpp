// The library's memory procedures end to end: ranges, block sizes and device
// numbers against the simulated parts.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/memory_fixture.h"

namespace qmx::test {
namespace {

struct DeviceCase {
  int family;
  int device;
};

std::vector<DeviceCase> AllDevices() {
  std::vector<DeviceCase> cases;
  for (int d = 0; d <= 6; ++d) cases.push_back({kFamilyMicrowire, d});
  for (int d = 100; d <= 106; ++d) cases.push_back({kFamilyMicrowire, d});
  for (int d = 200; d <= 204; ++d) cases.push_back({kFamilyMicrowire, d});
  for (int d = 0; d <= 7; ++d) cases.push_back({kFamilyI2c, d});
  for (int d = 0; d <= 6; ++d) cases.push_back({kFamilySpi, d});
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<DeviceCase>& info) {
  return "F" + std::to_string(info.param.family) + "_D" + std::to_string(info.param.device);
}

class LibraryPass : public MemoryFixture, public ::testing::WithParamInterface<DeviceCase> {
 protected:
  void SetUp() override {
    MemoryFixture::SetUp();
    const auto device = ResolveDeviceNumber(GetParam().family, GetParam().device);
    ASSERT_TRUE(device.has_value());
    dev = *device;
    ASSERT_TRUE(sim.InsertPart(PartName(dev.family, dev.row)));
    LibraryMode(dev.family, dev.series90Protocol ? 1 : 0);
  }
  std::int32_t Read(int operation, std::int32_t start, std::uint8_t* buf, std::int32_t len, std::int32_t block) {
    return LibraryReadSide(link, reverse, GetParam().family, operation, GetParam().device, start, buf, len, block);
  }
  std::int32_t Write(int operation, std::int32_t start, const std::uint8_t* buf, std::int32_t len,
                     std::int32_t block) {
    return LibraryWriteSide(link, reverse, GetParam().family, operation, GetParam().device, start, buf, len, block);
  }
  LibraryDevice dev{};
};

TEST_P(LibraryPass, RangesRoundTripThroughThePart) {
  const std::int32_t size = dev.size;
  const Bytes pattern = RandomBytes(static_cast<std::size_t>(size), 100u + static_cast<unsigned>(GetParam().device));
  // Default blocks for the whole part.
  ASSERT_EQ(Write(kWrite, 0, pattern.data(), size, 0), 1);
  Settle();
  ASSERT_EQ(sim.PartContents(), pattern);
  Bytes back(static_cast<std::size_t>(size), 0xCC);
  ASSERT_EQ(Read(kRead, 0, back.data(), size, 16), 1);
  EXPECT_EQ(back, pattern);

  // A range in the middle with the largest blocks, the last one cut short.
  const std::int32_t start = size / 4;
  const std::int32_t len = size / 2 - 6;
  Bytes middle(static_cast<std::size_t>(len + 8), 0xCC);
  ASSERT_EQ(Read(kRead, start, middle.data(), len, 256), 1);
  EXPECT_TRUE(std::equal(middle.begin(), middle.begin() + len, pattern.begin() + start));
  EXPECT_EQ(middle[static_cast<std::size_t>(len)], 0xCC) << "written past the caller's length";

  std::int32_t sum = 0;
  for (std::int32_t i = start; i < start + len; ++i) sum += pattern[static_cast<std::size_t>(i)];
  EXPECT_EQ(Read(kChecksum, start, nullptr, len, 32), sum);
  EXPECT_EQ(Read(kCompare, 0, const_cast<std::uint8_t*>(pattern.data()), size, 8), 1);
  Bytes changed = pattern;
  changed.back() ^= 0x01;
  EXPECT_EQ(Read(kCompare, 0, changed.data(), size, 8), 0);

  // A Microwire part stores one unit per WRITE, so a large block goes out
  // unit by unit and still lands whole. (I2C and SPI blocks beyond the real
  // page wrap, as on chips.)
  if (dev.family == kFamilyMicrowire) {
    const Bytes second = RandomBytes(static_cast<std::size_t>(size), 9);
    sim.ClearLog();
    ASSERT_EQ(Write(kWrite, 0, second.data(), size, 128), 1);
    Settle();
    EXPECT_EQ(sim.PartContents(), second);
    const std::size_t unit = GetParam().device >= 100 && GetParam().device < 200 ? 1 : 2;
    const auto writes = CommandsOf(WRITE_DONE);
    EXPECT_EQ(writes.size(), static_cast<std::size_t>(size) / unit);
    for (const auto& w : writes) ASSERT_EQ(w.args.size(), 2 + unit);
  }

  ASSERT_EQ(Write(kErase, 0, nullptr, size, 0), 1);
  // A pseudo-terminal buffers kilobytes where a USB endpoint holds one
  // packet, so a sanitized simulator can still be working through the
  // streamed pass when the next answer window opens.
  Settle();
  EXPECT_EQ(Read(kBlankCheck, 0, nullptr, size, 64), 1);
  EXPECT_EQ(sim.PartContents(), Bytes(static_cast<std::size_t>(size), 0xFF));
  Bytes dirty(static_cast<std::size_t>(size), 0xFF);
  dirty[static_cast<std::size_t>(size - 1)] = 0x7F;
  ASSERT_TRUE(sim.SetPartContents(dirty));
  EXPECT_EQ(Read(kBlankCheck, 0, nullptr, size, 64), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, LibraryPass, ::testing::ValuesIn(AllDevices()), CaseName);

class LibraryBus : public MemoryFixture {};

TEST_F(LibraryBus, LastReadBlockIsCut) {
  ASSERT_TRUE(sim.InsertPart("93C46"));
  LibraryMode(kFamilyMicrowire, 0);
  Bytes buf(8, 0xCC);
  ASSERT_EQ(LibraryReadSide(link, reverse, kFamilyMicrowire, kRead, 1, 0, buf.data(), 5, 2), 1);
  const auto reads = CommandsOf(READ_DATA);
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[0].args, Bytes{2});
  EXPECT_EQ(reads[1].args, Bytes{2});
  EXPECT_EQ(reads[2].args, Bytes{1});
  EXPECT_EQ(buf[5], 0xCC);
  EXPECT_EQ(CommandsOf(WR_GPIO)[0].args, Bytes{3});
}

TEST_F(LibraryBus, I2cDeviceFiveIs24C16WithItsBlockBits) {
  ASSERT_TRUE(sim.InsertPart("24C16"));
  LibraryMode(kFamilyI2c, 0);
  Bytes buf(16);
  ASSERT_EQ(LibraryReadSide(link, reverse, kFamilyI2c, kRead, 5, 0x7F0, buf.data(), 16, 16), 1);
  const auto data = CommandsOf(WRITE_DATA);
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(data[0].args, Bytes{0xAE});
  EXPECT_EQ(data[1].args, Bytes{0xF0});
  EXPECT_EQ(data[2].args, Bytes{0xAF});
}

TEST_F(LibraryBus, LargeI2cBlocksAreSplitAtPowersOfTwo) {
  ASSERT_TRUE(sim.InsertPart("24C64"));
  LibraryMode(kFamilyI2c, 0);
  const Bytes pattern = RandomBytes(8192, 21);
  ASSERT_EQ(LibraryWriteSide(link, reverse, kFamilyI2c, kWrite, 7, 0, pattern.data(), 8192, 256), 1);
  Settle();
  for (const auto& w : CommandsOf(WRITE_DONE)) EXPECT_EQ(w.args.size(), 32u);
  EXPECT_EQ(sim.PartContents(), pattern);
}

TEST_F(LibraryBus, Series90EraseIgnoresTheBlockSize) {
  ASSERT_TRUE(sim.InsertPart("9010"));
  LibraryMode(kFamilyMicrowire, 1);
  ASSERT_EQ(LibraryWriteSide(link, reverse, kFamilyMicrowire, kErase, 200, 0, nullptr, 128, 64), 1);
  Settle();
  const auto writes = CommandsOf(WRITE_DONE);
  ASSERT_EQ(writes.size(), 64u);
  for (const auto& w : writes) EXPECT_EQ((Bytes{w.args[2], w.args[3]}), (Bytes{0xFF, 0xFF}));
}

TEST_F(LibraryBus, RefusalsSendNothing) {
  ASSERT_TRUE(sim.InsertPart("24C02"));
  Bytes buf(64, 0xCC);
  const auto r = [&](int family, int op, int device, std::int32_t start, std::uint8_t* b, std::int32_t len) {
    return LibraryReadSide(link, reverse, family, op, device, start, b, len, 16);
  };
  const auto w = [&](int family, int op, int device, std::int32_t start, const std::uint8_t* b, std::int32_t len) {
    return LibraryWriteSide(link, reverse, family, op, device, start, b, len, 16);
  };
  EXPECT_EQ(r(kFamilyI2c, kRead, 2, 0, nullptr, 16), 0);
  EXPECT_EQ(r(kFamilyI2c, kCompare, 2, 0, nullptr, 16), 0);
  EXPECT_EQ(w(kFamilyI2c, kWrite, 2, 0, nullptr, 16), 0);
  EXPECT_EQ(r(kFamilyI2c, kRead, 8, 0, buf.data(), 16), 0);
  EXPECT_EQ(r(kFamilySpi, kRead, 7, 0, buf.data(), 16), 0);
  EXPECT_EQ(r(kFamilyMicrowire, kRead, 12, 0, buf.data(), 16), 0);
  EXPECT_EQ(r(kFamilyMicrowire, kRead, 205, 0, buf.data(), 16), 0);
  EXPECT_EQ(r(3, kRead, 0, 0, buf.data(), 16), 0);
  EXPECT_EQ(r(kFamilyI2c, kRead, 2, -1, buf.data(), 16), 0);
  EXPECT_EQ(r(kFamilyI2c, kRead, 2, 0, buf.data(), -16), 0);
  EXPECT_EQ(r(kFamilyI2c, kRead, 2, 250, buf.data(), 16), 0);  // past the part
  EXPECT_EQ(r(kFamilyI2c, 4, 2, 0, buf.data(), 16), 0);
  EXPECT_EQ(w(kFamilyMicrowire, kWrite, 1, 0, buf.data(), 5), 0);   // odd length, words
  EXPECT_EQ(w(kFamilyMicrowire, kWrite, 1, 1, buf.data(), 4), 0);   // odd start, words
  EXPECT_EQ(w(kFamilyMicrowire, kWrite, 201, 0, buf.data(), 3), 0);  // Series90 is words too
  EXPECT_EQ(w(kFamilyMicrowire, kErase, 204, 2, nullptr, 5), 0);  // odd length, Series90 erase
  Settle();
  EXPECT_EQ(sim.Log().size(), 3u);  // the name query and the settle query only

  link.Disconnect();
  EXPECT_EQ(r(kFamilyI2c, kRead, 2, 0, buf.data(), 16), 0);
  EXPECT_EQ(w(kFamilyI2c, kErase, 2, 0, nullptr, 16), 0);
}

TEST_F(LibraryBus, LastWriteBlockStopsAtTheCallersLength) {
  ASSERT_TRUE(sim.InsertPart("25C160"));  // real page 16
  LibraryMode(kFamilySpi, 0);
  // Exactly 21 bytes on the heap: a read past them is caught by the sanitizers.
  const auto data = std::make_unique<std::uint8_t[]>(21);
  for (int i = 0; i < 21; ++i) data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x30 + i);
  ASSERT_EQ(LibraryWriteSide(link, reverse, kFamilySpi, kWrite, 4, 16, data.get(), 21, 8), 1);
  Settle();
  const auto writes = CommandsOf(WRITE_DONE);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[2].args.size(), 3u + 5u);  // instruction, two address bytes, the last 5 data bytes
  const Bytes chip = sim.PartContents();
  for (int i = 0; i < 21; ++i) EXPECT_EQ(chip[static_cast<std::size_t>(16 + i)], 0x30 + i);
  EXPECT_EQ(chip[37], 0xFF);
  EXPECT_EQ(chip[15], 0xFF);
}

TEST_F(LibraryBus, ByteOrganisedWritesMayBeOdd) {
  ASSERT_TRUE(sim.InsertPart("93C46"));
  LibraryMode(kFamilyMicrowire, 0);
  const Bytes pattern = RandomBytes(5, 4);
  ASSERT_EQ(LibraryWriteSide(link, reverse, kFamilyMicrowire, kWrite, 101, 3, pattern.data(), 5, 0), 1);
  Settle();
  const Bytes chip = sim.PartContents();
  EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), chip.begin() + 3));
  EXPECT_EQ(chip[2], 0xFF);
  EXPECT_EQ(chip[8], 0xFF);
  EXPECT_EQ(CommandsOf(WR_GPIO)[0].args, Bytes{1});
}

}  // namespace
}  // namespace qmx::test
