#include "image/raw_binary.h"

#include <algorithm>
#include <string_view>

#include "image/file_io.h"

namespace qmx {

BinaryLoadStatus LoadBinary(const std::string& path, MemoryImage& image, std::int32_t* length) {
  const FileContents file = ReadWholeFile(path, static_cast<std::size_t>(image.Size()));
  switch (file.status) {
    case FileReadStatus::kCannotRead: return BinaryLoadStatus::kCannotRead;
    case FileReadStatus::kTooLong: return BinaryLoadStatus::kLongerThanImage;
    case FileReadStatus::kOk: break;
  }
  std::copy(file.bytes.begin(), file.bytes.end(), image.Data());
  if (length != nullptr) *length = static_cast<std::int32_t>(file.bytes.size());
  return BinaryLoadStatus::kOk;
}

BinaryLoadStatus LoadBinaryCut(const std::string& path, MemoryImage& image, std::uint64_t* dropped) {
  const std::size_t size = static_cast<std::size_t>(image.Size());
  const FileContents file = ReadWholeFile(path, size, true);
  if (file.status == FileReadStatus::kCannotRead) return BinaryLoadStatus::kCannotRead;
  std::copy(file.bytes.begin(), file.bytes.end(), image.Data());
  *dropped = file.length - file.bytes.size();
  return BinaryLoadStatus::kOk;
}

bool SaveBinary(const MemoryImage& image, const std::string& path) {
  const std::string_view bytes(reinterpret_cast<const char*>(image.Data()), static_cast<std::size_t>(image.Size()));
  return WriteFileReplacing(path, bytes);
}

}  // namespace qmx
