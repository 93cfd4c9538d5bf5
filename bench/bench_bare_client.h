// A bare client of a pseudo-terminal and an exact responder for it, so the
// real-timing benchmark can tell the pty's cost from the simulator's.
#pragma once

#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_pty.h"
#include "bench/bench_responder.h"
#include "core/protocol/commands.h"
#include "core/protocol/encoding.h"

namespace qmx::bench {

using TimePoint = std::chrono::steady_clock::time_point;

// When each round trip's request was written and its answer read.
struct TripTimes {
  std::vector<TimePoint> sent, received;
};

inline bool SendFrame(int fd, const std::vector<std::uint8_t>& payload) {
  const std::vector<std::uint8_t> frame = EncodeFrame(payload);
  return ::write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
}

// Reads until a whole answer frame is in; false when none comes within a second.
inline bool AwaitFrame(int fd) {
  std::uint8_t buf[1024];
  for (;;) {
    pollfd pfd{fd, POLLIN, 0};
    const ssize_t n = ::poll(&pfd, 1, 1000) > 0 ? ::read(fd, buf, sizeof buf) : -1;
    if (n <= 0) return false;
    if (std::find(buf, buf + n, kFrameEnd) != buf + n) return true;
  }
}

// A bare client: sends `ask` `count` times, each time waiting for the whole
// answer and nothing else.
inline bool BareAsk(int fd, const std::vector<std::uint8_t>& ask, int count, TripTimes* times = nullptr) {
  bool ok = true;
  for (int i = 0; i < count && ok; ++i) {
    if (times) times->sent.push_back(std::chrono::steady_clock::now());
    ok = SendFrame(fd, ask) && AwaitFrame(fd);
    if (times) times->received.push_back(std::chrono::steady_clock::now());
  }
  return ok;
}

// Recorded traffic again, one write per round trip, each answer awaited.
inline bool ReplayTrips(int fd, const std::vector<Exchange>& exchanges) {
  for (const Exchange& e : exchanges) {
    const auto size = static_cast<ssize_t>(e.request.size());
    if (size > 0 && ::write(fd, e.request.data(), e.request.size()) != size) return false;
    if (!e.answer.empty() && !AwaitFrame(fd)) return false;
  }
  return true;
}

inline int OpenRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd >= 0) MakeRaw(fd);
  return fd;
}

// What the simulator's keeping of time is measured against: a responder that
// answers GET_VERSION one answer latency after the request arrived and does
// nothing else, noting when each request arrived and each answer left. It
// sleeps until shortly before and spins the rest, so it is late only when
// the machine makes it so, and hogs no core while it waits.
class ExactResponder {
 public:
  explicit ExactResponder(std::chrono::microseconds latency) : latency_(latency) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~ExactResponder() {
    stop_ = true;
    thread_.join();
  }
  ExactResponder(const ExactResponder&) = delete;
  ExactResponder& operator=(const ExactResponder&) = delete;

  const std::string& Path() const { return pty_.path; }
  std::vector<TimePoint> Arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
  }
  std::vector<TimePoint> Departures() const {
    std::lock_guard lock(mutex_);
    return departures_;
  }

 private:
  static constexpr std::chrono::microseconds kSpinWindow{200};
  static constexpr unsigned long kTimerSlackNs = 1000;  // the default 50 us would show in every answer

  void Serve() {
    ::prctl(PR_SET_TIMERSLACK, kTimerSlackNs);
    const std::vector<std::uint8_t> answer = EncodeFrame(std::vector<std::uint8_t>{RESP_VERSION, 1, 0});
    std::uint8_t buf[256];
    while (!stop_) {
      pollfd pfd{pty_.master, POLLIN, 0};
      if (::poll(&pfd, 1, 50) <= 0) continue;
      const ssize_t n = ::read(pty_.master, buf, sizeof buf);
      const TimePoint arrival = std::chrono::steady_clock::now();
      if (n <= 0 || std::find(buf, buf + n, kFrameEnd) == buf + n) continue;
      const TimePoint due = arrival + latency_;
      std::this_thread::sleep_until(due - kSpinWindow);
      while (std::chrono::steady_clock::now() < due) {
      }
      const TimePoint departure = std::chrono::steady_clock::now();
      [[maybe_unused]] const ssize_t w = ::write(pty_.master, answer.data(), answer.size());
      std::lock_guard lock(mutex_);
      arrivals_.push_back(arrival);
      departures_.push_back(departure);
    }
  }

  PtyPair pty_;
  std::chrono::microseconds latency_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<TimePoint> arrivals_, departures_;
  std::thread thread_;
};

}  // namespace qmx::bench
