// S-record files of the image, and the CRC-32 and SHA-256 digests the tool
// prints, against hand-made records, known vectors and srec_cat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "image/digests.h"
#include "image/srecord.h"
#include "image_file_helpers.h"

namespace qmx {
namespace {

// A record with its checksum worked out here, not by the writer under test.
std::string SRec(int type, std::uint32_t address, int addressBytes, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> bytes;
  bytes.push_back(static_cast<std::uint8_t>(addressBytes + data.size() + 1));
  for (int i = addressBytes - 1; i >= 0; --i) bytes.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (const std::uint8_t b : bytes) sum += b;
  bytes.push_back(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
  std::string line = "S" + std::to_string(type);
  for (const std::uint8_t b : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", b);
    line += digits;
  }
  return line;
}

MemoryImage Sized(std::int32_t size) {
  MemoryImage image;
  image.SetSize(size);
  return image;
}

bool AllFF(const std::uint8_t* from, const std::uint8_t* to) {
  return std::all_of(from, to, [](std::uint8_t b) { return b == 0xFF; });
}

TEST(SRecordFormat, RecordsByAddressRange) {
  const auto bytes = test::RandomBytes(40, 17);
  const std::vector<std::uint8_t> v(bytes.begin(), bytes.end());
  // At or below 0xFFFF: S1 records with an S9 end.
  EXPECT_EQ(FormatSRecordRange(bytes.data(), 0x105, 20),
            "S0030000FC\r\n" + SRec(1, 0x105, 2, {v.begin(), v.begin() + 16}) + "\r\n" +
                SRec(1, 0x115, 2, {v.begin() + 16, v.begin() + 20}) + "\r\n" + SRec(5, 2, 2, {}) + "\r\n" +
                SRec(9, 0, 2, {}) + "\r\n");
  // Ending at 0xFFFF still fits S1; one byte further needs S3 and S7.
  EXPECT_NE(FormatSRecordRange(bytes.data(), 0xFFF0, 16).find(SRec(1, 0xFFF0, 2, {v.begin(), v.begin() + 16})),
            std::string::npos);
  const std::string wide = FormatSRecordRange(bytes.data(), 0xFFF8, 24);
  EXPECT_NE(wide.find(SRec(3, 0xFFF8, 4, {v.begin(), v.begin() + 16})), std::string::npos) << wide;
  EXPECT_NE(wide.find(SRec(3, 0x10008, 4, {v.begin() + 16, v.begin() + 24})), std::string::npos) << wide;
  EXPECT_EQ(wide.substr(wide.size() - 28), SRec(5, 2, 2, {}) + "\r\n" + SRec(7, 0, 4, {}) + "\r\n");
  EXPECT_EQ(FormatSRecordRange(bytes.data(), 0, 0), "S0030000FC\r\nS5030000FC\r\nS9030000FC\r\n");
}

TEST(SRecordFormat, FullImageRoundTripsAndSaveThenLoad) {
  const auto bytes = test::RandomBytes(MemoryImage::kCapacity, 23);
  auto image = Sized(MemoryImage::kCapacity);
  SRecordStats stats;
  ASSERT_TRUE(ParseSRecord(FormatSRecordRange(bytes.data(), 0, MemoryImage::kCapacity), image, &stats));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.Data()));
  EXPECT_EQ(stats.dataBytes, MemoryImage::kCapacity);
  EXPECT_EQ(stats.highestAddress, MemoryImage::kCapacity - 1);
  EXPECT_TRUE(stats.endRecord);

  test::ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  auto small = Sized(2048);
  std::copy(bytes.begin(), bytes.begin() + 2048, small.Data());
  ASSERT_TRUE(SaveSRecord(small, dir.File("part.s19")));
  auto loaded = Sized(2048);
  EXPECT_TRUE(LoadSRecord(dir.File("part.s19"), loaded));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 2048, loaded.Data()));
  EXPECT_FALSE(LoadSRecord(dir.File("missing.s19"), loaded));
}

TEST(SRecordParse, HeaderCountsEndsAndWhatLiesBeyondThePart) {
  auto image = Sized(0x800);
  SRecordStats stats;
  // A header with text, lower-case digits, S2 addresses, an agreeing count, text around the records, LF ends.
  std::string s2 = SRec(2, 0x7FE, 3, {0xC3, 0x3C, 0x99});
  std::transform(s2.begin(), s2.end(), s2.begin(), [](unsigned char c) { return std::tolower(c); });
  s2[0] = 'S';
  const std::string text = "\xEF\xBB\xBF" + SRec(0, 0, 2, {'h', 'd', 'r'}) + "\n; note\n  " +
                           SRec(1, 0x10, 2, {0xA5}) + " \r\n" + s2 + "\n" + SRec(5, 2, 2, {}) + "\n" +
                           SRec(8, 0, 3, {}) + "\n" + SRec(1, 0x20, 2, {0x77}) + "\nS1zz\n";
  EXPECT_TRUE(ParseSRecord(text, image, &stats));
  EXPECT_EQ(image.Data()[0x10], 0xA5);
  EXPECT_EQ(image.Data()[0x7FE], 0xC3);
  EXPECT_EQ(image.Data()[0x7FF], 0x3C);
  EXPECT_EQ(image.Data()[0x20], 0xFF) << "nothing after the end record is read";
  EXPECT_EQ(stats.dataBytes, 4);
  EXPECT_EQ(stats.droppedBytes, 1);
  EXPECT_EQ(stats.highestAddress, 0x800);
  EXPECT_EQ(stats.ignoredLines, 1);
  EXPECT_TRUE(stats.endRecord);

  // Intel HEX is not taken for S-records, and the other way round.
  EXPECT_TRUE(LooksLikeSRecord("\r\n# made by hand\n" + SRec(0, 0, 2, {})));
  EXPECT_FALSE(LooksLikeSRecord(":0207F0001234C1\r\n" + SRec(1, 0, 2, {1})));
  EXPECT_FALSE(LooksLikeSRecord("Some text\n"));
}

// Each bad line after a good record: the load fails and only the good record's byte is stored.
TEST(SRecordParse, BadRecordsFailAndStoreNothing) {
  const std::string good = SRec(1, 0x40, 2, {0x12, 0x34});
  ASSERT_EQ(good, "S1050040123474");
  struct Case {
    std::string line;
    const char* why;
  };
  const std::vector<Case> cases = {
      {"S1050040123475", "checksum off by one"},
      {"S105004012G474", "a non-hex digit"},
      {"S1060040123474", "count longer than the line"},
      {"S1040040123474", "count shorter than the line"},
      {"S105004012347400", "bytes after the checksum"},
      {"S10200FD", "count too small for the address"},
      {SRec(4, 0x40, 2, {1}), "S4 is reserved"},
      {"S", "no type"},
      {SRec(5, 7, 2, {}), "a count that disagrees"},
      {SRec(0, 0, 2, {'x'}).substr(0, 10) + "00", "a damaged header"},
  };
  for (const Case& c : cases) {
    auto image = Sized(256);
    SRecordStats stats;
    EXPECT_FALSE(ParseSRecord(SRec(1, 0x80, 2, {0x55}) + "\r\n" + c.line + "\r\n" + SRec(9, 0, 2, {}), image, &stats))
        << c.why;
    EXPECT_EQ(stats.dataBytes, 1) << c.why;
    EXPECT_EQ(image.Data()[0x80], 0x55);
    EXPECT_TRUE(AllFF(image.Data(), image.Data() + 0x80)) << c.why;
    EXPECT_TRUE(AllFF(image.Data() + 0x81, image.Data() + MemoryImage::kCapacity)) << c.why;
  }
  // The longest record is a line; one character more ends the load.
  auto image = Sized(1024);
  const std::string longest = SRec(1, 0, 2, std::vector<std::uint8_t>(252, 0x3C));
  ASSERT_EQ(longest.size(), 514u);
  EXPECT_TRUE(ParseSRecord(longest + "\r\n", image));
  SRecordStats stats;
  EXPECT_FALSE(ParseSRecord(longest + " \r\n", image, &stats));
  EXPECT_TRUE(stats.lineTooLong);
}

TEST(Digests, KnownVectorsAndPieces) {
  const auto bytes = [](const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); };
  struct Vector {
    std::string text;
    std::uint32_t crc;
    const char* sha;
  };
  const std::string million(1000000, 'a');
  const std::vector<Vector> vectors = {
      {"", 0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"123456789", 0xCBF43926, "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225"},
      {"abc", 0x352441C2, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the first padded block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 0x171A3F5F,
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      // 64 bytes exactly: a whole block, then a block of padding alone.
      {std::string(64, 'b'), 0x0B747FFE, "a0fab1377f49a759b57f63318262ebe89fabfc990e8e93ceac2984561482b9d4"},
      {million, 0xDC25BFBC, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Vector& v : vectors) {
    EXPECT_EQ(Crc32(bytes(v.text), v.text.size()), v.crc) << v.text.substr(0, 20);
    EXPECT_EQ(DigestHex(Sha256(bytes(v.text), v.text.size())), v.sha) << v.text.substr(0, 20);
  }
  EXPECT_EQ(Crc32(bytes(million) + 1000, million.size() - 1000, Crc32(bytes(million), 1000)), 0xDC25BFBCu);
}

class SRecordInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    srecCat_ = test::FindOnPath("srec_cat");
    if (srecCat_.empty()) GTEST_SKIP() << "srec_cat not found on PATH (Debian package srecord)";
    ASSERT_TRUE(dir_.Ok());
  }
  std::string Cat(const std::string& args) { return test::Quoted(srecCat_) + " " + args; }

  test::ScratchDir dir_;
  std::string srecCat_;
  // Over 64 KiB, so S3 (ours) and S2/S3 (theirs) records are needed.
  const std::vector<std::uint8_t> bytes_ = test::RandomBytes(100000, 29);
};

TEST_F(SRecordInterop, TheirFilesLoadAndOursConvertBack) {
  struct Case {
    const char* name;
    const char* width;
    std::size_t length;
    const char* record;
  };
  for (const Case& c : {Case{"x.s19", "2", 0x10000, "\nS1"}, Case{"x.s28", "3", 100000, "\nS2"},
                        Case{"x.s37", "4", 100000, "\nS3"}}) {
    const std::string bin = dir_.File("in.bin");
    test::WriteFileText(bin, std::string(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(c.length)));
    const std::string theirs = dir_.File(c.name);
    ASSERT_EQ(test::RunCommand(Cat(test::Quoted(bin) + " -binary -o " + test::Quoted(theirs) +
                                   " -motorola -address-length=" + c.width)),
              0);
    EXPECT_NE(test::ReadFileText(theirs).find(c.record), std::string::npos) << c.name;
    auto image = Sized(MemoryImage::kCapacity);
    SRecordStats stats;
    EXPECT_TRUE(LoadSRecord(theirs, image, &stats)) << c.name;
    EXPECT_TRUE(stats.countRecord) << c.name;  // srec_cat ends with the count: no S9 without a start address
    EXPECT_TRUE(std::equal(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(c.length), image.Data()));
    EXPECT_TRUE(AllFF(image.Data() + c.length, image.Data() + MemoryImage::kCapacity)) << c.name;

    // Ours, through srec_cat to binary, gives the same bytes back.
    const std::string ours = dir_.File("ours.srec");
    const std::string back = dir_.File("back.bin");
    test::WriteFileText(ours, FormatSRecordRange(bytes_.data(), 0, static_cast<std::int32_t>(c.length)));
    ASSERT_EQ(test::RunCommand(Cat(test::Quoted(ours) + " -motorola -o " + test::Quoted(back) + " -binary")), 0);
    EXPECT_EQ(test::ReadFileText(back), std::string(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(c.length)))
        << c.name;
  }
  // And srec_cat refuses ours once a checksum is wrong: the records are checked, not just read.
  std::string damaged = FormatSRecordRange(bytes_.data(), 0, 64);
  damaged[damaged.find("\r\nS1") + 12] ^= 1;
  test::WriteFileText(dir_.File("bad.srec"), damaged);
  EXPECT_NE(test::RunCommand(Cat(test::Quoted(dir_.File("bad.srec")) + " -motorola -o /dev/null -binary 2>/dev/null")),
            0);
}

}  // namespace
}  // namespace qmx
