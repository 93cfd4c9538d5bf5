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

#include "core/platform/serial_backend.h"
#include "core/platform/wake_event.h"

namespace qmx {

namespace {

using Clock = std::chrono::steady_clock;

speed_t SpeedFor(std::int32_t baud, bool& known) {
  struct Rate {
    std::int32_t bps;
    speed_t code;
  };
  static constexpr Rate kRates[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {2000000, B2000000},
  };
  for (const Rate& r : kRates) {
    if (r.bps == baud) {
      known = true;
      return r.code;
    }
  }
  known = false;
  return B0;
}

tcflag_t SizeFlag(std::int32_t byteSize) {
  switch (byteSize & 0xFF) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

// Parity codes: 0 none, 1 odd, 2 even, 3 mark, 4 space.
tcflag_t ParityFlags(std::int32_t parity) {
  switch (parity & 0xFF) {
    case 1: return PARENB | PARODD;
    case 2: return PARENB;
    case 3: return PARENB | PARODD | CMSPAR;
    case 4: return PARENB | CMSPAR;
    default: return 0;
  }
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

class PosixSerialBackend final : public SerialBackend {
 public:
  ~PosixSerialBackend() override { Close(); }

  bool Open(const std::string& path) override {
    std::unique_lock lock(mutex_);
    if (fd_.load() >= 0) return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // Exclusive: TIOCEXCL keeps out other opens except root's; the lock
    // keeps out a second holder even when it runs as root.
    if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return false;
    }
    ::ioctl(fd, TIOCEXCL);
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
      ::tcflush(fd, TCIOFLUSH);
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
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD | SizeFlag(s.byteSize) | ParityFlags(s.parity);
    // Stop-bit code 1 (one and a half) has no termios form; CSTOPB is the
    // nearest, and a 16550-style UART makes 1.5 stop bits of it at 5 data bits.
    if ((s.stopBits & 0xFF) != 0) tio.c_cflag |= CSTOPB;
    if (s.flowControl == 1) tio.c_cflag |= CRTSCTS;
    if (s.flowControl == 3) tio.c_iflag |= IXON | IXOFF;
    // One byte satisfies a read; the descriptor is non-blocking, so an empty
    // queue gives EAGAIN instead of a 0 that would look like end of file.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    bool known = false;
    const speed_t speed = SpeedFor(s.baudRate, known);
    if (known) {
      ::cfsetispeed(&tio, speed);
      ::cfsetospeed(&tio, speed);
    }
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

  ReceiveWait WaitReceive(WakeEvent& stop) override {
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
    if (!haveBytes) {
      // Readable with nothing queued: a state change, not data. Pause so a
      // stuck condition cannot turn the reader into a spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return ReceiveWait::Readable;
  }

  bool HungUp() const override { return hungUp_; }

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
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_.load());
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
        const int left = RemainingMs(deadline);
        if (left == 0) break;
        pollfd fds[2] = {{fd, static_cast<short>(writing ? POLLOUT : POLLIN), 0}, {abort_.Fd(), POLLIN, 0}};
        const int r = ::poll(fds, 2, left);
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

std::string DevicePathForPort(const std::string& portName) {
  if (!portName.empty() && portName.front() == '/') return portName;
  return "/dev/" + portName;
}

}  // namespace qmx
