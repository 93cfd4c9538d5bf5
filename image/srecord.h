// S-record files of the memory image: S1/S2/S3 data, S5/S6 counts and
// S7/S8/S9 ends in, the S0 header passed over; out, an S0 header, S1 data
// records when the range ends at or below 0xFFFF, else S3 (32-bit addresses,
// which every reader of the format takes), an S5 count and S9 or S7 end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "image/memory_image.h"

namespace qmx {

// What a load saw besides its result, in the same terms as IntelHexStats.
struct SRecordStats {
  std::int64_t dataBytes = 0;        // bytes named by data records
  std::int64_t droppedBytes = 0;     // of those, at or above the image size
  std::int64_t highestAddress = -1;  // highest address named, -1 if none
  std::int64_t dataRecords = 0;      // S1/S2/S3 records read
  bool checksumError = false;        // a record was bad or malformed
  bool countRecord = false;          // an S5/S6 count was read (it ends files of some tools)
  bool countMismatch = false;        // an S5/S6 count disagreed with the data records before it
  bool lineTooLong = false;          // a line over 514 characters ended the load
  bool endRecord = false;            // an S7/S8/S9 record was reached
  std::int64_t ignoredLines = 0;     // lines with text that were not records
};

// The image is not cleared first: only bytes named by good data records
// below the image size change. False when a record was bad, a count
// disagreed, a line was too long, or the file could not be read. Unlike an
// Intel HEX load, a record with a wrong checksum stores nothing.
bool LoadSRecord(const std::string& path, MemoryImage& image, SRecordStats* stats = nullptr);
bool ParseSRecord(std::string_view text, MemoryImage& image, SRecordStats* stats = nullptr);

// data[0, length) standing at addresses base.., 16 bytes a record,
// upper-case digits, CR LF ends.
std::string FormatSRecordRange(const std::uint8_t* data, std::int32_t base, std::int32_t length);

// Writes data[0, image size), replacing an existing file only on success.
bool SaveSRecord(const MemoryImage& image, const std::string& path);

// True when the first line that starts with 'S' or ':' is 'S' and a digit:
// how a file with an unknown name is told apart from Intel HEX.
bool LooksLikeSRecord(std::string_view text);

}  // namespace qmx
