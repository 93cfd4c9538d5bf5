// Plain binary files: byte i of the file is byte i of the part.
#pragma once

#include <cstdint>
#include <string>

#include "image/memory_image.h"

namespace qmx {

enum class BinaryLoadStatus { kOk, kCannotRead, kLongerThanImage };

// Stores the file's bytes from offset 0; the rest of the image and its size
// stay. A file longer than the image size is refused and changes nothing.
// *length (when given) receives the file's length on kOk.
BinaryLoadStatus LoadBinary(const std::string& path, MemoryImage& image, std::int32_t* length = nullptr);
// For a window that says what it left out: a longer file fills the image
// (kOk) and *dropped receives the count of its bytes beyond it.
BinaryLoadStatus LoadBinaryCut(const std::string& path, MemoryImage& image, std::uint64_t* dropped);

// Writes data[0, image size), replacing an existing file only on success.
bool SaveBinary(const MemoryImage& image, const std::string& path);

}  // namespace qmx
