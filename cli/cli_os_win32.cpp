#include <windows.h>

#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "cli/cli_os.h"
#include "core/platform/serial_backend.h"

namespace qmx::cli {

namespace {

void (*g_handler)(int) = nullptr;

// Runs on a thread of its own; TRUE keeps the process alive so the command
// can stop between steps and switch the supply off, as on POSIX.
BOOL WINAPI OnConsoleEvent(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  if (g_handler != nullptr) g_handler(static_cast<int>(type));
  return TRUE;
}

}  // namespace

// The process block, where the library (with a C runtime of its own) looks.
void SetLibraryVariable(const char* name, const std::string& value) {
  ::SetEnvironmentVariableA(name, value.c_str());
}

void CatchInterrupts(void (*handler)(int)) {
  g_handler = handler;
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StderrIsTerminal() { return ::_isatty(::_fileno(stderr)) != 0; }

// A port another program holds refuses a second open as if access were denied.
bool PortInUse(const std::string& port) { return qmx::PortAccessDenied(port); }

const char* AccessDeniedAdvice() { return "close the program that holds the port"; }

}  // namespace qmx::cli
