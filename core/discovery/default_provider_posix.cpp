#include "core/discovery/port_discovery.h"

#include <cstdlib>
#include "core/platform/sysfs_provider.h"

namespace qmx {

std::optional<std::string> ReadProcessEnv(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::unique_ptr<DeviceListProvider> MakeDefaultDeviceListProvider(const EnvReader& getEnv) {
  std::optional<std::string> root;
  if (getEnv) root = getEnv(kSysfsRootVariable);
  if (!root || root->empty()) root = "/sys";
  return std::make_unique<SysfsDeviceListProvider>(*root);
}

}  // namespace qmx
