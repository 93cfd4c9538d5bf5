// The reader thread: sleeps until bytes are queued on the channel, drains
// exactly what is queued in blocks of at most 4096 bytes and feeds the decoder.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "core/platform/wake_event.h"

namespace qmx {

class FrameDecoder;
class SCommX;

class ReaderThread {
 public:
  static constexpr int kBlock = 4096;

  ReaderThread() = default;
  ~ReaderThread();
  ReaderThread(const ReaderThread&) = delete;
  ReaderThread& operator=(const ReaderThread&) = delete;

  bool Start(SCommX& channel, FrameDecoder& decoder);
  // Wakes the thread and joins it. Every wait inside the loop is interruptible
  // or bounded by the channel's time-out, so this ends.
  void Stop();
  bool Running() const { return thread_.joinable(); }

  // True once the loop saw the port vanish (it then sleeps until stopped).
  bool PortGone() const { return portGone_.load(); }

 private:
  void Loop(SCommX& channel, FrameDecoder& decoder);
  void Drain(SCommX& channel, FrameDecoder& decoder, int queued);
  void SleepUntilStopped();

  std::thread thread_;
  std::atomic<bool> run_{false};
  std::atomic<bool> portGone_{false};
  WakeEvent wake_;
  std::uint8_t buffer_[kBlock] = {};
};

}  // namespace qmx
