// Full read and full write of the largest part of each family through both
// front ends, against the pseudo-terminal floor of the same traffic.
//
// The host faces a minimal responder that answers every awaited command at
// once and records what arrived between answers. The floor replays exactly
// those bytes over a bare pseudo-terminal to the same responder, one write per
// round trip, so the ratio is what the host's procedures and link add.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/catalogue/catalogue.h"
#include "bench/bench_responder.h"
#include "core/link/connection.h"
#include "core/link/frame_decoder.h"
#include "core/memory/memory_ops.h"
#include "core/protocol/encoding.h"
#include "image/memory_image.h"

namespace {

using namespace qmx::bench;

struct NullOperator : qmx::Operator {
  void LogLine(const std::string&) override {}
  bool AskOkCancel(const std::string&, const std::string&) override { return true; }
  void StartErrorIndication() override {}
};

struct Case {
  std::string name;
  int family;
  int row;
  int device;
  bool library;
  bool write;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Run(const Case& c, int repeats) {
  const std::uint8_t bits = static_cast<std::uint8_t>(
      c.family == qmx::kFamilyMicrowire ? qmx::MicrowireAddressBits(c.row, false) : 1);
  const std::int32_t size = qmx::PartSize(c.family, c.row);
  qmx::MemoryImage image;
  image.SetSize(size);
  qmx::BitReversal reverse;
  NullOperator op;
  qmx::ProgramSettings settings;
  settings.family = c.family;
  settings.row = c.row;
  settings.model = qmx::kModel71C;
  settings.pageSize = c.family == qmx::kFamilyMicrowire ? "1" : "32";
  Bytes buffer(static_cast<std::size_t>(size), 0x5A);

  std::vector<double> hostTimes, floorTimes;
  std::vector<Exchange> exchanges;
  for (int r = 0; r < repeats; ++r) {
    Responder responder(c.family, bits);
    qmx::Connection link;
    if (!link.OpenPort(responder.Path()) || !link.QueryName()) {
      std::printf("%s: cannot connect\n", c.name.c_str());
      return;
    }
    responder.Take();  // the connect is not part of the case
    const auto t0 = Clock::now();
    int ok = 0;
    if (c.library) {
      ok = c.write ? qmx::LibraryWriteSide(link, reverse, c.family, qmx::kWrite, c.device, 0, buffer.data(), size,
                                           c.family == qmx::kFamilyMicrowire ? 0 : 32)
                   : (qmx::LibraryReadSide(link, reverse, c.family, qmx::kRead, c.device, 0, buffer.data(), size,
                                           256) != 0);
      link.Query(qmx::GET_VERSION, qmx::RESP_VERSION);  // the streamed writes have arrived
    } else {
      ok = c.write ? qmx::ProgramWriteSide(link, image, reverse, settings, op, qmx::kWrite)
                   : qmx::ProgramReadSide(link, image, reverse, settings, op, qmx::kRead);
    }
    hostTimes.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    if (!ok) std::printf("%s: pass failed\n", c.name.c_str());
    exchanges = responder.Take();
    floorTimes.push_back(Replay(exchanges, c.family, bits));
  }
  std::size_t sent = 0, received = 0, frames = 0, trips = 0;
  for (const Exchange& e : exchanges) {
    sent += e.request.size();
    received += e.answer.size();
    frames += static_cast<std::size_t>(std::count(e.request.begin(), e.request.end(), qmx::kFrameEnd));
    trips += e.answer.empty() ? 0 : 1;
  }
  const double host = Median(hostTimes), floor = Median(floorTimes);
  std::printf("%-28s frames %6zu  wire bytes %7zu  round trips %4zu  host %9.0f us  floor %9.0f us\n",
              c.name.c_str(), frames, sent + received, trips, host, floor);
  std::printf("%s ratio: %.2f\n", c.name.c_str(), host / floor);
}

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const std::vector<Case> cases = {
      {"program-read-93C86", qmx::kFamilyMicrowire, 6, 0, false, false},
      {"program-read-9016", qmx::kFamilyMicrowire, 11, 0, false, false},
      {"program-read-24C64", qmx::kFamilyI2c, 7, 0, false, false},
      {"program-read-25C640", qmx::kFamilySpi, 6, 0, false, false},
      {"library-read-93C86", qmx::kFamilyMicrowire, 6, 6, true, false},
      {"library-read-9016", qmx::kFamilyMicrowire, 11, 204, true, false},
      {"library-read-24C64", qmx::kFamilyI2c, 7, 7, true, false},
      {"library-read-25C640", qmx::kFamilySpi, 6, 6, true, false},
      {"program-write-93C86", qmx::kFamilyMicrowire, 6, 0, false, true},
      {"program-write-9016", qmx::kFamilyMicrowire, 11, 0, false, true},
      {"program-write-24C64", qmx::kFamilyI2c, 7, 0, false, true},
      {"program-write-25C640", qmx::kFamilySpi, 6, 0, false, true},
      {"library-write-93C86", qmx::kFamilyMicrowire, 6, 6, true, true},
      {"library-write-9016", qmx::kFamilyMicrowire, 11, 204, true, true},
      {"library-write-24C64", qmx::kFamilyI2c, 7, 7, true, true},
      {"library-write-25C640", qmx::kFamilySpi, 6, 6, true, true},
  };
  // One untimed pass first, so the first case does not pay for a cold machine.
  std::printf("warm-up:\n");
  Run(cases.front(), 3);
  std::printf("cases:\n");
  for (const Case& c : cases) Run(c, repeats);
  return 0;
}
