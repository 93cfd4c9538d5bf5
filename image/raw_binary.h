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

// Writes data[0, image size), replacing an existing file only on success.
bool SaveBinary(const MemoryImage& image, const std::string& path);

}  // namespace qmx
