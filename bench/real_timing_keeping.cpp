// The simulator's own keeping of its model: bare round trips to it against
// the same to an exact responder, each split where the request was taken in.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

#include "bench/bench_bare_client.h"
#include "bench/bench_responder.h"
#include "bench/real_timing.h"

namespace qmx::bench {
namespace {

using Clock = std::chrono::steady_clock;

double MedianUs(const std::vector<TimePoint>& from, const std::vector<TimePoint>& to) {
  std::vector<double> d;
  for (std::size_t i = 0; i < std::min(from.size(), to.size()); ++i)
    d.push_back(std::chrono::duration<double, std::micro>(to[i] - from[i]).count());
  std::sort(d.begin(), d.end());
  return d.empty() ? 0 : d[d.size() / 2];
}

// Beyond the answer latency, per bare round trip: medians from the client's
// write to the request's being taken in and from there to the client's read,
// and the mean of the whole (which a busy machine's rare long stalls weigh on).
struct Legs {
  double in = 0, out = 0, meanTotal = 0;
};

Legs Split(const TripTimes& trips, const std::vector<TimePoint>& takenIn, double latencyUs) {
  double total = 0;
  for (std::size_t i = 0; i < trips.received.size(); ++i)
    total += std::chrono::duration<double, std::micro>(trips.received[i] - trips.sent[i]).count() - latencyUs;
  const double mean = trips.received.empty() ? 0 : total / static_cast<double>(trips.received.size());
  return {MedianUs(trips.sent, takenIn), MedianUs(takenIn, trips.received) - latencyUs, mean};
}

Legs ExactLegs(int count, double* lateUs) {
  const auto latency = sim::AnswerLatency(RealOptions());
  ExactResponder exact(latency);
  const int fd = OpenRaw(exact.Path());
  TripTimes trips;
  if (fd < 0 || !BareAsk(fd, {qmx::GET_VERSION}, count, &trips)) std::printf("exact responder: FAILED\n");
  ::close(fd);
  const double latencyUs = std::chrono::duration<double, std::micro>(latency).count();
  *lateUs = MedianUs(exact.Arrivals(), exact.Departures()) - latencyUs;
  return Split(trips, exact.Arrivals(), latencyUs);
}

Legs SimLegs(int count, Sample* sample) {
  Bench b("25C640");
  std::mutex mutex;
  std::vector<TimePoint> takenIn;
  b.sim.SetCommandObserver([&](const sim::LoggedCommand&) {
    std::lock_guard lock(mutex);
    takenIn.push_back(Clock::now());
  });
  const int fd = OpenRaw(b.sim.PortPath());
  TripTimes trips;
  *sample = b.Measure([&] { return fd >= 0 && BareAsk(fd, {qmx::GET_VERSION}, count, &trips); });
  ::close(fd);
  b.sim.SetCommandObserver({});
  std::lock_guard lock(mutex);
  return Split(trips, takenIn, std::chrono::duration<double, std::micro>(sim::AnswerLatency(RealOptions())).count());
}

}  // namespace

// The simulator's own keeping of its model: bare round trips to it against
// the same to an exact responder, each split where the request was taken in
// (the simulator's command observer, the responder's own note). What the
// simulator adds beyond the responder is its own; the rest is the pty's.
void ReportKeeping() {
  constexpr int kRoundTrips = 200;
  double lateUs = 0;
  const Legs ref = ExactLegs(kRoundTrips, &lateUs);
  Sample sample;
  const Legs own = SimLegs(kRoundTrips, &sample);
  Print("sim-bare-version", sample);
  std::printf(
      "  beyond the latency per round trip: exact responder in %.0f + out %.0f us median (late %.0f us),"
      " %.0f us mean; simulator in %.0f + out %.0f us median, %.0f us mean\n",
      ref.in, ref.out, lateUs, ref.meanTotal, own.in, own.out, own.meanTotal);
  const double latencyUs = std::chrono::duration<double, std::micro>(sim::AnswerLatency(RealOptions())).count();
  const double extraUs = own.in + own.out - ref.in - ref.out;
  std::printf("  simulator's own keeping: %.0f us per answer (median) = %.1f%% of the latency\n", extraUs,
              extraUs * 100 / latencyUs);
}

// Untimed: the first case should not pay for a cold machine.
void WarmUp() {
  Sample ignored;
  SimLegs(100, &ignored);
}

}  // namespace qmx::bench
