// Port names to device paths, and whether a port may be opened. Apart from
// the serial backend, as on POSIX.
#include <windows.h>

#include <string>

#include "core/platform/serial_backend.h"

namespace qmx {

namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";

}  // namespace

// "COM12" needs the \\.\ form: only COM1 to COM9 are reserved names that open without it.
std::string DevicePathForPort(const std::string& portName) {
  if (!portName.empty() && portName.front() == '\\') return portName;
  return kDevicePrefix + portName;
}

// Win32 refuses a second open of a COM port with the same error as a missing
// right, so "denied" here also covers a port that another program holds.
bool PortAccessDenied(const std::string& portName) {
  const HANDLE h = ::CreateFileA(DevicePathForPort(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    ::CloseHandle(h);
    return false;
  }
  return ::GetLastError() == ERROR_ACCESS_DENIED;
}

bool PortExists(const std::string& portName) {
  // The DOS device name: the path without its \\.\ prefix.
  const std::string name = DevicePathForPort(portName).substr(4);
  if (name.empty()) return false;
  char target[512];
  if (::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0 || ::GetLastError() == ERROR_INSUFFICIENT_BUFFER)
    return true;
  // Some ports have no DOS device entry (wine's mapped ones, some virtual
  // drivers) yet open: ask the port itself. One held elsewhere exists too.
  const HANDLE h = ::CreateFileA(DevicePathForPort(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    ::CloseHandle(h);
    return true;
  }
  const DWORD error = ::GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

}  // namespace qmx
