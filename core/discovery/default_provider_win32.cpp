#include <windows.h>

#include "core/discovery/port_discovery.h"
#include "core/platform/registry_provider.h"

namespace qmx {

// The process's own block, not the C runtime's copy: the library carries a
// runtime of its own, whose copy is taken at load and misses what the host
// sets afterwards.
std::optional<std::string> ReadProcessEnv(const char* name) {
  char small[512];
  DWORD n = ::GetEnvironmentVariableA(name, small, sizeof small);
  if (n == 0) return std::nullopt;
  if (n < sizeof small) return std::string(small, n);
  std::string value(n, '\0');
  n = ::GetEnvironmentVariableA(name, value.data(), n);
  if (n == 0 || n >= value.size()) return std::nullopt;  // changed meanwhile
  value.resize(n);
  return value;
}

// The registry has no stand-in root: $QMX71_SYSFS_ROOT means nothing here.
std::unique_ptr<DeviceListProvider> MakeDefaultDeviceListProvider(const EnvReader&) {
  return std::make_unique<RegistryDeviceListProvider>();
}

}  // namespace qmx
