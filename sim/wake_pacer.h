// Timed waits of the serving thread end late: tens of microseconds on an idle
// machine, more under virtualisation. So that answers leave when they are due,
// the thread aims early by the lateness it has been seeing and spins the rest.
#pragma once

#include <chrono>

namespace qmx::sim {

class WakePacer {
 public:
  using Clock = std::chrono::steady_clock;

  // Disabled, it aims at the due time itself and never spins.
  explicit WakePacer(bool enabled) : enabled_(enabled) {}

  // When to wake for something due at `due`.
  Clock::time_point WakeFor(Clock::time_point due) const { return due - allowance_; }
  // A timed wait aimed at `target` ended at `woke`.
  void Woke(Clock::time_point target, Clock::time_point woke);
  // Busy-waits until `due`, if that is no further away than the allowance.
  void SpinUntil(Clock::time_point due) const;

 private:
  bool enabled_;
  Clock::duration lateness_{};   // running mean of recent wake-up lateness
  Clock::duration allowance_{};  // how early the thread aims
};

}  // namespace qmx::sim
