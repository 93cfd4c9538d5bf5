// The firmware's own time line: commands are carried out one after the other,
// each taking the bus time of what it clocks and its waits for write cycles.
#pragma once

#include <chrono>
#include <cstdint>

namespace qmx::sim {

// What the firmware's time went on, for judging a host against the floor
// answers x latency + busTime + writeCycles.
struct TimingAccount {
  std::chrono::nanoseconds busTime{0};      // bytes and line edges at the set clock (real timing only)
  std::chrono::nanoseconds writeCycles{0};  // the firmware's waits for programmed writes
  int answers = 0;                          // answers produced (dropped by fault injection or not)
};

// SET_FREQ arguments to Hz: unit 0 Hz, 1 kHz, 2 MHz; an unknown unit leaves the value unscaled.
std::uint64_t DecodeBusClock(std::uint8_t valueLow, std::uint8_t valueHigh, std::uint8_t unit);

class FirmwareClock {
 public:
  using Clock = std::chrono::steady_clock;
  // What the firmware runs its bus at until SET_FREQ says otherwise.
  static constexpr std::uint64_t kDefaultBusClockHz = 100000;

  // busTimed: bytes and line edges take time (real timing); otherwise only write cycles do.
  explicit FirmwareClock(bool busTimed) : busTimed_(busTimed) {}

  // A command that arrived at `arrival` starts once the previous one has ended.
  void Start(Clock::time_point arrival) {
    if (arrival > now_) now_ = arrival;
  }
  // While a command runs: its current instant; between commands: when the firmware is free.
  Clock::time_point Now() const { return now_; }
  // Work still ahead of `now` is dropped (the programmer lost power).
  void AbandonAfter(Clock::time_point now) {
    if (now_ > now) now_ = now;
  }

  // A clock of 0 Hz means nothing; the firmware keeps the one it has.
  void SetBusClock(std::uint64_t hz) {
    if (hz != 0) hz_ = hz;
  }
  std::uint64_t BusClockHz() const { return hz_; }

  // I2C clocks 9 bits per byte (the acknowledge), Microwire and SPI 8.
  void ShiftBytes(int count, bool i2c) { Spend(static_cast<std::int64_t>(count) * (i2c ? 9 : 8)); }
  // A chip-select edge or an I2C start, stop or restart: one bit time.
  void LineEdge() { Spend(1); }
  // The firmware polls the part until its write cycle ends (or it gives up).
  void WaitForWrite(std::chrono::nanoseconds wait);
  void CountAnswer() { ++account_.answers; }

  const TimingAccount& Account() const { return account_; }
  void ResetAccount() { account_ = {}; }

 private:
  void Spend(std::int64_t bits);

  bool busTimed_;
  std::uint64_t hz_ = kDefaultBusClockHz;
  Clock::time_point now_{};
  TimingAccount account_;
};

}  // namespace qmx::sim
