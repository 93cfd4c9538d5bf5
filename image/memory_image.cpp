#include "image/memory_image.h"

#include <algorithm>

namespace qmx {

MemoryImage::MemoryImage() : data_(static_cast<std::size_t>(kCapacity), 0xFF) {}

void MemoryImage::Clear() {
  std::fill(data_.begin(), data_.end(), std::uint8_t{0xFF});
  writePosition = 0;
  readPosition = 0;
}

void MemoryImage::SetSize(std::int32_t size) { size_ = std::clamp(size, std::int32_t{0}, kCapacity); }

std::uint16_t MemoryImage::ImageSum() const {
  // 131072 * 255 fits in 32 bits; truncate once at the end.
  std::uint32_t sum = 0;
  for (std::int32_t i = 0; i < size_; ++i) sum += data_[static_cast<std::size_t>(i)];
  return static_cast<std::uint16_t>(sum);
}

BitReversal::BitReversal() {
  for (unsigned i = 0; i < table_.size(); ++i) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if ((i >> bit) & 1u) reversed |= 0x80u >> bit;
    }
    table_[i] = static_cast<std::uint8_t>(reversed);
  }
}

void BitReversal::ReverseInPlace(std::uint8_t* bytes, std::size_t count) const {
  for (std::size_t i = 0; i < count; ++i) bytes[i] = table_[bytes[i]];
}

}  // namespace qmx
