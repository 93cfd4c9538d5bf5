// The few things the command-line tool asks of the operating system.
#pragma once

#include <string>

namespace qmx::cli {

// Makes the library (same process) use this port instead of discovering one.
void SetPortOverride(const std::string& port);
// Calls `handler` on Ctrl+C and on a termination request; it only sets a flag.
void CatchInterrupts(void (*handler)(int));
// True when standard error is an interactive terminal (progress is drawn there).
bool StderrIsTerminal();
// What to tell a user whose port exists but refuses to open.
const char* AccessDeniedAdvice();

}  // namespace qmx::cli
