#include "core/discovery/port_discovery.h"

#include <utility>

#include "core/platform/serial_backend.h"

namespace qmx {

namespace {

std::string SearchText(const std::string& port) { return "(" + port + ")"; }

std::string DeviceNameIn(const std::vector<std::string>& presentNames, const std::string& port) {
  const std::string searchText = SearchText(port);
  for (const std::string& name : presentNames) {
    if (name.find(searchText) != std::string::npos) return name;
  }
  // Never empty, so an empty known name cannot match a port without a device.
  return searchText;
}

}  // namespace

PortDiscovery::PortDiscovery(DeviceListProvider& provider, EnvReader getEnv)
    : provider_(provider), getEnv_(std::move(getEnv)) {}

void PortDiscovery::ClearKnownDeviceNames() { knownDeviceNames_.clear(); }

void PortDiscovery::AddKnownDeviceNames(const std::string& identifier) {
  for (std::string& name : provider_.InstanceNames(identifier)) {
    knownDeviceNames_.push_back(std::move(name));
  }
}

std::string PortDiscovery::FindProgrammerPort() {
  if (getEnv_) {
    const std::optional<std::string> override = getEnv_(kPortOverrideVariable);
    // Judged where the channel will open it (a bare name lives under /dev, or is a COM device).
    if (override && !override->empty()) return PortExists(*override) ? *override : std::string();
  }

  // The last matching port wins.
  const std::vector<std::string> ports = FindProgrammerPorts();
  return ports.empty() ? std::string() : ports.back();
}

std::vector<std::string> PortDiscovery::FindProgrammerPorts() {
  const auto portMap = provider_.SerialPortMap();
  if (portMap.empty()) return {};
  // One snapshot for the whole scan, so every port is judged against the same devices.
  const std::vector<std::string> presentNames = provider_.PresentDeviceNames();

  std::vector<std::string> result;
  for (const auto& entry : portMap) {
    const std::string& port = entry.second;
    const std::string deviceName = DeviceNameIn(presentNames, port);
    for (const std::string& known : knownDeviceNames_) {
      if (known == deviceName) {
        result.push_back(port);
        break;
      }
    }
  }
  return result;
}

std::string PortDiscovery::FindDeviceNameForPort(const std::string& port) {
  return DeviceNameIn(provider_.PresentDeviceNames(), port);
}

std::string DiscoverProgrammerPort(PortDiscovery& discovery) {
  discovery.ClearKnownDeviceNames();
  for (const char* identifier : kProgrammerIdentifiers) discovery.AddKnownDeviceNames(identifier);
  return discovery.FindProgrammerPort();
}

std::vector<std::string> DiscoverProgrammerPorts(PortDiscovery& discovery) {
  discovery.ClearKnownDeviceNames();
  for (const char* identifier : kProgrammerIdentifiers) discovery.AddKnownDeviceNames(identifier);
  return discovery.FindProgrammerPorts();
}

}  // namespace qmx
