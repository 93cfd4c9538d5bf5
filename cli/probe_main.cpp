// qmx71-probe: finds the programmer, connects, and shows what it is.
//   qmx71-probe [--port PATH]
// Without --port the port comes from discovery (QMX71_PORT overrides it).
// Exit status: 0 shown, 1 no programmer found or port not available,
// 2 bad usage, 3 the programmer did not answer.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/discovery/port_discovery.h"
#include "core/link/connection.h"
#include "core/protocol/encoding.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: qmx71-probe [--port PATH]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string port;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      port = argv[++i];
    } else {
      return Usage();
    }
  }
  if (port.empty()) {
    auto provider = qmx::MakeDefaultDeviceListProvider();
    qmx::PortDiscovery discovery(*provider);
    port = qmx::DiscoverProgrammerPort(discovery);
  }
  if (port.empty()) {
    std::fprintf(stderr, "qmx71-probe: no programmer found (plug it in, or set QMX71_PORT)\n");
    return 1;
  }

  qmx::Connection link;
  if (!link.OpenPort(port)) {
    std::fprintf(stderr, "qmx71-probe: cannot open %s (missing, not a tty, or held by another program)\n",
                 port.c_str());
    return 1;
  }
  const auto name = link.QueryName();
  if (!name) {
    std::fprintf(stderr, "qmx71-probe: no answer from the programmer on %s\n", port.c_str());
    return 3;
  }
  std::printf("port: %s\n", port.c_str());
  std::printf("model: %s\n", name->c_str());
  if (link.Query(qmx::GET_VERSION, qmx::RESP_VERSION)) {
    const qmx::Answer& a = link.Response();
    std::printf("firmware: %s\n", qmx::VersionText(a.data[0], a.data[1]).c_str());
  } else {
    std::printf("firmware: (no answer)\n");
  }
  if (link.Query(qmx::GET_VOLTAGE, qmx::RESP_VOLTAGE) && link.Response().data[0] != 0) {
    const int cv = qmx::SupplyCentivolts(link.Response().data[0]);
    std::printf("supply: %d.%02d V\n", cv / 100, cv % 100);
  } else {
    std::printf("supply: (no reading)\n");
  }
  link.Disconnect();
  return 0;
}
