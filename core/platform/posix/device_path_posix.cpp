// Port names to device paths. Apart from the serial backend, so that a build
// with a backend of its own (the library's fuzz target) keeps this one.
#include <string>

#include "core/platform/serial_backend.h"

namespace qmx {

std::string DevicePathForPort(const std::string& portName) {
  if (!portName.empty() && portName.front() == '/') return portName;
  return "/dev/" + portName;
}

}  // namespace qmx
