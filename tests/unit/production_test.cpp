#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/production/run_log.h"
#include "core/production/serial_number.h"
#include "core/production/serial_state.h"
#include "core/production/shared_file.h"
#include "image_file_helpers.h"

namespace qmx::production {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ReadFileText;
using test::ScratchDir;
using test::WriteFileText;

struct EncodeCase {
  const char* format;
  std::uint64_t number;
  Bytes bytes;  // empty: refused
};

TEST(SerialNumber, EveryFormatsBytesAndWhatDoesNotFit) {
  const EncodeCase cases[] = {
      {"be16", 0x1234, {0x12, 0x34}},
      {"le16", 0x1234, {0x34, 0x12}},
      {"be32", 0x01020304, {0x01, 0x02, 0x03, 0x04}},
      {"le32", 0x01020304, {0x04, 0x03, 0x02, 0x01}},
      {"bcd", 12345678, {0x12, 0x34, 0x56, 0x78}},
      {"bcd", 905, {0x00, 0x00, 0x09, 0x05}},
      {"bcd:1", 99, {0x99}},
      {"bcd:10", 18446744073709551615u, {0x18, 0x44, 0x67, 0x44, 0x07, 0x37, 0x09, 0x55, 0x16, 0x15}},
      {"ascii:6", 4711, {'0', '0', '4', '7', '1', '1'}},
      {"ascii:3", 999, {'9', '9', '9'}},
      {"be16", 0x10000, {}},
      {"le32", 0x100000000, {}},
      {"bcd", 100000000, {}},
      {"bcd:1", 100, {}},
      {"ascii:3", 1000, {}},
  };
  for (const EncodeCase& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.number));
    std::string error;
    const auto format = ParseSerialFormat(c.format, &error);
    ASSERT_TRUE(format) << error;
    const auto bytes = EncodeSerial(c.number, *format, &error);
    if (c.bytes.empty()) {
      EXPECT_FALSE(bytes);
      EXPECT_NE(error.find("does not fit"), std::string::npos) << error;
    } else {
      ASSERT_TRUE(bytes) << error;
      EXPECT_EQ(*bytes, c.bytes);
    }
  }
  for (const char* bad : {"", "be24", "bcd:0", "bcd:11", "ascii", "ascii:0", "ascii:21", "ascii:+4", "ascii:4x"}) {
    std::string error;
    EXPECT_FALSE(ParseSerialFormat(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(SerialNumber, PlacedOnlyWhollyInsideTheRangeAndThePart) {
  struct Case {
    std::int64_t at;
    const char* refusal;  // nullptr: placed
  } const cases[] = {
      {0x100, nullptr}, {0x11E, nullptr}, {0xFF, "outside the range"}, {0x11F, "outside the range"},
      {0x1FE, "outside the range"}, {0x1FF, "does not fit in the part"}, {-1, "does not fit in the part"},
  };
  const Bytes serial{0xA1, 0xB2};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.at);
    Bytes data(0x20, 0xCC);  // the range 0x100..0x11F of a 512-byte part
    std::string error;
    const bool placed = PlaceSerial(data, 0x100, 0x200, c.at, serial, &error);
    EXPECT_EQ(placed, c.refusal == nullptr) << error;
    if (c.refusal) {
      EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
      EXPECT_EQ(data, Bytes(0x20, 0xCC));
    } else {
      EXPECT_EQ(data[c.at - 0x100], 0xA1);
      EXPECT_EQ(data[c.at - 0x100 + 1], 0xB2);
    }
  }
}

TEST(SerialState, DamageIsFoundWhereverItIs) {
  const std::string good = FormatSerialState({1000, 1005});
  const auto parsed = ParseSerialState(good, nullptr);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->first, 1000u);
  EXPECT_EQ(parsed->next, 1005u);
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string s = good;
    return s.replace(s.find(from), from.size(), to);
  };
  const std::string damaged[] = {
      "",
      good.substr(0, good.size() - 1),  // cut inside the checksum line
      good.substr(0, good.find("crc32")),
      replaced("next 1005", "next 1006"),      // edited without a new checksum
      replaced("next 1005", "next 01005"),
      good + "next 2000\n",
      "\x7f" "ELF\x02\x01\x01" + good,
      replaced("\n", "\r\n"),
      FormatSerialState({1005, 1000}),          // next below the first: never written by us
  };
  for (const std::string& text : damaged) {
    std::string why;
    EXPECT_FALSE(ParseSerialState(text, &why)) << text;
    EXPECT_FALSE(why.empty());
  }
}

TEST(SerialState, MissingStartsOnlyWhenAskedAndLocksOutOtherRuns) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  SerialStateRequest request{dir.File("batch.state"), std::nullopt, std::chrono::milliseconds(50), nullptr};
  SerialStateError code = SerialStateError::kNone;
  std::string error;
  EXPECT_FALSE(SerialState::Open(request, &code, &error));
  EXPECT_EQ(code, SerialStateError::kMissing);

  request.start = 40;
  {
    auto state = SerialState::Open(request, &code, &error);
    ASSERT_TRUE(state) << error;
    EXPECT_EQ(state->Next(), 40u);
    EXPECT_EQ(ReadFileText(request.path), FormatSerialState({40, 40}));  // stored before any part
    // A second run waits for the first and then gives up, within its wait.
    EXPECT_FALSE(SerialState::Open(request, &code, &error));
    EXPECT_EQ(code, SerialStateError::kBusy);
    ASSERT_TRUE(state->Advance(5, &code, &error)) << error;
  }
  EXPECT_EQ(ReadFileText(request.path), FormatSerialState({40, 45}));
  EXPECT_EQ(dir.Entries().size(), 2u);  // the state and its lock; no temporary left

  request.start = 41;
  EXPECT_FALSE(SerialState::Open(request, &code, &error));
  EXPECT_EQ(code, SerialStateError::kOtherSeries);
  request.start.reset();
  auto state = SerialState::Open(request, &code, &error);
  ASSERT_TRUE(state) << error;
  EXPECT_EQ(state->Next(), 45u);
  EXPECT_FALSE(state->Advance(UINT64_MAX, &code, &error));
  EXPECT_EQ(code, SerialStateError::kExhausted);
  state.reset();

  WriteFileText(request.path, FormatSerialState({40, 45}).substr(0, 30));
  EXPECT_FALSE(SerialState::Open(request, &code, &error));
  EXPECT_EQ(code, SerialStateError::kDamaged);
  EXPECT_NE(error.find("damaged"), std::string::npos) << error;
}

RunRecord Sample() {
  RunRecord r;
  r.time = std::chrono::sys_days{std::chrono::year{2026} / 3 / 1} + std::chrono::hours(9) + std::chrono::minutes(5) +
           std::chrono::seconds(7);
  r.model = "QMX-71C";
  r.port = "/dev/ttyACM0";
  r.part = "24C02";
  r.file = "lot \"7\",\tA\\\xff.hex";
  r.fileCrc32 = 0xCBF43926u;  // CRC-32 of "123456789"
  r.serial = 1005;
  r.failedStep = "verify";
  r.firstDifference = 0x1F;
  r.detail = "verify: 1 byte(s) differ";
  r.duration = std::chrono::milliseconds(2345);
  return r;
}

TEST(RunLog, CsvQuotesAndJsonEscapes) {
  const RunRecord r = Sample();
  EXPECT_EQ(CsvLine(r),
            "2026-03-01T09:05:07Z,QMX-71C,/dev/ttyACM0,24C02,\"lot \"\"7\"\", A\\\xff.hex\",CBF43926,1005,failed,"
            "verify,0x001F,2.345,verify: 1 byte(s) differ\n");
  EXPECT_EQ(JsonLine(r),
            "{\"time\":\"2026-03-01T09:05:07Z\",\"model\":\"QMX-71C\",\"port\":\"/dev/ttyACM0\",\"part\":\"24C02\","
            "\"file\":\"lot \\\"7\\\",\\u0009A\\\\\\ufffd.hex\",\"file_crc32\":\"CBF43926\",\"serial\":1005,"
            "\"result\":\"failed\",\"failed_step\":\"verify\",\"first_difference\":\"0x001F\",\"duration_s\":2.345,"
            "\"detail\":\"verify: 1 byte(s) differ\"}\n");
  RunRecord passed;
  passed.time = r.time;
  passed.passed = true;
  EXPECT_EQ(JsonLine(passed).find("\"file_crc32\":null,\"serial\":null,\"result\":\"passed\",\"failed_step\":null,"
                                  "\"first_difference\":null"),
            JsonLine(passed).find("\"file_crc32\""));
}

// Splits CSV text into records of fields (RFC 4180), as a spreadsheet reads it.
std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      rows.back().back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ',') {
      rows.back().emplace_back();
    } else if (!quoted && c == '\n') {
      rows.emplace_back(1);
    } else {
      rows.back().back() += c;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

// A run that died in the middle of its line (an open quote, or half an
// object): every earlier line stays as it was, the next one reads whole.
TEST(RunLog, ALineCutByACrashLeavesTheNextOneReadable) {
  ScratchDir dir;
  ASSERT_TRUE(dir.Ok());
  const RunRecord r = Sample();
  for (RunLogFormat format : {RunLogFormat::kCsv, RunLogFormat::kJsonLines}) {
    const std::string path = dir.File(format == RunLogFormat::kCsv ? "runs.csv" : "runs.jsonl");
    std::string error;
    auto log = RunLog::Open(path, format, &error);
    ASSERT_TRUE(log) << error;
    ASSERT_TRUE(log->Append(r, &error)) << error;
    const std::string whole = ReadFileText(path);
    const std::string line = format == RunLogFormat::kCsv ? CsvLine(r) : JsonLine(r);
    EXPECT_EQ(whole, (format == RunLogFormat::kCsv ? CsvHeader() : "") + line);
    WriteFileText(path, whole + line.substr(0, line.find("lot") + 4));
    ASSERT_TRUE(log->Append(r, &error)) << error;
    const std::string after = ReadFileText(path);
    EXPECT_EQ(after.substr(0, whole.size()), whole);
    EXPECT_EQ(after.substr(after.size() - line.size() - 1), "\n" + line);
    if (format == RunLogFormat::kCsv) {
      const auto rows = ReadCsv(after);
      ASSERT_EQ(rows.size(), 4u);  // header, first run, the cut line, the new run
      EXPECT_EQ(rows[3], rows[1]);
      EXPECT_EQ(rows[3].size(), 12u);
      EXPECT_EQ(rows[3][4], "lot \"7\", A\\\xff.hex");
    }
  }
}

}  // namespace
}  // namespace qmx::production
