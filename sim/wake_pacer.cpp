#include "sim/wake_pacer.h"

#include <algorithm>

namespace qmx::sim {

namespace {

// A mean over about the last eight wake-ups follows a machine whose load changes.
constexpr int kMeanWeight = 8;
// Aim a quarter beyond the mean, and a little more, so that most wake-ups come early.
constexpr std::chrono::microseconds kMargin{5};
// Never spin longer than this for one answer.
constexpr std::chrono::microseconds kMaxAllowance{300};

}  // namespace

void WakePacer::Woke(Clock::time_point target, Clock::time_point woke) {
  if (!enabled_) return;
  const Clock::duration late = std::max(woke - target, Clock::duration::zero());
  lateness_ += (late - lateness_) / kMeanWeight;
  allowance_ = std::min<Clock::duration>(lateness_ + lateness_ / 4 + kMargin, kMaxAllowance);
}

void WakePacer::SpinUntil(Clock::time_point due) const {
  if (!enabled_ || due - Clock::now() > allowance_) return;
  while (Clock::now() < due) {
  }
}

}  // namespace qmx::sim
