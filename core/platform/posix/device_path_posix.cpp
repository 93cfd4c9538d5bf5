// Port names to device paths, and whether this user may open them. Apart from the serial backend, so that a build
// with a backend of its own (the library's fuzz target) keeps this one.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/platform/serial_backend.h"

namespace qmx {

std::string DevicePathForPort(const std::string& portName) {
  if (!portName.empty() && portName.front() == '/') return portName;
  // Tests pair a fake sysfs tree with device nodes of their own (links to pseudo-terminals).
  const char* root = std::getenv("QMX71_DEV_ROOT");
  if (root != nullptr && *root != '\0') return std::string(root) + "/" + portName;
  return "/dev/" + portName;
}

bool PortAccessDenied(const std::string& portName) {
  return ::access(DevicePathForPort(portName).c_str(), R_OK | W_OK) != 0 && errno == EACCES;
}

// exists() follows links: a link to a vanished port counts as gone.
bool PortExists(const std::string& portName) {
  std::error_code ec;
  return std::filesystem::exists(DevicePathForPort(portName), ec);
}

}  // namespace qmx
