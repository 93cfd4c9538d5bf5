// qmx71's files and reports: S-records with srec_cat, checksums against
// python3, diff, and the JSON of info and verify.
#include "tests/cli/cli_fixture.h"

namespace {

using namespace qmx::clitest;

// S-records through the tool both ways with srec_cat, by every name the tool knows them by.
TEST_F(CliTest, SRecordFilesWithSrecCatAndDamagedOnesRefused) {
  ASSERT_TRUE(sim->InsertPart("24C64"));
  const Bytes pattern = RandomBytes(8192, 31);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  const std::string bin = File("pattern.bin", pattern);
  for (const char* name : {"ours.srec", "ours.s19", "ours.mot"}) {
    const std::string ours = (dir / name).string(), back = (dir / "back.bin").string();
    EXPECT_RUN(Run("read 24C64 -o '" + ours + "'"), 0);
    EXPECT_EQ(Slurp(ours).substr(0, 12), "S0030000FC\r\n") << name;
    ASSERT_EQ(std::system(("srec_cat '" + ours + "' -motorola -o '" + back + "' -binary").c_str()), 0) << name;
    const std::string got = Slurp(back);
    EXPECT_EQ(Bytes(got.begin(), got.end()), pattern) << name;
  }
  const Bytes other = RandomBytes(8192, 32);
  for (const char* name : {"theirs.s28", "theirs.s37", "theirs.txt --format srec"}) {
    const std::string path = (dir / std::string(name).substr(0, 10)).string();
    const std::string width = std::string(name).substr(8, 2) == "28" ? "3" : "4";
    ASSERT_EQ(std::system(("srec_cat '" + File("other.bin", other) + "' -binary -o '" + path +
                           "' -motorola -address-length=" + width).c_str()),
              0);
    ASSERT_TRUE(sim->SetPartContents(pattern));
    EXPECT_RUN(Run("program 24C64 '" + path + "'" + std::string(name).substr(10)), 0);
    EXPECT_EQ(Contents(), other) << name;
  }
  // One digit changed in a record: refused before anything is sent.
  std::string damaged = Slurp(dir / "ours.srec");
  damaged[damaged.find("\r\nS1", 100) + 14] ^= 0x01;
  const Result bad = Run("write 24C64 '" + TextFile("bad.s19", damaged) + "'");
  EXPECT_RUN(bad, 2);
  EXPECT_NE(bad.err.find("damaged"), std::string::npos) << bad.err;
  EXPECT_EQ(Contents(), other);
}

// Each algorithm against python3's zlib and hashlib over the same range, as text and as JSON.
TEST_F(CliTest, ChecksumAlgorithmsAgreeWithPython) {
  ASSERT_TRUE(sim->InsertPart("24C16"));
  const Bytes pattern = RandomBytes(2048, 33);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  const std::string bin = File("part.bin", Bytes(pattern.begin() + 0x100, pattern.begin() + 0x100 + 1000));
  const std::string want = Python(
      "import zlib,hashlib; d=open(\"" + bin + "\",\"rb\").read(); "
      "print(\"%04X %08X %s\" % (sum(d) & 0xFFFF, zlib.crc32(d), hashlib.sha256(d).hexdigest()))");
  std::string got;
  for (const char* algo : {"sum16", "crc32", "sha256"}) {
    const Result r = Run(std::string("checksum 24C16 --start 0x100 --length 1000 --algo ") + algo);
    EXPECT_RUN(r, 0);
    got += (got.empty() ? "" : " ") + r.out.substr(0, r.out.size() - 1);
    const Result json = Run(std::string("checksum 24C16 --json --start 0x100 --length 1000 --algo ") + algo);
    EXPECT_RUN(json, 0);
    EXPECT_EQ(Python("import json,sys; j=json.load(sys.stdin); print(j[\"part\"], j[\"start\"], j[\"length\"], "
                     "j[\"algorithm\"], j[\"value\"])",
                     json.out),
              "24C16 256 1000 " + std::string(algo) + " " + r.out);
  }
  EXPECT_EQ(got + "\n", want);
  EXPECT_RUN(Run("checksum 24C16 --algo md5"), 2);
}

// A part against a file and two files against each other: every differing
// range with both sides' bytes, as text and as JSON.
TEST_F(CliTest, DiffListsEveryDifferingRange) {
  ASSERT_TRUE(sim->InsertPart("24C02"));
  const Bytes pattern = RandomBytes(256, 34);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  Bytes file = pattern;
  for (std::size_t i : {0x10, 0x11, 0x12, 0x13, 0x80, 0xFF}) file[i] ^= 0x5A;
  // Quote, backslash and a byte that is not UTF-8 in the name: the JSON must still parse.
  const std::string odd = File("we\"ird\\\xff.bin", file);
  const Result text = Run("diff 24C02 '" + odd + "'");
  EXPECT_RUN(text, 1);
  char expected[512];
  std::snprintf(expected, sizeof expected,
                "0x0010..0x0013 (4 bytes)\n  0x0010 part  %02X %02X %02X %02X\n         file  %02X %02X %02X %02X\n"
                "0x0080..0x0080 (1 byte)\n  0x0080 part  %02X\n         file  %02X\n"
                "0x00FF..0x00FF (1 byte)\n  0x00FF part  %02X\n         file  %02X\n",
                pattern[0x10], pattern[0x11], pattern[0x12], pattern[0x13], file[0x10], file[0x11], file[0x12],
                file[0x13], pattern[0x80], file[0x80], pattern[0xFF], file[0xFF]);
  EXPECT_EQ(text.out, expected);
  EXPECT_NE(text.err.find("6 byte(s) differ in 3 range(s)"), std::string::npos) << text.err;

  const Result json = Run("diff --json 24C02 '" + odd + "'");
  EXPECT_RUN(json, 1);
  const std::string check =
      "import json,sys; j=json.load(sys.stdin); r=j[\"ranges\"]; "
      "print(j[\"left\"], j[\"right\"][\"name\"].endswith(\"we\\\"ird\\\\\\ufffd.bin\"), j[\"start\"], "
      "j[\"length\"], j[\"same\"], j[\"differingBytes\"], [(x[\"start\"], x[\"length\"]) for x in r], "
      "all(x[\"left\"] == [b ^ 0x5A for b in x[\"right\"]] for x in r))";
  EXPECT_EQ(Python(check, json.out),
            "{'kind': 'part', 'name': '24C02'} True 0 256 False 6 [(16, 4), (128, 1), (255, 1)] True\n");

  // Two files need no programmer: where only one names an address, the other shows none.
  const std::string hex = TextFile("gap.hex", ":0400100001020304E2\r\n:00000001FF\r\n");
  const std::string bin = File("gap.bin", Bytes(0x12, 0xFF));
  const Result files = Run("diff '" + bin + "' '" + hex + "'", "QMX71_PORT=/nonexistent");
  EXPECT_RUN(files, 1);
  EXPECT_EQ(files.out,
            "0x0000..0x0013 (20 bytes)\n"
            "  0x0000 file1 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF\n"
            "         file2 -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"
            "  0x0010 file1 FF FF -- --\n         file2 01 02 03 04\n");
  const Result filesJson = Run("diff --json '" + bin + "' '" + hex + "' --start 0x10", "QMX71_PORT=/nonexistent");
  EXPECT_RUN(filesJson, 1);
  EXPECT_EQ(Python("import json,sys; print(json.load(sys.stdin)[\"ranges\"])", filesJson.out),
            "[{'start': 16, 'length': 4, 'left': [255, 255, None, None], 'right': [1, 2, 3, 4]}]\n");

  ASSERT_TRUE(sim->SetPartContents(file));
  const Result same = Run("diff 24C02 '" + odd + "'");
  EXPECT_RUN(same, 0);
  EXPECT_EQ(same.out, "diff: 0x0000..0x00FF (256 bytes) the same\n");
  EXPECT_RUN(Run("diff 24C02 '" + odd + "' --json"), 0);
  EXPECT_RUN(Run("diff nosuchthing '" + odd + "'"), 2);
}

TEST_F(CliTest, InfoAndVerifyJsonParse) {
  sim->SetVccReading(79);
  ASSERT_TRUE(sim->InsertPart("93C46"));  // answers with 7 address bits before anything sets x16
  const Result info = Run("info --json");
  EXPECT_RUN(info, 0);
  EXPECT_EQ(Python("import json,sys; j=json.load(sys.stdin); print(j[\"port\"], j[\"model\"], j[\"families\"], "
                   "j[\"firmware\"], j[\"supplyCentivolts\"], j[\"buses\"][0])",
                   info.out),
            link + " QMX-71C ['Microwire', 'I2C', 'SPI'] 1.00 330 {'family': 'Microwire', "
                   "'clockHz': 100000, 'partPresent': True, 'addressBits': 7}\n");

  const Bytes pattern = RandomBytes(128, 35);
  ASSERT_TRUE(sim->SetPartContents(pattern));
  const std::string bin = File("p.bin", pattern);
  const Result match = Run("verify 93C46 '" + bin + "' --json");
  EXPECT_RUN(match, 0);
  Bytes changed = pattern;
  changed[0x41] ^= 0xFF;
  ASSERT_TRUE(sim->SetPartContents(changed));
  const Result mismatch = Run("verify 93C46 '" + bin + "' --json");
  EXPECT_RUN(mismatch, 1);
  const std::string fields = "import json,sys; j=json.load(sys.stdin); print(j[\"match\"], j[\"differingBytes\"], "
                             "j[\"firstDifference\"], j[\"length\"])";
  EXPECT_EQ(Python(fields, match.out), "True 0 None 128\n");
  EXPECT_EQ(Python(fields, mismatch.out), "False 1 {'address': 65, 'part': " + std::to_string(changed[0x41]) +
                                              ", 'file': " + std::to_string(pattern[0x41]) + "} 128\n");
}

}  // namespace
