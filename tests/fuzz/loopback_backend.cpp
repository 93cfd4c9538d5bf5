// The serial backend of the library's fuzz target: every port is the firmware
// model in this process, answering at once. Over a pseudo-terminal each round
// trip costs two thread wake-ups and a poll; here a write carries the command
// out and queues its answer, so the target runs its 10^7 inputs in hours
// instead of weeks. Defining MakeSerialBackend here keeps the platform's own
// backend out of the link.
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "core/platform/serial_backend.h"
#include "core/platform/wake_event.h"
#include "tests/fuzz/loopback_backend.h"

namespace qmxfuzz {
namespace {

qmx::sim::Programmer* firmware = nullptr;
std::mutex firmwareMu;

class LoopbackBackend final : public qmx::SerialBackend {
 public:
  bool Open(const std::string&) override {
    std::lock_guard lock(mu_);
    if (open_) return false;
    open_ = true;
    input_.clear();
    abort_.Reset();
    return true;
  }
  void Close() override {
    std::lock_guard lock(mu_);
    open_ = false;
    input_.clear();
    abort_.Set();
  }
  bool IsOpen() const override {
    std::lock_guard lock(mu_);
    return open_;
  }
  void ApplyLineSettings(const qmx::LineSettings&) override {}
  void SetTimeouts(int) override {}

  int Write(const std::uint8_t* data, int count) override {
    std::vector<std::uint8_t> answers;
    {
      std::lock_guard lock(firmwareMu);
      firmware->Receive(std::span<const std::uint8_t>(data, static_cast<std::size_t>(count)), answers);
    }
    std::lock_guard lock(mu_);
    if (!open_) return -1;
    input_.insert(input_.end(), answers.begin(), answers.end());
    if (!input_.empty()) ready_.Set();
    return count;
  }
  int Read(std::uint8_t* buffer, int count) override {
    std::lock_guard lock(mu_);
    if (!open_) return -1;
    const int n = std::min(count, static_cast<int>(input_.size()));
    std::copy_n(input_.begin(), n, buffer);
    input_.erase(input_.begin(), input_.begin() + n);
    if (input_.empty()) ready_.Reset();
    return n;
  }
  bool SetDtr(bool) override { return true; }
  bool SetRts(bool) override { return true; }
  int QueuedBytes() override {
    std::lock_guard lock(mu_);
    return open_ ? static_cast<int>(input_.size()) : -1;
  }
  int OutputQueued() override { return 0; }

  qmx::ReceiveWait WaitReceive(qmx::WakeEvent& stop, int* queued) override {
    *queued = 0;
    pollfd fds[3] = {{ready_.Fd(), POLLIN, 0}, {abort_.Fd(), POLLIN, 0}, {stop.Fd(), POLLIN, 0}};
    while (::poll(fds, 3, -1) < 0 && errno == EINTR) {
    }
    if (fds[2].revents != 0) return qmx::ReceiveWait::Stopped;
    std::lock_guard lock(mu_);
    if (!open_) return qmx::ReceiveWait::Closed;
    *queued = static_cast<int>(input_.size());
    return qmx::ReceiveWait::Readable;
  }
  bool HungUp() const override { return false; }

 private:
  mutable std::mutex mu_;
  bool open_ = false;
  std::deque<std::uint8_t> input_;
  qmx::WakeEvent ready_;
  qmx::WakeEvent abort_;
};

}  // namespace

void UseFirmware(qmx::sim::Programmer& programmer) { firmware = &programmer; }

std::unique_lock<std::mutex> LockFirmware() { return std::unique_lock(firmwareMu); }

}  // namespace qmxfuzz

namespace qmx {
std::unique_ptr<SerialBackend> MakeSerialBackend() { return std::make_unique<qmxfuzz::LoopbackBackend>(); }
}  // namespace qmx
