#include "cli/qmx71_reports.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/json_out.h"
#include "cli/qmx71_files.h"
#include "core/catalogue/catalogue.h"
#include "image/digests.h"
#include "library/qmx71a.h"

namespace qmx::tool {

namespace {

void PrintJson(const JsonOut& json) { std::printf("%s\n", json.Text().c_str()); }

// --- info ---------------------------------------------------------------

struct BusReport {
  int family = 0;
  std::optional<std::int32_t> clockHz;  // none: no answer
  std::int32_t check = 0;               // QmxCheck: 0 no part, Microwire: address bits
};

void PrintInfoText(const std::string& port, const char* model, const std::vector<int>& families,
                   std::int32_t firmware, std::int32_t supply, const std::vector<BusReport>& buses) {
  const bool microwire = families.front() == qmx::kFamilyMicrowire;
  const bool spi = families.back() == qmx::kFamilySpi;
  std::printf("port:       %s\n", port.c_str());
  std::printf("model:      %s (families: %s)\n", model,
              microwire && spi ? "Microwire, I2C, SPI" : microwire ? "Microwire, I2C" : spi ? "SPI, I2C" : "I2C");
  std::printf("firmware:   %s\n", firmware ? VersionText(firmware).c_str() : "no answer");
  if (supply > 0) {
    std::printf("supply:     %d.%02d V\n", static_cast<int>(supply / 100), static_cast<int>(supply % 100));
  } else {
    std::printf("supply:     no reading\n");
  }
  for (const BusReport& bus : buses) {
    // QmxGetFreq gives 0 both for a clock of 0 and for no answer; a
    // programmer that still answers did send the 0.
    const std::string clock = !bus.clockHz        ? "no answer"
                              : *bus.clockHz > 0 ? std::to_string(*bus.clockHz) + " Hz"
                                                 : "0 Hz (not set)";
    std::string present = bus.check == 0 ? "no part" : "part present";
    if (bus.check != 0 && bus.family == qmx::kFamilyMicrowire)
      present += " (" + std::to_string(bus.check) + " address bits)";
    std::printf("%-10s  clock %s, %s\n", (std::string(FamilyName(bus.family)) + ":").c_str(), clock.c_str(),
                present.c_str());
  }
}

void PrintInfoJson(const std::string& port, const char* model, const std::vector<int>& families,
                   std::int32_t firmware, std::int32_t supply, const std::vector<BusReport>& buses) {
  JsonOut json;
  json.BeginObject().Key("port").String(port).Key("model").String(model).Key("families").BeginArray();
  for (int family : families) json.String(FamilyName(family));
  json.EndArray().Key("firmware");
  firmware ? json.String(VersionText(firmware)) : json.Null();
  json.Key("supplyCentivolts");
  supply > 0 ? json.Int(supply) : json.Null();
  json.Key("buses").BeginArray();
  for (const BusReport& bus : buses) {
    json.BeginObject().Key("family").String(FamilyName(bus.family)).Key("clockHz");
    bus.clockHz ? json.Int(*bus.clockHz) : json.Null();
    json.Key("partPresent").Bool(bus.check != 0);
    if (bus.family == qmx::kFamilyMicrowire && bus.check != 0) json.Key("addressBits").Int(bus.check);
    json.EndObject();
  }
  PrintJson(json.EndArray().EndObject());
}

// --- diff ---------------------------------------------------------------

// One side of a comparison: bytes over the compared range, and which of them it names.
struct Side {
  std::string kind;  // part | file
  std::string name;
  Bytes bytes;
  std::vector<bool> present;
};

struct DiffRange {
  std::int64_t start = 0;  // offset into the compared range
  std::int64_t length = 0;
};

bool Differs(const Side& a, const Side& b, std::size_t i) {
  return a.present[i] != b.present[i] || (a.present[i] && a.bytes[i] != b.bytes[i]);
}

std::vector<DiffRange> DifferingRanges(const Side& a, const Side& b) {
  std::vector<DiffRange> ranges;
  for (std::size_t i = 0; i < a.bytes.size(); ++i) {
    if (!Differs(a, b, i)) continue;
    if (!ranges.empty() && ranges.back().start + ranges.back().length == static_cast<std::int64_t>(i)) {
      ++ranges.back().length;
    } else {
      ranges.push_back({static_cast<std::int64_t>(i), 1});
    }
  }
  return ranges;
}

std::string ByteText(const Side& side, std::size_t i) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", side.bytes[i]);
  return side.present[i] ? text : "--";
}

void PrintDiffText(const Side& a, const Side& b, const char* labelA, const char* labelB, const Range& range,
                   const std::vector<DiffRange>& ranges) {
  const int digits = range.start + range.length > 0x10000 ? 5 : 4;
  for (const DiffRange& r : ranges) {
    const std::int64_t first = range.start + r.start;
    std::printf("%s..%s (%lld byte%s)\n", Hex(first, digits).c_str(), Hex(first + r.length - 1, digits).c_str(),
                static_cast<long long>(r.length), r.length == 1 ? "" : "s");
    // Sixteen bytes a line, the two sides one above the other.
    for (std::int64_t at = r.start; at < r.start + r.length; at += 16) {
      const std::int64_t end = std::min(at + 16, r.start + r.length);
      std::string lineA, lineB;
      for (std::int64_t i = at; i < end; ++i) {
        // Piece by piece: GCC 12 at -O3 takes " " + a temporary for an overlapping copy (-Wrestrict).
        (lineA += ' ') += ByteText(a, static_cast<std::size_t>(i));
        (lineB += ' ') += ByteText(b, static_cast<std::size_t>(i));
      }
      std::printf("  %s %-5s%s\n", Hex(range.start + at, digits).c_str(), labelA, lineA.c_str());
      std::printf("  %*s %-5s%s\n", digits + 2, "", labelB, lineB.c_str());
    }
  }
}

void DiffSideJson(JsonOut& json, const Side& side) {
  json.BeginObject().Key("kind").String(side.kind).Key("name").String(side.name).EndObject();
}

void PrintDiffJson(const Side& a, const Side& b, const Range& range, const std::vector<DiffRange>& ranges,
                   std::int64_t differing) {
  JsonOut json;
  json.BeginObject().Key("left");
  DiffSideJson(json, a);
  json.Key("right");
  DiffSideJson(json, b);
  json.Key("start").Int(range.start).Key("length").Int(range.length);
  json.Key("same").Bool(ranges.empty()).Key("differingBytes").Int(differing).Key("ranges").BeginArray();
  for (const DiffRange& r : ranges) {
    json.BeginObject().Key("start").Int(range.start + r.start).Key("length").Int(r.length);
    for (const Side* side : {&a, &b}) {
      json.Key(side == &a ? "left" : "right").BeginArray();
      for (std::int64_t i = r.start; i < r.start + r.length; ++i) {
        const auto at = static_cast<std::size_t>(i);
        side->present[at] ? json.Int(side->bytes[at]) : json.Null();
      }
      json.EndArray();
    }
    json.EndObject();
  }
  PrintJson(json.EndArray().EndObject());
}

// Two files: the range is --start/--length, else from 0 to the end of the longer one.
Range FileRange(const Options& o, const FileImage& a, const FileImage& b) {
  const std::int64_t most = MemoryImage::kCapacity;
  // Checked one by one: a start and length near the limits of their type must not add up past it.
  if (o.start < 0 || o.start > most || o.length > most)
    throw Failure(kUsage, "the range lies beyond " + std::to_string(most) + " bytes");
  const std::int64_t end = o.length >= 0 ? o.start + o.length : std::max({a.extent, b.extent, o.start});
  if (end > most) throw Failure(kUsage, "the range lies beyond " + std::to_string(most) + " bytes");
  return {static_cast<std::int32_t>(o.start), static_cast<std::int32_t>(end - o.start)};
}

Side FileSide(const std::string& path, const FileImage& f, const Range& range) {
  const auto from = static_cast<std::ptrdiff_t>(range.start);
  const auto to = from + range.length;
  return {"file", path, Bytes(f.bytes.begin() + from, f.bytes.begin() + to),
          std::vector<bool>(f.present.begin() + from, f.present.begin() + to)};
}

}  // namespace

int CmdInfo(const Options& o) {
  Session session;
  Connect(o, qmx::kFamilyI2c, 0);  // every model takes I2C
  const std::string port = o.port.empty() ? DiscoveredPort() : o.port;
  const bool microwire = QmxMode(qmx::kFamilyMicrowire, 0, o.writeTimeMs) == 1;
  const bool spi = QmxMode(qmx::kFamilySpi, 0, o.writeTimeMs) == 1;
  const char* model = ModelName(microwire, spi);
  std::vector<int> families{qmx::kFamilyI2c};
  if (microwire) families.insert(families.begin(), qmx::kFamilyMicrowire);
  if (spi) families.push_back(qmx::kFamilySpi);
  const std::int32_t firmware = QmxFrmVer();
  const std::int32_t supply = QmxVpp();
  std::vector<int> checked = families;
  if (!o.part.empty()) checked = {ChoosePart(o).family};
  std::vector<BusReport> buses;
  for (int family : checked) {
    if (QmxMode(family, 0, o.writeTimeMs) != 1) continue;
    if (o.clockHz > 0) QmxSetFreq(o.clockHz);
    BusReport bus;
    bus.family = family;
    const std::int32_t hz = QmxGetFreq();
    if (hz > 0 || QmxFrmVer() != 0) bus.clockHz = hz;
    bus.check = QmxCheck();
    buses.push_back(bus);
  }
  if (o.json) {
    PrintInfoJson(port, model, families, firmware, supply, buses);
  } else {
    PrintInfoText(port, model, families, firmware, supply, buses);
  }
  return kOk;
}

int CmdChecksum(const Options& o) {
  const PartChoice part = ChoosePart(o);
  const Range range = ChooseRange(o, part, o.length);
  Session session;
  ConnectForPart(o, part);
  const Bytes data = ReadRange(o, part, range, "checksum");
  char text[16];
  std::string value;
  if (o.algo == "crc32") {
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(qmx::Crc32(data.data(), data.size())));
    value = text;
  } else if (o.algo == "sha256") {
    value = qmx::DigestHex(qmx::Sha256(data.data(), data.size()));
  } else {
    std::uint32_t sum = 0;
    for (std::uint8_t b : data) sum += b;
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(sum & 0xFFFF));
    value = text;
    if (!o.quiet && !o.json)
      std::fprintf(stderr, "sum of %s %s: %u\n", part.name.c_str(), RangeText(range).c_str(), sum);
  }
  if (!o.json) {
    std::printf("%s\n", value.c_str());
    return kOk;
  }
  JsonOut json;
  json.BeginObject().Key("part").String(part.name).Key("start").Int(range.start).Key("length").Int(range.length);
  PrintJson(json.Key("algorithm").String(o.algo).Key("value").String(value).EndObject());
  return kOk;
}

int VerifyJson(const Options& o, const PartChoice& part, const Expected& want) {
  const Bytes got = ReadRange(o, part, want.range, "verify");
  std::int64_t differing = 0;
  std::size_t first = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != want.bytes[i] && differing++ == 0) first = i;
  }
  JsonOut json;
  json.BeginObject().Key("part").String(part.name).Key("file").String(o.file);
  json.Key("start").Int(want.range.start).Key("length").Int(want.range.length);
  json.Key("match").Bool(differing == 0).Key("differingBytes").Int(differing).Key("firstDifference");
  if (differing == 0) {
    json.Null();
  } else {
    json.BeginObject().Key("address").Int(want.range.start + static_cast<std::int64_t>(first));
    json.Key("part").Int(got[first]).Key("file").Int(want.bytes[first]).EndObject();
  }
  PrintJson(json.EndObject());
  return differing == 0 ? kOk : kMismatch;
}

// diff PART FILE reads the part and compares what verify compares; diff FILE
// FILE needs no programmer. A first name the catalogue knows is the part.
int CmdDiff(const Options& o) {
  std::string error;
  const bool isPart = qmx::cli::ChoosePart(o.part, qmx::cli::Organisation::kDefault, &error).has_value();
  if (!isPart && !std::filesystem::exists(o.part))
    throw Failure(kUsage, o.part + " is neither a part (qmx71 parts) nor an existing file");
  Side a, b;
  Range range;
  if (isPart) {
    const PartChoice part = ChoosePart(o);
    const Expected want = LoadExpected(o, part);
    range = want.range;
    const std::vector<bool> all(static_cast<std::size_t>(range.length), true);
    b = {"file", o.file, want.bytes, all};
    Session session;
    ConnectForPart(o, part);
    a = {"part", part.name, ReadRange(o, part, range, "diff"), all};
  } else {
    const FileImage left = LoadFileImage(o, o.part);
    const FileImage right = LoadFileImage(o, o.file);
    range = FileRange(o, left, right);
    if (range.length == 0) throw Failure(kUsage, "nothing to compare: both files or the range are empty");
    a = FileSide(o.part, left, range);
    b = FileSide(o.file, right, range);
  }
  const std::vector<DiffRange> ranges = DifferingRanges(a, b);
  std::int64_t differing = 0;
  for (const DiffRange& r : ranges) differing += r.length;
  if (o.json) {
    PrintDiffJson(a, b, range, ranges, differing);
  } else {
    PrintDiffText(a, b, isPart ? "part" : "file1", isPart ? "file" : "file2", range, ranges);
    if (ranges.empty()) Say(o, "diff: " + RangeText(range) + " the same");
  }
  if (!ranges.empty() && !o.quiet)
    std::fprintf(stderr, "diff: %lld byte(s) differ in %zu range(s) within %s\n", static_cast<long long>(differing),
                 ranges.size(), RangeText(range).c_str());
  return ranges.empty() ? kOk : kMismatch;
}

}  // namespace qmx::tool
