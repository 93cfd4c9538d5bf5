// Digests of a part's contents for comparing with other tools: CRC-32 as
// zlib computes it, and SHA-256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qmx {

// The reflected 0xEDB88320 polynomial, all ones in and out; `crc` carries a
// previous result on, so pieces may be fed in turn (start with 0).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t length, std::uint32_t crc = 0);

using Sha256Digest = std::array<std::uint8_t, 32>;
Sha256Digest Sha256(const std::uint8_t* data, std::size_t length);

// Lower-case hex digits, two per byte, as sha256sum prints them.
std::string DigestHex(const Sha256Digest& digest);

}  // namespace qmx
