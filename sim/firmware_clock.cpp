#include "sim/firmware_clock.h"

#include <iterator>

namespace qmx::sim {

namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;
constexpr std::uint64_t kUnitScale[] = {1, 1000, 1000000};

}  // namespace

std::uint64_t DecodeBusClock(std::uint8_t valueLow, std::uint8_t valueHigh, std::uint8_t unit) {
  const std::uint64_t value = valueLow + 256U * valueHigh;
  return unit < std::size(kUnitScale) ? value * kUnitScale[unit] : value;
}

void FirmwareClock::Spend(std::int64_t bits) {
  if (!busTimed_ || bits <= 0) return;
  const std::chrono::nanoseconds time(bits * kNsPerSecond / static_cast<std::int64_t>(hz_));
  now_ += time;
  account_.busTime += time;
}

void FirmwareClock::WaitForWrite(std::chrono::nanoseconds wait) {
  if (wait <= std::chrono::nanoseconds::zero()) return;
  now_ += wait;
  account_.writeCycles += wait;
}

}  // namespace qmx::sim
