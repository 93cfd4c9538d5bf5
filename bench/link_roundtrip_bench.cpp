// Round trip of one command and its answer through the host's link
// (SCommX, reader thread, decoder, response slot, WaitResponse) against a
// bare ping-pong of the same bytes over the same kind of pseudo-terminal.
// Both sides face the same minimal responder, so the ratio is the link's own
// cost. A third figure runs the full simulator for reference.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_responder.h"
#include "core/link/connection.h"
#include "sim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kCommand[] = {0x0F, 0x01, 0x04};           // GET_VERSION
constexpr std::uint8_t kAnswer[] = {0x0F, 0x80, 0x01, 0x00, 0x04};  // version 1.00


double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

template <typename F>
double TimeOne(F&& f) {
  const auto t0 = Clock::now();
  if (!f()) {
    std::fprintf(stderr, "round trip failed\n");
    std::exit(1);
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

bool BareRoundTrip(int fd) {
  if (::write(fd, kCommand, sizeof kCommand) != sizeof kCommand) return false;
  std::uint8_t buf[16];
  std::size_t got = 0;
  while (got < sizeof kAnswer) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) return false;
    const ssize_t n = ::read(fd, buf + got, sizeof buf - got);
    if (n > 0) got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(100, std::atoi(argv[1])) : 4000;
  // Both sides face the same minimal responder, which answers GET_VERSION at once.
  qmx::bench::Responder bareResponder(qmx::kFamilyMicrowire, 1);
  qmx::bench::Responder linkResponder(qmx::kFamilyMicrowire, 1);

  const int bare = ::open(bareResponder.Path().c_str(), O_RDWR | O_NOCTTY);
  qmx::bench::MakeRaw(bare);

  qmx::Connection link;
  if (bare < 0 || !link.OpenPort(linkResponder.Path())) {
    std::fprintf(stderr, "cannot open the pseudo-terminals\n");
    return 1;
  }

  // Interleave in small blocks so drifts of the machine hit both alike.
  std::vector<double> bareTimes, linkTimes;
  for (int i = 0; i < 50; ++i) {  // warm-up
    BareRoundTrip(bare);
    link.Query(qmx::GET_VERSION, qmx::RESP_VERSION);
  }
  for (int i = 0; i < rounds; i += 50) {
    for (int k = 0; k < 50; ++k) bareTimes.push_back(TimeOne([&] { return BareRoundTrip(bare); }));
    for (int k = 0; k < 50; ++k)
      linkTimes.push_back(TimeOne([&] { return link.Query(qmx::GET_VERSION, qmx::RESP_VERSION); }));
  }
  ::close(bare);
  link.Disconnect();

  // Reference: the same query against the full simulated programmer.
  std::vector<double> simTimes;
  {
    qmx::sim::Options o;
    o.keepLog = false;
    qmx::sim::PtySimulator sim(o);
    qmx::Connection c;
    if (sim.Start() && c.OpenPort(sim.PortPath())) {
      for (int i = 0; i < rounds / 4; ++i)
        simTimes.push_back(TimeOne([&] { return c.Query(qmx::GET_VERSION, qmx::RESP_VERSION); }));
    }
  }

  const double bareMedian = Median(bareTimes);
  const double linkMedian = Median(linkTimes);
  std::printf("rounds: %d\n", rounds);
  std::printf("bare pty round-trip median: %.1f us\n", bareMedian);
  std::printf("link round-trip median: %.1f us\n", linkMedian);
  if (!simTimes.empty()) std::printf("link + simulator round-trip median: %.1f us\n", Median(simTimes));
  std::printf("link round-trip ratio: %.2f\n", linkMedian / bareMedian);
  return 0;
}
