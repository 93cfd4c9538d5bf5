// Discovery's three lists read from the Win32 registry and the list of
// present devices.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/platform/usb_provider.h"

namespace qmx {

// All keys are read below HKEY_LOCAL_MACHINE. A key, value or device that
// cannot be read counts as nothing found; nothing here throws.
class RegistryDeviceListProvider : public DeviceListProvider {
 public:
  // "FriendlyName" of every instance key under Enum\USB\<identifier>, in key
  // order; "" for an instance without one.
  std::vector<std::string> InstanceNames(const std::string& identifier) override;
  // HARDWARE\DEVICEMAP\SERIALCOMM as (value name, port name), in value order.
  std::vector<std::pair<std::string, std::string>> SerialPortMap() override;
  // The friendly name, else the description, of every present device that has either.
  std::vector<std::string> PresentDeviceNames() override;
};

}  // namespace qmx
