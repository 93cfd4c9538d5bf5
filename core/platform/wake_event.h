// A manual-reset event that the serial backend's waits can watch alongside
// the port: an eventfd on Linux, an event object on Win32.
#pragma once

#include <cstdint>

namespace qmx {

class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  bool Valid() const { return native_ != kNone; }
  void Set();
  void Reset();
  // Sleeps until the event is set or timeoutMs passes (-1: no limit). True when set.
  bool Wait(int timeoutMs) const;
  // POSIX: the descriptor, which polls readable while the event is set.
  int Fd() const { return static_cast<int>(native_); }
  // Win32: the event HANDLE, for WaitForMultipleObjects.
  std::intptr_t Native() const { return native_; }

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t native_ = kNone;
};

}  // namespace qmx
