// What the real-timing benchmark's cases share: a simulator in datasheet
// timing with a part in its socket, and a timed piece of work beside its
// floor, what the modelled programmer needs for the same work with the host
// adding nothing.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/protocol/commands.h"
#include "sim/simulator.h"

namespace qmx::bench {

using Bytes = std::vector<std::uint8_t>;

inline double Ms(std::chrono::nanoseconds d) { return std::chrono::duration<double, std::milli>(d).count(); }

// One timed piece of work and what the simulator modelled meanwhile.
struct Sample {
  bool ok = false;
  double ms = 0;
  sim::TimingAccount account;
  int overlapped = 0;  // checkpoint answers, which come while later pages are written
  int reads = 0;       // READ_DATA answers, of which `depth` share one round trip
  int depth = 1;
  double floorMs = 0;
  double Ratio() const { return floorMs > 0 ? ms / floorMs : 0; }
  // A read pass's own bound when the programmer carries out commands in
  // order and answers after a latency: it is busy for the whole bus time, and
  // each group of `depth` blocks waits a round trip plus its own bus time.
  double StreamBoundMs(double latencyMs) const {
    if (reads == 0) return 0;
    const double groups = std::ceil(static_cast<double>(reads) / depth);
    const double busMs = Ms(account.busTime);
    const double alone = account.answers - overlapped - reads;
    return alone * latencyMs + std::max(busMs + latencyMs, groups * (latencyMs + busMs / reads));
  }
  // Answers whose round trip is on the work's path.
  double PathAnswers() const {
    const int alone = account.answers - overlapped - reads;
    return alone + std::ceil(static_cast<double>(reads) / depth);
  }
};

inline sim::Options RealOptions() {
  sim::Options options;
  options.timing = sim::Timing::kReal;
  options.model = "QMX-71C";
  options.keepLog = false;
  return options;
}

inline Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(gen());
  return b;
}

// A real-timing simulator with `part` in its socket, reachable under a fixed link.
struct Bench {
  explicit Bench(const char* part) {
    using namespace std::chrono_literals;
    link = (std::filesystem::temp_directory_path() / ("qmx-bench-" + std::to_string(::getpid()))).string();
    ok = sim.Start() && sim.InsertPart(part) && sim.SetLinkPath(link);
    size = static_cast<std::int32_t>(sim.PartContents().size());
    ok = ok && sim.SetPartContents(RandomBytes(static_cast<std::size_t>(size), 7));
    ::setenv("QMX71_PORT", link.c_str(), 1);
    sim.SetCommandObserver([this](const sim::LoggedCommand& c) {
      versions += c.code == GET_VERSION;
      reads += c.code == READ_DATA;
    });
  }
  ~Bench() { sim.Stop(); }

  // Nothing left for the firmware from the set-up, so the account and the
  // clock start together; then the work, timed, and the account right after.
  // The floor: every answer's round trip, except that reads sent `depth`
  // ahead share one, plus bus time and write cycles.
  Sample Measure(const std::function<bool()>& work, int depth = 1) {
    using namespace std::chrono_literals;
    sim.WaitIdle(2s);
    std::this_thread::sleep_for(20ms);
    sim.ResetAccount();
    versions = 0;
    reads = 0;
    const auto t0 = std::chrono::steady_clock::now();
    Sample s;
    s.ok = work();
    s.ms = Ms(std::chrono::steady_clock::now() - t0);
    s.account = sim.Account();
    // A write pass's version queries are answered behind pages still to be
    // written: their latency is not on the pass's path.
    s.overlapped = versions;
    s.reads = reads;
    s.depth = depth;
    const double latencyMs = Ms(sim::AnswerLatency(RealOptions()));
    s.floorMs = s.PathAnswers() * latencyMs + Ms(s.account.busTime + s.account.writeCycles);
    return s;
  }

  sim::PtySimulator sim{RealOptions()};
  std::atomic<int> versions{0}, reads{0};
  std::string link;
  std::int32_t size = 0;
  bool ok = false;
};

// "<name> ratio: R", with the goal beside it when the case has one (> 0).
void Print(const std::string& name, const Sample& s, double goal = 0);

// What the simulator itself adds per round trip, against an exact responder.
void ReportKeeping();
void WarmUp();

}  // namespace qmx::bench
