// termios backend of the serial channel.
//
// Close may run on one thread while the reader thread sleeps in WaitReceive
// or drains with Read. A descriptor must never be closed under a thread that
// still uses it (the number could be reused by another open), so transfers
// hold the lock shared and Close takes it exclusively, after waking every
// wait through the abort event.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "core/platform/posix/termios_map.h"
#include "core/platform/serial_backend.h"
#include "core/platform/wake_event.h"

namespace qmx {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWriteRecheckMs = 20;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

class PosixSerialBackend final : public SerialBackend {
 public:
  ~PosixSerialBackend() override { Close(); }

  bool Open(const std::string& path) override {
    std::unique_lock lock(mutex_);
    // Without the abort event a close could not wake a reader that waits.
    if (fd_.load() >= 0 || !abort_.Valid()) return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // Exclusive: TIOCEXCL keeps out other opens except root's; the lock
    // keeps out a second holder even when it runs as root.
    if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return false;
    }
    ::ioctl(fd, TIOCEXCL);
    // Answers that came after an earlier holder closed the port are owed to
    // its commands; taken now they would answer ours.
    ::tcflush(fd, TCIFLUSH);
    hungUp_ = false;
    fd_ = fd;
    return true;
  }

  void Close() override {
    if (fd_.load() < 0) return;
    aborting_ = true;
    abort_.Set();
    std::unique_lock lock(mutex_);
    const int fd = fd_.load();
    if (fd >= 0) {
      // Unread input is dropped; output only when it is still queued (the
      // device stopped taking it), so that the close never waits on it. Bytes
      // the device is taking are left alone: they are commands the caller
      // sent, and a pseudo-terminal would drop them from its peer's side.
      int queued = 0;
      const bool outputLeft = ::ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0;
      ::tcflush(fd, outputLeft ? TCIOFLUSH : TCIFLUSH);
      // The exclusive mode belongs to the tty, not to this descriptor: clear
      // it so the next open (by anyone) is not refused.
      ::ioctl(fd, TIOCNXCL);
      ::flock(fd, LOCK_UN);
      ::close(fd);
      fd_ = -1;
    }
    abort_.Reset();
    aborting_ = false;
  }

  bool IsOpen() const override { return fd_.load() >= 0; }

  void ApplyLineSettings(const LineSettings& s) override {
    std::shared_lock lock(mutex_);
    const int fd = fd_.load();
    if (fd < 0) return;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return;
    MapLineSettings(s, tio);
    // A refused setting leaves the port as it was; the open still stands.
    ::tcsetattr(fd, TCSANOW, &tio);
    // Handshake modes decide where DTR and RTS rest after the settings.
    const bool dtr = s.flowControl == 2;
    const bool rts = s.flowControl == 1;
    SetLine(fd, TIOCM_DTR, dtr);
    SetLine(fd, TIOCM_RTS, rts);
  }

  void SetTimeouts(int totalMs) override { timeoutMs_ = totalMs; }

  int Write(const std::uint8_t* data, int count) override {
    if (aborting_) return -1;
    std::shared_lock lock(mutex_);
    const int fd = fd_.load();
    if (fd < 0 || hungUp_) return -1;
    return Transfer(fd, const_cast<std::uint8_t*>(data), count, /*writing=*/true);
  }

  int Read(std::uint8_t* buffer, int count) override {
    if (aborting_) return -1;
    std::shared_lock lock(mutex_);
    const int fd = fd_.load();
    if (fd < 0) return -1;
    return Transfer(fd, buffer, count, /*writing=*/false);
  }

  bool SetDtr(bool on) override { return SetModemLine(TIOCM_DTR, on); }
  bool SetRts(bool on) override { return SetModemLine(TIOCM_RTS, on); }

  int QueuedBytes() override {
    if (aborting_) return -1;
    std::shared_lock lock(mutex_);
    const int fd = fd_.load();
    int queued = 0;
    if (fd < 0 || ::ioctl(fd, FIONREAD, &queued) != 0) return -1;
    return queued;
  }

  int OutputQueued() override {
    if (aborting_) return 0;
    std::shared_lock lock(mutex_);
    const int fd = fd_.load();
    int queued = 0;
    if (fd < 0 || ::ioctl(fd, TIOCOUTQ, &queued) != 0) return 0;
    return queued;
  }

  void DiscardOutput() override {
    std::shared_lock lock(mutex_);
    const int fd = fd_.load();
    if (fd >= 0) ::tcflush(fd, TCOFLUSH);
  }

  ReceiveWait WaitReceive(WakeEvent& stop, int* queuedOut) override {
    *queuedOut = 0;
    if (aborting_) return ReceiveWait::Closed;
    std::shared_lock lock(mutex_);
    const int fd = fd_.load();
    if (fd < 0) return ReceiveWait::Closed;
    if (hungUp_) return ReceiveWait::HungUp;
    pollfd fds[3] = {{fd, POLLIN, 0}, {abort_.Fd(), POLLIN, 0}, {stop.Fd(), POLLIN, 0}};
    for (;;) {
      const int n = ::poll(fds, 3, -1);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ReceiveWait::Closed;
      break;
    }
    if (fds[2].revents != 0) return ReceiveWait::Stopped;
    if (fds[1].revents != 0) return ReceiveWait::Closed;
    int queued = 0;
    const bool haveBytes = ::ioctl(fd, FIONREAD, &queued) == 0 && queued > 0;
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && !haveBytes) {
      hungUp_ = true;
      return ReceiveWait::HungUp;
    }
    if (haveBytes) *queuedOut = queued;
    if (!haveBytes) {
      // Readable with nothing queued: a state change, not data. Pause so a
      // stuck condition cannot turn the reader into a spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ReceiveWait::Readable;
  }

  bool HungUp() const override {
    if (hungUp_) return true;
    // Asked before the reader thread woke to the hang-up: look for ourselves.
    std::shared_lock lock(mutex_);
    const int fd = fd_.load();
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0) return false;
    int queued = 0;
    return ::ioctl(fd, FIONREAD, &queued) != 0 || queued == 0;
  }

 private:
  static bool SetLine(int fd, int line, bool on) {
    return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
  }

  bool SetModemLine(int line, bool on) {
    if (aborting_) return false;
    std::shared_lock lock(mutex_);
    const int fd = fd_.load();
    return fd >= 0 && SetLine(fd, line, on);
  }

  // Moves the whole block or as much as the total time-out allows.
  int Transfer(int fd, std::uint8_t* data, int count, bool writing) {
    // The clock is read only when the port makes us wait: most transfers
    // complete in their first call.
    Clock::time_point deadline{};
    bool deadlineSet = false;
    int done = 0;
    while (done < count) {
      const ssize_t n = writing ? ::write(fd, data + done, static_cast<size_t>(count - done))
                                : ::read(fd, data + done, static_cast<size_t>(count - done));
      if (n > 0) {
        done += static_cast<int>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!deadlineSet) {
          deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_.load());
          deadlineSet = true;
        }
        const int left = RemainingMs(deadline);
        if (left == 0) break;
        pollfd fds[2] = {{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0}, {abort_.Fd(), POLLIN, 0}};
        // A pseudo-terminal frees room without waking its writer: look again
        // every few milliseconds rather than sleep out the whole time-out.
        const int r = ::poll(fds, 2, writing ? std::min(left, kWriteRecheckMs) : left);
        if (r < 0 && errno != EINTR) return done > 0 ? done : -1;
        if (fds[1].revents != 0) return done > 0 ? done : -1;
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && (fds[0].revents & POLLIN) == 0) {
          hungUp_ = true;
          return done > 0 ? done : -1;
        }
        continue;
      }
      // 0 from a tty read, or EIO: the device is gone.
      hungUp_ = true;
      return done > 0 ? done : -1;
    }
    return done;
  }

  mutable std::shared_mutex mutex_;
  std::atomic<int> fd_{-1};
  std::atomic<bool> aborting_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<int> timeoutMs_{3000};
  WakeEvent abort_;
};

}  // namespace

std::unique_ptr<SerialBackend> MakeSerialBackend() {
  return std::make_unique<PosixSerialBackend>();
}

}  // namespace qmx
