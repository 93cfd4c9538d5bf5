#include "image/intel_hex.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image_file_helpers.h"

namespace qmx {
namespace {

// A record with its checksum, worked out here rather than by the writer under test.
std::string Rec(int type, int address, const std::vector<std::uint8_t>& data) {
  unsigned sum = static_cast<unsigned>(data.size() + (address >> 8) + (address & 0xFF) + type);
  char head[16];
  std::snprintf(head, sizeof head, ":%02zX%04X%02X", data.size(), address, type);
  std::string line = head;
  for (const std::uint8_t b : data) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", b);
    line += digits;
    sum += b;
  }
  char check[3];
  std::snprintf(check, sizeof check, "%02X", (256 - sum % 256) % 256);
  return line + check;
}

MemoryImage Sized(std::int32_t size) {
  MemoryImage image;
  image.SetSize(size);
  return image;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

bool Untouched(const MemoryImage& image) {
  return std::all_of(image.Data(), image.Data() + MemoryImage::kCapacity, [](std::uint8_t b) { return b == 0xFF; });
}

TEST(IntelHexFormat, BlankImageAndEmptyImage) {
  const std::vector<std::uint8_t> blank(256, 0xFF);
  const std::string text = FormatIntelHex(blank.data(), 256);
  const auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0], ":10000000" + std::string(32, 'F') + "00");
  EXPECT_EQ(lines[1], ":10001000" + std::string(32, 'F') + "F0");
  EXPECT_EQ(lines[15], ":1000F000" + std::string(32, 'F') + "10");
  EXPECT_EQ(lines[16], ":00000001FF");
  // Every line ends in CR LF: no bare LF anywhere.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 17);
  EXPECT_EQ(text.size(), 16 * 45 + 13u);

  EXPECT_EQ(FormatIntelHex(blank.data(), 0), ":00000001FF\r\n");
  EXPECT_EQ(FormatIntelHex(nullptr, 0), ":00000001FF\r\n");
}

TEST(IntelHexFormat, UpperCaseDigitsAndShortLastRecord) {
  const std::vector<std::uint8_t> bytes = {0xab, 0xcd, 0xef};
  EXPECT_EQ(FormatIntelHex(bytes.data(), 3), Rec(0, 0, bytes) + "\r\n:00000001FF\r\n");
}

TEST(IntelHexFormat, SegmentRecordAtSixtyFourKiB) {
  const auto bytes = test::RandomBytes(0x10010, 7);
  const auto lines = Lines(FormatIntelHex(bytes.data(), 0x10010));
  const auto segment = std::find(lines.begin(), lines.end(), ":020000021000EC");
  ASSERT_NE(segment, lines.end());
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.substr(7, 2) == "02"; }), 1);
  EXPECT_EQ(segment[-1].substr(0, 9), ":10FFF000");
  EXPECT_EQ(segment[1], Rec(0, 0, {bytes.begin() + 0x10000, bytes.end()}));
  EXPECT_EQ(segment[2], ":00000001FF");

  // Ending exactly on the boundary needs no segment record.
  const auto even = Lines(FormatIntelHex(bytes.data(), 0x10000));
  EXPECT_EQ(std::find(even.begin(), even.end(), ":020000021000EC"), even.end());
}

TEST(IntelHexFormat, RangesKeepTheirAddresses) {
  const auto bytes = test::RandomBytes(40, 13);
  const std::vector<std::uint8_t> v(bytes.begin(), bytes.end());
  auto lines = Lines(FormatIntelHexRange(bytes.data(), 0x105, 20));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], Rec(0, 0x105, {v.begin(), v.begin() + 16}));
  EXPECT_EQ(lines[1], Rec(0, 0x115, {v.begin() + 16, v.begin() + 20}));

  // Records stop at 64 KiB even when the range does not start on 16 bytes.
  lines = Lines(FormatIntelHexRange(bytes.data(), 0xFFF8, 24));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], Rec(0, 0xFFF8, {v.begin(), v.begin() + 8}));
  EXPECT_EQ(lines[1], ":020000021000EC");
  EXPECT_EQ(lines[2], Rec(0, 0, {v.begin() + 8, v.begin() + 24}));

  // Above 64 KiB the segment comes first; loading puts the bytes back where they were.
  const std::string high = FormatIntelHexRange(bytes.data(), 0x1FFE0, 32);
  EXPECT_EQ(high.substr(0, 17), ":020000021000EC\r\n");
  auto image = Sized(MemoryImage::kCapacity);
  EXPECT_TRUE(ParseIntelHex(high, image));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 32, image.Data() + 0x1FFE0));
  EXPECT_TRUE(std::all_of(image.Data(), image.Data() + 0x1FFE0, [](std::uint8_t b) { return b == 0xFF; }));

  EXPECT_EQ(FormatIntelHexRange(bytes.data(), 0x10000, 0), ":00000001FF\r\n");
  EXPECT_EQ(FormatIntelHexRange(bytes.data(), 0, 40), FormatIntelHex(bytes.data(), 40));
}

TEST(IntelHexFormat, RandomFullImageRoundTrips) {
  const auto bytes = test::RandomBytes(MemoryImage::kCapacity, 11);
  auto image = Sized(MemoryImage::kCapacity);
  IntelHexStats stats;
  ASSERT_TRUE(ParseIntelHex(FormatIntelHex(bytes.data(), MemoryImage::kCapacity), image, &stats));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.Data()));
  EXPECT_EQ(stats.dataBytes, MemoryImage::kCapacity);
  EXPECT_EQ(stats.droppedBytes, 0);
  EXPECT_EQ(stats.highestAddress, MemoryImage::kCapacity - 1);
}

TEST(IntelHexParse, DataRecordsInsideAndBeyondTheImage) {
  auto image = Sized(2048);
  IntelHexStats stats;
  EXPECT_TRUE(ParseIntelHex(":0207F0001234C1\r\n:00000001FF\r\n", image, &stats));
  EXPECT_EQ(image.Data()[0x7F0], 0x12);
  EXPECT_EQ(image.Data()[0x7F1], 0x34);
  image.Data()[0x7F0] = image.Data()[0x7F1] = 0xFF;
  EXPECT_TRUE(Untouched(image));
  EXPECT_EQ(stats.dataBytes, 2);
  EXPECT_EQ(stats.highestAddress, 0x7F1);

  // Past the part: a successful load that stores nothing, not even at a wrapped address.
  EXPECT_TRUE(ParseIntelHex(Rec(0, 0x1000, {1, 2, 3}) + "\r\n" + Rec(0, 0x7FF, {9, 8}), image, &stats));
  EXPECT_EQ(image.Data()[0x7FF], 9);
  image.Data()[0x7FF] = 0xFF;
  EXPECT_TRUE(Untouched(image));
  EXPECT_EQ(stats.dataBytes, 5);
  EXPECT_EQ(stats.droppedBytes, 4);
  EXPECT_EQ(stats.highestAddress, 0x1002);
}

TEST(IntelHexParse, TolerantOfLineEndsCaseAndOtherLines) {
  auto image = Sized(256);
  EXPECT_TRUE(ParseIntelHex("", image));
  EXPECT_TRUE(ParseIntelHex("\n\r\n# just a comment\n", image));
  EXPECT_TRUE(Untouched(image));

  // LF and CR LF mixed, text around the records, lower-case digits, no end record, no final line end.
  const std::string text = "made by hand\n" + Rec(0, 0x10, {0xA5}) + "\r\n ; note\r\n" + ":01002000c31c\n" +
                           "trailing\n" + Rec(0, 0x30, {0x5A});
  EXPECT_TRUE(ParseIntelHex(text, image));
  EXPECT_EQ(image.Data()[0x10], 0xA5);
  EXPECT_EQ(image.Data()[0x20], 0xC3);
  EXPECT_EQ(image.Data()[0x30], 0x5A);
}

TEST(IntelHexParse, ByteOrderMarkIndentedRecordsAndWhatTheStatsTell) {
  auto image = Sized(256);
  IntelHexStats stats;
  // A mark before the first record and indented records must not lose data.
  const std::string text = "\xEF\xBB\xBF" + Rec(0, 0x00, {0x11}) + "\r\n  " + Rec(0, 0x01, {0x22}) + " \t\r\n\t" +
                           Rec(0, 0x02, {0x33}) + "\nnot a record\n\n:00000001FF\n";
  EXPECT_TRUE(ParseIntelHex(text, image, &stats));
  EXPECT_EQ(image.Data()[0], 0x11);
  EXPECT_EQ(image.Data()[1], 0x22);
  EXPECT_EQ(image.Data()[2], 0x33);
  EXPECT_EQ(stats.dataBytes, 3);
  EXPECT_TRUE(stats.endRecord);
  EXPECT_EQ(stats.ignoredLines, 1);

  // A cut-short file and one in another format: the caller can tell both.
  EXPECT_TRUE(ParseIntelHex(Rec(0, 0, {1}) + "\r\n", image, &stats));
  EXPECT_FALSE(stats.endRecord);
  EXPECT_TRUE(ParseIntelHex("S00600004844521B\nS1130000285F245F2212226A000424290008237C2A\n", image, &stats));
  EXPECT_EQ(stats.dataBytes, 0);
  EXPECT_EQ(stats.ignoredLines, 2);
}

TEST(IntelHexParse, NothingAfterTheEndRecordIsRead) {
  auto image = Sized(256);
  IntelHexStats stats;
  const std::string text = Rec(0, 0, {1}) + "\r\n:00000001FF\r\n" + Rec(0, 1, {2}) + "\r\n:zz\r\n" +
                           std::string(300, 'x') + "\r\n";
  EXPECT_TRUE(ParseIntelHex(text, image, &stats));
  EXPECT_EQ(image.Data()[0], 1);
  EXPECT_EQ(image.Data()[1], 0xFF);
  EXPECT_FALSE(stats.checksumError);
  EXPECT_FALSE(stats.lineTooLong);
}

TEST(IntelHexParse, BadChecksumFailsButKeepsTheData) {
  auto image = Sized(2048);
  IntelHexStats stats;
  EXPECT_FALSE(ParseIntelHex(":0207F0001234C2\r\n" + Rec(0, 0x10, {7}) + "\r\n:00000001FF\r\n", image, &stats));
  EXPECT_TRUE(stats.checksumError);
  EXPECT_EQ(image.Data()[0x7F0], 0x12);
  EXPECT_EQ(image.Data()[0x7F1], 0x34);
  EXPECT_EQ(image.Data()[0x10], 7) << "records after a bad one are still read";

  // A bad end record still ends the file.
  image.Data()[0x20] = 0xFF;
  EXPECT_FALSE(ParseIntelHex(":00000001FE\r\n" + Rec(0, 0x20, {1}), image));
  EXPECT_EQ(image.Data()[0x20], 0xFF);
}

TEST(IntelHexParse, MalformedRecordsFailAndStoreNothing) {
  const std::string good = Rec(0, 0x7F0, {0x12, 0x34});
  ASSERT_EQ(good, ":0207F0001234C1");
  std::vector<std::string> bad;
  for (const std::size_t at : {1u, 4u, 8u, 10u, 14u}) {  // count, address, type, data, checksum
    std::string line = good;
    line[at] = 'G';
    bad.push_back(line);
  }
  bad.push_back(":0407F0001234C1");        // shorter than its count asks
  bad.push_back(good.substr(0, 13));       // checksum cut off
  bad.push_back(":02 7F0001234C1");        // a space is not a digit
  bad.push_back(":");
  for (const auto& line : bad) {
    auto image = Sized(2048);
    IntelHexStats stats;
    // A good record first, so nothing of it may carry over into the bad one.
    EXPECT_FALSE(ParseIntelHex(Rec(0, 0x100, {0x55}) + "\r\n" + line + "\r\n", image, &stats)) << line;
    EXPECT_TRUE(stats.checksumError) << line;
    EXPECT_EQ(stats.dataBytes, 1) << line;
    EXPECT_EQ(image.Data()[0x100], 0x55);
    image.Data()[0x100] = 0xFF;
    EXPECT_TRUE(Untouched(image)) << line;
  }

  // A malformed address record does not move the records after it.
  auto image = Sized(MemoryImage::kCapacity);
  EXPECT_FALSE(ParseIntelHex(":02000004000G00\r\n:02000002100G00\r\n" + Rec(0, 0x40, {0x77}), image));
  EXPECT_EQ(image.Data()[0x40], 0x77);
}

TEST(IntelHexParse, OverlongLineEndsTheLoad) {
  // 122 data bytes make exactly 255 characters: still a line.
  const std::string longest = Rec(0, 0x100, std::vector<std::uint8_t>(122, 0x3C));
  ASSERT_EQ(longest.size(), 255u);
  auto image = Sized(1024);
  IntelHexStats stats;
  EXPECT_TRUE(ParseIntelHex(longest + "\r\n", image, &stats));
  EXPECT_EQ(image.Data()[0x100 + 121], 0x3C);

  // One more character (a space the record would not need) refuses the line and all after it.
  image.Clear();
  const std::string text = Rec(0, 0, {0x11}) + "\r\n" + Rec(0, 0x100, std::vector<std::uint8_t>(122, 0x3C)) + " \r\n" +
                           Rec(0, 1, {0x22}) + "\r\n:00000001FF\r\n";
  EXPECT_FALSE(ParseIntelHex(text, image, &stats));
  EXPECT_TRUE(stats.lineTooLong);
  EXPECT_FALSE(stats.checksumError);
  EXPECT_EQ(image.Data()[0], 0x11) << "bytes stored before the long line stay";
  EXPECT_EQ(image.Data()[0x100], 0xFF);
  EXPECT_EQ(image.Data()[1], 0xFF);

  // Not a record either: length alone decides.
  EXPECT_FALSE(ParseIntelHex(std::string(256, ';') + "\n", image, &stats));
  EXPECT_TRUE(stats.lineTooLong);
}

TEST(IntelHexParse, SegmentAndLinearAddressRecords) {
  auto image = Sized(MemoryImage::kCapacity);
  IntelHexStats stats;
  EXPECT_TRUE(ParseIntelHex(":020000021000EC\r\n" + Rec(0, 0x10, {0xA1}) + "\r\n" + ":020000020010EC\r\n" +
                                Rec(0, 0x10, {0xA2}) + "\r\n" + ":020000040001F9\r\n" + Rec(0, 0x20, {0xA3}) + "\r\n" +
                                ":020000040000FA\r\n" + Rec(0, 0x20, {0xA4}),
                            image, &stats));
  EXPECT_EQ(image.Data()[0x10010], 0xA1);
  EXPECT_EQ(image.Data()[0x110], 0xA2);
  EXPECT_EQ(image.Data()[0x10020], 0xA3);
  EXPECT_EQ(image.Data()[0x20], 0xA4);
  EXPECT_EQ(stats.highestAddress, 0x10020);

  // base + address runs on past 0xFFFF instead of wrapping inside the segment.
  image.Clear();
  EXPECT_TRUE(ParseIntelHex(":020000021000EC\r\n" + Rec(0, 0xFFFF, {0xB1, 0xB2}), image, &stats));
  EXPECT_EQ(image.Data()[0x1FFFF], 0xB1);
  EXPECT_EQ(image.Data()[0x10000], 0xFF);
  EXPECT_EQ(stats.droppedBytes, 1);
  EXPECT_EQ(stats.highestAddress, 0x20000);

  // The zero linear base that common tools put first changes nothing.
  MemoryImage plain = Sized(2048);
  MemoryImage prefixed = Sized(2048);
  EXPECT_TRUE(ParseIntelHex(":0207F0001234C1\r\n", plain));
  EXPECT_TRUE(ParseIntelHex(":020000040000FA\r\n:0207F0001234C1\r\n", prefixed));
  EXPECT_TRUE(std::equal(plain.Data(), plain.Data() + MemoryImage::kCapacity, prefixed.Data()));
}

TEST(IntelHexFile, SaveThenLoad) {
  test::ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  auto image = Sized(4096);
  const auto bytes = test::RandomBytes(4096, 3);
  std::copy(bytes.begin(), bytes.end(), image.Data());
  const std::string path = dir.File("part.hex");
  ASSERT_TRUE(SaveIntelHex(image, path));
  EXPECT_EQ(test::ReadFileText(path), FormatIntelHex(bytes.data(), 4096));

  auto loaded = Sized(4096);
  IntelHexStats stats;
  EXPECT_TRUE(LoadIntelHex(path, loaded, &stats));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), loaded.Data()));
  EXPECT_EQ(stats.dataBytes, 4096);

  EXPECT_FALSE(LoadIntelHex(dir.File("missing.hex"), loaded));
  EXPECT_FALSE(LoadIntelHex(dir.Path().string(), loaded));
}

// --- Files from and for other tools ---

using test::FindOnPath;
using test::Quoted;
using test::RunCommand;

class IntelHexInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.Ok());
    bin_ = dir_.File("in.bin");
    test::WriteFileText(bin_, std::string(bytes_.begin(), bytes_.end()));
  }

  // Their file must give exactly the .bin bytes, and nothing past them.
  void ExpectLoadsAsTheBinary(const std::string& hex, const std::string& mustContain) {
    const std::string text = test::ReadFileText(hex);
    EXPECT_NE(text.find(mustContain), std::string::npos) << "the tool no longer writes " << mustContain;
    auto parsed = Sized(MemoryImage::kCapacity);
    auto loaded = Sized(MemoryImage::kCapacity);
    EXPECT_TRUE(ParseIntelHex(text, parsed));
    EXPECT_TRUE(LoadIntelHex(hex, loaded));
    for (const MemoryImage* image : {&parsed, &loaded}) {
      EXPECT_TRUE(std::equal(bytes_.begin(), bytes_.end(), image->Data()));
      EXPECT_TRUE(std::all_of(image->Data() + bytes_.size(), image->Data() + MemoryImage::kCapacity,
                              [](std::uint8_t b) { return b == 0xFF; }));
    }
  }

  test::ScratchDir dir_;
  std::string bin_;
  // Over 64 KiB, so addresses above 0xFFFF need segment or linear records.
  const std::vector<std::uint8_t> bytes_ = test::RandomBytes(100000, 5);
};

TEST_F(IntelHexInterop, SrecCatSegmentAndLinearFiles) {
  const std::string srecCat = FindOnPath("srec_cat");
  if (srecCat.empty()) GTEST_SKIP() << "srec_cat not found on PATH (Debian package srecord)";
  const std::string segmented = dir_.File("segmented.hex");
  const std::string linear = dir_.File("linear.hex");
  ASSERT_EQ(RunCommand(Quoted(srecCat) + " " + Quoted(bin_) + " -binary -o " + Quoted(segmented) +
                " -intel -obs=16 -address-length=3"),
            0);
  ASSERT_EQ(RunCommand(Quoted(srecCat) + " " + Quoted(bin_) + " -binary -o " + Quoted(linear) + " -intel -obs=16"), 0);
  ExpectLoadsAsTheBinary(segmented, ":020000021000EC");
  ExpectLoadsAsTheBinary(linear, ":020000040001F9");
}

TEST_F(IntelHexInterop, ObjcopyFile) {
  const std::string objcopy = FindOnPath("objcopy");
  if (objcopy.empty()) GTEST_SKIP() << "objcopy not found on PATH (Debian package binutils)";
  const std::string hex = dir_.File("objcopy.hex");
  ASSERT_EQ(RunCommand(Quoted(objcopy) + " -I binary -O ihex " + Quoted(bin_) + " " + Quoted(hex)), 0);
  ExpectLoadsAsTheBinary(hex, ":10000000");
}

TEST_F(IntelHexInterop, SrecCmpAcceptsOurFile) {
  const std::string srecCmp = FindOnPath("srec_cmp");
  if (srecCmp.empty()) GTEST_SKIP() << "srec_cmp not found on PATH (Debian package srecord)";
  auto image = Sized(static_cast<std::int32_t>(bytes_.size()));
  std::copy(bytes_.begin(), bytes_.end(), image.Data());
  const std::string ours = dir_.File("ours.hex");
  ASSERT_TRUE(SaveIntelHex(image, ours));
  EXPECT_EQ(RunCommand(Quoted(srecCmp) + " " + Quoted(ours) + " -intel " + Quoted(bin_) + " -binary"), 0);

  // And it does see a difference: one byte changed in the image.
  image.Data()[0x12345] ^= 0x01;
  ASSERT_TRUE(SaveIntelHex(image, ours));
  EXPECT_NE(RunCommand(Quoted(srecCmp) + " " + Quoted(ours) + " -intel " + Quoted(bin_) + " -binary 2>/dev/null"), 0);
}

}  // namespace
}  // namespace qmx
