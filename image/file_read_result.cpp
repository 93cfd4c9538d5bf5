#include "image/file_read_result.h"

#include <algorithm>
#include <utility>

namespace qmx {

FileContents JudgeRead(std::vector<std::uint8_t> bytes, std::size_t limit, bool keepPrefix, std::uint64_t fileSize) {
  FileContents result;
  result.length = bytes.size();
  if (bytes.size() > limit) {
    result.status = FileReadStatus::kTooLong;
    result.length = std::max<std::uint64_t>(result.length, fileSize);
    if (keepPrefix) {
      bytes.resize(limit);
      result.bytes = std::move(bytes);
    }
    return result;
  }
  result.status = FileReadStatus::kOk;
  result.bytes = std::move(bytes);
  return result;
}

}  // namespace qmx
