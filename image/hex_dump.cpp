#include "image/hex_dump.h"

#include <cstdio>

namespace qmx {

namespace {

constexpr std::size_t kGroup = 16;

// Room for the longest line with any address a size_t can hold.
using LineBuffer = char[96];

int FormatBytes(LineBuffer& out, unsigned long long address, const std::uint8_t* b) {
  return std::snprintf(out, sizeof out,
                       "%05llX:%02X %02X %02X %02X %02X %02X %02X %02X-"
                       "%02X %02X %02X %02X %02X %02X %02X %02X",
                       address, b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7],
                       b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

// hi/lo pick which byte of each pair is printed first: little-endian words
// print the second byte in memory first.
int FormatWords(LineBuffer& out, unsigned long long address, const std::uint8_t* b, int hi, int lo) {
  return std::snprintf(out, sizeof out,
                       "%05llX:%02X%02X %02X%02X %02X%02X %02X%02X-"
                       "%02X%02X %02X%02X %02X%02X %02X%02X",
                       address, b[0 + hi], b[0 + lo], b[2 + hi], b[2 + lo], b[4 + hi], b[4 + lo],
                       b[6 + hi], b[6 + lo], b[8 + hi], b[8 + lo], b[10 + hi], b[10 + lo],
                       b[12 + hi], b[12 + lo], b[14 + hi], b[14 + lo]);
}

}  // namespace

DumpLayout DumpLayoutFromIndex(int index) {
  switch (index) {
    case 1: return DumpLayout::kLittleEndianWords;
    case 2: return DumpLayout::kBigEndianWords;
    default: return DumpLayout::kBytes;
  }
}

std::vector<std::string> HexDumpLines(const std::uint8_t* bytes, std::size_t length, DumpLayout layout) {
  const std::size_t groups = length / kGroup;
  std::vector<std::string> lines;
  lines.reserve(groups);
  const bool words = layout == DumpLayout::kLittleEndianWords || layout == DumpLayout::kBigEndianWords;
  const unsigned long long step = words ? 8 : 16;
  LineBuffer buffer;
  for (std::size_t g = 0; g < groups; ++g) {
    const std::uint8_t* b = bytes + g * kGroup;
    const unsigned long long address = g * step;
    int n = 0;
    if (layout == DumpLayout::kLittleEndianWords) {
      n = FormatWords(buffer, address, b, 1, 0);
    } else if (layout == DumpLayout::kBigEndianWords) {
      n = FormatWords(buffer, address, b, 0, 1);
    } else {
      n = FormatBytes(buffer, address, b);
    }
    if (n > 0) lines.emplace_back(buffer, static_cast<std::size_t>(n));
  }
  return lines;
}

}  // namespace qmx
