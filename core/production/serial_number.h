// Serial numbers as bytes in a part: the formats a number can take and its
// place inside the range being written. No files, no front end.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qmx::production {

enum class SerialEncoding {
  kBe16,   // binary, most significant byte first
  kBe32,
  kLe16,   // binary, least significant byte first
  kLe32,
  kBcd,    // packed BCD, two digits a byte, most significant digits first
  kAscii,  // decimal digits, zero-padded
};

struct SerialFormat {
  SerialEncoding encoding = SerialEncoding::kBe32;
  int width = 4;  // bytes in the part (ascii: digits, one byte each)
};

// "be16", "be32", "le16", "le32"; "bcd" (4 bytes, 8 digits) or "bcd:N" for N
// bytes (1-10); "ascii:W" for W digits (1-20). Nothing else.
std::optional<SerialFormat> ParseSerialFormat(std::string_view text, std::string* error);

// The largest number the format holds.
std::uint64_t SerialMaximum(const SerialFormat& format);

// The number's bytes, or nothing (and why) when it does not fit the format;
// a number is never cut to fit.
std::optional<std::vector<std::uint8_t>> EncodeSerial(std::uint64_t number, const SerialFormat& format,
                                                      std::string* error);

// Where the bytes go. `data` holds the range being written, which starts at
// `rangeStart`; the part holds `partSize` bytes. The serial must lie wholly
// inside the range: bytes outside it would not be written.
bool PlaceSerial(std::vector<std::uint8_t>& data, std::int64_t rangeStart, std::int64_t partSize,
                 std::int64_t address, std::span<const std::uint8_t> serial, std::string* error);

// A decimal number with nothing around it, as typed on a command line or
// stored in a state file: no sign, no spaces, no overflow.
std::optional<std::uint64_t> ParseDecimal(std::string_view text);

}  // namespace qmx::production
