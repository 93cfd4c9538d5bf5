// What both operating systems' ReadWholeFile make of the bytes they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/file_io.h"

namespace qmx {

// `bytes`: at most limit + 1 bytes read; `fileSize`: the size the system
// reports for a regular file, 0 for anything else. More than `limit` bytes is
// kTooLong, with the prefix kept when asked.
FileContents JudgeRead(std::vector<std::uint8_t> bytes, std::size_t limit, bool keepPrefix, std::uint64_t fileSize);

}  // namespace qmx
