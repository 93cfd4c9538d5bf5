#include "cli/qmx71_files.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/file_io.h"
#include "image/intel_hex.h"
#include "image/srecord.h"

namespace qmx::tool {

namespace {

// The two readers' findings in one shape.
struct TextStats {
  bool ok = false;
  std::int64_t dataBytes = 0;
  std::int64_t droppedBytes = 0;
  std::int64_t highestAddress = -1;
  bool damaged = false;
  bool countMismatch = false;
  bool lineTooLong = false;
  bool terminated = false;  // an end record, or an S-record count that closes the file
  std::int64_t ignoredLines = 0;
};

TextStats ReadText(const std::string& path, const std::string& format, MemoryImage& image) {
  if (format == "srec") {
    SRecordStats s;
    const bool ok = LoadSRecord(path, image, &s);
    return {ok, s.dataBytes, s.droppedBytes, s.highestAddress, s.checksumError, s.countMismatch, s.lineTooLong,
            s.endRecord || s.countRecord, s.ignoredLines};
  }
  IntelHexStats s;
  const bool ok = LoadIntelHex(path, image, &s);
  return {ok, s.dataBytes, s.droppedBytes, s.highestAddress, s.checksumError, false, s.lineTooLong, s.endRecord,
          s.ignoredLines};
}

}  // namespace

TextLoad LoadTextImage(const std::string& path, const std::string& format, MemoryImage& image, bool quiet) {
  const bool srec = format == "srec";
  const TextStats t = ReadText(path, format, image);
  if (t.lineTooLong)
    throw Failure(kUsage, path + ": a line is longer than " + (srec ? "514" : "255") + " characters");
  if (t.damaged) throw Failure(kUsage, path + ": a record is damaged (bad checksum or digits)");
  if (t.countMismatch) throw Failure(kUsage, path + ": the S5/S6 record count does not match the data records");
  if (!t.ok) throw Failure(kUsage, "cannot read " + path);
  // Without a single data record the whole part would be written as 0xFF: an
  // empty file, a file in another format, or text that only looks like one.
  if (t.dataBytes == 0)
    throw Failure(kUsage, path + (srec ? " holds no S-record data records" : " holds no Intel HEX data records"));
  if (!quiet && !t.terminated)
    std::fprintf(stderr, "qmx71: warning: %s has no %s; it may be cut short\n", path.c_str(),
                 srec ? "count or end record" : "end record");
  if (!quiet && t.ignoredLines > 0)
    std::fprintf(stderr, "qmx71: warning: %s: %lld line(s) that are not records were ignored\n", path.c_str(),
                 static_cast<long long>(t.ignoredLines));
  return {t.droppedBytes, t.highestAddress};
}

FileImage LoadFileImage(const Options& o, const std::string& path) {
  const std::string format = FormatOf(o, path);
  constexpr std::int32_t kMost = MemoryImage::kCapacity;
  FileImage f;
  if (format == "bin") {
    const FileContents file = ReadWholeFile(path, kMost);
    if (file.status == FileReadStatus::kCannotRead) throw Failure(kUsage, "cannot read " + path);
    if (file.status == FileReadStatus::kTooLong)
      throw Failure(kUsage, path + " is longer than " + std::to_string(kMost) + " bytes");
    f.bytes = file.bytes;
    f.bytes.resize(kMost, 0xFF);
    f.extent = static_cast<std::int64_t>(file.bytes.size());
    f.present.assign(kMost, false);
    std::fill(f.present.begin(), f.present.begin() + f.extent, true);
    return f;
  }
  // Loaded over 0xFF and over 0x00: an address the file names holds the same byte in both.
  MemoryImage ones, zeros;
  ones.SetSize(kMost);
  zeros.SetSize(kMost);
  std::memset(zeros.Data(), 0, kMost);
  const TextLoad load = LoadTextImage(path, format, ones);
  LoadTextImage(path, format, zeros, /*quiet=*/true);
  if (load.droppedBytes > 0)
    throw Failure(kUsage, path + " holds data up to " + Hex(load.highestAddress, 5) + ", beyond " +
                              std::to_string(kMost) + " bytes");
  f.bytes.assign(ones.Data(), ones.Data() + kMost);
  f.present.resize(kMost);
  for (std::int32_t i = 0; i < kMost; ++i) f.present[static_cast<std::size_t>(i)] = ones.Data()[i] == zeros.Data()[i];
  f.extent = load.highestAddress + 1;
  return f;
}

void SaveRange(const std::string& path, const std::string& format, const Range& range, const Bytes& data) {
  bool ok = false;
  if (format == "bin") {
    ok = WriteFileReplacing(path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  } else if (format == "srec") {
    ok = WriteFileReplacing(path, FormatSRecordRange(data.data(), range.start, range.length));
  } else {
    ok = WriteFileReplacing(path, FormatIntelHexRange(data.data(), range.start, range.length));
  }
  if (!ok) throw Failure(kUsage, "cannot write " + path + " (an existing file was left as it was)");
}

}  // namespace qmx::tool
