// Whole-part reads and writes of the largest part of each family against the
// simulator in datasheet timing, each beside its floor: what the modelled
// programmer needs for the same work with the host adding nothing, i.e.
// answers x answer latency + bus time + write cycles as the simulator
// accounted them. The ratio is what the host, the pty and the simulator's
// own keeping of time add on top.
//
// Usage: qmx_bench_real_timing [repeats [case-name part]]
// (repeats default 1, short cases at least 3; the run with the median ratio is shown)
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_bare_client.h"
#include "bench/bench_responder.h"
#include "core/catalogue/catalogue.h"
#include "core/link/connection.h"
#include "core/memory/memory_ops.h"
#include "core/protocol/commands.h"
#include "core/protocol/encoding.h"
#include "image/memory_image.h"
#include "library/qmx71a.h"
#include "sim/simulator.h"

extern char** environ;

namespace {

namespace sim = qmx::sim;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using qmx::bench::BareAsk;
using qmx::bench::ExactResponder;
using qmx::bench::OpenRaw;
using qmx::bench::TimePoint;
using qmx::bench::TripTimes;

struct Part {
  const char* name;
  int family;
  int row;      // program's part list
  int variant;  // library's QmxOpen
  int device;   // library's device number
};

constexpr Part k93C86{"93C86", qmx::kFamilyMicrowire, 6, 0, 6};
constexpr Part k9016{"9016", qmx::kFamilyMicrowire, 11, 1, 204};
constexpr Part k24C64{"24C64", qmx::kFamilyI2c, 7, 0, 7};
constexpr Part k25C640{"25C640", qmx::kFamilySpi, 6, 0, 6};

constexpr int kBusClockHz = 400000;
constexpr int kPage = 32;  // the real page of 24C64 and 25C640

// One timed piece of work and what the simulator modelled meanwhile.
struct Sample {
  bool ok = false;
  double ms = 0;
  sim::TimingAccount account;
  int overlapped = 0;  // checkpoint answers, which come while later pages are written
  double floorMs = 0;
  double Ratio() const { return floorMs > 0 ? ms / floorMs : 0; }
};

double Ms(std::chrono::nanoseconds d) { return std::chrono::duration<double, std::milli>(d).count(); }

sim::Options RealOptions() {
  sim::Options options;
  options.timing = sim::Timing::kReal;
  options.model = "QMX-71C";
  options.keepLog = false;
  return options;
}

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(gen());
  return b;
}

// The same data, allowing for 16-bit words stored the other way round.
bool SameData(const Bytes& a, const Bytes& b) {
  if (a == b) return true;
  if (a.size() != b.size() || a.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < a.size(); i += 2)
    if (a[i] != b[i + 1] || a[i + 1] != b[i]) return false;
  return true;
}

// A real-timing simulator with `part` in its socket, reachable under a fixed link.
struct Bench {
  explicit Bench(const Part& p) {
    link = (std::filesystem::temp_directory_path() / ("qmx-bench-" + std::to_string(::getpid()))).string();
    ok = sim.Start() && sim.InsertPart(p.name) && sim.SetLinkPath(link);
    size = static_cast<std::int32_t>(sim.PartContents().size());
    ok = ok && sim.SetPartContents(RandomBytes(static_cast<std::size_t>(size), 7));
    ::setenv("QMX71_PORT", link.c_str(), 1);
    sim.SetCommandObserver([this](const sim::LoggedCommand& c) { versions += c.code == qmx::GET_VERSION; });
  }
  ~Bench() { sim.Stop(); }

  // Nothing left for the firmware from the set-up, so the account and the
  // clock start together; then the work, timed, and the account right after.
  Sample Measure(const std::function<bool()>& work) {
    sim.WaitIdle(2s);
    std::this_thread::sleep_for(20ms);
    sim.ResetAccount();
    versions = 0;
    const auto t0 = Clock::now();
    Sample s;
    s.ok = work();
    s.ms = Ms(Clock::now() - t0);
    s.account = sim.Account();
    // A write pass's version queries are answered behind pages still to be
    // written: their latency is not on the pass's path.
    s.overlapped = versions;
    const auto latency = sim::AnswerLatency(RealOptions());
    s.floorMs = Ms((s.account.answers - s.overlapped) * latency + s.account.busTime + s.account.writeCycles);
    return s;
  }

  sim::PtySimulator sim{RealOptions()};
  std::atomic<int> versions{0};
  std::string link;
  std::int32_t size = 0;
  bool ok = false;
};

struct NullOperator : qmx::Operator {
  void LogLine(const std::string&) override {}
  bool AskOkCancel(const std::string&, const std::string&) override { return true; }
  void StartErrorIndication() override {}
};

qmx::ProgramSettings WindowSettings(const Part& p, int page) {
  qmx::ProgramSettings settings;
  settings.family = p.family;
  settings.row = p.row;
  settings.model = qmx::kModel71C;
  settings.clockIndex = 0;
  settings.pageSize = std::to_string(page);
  return settings;
}

int ProgramSide(qmx::Connection& link, qmx::MemoryImage& image, const Part& p, bool write, int page = kPage) {
  const qmx::BitReversal reverse;
  NullOperator op;
  return write ? qmx::ProgramWriteSide(link, image, reverse, WindowSettings(p, page), op, qmx::kWrite)
               : qmx::ProgramReadSide(link, image, reverse, WindowSettings(p, page), op, qmx::kRead);
}

// ProgramReadSide / ProgramWriteSide with the window's settings.
Sample ProgramPass(const Part& p, bool write, int page = kPage) {
  Bench b(p);
  qmx::Connection link;
  if (!b.ok || !link.OpenPort(b.sim.PortPath()) || !link.QueryName()) return {};
  qmx::MemoryImage image;
  image.SetSize(b.size);
  const Bytes data = RandomBytes(static_cast<std::size_t>(b.size), 11);
  if (write) std::copy(data.begin(), data.end(), image.Data());
  Sample s = b.Measure([&] { return ProgramSide(link, image, p, write, page) == 1; });
  const Bytes imageBytes(image.Data(), image.Data() + b.size);
  s.ok = s.ok && SameData(imageBytes, b.sim.PartContents());
  return s;
}

// A program read's own traffic from a bare client, so what is left over the
// floor is the pty's and the simulator's: recorded against a responder that
// answers at once, replayed one round trip at a time.
Sample BareReplay(const Part& p) {
  std::vector<qmx::bench::Exchange> exchanges;
  {
    const int bits = p.family == qmx::kFamilyMicrowire ? qmx::MicrowireAddressBits(p.row, false) : 1;
    qmx::bench::Responder responder(p.family, static_cast<std::uint8_t>(bits));
    qmx::Connection link;
    qmx::MemoryImage image;
    image.SetSize(qmx::PartSize(p.family, p.row));
    if (!link.OpenPort(responder.Path()) || !link.QueryName()) return {};
    responder.Take();
    if (ProgramSide(link, image, p, false) != 1) return {};
    exchanges = responder.Take();
  }
  Bench b(p);
  const int fd = OpenRaw(b.sim.PortPath());
  Sample s = b.Measure([&] { return fd >= 0 && qmx::bench::ReplayTrips(fd, exchanges); });
  ::close(fd);
  return s;
}

// QmxRead of the whole part, or QmxWrite confirmed by an answer after it.
Sample LibraryPass(const Part& p, bool write) {
  Bench b(p);
  if (!b.ok || QmxOpen(p.family, p.variant, 50, 0) != 1) return {};
  if (p.family != qmx::kFamilyMicrowire && QmxSetFreq(kBusClockHz) != 1) return {};
  Bytes data = RandomBytes(static_cast<std::size_t>(b.size), 13);
  const int readBlock = p.family == qmx::kFamilyI2c ? 128 : 256;
  const int writeBlock = p.family == qmx::kFamilyMicrowire ? 2 : kPage;
  Sample s = b.Measure([&] {
    if (!write) return QmxRead(p.device, 0, data.data(), b.size, readBlock) == 1;
    return QmxWrite(p.device, 0, data.data(), b.size, writeBlock) == 1 && QmxFrmVer() != 0;
  });
  QmxClose();
  s.ok = s.ok && SameData(data, b.sim.PartContents());
  return s;
}

int RunChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The command-line tool as a process: start, connect, erase, blank check,
// write, verify, close. `page`: the --page-size argument.
Sample CliProgram(const Part& p, const std::string& page) {
  Bench b(p);
  if (!b.ok) return {};
  const std::string file = b.link + ".bin";
  const Bytes data = RandomBytes(static_cast<std::size_t>(b.size), 17);
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), b.size);
  Sample s = b.Measure([&] {
    const bool done =
        RunChild({QMX71_EXE, "program", p.name, file, "--page-size", page, "--quiet"}) == 0;
    b.sim.WaitIdle(2s);  // the supply-off of the close, if it is still in the pty
    return done;
  });
  s.ok = s.ok && b.sim.PartContents() == data;
  std::filesystem::remove(file);
  return s;
}

struct Case {
  std::string name;
  std::function<Sample()> run;
};

Sample Median(std::vector<Sample> samples) {
  std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.Ratio() < b.Ratio(); });
  return samples[samples.size() / 2];
}

double OverFloorUs(const Sample& s) {
  const int answers = s.account.answers - s.overlapped;
  return answers > 0 ? (s.ms - s.floorMs) * 1000 / answers : 0;
}

void Print(const std::string& name, const Sample& s) {
  if (!s.ok)
    std::printf("%s: FAILED (the work was not done, or the part does not hold what it should)\n", name.c_str());
  std::printf(
      "%-27s measured %8.1f ms  floor %8.1f ms = answers %4d + bus %7.1f ms + write cycles %7.1f ms"
      "  | over floor %5.0f us/answer\n",
      name.c_str(), s.ms, s.floorMs, s.account.answers - s.overlapped, Ms(s.account.busTime), Ms(s.account.writeCycles),
      OverFloorUs(s));
  std::printf("%s ratio: %.2f\n", name.c_str(), s.Ratio());
  std::fflush(stdout);
}

// Short cases run at least three times: one busy moment of the machine
// weighs on a few hundred milliseconds more than on seconds.
void Report(const Case& c, int repeats) {
  constexpr double kShortMs = 1000;
  std::vector<Sample> samples{c.run()};
  while (static_cast<int>(samples.size()) < repeats || (samples.front().floorMs < kShortMs && samples.size() < 3))
    samples.push_back(c.run());
  Print(c.name, Median(samples));
}

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
  Bench b(k25C640);
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

}  // namespace

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  const std::vector<Case> cases = {
      {"program-read-93C86", [] { return ProgramPass(k93C86, false); }},
      {"program-read-93C86-replay", [] { return BareReplay(k93C86); }},
      {"program-read-9016", [] { return ProgramPass(k9016, false); }},
      {"program-read-9016-replay", [] { return BareReplay(k9016); }},
      {"program-read-24C64", [] { return ProgramPass(k24C64, false); }},
      {"program-read-24C64-replay", [] { return BareReplay(k24C64); }},
      {"program-read-25C640", [] { return ProgramPass(k25C640, false); }},
      {"program-read-25C640-replay", [] { return BareReplay(k25C640); }},
      {"library-read-93C86", [] { return LibraryPass(k93C86, false); }},
      {"library-read-9016", [] { return LibraryPass(k9016, false); }},
      {"library-read-24C64", [] { return LibraryPass(k24C64, false); }},
      {"library-read-25C640", [] { return LibraryPass(k25C640, false); }},
      {"program-write-93C86", [] { return ProgramPass(k93C86, true); }},
      {"program-write-9016", [] { return ProgramPass(k9016, true); }},
      {"program-write-24C64", [] { return ProgramPass(k24C64, true); }},
      {"program-write-25C640", [] { return ProgramPass(k25C640, true); }},
      {"library-write-93C86", [] { return LibraryPass(k93C86, true); }},
      {"library-write-9016", [] { return LibraryPass(k9016, true); }},
      {"library-write-24C64", [] { return LibraryPass(k24C64, true); }},
      {"library-write-25C640", [] { return LibraryPass(k25C640, true); }},
      // Writes a byte at a time, as the catalogue's page of 1 has them.
      {"program-write-24C64-page1", [] { return ProgramPass(k24C64, true, 1); }},
      {"program-write-25C640-page1", [] { return ProgramPass(k25C640, true, 1); }},
      {"cli-program-93C86", [] { return CliProgram(k93C86, "auto"); }},
      {"cli-program-24C64", [] { return CliProgram(k24C64, "auto"); }},
      {"cli-program-25C640", [] { return CliProgram(k25C640, "auto"); }},
      {"cli-program-24C64-page1", [] { return CliProgram(k24C64, "1"); }},
  };
  Sample warmUp;
  SimLegs(100, &warmUp);  // untimed: the first case should not pay for a cold machine
  const std::string only = argc > 2 ? argv[2] : "";
  for (const Case& c : cases) {
    if (c.name == "program-read-93C86" && std::string("sim-bare-version").find(only) != std::string::npos)
      ReportKeeping();
    if (c.name.find(only) != std::string::npos) Report(c, repeats);
  }
  return 0;
}
