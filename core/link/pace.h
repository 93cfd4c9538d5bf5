// What the programmer may still be doing: the work the host has streamed to
// it that no answer has confirmed yet. The programmer carries commands out in
// order, so an answer confirms everything sent before the command it answers.
#pragma once

#include <chrono>
#include <cstdint>

namespace qmx {

class PaceAccount {
 public:
  // Handling of one frame by the firmware, besides its bus time.
  static constexpr std::chrono::microseconds kFrameHandling{50};
  // The programmer's clock until SET_FREQ says otherwise.
  static constexpr std::uint32_t kDefaultClockHz = 100000;
  // Maximum write time assumed until SET_MODE carries one.
  static constexpr int kDefaultWriteTimeMs = 50;

  // A new connection: nothing outstanding, the programmer's defaults.
  void Reset();
  // A frame went out whole: account its bus bytes and write cycles, and learn
  // the clock (SET_FREQ) and the family and maximum write time (SET_MODE).
  void OnSent(const std::uint8_t* payload, int length);

  // The work sent so far, to be confirmed when an answer to what follows arrives.
  std::int64_t Mark() const { return sentNs_; }
  // An answer arrived: everything sent before `mark` has been carried out.
  void Confirm(std::int64_t mark);
  // Upper bound of what the programmer may still have to do.
  std::chrono::microseconds Outstanding() const;

  std::uint32_t ClockHz() const { return clockHz_; }
  int WriteTimeMs() const { return writeTimeMs_; }

 private:
  std::int64_t ByteTimeNs(int bytes) const;

  std::uint32_t clockHz_ = kDefaultClockHz;
  int writeTimeMs_ = kDefaultWriteTimeMs;
  int family_ = -1;  // unknown: priced as the slowest bus (I2C, 9 bits a byte)
  std::int64_t sentNs_ = 0;
  std::int64_t confirmedNs_ = 0;
};

}  // namespace qmx
