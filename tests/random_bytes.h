// Repeatable pseudo-random contents for parts, images and files in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace qmx::testdata {

inline std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
  return bytes;
}

}  // namespace qmx::testdata
