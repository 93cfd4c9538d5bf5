// qmx71 ports: every attached programmer with its model and firmware, each
// port opened briefly in turn. A port held by another process is listed as
// busy and left alone, so its session goes on undisturbed.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_os.h"
#include "cli/qmx71_steps.h"
#include "core/catalogue/catalogue.h"
#include "core/discovery/port_discovery.h"
#include "core/platform/serial_backend.h"
#include "library/qmx71a.h"

namespace qmx::tool {

namespace {

std::vector<std::string> PortsToList(const Options& o) {
  auto provider = qmx::MakeDefaultDeviceListProvider();
  qmx::PortDiscovery discovery(*provider);
  std::vector<std::string> ports = qmx::DiscoverProgrammerPorts(discovery);
  // A port named by --port or QMX71_PORT is listed too, as the other subcommands would use it.
  std::string named = o.port;
  if (named.empty()) named = qmx::ReadProcessEnv(qmx::kPortOverrideVariable).value_or("");
  if (!named.empty() && qmx::PortExists(named) && std::find(ports.begin(), ports.end(), named) == ports.end())
    ports.push_back(named);
  return ports;
}

std::string Describe(const Options& o, const std::string& port) {
  qmx::cli::SetLibraryVariable(qmx::kPortOverrideVariable, port);
  // Supply left off: only the programmer is asked, never a part.
  if (QmxOpen(qmx::kFamilyI2c, 0, o.writeTimeMs, 1) != 1) {
    QmxClose();
    if (qmx::cli::PortInUse(port)) return "busy (in use by another program)";
    if (qmx::PortAccessDenied(port)) return "permission denied";
    return "no answer";
  }
  const char* model = ModelName(QmxMode(qmx::kFamilyMicrowire, 0, o.writeTimeMs) == 1,
                                QmxMode(qmx::kFamilySpi, 0, o.writeTimeMs) == 1);
  const std::int32_t firmware = QmxFrmVer();
  QmxClose();
  return std::string(model) + "  firmware " + (firmware ? VersionText(firmware) : "no answer");
}

}  // namespace

const char* ModelName(bool microwire, bool spi) {
  return microwire && spi ? "QMX-71C" : microwire ? "QMX-71A" : spi ? "QMX-71B" : "unknown";
}

int CmdPorts(const Options& o) {
  const std::vector<std::string> ports = PortsToList(o);
  if (ports.empty()) throw Failure(kNoProgrammer, "no programmer found");
  for (const std::string& port : ports) {
    const std::string line = port + "  " + Describe(o, port);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  return kOk;
}

}  // namespace qmx::tool
