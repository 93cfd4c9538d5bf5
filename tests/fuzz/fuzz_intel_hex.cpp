// The Intel HEX and S-record readers on arbitrary file contents. The first
// byte picks the image size; the rest is the file. Whatever a file says,
// nothing at or past the image size changes, and what was stored reads back
// through the writer.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "image/intel_hex.h"
#include "image/memory_image.h"
#include "image/srecord.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using qmxfuzz::Check;

constexpr std::int32_t kSizes[] = {0, 1, 16, 128, 255, 256, 4096, 8192, 65536 + 16, qmx::MemoryImage::kCapacity};
// How far past the size the image is checked to be untouched.
constexpr std::int32_t kGuard = 512;

// The S-record reader on the same text: the same bounds, and a round trip.
void CheckSRecord(std::string_view text, std::int32_t imageSize, std::int32_t guardEnd) {
  static qmx::MemoryImage image;
  static qmx::MemoryImage back;
  image.SetSize(imageSize);
  std::memset(image.Data(), 0xFF, static_cast<std::size_t>(guardEnd));
  qmx::SRecordStats stats;
  const bool ok = qmx::ParseSRecord(text, image, &stats);
  Check(!ok || (!stats.checksumError && !stats.countMismatch && !stats.lineTooLong), "S-record result against stats");
  Check(stats.droppedBytes >= 0 && stats.droppedBytes <= stats.dataBytes, "S-record dropped bytes");
  Check(stats.droppedBytes == 0 || stats.highestAddress >= imageSize, "S-record dropped below the size");
  for (std::int32_t i = imageSize; i < guardEnd; ++i) Check(image.Data()[i] == 0xFF, "S-record past the size");
  const std::int32_t end = static_cast<std::int32_t>(std::min<std::int64_t>(imageSize, stats.highestAddress + 1));
  if (end <= 0) return;
  const std::int32_t from = std::max(0, end - 256);
  back.SetSize(imageSize);
  std::memset(back.Data() + from, 0x00, static_cast<std::size_t>(end - from));
  Check(qmx::ParseSRecord(qmx::FormatSRecordRange(image.Data() + from, from, end - from), back),
        "written S-records do not read");
  Check(std::memcmp(image.Data() + from, back.Data() + from, static_cast<std::size_t>(end - from)) == 0,
        "S-record round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static qmx::MemoryImage image;
  static qmx::MemoryImage back;
  const std::int32_t imageSize = kSizes[data[0] % std::size(kSizes)];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  // Only the part a run can reach is reset: the parse writes below the size,
  // and the guard above it is checked.
  const std::int32_t guardEnd = std::min(imageSize + kGuard, qmx::MemoryImage::kCapacity);
  image.SetSize(imageSize);
  std::memset(image.Data(), 0xFF, static_cast<std::size_t>(guardEnd));
  qmx::IntelHexStats stats;
  const bool ok = qmx::ParseIntelHex(text, image, &stats);

  Check(ok == (!stats.checksumError && !stats.lineTooLong), "result against stats");
  Check(stats.droppedBytes >= 0 && stats.droppedBytes <= stats.dataBytes, "dropped bytes");
  Check(stats.ignoredLines >= 0, "ignored lines");
  Check(stats.highestAddress >= -1, "highest address");
  Check(stats.dataBytes == 0 || stats.highestAddress >= 0, "data without an address");
  Check(stats.droppedBytes == 0 || stats.highestAddress >= imageSize, "dropped below the size");
  for (std::int32_t i = imageSize; i < guardEnd; ++i) Check(image.Data()[i] == 0xFF, "byte past the size changed");

  // The stored bytes up to the highest one (at most 256 of them, so a run
  // stays short) survive the writer and the reader again, with the segment
  // record the writer puts at 64 KiB when the window crosses it.
  const std::int32_t end = static_cast<std::int32_t>(std::min<std::int64_t>(imageSize, stats.highestAddress + 1));
  if (end > 0) {
    const std::int32_t from = std::max(0, end - 256);
    const std::string again = qmx::FormatIntelHexRange(image.Data() + from, from, end - from);
    back.SetSize(imageSize);
    std::memset(back.Data() + from, 0x00, static_cast<std::size_t>(end - from));
    qmx::IntelHexStats againStats;
    Check(qmx::ParseIntelHex(again, back, &againStats), "written file does not read");
    Check(againStats.endRecord && againStats.droppedBytes == 0, "written file's records");
    Check(againStats.highestAddress == end - 1, "written file's extent");
    Check(std::memcmp(image.Data() + from, back.Data() + from, static_cast<std::size_t>(end - from)) == 0,
          "round trip");
  }
  CheckSRecord(text, imageSize, guardEnd);
  return 0;
}
