#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/cli_os.h"

namespace qmx::cli {

void SetLibraryVariable(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

void CatchInterrupts(void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

const char* AccessDeniedAdvice() { return "install the udev rule or join the dialout group"; }

}  // namespace qmx::cli
