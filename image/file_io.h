// Whole-file reads and replace-on-success writes for the image's file formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qmx {

enum class FileReadStatus { kOk, kCannotRead, kTooLong };

struct FileContents {
  FileReadStatus status = FileReadStatus::kCannotRead;
  std::vector<std::uint8_t> bytes;
  std::uint64_t length = 0;  // of the whole file; with kTooLong and no size known, limit + 1
};

// The whole file, or kTooLong when it holds more than `limit` bytes (bytes
// left empty, or its first `limit` bytes when `keepPrefix`); never reads more
// than limit + 1 bytes.
FileContents ReadWholeFile(const std::string& path, std::size_t limit, bool keepPrefix = false);

// Writes `contents` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`. False (with the temporary removed and an existing
// file untouched) when any step fails.
bool WriteFileReplacing(const std::string& path, std::string_view contents);

}  // namespace qmx
