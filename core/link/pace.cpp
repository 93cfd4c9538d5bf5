#include "core/link/pace.h"

#include <algorithm>

#include "core/protocol/commands.h"
#include "core/protocol/encoding.h"

namespace qmx {

namespace {
// DeviceFamily values as SET_MODE carries them.
constexpr int kMicrowire = 0;
constexpr int kI2c = 1;
constexpr int kSpi = 2;
constexpr std::int64_t kNsPerSecond = 1000000000;
constexpr std::int64_t kNsPerMs = 1000000;

// READ_DATA's count byte: I2C sends the count negated when it ends a read.
int ReadCount(int family, std::uint8_t countByte) {
  if (family == kI2c && countByte >= 0x80) return 256 - countByte;
  return countByte == 0 ? 256 : countByte;
}
}  // namespace

void PaceAccount::Reset() { *this = PaceAccount{}; }

std::int64_t PaceAccount::ByteTimeNs(int bytes) const {
  const int bitsPerByte = (family_ == kSpi || family_ == kMicrowire) ? 8 : 9;
  return static_cast<std::int64_t>(bytes) * bitsPerByte * kNsPerSecond / clockHz_;
}

void PaceAccount::OnSent(const std::uint8_t* payload, int length) {
  if (length < 1) return;
  std::int64_t cost = std::chrono::nanoseconds(kFrameHandling).count();
  switch (payload[0]) {
    case SET_MODE:
      if (length >= 4) {
        family_ = payload[1];
        writeTimeMs_ = payload[3];
      }
      break;
    case SET_FREQ:
      if (length >= 4) {
        // A clock of 0 Hz means nothing; the programmer keeps one it can use.
        const std::uint32_t hz = DecodeFrequency(payload[1], payload[2], payload[3]);
        if (hz > 0) clockHz_ = hz;
      }
      break;
    case DEV_CTRL: cost += kNsPerSecond / clockHz_; break;  // a line edge: about one bit time
    case WRITE_DATA: cost += ByteTimeNs(length - 1); break;
    case WRITE_DONE: cost += ByteTimeNs(length - 1) + writeTimeMs_ * kNsPerMs; break;
    case READ_DATA:
      if (length >= 2) cost += ByteTimeNs(ReadCount(family_, payload[1]));
      break;
    default: break;
  }
  sentNs_ += cost;
}

void PaceAccount::Confirm(std::int64_t mark) { confirmedNs_ = std::max(confirmedNs_, std::min(mark, sentNs_)); }

std::chrono::microseconds PaceAccount::Outstanding() const {
  return std::chrono::microseconds((sentNs_ - confirmedNs_ + 999) / 1000);
}

}  // namespace qmx
