#include "core/production/crc32.h"

#include <array>

namespace qmx::production {

namespace {

constexpr std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

}  // namespace

// `previous` is the CRC of what came before, so a file can be summed in pieces.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t previous) {
  std::uint32_t c = previous ^ 0xFFFFFFFFu;
  for (std::uint8_t b : bytes) c = kTable[(c ^ b) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::uint32_t Crc32(std::string_view text, std::uint32_t previous) {
  return Crc32(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), previous);
}

}  // namespace qmx::production
