// Intel HEX files of the memory image: data, end-of-file, extended segment
// and extended linear address records in; 16-byte data records, a segment
// record at each 64 KiB boundary and the end record out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "image/memory_image.h"

namespace qmx {

// What a load saw besides its result, for callers that report more than
// true or false (the command line warns about data the part cannot hold).
struct IntelHexStats {
  std::int64_t dataBytes = 0;        // bytes named by data records
  std::int64_t droppedBytes = 0;     // of those, at or above the image size
  std::int64_t highestAddress = -1;  // highest effective address named, -1 if none
  bool checksumError = false;        // a record was bad (also a malformed one)
  bool lineTooLong = false;          // a line over 255 characters ended the load
  bool endRecord = false;            // the end-of-file record was reached (else the file may be cut short)
  std::int64_t ignoredLines = 0;     // lines with text that were not records
};

// The image is not cleared first: only bytes named by data records below the
// image size change. False when a record was bad, a line was too long, or the
// file could not be read. A bad record still stores its bytes unless it is
// malformed (a non-hex digit, or shorter than its count), which stores nothing.
bool LoadIntelHex(const std::string& path, MemoryImage& image, IntelHexStats* stats = nullptr);
bool ParseIntelHex(std::string_view text, MemoryImage& image, IntelHexStats* stats = nullptr);

// The first `size` bytes as records with upper-case digits and CR LF ends.
std::string FormatIntelHex(const std::uint8_t* data, std::int32_t size);
// The same for data[0, length) standing at addresses base.., with a segment
// record first when base lies above 64 KiB.
std::string FormatIntelHexRange(const std::uint8_t* data, std::int32_t base, std::int32_t length);

// Writes data[0, image size) through a temporary file in the same folder,
// renamed over `path` only when all was written: a failed save leaves an
// existing file as it was.
bool SaveIntelHex(const MemoryImage& image, const std::string& path);

}  // namespace qmx
