// The poll's care for a programmer that shows its port but does not answer
// (hung firmware): each connect try costs the window thread the handshake's
// waits, so the handshake writes get a short time-out and a port whose
// handshake failed rests a while before the next try.
#pragma once

#include <chrono>
#include <string>

namespace qmx {
class SCommX;
}

namespace qmx::app {

class ConnectRetry {
 public:
  using Clock = std::chrono::steady_clock;
  // Long enough that a hung programmer holds the window thread only now and
  // then, short enough that one that recovers is found again soon.
  static constexpr std::chrono::milliseconds kRest{3000};

  // False while `port` is resting after a failed handshake.
  bool MayTry(const std::string& port, Clock::time_point now = Clock::now()) const;
  void Failed(const std::string& port, Clock::time_point now = Clock::now());
  // Connected, or the port went away: whatever comes next is tried at once.
  void Forget() {
    port_.clear();
    held_.clear();
  }
  // True only the first time `port` is found held by another program since
  // the last Forget: the operator is told once, not at every tick.
  bool FirstHeld(const std::string& port);

 private:
  std::string port_;
  Clock::time_point until_{};
  std::string held_;
};

// For the scope of a handshake: a working programmer takes its few bytes at
// once, so a write that waits longer than this finds a hung one (the usual
// time-out is meant for long streams to a busy programmer).
class HandshakeWrites {
 public:
  static constexpr int kTimeoutMs = 250;
  explicit HandshakeWrites(SCommX& channel);
  ~HandshakeWrites();
  HandshakeWrites(const HandshakeWrites&) = delete;
  HandshakeWrites& operator=(const HandshakeWrites&) = delete;

 private:
  SCommX& channel_;
  int usualMs_;
};

}  // namespace qmx::app
