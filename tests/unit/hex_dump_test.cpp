#include "image/hex_dump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

namespace qmx {
namespace {

std::vector<std::uint8_t> Ramp(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

TEST(HexDump, LayoutFromDataModeIndex) {
  EXPECT_EQ(DumpLayoutFromIndex(0), DumpLayout::kBytes);
  EXPECT_EQ(DumpLayoutFromIndex(1), DumpLayout::kLittleEndianWords);
  EXPECT_EQ(DumpLayoutFromIndex(2), DumpLayout::kBigEndianWords);
  EXPECT_EQ(DumpLayoutFromIndex(3), DumpLayout::kBytes);
  EXPECT_EQ(DumpLayoutFromIndex(-1), DumpLayout::kBytes);
}

TEST(HexDump, ThreeLayoutsOfTheSameSixteenBytes) {
  const auto bytes = Ramp(16);
  EXPECT_EQ(HexDumpLines(bytes.data(), 16, DumpLayout::kBytes),
            std::vector<std::string>{"00000:00 01 02 03 04 05 06 07-08 09 0A 0B 0C 0D 0E 0F"});
  EXPECT_EQ(HexDumpLines(bytes.data(), 16, DumpLayout::kLittleEndianWords),
            std::vector<std::string>{"00000:0100 0302 0504 0706-0908 0B0A 0D0C 0F0E"});
  EXPECT_EQ(HexDumpLines(bytes.data(), 16, DumpLayout::kBigEndianWords),
            std::vector<std::string>{"00000:0001 0203 0405 0607-0809 0A0B 0C0D 0E0F"});
}

TEST(HexDump, AddressStepsByBytesOrWords) {
  auto bytes = Ramp(48);
  bytes[16] = 0xAB;
  bytes[17] = 0xCD;
  const auto byteLines = HexDumpLines(bytes.data(), bytes.size(), DumpLayout::kBytes);
  ASSERT_EQ(byteLines.size(), 3u);
  EXPECT_EQ(byteLines[1], "00010:AB CD 12 13 14 15 16 17-18 19 1A 1B 1C 1D 1E 1F");
  EXPECT_EQ(byteLines[2].substr(0, 6), "00020:");
  const auto le = HexDumpLines(bytes.data(), bytes.size(), DumpLayout::kLittleEndianWords);
  ASSERT_EQ(le.size(), 3u);
  EXPECT_EQ(le[1], "00008:CDAB 1312 1514 1716-1918 1B1A 1D1C 1F1E");
  EXPECT_EQ(le[2].substr(0, 6), "00010:");
}

TEST(HexDump, EmptyAndPartialInputs) {
  const auto bytes = Ramp(32);
  EXPECT_TRUE(HexDumpLines(bytes.data(), 0, DumpLayout::kBytes).empty());
  EXPECT_TRUE(HexDumpLines(nullptr, 0, DumpLayout::kBigEndianWords).empty());
  EXPECT_TRUE(HexDumpLines(bytes.data(), 15, DumpLayout::kBytes).empty());
  // A 17-byte buffer of its own: reading the partial group would overrun it
  // (caught under a sanitizer), and only one line is shown.
  const auto seventeen = std::make_unique<std::uint8_t[]>(17);
  EXPECT_EQ(HexDumpLines(seventeen.get(), 17, DumpLayout::kLittleEndianWords).size(), 1u);
}

TEST(HexDump, SmallestMicrowirePartInBigEndianWords) {
  const auto bytes = Ramp(32);  // 93C06
  const auto lines = HexDumpLines(bytes.data(), bytes.size(), DumpLayout::kBigEndianWords);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 6), "00000:");
  EXPECT_EQ(lines[1], "00008:1011 1213 1415 1617-1819 1A1B 1C1D 1E1F");
}

TEST(HexDump, LargestPartEndsAt01FF0AndIsQuick) {
  std::vector<std::uint8_t> bytes(8192, 0xCC);
  bytes.back() = 0x5A;
  const auto start = std::chrono::steady_clock::now();
  const auto lines = HexDumpLines(bytes.data(), bytes.size(), DumpLayout::kBytes);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(lines.size(), 512u);
  EXPECT_EQ(lines.back(), "01FF0:CC CC CC CC CC CC CC CC-CC CC CC CC CC CC CC 5A");
  for (const std::string& line : lines) ASSERT_EQ(line.size(), 53u) << line;
  // Generous bound: only a per-byte allocation or quadratic join gets near it.
  EXPECT_LT(elapsed, std::chrono::milliseconds(200));
  const auto words = HexDumpLines(bytes.data(), bytes.size(), DumpLayout::kBigEndianWords);
  ASSERT_EQ(words.size(), 512u);
  EXPECT_EQ(words.back(), "00FF8:CCCC CCCC CCCC CCCC-CCCC CCCC CCCC CC5A");
}

}  // namespace
}  // namespace qmx
