// Discovery's three lists read from Linux sysfs. The root is configurable so
// tests (and whole programs under test) can point it at a fake tree.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/platform/usb_provider.h"

namespace qmx {

// Display names are "<USB product string> (<tty name>)"; port names are tty
// names such as "ttyACM0". Missing or unreadable nodes count as nothing found;
// nothing here throws.
class SysfsDeviceListProvider : public DeviceListProvider {
 public:
  explicit SysfsDeviceListProvider(std::string root = "/sys");

  // The present USB devices with the identifier's VID and PID: one name per
  // tty they provide (one when they provide none); "" when the product string
  // cannot be read.
  std::vector<std::string> InstanceNames(const std::string& identifier) override;
  // Every tty with a device behind it, as (name, name), in natural order.
  std::vector<std::pair<std::string, std::string>> SerialPortMap() override;
  // A name for the device behind each tty of the map, in the map's order.
  std::vector<std::string> PresentDeviceNames() override;

  const std::string& Root() const { return root_; }

 private:
  std::string root_;
};

// Orders digit runs by value, so ttyACM2 comes before ttyACM10.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace qmx
