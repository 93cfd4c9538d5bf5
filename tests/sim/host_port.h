// The test's side of the pseudo-terminal: opened the way the host opens a port.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qmx::sim::test {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

struct Chunk {
  Bytes bytes;
  std::chrono::steady_clock::time_point at;
};

class HostPort {
 public:
  explicit HostPort(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (fd_ >= 0 && tcgetattr(fd_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~HostPort() {
    if (fd_ >= 0) close(fd_);
  }
  HostPort(const HostPort&) = delete;
  HostPort& operator=(const HostPort&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  bool Write(const Bytes& bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }

  // Every read() result separately, until `count` bytes arrived or `timeout` passed.
  std::vector<Chunk> ReadChunks(std::size_t count, milliseconds timeout) {
    std::vector<Chunk> chunks;
    std::size_t total = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (total < count) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN)) break;
      std::uint8_t buffer[1024];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      chunks.push_back({Bytes(buffer, buffer + n), std::chrono::steady_clock::now()});
      total += static_cast<std::size_t>(n);
    }
    return chunks;
  }

  Bytes Read(std::size_t count, milliseconds timeout = milliseconds(1000)) {
    Bytes out;
    for (const Chunk& c : ReadChunks(count, timeout)) out.insert(out.end(), c.bytes.begin(), c.bytes.end());
    return out;
  }

 private:
  int fd_ = -1;
};

}  // namespace qmx::sim::test
