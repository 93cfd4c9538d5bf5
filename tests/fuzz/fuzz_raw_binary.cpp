// The raw binary loaders on arbitrary file contents. The first byte picks the
// image size, the rest is written to one temporary file per process that
// every run reuses (the loaders only take a path).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/memory_image.h"
#include "image/raw_binary.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using qmxfuzz::Check;

constexpr std::int32_t kSizes[] = {0, 1, 2, 16, 128, 256, 1024, 8192, qmx::MemoryImage::kCapacity};
constexpr std::uint8_t kFill = 0xA5;

// True when image[from, to) still holds the fill byte.
bool Untouched(const qmx::MemoryImage& image, std::size_t from, std::size_t to) {
  static const std::vector<std::uint8_t> fill(qmx::MemoryImage::kCapacity, kFill);
  return from >= to || std::memcmp(image.Data() + from, fill.data(), to - from) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static qmx::MemoryImage image;
  const std::int32_t imageSize = kSizes[data[0] % std::size(kSizes)];
  static const qmxfuzz::TempFile temp;
  const std::uint8_t* file = data + 1;
  const std::size_t length = size - 1;
  temp.Write(file, length);

  // A filled image shows which bytes a load changed.
  image.SetSize(imageSize);
  std::memset(image.Data(), kFill, qmx::MemoryImage::kCapacity);
  std::int32_t got = -1;
  const qmx::BinaryLoadStatus status = qmx::LoadBinary(temp.Path(), image, &got);
  const std::size_t cap = static_cast<std::size_t>(imageSize);
  if (length <= cap) {
    Check(status == qmx::BinaryLoadStatus::kOk, "a file that fits was refused");
    Check(got == static_cast<std::int32_t>(length), "reported length");
    Check(length == 0 || std::memcmp(image.Data(), file, length) == 0, "loaded bytes");
  } else {
    Check(status == qmx::BinaryLoadStatus::kLongerThanImage, "a long file was not refused");
    Check(got == -1, "length reported for a refused file");
  }
  const std::size_t kept = status == qmx::BinaryLoadStatus::kOk ? length : 0;
  const std::size_t guardEnd = std::min<std::size_t>(cap + 256, qmx::MemoryImage::kCapacity);
  Check(Untouched(image, kept, guardEnd), "byte beyond the file changed");

  std::memset(image.Data(), kFill, qmx::MemoryImage::kCapacity);
  std::uint64_t dropped = ~0ull;
  Check(qmx::LoadBinaryCut(temp.Path(), image, &dropped) == qmx::BinaryLoadStatus::kOk, "cut load failed");
  const std::size_t stored = std::min(length, cap);
  Check(dropped == length - stored, "dropped count");
  Check(stored == 0 || std::memcmp(image.Data(), file, stored) == 0, "cut bytes");
  Check(Untouched(image, stored, guardEnd), "byte beyond the cut changed");
  Check(image.Size() == imageSize, "image size changed");
  return 0;
}
