// Whole-part reads, writes and Program sequences of the largest part of each
// family against the simulator in datasheet timing, each beside its floor:
// what the modelled programmer needs for the same work with the host adding
// nothing, i.e. one round trip per answer (reads sent `depth` blocks ahead
// share one per `depth`) + bus time + write cycles as the simulator accounted
// them. The ratio is what the host, the pty and the simulator's own keeping
// of time add on top; the goals are 1.15 for reads, 1.10 for the rest.
//
// Usage: qmx_bench_real_timing [repeats [case-name part]]
// (repeats default 1, short cases at least 3; the run with the median ratio is shown)
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "bench/bench_bare_client.h"
#include "bench/bench_responder.h"
#include "bench/real_timing.h"
#include "core/catalogue/catalogue.h"
#include "core/link/connection.h"
#include "core/memory/memory_ops.h"
#include "core/memory/part_target.h"
#include "core/protocol/commands.h"
#include "image/memory_image.h"
#include "library/qmx71a.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using qmx::bench::Bench;
using qmx::bench::Bytes;
using qmx::bench::OpenRaw;
using qmx::bench::RandomBytes;
using qmx::bench::Sample;

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
constexpr int kDepth = qmx::kReadDepth;

// Reads keep `depth` blocks in flight, here and in the tool started from here.
void UseDepth(int depth) { ::setenv("QMX71_PIPELINE", std::to_string(depth).c_str(), 1); }

// The same data, allowing for 16-bit words stored the other way round.
bool SameData(const Bytes& a, const Bytes& b) {
  if (a == b) return true;
  if (a.size() != b.size() || a.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < a.size(); i += 2)
    if (a[i] != b[i + 1] || a[i + 1] != b[i]) return false;
  return true;
}

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

// The window's Program with erasing: erase, blank check, write, compare.
bool WindowProgram(qmx::Connection& link, qmx::MemoryImage& image, const Part& p) {
  const qmx::BitReversal reverse;
  NullOperator op;
  const qmx::ProgramSettings settings = WindowSettings(p, kPage);
  return qmx::ProgramWriteSide(link, image, reverse, settings, op, qmx::kErase) &&
         qmx::ProgramReadSide(link, image, reverse, settings, op, qmx::kBlankCheck) &&
         qmx::ProgramWriteSide(link, image, reverse, settings, op, qmx::kWrite) &&
         qmx::ProgramReadSide(link, image, reverse, settings, op, qmx::kCompare);
}

enum class Work { kRead, kWrite, kProgram };

// The window's procedures: a whole-part read or write, or the Program sequence.
Sample ProgramPass(const Part& p, Work work, int depth = kDepth, int page = kPage) {
  UseDepth(depth);
  Bench b(p.name);
  qmx::Connection link;
  if (!b.ok || !link.OpenPort(b.sim.PortPath()) || !link.QueryName()) return {};
  qmx::MemoryImage image;
  image.SetSize(b.size);
  const Bytes data = RandomBytes(static_cast<std::size_t>(b.size), 11);
  if (work != Work::kRead) std::copy(data.begin(), data.end(), image.Data());
  Sample s = b.Measure(
      [&] {
        if (work == Work::kProgram) return WindowProgram(link, image, p);
        return ProgramSide(link, image, p, work == Work::kWrite, page) == 1;
      },
      depth);
  const Bytes imageBytes(image.Data(), image.Data() + b.size);
  s.ok = s.ok && SameData(imageBytes, b.sim.PartContents());
  return s;
}

// A program read's own traffic from a bare client, so what is left over the
// floor is the pty's and the simulator's: recorded block by block against a
// responder that answers at once, replayed one round trip at a time.
Sample BareReplay(const Part& p) {
  std::vector<qmx::bench::Exchange> exchanges;
  UseDepth(1);
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
  Bench b(p.name);
  const int fd = OpenRaw(b.sim.PortPath());
  Sample s = b.Measure([&] { return fd >= 0 && qmx::bench::ReplayTrips(fd, exchanges); });
  ::close(fd);
  return s;
}

// QmxRead of the whole part; QmxWrite confirmed by an answer after it; or
// QmxErase, QmxBlankChk, QmxWrite and QmxCompare, as a host program does.
Sample LibraryPass(const Part& p, Work work, int depth = kDepth) {
  UseDepth(depth);
  Bench b(p.name);
  if (!b.ok || QmxOpen(p.family, p.variant, 50, 0) != 1) return {};
  if (p.family != qmx::kFamilyMicrowire && QmxSetFreq(kBusClockHz) != 1) return {};
  Bytes data = RandomBytes(static_cast<std::size_t>(b.size), 13);
  const int readBlock = p.family == qmx::kFamilyI2c ? 128 : 256;
  const int writeBlock = p.family == qmx::kFamilyMicrowire ? 2 : kPage;
  const int d = p.device;
  Sample s = b.Measure(
      [&] {
        switch (work) {
          case Work::kRead: return QmxRead(d, 0, data.data(), b.size, readBlock) == 1;
          case Work::kWrite: return QmxWrite(d, 0, data.data(), b.size, writeBlock) == 1 && QmxFrmVer() != 0;
          case Work::kProgram: break;
        }
        return QmxErase(d, 0, nullptr, b.size, writeBlock) == 1 && QmxBlankChk(d, 0, nullptr, b.size, readBlock) == 1 &&
               QmxWrite(d, 0, data.data(), b.size, writeBlock) == 1 && QmxCompare(d, 0, data.data(), b.size, readBlock) == 1;
      },
      depth);
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

// The command-line tool as a process, start to exit: `program` (connect,
// erase, blank check, write, verify, close), `write` or `read` of the whole
// part. `page`: the --page-size argument of program and write.
Sample CliRun(const Part& p, const std::string& command, const std::string& page = "auto", int depth = kDepth) {
  UseDepth(depth);
  Bench b(p.name);
  if (!b.ok) return {};
  const std::string file = b.link + ".bin";
  const bool reading = command == "read";
  const Bytes data = reading ? b.sim.PartContents() : RandomBytes(static_cast<std::size_t>(b.size), 17);
  if (!reading) std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), b.size);
  std::vector<std::string> args{QMX71_EXE, command, p.name};
  if (reading)
    args.insert(args.end(), {"-o", file});
  else
    args.insert(args.end(), {file, "--page-size", page});
  args.push_back("--quiet");
  Sample s = b.Measure(
      [&] {
        const bool done = RunChild(args) == 0;
        b.sim.WaitIdle(2s);  // the supply-off of the close, if it is still in the pty
        return done;
      },
      depth);
  std::ifstream in(file, std::ios::binary);
  const Bytes got{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  s.ok = s.ok && b.sim.PartContents() == data && got == data;
  std::filesystem::remove(file);
  return s;
}

constexpr double kReadGoal = 1.15;
constexpr double kWriteGoal = 1.10;

struct Case {
  std::string name;
  double goal;  // 0: a reference, no goal
  std::function<Sample()> run;
};

Sample Median(std::vector<Sample> samples) {
  std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.Ratio() < b.Ratio(); });
  return samples[samples.size() / 2];
}

// Short cases run at least three times: one busy moment of the machine
// weighs on a few hundred milliseconds more than on seconds.
void Report(const Case& c, int repeats) {
  constexpr double kShortMs = 1000;
  std::vector<Sample> samples{c.run()};
  while (static_cast<int>(samples.size()) < repeats || (samples.front().floorMs < kShortMs && samples.size() < 3))
    samples.push_back(c.run());
  qmx::bench::Print(c.name, Median(samples), c.goal);
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const auto add = [&cases](std::string name, double goal, std::function<Sample()> run) {
    cases.push_back({std::move(name), goal, std::move(run)});
  };
  for (const Part& p : {k93C86, k9016, k24C64, k25C640}) {
    const std::string n = p.name;
    add("program-read-" + n, kReadGoal, [p] { return ProgramPass(p, Work::kRead); });
    add("program-read-" + n + "-replay", 0, [p] { return BareReplay(p); });
    for (int depth = 1; depth <= 4; ++depth)
      if (depth != kDepth)
          add("program-read-" + n + "-depth" + std::to_string(depth), kReadGoal,
            [p, depth] { return ProgramPass(p, Work::kRead, depth); });
  }
  for (const Part& p : {k93C86, k9016, k24C64, k25C640}) {
    add(std::string("library-read-") + p.name, kReadGoal, [p] { return LibraryPass(p, Work::kRead); });
    add(std::string("library-read-") + p.name + "-depth1", kReadGoal, [p] { return LibraryPass(p, Work::kRead, 1); });
  }
  for (const Part& p : {k93C86, k9016, k24C64, k25C640}) {
    add(std::string("program-write-") + p.name, kWriteGoal, [p] { return ProgramPass(p, Work::kWrite); });
    add(std::string("library-write-") + p.name, kWriteGoal, [p] { return LibraryPass(p, Work::kWrite); });
  }
  // Writes a byte at a time, as the catalogue's page of 1 has them.
  add("program-write-24C64-page1", kWriteGoal, [] { return ProgramPass(k24C64, Work::kWrite, kDepth, 1); });
  add("program-write-25C640-page1", kWriteGoal, [] { return ProgramPass(k25C640, Work::kWrite, kDepth, 1); });
  for (const Part& p : {k93C86, k24C64, k25C640}) {
    add(std::string("window-program-") + p.name, kWriteGoal, [p] { return ProgramPass(p, Work::kProgram); });
    add(std::string("library-program-") + p.name, kWriteGoal, [p] { return LibraryPass(p, Work::kProgram); });
    add(std::string("cli-read-") + p.name, kReadGoal, [p] { return CliRun(p, "read"); });
    add(std::string("cli-read-") + p.name + "-depth1", kReadGoal, [p] { return CliRun(p, "read", "auto", 1); });
    add(std::string("cli-write-") + p.name, kWriteGoal, [p] { return CliRun(p, "write"); });
    add(std::string("cli-program-") + p.name, kWriteGoal, [p] { return CliRun(p, "program"); });
  }
  add("cli-program-24C64-depth1", kWriteGoal, [] { return CliRun(k24C64, "program", "auto", 1); });
  add("cli-program-24C64-page1", kWriteGoal, [] { return CliRun(k24C64, "program", "1"); });
  return cases;
}

}  // namespace

namespace qmx::bench {

void Print(const std::string& name, const Sample& s, double goal) {
  if (!s.ok)
    std::printf("%s: FAILED (the work was not done, or the part does not hold what it should)\n", name.c_str());
  const double answers = s.PathAnswers();
  std::printf(
      "%-30s measured %8.1f ms  floor %8.1f ms = round trips %6.1f + bus %7.1f ms + write cycles %7.1f ms"
      "  | over floor %5.0f us/round trip\n",
      name.c_str(), s.ms, s.floorMs, answers, Ms(s.account.busTime), Ms(s.account.writeCycles),
      answers > 0 ? (s.ms - s.floorMs) * 1000 / answers : 0);
  // Of a read pass alone (no write cycles), the bound a streaming programmer sets too.
  if (s.reads > 0 && s.account.writeCycles.count() == 0) {
    const double bound = s.StreamBoundMs(Ms(sim::AnswerLatency(RealOptions())));
    std::printf("  in-order stream bound %8.1f ms: measured / bound %.2f\n", bound, s.ms / bound);
  }
  std::printf("%s ratio: %.2f", name.c_str(), s.Ratio());
  if (goal > 0) std::printf("  (goal %.2f: %s)", goal, s.ok && s.Ratio() <= goal ? "met" : "MISSED");
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace qmx::bench

int main(int argc, char** argv) {
  const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  const std::string only = argc > 2 ? argv[2] : "";
  qmx::bench::WarmUp();
  if (std::string("sim-bare-version").find(only) != std::string::npos) qmx::bench::ReportKeeping();
  for (const Case& c : Cases())
    if (c.name.find(only) != std::string::npos) Report(c, repeats);
  return 0;
}
