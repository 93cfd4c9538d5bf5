#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/cli_os.h"

namespace qmx::cli {

void SetPortOverride(const std::string& port) { ::setenv("QMX71_PORT", port.c_str(), 1); }

void CatchInterrupts(void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

const char* AccessDeniedAdvice() { return "install the udev rule or join the dialout group"; }

}  // namespace qmx::cli
