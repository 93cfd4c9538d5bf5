// Long-running use of the shared library against the instant simulator:
// mixed memory, control and raw calls on several parts, interleaved with
// connect/disconnect cycles (QmxClose/QmxOpen, and unplug/replug of the
// programmer). Every result is checked against a shadow copy of the part;
// open descriptors, threads and resident memory are sampled after a warm-up
// and every 1,000 steps, and their growth decides the exit status.
//
// Usage: qmx_soak [library-ops [cycles]]   (defaults 10000 and 1000)
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "library/qmx71a.h"
#include "sim/simulator.h"

namespace {

namespace sim = qmx::sim;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

struct Part {
  const char* name;
  int family;
  int variant;
  int device;
};

// One of each kind of bus, both organisations of a Microwire part and a Series90 part.
constexpr Part kParts[] = {
    {"24C64", 1, 0, 7}, {"25C640", 2, 0, 6}, {"93C46", 0, 0, 1}, {"93C46", 0, 0, 101}, {"9016", 0, 1, 204},
};
constexpr int kPartEvery = 200;   // library operations between part changes
constexpr int kReportEvery = 1000;
constexpr std::int32_t kVpp = 26100 / 79;  // the simulator's default supply reading
constexpr std::int32_t kFirmware = 256;    // version 1.00
constexpr long kRssLimitKib = 1024;
constexpr int kShownFailures = 20;
constexpr double kAnswerWindowMs = 50;  // the library's wait for an answer

struct Figures {
  long fds = 0, threads = 0, rssKib = 0;
};

long CountEntries(const char* dir) {
  DIR* d = ::opendir(dir);
  if (d == nullptr) return -1;
  long n = 0;
  while (const dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n;
}

Figures Sample() {
  Figures f;
  f.fds = CountEntries("/proc/self/fd");  // includes the one reading it, every time alike
  f.threads = CountEntries("/proc/self/task");
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> f.rssKib;
      break;
    }
    status.ignore(1 << 12, '\n');
  }
  return f;
}

class Soak {
 public:
  explicit Soak(sim::Options options) : sim_(options) {}
  ~Soak() {
    QmxClose();
    sim_.Stop();
  }

  bool Start() {
    link_ = (std::filesystem::temp_directory_path() / ("qmx-soak-" + std::to_string(::getpid()))).string();
    if (!sim_.Start() || !sim_.SetLinkPath(link_)) return false;
    sim_.SetModel("QMX-71C");  // takes every family
    ::setenv("QMX71_PORT", link_.c_str(), 1);
    return true;
  }

  // Library operation number `n` (the first of each kind per part comes in order).
  void Operation(long n) {
    StepBegins();
    if (n % kPartEvery == 0) ChangePart(static_cast<int>(n / kPartEvery) % std::size(kParts));
    const int kind = n % kPartEvery < 10 ? static_cast<int>(n % kPartEvery) : Pick(0, 9);
    switch (kind) {
      case 0: Read(); break;
      case 1: Compare(); break;
      case 2: BlankCheck(); break;
      case 3: Checksum(); break;
      case 4: Write(); break;
      case 5: Erase(); break;
      case 6: Check(QmxFrmVer() == kFirmware, "QmxFrmVer"); break;
      case 7: Check(QmxVpp() == kVpp, "QmxVpp"); break;
      case 8: Frequency(); break;
      default: Raw(); break;
    }
    StepEnds();
    ++ops_;
  }

  // Cycle number `n`: even ones close and reopen, odd ones pull the programmer out.
  void Cycle(long n) {
    StepBegins();
    // What was streamed must be carried out before the cable goes.
    Check(QmxFrmVer() == kFirmware, "sync before disconnect");
    if (n % 2 == 0) {
      QmxClose();
      Check(QmxFrmVer() == 0, "QmxFrmVer while closed");
    } else {
      sim_.Unplug();
      // Every other unplug is noticed by a failing call, the rest by the open itself.
      if (n % 4 == 1) Check(QmxFrmVer() == 0, "QmxFrmVer while unplugged");
      Check(sim_.Replug(), "Replug");
    }
    Check(QmxOpen(part_.family, part_.variant, 50, 0) == 1, "QmxOpen after disconnect");
    Check(QmxFrmVer() == kFirmware, "QmxFrmVer after reconnect");
    StepEnds();
    ++cycles_;
  }

  // The part as the simulator holds it, against what the calls should have left.
  void Verify() {
    StepBegins();
    Check(QmxFrmVer() == kFirmware, "sync before verify");
    Check(sim_.PartContents() == shadow_, "part contents");
    StepEnds();
  }

  long Failures() const { return failures_; }
  long SlowFailures() const { return slowFailures_; }
  long Ops() const { return ops_; }
  long Cycles() const { return cycles_; }

 private:
  void Check(bool ok, const char* what) {
    if (ok || !failedCheck_.empty()) return;
    failedCheck_ = what;
  }

  void StepBegins() {
    failedCheck_.clear();
    stepStart_ = Clock::now();
  }
  // One failure per step: what follows from it (a lost write, a family never
  // selected) is not counted again, as the known state is restored. A step
  // that outlasted the answer window most likely missed it on a loaded machine.
  void StepEnds() {
    if (failedCheck_.empty()) return;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - stepStart_).count();
    const bool slow = ms >= kAnswerWindowMs;
    if (failures_ < kShownFailures)
      std::printf("FAILED: %s (op %ld, cycle %ld, part %s device %d, step took %.0f ms)\n", failedCheck_.c_str(), ops_,
                  cycles_, part_.name, part_.device, ms);
    ++failures_;
    slowFailures_ += slow ? 1 : 0;
    Recover();
  }
  void Recover() {
    for (int attempt = 0; attempt < 5; ++attempt) {
      QmxClose();
      if (QmxOpen(part_.family, part_.variant, 50, 0) == 1 && QmxFrmVer() == kFirmware) {
        shadow_ = sim_.PartContents();
        return;
      }
    }
    std::printf("could not reconnect after a failure\n");
    ++failures_;
  }

  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(gen_); }

  void ChangePart(int index) {
    QmxClose();  // the part is swapped with its supply off
    part_ = kParts[index];
    Check(sim_.InsertPart(part_.name), "InsertPart");
    shadow_ = sim_.PartContents();
    // Start from data rather than blank, so reads have something to get wrong.
    Bytes data(shadow_.size());
    for (auto& b : data) b = static_cast<std::uint8_t>(gen_());
    Check(sim_.SetPartContents(data), "SetPartContents");
    shadow_ = data;
    Check(QmxOpen(part_.family, part_.variant, 50, 0) == 1, "QmxOpen of a new part");
  }

  // An even range of 2..256 bytes: word parts need even starts and write lengths.
  std::pair<std::int32_t, std::int32_t> Range() {
    const auto size = static_cast<std::int32_t>(shadow_.size());
    const std::int32_t length = 2 * Pick(1, std::min<std::int32_t>(128, size / 2));
    const std::int32_t start = 2 * Pick(0, (size - length) / 2);
    return {start, length};
  }
  std::int32_t ReadBlock() {
    static constexpr std::int32_t kBlocks[] = {0, 1, 3, 16, 64, 128, 256, 1000};
    return kBlocks[Pick(0, std::size(kBlocks) - 1)];
  }
  // Not above the 32-byte page of 24C64 and 25C640; Microwire ignores it.
  std::int32_t WriteBlock() {
    static constexpr std::int32_t kBlocks[] = {0, 8, 16, 32};
    return kBlocks[Pick(0, std::size(kBlocks) - 1)];
  }
  Bytes Slice(std::int32_t start, std::int32_t length) const {
    return Bytes(shadow_.begin() + start, shadow_.begin() + start + length);
  }

  void Read() {
    const auto [start, length] = Range();
    Bytes buf(static_cast<std::size_t>(length) + 1, 0xCC);
    Check(QmxRead(part_.device, start, buf.data(), length, ReadBlock()) == 1, "QmxRead");
    Check(std::equal(buf.begin(), buf.end() - 1, shadow_.begin() + start) && buf.back() == 0xCC, "QmxRead data");
  }
  void Compare() {
    const auto [start, length] = Range();
    Bytes expected = Slice(start, length);
    const bool differ = Pick(0, 3) == 0;
    if (differ) expected[static_cast<std::size_t>(Pick(0, length - 1))] ^= 0x10;
    Check(QmxCompare(part_.device, start, expected.data(), length, ReadBlock()) == (differ ? 0 : 1),
          differ ? "QmxCompare of different data" : "QmxCompare");
  }
  void BlankCheck() {
    const auto [start, length] = Range();
    const Bytes slice = Slice(start, length);
    const bool blank = std::all_of(slice.begin(), slice.end(), [](std::uint8_t b) { return b == 0xFF; });
    Check(QmxBlankChk(part_.device, start, nullptr, length, ReadBlock()) == (blank ? 1 : 0), "QmxBlankChk");
  }
  void Checksum() {
    const auto [start, length] = Range();
    const Bytes slice = Slice(start, length);
    const std::int32_t sum = std::accumulate(slice.begin(), slice.end(), 0);
    Check(QmxChecksum(part_.device, start, nullptr, length, ReadBlock()) == sum, "QmxChecksum");
  }
  void Write() {
    const auto [start, length] = Range();
    Bytes data(static_cast<std::size_t>(length));
    for (auto& b : data) b = static_cast<std::uint8_t>(gen_());
    Check(QmxWrite(part_.device, start, data.data(), length, WriteBlock()) == 1, "QmxWrite");
    std::copy(data.begin(), data.end(), shadow_.begin() + start);
  }
  void Erase() {
    const auto [start, length] = Range();
    Check(QmxErase(part_.device, start, nullptr, length, WriteBlock()) == 1, "QmxErase");
    std::fill(shadow_.begin() + start, shadow_.begin() + start + length, 0xFF);
  }
  void Frequency() {
    static constexpr std::int32_t kClocks[] = {10, 100000, 400000, 2000000};
    const std::int32_t hz = kClocks[Pick(0, std::size(kClocks) - 1)];
    Check(QmxSetFreq(hz) == 1, "QmxSetFreq");
    Check(QmxGetFreq() == hz, "QmxGetFreq");
  }

  // Raw transfers: an I2C random read, SPI reads and page writes; Microwire
  // only the plumbing (its commands are not byte-aligned).
  void Raw() {
    const auto [start, length] = Range();
    const auto hi = static_cast<std::uint8_t>(start >> 8), lo = static_cast<std::uint8_t>(start);
    Bytes buf(static_cast<std::size_t>(length), 0xCC);
    if (part_.family == 1) {
      const std::uint8_t address[3] = {0xA0, hi, lo};
      const std::uint8_t readAddress = 0xA1;
      Check(QmxDWrite(1, address, 3) == 1 && QmxDWrite(4, &readAddress, 1) == 1 &&
                QmxDRead(8 | 2, buf.data(), length) == 1,
            "raw I2C read");
      Check(buf == Slice(start, length), "raw I2C read data");
    } else if (part_.family == 2 && Pick(0, 1) == 0) {
      const std::uint8_t read[3] = {0x03, hi, lo};
      Check(QmxDWrite(1, read, 3) == 1 && QmxDRead(2, buf.data(), length) == 1, "raw SPI read");
      Check(buf == Slice(start, length), "raw SPI read data");
    } else if (part_.family == 2) {
      // Within one 32-byte page, or the part wraps round inside it.
      const std::int32_t n = std::min<std::int32_t>(length, 32 - start % 32);
      Bytes frame = {0x02, hi, lo};
      for (std::int32_t i = 0; i < n; ++i) frame.push_back(static_cast<std::uint8_t>(gen_()));
      const std::uint8_t wren = 0x06;
      Check(QmxDWrite(1 | 2, &wren, 1) == 1 && QmxDWrite(1 | 2, frame.data(), static_cast<std::int32_t>(frame.size())) == 1,
            "raw SPI write");
      std::copy(frame.begin() + 3, frame.end(), shadow_.begin() + start);
    } else {
      const std::uint8_t none = 0;
      Check(QmxDWrite(1 | 2, &none, 1) == 1 && QmxDRead(1 | 2, buf.data(), 2) == 1, "raw Microwire transfer");
    }
  }

  sim::PtySimulator sim_;
  std::string link_;
  std::mt19937 gen_{71};
  Part part_ = kParts[0];
  Bytes shadow_;
  std::string failedCheck_;
  Clock::time_point stepStart_;
  long ops_ = 0, cycles_ = 0, failures_ = 0, slowFailures_ = 0;
};

void Print(const char* label, long step, const Figures& f, const Soak& s, Clock::time_point t0) {
  std::printf("%-5s step %6ld  fds %3ld  threads %2ld  rss-kib %7ld  ops %6ld  cycles %5ld  failures %ld  %.1f s\n",
              label, step, f.fds, f.threads, f.rssKib, s.Ops(), s.Cycles(), s.Failures(),
              std::chrono::duration<double>(Clock::now() - t0).count());
  std::fflush(stdout);
}

long Count(int argc, char** argv, int i, long fallback) {
  return argc > i ? std::max(0L, std::atol(argv[i])) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const long ops = Count(argc, argv, 1, 10000);
  const long cycles = Count(argc, argv, 2, 1000);
  sim::Options options;
  options.keepLog = false;  // a kept log grows by design
  Soak soak(options);
  if (!soak.Start()) {
    std::printf("simulator did not start\n");
    return 2;
  }
  const auto t0 = Clock::now();

  // Warm-up: every kind of operation on every part and both kinds of cycle,
  // so that one-time allocations are behind the first sample.
  const long warmOps = static_cast<long>(std::size(kParts)) * kPartEvery;
  for (long n = 0; n < warmOps; ++n) {
    soak.Operation(n);
    if (n % 50 == 0) soak.Cycle(n / 50);
  }
  soak.Verify();
  const Figures start = Sample();
  Print("start", 0, start, soak, t0);

  // Cycles spread evenly among the operations.
  const long steps = ops + cycles;
  long doneOps = 0, doneCycles = 0;
  for (long step = 0; step < steps; ++step) {
    if (steps > 0 && (step + 1) * cycles / steps > step * cycles / steps) {
      soak.Cycle(doneCycles++);
    } else {
      soak.Operation(warmOps + doneOps++);
    }
    if ((step + 1) % kReportEvery == 0 || step + 1 == steps) {
      soak.Verify();
      Print("at", step + 1, Sample(), soak, t0);
    }
  }

  const Figures end = Sample();
  const Figures growth{end.fds - start.fds, end.threads - start.threads, end.rssKib - start.rssKib};
  std::printf("operations %ld, cycles %ld, failed steps %ld (%ld of them past the answer window), %.1f s\n",
              doneOps, doneCycles, soak.Failures(), soak.SlowFailures(),
              std::chrono::duration<double>(Clock::now() - t0).count());
  std::printf("soak growth: fds %ld threads %ld rss-kib %ld\n", growth.fds, growth.threads, growth.rssKib);
  const bool grew = growth.fds > 0 || growth.threads > 0 || growth.rssKib >= kRssLimitKib;
  return grew || soak.Failures() > 0 ? 1 : 0;
}
