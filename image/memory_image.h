// The host-side copy of a part's contents, and the bit-reversal table that
// the Series90 Microwire operations use beside it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qmx {

class MemoryImage {
 public:
  // Fixed, far above the largest catalogued part, so loads never reallocate.
  static constexpr std::int32_t kCapacity = 131072;

  MemoryImage();  // cleared: all 0xFF, size 0, positions 0

  // 0xFF everywhere (also past the size) and both positions 0; the size stays.
  void Clear();
  void SetSize(std::int32_t size);  // clamped to 0..kCapacity
  std::int32_t Size() const { return size_; }
  // Sum of data[0..size) as unsigned bytes; carries above bit 15 dropped.
  std::uint16_t ImageSum() const;

  std::uint8_t* Data() { return data_.data(); }
  const std::uint8_t* Data() const { return data_.data(); }

  // Offset of the next byte a write-side pass takes, and of the next block a
  // read-side pass stores or compares.
  std::int32_t writePosition = 0;
  std::int32_t readPosition = 0;

 private:
  std::vector<std::uint8_t> data_;
  std::int32_t size_ = 0;
};

// Entry i is i with its eight bits in reverse order.
class BitReversal {
 public:
  BitReversal();
  std::uint8_t operator()(std::uint8_t b) const { return table_[b]; }
  void ReverseInPlace(std::uint8_t* bytes, std::size_t count) const;
  const std::array<std::uint8_t, 256>& Table() const { return table_; }

 private:
  std::array<std::uint8_t, 256> table_{};
};

}  // namespace qmx
