#include "image/srecord.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "image/file_io.h"
#include "image/hex_digits.h"
#include "image/text_lines.h"

namespace qmx {

namespace {

// 'S', the type, the count and its 255 bytes as digits: the longest record there can be.
constexpr std::size_t kMaxLineLength = 4 + 2 * 255;
// A full image as S-records is under 400 KB; room for comments, no room for a wrong file to fill memory.
constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;
constexpr int kBytesPerRecord = 16;

// Address bytes of each record type; 0 for the reserved S4.
constexpr std::array<int, 10> kAddressBytes = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

// One decoded record: its type, address and data, checksum verified.
struct Record {
  int type = 0;
  std::uint32_t address = 0;
  std::array<std::uint8_t, 255> data{};
  int length = 0;
};

// False when the line is no good record: an unknown type, a non-hex digit,
// a count too small for the address or not matching the line, or a wrong checksum.
bool DecodeRecord(std::string_view line, Record& record) {
  if (line.size() < 4 || line[1] < '0' || line[1] > '9') return false;
  const int type = line[1] - '0';
  const int addressBytes = kAddressBytes[static_cast<std::size_t>(type)];
  const int count = HexByte(line, 2);
  if (addressBytes == 0 || count < addressBytes + 1) return false;
  // Characters after the count are exactly the count's bytes: a cut or padded record is not trusted.
  if (line.size() != 4 + 2 * static_cast<std::size_t>(count)) return false;
  unsigned sum = static_cast<unsigned>(count);
  std::uint32_t address = 0;
  int length = 0;
  for (int i = 0; i < count; ++i) {
    const int b = HexByte(line, 4 + 2 * static_cast<std::size_t>(i));
    if (b < 0) return false;
    sum += static_cast<unsigned>(b);
    if (i < addressBytes) {
      address = address << 8 | static_cast<std::uint32_t>(b);
    } else if (i < count - 1) {
      record.data[static_cast<std::size_t>(length++)] = static_cast<std::uint8_t>(b);
    }
  }
  // Count, address, data and checksum add up to 0xFF in their low byte.
  if ((sum & 0xFF) != 0xFF) return false;
  record.type = type;
  record.address = address;
  record.length = length;
  return true;
}

// One record of the type with its count, address, data and checksum, then the line end.
void AppendRecord(std::string& out, int type, std::uint32_t address, const std::uint8_t* data, int length) {
  const int addressBytes = kAddressBytes[static_cast<std::size_t>(type)];
  const unsigned count = static_cast<unsigned>(addressBytes + length + 1);
  unsigned sum = count;
  out += 'S';
  out += static_cast<char>('0' + type);
  AppendHexByte(out, count);
  for (int i = addressBytes - 1; i >= 0; --i) {
    const unsigned b = (address >> (8 * i)) & 0xFF;
    AppendHexByte(out, b);
    sum += b;
  }
  for (int i = 0; i < length; ++i) {
    AppendHexByte(out, data[i]);
    sum += data[i];
  }
  AppendHexByte(out, ~sum & 0xFF);
  out += "\r\n";
}

// The line without the blanks around it.
void StoreData(const Record& record, MemoryImage& image, SRecordStats& seen) {
  ++seen.dataRecords;
  seen.dataBytes += record.length;
  for (int i = 0; i < record.length; ++i) {
    const std::int64_t at = static_cast<std::int64_t>(record.address) + i;
    seen.highestAddress = std::max(seen.highestAddress, at);
    if (at < image.Size()) {
      image.Data()[at] = record.data[static_cast<std::size_t>(i)];
    } else {
      ++seen.droppedBytes;
    }
  }
}

}  // namespace

bool ParseSRecord(std::string_view text, MemoryImage& image, SRecordStats* stats) {
  SRecordStats seen;
  Record record;
  TextLines lines(text);
  std::string_view line;
  while (!seen.endRecord && lines.Next(&line)) {
    // Refused rather than read in pieces, as with Intel HEX.
    if (line.size() > kMaxLineLength) {
      seen.lineTooLong = true;
      break;
    }
    line = TrimRecordLine(line);
    if (line.empty()) continue;
    if (line.front() != 'S') {
      ++seen.ignoredLines;
      continue;
    }
    if (!DecodeRecord(line, record)) {
      seen.checksumError = true;
      continue;
    }
    switch (record.type) {
      case 1:
      case 2:
      case 3: StoreData(record, image, seen); break;
      // Counts are optional; one that is there must agree, in the width it has.
      case 5:
      case 6: {
        const std::int64_t mask = record.type == 5 ? 0xFFFF : 0xFFFFFF;
        seen.countRecord = true;
        if ((seen.dataRecords & mask) != record.address) seen.countMismatch = true;
        break;
      }
      case 7:
      case 8:
      case 9: seen.endRecord = true; break;
      default: break;  // S0: the header names the file, not data
    }
  }
  if (stats != nullptr) *stats = seen;
  return !seen.checksumError && !seen.countMismatch && !seen.lineTooLong;
}

bool LoadSRecord(const std::string& path, MemoryImage& image, SRecordStats* stats) {
  const FileContents file = ReadWholeFile(path, kMaxFileBytes);
  if (file.status != FileReadStatus::kOk) {
    if (stats != nullptr) *stats = SRecordStats{};
    return false;
  }
  const std::string_view text(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size());
  return ParseSRecord(text, image, stats);
}

std::string FormatSRecordRange(const std::uint8_t* data, std::int32_t base, std::int32_t length) {
  length = std::max(length, std::int32_t{0});
  const std::int64_t last = static_cast<std::int64_t>(base) + length - 1;
  const bool wide = last > 0xFFFF;
  const int dataType = wide ? 3 : 1;
  std::string out;
  // 16 data bytes take 46 characters as S1, 50 as S3, with the line end.
  out.reserve(static_cast<std::size_t>(length / kBytesPerRecord + 4) * 50);
  AppendRecord(out, 0, 0, nullptr, 0);
  std::uint32_t records = 0;
  for (std::int32_t o = 0; o < length; o += kBytesPerRecord) {
    const int n = std::min(kBytesPerRecord, length - o);
    AppendRecord(out, dataType, static_cast<std::uint32_t>(base + o), data + o, n);
    ++records;
  }
  if (records <= 0xFFFF) {
    AppendRecord(out, 5, records, nullptr, 0);
  } else {
    AppendRecord(out, 6, records, nullptr, 0);
  }
  AppendRecord(out, wide ? 7 : 9, 0, nullptr, 0);
  return out;
}

bool SaveSRecord(const MemoryImage& image, const std::string& path) {
  return WriteFileReplacing(path, FormatSRecordRange(image.Data(), 0, image.Size()));
}

bool LooksLikeSRecord(std::string_view text) {
  TextLines lines(text);
  std::string_view line;
  while (lines.Next(&line)) {
    line = TrimRecordLine(line);
    if (line.empty()) continue;
    if (line.front() == ':') return false;
    if (line.front() == 'S') return line.size() > 1 && line[1] >= '0' && line[1] <= '9';
  }
  return false;
}

}  // namespace qmx
