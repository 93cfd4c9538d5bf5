// Pseudo-terminal plumbing shared by the benchmarks' minimal responders.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace qmx::bench {

inline void MakeRaw(int fd) {
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
}

// A pseudo-terminal whose slave is held open in raw mode, so the line
// discipline never echoes and the master never sees EIO between clients.
struct PtyPair {
  PtyPair() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    path = ::ptsname(master);
    holder = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    MakeRaw(holder);
  }
  ~PtyPair() {
    ::close(holder);
    ::close(master);
  }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;
  int master = -1;
  int holder = -1;
  std::string path;
};

}  // namespace qmx::bench
