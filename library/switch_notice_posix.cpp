#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "library/switch_notice.h"

namespace qmx {

namespace {

// A write to a pipe without reader raises SIGPIPE in the writing thread: it
// is held back on this thread for the write, and one it caused is taken
// before the mask is restored, so the host never sees it.
void WriteWithoutSigpipe(int fd, const void* bytes, std::size_t size) {
  sigset_t pipeOnly, previous;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  const bool wasPending = pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous) == 0 && sigpending(&pending) == 0 &&
                          sigismember(&pending, SIGPIPE) == 1;
  const ssize_t n = ::write(fd, bytes, size);
  if (n < 0 && errno == EPIPE && !wasPending) {
    const timespec none{0, 0};
    while (sigtimedwait(&pipeOnly, nullptr, &none) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace

void SendSwitchNotice(intptr_t handle) {
  const int fd = static_cast<int>(handle);
  if (fd <= 0 || static_cast<intptr_t>(fd) != handle) return;
  const std::uint64_t one = 1;
  struct stat info {};
  if (::fstat(fd, &info) != 0) return;
  if (S_ISSOCK(info.st_mode)) {
    [[maybe_unused]] const ssize_t n = ::send(fd, &one, sizeof one, MSG_DONTWAIT | MSG_NOSIGNAL);
    return;
  }
  // Only a descriptor with room now is written: a pipe that reports room has
  // a free buffer for our eight bytes, an eventfd one below its limit. The
  // host's own descriptor flags are left as they are.
  pollfd p{fd, POLLOUT, 0};
  if (::poll(&p, 1, 0) != 1 || (p.revents & POLLOUT) == 0) return;
  WriteWithoutSigpipe(fd, &one, sizeof one);
}

}  // namespace qmx
