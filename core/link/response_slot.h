// The single response slot: the last answer received, and the answer that the
// caller's thread is waiting for.
//
// The awaited code is armed before the command that provokes the answer is
// sent, so an answer that beats the wait is kept; the waiter gets its own copy
// of the awaited answer, taken under the lock when it arrives, so a later
// frame cannot overwrite what the waiter reads.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <functional>
#include <mutex>

#include "core/link/frame_decoder.h"

namespace qmx {

struct Answer {
  std::uint8_t code = 0;
  int length = 0;  // data bytes after the code
  std::array<std::uint8_t, 256> data{};
};

class ResponseSlot final : public FrameSink {
 public:
  static constexpr int kSpinMicros = 100;
  // Creates / destroys the response event. Without one, waits fail at once.
  void OpenEvent();
  void CloseEvent();
  bool EventOpen() const;

  // Arms the awaited code for the next wait and forgets an earlier arrival.
  void Arm(std::uint8_t code);
  // One more answer of the armed code is owed behind those already armed
  // (reads sent ahead of their answers): each wait takes the next, in the
  // order they arrive. Arms the code when nothing is armed.
  void ArmAnother(std::uint8_t code);
  // Waits for the armed code (arming it now if it is not armed). True when it
  // arrived within the time-out; Awaited() then holds its copy. `expected`:
  // how long after arming the answer usually comes, so that the waiter is
  // awake and looking when it does (0: at once).
  bool WaitResponse(std::uint8_t code, int timeoutMs,
                    std::chrono::microseconds expected = std::chrono::microseconds(0));
  // When the armed wait began.
  std::chrono::steady_clock::time_point ArmedAt() const;
  // The waiter's copy of the awaited answer; caller's thread only.
  const Answer& Awaited() const { return result_; }

  // The last frame received, awaited or not.
  Answer Last() const;
  std::uint8_t AwaitedCode() const;

  // Switch reports (0x8B) go here, on the reader thread.
  void SetSwitchHandler(std::function<void(bool pressed)> handler);

  // Dispatch from the decoder (reader thread).
  void OnFrame(const std::uint8_t* payload, int count) override;

 private:
  mutable std::mutex mutex_;
  std::condition_variable arrivedCv_;
  bool eventOpen_ = false;
  bool armed_ = false;
  bool arrived_ = false;
  std::atomic<bool> arrivedFlag_{false};  // mirror of arrived_ for the short spin
  std::uint8_t awaitedCode_ = 0;
  std::chrono::steady_clock::time_point armedAt_{};
  Answer last_;
  Answer captured_;  // written by the reader only while armed and not arrived
  Answer result_;    // the waiter's copy
  int owedAfter_ = 0;          // answers armed behind the current one, not yet arrived
  std::deque<Answer> ahead_;   // answers arrived behind an unread current one
  std::function<void(bool)> switchHandler_;
};

}  // namespace qmx
