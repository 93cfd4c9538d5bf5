#include "core/production/serial_number.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>

namespace qmx::production {

namespace {

constexpr int kMaxBcdBytes = 10;    // 20 digits hold every 64-bit number
constexpr int kMaxAsciiDigits = 20;

std::optional<int> ParseWidth(std::string_view text, int most) {
  const auto value = ParseDecimal(text);
  if (!value || *value < 1 || *value > static_cast<std::uint64_t>(most)) return std::nullopt;
  return static_cast<int>(*value);
}

std::uint64_t PowerOfTen(int digits) {
  std::uint64_t p = 1;
  for (int i = 0; i < digits; ++i) p *= 10;
  return p;
}

std::string HexText(std::int64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%04llX", static_cast<long long>(v));
  return buf;
}

}  // namespace

std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<SerialFormat> ParseSerialFormat(std::string_view text, std::string* error) {
  using E = SerialEncoding;
  if (text == "be16") return SerialFormat{E::kBe16, 2};
  if (text == "be32") return SerialFormat{E::kBe32, 4};
  if (text == "le16") return SerialFormat{E::kLe16, 2};
  if (text == "le32") return SerialFormat{E::kLe32, 4};
  if (text == "bcd") return SerialFormat{E::kBcd, 4};
  if (text.starts_with("bcd:")) {
    if (auto width = ParseWidth(text.substr(4), kMaxBcdBytes)) return SerialFormat{E::kBcd, *width};
    if (error) *error = "bcd:N takes N = 1 to 10 bytes, not " + std::string(text.substr(4));
    return std::nullopt;
  }
  if (text.starts_with("ascii:")) {
    if (auto width = ParseWidth(text.substr(6), kMaxAsciiDigits)) return SerialFormat{E::kAscii, *width};
    if (error) *error = "ascii:W takes W = 1 to 20 digits, not " + std::string(text.substr(6));
    return std::nullopt;
  }
  if (error) *error = "unknown serial format " + std::string(text) + " (be16, be32, le16, le32, bcd, bcd:N, ascii:W)";
  return std::nullopt;
}

std::uint64_t SerialMaximum(const SerialFormat& format) {
  switch (format.encoding) {
    case SerialEncoding::kBe16:
    case SerialEncoding::kLe16: return 0xFFFF;
    case SerialEncoding::kBe32:
    case SerialEncoding::kLe32: return 0xFFFFFFFF;
    case SerialEncoding::kBcd:
    case SerialEncoding::kAscii: {
      const int digits = format.encoding == SerialEncoding::kBcd ? 2 * format.width : format.width;
      return digits >= 20 ? UINT64_MAX : PowerOfTen(digits) - 1;
    }
  }
  return 0;
}

std::optional<std::vector<std::uint8_t>> EncodeSerial(std::uint64_t number, const SerialFormat& format,
                                                      std::string* error) {
  if (number > SerialMaximum(format)) {
    if (error)
      *error = "serial number " + std::to_string(number) + " does not fit the format (largest " +
               std::to_string(SerialMaximum(format)) + ")";
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(format.width));
  // Filled from the least significant end; the little-endian forms are reversed at the end.
  std::uint64_t rest = number;
  for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) {
    switch (format.encoding) {
      case SerialEncoding::kAscii:
        *it = static_cast<std::uint8_t>('0' + rest % 10);
        rest /= 10;
        break;
      case SerialEncoding::kBcd:
        *it = static_cast<std::uint8_t>(rest % 10 | (rest / 10 % 10) << 4);
        rest /= 100;
        break;
      default:
        *it = static_cast<std::uint8_t>(rest & 0xFF);
        rest >>= 8;
        break;
    }
  }
  if (format.encoding == SerialEncoding::kLe16 || format.encoding == SerialEncoding::kLe32)
    std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

bool PlaceSerial(std::vector<std::uint8_t>& data, std::int64_t rangeStart, std::int64_t partSize,
                 std::int64_t address, std::span<const std::uint8_t> serial, std::string* error) {
  const auto width = static_cast<std::int64_t>(serial.size());
  const std::int64_t rangeEnd = rangeStart + static_cast<std::int64_t>(data.size());
  const std::string where = "the serial number at " + HexText(address) + " (" + std::to_string(width) + " bytes)";
  if (address < 0 || address > partSize - width) {
    if (error) *error = where + " does not fit in the part (" + std::to_string(partSize) + " bytes)";
    return false;
  }
  if (address < rangeStart || address > rangeEnd - width) {
    if (error)
      *error = where + " lies outside the range being written, " + HexText(rangeStart) + ".." +
               HexText(rangeEnd - 1);
    return false;
  }
  std::copy(serial.begin(), serial.end(), data.begin() + (address - rangeStart));
  return true;
}

}  // namespace qmx::production
