// The benchmarks' minimal responder and the bare replay that gives the floor.
//
// The responder answers every awaited command at once and records what
// arrived between answers; Replay sends exactly those bytes over a bare
// pseudo-terminal, one write per round trip, to a fresh responder.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_pty.h"
#include "core/catalogue/catalogue.h"
#include "core/link/frame_decoder.h"
#include "core/protocol/commands.h"
#include "core/protocol/encoding.h"

namespace qmx::bench {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

struct Exchange {
  Bytes request;  // bytes received since the previous answer, up to the frame answered
  Bytes answer;   // the answer frame as sent
};

class Responder : public qmx::FrameSink {
 public:
  Responder(int family, std::uint8_t addressBits) : family_(family), bits_(addressBits) {
    if (::pipe(stop_) != 0) stop_[0] = stop_[1] = -1;
    thread_ = std::thread([this] { Serve(); });
  }
  ~Responder() override {
    [[maybe_unused]] auto n = ::write(stop_[1], "x", 1);
    thread_.join();
    for (int fd : {stop_[0], stop_[1]}) ::close(fd);
  }
  const std::string& Path() const { return pty_.path; }
  std::vector<Exchange> Take() {
    std::lock_guard lock(mutex_);
    if (!pending_.empty()) exchanges_.push_back({pending_, {}});
    pending_.clear();
    return std::move(exchanges_);
  }
  void OnFrame(const std::uint8_t* p, int n) override {
    Bytes data;
    switch (p[0]) {
      case qmx::GET_NAME: data = {'Q', 'M', 'X', '-', '7', '1', 'C', 0}; return Answer(qmx::RESP_NAME, data);
      case qmx::GET_VERSION: return Answer(qmx::RESP_VERSION, {1, 0});
      case qmx::CHK_DEVICE: return Answer(qmx::RESP_DEVICE, {1, bits_});
      case qmx::GET_LAST_ERR: return Answer(qmx::RESP_LAST_ERR, {0, 0});
      case qmx::READ_DATA: {
        if (n < 2) return;
        int count = p[1] == 0 ? 256 : p[1];
        if (family_ == qmx::kFamilyI2c && p[1] >= 0x80) count = 256 - p[1];
        return Answer(qmx::RESP_DATA, Bytes(static_cast<std::size_t>(count), 0x5A));
      }
      default: return;
    }
  }

 private:
  void Answer(std::uint8_t code, const Bytes& data) {
    Bytes payload{code};
    payload.insert(payload.end(), data.begin(), data.end());
    const Bytes frame = qmx::EncodeFrame(payload);
    {
      std::lock_guard lock(mutex_);
      exchanges_.push_back({pending_, frame});
      pending_.clear();
    }
    std::size_t off = 0;
    while (off < frame.size()) {
      const ssize_t w = ::write(master_, frame.data() + off, frame.size() - off);
      if (w > 0) off += static_cast<std::size_t>(w);
    }
  }
  void Serve() {
    std::uint8_t buf[4096];
    for (;;) {
      pollfd fds[2] = {{master_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) return;
      const ssize_t n = ::read(master_, buf, sizeof buf);
      for (ssize_t i = 0; i < n; ++i) {
        {
          std::lock_guard lock(mutex_);
          pending_.push_back(buf[i]);
        }
        decoder_.Feed(buf + i, 1);
      }
    }
  }
  int family_;
  std::uint8_t bits_;
  qmx::bench::PtyPair pty_;
  int master_ = pty_.master;
  int stop_[2] = {-1, -1};
  std::thread thread_;
  qmx::FrameDecoder decoder_{*this};
  std::mutex mutex_;
  Bytes pending_;
  std::vector<Exchange> exchanges_;
};

inline double Replay(const std::vector<Exchange>& exchanges, int family, std::uint8_t bits) {
  Responder responder(family, bits);
  const int fd = ::open(responder.Path().c_str(), O_RDWR | O_NOCTTY);
  qmx::bench::MakeRaw(fd);
  std::uint8_t buf[4096];
  const auto t0 = Clock::now();
  for (const Exchange& e : exchanges) {
    if (!e.request.empty() && ::write(fd, e.request.data(), e.request.size()) < 0) break;
    std::size_t got = 0;
    while (got < e.answer.size()) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) break;
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) got += static_cast<std::size_t>(n);
    }
  }
  const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
  ::close(fd);
  return us;
}


}  // namespace qmx::bench
