// The program's memory procedures end to end: set-up, whole-part passes and
// reports, against the simulated parts.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/memory_fixture.h"

namespace qmx::test {
namespace {

struct PartCase {
  int family;
  int row;
  bool byteMode;  // Standard Microwire only
  bool realTiming = false;
  const char* pageSize = "1";  // I2C and SPI
};

std::string CaseName(const ::testing::TestParamInfo<PartCase>& info) {
  std::string name = PartName(info.param.family, info.param.row);
  return "P" + name + (info.param.byteMode ? "_bytes" : "");
}

// Against datasheet timing: a small part of each kind, and the largest I2C
// part with its real 32-byte pages.
std::vector<PartCase> RealTimingParts() {
  return {{kFamilyMicrowire, RowOf(kFamilyMicrowire, "93C46"), false, true},
          {kFamilyMicrowire, RowOf(kFamilyMicrowire, "93C46"), true, true},
          {kFamilyMicrowire, RowOf(kFamilyMicrowire, "9010"), false, true},
          {kFamilyI2c, RowOf(kFamilyI2c, "24C02"), false, true, "8"},
          {kFamilySpi, RowOf(kFamilySpi, "25C010"), false, true, "16"},
          {kFamilyI2c, RowOf(kFamilyI2c, "24C64"), false, true, "32"}};
}

std::vector<PartCase> AllParts() {
  std::vector<PartCase> cases;
  for (int f = 0; f < 3; ++f) {
    for (int r = 0; r < RowCount(f); ++r) {
      cases.push_back({f, r, false});
      if (f == kFamilyMicrowire && MicrowireParts()[static_cast<std::size_t>(r)].variant == kStandard)
        cases.push_back({f, r, true});
    }
  }
  return cases;
}

class ProgramPass : public MemoryFixture, public ::testing::WithParamInterface<PartCase> {
 protected:
  ProgramPass() : MemoryFixture(GetParam().realTiming ? sim::Timing::kReal : sim::Timing::kInstant) {}
  void SetUp() override {
    MemoryFixture::SetUp();
    const PartCase& c = GetParam();
    Select(c.family, c.row);
    settings.pageSize = c.pageSize;
    settings.dataMode = c.byteMode ? 0 : 2;
    settings.gp1 = c.byteMode ? 0 : 1;  // ORG pin follows the data mode
  }
  std::int32_t Size() const { return image.Size(); }
  Bytes ImageBytes() const { return Bytes(image.Data(), image.Data() + image.Size()); }
};

TEST_P(ProgramPass, WriteReadCompareChecksumEraseBlank) {
  const Bytes pattern = RandomBytes(static_cast<std::size_t>(Size()), 7u + static_cast<unsigned>(Size()));
  std::copy(pattern.begin(), pattern.end(), image.Data());

  // A pass reports completion only once the programmer has carried it out.
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 1) << op.Last();
  EXPECT_EQ(op.Last(), "書き込みが完了しました。");
  ASSERT_EQ(sim.PartContents(), pattern) << "the chip holds something else than was written";

  image.Clear();
  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kRead), 1);
  EXPECT_EQ(ImageBytes(), pattern);
  EXPECT_EQ(op.lastChecksum, image.ImageSum());
  char sumLine[32];
  std::snprintf(sumLine, sizeof sumLine, "checksum=%04X", image.ImageSum());
  EXPECT_EQ(op.Last(), sumLine);
  EXPECT_EQ(op.lines[op.lines.size() - 2 - static_cast<std::size_t>(Size() / 16)], "読出しデータ:");

  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kCompare), 1);
  EXPECT_EQ(op.Last(), "データはバッファと同一です。");
  Bytes changed = pattern;
  changed[static_cast<std::size_t>(Size() / 3)] ^= 0x10;
  changed[static_cast<std::size_t>(Size() - 1)] ^= 0x01;  // a second difference, in the last block
  ASSERT_TRUE(sim.SetPartContents(changed));
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kCompare), 0);
  const std::size_t at = static_cast<std::size_t>(Size() / 3);
  char detail[128];
  std::snprintf(detail, sizeof detail, "相違 2 バイト: 最初はアドレス %04X (デバイス %02X, バッファ %02X)",
                static_cast<unsigned>(at), changed[at], pattern[at]);
  EXPECT_EQ(op.Last(), detail);
  EXPECT_EQ(op.lines[op.lines.size() - 2], "データ比較でエラーが発生しました。");
  EXPECT_EQ(op.errorIndications, 1);

  std::uint32_t sum = 0;
  for (std::uint8_t b : changed) sum += b;
  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kChecksum), 1);
  std::snprintf(sumLine, sizeof sumLine, "checksum=%04X", sum & 0xFFFF);
  EXPECT_EQ(op.Last(), sumLine);

  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kErase), 1);
  EXPECT_EQ(op.Last(), "デバイス消去が完了しました。");
  EXPECT_EQ(sim.PartContents(), Bytes(static_cast<std::size_t>(Size()), 0xFF));
  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kBlankCheck), 1);
  EXPECT_EQ(op.Last(), "デバイスはブランクです。");

  Bytes lastDirty(static_cast<std::size_t>(Size()), 0xFF);
  lastDirty.back() = 0x00;
  ASSERT_TRUE(sim.SetPartContents(lastDirty));
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kBlankCheck), 0);
  EXPECT_EQ(op.Last(), "デバイスはブランクではありません。");
  EXPECT_GT(op.progressCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryPart, ProgramPass, ::testing::ValuesIn(AllParts()), CaseName);
INSTANTIATE_TEST_SUITE_P(RealTiming, ProgramPass, ::testing::ValuesIn(RealTimingParts()), CaseName);

using ProgramBus = MemoryFixture;

std::uint16_t Word(const sim::LoggedCommand& c) { return static_cast<std::uint16_t>(c.args[0] << 8 | c.args[1]); }

TEST_F(ProgramBus, SetUpGoesOutInOrderWithTheWindowsChoices) {
  Select(kFamilyMicrowire, 1);
  settings.maxWriteTime = "20";
  settings.gp0 = 0;
  settings.gp1 = 1;
  settings.clockIndex = 3;
  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kChecksum), 1);
  const auto log = sim.Log();
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(log[2].code, SET_RESTART);
  EXPECT_EQ(log[3].code, SET_MODE);
  EXPECT_EQ(log[3].args, (Bytes{0, 0, 20}));
  EXPECT_EQ(log[4].args, (Bytes{DEVCTRL_SUPPLY_ON}));
  EXPECT_EQ(log[5].code, WR_GPIO);
  EXPECT_EQ(log[5].args, (Bytes{2}));
  EXPECT_EQ(log[6].code, SET_FREQ);
  EXPECT_EQ(log[6].args, (Bytes{0x02, 0x00, 0x01}));
  EXPECT_EQ(log[7].code, CHK_DEVICE);
  EXPECT_EQ(log[log.size() - 2].args, (Bytes{DEVCTRL_SUPPLY_OFF}));
  EXPECT_EQ(log.back().code, GET_LAST_ERR);
}

TEST_F(ProgramBus, WriteTimeThatIsNotANumberIsFiftyAndVppOutDecidesTheSupply) {
  Select(kFamilyI2c, 2);
  settings.maxWriteTime = "x";
  settings.vppOut = false;
  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kChecksum), 1);
  const auto modes = CommandsOf(SET_MODE);
  ASSERT_EQ(modes.size(), 1u);
  EXPECT_EQ(modes[0].args, (Bytes{1, 0, 50}));
  for (const auto& c : CommandsOf(DEV_CTRL)) EXPECT_NE(c.args[0], DEVCTRL_SUPPLY_ON);
  EXPECT_TRUE(CommandsOf(WR_GPIO).empty());
}

TEST_F(ProgramBus, Microwire93C46ReadBlocksInWordAndByteMode) {
  Select(kFamilyMicrowire, 1);
  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kRead), 1);
  auto reads = CommandsOf(READ_DATA);
  auto words = CommandsOf(WRITE_DATA);
  ASSERT_EQ(reads.size(), 8u);
  ASSERT_EQ(words.size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(reads[i].args, Bytes{16});
    EXPECT_EQ(Word(words[i]), 0x0180 + 8 * i);
  }
  sim.ClearLog();
  settings.dataMode = 0;
  settings.gp1 = 0;
  settings.readSize = 1;
  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kRead), 1);
  reads = CommandsOf(READ_DATA);
  words = CommandsOf(WRITE_DATA);
  ASSERT_EQ(reads.size(), 128u);
  for (std::size_t i = 0; i < 128; ++i) {
    EXPECT_EQ(reads[i].args, Bytes{1});
    EXPECT_EQ(Word(words[i]), 0x0300 + i);
  }
}

TEST_F(ProgramBus, Microwire93C46WriteWordsInWordAndByteMode) {
  Select(kFamilyMicrowire, 1);
  settings.pageSize = "16";  // ignored by Microwire
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 1);
  Settle();
  auto data = CommandsOf(WRITE_DATA);
  auto writes = CommandsOf(WRITE_DONE);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(Word(data[0]), 0x0130);
  ASSERT_EQ(writes.size(), 64u);
  for (std::size_t i = 0; i < 64; ++i) {
    EXPECT_EQ(Word(writes[i]), 0x0140 + i);
    EXPECT_EQ(writes[i].args.size(), 4u);
  }
  sim.ClearLog();
  settings.dataMode = 0;
  settings.gp1 = 0;
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 1);
  Settle();
  data = CommandsOf(WRITE_DATA);
  writes = CommandsOf(WRITE_DONE);
  EXPECT_EQ(Word(data[0]), 0x0260);
  ASSERT_EQ(writes.size(), 128u);
  EXPECT_EQ(Word(writes.front()), 0x0280);
  EXPECT_EQ(Word(writes.back()), 0x02FF);
  EXPECT_EQ(writes.back().args.size(), 3u);
}

TEST_F(ProgramBus, Series90WriteEnablesOnceThenWritesWordByWord) {
  Select(kFamilyMicrowire, 11);  // 9016
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kErase), 1);
  Settle();
  const auto data = CommandsOf(WRITE_DATA);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].args, (Bytes{0xA3, 0x00}));
  const auto writes = CommandsOf(WRITE_DONE);
  ASSERT_EQ(writes.size(), 1024u);
  for (const auto& w : writes) EXPECT_EQ(w.args[0] & 0xFC, 0xA4);
  EXPECT_EQ(CommandsOf(WR_GPIO)[0].args, Bytes{0});
}

TEST_F(ProgramBus, I2cBlockAddressingAnd24C16BlockBits) {
  Select(kFamilyI2c, 5);  // 24C16
  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kRead), 1);
  const auto data = CommandsOf(WRITE_DATA);
  // Per block: device byte, address byte, read-form device byte.
  ASSERT_EQ(data.size(), 3u * 128);
  const std::size_t block = 0x100 / 16;
  EXPECT_EQ(data[3 * block].args, Bytes{0xA2});
  EXPECT_EQ(data[3 * block + 1].args, Bytes{0x00});
  EXPECT_EQ(data[3 * block + 2].args, Bytes{0xA3});
  for (const auto& r : CommandsOf(READ_DATA)) EXPECT_EQ(r.args, Bytes{0xF0});
}

TEST_F(ProgramBus, Spi25C040UpperHalfCarriesAddressBit8InTheInstruction) {
  Select(kFamilySpi, 2);
  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kRead), 1);
  const auto data = CommandsOf(WRITE_DATA);
  ASSERT_EQ(data.size(), 2u * 32);
  EXPECT_EQ(data[2 * 15].args, Bytes{0x03});
  EXPECT_EQ(data[2 * 16].args, Bytes{0x0B});
  EXPECT_EQ(data[2 * 16 + 1].args, Bytes{0x00});
}

TEST_F(ProgramBus, I2cErase24C02InPagesOfEight) {
  Select(kFamilyI2c, 2);
  settings.pageSize = "8";
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kErase), 1);
  Settle();
  const auto writes = CommandsOf(WRITE_DONE);
  ASSERT_EQ(writes.size(), 32u);
  for (const auto& w : writes) EXPECT_EQ(w.args, Bytes(8, 0xFF));
  const auto data = CommandsOf(WRITE_DATA);
  EXPECT_EQ(data[2 * 3].args, Bytes{0xA0});
  EXPECT_EQ(data[2 * 3 + 1].args, Bytes{0x18});
}

TEST_F(ProgramBus, SpiWriteEnablesBeforeEveryPage) {
  Select(kFamilySpi, 6);  // 25C640
  settings.pageSize = "32";
  const Bytes pattern = RandomBytes(8192, 3);
  std::copy(pattern.begin(), pattern.end(), image.Data());
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 1);
  Settle();
  const auto writes = CommandsOf(WRITE_DONE);
  ASSERT_EQ(writes.size(), 256u);
  EXPECT_EQ(writes[1].args[0], 0x02);
  EXPECT_EQ(writes[1].args[1], 0x00);
  EXPECT_EQ(writes[1].args[2], 0x20);
  EXPECT_EQ(CommandsOf(WRITE_DATA).size(), 256u);  // one write enable each
  EXPECT_EQ(sim.PartContents(), pattern);
}

TEST_F(ProgramBus, PagesLongerThanAFrameAreSplitNotDropped) {
  Select(kFamilyI2c, 7);  // 24C64, real page 32
  const Bytes pattern = RandomBytes(8192, 11);
  for (const char* page : {"64", "256", "96"}) {
    SCOPED_TRACE(page);
    sim.ClearLog();
    settings.pageSize = page;
    std::copy(pattern.begin(), pattern.end(), image.Data());
    ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 1);
    Settle();
    for (const auto& w : CommandsOf(WRITE_DONE)) EXPECT_LE(w.args.size(), 32u);
    EXPECT_EQ(sim.PartContents(), pattern);
    ASSERT_TRUE(sim.SetPartContents(Bytes(8192, 0xCC)));
  }
  Select(kFamilySpi, 6);  // 25C640, two address bytes: 60 data bytes per frame at most
  settings.pageSize = "64";
  std::copy(pattern.begin(), pattern.end(), image.Data());
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 1);
  Settle();
  EXPECT_EQ(sim.PartContents(), pattern);
}

TEST_F(ProgramBus, LastPageStopsAtTheEndOfThePart) {
  Select(kFamilyI2c, 2);  // 256 bytes
  settings.pageSize = "48";
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kErase), 1);
  Settle();
  const auto writes = CommandsOf(WRITE_DONE);
  ASSERT_EQ(writes.size(), 6u);
  EXPECT_EQ(writes.back().args.size(), 16u);  // 256 - 5 * 48
  std::size_t sent = 0;
  for (const auto& w : writes) sent += w.args.size();
  EXPECT_EQ(sent, 256u);
}

TEST_F(ProgramBus, PageLargerThanThePartsRealPageShowsInCompare) {
  Select(kFamilyI2c, 2);  // 24C02, real page 8
  const Bytes pattern = RandomBytes(256, 5);
  std::copy(pattern.begin(), pattern.end(), image.Data());
  settings.pageSize = "16";
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 1);
  Settle();
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kCompare), 0);
  settings.pageSize = "8";
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 1);
  Settle();
  EXPECT_EQ(ProgramReadSide(link, image, reverse, settings, op, kCompare), 1);
  settings.pageSize = "0";  // taken as 1
  ASSERT_EQ(ProgramWriteSide(link, image, reverse, settings, op, kWrite), 1);
  Settle();
  EXPECT_EQ(CommandsOf(WRITE_DONE).back().args.size(), 1u);
}

TEST_F(ProgramBus, BlankChecksumOfTheLargestPart) {
  Select(kFamilySpi, 6);
  ASSERT_EQ(ProgramReadSide(link, image, reverse, settings, op, kChecksum), 1);
  EXPECT_EQ(op.Last(), "checksum=E000");
}

}  // namespace
}  // namespace qmx::test
