// qmx71's data files beyond plain binary: Intel HEX and S-record loads with
// the checks every subcommand makes, and whole files for diff.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/qmx71_steps.h"
#include "image/memory_image.h"

namespace qmx::tool {

struct TextLoad {
  std::int64_t droppedBytes = 0;     // data at or above the image size
  std::int64_t highestAddress = -1;  // -1 when none
};

// Loads an Intel HEX ("hex") or S-record ("srec") file into the image (not
// cleared first). Throws a usage failure for an unreadable or damaged file,
// one with no data records, or an S-record count that disagrees; warns on
// standard error about a possibly cut file and ignored lines unless `quiet`.
TextLoad LoadTextImage(const std::string& path, const std::string& format, MemoryImage& image, bool quiet = false);

// A whole file as the bytes it names from address 0: binary files from 0,
// HEX and S-record files where their records say. `present` tells which
// addresses the file names; `extent` is one past the highest.
struct FileImage {
  Bytes bytes;
  std::vector<bool> present;
  std::int64_t extent = 0;
};
FileImage LoadFileImage(const Options& o, const std::string& path);

// The file's bytes in the format --format or its name gives, for read.
void SaveRange(const std::string& path, const std::string& format, const Range& range, const Bytes& data);

}  // namespace qmx::tool
