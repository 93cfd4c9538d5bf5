// Full read and full write of the largest part of each family through both
// front ends, against the pseudo-terminal floor of the same traffic.
//
// The host faces a minimal responder that answers every awaited command at
// once and records what arrived between answers. The floor replays exactly
// those bytes over a bare pseudo-terminal to the same responder, one write per
// round trip, so the ratio is what the host's procedures and link add.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/catalogue/catalogue.h"
#include "bench/bench_pty.h"
#include "core/link/connection.h"
#include "core/link/frame_decoder.h"
#include "core/memory/memory_ops.h"
#include "core/protocol/encoding.h"
#include "image/memory_image.h"

namespace {

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

struct NullOperator : qmx::Operator {
  void LogLine(const std::string&) override {}
  bool AskOkCancel(const std::string&, const std::string&) override { return true; }
  void StartErrorIndication() override {}
};

double Replay(const std::vector<Exchange>& exchanges, int family, std::uint8_t bits) {
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

struct Case {
  std::string name;
  int family;
  int row;
  int device;
  bool library;
  bool write;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Run(const Case& c, int repeats) {
  const std::uint8_t bits = static_cast<std::uint8_t>(
      c.family == qmx::kFamilyMicrowire ? qmx::MicrowireAddressBits(c.row, false) : 1);
  const std::int32_t size = qmx::PartSize(c.family, c.row);
  qmx::MemoryImage image;
  image.SetSize(size);
  qmx::BitReversal reverse;
  NullOperator op;
  qmx::ProgramSettings settings;
  settings.family = c.family;
  settings.row = c.row;
  settings.model = qmx::kModel71C;
  settings.pageSize = c.family == qmx::kFamilyMicrowire ? "1" : "32";
  Bytes buffer(static_cast<std::size_t>(size), 0x5A);

  std::vector<double> hostTimes, floorTimes;
  std::vector<Exchange> exchanges;
  for (int r = 0; r < repeats; ++r) {
    Responder responder(c.family, bits);
    qmx::Connection link;
    if (!link.OpenPort(responder.Path()) || !link.QueryName()) {
      std::printf("%s: cannot connect\n", c.name.c_str());
      return;
    }
    responder.Take();  // the connect is not part of the case
    const auto t0 = Clock::now();
    int ok = 0;
    if (c.library) {
      ok = c.write ? qmx::LibraryWriteSide(link, reverse, c.family, qmx::kWrite, c.device, 0, buffer.data(), size,
                                           c.family == qmx::kFamilyMicrowire ? 0 : 32)
                   : (qmx::LibraryReadSide(link, reverse, c.family, qmx::kRead, c.device, 0, buffer.data(), size,
                                           256) != 0);
      link.Query(qmx::GET_VERSION, qmx::RESP_VERSION);  // the streamed writes have arrived
    } else {
      ok = c.write ? qmx::ProgramWriteSide(link, image, reverse, settings, op, qmx::kWrite)
                   : qmx::ProgramReadSide(link, image, reverse, settings, op, qmx::kRead);
    }
    hostTimes.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    if (!ok) std::printf("%s: pass failed\n", c.name.c_str());
    exchanges = responder.Take();
    floorTimes.push_back(Replay(exchanges, c.family, bits));
  }
  std::size_t sent = 0, received = 0, frames = 0, trips = 0;
  for (const Exchange& e : exchanges) {
    sent += e.request.size();
    received += e.answer.size();
    frames += static_cast<std::size_t>(std::count(e.request.begin(), e.request.end(), qmx::kFrameEnd));
    trips += e.answer.empty() ? 0 : 1;
  }
  const double host = Median(hostTimes), floor = Median(floorTimes);
  std::printf("%-28s frames %6zu  wire bytes %7zu  round trips %4zu  host %9.0f us  floor %9.0f us\n",
              c.name.c_str(), frames, sent + received, trips, host, floor);
  std::printf("%s ratio: %.2f\n", c.name.c_str(), host / floor);
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::vector<Case> cases = {
      {"program-read-93C86", qmx::kFamilyMicrowire, 6, 0, false, false},
      {"program-read-9016", qmx::kFamilyMicrowire, 11, 0, false, false},
      {"program-read-24C64", qmx::kFamilyI2c, 7, 0, false, false},
      {"program-read-25C640", qmx::kFamilySpi, 6, 0, false, false},
      {"library-read-93C86", qmx::kFamilyMicrowire, 6, 6, true, false},
      {"library-read-9016", qmx::kFamilyMicrowire, 11, 204, true, false},
      {"library-read-24C64", qmx::kFamilyI2c, 7, 7, true, false},
      {"library-read-25C640", qmx::kFamilySpi, 6, 6, true, false},
      {"program-write-93C86", qmx::kFamilyMicrowire, 6, 0, false, true},
      {"program-write-9016", qmx::kFamilyMicrowire, 11, 0, false, true},
      {"program-write-24C64", qmx::kFamilyI2c, 7, 0, false, true},
      {"program-write-25C640", qmx::kFamilySpi, 6, 0, false, true},
      {"library-write-93C86", qmx::kFamilyMicrowire, 6, 6, true, true},
      {"library-write-9016", qmx::kFamilyMicrowire, 11, 204, true, true},
      {"library-write-24C64", qmx::kFamilyI2c, 7, 7, true, true},
      {"library-write-25C640", qmx::kFamilySpi, 6, 6, true, true},
  };
  // One untimed pass first, so the first case does not pay for a cold machine.
  std::printf("warm-up:\n");
  Run(cases.front(), 3);
  std::printf("cases:\n");
  for (const Case& c : cases) Run(c, repeats);
  return 0;
}
