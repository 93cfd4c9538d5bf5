#include "core/link/response_slot.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstring>
#include <utility>

#include "core/protocol/commands.h"

namespace qmx {

namespace {

using Clock = std::chrono::steady_clock;

// Time the waiter did not run (a paused virtual machine, a host too busy to
// schedule it) is not the programmer's silence: it ran no more than the
// waiter did, and its answer comes as soon as it runs again. A timed sleep
// that ends this much late gives its overrun back to the deadline, up to a
// limit, so that a host that keeps stalling still ends its waits.
constexpr auto kWatchSlice = std::chrono::milliseconds(10);
constexpr auto kStallSlack = std::chrono::milliseconds(5);
constexpr auto kMostGivenBack = std::chrono::seconds(2);

class StallAllowance {
 public:
  explicit StallAllowance(Clock::time_point deadline) : deadline_(deadline) {}
  Clock::time_point Deadline() const { return deadline_; }
  // After a sleep that was to end at `end` ended by its time-out.
  void Woke(Clock::time_point end) {
    const Clock::duration overrun = Clock::now() - end;
    if (overrun <= kStallSlack) return;
    const Clock::duration back = std::min<Clock::duration>(overrun, kMostGivenBack - given_);
    deadline_ += back;
    given_ += back;
  }

 private:
  Clock::time_point deadline_;
  Clock::duration given_{0};
};

}  // namespace

void ResponseSlot::OpenEvent() {
  std::lock_guard lock(mutex_);
  eventOpen_ = true;
  armed_ = false;
  arrived_ = false;
}

void ResponseSlot::CloseEvent() {
  {
    std::lock_guard lock(mutex_);
    eventOpen_ = false;
    armed_ = false;
  }
  arrivedCv_.notify_all();
}

bool ResponseSlot::EventOpen() const {
  std::lock_guard lock(mutex_);
  return eventOpen_;
}

void ResponseSlot::Arm(std::uint8_t code) {
  std::lock_guard lock(mutex_);
  owedAfter_ = 0;
  ahead_.clear();
  awaitedCode_ = code;
  armed_ = true;
  arrived_ = false;
  arrivedFlag_ = false;
  armedAt_ = std::chrono::steady_clock::now();
}

void ResponseSlot::ArmAnother(std::uint8_t code) {
  {
    std::lock_guard lock(mutex_);
    if (armed_ && awaitedCode_ == code) {
      ++owedAfter_;
      return;
    }
  }
  Arm(code);
}

std::chrono::steady_clock::time_point ResponseSlot::ArmedAt() const {
  std::lock_guard lock(mutex_);
  return armedAt_;
}

bool ResponseSlot::WaitResponse(std::uint8_t code, int timeoutMs, std::chrono::microseconds expected) {
  const auto spin = std::chrono::microseconds(kSpinMicros);
  StallAllowance allowance(Clock::now() + std::chrono::milliseconds(timeoutMs));
  const auto done = [this] { return arrived_ || !eventOpen_; };
  std::unique_lock lock(mutex_);
  if (!eventOpen_) return false;
  if (!armed_ || awaitedCode_ != code) {
    owedAfter_ = 0;
    ahead_.clear();
    awaitedCode_ = code;
    armed_ = true;
    arrived_ = false;
    arrivedFlag_ = false;
    armedAt_ = Clock::now();
  }
  // An answer that usually takes a while (USB latency, bus time): sleep until
  // shortly before it is due, so the spin below is under way when it comes
  // instead of a sleeping waiter paying for its wake-up.
  if (!arrived_ && expected > 2 * spin) {
    const auto end = std::min(armedAt_ + expected - spin, allowance.Deadline());
    if (!arrivedCv_.wait_until(lock, end, done)) allowance.Woke(end);
  }
  if (!arrived_ && eventOpen_) {
    // Most answers come within tens of microseconds; a short spin saves the
    // wake-up of a sleeping waiter, which costs about as much again. It
    // yields, so that on a machine with few cores the reader thread and the
    // programmer's side still get the processor they need to answer.
    lock.unlock();
    const auto spinUntil = Clock::now() + (expected > 2 * spin ? 2 * spin : spin);
    while (!arrivedFlag_.load(std::memory_order_acquire) && Clock::now() < spinUntil) std::this_thread::yield();
    lock.lock();
  }
  bool ok = false;
  for (;;) {
    const auto end = std::min(allowance.Deadline(), Clock::now() + kWatchSlice);
    if (arrivedCv_.wait_until(lock, end, done)) {
      ok = arrived_;
      break;
    }
    allowance.Woke(end);
    if (Clock::now() >= allowance.Deadline()) break;
  }
  if (ok) result_ = captured_;
  arrived_ = false;
  arrivedFlag_ = false;
  if (ok && !ahead_.empty()) {
    // The next owed answer came already.
    captured_ = ahead_.front();
    ahead_.pop_front();
    arrived_ = true;
    arrivedFlag_ = true;
  } else if (ok && owedAfter_ > 0) {
    --owedAfter_;
    armedAt_ = Clock::now();
  } else {
    // The code stays as the awaited one, but a late duplicate must not
    // satisfy a later wait that forgot to arm. After a failed wait the
    // connection takes the owed answers out of the way itself.
    armed_ = false;
    owedAfter_ = 0;
    ahead_.clear();
  }
  return ok;
}

Answer ResponseSlot::Last() const {
  std::lock_guard lock(mutex_);
  return last_;
}

std::uint8_t ResponseSlot::AwaitedCode() const {
  std::lock_guard lock(mutex_);
  return awaitedCode_;
}

void ResponseSlot::SetSwitchHandler(std::function<void(bool pressed)> handler) {
  std::lock_guard lock(mutex_);
  switchHandler_ = std::move(handler);
}

void ResponseSlot::OnFrame(const std::uint8_t* payload, int count) {
  if (count < 1) return;
  std::function<void(bool)> onSwitch;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    const int before = last_.length;
    last_.code = payload[0];
    last_.length = count - 1;
    std::memcpy(last_.data.data(), payload + 1, static_cast<std::size_t>(last_.length));
    // A short answer must not carry the bytes of a longer one before it.
    if (before > last_.length) std::memset(last_.data.data() + last_.length, 0, static_cast<std::size_t>(before - last_.length));
    if (last_.code == RESP_SWITCH) onSwitch = switchHandler_;
    if (armed_ && !arrived_ && last_.code == awaitedCode_) {
      captured_ = last_;
      arrived_ = true;
      arrivedFlag_.store(true, std::memory_order_release);
      wake = true;
    } else if (armed_ && arrived_ && owedAfter_ > 0 && last_.code == awaitedCode_) {
      ahead_.push_back(last_);
      --owedAfter_;
    }
  }
  // A switch report without data counts as released.
  if (onSwitch) onSwitch(count > 1 && (payload[1] & 0x01) != 0);
  if (wake) arrivedCv_.notify_all();
}

}  // namespace qmx
