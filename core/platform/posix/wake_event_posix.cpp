#include "core/platform/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace qmx {

WakeEvent::WakeEvent() : native_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
  if (native_ >= 0) ::close(Fd());
}

void WakeEvent::Set() {
  const std::uint64_t one = 1;
  // A full counter is still "set"; nothing to do on EAGAIN.
  [[maybe_unused]] auto n = ::write(Fd(), &one, sizeof one);
}

void WakeEvent::Reset() {
  std::uint64_t value = 0;
  [[maybe_unused]] auto n = ::read(Fd(), &value, sizeof value);
}

bool WakeEvent::Wait(int timeoutMs) const {
  pollfd p{Fd(), POLLIN, 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

}  // namespace qmx
