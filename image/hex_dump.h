// The operator's view of memory contents: sixteen bytes per log line, as
// bytes or as 16-bit words in either byte order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qmx {

// The value is the Microwire data-mode index (0 byte mode, 1 little-endian,
// 2 big-endian); other parts always dump bytes.
enum class DumpLayout : int { kBytes = 0, kLittleEndianWords = 1, kBigEndianWords = 2 };

// 1 and 2 are the word layouts; any other index falls back to bytes.
DumpLayout DumpLayoutFromIndex(int index);

// One string per log line, without the line feed. The address column counts
// bytes (step 16) or words (step 8). Only whole 16-byte groups are shown: a
// trailing partial group is left out and never read.
std::vector<std::string> HexDumpLines(const std::uint8_t* bytes, std::size_t length, DumpLayout layout);

}  // namespace qmx
