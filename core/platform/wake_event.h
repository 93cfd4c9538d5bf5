// A manual-reset event that a poll-based wait can watch (an eventfd on Linux).
#pragma once

namespace qmx {

class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  bool Valid() const { return fd_ >= 0; }
  void Set();
  void Reset();
  // Sleeps until the event is set or timeoutMs passes (-1: no limit). True when set.
  bool Wait(int timeoutMs) const;
  // Descriptor that polls readable while the event is set.
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace qmx
