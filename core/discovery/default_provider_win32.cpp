#include "core/discovery/port_discovery.h"
#include "core/platform/registry_provider.h"

namespace qmx {

// The registry has no stand-in root: $QMX71_SYSFS_ROOT means nothing here.
std::unique_ptr<DeviceListProvider> MakeDefaultDeviceListProvider(const EnvReader&) {
  return std::make_unique<RegistryDeviceListProvider>();
}

}  // namespace qmx
