#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "cli/cli_os.h"
#include "core/platform/serial_backend.h"

namespace qmx::cli {

void SetLibraryVariable(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

void CatchInterrupts(void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

// A holder keeps the port exclusive (refused to others but root) and locked
// (refused to root too); our descriptor is closed at once and changes neither.
bool PortInUse(const std::string& port) {
  const int fd = ::open(qmx::DevicePathForPort(port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == EBUSY;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return locked;
}

const char* AccessDeniedAdvice() { return "install the udev rule or join the dialout group"; }

}  // namespace qmx::cli
