#include "image/intel_hex.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "image/file_io.h"
#include "image/hex_digits.h"
#include "image/text_lines.h"

namespace qmx {

namespace {

// Longest line accepted; anything longer is refused rather than read in pieces.
constexpr std::size_t kMaxLineLength = 255;
// A full image as HEX is under 400 KB; this leaves room for comments and padding
// while keeping a wrong file from filling memory.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;
// Count, two address bytes and type before the data, checksum after it.
constexpr int kRecordOverhead = 5;

enum RecordType : std::uint8_t {
  kData = 0x00,
  kEndOfFile = 0x01,
  kExtendedSegmentAddress = 0x02,
  kExtendedLinearAddress = 0x04,
};

// All bytes of one record, count first and checksum last.
struct Record {
  std::array<std::uint8_t, 255 + kRecordOverhead> bytes{};
  int count = 0;

  int Address() const { return bytes[1] << 8 | bytes[2]; }
  int Type() const { return bytes[3]; }
  const std::uint8_t* Data() const { return bytes.data() + 4; }
  bool ChecksumOk() const {
    unsigned sum = 0;
    for (int i = 0; i < count + kRecordOverhead; ++i) sum += bytes[static_cast<std::size_t>(i)];
    return (sum & 0xFF) == 0;
  }
};

// False when the line is malformed: a non-hex digit in a field, or too short for its count.
bool DecodeRecord(std::string_view line, Record& record) {
  const int count = HexByte(line, 1);
  if (count < 0) return false;
  // HexByte refuses positions past the end, so a line too short for its count fails here too.
  const int total = count + kRecordOverhead;
  for (int i = 0; i < total; ++i) {
    const int b = HexByte(line, static_cast<std::size_t>(1 + 2 * i));
    if (b < 0) return false;
    record.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b);
  }
  record.count = count;
  return true;
}

// Bytes as digits with the checksum that makes them sum to 0, then the line end.
void AppendRecord(std::string& out, const std::uint8_t* head, int headLength, const std::uint8_t* data, int length) {
  unsigned sum = 0;
  out += ':';
  for (int i = 0; i < headLength; ++i) {
    AppendHexByte(out, head[i]);
    sum += head[i];
  }
  for (int i = 0; i < length; ++i) {
    AppendHexByte(out, data[i]);
    sum += data[i];
  }
  AppendHexByte(out, (0x100 - (sum & 0xFF)) & 0xFF);
  out += "\r\n";
}

}  // namespace

bool ParseIntelHex(std::string_view text, MemoryImage& image, IntelHexStats* stats) {
  IntelHexStats seen;
  std::int64_t base = 0;
  Record record;
  bool ended = false;
  TextLines lines(text);
  std::string_view line;
  while (!ended && lines.Next(&line)) {
    if (line.size() > kMaxLineLength) {
      seen.lineTooLong = true;
      break;
    }
    line = TrimRecordLine(line);
    if (line.empty()) continue;
    if (line.front() != ':') {
      ++seen.ignoredLines;
      continue;
    }
    if (!DecodeRecord(line, record)) {
      seen.checksumError = true;
      continue;
    }
    // A wrong checksum fails the load, but the bytes are kept for the caller to look at.
    if (!record.ChecksumOk()) seen.checksumError = true;

    const int count = record.count;
    const std::uint8_t* data = record.Data();
    switch (record.Type()) {
      case kData:
        seen.dataBytes += count;
        for (int i = 0; i < count; ++i) {
          const std::int64_t at = base + record.Address() + i;
          seen.highestAddress = std::max(seen.highestAddress, at);
          if (at < image.Size()) {
            image.Data()[at] = data[i];
          } else {
            ++seen.droppedBytes;
          }
        }
        break;
      case kEndOfFile:
        ended = true;
        seen.endRecord = true;
        break;
      // Without a 16-bit value there is no base to take; such a record changes nothing.
      case kExtendedSegmentAddress:
        if (count >= 2) base = static_cast<std::int64_t>(data[0] << 8 | data[1]) * 16;
        break;
      case kExtendedLinearAddress:
        if (count >= 2) base = static_cast<std::int64_t>(data[0] << 8 | data[1]) << 16;
        break;
      default:
        break;
    }
  }
  if (stats != nullptr) *stats = seen;
  return !seen.checksumError && !seen.lineTooLong;
}

bool LoadIntelHex(const std::string& path, MemoryImage& image, IntelHexStats* stats) {
  const FileContents file = ReadWholeFile(path, kMaxFileBytes);
  if (file.status != FileReadStatus::kOk) {
    if (stats != nullptr) *stats = IntelHexStats{};
    return false;
  }
  const std::string_view text(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
  return ParseIntelHex(text, image, stats);
}

std::string FormatIntelHex(const std::uint8_t* data, std::int32_t size) { return FormatIntelHexRange(data, 0, size); }

std::string FormatIntelHexRange(const std::uint8_t* data, std::int32_t base, std::int32_t length) {
  std::string out;
  // 16 data bytes take 45 characters with the line end.
  if (length > 0) out.reserve(static_cast<std::size_t>(length / 16 + 2) * 45 + 64);
  // Segment records, not linear ones, so readers that only know 16-bit segments still place the upper half.
  std::int32_t segment = 0;
  const auto placeSegment = [&](std::int32_t o) {
    if ((o & 0xF0000) / 16 == segment) return;
    segment = (o & 0xF0000) / 16;
    const std::uint8_t value[] = {static_cast<std::uint8_t>(segment >> 8), static_cast<std::uint8_t>(segment)};
    const std::uint8_t head[] = {2, 0, 0, kExtendedSegmentAddress};
    AppendRecord(out, head, 4, value, 2);
  };
  const std::int32_t end = base + std::max(length, std::int32_t{0});
  if (base < end) placeSegment(base);
  for (std::int32_t o = base; o < end;) {
    const std::int32_t low = o & 0xFFFF;
    // Never across a 64 KiB boundary: the next record needs the next segment.
    const std::int32_t n = std::min({std::int32_t{16}, 0x10000 - low, end - o});
    const std::uint8_t head[] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(low >> 8),
                                 static_cast<std::uint8_t>(low), kData};
    AppendRecord(out, head, 4, data + (o - base), n);
    o += n;
    if (o < end) placeSegment(o);
  }
  out += ":00000001FF\r\n";
  return out;
}

bool SaveIntelHex(const MemoryImage& image, const std::string& path) {
  return WriteFileReplacing(path, FormatIntelHex(image.Data(), image.Size()));
}

}  // namespace qmx
