// CRC-32 as zip, PNG and most "crc32" tools compute it (reflected 0xEDB88320,
// start and final XOR 0xFFFFFFFF), so a logged checksum can be compared with
// what any of them prints for the same file.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace qmx::production {

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t previous = 0);
std::uint32_t Crc32(std::string_view text, std::uint32_t previous = 0);

}  // namespace qmx::production
