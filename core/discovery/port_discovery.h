// Finds the programmer's serial port by matching display names: the names its
// USB instances were given against the names of the devices behind the ports
// that exist now.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/platform/usb_provider.h"

namespace qmx {

// The programmer's two USB identities; instances of both are collected.
inline constexpr const char* kProgrammerIdentifiers[] = {"VID_7E51&PID_0A16",
                                                         "VID_7E51&PID_0A17"};

// A port path that bypasses discovery while the path exists.
inline constexpr const char* kPortOverrideVariable = "QMX71_PORT";
// Where the default provider looks for sysfs instead of /sys.
inline constexpr const char* kSysfsRootVariable = "QMX71_SYSFS_ROOT";

// Reads an environment variable; nullopt when it is not set.
using EnvReader = std::function<std::optional<std::string>(const char*)>;

// The process environment (::getenv).
std::optional<std::string> ReadProcessEnv(const char* name);

class PortDiscovery {
 public:
  explicit PortDiscovery(DeviceListProvider& provider, EnvReader getEnv = ReadProcessEnv);

  void ClearKnownDeviceNames();
  // Appends the display names of every instance of the identifier, empty ones too.
  void AddKnownDeviceNames(const std::string& identifier);
  // The port whose present device carries a known name (the last such port in
  // the serial-port map), or "" when the programmer is not attached.
  // A non-empty $QMX71_PORT is returned instead while that path exists.
  std::string FindProgrammerPort();
  // Every port whose present device carries a known name, in the map's order;
  // $QMX71_PORT plays no part.
  std::vector<std::string> FindProgrammerPorts();
  // The first present device name containing "(port)", else "(port)" itself.
  std::string FindDeviceNameForPort(const std::string& port);

  const std::vector<std::string>& KnownDeviceNames() const { return knownDeviceNames_; }

 private:
  DeviceListProvider& provider_;
  EnvReader getEnv_;
  std::vector<std::string> knownDeviceNames_;
};

// The per-open sequence: rebuild the known names from both identifiers, then find.
std::string DiscoverProgrammerPort(PortDiscovery& discovery);
// The same for every attached programmer.
std::vector<std::string> DiscoverProgrammerPorts(PortDiscovery& discovery);

// The platform's provider: sysfs at /sys, or at $QMX71_SYSFS_ROOT when that is
// set and non-empty; the registry and the present-device list on Win32.
std::unique_ptr<DeviceListProvider> MakeDefaultDeviceListProvider(
    const EnvReader& getEnv = ReadProcessEnv);

}  // namespace qmx
