// The few things the command-line tool asks of the operating system.
#pragma once

#include <string>

namespace qmx::cli {

// Sets a variable of this process where the library (same process) reads
// it: QMX71_PORT names the port instead of discovery, QMX71_PIPELINE=0 reads
// block by block.
void SetLibraryVariable(const char* name, const std::string& value);
// Calls `handler` on Ctrl+C and on a termination request; it only sets a flag.
void CatchInterrupts(void (*handler)(int));
// True when standard error is an interactive terminal (progress is drawn there).
bool StderrIsTerminal();
// True when another process holds the port (it opens for us, or not, only
// because we may bypass its exclusive mode).
bool PortInUse(const std::string& port);
// What to tell a user whose port exists but refuses to open.
const char* AccessDeniedAdvice();

}  // namespace qmx::cli
