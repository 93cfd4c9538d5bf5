// QmxRead of whole parts through the shared library, default and largest
// block size, against a bare replay of the same traffic in the same run.
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_responder.h"
#include "library/qmx71a.h"

namespace {

using namespace qmx::bench;

struct Case {
  const char* name;
  int family;
  int device;
  int row;
  int block;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Run(const Case& c, int repeats) {
  const auto bits = static_cast<std::uint8_t>(c.family == qmx::kFamilyMicrowire ? qmx::MicrowireAddressBits(c.row, false) : 1);
  const std::int32_t size = qmx::PartSize(c.family, c.row);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(size));
  std::vector<double> host, floor;
  std::vector<Exchange> exchanges;
  for (int r = 0; r < repeats; ++r) {
    Responder responder(c.family, bits);
    ::setenv("QMX71_PORT", responder.Path().c_str(), 1);
    if (QmxOpen(c.family, 0, 50, 0) != 1) {
      std::printf("%s: QmxOpen failed\n", c.name);
      return;
    }
    responder.Take();
    const auto t0 = Clock::now();
    const int ok = QmxRead(c.device, 0, buffer.data(), size, c.block);
    host.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    exchanges = responder.Take();
    QmxClose();
    if (ok != 1) std::printf("%s: QmxRead failed\n", c.name);
    floor.push_back(Replay(exchanges, c.family, bits));
  }
  std::size_t trips = 0, wire = 0;
  for (const Exchange& e : exchanges) {
    trips += e.answer.empty() ? 0 : 1;
    wire += e.request.size() + e.answer.size();
  }
  const double h = Median(host), f = Median(floor);
  std::printf("%-26s round trips %5zu  wire bytes %7zu  host %9.0f us  floor %9.0f us\n", c.name, trips, wire, h, f);
  std::printf("%s ratio: %.2f\n", c.name, h / f);
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const Case cases[] = {
      {"QmxRead-24C64-default", qmx::kFamilyI2c, 7, 7, 0},
      {"QmxRead-24C64-largest", qmx::kFamilyI2c, 7, 7, 256},
      {"QmxRead-25C640-default", qmx::kFamilySpi, 6, 6, 0},
      {"QmxRead-25C640-largest", qmx::kFamilySpi, 6, 6, 256},
      {"QmxRead-93C86-default", qmx::kFamilyMicrowire, 6, 6, 0},
      {"QmxRead-93C86-largest", qmx::kFamilyMicrowire, 6, 6, 256},
  };
  std::printf("warm-up:\n");
  Run(cases[3], 2);
  std::printf("cases:\n");
  for (const Case& c : cases) Run(c, repeats);
  return 0;
}
