#include "image/memory_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/catalogue/catalogue.h"

namespace qmx {
namespace {

bool AllFF(const MemoryImage& image) {
  const std::uint8_t* d = image.Data();
  return std::all_of(d, d + MemoryImage::kCapacity, [](std::uint8_t b) { return b == 0xFF; });
}

TEST(MemoryImage, StartsClearedWithNoPart) {
  const MemoryImage image;
  EXPECT_EQ(image.Size(), 0);
  EXPECT_EQ(image.ImageSum(), 0);
  EXPECT_EQ(image.writePosition, 0);
  EXPECT_EQ(image.readPosition, 0);
  EXPECT_TRUE(AllFF(image));
}

TEST(MemoryImage, ClearResetsDataAndPositionsButKeepsTheSize) {
  MemoryImage image;
  image.SetSize(256);
  std::memset(image.Data(), 0xCC, MemoryImage::kCapacity);
  image.writePosition = 17;
  image.readPosition = 33;
  image.Clear();
  EXPECT_EQ(image.Size(), 256);
  EXPECT_EQ(image.writePosition, 0);
  EXPECT_EQ(image.readPosition, 0);
  EXPECT_TRUE(AllFF(image)) << "bytes beyond the size must go too";
}

TEST(MemoryImage, SizeIsClampedToTheCapacity) {
  MemoryImage image;
  image.SetSize(-5);
  EXPECT_EQ(image.Size(), 0);
  image.SetSize(MemoryImage::kCapacity + 1);
  EXPECT_EQ(image.Size(), MemoryImage::kCapacity);
  // Whole capacity of 0xFF overflows 16 bits many times: 131072 * 255 mod 65536.
  EXPECT_EQ(image.ImageSum(), 0x0000);
  image.SetSize(4096);
  EXPECT_EQ(image.Size(), 4096);
}

TEST(MemoryImage, SumOfAClearedPartWrapsAt16Bits) {
  MemoryImage image;
  image.SetSize(PartSize(kFamilyI2c, 7));  // 24C64
  image.Clear();
  EXPECT_EQ(image.ImageSum(), 0xE000);
  image.SetSize(PartSize(kFamilyMicrowire, 1));  // 93C46
  image.Clear();
  EXPECT_EQ(image.ImageSum(), 0x7F80);
}

TEST(MemoryImage, SumCoversOnlyTheSizeAndTreatsBytesAsUnsigned) {
  MemoryImage image;
  image.SetSize(4);
  std::uint8_t* d = image.Data();
  d[0] = 0x80;
  d[1] = 0x01;
  d[2] = 0xFE;
  d[3] = 0x00;
  d[4] = 0x55;  // outside the part
  EXPECT_EQ(image.ImageSum(), 0x80 + 0x01 + 0xFE);
}

TEST(BitReversal, TableReversesEveryBit) {
  const BitReversal reverse;
  EXPECT_EQ(reverse(0x01), 0x80);
  EXPECT_EQ(reverse(0xA8), 0x15);
  EXPECT_EQ(reverse(0xFF), 0xFF);
  EXPECT_EQ(reverse(0x00), 0x00);
  EXPECT_EQ(reverse(0x0F), 0xF0);
  for (int bit = 0; bit < 8; ++bit) {
    EXPECT_EQ(reverse(static_cast<std::uint8_t>(1 << bit)), 0x80 >> bit) << bit;
  }
  const auto& table = reverse.Table();
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(table[table[i]], i) << i;
  }
}

TEST(BitReversal, ReverseInPlaceTouchesOnlyTheCount) {
  const BitReversal reverse;
  std::uint8_t bytes[] = {0x01, 0xA8, 0x80, 0xCC};
  reverse.ReverseInPlace(bytes, 3);
  EXPECT_EQ(bytes[0], 0x80);
  EXPECT_EQ(bytes[1], 0x15);
  EXPECT_EQ(bytes[2], 0x01);
  EXPECT_EQ(bytes[3], 0xCC);
  reverse.ReverseInPlace(bytes, 0);
  EXPECT_EQ(bytes[0], 0x80);
}

}  // namespace
}  // namespace qmx
