// The three lists of strings that port discovery matches over. A provider
// reads them from the platform: sysfs on Linux, the registry on Win32.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qmx {

class DeviceListProvider {
 public:
  virtual ~DeviceListProvider() = default;

  // Display names of the programmer's USB instances for an identifier string
  // such as "VID_7E51&PID_0A16", in the order found. An instance whose name
  // cannot be read contributes an empty string.
  virtual std::vector<std::string> InstanceNames(const std::string& identifier) = 0;

  // The serial-port map as (entry name, port name) pairs, in a stable order.
  virtual std::vector<std::pair<std::string, std::string>> SerialPortMap() = 0;

  // Names of the present devices, in enumeration order.
  virtual std::vector<std::string> PresentDeviceNames() = 0;
};

}  // namespace qmx
